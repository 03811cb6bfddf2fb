#include "LibraryTableModel.h"

#include "AlbumIndex.h"
#include "LibraryTags.h"
#include "MusicLibrary.h"
#include "TrackTime.h"

#include <QColor>

#include <algorithm>

#include <numeric>

TLibraryTableModel::TLibraryTableModel(const TMusicLibrary &Library, QObject *Parent)
    : QAbstractTableModel(Parent), FLibrary(Library) {
    FollowLibrary();
}

void TLibraryTableModel::FollowLibrary() {
    // Showing every row, the library's changes are this model's; showing chosen rows, they are
    // numbered anew and shown again at once.
    connect(&FLibrary, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex &, int First, int Last) {
                if (ShowsAll())
                    beginInsertRows({}, First, Last);
            });
    connect(&FLibrary, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int First, int Last) {
                if (ShowsAll())
                    endInsertRows();
                else
                    Renumber(First, Last, false);
            });
    connect(&FLibrary, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int First, int Last) {
                if (ShowsAll())
                    beginRemoveRows({}, First, Last);
                else
                    beginResetModel();
            });
    connect(&FLibrary, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int First, int Last) {
                if (ShowsAll()) {
                    endRemoveRows();
                } else {
                    Renumber(First, Last, true);
                    endResetModel();
                }
            });
    connect(&FLibrary, &QAbstractItemModel::layoutAboutToBeChanged, this,
            [this] { Q_EMIT layoutAboutToBeChanged(); });
    connect(&FLibrary, &QAbstractItemModel::layoutChanged, this, [this] {
        // Rows in another order: chosen rows keep their numbers until the page lists anew.
        Q_EMIT layoutChanged();
    });
    connect(&FLibrary, &QAbstractItemModel::modelAboutToBeReset, this,
            &TLibraryTableModel::beginResetModel);
    connect(&FLibrary, &QAbstractItemModel::modelReset, this, [this] {
        FRows.reset();
        endResetModel();
    });
}

void TLibraryTableModel::Renumber(int First, int Last, bool Removed) {
    const int Count = Last - First + 1;
    if (Removed)
        FRows->removeIf([&](int Row) { return Row >= First && Row <= Last; });
    for (int &Row : *FRows)
        if (Row >= (Removed ? Last + 1 : First))
            Row += Removed ? -Count : Count;
}

void TLibraryTableModel::SetTags(const TLibraryTags *Tags) {
    if (FTags)
        disconnect(FTags, nullptr, this, nullptr);
    FTags = Tags;
    if (Tags) {
        connect(Tags, &TLibraryTags::RowsChanged, this, &TLibraryTableModel::TextsChanged);
        connect(Tags, &TLibraryTags::RowsReset, this, &TLibraryTableModel::TextsChanged);
        connect(Tags, &TLibraryTags::AlbumsChanged, this, &TLibraryTableModel::TextsChanged);
    }
}

void TLibraryTableModel::SetRows(std::optional<QList<int>> Rows) {
    if (Rows) // rows the library no longer has are not shown
        Rows->removeIf([this](int Row) { return Row < 0 || Row >= FLibrary.Count(); });
    if (!Rows && !FRows)
        return; // every row already, following the library; new texts come by TextsChanged
    if (Rows && FRows && Rows->size() == FRows->size()) {
        // Same rows in another order (a sort): the selection follows its rows.
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        QList<int> NewRowOf(FLibrary.Count(), -1);
        for (int At = 0; At < int(Rows->size()); ++At)
            NewRowOf[(*Rows)[At]] = At;
        const QModelIndexList Old = persistentIndexList();
        QModelIndexList New;
        for (const QModelIndex &Index : Old) {
            const int To = NewRowOf.value(LibraryRow(Index.row()), -1);
            New.append(To < 0 ? QModelIndex() : index(To, Index.column()));
        }
        FRows = std::move(Rows);
        changePersistentIndexList(Old, New);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        return;
    }
    beginResetModel();
    FRows = std::move(Rows);
    endResetModel();
}

QList<int> TLibraryTableModel::LibraryRows() const {
    if (FRows)
        return *FRows;
    QList<int> All(FLibrary.Count());
    std::iota(All.begin(), All.end(), 0);
    return All;
}

QModelIndex TLibraryTableModel::IndexOf(int LibraryRow) const {
    if (!FRows)
        return index(LibraryRow, 0);
    const qsizetype At = FRows->indexOf(LibraryRow);
    return At < 0 ? QModelIndex() : index(int(At), 0);
}

int TLibraryTableModel::rowCount(const QModelIndex &Parent) const {
    if (Parent.isValid())
        return 0;
    return FRows ? int(FRows->size()) : FLibrary.Count();
}

int TLibraryTableModel::columnCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : LibraryColumnCount;
}

QVariant TLibraryTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return {};
    static const char *const Names[] = {"Title", "Artist", "Album", "#",    "Length",
                                        "File",  "Disc",   "Year",  "Genre"};
    return Section >= 0 && Section < LibraryColumnCount ? QString::fromLatin1(Names[Section])
                                                        : QVariant();
}

QVariant TLibraryTableModel::data(const QModelIndex &Index, int Role) const {
    const int Row = LibraryRow(Index.row());
    if (!Index.isValid() || Row < 0 || Row >= FLibrary.Count())
        return {};
    const TLibraryEntry &Entry = FLibrary.Row(Row);
    if (Role == TMusicLibrary::SourceRole)
        return Entry.Source;
    const int TagRow = FTags ? FTags->RowOf(Entry.Source) : -1;
    if (Role == Qt::ToolTipRole) {
        const QString Gain = TagRow >= 0 ? FTags->Tags(TagRow).GainText() : QString();
        return QString::fromUtf8(Entry.Source) + (Gain.isEmpty() ? QString() : '\n' + Gain);
    }
    if (Role == Qt::ForegroundRole)
        return TagRow >= 0 && FTags->State(TagRow) == TRowTagState::Missing
                   ? QVariant(QColor(Qt::gray))
                   : QVariant();
    const auto Column = TLibraryColumn(Index.column());
    if (Role == Qt::TextAlignmentRole)
        return Column == TLibraryColumn::Number || Column == TLibraryColumn::Length ||
                       Column == TLibraryColumn::Disc || Column == TLibraryColumn::Year
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    if (Role != Qt::DisplayRole)
        return {};
    static const TTrackTags None;
    const TTrackTags &Tags = TagRow >= 0 ? FTags->Tags(TagRow) : None;
    switch (Column) {
    case TLibraryColumn::Title:
        return Tags.Title.isEmpty() ? QString::fromUtf8(Entry.Name) : Tags.Title;
    case TLibraryColumn::Artist:
        return Tags.Artist();
    case TLibraryColumn::Album:
        return Tags.Album;
    case TLibraryColumn::Number:
        return Tags.Track > 0 ? QString::number(Tags.Track) : QString();
    case TLibraryColumn::Length:
        return Tags.DurationMs > 0 ? FormatTrackTime(double(Tags.DurationMs) / 1000) : QString();
    case TLibraryColumn::File:
        return QString::fromUtf8(Entry.Name);
    case TLibraryColumn::Disc: {
        // Only where the album has more than one disc.
        const auto Albums = FTags ? FTags->Albums() : nullptr;
        if (!Albums || TagRow < 0 || TagRow >= Albums->RowCount())
            return {};
        const TAlbum &Album = Albums->Albums()[Albums->AlbumOf(TagRow)];
        return Album.Discs > 1 ? QString::number(std::max(Tags.Disc, 1)) : QString();
    }
    case TLibraryColumn::Year:
        return Tags.Year > 0 ? QString::number(Tags.Year) : QString();
    case TLibraryColumn::Genre:
        return Tags.Genre;
    }
    return {};
}
