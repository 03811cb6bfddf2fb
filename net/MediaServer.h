#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

struct MHD_Daemon;
struct MHD_Connection;

// The answer to a Range header for a file of a known size.
struct TByteRange {
    enum TKind { Whole, Partial, Unsatisfiable };
    TKind Kind = Whole;
    qint64 Offset = 0;
    qint64 Length = 0;
};

// Reads "bytes=a-b", "bytes=a-" and "bytes=-n". Anything it cannot read, and a
// list of several ranges, gives Whole (the whole file with 200).
TByteRange ParseByteRange(const QByteArray &Header, qint64 Size);

// The Content-Type sent for a file, chosen by its extension (ASCII case ignored);
// application/octet-stream for an extension the library does not accept.
QByteArray MediaContentType(const QByteArray &FileName);

// Serves the library's local files over HTTP to the players. Runs on
// libmicrohttpd's own threads and reads the library only through the snapshots
// the library source returns.
class TMediaServer {
public:
    using TLibrarySource = std::function<std::shared_ptr<const QByteArrayList>()>;

    // A connection that makes no progress for TimeoutSeconds is closed; tests shorten it.
    explicit TMediaServer(TLibrarySource Library, unsigned TimeoutSeconds = DefaultTimeoutSeconds);
    ~TMediaServer();
    TMediaServer(const TMediaServer &) = delete;
    TMediaServer &operator=(const TMediaServer &) = delete;

    // Listens on every IPv4 address; Port 0 picks a free one. False with *Error,
    // logged, when the port cannot be had.
    bool Start(quint16 Port, QString *Error = nullptr);
    void Stop();
    bool IsRunning() const { return FDaemon != nullptr; }
    // The bound port while running, else 0.
    quint16 Port() const { return FPort; }

    // The request path after the second percent decoding, or empty when the
    // request is invalid (not starting with "/", or holding a NUL).
    static QByteArray DecodeRequestPath(const QByteArray &Path);
    // For a Path starting with "/": the library entry that is not an http URL and equals
    // Path, else the last that ends with Path, else the last that contains it
    // (case-sensitive); else empty.
    static QByteArray FindLibraryFile(const QByteArray &Path, const QByteArrayList &Library);
    // Whether a raw request target's path (before any "?") holds "%00".
    static bool RawPathHoldsNul(QByteArrayView Target);
    // The library file a request names, or empty: Url as libmicrohttpd decoded it,
    // NulInPath from RawPathHoldsNul of the raw target.
    static QByteArray LookupRequest(const QByteArray &Url, bool NulInPath,
                                    const QByteArrayList &Library);

    // Connection timeout and limits of the server. The timeout and the limit per
    // client address keep peers that merely hold sockets open from locking out
    // every other; a player paused for longer reconnects with a byte range.
    static constexpr unsigned DefaultTimeoutSeconds = 30;
    static constexpr unsigned ConnectionLimit = 256;
    static constexpr unsigned ClientConnectionLimit = 32;

private:
    friend struct TMediaServerCallbacks;
    // Queues the answer to one GET or HEAD request.
    bool AnswerRequest(MHD_Connection *Connection, const char *Url, bool NulInPath);

    TLibrarySource FLibrary;
    unsigned FTimeoutSeconds;
    MHD_Daemon *FDaemon = nullptr;
    quint16 FPort = 0;
    // Guards FLastLog: libmicrohttpd's threads write it, the GUI thread reads it.
    std::mutex FLogLock;
    QString FLastLog;
};
