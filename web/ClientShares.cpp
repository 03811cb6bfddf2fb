#include "ClientShares.h"

#include <algorithm>
#include <map>
#include <numeric>

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

TRoom FindRoomFromLargest(const std::vector<TPlace> &Places, quint32 Client, int Limit) {
    std::map<quint32, std::pair<int, int>> Held; // per address: places, its oldest place
    for (int I = 0; I < int(Places.size()); ++I) {
        auto &[Count, Oldest] = Held.try_emplace(Places[size_t(I)].Client, 0, I).first->second;
        ++Count;
        if (Places[size_t(I)].UsedAt < Places[size_t(Oldest)].UsedAt)
            Oldest = I;
    }
    const auto Own = Held.find(Client);
    const bool ShareHeld = Own != Held.end() && Own->second.first >= ClientShare(Limit);
    if (!ShareHeld && int(Places.size()) < Limit)
        return {true, -1};
    if (ShareHeld)
        return {true, Own->second.second};
    int GiveWay = -1, Most = 0;
    for (const auto &[Address, Share] : Held) {
        const auto &[Count, Oldest] = Share;
        if (Count > Most ||
            (Count == Most && Places[size_t(Oldest)].UsedAt < Places[size_t(GiveWay)].UsedAt)) {
            Most = Count;
            GiveWay = Oldest;
        }
    }
    return {GiveWay >= 0, GiveWay};
}

std::vector<int> OverBudget(const std::vector<qint64> &Held, qint64 Budget) {
    std::vector<int> Order(Held.size());
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(),
                     [&Held](int A, int B) { return Held[size_t(A)] > Held[size_t(B)]; });
    qint64 Total = std::accumulate(Held.begin(), Held.end(), qint64(0));
    std::vector<int> Gone;
    while (Total > Budget && Gone.size() < Order.size()) {
        const int Largest = Order[Gone.size()];
        Total -= Held[size_t(Largest)];
        Gone.push_back(Largest);
    }
    return Gone;
}
