#include "AsciiText.h"
#include "CommandClient.h"
#include "RemotePlayers.h"
#include "RemoteSession.h"
#include "ScriptedSpeaker.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

// Letters as locations, "AB" -> http://h/A, http://h/B.
QByteArrayList Urls(const QByteArray &Letters) {
    QByteArrayList Out;
    for (const char L : Letters)
        Out.append("http://h/" + QByteArray(1, L));
    return Out;
}

QByteArray ListMessage(const QByteArrayList &List) {
    return BuildMessage("LIST", JoinLines(List));
}

enum TEdit { Remove, Down, Up, NextPlaying, Drop };

} // namespace

class TestRemoteSession : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TScriptedSpeaker> FSpeaker;
    std::unique_ptr<TRemoteSession> FSession;

    bool Open(int RefreshMs) {
        FSession.reset();
        FSpeaker = std::make_unique<TScriptedSpeaker>();
        FSession = std::make_unique<TRemoteSession>(nullptr, RefreshMs, RefreshMs);
        if (!FSpeaker->Listen())
            return false;
        FSession->Start(QStringLiteral("127.0.0.1"), FSpeaker->Port());
        return FSpeaker->WaitForPeer();
    }
    // Says Bytes and waits until the session has taken all of it (a sentinel "MUTE" follows).
    bool SayAll(const QByteArray &Bytes) {
        QSignalSpy Sentinel(FSession->Client(), &TCommandClient::MuteReceived);
        FSpeaker->Say(Bytes + "MUTE\r\n0\r\n");
        return QTest::qWaitFor([&] { return !Sentinel.isEmpty(); }, 10000);
    }
    // What the speaker received, once a sentinel "GET" has come behind it.
    QByteArray Sent() {
        FSession->PostCommand("GET", {});
        if (!QTest::qWaitFor([&] { return FSpeaker->Received.endsWith("GET\r\n\r\n"); }, 5000))
            return "no sentinel";
        return FSpeaker->Received.chopped(7);
    }

private Q_SLOTS:
    void position_data() {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("time");

        QTest::newRow("comma separator")
            << QByteArrayList{"215,00", "107,50", "01:47"} << 50 << QStringLiteral("01:47");
        QTest::newRow("zero duration")
            << QByteArrayList{"0,00", "50,00", "00:50"} << 7 << QStringLiteral("00:07");
        QTest::newRow("two separators")
            << QByteArrayList{"200,00", "50.0.0"} << 7 << QStringLiteral("00:07");
        QTest::newRow("blank around a number")
            << QByteArrayList{"200.00", " 50.00"} << 7 << QStringLiteral("00:07");
    }
    void position() {
        QFETCH(QByteArrayList, lines);
        QFETCH(int, bar);
        QFETCH(QString, time);
        QVERIFY(Open(0));
        QVERIFY(SayAll(BuildMessage("POSITION", "100.00\n7.00\n00:07") +
                       BuildMessage("POSITION", JoinLines(lines))));
        QTRY_COMPARE(FSession->TimeText(), time);
        QCOMPARE(FSession->BarValue(TTrackBar::Position), bar);
    }

    // A hostile speaker's floods: read a slice per turn, repainted once per interval with
    // the newest of each kind.
    void floods_data() {
        QTest::addColumn<QByteArray>("flood");
        QTest::addColumn<qint32>("state");
        QTest::addColumn<int>("bound"); // replies delivered before a call queued at the first

        QByteArray States;
        for (int I = 0; I < 100000; ++I)
            States += I % 2 ? "STATE\r\n3\r\n" : "STATE\r\n2\r\n";
        QTest::newRow("STATE flood, 1 MB") << States << 3 << 65536 / 10 + 1;
        QByteArray Lists;
        for (int I = 0; I < 80; ++I)
            Lists += ListMessage(QByteArrayList(1000 + I, "http://192.168.1.20:37401/Track.mp3"));
        QTest::newRow("LIST stream, 4 MB") << Lists + "STATE\r\n1\r\n" << 1 << 1;
    }
    void floods() {
        QFETCH(QByteArray, flood);
        QFETCH(qint32, state);
        QFETCH(int, bound);
        QVERIFY(Open(200));
        QSignalSpy Repaints(FSession.get(), &TRemoteSession::Repaint);
        // A call queued when the first reply comes runs before the next slice is read.
        int Delivered = 0, DeliveredWhenQueuedRan = -1;
        const auto Count = [&] {
            if (++Delivered == 1)
                QMetaObject::invokeMethod(
                    this, [&] { DeliveredWhenQueuedRan = Delivered; }, Qt::QueuedConnection);
        };
        connect(FSession->Client(), &TCommandClient::StateReceived, this, Count);
        connect(FSession->Client(), &TCommandClient::ListReceived, this, Count);
        QElapsedTimer Took;
        Took.start();
        QVERIFY(SayAll(flood));
        QCOMPARE(qint32(FSession->State()), state);
        QVERIFY2(DeliveredWhenQueuedRan > 0 && DeliveredWhenQueuedRan <= bound,
                 QByteArray::number(DeliveredWhenQueuedRan).constData());
        // One repaint of each kind per interval, and one more for the quiet start.
        QVERIFY2(Repaints.size() <= 2 * (Took.elapsed() / 200 + 1),
                 QByteArray::number(Repaints.size()).constData());
    }

    void heldBars_data() {
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<int>("position"); // the bar at the end
        QTest::addColumn<QByteArray>("sent");

        const QByteArray Report = "say POSITION\r\n3\r\n200.00\r\n50.00\r\n00:50\r\n";
        QTest::newRow("a report does not move the held bar; the release seeks")
            << QByteArrayList{"press P", "move P 80", Report, "release P"} << 80
            << QByteArray("UPDATEPOSITION\r\n80\r\n");
        QTest::newRow("held volume keeps the user's value")
            << QByteArrayList{"press V", "move V 60", "say VOLUMN\r\n20\r\n", "release V"} << 0
            << QByteArray("VOLUMN\r\n60\r\n");
        QTest::newRow("a report after an idle release arms the next one")
            << QByteArrayList{"press V", "release V", Report, "release P"} << 25
            << QByteArray("UPDATEPOSITION\r\n25\r\n");
    }
    void heldBars() {
        QFETCH(QByteArrayList, steps);
        QFETCH(int, position);
        QFETCH(QByteArray, sent);
        QVERIFY(Open(0));
        for (const QByteArray &Step : steps) {
            const TTrackBar Bar = Step.contains(" P") ? TTrackBar::Position : TTrackBar::Volume;
            if (Step.startsWith("say "))
                QVERIFY(SayAll(Step.mid(4)));
            else if (Step.startsWith("press"))
                FSession->PressBar(Bar);
            else if (Step.startsWith("move"))
                FSession->BarMoved(Bar, Step.mid(Step.lastIndexOf(' ') + 1).toInt());
            else
                FSession->ReleaseBar(Bar);
        }
        QCOMPARE(FSession->BarValue(TTrackBar::Position), position);
        QCOMPARE(Sent(), sent);
    }

    // Another controller changed the list after the last repaint: the edit applies to what the
    // speaker holds now, and keeps rows that no URL parser would read.
    void editOnNewestList_data() {
        QTest::addColumn<QByteArrayList>("shown");
        QTest::addColumn<QByteArrayList>("newest"); // empty: none came after the repaint
        QTest::addColumn<int>("edit");
        QTest::addColumn<QList<int>>("rows"); // rows of the shown list
        QTest::addColumn<int>("target");
        QTest::addColumn<QByteArrayList>("sent"); // empty: nothing sent

        const QByteArrayList Odd{"", "http://h:99999/x.mp3", "http://a b/y.mp3", "z"};
        QTest::newRow("remove, an ADD came in")
            << Urls("ABCD") << Urls("ABCDE") << int(Remove) << QList<int>{1} << -1 << Urls("ACDE");
        QTest::newRow("down, an ADD came in")
            << Urls("ABCD") << Urls("ABCDE") << int(Down) << QList<int>{3} << -1 << Urls("ABCED");
        QTest::newRow("up, rows reordered elsewhere")
            << Urls("ABCD") << Urls("DCBA") << int(Up) << QList<int>{1} << -1 << Urls("DBCA");
        QTest::newRow("next playing after the newest current row")
            << Urls("ABCD") << Urls("ABCDE") << int(NextPlaying) << QList<int>{3} << -1
            << Urls("ABDCE");
        QTest::newRow("drop, a row gone elsewhere")
            << Urls("ABCD") << Urls("ACD") << int(Drop) << QList<int>{0, 1} << 3 << Urls("CAD");
        QTest::newRow("drop on a row gone elsewhere")
            << Urls("ABCD") << Urls("ACD") << int(Drop) << QList<int>{0} << 1 << QByteArrayList();
        QTest::newRow("second of two equal rows")
            << Urls("ABA") << Urls("CABA") << int(Remove) << QList<int>{2} << -1 << Urls("CAB");
        QTest::newRow("lines no URL parser reads stay")
            << Odd + Urls("A") << QByteArrayList() << int(Remove) << QList<int>{4} << -1 << Odd;
    }
    void editOnNewestList() {
        QFETCH(QByteArrayList, shown);
        QFETCH(QByteArrayList, newest);
        QFETCH(int, edit);
        QFETCH(QList<int>, rows);
        QFETCH(int, target);
        QFETCH(QByteArrayList, sent);
        // The repaint after the first list holds off the next one for the whole test.
        QVERIFY(Open(60000));
        QSignalSpy Repaints(FSession.get(), &TRemoteSession::Repaint);
        FSpeaker->Say(ListMessage(shown) + "URL\r\nhttp://h/B\r\n");
        QVERIFY(Repaints.wait());
        if (!newest.isEmpty())
            QVERIFY(SayAll(ListMessage(newest)));
        QCOMPARE(FSession->List(), shown);
        const auto [Move, InPlace] = edit == Remove        ? FSession->Remove(rows)
                                     : edit == Down        ? FSession->MoveDown(rows)
                                     : edit == Up          ? FSession->MoveUp(rows)
                                     : edit == NextPlaying ? FSession->MoveToNextPlaying(rows)
                                                           : FSession->DropOn(rows, target);
        QCOMPARE(InPlace, newest.isEmpty());
        QCOMPARE(bool(Move), !sent.isEmpty());
        QCOMPARE(FSession->List(), sent.isEmpty() ? shown : sent);
        QCOMPARE(Sent(),
                 sent.isEmpty() ? "" : BuildControllerMessage("UPDATELIST", JoinLines(sent)));
    }

    // Play Now waits for the speaker's list, then starts once the speaker reports the new one;
    // next and previous name rows of the speaker's order.
    void playsWhenTheSpeakerIsReady() {
        QVERIFY(Open(0));
        const auto Got = [this](const QByteArray &Word, const QByteArrayList &Lines) {
            return FSpeaker->Received.contains(BuildControllerMessage(Word, JoinLines(Lines)));
        };
        FSession->PlayTracks(Urls("CD"), TPlayMode::PlayNow);
        QTRY_VERIFY(FSpeaker->Received.endsWith("GET\r\n\r\n"));
        QVERIFY(!FSpeaker->Received.contains("UPDATELIST"));
        QVERIFY(SayAll(ListMessage(Urls("AB")) + "URL\r\nhttp://h/A\r\n"));
        QTRY_VERIFY(Got("ADD", Urls("C")));
        QVERIFY(Got("UPDATELIST", Urls("CD")) && !FSpeaker->Received.contains("URL"));
        QVERIFY(SayAll(ListMessage(Urls("CD")) + "URL\r\nhttp://h/C\r\n"));
        QTRY_VERIFY(Got("URL", Urls("C")));
        QTRY_COMPARE(FSession->Mark(), Urls("C")[0]);
        FSession->PlayPrevious();
        FSession->PlayNext();
        QTRY_VERIFY(Got("URL", Urls("D")) && FSpeaker->Received.indexOf("URL\r\nhttp://h/C") > 0);
    }

    // A started session stands in RemotePlayers, by its host's address value, until its
    // connection ends, whichever way; it leaves once.
    void standsInRemotePlayersWhileConnected_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<quint32>("hostAddr");
        QTest::addColumn<int>("ending"); // 0: closed, 1: the speaker drops, 2: deleted
        QTest::newRow("closed") << "127.0.0.1" << quint32(0x7F000001) << 0;
        QTest::newRow("speaker drops, short form") << "127.1" << quint32(0x7F000001) << 1;
        QTest::newRow("deleted, by name") << "localhost" << 0xFFFFFFFFu << 2;
    }
    void standsInRemotePlayersWhileConnected() {
        QFETCH(QString, host);
        QFETCH(quint32, hostAddr);
        QFETCH(int, ending);
        FSession.reset(); // the other tests' session
        TScriptedSpeaker Speaker;
        QVERIFY(Speaker.Listen());
        auto Session = std::make_unique<TRemoteSession>();
        QSignalSpy Removed(&RemotePlayers(), &TRemotePlayerList::PageRemoved);
        Session->Start(host, Speaker.Port());
        QCOMPARE(Session->HostAddr(), hostAddr);
        QCOMPARE(RemotePlayers().Pages(), QList<TRemotePlayer *>{Session.get()});
        QVERIFY(Speaker.WaitForPeer());
        if (ending == 0)
            Session->EndConnection();
        else if (ending == 1)
            Speaker.Peer->close();
        else
            Session.reset();
        QTRY_VERIFY(RemotePlayers().IsEmpty());
        Session.reset();
        QCOMPARE(Removed.count(), 1);
    }
};

QTEST_MAIN(TestRemoteSession)
#include "tst_remotesession.moc"
