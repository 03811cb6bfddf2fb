#include "TestHttpServer.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

// The fixture file server: mpv only seeks over HTTP when ranges work.
class TstTestHttpServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data() {
        QTest::addColumn<QByteArray>("Request");
        QTest::addColumn<QByteArray>("Status");
        QTest::addColumn<QByteArray>("Header");
        QTest::addColumn<QByteArray>("Body");
        QTest::newRow("whole") << QByteArray("GET /f HTTP/1.0\r\n\r\n") << QByteArray("200")
                               << QByteArray("Content-Length: 10") << QByteArray("0123456789");
        QTest::newRow("head") << QByteArray("HEAD /f HTTP/1.0\r\n\r\n") << QByteArray("200")
                              << QByteArray("Accept-Ranges: bytes") << QByteArray();
        QTest::newRow("range") << QByteArray("GET /f HTTP/1.0\r\nRange: bytes=2-4\r\n\r\n")
                               << QByteArray("206") << QByteArray("Content-Range: bytes 2-4/10")
                               << QByteArray("234");
        QTest::newRow("open range")
            << QByteArray("GET /f HTTP/1.0\r\nrange: bytes=7-\r\n\r\n") << QByteArray("206")
            << QByteArray("Content-Range: bytes 7-9/10") << QByteArray("789");
        QTest::newRow("suffix") << QByteArray("GET /f HTTP/1.0\r\nRange: bytes=-2\r\n\r\n")
                                << QByteArray("206") << QByteArray("Content-Range: bytes 8-9/10")
                                << QByteArray("89");
        QTest::newRow("past the end")
            << QByteArray("GET /f HTTP/1.0\r\nRange: bytes=10-\r\n\r\n") << QByteArray("416")
            << QByteArray("Content-Range: bytes */10") << QByteArray();
        QTest::newRow("missing") << QByteArray("GET /g HTTP/1.0\r\n\r\n") << QByteArray("404")
                                 << QByteArray("Connection: close") << QByteArray("Not found");
    }
    void answers() {
        QFETCH(QByteArray, Request);
        QFETCH(QByteArray, Status);
        QFETCH(QByteArray, Header);
        QFETCH(QByteArray, Body);
        TTestHttpServer Server;
        QVERIFY(Server.Start());
        Server.SetFile("/f", "0123456789");
        const QByteArray Reply = Fetch(Server, Request);
        const qsizetype HeadEnd = Reply.indexOf("\r\n\r\n");
        QVERIFY2(HeadEnd > 0, Reply.constData());
        const QByteArray Head = Reply.left(HeadEnd);
        QVERIFY2(Head.startsWith("HTTP/1.0 " + Status), Head.constData());
        QVERIFY2(Head.contains(Header), Head.constData());
        QCOMPARE(Reply.mid(HeadEnd + 4), Body);
    }

    void refusedPathClosesWithoutAnswer() {
        TTestHttpServer Server;
        QVERIFY(Server.Start());
        Server.SetFile("/f", "data");
        Server.SetRefused("/f");
        QCOMPARE(Fetch(Server, "GET /f HTTP/1.0\r\n\r\n"), QByteArray());
        QCOMPARE(Server.Requests(), QByteArrayList{"GET /f"});
    }

private:
    static QByteArray Fetch(TTestHttpServer &Server, const QByteArray &Request) {
        QTcpSocket Socket;
        QSignalSpy Closed(&Socket, &QTcpSocket::disconnected);
        QByteArray Reply;
        connect(&Socket, &QTcpSocket::readyRead, &Socket, [&] { Reply += Socket.readAll(); });
        Socket.connectToHost(QHostAddress::LocalHost, Server.Port());
        Socket.write(Request);
        if (!Closed.wait(5000))
            return "timeout";
        return Reply + Socket.readAll();
    }
};

QTEST_GUILESS_MAIN(TstTestHttpServer)
#include "tst_testhttpserver.moc"
