#include "MpvOptions.h"

#include "AsciiText.h"
#include "Settings.h"

#include <QDebug>

#include <algorithm>

namespace {

// Longer texts are nobody's options.
constexpr qsizetype MaxText = 4096;

// Families of options that would load files, scripts, inputs or play lists, write files,
// or set the lavf protocol list, and the volume, which the component sets itself: a prefix
// ending in '-' covers the whole family.
constexpr const char *RefusedKeys[] = {
    "volume",
    "include",
    "config-dir",
    "use-filedir-conf",
    "script",
    "scripts",
    "script-",
    "lua-",
    "js-",
    "input-",
    "ytdl-",
    "load-",
    "demuxer-lavf-o",
    "stream-lavf-o",
    "playlist",
    "playlist-",
    "log-file",
    "dump-stats",
    "watch-later-",
    "o",
    "stream-record",
    "record-file",
    "save-position-on-quit",
};

// How mpv also spells a key: "no-" before a flag, an action after a list option.
constexpr const char *ListActions[] = {"-add", "-append", "-pre",    "-set",
                                       "-clr", "-del",    "-remove", "-toggle"};

bool IsKeyText(const QByteArray &Key) {
    return !Key.isEmpty() && Key.front() != '-' && std::all_of(Key.begin(), Key.end(), [](char C) {
        return (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-';
    });
}

bool IsValueText(const QByteArray &Value) {
    return std::all_of(Value.begin(), Value.end(), [](char C) { return uchar(C) >= 0x20; });
}

bool IsRefusedName(const QByteArray &Name) {
    for (const auto &[Key, Value] : BaseMpvOptions())
        if (Name == Key)
            return true;
    for (const char *Refused : RefusedKeys) {
        const QByteArrayView R(Refused);
        if (R.endsWith('-') ? Name.startsWith(R) : Name == R)
            return true;
    }
    return false;
}

bool IsRefusedKey(const QByteArray &Key) {
    QByteArray Name = Key.startsWith("no-") ? Key.mid(3) : Key;
    if (IsRefusedName(Key) || IsRefusedName(Name))
        return true;
    for (const char *Action : ListActions)
        if (Name.endsWith(Action) && IsRefusedName(Name.chopped(qstrlen(Action))))
            return true;
    return false;
}

} // namespace

const TMpvOptions &BaseMpvOptions() {
    static const TMpvOptions Options = {
        {"config", "no"},
        {"idle", "yes"},
        {"terminal", "no"},
        {"input-default-bindings", "no"},
        {"osc", "no"},
        {"ytdl", "no"},
        {"load-scripts", "no"},
        {"load-stats-overlay", "no"},
        {"load-osd-console", "no"},
        {"load-auto-profiles", "no"},
        {"vid", "no"},
        {"audio-display", "no"},
        {"force-window", "no"},
        // "yes" would pause at the end instead of going idle, and nothing would advance.
        {"keep-open", "no"},
        {"audio-fallback-to-null", "yes"},
        {"network-timeout", "10"},
        {"volume-max", "100"},
        {"load-unsafe-playlists", "no"},
        // A connection the server closed while paused (or a dropped one) is reopened with a
        // byte range from where it stopped, so the track plays on to its end.
        {"stream-lavf-o", "protocol_whitelist=[http,https,tcp,tls],reconnect=1"},
        {"mute", "no"},
        // Speed trims that keep rooms in step must not bend the pitch's processing in.
        {"audio-pitch-correction", "no"},
    };
    return Options;
}

TUserMpvOptions ParseMpvOptions(QByteArrayView Text) {
    TUserMpvOptions Out;
    if (Text.size() > MaxText) {
        Out.Problems.append(QStringLiteral("options longer than %1 characters").arg(MaxText));
        return Out;
    }
    for (const QByteArray &Part : Text.toByteArray().split(',')) {
        const QByteArray Entry = TrimBlanks(Part);
        if (Entry.isEmpty())
            continue;
        const qsizetype Eq = Entry.indexOf('=');
        const QByteArray Key = Entry.left(Eq);
        const QByteArray Value = Entry.mid(Eq + 1);
        const QString Shown = QString::fromLatin1(Entry.toPercentEncoding("=:/.,"));
        if (Eq <= 0 || !IsKeyText(Key) || !IsValueText(Value))
            Out.Problems.append(QStringLiteral("malformed mpv option: ") + Shown);
        else if (IsRefusedKey(Key))
            Out.Problems.append(QStringLiteral("mpv option not allowed: ") + Shown);
        else
            Out.Options.append({Key, Value});
    }
    return Out;
}

TMpvOptions UserMpvOptions() {
    TMpvOptions Options;
    for (const QByteArray &Text : {MpvOptionsText, qgetenv(MpvOptionsVariable)}) {
        TUserMpvOptions Parsed = ParseMpvOptions(Text);
        for (const QString &Problem : Parsed.Problems)
            qWarning().noquote() << Problem;
        Options += Parsed.Options;
    }
    return Options;
}
