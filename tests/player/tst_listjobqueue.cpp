#include "ListJobQueue.h"

#include <QMap>
#include <QtTest>

#include <malloc.h>

// Each step is "sender count [bytes]": count jobs of that many bytes each (default 1); sender
// "-" is the local user. A job is named after its sender and its number among that sender's.
class TestListJobQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A job counts the heap its lines hold (within a fifth): one-byte lines hold 60 bytes each.
    void jobBytes() {
        const auto Heap = [] { return qint64(mallinfo2().uordblks + mallinfo2().hblkhd); };
        const qint64 Before = Heap();
        QByteArrayList Lines;
        for (int I = 0; I < 100000; ++I)
            Lines.append(QByteArray(1, 'x')); // each its own, as the command reader makes them
        const qint64 Held = Heap() - Before, Counted = ListJobBytes(Lines);
        QVERIFY2(Counted > Held * 0.8 && Counted < Held * 1.2, qPrintable(QString::number(Held)));
    }

    void shares_data() {
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<QList<int>>("accepted"); // per step
        QTest::addColumn<QByteArray>("left");     // jobs per sender
        QTest::addColumn<QByteArray>("taken");    // first takes .. last take

        const QByteArray Limit = QByteArray::number(MaxQueuedJobBytes);
        const auto MiB = [](int N) { return QByteArray::number(N * 1024 * 1024); };
        QTest::newRow("one controller fills the queue, the next is refused")
            << QByteArrayList{"a 1000", "a 1"} << QList<int>{1000, 0} << QByteArray("a=1000")
            << QByteArray("a0 a1 a2 a3 .. a999");
        QTest::newRow("a job of exactly the byte limit")
            << QByteArrayList{"a 1 " + Limit, "a 1 " + QByteArray::number(MaxQueuedJobBytes + 1)}
            << QList<int>{1, 0} << QByteArray("a=1") << QByteArray("a0");
        QTest::newRow("the largest share makes room, newest first")
            << QByteArrayList{"a 600", "b 400", "c 1", "b 1"} << QList<int>{600, 400, 1, 1}
            << QByteArray("a=598 b=401 c=1") << QByteArray("a0 b0 c0 a1 .. a597");
        QTest::newRow("the largest share itself is refused")
            << QByteArrayList{"a 600", "b 400", "a 1"} << QList<int>{600, 400, 0}
            << QByteArray("a=600 b=400") << QByteArray("a0 b0 a1 b1 .. a599");
        QTest::newRow("an equal share does not give way")
            << QByteArrayList{"a 500", "b 499", "c 1", "b 1"} << QList<int>{500, 499, 1, 0}
            << QByteArray("a=500 b=499 c=1") << QByteArray("a0 b0 c0 a1 .. a499");
        QTest::newRow("a share counts its bytes")
            << QByteArrayList{"b 10", "a 2 " + MiB(40), "b 1 " + MiB(30)} << QList<int>{10, 1, 1}
            << QByteArray("b=11") << QByteArray("b0 b1 b2 b3 .. b10");
        QTest::newRow("senders take turns")
            << QByteArrayList{"a 3", "b 2", "- 2"} << QList<int>{3, 2, 2}
            << QByteArray("-=2 a=3 b=2") << QByteArray("a0 b0 -0 a1 .. a2");
        QTest::newRow("the local user is queued past the limit and never makes room")
            << QByteArrayList{"a 1000", "- 2 " + Limit, "a 1", "b 1"} << QList<int>{1000, 2, 0, 1}
            << QByteArray("-=2 a=999 b=1") << QByteArray("a0 -0 b0 a1 .. a998");
    }

    void shares() {
        QFETCH(QByteArrayList, steps);
        QFETCH(QList<int>, accepted);
        QFETCH(QByteArray, left);
        QFETCH(QByteArray, taken);

        TListJobQueue Queue;
        QMap<QByteArray, int> Offered;
        QList<int> Accepted;
        for (const QByteArray &Step : steps) {
            const QByteArrayList Parts = Step.split(' ');
            const QByteArray Sender = Parts.at(0) == "-" ? QByteArray() : Parts.at(0);
            int Count = 0;
            for (int I = Parts.at(1).toInt(); I > 0; --I) {
                const QByteArray Name = Parts.at(0) + QByteArray::number(Offered[Parts.at(0)]++);
                Count += Queue.Add({Sender, Name, {}, Parts.value(2, "1").toLongLong(), {}});
            }
            Accepted.append(Count);
        }
        QCOMPARE(Accepted, accepted);

        QMap<QByteArray, int> Left;
        QByteArrayList Taken;
        while (std::optional<TListJob> Job = Queue.Take()) {
            Taken.append(Job->Command);
            ++Left[Job->Sender.isEmpty() ? "-" : Job->Sender];
        }
        QCOMPARE(Queue.Count(), 0);
        QByteArrayList Shares;
        for (auto It = Left.cbegin(); It != Left.cend(); ++It)
            Shares.append(It.key() + "=" + QByteArray::number(It.value()));
        QCOMPARE(Shares.join(' '), left);
        if (Taken.size() > 5)
            Taken = Taken.first(4) << ".." << Taken.last();
        QCOMPARE(Taken.join(' '), taken);
    }
};

QTEST_GUILESS_MAIN(TestListJobQueue)
#include "tst_listjobqueue.moc"
