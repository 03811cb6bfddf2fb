#include "RemotePlayers.h"

void TRemotePlayerList::Add(TRemotePlayer *Player) {
    if (Player && !FPages.contains(Player))
        FPages.append(Player);
}

void TRemotePlayerList::Remove(TRemotePlayer *Player) {
    // Dead entries go too, so the list empties even if a player was deleted unregistered.
    const auto Before = FPages.size();
    FPages.removeIf(
        [Player](const QPointer<TRemotePlayer> &P) { return P.isNull() || P == Player; });
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
