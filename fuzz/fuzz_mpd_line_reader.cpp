// The MPD line reader. The same bytes read whole and in random pieces give the same requests
// and the same failure; no word is longer than a line may be, a list never holds more than
// its limit, and nothing held passes the limits. A byte 0xFF followed by n stands for
// 64 * (n + 1) bytes "u", so that short inputs reach the line length limit.
#include "MpdLineReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <random>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

QByteArray Expand(const std::vector<uint8_t> &Bytes) {
    QByteArray Wire;
    for (size_t I = 0; I < Bytes.size(); ++I) {
        if (Bytes[I] == 0xFF && I + 1 < Bytes.size())
            Wire.append(64 * (qsizetype(Bytes[++I]) + 1), 'u');
        else
            Wire.append(char(Bytes[I]));
    }
    return Wire;
}

QByteArray Render(TMpdLineReader &Reader) {
    QByteArray Out;
    while (std::optional<TMpdRequest> Request = Reader.Next()) {
        Out += char('0' + Request->Kind);
        qint64 Bytes = 0;
        for (const TMpdLine &Line : Request->Lines) {
            Check(Line.Error.isEmpty() != Line.Words.isEmpty());
            for (const QByteArray &Word : Line.Words) {
                Check(Word.size() <= TMpdLineReader::MaxLineBytes && !Word.contains('\n'));
                Bytes += Word.size();
                Out += Word + '\0';
            }
            Out += Line.Error + '\n';
        }
        Check(Bytes <= TMpdLineReader::MaxListBytes);
    }
    Check(Reader.PendingBytes() <= TMpdLineReader::MaxListBytes + TMpdLineReader::MaxLineBytes);
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    std::minstd_rand Random(In.ConsumeIntegral<uint32_t>());
    const QByteArray Wire = Expand(In.ConsumeRemainingBytes<uint8_t>());

    TMpdLineReader Whole;
    Whole.Feed(Wire);
    const QByteArray Expected = Render(Whole);

    TMpdLineReader Pieces;
    QByteArray Got;
    for (qsizetype Pos = 0; Pos < Wire.size();) {
        const qsizetype Piece =
            std::min<qsizetype>(Wire.size() - Pos, qsizetype(Random() % 512) + 1);
        Pieces.Feed(QByteArrayView(Wire.constData() + Pos, Piece));
        Pos += Piece;
        if (Random() % 2 == 0)
            Got += Render(Pieces);
    }
    Got += Render(Pieces);
    Check(Pieces.Failed() == Whole.Failed());
    // After a failure the rest is never read, so only what came before it must agree.
    Check(Whole.Failed() ? Expected.startsWith(Got) || Got.startsWith(Expected) : Got == Expected);
    return 0;
}
