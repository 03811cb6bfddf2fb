// The command reader, both tables. The same bytes read whole and in random pieces give the
// same messages; read in random pieces with random deadlines, every message keeps to its
// table entry and to the limits on lines, items and payload. A byte 0xFF followed by n
// stands for 64 * (n + 1) bytes "u", so that short inputs reach the line length limit.
#include "CommandReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

std::vector<TCommandMessage> Drain(TCommandReader &Reader) {
    std::vector<TCommandMessage> Out;
    while (std::optional<TCommandMessage> Message = Reader.Next())
        Out.push_back(std::move(*Message));
    return Out;
}

bool Same(const std::vector<TCommandMessage> &A, const std::vector<TCommandMessage> &B) {
    if (A.size() != B.size())
        return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (A[I].Word != B[I].Word || A[I].Lines != B[I].Lines || A[I].Value != B[I].Value)
            return false;
    return true;
}

void CheckMessage(const TCommandTable &Table, const TCommandMessage &Message) {
    const TCommandEntry *Entry = FindCommand(Table, Message.Word);
    Check(Entry != nullptr);
    qint64 Payload = 0;
    for (const QByteArray &Line : Message.Lines) {
        Check(Line.size() <= MaxCommandLineLength && !Line.contains('\n'));
        Payload += Line.size();
    }
    switch (Entry->Shape) {
    case TCommandShape::WordOnly:
        Check(Message.Lines.isEmpty());
        break;
    case TCommandShape::Single:
        Check(Message.Lines.size() == 1);
        if (Entry->Numeric)
            Check(ParseCommandInteger(Message.Lines[0]) == Message.Value);
        break;
    case TCommandShape::Counted:
        Check(Message.Value <= MaxCommandItemCount);
        Check(Message.Lines.size() <= std::max(Message.Value, 0));
        Check(Payload <= MaxCommandPayload);
        break;
    }
}

// Runs add up to at most 64 KiB: enough for two overlong lines, and each input stays quick.
QByteArray Expand(const std::vector<uint8_t> &Bytes) {
    QByteArray Wire;
    qsizetype Budget = 64 * 1024;
    for (size_t I = 0; I < Bytes.size(); ++I) {
        if (Bytes[I] == 0xFF && I + 1 < Bytes.size()) {
            const qsizetype Run = std::min(Budget, 64 * (qsizetype(Bytes[++I]) + 1));
            Wire.append(Run, 'u');
            Budget -= Run;
        } else {
            Wire.append(char(Bytes[I]));
        }
    }
    return Wire;
}

// Feeds Wire in pieces of random length; between pieces the clock may move on and the
// owner's timer may fire.
std::vector<TCommandMessage> ReadInPieces(const TCommandTable &Table, qint64 Timeout,
                                          const QByteArray &Wire, std::minstd_rand &Random,
                                          bool Deadlines) {
    TCommandReader Reader(Table, Timeout);
    std::vector<TCommandMessage> Out;
    qint64 Now = 0;
    for (qsizetype Pos = 0; Pos < Wire.size();) {
        const qsizetype Piece =
            std::min<qsizetype>(Wire.size() - Pos, qsizetype(Random() % 512) + 1);
        if (Deadlines) {
            Now += Random() % 4 == 0 ? qint64(Random() % (2 * Timeout + 1)) : 0;
            if (Random() % 2 == 0)
                Reader.Expire(Now);
        }
        Reader.Feed(QByteArrayView(Wire.constData() + Pos, Piece), Now);
        if (const std::optional<qint64> Deadline = Reader.NextDeadline())
            Check(*Deadline <= Now + Timeout);
        Pos += Piece;
        for (TCommandMessage &Message : Drain(Reader))
            Out.push_back(std::move(Message));
    }
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    const TCommandTable &Table = In.ConsumeBool() ? SpeakerCommands() : ControllerCommands();
    const qint64 Timeout = In.ConsumeIntegralInRange<qint64>(1, 10000);
    std::minstd_rand Random(In.ConsumeIntegral<uint32_t>());
    const QByteArray Wire = Expand(In.ConsumeRemainingBytes<uint8_t>());

    TCommandReader Whole(Table, Timeout);
    Whole.Feed(Wire, 0);
    const std::vector<TCommandMessage> Expected = Drain(Whole);
    for (const TCommandMessage &Message : Expected)
        CheckMessage(Table, Message);
    Check(Same(ReadInPieces(Table, Timeout, Wire, Random, false), Expected));

    for (const TCommandMessage &Message : ReadInPieces(Table, Timeout, Wire, Random, true))
        CheckMessage(Table, Message);
    return 0;
}
