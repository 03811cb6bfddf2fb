#include "ClockRequests.h"

#include <algorithm>

TClockRequests::TClockRequests(quint32 FirstExchange, const TConfig &Config)
    : FConfig(Config), FNext(FirstExchange) {
    FConfig.MaxPending = std::max(FConfig.MaxPending, 1);
}

TClockPacket TClockRequests::NewRequest(qint64 Now) {
    if (FPending.size() >= FConfig.MaxPending)
        FPending.removeFirst();
    FPending.append({FNext, Now});
    ++FSent;
    return {TClockPacket::TKind::Request, FNext++, Now, 0, 0};
}

std::optional<TClockExchange> TClockRequests::TakeReply(const TClockPacket &Reply, qint64 Now) {
    if (Reply.Kind != TClockPacket::TKind::Reply)
        return std::nullopt;
    const auto It = std::find_if(FPending.begin(), FPending.end(), [&Reply](const TPending &P) {
        return P.Exchange == Reply.Exchange && P.T1 == Reply.T1;
    });
    if (It == FPending.end())
        return std::nullopt;
    FPending.erase(It);
    if (Now < Reply.T1 || Now - Reply.T1 > FConfig.GiveUp)
        return std::nullopt;
    return TClockExchange{Reply.T1, Reply.T2, Reply.T3, Now};
}

qint64 TClockRequests::NextDelay() const {
    return FSent < FConfig.Burst ? FConfig.BurstGap : FConfig.Interval;
}

void TClockRequests::Restart() {
    FPending.clear();
    FSent = 0;
}
