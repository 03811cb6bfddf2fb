#pragma once

#include "CommandProtocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

// The component's volume before anybody sets one.
constexpr int DefaultVolume = 50;

// The media-player component the engine steers: transport, volume, mute, position
// and the play-state numbering of the command protocol (3 playing, 1 stopped,
// 10 ready, ...). TMediaPlayer is the libmpv one; tests drive a fake.
class TMediaComponent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TMediaComponent() override = default;

    // Loads the track at URL and starts playing it (auto-start).
    virtual void SetURL(const QByteArray &URL) = 0;
    // The URL loaded now, as written; empty when none.
    virtual QByteArray URL() const = 0;
    virtual TPlayState PlayState() const = 0;

    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;

    // Seconds; writing seeks and emits Seeked.
    virtual double CurrentPosition() const = 0;
    virtual void SetCurrentPosition(double Seconds) = 0;
    // mm:ss, or h:mm:ss past an hour.
    virtual QString CurrentPositionString() const = 0;

    virtual int Volume() const = 0; // 0..100
    virtual void SetVolume(int Value) = 0;
    virtual bool Mute() const = 0;
    virtual void SetMute(bool Value) = 0;

    // currentMedia: whether an item is loaded, its duration (0 when unknown),
    // its name and its "Author" attribute.
    virtual bool HasMedia() const = 0;
    virtual double Duration() const = 0;
    virtual QString MediaName() const = 0;
    virtual QString MediaAuthor() const = 0;

    // For playing in step with other rooms; a component that cannot does without.
    // Loads URL paused at Position (seconds): the state turns Paused once it can play.
    virtual void LoadPaused(const QByteArray &URL, double Position) {
        SetURL(URL);
        SetCurrentPosition(Position);
        Pause();
    }
    // The track to play right after the loaded one, joined without a gap (empty: none). A
    // component that cannot stops at the end as before. Kept across a stop and a reload of
    // the loaded track; SetURL drops it.
    virtual void SetNextURL(const QByteArray &URL) { Q_UNUSED(URL); }
    // Playback speed near 1.
    virtual void SetSpeed(double Speed) { Q_UNUSED(Speed); }
    // The position being handed to the sound card now, read at the call.
    virtual std::optional<double> AudioPts() const { return std::nullopt; }

Q_SIGNALS:
    // Every play-state change, on the GUI thread.
    void PlayStateChange(TPlayState NewState);
    // The volume changed, whoever changed it (0..100).
    void VolumeChange(int NewVolume);
    // A seek to Seconds was made, whoever asked for it.
    void Seeked(double Seconds);
    // The loaded track ended and the next one (SetNextURL) took its place without a stop:
    // URL() is now URL, and the play state did not change.
    void NextStarted(const QByteArray &URL);
};
