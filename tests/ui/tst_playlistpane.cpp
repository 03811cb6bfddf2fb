#include "PlayListPane.h"

#include <QAction>
#include <QStandardItemModel>
#include <QToolButton>
#include <QtTest>

namespace {

struct TNoEdits : TPlayListEditor {
    void PlaySelectedRow() override {}
    bool PausesRow(int) const override { return false; }
    void PlayOrPauseSelected(bool) override {}
    void RemoveSelected() override {}
    void MoveSelectionDown() override {}
    void MoveSelectionUp() override {}
    void MoveSelectionToNextPlaying() override {}
    void DropSelectionOn(int) override {}
};

} // namespace

class TstPlayListPane : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // What the selection allows, on the buttons and in the pop-up, also after rows arrive.
    void commandStates_data() {
        QTest::addColumn<int>("Count");
        QTest::addColumn<QList<int>>("Selected");
        QTest::addColumn<int>("Appended");
        QTest::addColumn<bool>("Remove");
        QTest::addColumn<bool>("Down");
        QTest::addColumn<bool>("Up");
        QTest::newRow("empty list") << 0 << QList<int>{} << 0 << false << false << false;
        QTest::newRow("nothing selected") << 3 << QList<int>{} << 0 << false << false << false;
        QTest::newRow("only row") << 1 << QList<int>{0} << 0 << true << false << false;
        QTest::newRow("first") << 3 << QList<int>{0} << 0 << true << true << false;
        QTest::newRow("last") << 3 << QList<int>{2} << 0 << true << false << true;
        QTest::newRow("middle") << 3 << QList<int>{1} << 0 << true << true << true;
        QTest::newRow("first and last") << 3 << QList<int>{0, 2} << 0 << true << false << false;
        QTest::newRow("all") << 4 << QList<int>{0, 1, 2, 3} << 0 << true << false << false;
        QTest::newRow("last, then a row below") << 3 << QList<int>{2} << 1 << true << true << true;
    }
    void commandStates() {
        QFETCH(int, Count);
        QFETCH(QList<int>, Selected);
        QFETCH(int, Appended);
        QFETCH(bool, Remove);
        QFETCH(bool, Down);
        QFETCH(bool, Up);
        QStandardItemModel Model(Count, 2);
        TNoEdits Editor;
        TPlayListPane Pane(Editor, &Model, 0, 1, false);
        Pane.SelectRows(Selected);
        for (int I = 0; I < Appended; ++I)
            Model.appendRow({new QStandardItem, new QStandardItem});
        const auto Enabled = [&Pane](const char *Name) {
            QObject *Child = Pane.findChild<QObject *>(QLatin1String(Name));
            if (auto *Action = qobject_cast<QAction *>(Child))
                return Action->isEnabled();
            return qobject_cast<QWidget *>(Child)->isEnabled();
        };
        QCOMPARE(Enabled("FRemoveButton"), Remove);
        QCOMPARE(Enabled("FRemoveAction"), Remove);
        QCOMPARE(Enabled("FMoveToNextPlayingAction"), Remove);
        QCOMPARE(Enabled("FDownButton"), Down);
        QCOMPARE(Enabled("FMoveDownAction"), Down);
        QCOMPARE(Enabled("FUpButton"), Up);
        QCOMPARE(Enabled("FMoveUpAction"), Up);
    }
};

QTEST_MAIN(TstPlayListPane)
#include "tst_playlistpane.moc"
