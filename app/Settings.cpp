#include "Settings.h"

#include "AsciiText.h"
#include "SpeakerSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QStandardPaths>

#include <algorithm>

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
qint32 LibraryHiddenColumns = 0;
QByteArray LibraryFoldersText;
QByteArray LibraryColumnWidthsText;
qint32 CommandPort = 0;
QString SkinName;
bool HeadlessAllow = true;
bool WebRemoteEnabled = true;
QByteArray LocalHostName;
QByteArray MpvOptionsText;
bool FolderCoverFirst = false;

QString ExecutableBaseName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString GetWebSiteURL() {
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
    LibraryHiddenColumns = 0;
    CommandPort = 37400;
    SkinName = QStringLiteral("vxPlayer");
    HeadlessAllow = true;
    WebRemoteEnabled = true;
    MpvOptionsText.clear();
    FolderCoverFirst = false;
    LibraryFoldersText.clear();
    LibraryColumnWidthsText.clear();
    SpeakerSettings().Load({});
    // Reading never creates the file; an unreadable one leaves the defaults.
    if (QFile In(IniFileName); In.open(QIODevice::ReadOnly)) {
        const QByteArrayList Ini = SplitLines(In.readAll());
        WindowHeight = IniInteger(Ini, SettingsKey::WindowHeight, 0);
        WindowWidth = IniInteger(Ini, SettingsKey::WindowWidth, 0);
        WindowTop = IniInteger(Ini, SettingsKey::WindowTop, 0);
        WindowLeft = IniInteger(Ini, SettingsKey::WindowLeft, 0);
        PopHitCount = IniInteger(Ini, SettingsKey::PopHitCount, 0);
        LibraryHiddenColumns = IniInteger(Ini, SettingsKey::LibraryHiddenColumns, 0);
        CommandPort = IniInteger(Ini, SettingsKey::CommandPort, CommandPort);
        HeadlessAllow = IniInteger(Ini, SettingsKey::HeadlessAllow, 1) != 0;
        WebRemoteEnabled = IniInteger(Ini, SettingsKey::WebRemote, 1) != 0;
        if (const auto Skin = IniValue(Ini, SettingsKey::SkinName))
            SkinName = QString::fromUtf8(*Skin);
        MpvOptionsText = IniValue(Ini, SettingsKey::MpvOptions).value_or(QByteArray());
        FolderCoverFirst = SameTextAscii(
            TrimBlanks(IniValue(Ini, SettingsKey::CoverSource).value_or(QByteArray())), "folder");
        SpeakerSettings().Load(Ini);
        LibraryFoldersText = IniValue(Ini, SettingsKey::LibraryFolders).value_or(QByteArray());
        LibraryColumnWidthsText =
            IniValue(Ini, SettingsKey::LibraryColumnWidths).value_or(QByteArray());
    }

    LocalHostName = GetLocalHostName();
}

bool SaveSettings(const TWindowPlacement &Start, const TWindowPlacement &Now) {
    QList<TIniInteger> Values;
    if (Now.Height != Start.Height)
        Values.append({SettingsKey::WindowHeight, Now.Height});
    if (Now.Width != Start.Width)
        Values.append({SettingsKey::WindowWidth, Now.Width});
    if (Now.Top != Start.Top)
        Values.append({SettingsKey::WindowTop, Now.Top});
    if (Now.Left != Start.Left)
        Values.append({SettingsKey::WindowLeft, Now.Left});
    Values.append({SettingsKey::PopHitCount, PopHitCount});
    return WriteIniValues(IniFileName, Values);
}
