#include "ClockPacket.h"

#include "GroupClock.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr char Magic[] = "VXCK";
constexpr quint8 Version = 1;

// Byte offsets of the fields; the gaps are reserved and zero.
namespace At {
constexpr qsizetype Version = 4, Kind = 5, Exchange = 8, T1 = 16, T2 = 24, T3 = 32;
} // namespace At
constexpr qsizetype Reserved[] = {6, 7, 12, 13, 14, 15};

qint64 ReadTime(const char *Data, qsizetype Offset) {
    return qFromBigEndian<qint64>(Data + Offset);
}

} // namespace

QByteArray EncodeClockPacket(const TClockPacket &Packet) {
    QByteArray Out(ClockPacketSize, '\0');
    char *Data = Out.data();
    memcpy(Data, Magic, 4);
    Data[At::Version] = char(Version);
    Data[At::Kind] = char(Packet.Kind);
    qToBigEndian<quint32>(Packet.Exchange, Data + At::Exchange);
    qToBigEndian<qint64>(Packet.T1, Data + At::T1);
    qToBigEndian<qint64>(Packet.T2, Data + At::T2);
    qToBigEndian<qint64>(Packet.T3, Data + At::T3);
    return Out;
}

std::optional<TClockPacket> DecodeClockPacket(QByteArrayView Datagram) {
    if (Datagram.size() != ClockPacketSize || !Datagram.startsWith(QByteArrayView(Magic, 4)))
        return std::nullopt;
    const char *Data = Datagram.data();
    if (quint8(Data[At::Version]) != Version)
        return std::nullopt;
    for (qsizetype Offset : Reserved)
        if (Data[Offset] != 0)
            return std::nullopt;
    TClockPacket P;
    const quint8 Kind = quint8(Data[At::Kind]);
    if (Kind != quint8(TClockPacket::TKind::Request) && Kind != quint8(TClockPacket::TKind::Reply))
        return std::nullopt;
    P.Kind = TClockPacket::TKind(Kind);
    P.Exchange = qFromBigEndian<quint32>(Data + At::Exchange);
    P.T1 = ReadTime(Data, At::T1);
    P.T2 = ReadTime(Data, At::T2);
    P.T3 = ReadTime(Data, At::T3);
    if (!IsClockTime(P.T1) || !IsClockTime(P.T2) || !IsClockTime(P.T3))
        return std::nullopt;
    // A request carries no leader times; a reply cannot leave before it arrived.
    if (P.Kind == TClockPacket::TKind::Request ? P.T2 != 0 || P.T3 != 0 : P.T3 < P.T2)
        return std::nullopt;
    return P;
}

TClockPacket ClockReply(const TClockPacket &Request, qint64 Received, qint64 Sent) {
    return {TClockPacket::TKind::Reply, Request.Exchange, Request.T1, Received, Sent};
}
