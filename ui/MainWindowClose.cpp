// TMainWindow's tray icon, its heartbeat and the staged close.
#include "MainWindow.h"

#include "AppIcon.h"
#include "LibraryPage.h"
#include "MediaServer.h"
#include "Modal.h"
#include "Presence.h"
#include "Settings.h"
#include "Speaker.h"
#include "WebRemote.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include <utility>

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
    FLibraryPage->ShowFirstHint();
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
    if (std::exchange(FComputersChanged, false))
        FLibraryPage->RefreshComputerCombo();

    if (FSpeaker && FSpeaker->TakeShowRequest()) {
        ShowLocalPlayerPage(); // nothing when docked already
        // Whoever asked (the user playing here, a controller connecting) wants to see it,
        // a new page as much as an existing one.
        if (FLocalPlayerSheet)
            FPages->setCurrentWidget(FLocalPlayerSheet);
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
    if (FWebRemote)
        FWebRemote->Stop();
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
