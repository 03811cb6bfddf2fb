#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QPair>
#include <QString>

// Program-wide setting values, fixed by LoadSettings() at start-up.
extern QString AppVersion;
extern QString SkinDir;
extern QString HelpFileName;
extern QString IniFileName;
extern QString LibraryFileName;
extern qint32 WindowHeight;
extern qint32 WindowWidth;
extern qint32 WindowTop;
extern qint32 WindowLeft;
extern qint32 PopHitCount;
extern qint32 CommandPort;
extern QString SkinName;
// Whether other people may play on a speaker without a screen (Server/HeadlessAllow).
extern bool HeadlessAllow;
extern QByteArray LocalHostName;
extern QByteArray AudioExtensionList;
extern QByteArray AudioFileFilter;

// Maintained elsewhere: whether other people may play here, and this computer's
// address for track URLs.
extern bool AllowOthers;
extern QByteArray LocalIP;

// Fills every setting value: paths, INI values, host name, audio type table.
void LoadSettings();

// The folder holding skin/ and the help page for a program in ExeDir: ExeDir itself
// when skin/ is there (a build folder), else ExeDir/../share/vellox-player when that
// exists (an installed copy), else ExeDir.
QString ResourceDir(const QString &ExeDir);

// Integer rule of the INI file: decimal, "0x"/"$" hexadecimal, else Default.
qint32 ParseIniInteger(const QByteArray &Text, qint32 Default);

// ASCII-only case folding: only the letters a-z / A-Z change.
QByteArray AsciiUpper(QByteArray S);
QByteArray AsciiLower(QByteArray S);
bool SameTextAscii(const QByteArray &A, const QByteArray &B);
bool StartsWithAscii(const QByteArray &S, const QByteArray &Prefix);

// Splits at CR LF, lone CR or lone LF; a final line break adds no empty line,
// an empty text gives no lines.
QByteArrayList SplitLines(const QByteArray &Text);
// Lines joined into one text, each followed by CR LF.
QByteArray JoinLines(const QByteArrayList &Lines);

// "%" + two hex digits becomes that byte; "%" with anything else is dropped
// together with the two characters after it; "+" stays "+".
QByteArray PercentDecode(const QByteArray &S);

// The text shown when a file cannot be read or written: What ("Cannot open file",
// "Cannot create file"), the file name and the system's reason.
QString FileError(const char *What, const QString &Path, const QString &Reason);

// Leading and trailing blanks and control characters removed.
QByteArray TrimBlanks(const QByteArray &S);

// The audio filter ("Description|patterns|...") as a QFileDialog name filter
// ("Description (*.a *.b);;...").
QString QtFileFilter(const QByteArray &Filter);

// Whether Name's extension is one of the accepted audio types (substring test).
// Works before LoadSettings too.
bool IsAcceptedAudioName(const QByteArray &Name);

// Appends S unless blank or already present (ASCII case ignored); new index or -1.
int AddUniqueString(const QByteArray &S, QByteArrayList &List);

// Whether Name has none of the refused characters and at most 260 characters.
bool IsValidComputerName(const QByteArray &Name);

// The IPv4 value of a host text that is an address ("192.168.1.20", also the short forms the
// socket layer reaches, such as "127.1"); all bits set for a name.
quint32 IPv4Value(const QString &Host);

// Last segment of an http URL's path, without query/fragment, not decoded.
QByteArray DocumentName(const QByteArray &URL);

// The file-name part of a local path: text after the last "/".
QByteArray FileNamePart(const QByteArray &Path);

// User's application-data folder + Maker + Product, created when missing.
QString GetAppDataFolder(const QString &Maker, const QString &Product);

QByteArray GetLocalHostName();

// Writes a freedesktop .desktop entry; throws std::runtime_error("Ext need .desktop")
// for another extension.
void CreateShortcut(const QString &Target, const QString &Arguments, const QString &LinkFile,
                    const QString &Description);
// Creates or deletes the autostart entry; always true.
bool SetAutoRun(bool Enable);
bool IsAutoRun();
// The autostart entry's path.
QString AutoRunFileName();

// Writes "Section/Key" integer values into an INI file in one atomic replace,
// keeping every other line; false when the file could not be read or written.
bool WriteIniValues(const QString &IniFile, const QList<QPair<QString, qint32>> &Values);

class TUtils {
public:
    static bool SameNameIgnoringSpaces(const QByteArray &A, const QByteArray &B);
    static QString GetWebSiteURL();
};
