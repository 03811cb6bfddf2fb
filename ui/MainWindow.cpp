#include "MainWindow.h"

#include "AboutDialog.h"
#include "AppIcon.h"
#include "AutoRun.h"
#include "BalloonTip.h"
#include "LibraryView.h"
#include "LocalPlayerWindow.h"
#include "MediaComponent.h"
#include "MediaServer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "RemotePlayers.h"
#include "Settings.h"
#include "Speaker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Designed placement of the window.
constexpr int DesignLeft = 251;
constexpr int DesignTop = 163;
constexpr int DesignWidth = 318;
constexpr int DesignHeight = 488;
// How soon ended pages are looked at again while a drag or menu loop runs.
constexpr int NestedLoopRetryMs = 100;
} // namespace

TMainWindow::TMainWindow(quint16 MediaPort, quint16 PresencePort, int FirstHintDelayMs,
                         QWidget *Parent)
    : QMainWindow(Parent), FMediaPortWanted(MediaPort), FPresencePortWanted(PresencePort),
      FFirstHintDelayMs(FirstHintDelayMs) {
    FComputersChanged = true;
    // A page that ends brings the heartbeat: it frees the tab and may finish the close.
    connect(&RemotePlayers(), &TRemotePlayerList::PageRemoved, this,
            &TMainWindow::ScheduleHeartbeat);
    // Pages that ended under a modal box are freed once the box has gone.
    connect(&ModalLoops(), &TModalLoops::AllEnded, this, &TMainWindow::ScheduleHeartbeat);
    LoadSettings();

    setWindowTitle(QStringLiteral("Vellox Player"));
    setWindowIcon(AppIcon());
    setMinimumSize(DesignWidth, DesignHeight);
    FPages = new QTabWidget(this);
    FPages->setTabPosition(QTabWidget::North);
    setCentralWidget(FPages);
    CreateFrameActions();
    CreateSystemMenu(); // the library menu shares its Help and About
    CreatePlayTo();
    CreateLibraryPage(); // also declares the list a target for dropped files
    CreateTrayIcon();
    CreateStatusBar();
    FPageMenu = new QMenu(this);
    FPageMenu->addAction(FClosePageAction);
    FPages->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FPages, &QWidget::customContextMenuRequested, this, &TMainWindow::OpenPageMenu);
    connect(FPages, &QTabWidget::currentChanged, this, &TMainWindow::OnPageChanged);
    connect(FLibraryMenu, &QMenu::aboutToShow, this, &TMainWindow::UpdateAllowAction);

    ApplyPlacement();
    FAutoRunAction->setChecked(IsAutoRun());
    // The media server reads the library from its first request on: load first.
    LoadLibrary();
    UpdateStatusBar();
    LoadSkin(SkinName);
    ApplyTexts();
    StartMediaServer();
    StartPresence(FPresencePortWanted);
    if (!FPresence->IsRunning())
        ReportPortTaken(QStringLiteral("UDP"), FPresencePortWanted,
                        QStringLiteral("other computers do not list this one and it lists none "
                                       "of them; an address typed in \"Play on\" still works"));
    ScheduleHeartbeat(); // the first tick fills the "Play on" box
}

void TMainWindow::CreateFrameActions() {
    // Menus built elsewhere (the local player's) hold the action too: keep it true now.
    connect(&FSharing, &TSharingState::Changed, this, [this] {
        UpdateAllowAction();
        UpdateStatusBar();
    });
    FAllowAction = new TAllowAction([this] { return FSharing.AllowOthers(); }, this);
    connect(FAllowAction, &QAction::triggered, this, &TMainWindow::ToggleAllowOthers);
    FClosePageAction = new QAction(QStringLiteral("Close Page"), this);
    FClosePageAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
    FClosePageAction->setShortcutContext(Qt::WindowShortcut);
    addAction(FClosePageAction); // Ctrl+F4 anywhere in the window, docked pages included
    connect(FClosePageAction, &QAction::triggered, this, &TMainWindow::CloseActivePage);
    FRestoreAction = new QAction(QStringLiteral("Restore"), this);
    connect(FRestoreAction, &QAction::triggered, this, &TMainWindow::RestoreWindow);
    FExitAction = new QAction(QStringLiteral("Exit"), this);
    connect(FExitAction, &QAction::triggered, this, &TMainWindow::Exit);
}

void TMainWindow::CreateStatusBar() {
    FStatusIcon = new QLabel;
    FStatusIcon->setObjectName(QStringLiteral("FStatusIcon"));
    FStatusIcon->setFixedWidth(20);
    FStatusIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FStatusIcon->setToolTip(
        QStringLiteral("Double-click to allow or deny other people playing on this computer"));
    FStatusIcon->installEventFilter(this);
    FStatusAllow = new QLabel;
    FStatusAllow->setObjectName(QStringLiteral("FStatusAllow"));
    FStatusPorts = new QLabel;
    FStatusPorts->setObjectName(QStringLiteral("FStatusPorts"));
    FStatusPorts->setStyleSheet(QStringLiteral("color: #b00000;"));
    FStatusPorts->hide();
    FStatusIP = new QLabel;
    FStatusIP->setObjectName(QStringLiteral("FStatusIP"));
    FStatusIP->setFixedWidth(120);
    // The address comes from the network; none of these texts is markup.
    for (QLabel *Label : {FStatusAllow, FStatusPorts, FStatusIP})
        Label->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(FStatusIcon);
    statusBar()->addWidget(FStatusAllow, 1);
    statusBar()->addWidget(FStatusPorts);
    statusBar()->addPermanentWidget(FStatusIP);
}

void TMainWindow::CreateTrayIcon() {
    FTrayMenu = new QMenu(this);
    FTrayMenu->addAction(FRestoreAction);
    FTrayMenu->addSeparator();
    FTrayMenu->addAction(FAutoRunAction);
    FTrayMenu->addAction(FAllowAction);
    FTrayMenu->addSeparator();
    FTrayMenu->addAction(FAboutAction);
    FTrayMenu->addAction(FExitAction);
    connect(FTrayMenu, &QMenu::aboutToShow, this, &TMainWindow::UpdateAllowAction);
    FTrayIcon = new QSystemTrayIcon(AppIcon(), this);
    FTrayIcon->setContextMenu(FTrayMenu);
    connect(FTrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason Reason) {
                if (Reason == QSystemTrayIcon::DoubleClick)
                    RestoreWindow();
            });
    // Shown even while no notification area exists: one may appear later in the session. A
    // headless run has no screen to show it on.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        FTrayIcon->show();
}

void TMainWindow::ApplyTexts() {
    const int MenuPoints = QApplication::font("QMenu").pointSize();
    if (MenuPoints > 0) {
        QFont Font = font();
        Font.setPointSize(MenuPoints);
        setFont(Font);
    }
    FTrayIcon->setToolTip(QStringLiteral("Vellox Player"));
    FAddButton->setToolTip(QStringLiteral("Click the button to add music into your music library"));
    FPlayOnBox->setCurrentText(QStringLiteral("My Computer"));
    FPlayOnBox->setToolTip(QStringLiteral("Select the computer which you want to play on"));

    FPages->setAccessibleName(QStringLiteral("Pages"));
    FLibraryView->setAccessibleName(QStringLiteral("Music library"));
    FPlayOnBox->setAccessibleName(QStringLiteral("Play on"));
    if (FPlayOnBox->lineEdit()) // where the typing goes
        FPlayOnBox->lineEdit()->setAccessibleName(QStringLiteral("Play on"));
    FPlayOnLabel->setBuddy(FPlayOnBox); // read with the box, where names follow relations
    FSystemButton->setAccessibleName(FSystemButton->toolTip());
    FStatusAllow->setAccessibleDescription(
        QStringLiteral("Whether other people may play on this computer"));
    FStatusIP->setAccessibleDescription(QStringLiteral("This computer's address"));
}

void TMainWindow::CreateSystemMenu() {
    FSystemMenu = new QMenu(this);
    FAutoRunAction = FSystemMenu->addAction(QStringLiteral("&Auto Run on Windows Startup"));
    FAutoRunAction->setCheckable(true);
    connect(FAutoRunAction, &QAction::triggered, this, &TMainWindow::ToggleAutoRun);
    FSystemMenu->addSeparator();
    FSystemMenu->addAction(FAllowAction);
    FSystemMenu->addSeparator();
    FHelpAction = FSystemMenu->addAction(QStringLiteral("Help"));
    FHelpAction->setShortcut(Qt::Key_F1);
    FHelpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(FHelpAction);
    connect(FHelpAction, &QAction::triggered, this, &TMainWindow::ShowHelp);
    FAboutAction = FSystemMenu->addAction(QStringLiteral("About"));
    // The box runs after the menu's own event has returned.
    connect(FAboutAction, &QAction::triggered, this, &TMainWindow::ShowAbout, Qt::QueuedConnection);
    connect(FSystemMenu, &QMenu::aboutToShow, this, &TMainWindow::UpdateAllowAction);
    // Stands in for the title bar's help button, which opens this menu.
    FSystemButton = new QToolButton(FPages);
    FSystemButton->setAutoRaise(true);
    FSystemButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarContextHelpButton));
    FSystemButton->setToolTip(QStringLiteral("Settings and help"));
    FSystemButton->setPopupMode(QToolButton::InstantPopup);
    FSystemButton->setMenu(FSystemMenu);
    FPages->setCornerWidget(FSystemButton, Qt::TopRightCorner);
}

void TMainWindow::ToggleAutoRun() {
    // The action toggled its mark already: the mark before the click decides.
    SetAutoRun(FAutoRunAction->isChecked());
    FAutoRunAction->setChecked(IsAutoRun());
}

void TMainWindow::ShowHelp() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(HelpFileName));
}

void TMainWindow::ShowAbout() {
    TAboutDialog About(this);
    ExecModal(About);
}

void TMainWindow::LoadSkin(const QString &Name) {
    const auto Read = [](const QString &FileName) {
        QFile F(FileName);
        return F.open(QIODevice::ReadOnly) ? QString::fromUtf8(F.readAll()) : QString();
    };
    // A missing skin leaves the plain look.
    setStyleSheet(Read(SkinDir + QLatin1Char('/') + Name + QStringLiteral("1.vlx")));
    FFileThemeRemote = Read(SkinDir + QLatin1Char('/') + Name + QStringLiteral("2.vlx"));
}

void TMainWindow::StartMediaServer() {
    FMediaServer =
        std::make_unique<TMediaServer>([Library = FLibrary] { return Library->Snapshot(); });
    if (!FMediaServer->Start(FMediaPortWanted)) {
        // Without it only the library's http entries play; the rest runs on.
        ReportPortTaken(QStringLiteral("TCP"), FMediaPortWanted,
                        QStringLiteral("no computer can play this library's files"));
    }
}

quint16 TMainWindow::MediaPort() const {
    return FMediaServer ? FMediaServer->Port() : 0;
}

void TMainWindow::ApplyPlacement() {
    // A stored 0 means nothing stored: keep the designed value and record it,
    // so that shutdown writes a key only when the window really changed.
    resize(DesignWidth, DesignHeight);
    move(DesignLeft, DesignTop);
    if (WindowHeight != 0)
        resize(width(), WindowHeight);
    else
        WindowHeight = height();
    if (WindowWidth != 0)
        resize(WindowWidth, height());
    else
        WindowWidth = width();
    if (WindowTop != 0)
        move(x(), WindowTop);
    else
        WindowTop = y();
    if (WindowLeft != 0)
        move(WindowLeft, y());
    else
        WindowLeft = x();
    FStartPlacement = {WindowHeight, WindowWidth, WindowTop, WindowLeft};
}

void TMainWindow::UpdateStatusBar() {
    const bool Allowed = FSharing.AllowOthers();
    FStatusIcon->setPixmap(AllowPicture(Allowed));
    FStatusIcon->setAccessibleName(Allowed ? QStringLiteral("Other people may play here")
                                           : QStringLiteral("Other people may not play here"));
    FStatusAllow->setText(Allowed ? QStringLiteral("Allow") : QStringLiteral("Deny"));
    FStatusIP->setText(QString::fromUtf8(FSharing.LocalIP()));
    if (!FTakenPorts.isEmpty()) {
        QStringList Numbers;
        for (quint16 Port : std::as_const(FTakenPorts))
            Numbers.append(QString::number(Port));
        FStatusPorts->setText(
            (Numbers.size() == 1 ? QStringLiteral("Port ") : QStringLiteral("Ports ")) +
            Numbers.join(QStringLiteral(", ")) + QStringLiteral(" taken"));
        FStatusPorts->setToolTip(FPortProblems.join(QLatin1Char('\n')));
        FStatusPorts->setAccessibleDescription(FStatusPorts->toolTip());
        FStatusPorts->show();
    }
}

void TMainWindow::ReportPortTaken(const QString &Protocol, quint16 Port, const QString &Effect) {
    if (!FTakenPorts.contains(Port))
        FTakenPorts.append(Port);
    FPortProblems.append(QStringLiteral("%1 port %2 is taken by another program: %3.")
                             .arg(Protocol)
                             .arg(Port)
                             .arg(Effect));
    UpdateStatusBar();
}

void TMainWindow::ToggleAllowOthers() {
    // The speaker drops its controllers; the status bar and the action follow Changed.
    FSharing.SetAllowOthers(!FSharing.AllowOthers());
}

void TMainWindow::UpdateAllowAction() {
    FAllowAction->Update();
}

bool TMainWindow::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == FStatusIcon && Event->type() == QEvent::MouseButtonDblClick) {
        // Only the picture itself toggles, its edges included; the rest of the bar does not.
        const auto *Mouse = static_cast<QMouseEvent *>(Event);
        if (Mouse->position().x() <= AllowPictureSize)
            ToggleAllowOthers();
        return true;
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TMainWindow::changeEvent(QEvent *Event) {
    QMainWindow::changeEvent(Event);
    if (Event->type() == QEvent::WindowStateChange && isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a notification area nothing could bring the window back: it just minimises.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
    if (Event->type() == QEvent::ActivationChange && isActiveWindow() && !FFirstHintStarted) {
        FFirstHintStarted = true;
        QTimer::singleShot(FFirstHintDelayMs, this, &TMainWindow::FirstHintTick);
    }
}

void TMainWindow::FirstHintTick() {
    ShowFirstHint();
}

void TMainWindow::ShowFirstHint() {
    if (PopHitCount > 4 || FLibrary->rowCount() > 0)
        return;
    const QPoint Corner = FAddButton->mapToGlobal(FAddButton->rect().bottomRight());
    ShowBalloonTip(FAddButton->toolTip(), Corner.x(), Corner.y(), 5, QStringLiteral("Step 1 of 2"));
}

TMainWindow::~TMainWindow() {
    // Nothing may call into this window once this body has run: the program-wide lists
    // outlive it, and the children (remote pages, the tabs, the library) die after it and
    // signal on their way out.
    RemotePlayers().disconnect(this);
    ModalLoops().disconnect(this);
    const QList<QObject *> Children = findChildren<QObject *>();
    for (QObject *Child : Children)
        Child->disconnect(this);
    // The speaker's window goes first, then the speaker.
    delete FLocalPlayer.data();
    FSpeaker.reset();
    // The media server's threads read the library: they end before it goes.
    FMediaServer.reset();
}

void TMainWindow::ScheduleHeartbeat() {
    if (FHeartbeatQueued)
        return;
    FHeartbeatQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FHeartbeatQueued = false;
            HeartbeatTick();
        },
        Qt::QueuedConnection);
}

void TMainWindow::HeartbeatTick() {
    FreeFinishedPages();
    if (FClosing) {
        if (CanFinishClose())
            close();
        return;
    }
    RefreshComputerCombo();

    if (FSpeaker && FSpeaker->TakeShowRequest()) {
        ShowLocalPlayerPage(); // nothing when docked already
        // Whoever asked (the user playing here, a controller connecting) wants to see it,
        // a new page as much as an existing one.
        if (FLocalPlayerSheet)
            FPages->setCurrentWidget(FLocalPlayerSheet);
    }
}

TLocalPlayerWindow *TMainWindow::CreateLocalPlayer(quint16 Port,
                                                   std::unique_ptr<TMediaComponent> Media) {
    delete FLocalPlayer.data();
    // The old speaker lets go of the port before the new one takes it.
    FSpeaker.reset();
    FSpeaker = std::make_unique<TSpeaker>(Port, FSharing, std::move(Media));
    // A child with its own window frame: hidden until docked, deleted with this window.
    FLocalPlayer = new TLocalPlayerWindow(*FSpeaker, this);
    FLocalPlayer->setWindowFlags(Qt::Window);
    FLocalPlayer->hide();
    connect(FSpeaker.get(), &TSpeaker::ShowRequested, this, &TMainWindow::ScheduleHeartbeat);
    // Its pop-up's "About" acts for the whole program.
    connect(FLocalPlayer, &TLocalPlayerWindow::AboutRequested, this, &TMainWindow::ShowAbout,
            Qt::QueuedConnection);
    FCommandPortWanted = Port;
    if (!FSpeaker->IsListening())
        ReportPortTaken(QStringLiteral("TCP"), Port,
                        QStringLiteral("other computers cannot play on this one"));
    return FLocalPlayer;
}

void TMainWindow::ShowLocalPlayerPage() {
    if (!FLocalPlayer || FLocalPlayerSheet)
        return;
    FLocalPlayerSheet = new QWidget;
    auto *Layout = new QVBoxLayout(FLocalPlayerSheet);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    if (!FSpeaker->IsListening()) {
        auto *Note = new QLabel(
            QStringLiteral("Port %1 is taken by another program: other computers cannot play "
                           "on this one. Playing here works.")
                .arg(FCommandPortWanted),
            FLocalPlayerSheet);
        Note->setObjectName(QStringLiteral("PortNote"));
        Note->setWordWrap(true);
        Note->setStyleSheet(
            QStringLiteral("background: #fff4ce; color: #5c4400; padding: 4px 6px;"));
        Layout->addWidget(Note);
    }
    FLocalPlayer->setWindowFlags(Qt::Widget);
    Layout->addWidget(FLocalPlayer, 1);
    FPages->addTab(FLocalPlayerSheet, QStringLiteral("My Player"));
    FLocalPlayer->show();
}

void TMainWindow::HideLocalPlayerPage() {
    // Back to where it was created; playback and the play list go on meanwhile.
    FLocalPlayer->hide();
    FLocalPlayer->setParent(this, Qt::Window);
    FLocalPlayer->hide();
    delete FLocalPlayerSheet.data();
}

void TMainWindow::CloseActivePage() {
    QWidget *Sheet = FPages->currentWidget();
    if (!Sheet || Sheet == FLibraryPage)
        return;
    if (Sheet == FLocalPlayerSheet) {
        HideLocalPlayerPage();
        return;
    }
    for (const auto &[RemoteSheet, Page] : std::as_const(FRemoteSheets)) {
        if (RemoteSheet == Sheet && Page) {
            Page->EndConnection(); // the tab goes once the page has left RemotePlayers
            return;
        }
    }
}

void TMainWindow::OpenPageMenu(const QPoint &At) {
    // Right clicks inside a page's content reach here too when nothing there takes them.
    const QWidget *Content = FLibraryPage->parentWidget();
    if (FPages->currentWidget() == FLibraryPage || At.y() >= Content->geometry().top())
        return;
    QString Caption = FPages->tabText(FPages->currentIndex());
    // The menu always acts on the active page, whichever tab was clicked.
    FClosePageAction->setText(QStringLiteral("Close ") +
                              Caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
    FPageMenu->popup(FPages->mapToGlobal(At));
}

void TMainWindow::OnPageChanged(int) {
    if (FPages->currentWidget() == FLibraryPage)
        FLibraryView->setFocus();
}

void TMainWindow::AddRemotePage(QWidget *Page, TRemotePlayer *Player, const QString &Caption) {
    auto *Sheet = new QWidget;
    auto *Layout = new QVBoxLayout(Sheet);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(Page);
    FPages->addTab(Sheet, Caption);
    FRemoteSheets.append({Sheet, Player});
}

void TMainWindow::FreeFinishedPages() {
    const QList<TRemotePlayer *> Open = RemotePlayers().Pages();
    const auto Ended = [&Open](const auto &Tab) {
        return !Tab.second || !Open.contains(Tab.second.data());
    };
    if (std::none_of(FRemoteSheets.cbegin(), FRemoteSheets.cend(), Ended))
        return;
    // A box, menu or drag opened from a page runs an event loop of its own on top of it: the
    // page stays until that loop has returned. ExecModal says when its boxes have gone; any
    // other loop is looked at again a little later.
    if (ModalLoops().Running())
        return;
    if (QThread::currentThread()->loopLevel() > 1) {
        QTimer::singleShot(NestedLoopRetryMs, this, &TMainWindow::ScheduleHeartbeat);
        return;
    }
    for (auto It = FRemoteSheets.begin(); It != FRemoteSheets.end();) {
        if (!Ended(*It)) {
            ++It;
            continue;
        }
        if (QWidget *Sheet = It->first)
            Sheet->deleteLater(); // removes its tab at once, frees it after this event
        It = FRemoteSheets.erase(It);
    }
}

void TMainWindow::closeEvent(QCloseEvent *Event) {
    if (!FClosing) {
        BeginClose();
        Event->ignore();
        return;
    }
    // Later requests (window, signal, tray) wait for the same sequence.
    if (!CanFinishClose()) {
        Event->ignore();
        return;
    }
    Event->accept();
    qApp->quit();
}

void TMainWindow::BeginClose() {
    FClosing = true;
    if (FPresence) {
        FPresence->SayGoodbye();
        FPresence->Stop();
    }
    // Stop the services first, so nothing reaches the lists once they go.
    if (FSpeaker)
        FSpeaker->StopServices(); // both timers, then the command server
    if (FMediaServer)
        FMediaServer->Stop();
    SaveWindowPlacement();
    for (TRemotePlayer *Page : RemotePlayers().Pages())
        Page->EndConnection();
    ScheduleHeartbeat();
}

bool TMainWindow::CanFinishClose() const {
    return RemotePlayers().IsEmpty();
}

void TMainWindow::SaveWindowPlacement() {
    const TPlacement &S = FStartPlacement;
    // A failure must not stop the close.
    SaveSettings({S.Height, S.Width, S.Top, S.Left}, {height(), width(), y(), x()});
}

void TMainWindow::Exit() {
    close();
}

void TMainWindow::RestoreWindow() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
