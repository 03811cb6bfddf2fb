#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QSlider;
class QTimer;
class QToolButton;
class TMediaComponent;

// The media component's own controls: play/pause, stop, seek bar, time, mute and
// volume. It only drives the component; whoever else cares notices the changes
// by reading the component.
class TMediaControlStrip : public QWidget {
    Q_OBJECT
public:
    explicit TMediaControlStrip(TMediaComponent *Media, QWidget *Parent = nullptr);

    // Shows the component's current state. Called on play-state changes and by the owner when
    // volume or mute change; while the strip is on screen and a track plays, also on a timer
    // for the position. Only what changed is redrawn.
    void Refresh();
    // What the play button does instead of the component's Play() (a resume may need more).
    void SetPlayAction(std::function<void()> Play) { FPlayAction = std::move(Play); }
    // Shows the previous and next buttons, which run these.
    void SetSkipActions(std::function<void()> Previous, std::function<void()> Next);
    // Whether the position timer runs (on screen and playing).
    bool IsFollowingPosition() const;

    QToolButton *PlayPauseButton() const { return FPlayPause; }
    QToolButton *StopButton() const { return FStop; }
    QToolButton *PreviousButton() const { return FPrevious; }
    QToolButton *NextButton() const { return FNext; }
    QToolButton *MuteButton() const { return FMute; }
    QSlider *SeekSlider() const { return FSeek; }
    QSlider *VolumeSlider() const { return FVolume; }
    QLabel *TimeLabel() const { return FTime; }

Q_SIGNALS:
    // The user changed the component here (transport, seek, volume, mute).
    void ChangedByUser();

protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

private:
    void PlayPauseClicked();
    void SeekTo(int SliderValue);
    void OnPlayStateChanged();
    // The timer runs only while there is a position to follow.
    void UpdateTimer();

    TMediaComponent *FMedia;
    std::function<void()> FPlayAction;
    QToolButton *FPlayPause;
    QToolButton *FStop;
    QToolButton *FPrevious = nullptr;
    QToolButton *FNext = nullptr;
    QSlider *FSeek;
    QLabel *FTime;
    QToolButton *FMute;
    QSlider *FVolume;
    QTimer *FRefreshTimer;
    // What the buttons show now (-1: nothing yet), so a refresh redraws only changes.
    int FShownPlaying = -1;
    int FShownMuted = -1;
};
