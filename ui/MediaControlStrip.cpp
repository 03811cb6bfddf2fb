#include "MediaControlStrip.h"

#include "MediaComponent.h"
#include "TrackTime.h"

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
// The position text changes once a second; the bar moves a pixel every few hundred ms.
constexpr int RefreshMs = 500;

void SetName(QWidget *Widget, const QString &Name) {
    Widget->setToolTip(Name);
    Widget->setAccessibleName(Name);
}

} // namespace

TMediaControlStrip::TMediaControlStrip(TMediaComponent *Media, QWidget *Parent)
    : QWidget(Parent), FMedia(Media), FPlayPause(new QToolButton(this)),
      FStop(new QToolButton(this)), FSeek(new QSlider(Qt::Horizontal, this)),
      FTime(new QLabel(this)), FMute(new QToolButton(this)),
      FVolume(new QSlider(Qt::Horizontal, this)), FRefreshTimer(new QTimer(this)) {
    FStop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    SetName(FStop, tr("Stop"));
    FSeek->setRange(0, SeekSteps);
    SetName(FSeek, tr("Position"));
    FMute->setCheckable(true);
    FVolume->setRange(0, 100);
    SetName(FVolume, tr("Volume"));
    FVolume->setMaximumWidth(80);
    FSeek->setMinimumWidth(50);
    // A screen reader reads the time itself as the label's name; the role goes in the
    // description.
    FTime->setTextFormat(Qt::PlainText);
    FTime->setAccessibleDescription(tr("Time"));
    // A fixed width: a changing text never lays the strip out again.
    FTime->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
    FTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

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
        Q_EMIT ChangedByUser();
    });
    connect(FMute, &QToolButton::clicked, this, [this](bool Checked) {
        FMedia->SetMute(Checked);
        Refresh();
        Q_EMIT ChangedByUser();
    });
    // Only moves made by the user reach the component; Refresh() blocks signals.
    connect(FVolume, &QSlider::valueChanged, this, [this](int Value) {
        FMedia->SetVolume(Value);
        Q_EMIT ChangedByUser();
    });
    connect(FSeek, &QSlider::sliderReleased, this, [this] { SeekTo(FSeek->value()); });
    connect(FSeek, &QSlider::actionTriggered, this, [this](int Action) {
        // Clicks on the groove and keys; a drag seeks once, on release.
        if (Action != QAbstractSlider::SliderMove)
            SeekTo(FSeek->sliderPosition());
    });
    connect(FMedia, &TMediaComponent::PlayStateChange, this,
            &TMediaControlStrip::OnPlayStateChanged);
    connect(FRefreshTimer, &QTimer::timeout, this, &TMediaControlStrip::Refresh);
    FRefreshTimer->setInterval(RefreshMs);
    FRefreshTimer->setTimerType(Qt::CoarseTimer);
    Refresh();
}

void TMediaControlStrip::SetSkipActions(std::function<void()> Previous,
                                        std::function<void()> Next) {
    const auto Make = [this](QStyle::StandardPixmap Icon, const QString &Name,
                             std::function<void()> Run) {
        auto *Button = new QToolButton(this);
        Button->setIcon(style()->standardIcon(Icon));
        SetName(Button, Name);
        connect(Button, &QToolButton::clicked, this, [this, Run = std::move(Run)] {
            Run();
            Q_EMIT ChangedByUser();
        });
        return Button;
    };
    if (FPrevious)
        return;
    FPrevious = Make(QStyle::SP_MediaSkipBackward, tr("Previous"), std::move(Previous));
    FNext = Make(QStyle::SP_MediaSkipForward, tr("Next"), std::move(Next));
    auto *Row = static_cast<QHBoxLayout *>(layout());
    Row->insertWidget(Row->indexOf(FStop) + 1, FNext);
    Row->insertWidget(Row->indexOf(FStop) + 1, FPrevious);
}

void TMediaControlStrip::showEvent(QShowEvent *Event) {
    QWidget::showEvent(Event);
    Refresh();
    UpdateTimer();
}

void TMediaControlStrip::hideEvent(QHideEvent *Event) {
    QWidget::hideEvent(Event);
    UpdateTimer();
}

void TMediaControlStrip::OnPlayStateChanged() {
    Refresh();
    UpdateTimer();
}

void TMediaControlStrip::UpdateTimer() {
    // A hidden strip or a track that does not move has nothing to follow: no wake-ups.
    const bool Follow = isVisible() && FMedia->PlayState() == TPlayState::Playing;
    if (Follow && !FRefreshTimer->isActive())
        FRefreshTimer->start();
    else if (!Follow)
        FRefreshTimer->stop();
}

bool TMediaControlStrip::IsFollowingPosition() const {
    return FRefreshTimer->isActive();
}

void TMediaControlStrip::Refresh() {
    const bool Playing = FMedia->PlayState() == TPlayState::Playing;
    if (int(Playing) != FShownPlaying) {
        FShownPlaying = Playing;
        FPlayPause->setIcon(
            style()->standardIcon(Playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
        SetName(FPlayPause, Playing ? tr("Pause") : tr("Play"));
    }

    const double Duration = FMedia->HasMedia() ? FMedia->Duration() : 0.0;
    const double Position = FMedia->CurrentPosition();
    FSeek->setEnabled(Duration > 0);
    if (!FSeek->isSliderDown()) {
        const int Value =
            Duration > 0 ? int(std::lround(std::clamp(Position / Duration, 0.0, 1.0) * SeekSteps))
                         : 0;
        // Redrawn only when the handle would move by a pixel.
        const int Span = std::max(1, FSeek->width());
        if (QStyle::sliderPositionFromValue(0, SeekSteps, Value, Span) !=
                QStyle::sliderPositionFromValue(0, SeekSteps, FSeek->value(), Span) ||
            (Value == 0) != (FSeek->value() == 0)) {
            const QSignalBlocker Block(FSeek);
            FSeek->setValue(Value);
        }
    }
    QString Text = FMedia->CurrentPositionString();
    if (Duration > 0)
        Text += QStringLiteral(" / ") + FormatTrackTime(Duration);
    if (Text != FTime->text())
        FTime->setText(Text);

    const bool Muted = FMedia->Mute();
    FMute->setChecked(Muted); // a click may have toggled it against the component
    if (int(Muted) != FShownMuted) {
        FShownMuted = Muted;
        FMute->setIcon(
            style()->standardIcon(Muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
        SetName(FMute, Muted ? tr("Sound on") : tr("Mute"));
    }
    if (!FVolume->isSliderDown() && FVolume->value() != FMedia->Volume()) {
        const QSignalBlocker Block(FVolume);
        FVolume->setValue(FMedia->Volume());
    }
}

void TMediaControlStrip::PlayPauseClicked() {
    if (FMedia->PlayState() == TPlayState::Playing)
        FMedia->Pause();
    else if (FPlayAction)
        FPlayAction();
    else
        FMedia->Play();
    Refresh();
    Q_EMIT ChangedByUser();
}

void TMediaControlStrip::SeekTo(int SliderValue) {
    const double Duration = FMedia->HasMedia() ? FMedia->Duration() : 0.0;
    if (Duration > 0)
        FMedia->SetCurrentPosition(Duration * SliderValue / SeekSteps);
    Q_EMIT ChangedByUser();
}
