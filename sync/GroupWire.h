#pragma once

#include "GroupAnchor.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>

#include <deque>
#include <optional>

// The group's control link (TCP, docs/group-protocol.md): records of
//   length (4 bytes, big-endian, counting kind and body) | kind (1 byte) | body
// whose body is the kind's fields in order: numbers are 8-byte big-endian signed integers,
// texts a 4-byte big-endian length and the bytes, lists a 4-byte count and that many texts.

constexpr qint64 GroupLinkVersion = 1;
inline constexpr char GroupLinkMagic[] = "VXGROUP";

enum class TGroupKind : quint8 {
    Hello = 1,     // magic, version, name, intent, group, token, port, reason
    Members = 2,   // list: one GROUP line per room, the leader first
    List = 3,      // list: the leader's play list
    Anchor = 4,    // group time, position (ns), playing, serial, track
    Command = 5,   // word, list: its argument lines (a follower's controller)
    Report = 6,    // volume, mute, state, status (a follower's room)
    SetVolume = 7, // volume (-1: unchanged), mute (-1: unchanged)
    Bye = 8,       // reason
    Ping = 9,      // nothing: the link is alive
};

// What a hello says.
enum class TGroupIntent : qint64 {
    Invite = 1, // the leader asks the room to follow it
    Rejoin = 2, // a follower comes back (group and token as it was given)
    Accept = 3, // the answer to either
    Refuse = 4, // the answer, with a reason
};

// Limits: past any of them the record is malformed and the link is dropped.
constexpr qint64 MaxGroupRecord = 20 * 1024 * 1024; // length field
constexpr qint64 MaxGroupText = 16384;              // bytes in one text
constexpr qint64 MaxGroupListCount = 100000;        // texts in one list
constexpr int MaxGroupRooms = 32;
constexpr qsizetype MaxRoomField = 255; // each field of a GROUP line
// A failure the leader hands back to a follower ("<name> cannot play in sync: <reason>").
constexpr qsizetype MaxErrorText = 2 * MaxRoomField + 64;
// The largest hello: kind, magic, five numbers, name and reason at their limit.
constexpr qint64 MaxHelloRecord = 1 + (4 + 7) + 5 * 8 + 2 * (4 + MaxGroupText);

// One record: its numbers, texts and list in field order (the layout of each kind says which).
struct TGroupRecord {
    TGroupKind Kind = TGroupKind::Ping;
    QList<qint64> Numbers;
    QByteArrayList Texts;
    QByteArrayList Items;

    qint64 Number(int I) const { return Numbers.value(I); }
    QByteArray Text(int I) const { return Texts.value(I); }
    bool operator==(const TGroupRecord &) const = default;
};

// The bytes of Record on the wire; empty when it does not fit its kind's layout or the limits.
QByteArray EncodeGroupRecord(const TGroupRecord &Record);
// The record in Bytes (kind and body, no length), or nothing when malformed.
std::optional<TGroupRecord> DecodeGroupRecord(QByteArrayView Bytes);

// A hello record.
struct TGroupHello {
    qint64 Version = GroupLinkVersion;
    QByteArray Name;
    TGroupIntent Intent = TGroupIntent::Invite;
    qint64 Group = 0;
    qint64 Token = 0;
    qint64 Port = 0;   // the sender's group port (a leader's, for rejoining)
    QByteArray Reason; // a refusal's; an invite's: the room's host as the leader names it
};
TGroupRecord HelloRecord(const TGroupHello &Hello);
// The hello in Record, or nothing when it is not one of ours (wrong kind or magic). A hello
// of another version decodes: the caller says why it cannot talk to it.
std::optional<TGroupHello> ReadHello(const TGroupRecord &Record);

// An anchor record: the position goes in whole nanoseconds.
TGroupRecord AnchorRecord(const TGroupAnchor &Anchor);
// Nothing unless Record is a well-formed anchor.
std::optional<TGroupAnchor> ReadAnchor(const TGroupRecord &Record);

// A GROUP line: host TAB name TAB volume TAB mute TAB status, tabs and line breaks inside a
// field turned into spaces and each field cut to MaxRoomField bytes.
struct TRoomLine {
    QByteArray Host, Name;
    int Volume = 0;
    bool Mute = false;
    QByteArray Status;
    bool operator==(const TRoomLine &) const = default;
};
QByteArray FormatRoomLine(const TRoomLine &Room);
// Nothing unless Line has exactly five fields, each within its bounds.
std::optional<TRoomLine> ParseRoomLine(QByteArrayView Line);

// Incremental reader of one link: bytes in, whole records out. A record whose length field
// is 0 or past MaxGroupRecord, or whose body is malformed, puts it in error for good: the
// link is dropped, since nothing after it can be trusted. Memory is the record being read.
class TGroupLinkReader {
public:
    // FirstMax: the first record's length at most (a greeting holds no more than a hello).
    explicit TGroupLinkReader(qint64 FirstMax = MaxGroupRecord) : FFirstMax(FirstMax) {}
    void Feed(QByteArrayView Bytes);
    std::optional<TGroupRecord> Next();
    bool Failed() const { return FFailed; }
    // Whether a record has begun and not yet completed (its deadline runs).
    bool InRecord() const { return !FBuffer.isEmpty(); }

private:
    QByteArray FBuffer; // the record being read, length field included
    qint64 FWanted = 0; // its whole size once the length field is read
    qint64 FFirstMax;
    bool FFirstRead = false;
    bool FFailed = false;
    std::deque<TGroupRecord> FReady;
};
