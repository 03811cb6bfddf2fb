// The play list's side of TPlaybackEngine: list jobs, the owner's edits, keeping the current
// row on its track, and the LIST and URL messages.
#include "PlaybackEngine.h"

#include "AsciiText.h"
#include "MediaComponent.h"

#include <QUrl>

#include <algorithm>

void TPlaybackEngine::QueueListJob(const QByteArray &Sender, const QByteArray &Word,
                                   const QByteArrayList &Lines, const QByteArray &Holder) {
    if (Jobs.Add(
            TListJob{Sender, Word, Lines, ListJobBytes(Lines), Holder.isEmpty() ? Sender : Holder}))
        Q_EMIT PlayTickWanted();
}

void TPlaybackEngine::AddLocalTracks(const QByteArrayList &URLs) {
    if (!URLs.isEmpty())
        QueueListJob({}, CommandWord::Add, URLs);
}

qint64 TPlaybackEngine::LineCost(const QByteArray &Location) {
    // A line starting with "." goes out with one more in front.
    const qint64 Line = Location.size() + (Location.startsWith('.') ? 1 : 0);
    return Line > MaxCommandLineLength ? -1 : Line + 2;
}

void TPlaybackEngine::FillItem(TMusicItem &Item) {
    Item.Name = DocumentName(Item.Location);
    Item.Host = QUrl(QString::fromUtf8(Item.Location), QUrl::TolerantMode).host().toUtf8();
}

bool TPlaybackEngine::AddLine(const QByteArray &Line, int Rows, std::vector<TMusicItem *> &Items) {
    if (Rows + int(Items.size()) >= MaxPlayListRows)
        return false;
    const qint64 Cost = LineCost(Line);
    if (Cost < 0)
        return true; // no LIST could carry it: skipped
    if (FListBytes + Cost > MaxPlayListBytes)
        return false;
    if (TMusicItem *Item = PlayItems.AddIfAbsent(Line)) {
        FillItem(*Item);
        Items.push_back(Item);
        FListBytes += Cost;
    }
    return true;
}

void TPlaybackEngine::AppendLines(const QByteArrayList &Lines) {
    std::vector<TMusicItem *> Items;
    Items.reserve(size_t(std::min<qsizetype>(Lines.size(), MaxPlayListRows)));
    const int Rows = FModel->RowCount();
    for (const QByteArray &Line : Lines)
        if (!AddLine(Line, Rows, Items))
            break;
    FModel->AppendRows(Items);
    FHeld = false;
    ListChanged();
    BroadcastList();
}

void TPlaybackEngine::AddTracksNow(const QByteArrayList &URLs) {
    if (!URLs.isEmpty())
        AppendLines(URLs);
}

void TPlaybackEngine::ProcessListJob() {
    const std::optional<TListJob> Job = Jobs.Take();
    if (!Job)
        return;
    // Past either limit the rest of the job is dropped, so a LIST never outgrows one message.
    if (Job->Command == CommandWord::Add) {
        AppendLines(Job->Lines);
    } else if (Job->Command == CommandWord::UpdateList) {
        const QByteArray Playing = PercentDecode(FMedia->URL());
        const QByteArrayList OldList = Locations();
        std::vector<TMusicItem *> Items;
        Items.reserve(size_t(std::min<qsizetype>(Job->Lines.size(), MaxPlayListRows)));
        FModel->BeginReplace();
        PlayItems.Clear();
        FListBytes = 0;
        int Marked = -1;
        for (const QByteArray &Line : Job->Lines) {
            const size_t Before = Items.size();
            if (!AddLine(Line, 0, Items))
                break;
            // Nothing loaded means no current track, even for an empty row.
            if (Items.size() > Before && !Playing.isEmpty() && Items.back()->Location == Playing)
                Marked = int(Before);
        }
        FModel->FinishReplace(Items, Marked);
        if (Marked >= 0)
            SetCurrentIndex(Marked);
        else
            FollowCurrent(int(OldList.size()), [this, &OldList](int Old) {
                return FModel->RowOf(PlayItems.Find(OldList[Old]));
            });
        ListChanged();
        BroadcastList(Job->Holder);
    }
}

void TPlaybackEngine::RemoveRows(QList<int> Rows) {
    Rows.removeIf([this](int Row) { return Row < 0 || Row >= FModel->RowCount(); });
    if (Rows.isEmpty())
        return;
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    const int OldCount = FModel->RowCount();
    const std::vector<TMusicItem *> Items = FModel->TakeRows(Rows);
    for (const TMusicItem *Item : Items)
        FListBytes -= LineCost(Item->Location);
    PlayItems.RemoveItems(Items);
    FollowCurrent(OldCount, [&Rows](int Old) {
        const auto Gone = std::lower_bound(Rows.cbegin(), Rows.cend(), Old);
        return Gone != Rows.cend() && *Gone == Old ? -1 : Old - int(Gone - Rows.cbegin());
    });
    ListChanged();
    BroadcastList();
}

void TPlaybackEngine::FollowCurrent(int OldCount, const std::function<int(int)> &NewRow) {
    if (CurrentIndex < 0 || CurrentIndex >= OldCount)
        return;
    if (const int Row = NewRow(CurrentIndex); Row >= 0) {
        CurrentIndex = Row;
        return;
    }
    // The play order wraps, so the track after the last row is the first.
    for (int Step = 1; Step < OldCount; ++Step)
        if (const int Row = NewRow((CurrentIndex + Step) % OldCount); Row >= 0) {
            CurrentIndex = Row;
            FCurrentGone = true;
            return;
        }
    SetCurrentIndex(-1);
}

void TPlaybackEngine::MarkLocation(const QByteArray &Location) {
    if (const int Row = FModel->RowOf(PlayItems.Find(Location)); Row >= 0) {
        SetCurrentIndex(Row);
        MarkCurrentTrack();
    }
}

void TPlaybackEngine::ListChanged() {
    FFailed.clear();
    FPlayableRows = -1;
    if (std::exchange(FNothingPlayable, false))
        Q_EMIT PlayTickWanted();
    QueueNext();
}

std::optional<QList<int>> TPlaybackEngine::ApplyMove(const std::optional<TRowMove> &Move) {
    if (!Move)
        return std::nullopt;
    const int Current = CurrentIndex >= 0 && CurrentIndex < FModel->RowCount() ? CurrentIndex : -1;
    FModel->ApplyMove(*Move);
    if (Current >= 0)
        CurrentIndex = Move->NewIndexOf(Current);
    ListChanged();
    BroadcastList();
    return Move->Selection;
}

std::optional<QList<int>> TPlaybackEngine::MoveDown(const QList<int> &Selected) {
    return ApplyMove(TRowMove::Down(FModel->RowCount(), Selected));
}

std::optional<QList<int>> TPlaybackEngine::MoveUp(const QList<int> &Selected) {
    return ApplyMove(TRowMove::Up(FModel->RowCount(), Selected));
}

std::optional<QList<int>> TPlaybackEngine::MoveToNextPlaying(const QList<int> &Selected) {
    if (!FCurrentGone)
        return ApplyMove(TRowMove::AfterCurrent(FModel->RowCount(), Selected, CurrentIndex));
    // The current track left the list: the rows go before the one due next, and play first.
    auto Moved =
        ApplyMove(TRowMove::Plan(FModel->RowCount(), Selected, CurrentIndex, TMoveSide::Before));
    if (Moved && !Moved->isEmpty()) {
        CurrentIndex = Moved->first();
        QueueNext();
    }
    return Moved;
}

std::optional<QList<int>> TPlaybackEngine::DropOn(const QList<int> &Selected, int Target) {
    return ApplyMove(TRowMove::DropOn(FModel->RowCount(), Selected, Target));
}

QByteArray TPlaybackEngine::ListText() const {
    return JoinLines(Locations());
}

QByteArrayList TPlaybackEngine::Locations() const {
    QByteArrayList Out;
    Out.reserve(FModel->RowCount());
    for (int Row = 0; Row < FModel->RowCount(); ++Row)
        Out.append(FModel->ItemAt(Row)->Location);
    return Out;
}

void TPlaybackEngine::SendListTo(TConnectionId Id) {
    SendTo(Id, CommandWord::List, ListText());
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        SendTo(Id, CommandWord::URL, URL);
}

void TPlaybackEngine::BroadcastList(const QByteArray &SkipAddress) {
    Broadcast(CommandWord::List, ListText(), SkipAddress);
    if (const QByteArray URL = FMedia->URL(); !URL.isEmpty())
        Broadcast(CommandWord::URL, URL);
}
