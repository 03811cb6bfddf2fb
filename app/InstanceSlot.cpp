#include "InstanceSlot.h"

#include "LogCategories.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray RestoreRequest = "RESTORE\n";
constexpr qsizetype MaxRequestSize = 64;
constexpr int MaxPendingClients = 8;
constexpr int ClientDeadlineMs = 2000;
constexpr int ConnectTimeoutMs = 1000;
constexpr int WriteTimeoutMs = 1500;
constexpr int LockTimeoutMs = 3000;

QPointer<TInstanceSlot> GlobalSlot;

// Only this user can put anything there: a folder itself (not a link to one), ours, mode 0700.
bool IsPrivateFolder(const QString &Path) {
    struct stat Info {};
    return QDir::isAbsolutePath(Path) && ::lstat(QFile::encodeName(Path).constData(), &Info) == 0 &&
           S_ISDIR(Info.st_mode) && Info.st_uid == ::getuid() && (Info.st_mode & 07777) == 0700;
}

// The session's runtime folder when it is private, else a folder of our own in the temp folder;
// empty when neither is: a socket where others can write could be answered by anybody.
QString RuntimeFolder() {
    const QString Session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(Session))
        return Session;
    const QString Own =
        QDir::tempPath() + QStringLiteral("/vxPlayer-") + QString::number(::getuid());
    ::mkdir(QFile::encodeName(Own).constData(), 0700); // an existing one is judged as it is
    return IsPrivateFolder(Own) ? Own : QString();
}

bool PeerIsThisUser(const QLocalSocket &Socket) {
    ucred Peer{};
    socklen_t Size = sizeof Peer;
    return ::getsockopt(int(Socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &Peer, &Size) ==
               0 &&
           Peer.uid == ::getuid();
}

} // namespace

TInstanceSlot::TInstanceSlot(QObject *Parent) : QObject(Parent) {}

TInstanceSlot::~TInstanceSlot() {
    Close();
}

QString TInstanceSlot::ServerName() {
    const QString Folder = RuntimeFolder();
    if (Folder.isEmpty())
        return {};
    return Folder + QStringLiteral("/{CAF49BBB-AF40-4FDE-8757-51D5AEB5AAAF}-") +
           QString::number(getuid());
}

bool TInstanceSlot::IsListening() const {
    return FServer && FServer->isListening();
}

bool TInstanceSlot::ActivatePrevious() {
    if (IsListening())
        return false;
    const QString Name = ServerName();
    if (Name.isEmpty()) {
        // Another user holds the folder name: running beside another copy of ours is better
        // than not running at all.
        qCWarning(LogApp, "No private folder for the single-instance guard: this copy runs "
                          "without it");
        return false;
    }
    // Two copies starting together must not both find no server and both listen.
    QLockFile Lock(Name + QStringLiteral(".lock"));
    Lock.tryLock(LockTimeoutMs); // without the lock the guard still works, only less strictly

    QLocalSocket Socket;
    Socket.connectToServer(Name);
    if (Socket.waitForConnected(ConnectTimeoutMs)) {
        if (!PeerIsThisUser(Socket)) {
            // Not a copy of ours: it must not decide whether this one runs.
            qCWarning(LogApp, "The single-instance guard is answered by another user: this "
                              "copy runs without it");
            return false;
        }
        Socket.write(RestoreRequest);
        Socket.waitForBytesWritten(WriteTimeoutMs);
        Socket.disconnectFromServer();
        return true;
    }
    const QLocalSocket::LocalSocketError Error = Socket.error();
    if (Error != QLocalSocket::ServerNotFoundError && Error != QLocalSocket::ConnectionRefusedError)
        return false; // the guard cannot tell: let this copy run unguarded
    // Nobody answers: a socket file left by a crashed copy must not block this start.
    QLocalServer::removeServer(Name);
    Listen();
    return false;
}

bool TInstanceSlot::Listen() {
    delete FServer;
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    FServer->setMaxPendingConnections(MaxPendingClients);
    connect(FServer, &QLocalServer::newConnection, this, &TInstanceSlot::AcceptConnections);
    if (FServer->listen(ServerName()))
        return true;
    delete FServer;
    FServer = nullptr;
    return false;
}

void TInstanceSlot::Close() {
    if (!FServer)
        return;
    FServer->close();
    delete FServer; // takes the pending client sockets with it
    FServer = nullptr;
}

void TInstanceSlot::AcceptConnections() {
    while (QLocalSocket *Socket = FServer->nextPendingConnection()) {
        if (FServer->findChildren<QLocalSocket *>().size() > MaxPendingClients) {
            Drop(Socket);
            continue;
        }
        connect(Socket, &QLocalSocket::readyRead, this, [this, Socket] { ReadRequest(Socket); });
        connect(Socket, &QLocalSocket::disconnected, this, [this, Socket] { ReadRequest(Socket); });
        // A client that says nothing useful in time is dropped.
        QTimer::singleShot(ClientDeadlineMs, Socket, [this, Socket] { Drop(Socket); });
        if (Socket->bytesAvailable() > 0 || Socket->state() != QLocalSocket::ConnectedState)
            ReadRequest(Socket);
    }
}

void TInstanceSlot::ReadRequest(QLocalSocket *Socket) {
    const QByteArray Seen = Socket->peek(MaxRequestSize);
    if (!Seen.contains('\n') && Seen.size() < MaxRequestSize &&
        Socket->state() == QLocalSocket::ConnectedState)
        return; // wait for the rest of the line
    Drop(Socket);
    if (Seen.startsWith(RestoreRequest))
        Q_EMIT RestoreRequested();
}

void TInstanceSlot::Drop(QLocalSocket *Socket) {
    Socket->disconnect(this);
    Socket->abort();
    Socket->deleteLater();
}

TInstanceSlot *InstanceSlot() {
    if (!GlobalSlot)
        GlobalSlot = new TInstanceSlot(QCoreApplication::instance());
    return GlobalSlot;
}

void OpenInstanceSlot() {
    InstanceSlot();
}

bool ActivatePreviousInstance() {
    return InstanceSlot()->ActivatePrevious();
}

void CloseInstanceSlot() {
    if (GlobalSlot)
        GlobalSlot->Close();
}
