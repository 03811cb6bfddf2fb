#include "IniFile.h"

#include "AsciiText.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {

// The parts of one profile-file line.
struct TIniLine {
    bool IsSection = false;
    QByteArray Name;  // section name, or key (trimmed)
    QByteArray Value; // key's value (trimmed); empty for sections
    bool IsEntry = false;
};

TIniLine ParseIniLine(const QByteArray &Line) {
    const QByteArray T = Line.trimmed();
    TIniLine Out;
    if (T.startsWith('[')) {
        Out.IsSection = true;
        // A header without its "]" names no section: nothing in it matches.
        if (T.endsWith(']'))
            Out.Name = T.mid(1, T.size() - 2);
        return Out;
    }
    const qsizetype Eq = T.indexOf('=');
    if (Eq > 0 && !T.startsWith(';')) {
        Out.IsEntry = true;
        Out.Name = T.left(Eq).trimmed();
        Out.Value = T.mid(Eq + 1).trimmed();
    }
    return Out;
}

} // namespace

std::optional<QByteArray> IniValue(const QByteArrayList &Lines, TIniKey Key) {
    bool InSection = false, SeenSection = false;
    for (const QByteArray &Line : Lines) {
        const TIniLine L = ParseIniLine(Line);
        if (L.IsSection) {
            if (SeenSection)
                return std::nullopt;
            InSection = !L.Name.isEmpty() && SameTextAscii(L.Name, Key.Section);
            SeenSection = InSection;
        } else if (InSection && L.IsEntry && SameTextAscii(L.Name, Key.Name)) {
            return L.Value;
        }
    }
    return std::nullopt;
}

void SetIniLine(QByteArrayList &Lines, TIniKey Key, const QByteArray &Value) {
    const QByteArray Entry = QByteArray(Key.Name) + '=' + Value;
    bool InSection = false, Found = false;
    int SectionsSeen = 0;
    qsizetype InsertAt = -1;
    for (qsizetype I = 0; I < Lines.size(); ++I) {
        const TIniLine L = ParseIniLine(Lines[I]);
        if (L.IsSection) {
            InSection = !L.Name.isEmpty() && SameTextAscii(L.Name, Key.Section);
            if (InSection && ++SectionsSeen == 1)
                InsertAt = I + 1;
            continue;
        }
        if (!InSection)
            continue;
        if (L.IsEntry && SameTextAscii(L.Name, Key.Name)) {
            Lines[I] = Entry;
            Found = true;
        } else if (SectionsSeen == 1 && !Lines[I].trimmed().isEmpty() &&
                   !Lines[I].trimmed().startsWith(';')) {
            InsertAt = I + 1;
        }
    }
    if (Found)
        return;
    if (InsertAt >= 0) {
        Lines.insert(InsertAt, Entry);
        return;
    }
    if (!Lines.isEmpty() && !Lines.last().trimmed().isEmpty())
        Lines.append(QByteArray());
    Lines.append('[' + QByteArray(Key.Section) + ']');
    Lines.append(Entry);
}

qint32 ParseIniInteger(const QByteArray &Text, qint32 Default) {
    const QByteArray T = Text.trimmed();
    bool Ok = false;
    if (T.startsWith("0x") || T.startsWith("0X") || T.startsWith('$')) {
        // Hexadecimal is read as 32 bits, so $FFFFFFFF is -1.
        const QByteArray Digits = T.mid(T.startsWith('$') ? 1 : 2);
        // toUInt alone would also take a sign, blanks or a second "0x".
        if (!std::all_of(Digits.begin(), Digits.end(), [](char C) { return HexValue(C) >= 0; }))
            return Default;
        const quint32 V = Digits.toUInt(&Ok, 16);
        return Ok ? static_cast<qint32>(V) : Default;
    }
    const qint32 V = T.toInt(&Ok, 10);
    return Ok ? V : Default;
}

qint32 IniInteger(const QByteArrayList &Lines, TIniKey Key, qint32 Default) {
    return ParseIniInteger(IniValue(Lines, Key).value_or(QByteArray()), Default);
}

bool WriteIniTexts(const QString &IniFile, const QList<std::pair<TIniKey, QByteArray>> &Values) {
    QByteArray Old;
    QFile In(IniFile);
    if (In.exists()) {
        // Never replace a file that could not be read: its other keys would be lost.
        if (!In.open(QIODevice::ReadOnly))
            return false;
        Old = In.readAll();
        if (In.error() != QFileDevice::NoError)
            return false;
        In.close();
    }
    // The program's text files end lines with CR LF; a file edited to LF ends keeps them.
    const QByteArray Eol = Old.contains('\n') && !Old.contains("\r\n") ? "\n" : "\r\n";
    QByteArrayList Lines = SplitLines(Old);
    for (const auto &[Key, Value] : Values)
        SetIniLine(Lines, Key, Value);
    QSaveFile Out(IniFile);
    if (!Out.open(QIODevice::WriteOnly))
        return false;
    Out.write(Lines.join(Eol) + Eol);
    return Out.commit();
}

bool WriteIniValues(const QString &IniFile, const QList<TIniInteger> &Values) {
    QList<std::pair<TIniKey, QByteArray>> Texts;
    for (const TIniInteger &Value : Values)
        Texts.append({Value.Key, QByteArray::number(Value.Value)});
    return WriteIniTexts(IniFile, Texts);
}

bool WriteIniText(const QString &IniFile, TIniKey Key, const QByteArray &Value) {
    QByteArray Line = Value;
    Line.replace('\r', ' ').replace('\n', ' ');
    return WriteIniTexts(IniFile, {{Key, Line.trimmed()}});
}
