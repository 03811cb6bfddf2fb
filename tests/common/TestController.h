#pragma once

#include "CommandProtocol.h"
#include "CommandReader.h"
#include "MessageText.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>

// A controller on a raw socket: everything the speaker sent it, message by message, rendered
// as "WORD / line / line".
struct TTestController {
    QTcpSocket Socket;
    TCommandReader Reader{ControllerCommands()};
    QByteArrayList Got;

    // Connects from Source to the speaker's command Port on Host.
    explicit TTestController(quint16 Port, const QByteArray &Source = "127.0.0.1",
                             const QByteArray &Host = "127.0.0.1") {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            Reader.Feed(Socket.readAll(), 0);
            while (std::optional<TCommandMessage> M = Reader.Next())
                Got.append(Render(*M));
        });
        Socket.bind(QHostAddress(QString::fromLatin1(Source)), 0);
        Socket.connectToHost(QHostAddress(QString::fromLatin1(Host)), Port);
    }
    bool Connected() { return Socket.waitForConnected(5000); }
    void Send(const QByteArray &Word, const QByteArrayList &Lines) {
        QByteArray Body;
        for (const QByteArray &L : Lines)
            Body += L + "\r\n";
        Socket.write(BuildControllerMessage(Word, Body));
        Socket.flush();
    }
    // Index of the first message at or after From that starts with Prefix, or -1.
    qsizetype Find(const QByteArray &Prefix, qsizetype From = 0) const {
        for (qsizetype I = From; I < Got.size(); ++I)
            if (Got[I].startsWith(Prefix))
                return I;
        return -1;
    }
    // Waits for such a message and returns its index, or -1 after TimeoutMs.
    qsizetype WaitFor(const QByteArray &Prefix, qsizetype From = 0, int TimeoutMs = 10000) {
        return QTest::qWaitFor([&] { return Find(Prefix, From) >= 0; }, TimeoutMs)
                   ? Find(Prefix, From)
                   : -1;
    }
};
