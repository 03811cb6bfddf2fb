// Opening a watch, the places sessions hold and the bytes they hold.
#include "WebRemoteWatch.h"

#include "ClientShares.h"
#include "CommandClient.h"
#include "WebGate.h"

// A POST opens a watch (and its session); the event streams the page opens with its token
// only join it. So no GET, which any page can make a browser send, connects anywhere.
TWebAnswer TWebRemote::OpenWatch(const QJsonObject &Body) {
    const QString Host = Body.value(u"host").toString().trimmed();
    const TTargetCheck Check = CheckTarget(Host);
    if (Check == TTargetCheck::Empty || Check == TTargetCheck::Invalid)
        return TWebGate::Error(400, QStringLiteral("Invalid computer name or IP."));
    const QString Key = WatchKey(Host);
    if (Key == u"127.0.0.1" && FPlayTo->LocalSpeakerPort() == 0)
        return TWebGate::Error(503, NoLocalSpeakerText());
    if (!MakeRoom(Key))
        return TWebGate::Error(503, TooManyText());
    TWatch &W = WatchFor(Key);
    W.Client = FClient;
    W.WatchedAt = ++FWatchClock;
    if (!W.Session)
        FPlayTo->PlayListOn(RouterHost(Host), {}); // the new session shows up, asking "GET"
    return TWebGate::Json(200, Compact({{QStringLiteral("stream"), QString::fromLatin1(W.Token)}}));
}

bool TWebRemote::MakeRoom(const QString &Key) {
    if (FWatches.contains(Key))
        return true;
    std::vector<TPlace> Places;
    QStringList Keys;
    for (const auto &W : std::as_const(FWatches)) {
        Places.push_back({W->Client, W->Streams.isEmpty(), W->WatchedAt});
        Keys.append(W->Key);
    }
    const TRoom Room = FindRoom(Places, FClient, MaxSessions);
    if (Room.GiveWay >= 0) {
        const auto It = FWatches.find(Keys.at(Room.GiveWay));
        const std::shared_ptr<TWatch> Gone = *It;
        EraseWatch(It);
        Gone->Idle->stop();
        if (Gone->Session)
            Gone->Session->Close(); // its end finds no watch and only frees it
    }
    return Room.Granted;
}

void TWebRemote::EraseWatch(QHash<QString, std::shared_ptr<TWatch>>::iterator It) {
    if (FGate)
        FGate->DropWatch((*It)->Token);
    FWatches.erase(It);
}

std::vector<std::pair<TWebRemote::TWatch *, qint64>> TWebRemote::Holders() const {
    std::vector<std::pair<TWatch *, qint64>> Out;
    for (const auto &W : FWatches)
        if (W->Session && !W->Session->Client()->HasEnded())
            Out.emplace_back(W.get(), W->Session->HeldBytes());
    return Out;
}

qint64 TWebRemote::SessionBytes() const {
    qint64 Bytes = 0;
    for (const auto &[W, Held] : Holders())
        Bytes += Held;
    return Bytes;
}

void TWebRemote::SetSessionBudget(qint64 Bytes) {
    FSessionBudget = Bytes;
    KeepSessionBudget();
}

void TWebRemote::KeepSessionBudget() {
    const auto Held = Holders();
    std::vector<qint64> Bytes;
    for (const auto &[W, Size] : Held)
        Bytes.push_back(Size);
    for (const int Gone : OverBudget(Bytes, FSessionBudget)) {
        TWatch &W = *Held[size_t(Gone)].first;
        W.TooMuch = true;
        W.Session->Close(); // its end shows why
    }
}
