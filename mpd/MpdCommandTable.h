#pragma once

#include "MpdIdle.h"
#include "MpdResponse.h"
#include "MpdSong.h"

#include <QByteArrayList>
#include <QHash>

#include <functional>
#include <utility>

// What one connection has told the door about itself; handlers read and set it.
struct TMpdClient {
    quint64 Id = 0;
    QByteArray Peer;               // the peer's address as text
    TMpdTagMask Tags = MpdAllTags; // "tagtypes": the tags its song answers carry
    qsizetype BinaryLimit = 8192;  // "binarylimit": the largest binary chunk it takes
    bool Authorized = true;        // false until "password" while the door has one
    // Set by handlers, acted on by the session after the command's answer:
    bool CloseRequested = false;               // "close"
    std::optional<TMpdIdleMask> IdleRequested; // "idle": the subsystems to wait on
};

// One call of a command: its arguments (after the word), its answer and its connection.
struct TMpdCall {
    const QByteArrayList &Args;
    TMpdResponse &Out;
    TMpdClient &Client;
};
using TMpdHandler = std::function<void(TMpdCall &Call)>;

// One command the door carries out. Argument counts outside [MinArgs, MaxArgs] are refused
// before Run is called ("wrong number of arguments"); MaxArgs -1 means no limit.
struct TMpdCommand {
    QByteArray Word;
    int MinArgs = 0;
    int MaxArgs = 0;
    TMpdHandler Run;
    // Whether a connection must have given the password first (when the door has one).
    bool NeedsPassword = true;
};

// The commands by word; "commands" and "notcommands" are made from it, so what it holds is
// exactly what works.
class TMpdCommandTable {
public:
    // Adds Command, or replaces the one with its word.
    void Add(TMpdCommand Command);
    const TMpdCommand *Find(const QByteArray &Word) const;
    // Every word, sorted.
    QByteArrayList Words() const;

private:
    QHash<QByteArray, TMpdCommand> FCommands;
};

// Argument readers for handlers; each throws TMpdError (Arg) on text that is not one.
// A whole number in [Min, Max].
qint64 MpdInteger(const QByteArray &Arg, qint64 Min = 0, qint64 Max = 0x7FFFFFFF);
// A decimal number (seconds, "+5", "-2.5").
double MpdNumber(const QByteArray &Arg);
// "0" or "1".
bool MpdBool(const QByteArray &Arg);
// "N" (N to N+1), "START:END" (END excluded) or "START:" (to the end: End is -1).
struct TMpdRange {
    int Start = 0;
    int End = -1;
};
TMpdRange MpdRangeArg(const QByteArray &Arg);
