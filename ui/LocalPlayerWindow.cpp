#include "LocalPlayerWindow.h"

#include "AllowAction.h"
#include "AsciiText.h"
#include "MediaControlStrip.h"
#include "MediaPlayer.h"
#include "NowPlayingBar.h"
#include "PlayListLook.h"
#include "PlayListPane.h"
#include "PlaybackEngine.h"
#include "Settings.h"
#include "Speaker.h"

#include <QAction>
#include <QMenu>
#include <QVBoxLayout>

TLocalPlayerWindow::TLocalPlayerWindow(TSpeaker &Speaker, QWidget *Parent)
    : QWidget(Parent), FSpeaker(Speaker) {
    setWindowTitle(QStringLiteral("My Player"));
    TPlaybackEngine *Engine = FSpeaker.Engine();
    FStrip = new TMediaControlStrip(FSpeaker.Media(), this);
    // A resume goes through the engine, which may lower the volume for a quiet start first.
    FStrip->SetPlayAction([Engine] { Engine->ResumePlay(); });
    // One rule for next and previous, the media keys' too (the group's while following).
    FStrip->SetSkipActions([Engine] { Engine->PlayPrevious(); }, [Engine] { Engine->PlayNext(); });
    connect(Engine, &TPlaybackEngine::VolumeOrMuteChanged, FStrip, &TMediaControlStrip::Refresh);
    connect(FStrip, &TMediaControlStrip::ChangedByUser, &FSpeaker, &TSpeaker::WakePlayTimer);
    connect(&FSpeaker, &TSpeaker::AllowOthersChanged, this, &TLocalPlayerWindow::UpdateAllowAction);

    auto *Look = FLook = new TPlayListLook(Engine->Model(), this);
    FPane = new TPlayListPane(*this, Look, TPlayListModel::ColumnName, TPlayListModel::ColumnFrom,
                              true, this);
    Look->setParent(FPane->View());
    FAllowAction = new TAllowAction([this] { return FSpeaker.AllowsOthers(); }, this);
    connect(FAllowAction, &QAction::triggered, this, &TLocalPlayerWindow::ToggleAllowOthers);
    FPane->AddMenuGroup({FAllowAction});
    connect(FPane, &TPlayListPane::MenuOpening, this, &TLocalPlayerWindow::UpdateAllowAction);
    connect(FPane, &TPlayListPane::AboutRequested, this, &TLocalPlayerWindow::AboutRequested);

    // The bar follows the marked row: whatever moves the mark changes the model.
    FNowPlaying = new TNowPlayingBar(this);
    TPlayListModel *Rows = Engine->Model();
    connect(Rows, &QAbstractItemModel::modelReset, this, &TLocalPlayerWindow::ShowNowPlaying);
    connect(Rows, &QAbstractItemModel::layoutChanged, this, &TLocalPlayerWindow::ShowNowPlaying);
    connect(Rows, &QAbstractItemModel::dataChanged, this, &TLocalPlayerWindow::ShowNowPlaying);
    connect(Rows, &QAbstractItemModel::rowsRemoved, this, &TLocalPlayerWindow::ShowNowPlaying);
    // The stream's own names arrive once it plays.
    connect(FSpeaker.Media(), &TMediaComponent::PlayStateChange, this,
            &TLocalPlayerWindow::ShowNowPlaying);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FStrip);
    Layout->addWidget(FNowPlaying);
    Layout->addWidget(FPane, 1);
}

TLocalPlayerWindow::~TLocalPlayerWindow() {
    FPane->disconnect(this);
}

void TLocalPlayerWindow::SetCaptions(std::function<QString(const QByteArray &URL)> CaptionOf) {
    FLook->SetCaptions(std::move(CaptionOf));
}

void TLocalPlayerWindow::SetNowPlaying(TNowPlayingOf NowPlayingOf, TCoverOf CoverOf) {
    FNowPlayingOf = std::move(NowPlayingOf);
    FCoverOf = std::move(CoverOf);
    ShowNowPlaying();
}

void TLocalPlayerWindow::ShowNowPlaying() {
    const QModelIndex Marked =
        FLook->index(FSpeaker.Engine()->Model()->MarkedRow(), TPlayListModel::ColumnName);
    if (!Marked.isValid()) {
        FNowPlaying->Show({}, {}, {});
        return;
    }
    const QByteArray Location = Marked.data(TPlayListModel::LocationRole).toByteArray();
    const TNowPlaying Now = FNowPlayingOf ? FNowPlayingOf(Location) : TNowPlaying{};
    QString Caption = Now.Caption;
    // A track from elsewhere shows what the stream names it, else what its row shows.
    const TMediaComponent *Media = FSpeaker.Media();
    if (Caption.isEmpty() && PercentDecode(Media->URL()) == Location) {
        const QString Name = Media->MediaName().trimmed(), Author = Media->MediaAuthor().trimmed();
        Caption = Name.isEmpty() || Author.isEmpty() ? Name + Author : Name + " - " + Author;
    }
    FNowPlaying->Show(Caption.isEmpty() ? Marked.data().toString() : Caption, Now.Album,
                      Now.CoverHash.isEmpty() || !FCoverOf ? QPixmap() : FCoverOf(Now.CoverHash));
}

QTableView *TLocalPlayerWindow::PlayListView() const {
    return FPane->View();
}

QMenu *TLocalPlayerWindow::PlayListMenu() const {
    return FPane->Menu();
}

QToolBar *TLocalPlayerWindow::ToolBar() const {
    return FPane->ToolBar();
}

void TLocalPlayerWindow::RemoveSelected() {
    FSpeaker.Engine()->RemoveRows(FPane->SelectedRows());
}

void TLocalPlayerWindow::MoveSelectionDown() {
    if (const auto Moved = FSpeaker.Engine()->MoveDown(FPane->SelectedRows()))
        FPane->SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionUp() {
    if (const auto Moved = FSpeaker.Engine()->MoveUp(FPane->SelectedRows()))
        FPane->SelectRows(*Moved);
}

void TLocalPlayerWindow::MoveSelectionToNextPlaying() {
    if (const auto Moved = FSpeaker.Engine()->MoveToNextPlaying(FPane->SelectedRows()))
        FPane->SelectRows(*Moved);
}

void TLocalPlayerWindow::DropSelectionOn(int Row) {
    if (const auto Moved = FSpeaker.Engine()->DropOn(FPane->SelectedRows(), Row))
        FPane->SelectRows(*Moved);
}

void TLocalPlayerWindow::SelectAll() {
    FPane->SelectAll();
}

void TLocalPlayerWindow::PlaySelectedRow() {
    if (const QList<int> Rows = FPane->SelectedRows(); !Rows.isEmpty())
        FSpeaker.Engine()->PlayRow(Rows.first());
}

bool TLocalPlayerWindow::PausesRow(int Row) const {
    return FSpeaker.Engine()->OffersPause(Row);
}

void TLocalPlayerWindow::PlayOrPauseSelected(bool Pause) {
    if (const QList<int> Rows = FPane->SelectedRows(); !Rows.isEmpty())
        FSpeaker.Engine()->PlayOrPause(Rows.first(), Pause);
}

void TLocalPlayerWindow::UpdatePlayListMenu() {
    FPane->UpdateMenu();
}

void TLocalPlayerWindow::ToggleAllowOthers() {
    FSpeaker.ToggleAllowOthers();
}

void TLocalPlayerWindow::UpdateAllowAction() {
    FAllowAction->Update();
}
