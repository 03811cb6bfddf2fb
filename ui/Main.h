#pragma once

#include <QByteArrayList>
#include <QMainWindow>
#include <QMutex>

#include <atomic>

class QLabel;
class QListWidget;
class QTabWidget;
class QAction;
class QMenu;
class TFormLocalPlayer;

// The open remote player pages; the close sequence waits until it is empty.
extern QList<QWidget *> RemotePlayers;

// The main window: library page, page frame, status bar, heartbeat and the
// staged shutdown.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget *Parent = nullptr);
    ~TFormMain() override;

    // Runs TimerCmdTimer soon on the GUI thread; safe from any thread. Whoever
    // sets one of the heartbeat's flags calls it.
    void ScheduleCmdTick();

    bool Closing() const { return FClosing; }

    // The speaker's window, created after this one; shown in the "My Player" page.
    void SetLocalPlayer(TFormLocalPlayer *LocalPlayer);
    TFormLocalPlayer *LocalPlayer() const { return FLocalPlayer; }
    // Docks the local player into a new "My Player" page unless it is docked already.
    void ShowLocalPlayerPage();

    // Tray "Exit": asks the window to close like any other close request.
    void Exit1Click();
    // Tray "Restore", and a second start of the program.
    void ActRestoreExecute();

    // The window placement as it stood after start-up (the values shutdown compares with).
    struct TPlacement {
        qint32 Height = 0, Width = 0, Top = 0, Left = 0;
    };
    TPlacement StartPlacement() const { return FStartPlacement; }

    QTabWidget *suiPageControlMain = nullptr;
    QWidget *suiTabSheetLibrary = nullptr;
    QListWidget *suiListViewLib = nullptr;

protected:
    void closeEvent(QCloseEvent *Event) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormCloseQuery(bool &CanClose);
    void TimerCmdTimer();
    void ApplyPlacement();
    void SaveWindowPlacement();
    void UpdateStatusBar();

    TFormLocalPlayer *FLocalPlayer = nullptr;
    QWidget *FLocalPlayerSheet = nullptr;
    bool FClosing = false;
    QMutex FLock; // guards FComputers and FComputersChanged
    QByteArrayList FComputers;
    bool FComputersChanged = false;
    TPlacement FStartPlacement;
    std::atomic<bool> FCmdTickQueued{false};

    QLabel *FStatusIcon = nullptr;  // panel 0
    QLabel *FStatusAllow = nullptr; // panel 1
    QLabel *FStatusIP = nullptr;    // panel 2
};
