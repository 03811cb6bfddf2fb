#pragma once

#include "MpdCommandTable.h"
#include "MpdLineReader.h"

#include <optional>

// One client's side of the protocol, without a socket: bytes in, answers out. It carries out
// requests with the command table, runs command lists (each command's "list_OK" when asked
// for, the failing command's index in the ACK), waits in "idle" and pulls streamed answers a
// part at a time, so that what it holds for the client stays small whatever it asks.
class TMpdSession {
public:
    TMpdSession(const TMpdCommandTable &Table, TMpdClient Client);

    // The bytes the client sent.
    void Feed(QByteArrayView Bytes);
    // Carries out what was read until the output holds at least MaxOutput bytes or nothing
    // is left to do now.
    void Run(qsizetype MaxOutput);
    QByteArray TakeOutput() { return std::exchange(FOut, QByteArray()); }
    qsizetype OutputSize() const { return FOut.size(); }

    // Something changed: a client waiting on it in "idle" is told now, the others when
    // they next wait.
    void Notify(TMpdIdleMask Changed);

    // Whether the connection must close once the output is sent: "close", a limit passed,
    // or a command sent while waiting in "idle".
    bool WantsClose() const { return FClose; }
    // Waiting in "idle".
    bool IsIdle() const { return FIdle.has_value(); }
    // Whether Run() has work now: a request read but not done, or a streamed answer.
    bool HasWork() const;
    // A streamed answer that waited (TMpdResponse::Wait) goes on.
    void Wake() { FWaiting = false; }
    // Commands carried out so far (for the time-out of silent connections).
    quint64 CommandCount() const { return FCommandCount; }
    qint64 PendingInput() const { return FReader.PendingBytes(); }
    TMpdClient &Client() { return FClient; }
    const TMpdClient &Client() const { return FClient; }

private:
    // Carries out the next command of the current request, or starts the next request.
    void Step();
    void RunCommand(const TMpdLine &Line, int Index);
    void ContinueStream();
    // The command at Index is done: "list_OK" in an OK list; "OK" after the last one.
    void CommandDone();
    void Fail(int Code, int Index, const QByteArray &Word, const QByteArray &Text);
    void EnterIdle(TMpdIdleMask Mask);
    void WriteChanged();

    const TMpdCommandTable &FTable;
    TMpdClient FClient;
    TMpdLineReader FReader;
    std::optional<TMpdRequest> FRequest;
    int FIndex = 0;
    TMpdStep FStream;
    bool FWaiting = false; // the stream waits for Wake()
    QByteArray FStreamWord;
    QByteArray FOut;
    std::optional<TMpdIdleMask> FIdle; // what the client waits on
    TMpdIdleMask FEvents = 0;          // changes since it last heard of them
    quint64 FCommandCount = 0;
    bool FClose = false;
};
