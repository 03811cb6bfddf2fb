#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// A tiny event-driven HTTP/1.0 file server on 127.0.0.1 for tests: serves a map
// path -> bytes (GET, HEAD, single byte ranges), 404 for anything else, and closes
// every connection after its answer.
class TTestHttpServer : public QObject {
    Q_OBJECT
public:
    explicit TTestHttpServer(QObject *Parent = nullptr);

    // Listens on Address at an ephemeral port; false when that fails.
    bool Start(const QHostAddress &Address = QHostAddress::LocalHost);
    quint16 Port() const { return FServer.serverPort(); }
    // "http://<address>:<port>" followed by Path.
    QByteArray Url(const QByteArray &Path) const;

    void SetFile(const QByteArray &Path, const QByteArray &Body,
                 const QByteArray &ContentType = "audio/wav");
    // Requests for Path get no answer: the connection is closed DelayMs after the request.
    void SetRefused(const QByteArray &Path, int DelayMs = 0);

    // "METHOD /path" of every request, in arrival order.
    QByteArrayList Requests() const { return FRequests; }
    // Connections accepted, whether or not they sent a request.
    int ConnectionCount() const { return FConnections; }

Q_SIGNALS:
    void ConnectionAccepted();
    void RequestReceived(const QByteArray &Method, const QByteArray &Path);

private:
    struct TFile {
        QByteArray Body;
        QByteArray ContentType;
    };

    void OnNewConnection();
    void Answer(QTcpSocket *Socket, const QByteArray &Head);
    static void Reply(QTcpSocket *Socket, const QByteArray &Status, const QByteArrayList &Headers,
                      const QByteArray &Body);

    QTcpServer FServer;
    QHash<QByteArray, TFile> FFiles;
    QHash<QByteArray, int> FRefused;
    QByteArrayList FRequests;
    int FConnections = 0;
};
