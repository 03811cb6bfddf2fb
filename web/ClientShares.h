#pragma once

#include <QtGlobal>

#include <vector>

// Places that clients share (event streams, speaker sessions): at most Limit in all, and one
// client address holds at most a quarter of them, so that no address locks the others out.
// Before a newcomer is refused an idle place gives way, least recently used first: the
// client's own when it holds its share, else anyone's.
struct TPlace {
    quint32 Client = 0; // IPv4 address
    bool Idle = false;  // may give way
    quint64 UsedAt = 0; // larger: used more recently
};

constexpr int ClientShare(int Limit) {
    return Limit / 4;
}

struct TRoom {
    bool Granted = false;
    int GiveWay = -1; // the index of the place that goes first, or -1
};

TRoom FindRoom(const std::vector<TPlace> &Places, quint32 Client, int Limit);

// The same for places that may all give way at any time (event streams: a page opens a new one
// when its own ends), oldest first (UsedAt: when opened). When Client holds its share, or all
// are taken, the oldest place of the address holding most goes (of those holding most, the
// one whose oldest place is oldest), so a few addresses cannot hold them all.
TRoom FindRoomFromLargest(const std::vector<TPlace> &Places, quint32 Client, int Limit);

// Which of the holders of Held bytes end so that the rest hold at most Budget together: the
// one holding most first, then the next, as long as the total is over.
std::vector<int> OverBudget(const std::vector<qint64> &Held, qint64 Budget);
