#pragma once

// Controllers seen from outside a command server, shared by its two test programs.

#include "CommandServer.h"
#include "MessageText.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

// The plain event dispatcher serves a due timer before a readable socket (the default one reads
// first): the order in which a line that arrived in time can be judged late.
const bool PlainDispatcher = qputenv("QT_NO_GLIB", "1");

// A controller seen from outside: everything the speaker wrote to it, as raw bytes.
struct TClient {
    QTcpSocket Socket;
    QByteArray Received;
    qint64 ReceivedCount = 0;
    bool KeepBytes = true;

    explicit TClient(quint16 Port, const QByteArray &Source = {}) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            const QByteArray Bytes = Socket.readAll();
            ReceivedCount += Bytes.size();
            if (KeepBytes)
                Received += Bytes;
        });
        if (!Source.isEmpty())
            Socket.bind(QHostAddress(QString::fromLatin1(Source)), 0);
        Socket.connectToHost(QHostAddress::LocalHost, Port);
    }
    bool IsOpen() const { return Socket.state() == QAbstractSocket::ConnectedState; }
    void Send(const QByteArray &Bytes) {
        if (Socket.state() != QAbstractSocket::ConnectedState) {
            QSignalSpy Up(&Socket, &QTcpSocket::connected);
            QVERIFY(Up.wait(5000));
        }
        Socket.write(Bytes);
        Socket.flush();
    }
};

// What the server handed over, in order, with the connection it came from.
struct TInbox {
    QList<TConnectionId> Ids;
    QByteArrayList Peers;
    QByteArrayList Messages;

    explicit TInbox(TCommandServer &Server) {
        QObject::connect(
            &Server, &TCommandServer::CommandReceived,
            [this](TConnectionId Id, const QByteArray &Peer, const TCommandMessage &M) {
                Ids.append(Id);
                Peers.append(Peer);
                Messages.append(Render(M));
            });
    }
};

// The id of every admitted connection, in admission order.
inline void TrackConnected(TCommandServer &Server, QList<TConnectionId> &Ids) {
    QObject::connect(&Server, &TCommandServer::Connected,
                     [&Ids](TConnectionId Id) { Ids.append(Id); });
}
