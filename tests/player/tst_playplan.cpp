// Play Now, Play Next and Add to Queue as the commands a plain speaker gets, and what it then
// holds and plays.
#include "EngineRig.h"
#include "PlayPlan.h"

#include <QtTest>

namespace {

// "ABC" -> the rig's URLs of those rows.
QByteArrayList Urls(const QByteArray &Letters) {
    QByteArrayList Out;
    for (const char L : Letters)
        Out.append(Url(L));
    return Out;
}

QByteArray Letters(const QByteArrayList &List) {
    QByteArray Out;
    for (const QByteArray &U : List)
        Out.append(U.isEmpty() ? '-' : char(U.at(U.size() - 5) - 'a' + 'A'));
    return Out;
}

} // namespace

class TstPlayPlan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void plans_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("playing"); // empty: nothing loaded
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<TPlayMode>("mode");
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QByteArray>("after");   // the speaker's list then
        QTest::addColumn<QByteArray>("plays");   // what plays then, and when that ends
        QTest::addColumn<QByteArray>("between"); // another controller's ADD after the first step
        const auto Now = TPlayMode::PlayNow, Next = TPlayMode::PlayNext, Add = TPlayMode::Add;
        const auto Row = [](const char *Name, QByteArray List, QByteArray Playing,
                            QByteArray Chosen, TPlayMode Mode, QByteArray Steps, QByteArray After,
                            QByteArray Plays, QByteArray Between = {}) {
            QTest::newRow(Name) << List << Playing << Chosen << Mode << Steps << After << Plays
                                << Between;
        };
        Row("now", "ABC", "B", "DE", Now, "UPDATELIST DE;ADD D;URL D", "DE", "DE");
        Row("now with the current", "ABC", "B", "BD", Now, "UPDATELIST BD;ADD B;URL B", "BD", "BD");
        Row("now on an empty speaker", "", "", "AB", Now, "UPDATELIST AB;ADD A;URL A", "AB", "AB");
        Row("now, chosen twice", "C", "C", "DDE", Now, "UPDATELIST DE;ADD D;URL D", "DE", "DE");
        Row("now, another adds meanwhile", "ABC", "B", "DE", Now, "UPDATELIST DE;ADD D;URL D",
            "DEA", "DE", "A");
        Row("next", "ABC", "B", "D", Next, "UPDATELIST ABDC", "ABDC", "BD");
        Row("next moves listed ones", "ABCD", "A", "DC", Next, "UPDATELIST ADCB", "ADCB", "AD");
        Row("next keeps the current", "ABC", "B", "BD", Next, "UPDATELIST ABDC", "ABDC", "BD");
        Row("next on an empty speaker", "", "", "AB", Next, "UPDATELIST AB", "AB", "AB");
        Row("next, only the current", "ABC", "B", "B", Next, "", "ABC", "BC");
        Row("add", "ABC", "B", "DA", Add, "ADD DA", "ABCD", "BC");
        Row("nothing chosen", "AB", "A", "", Now, "", "AB", "AB");
    }

    void plans() {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, playing);
        QFETCH(QByteArray, chosen);
        QFETCH(TPlayMode, mode);
        QFETCH(QByteArray, steps);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, plays);
        QFETCH(QByteArray, between);
        TRig R;
        R.Load(Urls(list));
        if (!playing.isEmpty()) {
            R.Engine->PlayRow(int(list.indexOf(playing)));
            R.Tick();
            R.Media.Enter(3);
        }
        TPlayPlan Plan =
            PlanPlay(R.Engine->Locations(), playing.isEmpty() ? QByteArray() : Url(playing[0]),
                     Urls(chosen), mode);
        QByteArrayList Steps;
        for (const TPlanStep &Step : Plan.Steps) {
            Steps.append(Step.Word + ' ' + Letters(Step.Lines));
            R.Command(Step.Word, Step.Lines);
            if (!between.isEmpty())
                R.Command("ADD", Urls(std::exchange(between, {})), 0, "10.0.0.6");
        }
        R.Take();
        // The controller at 10.0.0.5 starts the first track once it hears the planned list.
        for (int Tick = 0; Tick < 3; ++Tick) {
            R.Tick();
            bool Heard = false;
            for (const QByteArray &List : R.TakeOnly("LIST"))
                Heard = Heard || !List.endsWith("(skip 10.0.0.5)");
            if (!Plan.Start.isEmpty() && Heard && Plan.Reached(R.Engine->Locations())) {
                const QByteArray Start = std::exchange(Plan.Start, {});
                Steps.append("URL " + Letters({Start}));
                R.Command("URL", {Start});
                R.Tick();
            }
        }
        QCOMPARE(Steps.join(';'), steps);
        QCOMPARE(Letters(R.Engine->Locations()), after);
        QByteArray Plays = Letters({PercentDecode(R.Media.LoadedURL)});
        R.Media.Enter(3);
        R.Media.Enter(1); // the track ended
        R.Tick();
        Plays += Letters({PercentDecode(R.Media.LoadedURL)});
        QCOMPARE(Plays, plays);
    }

    // Next and previous: the rows after and before the current one, wrapping round.
    void neighbours_data() {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("playing");
        QTest::addColumn<QList<int>>("rows"); // next, previous
        QTest::newRow("middle") << QByteArray("ABC") << QByteArray("B") << QList<int>{2, 0};
        QTest::newRow("wraps") << QByteArray("ABC") << QByteArray("C") << QList<int>{0, 1};
        QTest::newRow("no current") << QByteArray("ABC") << QByteArray() << QList<int>{0, 2};
        QTest::newRow("current gone") << QByteArray("AB") << QByteArray("C") << QList<int>{0, 1};
        QTest::newRow("empty") << QByteArray() << QByteArray() << QList<int>{-1, -1};
    }
    void neighbours() {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, playing);
        QFETCH(QList<int>, rows);
        const QByteArray Current = playing.isEmpty() ? QByteArray() : Url(playing[0]);
        QCOMPARE((QList<int>{NeighbourRow(Urls(list), Current, 1),
                             NeighbourRow(Urls(list), Current, -1)}),
                 rows);
    }
};

QTEST_GUILESS_MAIN(TstPlayPlan)
#include "tst_playplan.moc"
