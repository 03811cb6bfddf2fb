#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// The group's port: TCP for its control link, UDP for the clock exchange.
constexpr quint16 GroupPort = 37402;

// One datagram of the clock exchange (docs/group-protocol.md). A follower sends a request
// with T1, its send time; the leader answers with the same exchange number and T1, and T2
// and T3, its receive and send times. Every time is in nanoseconds of the sender's
// monotonic clock, in [0, 2^62).
struct TClockPacket {
    enum class TKind : quint8 { Request = 1, Reply = 2 };

    TKind Kind = TKind::Request;
    quint32 Exchange = 0; // chosen by the follower, echoed by the leader
    qint64 T1 = 0, T2 = 0, T3 = 0;

    bool operator==(const TClockPacket &) const = default;
};

// Requests and replies are the same size, so a reply never amplifies a forged request.
constexpr qsizetype ClockPacketSize = 40;

QByteArray EncodeClockPacket(const TClockPacket &Packet);
// The packet in Datagram, or nothing unless it is exactly one well-formed packet.
std::optional<TClockPacket> DecodeClockPacket(QByteArrayView Datagram);
// The leader's answer to Request, which arrived at Received and leaves at Sent.
TClockPacket ClockReply(const TClockPacket &Request, qint64 Received, qint64 Sent);
