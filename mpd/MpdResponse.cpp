#include "MpdResponse.h"

void MpdFail(TMpdAck Code, const QByteArray &Text) {
    throw TMpdError{Code, Text};
}

bool TMpdResponse::Fits(qsizetype Bytes) {
    if (FOverflowed || FText.size() + Bytes > FBudget) {
        FOverflowed = true;
        return false;
    }
    return true;
}

void TMpdResponse::Add(QByteArrayView Key, QByteArrayView Value) {
    if (!Fits(Key.size() + Value.size() + 3))
        return;
    const qsizetype At = FText.size() + Key.size() + 2;
    FText.append(Key).append(": ").append(Value).append('\n');
    // A line break would start a line of its own: the client would read a key from the value.
    for (qsizetype I = At; I < FText.size() - 1; ++I)
        if (FText[I] == '\n' || FText[I] == '\r')
            FText[I] = ' ';
}

void TMpdResponse::Add(QByteArrayView Key, qint64 Value) {
    Add(Key, QByteArray::number(Value));
}

void TMpdResponse::AddSeconds(QByteArrayView Key, double Value) {
    Add(Key, QByteArray::number(Value, 'f', 3));
}

void TMpdResponse::AddBinary(QByteArrayView Data) {
    if (!Fits(Data.size() + 32))
        return;
    FText.append("binary: ").append(QByteArray::number(Data.size())).append('\n');
    FText.append(Data).append('\n');
}

void TMpdResponse::AddLine(QByteArrayView Line) {
    if (Fits(Line.size() + 1))
        FText.append(Line).append('\n');
}
