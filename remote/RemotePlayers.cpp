#include "RemotePlayers.h"

void TRemotePlayerList::Add(TRemotePlayer *Page) {
    if (Page && !FPages.contains(Page))
        FPages.append(Page);
}

void TRemotePlayerList::Remove(TRemotePlayer *Page) {
    // Dead entries go too, so the list empties even if a page was deleted unregistered.
    const auto Before = FPages.size();
    FPages.removeIf([Page](const QPointer<TRemotePlayer> &P) { return P.isNull() || P == Page; });
    if (FPages.size() != Before)
        Q_EMIT PageRemoved();
}

QList<TRemotePlayer *> TRemotePlayerList::Pages() const {
    QList<TRemotePlayer *> Live;
    for (const auto &P : FPages)
        if (P)
            Live.append(P.data());
    return Live;
}

TRemotePlayerList &RemotePlayers() {
    static TRemotePlayerList List;
    return List;
}
