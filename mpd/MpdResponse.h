#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// The error numbers of the protocol's "ACK [code@index] {command} text" line.
enum class TMpdAck : int {
    NotList = 1,
    Arg = 2,
    Password = 3,
    Permission = 4,
    Unknown = 5,
    NoExist = 50,
    PlaylistMax = 51,
    System = 52,
    PlaylistLoad = 53,
    UpdateAlready = 54,
    PlayerSync = 55,
    Exist = 56,
};

// A command that cannot be carried out; thrown by a handler (or a helper it calls), caught by
// the session, which discards the command's answer and sends the ACK line instead.
struct TMpdError {
    TMpdAck Code = TMpdAck::Unknown;
    QByteArray Text;
};

// Throws TMpdError{Code, Text}.
[[noreturn]] void MpdFail(TMpdAck Code, const QByteArray &Text);

class TMpdResponse;
// One part of a streamed answer: writes entries until Out.Full() (or the end) and returns
// true once the answer is complete. Called again, as the client takes what was sent, until
// it returns true. It may throw TMpdError: the part written so far is sent, then the ACK.
using TMpdStep = std::function<bool(TMpdResponse &Out)>;

// The answer of one command, built as "key: value" lines and binary chunks. Its size is
// bounded: past Budget nothing more is kept and the session refuses the answer with an ACK,
// so no answer is ever held whole beyond its budget. An answer that can be long (a list of
// the library, of the queue) streams instead: Stream() hands the session a step that writes
// it a part at a time as the client reads.
class TMpdResponse {
public:
    // Bytes an answer may take; a streamed part is Full() past SliceBytes.
    static constexpr qsizetype DefaultBudget = 8 * 1024 * 1024;
    static constexpr qsizetype SliceBytes = 64 * 1024;

    explicit TMpdResponse(qsizetype Budget = DefaultBudget) : FBudget(Budget) {}

    // "Key: Value\n"; a line break inside Value turns into a space.
    void Add(QByteArrayView Key, QByteArrayView Value);
    void Add(QByteArrayView Key, qint64 Value);
    // "Key: Value\n" with three decimals ("." whatever the locale).
    void AddSeconds(QByteArrayView Key, double Value);
    // "binary: N\n", the bytes, "\n".
    void AddBinary(QByteArrayView Data);
    // A line as it is, without its "\n" (for answers with no key).
    void AddLine(QByteArrayView Line);

    // Whether a streamed part has reached its slice: the step should return and wait.
    bool Full() const { return FText.size() >= SliceBytes; }
    // Whether the answer passed its budget (what came after was dropped).
    bool Overflowed() const { return FOverflowed; }
    qsizetype Size() const { return FText.size(); }
    const QByteArray &Text() const { return FText; }
    QByteArray Take() { return std::exchange(FText, QByteArray()); }

    // Said by a step that has nothing to write yet (its data is being made elsewhere): it is
    // called again once TMpdServer::Wake names its client.
    void Wait() { FWaiting = true; }
    bool Waiting() const { return FWaiting; }

    // The rest of the answer comes from Step (after what this answer holds already).
    void Stream(TMpdStep Step) { FStream = std::move(Step); }
    TMpdStep TakeStream() { return std::exchange(FStream, TMpdStep()); }

private:
    // Appends Bytes unless the budget is passed.
    bool Fits(qsizetype Bytes);

    QByteArray FText;
    qsizetype FBudget;
    bool FOverflowed = false;
    bool FWaiting = false;
    TMpdStep FStream;
};
