#include "AsciiText.h"
#include "FakeMedia.h"
#include "PlaybackEngine.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

constexpr qint64 Minute = 60 * 1000;

QByteArray Render(const QByteArray &Word, const QByteArray &Payload) {
    QByteArray Out = Word;
    for (const QByteArray &Line : SplitLines(Payload))
        Out += " / " + Line;
    return Out;
}

// One engine on a fake component and a hand-driven clock, with every message it sends.
struct TRig {
    TFakeMedia Media;
    qint64 Clock = 1000000;
    QByteArrayList Sent;
    std::unique_ptr<TPlaybackEngine> Engine;

    explicit TRig(int Volume = 40) {
        Media.Vol = Volume;
        TMessageSink Sink;
        Sink.Broadcast = [this](const QByteArray &W, const QByteArray &P, const QByteArray &Skip) {
            Sent.append(Render(W, P) + (Skip.isEmpty() ? "" : " (skip " + Skip + ")"));
        };
        Sink.SendToConnection = [this](TConnectionId Id, const QByteArray &W, const QByteArray &P) {
            Sent.append("#" + QByteArray::number(Id) + " " + Render(W, P));
        };
        Engine = std::make_unique<TPlaybackEngine>(&Media, Sink, [this] { return Clock; });
    }
    void Command(const QByteArray &Word, const QByteArrayList &Lines, qint32 Value = 0,
                 const QByteArray &Peer = "10.0.0.5") {
        Engine->ExecuteCommand(7, Peer, TCommandMessage{Word, Lines, Value});
    }
    // A list already in place, without the start of its first track.
    void Load(const QByteArrayList &URLs) {
        Engine->AddLocalTracks(URLs);
        Engine->ProcessListJob();
        Sent.clear();
    }
    QByteArrayList Take() { return std::exchange(Sent, {}); }
    QByteArrayList TakeOnly(const QByteArray &Word) {
        QByteArrayList Out;
        for (const QByteArray &M : std::exchange(Sent, {}))
            if (M.startsWith(Word + " ") || M == Word)
                Out.append(M);
        return Out;
    }
    void Tick(int Count = 1) {
        for (int I = 0; I < Count; ++I)
            Engine->PlayTick();
    }
};

const QByteArray A = "http://10.0.0.5:37401/a.mp3";
const QByteArray B = "http://10.0.0.5:37401/b.mp3";
const QByteArray C = "http://10.0.0.5:37401/c.mp3";

QByteArray Url(char Row) {
    return "http://10.0.0.5:37401/" + QByteArray(1, char(Row - 'A' + 'a')) + ".mp3";
}

} // namespace

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

    // Slots on the model's row signals may call straight back into the engine.
    void modelSignalsMayCallBackIntoTheEngine() {
        TRig R;
        QByteArrayList Seen;
        const auto Look = [&] { Seen.append(R.Engine->Locations().join(",")); };
        TPlayListModel *Model = R.Engine->Model();
        connect(Model, &QAbstractItemModel::rowsInserted, this, [&] {
            Look();
            R.Engine->QueueListJob({}, "UPDATELIST", {B});
        });
        connect(Model, &QAbstractItemModel::modelReset, this, Look);
        R.Engine->AddLocalTracks({A, B});
        R.Engine->ProcessListJob();
        R.Engine->ProcessListJob();
        QCOMPARE(Seen, QByteArrayList({A + "," + B, B}));
    }

    void addJobs() {
        TRig R;
        R.Media.LoadedURL = A;
        R.Command("ADD", {}); // a count of 0
        QCOMPARE(R.Engine->QueuedJobCount(), 0);
        R.Command("ADD", {A, B});
        R.Command("ADD", {AsciiUpper(A), C, "", ""});
        QCOMPARE(R.Engine->QueuedJobCount(), 2);
        R.Engine->ProcessListJob();
        QCOMPARE(R.Take(), QByteArrayList({"LIST / " + A + " / " + B, "URL / " + A}));
        R.Engine->ProcessListJob();
        // The duplicate in other letter case is dropped; empty lines each make a row.
        QCOMPARE(R.Engine->Locations(), QByteArrayList({A, B, C, "", ""}));
        QCOMPARE(R.Take(),
                 QByteArrayList({"LIST / " + A + " / " + B + " / " + C + " /  / ", "URL / " + A}));
        R.Engine->ProcessListJob();
        QVERIFY(R.Take().isEmpty());

        const TPlayListModel &M = *R.Engine->Model();
        QCOMPARE(M.rowCount(), 5);
        QCOMPARE(M.data(M.index(2, 0)).toString(), QStringLiteral("c.mp3"));
        QCOMPARE(M.data(M.index(2, 1)).toString(), QStringLiteral("10.0.0.5"));
        for (int Row = 0; Row < 5; ++Row)
            QCOMPARE(M.RowOf(M.ItemAt(Row)), Row);
    }

    // A controller flooding jobs faster than the ticks carry them out cannot grow the queue
    // without bound; the local user's jobs still get in.
    void controllerJobsAreBounded() {
        TRig R;
        for (qsizetype I = 0; I <= MaxQueuedJobs; ++I)
            R.Command("UPDATELIST", {A});
        QCOMPARE(R.Engine->QueuedJobCount(), MaxQueuedJobs);
        R.Engine->AddLocalTracks({B});
        QCOMPARE(R.Engine->QueuedJobCount(), MaxQueuedJobs + 1);
        while (R.Engine->QueuedJobCount() > 0)
            R.Engine->ProcessListJob();

        // By size: an empty queue takes one large job, then nothing more fits.
        const QByteArray Big(MaxQueuedJobBytes / 2 + 1, 'x');
        R.Command("ADD", {Big});
        R.Command("ADD", {Big});
        QCOMPARE(R.Engine->QueuedJobCount(), 1);
        R.Engine->ProcessListJob();
        R.Command("ADD", {Big});
        QCOMPARE(R.Engine->QueuedJobCount(), 1);
    }

    // One controller keeping the queue full cannot keep another controller's jobs out, nor
    // make it wait behind the whole flood: senders take turns.
    void floodingControllerDoesNotStarveOthers() {
        TRig R;
        for (qsizetype I = 0; I < 2 * MaxQueuedJobs; ++I)
            R.Command("ADD", {A}, 1, "10.0.0.1");
        R.Command("UPDATELIST", {C, B}, 2, "10.0.0.2");
        R.Engine->AddLocalTracks({A});
        R.Command("ADD", {A}, 1, "10.0.0.1"); // the flooder holds the largest share
        QCOMPARE(R.Engine->QueuedJobCount(), MaxQueuedJobs + 1);
        R.Engine->ProcessListJob(); // the flooder's first
        R.Engine->ProcessListJob(); // the other controller's turn
        QCOMPARE(R.Engine->Locations(), QByteArrayList({C, B}));
        QCOMPARE(R.TakeOnly("LIST").last(), "LIST / " + C + " / " + B + " (skip 10.0.0.2)");
        R.Engine->ProcessListJob(); // the local user's turn
        QCOMPARE(R.Engine->Locations(), QByteArrayList({C, B, A}));
    }

    void updateList_data() {
        QTest::addColumn<QByteArrayList>("NewList");
        QTest::addColumn<int>("Current"); // CurrentIndex after the job
        QTest::addColumn<int>("Marked");
        // The component holds B, percent-encoded; B is row 1 before the job.
        QTest::newRow("playing track moves")
            << QByteArrayList({C, A, "http://h/x y.mp3"}) << 2 << 2;
        QTest::newRow("playing track gone: on C, next") << QByteArrayList({C, A}) << 0 << -1;
        QTest::newRow("it and C gone: on A, next") << QByteArrayList({A, B}) << 0 << -1;
        QTest::newRow("emptied") << QByteArrayList() << -1 << -1;
    }
    void updateList() {
        QFETCH(QByteArrayList, NewList);
        QFETCH(int, Current);
        QFETCH(int, Marked);
        TRig R;
        R.Load({A, "http://h/x y.mp3", C});
        R.Engine->SetCurrentIndex(0);
        R.Tick(); // starts row 1
        QCOMPARE(R.Media.LoadedURL, QByteArray("http://h/x%20y.mp3"));
        R.Take();

        R.Command("UPDATELIST", NewList, int(NewList.size()), "10.0.0.9");
        R.Engine->ProcessListJob();
        QCOMPARE(R.Engine->Locations(), NewList);
        QCOMPARE(R.Engine->GetCurrentIndex(), Current);
        QCOMPARE(R.Engine->Model()->MarkedRow(), Marked);
        QByteArray List = "LIST";
        for (const QByteArray &L : NewList)
            List += " / " + L;
        QCOMPARE(R.Take(), QByteArrayList({List + " (skip 10.0.0.9)", "URL / http://h/x%20y.mp3"}));
        for (int Row = 0; Row < R.Engine->Model()->RowCount(); ++Row)
            QCOMPARE(R.Engine->Model()->RowOf(R.Engine->FindItem(NewList[Row])), Row);
    }

    void updateListResetsModelOnce() {
        TRig R;
        R.Load({A, B});
        QSignalSpy Resets(R.Engine->Model(), &QAbstractItemModel::modelReset);
        QSignalSpy Inserts(R.Engine->Model(), &QAbstractItemModel::rowsInserted);
        R.Command("UPDATELIST", {B, B, A}, 3);
        R.Engine->ProcessListJob();
        QCOMPARE(R.Engine->Locations(), QByteArrayList({B, A}));
        QCOMPARE(Resets.count(), 1);
        R.Engine->AddLocalTracks({C, "http://h/d.mp3"});
        R.Engine->ProcessListJob();
        QCOMPARE(Inserts.count(), 1);
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

    // The owner's edits on A B C D E, with the current row marked; each change is reported
    // with "LIST" then "URL", a change that moves nothing with nothing.
    void localMoves_data() {
        QTest::addColumn<QString>("Operation");
        QTest::addColumn<QList<int>>("Selected");
        QTest::addColumn<int>("Current"); // CurrentIndex before
        QTest::addColumn<int>("Target");  // drop target
        QTest::addColumn<QByteArray>("Order");
        QTest::addColumn<QList<int>>("Selection");
        QTest::addColumn<int>("CurrentAfter");
        QTest::newRow("down B D") << "down" << QList<int>{1, 3} << 1 << -1 << QByteArray("ACEBD")
                                  << QList<int>{3, 4} << 3;
        QTest::newRow("up B D") << "up" << QList<int>{1, 3} << 3 << -1 << QByteArray("BDACE")
                                << QList<int>{0, 1} << 1;
        QTest::newRow("up C D") << "up" << QList<int>{2, 3} << 0 << -1 << QByteArray("ACDBE")
                                << QList<int>{1, 2} << 0;
        QTest::newRow("next playing C E after A") << "next" << QList<int>{2, 4} << 0 << -1
                                                  << QByteArray("ACEBD") << QList<int>{1, 2} << 0;
        QTest::newRow("drop B C on E")
            << "drop" << QList<int>{1, 2} << 2 << 4 << QByteArray("ADBCE") << QList<int>{2, 3} << 3;
        QTest::newRow("down with the last row")
            << "down" << QList<int>{2, 4} << 1 << -1 << QByteArray("ABCDE") << QList<int>{} << 1;
        QTest::newRow("up with the first row")
            << "up" << QList<int>{0} << 1 << -1 << QByteArray("ABCDE") << QList<int>{} << 1;
        QTest::newRow("next playing, none current")
            << "next" << QList<int>{3} << -1 << -1 << QByteArray("ABCDE") << QList<int>{} << -1;
        QTest::newRow("drop below the last row")
            << "drop" << QList<int>{1} << 0 << -1 << QByteArray("ABCDE") << QList<int>{} << 0;
    }
    void localMoves() {
        QFETCH(QString, Operation);
        QFETCH(QList<int>, Selected);
        QFETCH(int, Current);
        QFETCH(int, Target);
        QFETCH(QByteArray, Order);
        QFETCH(QList<int>, Selection);
        QFETCH(int, CurrentAfter);
        TRig R;
        const QByteArray Rows = "ABCDE";
        QByteArrayList URLs;
        for (const char Row : Rows)
            URLs.append(Url(Row));
        R.Load(URLs);
        R.Media.LoadedURL = A;
        R.Engine->SetCurrentIndex(Current);
        R.Engine->MarkCurrentTrack();

        std::optional<QList<int>> Moved;
        if (Operation == "down")
            Moved = R.Engine->MoveDown(Selected);
        else if (Operation == "up")
            Moved = R.Engine->MoveUp(Selected);
        else if (Operation == "next")
            Moved = R.Engine->MoveToNextPlaying(Selected);
        else
            Moved = R.Engine->DropOn(Selected, Target);

        QByteArray Now;
        QByteArray List = "LIST";
        for (const QByteArray &L : R.Engine->Locations()) {
            Now += L.at(L.size() - 5) - 'a' + 'A';
            List += " / " + L;
        }
        QCOMPARE(Now, Order);
        QCOMPARE(Moved.value_or(QList<int>{}), Selection);
        QCOMPARE(R.Engine->GetCurrentIndex(), CurrentAfter);
        // The mark went with the current track.
        QCOMPARE(R.Engine->Model()->MarkedRow(), CurrentAfter);
        QCOMPARE(R.Take(), Moved ? QByteArrayList({List, "URL / " + A}) : QByteArrayList());
        for (int Row = 0; Row < 5; ++Row)
            QCOMPARE(R.Engine->Model()->RowOf(R.Engine->Model()->ItemAt(Row)), Row);
    }

    // The track playing goes on; then the track after it (or after a removed one) plays.
    void removeRows_data() {
        QTest::addColumn<QList<int>>("Removed");
        QTest::addColumn<int>("Marked"); // where the playing track's mark is afterwards
        QTest::addColumn<QByteArray>("Next");
        QTest::addColumn<int>("MovedNext"); // a row moved to next playing after the removal
        // B (row 1) plays.
        QTest::newRow("the current track") << QList<int>{1} << -1 << Url('C') << -1;
        QTest::newRow("a row above") << QList<int>{0} << 0 << Url('C') << -1;
        QTest::newRow("it and the next") << QList<int>{1, 2} << -1 << Url('D') << -1;
        QTest::newRow("rows below, the list wraps") << QList<int>{2, 3} << 1 << Url('A') << -1;
        QTest::newRow("it, then D next playing") << QList<int>{1} << -1 << Url('D') << 2;
        QTest::newRow("every row") << QList<int>{3, 0, 2, 1} << -1 << QByteArray() << -1;
    }
    void removeRows() {
        QFETCH(QList<int>, Removed);
        QFETCH(int, Marked);
        QFETCH(QByteArray, Next);
        QFETCH(int, MovedNext);
        TRig R(0);
        R.Load({Url('A'), Url('B'), Url('C'), Url('D')});
        R.Engine->SetCurrentIndex(0);
        R.Tick();
        R.Media.Enter(3);
        R.Take();
        R.Media.Calls.clear();

        R.Engine->RemoveRows(Removed);
        QCOMPARE(R.Media.Calls, QByteArrayList()); // plays on
        QCOMPARE(R.Engine->Model()->MarkedRow(), Marked);
        QByteArray List = "LIST";
        for (const QByteArray &L : R.Engine->Locations())
            List += " / " + L;
        QCOMPARE(R.Take(), QByteArrayList({List, "URL / " + Url('B')}));
        QCOMPARE(R.Engine->ListBytes(),
                 qint64(R.Engine->Locations().size() * (Url('A').size() + 2)));
        QVERIFY(MovedNext < 0 || R.Engine->MoveToNextPlaying({MovedNext}));

        R.Media.Enter(1); // the track ends
        R.Tick();
        QCOMPARE(R.Media.Calls,
                 Next.isEmpty() ? QByteArrayList() : QByteArrayList({"SetURL " + Next}));
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
            << "first" << QByteArrayList({"Volume 1", "SetURL " + A, "SetURL " + B});
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

    // Nothing the speaker writes is longer than a line a controller accepts, and no list is
    // larger than a message it accepts: past a limit an ADD adds what fits.
    void listAndLineLimits_data() {
        QTest::addColumn<int>("Rows"); // already in the list
        QTest::addColumn<QByteArrayList>("Added");
        QTest::addColumn<int>("RowsAfter");
        const QByteArray Long16k = "http://h/" + QByteArray(16000, 'x');
        QByteArrayList ManyLong;
        for (int I = 0; I < 1100; ++I)
            ManyLong.append(Long16k + QByteArray::number(I));
        QTest::newRow("row limit")
            << MaxPlayListRows - 2 << QByteArrayList({A, B, C}) << MaxPlayListRows;
        QTest::newRow("byte limit") << 0 << ManyLong << -1; // as many as fit
        QByteArrayList Filling; // with their line breaks, 1024 lines make exactly the limit
        for (int I = 0; I <= 1024; ++I) {
            const QByteArray Head = "http://h/" + QByteArray::number(I);
            Filling.append(Head + QByteArray(MaxPlayListBytes / 1024 - 2 - Head.size(), 'x'));
        }
        QTest::newRow("exactly the byte limit") << 0 << Filling << 1024;
        QTest::newRow("overlong lines skipped")
            << 0
            << QByteArrayList({A, "http://h/" + QByteArray(16376, 'y'),
                               "." + QByteArray(16383, 'z'), "." + QByteArray(16382, 'z'), B})
            << 3;
    }
    void listAndLineLimits() {
        QFETCH(int, Rows);
        QFETCH(QByteArrayList, Added);
        QFETCH(int, RowsAfter);
        TRig R;
        QByteArrayList First;
        for (int I = 0; I < Rows; ++I)
            First.append("http://h/" + QByteArray::number(I));
        R.Load(First);
        R.Command("ADD", Added, int(Added.size()));
        R.Engine->ProcessListJob();
        if (RowsAfter < 0) {
            qint64 Fit = 0;
            for (RowsAfter = 0; Fit + Added[RowsAfter].size() + 2 <= MaxPlayListBytes; ++RowsAfter)
                Fit += Added[RowsAfter].size() + 2;
        }
        QCOMPARE(R.Engine->Model()->RowCount(), RowsAfter);
        const QByteArrayList List = R.Engine->Locations();
        qint64 Bytes = 0;
        for (const QByteArray &L : List) {
            QVERIFY(L.size() + L.startsWith('.') <= MaxCommandLineLength);
            Bytes += L.size() + L.startsWith('.') + 2;
        }
        QVERIFY(Bytes <= MaxPlayListBytes);
        QCOMPARE(R.Engine->ListBytes(), Bytes);
    }

    void writtenLinesFit() {
        TRig R(0);
        // Encoded, the "<" triple: no "URL" line could carry it, so it is skipped; the longest
        // line is played.
        const QByteArray Wide = "http://h/" + QByteArray(6000, '<');
        const QByteArray Longest = "http://h/" + QByteArray(MaxCommandLineLength - 9, 'l');
        R.Load({Wide, Longest, A});
        R.Tick();
        R.Tick();
        QCOMPARE(R.Media.Calls, QByteArrayList({"SetURL " + Longest}));

        R.Media.Enter(3);
        R.Media.Length = 50;
        R.Media.Name = QString(20000, QChar(0xE9)) + "\nAuthor: forged";
        for (int Tick = 1; Tick <= 4; ++Tick) {
            R.Media.Position = Tick;
            R.Engine->PositionTick();
        }
        const QByteArrayList Sent = R.TakeOnly("POSITION");
        const QByteArrayList Lines = SplitLines(Sent.last().mid(11).replace(" / ", "\n"));
        QCOMPARE(Lines.size(), 4);
        QVERIFY(Lines[3].startsWith("Music: "));
        QVERIFY(Lines[3].size() <= MaxCommandLineLength);
        QVERIFY(Lines[3].size() > MaxCommandLineLength - 4);
        QVERIFY(!QString::fromUtf8(Lines[3]).contains(QChar::ReplacementCharacter));
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
