// CPU cost of playing a 60 s stereo track, the speaker against bare mpv on the same URL.
//
// This process serves the track over loopback HTTP (the program's own media server), then runs,
// one after the other: the speaker (this program started again with --speaker: the "My Player"
// window on screen, one controller connected from here that sends the ADD and reads every
// report) and `mpv --no-video`. Each child's CPU is read from /proc over the same 50 s window
// of playback. Both use mpv's null audio output, so neither needs a sound device.
#include "AsciiText.h"
#include "BenchProcess.h"
#include "CommandServer.h"
#include "LocalPlayerWindow.h"
#include "MediaPlayer.h"
#include "MediaServer.h"
#include "Settings.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int TrackSeconds = 60;
constexpr int SettleMs = 5000;   // after playback starts, before measuring
constexpr int MeasureMs = 50000; // measured window

// 16-bit stereo PCM at 44.1 kHz: a tone on the left, another on the right.
bool WriteStereoWav(const QString &FileName) {
    constexpr int Rate = 44100;
    const qint64 Frames = qint64(Rate) * TrackSeconds;
    QByteArray Out;
    Out.reserve(44 + Frames * 4);
    auto U32 = [&Out](quint32 V) {
        char B[4];
        qToLittleEndian(V, B);
        Out.append(B, 4);
    };
    auto U16 = [&Out](quint16 V) {
        char B[2];
        qToLittleEndian(V, B);
        Out.append(B, 2);
    };
    Out.append("RIFF");
    U32(quint32(36 + Frames * 4));
    Out.append("WAVEfmt ");
    U32(16);
    U16(1);
    U16(2);
    U32(Rate);
    U32(Rate * 4);
    U16(4);
    U16(16);
    Out.append("data");
    U32(quint32(Frames * 4));
    for (qint64 I = 0; I < Frames; ++I) {
        const double T = double(I) / Rate;
        U16(quint16(qint16(9000 * std::sin(2 * std::numbers::pi * 440 * T))));
        U16(quint16(qint16(9000 * std::sin(2 * std::numbers::pi * 660 * T))));
    }
    QFile F(FileName);
    return F.open(QIODevice::WriteOnly) && F.write(Out) == Out.size();
}

// The MP3 encoder found on this machine, or false.
bool MakeMp3(const QString &Wav, const QString &Mp3) {
    QProcess P;
    if (!QStandardPaths::findExecutable("ffmpeg").isEmpty())
        P.start("ffmpeg",
                {"-loglevel", "error", "-y", "-i", Wav, "-c:a", "libmp3lame", "-b:a", "192k", Mp3});
    else if (!QStandardPaths::findExecutable("lame").isEmpty())
        P.start("lame", {"--quiet", "-b", "192", Wav, Mp3});
    else
        return false;
    return P.waitForFinished(120000) && P.exitCode() == 0 && QFile::exists(Mp3);
}

void Wait(int Ms) {
    QEventLoop Loop;
    QTimer::singleShot(Ms, Qt::PreciseTimer, &Loop, &QEventLoop::quit);
    Loop.exec();
}

// Share of one core that Pid used over the measured window, in percent.
double MeasureWindow(qint64 Pid) {
    Wait(SettleMs);
    const double Start = ProcessCpu(Pid);
    QElapsedTimer Wall;
    Wall.start();
    Wait(MeasureMs);
    const double Used = ProcessCpu(Pid) - Start;
    return 100.0 * Used / (double(Wall.elapsed()) / 1000.0);
}

// The speaker in a child process, driven by one controller from here.
double SpeakerCost(const QByteArray &URL) {
    QProcess Child;
    Child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Child.start(QCoreApplication::applicationFilePath(), {"--speaker"});
    if (!Child.waitForReadyRead(20000))
        return -1;
    const QByteArray Line = Child.readLine().trimmed();
    if (!Line.startsWith("PORT "))
        return -1;
    QTcpSocket Controller;
    QByteArray Received;
    bool Playing = false;
    QObject::connect(&Controller, &QTcpSocket::readyRead, [&] {
        Received += Controller.readAll();
        if (Received.contains("STATE\r\n3\r\n"))
            Playing = true;
        // Keep only a tail long enough to hold a split "STATE 3".
        if (Received.size() > 64)
            Received = Received.right(64);
    });
    Controller.connectToHost(QHostAddress::LocalHost, quint16(Line.mid(5).toUInt()));
    if (!Controller.waitForConnected(5000))
        return -1;
    Controller.write("ADD\r\n1\r\n" + URL + "\r\n");
    QElapsedTimer Start;
    Start.start();
    while (!Playing && Start.elapsed() < 20000)
        Wait(20);
    if (!Playing)
        return -1;
    const double Cost = MeasureWindow(Child.processId());
    Child.kill();
    Child.waitForFinished();
    return Cost;
}

double BareMpvCost(const QByteArray &URL) {
    QProcess Mpv;
    Mpv.setStandardOutputFile(QProcess::nullDevice());
    Mpv.setStandardErrorFile(QProcess::nullDevice());
    Mpv.start("mpv", {"--no-video", "--no-config", "--ao=null", QString::fromUtf8(URL)});
    if (!Mpv.waitForStarted(5000))
        return -1;
    const double Cost = MeasureWindow(Mpv.processId());
    Mpv.kill();
    Mpv.waitForFinished();
    return Cost;
}

int RunSpeaker(QApplication &App) {
    TSharingState Sharing;
    TSpeaker Speaker(0, Sharing, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
    TLocalPlayerWindow Player(Speaker);
    Player.resize(480, 360);
    Player.show();
    std::printf("PORT %u\n", unsigned(Speaker.CommandServer()->Port()));
    std::fflush(stdout);
    return App.exec();
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    if (App.arguments().contains("--speaker"))
        return RunSpeaker(App);

    if (QStandardPaths::findExecutable("mpv").isEmpty()) {
        std::fprintf(stderr, "mpv is not installed (apt-get install mpv)\n");
        return 1;
    }
    QTemporaryDir Dir;
    const QString Wav = Dir.filePath("tone.wav"), Mp3 = Dir.filePath("tone.mp3");
    if (!WriteStereoWav(Wav)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Wav));
        return 1;
    }
    QByteArrayList Library{QFile::encodeName(Wav)};
    const bool HaveMp3 = MakeMp3(Wav, Mp3);
    if (HaveMp3)
        Library.append(QFile::encodeName(Mp3));
    else
        std::printf("no ffmpeg or lame: WAV only\n");

    const auto Snapshot = std::make_shared<const QByteArrayList>(Library);
    TMediaServer Server([Snapshot] { return Snapshot; });
    QString Error;
    if (!Server.Start(0, &Error)) {
        std::fprintf(stderr, "media server: %s\n", qPrintable(Error));
        return 1;
    }

    std::printf("%-6s %12s %12s %8s   (%% of one core over %d s of playback)\n", "track",
                "vxPlayer", "bare mpv", "ratio", MeasureMs / 1000);
    for (const QByteArray &File : Library) {
        const QByteArray Name = FileNamePart(File);
        const QByteArray URL = "http://127.0.0.1:" + QByteArray::number(Server.Port()) + "/" + Name;
        const double Own = SpeakerCost(URL);
        const double Bare = BareMpvCost(URL);
        std::printf("%-6s %12.3f %12.3f %8.2f\n", Name.endsWith(".mp3") ? "MP3" : "WAV", Own, Bare,
                    Bare > 0 ? Own / Bare : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
