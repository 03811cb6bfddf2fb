// The remote player page driving a speaker: its buttons, its bars, its endings.
#include "RemotePageRig.h"

#include "CommandProtocol.h"
#include "GroupPanel.h"
#include "Modal.h"
#include "TestAccessible.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>

namespace {

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

enum TEnding { SpeakerDrops, Refused, CloseButton, PageDeleted };

} // namespace

class TestRemotePlayerPage : public QObject, private TRemotePageRig {
    Q_OBJECT
private Q_SLOTS:
    void init() { Init(); }
    void cleanup() { Cleanup(); }

    // Every visible control of a page has a name a screen reader can read.
    void controlsHaveAccessibleNames() {
        TRemotePlayerPage Page;
        Page.show();
        const QStringList Nameless = NamelessControls(&Page);
        QVERIFY2(Nameless.isEmpty(), qPrintable(Nameless.join(", ")));
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
        Row("next: the one row again", "", "FNextButton", "URL");
        Row("previous", "", "FPreviousButton", "URL");
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
        if (reported == "URL") // the track starts again: its URL comes, in the speaker's form
            QTRY_VERIFY(FObserver->Has("URL / ", From));
        else
            QVERIFY2(FObserver->WaitFor(reported, From), reported.constData());
    }

    void trackBarRule() {
        QVERIFY(Open("A"));
        auto *Position = Child<QSlider>("FPositionBar");
        auto *Volume = Child<QSlider>("FVolumeBar");
        QTRY_VERIFY(Child<QToolButton>("FPauseButton")->isVisible());
        // The quiet start is over: the speaker is back at 3 after its 1, and the page has it.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const qsizetype Low = FObserver->Got.lastIndexOf("VOLUMN / 1");
                return Low >= 0 && FObserver->Got.indexOf("VOLUMN / 3", Low) > Low;
            },
            5000));
        QVERIFY(CaughtUp());
        QTRY_COMPARE(Volume->value(), 3);

        // A press and a release with no change in between send nothing...
        Volume->setValue(10);
        PressAndRelease(Volume);
        QVERIFY(CaughtUp());
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

    // The rooms' bars and buttons, "Add Room..." and the status line reach the session and
    // back; the rules behind them are TRemoteGroup's.
    void groupWiring() {
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        QVERIFY(OpenScripted(Speaker));
        QTRY_VERIFY(Speaker.GroupWatched);
        TGroupPanel &Panel = FPage->GroupPanel();
        QVERIFY(Panel.isHidden()); // no group told yet
        Speaker.Say(BuildMessage("GROUP", "a\tStudy\t50\t0\t\nb\tHall\t30\t0\tlate"));
        QTRY_COMPARE(Panel.findChildren<QSlider *>().size(), 2);
        QCOMPARE(Panel.findChildren<QSlider *>()[1]->value(), 30);
        Panel.findChildren<QSlider *>()[1]->setValue(70);
        Panel.findChildren<QToolButton *>()[1]->click();
        Panel.findChildren<QSlider *>()[1]->parentWidget()->findChild<QPushButton *>()->click();
        SetModalHook([](QDialog &Dialog) {
            Dialog.findChild<QLineEdit *>(QStringLiteral("FNameEdit"))->setText(" kitchen");
            return int(QDialog::Accepted);
        });
        Panel.FAddRoomButton->click();
        QTRY_COMPARE(Speaker.Received, "GROUPVOLUME\r\nb\r\n70\r\nGROUPMUTE\r\nb\r\n1\r\n"
                                       "GROUPLEAVE\r\nb\r\nGROUPADD\r\nkitchen\r\n");
        SetModalHook({});
        Speaker.Say(BuildMessage("GROUPERROR", "K cannot play in sync: no"));
        QTRY_COMPARE(Panel.FStatusLabel->text(), "K cannot play in sync: no; Hall: late");
        QCOMPARE(Panel.FStatusLabel->textFormat(), Qt::PlainText);
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
        // Sentinel: the speaker has seen the page go and what the loop held has run.
        if (FSpeaker) // the observer stays unless the speaker dropped everyone
            QTRY_COMPARE(FSpeaker->CommandServer()->ConnectionCount(),
                         ending == SpeakerDrops ? 0 : 1);
        QVERIFY(Settled());
        QCOMPARE(Removed.count(), 1);
        QVERIFY(RemotePlayers().IsEmpty());
        QStringList Expected{QStringLiteral("failed ") + host, QStringLiteral("finished")};
        if (ending != Refused)
            Expected.removeFirst();
        if (FPage)
            QCOMPARE(Said, Expected);
    }
};

QTEST_MAIN(TestRemotePlayerPage)
#include "tst_remoteplayerpage.moc"
