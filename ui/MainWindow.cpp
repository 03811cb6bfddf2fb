#include "MainWindow.h"

#include "AboutDialog.h"
#include "AppIcon.h"
#include "LocalPlayerWindow.h"
#include "MediaComponent.h"
#include "MediaServer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "RemotePlayers.h"
#include "Utils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {
// Designed placement of the window.
constexpr int DesignLeft = 251;
constexpr int DesignTop = 163;
constexpr int DesignWidth = 318;
constexpr int DesignHeight = 488;
} // namespace

TMainWindow::TMainWindow(quint16 MediaPort, quint16 PresencePort, QWidget *Parent)
    : QMainWindow(Parent), FMediaPortWanted(MediaPort), FPresencePortWanted(PresencePort) {
    FComputersChanged = true;
    // A page that ends brings the heartbeat: it frees the tab and may finish the close.
    connect(&RemotePlayers(), &TRemotePlayerList::PageRemoved, this,
            &TMainWindow::ScheduleHeartbeat);
    LoadSettings();

    setWindowTitle(QStringLiteral("Vellox Player"));
    setWindowIcon(AppIcon());
    setMinimumSize(DesignWidth, DesignHeight);
    FPages = new QTabWidget(this);
    FPages->setTabPosition(QTabWidget::North);
    setCentralWidget(FPages);
    CreateSystemMenu();  // the library menu shares its Help and About
    CreateLibraryPage(); // also declares the list a target for dropped files
    FStatusIcon = new QLabel;
    FStatusIcon->setFixedWidth(20);
    FStatusAllow = new QLabel;
    FStatusIP = new QLabel;
    FStatusIP->setFixedWidth(120);
    statusBar()->addWidget(FStatusIcon);
    statusBar()->addWidget(FStatusAllow, 1);
    statusBar()->addPermanentWidget(FStatusIP);

    ApplyPlacement();
    FAutoRunAction->setChecked(IsAutoRun());
    // The media server reads the library from its first request on: load first.
    LoadLibrary();
    UpdateStatusBar();
    LoadSkin(SkinName);
    StartMediaServer();
    StartPresence(FPresencePortWanted);
    ScheduleHeartbeat(); // the first tick fills the "Play on" box
}

void TMainWindow::CreateSystemMenu() {
    FSystemMenu = new QMenu(this);
    FAutoRunAction = FSystemMenu->addAction(QStringLiteral("&Auto Run on Windows Startup"));
    FAutoRunAction->setCheckable(true);
    connect(FAutoRunAction, &QAction::triggered, this, &TMainWindow::ToggleAutoRun);
    FSystemMenu->addSeparator();
    FHelpAction = FSystemMenu->addAction(QStringLiteral("Help"));
    FHelpAction->setShortcut(Qt::Key_F1);
    FHelpAction->setShortcutContext(Qt::WindowShortcut);
    addAction(FHelpAction);
    connect(FHelpAction, &QAction::triggered, this, &TMainWindow::ShowHelp);
    FAboutAction = FSystemMenu->addAction(QStringLiteral("About"));
    connect(FAboutAction, &QAction::triggered, this, &TMainWindow::ShowAbout);
    // Stands in for the title bar's help button, which opens this menu.
    auto *HelpButton = new QToolButton(FPages);
    HelpButton->setAutoRaise(true);
    HelpButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarContextHelpButton));
    HelpButton->setPopupMode(QToolButton::InstantPopup);
    HelpButton->setMenu(FSystemMenu);
    FPages->setCornerWidget(HelpButton, Qt::TopRightCorner);
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
    QString Error;
    if (!FMediaServer->Start(FMediaPortWanted, &Error)) {
        // Without it only this computer's own http entries play; the rest runs on.
        std::fprintf(stderr, "Vellox Player: media server not started on port %u: %s\n",
                     unsigned(FMediaPortWanted), qPrintable(Error));
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
    const bool Allowed = AllowOthers;
    FStatusIcon->setPixmap(
        style()
            ->standardIcon(Allowed ? QStyle::SP_DialogApplyButton : QStyle::SP_DialogCancelButton)
            .pixmap(16, 16));
    FStatusAllow->setText(Allowed ? QStringLiteral("Allow") : QStringLiteral("Deny"));
    FStatusIP->setText(QString::fromUtf8(LocalIP));
}

TMainWindow::~TMainWindow() {
    // The speaker goes first: its engine still talks to the component and the server.
    delete FLocalPlayer.data();
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

    if (FLocalPlayer && FLocalPlayer->TakeShowRequest()) {
        if (!FLocalPlayer->isVisible())
            ShowLocalPlayerPage();
        // A controller connecting brings the player into view.
        if (FLocalPlayerSheet)
            FPages->setCurrentWidget(FLocalPlayerSheet);
    }
}

TLocalPlayerWindow *TMainWindow::CreateLocalPlayer(quint16 Port,
                                                   std::unique_ptr<TMediaComponent> Media) {
    delete FLocalPlayer.data();
    // A child with its own window frame: hidden until docked, deleted with this window.
    FLocalPlayer = new TLocalPlayerWindow(Port, std::move(Media), this);
    FLocalPlayer->setWindowFlags(Qt::Window);
    FLocalPlayer->hide();
    connect(FLocalPlayer, &TLocalPlayerWindow::ShowRequested, this,
            &TMainWindow::ScheduleHeartbeat);
    return FLocalPlayer;
}

void TMainWindow::ShowLocalPlayerPage() {
    if (!FLocalPlayer || FLocalPlayerSheet)
        return;
    FLocalPlayerSheet = new QWidget;
    auto *Layout = new QVBoxLayout(FLocalPlayerSheet);
    Layout->setContentsMargins(0, 0, 0, 0);
    FLocalPlayer->setWindowFlags(Qt::Widget);
    Layout->addWidget(FLocalPlayer);
    FPages->addTab(FLocalPlayerSheet, QStringLiteral("My Player"));
    FLocalPlayer->show();
}

void TMainWindow::AddRemotePage(TRemotePlayer *Page, const QString &Caption) {
    auto *Sheet = new QWidget;
    auto *Layout = new QVBoxLayout(Sheet);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(Page);
    FPages->addTab(Sheet, Caption);
    FRemoteSheets.append({Sheet, Page});
}

void TMainWindow::FreeFinishedPages() {
    const QList<TRemotePlayer *> Open = RemotePlayers().Pages();
    for (auto It = FRemoteSheets.begin(); It != FRemoteSheets.end();) {
        if (It->second && Open.contains(It->second.data())) {
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
    if (FLocalPlayer)
        FLocalPlayer->StopServices(); // both timers, then the command server
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
    QList<QPair<QString, qint32>> Values;
    if (height() != FStartPlacement.Height)
        Values.append({QStringLiteral("Window/Height"), height()});
    if (width() != FStartPlacement.Width)
        Values.append({QStringLiteral("Window/Width"), width()});
    if (y() != FStartPlacement.Top)
        Values.append({QStringLiteral("Window/Top"), y()});
    if (x() != FStartPlacement.Left)
        Values.append({QStringLiteral("Window/Left"), x()});
    Values.append({QStringLiteral("Window/PopHitCount"), PopHitCount});
    WriteIniValues(IniFileName, Values); // a failure must not stop the close
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
