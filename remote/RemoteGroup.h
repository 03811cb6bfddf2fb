#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

#include <optional>

// One room of a speaker's group, as the speaker reports it.
struct TGroupRoom {
    QByteArray Host; // as the speaker names it; commands about the room carry it back
    QString Name;
    int Volume = 0;
    bool Muted = false;
    QString Status;

    bool operator==(const TGroupRoom &) const = default;
};

// A speaker's group as its GROUP and GROUPERROR messages tell it, and the rules for the user's
// group commands. A speaker that never sends GROUP (an older one) has no rooms, and nothing
// else changes for it.
class TRemoteGroup {
public:
    static constexpr int MaxRooms = 32;
    static constexpr int MaxFieldBytes = 255;
    // A refusal longer than this is cut.
    static constexpr int MaxErrorBytes = 1024;

    // Takes a GROUP message: Count as the count line said, Lines its room lines, leader first.
    // A malformed message leaves the group as it was and gives false.
    bool TakeGroup(const QByteArrayList &Lines, qint32 Count);
    // Takes a GROUPERROR; it shows until the user's next group command.
    void TakeError(const QByteArray &Text);
    void ClearError() { FError.clear(); }

    // Leader first; empty until the speaker has told its group.
    const QList<TGroupRoom> &Rooms() const { return FRooms; }
    // Whether other rooms play with this speaker.
    bool IsGroup() const { return FRooms.size() > 1; }
    // The room with that host, or null.
    const TGroupRoom *Room(const QByteArray &Host) const;
    const QString &Error() const { return FError; }
    // The page's status line: the refusal, then each room's status as "Name: status".
    QString StatusLine() const;
    // The rooms' names joined ("Kitchen, Hall") while a group plays; else empty.
    QString Members() const;

    // The name of the speaker reached as Speaker, as its GROUP lines tell it (a speaker alone
    // sends its own line); empty when they do not.
    QString NameOf(const QByteArray &Speaker) const;
    // Whether "Add Room..." offers Computer (an address or a name) to the group of the speaker
    // reached as Speaker: never that speaker, nor a room of its group.
    bool Offers(const QByteArray &Computer, const QByteArray &Speaker) const;

    // What the controller sends: the opt-in, and each command of the user; none when the
    // command names no room of the group (or, to add, no valid host) or a value out of range.
    static QByteArray WatchMessage();
    static std::optional<QByteArray> AddMessage(const QString &Host);
    std::optional<QByteArray> LeaveMessage(const QByteArray &Host) const;
    std::optional<QByteArray> VolumeMessage(const QByteArray &Host, int Volume) const;
    std::optional<QByteArray> MuteMessage(const QByteArray &Host, bool Muted) const;

private:
    QList<TGroupRoom> FRooms;
    QString FError;
};
