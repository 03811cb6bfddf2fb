#include "AsciiText.h"
#include "AudioTypes.h"
#include "MediaServer.h"
#include "MusicLibrary.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

struct TReply {
    int Status = 0;
    QHash<QByteArray, QByteArray> Headers; // names lower-cased
    QByteArray Body;
};

// One request over a fresh connection, read until the server closes it. Uses
// only blocking calls, so it also runs on plain threads.
TReply Fetch(quint16 Port, const QByteArray &Target, const QByteArray &Method = "GET",
             const QByteArray &ExtraHeaders = {}) {
    TReply Reply;
    QTcpSocket Socket;
    Socket.connectToHost(QHostAddress::LocalHost, Port);
    if (!Socket.waitForConnected(5000))
        return Reply;
    Socket.write(Method + ' ' + Target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + ExtraHeaders +
                 "\r\n");
    QByteArray Raw;
    QElapsedTimer Clock;
    Clock.start();
    while (Clock.elapsed() < 20000) {
        if (Socket.bytesAvailable() == 0 && !Socket.waitForReadyRead(2000) &&
            Socket.state() != QAbstractSocket::ConnectedState)
            break;
        Raw += Socket.readAll();
    }
    Raw += Socket.readAll();
    const qsizetype HeaderEnd = Raw.indexOf("\r\n\r\n");
    if (HeaderEnd < 0)
        return Reply;
    const QByteArrayList Lines = Raw.left(HeaderEnd).split('\n');
    const QByteArrayList StatusLine = Lines.value(0).trimmed().split(' ');
    Reply.Status = StatusLine.value(1).toInt();
    for (qsizetype I = 1; I < Lines.size(); ++I) {
        const qsizetype Colon = Lines[I].indexOf(':');
        if (Colon > 0)
            Reply.Headers.insert(AsciiLower(Lines[I].left(Colon).trimmed()),
                                 Lines[I].mid(Colon + 1).trimmed());
    }
    Reply.Body = Raw.mid(HeaderEnd + 4);
    return Reply;
}

} // namespace

class TestMediaServer : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FSongPath;
    QByteArray FSongBytes;
    TMusicLibrary FLibrary;
    TMediaServer FServer{[this] { return FLibrary.Snapshot(); }};

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        QVERIFY(QDir(FDir.path()).mkpath("Music"));
        FSongPath = FDir.filePath("Music/My Song.mp3");
        FSongBytes.resize(3 * 1024 * 1024 + 17);
        QRandomGenerator Random(7);
        for (char &C : FSongBytes)
            C = char(Random.generate());
        QFile File(FSongPath);
        QVERIFY2(File.open(QIODevice::WriteOnly), qPrintable(FSongPath));
        QCOMPARE(File.write(FSongBytes), FSongBytes.size());
        File.close();
        QVERIFY(QDir(FDir.path()).mkpath("Music/Album.mp3"));
        QCOMPARE(FLibrary.AddBatch({FDir.filePath("Music/Album.mp3").toUtf8(),
                                    FDir.filePath("Music/Lost.mp3").toUtf8(), FSongPath.toUtf8()}),
                 3);
        QString Error;
        QVERIFY2(FServer.Start(0, &Error), qPrintable(Error));
        QVERIFY(FServer.Port() != 0);
    }

    void findLibraryFile_data() {
        QTest::addColumn<QByteArray>("Path");
        QTest::addColumn<QByteArray>("Expected");
        QTest::newRow("later of two same names")
            << QByteArray("/Same.mp3") << QByteArray("/home/u/B/Same.mp3");
        QTest::newRow("folder tells same names apart")
            << QByteArray("/A/Same.mp3") << QByteArray("/home/u/A/Same.mp3");
        QTest::newRow("start of a name") << QByteArray("/Song") << QByteArray();
        QTest::newRow("must follow a slash") << QByteArray("/ong.mp3") << QByteArray();
        QTest::newRow("with its folder")
            << QByteArray("/Music/Song.mp3") << QByteArray("/home/u/Music/Song.mp3");
        QTest::newRow("case matters") << QByteArray("/song.mp3") << QByteArray();
        QTest::newRow("bad escape dropped")
            << QByteArray("/So%zzng.mp3") << QByteArray("/home/u/Music/Song.mp3");
        QTest::newRow("escaped once")
            << QByteArray("/My%20Song.mp3") << QByteArray("/home/u/My Song.mp3");
        QTest::newRow("whole name before a longer one added later")
            << QByteArray("/Intro.mp3") << QByteArray("/home/u/Intro.mp3");
        QTest::newRow("start of a name, a later entry") << QByteArray("/Intro") << QByteArray();
        QTest::newRow("a folder") << QByteArray("/Music") << QByteArray();
        QTest::newRow("a folder with its slash") << QByteArray("/Music/") << QByteArray();
        QTest::newRow("slash alone") << QByteArray("/") << QByteArray();
        QTest::newRow("percent escaped for the second decoding")
            << QByteArray("/100%25 Pure.mp3") << QByteArray("/home/u/100% Pure.mp3");
        QTest::newRow("no leading slash") << QByteArray("Song.mp3") << QByteArray();
        QTest::newRow("slash only after decoding")
            << QByteArray("%2FSong.mp3") << QByteArray("/home/u/Music/Song.mp3");
        QTest::newRow("http entries never served") << QByteArray("/Web.mp3") << QByteArray();
        QTest::newRow("NUL after decoding") << QByteArray("/Song%00.mp3") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void findLibraryFile() {
        QFETCH(QByteArray, Path);
        QFETCH(QByteArray, Expected);
        const QByteArrayList Library{"/home/u/A/Same.mp3",    "/home/u/Music/Song.mp3",
                                     "/home/u/B/Same.mp3",    "/home/u/My Song.mp3",
                                     "/home/u/Intro.mp3",     "/home/u/100% Pure.mp3",
                                     "/home/u/Intro.mp3.wav", "http://host/Web.mp3",
                                     "HTTP://host/x/Web.mp3", ""};
        QCOMPARE(TMediaServer::FindLibraryFile(TMediaServer::DecodeRequestPath(Path), Library),
                 Expected);
    }

    void byteRange_data() {
        QTest::addColumn<QByteArray>("Header");
        QTest::addColumn<int>("Kind");
        QTest::addColumn<qint64>("Offset");
        QTest::addColumn<qint64>("Length");
        QTest::newRow("closed") << QByteArray("bytes=10-19") << int(TByteRange::Partial)
                                << qint64(10) << qint64(10);
        QTest::newRow("open end") << QByteArray("bytes=90-") << int(TByteRange::Partial)
                                  << qint64(90) << qint64(10);
        QTest::newRow("suffix") << QByteArray("bytes=-5") << int(TByteRange::Partial) << qint64(95)
                                << qint64(5);
        QTest::newRow("suffix longer than file")
            << QByteArray("bytes=-500") << int(TByteRange::Partial) << qint64(0) << qint64(100);
        QTest::newRow("one byte, the last")
            << QByteArray("bytes=99-99") << int(TByteRange::Partial) << qint64(99) << qint64(1);
        QTest::newRow("end clamped")
            << QByteArray("bytes=50-999") << int(TByteRange::Partial) << qint64(50) << qint64(50);
        QTest::newRow("start past end")
            << QByteArray("bytes=100-") << int(TByteRange::Unsatisfiable) << qint64(0) << qint64(0);
        QTest::newRow("empty suffix")
            << QByteArray("bytes=-0") << int(TByteRange::Unsatisfiable) << qint64(0) << qint64(0);
        QTest::newRow("reversed") << QByteArray("bytes=9-3") << int(TByteRange::Whole) << qint64(0)
                                  << qint64(0);
        QTest::newRow("several") << QByteArray("bytes=0-1,5-6") << int(TByteRange::Whole)
                                 << qint64(0) << qint64(0);
        QTest::newRow("other unit")
            << QByteArray("items=0-1") << int(TByteRange::Whole) << qint64(0) << qint64(0);
        QTest::newRow("garbage") << QByteArray("bytes=a-b") << int(TByteRange::Whole) << qint64(0)
                                 << qint64(0);
        QTest::newRow("huge number") << QByteArray("bytes=99999999999999999999999-")
                                     << int(TByteRange::Whole) << qint64(0) << qint64(0);
    }

    void byteRange() {
        QFETCH(QByteArray, Header);
        QFETCH(int, Kind);
        QFETCH(qint64, Offset);
        QFETCH(qint64, Length);
        const TByteRange Range = ParseByteRange(Header, 100);
        QCOMPARE(int(Range.Kind), Kind);
        if (Range.Kind == TByteRange::Partial) {
            QCOMPARE(Range.Offset, Offset);
            QCOMPARE(Range.Length, Length);
        }
    }

    void contentTypes() {
        // Each extension the library accepts has its type; anything else goes as plain bytes.
        for (const QByteArray &Pattern : AudioExtensionList().split(';')) {
            const QByteArray Name = "/m/a" + Pattern.mid(1);
            QVERIFY2(MediaContentType(Name) != "application/octet-stream", Name.constData());
            QCOMPARE(MediaContentType(AsciiLower(Name)), MediaContentType(Name));
        }
        for (const char *Name : {"/m/a.WMX", "/m/a.txt", "/m/a", "/m.mp3/a"})
            QCOMPARE(MediaContentType(Name), QByteArray("application/octet-stream"));
    }

    void servesWholeFile() {
        const TReply Reply = Fetch(FServer.Port(), "/My%20Song.mp3");
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Headers.value("content-length").toLongLong(), FSongBytes.size());
        QCOMPARE(Reply.Headers.value("content-type"), QByteArray("audio/mpeg"));
        QCOMPARE(Reply.Headers.value("accept-ranges"), QByteArray("bytes"));
        QCOMPARE(AsciiLower(Reply.Headers.value("connection")), QByteArray("close"));
        QVERIFY(Reply.Body == FSongBytes);
    }

    void decodesTwice() {
        // The HTTP layer decodes "%2520" to "%20", the handler to a space.
        QCOMPARE(Fetch(FServer.Port(), "/My%2520Song.mp3").Status, 200);
        QCOMPARE(Fetch(FServer.Port(), "/Music/My%20Song.mp3?x=%00", "HEAD").Status, 200);
    }

    void servesRanges_data() {
        QTest::addColumn<QByteArray>("Range");
        QTest::addColumn<qint64>("Offset");
        QTest::addColumn<qint64>("Length");
        const qint64 Size = 3 * 1024 * 1024 + 17;
        QTest::newRow("middle") << QByteArray("bytes=1000-1999") << qint64(1000) << qint64(1000);
        QTest::newRow("tail") << QByteArray("bytes=-17") << Size - 17 << qint64(17);
        QTest::newRow("from offset")
            << QByteArray("bytes=3145000-") << qint64(3145000) << Size - 3145000;
    }

    void servesRanges() {
        QFETCH(QByteArray, Range);
        QFETCH(qint64, Offset);
        QFETCH(qint64, Length);
        const TReply Reply =
            Fetch(FServer.Port(), "/My%20Song.mp3", "GET", "Range: " + Range + "\r\n");
        QCOMPARE(Reply.Status, 206);
        QCOMPARE(Reply.Headers.value("content-range"), "bytes " + QByteArray::number(Offset) + '-' +
                                                           QByteArray::number(Offset + Length - 1) +
                                                           '/' +
                                                           QByteArray::number(FSongBytes.size()));
        QVERIFY(Reply.Body == FSongBytes.mid(Offset, Length));
    }

    void unsatisfiableRange() {
        const TReply Reply =
            Fetch(FServer.Port(), "/My%20Song.mp3", "GET", "Range: bytes=999999999-\r\n");
        QCOMPARE(Reply.Status, 416);
        QCOMPARE(Reply.Headers.value("content-range"),
                 "bytes */" + QByteArray::number(FSongBytes.size()));
    }

    void headHasHeadersOnly() {
        const TReply Reply = Fetch(FServer.Port(), "/My%20Song.mp3", "HEAD");
        QCOMPARE(Reply.Status, 200);
        QCOMPARE(Reply.Headers.value("content-length").toLongLong(), FSongBytes.size());
        QVERIFY(Reply.Body.isEmpty());
    }

    void notFound_data() {
        QTest::addColumn<QByteArray>("Target");
        QTest::addColumn<QByteArray>("Method");
        QTest::newRow("not in library") << QByteArray("/Other.mp3") << QByteArray("GET");
        QTest::newRow("NUL escape") << QByteArray("/My%20Song%00.mp3") << QByteArray("GET");
        QTest::newRow("double-escaped NUL")
            << QByteArray("/My%20Song%2500.mp3") << QByteArray("GET");
        QTest::newRow("wrong case") << QByteArray("/my%20song.mp3") << QByteArray("GET");
        QTest::newRow("folder in library") << QByteArray("/Album.mp3") << QByteArray("GET");
        QTest::newRow("missing file in library") << QByteArray("/Lost.mp3") << QByteArray("GET");
        QTest::newRow("HEAD") << QByteArray("/Other.mp3") << QByteArray("HEAD");
    }

    void notFound() {
        QFETCH(QByteArray, Target);
        QFETCH(QByteArray, Method);
        const TReply Reply = Fetch(FServer.Port(), Target, Method);
        QCOMPARE(Reply.Status, 404);
        QCOMPARE(Reply.Body, Method == "HEAD"
                                 ? QByteArray()
                                 : QByteArray("The document requested is not availabe."));
    }

    // An <audio> or <img> on another site's page learns nothing of the library.
    void otherSitesFindNothing() {
        for (const QByteArray Site : {"cross-site", "same-site"})
            QCOMPARE(
                Fetch(FServer.Port(), "/My%20Song.mp3", "GET", "Sec-Fetch-Site: " + Site + "\r\n")
                    .Status,
                404);
    }

    void otherMethodsRefused() {
        const TReply Reply =
            Fetch(FServer.Port(), "/My%20Song.mp3", "POST", "Content-Length: 5\r\n\r\nhello");
        QVERIFY(Reply.Status == 405);
        QVERIFY(Reply.Body.isEmpty());
    }

    void removedEntryNotServed() {
        const QByteArray Other = FDir.filePath("Music/Gone.wav").toUtf8();
        QFile File(QString::fromUtf8(Other));
        QVERIFY(File.open(QIODevice::WriteOnly));
        File.write("RIFF....");
        File.close();
        QVERIFY(FLibrary.AddToLibrary(Other));
        QCOMPARE(Fetch(FServer.Port(), "/Gone.wav").Status, 200);
        FLibrary.RemoveRow(FLibrary.Count() - 1);
        QCOMPARE(Fetch(FServer.Port(), "/Gone.wav").Status, 404);
        QVERIFY(QFile::exists(QString::fromUtf8(Other)));
    }

    void silentClientDoesNotBlockOthers() {
        QTcpSocket Silent;
        Silent.connectToHost(QHostAddress::LocalHost, FServer.Port());
        QVERIFY(Silent.waitForConnected(5000));
        QTcpSocket Partial;
        Partial.connectToHost(QHostAddress::LocalHost, FServer.Port());
        QVERIFY(Partial.waitForConnected(5000));
        Partial.write("GET /My%20Song.mp3 HTTP/1.1\r\nHo");
        QVERIFY(Partial.waitForBytesWritten(5000));
        QElapsedTimer Clock;
        Clock.start();
        const TReply Reply = Fetch(FServer.Port(), "/My%20Song.mp3", "HEAD");
        QCOMPARE(Reply.Status, 200);
        QVERIFY(Clock.elapsed() < 5000);

        // One address holding every slot it can get still leaves room for another.
        std::vector<std::unique_ptr<QTcpSocket>> Hoard;
        for (unsigned I = 0; I < TMediaServer::ConnectionLimit; ++I) {
            Hoard.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(Hoard.back()->bind(QHostAddress("127.0.0.2")));
            Hoard.back()->connectToHost(QHostAddress::LocalHost, FServer.Port());
            QVERIFY(Hoard.back()->waitForConnected(5000));
        }
        QCOMPARE(Fetch(FServer.Port(), "/My%20Song.mp3", "HEAD").Status, 200);
    }

    void parallelDownloadsWhileEditing() {
        constexpr int Clients = 20;
        std::atomic<int> Done{0};
        std::atomic<int> Good{0};
        std::vector<std::thread> Threads;
        const quint16 Port = FServer.Port();
        for (int I = 0; I < Clients; ++I)
            Threads.emplace_back([&, Port] {
                const TReply Reply = Fetch(Port, "/My%20Song.mp3");
                if (Reply.Status == 200 && Reply.Body == FSongBytes)
                    ++Good;
                ++Done;
            });
        QElapsedTimer Clock;
        Clock.start();
        for (int Round = 0; Done.load() < Clients && Round < 200000 && Clock.elapsed() < 60000;
             ++Round) {
            QByteArrayList Batch;
            for (int J = 0; J < 20; ++J)
                Batch.append("/tmp/edit/" + QByteArray::number(Round) + '-' +
                             QByteArray::number(J) + ".mp3");
            FLibrary.AddBatch(Batch);
            QList<int> Rows;
            for (int J = 0; J < 20; ++J)
                Rows.append(FLibrary.Count() - 1 - J);
            FLibrary.RemoveRows(Rows);
        }
        for (std::thread &Thread : Threads)
            Thread.join();
        QCOMPARE(Good.load(), Clients);
    }

    void takenPortFails() {
        QTcpServer Holder;
        QVERIFY(Holder.listen(QHostAddress::Any, 0));
        TMediaServer Second([] { return std::make_shared<const QByteArrayList>(); });
        QString Error;
        QVERIFY(!Second.Start(Holder.serverPort(), &Error));
        QVERIFY(!Second.IsRunning());
        QVERIFY2(Error.contains(QString::number(Holder.serverPort())), qPrintable(Error));
        QVERIFY2(Error.contains("in use"), qPrintable(Error));
        QVERIFY(Second.Start(0, &Error));
        Second.Stop();
        QCOMPARE(Second.Port(), quint16(0));
    }

    void cleanupTestCase() { FServer.Stop(); }
};

QTEST_GUILESS_MAIN(TestMediaServer)
#include "tst_mediaserver.moc"
