#include "SearchFold.h"

#include "TrackTags.h"

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
    QString Spelled;
    Spelled.reserve(Text.size());
    for (const QChar C : Text) {
        if (const char *Base = BaseLetters(C.unicode()))
            Spelled += QLatin1String(Base);
        else
            Spelled += C;
    }
    const QString Decomposed = Spelled.normalized(QString::NormalizationForm_KD);
    QString Kept;
    Kept.reserve(Decomposed.size());
    for (const QChar C : Decomposed)
        if (!C.isMark())
            Kept += C;
    return Kept.toCaseFolded().toUtf8();
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
