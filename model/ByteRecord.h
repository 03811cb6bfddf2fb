#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>

// Appends numbers (little-endian) and length-prefixed byte strings to a buffer.
class TByteWriter {
public:
    explicit TByteWriter(QByteArray &Out) : FOut(Out) {}

    void PutU8(quint8 V) { FOut.append(char(V)); }
    void PutU32(quint32 V) { Put(V); }
    void PutI64(qint64 V) { Put(V); }
    void PutBytes(const QByteArray &V) {
        PutU32(quint32(V.size()));
        FOut.append(V);
    }
    void PutText(const QString &V) { PutBytes(V.toUtf8()); }

private:
    template <class T> void Put(T V) {
        char B[sizeof(T)];
        qToLittleEndian(V, B);
        FOut.append(B, sizeof(T));
    }

    QByteArray &FOut;
};

// Reads what TByteWriter wrote, trusting nothing: every length is checked against the bytes that
// remain and a bound, and after the first failure every read fails and gives zero or empty.
class TByteReader {
public:
    TByteReader(const char *Data, qsizetype Size) : FData(Data), FSize(Size) {}
    explicit TByteReader(const QByteArray &Data) : TByteReader(Data.constData(), Data.size()) {}

    quint8 U8() { return Take<quint8>(); }
    quint32 U32() { return Take<quint32>(); }
    qint64 I64() { return Take<qint64>(); }
    // A byte string of at most Max bytes.
    QByteArray Bytes(qsizetype Max) {
        const quint32 Size = U32();
        if (!Need(Size) || Size > Max)
            return Fail(), QByteArray();
        QByteArray V(FData + FPos, Size);
        FPos += Size;
        return V;
    }
    // A text of at most Max bytes of UTF-8 (invalid sequences become U+FFFD).
    QString Text(qsizetype Max) { return QString::fromUtf8(Bytes(Max)); }

    bool Ok() const { return FOk; }
    qsizetype Remaining() const { return FSize - FPos; }
    void Fail() { FOk = false, FPos = FSize; }

private:
    bool Need(qsizetype N) {
        if (!FOk || N > Remaining())
            return Fail(), false;
        return true;
    }
    template <class T> T Take() {
        if (!Need(sizeof(T)))
            return T(0);
        const T V = qFromLittleEndian<T>(FData + FPos);
        FPos += sizeof(T);
        return V;
    }

    const char *FData;
    qsizetype FSize;
    qsizetype FPos = 0;
    bool FOk = true;
};
