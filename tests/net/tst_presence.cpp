#include "Presence.h"
#include "TwoHosts.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

const QByteArray OurAddress = "127.0.0.5";
const QByteArray OurOtherAddress = "127.0.0.9";
// Peers on the wire need an address that is not loopback: a network of their own on lo.
const QByteArray PeerAddress = "10.251.0.2", SteadyAddress = "10.251.0.4";

// Another computer's presence socket: a loopback address of its own and the
// presence port. Bound to 255.255.255.255 it hears the broadcasts instead.
struct TPeer {
    QUdpSocket Socket;
    bool Bound;

    TPeer(const QByteArray &Address, quint16 Port)
        : Bound(Socket.bind(QHostAddress(QString::fromLatin1(Address)), Port,
                            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {}
    void Send(const QByteArray &Data, quint16 Port) {
        Socket.writeDatagram(Data, QHostAddress::LocalHost, Port);
    }
    QList<QNetworkDatagram> Take() {
        QList<QNetworkDatagram> Got;
        while (Socket.hasPendingDatagrams())
            Got.append(Socket.receiveDatagram());
        return Got;
    }
    // Waits (running the event loop) for something to arrive and takes it all.
    QList<QNetworkDatagram> Wait() {
        (void)QTest::qWaitFor([this] { return Socket.hasPendingDatagrams(); }, 2000);
        return Take();
    }
};

QByteArrayList SendersOf(const QList<QNetworkDatagram> &Datagrams, const QByteArray &Word) {
    QByteArrayList Senders;
    for (const QNetworkDatagram &D : Datagrams)
        if (D.data() == Word)
            Senders.append(D.senderAddress().toString().toLatin1());
    return Senders;
}

quint16 FreePort() {
    QUdpSocket Probe;
    Probe.bind(QHostAddress::AnyIPv4, 0);
    return Probe.localPort();
}

// A copy in the other namespace: prints its list of computers at every change.
int RunPeer(quint16 Port) {
    TPresence Presence;
    QObject::connect(&Presence, &TPresence::ComputersChanged, [&Presence] {
        std::printf("%s\n", Presence.Computers().join(',').constData());
        std::fflush(stdout);
    });
    if (!Presence.Start(Port))
        return 2;
    QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

} // namespace

class TestPresence : public QObject {
    Q_OBJECT

    quint16 FPort = 0;
    qint64 FNow = 0;
    QList<QByteArrayList> FLooks; // what each look of the watcher finds; the last one stays
    std::unique_ptr<TPeer> FAir;
    std::unique_ptr<TPresence> FPresence;

    // A look lists "address" or "address broadcast".
    void MakePresence(const QList<QByteArrayList> &Looks = {{OurAddress, OurOtherAddress}}) {
        FLooks = Looks;
        FPresence = std::make_unique<TPresence>();
        FPresence->SetClock([this] { return FNow; });
        FPresence->SetAddressSource([this] {
            QList<QNetworkAddressEntry> Found;
            for (const QByteArray &A : FLooks.size() > 1 ? FLooks.takeFirst() : FLooks.value(0)) {
                const QByteArrayList Parts = A.split(' ');
                Found.append(QNetworkAddressEntry());
                Found.last().setIp(QHostAddress(QString::fromLatin1(Parts[0])));
                Found.last().setBroadcast(QHostAddress(QString::fromLatin1(Parts.value(1))));
            }
            return Found;
        });
    }
    bool IsListed(const QByteArray &Address) const {
        return FPresence->Computers().contains(Address);
    }

private Q_SLOTS:
    void initTestCase() {
        QStringList Interfaces;
        for (const QNetworkInterface &Interface : QNetworkInterface::allInterfaces())
            Interfaces.append(Interface.name());
        QVERIFY2(Interfaces == QStringList{"lo"}, "run in a private network namespace");
        QVERIFY(TTwoHosts::Run({"ip", "addr", "replace", "10.251.0.1/24", "dev", "lo"}));
    }
    void cleanupTestCase() { TTwoHosts::Run({"ip", "addr", "del", "10.251.0.1/24", "dev", "lo"}); }
    void init() {
        FNow = 0;
        FPort = FreePort();
        FAir = std::make_unique<TPeer>("255.255.255.255", FPort);
        QVERIFY(FAir->Bound);
    }
    void cleanup() {
        FPresence.reset();
        FAir.reset();
    }

    void wordsLeaveFromThePresencePort() {
        MakePresence();
        QVERIFY(FPresence->Start(FPort));
        QList<QNetworkDatagram> Air = FAir->Take();
        QCOMPARE(Air.size(), 1);
        QCOMPARE(Air[0].data(), QByteArray("VELOXHELLO"));
        QCOMPARE(Air[0].senderPort(), int(FPort));
        QCOMPARE(Air[0].senderAddress().toString().toLatin1(), OurAddress);

        // Our greeting came back to us before this one: only the peer is listed.
        TPeer Peer(PeerAddress, FPort);
        Peer.Send("VELOXHELLO", FPort);
        const QList<QNetworkDatagram> Answers = Peer.Wait();
        QCOMPARE(FPresence->Computers(), QByteArrayList({"My Computer", PeerAddress}));
        QCOMPARE(Answers.size(), 1);
        QCOMPARE(Answers[0].data(), QByteArray("VELOXALIVE"));
        QCOMPARE(Answers[0].senderPort(), int(FPort));
        QVERIFY(FAir->Take().isEmpty()); // the answer went to the peer alone

        FPresence->SayGoodbye();
        Air = FAir->Take();
        QCOMPARE(Air.size(), 1);
        QCOMPARE(Air[0].data(), QByteArray("VELOXCLOSE"));
        QCOMPARE(Air[0].senderPort(), int(FPort));
        QCOMPARE(Air[0].senderAddress().toString().toLatin1(), OurAddress);
    }

    void datagramRules_data() {
        QTest::addColumn<QByteArray>("Sender");
        QTest::addColumn<QByteArrayList>("Words");
        QTest::addColumn<bool>("Listed");
        QTest::addColumn<int>("Answers");
        const QByteArray Hello = "VELOXHELLO", Alive = "VELOXALIVE", Close = "VELOXCLOSE";
        const QByteArray Peer = PeerAddress;
        QTest::newRow("greeting") << Peer << QByteArrayList{Hello} << true << 1;
        QTest::newRow("greeting thrice")
            << Peer << QByteArrayList{Hello, Hello, Hello} << true << 3;
        QTest::newRow("answer") << Peer << QByteArrayList{Alive} << true << 0;
        QTest::newRow("answer with more")
            << Peer << QByteArrayList{Alive + QByteArray("\0x", 2)} << true << 0;
        QTest::newRow("greeting with more") << Peer << QByteArrayList{Hello + ' '} << false << 0;
        QTest::newRow("greeting cut short") << Peer << QByteArrayList{"VELOXHELL"} << false << 0;
        QTest::newRow("greeting lower case") << Peer << QByteArrayList{"veloxhello"} << false << 0;
        QTest::newRow("answer mixed case") << Peer << QByteArrayList{"VeloxAlive"} << false << 0;
        QTest::newRow("empty") << Peer << QByteArrayList{""} << false << 0;
        QTest::newRow("goodbye") << Peer << QByteArrayList{Hello, Close} << false << 1;
        QTest::newRow("goodbye, greeting")
            << Peer << QByteArrayList{Alive, Close, Hello} << true << 1;
        QTest::newRow("goodbye with more")
            << Peer << QByteArrayList{Hello, Close + '\0'} << true << 1;
        QTest::newRow("goodbye lower case")
            << Peer << QByteArrayList{Hello, "veloxclose"} << true << 1;
        QTest::newRow("goodbye unlisted") << Peer << QByteArrayList{Close} << false << 0;
        QTest::newRow("from 127.0.0.1")
            << QByteArray("127.0.0.1") << QByteArrayList{Hello} << false << 0;
        QTest::newRow("from our other address")
            << OurOtherAddress << QByteArrayList{Hello, Alive} << false << 0;
        QTest::newRow("from loopback")
            << QByteArray("127.0.0.2") << QByteArrayList{Hello, Alive} << false << 0;
    }
    void datagramRules() {
        QFETCH(QByteArray, Sender);
        QFETCH(QByteArrayList, Words);
        QFETCH(bool, Listed);
        QFETCH(int, Answers);
        MakePresence();
        QVERIFY(FPresence->Start(FPort));
        // Peers heard before and after the words: the list is settled once the last shows.
        TPeer Before("10.251.0.3", FPort), After(SteadyAddress, FPort);
        // A socket on 127.0.0.1 and the presence port would take what is meant for us.
        TPeer Peer(Sender, Sender == "127.0.0.1" ? 0 : FPort);
        QVERIFY(Before.Bound && After.Bound && Peer.Bound);
        Before.Send("VELOXALIVE", FPort);
        for (const QByteArray &Word : Words)
            Peer.Send(Word, FPort);
        After.Send("VELOXALIVE", FPort);
        QTRY_VERIFY(IsListed(SteadyAddress));

        QByteArrayList Expected = {"My Computer", "10.251.0.3"};
        if (Listed)
            Expected.append(Sender);
        Expected.append(SteadyAddress);
        QCOMPARE(FPresence->Computers(), Expected);
        QCOMPARE(SendersOf(Peer.Take(), "VELOXALIVE").size(), Answers);
    }

    // Names travel after "VELOXALIVE"; a greeting stays the bare word.
    void names_data() {
        QTest::addColumn<QByteArrayList>("Words");
        QTest::addColumn<QString>("Name");
        const QByteArray Named = "VELOXALIVE\nNAME=";
        QTest::newRow("named") << QByteArrayList{Named + "Kitchen"} << u"Kitchen"_qs;
        QTest::newRow("among other fields")
            << QByteArrayList{"VELOXALIVE\nX=1" + Named.mid(10) + "Hall\nY=2"} << u"Hall"_qs;
        QTest::newRow("cleaned") << QByteArrayList{Named + "\xE2\x80\xAEHa\tll\x01"} << u"Ha ll"_qs;
        QTest::newRow("renamed") << QByteArrayList{Named + "A", Named + "B"} << u"B"_qs;
        QTest::newRow("oversized not read")
            << QByteArrayList{Named + QByteArray(600, 'x')} << QString();
        QTest::newRow("goodbye forgets") << QByteArrayList{Named + "A", "VELOXCLOSE"} << QString();
    }
    void names() {
        QFETCH(QByteArrayList, Words);
        QFETCH(QString, Name);
        MakePresence();
        FPresence->SetName(u"K\u00fcche"_qs);
        QVERIFY(FPresence->Start(FPort));
        QCOMPARE(SendersOf(FAir->Take(), "VELOXALIVE\nNAME=K\xC3\xBC"
                                         "che")
                     .size(),
                 1);
        TPeer Peer(PeerAddress, FPort), After(SteadyAddress, FPort);
        for (const QByteArray &Word : Words)
            Peer.Send(Word, FPort);
        After.Send("VELOXHELLO", FPort);
        QCOMPARE(SendersOf(After.Wait(), "VELOXALIVE\nNAME=K\xC3\xBC"
                                         "che")
                     .size(),
                 1);
        QCOMPARE(FPresence->NameOf(PeerAddress), Name);
    }

    void peerSources_data() {
        QTest::addColumn<QByteArray>("Source");
        QTest::addColumn<bool>("Peer");
        for (const char *Refused : {"127.0.0.2", "0.1.2.3", "224.0.0.251", "239.255.255.250",
                                    "255.255.255.255", "10.9.255.255", "192.168.1.255"})
            QTest::newRow(Refused) << QByteArray(Refused) << false;
        QTest::newRow("192.168.1.20") << QByteArray("192.168.1.20") << true;
    }
    void peerSources() {
        QFETCH(QByteArray, Source);
        QFETCH(bool, Peer);
        MakePresence({{OurAddress + " 10.9.255.255", OurOtherAddress + " 192.168.1.255"}});
        FPresence->Watch();
        QCOMPARE(FPresence->IsPeerSource(QHostAddress(QString::fromLatin1(Source))), Peer);
    }

    void fullListMakesRoom_data() {
        QTest::addColumn<QList<int>>("HeardAgain"); // before a newcomer
        QTest::addColumn<int>("Gone");
        QTest::newRow("least recently heard goes") << QList<int>{} << 0;
        QTest::newRow("heard again stays") << QList<int>{0, 2} << 1;
    }
    void fullListMakesRoom() {
        QFETCH(QList<int>, HeardAgain);
        QFETCH(int, Gone);
        MakePresence();
        const auto Peer = [](int I) { return QHostAddress(0x0A140001u + quint32(I)); };
        for (int I = 0; I < TPresence::MaxPeers; ++I)
            FPresence->Receive("VELOXALIVE", Peer(I));
        for (int I : HeardAgain)
            FPresence->Receive("VELOXALIVE", Peer(I));
        FPresence->Receive("VELOXALIVE", Peer(TPresence::MaxPeers));
        QCOMPARE(FPresence->Computers().size(), 1 + TPresence::MaxPeers);
        QVERIFY(IsListed(Peer(TPresence::MaxPeers).toString().toLatin1()));
        QVERIFY(!IsListed(Peer(Gone).toString().toLatin1()));
    }

    void silentPeerLeaves_data() {
        QTest::addColumn<QList<int>>("GreetsAt");
        QTest::addColumn<bool>("AnswersUs");
        QTest::addColumn<int>("GoneAt"); // 0: stays
        QTest::newRow("silent after one greeting") << QList<int>{0} << false << 180000;
        QTest::newRow("greets each minute, then silent")
            << QList<int>{0, 60000, 120000, 180000} << false << 360000;
        QTest::newRow("answers our greetings") << QList<int>{0} << true << 0;
    }
    void silentPeerLeaves() {
        QFETCH(QList<int>, GreetsAt);
        QFETCH(bool, AnswersUs);
        QFETCH(int, GoneAt);
        MakePresence();
        QVERIFY(FPresence->Start(FPort));
        TPeer Peer(PeerAddress, FPort), Steady(SteadyAddress, FPort);
        int Greetings = FAir->Take().size();
        for (FNow = 0; FNow <= 400000; FNow += 1000) {
            if (GreetsAt.contains(int(FNow)))
                Peer.Send("VELOXHELLO", FPort);
            // Steady greets at every step; its answer shows the peer's words were handled.
            Steady.Send("VELOXHELLO", FPort);
            QVERIFY(!Steady.Wait().isEmpty());
            FPresence->Watch();
            const int Heard = FAir->Take().size();
            Greetings += Heard;
            if (AnswersUs && Heard > 0)
                Peer.Send("VELOXALIVE", FPort);
            const bool Expected = GoneAt == 0 || FNow < GoneAt;
            QVERIFY2(IsListed(PeerAddress) == Expected, qPrintable(QString::number(FNow)));
        }
        QCOMPARE(Greetings, 1 + 400000 / TPresence::GreetIntervalMs);
        QVERIFY(IsListed(SteadyAddress));
    }

    void addressWatcher_data() {
        QTest::addColumn<QList<QByteArrayList>>("Looks");
        QTest::addColumn<QByteArrayList>("LocalIPs");
        QTest::addColumn<QByteArrayList>("GreetedFrom");
        using L = QList<QByteArrayList>;
        using A = QByteArrayList;
        QTest::newRow("online at start") << L{{"127.0.0.5"}} << A{"127.0.0.5"} << A{"127.0.0.5"};
        QTest::newRow("no address") << L{{}} << A{} << A{};
        QTest::newRow("loopback only") << L{{"127.0.0.1"}} << A{} << A{};
        QTest::newRow("same address")
            << L{{"127.0.0.5"}, {"127.0.0.5"}} << A{"127.0.0.5"} << A{"127.0.0.5"};
        QTest::newRow("direct change")
            << L{{"127.0.0.5"}, {"127.0.0.6"}} << A{"127.0.0.5", "127.0.0.6"}
            << A{"127.0.0.5", "127.0.0.6"};
        QTest::newRow("second address changes")
            << L{{"127.0.0.5", "127.0.0.8"}, {"127.0.0.5", "127.0.0.9"}} << A{"127.0.0.5"}
            << A{"127.0.0.5"};
        QTest::newRow("every network greeted")
            << L{{"127.0.0.5 127.0.0.255", "127.0.0.8", "127.0.0.9 127.0.1.255",
                  "127.0.0.10 127.0.1.255"}}
            << A{"127.0.0.5"} << A{"127.0.0.5", "127.0.0.9"};
        // The greeting while offline has nowhere to go here.
        QTest::newRow("offline, then back elsewhere")
            << L{{"127.0.0.5"}, {}, {"127.0.0.6"}} << A{"127.0.0.5", "127.0.0.1", "127.0.0.6"}
            << A{"127.0.0.5", "127.0.0.6"};
    }
    void addressWatcher() {
        QFETCH(QList<QByteArrayList>, Looks);
        QFETCH(QByteArrayList, LocalIPs);
        QFETCH(QByteArrayList, GreetedFrom);
        MakePresence(Looks);
        QSignalSpy Changes(FPresence.get(), &TPresence::LocalIPChanged);
        QVERIFY(FPresence->Start(FPort));
        for (qsizetype I = 1; I < Looks.size(); ++I)
            FPresence->Watch();
        QByteArrayList Reported;
        for (const QList<QVariant> &Args : std::as_const(Changes))
            Reported.append(Args.at(0).toByteArray());
        QCOMPARE(Reported, LocalIPs);
        QCOMPARE(FPresence->LocalIP(), LocalIPs.value(LocalIPs.size() - 1, "127.0.0.1"));
        QCOMPARE(SendersOf(FAir->Take(), "VELOXHELLO"), GreetedFrom);
    }

    void portTakenKeepsWatching() {
        QUdpSocket Holder;
        QVERIFY(Holder.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::DontShareAddress));
        MakePresence({{"127.0.0.5"}, {"127.0.0.6"}});
        QVERIFY(!FPresence->Start(Holder.localPort()));
        FPresence->Watch();
        QCOMPARE(FPresence->LocalIP(), "127.0.0.6");
    }

    // The watcher sees an interface come and go, though it scans only after the kernel says so.
    void watcherSeesInterfaceChanges() {
        TPresence A;
        QVERIFY(A.Start(FPort));
        QCOMPARE(A.LocalIP(), QByteArray("127.0.0.1"));
        A.Watch(); // nothing changed: the last scan stands
        TTwoHosts Hosts;
        QVERIFY2(Hosts.SetUp(), qPrintable(Hosts.Error()));
        A.Watch();
        QCOMPARE(A.LocalIP(), TTwoHosts::AddressA);
        Hosts.TearDown();
        A.Watch();
        QCOMPARE(A.LocalIP(), QByteArray("127.0.0.1"));
    }

    void twoHostsListEachOther() {
        TTwoHosts Hosts;
        QVERIFY2(Hosts.SetUp(), qPrintable(Hosts.Error()));
        TPresence A;
        QVERIFY(A.Start(FPort));
        QCOMPARE(A.LocalIP(), TTwoHosts::AddressA);
        QProcess B;
        Hosts.StartInB(B, {QCoreApplication::applicationFilePath(), "--presence-peer",
                           QString::number(FPort)});
        QVERIFY2(B.waitForStarted(5000), qPrintable(B.errorString()));
        QByteArray Printed;
        const bool Both = QTest::qWaitFor(
            [&] {
                Printed += B.readAllStandardOutput();
                return A.Computers().contains(TTwoHosts::AddressB) &&
                       Printed.contains(TTwoHosts::AddressA);
            },
            2000);
        QVERIFY2(Both,
                 qPrintable(A.Computers().join(',') + " / " + Printed + B.readAllStandardError()));
        B.kill();
        B.waitForFinished(5000);
    }
};

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--presence-peer") == 0)
        return RunPeer(QByteArray(argv[2]).toUShort());
    TestPresence Test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&Test, argc, argv);
}

#include "tst_presence.moc"
