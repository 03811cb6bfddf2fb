#include "MpdSession.h"

TMpdSession::TMpdSession(const TMpdCommandTable &Table, TMpdClient Client)
    : FTable(Table), FClient(std::move(Client)) {}

void TMpdSession::Feed(QByteArrayView Bytes) {
    if (FClose)
        return;
    FReader.Feed(Bytes);
    if (FReader.Failed())
        FClose = true;
}

bool TMpdSession::HasWork() const {
    return !FClose && ((FStream && !FWaiting) || (!FStream && (FRequest || FReader.HasRequest())));
}

void TMpdSession::Run(qsizetype MaxOutput) {
    while (HasWork() && FOut.size() < MaxOutput)
        Step();
}

void TMpdSession::Step() {
    if (FStream) {
        ContinueStream();
        return;
    }
    if (!FRequest) {
        FRequest = FReader.Next();
        FIndex = 0;
        if (!FRequest)
            return;
        if (FIdle) {
            // Waiting in idle, the client may only end the wait.
            const bool NoIdle = FRequest->Kind == TMpdRequest::Single &&
                                FRequest->Lines[0].Words == QByteArrayList{"noidle"};
            FRequest.reset();
            if (!NoIdle) {
                FClose = true;
                return;
            }
            FIdle.reset();
            FOut.append("OK\n");
            return;
        }
        if (FRequest->Lines.isEmpty()) { // an empty command list
            FRequest.reset();
            FOut.append("OK\n");
            return;
        }
    }
    RunCommand(FRequest->Lines[FIndex], FIndex);
}

void TMpdSession::Fail(int Code, int Index, const QByteArray &Word, const QByteArray &Text) {
    FOut.append("ACK [" + QByteArray::number(Code) + '@' + QByteArray::number(Index) + "] {" +
                Word + "} " + Text + '\n');
    FRequest.reset();
    FStream = nullptr;
}

void TMpdSession::RunCommand(const TMpdLine &Line, int Index) {
    ++FCommandCount;
    if (!Line.Error.isEmpty()) {
        Fail(int(TMpdAck::Unknown), Index, {}, Line.Error);
        return;
    }
    const QByteArray Word = Line.Words[0];
    if (Word == "noidle" && FRequest->Kind == TMpdRequest::Single) {
        FRequest.reset(); // outside idle: no answer at all
        return;
    }
    const TMpdCommand *Command = FTable.Find(Word);
    if (!Command) {
        Fail(int(TMpdAck::Unknown), Index, {}, "unknown command \"" + Word + '"');
        return;
    }
    if (Command->NeedsPassword && !FClient.Authorized) {
        Fail(int(TMpdAck::Permission), Index, Word,
             "you don't have permission for \"" + Word + '"');
        return;
    }
    const QByteArrayList Args = Line.Words.mid(1);
    if (Args.size() < Command->MinArgs ||
        (Command->MaxArgs >= 0 && Args.size() > Command->MaxArgs)) {
        Fail(int(TMpdAck::Arg), Index, Word, "wrong number of arguments for \"" + Word + '"');
        return;
    }
    TMpdResponse Out;
    TMpdCall Call{Args, Out, FClient};
    try {
        Command->Run(Call);
    } catch (const TMpdError &Error) {
        FClient.IdleRequested.reset();
        Fail(int(Error.Code), Index, Word, Error.Text);
        return;
    }
    if (Out.Overflowed()) {
        Fail(int(TMpdAck::System), Index, Word, "answer too large");
        return;
    }
    FOut.append(Out.Take());
    if (FClient.CloseRequested) {
        FClose = true;
        FRequest.reset();
        return;
    }
    if (const std::optional<TMpdIdleMask> Mask = std::exchange(FClient.IdleRequested, {})) {
        FRequest.reset();
        EnterIdle(*Mask);
        return;
    }
    if ((FStream = Out.TakeStream())) {
        FStreamWord = Word;
        return;
    }
    CommandDone();
}

void TMpdSession::ContinueStream() {
    TMpdResponse Out;
    bool Done = false;
    try {
        Done = FStream(Out);
    } catch (const TMpdError &Error) {
        FOut.append(Out.Take());
        Fail(int(Error.Code), FIndex, FStreamWord, Error.Text);
        return;
    }
    if (Out.Overflowed()) {
        Fail(int(TMpdAck::System), FIndex, FStreamWord, "answer too large");
        return;
    }
    if (!Done && Out.Size() == 0 && !Out.Waiting()) {
        // A step that neither writes nor ends would be called for ever.
        Fail(int(TMpdAck::System), FIndex, FStreamWord, "answer stalled");
        return;
    }
    FOut.append(Out.Take());
    FWaiting = !Done && Out.Waiting();
    if (Done) {
        FStream = nullptr;
        CommandDone();
    }
}

void TMpdSession::CommandDone() {
    if (FRequest->Kind == TMpdRequest::ListOk)
        FOut.append("list_OK\n");
    if (++FIndex < FRequest->Lines.size())
        return;
    FRequest.reset();
    FOut.append("OK\n");
}

void TMpdSession::EnterIdle(TMpdIdleMask Mask) {
    FIdle = Mask;
    if (FEvents & Mask)
        WriteChanged();
}

void TMpdSession::Notify(TMpdIdleMask Changed) {
    FEvents |= Changed;
    if (FIdle && (FEvents & *FIdle))
        WriteChanged();
}

void TMpdSession::WriteChanged() {
    const TMpdIdleMask Wanted = std::exchange(FEvents, 0) & *FIdle;
    const QByteArrayList &Names = MpdIdleNames();
    for (qsizetype I = 0; I < Names.size(); ++I)
        if (Wanted & (1u << I))
            FOut.append("changed: " + Names[I] + '\n');
    FOut.append("OK\n");
    FIdle.reset();
}
