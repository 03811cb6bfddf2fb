// The media server's request handling without the daemon: the target as a client sends it,
// decoded once as libmicrohttpd does, then looked up in a random library; and the Range
// header. Whatever the request, an answer names a library file that is not an http URL and
// holds the decoded path, and a range lies inside the file.
#include "AsciiText.h"
#include "MediaServer.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <microhttpd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

void Check(bool Ok) {
    if (!Ok)
        std::abort();
}

QByteArray Bytes(const std::string &Text) {
    return QByteArray(Text.data(), qsizetype(Text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    FuzzedDataProvider In(Data, Size);
    QByteArrayList Library;
    for (int I = In.ConsumeIntegralInRange(0, 8); I > 0; --I)
        Library.append(Bytes(In.ConsumeRandomLengthString(64)));
    const QByteArray Range = Bytes(In.ConsumeRandomLengthString(48));
    const qint64 FileSize = In.ConsumeIntegralInRange<qint64>(0, qint64(1) << 40);
    QByteArray Target = Bytes(In.ConsumeRemainingBytesAsString());
    Target.truncate(qsizetype(qstrnlen(Target.constData(), size_t(Target.size()))));

    // What the handler gets: the path before "?", percent-decoded once, up to a NUL.
    std::string Raw(Target.constData(), size_t(Target.size()));
    Raw.resize(std::min(Raw.size(), Raw.find('?')));
    Raw.resize(MHD_http_unescape(Raw.data()));
    const QByteArray Url(Raw.c_str());

    const bool NulInPath = TMediaServer::RawPathHoldsNul(Target);
    const QByteArray File = TMediaServer::LookupRequest(Url, NulInPath, Library);
    const QByteArray Path = TMediaServer::DecodeRequestPath(Url);
    Check(Path.isEmpty() || (Path.startsWith('/') && !Path.contains('\0')));
    if (!File.isEmpty()) {
        Check(!NulInPath && Library.contains(File) && !StartsWithAscii(File, "http://"));
        Check(File.endsWith(Path) && !Path.endsWith('/'));
    }

    const TByteRange Answer = ParseByteRange(Range, FileSize);
    if (Answer.Kind == TByteRange::Partial)
        Check(Answer.Offset >= 0 && Answer.Length > 0 && Answer.Offset + Answer.Length <= FileSize);
    Check(!MediaContentType(File).isEmpty());
    return 0;
}
