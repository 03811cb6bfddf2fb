#pragma once

#include <QByteArrayList>
#include <QMainWindow>
#include <QMutex>

#include <atomic>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class TFormLocalPlayer;
class QTabWidget;
class QToolBar;
class QToolButton;
class TLibraryView;
class TMediaServer;
class TMusicLibrary;

// The open remote player pages; the close sequence waits until it is empty.
extern QList<QWidget *> RemotePlayers;

// The port the media server listens on.
constexpr quint16 MediaServerPort = 37401;

// The main window: library page, page frame, status bar, heartbeat and the
// staged shutdown. It owns the library and the media server that serves it.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // MediaPort 0 lets the system pick a free port (tests).
    explicit TFormMain(quint16 MediaPort = MediaServerPort, QWidget *Parent = nullptr);
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

    // The library store behind suiListViewLib.
    TMusicLibrary *Library() const { return FLibrary; }
    // The bound port of the media server, 0 when it is not running.
    quint16 MediaPort() const;

    // Library page (MainLibrary.cpp).
    // Shows the store's rows in suiListViewLib.
    void FillLibraryView();
    // Replaces the "Play on" box's items with the known computers, keeping its text.
    void RefreshComputerCombo();
    // Adds a source when it is an accepted audio name and new; refusals are silent.
    void AddToLibrary(const QByteArray &Source);
    // Adds several sources in order, drawn at once; how many were added.
    int AddToLibrary(const QByteArrayList &Sources);
    // Rewrites the library file from the rows; a failure is shown to the user.
    bool SaveLibrary();
    void ActAddFilesExecute();
    void ActAddURLsExecute();
    // The "Step 2 of 2" balloon at the "Play on" box, while it was shown at most 4 times.
    void ShowSecondHint();

    QTabWidget *suiPageControlMain = nullptr;
    QWidget *suiTabSheetLibrary = nullptr;
    QWidget *FPlayOnBar = nullptr; // "Play on" row: label, computer box, later the play buttons
    QLabel *LabelPlay = nullptr;
    QComboBox *suiComboBoxPlayServer = nullptr;
    TLibraryView *suiListViewLib = nullptr;
    QToolBar *suiToolBar1 = nullptr;
    QToolButton *ToolButtonAdd = nullptr;
    QMenu *suiPopupMenuAdd = nullptr;
    QMenu *suiPopupMenuLibrary = nullptr;
    QAction *ActAddFiles = nullptr;
    QAction *ActAddURLs = nullptr;
    QMenu *suiPopupMenuSys = nullptr;
    QAction *ActAutoRun = nullptr; // its check mark is Autorunonstartup1's
    QAction *ActHelp = nullptr;
    QAction *ActAbout = nullptr;

    // Creates or deletes the autostart entry, the opposite of what the check mark shows.
    void ActAutoRunExecute();
    void ActHelpExecute();
    void ActAboutExecute();
    // Applies the skin files SkinDir/Name + "1.vlx" (this window) and "2.vlx" (remote pages).
    void LoadSkin(const QString &Name);
    // The remote pages' style sheet, as loaded by LoadSkin.
    QString FileThemeRemote() const { return FFileThemeRemote; }

Q_SIGNALS:
    // The library file was rewritten.
    void LibrarySaved();

protected:
    void closeEvent(QCloseEvent *Event) override;

private:
    void FormCreate();
    void CreateLibraryPage();
    void LoadLibrary();
    void StartMediaServer();
    void LibraryFilesDropped(const QByteArrayList &Paths);
    void FormDestroy();
    void FormCloseQuery(bool &CanClose);
    void TimerCmdTimer();
    void ApplyPlacement();
    void SaveWindowPlacement();
    void UpdateStatusBar();
    void CreateSystemMenu();

    TFormLocalPlayer *FLocalPlayer = nullptr;
    QWidget *FLocalPlayerSheet = nullptr;
    const quint16 FMediaPortWanted;
    TMusicLibrary *FLibrary = nullptr;
    std::unique_ptr<TMediaServer> FMediaServer;
    bool FClosing = false;
    QMutex FLock; // guards FComputers and FComputersChanged
    QByteArrayList FComputers;
    bool FComputersChanged = false;
    TPlacement FStartPlacement;
    std::atomic<bool> FCmdTickQueued{false};

    QString FFileThemeRemote;
    QLabel *FStatusIcon = nullptr;  // panel 0
    QLabel *FStatusAllow = nullptr; // panel 1
    QLabel *FStatusIP = nullptr;    // panel 2
};
