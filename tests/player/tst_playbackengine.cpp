// The engine playing: volume, position reports, transport, moving through the list.
#include "EngineRig.h"

#include <QSignalSpy>
#include <QtTest>

class TstPlaybackEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encodeTrackURL_data() {
        QTest::addColumn<QByteArray>("In");
        QTest::addColumn<QByteArray>("Out");
        QTest::newRow("plain") << QByteArray("http://h:1/a.mp3") << QByteArray("http://h:1/a.mp3");
        QTest::newRow("path specials") << QByteArray("http://h/a b*#%<>+[].mp3")
                                       << QByteArray("http://h/a%20b%2A%23%25%3C%3E%2B%5B%5D.mp3");
        QTest::newRow("controls and high bytes") << QByteArray("http://h/\x01\x7f\xc3\xa9.mp3")
                                                 << QByteArray("http://h/%01%7F%C3%A9.mp3");
        QTest::newRow("plus kept in query") << QByteArray("http://h/a+b.mp3?q=a+b c#x")
                                            << QByteArray("http://h/a%2Bb.mp3?q=a+b%20c%23x");
        QTest::newRow("second question mark is query text")
            << QByteArray("http://h/a?b?c+") << QByteArray("http://h/a?b?c+");
        QTest::newRow("host untouched, query without path")
            << QByteArray("http://h?x=[1]") << QByteArray("http://h?x=%5B1%5D");
        QTest::newRow("other safe characters") << QByteArray("http://h/~a-b_c.d!$&'(),;=:@")
                                               << QByteArray("http://h/~a-b_c.d!$&'(),;=:@");
    }

    void encodeTrackURL() {
        QFETCH(QByteArray, In);
        QFETCH(QByteArray, Out);
        QCOMPARE(EncodeTrackURL(In), Out);
        QCOMPARE(PercentDecode(EncodeTrackURL(In)), In);
    }

    void numbers() {
        QCOMPARE(RoundHalfEven(2.5), 2);
        QCOMPARE(RoundHalfEven(3.5), 4);
        QCOMPARE(RoundHalfEven(0.5), 0);
        QCOMPARE(RoundHalfEven(2.5000001), 3);
        QCOMPARE(RoundHalfEven(99.49), 99);
        // The separator stays "." under a locale that writes ",".
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(FormatSeconds(240), QByteArray("240.00"));
        QCOMPARE(FormatSeconds(1.005), QByteArray("1.00"));
        QLocale::setDefault(QLocale::c());
    }

    void greetingAndGet() {
        TRig R;
        R.Media.Muted = true;
        QSignalSpy Shown(R.Engine.get(), &TPlaybackEngine::ShowRequested);
        R.Engine->OnControllerConnected(3);
        QCOMPARE(R.Take(), QByteArrayList({"#3 MUTE / -1", "#3 VOLUMN / 40", "#3 STATE / 0"}));
        QCOMPARE(Shown.count(), 1);
        QVERIFY(R.Engine->TakeShowRequest());
        QVERIFY(!R.Engine->TakeShowRequest());

        R.Command("GET", {});
        QCOMPARE(R.Take(), QByteArrayList({"#7 LIST"}));
        R.Load({A, B});
        R.Tick();
        R.Take();
        R.Command("GET", {});
        QCOMPARE(R.Take(), QByteArrayList({"#7 LIST / " + A + " / " + B, "#7 URL / " + A}));
    }

    void quietStartClimbsOneStepPerTick() {
        TRig R(5);
        R.Load({A});
        R.Tick(); // starts A
        QCOMPARE(R.Take(), QByteArrayList({"STATE / 9", "URL / " + A}));
        R.Media.Enter(3);
        QCOMPARE(R.Take(), QByteArrayList({"VOLUMN / 1", "STATE / 3"}));
        R.Tick(6);
        QCOMPARE(R.Take(),
                 QByteArrayList({"VOLUMN / 2", "VOLUMN / 3", "VOLUMN / 4", "VOLUMN / 5"}));
        QVERIFY(!R.Engine->IsFading());
        QCOMPARE(R.Media.Vol, 5);
    }

    void quietStartWithZeroVolume() {
        TRig R(0);
        R.Media.Enter(3);
        QCOMPARE(R.Take(), QByteArrayList({"STATE / 3"}));
        QVERIFY(!R.Engine->IsFading());
    }

    void quietStartEnds_data() {
        QTest::addColumn<QString>("How");
        QTest::addColumn<QByteArrayList>("Expected");
        QTest::addColumn<int>("Volume");
        QTest::newRow("local volume change") << "volume" << QByteArrayList({"VOLUMN / 25"}) << 25;
        QTest::newRow("mute") << "mute" << QByteArrayList({"MUTE / -1"}) << 3;
        QTest::newRow("VOLUMN command") << "command" << QByteArrayList({"VOLUMN / 60"}) << 60;
    }

    void quietStartEnds() {
        QFETCH(QString, How);
        QFETCH(QByteArrayList, Expected);
        QFETCH(int, Volume);
        TRig R(40);
        R.Media.Enter(3);
        R.Tick(2); // 2, 3
        R.Take();
        if (How == "volume")
            R.Media.Vol = 25;
        else if (How == "mute")
            R.Media.Muted = true;
        else
            R.Command("VOLUMN", {"60"}, 60);
        R.Tick(5);
        QCOMPARE(R.Take(), Expected);
        QCOMPARE(R.Media.Vol, Volume);
        QVERIFY(!R.Engine->IsFading());
    }

    void volumeCommandClamps() {
        TRig R;
        R.Command("VOLUMN", {"250"}, 250);
        QCOMPARE(R.Media.Vol, 100);
        R.Command("VOLUMN", {"-3"}, -3);
        QCOMPARE(R.Media.Vol, 0);
    }

    void quietGapCountsFromLastEntryIntoPlaying_data() {
        QTest::addColumn<qint64>("PausedFor");
        QTest::addColumn<bool>("Quiet");
        QTest::newRow("14 minutes") << 14 * Minute << false;
        QTest::newRow("16 minutes") << 16 * Minute << true;
    }

    void quietGapCountsFromLastEntryIntoPlaying() {
        QFETCH(qint64, PausedFor);
        QFETCH(bool, Quiet);
        TRig R(3);
        R.Media.Enter(3);
        R.Tick(5);
        R.Clock += 2 * Minute;
        R.Media.Enter(2);
        R.Clock += PausedFor - 2 * Minute; // measured from the start of play, not the pause
        R.Take();
        R.Media.Enter(3);
        QCOMPARE(R.Take().contains("VOLUMN / 1"), Quiet);
    }

    void positionReports_data() {
        QTest::addColumn<double>("Length");
        QTest::addColumn<int>("Reports"); // in 60 ticks, one second of play each
        QTest::newRow("240 s track") << 240.0 << 25;
        QTest::newRow("60 s track") << 60.0 << 60;
    }

    void positionReports() {
        QFETCH(double, Length);
        QFETCH(int, Reports);
        TRig R(0);
        R.Media.Loaded = true;
        R.Media.Length = Length;
        R.Media.Enter(3);
        R.Take();
        int Seen = 0;
        int LastTick = 0;
        for (int Tick = 1; Tick <= 60; ++Tick) {
            R.Media.Position = Tick;
            R.Engine->PositionTick();
            const QByteArrayList Got = R.Take();
            if (Got.isEmpty())
                continue;
            QCOMPARE(Got.size(), 1);
            QVERIFY(Got[0].startsWith("POSITION / " + FormatSeconds(Length) + " / " +
                                      FormatSeconds(Tick) + " / " + QByteArray::number(Tick) +
                                      "s"));
            QVERIFY2(Tick - LastTick <= 3, "a percent step was not reported");
            LastTick = Tick;
            ++Seen;
        }
        QCOMPARE(Seen, Reports);
    }

    void positionNeedsPlayingAndDuration() {
        TRig R;
        R.Media.Loaded = true;
        R.Media.Length = 0; // a stream
        R.Media.State = 3;
        R.Media.Position = 10;
        R.Engine->PositionTick();
        R.Media.Length = 100;
        R.Media.State = 2;
        R.Engine->PositionTick();
        QVERIFY(R.Take().isEmpty());
        QCOMPARE(R.Engine->DuraTicks(), 2); // counted all the same
    }

    void positionPercentRoundsHalfToEven() {
        TRig R;
        R.Media.Loaded = true;
        R.Media.Length = 200;
        R.Media.State = 3;
        R.Media.Position = 5; // 2.5 %
        R.Engine->PositionTick();
        QCOMPARE(R.Engine->LastPercent(), 2);
        R.Media.Position = 7; // 3.5 %
        R.Engine->PositionTick();
        QCOMPARE(R.Engine->LastPercent(), 4);
        R.Media.Position = 7.2; // still 4 %
        R.Engine->PositionTick();
        QCOMPARE(R.Take().size(), 2);
    }

    void infoLineTurns_data() {
        QTest::addColumn<QString>("Author");
        QTest::addColumn<QByteArrayList>("Lines"); // the fourth line on ticks 4, 8, 12, 16
        QTest::newRow("with author")
            << "Band"
            << QByteArrayList({"Music: Song", "Author: Band", "Music: Song", "Author: Band"});
        QTest::newRow("no author") << "" << QByteArrayList({"Music: Song", "", "Music: Song", ""});
    }

    void infoLineTurns() {
        QFETCH(QString, Author);
        QFETCH(QByteArrayList, Lines);
        TRig R;
        R.Media.Loaded = true;
        R.Media.Length = 50; // every second is a new percentage
        R.Media.State = 3;
        R.Media.Name = "Song";
        R.Media.Author = Author;
        for (int Tick = 1; Tick <= 16; ++Tick) {
            R.Media.Position = Tick;
            R.Engine->PositionTick();
            const QByteArrayList Got = SplitLines(R.Take().value(0).replace(" / ", "\n"));
            QByteArray Fourth = Got.size() > 4 ? Got[4] : QByteArray();
            QCOMPARE(Fourth, Tick % 4 ? QByteArray() : Lines[Tick / 4 - 1]);
        }
    }

    void autoAdvance() {
        TRig R(0);
        R.Load({A, "  ", "ftp://h/x.mp3", B});
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, A);
        QCOMPARE(R.Engine->Model()->MarkedRow(), 0);
        R.Tick(); // still loading: nothing moves
        QCOMPARE(R.Engine->GetCurrentIndex(), 0);
        R.Media.Enter(8);
        R.Media.Enter(1); // track ended
        R.Tick();         // blank row: skipped on this tick
        QCOMPARE(R.Media.LoadedURL, A);
        R.Tick(); // non-http row: never reaches the component
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, B);
        QCOMPARE(R.Engine->Model()->MarkedRow(), 3);
        R.Media.Enter(10); // could not open
        R.Tick();          // wraps
        QCOMPARE(R.Media.LoadedURL, A);
        QCOMPARE(R.Engine->GetCurrentIndex(), 0);
        R.Media.Enter(2); // paused stays paused
        R.Tick(3);
        QCOMPARE(R.Media.LoadedURL, A);
    }

    void oneRowRepeatsAndIndexPastEnd() {
        TRig R(0);
        R.Load({A});
        R.Engine->SetCurrentIndex(7); // rows were removed
        R.Tick();
        QCOMPARE(R.Engine->GetCurrentIndex(), 0);
        R.Media.Enter(1);
        R.Media.Calls.clear();
        R.Tick();
        QCOMPARE(R.Media.Calls, QByteArrayList({"SetURL " + A}));
    }

    // Next plays the track after the current one, also on a speaker a stop held.
    void nextPlaysOnAHeldSpeaker() {
        TRig R(0);
        R.Load({A, B, C});
        R.Tick();
        R.Engine->Hold();
        R.Engine->PlayNext();
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, B);
    }

    // A failed row waits for a list change or a play; with none left the speaker stops and sleeps.
    void failedRowsWait_data() {
        QTest::addColumn<QString>("Failing");
        QTest::addColumn<QString>("Then");  // after 5 ticks, before 5 more
        QTest::addColumn<QString>("Calls"); // loads by track, S for a stop
        QTest::newRow("skipped") << QString("a") << QString() << QString("abcbcbc");
        QTest::newRow("none left") << QString("abc") << QString() << QString("abcS");
        QTest::newRow("list changed") << QString("abc") << QString("add") << QString("abcSbcda");
        QTest::newRow("played") << QString("abc") << QString("play") << QString("abcSSbS");
    }

    void failedRowsWait() {
        QFETCH(QString, Failing);
        QFETCH(QString, Then);
        QFETCH(QString, Calls);
        TRig R(0);
        R.Load({A, B, C});
        for (int Tick = 0; Tick < 10; ++Tick) {
            if (Tick == 5 && !Then.isEmpty())
                Then == "add" ? R.Engine->AddLocalTracks({Url('D')}) : R.Engine->PlayRow(1);
            R.Tick();
            if (R.Media.PlayState() == TPlayState::Transitioning) // failed, or played to its end
                R.Media.Enter(int(Failing.contains(R.Media.LoadedURL.chopped(4).back())
                                      ? TPlayState::Ready
                                      : TPlayState::Stopped));
        }
        QString Got;
        for (const QByteArray &Call : R.Media.Calls)
            Got += Call == "Stop" ? 'S' : Call.at(Call.size() - 5);
        QCOMPARE(Got, Calls);
        // Controllers see it stopped.
        QCOMPARE(!R.Engine->NeedsPlayTick() && R.TakeOnly("STATE").last() == "STATE / 1",
                 Calls.endsWith('S'));
    }

    // The component joins the queued track without a stop: it is the current track then,
    // controllers hear its URL, no quiet start fades it in, and the track after it is queued.
    void gaplessJoin_data() {
        QTest::addColumn<int>("Playing"); // row playing before the join
        QTest::addColumn<QString>("Meanwhile");
        QTest::addColumn<QByteArray>("Joined");
        QTest::addColumn<QByteArray>("Queued");
        QTest::newRow("next row") << 0 << QString() << B << C;
        QTest::newRow("the last wraps to the first") << 2 << QString() << A << B;
        QTest::newRow("after a 20 minute track") << 0 << QString("20 minutes") << B << C;
        QTest::newRow("a row added after the last") << 2 << QString("add") << Url('D') << A;
        QTest::newRow("the next row failed") << 2 << QString("B failed") << A << C;
    }

    void gaplessJoin() {
        QFETCH(int, Playing);
        QFETCH(QString, Meanwhile);
        QFETCH(QByteArray, Joined);
        QFETCH(QByteArray, Queued);
        TRig R(3);
        R.Load({A, B, C});
        for (const int Row :
             Meanwhile == "B failed" ? QList<int>{1, Playing} : QList<int>{Playing}) {
            R.Engine->PlayRow(Row);
            R.Tick();
            R.Media.Enter(Row == Playing ? 3 : 10);
        }
        R.Tick(5); // the first play's fade ends
        if (Meanwhile == "20 minutes")
            R.Clock += 20 * Minute;
        else if (Meanwhile == "add")
            R.Engine->AddLocalTracks({Url('D')});
        R.Tick();
        R.Take();
        R.Media.Calls.clear();
        R.Media.JoinNext();
        R.Tick(3);
        QCOMPARE(R.Media.Calls, QByteArrayList()); // no stop, no load, no quiet start
        QCOMPARE(R.Take(), QByteArrayList({"URL / " + Joined}));
        QCOMPARE(R.Engine->Model()->MarkedRow(), R.Engine->Locations().indexOf(Joined));
        QCOMPARE(R.Media.NextURL, Queued);
    }

    // The pop-up's first item: "Pause" on the current track while it plays, else "Play",
    // which resumes the current track or starts another.
    void popupPlayOrPause_data() {
        QTest::addColumn<int>("Row");
        QTest::addColumn<int>("State");
        QTest::addColumn<bool>("Pause");
        QTest::addColumn<QByteArrayList>("Calls");
        QTest::newRow("current, playing") << 1 << 3 << true << QByteArrayList({"Pause"});
        QTest::newRow("current, paused") << 1 << 2 << false << QByteArrayList({"Play"});
        QTest::newRow("another row") << 2 << 3 << false << QByteArrayList({"Stop"});
    }

    void popupPlayOrPause() {
        QFETCH(int, Row);
        QFETCH(int, State);
        QFETCH(bool, Pause);
        QFETCH(QByteArrayList, Calls);
        TRig R(0);
        R.Load({A, B, C});
        R.Engine->SetCurrentIndex(0);
        R.Tick(); // B
        R.Media.Enter(State);
        R.Media.Calls.clear();
        QCOMPARE(R.Engine->OffersPause(Row), Pause);
        R.Engine->PlayOrPause(Row, Pause);
        QCOMPARE(R.Media.Calls, Calls);
        if (Row != 1) {
            R.Tick();
            QCOMPARE(R.Media.LoadedURL, C);
        }
    }

    // The volume is lowered before the track is handed over, so its first sound is quiet;
    // the wire still says "VOLUMN" "1" right before "STATE" "3".
    void quietStartLowersVolumeFirst_data() {
        QTest::addColumn<QString>("How");
        QTest::addColumn<QByteArrayList>("Calls");
        QTest::newRow("first track, after a failed load")
            << "first"
            << QByteArrayList({"Volume 1", "SetURL " + A, "Volume 40", "Volume 1", "SetURL " + B});
        QTest::newRow("next track after 16 minutes")
            << "next" << QByteArrayList({"Volume 1", "SetURL " + B});
        QTest::newRow("resume after 16 minutes paused")
            << "resume" << QByteArrayList({"Volume 1", "Play"});
    }

    void quietStartLowersVolumeFirst() {
        QFETCH(QString, How);
        QFETCH(QByteArrayList, Calls);
        TRig R(40);
        R.Load({A, B});
        R.Tick();
        R.Media.Enter(How == "first" ? 10 : 3); // the target survives a load that failed
        if (How != "first") {
            R.Tick(50); // the fade ends at 40
            R.Media.Calls.clear();
            R.Clock += 16 * Minute;
            R.Media.Enter(How == "next" ? 1 : 2);
        }
        R.Take();
        if (How == "resume")
            R.Command("STATE", {"3"}, 3); // the fake plays at once
        else
            R.Tick();
        QCOMPARE(R.Media.Calls, Calls);
        if (R.Media.State != 3) {
            R.Take();
            R.Media.Enter(3);
        }
        QCOMPARE(R.Take(), QByteArrayList({"VOLUMN / 1", "STATE / 3"}));
        R.Tick(60);
        QCOMPARE(R.Media.Vol, 40);
    }

    // A quiet start whose track never plays gives the volume back; until a track plays,
    // controllers are told the volume the user set.
    void quietStartWithoutPlaying_data() {
        QTest::addColumn<QByteArray>("How");
        QTest::newRow("load failed") << QByteArray("fail");
        QTest::newRow("stopped") << QByteArray("1");
        QTest::newRow("paused") << QByteArray("2");
        QTest::newRow("skipped") << QByteArray("URL");
    }

    void quietStartWithoutPlaying() {
        QFETCH(QByteArray, How);
        TRig R(40);
        R.Load({A, B});
        R.Tick(); // lowered, then A handed over
        R.Engine->OnControllerConnected(3);
        How == "fail"  ? R.Media.Enter(10)
        : How == "URL" ? R.Command("URL", {B})
                       : R.Command("STATE", {How}, How.toInt());
        QCOMPARE(R.Media.Vol, 40);
        R.Tick(); // B lowered and handed over, unless paused
        R.Engine->OnControllerConnected(4);
        QByteArrayList Sent = R.Take();
        Sent.removeIf([](const QByteArray &M) { return !M.contains("VOLUMN"); });
        QCOMPARE(Sent, QByteArrayList({"#3 VOLUMN / 40", "#4 VOLUMN / 40"}));
    }

    void transportCommands() {
        TRig R(0);
        R.Load({A, B, C});
        R.Engine->SetCurrentIndex(1);
        R.Tick(); // C, the last row
        R.Media.Enter(3);
        R.Command("STATE", {"1"}, 1);
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, A); // stop on the last row starts the first

        R.Media.Calls.clear();
        R.Command("STATE", {"4"}, 4);
        R.Command("STATE", {"0"}, 0);
        QVERIFY(R.Media.Calls.isEmpty());
        R.Command("STATE", {"258"}, 258); // low byte 2
        R.Command("STATE", {"3"}, 3);
        QCOMPARE(R.Media.Calls, QByteArrayList({"Pause", "Play"}));

        R.Command("URL", {AsciiUpper(C)});
        QCOMPARE(R.Engine->GetCurrentIndex(), 1);
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, C);
        R.Command("URL", {A});
        QCOMPARE(R.Engine->GetCurrentIndex(), -1);
        R.Tick();
        QCOMPARE(R.Media.LoadedURL, A);
        R.Media.Calls.clear();
        R.Command("URL", {"http://elsewhere/z.mp3"});
        R.Command("URL", {""});
        QVERIFY(R.Media.Calls.isEmpty());

        R.Media.Length = 200;
        R.Command("UPDATEPOSITION", {"50"}, 50);
        R.Command("UPDATEPOSITION", {"150"}, 150);
        QCOMPARE(R.Media.Calls, QByteArrayList({"Seek 100", "Seek 200"}));
        R.Media.Loaded = false;
        R.Command("UPDATEPOSITION", {"10"}, 10);
        QCOMPARE(R.Media.Calls.size(), 2);

        R.Command("MUTE", {"1"}, 1);
        R.Tick();
        QVERIFY(R.Media.Muted);
        QCOMPARE(R.TakeOnly("MUTE"), QByteArrayList({"MUTE / -1"}));
        R.Command("MUTE", {"0"}, 0);
        R.Tick();
        QCOMPARE(R.TakeOnly("MUTE"), QByteArrayList({"MUTE / 0"}));
    }
};

QTEST_GUILESS_MAIN(TstPlaybackEngine)
#include "tst_playbackengine.moc"
