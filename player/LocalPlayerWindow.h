#pragma once

#include "PlaybackEngine.h"

#include <QByteArrayList>
#include <QWidget>

#include <memory>

class QTableView;
class QTimer;
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

Q_SIGNALS:
    // A controller connected: the main window should show this window.
    void ShowRequested();

private:
    void BuildPlayListView();

    std::unique_ptr<TMediaComponent> FMedia;
    std::unique_ptr<TPlaybackEngine> FEngine;
    std::unique_ptr<TCommandServer> FServer;
    TMediaControlStrip *FStrip = nullptr;
    QTableView *FPlayListView = nullptr;
    QTimer *FPlayTimer = nullptr;
    QTimer *FPositionTimer = nullptr;
};
