// The remote player page's play list: the owner's edits, the mark, the rows' captions.
#include "RemotePageRig.h"

#include "CommandProtocol.h"

#include <QAction>
#include <QSlider>
#include <QToolButton>

namespace {

enum TEdit { Down, Up, NextPlaying, Drop, Remove };

} // namespace

class TestRemotePlayerPageList : public QObject, private TRemotePageRig {
    Q_OBJECT
private Q_SLOTS:
    void init() { Init(); }
    void cleanup() { Cleanup(); }

    void editing_data() {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QByteArray>("current"); // made the current track first
        QTest::addColumn<QByteArray>("selected");
        QTest::addColumn<int>("edit");
        QTest::addColumn<QByteArray>("target"); // the row a drop lands on
        QTest::addColumn<QByteArray>("result"); // empty with rows: nothing happens, nothing sent
        const auto Row = [](const char *Name, const char *Rows, const char *Current,
                            const char *Selected, TEdit Edit, const char *Target,
                            const char *Result) {
            QTest::newRow(Name) << QByteArray(Rows) << QByteArray(Current) << QByteArray(Selected)
                                << int(Edit) << QByteArray(Target) << QByteArray(Result);
        };
        Row("up C E", "ABCDE", "", "CE", Up, "", "ACEBD");
        Row("down B D", "ABCDE", "", "BD", Down, "", "ACEBD");
        Row("next playing, B current", "ABCDE", "B", "DE", NextPlaying, "", "ABDEC");
        Row("drop A B on D", "ABCD", "", "AB", Drop, "D", "CABD");
        Row("down with the last row", "ABCDE", "", "CE", Down, "", "");
        Row("remove two", "ABCDE", "", "BD", Remove, "", "ACE");
        Row("remove the only row", "A", "", "A", Remove, "", "-");
    }

    void editing() {
        QFETCH(QByteArray, rows);
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, selected);
        QFETCH(int, edit);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, result);
        QVERIFY(Open(rows));
        if (!current.isEmpty()) {
            Select(current);
            FPage->PlaySelectedRow();
            QTRY_COMPARE(Marked(), current);
        }
        Select(selected);
        const qsizetype From = FObserver->Got.size();
        auto *View = Child<QTableView>("FPlayListView");
        switch (edit) {
        case Down:
            QTest::mouseClick(Child<QToolButton>("FDownButton"), Qt::LeftButton);
            if (result.isEmpty())
                FPage->MoveSelectionDown(); // the button is off; the move itself refuses too
            break;
        case Up:
            QTest::mouseClick(Child<QToolButton>("FUpButton"), Qt::LeftButton);
            break;
        case NextPlaying:
            Child<QAction>("FMoveToNextPlayingAction")->trigger();
            break;
        case Drop:
            FPage->DropSelectionOn(int(rows.indexOf(target)));
            break;
        case Remove:
            FPage->activateWindow();
            View->setFocus();
            QTRY_VERIFY(View->hasFocus());
            QTest::keyClick(View, Qt::Key_Delete);
            break;
        }
        if (result.isEmpty()) {
            QCOMPARE(Shown(), rows);
            // Sentinel: an ADD behind the edit; its list is the first the observer gets.
            const QByteArray Sentinel = Url('Z');
            FPage->PostCommand("ADD", Sentinel + "\r\n");
            QVERIFY(QTest::qWaitFor([&] { return FObserver->Has("LIST", From); }, 5000));
            QVERIFY(FObserver->Got.at(FObserver->Find("LIST", From)).endsWith(" / " + Sentinel));
            return;
        }
        result.replace("-", "");
        QCOMPARE(Shown(), result);
        QByteArray List = "LIST";
        QByteArray Moved;
        for (const char L : result) {
            List += " / " + Url(L);
            if (selected.contains(L) && edit != Remove)
                Moved += L;
        }
        QVERIFY2(FObserver->WaitFor(List, From), List.constData());
        QCOMPARE(SelectedLetters(), Moved);
        QCOMPARE(Child<QToolButton>("FRemoveButton")->isEnabled(), !Moved.isEmpty());
        QCOMPARE(Child<QAction>("FMoveToNextPlayingAction")->isEnabled(), !Moved.isEmpty());
        if (result.isEmpty())
            QVERIFY(!Child<QToolButton>("FDownButton")->isEnabled() &&
                    !Child<QToolButton>("FUpButton")->isEnabled());
    }

    void marking_data() {
        QTest::addColumn<QByteArrayList>("list");
        QTest::addColumn<QByteArray>("url"); // empty: no "URL" follows
        QTest::addColumn<int>("shown");
        QTest::addColumn<QList<int>>("marked");

        QTest::newRow("decoded, letter case counts")
            << QByteArrayList{"http://h/a b.mp3", "http://h/Song.mp3", "http://h/song.mp3",
                              "http://h/song.mp3"}
            << QByteArray("http://h/song.mp3") << 4 << QList<int>{2, 3};
        QTest::newRow("percent escapes decoded, plus kept")
            << QByteArrayList{"http://h/a b.mp3", "http://h/a+b.mp3"}
            << QByteArray("http://h/a%2Bb.mp3") << 2 << QList<int>{1};
        QTest::newRow("a list alone marks nothing")
            << QByteArrayList{"http://h/a.mp3"} << QByteArray() << 1 << QList<int>{};
        QTest::newRow("a line that is no URL is a row too")
            << QByteArrayList{"http://h/a.mp3", "http://[::1", "http://h/b.mp3"}
            << QByteArray("http://h/b.mp3") << 3 << QList<int>{2};
    }

    void marking() {
        QFETCH(QByteArrayList, list);
        QFETCH(QByteArray, url);
        QFETCH(int, shown);
        QFETCH(QList<int>, marked);
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        QVERIFY(OpenScripted(Speaker));
        const QByteArray Old =
            "http://h/a.mp3\nhttp://h/b.mp3\nhttp://h/c.mp3\nhttp://h/d.mp3\nx:y";
        Speaker.Say(BuildMessage("LIST", Old) + BuildMessage("URL", "http://h/a.mp3"));
        QTRY_COMPARE(Rows()->rowCount(), 5);
        // Sentinel: a report behind the URL; once it shows, the URL has been handled.
        Speaker.Say(BuildMessage("LIST", list.join("\n")) +
                    (url.isEmpty() ? QByteArray() : BuildMessage("URL", url)) +
                    BuildMessage("VOLUMN", "9"));
        QTRY_COMPARE(Rows()->rowCount(), shown);
        QTRY_COMPARE(Child<QSlider>("FVolumeBar")->value(), 9);
        QList<int> Got;
        for (int Row = 0; Row < shown; ++Row)
            if (Rows()->index(Row, 0).data(TRemotePlayListModel::MarkedRole).toBool())
                Got.append(Row);
        QCOMPARE(Got, marked);
    }

    void captions_data() {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("from");

        const auto Row = [](const char *Location, const char *Name, const char *From) {
            QTest::newRow(Location)
                << QByteArray(Location) << QString::fromUtf8(Name) << QString::fromUtf8(From);
        };
        Row("http://h/a%20b.mp3", "a%20b.mp3", "h");
        Row("http://User:pw@Host.Example:37401/d/x.mp3?q=/1#f", "x.mp3", "host.example");
        Row("http://[::1]:80/a.mp3", "a.mp3", "::1");
        Row("http://host:99999/x.mp3", "x.mp3", "host");
        Row("http://my host/x.mp3", "x.mp3", "my host");
        Row("http://h?a/b", "", "h");
        Row("", "", "");
        Row("no url: <b>x</b>", "no url: <b>x</b>", "");
    }

    void captions() {
        QFETCH(QByteArray, location);
        QFETCH(QString, name);
        QFETCH(QString, from);
        TRemotePlayListModel Model;
        Model.Rebuild({"http://h/first", location});
        QCOMPARE(Model.rowCount(), 2);
        QCOMPARE(Model.index(1, TRemotePlayListModel::ColumnName).data().toString(), name);
        QCOMPARE(Model.index(1, TRemotePlayListModel::ColumnFrom).data().toString(), from);
    }
};

QTEST_MAIN(TestRemotePlayerPageList)
#include "tst_remoteplayerpage_list.moc"
