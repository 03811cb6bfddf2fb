#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QList>

#include <utility>

// A 480 Hz tone at 48 kHz, mono: one period is exactly 100 samples.
constexpr int ToneRate = 48000;
constexpr int TonePeriod = 100;

// The tone's samples [From, To) encoded by ffmpeg into File (format from its extension),
// with Extra arguments before the output (tags); false when ffmpeg fails.
bool EncodeTone(const QString &File, int From, int To, const QStringList &Extra = {});

// Options that make libmpv write raw signed 16-bit mono samples at ToneRate to File.
QList<std::pair<QByteArray, QByteArray>> PcmOutput(const QString &File);

// What a written tone sounds like, period by period, from its first sound to its last.
struct TToneCheck {
    qint64 Periods = 0;
    // How far (in samples) the tone's phase moved from start to end: a lost sample moves it
    // by one, a doubled one by minus one.
    double Drift = 0;
    // The quietest and the loudest period (RMS, full scale 1).
    double MinLevel = 0;
    double MaxLevel = 0;
};
TToneCheck CheckTone(const QByteArray &Samples);
