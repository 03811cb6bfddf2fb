#include "ScanProtocol.h"

#include "ByteRecord.h"

namespace {

const QByteArray HelloText = "VXTAGSCAN";

QByteArray Framed(const QByteArray &Payload) {
    QByteArray Out;
    Out.reserve(4 + Payload.size());
    TByteWriter(Out).PutU32(quint32(Payload.size()));
    return Out + Payload;
}

} // namespace

QByteArray HelloFrame() {
    QByteArray Payload;
    TByteWriter W(Payload);
    W.PutU8(quint8(TScanFrame::Hello));
    W.PutBytes(HelloText);
    W.PutU32(ScanProtocolVersion);
    return Framed(Payload);
}

QByteArray RequestFrame(const QByteArray &Path, const TFileStamp &Known) {
    QByteArray Payload;
    TByteWriter W(Payload);
    W.PutBytes(Path);
    W.PutI64(Known.MTimeNs);
    W.PutI64(Known.Size);
    return Framed(Payload);
}

QByteArray ReplyFrame(TScanFrame Kind, const TFileTags &Entry) {
    QByteArray Payload;
    TByteWriter(Payload).PutU8(quint8(Kind));
    PutFileTags(Payload, Entry);
    return Framed(Payload);
}

bool IsHello(const QByteArray &Frame) {
    TByteReader In(Frame);
    const bool Ok = In.U8() == quint8(TScanFrame::Hello) && In.Bytes(64) == HelloText &&
                    In.U32() == ScanProtocolVersion;
    return Ok && In.Ok() && In.Remaining() == 0;
}

bool ParseRequest(const QByteArray &Frame, QByteArray &Path, TFileStamp &Known) {
    TByteReader In(Frame);
    Path = In.Bytes(MaxPathBytes);
    Known.MTimeNs = In.I64();
    Known.Size = In.I64();
    return In.Ok() && In.Remaining() == 0 && !Path.isEmpty();
}

bool ParseReply(const QByteArray &Frame, TScanFrame &Kind, TFileTags &Entry) {
    TByteReader In(Frame);
    const quint8 Type = In.U8();
    if (Type != quint8(TScanFrame::Begin) && Type != quint8(TScanFrame::Result))
        return false;
    Kind = TScanFrame(Type);
    return TakeFileTags(In, Entry) && In.Remaining() == 0;
}

bool TFrameReader::Next(QByteArray &Frame) {
    if (FFailed || FBuffer.size() - FPos < 4)
        return false;
    TByteReader In(FBuffer.constData() + FPos, 4);
    const quint32 Size = In.U32();
    if (Size > MaxScanFrame) {
        FFailed = true;
        FBuffer.clear();
        FPos = 0;
        return false;
    }
    if (FBuffer.size() - FPos - 4 < qsizetype(Size))
        return false;
    Frame = FBuffer.mid(FPos + 4, Size);
    FPos += 4 + Size;
    // Drop what was read once it is the larger part, so the buffer stays small and copies rare.
    if (FPos >= FBuffer.size() / 2) {
        FBuffer.remove(0, FPos);
        FPos = 0;
    }
    return true;
}
