#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

// A speaker this copy drives, whatever shows it: what the play-to flow and the close sequence
// need of it.
class TRemotePlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The computer as the user gave it ("kitchen", "192.168.1.20").
    virtual QString Host() const = 0;
    // Its IPv4 address as a number; all bits set for a name.
    virtual quint32 HostAddr() const = 0;
    // Ends the connection; the player then leaves RemotePlayers (once, maybe later).
    virtual void EndConnection() = 0;
    // Queues a command for the speaker ("GET", or "ADD" with locations joined by CR LF);
    // nothing is sent once the connection has ended.
    virtual void PostCommand(const QByteArray &Command, const QByteArray &Body) = 0;
};

// The speakers this copy drives, program-wide. A player adds itself when it starts and removes
// itself when its connection has ended; the close sequence waits until the list is empty.
class TRemotePlayerList : public QObject {
    Q_OBJECT
public:
    void Add(TRemotePlayer *Player);
    void Remove(TRemotePlayer *Player);
    // The players still registered, in opening order; players already deleted are skipped.
    QList<TRemotePlayer *> Pages() const;
    bool IsEmpty() const { return Pages().isEmpty(); }

Q_SIGNALS:
    // A player left the list: whoever waits for the list to empty looks again.
    void PageRemoved();

private:
    QList<QPointer<TRemotePlayer>> FPages;
};

// The one list of the speakers this copy drives.
TRemotePlayerList &RemotePlayers();
