#include "SearchFold.h"

#include "TrackTags.h"

#include <QHash>
#include <QString>

namespace {

// Letters that compatibility decomposition keeps whole, with what a person types for them.
const char *BaseLetters(char16_t C) {
    switch (C) {
    case u'ø':
    case u'Ø':
        return "o";
    case u'ł':
    case u'Ł':
        return "l";
    case u'đ':
    case u'Đ':
    case u'ð':
    case u'Ð':
        return "d";
    case u'æ':
    case u'Æ':
        return "ae";
    case u'œ':
    case u'Œ':
        return "oe";
    case u'ß':
    case u'ẞ':
        return "ss";
    case u'þ':
    case u'Þ':
        return "th";
    case u'ı':
        return "i";
    default:
        return nullptr;
    }
}

bool IsAscii(QStringView Text) {
    for (const QChar C : Text)
        if (C.unicode() >= 0x80)
            return false;
    return true;
}

QByteArray FoldCodePoint(char32_t C) {
    const QString Decomposed = QString::fromUcs4(&C, 1).normalized(QString::NormalizationForm_KD);
    QString Kept;
    for (const QChar D : Decomposed) {
        if (D.isMark())
            continue;
        if (const char *Base = BaseLetters(D.unicode()))
            Kept += QLatin1String(Base);
        else
            Kept += D;
    }
    return Kept.toCaseFolded().toUtf8();
}

// Decomposing letter by letter gives what decomposing the text would once marks are dropped;
// a letter's folding is kept, as a name's letters recur in row after row.
const QByteArray &FoldedCodePoint(char32_t C) {
    constexpr qsizetype MaxKept = 8192;
    thread_local QHash<char32_t, QByteArray> Kept;
    thread_local QByteArray Uncached;
    if (const auto It = Kept.constFind(C); It != Kept.cend())
        return *It;
    if (Kept.size() < MaxKept)
        return *Kept.insert(C, FoldCodePoint(C));
    return Uncached = FoldCodePoint(C);
}

QByteArray AsciiFold(QStringView Text) {
    QByteArray Out(Text.size(), Qt::Uninitialized);
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const char C = char(Text[I].unicode());
        Out[I] = (C >= 'A' && C <= 'Z') ? char(C - 'A' + 'a') : C;
    }
    return Out;
}

} // namespace

QByteArray SearchFold(QStringView Text) {
    // Most tags are plain ASCII: no decomposition needed.
    if (IsAscii(Text))
        return AsciiFold(Text);
    QByteArray Out;
    Out.reserve(Text.size() + Text.size() / 4);
    for (qsizetype I = 0; I < Text.size();) {
        char32_t C = Text[I].unicode();
        qsizetype Units = 1;
        if (QChar::isHighSurrogate(C) && I + 1 < Text.size() && Text[I + 1].isLowSurrogate()) {
            C = QChar::surrogateToUcs4(Text[I], Text[I + 1]);
            Units = 2;
        }
        I += Units;
        if (C < 0x80)
            Out += (C >= 'A' && C <= 'Z') ? char(C - 'A' + 'a') : char(C);
        else
            Out += FoldedCodePoint(C);
    }
    return Out;
}

QByteArray SearchRowText(const TTrackTags &Tags, const QByteArray &FileName) {
    // A line break between fields: a query word never holds one, so no word matches across
    // two fields.
    QByteArray Text;
    for (QStringView Field :
         {QStringView(Tags.Title), QStringView(Tags.Album), QStringView(Tags.AlbumArtist)}) {
        if (!Field.isEmpty())
            Text += SearchFold(Field) + '\n';
    }
    for (const QString &Artist : Tags.Artists)
        Text += SearchFold(Artist) + '\n';
    if (!Tags.Genre.isEmpty())
        Text += SearchFold(Tags.Genre) + '\n';
    if (Tags.Year > 0)
        Text += QByteArray::number(Tags.Year) + '\n';
    Text += SearchFold(QString::fromUtf8(FileName));
    return Text;
}

QByteArrayList SearchWords(QStringView Query) {
    // Decomposition turns the other spaces (no-break, ideographic) into plain ones.
    const QByteArray Folded = SearchFold(Query).simplified();
    return Folded.isEmpty() ? QByteArrayList() : Folded.split(' ');
}

bool SearchMatches(const QByteArray &RowText, const QByteArrayList &Words) {
    for (const QByteArray &Word : Words)
        if (!RowText.contains(Word))
            return false;
    return true;
}
