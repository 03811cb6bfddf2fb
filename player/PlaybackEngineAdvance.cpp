// Which track plays next: the advance at a track's end (or after a failure), a row chosen to
// play, and next and previous in play order.
#include "PlaybackEngine.h"

#include "AsciiText.h"
#include "MediaComponent.h"

void TPlaybackEngine::AutoAdvance() {
    const int Count = FModel->RowCount();
    if (Count == 0)
        return;
    if (!FNothingPlayable) {
        if (!FCurrentGone || CurrentIndex < 0 || CurrentIndex >= Count)
            CurrentIndex = CurrentIndex >= 0 && CurrentIndex < Count - 1 ? CurrentIndex + 1 : 0;
        FCurrentGone = false;
        const QByteArray &Location = FModel->ItemAt(CurrentIndex)->Location;
        const QByteArray Encoded = PlayableURL(Location);
        // A row that failed is not fetched again and again: it waits for a change of the list
        // or for somebody to play it. A skipped row costs one tick, unless none is left to try.
        if (Encoded.isEmpty() || FFailed.contains(Location)) {
            if (FFailed.size() < PlayableRowCount())
                return;
            FNothingPlayable = true;
        } else {
            Load(Location, Encoded);
            return;
        }
    }
    // Controllers learn from the stopped state that nothing plays.
    if (FMedia->PlayState() != TPlayState::Stopped)
        FMedia->Stop();
}

void TPlaybackEngine::Load(const QByteArray &Location, const QByteArray &Encoded) {
    if (QuietGapPassed())
        PrepareQuietStart();
    MarkCurrentTrack();
    FLoading = Location;
    FMedia->SetURL(Encoded);
    const QByteArray Loaded = FMedia->URL();
    if (!Loaded.isEmpty())
        Broadcast(CommandWord::URL, Loaded);
    QueueNext();
}

int TPlaybackEngine::NextRow() {
    const int Count = FModel->RowCount();
    if (Count == 0)
        return -1;
    // Once the current track left the list, CurrentIndex already names the one after it.
    int Row = FCurrentGone ? CurrentIndex : CurrentIndex + 1;
    for (int Tried = 0; Tried < Count; ++Tried, ++Row) {
        Row = Row >= 0 && Row < Count ? Row : 0;
        const QByteArray &Location = FModel->ItemAt(Row)->Location;
        if (!PlayableURL(Location).isEmpty() && !FFailed.contains(Location))
            return Row;
    }
    return -1;
}

void TPlaybackEngine::QueueNext() {
    const int Row = FMedia->URL().isEmpty() ? -1 : NextRow();
    FNextLocation = Row >= 0 ? FModel->ItemAt(Row)->Location : QByteArray();
    FMedia->SetNextURL(Row >= 0 ? PlayableURL(FNextLocation) : QByteArray());
}

void TPlaybackEngine::OnNextStarted(const QByteArray &URL) {
    const int Row = FModel->RowOf(PlayItems.Find(FNextLocation));
    if (Row >= 0 && PlayableURL(FNextLocation) == URL) {
        SetCurrentIndex(Row);
        FLoading = FNextLocation;
    } else if (const int Next = NextRow(); Next >= 0) {
        // The list changed while the component was already starting the old next track: the
        // track due next stays due.
        SetCurrentIndex(Next);
        FCurrentGone = true;
    }
    // A track that starts is a play start for the quiet gap, though the sound never stopped.
    LastPlayStart = Now();
    MarkCurrentTrack();
    Broadcast(CommandWord::URL, URL);
    QueueNext();
}

void TPlaybackEngine::PlayRow(int Row) {
    if (Row < 0 || Row >= FModel->RowCount())
        return;
    FFailed.remove(FModel->ItemAt(Row)->Location);
    FNothingPlayable = false;
    FHeld = false;
    SetCurrentIndex(Row - 1);
    FMedia->Stop();
    Q_EMIT PlayTickWanted(); // a stopped component may not say so again
}

void TPlaybackEngine::PlayNext() {
    if (FFollowing && FFollowerSkip) {
        FFollowerSkip(1);
        return;
    }
    if (FModel->RowCount() == 0)
        return;
    // A stopped track gives way to the next one, also where a stop held the speaker, as
    // previous plays the one before.
    FHeld = false;
    FMedia->Stop();
    Q_EMIT PlayTickWanted(); // a stopped component may not say so again
}

void TPlaybackEngine::PlayPrevious() {
    if (FFollowing && FFollowerSkip) {
        FFollowerSkip(-1);
        return;
    }
    const int Count = FModel->RowCount();
    int Row = CurrentIndex;
    for (int Tried = 0; Tried < Count; ++Tried) {
        // The index may point past the end once rows were removed.
        Row = Row > 0 && Row <= Count ? Row - 1 : Count - 1;
        if (!PlayableURL(FModel->ItemAt(Row)->Location).isEmpty()) {
            PlayRow(Row);
            return;
        }
    }
}

void TPlaybackEngine::FollowTrack(const QByteArray &URL) {
    for (int Row = 0; Row < FModel->RowCount(); ++Row)
        if (PlayableURL(FModel->ItemAt(Row)->Location) == URL) {
            SetCurrentIndex(Row);
            MarkCurrentTrack();
            break;
        }
    QueueNext();
}
