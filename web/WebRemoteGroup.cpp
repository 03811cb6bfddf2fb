// The phone remote and a speaker's group: the rooms the page shows, the user's group commands.
#include "WebRemoteWatch.h"

#include "WebGate.h"

#include <QJsonArray>

void TWebRemote::SendGroup(TWatch &W) {
    if (!W.Session)
        return;
    const TRemoteGroup &Group = W.Session->Group();
    // Bounded by the group's own bounds: 32 rooms of five short fields.
    QJsonArray Rooms;
    for (const TGroupRoom &Room : Group.Rooms())
        Rooms.append(QJsonObject{{QStringLiteral("host"), QString::fromUtf8(Room.Host)},
                                 {QStringLiteral("name"), Room.Name},
                                 {QStringLiteral("volume"), Room.Volume},
                                 {QStringLiteral("muted"), Room.Muted},
                                 {QStringLiteral("status"), Room.Status}});
    Send(W, TEventStream::GroupKind,
         TEventStream::Format("group", Compact({{QStringLiteral("rooms"), Rooms},
                                                {QStringLiteral("status"), Group.StatusLine()}})));
    PublishSpeakers(); // the "Play on" list marks the group's rooms
}

TWebAnswer TWebRemote::GroupCommand(const QJsonObject &Body) {
    TWatch *W = LiveWatch(Body);
    if (!W)
        return TWebGate::Error(404, QStringLiteral("No session with that computer."));
    TRemoteSession &S = *W->Session;
    const QString Do = Body.value(u"do").toString();
    const QJsonValue Room = Body.value(u"room");
    if (!Room.isString())
        return TWebGate::Error(400, QStringLiteral("Invalid room."));
    bool Sent = false;
    if (Do == u"add") {
        QString Host = Room.toString().trimmed();
        // This computer joins under the address the speaker reaches it at.
        if (CheckTarget(Host) == TTargetCheck::ThisComputer) {
            if (FPlayTo->IsThisComputer(S.Host()))
                return TWebGate::Error(400, QStringLiteral("This computer is that speaker."));
            Host = QString::fromUtf8(FPlayTo->TrackAddress(S.Host()));
        }
        Sent = S.AddRoom(Host);
    } else {
        const QByteArray Host = Room.toString().toUtf8();
        const QJsonValue Value = Body.value(u"value");
        if (Do == u"leave")
            Sent = S.LeaveGroup(Host);
        else if (Do == u"volume" && Value.isDouble() && Value.toDouble() == double(Value.toInt()))
            Sent = S.SetRoomVolume(Host, Value.toInt());
        else if (Do == u"mute" && Value.isBool())
            Sent = S.SetRoomMute(Host, Value.toBool());
        else if (Do != u"leave" && Do != u"volume" && Do != u"mute")
            return TWebGate::Error(400, QStringLiteral("Unknown command."));
    }
    if (!Sent)
        return TWebGate::Error(400, QStringLiteral("Invalid room or value."));
    return TWebGate::Json(200, "{}");
}
