// The clock exchange's datagram: whatever a datagram holds, decoding never fails badly; what
// decodes encodes back to exactly the same bytes (no two datagrams mean one packet); and a
// reply's times, taken into the group clock with any arrival time, never overflow.
#include "ClockPacket.h"
#include "GroupClock.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArrayView Datagram(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const std::optional<TClockPacket> Packet = DecodeClockPacket(Datagram);
    if (!Packet)
        return 0;
    if (EncodeClockPacket(*Packet) != Datagram)
        std::abort();
    TGroupClock Clock;
    for (qint64 T4 : {Packet->T1, Packet->T1 + 1, Packet->T3, MaxClockTime - 1}) {
        Clock.AddExchange({Packet->T1, Packet->T2, Packet->T3, T4});
        (void)Clock.ToLocal(Clock.ToGroup(T4));
    }
    return 0;
}
