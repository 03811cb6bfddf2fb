#pragma once

#include <QByteArray>
#include <QHash>
#include <QVarLengthArray>

#include <memory>
#include <vector>

// A row of the view that shows a play list; defined by that view's model.
struct TPlayListRow;

// One track of the speaker's play list.
class TMusicItem {
public:
    TMusicItem(const QByteArray &AName, const QByteArray &AHost, const QByteArray &ALocation,
               TPlayListRow *AListItem)
        : Name(AName), Host(AHost), Location(ALocation), ListItem(AListItem) {}

    QByteArray Name;
    QByteArray Host;
    // The list key; fixed at creation so the list's index never goes stale.
    const QByteArray Location;
    // The view row showing this item; set and owned by the list's owner, never touched here.
    TPlayListRow *ListItem = nullptr;
};

// Ordered play list owning its items, with an O(1) lookup by location.
class TMusicList {
public:
    TMusicList() = default;
    ~TMusicList();
    TMusicList(const TMusicList &) = delete;
    TMusicList &operator=(const TMusicList &) = delete;

    // Destroys every item, first to last.
    void Clear();
    // Appends a new item; no duplicate check.
    TMusicItem *Add(const QByteArray &Name, const QByteArray &Host, const QByteArray &Location,
                    TPlayListRow *ListItem = nullptr);
    // Appends an item with only Location set unless Find(Location) finds one; the new item or null.
    TMusicItem *AddIfAbsent(const QByteArray &Location);
    // Removes and destroys Item if it belongs to this list; otherwise does nothing.
    void Remove(TMusicItem *Item);
    // Remove() for each of Items, in one pass over the list.
    void RemoveItems(const std::vector<TMusicItem *> &Items);
    // First item, in list order, whose Location equals Location ignoring the case of A-Z;
    // a blank Location is never found.
    TMusicItem *Find(const QByteArray &Location) const;

    qsizetype Count() const { return qsizetype(FItems.size()); }
    TMusicItem *At(qsizetype Index) const { return FItems[size_t(Index)].get(); }
    // Position of Item in the list, or -1.
    qsizetype IndexOf(const TMusicItem *Item) const;

private:
    TMusicItem *Append(std::unique_ptr<TMusicItem> Item);
    // Takes Item out of the location index.
    void Unindex(TMusicItem *Item);

    std::vector<std::unique_ptr<TMusicItem>> FItems;
    // Upper-cased location -> its items in list order (several only after Add of duplicates).
    // Items only ever join at the end of the list, so appending keeps each bucket in order.
    QHash<QByteArray, QVarLengthArray<TMusicItem *, 1>> FIndex;
};
