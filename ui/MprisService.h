#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>

class TMainWindow;
class TMediaComponent;
class TPlaybackEngine;
struct TTrackTags;

// Where desktops look for a media player on the session bus.
constexpr char MprisServiceName[] = "org.mpris.MediaPlayer2.vxPlayer";
constexpr char MprisObjectPath[] = "/org/mpris/MediaPlayer2";
constexpr char MprisPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

// This computer's speaker on the desktop's session bus, for media keys and the desktop's
// media widget (MPRIS 2). Every request acts on the media component the way the player's
// own control strip does, so the engine reports the result to every controller as it reports
// any other change. Property changes go out as PropertiesChanged, gathered per event-loop
// pass; nothing here polls. (Calls through its adaptors carry their bus context here.)
class TMprisService : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    // Engine: the speaker to show and steer; it may go away first.
    explicit TMprisService(TPlaybackEngine *Engine, QObject *Parent = nullptr);
    ~TMprisService() override;

    // Publishes the player on Bus under MprisServiceName (or an instance name when another
    // copy holds it). False, and nothing else happens, without a bus.
    bool Register(const QDBusConnection &Bus = QDBusConnection::sessionBus());
    // The bus name owned; empty while not registered.
    QString ServiceName() const { return FServiceName; }

    // Root interface: bring the main window forward; run the program's close sequence.
    void Raise() { Q_EMIT RaiseRequested(); }
    void Quit() { Q_EMIT QuitRequested(); }

    // "Playing", "Paused" or "Stopped".
    QString PlaybackStatus() const;
    // The tags of a track URL this computer serves (null: none), and the file of a cover's
    // thumbnail (empty: none yet). Metadata takes title, artists, album and the cover from them.
    using TTagsOf = std::function<const TTrackTags *(const QByteArray &URL)>;
    using TCoverFile = std::function<QString(const QByteArray &Hash)>;
    void SetTrackTags(TTagsOf TagsOf, TCoverFile CoverFile);
    // The tags or the covers changed: the metadata is announced again if it differs.
    void TagsChanged() { ScheduleUpdate(); }

    // The current track: mpris:trackid, xesam:url, xesam:title, xesam:artist, xesam:album,
    // mpris:artUrl, mpris:length.
    QVariantMap Metadata() const;
    // 0.0 .. 1.0 for the component's 0 .. 100; writing clamps and rounds.
    double Volume() const;
    void SetVolume(double Value);
    // Microseconds into the current track.
    qint64 Position() const;
    // Whether the play list has rows to move through.
    bool CanGoNext() const { return RowCount() > 0; }
    bool CanGoPrevious() const { return RowCount() > 0; }
    // Whether something can play: a row in the list or a loaded track.
    bool CanPlay() const;
    bool CanPause() const { return CanPlay(); }
    // Whether the current track has a known length.
    bool CanSeek() const;

    void Play();
    void Pause();
    void PlayPause();
    // The speaker moves on by itself from a stop, as it does for its own control strip.
    void Stop();
    // The next row in the speaker's play order, wrapping at the end.
    void Next();
    // The row before the current one, wrapping at the top, skipping rows it cannot play.
    void Previous();
    // Moves by Offset microseconds: at the start at most, past the end is Next().
    void Seek(qint64 Offset);
    // Moves to Position microseconds when TrackId is the current track and Position lies
    // within it; otherwise nothing happens (an id from before a reorder still names its track).
    void SetPosition(const QDBusObjectPath &TrackId, qint64 Position);
    // Refused with an error to the caller: what plays here comes from the library and from
    // controllers.
    void OpenUri(const QString &Uri);

    // The object path naming the track with the play list's row serial Serial; the "no track"
    // path for 0.
    static QDBusObjectPath TrackId(quint64 Serial);

Q_SIGNALS:
    void RaiseRequested();
    void QuitRequested();
    // The position jumped to Position microseconds, whoever moved it.
    void Seeked(qint64 Position);

private:
    TMediaComponent *Media() const;
    int RowCount() const;
    // The row serial of the track loaded, 0 when none.
    quint64 CurrentTrack() const;
    void ScheduleUpdate();
    // The properties that announce their changes, by name.
    QVariantMap WatchedProperties() const;
    void SendChanges();

    QPointer<TPlaybackEngine> FEngine;
    QDBusConnection FBus{QString()}; // not connected until Register
    QString FServiceName;
    QVariantMap FSent; // WatchedProperties() as last announced
    bool FUpdateQueued = false;
    TTagsOf FTagsOf;
    TCoverFile FCoverFile;
};

// The service for Window's local player: Raise restores Window, Quit runs its close sequence.
// Registered on Bus when there is one.
std::unique_ptr<TMprisService>
StartMprisService(TMainWindow &Window, const QDBusConnection &Bus = QDBusConnection::sessionBus());
