#include "SpeakerName.h"

#include <QList>

#include <utility>

bool IsHiddenMark(char32_t C) {
    // The zero-width joiner stays: emoji sequences need it.
    return C < 0x20 || (C >= 0x7F && C <= 0x9F) || C == 0x061C || C == 0x180E || C == 0x200B ||
           C == 0x200C || C == 0x200E || C == 0x200F || (C >= 0x2028 && C <= 0x202E) ||
           (C >= 0x2060 && C <= 0x2064) || (C >= 0x2066 && C <= 0x2069) || C == 0xFEFF ||
           (C >= 0xFFF9 && C <= 0xFFFB);
}

QString CleanSpeakerName(const QString &Name) {
    QString Out;
    int Chars = 0;
    bool Blank = false;
    for (const char32_t C : Name.toUcs4()) {
        // A tab or a line break between words still parts them.
        if (C == '\t' || C == '\n' || C == '\r' || C == 0x2028 || C == 0x2029 ||
            QChar::isSpace(C)) {
            Blank = !Out.isEmpty();
            continue;
        }
        if (IsHiddenMark(C))
            continue;
        if (Chars + (Blank ? 2 : 1) > MaxSpeakerNameChars)
            break;
        if (std::exchange(Blank, false)) {
            Out.append(u' ');
            ++Chars;
        }
        Out.append(QString::fromUcs4(&C, 1));
        ++Chars;
    }
    return Out;
}

QString CleanSpeakerName(const QByteArray &Utf8) {
    return CleanSpeakerName(QString::fromUtf8(Utf8));
}
