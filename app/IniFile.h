#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// A key of an INI file and the section it belongs to.
struct TIniKey {
    const char *Section;
    const char *Name;
};

// One integer to write under a key.
struct TIniInteger {
    TIniKey Key;
    qint32 Value;
};

// The value of Key in the lines of an INI file. Section and key names ignore ASCII case;
// the first entry of the first section of that name counts, as Windows reads them.
std::optional<QByteArray> IniValue(const QByteArrayList &Lines, TIniKey Key);

// Sets Key to Value: replaces the key's lines, else adds the key after the section's
// last entry, else appends the section.
void SetIniLine(QByteArrayList &Lines, TIniKey Key, const QByteArray &Value);

// Integer rule of the INI file: decimal, "0x"/"$" hexadecimal, else Default.
qint32 ParseIniInteger(const QByteArray &Text, qint32 Default);

// ParseIniInteger of Key's value; Default when the key is missing.
qint32 IniInteger(const QByteArrayList &Lines, TIniKey Key, qint32 Default);

// Writes integer values into an INI file in one atomic replace, keeping every other
// line; false when the file could not be read or written.
bool WriteIniValues(const QString &IniFile, const QList<TIniInteger> &Values);
// The same for one text value (kept on one line).
bool WriteIniText(const QString &IniFile, TIniKey Key, const QByteArray &Value);
// Sets each key to its text in one atomic replace of the file, keeping every other line.
bool WriteIniTexts(const QString &IniFile, const QList<std::pair<TIniKey, QByteArray>> &Values);
