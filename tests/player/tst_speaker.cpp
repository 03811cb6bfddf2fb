#include "SpeakerRig.h"

#include <QtTest>

class TstSpeaker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // An idle player has no timer running; whatever may need a tick starts it again.
    void timersSleepWhileIdle_data() {
        QTest::addColumn<QString>("Case");
        QTest::addColumn<bool>("Play");
        QTest::addColumn<bool>("Position");
        QTest::newRow("empty list, stopped") << "empty" << false << false;
        QTest::newRow("paused") << "paused" << false << false;
        QTest::newRow("playing") << "playing" << true << true;
        QTest::newRow("controller command while paused") << "command" << true << false;
        QTest::newRow("job queued while paused") << "job" << true << false;
    }
    void timersSleepWhileIdle() {
        QFETCH(QString, Case);
        QFETCH(bool, Play);
        QFETCH(bool, Position);
        TSpeakerRig R;
        if (Case == "empty") {
            R.Speaker.Engine()->RemoveRows({0, 1, 2, 3, 4});
            R.Media->Enter(1);
        } else {
            R.Media->Enter(Case == "playing" ? 3 : 2);
        }
        // One tick finds nothing to do and stops the timer.
        QTRY_COMPARE(R.Speaker.IsPlayTickRunning(), Case == "playing");
        if (Case == "command")
            R.Speaker.Engine()->ExecuteCommand(1, "10.0.0.9", TCommandMessage{"MUTE", {"1"}, 1});
        else if (Case == "job")
            R.Speaker.AddLocalTracks({Url('F')});
        QCOMPARE(R.Speaker.IsPlayTickRunning(), Play);
        QCOMPARE(R.Speaker.IsPositionTickRunning(), Position);
    }
};

QTEST_GUILESS_MAIN(TstSpeaker)
#include "tst_speaker.moc"
