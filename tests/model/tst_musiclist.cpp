#include "MusicList.h"

#include <QRandomGenerator>
#include <QTest>

class TestMusicList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void find_data();
    void find();
    void addIfAbsent();
    void duplicatesFromAdd();
    void removeForeignItem();
    void clear();
    void indexAgreesWithScan();
};

void TestMusicList::find_data() {
    QTest::addColumn<QByteArrayList>("stored");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<int>("found"); // index in stored, -1 for none

    const QByteArray U = "http://10.0.0.2:37401/Song.mp3";
    QTest::newRow("exact") << QByteArrayList{"x", U} << U << 1;
    QTest::newRow("ASCII case ignored")
        << QByteArrayList{U} << QByteArray("HTTP://10.0.0.2:37401/song.MP3") << 0;
    QTest::newRow("trailing blank not trimmed") << QByteArrayList{U} << U + " " << -1;
    QTest::newRow("stored blanks need the same blanks")
        << QByteArrayList{" " + U + " "} << " " + U + " " << 0;
    QTest::newRow("non-ASCII case differs")
        << QByteArrayList{"http://h/caf\xc3\xa9"} << QByteArray("http://h/CAF\xc3\x89") << -1;
    QTest::newRow("non-ASCII bytes match exactly")
        << QByteArrayList{"http://h/caf\xc3\xa9"} << QByteArray("http://h/CAF\xc3\xa9") << 0;
    QTest::newRow("three blanks never found") << QByteArrayList{"   "} << QByteArray("   ") << -1;
    QTest::newRow("empty never found") << QByteArrayList{""} << QByteArray() << -1;
    QTest::newRow("control characters count as blank")
        << QByteArrayList{"\t\r\n"} << QByteArray("\t\r\n") << -1;
}

void TestMusicList::find() {
    QFETCH(QByteArrayList, stored);
    QFETCH(QByteArray, query);
    QFETCH(int, found);
    TMusicList List;
    for (const QByteArray &Location : stored)
        List.Add("n", "h", Location);
    TMusicItem *Item = List.Find(query);
    QCOMPARE(Item, found < 0 ? nullptr : List.At(found));
}

void TestMusicList::addIfAbsent() {
    TMusicList List;
    List.Add("a.mp3", "10.0.0.2", "http://10.0.0.2:37401/a.mp3");

    QCOMPARE(List.AddIfAbsent("HTTP://10.0.0.2:37401/A.MP3"), nullptr);
    QCOMPARE(List.Count(), 1);

    TMusicItem *New = List.AddIfAbsent("http://10.0.0.2:37401/b.mp3");
    QVERIFY(New);
    QCOMPARE(List.Count(), 2);
    QCOMPARE(List.At(1), New);
    QVERIFY(New->Name.isEmpty() && New->Host.isEmpty());
    QCOMPARE(New->ListItem, nullptr);
    QCOMPARE(List.Find("http://10.0.0.2:37401/B.mp3"), New);

    // Blank locations are never found, so each one is added again.
    QVERIFY(List.AddIfAbsent("   "));
    QVERIFY(List.AddIfAbsent("   "));
    QVERIFY(List.AddIfAbsent(""));
    QCOMPARE(List.Count(), 5);
}

void TestMusicList::duplicatesFromAdd() {
    TMusicList List;
    TMusicItem *First = List.Add("", "", "http://h/x.mp3");
    TMusicItem *Other = List.Add("", "", "http://h/y.mp3");
    TMusicItem *Second = List.Add("", "", "HTTP://H/X.MP3");
    QCOMPARE(List.Find("http://h/X.mp3"), First);

    List.Remove(First);
    QCOMPARE(List.Count(), 2);
    QCOMPARE(List.Find("http://h/x.mp3"), Second);
    QCOMPARE(List.IndexOf(Second), 1);

    List.Remove(Second);
    QCOMPARE(List.Find("http://h/x.mp3"), nullptr);
    QCOMPARE(List.Find("http://h/y.mp3"), Other);
    // Location is free again for AddIfAbsent.
    QVERIFY(List.AddIfAbsent("http://h/x.mp3"));
}

void TestMusicList::removeForeignItem() {
    TMusicList Mine, Theirs;
    Mine.Add("", "", "http://h/a");
    TMusicItem *Foreign = Theirs.Add("f", "h", "http://h/a");
    TMusicItem Loose("l", "h", "http://h/a", nullptr);

    Mine.Remove(Foreign);
    Mine.Remove(&Loose);
    Mine.Remove(nullptr);
    QCOMPARE(Mine.Count(), 1);
    QCOMPARE(Theirs.Count(), 1);
    QCOMPARE(Foreign->Name, QByteArray("f"));
    QCOMPARE(Theirs.Find("http://h/a"), Foreign);
    QVERIFY(Mine.Find("http://h/a") != Foreign);
}

void TestMusicList::clear() {
    TMusicList List;
    List.Clear();
    QCOMPARE(List.Count(), 0);

    List.Add("a", "h", "http://h/a");
    List.Add("b", "h", "http://h/b");
    List.Clear();
    QCOMPARE(List.Count(), 0);
    QCOMPARE(List.Find("http://h/a"), nullptr);
    QVERIFY(List.AddIfAbsent("http://h/a"));
}

// Random adds and removes; the index must always give what a front-to-back scan gives.
void TestMusicList::indexAgreesWithScan() {
    const QByteArrayList Keys{"http://h/a", "HTTP://H/A",        "http://h/A ",      "http://h/b",
                              " ",          "http://h/\xc3\xa9", "http://h/\xc3\x89"};
    auto Scan = [](const TMusicList &L, const QByteArray &Key) -> TMusicItem * {
        if (Key.trimmed().isEmpty())
            return nullptr;
        for (qsizetype I = 0; I < L.Count(); ++I)
            if (L.At(I)->Location.toUpper() == Key.toUpper() &&
                L.At(I)->Location.size() == Key.size())
                return L.At(I);
        return nullptr;
    };
    QRandomGenerator Rng(7);
    TMusicList List;
    for (int Step = 0; Step < 3000; ++Step) {
        const QByteArray Key = Keys[Rng.bounded(int(Keys.size()))];
        switch (Rng.bounded(3)) {
        case 0:
            List.Add("", "", Key);
            break;
        case 1:
            List.AddIfAbsent(Key);
            break;
        default:
            if (List.Count() > 0)
                List.Remove(List.At(Rng.bounded(int(List.Count()))));
        }
        for (const QByteArray &Probe : Keys)
            QCOMPARE(List.Find(Probe), Scan(List, Probe));
    }
}

QTEST_GUILESS_MAIN(TestMusicList)
#include "tst_musiclist.moc"
