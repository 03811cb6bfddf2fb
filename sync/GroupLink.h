#pragma once

#include "GroupWire.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// Why a link ended.
enum class TLinkEnd {
    Refused,  // nothing listens there (the connection was refused)
    NoAnswer, // no connection, or no word from the peer, within the time-out
    Garbage,  // the peer sent something that is not a record of ours
    Closed,   // the peer closed the connection
    Backlog,  // the peer stopped taking what we send
};

// One control link between two copies: a TCP socket, the record reader, a ping every
// PingMs, and the end of the link when the peer is silent for SilenceMs (a network that
// dropped), sends garbage or stops reading. Runs on the owner's thread; Ended goes out once,
// from the event loop, after which the link sends and delivers nothing more.
class TGroupLink : public QObject {
    Q_OBJECT
public:
    struct TTimes {
        int ConnectMs = 3000;
        int PingMs = 1000;
        int SilenceMs = 3000;
    };
    // Unsent output past which a peer that takes nothing more is dropped.
    static constexpr qint64 MaxBacklog = 64 * 1024 * 1024;

    // An accepted connection (the link takes the socket), or none for ConnectTo().
    explicit TGroupLink(QTcpSocket *Socket, const TTimes &Times, QObject *Parent = nullptr);
    ~TGroupLink() override;

    void ConnectTo(const QString &Host, quint16 Port);
    void Send(const TGroupRecord &Record);
    // A record encoded once for many links: they share its bytes.
    void SendEncoded(const QByteArray &Bytes);
    // Output queued and not yet taken by the peer.
    qint64 Backlog() const;
    // Ends the link as one whose peer stopped taking what is sent.
    void Drop() { End(TLinkEnd::Backlog); }
    // Sends what is queued, then closes; Ended does not follow.
    void Close();
    QHostAddress PeerAddress() const;
    bool IsOpen() const { return FOpen; }

Q_SIGNALS:
    void Connected();
    void Received(const TGroupRecord &Record);
    void Ended(TLinkEnd Why);

private:
    // All: to the last byte (the peer closed); else one slice, the rest on later turns.
    void OnReadyRead(bool All);
    void OnTick();
    void End(TLinkEnd Why);

    QTcpSocket *FSocket;
    TTimes FTimes;
    TGroupLinkReader FReader{MaxHelloRecord}; // every link begins with a hello
    QTimer FTick;
    qint64 FSilentMs = 0; // since the peer last sent anything (in ticks of PingMs)
    bool FOpen = true;
    bool FReadPosted = false;
};
