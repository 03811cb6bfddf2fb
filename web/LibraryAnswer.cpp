#include "LibraryAnswer.h"

#include "AsciiText.h"
#include "ListPages.h"

#include <algorithm>
#include <numeric>

TLibraryAnswer::TLibraryAnswer(qint64 Version, qint64 Run, QList<TLibraryEntry> Rows)
    : FVersion(Version),
      FTag('"' + QByteArray::number(Run, 36) + '-' + QByteArray::number(Version) + '"'),
      FRows(std::move(Rows)) {}

void TLibraryAnswer::Prepare() const {
    std::call_once(FPrepared, [this] {
        FJson.reserve(FRows.size());
        FKeys.reserve(FRows.size());
        for (qsizetype Row = 0; Row < FRows.size(); ++Row) {
            const TLibraryEntry &Entry = FRows[Row];
            FJson.append('[' + JsonText(Entry.Name) + ',' + JsonText(Entry.Source) + ',' +
                         QByteArray::number(Row) + ']');
            // A line break never comes from the filter box, so no match spans name and entry.
            FKeys.append(AsciiLower(Entry.Name + '\n' + Entry.Source));
        }
    });
}

QList<int> TLibraryAnswer::Matching(const QByteArray &Filter) const {
    QList<int> Rows;
    const QByteArray Wanted = AsciiLower(Filter.trimmed());
    if (Wanted.isEmpty()) {
        Rows.resize(FRows.size());
        std::iota(Rows.begin(), Rows.end(), 0);
        return Rows;
    }
    Prepare();
    for (qsizetype Row = 0; Row < FKeys.size(); ++Row)
        if (FKeys[Row].contains(Wanted))
            Rows.append(int(Row));
    return Rows;
}

QByteArray TLibraryAnswer::Page(const QByteArray &Filter, qsizetype From, qsizetype Count) const {
    Prepare();
    const bool All = Filter.trimmed().isEmpty();
    const QList<int> Rows = All ? QList<int>() : Matching(Filter);
    const qsizetype Matched = All ? FRows.size() : Rows.size();
    From = std::clamp<qsizetype>(From, 0, Matched);
    const QByteArray Tracks = JsonPage(std::min(Count, Matched - From), [&](qsizetype I) {
        return FJson[All ? From + I : Rows[From + I]];
    });
    return "{\"count\":" + QByteArray::number(Matched) + ",\"from\":" + QByteArray::number(From) +
           ",\"total\":" + QByteArray::number(FRows.size()) + ",\"tracks\":" + Tracks +
           ",\"version\":" + QByteArray::number(FVersion) + '}';
}
