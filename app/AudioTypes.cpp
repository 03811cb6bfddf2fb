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
    const QByteArray Ext = AsciiUpper(FileExtension(Name));
    return !Ext.isEmpty() && AudioExtensionList().contains(Ext);
}

QByteArray AudioContentType(const QByteArray &Name) {
    const QByteArray Ext = FileExtension(Name);
    for (const TAudioType &Type : AudioTypes)
        if (SameTextAscii(Ext, Type.Extension))
            return Type.ContentType;
    return {};
}
