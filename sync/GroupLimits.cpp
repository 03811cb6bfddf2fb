// What TGroup holds for others at most: connections waiting for their hello, shared fairly
// between the addresses they come from, and the output all links have not taken yet.
#include "Group.h"

#include <algorithm>

namespace {
// Connections on the group port that have not said hello yet, in all and from one address.
constexpr int MaxGreeting = 16;
constexpr int MaxGreetingPerAddress = 4;
} // namespace

bool TGroup::MakeGreetingPlace(const QHostAddress &From) {
    FGreetings.removeAll(nullptr);
    QHash<QHostAddress, int> Held;
    for (const QPointer<TGroupLink> &Link : std::as_const(FGreetings))
        ++Held[Link->PeerAddress()];
    const int Mine = Held.value(From);
    if (Mine >= MaxGreetingPerAddress)
        return false;
    if (FGreetings.size() < MaxGreeting)
        return true;
    const auto Most = std::max_element(Held.cbegin(), Held.cend());
    if (Most == Held.cend() || *Most <= Mine)
        return false;
    for (const QPointer<TGroupLink> &Link : std::as_const(FGreetings)) {
        if (Link->PeerAddress() == Most.key()) {
            EndGreeting(Link);
            break;
        }
    }
    return true;
}

void TGroup::EndGreeting(TGroupLink *Link) {
    FGreetings.removeAll(Link);
    Link->disconnect(this);
    Link->Close();
    Link->deleteLater();
}

void TGroup::TrimBacklog() {
    const QList<TGroupLink *> Links = findChildren<TGroupLink *>(Qt::FindDirectChildrenOnly);
    qint64 Total = 0;
    for (const TGroupLink *Link : Links)
        Total += Link->Backlog();
    while (Total > FConfig.MaxBacklog) {
        TGroupLink *Largest = *std::max_element(
            Links.begin(), Links.end(),
            [](const TGroupLink *A, const TGroupLink *B) { return A->Backlog() < B->Backlog(); });
        Total -= Largest->Backlog();
        Largest->Drop();
    }
}

bool TGroup::LeftRecently(const QHostAddress &Leader) {
    FLeft.removeIf([](const auto &It) { return It.value().hasExpired(); });
    return FLeft.contains(Leader);
}

void TGroup::LeaveByItself(const QByteArray &Reason) {
    // Bounded: the oldest block goes first.
    if (FLeft.size() >= 64)
        FLeft.erase(std::min_element(FLeft.begin(), FLeft.end()));
    if (!FLeaderAddress.isNull())
        FLeft.insert(FLeaderAddress, QDeadlineTimer(FConfig.LeftBlockMs));
    StopFollowing(Reason);
}
