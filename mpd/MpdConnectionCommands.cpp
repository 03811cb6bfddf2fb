// The commands about the connection itself, not about the speaker.
#include "AudioTypes.h"
#include "MpdCommandTable.h"
#include "MpdCommands.h"

namespace {

void ListCommands(TMpdCall &Call, const TMpdCommandTable &Table, bool Allowed) {
    for (const QByteArray &Word : Table.Words()) {
        const TMpdCommand *Command = Table.Find(Word);
        if ((!Command->NeedsPassword || Call.Client.Authorized) == Allowed)
            Call.Out.Add("command", Word);
    }
}

TMpdTagMask TagsOf(const QByteArrayList &Names) {
    TMpdTagMask Mask = 0;
    for (const QByteArray &Name : Names) {
        if (const std::optional<TMpdTag> Tag = MpdTagOf(Name))
            Mask |= MpdTagBit(*Tag);
        else if (!IsOtherMpdTag(Name))
            MpdFail(TMpdAck::Arg, "Unknown tag type: " + Name);
    }
    return Mask;
}

void TagTypes(TMpdCall &Call) {
    if (Call.Args.isEmpty()) {
        for (int Tag = 0; Tag < int(TMpdTag::Count); ++Tag)
            if (Call.Client.Tags & MpdTagBit(TMpdTag(Tag)))
                Call.Out.Add("tagtype", MpdTagName(TMpdTag(Tag)));
        return;
    }
    const QByteArray &Sub = Call.Args[0];
    const QByteArrayList Names = Call.Args.mid(1);
    if (Sub == "all" && Names.isEmpty())
        Call.Client.Tags = MpdAllTags;
    else if (Sub == "clear" && Names.isEmpty())
        Call.Client.Tags = 0;
    else if (Sub == "enable" && !Names.isEmpty())
        Call.Client.Tags |= TagsOf(Names);
    else if (Sub == "disable" && !Names.isEmpty())
        Call.Client.Tags &= ~TagsOf(Names);
    else
        MpdFail(TMpdAck::Arg, "Unknown sub command");
}

void Decoders(TMpdCall &Call) {
    // libmpv decodes through FFmpeg: one plugin, the types the library takes.
    Call.Out.Add("plugin", "ffmpeg");
    for (const QByteArray &Pattern : AudioExtensionList().split(';'))
        if (Pattern.startsWith("*.") && Pattern.size() > 2)
            Call.Out.Add("suffix", Pattern.mid(2).toLower());
}

void Idle(TMpdCall &Call) {
    TMpdIdleMask Mask = 0;
    for (const QByteArray &Name : Call.Args) {
        const std::optional<TMpdIdleMask> Bit = MpdIdleBit(Name);
        if (!Bit)
            MpdFail(TMpdAck::Arg, "Unrecognized idle event: " + Name);
        Mask |= *Bit;
    }
    Call.Client.IdleRequested = Mask ? Mask : MpdIdle::All;
}

} // namespace

void AddConnectionCommands(TMpdCommandTable &Table, const QByteArray &Password) {
    const auto Free = [&Table](QByteArray Word, int Min, int Max, TMpdHandler Run) {
        Table.Add({std::move(Word), Min, Max, std::move(Run), false});
    };
    Free("ping", 0, 0, [](TMpdCall &) {});
    Free("close", 0, 0, [](TMpdCall &Call) { Call.Client.CloseRequested = true; });
    Free("password", 1, 1, [Password](TMpdCall &Call) {
        if (Password.isEmpty() || Call.Args[0] != Password)
            MpdFail(TMpdAck::Password, "incorrect password");
        Call.Client.Authorized = true;
    });
    Free("commands", 0, 0, [&Table](TMpdCall &Call) { ListCommands(Call, Table, true); });
    Free("notcommands", 0, 0, [&Table](TMpdCall &Call) { ListCommands(Call, Table, false); });
    Free("tagtypes", 0, -1, TagTypes);
    Free("binarylimit", 1, 1, [](TMpdCall &Call) {
        Call.Client.BinaryLimit = qsizetype(MpdInteger(Call.Args[0], 64, 0x7FFFFFFF));
    });
    Table.Add({"urlhandlers", 0, 0, [](TMpdCall &Call) {
                   Call.Out.Add("handler", "http://");
                   Call.Out.Add("handler", "https://");
               }});
    Table.Add({"decoders", 0, 0, Decoders});
    Table.Add({"idle", 0, -1, Idle});
    // Outside idle it is not answered; the session does that before the table is asked.
    Table.Add({"noidle", 0, 0, [](TMpdCall &) {}});
}
