#pragma once

#include "IniFile.h"

#include <QByteArray>
#include <QString>

// The keys of the settings file, each spelled here only.
namespace SettingsKey {
inline constexpr char WindowSection[] = "Window";
inline constexpr TIniKey WindowHeight{WindowSection, "Height"};
inline constexpr TIniKey WindowWidth{WindowSection, "Width"};
inline constexpr TIniKey WindowTop{WindowSection, "Top"};
inline constexpr TIniKey WindowLeft{WindowSection, "Left"};
inline constexpr TIniKey PopHitCount{WindowSection, "PopHitCount"};
// The library page's hidden columns, one bit per column from the first.
inline constexpr TIniKey LibraryHiddenColumns{WindowSection, "LibraryHiddenColumns"};
// Read only: the program never writes these two.
inline constexpr TIniKey CommandPort{"Server", "Port"};
inline constexpr TIniKey SkinName{"Skin", "Name"};
inline constexpr TIniKey HeadlessAllow{"Server", "HeadlessAllow"};
inline constexpr TIniKey WebRemote{"Server", "WebRemote"};
inline constexpr TIniKey MpvOptions{"Speaker", "MpvOptions"};
// "embedded" (the default) or "folder": which cover wins when a track has both.
inline constexpr TIniKey CoverSource{"Library", "CoverSource"};
// The library folders kept in step, separated by ";".
inline constexpr TIniKey LibraryFolders{"Library", "Folders"};
// The library page's column widths in pixels, separated by ",", the first column's first.
inline constexpr TIniKey LibraryColumnWidths{"Window", "LibraryColumnWidths"};
inline constexpr TIniKey LatencyMs{"Speaker", "LatencyMs"};
inline constexpr TIniKey AudioDevice{"Speaker", "AudioDevice"};
inline constexpr TIniKey SpeakerName{"Speaker", "Name"};
// ReplayGain: Off, Track or Album; pre-amp and untagged files' gain in dB; 1: no clipping.
inline constexpr TIniKey ReplayGain{"Speaker", "ReplayGain"};
inline constexpr TIniKey ReplayGainPreamp{"Speaker", "ReplayGainPreamp"};
inline constexpr TIniKey ReplayGainClip{"Speaker", "ReplayGainPreventClipping"};
inline constexpr TIniKey ReplayGainFallback{"Speaker", "ReplayGainFallback"};
} // namespace SettingsKey

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
extern qint32 LibraryHiddenColumns;
extern qint32 CommandPort;
extern QString SkinName;
// Whether other people may play on a speaker without a screen.
extern bool HeadlessAllow;
// Whether the media server also serves the phone remote page and its API.
extern bool WebRemoteEnabled;
extern QByteArray LocalHostName;
// Options for the speaker's mpv, "key=value,key=value", as the settings file has them.
extern QByteArray MpvOptionsText;
// A folder's cover image wins over a track's embedded picture.
extern bool FolderCoverFirst;
// [Library] Folders as the file has it.
extern QByteArray LibraryFoldersText;
// [Window] LibraryColumnWidths as the file has it.
extern QByteArray LibraryColumnWidthsText;

// Fills every setting value: paths, INI values, host name.
void LoadSettings();

// The main window's size and position as the settings file keeps them.
struct TWindowPlacement {
    qint32 Height = 0, Width = 0, Top = 0, Left = 0;
};
// Writes at close: each value of Now that differs from Start, and PopHitCount. False
// when the file could not be written.
bool SaveSettings(const TWindowPlacement &Start, const TWindowPlacement &Now);

// The folder holding skin/ and the help page for a program in ExeDir: ExeDir itself
// when skin/ is there (a build folder), else ExeDir/../share/vellox-player when that
// exists (an installed copy), else ExeDir.
QString ResourceDir(const QString &ExeDir);

// The executable's file name without its last extension.
QString ExecutableBaseName();

// User's application-data folder + Maker + Product, created when missing.
QString GetAppDataFolder(const QString &Maker, const QString &Product);

QByteArray GetLocalHostName();

// The product's web-site address.
QString GetWebSiteURL();
