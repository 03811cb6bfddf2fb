#pragma once

#include <QWidget>

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

    // Shows the component's current state (also on state changes, and on a timer while on screen).
    void Refresh();

    QToolButton *PlayPauseButton() const { return FPlayPause; }
    QToolButton *StopButton() const { return FStop; }
    QToolButton *MuteButton() const { return FMute; }
    QSlider *SeekSlider() const { return FSeek; }
    QSlider *VolumeSlider() const { return FVolume; }
    QLabel *TimeLabel() const { return FTime; }

protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

private:
    void PlayPauseClicked();
    void SeekTo(int SliderValue);

    TMediaComponent *FMedia;
    QToolButton *FPlayPause;
    QToolButton *FStop;
    QSlider *FSeek;
    QLabel *FTime;
    QToolButton *FMute;
    QSlider *FVolume;
    QTimer *FRefreshTimer;
};
