#include "AudioTypes.h"

#include "AsciiText.h"

#include <QStringList>

namespace {

struct TAudioType {
    // Starts a group of the open dialog's filter; null: the row joins the group above.
    const char *Description;
    const char *Extension; // lower case, with its dot
    const char *ContentType;
};

constexpr TAudioType AudioTypes[] = {
    {"Win Media file(asf)", ".asf", "video/x-ms-asf"},
    {nullptr, ".asx", "video/x-ms-asf"},
    {nullptr, ".wpl", "application/vnd.ms-wpl"},
    {nullptr, ".wm", "video/x-ms-wm"},
    {nullptr, ".wx", "video/x-ms-wmx"},
    {nullptr, ".wmd", "application/x-ms-wmd"},
    {nullptr, ".wmz", "application/x-ms-wmz"},
    {"Win Media audio file(wma)", ".wma", "audio/x-ms-wma"},
    {nullptr, ".wax", "audio/x-ms-wax"},
    {"Win audio file(wav)", ".wav", "audio/wav"},
    {"MP3 audio file(mp3)", ".mp3", "audio/mpeg"},
    {nullptr, ".m3u", "audio/x-mpegurl"},
    {"MIDI file(midi)", ".mid", "audio/midi"},
    {nullptr, ".midi", "audio/midi"},
    {nullptr, ".rmi", "audio/midi"},
    {"AIFF audio file(aiff)", ".aif", "audio/aiff"},
    {nullptr, ".aifc", "audio/aiff"},
    {nullptr, ".aiff", "audio/aiff"},
    {"Au audio file(au)", ".au", "audio/basic"},
    {nullptr, ".snd", "audio/basic"},
    // What the media engine plays beyond the Windows kinds.
    {"FLAC audio file(flac)", ".flac", "audio/flac"},
    {"Ogg audio file(ogg, oga, opus, spx)", ".ogg", "audio/ogg"},
    {nullptr, ".oga", "audio/ogg"},
    {nullptr, ".opus", "audio/ogg"},
    {nullptr, ".spx", "audio/ogg"},
    {"MPEG-4 audio file(m4a, m4b, mp4, aac, alac)", ".m4a", "audio/mp4"},
    {nullptr, ".m4b", "audio/mp4"},
    {nullptr, ".mp4", "audio/mp4"},
    {nullptr, ".aac", "audio/aac"},
    {nullptr, ".alac", "audio/mp4"},
    {"MPEG audio file(mp2)", ".mp2", "audio/mpeg"},
    {"WavPack, APE and TTA audio file(wv, ape, tta)", ".wv", "audio/x-wavpack"},
    {nullptr, ".ape", "audio/x-ape"},
    {nullptr, ".tta", "audio/x-tta"},
    {"Musepack audio file(mpc)", ".mpc", "audio/x-musepack"},
    {"Matroska and WebM audio file(mka, webm)", ".mka", "audio/x-matroska"},
    {nullptr, ".webm", "audio/webm"},
    {"DSD audio file(dsf, dff)", ".dsf", "audio/x-dsf"},
    {nullptr, ".dff", "audio/x-dff"},
    {"Core Audio file(caf)", ".caf", "audio/x-caf"},
};

// One group of the open dialog's filter: its description and its patterns.
struct TGroup {
    QByteArray Description;
    QByteArray Patterns;
};

QList<TGroup> Groups() {
    QList<TGroup> Out;
    for (const TAudioType &Type : AudioTypes) {
        const QByteArray Pattern = '*' + QByteArray(Type.Extension);
        if (Type.Description)
            Out.append({Type.Description, Pattern});
        else
            Out.last().Patterns += ';' + Pattern;
    }
    return Out;
}

QByteArray AllPatterns() {
    QByteArrayList Patterns;
    for (const TGroup &Group : Groups())
        Patterns += Group.Patterns;
    return Patterns.join(';');
}

} // namespace

const QByteArray &AudioExtensionList() {
    static const QByteArray List = AsciiUpper(AllPatterns());
    return List;
}

const QByteArray &AudioFileFilter() {
    static const QByteArray Filter = [] {
        QByteArray Out = "All audio file|" + AllPatterns();
        for (const TGroup &Group : Groups())
            Out += '|' + Group.Description + " (" + Group.Patterns + ")|" + Group.Patterns;
        return Out;
    }();
    return Filter;
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

bool IsAcceptedAudioName(const QByteArray &Name) {
    // The whole extension: a piece of one (".MP", ".W") is no type.
    return !AudioContentType(Name).isEmpty();
}

QByteArray AudioContentType(const QByteArray &Name) {
    const QByteArray Ext = FileExtension(Name);
    if (Ext.size() < 2)
        return {};
    for (const TAudioType &Type : AudioTypes)
        if (SameTextAscii(Ext, Type.Extension))
            return Type.ContentType;
    return {};
}
