#pragma once

#include "CommandReader.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// Time allowed for reaching a speaker, name lookup included.
constexpr int ConnectTimeoutMs = 5000;
// Bytes read from the speaker per turn of the event loop; the socket buffers no more than this.
constexpr qint64 ClientReadSlice = 64 * 1024;

// The controller's end of one command connection to a speaker. It connects once and never
// again, writes the commands posted to it and hands each whole reply over as a signal.
// Everything runs on the owner's thread, driven by socket and timer events: a speaker that
// stalls half way through a reply holds up nothing but that reply, and one that floods gets
// one bounded slice read per turn of the event loop.
class TCommandClient : public QObject {
    Q_OBJECT
public:
    // LineTimeoutMs: how long each argument line of a reply may take; ConnectWithinMs: how
    // long reaching the speaker may take (tests shorten both).
    explicit TCommandClient(QObject *Parent = nullptr, qint64 LineTimeoutMs = CommandLineTimeoutMs,
                            int ConnectWithinMs = ConnectTimeoutMs);
    ~TCommandClient() override; // closes the connection; no signal from here on

    // Starts the one connection attempt to Host (a name or a dotted IPv4 address) on Port.
    void Start(const QString &Host, quint16 Port);
    // Queues one command; queued commands go out in posting order once the connection
    // exists, and are dropped when it never does or has ended. ADD and UPDATELIST take
    // the locations joined by line breaks, every other command one value.
    void PostCommand(const QByteArray &Command, const QByteArray &Body);
    // Queues one whole message, built by the caller, as PostCommand does.
    void PostMessage(const QByteArray &Message);
    // Ends the connection (or the attempt) from our side; Ended follows without ConnectFailed.
    void Close();

    // Whether the connection stands and has not ended.
    bool IsConnected() const { return FStage == TStage::Connected; }
    // Whether the connection (or the attempt) is over.
    bool HasEnded() const { return FStage == TStage::Ended; }
    // Bytes held for the reply being read.
    qint64 PendingBytes() const { return FReader.PendingBytes(); }

Q_SIGNALS:
    // The connection attempt failed: name not found, refused or no answer in time.
    void ConnectFailed();
    // The connection is over, whatever the reason; comes once, from the event loop, after
    // ConnectFailed when the attempt failed.
    void Ended();
    // A LIST: the speaker's play list in play order.
    void ListReceived(const QByteArrayList &Lines);
    // A POSITION: duration, position, position text and sometimes an information line.
    void PositionReceived(const QByteArrayList &Lines);
    // A STATE: the speaker's play-state number.
    void StateReceived(qint32 State);
    // A MUTE: non-zero when muted.
    void MuteReceived(qint32 Mute);
    // A VOLUMN: the speaker's volume.
    void VolumeReceived(qint32 Volume);
    // A URL: the speaker's current location as it reports it (still percent-encoded).
    void URLReceived(const QByteArray &URL);
    // A GROUP: the room lines as they came (Count: the count line as read).
    void GroupReceived(const QByteArrayList &Lines, qint32 Count);
    // A GROUPERROR: the text to show the user.
    void GroupErrorReceived(const QByteArray &Text);
    // A slice was read and its whole replies handed over: what the owner holds may have grown.
    void SliceRead();

private:
    enum class TStage { Idle, Connecting, Connected, Ended };
    enum class TEnd { Failed, Closed, Lost };

    void OnConnected();
    void OnReadyRead();
    // Reads one bounded slice and hands over the replies in it; posts the next slice when more
    // waits, so other events run between slices.
    void ReadSlice();
    qint64 ArrivalMs();
    void OnDeadline();
    void OnSocketGone();
    // Hands over every whole reply, then re-arms the line deadline.
    void DeliverReplies();
    void Dispatch(const TCommandMessage &Reply);
    void ArmDeadline();
    void Write(const QByteArray &Message);
    void End(TEnd How);
    qint64 NowMs() const { return FClock.elapsed(); }

    TStage FStage = TStage::Idle;
    QTcpSocket *FSocket = nullptr;
    QTimer *FConnectTimer = nullptr;
    QTimer *FDeadline = nullptr;
    QElapsedTimer FClock;
    TCommandReader FReader;
    QByteArray FQueued;        // whole messages posted before the connection stood
    QByteArray FSlice;         // one read's bytes
    bool FSlicePosted = false; // a ReadSlice waits in the event queue
    qint64 FLastArrival = 0;
    const qint64 FLineTimeout;
    const int FConnectTimeout;
};
