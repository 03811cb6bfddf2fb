#include "MpdLineReader.h"

namespace {

bool IsBlank(char C) {
    return C == ' ' || C == '\t';
}

} // namespace

TMpdLine ParseMpdLine(const QByteArray &Line) {
    TMpdLine Out;
    qsizetype I = 0;
    const qsizetype N = Line.size();
    for (;;) {
        while (I < N && IsBlank(Line[I]))
            ++I;
        if (I == N)
            break;
        QByteArray Word;
        if (Line[I] == '"') {
            ++I;
            bool Closed = false;
            while (I < N) {
                const char C = Line[I++];
                if (C == '"') {
                    Closed = true;
                    break;
                }
                if (C == '\\') {
                    if (I == N)
                        break;
                    Word.append(Line[I++]);
                } else {
                    Word.append(C);
                }
            }
            if (!Closed) {
                Out.Words.clear();
                Out.Error = "Missing closing '\"'";
                return Out;
            }
            if (I < N && !IsBlank(Line[I])) {
                Out.Words.clear();
                Out.Error = "Space expected after closing '\"'";
                return Out;
            }
        } else {
            while (I < N && !IsBlank(Line[I])) {
                if (Line[I] == '"') {
                    Out.Words.clear();
                    Out.Error = "Invalid unquoted character";
                    return Out;
                }
                Word.append(Line[I++]);
            }
        }
        Out.Words.append(Word);
    }
    if (Out.Words.isEmpty())
        Out.Error = "No command given";
    return Out;
}

void TMpdLineReader::Feed(QByteArrayView Bytes) {
    while (!FFailed && !Bytes.isEmpty()) {
        const qsizetype End = Bytes.indexOf('\n');
        const qsizetype Take = End < 0 ? Bytes.size() : End;
        if (FPartial.size() + Take > MaxLineBytes) {
            FFailed = true;
            FPartial.clear();
            return;
        }
        FPartial.append(Bytes.first(Take));
        if (End < 0)
            return;
        Bytes = Bytes.sliced(End + 1);
        QByteArray Line = std::exchange(FPartial, QByteArray());
        if (Line.endsWith('\r'))
            Line.chop(1);
        TakeLine(Line);
    }
}

void TMpdLineReader::TakeLine(const QByteArray &Line) {
    if (FList) {
        if (Line == "command_list_end") {
            FReady.push_back(std::move(*FList));
            FReadySizes.push_back(FListBytes);
            FReadyBytes += FListBytes;
            FList.reset();
            FListBytes = 0;
            return;
        }
        FListBytes += Line.size() + 64; // a parsed line costs more than its bytes
        if (FListBytes > MaxListBytes) {
            FFailed = true;
            FList.reset();
            FListBytes = 0;
            return;
        }
        FList->Lines.append(ParseMpdLine(Line));
        return;
    }
    if (Line == "command_list_begin" || Line == "command_list_ok_begin") {
        FList =
            TMpdRequest{Line == "command_list_begin" ? TMpdRequest::List : TMpdRequest::ListOk, {}};
        return;
    }
    FReady.push_back(TMpdRequest{TMpdRequest::Single, {ParseMpdLine(Line)}});
    FReadySizes.push_back(Line.size() + 64);
    FReadyBytes += FReadySizes.back();
}

std::optional<TMpdRequest> TMpdLineReader::Next() {
    if (FReady.empty())
        return std::nullopt;
    TMpdRequest Request = std::move(FReady.front());
    FReady.pop_front();
    FReadyBytes -= FReadySizes.front();
    FReadySizes.pop_front();
    return Request;
}
