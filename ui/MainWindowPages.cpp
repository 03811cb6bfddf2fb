// TMainWindow's page tabs: "My Player", the remote pages, the page menu, and freeing the tabs
// of pages that have ended.
#include "MainWindow.h"

#include "ClockPacket.h"

#include "CommandServer.h"
#include "CoverStore.h"
#include "GroupPanel.h"
#include "LibraryPage.h"
#include "Modal.h"
#include "Presence.h"
#include "RemotePlayerPage.h"
#include "Speaker.h"
#include "SpeakerSettings.h"
#include "TrackCaptions.h"
#include "WebRemote.h"

#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// How soon ended pages are looked at again while a drag or menu loop runs.
constexpr int NestedLoopRetryMs = 100;
} // namespace

TLocalPlayerWindow *TMainWindow::CreateLocalPlayer(quint16 Port,
                                                   std::unique_ptr<TMediaComponent> Media) {
    delete FLocalPlayer.data();
    // The old speaker lets go of the port before the new one takes it.
    FSpeaker.reset();
    FSpeaker = std::make_unique<TSpeaker>(Port, FSharing, std::move(Media));
    // The group port beside the fixed command port; an ephemeral one beside an ephemeral one.
    FSpeaker->ListenGroup(Port == CommandServerPort ? GroupPort : 0);
    if (FWebRemote)
        FWebRemote->SetLocalSpeakerPort(FSpeaker->CommandServer()->Port());
    // A child with its own window frame: hidden until docked, deleted with this window.
    FLocalPlayer = new TLocalPlayerWindow(*FSpeaker, this);
    FLocalPlayer->setWindowFlags(Qt::Window);
    FLocalPlayer->hide();
    ShowTrackCaptions(FLocalPlayer.data());
    if (FTrackCaptions) {
        FLocalPlayer->SetNowPlaying(
            [Captions = FTrackCaptions](const QByteArray &URL) {
                return Captions->NowPlaying(URL);
            },
            [this](const QByteArray &Hash) {
                const QString File = CoverFile(Hash, TCoverStore::SmallSize);
                return File.isEmpty() ? QPixmap() : QPixmap(File);
            });
        connect(FTrackCaptions, &TTrackCaptions::Changed, FLocalPlayer,
                &TLocalPlayerWindow::ShowNowPlaying);
    }
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
        FLibraryPage->FocusList();
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

TRemoteSession *TMainWindow::OpenRemotePage(const QString &Caption) {
    auto *Page = new TRemotePlayerPage;
    Page->setStyleSheet(FileThemeRemote());
    ShowTrackCaptions(Page);
    connect(Page, &TRemotePlayerPage::AboutRequested, this, &TMainWindow::ShowAbout,
            Qt::QueuedConnection);
    Page->GroupPanel().SetComputerSource([this] {
        TGroupPanel::TComputerList Known;
        for (const QString &Computer : FLibraryPage->KnownComputers()) {
            // This computer joins a group by its address, as the others reach it.
            const bool Own = Computer.toUtf8() == TPresence::ThisComputer;
            const QString Host = Own ? QString::fromUtf8(FSharing.LocalIP()) : Computer;
            Known.append({Host, Own         ? SpeakerSettings().Name() + " (" + Host + ')'
                                : FPresence ? FPresence->Label(Computer.toUtf8())
                                            : Computer});
        }
        return Known;
    });
    AddRemotePage(Page, &Page->Session(), Caption);
    // The speaker's own name, once it tells it, captions its page ("Kitchen Player").
    TRemoteSession *Session = &Page->Session();
    connect(Session, &TRemoteSession::Repaint, this, [this, Session](unsigned Changes) {
        if (!(Changes & TRemoteSession::GroupChanged))
            return;
        // The "Play on" lists mark the group's rooms.
        FComputersChanged = true;
        if (FWebRemote)
            FWebRemote->GroupsChanged();
        const QString Name = Session->Group().NameOf(Session->Host().toUtf8());
        if (Name.isEmpty())
            return;
        for (const auto &[Sheet, Shown] : std::as_const(FRemoteSheets))
            if (Shown == Session && Sheet)
                FPages->setTabText(FPages->indexOf(Sheet), Name + QStringLiteral(" Player"));
    });
    return Session;
}

void TMainWindow::ShowRemotePage(TRemotePlayer *Player) {
    for (const auto &[Sheet, Shown] : std::as_const(FRemoteSheets))
        if (Shown == Player && Sheet)
            FPages->setCurrentWidget(Sheet);
}
