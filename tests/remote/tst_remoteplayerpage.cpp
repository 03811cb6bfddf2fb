#include "CommandProtocol.h"
#include "CommandReader.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "MessageText.h"
#include "PlaybackEngine.h"
#include "RemotePlayListModel.h"
#include "RemotePlayerPage.h"
#include "ScriptedSpeaker.h"
#include "SharingState.h"
#include "Speaker.h"
#include "TestAccessible.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QAction>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTableView>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

// A second controller on another address: the speaker tells it every change of its list,
// including the ones the page makes.
struct TObserver {
    QTcpSocket Socket;
    TCommandReader Reader{ControllerCommands()};
    QByteArrayList Got;

    explicit TObserver(quint16 Port) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            Reader.Feed(Socket.readAll(), 0);
            while (std::optional<TCommandMessage> M = Reader.Next())
                Got.append(Render(*M));
        });
        Socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        Socket.connectToHost(QHostAddress::LocalHost, Port);
    }
    // Whether a message starting with Prefix came at or after From.
    bool Has(const QByteArray &Prefix, qsizetype From) const {
        return std::any_of(Got.begin() + From, Got.end(),
                           [&](const QByteArray &M) { return M.startsWith(Prefix); });
    }
    bool WaitFor(const QByteArray &Message, qsizetype From) {
        return QTest::qWaitFor([&] { return Got.indexOf(Message, From) >= 0; }, 5000);
    }
};

QPoint HandleCenter(QSlider *Bar) {
    QStyleOptionSlider Option;
    Option.initFrom(Bar);
    Option.orientation = Bar->orientation();
    Option.minimum = Bar->minimum();
    Option.maximum = Bar->maximum();
    Option.sliderPosition = Option.sliderValue = Bar->value();
    return Bar->style()
        ->subControlRect(QStyle::CC_Slider, &Option, QStyle::SC_SliderHandle, Bar)
        .center();
}

void PressAndRelease(QSlider *Bar) {
    QTest::mousePress(Bar, Qt::LeftButton, {}, HandleCenter(Bar));
    QTest::mouseRelease(Bar, Qt::LeftButton, {}, HandleCenter(Bar));
}

enum TEdit { Down, Up, NextPlaying, Drop, Remove };
enum TEnding { SpeakerDrops, Refused, CloseButton, PageDeleted };

} // namespace

class TestRemotePlayerPage : public QObject {
    Q_OBJECT
private:
    TTestHttpServer *FHttp = nullptr;
    TSharingState FSharing;
    std::unique_ptr<TSpeaker> FSpeaker;
    std::unique_ptr<TObserver> FObserver;
    std::unique_ptr<TRemotePlayerPage> FPage;

    // Every track's location holds a blank, so marking it needs the decoded "URL".
    QByteArray Url(char Letter) const { return FHttp->Url("/" + QByteArray(1, Letter) + " x.wav"); }
    template <class T> T *Child(const char *Name) const {
        return FPage->findChild<T *>(QLatin1String(Name));
    }
    QAbstractItemModel *Rows() const { return Child<QTableView>("FPlayListView")->model(); }
    QByteArray Shown() const {
        QByteArray Letters;
        for (const QByteArray &Location : FPage->ShownLocations())
            Letters += Location.at(Location.lastIndexOf('/') + 1);
        return Letters;
    }
    QByteArray Marked() const {
        QByteArray Letters;
        for (int Row = 0; Row < Rows()->rowCount(); ++Row)
            if (Rows()->index(Row, 0).data(TRemotePlayListModel::MarkedRole).toBool())
                Letters += Shown().at(Row);
        return Letters;
    }
    void Select(const QByteArray &Letters) {
        auto *View = Child<QTableView>("FPlayListView");
        View->clearSelection();
        for (const char L : Letters)
            View->selectionModel()->select(Rows()->index(int(Shown().indexOf(L)), 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QByteArray SelectedLetters() const {
        QByteArray Letters;
        auto *View = Child<QTableView>("FPlayListView");
        for (int Row = 0; Row < Rows()->rowCount(); ++Row)
            if (View->selectionModel()->isRowSelected(Row))
                Letters += Shown().at(Row);
        return Letters;
    }
    // A speaker playing the letters' tracks, an observer and a page on it showing them.
    bool Open(const QByteArray &Letters, const QString &Host = QStringLiteral("127.0.0.1")) {
        FSpeaker = std::make_unique<TSpeaker>(
            0, FSharing, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        FSpeaker->Media()->SetVolume(3); // a short quiet start
        FObserver = std::make_unique<TObserver>(FSpeaker->CommandServer()->Port());
        FPage = std::make_unique<TRemotePlayerPage>();
        FPage->show();
        FPage->ConnectTo(Host, FSpeaker->CommandServer()->Port());
        QByteArray Body;
        for (const char L : Letters)
            Body += Url(L) + "\r\n";
        FPage->PostCommand(Letters.isEmpty() ? "GET" : "ADD", Body);
        return QTest::qWaitFor([&] { return Shown() == Letters && Marked() == Letters.left(1); },
                               5000);
    }
    // A page on a scripted speaker.
    bool OpenScripted(TScriptedSpeaker &Speaker) {
        FPage = std::make_unique<TRemotePlayerPage>();
        FPage->ConnectTo(QStringLiteral("127.0.0.1"), Speaker.Port());
        return Speaker.WaitForPeer();
    }

private Q_SLOTS:
    void init() {
        FHttp = new TTestHttpServer(this);
        QVERIFY(FHttp->Start());
        for (const char L : QByteArray("ABCDE"))
            FHttp->SetFile("/" + QByteArray(1, L) + "%20x.wav", MakeWav(30.0));
    }
    void cleanup() {
        FPage.reset();
        FObserver.reset();
        FSpeaker.reset();
        delete FHttp;
        FHttp = nullptr;
    }

    // Every visible control of a page has a name a screen reader can read.
    void controlsHaveAccessibleNames() {
        TRemotePlayerPage Page;
        Page.show();
        const QStringList Nameless = NamelessControls(&Page);
        QVERIFY2(Nameless.isEmpty(), qPrintable(Nameless.join(", ")));
    }

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
            QTest::qWait(800);
            QVERIFY(!FObserver->Has("LIST", From));
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

    void transport_data() {
        QTest::addColumn<QByteArray>("before"); // what the speaker's own user did first
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QByteArray>("reported");
        const auto Row = [](const char *Name, const char *Before, const char *Button,
                            const char *Reported) {
            QTest::newRow(Name) << QByteArray(Before) << QByteArray(Button) << QByteArray(Reported);
        };
        Row("pause while playing", "", "FPauseButton", "STATE / 2");
        Row("play while paused", "pause", "FPlayButton", "STATE / 3");
        Row("stop", "", "FStopButton", "STATE / 1");
        Row("mute", "", "FSoundButton", "MUTE / -1");
        Row("sound on", "mute", "FMuteButton", "MUTE / 0");
    }
    void transport() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, button);
        QFETCH(QByteArray, reported);
        QVERIFY(Open("A"));
        QTRY_VERIFY(Child<QToolButton>("FPauseButton")->isVisible());
        if (before == "pause")
            FSpeaker->Media()->Pause();
        if (before == "mute")
            FSpeaker->Media()->SetMute(true);
        auto *Button = Child<QToolButton>(button.constData());
        QTRY_VERIFY(Button->isVisible());
        const qsizetype From = FObserver->Got.size();
        QTest::mouseClick(Button, Qt::LeftButton);
        QVERIFY2(FObserver->WaitFor(reported, From), reported.constData());
    }

    void trackBarRule() {
        QVERIFY(Open("A"));
        auto *Position = Child<QSlider>("FPositionBar");
        auto *Volume = Child<QSlider>("FVolumeBar");
        QTRY_VERIFY(Child<QToolButton>("FPauseButton")->isVisible());
        QTRY_COMPARE(Volume->value(), 3);
        QTest::qWait(400); // the quiet start is over

        // A press and a release with no change in between send nothing...
        Volume->setValue(10);
        PressAndRelease(Volume);
        QTest::qWait(700);
        QCOMPARE(FSpeaker->Media()->Volume(), 3);
        // ...but keep the press: a report that moves a bar makes the next release send.
        const int Before = Position->value();
        QTRY_VERIFY_WITH_TIMEOUT(Position->value() != Before, 3000);
        PressAndRelease(Volume);
        QTRY_COMPARE(FSpeaker->Media()->Volume(), 10);
        // A change by the user while pressed: the release seeks.
        QTest::mousePress(Position, Qt::LeftButton, {}, HandleCenter(Position));
        Position->setValue(80);
        QTest::mouseRelease(Position, Qt::LeftButton, {}, HandleCenter(Position));
        QTRY_VERIFY(FSpeaker->Media()->CurrentPosition() > 20);
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
        Speaker.Say(BuildMessage("LIST", list.join("\n")) + BuildMessage("URL", url));
        QTRY_COMPARE(Rows()->rowCount(), shown);
        QTest::qWait(100);
        QList<int> Got;
        for (int Row = 0; Row < shown; ++Row)
            if (Rows()->index(Row, 0).data(TRemotePlayListModel::MarkedRole).toBool())
                Got.append(Row);
        QCOMPARE(Got, marked);
    }

    void position_data() {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("info");

        const QString T0 = QStringLiteral("00:07"), I0 = QStringLiteral("Music: first");
        QTest::newRow("50 of 200")
            << QByteArrayList{"200.00", "50.00", "00:50"} << 25 << QStringLiteral("00:50") << I0;
        QTest::newRow("zero duration") << QByteArrayList{"0.00", "50.00", "00:50"} << 7 << T0 << I0;
        QTest::newRow("comma separator")
            << QByteArrayList{"200,00", "50,00", "00:50"} << 25 << QStringLiteral("00:50") << I0;
        QTest::newRow("half to even, down") << QByteArrayList{"8.00", "1.00"} << 12 << T0 << I0;
        QTest::newRow("past the end") << QByteArrayList{"10.00", "20.00"} << 100 << T0 << I0;
        QTest::newRow("information line")
            << QByteArrayList{"200.00", "100.00", "01:40", "Author: Band"} << 50
            << QStringLiteral("01:40") << QStringLiteral("Author: Band");
        QTest::newRow("markup is text")
            << QByteArrayList{"200.00", "100.00", "<b>1</b>", "Music: <img src=\"/dev/zero\">"}
            << 50 << QStringLiteral("<b>1</b>") << QStringLiteral("Music: <img src=\"/dev/zero\">");
    }
    void position() {
        QFETCH(QByteArrayList, lines);
        QFETCH(int, bar);
        QFETCH(QString, time);
        QFETCH(QString, info);
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        QVERIFY(OpenScripted(Speaker));
        Speaker.Say(BuildMessage("POSITION", "100.00\n7.00\n00:07\nMusic: first") +
                    BuildMessage("POSITION", lines.join("\n")) + BuildMessage("VOLUMN", "9"));
        QTRY_COMPARE(Child<QSlider>("FVolumeBar")->value(), 9);
        QCOMPARE(Child<QSlider>("FPositionBar")->value(), bar);
        for (const auto &[Name, Text, Role] :
             {std::tuple{"FTimeLabel", time, "Time"}, {"FInfoLabel", info, "Track information"}}) {
            QCOMPARE(Child<QLabel>(Name)->textFormat(), Qt::PlainText);
            QAccessibleInterface *Reader =
                QAccessible::queryAccessibleInterface(Child<QLabel>(Name));
            QCOMPARE(Reader->text(QAccessible::Name), Text); // the label's text
            QCOMPARE(Reader->text(QAccessible::Description), QLatin1String(Role));
        }
    }

    void ending_data() {
        QTest::addColumn<int>("ending");
        QTest::addColumn<QString>("host");
        QTest::addColumn<quint32>("hostAddr");

        QTest::newRow("the speaker drops us")
            << int(SpeakerDrops) << QStringLiteral("127.0.0.1") << quint32(0x7F000001);
        QTest::newRow("refused") << int(Refused) << QStringLiteral("127.0.0.1")
                                 << quint32(0x7F000001);
        QTest::newRow("close button, host by name")
            << int(CloseButton) << QStringLiteral("localhost") << 0xFFFFFFFFu;
        QTest::newRow("page deleted while connected")
            << int(PageDeleted) << QStringLiteral("127.0.0.1") << quint32(0x7F000001);
    }
    void ending() {
        QFETCH(int, ending);
        QFETCH(QString, host);
        QFETCH(quint32, hostAddr);
        QSignalSpy Removed(&RemotePlayers(), &TRemotePlayerList::PageRemoved);
        if (ending == Refused) {
            FPage = std::make_unique<TRemotePlayerPage>();
            QTcpServer Probe; // a port that was free a moment ago refuses
            QVERIFY(Probe.listen(QHostAddress::LocalHost, 0));
            const quint16 Port = Probe.serverPort();
            Probe.close();
            FPage->ConnectTo(host, Port);
        } else {
            QVERIFY(Open("", host));
            QTRY_COMPARE(FSpeaker->CommandServer()->ConnectionCount(), 2);
        }
        QCOMPARE(FPage->Session().HostAddr(), hostAddr);
        QVERIFY(RemotePlayers().Pages().contains(&FPage->Session()));
        QStringList Said;
        connect(FPage.get(), &TRemotePlayerPage::ConnectFailed, this,
                [&](const QString &Host) { Said.append(QStringLiteral("failed ") + Host); });
        connect(FPage.get(), &TRemotePlayerPage::Finished, this,
                [&] { Said.append(QStringLiteral("finished")); });

        if (ending == SpeakerDrops)
            FSpeaker->DisconnectAll();
        else if (ending == CloseButton)
            QTest::mouseClick(Child<QToolButton>("FCloseButton"), Qt::LeftButton);
        else if (ending == PageDeleted)
            FPage.reset();
        QTRY_COMPARE(Removed.count(), 1);
        QTest::qWait(100);
        QCOMPARE(Removed.count(), 1);
        QVERIFY(RemotePlayers().IsEmpty());
        QStringList Expected{QStringLiteral("failed ") + host, QStringLiteral("finished")};
        if (ending != Refused)
            Expected.removeFirst();
        if (FPage)
            QCOMPARE(Said, Expected);
        if (FSpeaker) // the observer stays unless the speaker dropped everyone
            QTRY_COMPARE(FSpeaker->CommandServer()->ConnectionCount(),
                         ending == SpeakerDrops ? 0 : 1);
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

QTEST_MAIN(TestRemotePlayerPage)
#include "tst_remoteplayerpage.moc"
