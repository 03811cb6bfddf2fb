#pragma once

#include <QByteArray>
#include <QString>

// A valid 16-bit mono PCM WAV holding a 440 Hz tone; Title and Artist, when given,
// go into a LIST/INFO chunk (INAM, IART) ahead of the samples.
QByteArray MakeWav(double Seconds, int SampleRate = 8000, const QByteArray &Title = {},
                   const QByteArray &Artist = {});

// Writes MakeWav(...) to FileName; false when the file cannot be written.
bool WriteWav(const QString &FileName, double Seconds, int SampleRate = 8000,
              const QByteArray &Title = {}, const QByteArray &Artist = {});
