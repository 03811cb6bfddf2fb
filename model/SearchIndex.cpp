#include "SearchIndex.h"

#include "SearchFold.h"

#include <algorithm>
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
    // Grown by appending, the buffer would keep up to twice its size.
    FText.squeeze();
    FLast.reset();
}

void TSearchIndex::SetRow(int Row, const QByteArray &Text) {
    if (Row < 0 || Row >= Count())
        return;
    FLast.reset();
    FChanged.remove(Row);
    // A text of the same length (a rescan's rows mostly keep theirs) is written in place.
    if (Text.size() == RowText(Row).size()) {
        std::copy(Text.cbegin(), Text.cend(), FText.begin() + FStarts[Row]);
        return;
    }
    FChanged.insert(Row, Text);
    // Rows held apart cost more than in the buffer: a scan's are put in now and then.
    if (FChanged.size() > Count() / 8 + 64)
        Rebuild();
}

void TSearchIndex::Rebuild() {
    if (FChanged.isEmpty())
        return;
    QByteArray Text;
    Text.reserve(FText.size());
    QList<qsizetype> Starts{0};
    Starts.reserve(FStarts.size());
    for (int Row = 0; Row < Count(); ++Row) {
        const auto It = FChanged.constFind(Row);
        Text += It != FChanged.cend() ? QByteArrayView(*It) : RowText(Row);
        Text += '\n';
        Starts.append(Text.size());
    }
    Text.squeeze();
    FText = std::move(Text);
    FStarts = std::move(Starts);
    FChanged.clear();
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
    QList<int> Hits = Search(Words, FLast ? &*FLast : nullptr);
    FLast = TSearchMemo{Words, Hits};
    return Hits;
}

QList<int> TSearchIndex::Search(const QByteArrayList &Words, const TSearchMemo *Last) const {
    QList<int> Hits;
    if (Words.isEmpty()) {
        Hits.resize(Count());
        std::iota(Hits.begin(), Hits.end(), 0);
        return Hits;
    }
    if (Last && Words == Last->Words)
        return Last->Hits;
    // Rows are looked at one by one only among hits already narrowed down.
    qsizetype Next = 0;
    if (Last && !Last->Words.isEmpty() && Narrows(Last->Words, Words)) {
        Hits = Last->Hits;
    } else {
        Hits = FindFirst(Words.front());
        Next = 1;
    }
    for (; Next < Words.size(); ++Next)
        Hits.removeIf([&](int Row) { return !Holds(RowText(Row), Words[Next]); });
    return Hits;
}
