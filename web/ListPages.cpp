#include "ListPages.h"

#include <QString>

#include <algorithm>

QByteArray JsonText(QByteArrayView Utf8) {
    static constexpr char Hex[] = "0123456789abcdef";
    const QByteArray Valid = QString::fromUtf8(Utf8).toUtf8();
    QByteArray Out;
    Out.reserve(Valid.size() + 2);
    Out += '"';
    for (const char C : Valid) {
        const auto Byte = uchar(C);
        if (C == '"' || C == '\\') {
            Out += '\\';
            Out += C;
        } else if (Byte < 0x20) {
            Out += "\\u00";
            Out += Hex[Byte >> 4];
            Out += Hex[Byte & 15];
        } else {
            Out += C;
        }
    }
    Out += '"';
    return Out;
}

QByteArray JsonPage(qsizetype Count, const std::function<QByteArray(qsizetype)> &Row) {
    QByteArray Out = "[";
    qsizetype Rows = 0;
    for (; Rows < std::min(Count, PageRows); ++Rows) {
        const QByteArray Next = Row(Rows);
        if (Rows > 0 && Out.size() + Next.size() + 2 > PageBytes)
            break;
        if (Rows > 0)
            Out += ',';
        Out += Next;
    }
    return Out + ']';
}

QByteArray ListPageJson(const QByteArrayList &List, qint64 Version, qsizetype From, qsizetype Count,
                        const QByteArray *Mark,
                        const std::function<QString(const QByteArray &)> &CaptionOf) {
    From = std::clamp<qsizetype>(From, 0, List.size());
    QByteArray Out =
        "{\"count\":" + QByteArray::number(List.size()) + ",\"from\":" + QByteArray::number(From) +
        ",\"items\":" + JsonPage(std::min(Count, List.size() - From), [&](qsizetype I) {
            const QByteArray &Location = List[From + I];
            const QString Caption = CaptionOf ? CaptionOf(Location) : QString();
            return Caption.isEmpty()
                       ? JsonText(Location)
                       : '[' + JsonText(Location) + ',' + JsonText(Caption.toUtf8()) + ']';
        });
    if (Mark)
        Out += ",\"mark\":" + JsonText(*Mark) +
               ",\"markRow\":" + QByteArray::number(Mark->isEmpty() ? -1 : List.indexOf(*Mark));
    return Out + ",\"version\":" + QByteArray::number(Version) + '}';
}
