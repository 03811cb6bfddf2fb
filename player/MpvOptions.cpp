#include "MpvOptions.h"

#include "AsciiText.h"
#include "Settings.h"

#include <QDebug>

#include <algorithm>

namespace {

// Longer texts are nobody's options.
constexpr qsizetype MaxText = 4096;

// What a user may tune besides the output and the device (checked with their values): the
// output's buffers and format, gapless play, ReplayGain and the cache's sizes. Anything else
// (files to load or write, filters, scripts, inputs, proxies) is refused: an option that reads
// or writes a file would do it for any controller's track.
constexpr const char *AllowedKeys[] = {
    "audio-buffer",
    "audio-samplerate",
    "audio-format",
    "audio-channels",
    "audio-exclusive",
    "ao-null-speed",
    "ao-null-untimed",
    "gapless-audio",
    "prefetch-playlist",
    "replaygain",
    "replaygain-preamp",
    "replaygain-clip",
    "replaygain-fallback",
    "cache",
    "cache-secs",
    "cache-pause",
    "cache-pause-wait",
    "cache-pause-initial",
    "demuxer-max-bytes",
    "demuxer-max-back-bytes",
    "demuxer-readahead-secs",
};
// Every option of these two outputs' own families.
constexpr const char *AllowedFamilies[] = {"pulse-", "alsa-"};
// The outputs that play; "pcm" and "lavc" would write files.
constexpr const char *AllowedOutputs[] = {"null", "pulse",  "pipewire", "alsa", "jack",
                                          "sdl",  "openal", "oss",      "sndio"};

bool IsKeyText(const QByteArray &Key) {
    return !Key.isEmpty() && Key.front() != '-' && std::all_of(Key.begin(), Key.end(), [](char C) {
        return (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-';
    });
}

bool IsValueText(const QByteArray &Value) {
    return std::all_of(Value.begin(), Value.end(), [](char C) { return uchar(C) >= 0x20; });
}

bool IsOutput(QByteArrayView Name) {
    return std::any_of(std::begin(AllowedOutputs), std::end(AllowedOutputs),
                       [Name](const char *Output) { return Name == Output; });
}

bool IsAllowed(const QByteArray &Key, const QByteArray &Value) {
    for (const auto &[Base, BaseValue] : BaseMpvOptions())
        if (Key == Base)
            return false;
    if (Key == "ao")
        return IsOutput(Value);
    // "output/device" chooses the output too; "auto" leaves the choice to the output.
    if (Key == "audio-device")
        return Value == "auto" || (Value.contains('/') && IsOutput(Value.left(Value.indexOf('/'))));
    const auto Is = [&Key](const char *Allowed) { return Key == Allowed; };
    const auto InFamily = [&Key](const char *Family) { return Key.startsWith(Family); };
    return std::any_of(std::begin(AllowedKeys), std::end(AllowedKeys), Is) ||
           std::any_of(std::begin(AllowedFamilies), std::end(AllowedFamilies), InFamily);
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
        else if (!IsAllowed(Key, Value))
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
