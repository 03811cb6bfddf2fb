#include "ClientShares.h"

TRoom FindRoom(const std::vector<TPlace> &Places, quint32 Client, int Limit) {
    int Held = 0;
    for (const TPlace &Place : Places)
        Held += Place.Client == Client ? 1 : 0;
    const bool ShareHeld = Held >= ClientShare(Limit);
    if (!ShareHeld && int(Places.size()) < Limit)
        return {true, -1};
    int Oldest = -1;
    for (int I = 0; I < int(Places.size()); ++I) {
        const TPlace &Place = Places[size_t(I)];
        if (Place.Idle && (!ShareHeld || Place.Client == Client) &&
            (Oldest < 0 || Place.UsedAt < Places[size_t(Oldest)].UsedAt))
            Oldest = I;
    }
    return {Oldest >= 0, Oldest};
}
