#include "Utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

struct TAudioFileType {
    const char *Description;
    const char *Patterns;
};

constexpr TAudioFileType AudioFileTypes[] = {
    {"Win Media file(asf)", "*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz"},
    {"Win Media audio file(wma)", "*.wma;*.wax"},
    {"Win audio file(wav)", "*.wav"},
    {"MP3 audio file(mp3)", "*.mp3;*.m3u"},
    {"MIDI file(midi)", "*.mid;*.midi;*.rmi"},
    {"AIFF audio file(aiff)", "*.aif;*.aifc;*.aiff"},
    {"Au audio file(au)", "*.au;*.snd"},
};

QByteArray AllPatterns() {
    QByteArray List;
    for (const TAudioFileType &Type : AudioFileTypes) {
        if (!List.isEmpty())
            List += ';';
        List += Type.Patterns;
    }
    return List;
}

QByteArray BuildAudioFileFilter() {
    QByteArray Filter = "All audio file|" + AllPatterns();
    for (const TAudioFileType &Type : AudioFileTypes)
        Filter += QByteArray("|") + Type.Description + " (" + Type.Patterns + ")|" + Type.Patterns;
    return Filter;
}

// Built once on first use, so that the type test works before LoadSettings.
const QByteArray &UpperExtensionList() {
    static const QByteArray List = AsciiUpper(AllPatterns());
    return List;
}

} // namespace

QString AppVersion;
QString SkinDir;
QString HelpFileName;
QString IniFileName;
QString LibraryFileName;
qint32 WindowHeight = 0;
qint32 WindowWidth = 0;
qint32 WindowTop = 0;
qint32 WindowLeft = 0;
qint32 PopHitCount = 0;
qint32 CommandPort = 0;
QString SkinName;
bool HeadlessAllow = true;
QByteArray LocalHostName;
QByteArray AudioExtensionList = UpperExtensionList();
QByteArray AudioFileFilter = BuildAudioFileFilter();

bool AllowOthers = true;
QByteArray LocalIP = "127.0.0.1";

namespace {

char UpperChar(char C) {
    return (C >= 'a' && C <= 'z') ? char(C - 'a' + 'A') : C;
}
char LowerChar(char C) {
    return (C >= 'A' && C <= 'Z') ? char(C - 'A' + 'a') : C;
}
bool IsBlankOrControl(char C) {
    return static_cast<unsigned char>(C) <= ' ';
}

int HexValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    C = UpperChar(C);
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

// Text from the last "." after the last "/", "\\" or ":", dot included; empty when none.
QByteArray FileExtension(const QByteArray &Name) {
    const qsizetype Sep =
        std::max(Name.lastIndexOf('/'), std::max(Name.lastIndexOf('\\'), Name.lastIndexOf(':')));
    const qsizetype Dot = Name.lastIndexOf('.');
    if (Dot < 0 || Dot < Sep)
        return {};
    return Name.mid(Dot);
}

// The executable's file name without its last extension (vxPlayer for vxPlayer).
QString ExecutableBaseName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

// Escapes for a .desktop string value.
QByteArray DesktopValue(const QString &Value) {
    QByteArray Out;
    for (char C : Value.toUtf8()) {
        switch (C) {
        case '\\':
            Out += "\\\\";
            break;
        case '\n':
            Out += "\\n";
            break;
        case '\r':
            Out += "\\r";
            break;
        case '\t':
            Out += "\\t";
            break;
        default:
            Out += C;
        }
    }
    return Out;
}

// One quoted argument of a .desktop Exec line.
QString ExecArgument(const QString &Arg) {
    QString Out = QStringLiteral("\"");
    for (QChar C : Arg) {
        if (C == u'"' || C == u'`' || C == u'$' || C == u'\\')
            Out += u'\\';
        if (C == u'%')
            Out += u'%';
        Out += C;
    }
    return Out + u'"';
}

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

// Profile files ignore the case of section and key names (ASCII letters only); the first
// entry of the first section of that name counts, as Windows reads them.
std::optional<QByteArray> IniValue(const QByteArrayList &Lines, const QByteArray &Section,
                                   const QByteArray &Key) {
    bool InSection = false, SeenSection = false;
    for (const QByteArray &Line : Lines) {
        const TIniLine L = ParseIniLine(Line);
        if (L.IsSection) {
            if (SeenSection)
                return std::nullopt;
            InSection = !L.Name.isEmpty() && SameTextAscii(L.Name, Section);
            SeenSection = InSection;
        } else if (InSection && L.IsEntry && SameTextAscii(L.Name, Key)) {
            return L.Value;
        }
    }
    return std::nullopt;
}

// Sets Key=Value in Section: replaces the key's lines, else adds the key after the
// section's last entry, else appends the section.
void SetIniLine(QByteArrayList &Lines, const QByteArray &Section, const QByteArray &Key,
                const QByteArray &Value) {
    const QByteArray Entry = Key + '=' + Value;
    const QByteArray Header = '[' + Section + ']';
    bool InSection = false, Found = false;
    int SectionsSeen = 0;
    qsizetype InsertAt = -1;
    for (qsizetype I = 0; I < Lines.size(); ++I) {
        const TIniLine L = ParseIniLine(Lines[I]);
        if (L.IsSection) {
            InSection = !L.Name.isEmpty() && SameTextAscii(L.Name, Section);
            if (InSection && ++SectionsSeen == 1)
                InsertAt = I + 1;
            continue;
        }
        if (!InSection)
            continue;
        if (L.IsEntry && SameTextAscii(L.Name, Key)) {
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
    Lines.append(Header);
    Lines.append(Entry);
}

} // namespace

QByteArray AsciiUpper(QByteArray S) {
    for (char &C : S)
        C = UpperChar(C);
    return S;
}

QByteArray AsciiLower(QByteArray S) {
    for (char &C : S)
        C = LowerChar(C);
    return S;
}

bool SameTextAscii(const QByteArray &A, const QByteArray &B) {
    if (A.size() != B.size())
        return false;
    for (qsizetype I = 0; I < A.size(); ++I)
        if (UpperChar(A[I]) != UpperChar(B[I]))
            return false;
    return true;
}

bool StartsWithAscii(const QByteArray &S, const QByteArray &Prefix) {
    return S.size() >= Prefix.size() && SameTextAscii(S.left(Prefix.size()), Prefix);
}

QByteArray TrimBlanks(const QByteArray &S) {
    qsizetype B = 0, E = S.size();
    while (B < E && IsBlankOrControl(S[B]))
        ++B;
    while (E > B && IsBlankOrControl(S[E - 1]))
        --E;
    return S.mid(B, E - B);
}

QByteArrayList SplitLines(const QByteArray &Text) {
    QByteArrayList Lines;
    qsizetype Start = 0;
    const qsizetype N = Text.size();
    for (qsizetype I = 0; I < N; ++I) {
        const char C = Text[I];
        if (C != '\r' && C != '\n')
            continue;
        Lines.append(Text.mid(Start, I - Start));
        if (C == '\r' && I + 1 < N && Text[I + 1] == '\n')
            ++I;
        Start = I + 1;
    }
    if (Start < N)
        Lines.append(Text.mid(Start));
    return Lines;
}

QByteArray JoinLines(const QByteArrayList &Lines) {
    qsizetype Size = 0;
    for (const QByteArray &Line : Lines)
        Size += Line.size() + 2;
    QByteArray Out;
    Out.reserve(Size);
    for (const QByteArray &Line : Lines) {
        Out += Line;
        Out += "\r\n";
    }
    return Out;
}

QByteArray PercentDecode(const QByteArray &S) {
    QByteArray Out;
    Out.reserve(S.size());
    for (qsizetype I = 0; I < S.size(); ++I) {
        if (S[I] != '%') {
            Out.append(S[I]);
            continue;
        }
        const int Hi = I + 1 < S.size() ? HexValue(S[I + 1]) : -1;
        const int Lo = I + 2 < S.size() ? HexValue(S[I + 2]) : -1;
        if (Hi >= 0 && Lo >= 0)
            Out.append(char(Hi * 16 + Lo));
        I += 2; // an invalid escape is dropped with the two characters after "%"
    }
    return Out;
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

bool IsAcceptedAudioName(const QByteArray &Name) {
    const QByteArray Ext = AsciiUpper(FileExtension(Name));
    return !Ext.isEmpty() && UpperExtensionList().contains(Ext);
}

QString QtFileFilter(const QByteArray &Filter) {
    const QByteArrayList Parts = Filter.split('|');
    QStringList Out;
    for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
        QByteArray Description = Parts[I];
        QByteArray Patterns = Parts[I + 1];
        const QByteArray Shown = '(' + Patterns + ')';
        if (Description.endsWith(Shown))
            Description.chop(Shown.size());
        Patterns.replace(';', ' ');
        Out += QString::fromUtf8(Description.trimmed() + " (" + Patterns + ')');
    }
    return Out.join(QStringLiteral(";;"));
}

int AddUniqueString(const QByteArray &S, QByteArrayList &List) {
    if (TrimBlanks(S).isEmpty())
        return -1;
    for (const QByteArray &Entry : List)
        if (SameTextAscii(Entry, S))
            return -1;
    List.append(S);
    return int(List.size() - 1);
}

quint32 IPv4Value(const QString &Host) {
    const QByteArray Text = Host.toLatin1();
    in_addr Address{};
    // inet_aton takes every dotted form a user may type ("127.1", "0x7f.1") and says
    // when it fails.
    if (Host.isEmpty() || Text.contains('\0') || inet_aton(Text.constData(), &Address) == 0)
        return 0xFFFFFFFFu;
    return ntohl(Address.s_addr);
}

bool IsValidComputerName(const QByteArray &Name) {
    static const QByteArray Refused = "`~!@#$^&*(){}\\|;:'\"<>/? ";
    if (Name.size() > 260)
        return false;
    for (char C : Refused)
        if (Name.contains(C))
            return false;
    return true;
}

QByteArray DocumentName(const QByteArray &URL) {
    if (!QUrl(QString::fromUtf8(URL), QUrl::TolerantMode).isValid())
        return {};
    // Cut the raw text, so that nothing is decoded or re-encoded on the way.
    const qsizetype Scheme = URL.indexOf("://");
    const qsizetype HostStart = Scheme < 0 ? 0 : Scheme + 3;
    qsizetype End = URL.size();
    for (char C : {'?', '#'}) {
        const qsizetype At = URL.indexOf(C, HostStart);
        if (At >= 0 && At < End)
            End = At;
    }
    const qsizetype PathStart = URL.indexOf('/', HostStart);
    if (PathStart < 0 || PathStart >= End)
        return {};
    const QByteArray Path = URL.mid(PathStart, End - PathStart);
    return Path.mid(Path.lastIndexOf('/') + 1);
}

QString FileError(const char *What, const QString &Path, const QString &Reason) {
    return QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(What), Path, Reason);
}

QByteArray FileNamePart(const QByteArray &Path) {
    return Path.mid(Path.lastIndexOf('/') + 1);
}

bool TUtils::SameNameIgnoringSpaces(const QByteArray &A, const QByteArray &B) {
    QByteArray X = A, Y = B;
    X.replace(' ', QByteArray());
    Y.replace(' ', QByteArray());
    return AsciiLower(X) == AsciiLower(Y);
}

QString TUtils::GetWebSiteURL() {
    return QStringLiteral("http://vellox-player.example.org/");
}

QString GetAppDataFolder(const QString &Maker, const QString &Product) {
    const QString Dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        u'/' + Maker + u'/' + Product;
    QDir().mkpath(Dir); // a failure shows later, when the library cannot be saved
    return Dir;
}

QByteArray GetLocalHostName() {
    return QHostInfo::localHostName().toUtf8();
}

QString ResourceDir(const QString &ExeDir) {
    if (QFileInfo(ExeDir + QStringLiteral("/skin")).isDir())
        return ExeDir;
    const QString Shared = QDir::cleanPath(ExeDir + QStringLiteral("/../share/vellox-player"));
    return QFileInfo(Shared).isDir() ? Shared : ExeDir;
}

void LoadSettings() {
    AppVersion = QStringLiteral(VX_APP_VERSION);
    const QFileInfo Exe(QCoreApplication::applicationFilePath());
    const QString AppDir = Exe.absolutePath();
    const QString Resources = ResourceDir(AppDir);
    SkinDir = Resources + QStringLiteral("/skin");
    const QString AppDataDir =
        GetAppDataFolder(QStringLiteral("Marvane"), QStringLiteral("Vellox Player"));
    HelpFileName = Resources + u'/' + ExecutableBaseName() + QStringLiteral(".html");
    IniFileName = AppDataDir + u'/' + ExecutableBaseName() + QStringLiteral(".ini");
    LibraryFileName = AppDataDir + QStringLiteral("/MusicLibrary.txt");

    WindowHeight = WindowWidth = WindowTop = WindowLeft = PopHitCount = 0;
    CommandPort = 37400;
    SkinName = QStringLiteral("vxPlayer");
    HeadlessAllow = true;
    // Reading never creates the file; an unreadable one leaves the defaults.
    if (QFile In(IniFileName); In.open(QIODevice::ReadOnly)) {
        const QByteArrayList Ini = SplitLines(In.readAll());
        const auto Integer = [&Ini](const char *Section, const char *Key, qint32 Default) {
            return ParseIniInteger(IniValue(Ini, Section, Key).value_or(QByteArray()), Default);
        };
        WindowHeight = Integer("Window", "Height", 0);
        WindowWidth = Integer("Window", "Width", 0);
        WindowTop = Integer("Window", "Top", 0);
        WindowLeft = Integer("Window", "Left", 0);
        PopHitCount = Integer("Window", "PopHitCount", 0);
        CommandPort = Integer("Server", "Port", 37400);
        HeadlessAllow = Integer("Server", "HeadlessAllow", 1) != 0;
        if (const auto Skin = IniValue(Ini, "Skin", "Name"))
            SkinName = QString::fromUtf8(*Skin);
    }

    LocalHostName = GetLocalHostName();
    AudioFileFilter = BuildAudioFileFilter();
    AudioExtensionList = UpperExtensionList();
}

void CreateShortcut(const QString &Target, const QString &Arguments, const QString &LinkFile,
                    const QString &Description) {
    if (AsciiUpper(FileExtension(LinkFile.toUtf8())) != ".DESKTOP")
        throw std::runtime_error("Ext need .desktop");
    QString Exec = ExecArgument(Target);
    if (!Arguments.isEmpty())
        Exec += u' ' + Arguments;
    const QByteArray Text = "[Desktop Entry]\nType=Application\nName=" + DesktopValue(Description) +
                            "\nExec=" + DesktopValue(Exec) +
                            // Desktops skip the entry once the program has been removed.
                            "\nTryExec=" + DesktopValue(Target) +
                            "\nPath=" + DesktopValue(QFileInfo(Target).absolutePath()) +
                            "\nX-GNOME-Autostart-enabled=true\n";
    QSaveFile File(LinkFile);
    if (File.open(QIODevice::WriteOnly)) {
        File.write(Text);
        File.commit(); // a failure shows as IsAutoRun() staying false
    }
}

QString AutoRunFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + ExecutableBaseName() + QStringLiteral(".desktop");
}

bool SetAutoRun(bool Enable) {
    const QString Link = AutoRunFileName();
    if (Enable) {
        QDir().mkpath(QFileInfo(Link).absolutePath());
        CreateShortcut(QCoreApplication::applicationFilePath(), QString(), Link,
                       QStringLiteral("Vellox Player"));
    } else {
        QFile::remove(Link);
    }
    return true;
}

bool IsAutoRun() {
    return QFileInfo::exists(AutoRunFileName());
}

bool WriteIniValues(const QString &IniFile, const QList<QPair<QString, qint32>> &Values) {
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
    const QByteArray Eol = Old.contains("\r\n") ? "\r\n" : "\n";
    QByteArrayList Lines = SplitLines(Old);
    for (const auto &[Path, Value] : Values) {
        const qsizetype Slash = Path.indexOf(u'/');
        const QString Section = Slash < 0 ? QStringLiteral("General") : Path.left(Slash);
        SetIniLine(Lines, Section.toUtf8(), Path.mid(Slash + 1).toUtf8(),
                   QByteArray::number(Value));
    }
    QSaveFile Out(IniFile);
    if (!Out.open(QIODevice::WriteOnly))
        return false;
    Out.write(Lines.join(Eol) + Eol);
    return Out.commit();
}
