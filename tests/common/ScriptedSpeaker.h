#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A speaker on 127.0.0.1 that says only what a test scripts: it keeps the last connection
// and everything written to it.
class TScriptedSpeaker : public QObject {
    Q_OBJECT
public:
    explicit TScriptedSpeaker(QObject *Parent = nullptr);

    // Listens at an ephemeral port; false when that fails.
    bool Listen();
    quint16 Port() const { return FServer.serverPort(); }
    // Waits up to 5 s for a controller; false when none came.
    bool WaitForPeer();
    // Writes Bytes to the controller at once.
    void Say(const QByteArray &Bytes);

    QPointer<QTcpSocket> Peer;
    // What the controller wrote after its group opt-in (GROUPWATCH), which sets GroupWatched.
    QByteArray Received;
    bool GroupWatched = false;

private:
    QTcpServer FServer;
};
