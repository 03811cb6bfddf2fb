#include "CommandClient.h"

#include "CommandProtocol.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Output the speaker has not taken yet, past which it counts as stalled: the connection ends
// rather than grow without bound. Checked before a new message, so one large message alone
// never ends a healthy connection.
constexpr qint64 MaxUnsentOutput = 16 * 1024 * 1024;

} // namespace

TCommandClient::TCommandClient(QObject *Parent, qint64 LineTimeoutMs, int ConnectWithinMs)
    : QObject(Parent), FSocket(new QTcpSocket(this)), FConnectTimer(new QTimer(this)),
      FDeadline(new QTimer(this)), FReader(ControllerCommands(), LineTimeoutMs),
      FSlice(ClientReadSlice, Qt::Uninitialized), FLineTimeout(LineTimeoutMs),
      FConnectTimeout(ConnectWithinMs) {
    FClock.start();
    // What the socket holds for us stays bounded whatever the kernel's buffer takes.
    FSocket->setReadBufferSize(ClientReadSlice);
    FConnectTimer->setSingleShot(true);
    FConnectTimer->setTimerType(Qt::PreciseTimer);
    FDeadline->setSingleShot(true);
    FDeadline->setTimerType(Qt::CoarseTimer);
    connect(FSocket, &QTcpSocket::connected, this, &TCommandClient::OnConnected);
    connect(FSocket, &QTcpSocket::readyRead, this, &TCommandClient::OnReadyRead);
    connect(FSocket, &QTcpSocket::disconnected, this, &TCommandClient::OnSocketGone);
    connect(FSocket, &QTcpSocket::errorOccurred, this, [this] {
        if (FStage == TStage::Connecting)
            End(TEnd::Failed);
        else if (FSocket->state() != QAbstractSocket::ConnectedState)
            OnSocketGone();
    });
    connect(FConnectTimer, &QTimer::timeout, this, [this] {
        if (FStage == TStage::Connecting)
            End(TEnd::Failed);
    });
    connect(FDeadline, &QTimer::timeout, this, &TCommandClient::OnDeadline);
}

TCommandClient::~TCommandClient() {
    FSocket->disconnect(this);
    FSocket->abort();
}

void TCommandClient::Start(const QString &Host, quint16 Port) {
    if (FStage != TStage::Idle)
        return;
    FStage = TStage::Connecting;
    FConnectTimer->start(FConnectTimeout);
    // Speakers listen on IPv4 only; a name that also has an IPv6 address must not be tried there.
    FSocket->connectToHost(Host, Port, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
}

void TCommandClient::PostCommand(const QByteArray &Command, const QByteArray &Body) {
    if (FStage != TStage::Ended)
        PostMessage(BuildControllerMessage(Command, Body));
}

void TCommandClient::PostMessage(const QByteArray &Message) {
    if (FStage == TStage::Ended)
        return;
    if (FStage == TStage::Connected) {
        Write(Message);
        return;
    }
    if (FQueued.size() > MaxUnsentOutput) {
        End(TEnd::Lost);
        return;
    }
    FQueued.append(Message);
}

void TCommandClient::Close() {
    if (FStage != TStage::Ended)
        End(TEnd::Closed);
}

void TCommandClient::OnConnected() {
    if (FStage != TStage::Connecting)
        return;
    FConnectTimer->stop();
    FStage = TStage::Connected;
    FSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!FQueued.isEmpty()) {
        FSocket->write(FQueued);
        FQueued.clear();
        FQueued.squeeze();
    }
}

void TCommandClient::Write(const QByteArray &Message) {
    if (FSocket->bytesToWrite() > MaxUnsentOutput) {
        End(TEnd::Lost);
        return;
    }
    FSocket->write(Message);
}

void TCommandClient::OnReadyRead() {
    if (FStage == TStage::Connected && !FSlicePosted)
        ReadSlice();
}

void TCommandClient::ReadSlice() {
    FSlicePosted = false;
    if (FStage != TStage::Connected)
        return;
    const qint64 Arrived = ArrivalMs();
    // A read that finds the socket's buffer short also re-enables its read notification.
    const qint64 Size = FSocket->read(FSlice.data(), FSlice.size());
    if (Size <= 0)
        return;
    FReader.Feed(QByteArrayView(FSlice.constData(), Size), Arrived);
    const QPointer<TCommandClient> Self(this);
    DeliverReplies();
    if (!Self || FStage != TStage::Connected)
        return;
    Q_EMIT SliceRead();
    if (!Self || FStage != TStage::Connected)
        return;
    if (Size == FSlice.size() || FSocket->bytesAvailable() > 0) {
        FSlicePosted = true;
        QMetaObject::invokeMethod(this, &TCommandClient::ReadSlice, Qt::QueuedConnection);
    }
}

qint64 TCommandClient::ArrivalMs() {
    // Bytes read late (the event loop was busy) are judged by when the kernel received them.
    const qint64 Now = NowMs();
    const qint64 Arrived = Now - SinceLastDataMs(FSocket->socketDescriptor());
    FLastArrival = std::clamp(Arrived, FLastArrival, Now);
    return FLastArrival;
}

void TCommandClient::OnDeadline() {
    if (FStage != TStage::Connected)
        return;
    // Lines that came in time may still wait unread: they go first.
    if (FSocket->bytesAvailable() == 0 && KernelBytesWaiting(FSocket->socketDescriptor()) > 0) {
        const QPointer<TCommandClient> Self(this);
        FSocket->waitForReadyRead(0); // moves them into the socket, never waits
        if (!Self || FStage != TStage::Connected)
            return;
    }
    if (FSlicePosted)
        return;
    if (FSocket->bytesAvailable() > 0) {
        ReadSlice();
        return;
    }
    FReader.Expire(NowMs());
    DeliverReplies();
}

void TCommandClient::DeliverReplies() {
    // A handler may close this client (or schedule its deletion): look again after each one.
    const QPointer<TCommandClient> Self(this);
    while (Self && FStage == TStage::Connected) {
        const std::optional<TCommandMessage> Reply = FReader.Next();
        if (!Reply) {
            ArmDeadline();
            return;
        }
        Dispatch(*Reply);
    }
}

void TCommandClient::Dispatch(const TCommandMessage &Reply) {
    // The signal for each reply; ControllerCommands() says what each carries.
    using TEmit = void (*)(TCommandClient &, const TCommandMessage &);
    namespace W = CommandWord;
    static constexpr TCommandHandler<TEmit> Handlers[] = {
        {W::List, [](auto &C, auto &R) { Q_EMIT C.ListReceived(R.Lines); }},
        {W::Position, [](auto &C, auto &R) { Q_EMIT C.PositionReceived(R.Lines); }},
        {W::State, [](auto &C, auto &R) { Q_EMIT C.StateReceived(R.Value); }},
        {W::Mute, [](auto &C, auto &R) { Q_EMIT C.MuteReceived(R.Value); }},
        {W::Volume, [](auto &C, auto &R) { Q_EMIT C.VolumeReceived(R.Value); }},
        {W::URL, [](auto &C, auto &R) { Q_EMIT C.URLReceived(R.Argument()); }},
        {W::Group, [](auto &C, auto &R) { Q_EMIT C.GroupReceived(R.Lines, R.Value); }},
        {W::GroupError, [](auto &C, auto &R) { Q_EMIT C.GroupErrorReceived(R.Argument()); }},
    };
    if (const TEmit *Emit = FindHandler(Handlers, Reply.Word))
        (*Emit)(*this, Reply);
}

void TCommandClient::ArmDeadline() {
    const std::optional<qint64> Next = FReader.NextDeadline();
    if (!Next) {
        FDeadline->stop();
        return;
    }
    const qint64 Wait = std::clamp<qint64>(*Next - NowMs(), 0, FLineTimeout);
    FDeadline->start(int(Wait));
}

void TCommandClient::OnSocketGone() {
    if (FStage == TStage::Connecting) {
        End(TEnd::Failed);
        return;
    }
    if (FStage != TStage::Connected)
        return;
    // Replies the speaker wrote right before closing still count; the socket holds at most
    // one slice of them.
    const QPointer<TCommandClient> Self(this);
    for (qint64 Left = FSocket->bytesAvailable(); Left > 0;) {
        ReadSlice();
        if (!Self || FStage != TStage::Connected)
            return;
        const qint64 Before = std::exchange(Left, FSocket->bytesAvailable());
        if (Left >= Before)
            break;
    }
    End(TEnd::Lost);
}

void TCommandClient::End(TEnd How) {
    if (FStage == TStage::Ended)
        return;
    FStage = TStage::Ended;
    FConnectTimer->stop();
    FDeadline->stop();
    FQueued.clear();
    FSocket->disconnect(this);
    // Our own close lets the commands already written reach the speaker.
    if (How == TEnd::Closed && FSocket->state() == QAbstractSocket::ConnectedState)
        FSocket->disconnectFromHost();
    else
        FSocket->abort();
    const bool Failed = How == TEnd::Failed;
    // From the event loop: whoever closed us, or reads our signals, is never re-entered.
    QMetaObject::invokeMethod(
        this,
        [this, Failed] {
            const QPointer<TCommandClient> Self(this);
            if (Failed)
                Q_EMIT ConnectFailed();
            if (Self)
                Q_EMIT Ended();
        },
        Qt::QueuedConnection);
}
