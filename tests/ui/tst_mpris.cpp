#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "MprisService.h"
#include "PlaybackEngine.h"
#include "PrivateBus.h"
#include "TestController.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QThread>
#include <QtTest>

#include <memory>

constexpr char RootInterface[] = "org.mpris.MediaPlayer2";

// Nested maps arrive from the bus undecoded.
QVariantMap AsMap(const QVariant &V) {
    return V.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(V.value<QDBusArgument>())
                                         : V.toMap();
}

// What the client heard on the bus: each announced value by property, Metadata as its title.
class TBusRecorder : public QObject {
    Q_OBJECT
public:
    QHash<QString, QVariantList> Announced;
    QList<qlonglong> Seeks;

public Q_SLOTS:
    void OnPropertiesChanged(const QString &, const QVariantMap &Changed, const QStringList &) {
        for (auto It = Changed.cbegin(); It != Changed.cend(); ++It)
            Announced[It.key()].append(It.key() == "Metadata" ? AsMap(*It).value("xesam:title")
                                                              : *It);
    }
    void OnSeeked(qlonglong Position) { Seeks.append(Position); }
};

// Waits for C to hear URL load at or after From and then play: the index of that "STATE / 3",
// or -1.
qsizetype WaitForPlaying(TTestController &C, const QByteArray &URL, qsizetype From = 0) {
    const qsizetype Loaded = C.WaitFor("URL / " + URL, From);
    return Loaded < 0 ? -1 : C.WaitFor("STATE / 3", Loaded);
}

// The speaker of a main window on a private session bus, driven by a client on its own
// connection and thread, as a desktop would, and watched by raw controllers.
class TestMpris : public QObject {
    Q_OBJECT

    TPrivateBus FBus;
    QDBusConnection FClient{QString()};
    TTestHttpServer FHttp;
    TBusRecorder FHeard;
    std::unique_ptr<TMainWindow> FWindow;
    std::unique_ptr<TMprisService> FService;
    QByteArrayList FTracks; // a.wav, b.wav, c.wav, then a row the speaker cannot play

    TPlaybackEngine *Engine() const { return FWindow->Speaker()->Engine(); }
    QDBusObjectPath TrackIdOfRow(int Row) const {
        return TMprisService::TrackId(Engine()->Model()->RowSerial(Row));
    }
    quint16 CommandPort() const { return FWindow->Speaker()->CommandServer()->Port(); }

    // Runs Fn with the player's Interface on a thread of its own, as another program would,
    // while this thread serves the bus.
    QVariant Remote(const char *Interface, const std::function<QVariant(QDBusInterface &)> &Fn) {
        QVariant Result;
        std::unique_ptr<QThread> Thread(QThread::create([&] {
            QDBusInterface Player(MprisServiceName, MprisObjectPath, Interface, FClient);
            Result = Fn(Player);
        }));
        Thread->start();
        if (!QTest::qWaitFor([&] { return Thread->isFinished(); }, 30000))
            qWarning("The bus call is still waiting");
        Thread->wait();
        return Result;
    }
    QVariant Get(const char *Name, const char *Interface = MprisPlayerInterface) {
        return Remote(Interface, [Name](QDBusInterface &P) { return P.property(Name); });
    }
    QDBusMessage Call(const QString &Method, const QVariantList &Args = {},
                      const char *Interface = MprisPlayerInterface) {
        const auto Fn = [&](QDBusInterface &P) {
            return QVariant::fromValue(P.callWithArgumentList(QDBus::Block, Method, Args));
        };
        return Remote(Interface, Fn).value<QDBusMessage>();
    }

    // The tracks queued on the speaker and a controller that saw the first one play.
    std::unique_ptr<TTestController> StartPlaying() {
        auto C = std::make_unique<TTestController>(CommandPort());
        if (!C->Connected())
            return {};
        FWindow->Speaker()->AddLocalTracks(FTracks);
        if (WaitForPlaying(*C, FTracks[0]) < 0)
            return {};
        return C;
    }

private Q_SLOTS:
    void initTestCase() {
        QString Error;
        QVERIFY2(FBus.Start(&Error), qPrintable(Error));
        // Before anything asks for the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.Address().toUtf8());
        FClient = QDBusConnection::connectToBus(FBus.Address(), QStringLiteral("client"));
        QVERIFY(FClient.isConnected());
        const QString Path = QString::fromLatin1(MprisObjectPath);
        QVERIFY(FClient.connect({}, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("PropertiesChanged"), &FHeard,
                                SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList))));
        QVERIFY(FClient.connect({}, Path, QString::fromLatin1(MprisPlayerInterface),
                                QStringLiteral("Seeked"), &FHeard, SLOT(OnSeeked(qlonglong))));

        QVERIFY(FHttp.Start());
        FHttp.SetFile("/a.wav", MakeWav(30.0, 8000, "Alpha", "Band"));
        FHttp.SetFile("/b.wav", MakeWav(30.0, 8000, "Beta"));
        FHttp.SetFile("/c.wav", MakeWav(30.0, 8000, "Gamma"));
        FTracks = {FHttp.Url("/a.wav"), FHttp.Url("/b.wav"), FHttp.Url("/c.wav"), "/m/local.wav"};
    }
    void init() {
        FWindow = std::make_unique<TMainWindow>();
        FWindow->CreateLocalPlayer(0, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        FService = StartMprisService(*FWindow);
        QCOMPARE(FService->ServiceName(), QString::fromLatin1(MprisServiceName));
        FHeard.Announced.clear();
        FHeard.Seeks.clear();
    }
    void cleanup() {
        FService.reset();
        FWindow.reset();
    }

    void rootInterfaceRaisesAndQuits() {
        QCOMPARE(Get("Identity", RootInterface).toString(), QString("Vellox Player"));
        QCOMPARE(Get("DesktopEntry", RootInterface).toString(), QString("vxPlayer"));
        QVERIFY(!FWindow->isVisible());
        QCOMPARE(Call("Raise", {}, RootInterface).type(), QDBusMessage::ReplyMessage);
        QVERIFY(FWindow->isVisible());
        QCOMPARE(Call("Quit", {}, RootInterface).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(FWindow->Closing());
        QTRY_VERIFY(!FWindow->isVisible());
        QVERIFY(!FWindow->Speaker()->IsListening());
        // Without a bus nothing is published and nothing fails.
        TMprisService Offline(Engine());
        QVERIFY(!Offline.Register(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"))));
    }

    void playPauseTogglesTheSpeaker() {
        auto C = StartPlaying();
        QVERIFY(C);
        QCOMPARE(Get("PlaybackStatus").toString(), QString("Playing"));
        qsizetype Mark = C->Got.size();
        QCOMPARE(Call("PlayPause").type(), QDBusMessage::ReplyMessage);
        QVERIFY(C->WaitFor("STATE / 2", Mark) >= 0);
        QTRY_VERIFY(FHeard.Announced["PlaybackStatus"].contains("Paused"));
        Mark = C->Got.size();
        Call("PlayPause");
        QVERIFY(C->WaitFor("STATE / 3", Mark) >= 0);
    }

    // Rows: a, b, c, then one the speaker skips.
    void nextAndPreviousFollowThePlayOrder_data() {
        QTest::addColumn<QString>("Method");
        QTest::addColumn<int>("From");
        QTest::addColumn<int>("To");
        QTest::newRow("next") << "Next" << 0 << 1;
        QTest::newRow("next wraps past the skipped row") << "Next" << 2 << 0;
        QTest::newRow("previous") << "Previous" << 2 << 1;
        QTest::newRow("previous wraps past the skipped row") << "Previous" << 0 << 2;
    }
    void nextAndPreviousFollowThePlayOrder() {
        QFETCH(QString, Method);
        QFETCH(int, From);
        QFETCH(int, To);
        auto C = StartPlaying();
        QVERIFY(C);
        qsizetype Mark = C->Got.size();
        if (From != 0) {
            C->Send("URL", {FTracks[From]});
            QVERIFY(WaitForPlaying(*C, FTracks[From], Mark) > 0);
        }
        Mark = C->Got.size();
        QCOMPARE(Call(Method).type(), QDBusMessage::ReplyMessage);
        const qsizetype Moved = C->WaitFor("URL / ", Mark);
        QVERIFY(Moved >= 0);
        QCOMPARE(C->Got[Moved], "URL / " + FTracks[To]);
        QCOMPARE(Engine()->GetCurrentIndex(), To);
        QTRY_COMPARE(AsMap(Get("Metadata")).value("mpris:trackid").value<QDBusObjectPath>(),
                     TrackIdOfRow(To));
    }

    void volumeReachesEveryController_data() {
        QTest::addColumn<double>("Value");
        QTest::addColumn<int>("Volume");
        QTest::newRow("half") << 0.5 << 50;
        QTest::newRow("rounded") << 0.333 << 33;
        QTest::newRow("above 1") << 1.5 << 100;
        QTest::newRow("below 0") << -0.25 << 0;
    }
    void volumeReachesEveryController() {
        QFETCH(double, Value);
        QFETCH(int, Volume);
        FWindow->Speaker()->Media()->SetVolume(20);
        QTRY_COMPARE(Engine()->LastVolume(), 20);
        TTestController Near(CommandPort()), Far(CommandPort(), "127.0.0.2");
        for (TTestController *C : {&Near, &Far})
            QVERIFY(C->WaitFor("VOLUMN / 20") >= 0);
        QVERIFY(Remote(MprisPlayerInterface, [Value](QDBusInterface &P) {
                    return P.setProperty("Volume", Value);
                }).toBool());
        const QByteArray Expected = "VOLUMN / " + QByteArray::number(Volume);
        for (TTestController *C : {&Near, &Far})
            QVERIFY2(C->WaitFor(Expected, 1) > 0, Expected.constData());
        QTRY_VERIFY(FHeard.Announced["Volume"].contains(Volume / 100.0));
    }

    void metadataFollowsTheTrack() {
        QCOMPARE(AsMap(Get("Metadata")).value("mpris:trackid").value<QDBusObjectPath>(),
                 TMprisService::TrackId(0));
        auto C = StartPlaying();
        QVERIFY(C);
        QVariantMap Meta = AsMap(Get("Metadata"));
        QCOMPARE(Meta.value("mpris:trackid").value<QDBusObjectPath>(), TrackIdOfRow(0));
        QCOMPARE(Meta.value("xesam:url").toString(), QString::fromUtf8(FTracks[0]));
        QCOMPARE(Meta.value("xesam:title").toString(), QString("Alpha"));
        QCOMPARE(Meta.value("xesam:artist").toStringList(), QStringList{"Band"});
        QCOMPARE(Meta.value("mpris:length").toLongLong(), 30'000'000LL);
        C->Send("URL", {FTracks[1]});
        QTRY_COMPARE(AsMap(Get("Metadata")).value("xesam:title").toString(), QString("Beta"));
        QVERIFY(!AsMap(Get("Metadata")).contains("xesam:artist"));
    }

    // What a controller changes is announced on the bus.
    void controllerChangesAreAnnounced_data() {
        QTest::addColumn<QByteArray>("Word");
        QTest::addColumn<QByteArray>("Argument");
        QTest::addColumn<QString>("Property");
        QTest::addColumn<QVariant>("Value");
        QTest::newRow("pause") << QByteArray("STATE") << QByteArray("2") << "PlaybackStatus"
                               << QVariant("Paused");
        QTest::newRow("volume") << QByteArray("VOLUMN") << QByteArray("30") << "Volume"
                                << QVariant(0.3);
        QTest::newRow("track") << QByteArray("URL") << QByteArray("/b.wav") << "Metadata"
                               << QVariant("Beta"); // its title
    }
    void controllerChangesAreAnnounced() {
        QFETCH(QByteArray, Word);
        QFETCH(QByteArray, Argument);
        QFETCH(QString, Property);
        QFETCH(QVariant, Value);
        auto C = StartPlaying();
        QVERIFY(C);
        FHeard.Announced.clear();
        C->Send(Word, {Argument.startsWith('/') ? FHttp.Url(Argument) : Argument});
        QTRY_VERIFY(FHeard.Announced[Property].contains(Value));
    }

    void seeking_data() {
        QTest::addColumn<QString>("Method");
        QTest::addColumn<int>("Track"); // SetPosition's row
        QTest::addColumn<qlonglong>("Microseconds");
        QTest::addColumn<qlonglong>("Seeked"); // -1: none
        QTest::newRow("set position") << "SetPosition" << 0 << 20'000'000LL << 20'000'000LL;
        QTest::newRow("set position, stale track") << "SetPosition" << 1 << 20'000'000LL << -1LL;
        QTest::newRow("set position past the end") << "SetPosition" << 0 << 31'000'000LL << -1LL;
        QTest::newRow("seek back past the start") << "Seek" << 0 << -60'000'000LL << 0LL;
        // The id names the track wherever it moves.
        QTest::newRow("track moved") << "move, SetPosition" << 0 << 20'000'000LL << 20'000'000LL;
        QTest::newRow("stale id, row taken") << "move, SetPosition" << 1 << 20'000'000LL << -1LL;
        QTest::newRow("controller") << "UPDATEPOSITION" << 0 << 0LL << 15'000'000LL;
    }
    void seeking() {
        QFETCH(QString, Method);
        QFETCH(int, Track);
        QFETCH(qlonglong, Microseconds);
        QFETCH(qlonglong, Seeked);
        auto C = StartPlaying();
        QVERIFY(C);
        const QVariantList Args =
            Method == "Seek" ? QVariantList{Microseconds}
                             : QVariantList{QVariant::fromValue(TrackIdOfRow(Track)), Microseconds};
        if (Method.contains("move")) // b above a
            QVERIFY(Engine()->MoveUp({1}));
        if (Method == "UPDATEPOSITION")
            C->Send("UPDATEPOSITION", {"50"});
        else
            QCOMPARE(Call(Method.section(' ', -1), Args).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(FHeard.Seeks, Seeked < 0 ? QList<qlonglong>{} : QList<qlonglong>{Seeked});
        const qlonglong Position = Get("Position").toLongLong();
        QVERIFY2(Seeked < 0 ? Position < 15'000'000 : Position >= Seeked,
                 QByteArray::number(Position).constData());
    }

    void openUriIsRefused() {
        const QDBusMessage Reply = Call("OpenUri", {QString::fromUtf8(FHttp.Url("/a.wav"))});
        QCOMPARE(Reply.errorName(), QString("org.freedesktop.DBus.Error.NotSupported"));
        QVERIFY(Engine()->Locations().isEmpty());
    }
};

QTEST_MAIN(TestMpris)
#include "tst_mpris.moc"
