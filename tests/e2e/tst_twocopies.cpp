#include "AsciiText.h"
#include "CommandClient.h"
#include "MainWindow.h"
#include "MediaPlayer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "RemotePlayListModel.h"
#include "RemotePlayerPage.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestMedia.h"
#include "TwoHosts.h"
#include "WindowParts.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

// Host B's address as the "Play on" box takes it (a function: the fixture's constant lives in
// another file, so it may not be initialised yet when this one's are).
QString AddressB() {
    return QString::fromLatin1(TTwoHosts::AddressB);
}

// A's library, in library order; each file lasts its own number of seconds, so that the
// duration B reports tells which file A's media server sent. A name that is the start of
// another comes before it: the later entry is the one a loose lookup finds first.
const QList<QByteArray> TrackNames = {
    "One.wav",           "Two.wav",     "Space Song.wav", "Été à Noël.wav", "Hash #1.wav",
    "100% Pure.wav",     "Mix %41.wav", "Why?.wav",       "Why Not.wav",    "Rock+Roll.wav",
    "Salt & Pepper.wav", "Part;1.wav",  "Intro.wav",      "Intro.wav.mp3",  "A/Intro.wav"};

int SecondsOf(int Row) {
    return 20 + Row;
}

// What B's speaker last reported to A's page for the current track.
struct TReports {
    QByteArray URL; // as reported, still percent-encoded
    qint32 State = -1;
    double Duration = 0;
};

} // namespace

// Two copies on two hosts joined by a veth pair: A is a main window in this process with the
// real ports, B the built program in the other host. They find each other, A plays its
// library on B, B fetches the files from A and plays them, and B's close leaves no trace on A.
class TestTwoCopies : public QObject {
    Q_OBJECT

    QTemporaryDir FHomeA, FHomeB;
    TTwoHosts FHosts;
    QProcess FB;
    std::unique_ptr<TMainWindow> FA;
    QStringList FMessages;
    TReports FReports;

    QProcessEnvironment EnvironmentOfB() const { return OwnHomeEnvironment(FHomeB.path()); }
    // Whether B's speaker greets a controller that connects from A.
    static bool SpeakerUp() {
        QTcpSocket Socket;
        Socket.connectToHost(AddressB(), 37400);
        if (!Socket.waitForConnected(200))
            return false;
        QByteArray Greeting;
        while (Greeting.count('\n') < 6 && Socket.waitForReadyRead(1000))
            Greeting += Socket.readAll();
        return Greeting.startsWith("MUTE");
    }
    TRemotePlayerPage *PageOfB() const {
        TRemotePlayer *Player = FA->PlayTo().FindRemotePlayer(AddressB());
        for (auto *Page : FA->findChildren<TRemotePlayerPage *>())
            if (Player && &Page->Session() == Player)
                return Page;
        return nullptr;
    }
    QAbstractItemModel *RowsOf(TRemotePlayerPage *Page) const {
        return Page->findChild<QTableView *>("FPlayListView")->model();
    }
    // The locations the page marks as current.
    QByteArrayList Marked(TRemotePlayerPage *Page) const {
        QByteArrayList Found;
        QAbstractItemModel *Rows = RowsOf(Page);
        for (int Row = 0; Row < Rows->rowCount(); ++Row)
            if (Rows->index(Row, 0).data(TRemotePlayListModel::MarkedRole).toBool())
                Found.append(
                    Rows->index(Row, 0).data(TRemotePlayListModel::LocationRole).toByteArray());
        return Found;
    }
    // Plays the library's Rows on B the way a user does: select, type B's address, Play.
    TRemotePlayerPage *PlayOnB(const QList<int> &Rows) {
        QItemSelectionModel *Selection = LibraryView(*FA)->selectionModel();
        Selection->clearSelection();
        for (const int Row : Rows)
            Selection->select(FA->Library()->index(Row), QItemSelectionModel::Select);
        PlayOnBox(*FA)->setCurrentText(AddressB());
        Page(*FA).PlayOnTypedComputer();
        return PageOfB();
    }
    // Keeps what B reports to Page in FReports.
    void Watch(TRemotePlayerPage *Page) {
        auto *Client = Page->findChild<TCommandClient *>();
        connect(Client, &TCommandClient::URLReceived, this,
                [this](const QByteArray &URL) { FReports.URL = URL; });
        connect(Client, &TCommandClient::StateReceived, this,
                [this](qint32 State) { FReports.State = State; });
        connect(
            Client, &TCommandClient::PositionReceived, this,
            [this](const QByteArrayList &Lines) { FReports.Duration = Lines.value(0).toDouble(); });
    }
    // Whether B plays a file of Seconds and says so to the page.
    bool PlaysFileOf(TRemotePlayerPage *Page, int Seconds, int TimeoutMs) {
        return QTest::qWaitFor(
            [&] {
                return FReports.State == 3 && qAbs(FReports.Duration - Seconds) < 0.05 &&
                       !Page->findChild<QToolButton *>("FPauseButton")->isHidden();
            },
            TimeoutMs);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FHomeA.isValid() && FHomeB.isValid());
        QVERIFY(QDir().mkpath(FHomeB.filePath("run")));
        QFile::setPermissions(FHomeB.filePath("run"), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
        qputenv("XDG_DATA_HOME", FHomeA.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHomeA.filePath("config").toUtf8());
        LoadSettings();
        QVERIFY(QDir().mkpath(FHomeA.filePath("Music")));
        QByteArrayList Library;
        for (int Row = 0; Row < TrackNames.size(); ++Row) {
            const QString Path = FHomeA.filePath("Music/") + QString::fromUtf8(TrackNames[Row]);
            QVERIFY(QDir().mkpath(QFileInfo(Path).path()));
            QVERIFY2(WriteWav(Path, SecondsOf(Row)), qPrintable(Path));
            Library.append(QFile::encodeName(Path));
        }
        QVERIFY(WriteAll(LibraryFileName, JoinLines(Library)));
        SetModalHook([this](QDialog &Dialog) {
            if (auto *Box = qobject_cast<QMessageBox *>(&Dialog))
                FMessages << Box->text();
            return int(QMessageBox::Ok);
        });

        QVERIFY2(FHosts.SetUp(), qPrintable(FHosts.Error()));
        FB.setProcessEnvironment(EnvironmentOfB());
        // Its sound system's complaints about the missing sound card are no news here.
        FB.setStandardOutputFile(QProcess::nullDevice());
        FB.setStandardErrorFile(QProcess::nullDevice());
        FHosts.StartInB(FB, {VX_PLAYER_EXE});
        QVERIFY2(FB.waitForStarted(5000), qPrintable(FB.errorString()));
        QVERIFY2(QTest::qWaitFor([] { return SpeakerUp(); }, 15000),
                 qPrintable(QStringLiteral("B's speaker never came up (state %1, exit %2)")
                                .arg(FB.state())
                                .arg(FB.exitCode())));
    }

    void cleanupTestCase() {
        FA.reset();
        if (FB.state() != QProcess::NotRunning) {
            FB.kill();
            FB.waitForFinished(5000);
        }
        FHosts.TearDown();
        SetModalHook({});
    }

    // A starts second: its greeting reaches B, whose answer lists B on A.
    void listEachOther() {
        QElapsedTimer Clock;
        Clock.start();
        FA = std::make_unique<TMainWindow>(MediaServerPort, PresenceServerPort);
        FA->CreateLocalPlayer(37400, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        FA->show();
        QCOMPARE(FA->MediaPort(), MediaServerPort);
        QCOMPARE(FA->Presence()->LocalIP(), TTwoHosts::AddressA);
        QTRY_VERIFY_WITH_TIMEOUT(FA->Presence()->Computers().contains(TTwoHosts::AddressB), 2000);
        qInfo("A lists B %lld ms after A's start", Clock.elapsed());
        // Listed by the name B told, B's address behind it.
        QTRY_COMPARE_WITH_TIMEOUT(PlayOnBox(*FA)->findData(AddressB()), 1, 2000);
        QVERIFY(PlayOnBox(*FA)->itemText(1).endsWith(" (" + AddressB() + ')'));
    }

    void playsOnTheOtherCopy() {
        QVERIFY(FA);
        TRemotePlayerPage *Page = PlayOnB({0, 1});
        QVERIFY(Page);
        Watch(Page); // it has not been to the event loop yet: nothing is missed
        QVERIFY(FMessages.isEmpty());
        // B's list is what the "ADD" carried: URLs on A's address and media port.
        const QByteArray Base = "http://" + TTwoHosts::AddressA + ":37401/";
        QTRY_COMPARE_WITH_TIMEOUT(Page->ShownLocations(),
                                  QByteArrayList({Base + "One.wav", Base + "Two.wav"}), 5000);
        QVERIFY2(PlaysFileOf(Page, SecondsOf(0), 10000), FReports.URL.constData());
        QTRY_COMPARE_WITH_TIMEOUT(Marked(Page), QByteArrayList{Base + "One.wav"}, 2000);
        auto *Position = Page->findChild<QSlider *>("FPositionBar");
        QTRY_VERIFY_WITH_TIMEOUT(Position->value() > 0, 5000);
        const int Before = Position->value();
        const QString TimeBefore = Page->findChild<QLabel *>("FTimeLabel")->text();
        QTRY_VERIFY_WITH_TIMEOUT(Position->value() > Before, 5000);
        QVERIFY(Page->findChild<QLabel *>("FTimeLabel")->text() != TimeBefore);
    }

    // Each name plays on B from A's server: that very file, not a neighbour with a similar name.
    void namesSurviveTheTrip_data() {
        QTest::addColumn<int>("Row");
        for (int Row = 2; Row < TrackNames.size(); ++Row)
            QTest::newRow(TrackNames[Row].constData()) << Row;
    }
    void namesSurviveTheTrip() {
        QFETCH(int, Row);
        QVERIFY(FA);
        TRemotePlayerPage *Page = PageOfB();
        QVERIFY(Page);
        const qsizetype Before = Page->ShownLocations().size();
        PlayOnB({Row});
        QTRY_COMPARE_WITH_TIMEOUT(Page->ShownLocations().size(), Before + 1, 5000);
        const QByteArray URL = Page->ShownLocations().constLast();
        FReports = {};
        Page->PostCommand("URL", URL); // as a double-click on the row does
        QVERIFY2(PlaysFileOf(Page, SecondsOf(Row), 10000),
                 qPrintable(QStringLiteral("sent %1, B plays %2 (state %3, %4 s)")
                                .arg(QString::fromUtf8(URL), QString::fromUtf8(FReports.URL))
                                .arg(FReports.State)
                                .arg(FReports.Duration)));
        QTRY_COMPARE_WITH_TIMEOUT(Marked(Page), QByteArrayList{URL}, 2000);
        QVERIFY(FMessages.isEmpty());
    }

    // B's goodbye takes it off A's list, and its page goes without a word.
    void closingTheOtherLeavesNoTrace() {
        QVERIFY(FA);
        QVERIFY(PageOfB());
        FB.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!FA->Presence()->Computers().contains(TTwoHosts::AddressB), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(RemotePlayers().IsEmpty(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Pages(*FA)->count(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(FB.state(), QProcess::NotRunning, 10000);
        QCOMPARE(FB.exitStatus(), QProcess::NormalExit);
        QCOMPARE(FB.exitCode(), 0);
        QCOMPARE(FMessages, QStringList());
    }
};

QTEST_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
