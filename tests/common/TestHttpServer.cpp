#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

constexpr qsizetype MaxHead = 16384;

struct TRange {
    qint64 First;
    qint64 Last;
};

// "bytes=a-b", "bytes=a-" or "bytes=-n" against Size; nullopt when unsatisfiable.
std::optional<TRange> ParseRange(const QByteArray &Value, qint64 Size) {
    const QByteArray V = Value.trimmed();
    if (!V.startsWith("bytes=") || V.contains(','))
        return std::nullopt;
    const QByteArray Range = V.mid(6);
    const qsizetype Dash = Range.indexOf('-');
    if (Dash < 0)
        return std::nullopt;
    bool OkA = false, OkB = false;
    const QByteArray A = Range.left(Dash).trimmed(), B = Range.mid(Dash + 1).trimmed();
    if (A.isEmpty()) {
        const qint64 N = B.toLongLong(&OkB);
        if (!OkB || N <= 0 || Size == 0)
            return std::nullopt;
        return TRange{qMax<qint64>(0, Size - N), Size - 1};
    }
    const qint64 First = A.toLongLong(&OkA);
    qint64 Last = B.isEmpty() ? Size - 1 : B.toLongLong(&OkB);
    if (!OkA || (!B.isEmpty() && !OkB) || First < 0 || First >= Size || Last < First)
        return std::nullopt;
    return TRange{First, qMin(Last, Size - 1)};
}

} // namespace

TTestHttpServer::TTestHttpServer(QObject *Parent) : QObject(Parent) {
    connect(&FServer, &QTcpServer::newConnection, this, &TTestHttpServer::OnNewConnection);
}

bool TTestHttpServer::Start(const QHostAddress &Address) {
    return FServer.listen(Address, 0);
}

QByteArray TTestHttpServer::Url(const QByteArray &Path) const {
    return "http://" + FServer.serverAddress().toString().toLatin1() + ":" +
           QByteArray::number(Port()) + Path;
}

void TTestHttpServer::SetFile(const QByteArray &Path, const QByteArray &Body,
                              const QByteArray &ContentType) {
    FFiles.insert(Path, TFile{Body, ContentType});
}

void TTestHttpServer::SetRefused(const QByteArray &Path, int DelayMs) {
    FRefused.insert(Path, DelayMs);
}

void TTestHttpServer::OnNewConnection() {
    while (QTcpSocket *Socket = FServer.nextPendingConnection()) {
        ++FConnections;
        Q_EMIT ConnectionAccepted();
        connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
        auto Buffer = std::make_shared<QByteArray>();
        connect(Socket, &QTcpSocket::readyRead, this, [this, Socket, Buffer] {
            Buffer->append(Socket->readAll());
            qsizetype End = Buffer->indexOf("\r\n\r\n");
            if (End < 0)
                End = Buffer->indexOf("\n\n");
            if (End < 0) {
                if (Buffer->size() > MaxHead)
                    Socket->abort();
                return;
            }
            disconnect(Socket, &QTcpSocket::readyRead, this, nullptr);
            Answer(Socket, Buffer->left(End));
        });
    }
}

void TTestHttpServer::Answer(QTcpSocket *Socket, const QByteArray &Head) {
    QByteArrayList Lines = Head.split('\n');
    for (QByteArray &L : Lines)
        L = L.trimmed();
    const QByteArrayList Parts = Lines.value(0).split(' ');
    const QByteArray Method = Parts.value(0), Path = Parts.value(1);
    FRequests.append(Method + ' ' + Path);
    Q_EMIT RequestReceived(Method, Path);

    if (FRefused.contains(Path)) {
        QTimer::singleShot(FRefused.value(Path), Socket, [Socket] { Socket->close(); });
        return;
    }
    const bool Head_ = Method == "HEAD";
    if (Method != "GET" && !Head_) {
        Reply(Socket, "405 Method Not Allowed", {}, {});
        return;
    }
    const auto It = FFiles.constFind(Path);
    if (It == FFiles.constEnd()) {
        Reply(Socket, "404 Not Found", {"Content-Type: text/plain", "Content-Length: 9"},
              Head_ ? QByteArray() : QByteArray("Not found"));
        return;
    }
    const QByteArray &Body = It->Body;
    const qint64 Size = Body.size();
    QByteArray RangeValue;
    bool HasRange = false;
    for (qsizetype I = 1; I < Lines.size(); ++I) {
        const qsizetype Colon = Lines[I].indexOf(':');
        if (Colon > 0 && Lines[I].left(Colon).trimmed().toLower() == "range") {
            RangeValue = Lines[I].mid(Colon + 1);
            HasRange = true;
        }
    }
    const QByteArrayList Common = {"Content-Type: " + It->ContentType, "Accept-Ranges: bytes"};
    if (!HasRange) {
        Reply(Socket, "200 OK",
              Common + QByteArrayList{"Content-Length: " + QByteArray::number(Size)},
              Head_ ? QByteArray() : Body);
        return;
    }
    const std::optional<TRange> R = ParseRange(RangeValue, Size);
    if (!R) {
        Reply(Socket, "416 Range Not Satisfiable",
              {"Content-Range: bytes */" + QByteArray::number(Size), "Content-Length: 0"}, {});
        return;
    }
    const qint64 Length = R->Last - R->First + 1;
    Reply(Socket, "206 Partial Content",
          Common + QByteArrayList{"Content-Range: bytes " + QByteArray::number(R->First) + '-' +
                                      QByteArray::number(R->Last) + '/' + QByteArray::number(Size),
                                  "Content-Length: " + QByteArray::number(Length)},
          Head_ ? QByteArray() : Body.mid(R->First, Length));
}

void TTestHttpServer::Reply(QTcpSocket *Socket, const QByteArray &Status,
                            const QByteArrayList &Headers, const QByteArray &Body) {
    QByteArray Out = "HTTP/1.0 " + Status + "\r\n";
    for (const QByteArray &H : Headers)
        Out += H + "\r\n";
    Out += "Connection: close\r\n\r\n";
    Out += Body;
    Socket->write(Out);
    // Closes once everything is written.
    Socket->disconnectFromHost();
}
