#include "SearchIndex.h"

#include "SearchFold.h"

#include <numeric>
#include <string_view>

namespace {

// Whether a row holding every word of Words holds every word of Before: then the hits of Words
// are among those of Before.
bool Narrows(const QByteArrayList &Before, const QByteArrayList &Words) {
    for (const QByteArray &Old : Before) {
        bool Covered = false;
        for (const QByteArray &Word : Words)
            Covered = Covered || Word.contains(Old);
        if (!Covered)
            return false;
    }
    return true;
}

// libstdc++'s find (first byte by memchr, then a compare) beat glibc's memmem and Qt's indexOf
// on row texts here.
std::string_view View(QByteArrayView Text) {
    return {Text.data(), size_t(Text.size())};
}

bool Holds(QByteArrayView Text, const QByteArray &Word) {
    return View(Text).find(View(Word)) != std::string_view::npos;
}

} // namespace

void TSearchIndex::SetRows(const QByteArrayList &Texts) {
    FChanged.clear();
    FText.clear();
    FStarts = {0};
    FStarts.reserve(Texts.size() + 1);
    for (const QByteArray &Text : Texts) {
        FText += Text;
        FText += '\n';
        FStarts.append(FText.size());
    }
    FLastValid = false;
}

void TSearchIndex::SetRow(int Row, const QByteArray &Text) {
    if (Row < 0 || Row >= Count())
        return;
    FChanged.insert(Row, Text);
    FLastValid = false;
}

void TSearchIndex::Rebuild() {
    if (FChanged.isEmpty())
        return;
    QByteArrayList Texts;
    Texts.reserve(Count());
    for (int Row = 0; Row < Count(); ++Row) {
        const auto It = FChanged.constFind(Row);
        Texts.append(It != FChanged.cend() ? *It : RowText(Row).toByteArray());
    }
    SetRows(Texts);
}

QByteArrayView TSearchIndex::RowText(int Row) const {
    return QByteArrayView(FText).sliced(FStarts[Row], FStarts[Row + 1] - FStarts[Row] - 1);
}

QList<int> TSearchIndex::FindFirst(const QByteArray &Word) const {
    QList<int> Hits;
    const std::string_view Text = View(FText);
    int Row = 0;
    for (size_t At = Text.find(View(Word)); At != std::string_view::npos;
         At = Text.find(View(Word), size_t(FStarts[Row + 1]))) {
        while (FStarts[Row + 1] <= qsizetype(At))
            ++Row;
        Hits.append(Row);
    }
    return Hits;
}

QList<int> TSearchIndex::Find(QStringView Query) {
    Rebuild();
    const QByteArrayList Words = SearchWords(Query);
    QList<int> Hits;
    if (Words.isEmpty()) {
        Hits.resize(Count());
        std::iota(Hits.begin(), Hits.end(), 0);
    } else {
        // Rows are looked at one by one only among hits already narrowed down.
        qsizetype Next = 0;
        if (FLastValid && Words == FLastWords)
            return FLastHits;
        if (FLastValid && !FLastWords.isEmpty() && Narrows(FLastWords, Words)) {
            Hits = FLastHits;
        } else {
            Hits = FindFirst(Words.front());
            Next = 1;
        }
        for (; Next < Words.size(); ++Next)
            Hits.removeIf([&](int Row) { return !Holds(RowText(Row), Words[Next]); });
    }
    FLastWords = Words;
    FLastHits = Hits;
    FLastValid = true;
    return Hits;
}
