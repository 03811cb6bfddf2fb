#include "ScriptedSpeaker.h"

#include <QTest>

TScriptedSpeaker::TScriptedSpeaker(QObject *Parent) : QObject(Parent) {
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
        Peer = FServer.nextPendingConnection();
        connect(Peer, &QTcpSocket::readyRead, this, [this] { Received += Peer->readAll(); });
    });
}

bool TScriptedSpeaker::Listen() {
    return FServer.listen(QHostAddress::LocalHost, 0);
}

bool TScriptedSpeaker::WaitForPeer() {
    return QTest::qWaitFor([this] { return !Peer.isNull(); }, 5000);
}

void TScriptedSpeaker::Say(const QByteArray &Bytes) {
    Peer->write(Bytes);
    Peer->flush();
}
