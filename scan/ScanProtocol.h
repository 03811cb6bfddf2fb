#pragma once

#include "FileTags.h"

#include <QByteArray>

// The pipe between the tag scanner process and its driver: frames of a 32-bit length and a
// payload. Requests (path and the stamp its cached tags were read with) go in; out come a hello,
// then for each request a Begin (sent before the file is opened: what to record should the
// reader never come back) and a Result, in the order of the requests.
constexpr quint32 ScanProtocolVersion = 3;

enum class TScanFrame : quint8 { Hello = 0, Begin = 1, Result = 2 };

// A frame's payload is never larger than this; a reader that meets a larger one stops.
constexpr qsizetype MaxScanFrame = 1024 * 1024;

QByteArray HelloFrame();
QByteArray RequestFrame(const QByteArray &Path, const TFileStamp &Known);
QByteArray ReplyFrame(TScanFrame Kind, const TFileTags &Entry);

// Whether Frame is a hello of this protocol version.
bool IsHello(const QByteArray &Frame);
// A request's parts; false when Frame is not a request.
bool ParseRequest(const QByteArray &Frame, QByteArray &Path, TFileStamp &Known);
// A Begin or Result frame's parts; false when Frame is neither.
bool ParseReply(const QByteArray &Frame, TScanFrame &Kind, TFileTags &Entry);

// Cuts a byte stream into frames, trusting no length it reads.
class TFrameReader {
public:
    void Append(const char *Data, qsizetype Size) { FBuffer.append(Data, Size); }
    void Append(const QByteArray &Data) { FBuffer.append(Data); }
    // Takes the next whole frame's payload; false when none is complete or the stream is bad.
    bool Next(QByteArray &Frame);
    // Whether a length past MaxScanFrame was met; nothing more is read then.
    bool Failed() const { return FFailed; }

private:
    QByteArray FBuffer;
    qsizetype FPos = 0;
    bool FFailed = false;
};
