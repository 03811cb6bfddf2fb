#include "../player/SpeakerRig.h"
#include "LocalPlayerWindow.h"
#include "MediaControlStrip.h"
#include "NowPlayingBar.h"
#include "PlaybackEngine.h"
#include "Settings.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSlider>
#include <QTableView>
#include <QTcpSocket>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QtTest>

namespace {

// The speaker's window over the rig's rows.
struct TRig : TSpeakerRig {
    TLocalPlayerWindow Window{Speaker};

    void Select(const QList<int> &Rows) {
        QTableView *View = Window.PlayListView();
        View->clearSelection();
        for (const int Row : Rows)
            View->selectionModel()->select(View->model()->index(Row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QAction *MenuAction(const QString &Caption) const {
        for (QAction *A : Window.PlayListMenu()->actions())
            if (A->text() == Caption)
                return A;
        return nullptr;
    }
    QToolButton *Button(const QString &Caption) const {
        for (QToolButton *B : Window.findChildren<QToolButton *>())
            if (B->text() == Caption)
                return B;
        return nullptr;
    }
};

QString AccessibleName(QObject *Object) {
    QAccessibleInterface *Face = QAccessible::queryAccessibleInterface(Object);
    return Face ? Face->text(QAccessible::Name) : QString();
}

} // namespace

class TstLocalPlayerWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Buttons and items that the selection allows, with the first and last rows' rules.
    void commandStates_data() {
        QTest::addColumn<QList<int>>("Selected");
        QTest::addColumn<bool>("Remove");
        QTest::addColumn<bool>("Down");
        QTest::addColumn<bool>("Up");
        QTest::newRow("nothing") << QList<int>{} << false << false << false;
        QTest::newRow("first row") << QList<int>{0, 2} << true << true << false;
        QTest::newRow("last row") << QList<int>{2, 4} << true << false << true;
        QTest::newRow("middle") << QList<int>{2} << true << true << true;
    }
    void commandStates() {
        QFETCH(QList<int>, Selected);
        QFETCH(bool, Remove);
        QFETCH(bool, Down);
        QFETCH(bool, Up);
        TRig R;
        R.Select(Selected);
        QCOMPARE(R.Button("Remove")->isEnabled(), Remove);
        QCOMPARE(R.MenuAction("Remove")->isEnabled(), Remove);
        QCOMPARE(R.MenuAction("Move to next playing")->isEnabled(), Remove);
        QCOMPARE(R.Button("Down")->isEnabled(), Down);
        QCOMPARE(R.MenuAction("Move &Down")->isEnabled(), Down);
        QCOMPARE(R.Button("Up")->isEnabled(), Up);
        QCOMPARE(R.MenuAction("Move &Up")->isEnabled(), Up);
    }

    // Every edit reaches a connected controller as "LIST" with the new order, then "URL".
    void editsReachControllers_data() {
        QTest::addColumn<QString>("Caption");
        QTest::addColumn<QList<int>>("Selected");
        QTest::addColumn<QByteArray>("Order");
        QTest::addColumn<QList<int>>("SelectedAfter");
        QTest::newRow("Down") << "Move &Down" << QList<int>{1, 3} << QByteArray("ACEBD")
                              << QList<int>{3, 4};
        QTest::newRow("Up") << "Move &Up" << QList<int>{2, 3} << QByteArray("ACDBE")
                            << QList<int>{1, 2};
        QTest::newRow("next playing") << "Move to next playing" << QList<int>{3, 4}
                                      << QByteArray("ABDEC") << QList<int>{2, 3};
        QTest::newRow("Remove") << "Remove" << QList<int>{0, 4} << QByteArray("BCD")
                                << QList<int>{};
    }
    void editsReachControllers() {
        QFETCH(QString, Caption);
        QFETCH(QList<int>, Selected);
        QFETCH(QByteArray, Order);
        QFETCH(QList<int>, SelectedAfter);
        TRig R;
        QTcpSocket Controller;
        Controller.connectToHost(QHostAddress::LocalHost, R.Speaker.CommandServer()->Port());
        QVERIFY(Controller.waitForConnected(5000));
        QTRY_COMPARE(R.Speaker.CommandServer()->ConnectionCount(), 1);
        QByteArray Greeting; // MUTE, VOLUMN, STATE: two lines each
        QTRY_VERIFY((Greeting += Controller.readAll()).count("\r\n") >= 6);

        R.Select(Selected);
        R.MenuAction(Caption)->trigger();
        QByteArray Expected = "LIST\r\n" + QByteArray::number(Order.size()) + "\r\n";
        for (const char Row : Order)
            Expected += Url(Row) + "\r\n";
        Expected += "URL\r\n" + Url('B') + "\r\n";
        QByteArray Got;
        QTRY_VERIFY((Got += Controller.readAll()).size() >= Expected.size());
        QCOMPARE(Got, Expected);
        QList<int> Now;
        for (const QModelIndex &I : R.Window.PlayListView()->selectionModel()->selectedRows())
            Now.append(I.row());
        std::sort(Now.begin(), Now.end());
        QCOMPARE(Now, SelectedAfter);
        // B stays the current track wherever it went.
        const int B = int(Order.indexOf('B'));
        QCOMPARE(R.Speaker.Engine()->Model()->MarkedRow(), B);
        if (Caption != "Remove")
            QCOMPARE(R.Speaker.Engine()->GetCurrentIndex(), B);
    }

    void enterPlaysTheSelectedRow() {
        TRig R;
        R.Select({3, 4});
        QTest::keyClick(R.Window.PlayListView(), Qt::Key_Return);
        QCOMPARE(R.Media->State, 1);
        R.Speaker.Engine()->PlayTick();
        QCOMPARE(R.Media->LoadedURL, Url('D'));
    }

    // The strip's next goes by the engine's play order.
    void skipButtons() {
        TRig R;
        R.Window.findChild<TMediaControlStrip *>()->NextButton()->click();
        R.Speaker.Engine()->PlayTick();
        QCOMPARE(R.Media->LoadedURL, Url('C'));
    }

    // The bar over the list follows the current track: its tags where known, else its row.
    void nowPlayingBar() {
        TRig R;
        QPixmap Cover(4, 4);
        Cover.fill(Qt::red);
        R.Window.SetNowPlaying(
            [](const QByteArray &URL) {
                return URL == Url('B') ? TNowPlaying{"Bee - Band", "<b>Album</b>", "h"}
                                       : TNowPlaying{};
            },
            [Cover](const QByteArray &Hash) { return Hash == "h" ? Cover : QPixmap(); });
        const TNowPlayingBar *Bar = R.Window.NowPlayingBar();
        QCOMPARE((QStringList{Bar->Caption(), Bar->Album()}),
                 (QStringList{"Bee - Band", "<b>Album</b>"}));
        QVERIFY(Bar->HasCover());
        R.Window.findChild<TMediaControlStrip *>()->NextButton()->click();
        R.Speaker.Engine()->PlayTick();
        QCOMPARE((QStringList{Bar->Caption(), Bar->Album()}), (QStringList{"C.mp3", ""}));
        QVERIFY(!Bar->HasCover());
        R.Media->Name = "Sea";
        R.Media->Author = "Cee";
        R.Media->Enter(3);
        QCOMPARE(Bar->Caption(), "Sea - Cee");
        R.Speaker.Engine()->RemoveRows({0, 1, 2, 3, 4});
        QVERIFY(Bar->isHidden());
    }

    // Turning allow off drops every controller at once and tells the main window.
    void allowEntry() {
        TRig R;
        QSignalSpy Changed(&R.Speaker, &TSpeaker::AllowOthersChanged);
        QTcpSocket First, Second;
        for (QTcpSocket *C : {&First, &Second})
            C->connectToHost(QHostAddress::LocalHost, R.Speaker.CommandServer()->Port());
        QTRY_COMPARE(R.Speaker.CommandServer()->ConnectionCount(), 2);
        R.Window.UpdatePlayListMenu();
        QAction *Allow = R.MenuAction("Disallo&w Other People to Play on My Computer");
        QVERIFY(Allow);
        Allow->trigger();
        QVERIFY(!R.Sharing.AllowOthers());
        QCOMPARE(R.Speaker.CommandServer()->ConnectionCount(), 0);
        QTRY_COMPARE(First.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(Second.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(Allow->text(), QStringLiteral("Allo&w Other People to Play on My Computer"));
        Allow->trigger();
        QVERIFY(R.Sharing.AllowOthers());
        QCOMPARE(Changed.count(), 2);
        QCOMPARE(Changed[0][0].toBool(), false);
    }

    // The view draws the current row's picture and the alternating row colours.
    void rowLook_data() {
        QTest::addColumn<int>("Row");
        QTest::addColumn<QColor>("Background");
        QTest::addColumn<bool>("Picture");
        QTest::newRow("first, not current") << 0 << QColor(249, 248, 247) << false;
        QTest::newRow("second, current") << 1 << QColor(231, 244, 254) << true;
        QTest::newRow("third") << 2 << QColor(249, 248, 247) << false;
    }
    void rowLook() {
        QFETCH(int, Row);
        QFETCH(QColor, Background);
        QFETCH(bool, Picture);
        TRig R;
        const QModelIndex Name = R.Window.PlayListView()->model()->index(Row, 0);
        QCOMPARE(Name.data(Qt::BackgroundRole).value<QColor>(), Background);
        QCOMPARE(Name.data(Qt::DecorationRole).canConvert<QIcon>(), Picture);
        QCOMPARE(Name.data(Qt::DisplayRole).toString(), QString(QChar('A' + Row)) + ".mp3");
    }

    // A screen reader finds a name for every control (a label's is its text); names are text.
    void accessibleNames() {
        TRig R;
        R.Speaker.AddLocalTracks({"http://h/<img src=x>&amp;"});
        R.Speaker.Engine()->ProcessListJob();
        const QVariant Tip = R.Speaker.Engine()->Model()->index(5, 0).data(Qt::ToolTipRole);
        QCOMPARE(QTextDocumentFragment::fromHtml(Tip.toString()).toPlainText(), "<img src=x>&amp;");
        R.Window.show();
        for (QLabel *L : R.Window.findChildren<QLabel *>())
            QVERIFY(L->textFormat() == Qt::PlainText && AccessibleName(L) == L->text());
        QCOMPARE(AccessibleName(R.Window.PlayListView()), QStringLiteral("Play list"));
        const auto Sliders = R.Window.findChildren<QSlider *>();
        QStringList SliderNames;
        for (QSlider *S : Sliders)
            SliderNames.append(AccessibleName(S));
        SliderNames.sort();
        QCOMPARE(SliderNames, QStringList({"Position", "Volume"}));
        for (QAbstractButton *B : R.Window.findChildren<QAbstractButton *>())
            if (B->isVisible())
                QVERIFY2(!AccessibleName(B).isEmpty(), qPrintable(B->metaObject()->className()));
    }
};

QTEST_MAIN(TstLocalPlayerWindow)
#include "tst_localplayerwindow.moc"
