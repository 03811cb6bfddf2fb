#pragma once

#include "PlaybackEngine.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class QAction;
class QMenu;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;
class TCommandServer;
class TMediaComponent;
class TMediaControlStrip;

// The speaker's window: the media controls over the play list. It owns the media component,
// the playback engine and the command server, and drives the engine with its two timers.
class TLocalPlayerWindow : public QWidget {
    Q_OBJECT
public:
    // Port: the command port (0 = ephemeral). Media: the component to play through; a libmpv
    // player when none is given.
    explicit TLocalPlayerWindow(quint16 Port, std::unique_ptr<TMediaComponent> Media = {},
                                QWidget *Parent = nullptr);
    ~TLocalPlayerWindow() override;

    TPlaybackEngine *Engine() const { return FEngine.get(); }
    TCommandServer *CommandServer() const { return FServer.get(); }
    TMediaComponent *Media() const { return FMedia.get(); }
    QTableView *PlayListView() const { return FPlayListView; }

    // Reads and clears the request to show this window.
    bool TakeShowRequest() { return FEngine->TakeShowRequest(); }
    // Whether the command server got its port.
    bool IsListening() const;

    // Shutdown: both timers off, the command server closed with all its connections.
    void StopServices();
    // Closes every controller connection (the allow switch turned off).
    void DisconnectAll();
    // Plays the local user's tracks: queues them as an "ADD" job.
    void AddLocalTracks(const QByteArrayList &URLs) { FEngine->AddLocalTracks(URLs); }

    // The owner's edits of the play list, on the selected rows.
    void RemoveSelected();
    void MoveSelectionDown();
    void MoveSelectionUp();
    void MoveSelectionToNextPlaying();
    void SelectAll();
    // Double-click or Enter: the first selected row plays next.
    void PlaySelectedRow();
    // The pop-up's first item: play or pause, as UpdatePlayListMenu set it up.
    void PlayOrPauseSelected();
    // The pop-up is opening: the allow entry's caption and the first item's Play/Pause.
    void UpdatePlayListMenu();
    // Enables the buttons and menu items that the selection allows.
    void UpdateCommandStates();
    // Switches AllowOthers; turning it off drops every controller at once.
    void ToggleAllowOthers();
    // The allow entry shows what choosing it would do.
    void UpdateAllowAction();

    QMenu *PlayListMenu() const { return FPlayListMenu; }
    // Whether the 200 ms play tick and the 1 s position tick are running now.
    bool IsPlayTickRunning() const;
    bool IsPositionTickRunning() const;
    QToolBar *ToolBar() const { return FToolBar; }

Q_SIGNALS:
    // A controller connected: the main window should show this window.
    void ShowRequested();
    // The allow entry switched AllowOthers: the main window shows the new state.
    void AllowOthersChanged(bool Allowed);
    // The pop-up's "About" was chosen: the main window shows its about box.
    void AboutRequested();

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildPlayListView();
    void BuildActions();
    void BuildToolBar();
    // Rows of the selection, ascending.
    QList<int> SelectedRows() const;
    void SelectRows(const QList<int> &Rows);
    // Drops from the view itself only; the rows land before the row under the point.
    bool HandleDragEvent(QEvent *Event);
    // The timers run only while they have work, so an idle player never wakes up.
    void WakePlayTimer();
    void PlayTick();
    void UpdatePositionTimer();

    std::unique_ptr<TMediaComponent> FMedia;
    std::unique_ptr<TPlaybackEngine> FEngine;
    std::unique_ptr<TCommandServer> FServer;
    TMediaControlStrip *FStrip = nullptr;
    QTableView *FPlayListView = nullptr;
    QToolBar *FToolBar = nullptr;
    QToolButton *FRemoveButton = nullptr;
    QToolButton *FDownButton = nullptr;
    QToolButton *FUpButton = nullptr;
    QMenu *FPlayListMenu = nullptr;
    QAction *FPlayAction = nullptr;
    QAction *FRemoveAction = nullptr;
    QAction *FSelectAllAction = nullptr;
    QAction *FMoveDownAction = nullptr;
    QAction *FMoveUpAction = nullptr;
    QAction *FMoveToNextPlayingAction = nullptr;
    QAction *FAllowAction = nullptr;
    QAction *FAboutAction = nullptr;
    bool FPauseMode = false; // set each time the pop-up opens
    QTimer *FPlayTimer = nullptr;
    QTimer *FPositionTimer = nullptr;
    QElapsedTimer FPositionIdle; // since the position timer stopped
    bool FServicesStopped = false;
};
