#include "MediaControlStrip.h"
#include "MediaComponent.h"
#include "TrackTime.h"

#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QtTest>

namespace {

// Records what the strip asks for; the test sets what it reports.
class TFakeMedia : public TMediaComponent {
public:
    QStringList Calls;
    int State = 1;
    int Vol = 50;
    bool Muted = false;
    bool Loaded = false;
    double Length = 0;
    double Pos = 0;

    void SetURL(const QByteArray &) override {}
    QByteArray URL() const override { return {}; }
    TPlayState PlayState() const override { return TPlayState(State); }
    void Play() override { Calls << "Play"; }
    void Pause() override { Calls << "Pause"; }
    void Stop() override { Calls << "Stop"; }
    double CurrentPosition() const override { return Pos; }
    void SetCurrentPosition(double Seconds) override {
        Calls << QStringLiteral("Seek %1").arg(Seconds);
    }
    QString CurrentPositionString() const override { return FormatTrackTime(Pos); }
    int Volume() const override { return Vol; }
    void SetVolume(int Value) override { Calls << QStringLiteral("Volume %1").arg(Value); }
    bool Mute() const override { return Muted; }
    void SetMute(bool Value) override { Calls << QStringLiteral("Mute %1").arg(Value); }
    bool HasMedia() const override { return Loaded; }
    double Duration() const override { return Length; }
    QString MediaName() const override { return {}; }
    QString MediaAuthor() const override { return {}; }

    void ChangeState(int NewState) {
        State = NewState;
        Q_EMIT PlayStateChange(TPlayState(NewState));
    }
};

} // namespace

class TstMediaControlStrip : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void transportFollowsPlayState() {
        TFakeMedia Media;
        TMediaControlStrip Strip(&Media);
        Strip.PlayPauseButton()->click();
        Media.ChangeState(3);
        Strip.PlayPauseButton()->click();
        Strip.StopButton()->click();
        QCOMPARE(Media.Calls, (QStringList{"Play", "Pause", "Stop"}));
    }

    void userChangesReachTheComponent() {
        TFakeMedia Media;
        Media.Loaded = true;
        Media.Length = 200;
        Media.State = 3;
        TMediaControlStrip Strip(&Media);
        Strip.VolumeSlider()->setValue(30);
        Strip.MuteButton()->click();
        Strip.SeekSlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(Media.Calls.value(0), QStringLiteral("Volume 30"));
        QCOMPARE(Media.Calls.value(1), QStringLiteral("Mute 1"));
        QVERIFY(Media.Calls.value(2).startsWith("Seek "));
        QVERIFY(Media.Calls.value(2).mid(5).toDouble() > 0);
    }

    // Showing what the component reports must never write it back (a quiet start
    // or a controller's change would otherwise be undone or echoed).
    void refreshShowsComponentWithoutWritingBack() {
        TFakeMedia Media;
        TMediaControlStrip Strip(&Media);
        Media.Vol = 80;
        Media.Muted = true;
        Media.Loaded = true;
        Media.Length = 200;
        Media.Pos = 100;
        Strip.Refresh();
        QVERIFY(Media.Calls.isEmpty());
        QCOMPARE(Strip.VolumeSlider()->value(), 80);
        QVERIFY(Strip.MuteButton()->isChecked());
        QCOMPARE(Strip.SeekSlider()->value(), Strip.SeekSlider()->maximum() / 2);
        QCOMPARE(Strip.TimeLabel()->text(), QStringLiteral("01:40 / 03:20"));
    }

    // Nothing wakes an idle strip: the position timer runs only on screen while playing.
    void positionTimerOnlyWhilePlaying_data() {
        QTest::addColumn<int>("State");
        QTest::addColumn<bool>("Shown");
        QTest::addColumn<bool>("Follows");
        QTest::newRow("playing") << 3 << true << true;
        QTest::newRow("paused") << 2 << true << false;
        QTest::newRow("stopped") << 1 << true << false;
        QTest::newRow("ready") << 10 << true << false;
        QTest::newRow("playing, hidden") << 3 << false << false;
    }
    void positionTimerOnlyWhilePlaying() {
        QFETCH(int, State);
        QFETCH(bool, Shown);
        QFETCH(bool, Follows);
        TFakeMedia Media;
        TMediaControlStrip Strip(&Media);
        Strip.show();
        Media.ChangeState(3);
        Media.ChangeState(State);
        if (!Shown)
            Strip.hide();
        QCOMPARE(Strip.IsFollowingPosition(), Follows);
        // Play state reaches the button without any timer.
        QCOMPARE(Strip.PlayPauseButton()->accessibleName(),
                 State == 3 ? QStringLiteral("Pause") : QStringLiteral("Play"));
    }

    void noSeekWithoutDuration() {
        TFakeMedia Media;
        Media.Loaded = true; // a stream: duration unknown
        TMediaControlStrip Strip(&Media);
        QVERIFY(!Strip.SeekSlider()->isEnabled());
        Strip.SeekSlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QVERIFY(Media.Calls.isEmpty());
        QCOMPARE(Strip.TimeLabel()->text(), QStringLiteral("00:00"));
    }
};

QTEST_MAIN(TstMediaControlStrip)
#include "tst_mediacontrolstrip.moc"
