#pragma once

#include "CommandProtocol.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

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
                // Each controller opts in to group messages first; tests look at what follows.
                QObject::connect(
                    Peer, &QTcpSocket::readyRead, Peer, [this, Peer, First = true]() mutable {
                        static const QByteArray Watch =
                            BuildArgumentsMessage(CommandWord::GroupWatch, {});
                        const QByteArray Bytes = Peer->readAll();
                        Received += std::exchange(First, false) && Bytes.startsWith(Watch)
                                        ? Bytes.mid(Watch.size())
                                        : Bytes;
                    });
            }
        });
    }
};
