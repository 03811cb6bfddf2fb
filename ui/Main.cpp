#include "Main.h"

#include "About.h"
#include "AppIcon.h"
#include "LocalPlayerForm.h"
#include "MediaServer.h"
#include "Modal.h"
#include "MusicLibrary.h"
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

QList<QWidget *> RemotePlayers;

namespace {
// Designed placement of the window.
constexpr int DesignLeft = 251;
constexpr int DesignTop = 163;
constexpr int DesignWidth = 318;
constexpr int DesignHeight = 488;
} // namespace

TFormMain::TFormMain(quint16 MediaPort, QWidget *Parent)
    : QMainWindow(Parent), FMediaPortWanted(MediaPort) {
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
}

void TFormMain::FormCreate() {
    FClosing = false;
    {
        QMutexLocker Lock(&FLock);
        FComputers = {"My Computer"};
        FComputersChanged = true;
    }
    LoadSettings();

    setWindowTitle(QStringLiteral("Vellox Player"));
    setWindowIcon(AppIcon());
    setMinimumSize(DesignWidth, DesignHeight);
    suiPageControlMain = new QTabWidget(this);
    suiPageControlMain->setTabPosition(QTabWidget::North);
    setCentralWidget(suiPageControlMain);
    CreateLibraryPage(); // also declares the list a target for dropped files
    CreateSystemMenu();
    FStatusIcon = new QLabel;
    FStatusIcon->setFixedWidth(20);
    FStatusAllow = new QLabel;
    FStatusIP = new QLabel;
    FStatusIP->setFixedWidth(120);
    statusBar()->addWidget(FStatusIcon);
    statusBar()->addWidget(FStatusAllow, 1);
    statusBar()->addPermanentWidget(FStatusIP);

    ApplyPlacement();
    ActAutoRun->setChecked(IsAutoRun());
    // The media server reads the library from its first request on: load first.
    LoadLibrary();
    UpdateStatusBar();
    LoadSkin(SkinName);
    StartMediaServer();
    ScheduleCmdTick(); // the first tick fills the "Play on" box
}

void TFormMain::CreateSystemMenu() {
    suiPopupMenuSys = new QMenu(this);
    ActAutoRun = suiPopupMenuSys->addAction(QStringLiteral("&Auto Run on Windows Startup"));
    ActAutoRun->setCheckable(true);
    connect(ActAutoRun, &QAction::triggered, this, &TFormMain::ActAutoRunExecute);
    suiPopupMenuSys->addSeparator();
    ActHelp = suiPopupMenuSys->addAction(QStringLiteral("Help"));
    ActHelp->setShortcut(Qt::Key_F1);
    ActHelp->setShortcutContext(Qt::WindowShortcut);
    addAction(ActHelp);
    connect(ActHelp, &QAction::triggered, this, &TFormMain::ActHelpExecute);
    ActAbout = suiPopupMenuSys->addAction(QStringLiteral("About"));
    connect(ActAbout, &QAction::triggered, this, &TFormMain::ActAboutExecute);
    // Stands in for the title bar's help button, which opens this menu.
    auto *HelpButton = new QToolButton(suiPageControlMain);
    HelpButton->setAutoRaise(true);
    HelpButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarContextHelpButton));
    HelpButton->setPopupMode(QToolButton::InstantPopup);
    HelpButton->setMenu(suiPopupMenuSys);
    suiPageControlMain->setCornerWidget(HelpButton, Qt::TopRightCorner);
}

void TFormMain::ActAutoRunExecute() {
    // The action toggled its mark already: the mark before the click decides.
    SetAutoRun(ActAutoRun->isChecked());
    ActAutoRun->setChecked(IsAutoRun());
}

void TFormMain::ActHelpExecute() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(HelpFileName));
}

void TFormMain::ActAboutExecute() {
    TFormAbout About(this);
    ExecModal(About);
}

void TFormMain::LoadSkin(const QString &Name) {
    const auto Read = [](const QString &FileName) {
        QFile F(FileName);
        return F.open(QIODevice::ReadOnly) ? QString::fromUtf8(F.readAll()) : QString();
    };
    // A missing skin leaves the plain look.
    setStyleSheet(Read(SkinDir + QLatin1Char('/') + Name + QStringLiteral("1.vlx")));
    FFileThemeRemote = Read(SkinDir + QLatin1Char('/') + Name + QStringLiteral("2.vlx"));
}

void TFormMain::StartMediaServer() {
    FMediaServer =
        std::make_unique<TMediaServer>([Library = FLibrary] { return Library->Snapshot(); });
    QString Error;
    if (!FMediaServer->Start(FMediaPortWanted, &Error)) {
        // Without it only this computer's own http entries play; the rest runs on.
        std::fprintf(stderr, "Vellox Player: media server not started on port %u: %s\n",
                     unsigned(FMediaPortWanted), qPrintable(Error));
    }
}

quint16 TFormMain::MediaPort() const {
    return FMediaServer ? FMediaServer->Port() : 0;
}

void TFormMain::ApplyPlacement() {
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

void TFormMain::UpdateStatusBar() {
    const bool Allowed = AllowOthers.load();
    FStatusIcon->setPixmap(
        style()
            ->standardIcon(Allowed ? QStyle::SP_DialogApplyButton : QStyle::SP_DialogCancelButton)
            .pixmap(16, 16));
    FStatusAllow->setText(Allowed ? QStringLiteral("Allow") : QStringLiteral("Deny"));
    FStatusIP->setText(QString::fromUtf8(LocalIP));
}

void TFormMain::FormDestroy() {
    // The server's threads read the library: they end before it goes.
    FMediaServer.reset();
    QMutexLocker Lock(&FLock);
    FComputers.clear();
}

void TFormMain::ScheduleCmdTick() {
    if (FCmdTickQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FCmdTickQueued = false;
            TimerCmdTimer();
        },
        Qt::QueuedConnection);
}

void TFormMain::TimerCmdTimer() {
    if (FClosing) {
        if (RemotePlayers.isEmpty())
            close();
        return;
    }
    RefreshComputerCombo();

    if (FLocalPlayer && FLocalPlayer->TakeShowRequest()) {
        if (!FLocalPlayer->isVisible())
            ShowLocalPlayerPage();
        // A controller connecting brings the player into view.
        if (FLocalPlayerSheet)
            suiPageControlMain->setCurrentWidget(FLocalPlayerSheet);
    }
}

void TFormMain::RefreshComputerCombo() {
    QStringList Items;
    {
        QMutexLocker Lock(&FLock);
        if (!FComputersChanged)
            return;
        FComputersChanged = false;
        for (const QByteArray &Computer : std::as_const(FComputers))
            Items.append(QString::fromUtf8(Computer));
    }
    const QString Text = suiComboBoxPlayServer->currentText();
    suiComboBoxPlayServer->clear();
    suiComboBoxPlayServer->addItems(Items);
    suiComboBoxPlayServer->setCurrentText(Text);
}

void TFormMain::SetLocalPlayer(TFormLocalPlayer *LocalPlayer) {
    FLocalPlayer = LocalPlayer;
    if (FLocalPlayer)
        connect(FLocalPlayer, &TFormLocalPlayer::ShowRequested, this, &TFormMain::ScheduleCmdTick);
}

void TFormMain::ShowLocalPlayerPage() {
    if (!FLocalPlayer)
        return;
    const QWidget *Parent = FLocalPlayer->parentWidget();
    if (Parent != FLocalPlayer->HomeParent() && Parent != this)
        return; // docked already
    FLocalPlayerSheet = new QWidget;
    auto *Layout = new QVBoxLayout(FLocalPlayerSheet);
    Layout->setContentsMargins(0, 0, 0, 0);
    FLocalPlayer->setWindowFlags(Qt::Widget);
    Layout->addWidget(FLocalPlayer);
    suiPageControlMain->addTab(FLocalPlayerSheet, QStringLiteral("My Player"));
    FLocalPlayer->show();
}

void TFormMain::closeEvent(QCloseEvent *Event) {
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (!CanClose) {
        Event->ignore();
        return;
    }
    Event->accept();
    qApp->quit();
}

void TFormMain::FormCloseQuery(bool &CanClose) {
    if (!FClosing) {
        // Stop the services first, so nothing reaches the lists once they go.
        if (FLocalPlayer)
            FLocalPlayer->StopServices(); // both timers, then the command server
        if (FMediaServer)
            FMediaServer->Stop();
        SaveWindowPlacement();
        FClosing = true;
        CanClose = false;
        ScheduleCmdTick();
        return;
    }
    if (RemotePlayers.isEmpty())
        CanClose = true;
}

void TFormMain::SaveWindowPlacement() {
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

void TFormMain::Exit1Click() {
    close();
}

void TFormMain::ActRestoreExecute() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
