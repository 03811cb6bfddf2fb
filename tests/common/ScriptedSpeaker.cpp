#include "ScriptedSpeaker.h"

#include "CommandProtocol.h"

#include <QTest>

TScriptedSpeaker::TScriptedSpeaker(QObject *Parent) : QObject(Parent) {
    connect(&FServer, &QTcpServer::newConnection, this, [this] {
        Peer = FServer.nextPendingConnection();
        GroupWatched = false;
        connect(Peer, &QTcpSocket::readyRead, this, [this] {
            Received += Peer->readAll();
            // Every controller opts in to group messages first; tests look at what follows.
            static const QByteArray Watch = BuildArgumentsMessage(CommandWord::GroupWatch, {});
            if (!GroupWatched && Received.startsWith(Watch)) {
                Received.remove(0, Watch.size());
                GroupWatched = true;
            }
        });
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
