#pragma once

#include <QByteArrayList>
#include <QMainWindow>
#include <QPointer>
#include <QSet>

#include "AllowAction.h"
#include "CommandProtocol.h"
#include "LocalPlayerWindow.h"
#include "MediaComponent.h"
#include "PlayTo.h"
#include "RemotePlayers.h"
#include "SharingState.h"

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSystemTrayIcon;
class QTabWidget;
class QToolButton;
class TLibraryFolders;
class TLibraryPage;
class TLibraryTags;
class TMediaServer;
class TMusicLibrary;
class TPresence;
class TWebRemote;
class TSpeaker;
class TCoverStore;
class TTagScanner;
class TTrackCaptions;

// The main window: page frame, tray, status bar, heartbeat and the staged shutdown. It owns
// the library and the media server that serves it, the presence socket and the play-to
// router; the library page is its first tab, and the sessions the router opens get tabs of
// their own.
class TMainWindow : public QMainWindow, private TRemotePageFactory {
    Q_OBJECT
public:
    // How long after the first activation the first-use hint looks at the library.
    static constexpr int DefaultFirstHintDelayMs = 1000;
    // The media server's and the presence socket's ports; 0 lets the system pick a free one
    // (tests). FirstHintDelayMs: tests shorten it.
    explicit TMainWindow(quint16 MediaPort = 0, quint16 PresencePort = 0,
                         int FirstHintDelayMs = DefaultFirstHintDelayMs, QWidget *Parent = nullptr);
    ~TMainWindow() override;

    // Runs HeartbeatTick once soon, however often it is asked before it runs. Whoever sets
    // one of the heartbeat's flags calls it.
    void ScheduleHeartbeat();

    bool Closing() const { return FClosing; }

    // Creates the speaker's window, hidden, owned by this one; shown in the "My Player" page.
    // Port: its command port (0 = ephemeral); Media: a libmpv player when none is given.
    TLocalPlayerWindow *CreateLocalPlayer(quint16 Port,
                                          std::unique_ptr<TMediaComponent> Media = {});
    TLocalPlayerWindow *LocalPlayer() const { return FLocalPlayer; }
    // The speaker CreateLocalPlayer made, or null.
    TSpeaker *Speaker() const { return FSpeaker.get(); }
    // Docks the local player into a new "My Player" page unless it is docked already.
    void ShowLocalPlayerPage();
    // Puts Page, which shows Player, on a new tab captioned Caption. The tab is hidden and
    // freed once Player has left RemotePlayers.
    void AddRemotePage(QWidget *Page, TRemotePlayer *Player, const QString &Caption);

    // Tray "Exit": asks the window to close like any other close request.
    void Exit();
    // Tray "Restore", and a second start of the program.
    void RestoreWindow();

    // The window placement as it stood after start-up (the values shutdown compares with).
    struct TPlacement {
        qint32 Height = 0, Width = 0, Top = 0, Left = 0;
    };
    TPlacement StartPlacement() const { return FStartPlacement; }
    // The window's size when none is stored, on a screen whose free area is Screen.
    static QSize FirstWindowSize(const QSize &Screen);
    // The window (its inside's size at its frame's place) moved, and shrunk if need be, so
    // that all of it and its frame lie on Screen.
    static QRect KeptOnScreen(const QRect &Window, const QRect &Screen);

    // The library store the library page shows.
    TMusicLibrary *Library() const { return FLibrary; }
    // The tags of the library's rows, read while the window runs.
    TLibraryTags *LibraryTags() const { return FLibraryTags; }
    // The tags of the tracks this copy serves, for whatever shows a track; the covers' store.
    TTrackCaptions *TrackCaptions() const { return FTrackCaptions; }
    TCoverStore *Covers() const { return FCovers; }
    // The file of a cover's thumbnail at Size; empty while it is being made (it is asked for
    // once per run) or when it cannot be.
    QString CoverFile(const QByteArray &Hash, int Size);
    // The bound port of the media server, 0 when it is not running.
    quint16 MediaPort() const;

    // Where played tracks go; its notes show in the status bar.
    TPlayTo &PlayTo() const { return *FPlayTo; }
    // The presence socket and the list of known computers.
    TPresence *Presence() const { return FPresence; }
    // The allow switch and this computer's address, shared with the speaker and the router.
    TSharingState &Sharing() { return FSharing; }

    // Creates or deletes the autostart entry, the opposite of what the check mark shows.
    void ToggleAutoRun();
    void ShowHelp();
    void ShowAbout();
    // The speaker's latency and sound output.
    void ShowSpeakerSettings();
    // Applies the skin files SkinDir/Name + "1.vlx" (this window) and "2.vlx" (remote pages).
    void LoadSkin(const QString &Name);
    // The remote pages' style sheet, as loaded by LoadSkin.
    QString FileThemeRemote() const { return FFileThemeRemote; }

    // Frame: pages, allow switch, tray, status bar, first-use hints.
    // Closes the active page: "My Player" goes back home hidden (its list plays on), a remote
    // page ends its connection and its tab goes once it has left RemotePlayers; the library
    // page stays.
    void CloseActivePage();
    // Turns the allow switch over; turning it off drops every controller at once.
    void ToggleAllowOthers();
    // Sets FAllowAction's caption and picture from the allow switch; every menu holding the
    // action calls it when it opens.
    void UpdateAllowAction();
    // Shows the allow switch, the address and any taken port in the status bar.
    void UpdateStatusBar();
    // A fixed port another program holds (Protocol "TCP" or "UDP"); Effect says what cannot
    // work because of it. Shown in the status bar for the rest of the run.
    void ReportPortTaken(const QString &Protocol, quint16 Port, const QString &Effect);
    // The fixed texts: font size, tray hint, and the names a screen reader reads for controls
    // that show only a picture.
    void ApplyTexts();

protected:
    void closeEvent(QCloseEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    TRemoteSession *OpenRemotePage(const QString &Caption) override;
    void ShowRemotePage(TRemotePlayer *Player) override;
    // Wires the play-to router to the status bar, the local player and the error box.
    void CreatePlayTo();
    // The library page, first tab; played rows go to the router.
    void CreateLibraryPage();
    // The tags of the library's rows, following the library; the status bar shows their reading.
    void CreateLibraryTags();
    // The album covers of the library page's browse panel, from the cover store.
    void ShowAlbumCovers();
    // Shows the tags of this copy's tracks in View (a player window or a remote page).
    template <typename TView> void ShowTrackCaptions(TView *View);
    // Starts the presence socket; the known computers and the address follow it from then on.
    void StartPresence(quint16 Port);
    void StartMediaServer();
    // The first close request: stop the services, save, ask every remote page to end.
    void BeginClose();
    // Whether a close request may finish now: no remote page is left.
    bool CanFinishClose() const;
    void HeartbeatTick();
    // Hides and frees the tabs of remote pages that have ended.
    void FreeFinishedPages();
    void ApplyPlacement();
    void SaveWindowPlacement();
    void CreateSystemMenu();
    void CreateFrameActions();
    void CreateStatusBar();
    void CreateTrayIcon();
    // Opens the page menu for a right click at At (FPages coordinates) when it may open.
    void OpenPageMenu(const QPoint &At);
    void OnPageChanged(int Index);
    // Puts the local player back under this window, hidden, and frees its sheet.
    void HideLocalPlayerPage();
    void FirstHintTick();

    TSharingState FSharing; // outlives the speaker and the router
    std::unique_ptr<TSpeaker> FSpeaker;
    QPointer<TLocalPlayerWindow> FLocalPlayer;
    QPointer<QWidget> FLocalPlayerSheet;
    // Remote page tabs: the sheet and the page it holds (null once the page is gone).
    QList<QPair<QPointer<QWidget>, QPointer<TRemotePlayer>>> FRemoteSheets;
    const quint16 FMediaPortWanted;
    TMusicLibrary *FLibrary = nullptr;
    TTagScanner *FTagScanner = nullptr;
    TLibraryTags *FLibraryTags = nullptr;
    TLibraryFolders *FLibraryFolders = nullptr; // [Library] Folders kept in step
    QProgressBar *FTagProgress = nullptr; // "Reading tags: 1234 of 100000" while they are read
    TTrackCaptions *FTrackCaptions = nullptr;
    TCoverStore *FCovers = nullptr;
    QSet<QByteArray> FCoversAsked; // hash and size
    std::unique_ptr<TMediaServer> FMediaServer;
    TWebRemote *FWebRemote = nullptr; // the phone remote, on the media server
    bool FClosing = false;
    const quint16 FPresencePortWanted;
    TPresence *FPresence = nullptr;
    TPlayTo *FPlayTo = nullptr;
    bool FComputersChanged = false;
    TPlacement FStartPlacement;
    bool FHeartbeatQueued = false;

    QString FFileThemeRemote;
    QTabWidget *FPages = nullptr;
    TLibraryPage *FLibraryPage = nullptr;
    QMenu *FSystemMenu = nullptr;
    QAction *FAutoRunAction = nullptr; // checked while the autostart entry exists
    QAction *FHelpAction = nullptr;
    QAction *FAboutAction = nullptr;
    QAction *FSpeakerSettingsAction = nullptr;
    // Allow entry of the system, tray and library menus; owned here.
    TAllowAction *FAllowAction = nullptr;
    QAction *FClosePageAction = nullptr;   // Ctrl+F4 and the page menu
    QAction *FPhoneRemoteAction = nullptr; // shows the phone remote's address
    QAction *FRestoreAction = nullptr;
    QAction *FExitAction = nullptr;
    QMenu *FPageMenu = nullptr;
    QMenu *FTrayMenu = nullptr;
    QSystemTrayIcon *FTrayIcon = nullptr;
    QToolButton *FSystemButton = nullptr; // the "?" button that opens FSystemMenu
    QLabel *FStatusIcon = nullptr;        // panel 0
    QLabel *FStatusAllow = nullptr;       // panel 1
    QLabel *FStatusIP = nullptr;          // panel 2
    QLabel *FStatusPorts = nullptr;       // taken ports, shown only when there are any
    QList<quint16> FTakenPorts;
    QStringList FPortProblems;
    quint16 FCommandPortWanted = 0;
    bool FFirstHintStarted = false;
    const int FFirstHintDelayMs;
};
