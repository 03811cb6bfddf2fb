#include "LibraryAnswer.h"

#include "AsciiText.h"
#include "ListPages.h"
#include "SearchFold.h"

#include <algorithm>

TLibraryAnswer::TLibraryAnswer(qint64 Version, qint64 Run, QList<TLibraryEntry> Rows,
                               QList<TTrackTags> Tags, std::shared_ptr<const TAlbumIndex> Albums,
                               qint64 RowsSince)
    : FVersion(Version), FRowsSince(RowsSince < 0 ? Version : RowsSince),
      FTag('"' + QByteArray::number(Run, 36) + '-' + QByteArray::number(Version) + '"'),
      FRows(std::move(Rows)),
      FTags(Tags.size() == FRows.size() ? std::move(Tags) : QList<TTrackTags>{}) {
    if (Albums && !FTags.isEmpty() && Albums->RowCount() == FRows.size())
        FAlbums = *Albums;
}

const TTrackTags &TLibraryAnswer::Tags(int Row) const {
    static const TTrackTags None;
    return Row >= 0 && Row < FTags.size() ? FTags[Row] : None;
}

void TLibraryAnswer::Prepare() const {
    std::call_once(FPrepared, [this] {
        QByteArrayList Texts;
        Texts.reserve(FRows.size());
        for (int Row = 0; Row < int(FRows.size()); ++Row)
            Texts.append(SearchRowText(Tags(Row), FRows[Row].Name));
        FIndex.SetRows(Texts);
    });
}

QByteArray TLibraryAnswer::RowJson(int Row) const {
    const TLibraryEntry &Entry = FRows[Row];
    const TTrackTags &T = Tags(Row);
    QByteArray Json = '[' + QByteArray::number(Row) + ',' +
                      JsonText(T.Title.isEmpty() ? Entry.Name : T.Title.toUtf8()) + ',' +
                      JsonText(T.Artist().toUtf8()) + ',' + JsonText(T.Album.toUtf8()) + ',' +
                      QByteArray::number(std::max<qint64>(0, T.DurationMs) / 1000);
    // A URL names nothing private; a path would show a home folder's name.
    if (StartsWithAscii(Entry.Source, "http://"))
        Json += ',' + JsonText(Entry.Source);
    return Json + ']';
}

QList<int> TLibraryAnswer::Matching(const QByteArray &Query) const {
    Prepare();
    const QByteArrayList Words = SearchWords(QString::fromUtf8(Query));
    std::optional<TSearchMemo> Last;
    {
        std::lock_guard Lock(FSearching);
        Last = FLastSearch;
    }
    QList<int> Hits = FIndex.Search(Words, Last ? &*Last : nullptr);
    std::lock_guard Lock(FSearching);
    FLastSearch = TSearchMemo{Words, Hits};
    return Hits;
}

QByteArray TLibraryAnswer::Envelope(const char *Key, qsizetype Matched, qsizetype From,
                                    qsizetype Count,
                                    const std::function<QByteArray(qsizetype)> &Item) const {
    From = std::clamp<qsizetype>(From, 0, Matched);
    const QByteArray Items =
        JsonPage(std::min(Count, Matched - From), [&](qsizetype I) { return Item(From + I); });
    return "{\"count\":" + QByteArray::number(Matched) + ",\"from\":" + QByteArray::number(From) +
           ",\"total\":" + QByteArray::number(FRows.size()) + ",\"" + Key + "\":" + Items +
           ",\"version\":" + QByteArray::number(FVersion) + '}';
}

QByteArray TLibraryAnswer::Page(const QByteArray &Query, qsizetype From, qsizetype Count) const {
    const bool All = SearchWords(QString::fromUtf8(Query)).isEmpty();
    const QList<int> Rows = All ? QList<int>() : Matching(Query);
    return Envelope("tracks", All ? FRows.size() : Rows.size(), From, Count,
                    [&](qsizetype I) { return RowJson(All ? int(I) : Rows[I]); });
}
