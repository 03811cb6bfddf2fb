#pragma once

#include "MediaComponent.h"
#include "MpvOptions.h"
#include "ReplayGain.h"

#include <QList>

#include <atomic>
#include <optional>
#include <utility>

struct mpv_handle;
struct mpv_event;

// The libmpv media component: one mpv handle, driven and read on the GUI thread.
// Getters read state cached from mpv's property notifications, so none of them
// ever waits for mpv.
class TMediaPlayer : public TMediaComponent {
    Q_OBJECT
public:
    // ExtraOptions (tests pass ao=null, ao-null-untimed=yes) come after the base options,
    // and the user's (UserMpvOptions()) after those.
    explicit TMediaPlayer(const TMpvOptions &ExtraOptions = {}, QObject *Parent = nullptr);
    ~TMediaPlayer() override;

    // Whether mpv could be created and initialised.
    bool IsReady() const { return FMpv != nullptr; }

    void SetURL(const QByteArray &URL) override;
    QByteArray URL() const override { return FURL; }
    TPlayState PlayState() const override { return FState; }

    void Play() override;
    void Pause() override;
    void Stop() override;

    double CurrentPosition() const override;
    void SetCurrentPosition(double Seconds) override;
    QString CurrentPositionString() const override;

    int Volume() const override { return FVolume; }
    void SetVolume(int Value) override;
    bool Mute() const override { return FMute; }
    void SetMute(bool Value) override;

    // Queued in mpv's own list behind the loaded track, so that mpv joins them without a gap.
    void SetNextURL(const QByteArray &URL) override;
    // The track queued to follow the loaded one; empty: none.
    QByteArray NextURL() const { return FNextURL; }

    bool HasMedia() const override { return FHasMedia; }
    double Duration() const override;
    QString MediaName() const override;
    QString MediaAuthor() const override;

    // For playing in step with other rooms (MediaPlayerSync.cpp).
    // Loads URL paused at Position (seconds): the state turns Paused once it can play.
    void LoadPaused(const QByteArray &URL, double Position) override { Load(URL, true, Position); }
    // Playback speed, kept within 1 +- MaxSpeedTrim; the pitch follows it.
    void SetSpeed(double Speed) override;
    static constexpr double MaxSpeedTrim = 0.01;
    // The position being handed to the sound card now (audio-pts), read from mpv at the
    // call: nothing before the track plays or when mpv has none.
    std::optional<double> AudioPts() const override;

    // The sound outputs libmpv offers now (its audio-device-list): name and description.
    QList<std::pair<QByteArray, QString>> AudioDevices() const;
    // Switches the sound output at once; empty: the default ("auto").
    void SetAudioDevice(const QByteArray &Device);
    // Applies the ReplayGain settings while playing.
    void SetReplayGain(const TReplayGain &Gain);

    // Whether URL may be handed to mpv: http:// or https://, scheme case ignored.
    static bool IsPlayableURL(const QByteArray &URL);

private:
    enum class TEndReason { None, Eof, Stop, Error };

    void Load(const QByteArray &URL, bool Paused, double Position);
    static void WakeupCallback(void *Context);
    void DrainEvents();
    void HandleEvent(const mpv_event &Event);
    void HandlePropertyChange(const mpv_event &Event);
    void HandleReply(const mpv_event &Event);
    void SetState(TPlayState NewState);
    // Playing, paused or buffering, from the cached flags, once the file has started.
    void UpdateRunningState();
    void ForgetMedia();
    // Puts FNextURL behind the loaded track in mpv's list; Clear: first drop every entry but
    // the one playing (an older next, tracks played before).
    void AppendNext(bool Clear);
    // mpv started the queued entry Entry: it is the loaded track now.
    void PromoteNext(qint64 Entry, const QByteArray &URL);
    void Command(const QList<QByteArray> &Args, quint64 Tag);
    void SetFlagAsync(const char *Name, bool Value, quint64 Tag);

    mpv_handle *FMpv = nullptr;
    // Set by mpv's thread in the wakeup callback, cleared by the GUI thread's drain.
    std::atomic<bool> FWakeupPosted{false};
    bool FDraining = false;

    QByteArray FURL;
    TPlayState FState = TPlayState::Undefined;
    // Loads are numbered; only the newest one's mpv playlist entry drives the state.
    quint64 FLoadSeq = 0;
    qint64 FWantedEntry = 0; // 0: none wanted, -1: waiting for the loadfile reply
    bool FActive = false;    // the wanted entry has started and not ended
    bool FRestarted = false; // ... and has begun playing once
    TEndReason FEnd = TEndReason::None;
    // The track to join without a gap, and its mpv entry: 0 none, -1 waiting for the reply.
    QByteArray FNextURL;
    quint64 FNextSeq = 0;
    qint64 FNextEntry = 0;
    // Entries appended behind the loaded track, oldest first: one of them may start although
    // a newer one replaced it (it had started already when the replacement arrived).
    QList<std::pair<qint64, QByteArray>> FQueued;

    bool FHasMedia = false;
    bool FPause = false;
    bool FPausedForCache = false;
    bool FIdle = false;
    double FTimePos = 0;
    double FDuration = 0;
    QString FTitle;
    QString FArtist;

    // Values written here win over notifications that were in flight before the write.
    int FVolume = DefaultVolume;
    int FVolumeWrites = 0;
    bool FMute = false;
    int FMuteWrites = 0;
    int FSeekWrites = 0;
};

// What the user is told when MediaLibraryUsable() fails.
constexpr char MissingMediaLibraryText[] = "Need to Install the mpv media library (libmpv)";
// Creates and initialises an mpv handle and destroys it; false when that fails.
bool MediaLibraryUsable();
