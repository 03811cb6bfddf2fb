#include "MusicList.h"

#include "AsciiText.h"

#include <QSet>

#include <algorithm>

namespace {

// A location that trims to nothing is never found, so it never needs a key.
bool IsFindable(const QByteArray &Location) {
    return !TrimBlanks(Location).isEmpty();
}

} // namespace

TMusicList::~TMusicList() {
    Clear();
}

void TMusicList::Clear() {
    for (auto &Item : FItems)
        Item.reset();
    FItems.clear();
    FIndex.clear();
}

TMusicItem *TMusicList::Append(std::unique_ptr<TMusicItem> Item) {
    TMusicItem *Raw = Item.get();
    FItems.push_back(std::move(Item));
    if (IsFindable(Raw->Location))
        FIndex[AsciiUpper(Raw->Location)].append(Raw);
    return Raw;
}

TMusicItem *TMusicList::Add(const QByteArray &Name, const QByteArray &Host,
                            const QByteArray &Location, TPlayListRow *ListItem) {
    return Append(std::make_unique<TMusicItem>(Name, Host, Location, ListItem));
}

TMusicItem *TMusicList::AddIfAbsent(const QByteArray &Location) {
    if (!IsFindable(Location)) {
        // Never found, so never a duplicate; and never indexed.
        FItems.push_back(
            std::make_unique<TMusicItem>(QByteArray(), QByteArray(), Location, nullptr));
        return FItems.back().get();
    }
    auto &Bucket = FIndex[AsciiUpper(Location)];
    if (!Bucket.isEmpty())
        return nullptr;
    FItems.push_back(std::make_unique<TMusicItem>(QByteArray(), QByteArray(), Location, nullptr));
    Bucket.append(FItems.back().get());
    return FItems.back().get();
}

void TMusicList::Remove(TMusicItem *Item) {
    if (!Item)
        return;
    const auto It = std::find_if(FItems.begin(), FItems.end(),
                                 [Item](const auto &Owned) { return Owned.get() == Item; });
    if (It == FItems.end())
        return;
    Unindex(Item);
    FItems.erase(It);
}

void TMusicList::Unindex(TMusicItem *Item) {
    if (!IsFindable(Item->Location))
        return;
    const auto Bucket = FIndex.find(AsciiUpper(Item->Location));
    if (Bucket == FIndex.end())
        return;
    Bucket->removeOne(Item);
    if (Bucket->isEmpty())
        FIndex.erase(Bucket);
}

void TMusicList::RemoveItems(const std::vector<TMusicItem *> &Items) {
    QSet<const TMusicItem *> Gone;
    Gone.reserve(qsizetype(Items.size()));
    for (TMusicItem *Item : Items)
        if (Item)
            Gone.insert(Item);
    std::erase_if(FItems, [&](std::unique_ptr<TMusicItem> &Owned) {
        if (!Gone.contains(Owned.get()))
            return false;
        Unindex(Owned.get());
        return true;
    });
}

TMusicItem *TMusicList::Find(const QByteArray &Location) const {
    if (!IsFindable(Location))
        return nullptr;
    const auto Bucket = FIndex.constFind(AsciiUpper(Location));
    return Bucket == FIndex.cend() ? nullptr : Bucket->first();
}

qsizetype TMusicList::IndexOf(const TMusicItem *Item) const {
    for (size_t I = 0; I < FItems.size(); ++I)
        if (FItems[I].get() == Item)
            return qsizetype(I);
    return -1;
}
