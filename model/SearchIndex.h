#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QStringView>

#include <optional>

// The words of a search and the rows it found.
struct TSearchMemo {
    QByteArrayList Words;
    QList<int> Hits;
};

// The library's rows as the search sees them: each row's folded text (SearchRowText), all in
// one buffer, so that a word is looked for over the whole library in one pass. A query that
// only adds to the last one (typing on) looks only among the last one's hits.
class TSearchIndex {
public:
    // Replaces every row.
    void SetRows(const QByteArrayList &Texts);
    // Replaces one row's text; rows are rebuilt once, at the next search.
    void SetRow(int Row, const QByteArray &Text);
    int Count() const { return int(FStarts.size()) - 1; }

    // The rows in which every word of Query is found, ascending; every row for a blank query.
    QList<int> Find(QStringView Query);
    // The rows holding every word of Words (SearchWords), ascending. It only reads, so threads
    // may search at once once the rows are set (SetRows, no SetRow since). Last, an earlier
    // search of these rows: a search that only adds to it looks among its hits.
    QList<int> Search(const QByteArrayList &Words, const TSearchMemo *Last = nullptr) const;

private:
    void Rebuild();
    QByteArrayView RowText(int Row) const;
    QList<int> FindFirst(const QByteArray &Word) const;

    // Row texts one after another, each ended by a line break that no query word holds.
    QByteArray FText;
    // Where each row starts in FText, and FText's size last.
    QList<qsizetype> FStarts{0};
    QHash<int, QByteArray> FChanged;
    std::optional<TSearchMemo> FLast;
};
