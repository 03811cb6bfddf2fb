#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
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

// One request for the routes a folder above adds, as libmicrohttpd parsed it.
struct TWebRequest {
    using TPairs = QList<std::pair<QByteArray, QByteArray>>;
    QByteArray Method;
    QByteArray Path;  // decoded once, the query cut off
    TPairs Headers;   // in arrival order, names as sent
    TPairs Arguments; // of the query, decoded
    QByteArray Body;  // at most MaxBody bytes
    bool BodyTooLarge = false;
    quint32 ClientAddress = 0; // the peer's IPv4 address (0: not IPv4)

    // The first header or argument called Name (header names: A-Z case ignored), and how
    // many there are.
    QByteArray Header(QByteArrayView Name) const;
    int HeaderCount(QByteArrayView Name) const;
    QByteArray Argument(QByteArrayView Name) const;
};

// A body a connection's thread produces while it sends.
class TWebStream {
public:
    virtual ~TWebStream() = default;
    // Fills Buffer with at most Max bytes, waiting (bounded) until there are some; the
    // count, or -1 at the end of the stream. Never 0. PeerFd: the connection's socket, so a
    // wait can end when the client hangs up (-1: none).
    virtual qint64 Read(char *Buffer, qint64 Max, int PeerFd) = 0;
    // The connection is over: Read is not called again.
    virtual void Finished() = 0;
};

// The answer to a TWebRequest: Body, or a Stream of unknown length.
struct TWebAnswer {
    unsigned Status = 200;
    TWebRequest::TPairs Headers;
    QByteArray Body;
    std::shared_ptr<TWebStream> Stream;
};

// Routes that a folder above puts on the media server. Called on libmicrohttpd's threads,
// each connection on its own: Answer may block that thread for a bounded time.
class TWebRoutes {
public:
    virtual ~TWebRoutes() = default;
    // Whether Path (decoded once, query cut) is one of the routes; otherwise the request is
    // a library lookup.
    virtual bool Claims(const QByteArray &Path) const = 0;
    virtual TWebAnswer Answer(const TWebRequest &Request) = 0;
    // The server stops: every Answer and stream still waiting returns at once, and later ones
    // do not wait. For good.
    virtual void Close() = 0;

    // Bytes of a body kept; past that the request is marked BodyTooLarge.
    static constexpr qsizetype MaxBody = 64 * 1024;
};

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
    // Closes the routes (their waits end at once), then stops serving.
    void Stop();
    // Routes served before the library lookup, from the next request on.
    void SetRoutes(std::shared_ptr<TWebRoutes> Routes);
    bool IsRunning() const { return FDaemon != nullptr; }
    // The bound port while running, else 0.
    quint16 Port() const { return FPort; }
    // Connections open now (0 when stopped): a closed one counts until its thread has ended.
    unsigned OpenConnections() const;

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
    static bool AnswerWeb(MHD_Connection *Connection, TWebRoutes &Routes,
                          const TWebRequest &Request);
    std::shared_ptr<TWebRoutes> Routes() const;

    TLibrarySource FLibrary;
    mutable std::mutex FRoutesLock; // the GUI thread sets FRoutes, requests read it
    std::shared_ptr<TWebRoutes> FRoutes;
    unsigned FTimeoutSeconds;
    MHD_Daemon *FDaemon = nullptr;
    quint16 FPort = 0;
    // Guards FLastLog: libmicrohttpd's threads write it, the GUI thread reads it.
    std::mutex FLogLock;
    QString FLastLog;
};
