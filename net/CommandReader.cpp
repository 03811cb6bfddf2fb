#include "CommandReader.h"

TCommandReader::TCommandReader(const TCommandTable &Table, qint64 LineTimeoutMs)
    : FTable(Table), FLineTimeout(LineTimeoutMs) {}

void TCommandReader::Feed(QByteArrayView Bytes, qint64 NowMs) {
    // A line that completes after its deadline is late even when the timer has not fired yet.
    Expire(NowMs);
    qsizetype Pos = 0;
    while (Pos < Bytes.size()) {
        const qsizetype Lf = Bytes.indexOf('\n', Pos);
        if (Lf < 0) {
            if (FSkipping)
                return;
            const qsizetype Size = FPartial.size() + (Bytes.size() - Pos);
            // One byte past the limit may still be the CR of a CR LF.
            const bool TooLong = Size > MaxCommandLineLength + 1 ||
                                 (Size == MaxCommandLineLength + 1 && !Bytes.endsWith('\r'));
            if (TooLong) {
                LineTooLong();
                return;
            }
            FPartial.append(Bytes.sliced(Pos));
            return;
        }
        if (FSkipping) {
            FSkipping = false;
        } else {
            // A line that lies whole in Bytes is read in place, without a copy.
            QByteArrayView Line = Bytes.sliced(Pos, Lf - Pos);
            if (!FPartial.isEmpty()) {
                FPartial.append(Line);
                Line = FPartial;
            }
            if (Line.endsWith('\r'))
                Line.chop(1);
            if (Line.size() > MaxCommandLineLength)
                DropMessage();
            else
                TakeLine(Line, NowMs);
            FPartial.clear();
        }
        Pos = Lf + 1;
    }
}

void TCommandReader::LineTooLong() {
    FPartial.clear();
    FPartial.squeeze();
    FSkipping = true;
    DropMessage();
}

void TCommandReader::Expire(qint64 NowMs) {
    if (FPhase == TPhase::Word || NowMs < FDeadline)
        return;
    switch (FPhase) {
    case TPhase::Argument:
        if (FEntry.Numeric) {
            DropMessage();
        } else {
            while (FCurrent.Lines.size() < FEntry.Arguments)
                FCurrent.Lines.append(QByteArray());
            Deliver();
        }
        break;
    case TPhase::Count:
        DropMessage();
        break;
    case TPhase::Items:
        if (FEntry.AllItemsOrNothing) {
            DropMessage();
        } else {
            // Every missing item line is an empty one; the late ones are read as words.
            for (; FRemaining > 0; --FRemaining)
                FCurrent.Lines.append(QByteArray());
            Deliver();
        }
        break;
    case TPhase::Word:
        break;
    }
}

std::optional<qint64> TCommandReader::NextDeadline() const {
    if (FPhase == TPhase::Word)
        return std::nullopt;
    return FDeadline;
}

std::optional<TCommandMessage> TCommandReader::Next() {
    if (FReady.empty())
        return std::nullopt;
    TCommandMessage Message = std::move(FReady.front());
    FReady.pop_front();
    return Message;
}

void TCommandReader::StartMessage(const TCommandEntry &Entry, qint64 NowMs) {
    FEntry = Entry;
    FCurrent = TCommandMessage{Entry.Word, {}, 0};
    switch (Entry.Shape) {
    case TCommandShape::WordOnly:
        Deliver();
        return;
    case TCommandShape::Single:
        FPhase = TPhase::Argument;
        break;
    case TCommandShape::Counted:
        FPhase = TPhase::Count;
        break;
    }
    FDeadline = NowMs + FLineTimeout;
}

void TCommandReader::TakeLine(QByteArrayView Line, qint64 NowMs) {
    // Writers put a "." in front of a line that starts with one.
    if (Line.startsWith(".."))
        Line = Line.sliced(1);
    switch (FPhase) {
    case TPhase::Word:
        if (const TCommandEntry *Entry = FindCommand(FTable, Line))
            StartMessage(*Entry, NowMs);
        return;
    case TPhase::Argument: {
        const bool Last = FCurrent.Lines.size() + 1 >= FEntry.Arguments;
        if (FEntry.Numeric && Last) {
            const std::optional<qint32> Value = ParseCommandInteger(Line);
            if (!Value) {
                DropMessage();
                return;
            }
            FCurrent.Value = *Value;
        }
        FCurrent.Lines.append(Line.toByteArray());
        if (Last)
            Deliver();
        else
            FDeadline = NowMs + FLineTimeout;
        return;
    }
    case TPhase::Count: {
        const std::optional<qint32> Count = ParseCommandInteger(Line);
        if (!Count || *Count > MaxCommandItemCount) {
            DropMessage();
            return;
        }
        FCurrent.Value = *Count;
        if (*Count <= 0) {
            Deliver();
            return;
        }
        FRemaining = *Count;
        FPhase = TPhase::Items;
        FDeadline = NowMs + FLineTimeout;
        return;
    }
    case TPhase::Items:
        FPayload += Line.size();
        if (FPayload > MaxCommandPayload) {
            DropMessage();
            return;
        }
        FCurrent.Lines.append(Line.toByteArray());
        if (--FRemaining == 0)
            Deliver();
        else
            FDeadline = NowMs + FLineTimeout;
        return;
    }
}

void TCommandReader::Deliver() {
    FReady.push_back(std::move(FCurrent));
    DropMessage();
}

void TCommandReader::DropMessage() {
    FCurrent = TCommandMessage{};
    FPhase = TPhase::Word;
    FRemaining = 0;
    FPayload = 0;
}
