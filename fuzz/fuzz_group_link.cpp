// The group link's reader: whatever a peer sends, it never fails badly; the same bytes read
// whole and in random pieces give the same records; every record it gives encodes back to
// the bytes it was read from (no two encodings mean one record); a link's reader, whose first
// record is a hello, gives the same unless that first record claims more than a hello holds.
#include "GroupWire.h"

#include <QtEndian>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<TGroupRecord> Drain(TGroupLinkReader &Reader) {
    std::vector<TGroupRecord> Out;
    while (std::optional<TGroupRecord> Record = Reader.Next())
        Out.push_back(std::move(*Record));
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    FuzzedDataProvider Input(Data, Size);
    const std::string Bytes = Input.ConsumeRandomLengthString(Size);
    TGroupLinkReader Whole;
    Whole.Feed(QByteArrayView(Bytes.data(), qsizetype(Bytes.size())));
    const std::vector<TGroupRecord> Expected = Drain(Whole);

    TGroupLinkReader Pieces;
    std::vector<TGroupRecord> Got;
    size_t Pos = 0;
    while (Pos < Bytes.size()) {
        const size_t Take = Input.ConsumeIntegralInRange<size_t>(1, Bytes.size() - Pos);
        Pieces.Feed(QByteArrayView(Bytes.data() + Pos, qsizetype(Take)));
        for (TGroupRecord &Record : Drain(Pieces))
            Got.push_back(std::move(Record));
        Pos += Take;
    }
    if (Got != Expected || Pieces.Failed() != Whole.Failed())
        std::abort();

    TGroupLinkReader Linked(MaxHelloRecord);
    Linked.Feed(QByteArrayView(Bytes.data(), qsizetype(Bytes.size())));
    const std::vector<TGroupRecord> LinkedGot = Drain(Linked);
    const bool FirstTooLong =
        Bytes.size() >= 4 && qFromBigEndian<quint32>(Bytes.data()) > quint32(MaxHelloRecord);
    if (FirstTooLong ? !Linked.Failed() || !LinkedGot.empty()
                     : LinkedGot != Expected || Linked.Failed() != Whole.Failed())
        std::abort();

    QByteArray Again;
    for (const TGroupRecord &Record : Expected) {
        const QByteArray Encoded = EncodeGroupRecord(Record);
        if (Encoded.isEmpty())
            std::abort();
        Again += Encoded;
        (void)ReadHello(Record);
        (void)ReadAnchor(Record);
        for (const QByteArray &Item : Record.Items)
            (void)ParseRoomLine(Item);
    }
    if (!Bytes.starts_with(std::string_view(Again.constData(), size_t(Again.size()))))
        std::abort();
    return 0;
}
