#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

// A fake speaker on every loopback address: what it received, and its connections.
struct TRecordingSpeaker {
    QTcpServer Server;
    QByteArray Received;
    QList<QTcpSocket *> Peers;
    TRecordingSpeaker() {
        Server.listen(QHostAddress::AnyIPv4, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, &Server, [this] {
            while (QTcpSocket *Peer = Server.nextPendingConnection()) {
                Peers.append(Peer);
                QObject::connect(Peer, &QTcpSocket::readyRead, Peer,
                                 [this, Peer] { Received += Peer->readAll(); });
            }
        });
    }
};
