#include "RemoteGroup.h"

#include "CommandProtocol.h"
#include "PlayTo.h"
#include "SpeakerName.h"

#include "AsciiText.h"

#include <QSet>

#include <algorithm>

namespace {

// One room line: host TAB name TAB volume TAB mute TAB status.
std::optional<TGroupRoom> ParseRoom(const QByteArray &Line) {
    const QByteArrayList Fields = Line.split('\t');
    if (Fields.size() != 5)
        return std::nullopt;
    for (const QByteArray &Field : Fields)
        if (Field.size() > TRemoteGroup::MaxFieldBytes)
            return std::nullopt;
    const std::optional<qint32> Volume = ParseCommandInteger(Fields[2]);
    if (Fields[0].isEmpty() || !Volume || *Volume < 0 || *Volume > 100 ||
        (Fields[3] != "0" && Fields[3] != "1"))
        return std::nullopt;
    TGroupRoom Room;
    Room.Host = Fields[0];
    // A name the speaker sent is text from outside: shown plain, bounded, without hidden marks.
    Room.Name = CleanSpeakerName(Fields[1]);
    if (Room.Name.isEmpty())
        Room.Name = CleanSpeakerName(Fields[0]);
    Room.Volume = *Volume;
    Room.Muted = Fields[3] == "1";
    Room.Status = QString::fromUtf8(Fields[4]);
    return Room;
}

// Whether two hosts (each maybe with ":port") name one computer: one address, any two loopback
// addresses, or one name (A-Z case ignored).
bool SameComputer(const QByteArray &A, const QByteArray &B) {
    const auto Bare = [](const QByteArray &Host) {
        const qsizetype Colon = Host.lastIndexOf(':');
        return Colon >= 0 ? Host.left(Colon) : Host;
    };
    const QByteArray X = Bare(A), Y = Bare(B);
    const quint32 XV = IPv4Value(QString::fromLatin1(X)), YV = IPv4Value(QString::fromLatin1(Y));
    if (XV != 0xFFFFFFFFu && YV != 0xFFFFFFFFu)
        return XV == YV || (XV >> 24 == 127 && YV >> 24 == 127);
    return SameTextAscii(X, Y);
}

} // namespace

QString TRemoteGroup::NameOf(const QByteArray &Speaker) const {
    if (FRooms.size() == 1)
        return FRooms.first().Name;
    for (const TGroupRoom &Room : FRooms)
        if (SameComputer(Room.Host, Speaker))
            return Room.Name;
    return {};
}

bool TRemoteGroup::Offers(const QByteArray &Computer, const QByteArray &Speaker) const {
    if (Computer.trimmed().isEmpty() || SameComputer(Computer, Speaker))
        return false;
    return std::none_of(FRooms.cbegin(), FRooms.cend(),
                        [&](const TGroupRoom &Room) { return SameComputer(Computer, Room.Host); });
}

bool TRemoteGroup::TakeGroup(const QByteArrayList &Lines, qint32 Count) {
    if (Count < 1 || Count > MaxRooms || Lines.size() != Count)
        return false;
    QList<TGroupRoom> Rooms;
    QSet<QByteArray> Hosts;
    for (const QByteArray &Line : Lines) {
        std::optional<TGroupRoom> Room = ParseRoom(Line);
        // A host named twice would make commands about it ambiguous.
        if (!Room || Hosts.contains(Room->Host))
            return false;
        Hosts.insert(Room->Host);
        Rooms.append(std::move(*Room));
    }
    FRooms = std::move(Rooms);
    return true;
}

void TRemoteGroup::TakeError(const QByteArray &Text) {
    FError = QString::fromUtf8(Text.left(MaxErrorBytes)).trimmed();
}

const TGroupRoom *TRemoteGroup::Room(const QByteArray &Host) const {
    for (const TGroupRoom &Room : FRooms)
        if (Room.Host == Host)
            return &Room;
    return nullptr;
}

QString TRemoteGroup::StatusLine() const {
    QStringList Parts;
    if (!FError.isEmpty())
        Parts.append(FError);
    for (const TGroupRoom &Room : FRooms)
        if (!Room.Status.trimmed().isEmpty())
            Parts.append(Room.Name + QStringLiteral(": ") + Room.Status.trimmed());
    return Parts.join(QStringLiteral("; "));
}

QString TRemoteGroup::Members() const {
    if (!IsGroup())
        return {};
    QStringList Names;
    for (const TGroupRoom &Room : FRooms)
        Names.append(Room.Name);
    return Names.join(QStringLiteral(", "));
}

QByteArray TRemoteGroup::WatchMessage() {
    return BuildArgumentsMessage(CommandWord::GroupWatch, {});
}

std::optional<QByteArray> TRemoteGroup::AddMessage(const QString &Host) {
    // "My Computer" means another computer to the speaker: the caller names it by address.
    const QString Text = Host.trimmed();
    if (CheckTarget(Text) != TTargetCheck::Host || Text.toUtf8().size() > MaxFieldBytes)
        return std::nullopt;
    return BuildArgumentsMessage(CommandWord::GroupAdd, {Text.toUtf8()});
}

std::optional<QByteArray> TRemoteGroup::LeaveMessage(const QByteArray &Host) const {
    if (!Room(Host))
        return std::nullopt;
    return BuildArgumentsMessage(CommandWord::GroupLeave, {Host});
}

std::optional<QByteArray> TRemoteGroup::VolumeMessage(const QByteArray &Host, int Volume) const {
    if (!Room(Host) || Volume < 0 || Volume > 100)
        return std::nullopt;
    return BuildArgumentsMessage(CommandWord::GroupVolume, {Host, QByteArray::number(Volume)});
}

std::optional<QByteArray> TRemoteGroup::MuteMessage(const QByteArray &Host, bool Muted) const {
    if (!Room(Host))
        return std::nullopt;
    return BuildArgumentsMessage(CommandWord::GroupMute, {Host, Muted ? "1" : "0"});
}
