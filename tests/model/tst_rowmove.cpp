#include "RowMove.h"

#include <QTest>

#include <algorithm>

// Rows are letters: "ABCDE". A move is given by its operation and, for the two that name
// their anchor, the anchor's letter.
class TestRowMove : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void moves_data();
    void moves();
};

namespace {

enum TOperation { Down, Up, NextPlaying, Drop };

QList<int> Indices(const QByteArray &Rows, const QByteArray &Letters) {
    QList<int> Out;
    for (const char C : Letters)
        Out.append(int(Rows.indexOf(C)));
    return Out;
}

} // namespace

void TestRowMove::moves_data() {
    QTest::addColumn<QByteArray>("rows");
    QTest::addColumn<QByteArray>("selected");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QByteArray>("anchor"); // current row or drop target; empty: none
    QTest::addColumn<QByteArray>("result"); // empty: nothing happens
    QTest::addColumn<QByteArray>("selectedAfter");

    // Examples of the local play list.
    QTest::newRow("down B D") << QByteArray("ABCDE") << QByteArray("BD") << int(Down)
                              << QByteArray() << QByteArray("ACEBD") << QByteArray("BD");
    QTest::newRow("up B D") << QByteArray("ABCDE") << QByteArray("BD") << int(Up) << QByteArray()
                            << QByteArray("BDACE") << QByteArray("BD");
    QTest::newRow("up C D") << QByteArray("ABCDE") << QByteArray("CD") << int(Up) << QByteArray()
                            << QByteArray("ACDBE") << QByteArray("CD");
    QTest::newRow("next playing, A current")
        << QByteArray("ABCDE") << QByteArray("CE") << int(NextPlaying) << QByteArray("A")
        << QByteArray("ACEBD") << QByteArray("CE");
    QTest::newRow("drop B C on E") << QByteArray("ABCDE") << QByteArray("BC") << int(Drop)
                                   << QByteArray("E") << QByteArray("ADBCE") << QByteArray("BC");
    // Examples of the remote page.
    QTest::newRow("up C E") << QByteArray("ABCDE") << QByteArray("CE") << int(Up) << QByteArray()
                            << QByteArray("ACEBD") << QByteArray("CE");
    QTest::newRow("next playing, B current")
        << QByteArray("ABCDE") << QByteArray("DE") << int(NextPlaying) << QByteArray("B")
        << QByteArray("ABDEC") << QByteArray("DE");
    QTest::newRow("drop A B on D") << QByteArray("ABCD") << QByteArray("AB") << int(Drop)
                                   << QByteArray("D") << QByteArray("CABD") << QByteArray("AB");
    // Examples of the library page.
    QTest::newRow("up C E of six") << QByteArray("ABCDEF") << QByteArray("CE") << int(Up)
                                   << QByteArray() << QByteArray("ACEBDF") << QByteArray("CE");
    QTest::newRow("down B D of six") << QByteArray("ABCDEF") << QByteArray("DB") << int(Down)
                                     << QByteArray() << QByteArray("ACEBDF") << QByteArray("BD");
    // No anchor: nothing happens.
    QTest::newRow("down, last selected") << QByteArray("ABCDE") << QByteArray("BE") << int(Down)
                                         << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("up, first selected") << QByteArray("ABCDE") << QByteArray("AC") << int(Up)
                                        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("nothing selected") << QByteArray("ABCDE") << QByteArray() << int(Down)
                                      << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no current row") << QByteArray("ABCDE") << QByteArray("C") << int(NextPlaying)
                                    << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("drop below the last row") << QByteArray("ABCDE") << QByteArray("C") << int(Drop)
                                             << QByteArray() << QByteArray() << QByteArray();
    // A selected anchor keeps its place; the other selected rows gather round it.
    QTest::newRow("drop on a selected row")
        << QByteArray("ABCDE") << QByteArray("ADE") << int(Drop) << QByteArray("D")
        << QByteArray("BCAED") << QByteArray("AED");
    QTest::newRow("next playing, current selected")
        << QByteArray("ABCDE") << QByteArray("ABE") << int(NextPlaying) << QByteArray("B")
        << QByteArray("BAECD") << QByteArray("ABE");
    QTest::newRow("only the anchor selected")
        << QByteArray("ABCDE") << QByteArray("C") << int(Drop) << QByteArray("C")
        << QByteArray("ABCDE") << QByteArray("C");
}

void TestRowMove::moves() {
    QFETCH(QByteArray, rows);
    QFETCH(QByteArray, selected);
    QFETCH(int, operation);
    QFETCH(QByteArray, anchor);
    QFETCH(QByteArray, result);
    QFETCH(QByteArray, selectedAfter);

    const int Count = int(rows.size());
    const QList<int> Selected = Indices(rows, selected);
    const int Anchor = anchor.isEmpty() ? -1 : int(rows.indexOf(anchor));
    std::optional<TRowMove> Move;
    switch (operation) {
    case Down:
        Move = TRowMove::Down(Count, Selected);
        break;
    case Up:
        Move = TRowMove::Up(Count, Selected);
        break;
    case NextPlaying:
        Move = TRowMove::AfterCurrent(Count, Selected, Anchor);
        break;
    case Drop:
        Move = TRowMove::DropOn(Count, Selected, Anchor);
        break;
    }
    QCOMPARE(Move.has_value(), !result.isEmpty());
    if (!Move)
        return;
    QCOMPARE(Move->Apply(rows), result);
    QList<int> Expected = Indices(result, selectedAfter);
    std::sort(Expected.begin(), Expected.end());
    QCOMPARE(Move->Selection, Expected);
    // Every row keeps the index the move reports for it.
    for (int Old = 0; Old < Count; ++Old)
        QCOMPARE(result[Move->NewIndexOf(Old)], rows[Old]);
}

QTEST_GUILESS_MAIN(TestRowMove)
#include "tst_rowmove.moc"
