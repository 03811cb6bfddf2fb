#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>

#include <cstddef>
#include <optional>

// The command words as they go on the wire, each spelled here only.
namespace CommandWord {
inline constexpr char Get[] = "GET";
inline constexpr char Add[] = "ADD";
inline constexpr char UpdateList[] = "UPDATELIST";
inline constexpr char State[] = "STATE";
inline constexpr char Volume[] = "VOLUMN"; // so spelled by every peer
inline constexpr char Mute[] = "MUTE";
inline constexpr char URL[] = "URL";
inline constexpr char UpdatePosition[] = "UPDATEPOSITION";
inline constexpr char List[] = "LIST";
inline constexpr char Position[] = "POSITION";
// Rooms in sync: a controller opts in with GroupWatch; old speakers ignore these words.
inline constexpr char GroupWatch[] = "GROUPWATCH";
inline constexpr char GroupAdd[] = "GROUPADD";
inline constexpr char GroupLeave[] = "GROUPLEAVE";
inline constexpr char GroupVolume[] = "GROUPVOLUME";
inline constexpr char GroupMute[] = "GROUPMUTE";
inline constexpr char Group[] = "GROUP";
inline constexpr char GroupError[] = "GROUPERROR";
} // namespace CommandWord

// Play states of the media component; the numbers go on the wire unchanged, and a peer may
// send any other number.
enum class TPlayState : qint32 {
    Undefined = 0,
    Stopped = 1,
    Paused = 2,
    Playing = 3,
    ScanForward = 4,
    ScanReverse = 5,
    Buffering = 6,
    Waiting = 7,
    MediaEnded = 8,
    Transitioning = 9,
    Ready = 10,
    Reconnecting = 11,
};

// The argument line of a play state.
inline QByteArray StateArgument(TPlayState State) {
    return QByteArray::number(qint32(State));
}
// The argument line of a boolean: "-1" for true, "0" for false.
inline QByteArray BoolArgument(bool Value) {
    return Value ? QByteArrayLiteral("-1") : QByteArrayLiteral("0");
}

// The program's fixed ports: the speaker's commands (TCP), the media server (TCP) and presence
// (UDP).
constexpr quint16 CommandServerPort = 37400;
constexpr quint16 MediaServerPort = 37401;
constexpr quint16 PresenceServerPort = 37400;

// Limits and timing of the command connection (TCP 37400).
constexpr qsizetype MaxCommandLineLength = 16384;      // bytes, line terminator not counted
constexpr qint32 MaxCommandItemCount = 100000;         // item lines in one counted message
constexpr qint64 MaxCommandPayload = 16 * 1024 * 1024; // item bytes in one message, no terminators
constexpr qint64 CommandLineTimeoutMs = 5000;          // wait for each argument line

// A play list holds at most this many rows and this much location text (each row's line as
// "LIST" writes it), so a "LIST" always fits in one message that a controller accepts.
constexpr int MaxPlayListRows = MaxCommandItemCount;
constexpr qint64 MaxPlayListBytes = 16 * 1024 * 1024;

// What follows a command's word line.
enum class TCommandShape {
    WordOnly, // nothing (GET on the speaker: its empty line is read as a word line)
    Single,   // exactly Arguments argument lines
    Counted,  // a count line, then that many item lines
};

// One entry of a reader's command table.
struct TCommandEntry {
    QByteArray Word;
    TCommandShape Shape = TCommandShape::Single;
    // A Single argument that must be an integer (the last, when there are several); a bad or
    // missing one drops the command.
    bool Numeric = false;
    // A Counted message is dropped, not padded with empty lines, when its item lines stall.
    bool AllItemsOrNothing = false;
    int Arguments = 1; // lines of a Single message
};

using TCommandTable = QList<TCommandEntry>;

// The words a speaker reads from controllers, in matching order.
const TCommandTable &SpeakerCommands();
// The words a controller reads from a speaker.
const TCommandTable &ControllerCommands();

// Milliseconds since the kernel received the newest data on a connected TCP socket, 0 when it
// cannot tell: lines read late (the GUI thread was busy) are judged by when they arrived.
qint64 SinceLastDataMs(qintptr SocketDescriptor);
// Bytes the kernel holds for a socket that nobody has read yet.
qint64 KernelBytesWaiting(qintptr SocketDescriptor);

// The wire's integer rule: decimal digits with an optional leading "-", 32-bit range.
std::optional<qint32> ParseCommandInteger(QByteArrayView Text);

// Whether an empty Single argument is written as an empty line or left out.
enum class TEmptyArgument {
    Omit, // speaker: no argument line for an empty value
    Send, // controller: the argument line is always written
};

// The entry for Word in Table, or null when Table does not hold it.
const TCommandEntry *FindCommand(const TCommandTable &Table, QByteArrayView Word);

// What one side does with one command word its reader's table holds.
template <class TRun> struct TCommandHandler {
    const char *Word;
    TRun Run;
};

// The handler for Word in Handlers, or null.
template <class TRun, std::size_t Count>
const TRun *FindHandler(const TCommandHandler<TRun> (&Handlers)[Count], QByteArrayView Word) {
    for (const TCommandHandler<TRun> &Handler : Handlers)
        if (Word == Handler.Word)
            return &Handler.Run;
    return nullptr;
}

// The bytes of one whole message: the word line, then the count line and the payload's lines
// for a word that a reader's table counts, else the payload as one argument line. Every line ends
// with CR LF and a line starting with "." gets one more "." in front (readers take it off).
QByteArray BuildMessage(const QByteArray &Word, const QByteArray &Payload,
                        TEmptyArgument Empty = TEmptyArgument::Omit);

// A message of a fixed number of argument lines (none included), each the first line of its
// argument, for the words that take more or fewer than one.
QByteArray BuildArgumentsMessage(const QByteArray &Word, const QByteArrayList &Arguments);

// A controller's command: as BuildMessage, but a Single argument line is always written.
inline QByteArray BuildControllerMessage(const QByteArray &Word, const QByteArray &Body) {
    return BuildMessage(Word, Body, TEmptyArgument::Send);
}
