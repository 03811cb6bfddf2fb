#include "ToneJoin.h"

#include <QProcess>
#include <QtEndian>

#include <cmath>
#include <numbers>

bool EncodeTone(const QString &File, int From, int To, const QStringList &Extra) {
    QProcess Encoder;
    const QString Cut = QStringLiteral("atrim=start_sample=%1:end_sample=%2,asetpts=PTS-STARTPTS")
                            .arg(From)
                            .arg(To);
    Encoder.start("ffmpeg", QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                        "sine=frequency=480:sample_rate=48000:duration=10", "-af",
                                        Cut, "-ac", "1"} +
                                Extra + QStringList{File});
    return Encoder.waitForFinished(60000) && Encoder.exitCode() == 0;
}

QList<std::pair<QByteArray, QByteArray>> PcmOutput(const QString &File) {
    return {{"ao", "pcm"},
            {"ao-pcm-file", File.toUtf8()},
            {"ao-pcm-waveheader", "no"},
            {"audio-format", "s16"},
            {"audio-channels", "mono"},
            {"audio-samplerate", QByteArray::number(ToneRate)}};
}

TToneCheck CheckTone(const QByteArray &Samples) {
    const auto *Data = reinterpret_cast<const qint16 *>(Samples.constData());
    const qint64 Count = Samples.size() / 2;
    constexpr double Loud = 0.02 * 32768;
    qint64 First = 0, Last = Count - 1;
    while (First < Count && std::abs(qFromLittleEndian(Data[First])) < Loud)
        ++First;
    while (Last > First && std::abs(qFromLittleEndian(Data[Last])) < Loud)
        --Last;
    TToneCheck Check;
    Check.MinLevel = 1;
    double Previous = 0;
    // The first and last periods hold the codecs' own edges: left out.
    for (qint64 At = First + TonePeriod; At + 2 * TonePeriod <= Last; At += TonePeriod) {
        double Sin = 0, Cos = 0, Power = 0;
        for (int I = 0; I < TonePeriod; ++I) {
            const double X = qFromLittleEndian(Data[At + I]) / 32768.0;
            const double Angle = 2 * std::numbers::pi * I / TonePeriod;
            Sin += X * std::sin(Angle);
            Cos += X * std::cos(Angle);
            Power += X * X;
        }
        const double Phase = std::atan2(Cos, Sin);
        if (Check.Periods > 0)
            Check.Drift -= std::remainder(Phase - Previous, 2 * std::numbers::pi) /
                           (2 * std::numbers::pi) * TonePeriod;
        Previous = Phase;
        const double Level = std::sqrt(Power / TonePeriod);
        Check.MinLevel = std::min(Check.MinLevel, Level);
        Check.MaxLevel = std::max(Check.MaxLevel, Level);
        ++Check.Periods;
    }
    return Check;
}
