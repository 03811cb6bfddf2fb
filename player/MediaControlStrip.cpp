#include "MediaControlStrip.h"

#include "MediaComponent.h"
#include "MediaPlayer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int SeekSteps = 1000;
constexpr int RefreshMs = 250;

} // namespace

TMediaControlStrip::TMediaControlStrip(TMediaComponent *Media, QWidget *Parent)
    : QWidget(Parent), FMedia(Media), FPlayPause(new QToolButton(this)),
      FStop(new QToolButton(this)), FSeek(new QSlider(Qt::Horizontal, this)),
      FTime(new QLabel(this)), FMute(new QToolButton(this)),
      FVolume(new QSlider(Qt::Horizontal, this)), FRefreshTimer(new QTimer(this)) {
    FStop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    FStop->setToolTip(tr("Stop"));
    FSeek->setRange(0, SeekSteps);
    FSeek->setToolTip(tr("Seek"));
    FMute->setCheckable(true);
    FVolume->setRange(0, 100);
    FVolume->setToolTip(tr("Volume"));
    FVolume->setMaximumWidth(80);
    FSeek->setMinimumWidth(50);
    FTime->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")));

    auto *Layout = new QHBoxLayout(this);
    Layout->addWidget(FPlayPause);
    Layout->addWidget(FStop);
    Layout->addWidget(FSeek, 1);
    Layout->addWidget(FTime);
    Layout->addWidget(FMute);
    Layout->addWidget(FVolume);

    connect(FPlayPause, &QToolButton::clicked, this, &TMediaControlStrip::PlayPauseClicked);
    connect(FStop, &QToolButton::clicked, this, [this] {
        FMedia->Stop();
        Refresh();
    });
    connect(FMute, &QToolButton::clicked, this, [this](bool Checked) {
        FMedia->SetMute(Checked);
        Refresh();
    });
    // Only moves made by the user reach the component; Refresh() blocks signals.
    connect(FVolume, &QSlider::valueChanged, this, [this](int Value) { FMedia->SetVolume(Value); });
    connect(FSeek, &QSlider::sliderReleased, this, [this] { SeekTo(FSeek->value()); });
    connect(FSeek, &QSlider::actionTriggered, this, [this](int Action) {
        // Clicks on the groove and keys; a drag seeks once, on release.
        if (Action != QAbstractSlider::SliderMove)
            SeekTo(FSeek->sliderPosition());
    });
    connect(FMedia, &TMediaComponent::PlayStateChange, this, &TMediaControlStrip::Refresh);
    connect(FRefreshTimer, &QTimer::timeout, this, &TMediaControlStrip::Refresh);
    FRefreshTimer->setInterval(RefreshMs);
    Refresh();
}

// Only a strip on screen follows the component, so a hidden player costs nothing.
void TMediaControlStrip::showEvent(QShowEvent *Event) {
    QWidget::showEvent(Event);
    Refresh();
    FRefreshTimer->start();
}

void TMediaControlStrip::hideEvent(QHideEvent *Event) {
    QWidget::hideEvent(Event);
    FRefreshTimer->stop();
}

void TMediaControlStrip::Refresh() {
    const bool Playing = FMedia->PlayState() == StatePlaying;
    FPlayPause->setIcon(
        style()->standardIcon(Playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    FPlayPause->setToolTip(Playing ? tr("Pause") : tr("Play"));

    const double Duration = FMedia->HasMedia() ? FMedia->Duration() : 0.0;
    const double Position = FMedia->CurrentPosition();
    FSeek->setEnabled(Duration > 0);
    if (!FSeek->isSliderDown()) {
        const QSignalBlocker Block(FSeek);
        FSeek->setValue(
            Duration > 0 ? int(std::lround(std::clamp(Position / Duration, 0.0, 1.0) * SeekSteps))
                         : 0);
    }
    QString Text = FMedia->CurrentPositionString();
    if (Duration > 0)
        Text += QStringLiteral(" / ") + TMediaPlayer::FormatPosition(Duration);
    FTime->setText(Text);

    const bool Muted = FMedia->Mute();
    FMute->setChecked(Muted);
    FMute->setIcon(
        style()->standardIcon(Muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    FMute->setToolTip(Muted ? tr("Sound on") : tr("Mute"));
    if (!FVolume->isSliderDown()) {
        const QSignalBlocker Block(FVolume);
        FVolume->setValue(FMedia->Volume());
    }
}

void TMediaControlStrip::PlayPauseClicked() {
    if (FMedia->PlayState() == StatePlaying)
        FMedia->Pause();
    else
        FMedia->Play();
    Refresh();
}

void TMediaControlStrip::SeekTo(int SliderValue) {
    const double Duration = FMedia->HasMedia() ? FMedia->Duration() : 0.0;
    if (Duration > 0)
        FMedia->SetCurrentPosition(Duration * SliderValue / SeekSteps);
}
