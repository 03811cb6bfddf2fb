// TMainWindow's frame: pages, system menu, allow switch, status bar, placement and skin, and
// the services it owns (media server, presence, play-to router, library page).
#include "MainWindow.h"

#include "AboutDialog.h"
#include "AppIcon.h"
#include "AutoRun.h"
#include "CoverStore.h"
#include "LibraryPage.h"
#include "MediaPlayer.h"
#include "MediaServer.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "PhoneRemoteDialog.h"
#include "PlaybackEngine.h"
#include "Presence.h"
#include "RemotePlayers.h"
#include "Settings.h"
#include "Speaker.h"
#include "SpeakerSettings.h"
#include "SpeakerSettingsDialog.h"
#include "WebRemote.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

namespace {
// Designed placement of the window.
constexpr int DesignLeft = 251;
constexpr int DesignTop = 163;
constexpr int DesignWidth = 318;
constexpr int DesignHeight = 488;
} // namespace

QSize TMainWindow::FirstWindowSize(const QSize &Screen) {
    // Room for the library's columns, within nine tenths of the screen.
    constexpr int Wanted[] = {1000, 680};
    if (!Screen.isValid())
        return {DesignWidth, DesignHeight};
    return {std::clamp(Screen.width() * 9 / 10, DesignWidth, Wanted[0]),
            std::clamp(Screen.height() * 9 / 10, DesignHeight, Wanted[1])};
}

QRect TMainWindow::KeptOnScreen(const QRect &Window, const QRect &Screen) {
    const QSize Frame(16, 48); // the title bar and borders around the inside
    if (!Screen.isValid() || Screen.contains(QRect(Window.topLeft(), Window.size() + Frame)))
        return Window;
    const QSize Size = Window.size().boundedTo(Screen.size() - Frame);
    return {QPoint(std::clamp(Window.left(), Screen.left(),
                              Screen.left() + Screen.width() - Size.width() - Frame.width()),
                   std::clamp(Window.top(), Screen.top(),
                              Screen.top() + Screen.height() - Size.height() - Frame.height())),
            Size};
}

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
    FPages->setObjectName(QStringLiteral("FPages"));
    FPages->setTabPosition(QTabWidget::North);
    setCentralWidget(FPages);
    CreateFrameActions();
    CreateSystemMenu(); // the library menu shares its Help and About
    CreatePlayTo();
    CreateLibraryPage();
    CreateTrayIcon();
    CreateStatusBar();
    CreateLibraryTags();
    FPageMenu = new QMenu(this);
    FPageMenu->setObjectName(QStringLiteral("FPageMenu"));
    FPageMenu->addAction(FClosePageAction);
    FPages->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FPages, &QWidget::customContextMenuRequested, this, &TMainWindow::OpenPageMenu);
    connect(FPages, &QTabWidget::currentChanged, this, &TMainWindow::OnPageChanged);

    ApplyPlacement();
    FAutoRunAction->setChecked(IsAutoRun());
    // The media server reads the library from its first request on: load first.
    FLibraryPage->LoadLibrary();
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
    FClosePageAction->setObjectName(QStringLiteral("FClosePageAction"));
    FClosePageAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
    FClosePageAction->setShortcutContext(Qt::WindowShortcut);
    addAction(FClosePageAction); // Ctrl+F4 anywhere in the window, docked pages included
    connect(FClosePageAction, &QAction::triggered, this, &TMainWindow::CloseActivePage);
    FPhoneRemoteAction = new QAction(QStringLiteral("Phone remote..."), this);
    FPhoneRemoteAction->setObjectName(QStringLiteral("FPhoneRemoteAction"));
    connect(
        FPhoneRemoteAction, &QAction::triggered, this,
        [this] {
            TPhoneRemoteDialog Dialog(FSharing.LocalIP(),
                                      MediaPort() ? MediaPort() : MediaServerPort,
                                      FWebRemote != nullptr, this);
            ExecModal(Dialog);
        },
        Qt::QueuedConnection); // opens after the menu that asked has gone
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

void TMainWindow::ApplyTexts() {
    const int MenuPoints = QApplication::font("QMenu").pointSize();
    if (MenuPoints > 0) {
        QFont Font = font();
        Font.setPointSize(MenuPoints);
        setFont(Font);
    }
    FTrayIcon->setToolTip(QStringLiteral("Vellox Player"));
    FPages->setAccessibleName(QStringLiteral("Pages"));
    FSystemButton->setAccessibleName(FSystemButton->toolTip());
    FStatusAllow->setAccessibleDescription(
        QStringLiteral("Whether other people may play on this computer"));
    FStatusIP->setAccessibleDescription(QStringLiteral("This computer's address"));
}

void TMainWindow::CreateSystemMenu() {
    FSystemMenu = new QMenu(this);
    FSystemMenu->setObjectName(QStringLiteral("FSystemMenu"));
    FAutoRunAction = FSystemMenu->addAction(QStringLiteral("&Auto Run at Login"));
    FAutoRunAction->setObjectName(QStringLiteral("FAutoRunAction"));
    FAutoRunAction->setCheckable(true);
    connect(FAutoRunAction, &QAction::triggered, this, &TMainWindow::ToggleAutoRun);
    FSystemMenu->addSeparator();
    FSystemMenu->addAction(FAllowAction);
    FSpeakerSettingsAction = FSystemMenu->addAction(QStringLiteral("Speaker Settings..."));
    FSpeakerSettingsAction->setObjectName(QStringLiteral("FSpeakerSettingsAction"));
    connect(FSpeakerSettingsAction, &QAction::triggered, this, &TMainWindow::ShowSpeakerSettings,
            Qt::QueuedConnection);
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

void TMainWindow::ShowSpeakerSettings() {
    const auto *Player = qobject_cast<TMediaPlayer *>(FSpeaker ? FSpeaker->Player() : nullptr);
    TSpeakerSettings &Settings = SpeakerSettings();
    TSpeakerSettingsDialog Dialog(Player ? Player->AudioDevices()
                                         : QList<std::pair<QByteArray, QString>>(),
                                  Settings.LatencyMs(), Settings.AudioDevice(), this);
    Dialog.SetSpeakerName(Settings.Name());
    Dialog.AddReplayGain(Settings.ReplayGain());
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    if (!Settings.SetLatencyMs(IniFileName, Dialog.LatencyMs()) ||
        !Settings.SetAudioDevice(IniFileName, Dialog.Device()) ||
        !Settings.SetName(IniFileName, Dialog.SpeakerName()) ||
        !Settings.SetReplayGain(IniFileName, Dialog.ReplayGain()))
        ShowErrorBox(this, QStringLiteral("The settings could not be saved to ") + IniFileName);
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
    if (WebRemoteEnabled) {
        FWebRemote = new TWebRemote(*FLibrary, FSharing, this);
        FWebRemote->SetCovers(FCovers->Source());
        FWebRemote->SetLibraryTags(FLibraryTags);
        FWebRemote->Start(*FMediaServer);
    }
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
    // A stored 0 means nothing stored: keep the first size and record it, so that shutdown
    // writes a key only when the window really changed. The first size fits the library's
    // columns where the screen has room (the designed size is the least).
    const QRect Screen = screen() ? screen()->availableGeometry() : QRect();
    const QSize First = FirstWindowSize(Screen.size());
    resize(First);
    move(DesignLeft, DesignTop);
    // The first window's size may not fit at the designed place (with its frame): centred, it
    // does.
    if (WindowWidth == 0 && WindowHeight == 0 && Screen.isValid() &&
        !Screen.contains(QRect(QPoint(DesignLeft, DesignTop), First + QSize(16, 48))))
        move(Screen.center() - QPoint(First.width() / 2, First.height() / 2));
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
    // A stored size may not fit at the designed place (a maximized window's), nor a stored
    // place lie on the screen now: all of the window shows.
    const QRect Kept = KeptOnScreen(QRect(pos(), size()), Screen);
    resize(Kept.size());
    move(Kept.topLeft());
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

void TMainWindow::CreateLibraryPage() {
    FLibrary = new TMusicLibrary(this);
    FLibraryPage =
        new TLibraryPage(*FLibrary, {FAllowAction, FHelpAction, FAboutAction, FPhoneRemoteAction});
    addActions(FLibraryPage->WindowActions()); // their keys work on every page
    connect(FLibraryPage, &TLibraryPage::PlayRequested, this,
            [this](const QString &Host, const QList<int> &Rows, TPlayMode Mode) {
                // A server on another port (tests) is named by its real port.
                FPlayTo->PlayLibraryOn(Host, *FLibrary, Rows,
                                       MediaPort() ? MediaPort() : MediaServerPort, Mode);
            });
    connect(FLibraryPage, &TLibraryPage::ConnectRequested, this,
            [this](const QString &Host) { FPlayTo->PlayListOn(Host, {}); });
    FPages->addTab(FLibraryPage, QStringLiteral("Music library"));
}

void TMainWindow::StartPresence(quint16 Port) {
    FPresence = new TPresence(this);
    FPlayTo->SetPresence(FPresence);
    FLibraryPage->SetPresence(FPresence);
    if (FWebRemote)
        FWebRemote->SetPresence(FPresence);
    connect(FPresence, &TPresence::ComputersChanged, this, [this] {
        FComputersChanged = true;
        ScheduleHeartbeat();
    });
    connect(FPresence, &TPresence::LocalIPChanged, this,
            [this](const QByteArray &IP) { FSharing.SetLocalIP(IP); });
    FPresence->SetName(SpeakerSettings().Name());
    connect(&SpeakerSettings(), &TSpeakerSettings::NameChanged, FPresence, &TPresence::SetName);
    FPresence->Start(Port);
}

void TMainWindow::CreatePlayTo() {
    FPlayTo = new TPlayTo(*this, FSharing, this);
    connect(FPlayTo, &TPlayTo::NotAdded, this, [this](const QString &Note) {
        constexpr int ShownMs = 30000;
        statusBar()->showMessage(Note, ShownMs);
    });
    connect(FPlayTo, &TPlayTo::LocalTracks, this,
            [this](const QByteArrayList &URLs, TPlayMode Mode) {
                if (FSpeaker) {
                    FSpeaker->PlayLocalTracks(URLs, Mode);
                    FSpeaker->Engine()->RequestShow();
                }
            });
    // The box runs after the page's event has returned: the page may end under it.
    connect(
        FPlayTo, &TPlayTo::ConnectFailed, this,
        [this](const QString &Failed) {
            ShowErrorBox(this, QStringLiteral("Connect to ") + Failed + QStringLiteral(" fail."));
        },
        Qt::QueuedConnection);
}
