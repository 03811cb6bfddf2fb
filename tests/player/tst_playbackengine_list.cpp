// The engine's play list: list jobs, the owner's edits, limits, the LIST and URL messages.
#include "EngineRig.h"

#include <QSignalSpy>
#include <QtTest>

class TstPlaybackEngineList : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
        // The track after the current one waits in the component, to follow without a gap.
        if (Moved)
            QCOMPARE(R.Media.NextURL, Url(Order.at((CurrentAfter + 1) % Order.size())));
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
        QCOMPARE(R.Media.NextURL, Next);

        R.Media.Enter(1); // the track ends
        R.Tick();
        QCOMPARE(R.Media.Calls,
                 Next.isEmpty() ? QByteArrayList() : QByteArrayList({"SetURL " + Next}));
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
};

QTEST_GUILESS_MAIN(TstPlaybackEngineList)
#include "tst_playbackengine_list.moc"
