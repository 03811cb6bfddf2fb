#include "TestMedia.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace {

void PutU32(QByteArray &Out, quint32 V) {
    char B[4];
    qToLittleEndian(V, B);
    Out.append(B, 4);
}

void PutU16(QByteArray &Out, quint16 V) {
    char B[2];
    qToLittleEndian(V, B);
    Out.append(B, 2);
}

// One RIFF sub-chunk, padded to an even length as RIFF requires.
void PutChunk(QByteArray &Out, const char *Id, const QByteArray &Body) {
    Out.append(Id, 4);
    PutU32(Out, quint32(Body.size()));
    Out.append(Body);
    if (Body.size() % 2)
        Out.append('\0');
}

} // namespace

QByteArray MakeWav(double Seconds, int SampleRate, const QByteArray &Title,
                   const QByteArray &Artist) {
    const qint64 Frames = qMax<qint64>(0, qint64(std::llround(Seconds * SampleRate)));

    QByteArray Fmt;
    PutU16(Fmt, 1); // PCM
    PutU16(Fmt, 1); // mono
    PutU32(Fmt, quint32(SampleRate));
    PutU32(Fmt, quint32(SampleRate * 2));
    PutU16(Fmt, 2);
    PutU16(Fmt, 16);

    QByteArray Info;
    if (!Title.isEmpty() || !Artist.isEmpty()) {
        Info.append("INFO");
        if (!Title.isEmpty())
            PutChunk(Info, "INAM", Title + '\0');
        if (!Artist.isEmpty())
            PutChunk(Info, "IART", Artist + '\0');
    }

    QByteArray Samples;
    Samples.reserve(Frames * 2);
    for (qint64 I = 0; I < Frames; ++I) {
        const double T = double(I) / SampleRate;
        PutU16(Samples, quint16(qint16(8000 * std::sin(2 * std::numbers::pi * 440 * T))));
    }

    QByteArray Body("WAVE");
    PutChunk(Body, "fmt ", Fmt);
    if (!Info.isEmpty())
        PutChunk(Body, "LIST", Info);
    PutChunk(Body, "data", Samples);

    QByteArray Out;
    PutChunk(Out, "RIFF", Body);
    return Out;
}

bool WriteWav(const QString &FileName, double Seconds, int SampleRate, const QByteArray &Title,
              const QByteArray &Artist) {
    QFile F(FileName);
    if (!F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray Data = MakeWav(Seconds, SampleRate, Title, Artist);
    return F.write(Data) == Data.size() && F.flush();
}
