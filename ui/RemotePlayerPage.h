#pragma once

#include "PlayListPane.h"
#include "RemoteSession.h"

#include <QByteArrayList>
#include <QWidget>

#include <functional>

class QLabel;
class QSlider;
class QToolButton;
class TGroupPanel;
class TRemotePlayListModel;
class TRemoteSession;

// The controller's page for one speaker: it shows a TRemoteSession (its play list with the
// current track, its state, position, volume and mute) and forwards the user's commands to
// it. Removing and moving rows change the view at once. The page lives as long as its one
// connection; when that ends (and the session has left RemotePlayers) it says Finished.
class TRemotePlayerPage : public QWidget, public TPlayListEditor {
    Q_OBJECT
public:
    explicit TRemotePlayerPage(QWidget *Parent = nullptr);
    ~TRemotePlayerPage() override; // ends a connection still standing, silently

    // Starts the session with Host (a name or a dotted IPv4 address) on Port. Once per page.
    void ConnectTo(const QString &Host, quint16 Port);
    // Queues a command for the speaker ("GET", or "ADD" with locations joined by CR LF);
    // nothing is sent once the connection has ended.
    void PostCommand(const QByteArray &Command, const QByteArray &Body);
    // What the list and the information line show for a track before the speaker's words
    // (empty: those); called again when its answers change.
    void SetCaptions(std::function<QString(const QByteArray &URL)> CaptionOf);

    // The close button: ends the connection (or the attempt); Finished follows.
    void EndConnection();
    // Whether the connection has ended (the page is finished).
    bool HasEnded() const { return FSession->HasEnded(); }
    TRemoteSession &Session() const { return *FSession; }
    // The speaker's group under the transport buttons.
    TGroupPanel &GroupPanel() const { return *FGroupPanel; }

    // The list as shown, in view order.
    QByteArrayList ShownLocations() const;

    // User commands, also reachable from buttons, keys and the pop-up menu.
    // Play/Pause button: "STATE" 2 while the speaker plays, else 3.
    void PlayOrPause();
    // Stop button: "STATE" 1.
    void Stop();
    // Sound and Mute buttons: mute when sound is on, sound on when muted.
    void ToggleMute();
    // Double-click and Enter: the speaker plays the first selected row.
    void PlaySelectedRow() override;
    // Pauses when Row is the current track and the speaker plays.
    bool PausesRow(int Row) const override;
    // The pop-up's first entry: pauses or resumes the current track, else plays the row.
    void PlayOrPauseSelected(bool Pause) override;
    // Selects every row.
    void SelectAll();
    // Takes the selected rows off the list.
    void RemoveSelected() override;
    // Moves the selected rows after the row that follows the last of them.
    void MoveSelectionDown() override;
    // Moves the selected rows before the row that precedes the first of them.
    void MoveSelectionUp() override;
    // Moves the selected rows right after the current track.
    void MoveSelectionToNextPlaying() override;
    // A drag of the selected rows dropped on Row (-1: below the last row, nothing happens).
    void DropSelectionOn(int Row) override;

Q_SIGNALS:
    // The connection attempt failed; the main window tells the user. Finished follows.
    void ConnectFailed(const QString &Host);
    // The pop-up's "About".
    void AboutRequested();
    // The connection has ended and its session has left RemotePlayers: its tab can go.
    void Finished();

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    // The information line: the current track's caption when it has one, else the speaker's.
    void ShowInformation();
    void CreateControls();

    // Shows what the session says has changed.
    void Repaint(unsigned Changes);
    void ShowList();

    void OnTrackBarReleased(QSlider *Bar);
    void ApplyEdit(const TRemoteSession::TListEdit &Edit);
    TTrackBar BarOf(QObject *Bar) const;

    TRemoteSession *FSession = nullptr;

    TRemotePlayListModel *FModel = nullptr;
    QLabel *FInfoLabel = nullptr;
    QLabel *FTimeLabel = nullptr;
    QSlider *FPositionBar = nullptr;
    QToolButton *FPlayButton = nullptr;
    QToolButton *FPauseButton = nullptr;
    QToolButton *FStopButton = nullptr;
    QToolButton *FPreviousButton = nullptr;
    QToolButton *FNextButton = nullptr;
    QToolButton *FSoundButton = nullptr;
    QToolButton *FMuteButton = nullptr;
    QSlider *FVolumeBar = nullptr;
    QToolButton *FCloseButton = nullptr;
    TPlayListPane *FPane = nullptr;
    std::function<QString(const QByteArray &URL)> FCaptionOf;
    TGroupPanel *FGroupPanel = nullptr;
};
