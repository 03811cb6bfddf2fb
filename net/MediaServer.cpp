#include "MediaServer.h"

#include "AsciiText.h"
#include "LogCategories.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char NotFoundBody[] = "The document requested is not availabe.";

// What the handler knows of a request between its calls, kept in libmicrohttpd's
// per-request pointer: whether the handler has seen the request yet, whether the raw path
// held "%00" (libmicrohttpd's own decoding cuts the path there, so the handler would see a
// shorter path), and a request for the routes with the body read so far.
struct TRequestState {
    bool Seen = false;
    bool NulInPath = false;
    std::unique_ptr<TWebRequest> Web;
    std::shared_ptr<TWebRoutes> Routes; // of Web
};

TWebRequest::TPairs ConnectionValues(MHD_Connection *Connection, MHD_ValueKind Kind) {
    TWebRequest::TPairs Pairs;
    MHD_get_connection_values(
        Connection, Kind,
        [](void *List, MHD_ValueKind, const char *Key, const char *Value) {
            static_cast<TWebRequest::TPairs *>(List)->append(
                std::pair<QByteArray, QByteArray>(Key, Value ? Value : ""));
            return MHD_YES;
        },
        &Pairs);
    return Pairs;
}

void AddCommonHeaders(MHD_Response *Response) {
    MHD_add_response_header(Response, MHD_HTTP_HEADER_CONNECTION, "close");
}

} // namespace

struct TMediaServerCallbacks {
    static MHD_Result Access(void *Self, MHD_Connection *Connection, const char *Url,
                             const char *Method, const char *, const char *UploadData,
                             size_t *UploadDataSize, void **RequestState) {
        auto *Server = static_cast<TMediaServer *>(Self);
        if (!*RequestState)
            *RequestState = new TRequestState;
        auto *State = static_cast<TRequestState *>(*RequestState);
        const bool Nul = State->NulInPath;
        if (!State->Seen && !Nul)
            if (auto Routes = Server->Routes(); Routes && Routes->Claims(Url))
                State->Routes = std::move(Routes);
        if (State->Routes && !State->Web) {
            State->Seen = true;
            State->Web = std::make_unique<TWebRequest>();
            State->Web->Method = Method;
            State->Web->Path = Url;
            State->Web->Headers = ConnectionValues(Connection, MHD_HEADER_KIND);
            State->Web->Arguments = ConnectionValues(Connection, MHD_GET_ARGUMENT_KIND);
            const MHD_ConnectionInfo *Info =
                MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            if (Info && Info->client_addr && Info->client_addr->sa_family == AF_INET)
                State->Web->Client = ntohl(
                    reinterpret_cast<const sockaddr_in *>(Info->client_addr)->sin_addr.s_addr);
            return MHD_YES;
        }
        if (TWebRequest *Web = State->Web.get()) {
            if (*UploadDataSize != 0) {
                // Kept up to the bound, the rest read and dropped.
                const qsizetype Room = TWebRoutes::MaxBody - Web->Body.size();
                if (qsizetype(*UploadDataSize) > Room)
                    Web->BodyTooLarge = true;
                if (!Web->BodyTooLarge)
                    Web->Body.append(UploadData, qsizetype(*UploadDataSize));
                *UploadDataSize = 0;
                return MHD_YES;
            }
            return TMediaServer::AnswerWeb(Connection, *State->Routes, *Web) ? MHD_YES : MHD_NO;
        }
        const bool Get = strcmp(Method, MHD_HTTP_METHOD_GET) == 0;
        const bool Head = strcmp(Method, MHD_HTTP_METHOD_HEAD) == 0;
        if (!Get && !Head) {
            // Answered at once: a body it may carry is never read.
            MHD_Response *Response =
                MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            if (!Response)
                return MHD_NO;
            AddCommonHeaders(Response);
            MHD_add_response_header(Response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
            const MHD_Result Result =
                MHD_queue_response(Connection, MHD_HTTP_METHOD_NOT_ALLOWED, Response);
            MHD_destroy_response(Response);
            return Result;
        }
        if (!State->Seen) {
            State->Seen = true;
            return MHD_YES;
        }
        if (*UploadDataSize != 0) {
            *UploadDataSize = 0; // a GET body is read and dropped
            return MHD_YES;
        }
        return Server->AnswerRequest(Connection, Url, Nul) ? MHD_YES : MHD_NO;
    }

    static void *UriLog(void *, const char *Uri, MHD_Connection *) {
        auto *State = new TRequestState;
        State->NulInPath = TMediaServer::RawPathHoldsNul(Uri);
        return State;
    }

    static void Completed(void *, MHD_Connection *, void **RequestState,
                          MHD_RequestTerminationCode) {
        delete static_cast<TRequestState *>(*RequestState);
        *RequestState = nullptr;
    }

    // A stream's body: the connection's thread reads it; the holder goes with the response.
    struct TStreamHolder {
        std::shared_ptr<TWebStream> Stream;
        int PeerFd = -1;
    };

    static ssize_t ReadStream(void *Holder, uint64_t, char *Buffer, size_t Max) {
        auto *Held = static_cast<TStreamHolder *>(Holder);
        const qint64 Count = Held->Stream->Read(Buffer, qint64(Max), Held->PeerFd);
        return Count > 0 ? ssize_t(Count) : MHD_CONTENT_READER_END_OF_STREAM;
    }

    // An answer's body stays shared with whoever made it (one library page read by many).
    static void FreeBody(void *Body) { delete static_cast<QByteArray *>(Body); }

    static void FreeStream(void *Holder) {
        auto *Held = static_cast<TStreamHolder *>(Holder);
        Held->Stream->Finished();
        delete Held;
    }

    static void Log(void *Self, const char *Format, va_list Args) {
        char Text[512];
        vsnprintf(Text, sizeof Text, Format, Args);
        auto *Server = static_cast<TMediaServer *>(Self);
        std::lock_guard Lock(Server->FLogLock);
        Server->FLastLog = QString::fromLocal8Bit(Text).trimmed();
    }
};

TMediaServer::TMediaServer(TLibrarySource Library, unsigned TimeoutSeconds)
    : FLibrary(std::move(Library)), FTimeoutSeconds(TimeoutSeconds) {}

TMediaServer::~TMediaServer() {
    Stop();
}

bool TMediaServer::Start(quint16 Port, QString *Error) {
    Stop();
    {
        std::lock_guard Lock(FLogLock);
        FLastLog.clear();
    }
    // Without MSG_NOSIGNAL-style suppression a client that hangs up during
    // sendfile would kill the whole program.
    if (MHD_is_feature_supported(MHD_FEATURE_AUTOSUPPRESS_SIGPIPE) != MHD_YES)
        signal(SIGPIPE, SIG_IGN);
    // One thread per connection: a slow or silent client never holds up another.
    const unsigned Flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                           MHD_USE_POLL | MHD_USE_ERROR_LOG;
    // The logger comes first, so that messages about the other options reach it too.
    FDaemon = MHD_start_daemon(
        Flags, Port, nullptr, nullptr, &TMediaServerCallbacks::Access, this,
        MHD_OPTION_EXTERNAL_LOGGER, &TMediaServerCallbacks::Log, this,
        MHD_OPTION_CONNECTION_TIMEOUT, FTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT,
        ConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, ClientConnectionLimit,
        MHD_OPTION_URI_LOG_CALLBACK, &TMediaServerCallbacks::UriLog, this,
        MHD_OPTION_NOTIFY_COMPLETED, &TMediaServerCallbacks::Completed, this, MHD_OPTION_END);
    if (!FDaemon) {
        QString Reason;
        {
            std::lock_guard Lock(FLogLock);
            Reason = QStringLiteral("Cannot listen on port %1: %2")
                         .arg(Port)
                         .arg(FLastLog.isEmpty() ? QStringLiteral("unknown reason") : FLastLog);
        }
        qCWarning(LogNet, "Media server not started on TCP port %u: %s", unsigned(Port),
                  qUtf8Printable(Reason));
        if (Error)
            *Error = Reason;
        return false;
    }
    const MHD_DaemonInfo *Info = MHD_get_daemon_info(FDaemon, MHD_DAEMON_INFO_BIND_PORT);
    FPort = Info ? Info->port : Port;
    return true;
}

unsigned TMediaServer::OpenConnections() const {
    if (!FDaemon)
        return 0;
    const MHD_DaemonInfo *Info = MHD_get_daemon_info(FDaemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    return Info ? Info->num_connections : 0;
}

void TMediaServer::Stop() {
    if (!FDaemon)
        return;
    // Threads waiting in the routes must return before the daemon can join them.
    if (const auto Routes = this->Routes())
        Routes->Close();
    MHD_stop_daemon(FDaemon);
    FDaemon = nullptr;
    FPort = 0;
}

QByteArray TMediaServer::DecodeRequestPath(const QByteArray &Path) {
    const QByteArray Decoded = PercentDecode(Path);
    if (!Decoded.startsWith('/') || Decoded.contains('\0'))
        return {};
    return Decoded;
}

QByteArray TMediaServer::FindLibraryFile(const QByteArray &Path, const QByteArrayList &Library) {
    // A request names a file by its whole name, with as many of its folders as it likes:
    // "/Seven" is not ".../Seven Seas.wav", and "/" or "/Album/" names no file.
    if (!Path.startsWith('/') || Path.endsWith('/'))
        return {};
    // The entry itself wins over one that ends with it ("/a/x.mp3" when "/b/a/x.mp3" stands
    // later: no shorter name tells them apart).
    QByteArray Found;
    for (qsizetype I = Library.size() - 1; I >= 0; --I) {
        const QByteArray &Entry = Library.at(I);
        // Path starts with "/", so no http entry equals it.
        if (Entry == Path)
            return Entry;
        if (Found.isEmpty() && Entry.endsWith(Path) && !StartsWithAscii(Entry, "http://"))
            Found = Entry;
    }
    return Found;
}

bool TMediaServer::RawPathHoldsNul(QByteArrayView Target) {
    const qsizetype Query = Target.indexOf('?');
    return (Query < 0 ? Target : Target.first(Query)).contains("%00");
}

QByteArray TMediaServer::LookupRequest(const QByteArray &Url, bool NulInPath,
                                       const QByteArrayList &Library) {
    return NulInPath ? QByteArray() : FindLibraryFile(DecodeRequestPath(Url), Library);
}

bool FromAnotherSite(QByteArrayView SecFetchSite) {
    return SecFetchSite == "cross-site" || SecFetchSite == "same-site";
}

bool TMediaServer::AnswerRequest(MHD_Connection *Connection, const char *Url, bool NulInPath) {
    QByteArray File;
    // Another site's page (an <audio>, an <img>) learns nothing of what the library holds.
    const char *Site = MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Sec-Fetch-Site");
    if (FLibrary && !(Site && FromAnotherSite(Site)))
        if (const auto Library = FLibrary())
            File = LookupRequest(QByteArray(Url), NulInPath, *Library);

    int Fd = -1;
    struct stat Info {};
    if (!File.isEmpty() && !File.contains('\0')) {
        // Non-blocking open so that a FIFO in the library cannot hang the thread.
        Fd = open(File.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (Fd >= 0 && (fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode))) {
            close(Fd);
            Fd = -1;
        }
        if (Fd >= 0)
            fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
    }

    MHD_Response *Response = nullptr;
    unsigned Status = MHD_HTTP_NOT_FOUND;
    if (Fd >= 0) {
        const qint64 Size = Info.st_size;
        const char *RangeHeader =
            MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
        const TByteRange Range = RangeHeader ? ParseByteRange(RangeHeader, Size) : TByteRange();
        if (Range.Kind == TByteRange::Unsatisfiable) {
            close(Fd);
            Response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            Status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
            if (Response)
                MHD_add_response_header(
                    Response, MHD_HTTP_HEADER_CONTENT_RANGE,
                    QByteArray("bytes */" + QByteArray::number(Size)).constData());
        } else {
            const bool Partial = Range.Kind == TByteRange::Partial;
            const qint64 Offset = Partial ? Range.Offset : 0;
            const qint64 Length = Partial ? Range.Length : Size;
            // Owns the descriptor from here on, also when it fails.
            Response =
                MHD_create_response_from_fd_at_offset64(uint64_t(Length), Fd, uint64_t(Offset));
            if (!Response)
                close(Fd);
            Status = Partial ? MHD_HTTP_PARTIAL_CONTENT : MHD_HTTP_OK;
            if (Response && Partial) {
                const QByteArray ContentRange = "bytes " + QByteArray::number(Offset) + '-' +
                                                QByteArray::number(Offset + Length - 1) + '/' +
                                                QByteArray::number(Size);
                MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_RANGE,
                                        ContentRange.constData());
            }
        }
        if (Response) {
            MHD_add_response_header(Response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
            MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                    MediaContentType(File).constData());
        }
    }
    if (!Response) {
        Status = MHD_HTTP_NOT_FOUND;
        Response = MHD_create_response_from_buffer(
            sizeof NotFoundBody - 1, const_cast<char *>(NotFoundBody), MHD_RESPMEM_PERSISTENT);
        if (!Response)
            return false;
        MHD_add_response_header(Response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
    }
    AddCommonHeaders(Response);
    const MHD_Result Result = MHD_queue_response(Connection, Status, Response);
    MHD_destroy_response(Response);
    return Result == MHD_YES;
}

void TMediaServer::SetRoutes(std::shared_ptr<TWebRoutes> Routes) {
    std::lock_guard Lock(FRoutesLock);
    FRoutes = std::move(Routes);
}

std::shared_ptr<TWebRoutes> TMediaServer::Routes() const {
    std::lock_guard Lock(FRoutesLock);
    return FRoutes;
}

bool TMediaServer::AnswerWeb(MHD_Connection *Connection, TWebRoutes &Routes,
                             const TWebRequest &Request) {
    const TWebAnswer Answer = Routes.Answer(Request);
    MHD_Response *Response = nullptr;
    if (Answer.Stream) {
        constexpr size_t StreamBlock = 16 * 1024;
        const MHD_ConnectionInfo *Info =
            MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        auto *Holder =
            new TMediaServerCallbacks::TStreamHolder{Answer.Stream, Info ? Info->connect_fd : -1};
        Response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, StreamBlock,
                                                     &TMediaServerCallbacks::ReadStream, Holder,
                                                     &TMediaServerCallbacks::FreeStream);
        if (!Response)
            TMediaServerCallbacks::FreeStream(Holder);
    } else {
        auto *Body = new QByteArray(Answer.Body);
        Response = MHD_create_response_from_buffer_with_free_callback_cls(
            size_t(Body->size()), const_cast<char *>(Body->constData()),
            &TMediaServerCallbacks::FreeBody, Body);
        if (!Response)
            TMediaServerCallbacks::FreeBody(Body);
    }
    if (!Response)
        return false;
    for (const auto &[Name, Value] : Answer.Headers)
        MHD_add_response_header(Response, Name.constData(), Value.constData());
    AddCommonHeaders(Response);
    const MHD_Result Result = MHD_queue_response(Connection, Answer.Status, Response);
    MHD_destroy_response(Response);
    return Result == MHD_YES;
}
