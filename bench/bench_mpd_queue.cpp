// The MPD door answering for a queue of 100000 rows: time to the last byte of "playlistinfo"
// and "plchangesposid 0", and what the door held meanwhile, beside the answer's size; then a
// client that reads nothing for two seconds: what the door holds for it.
#include "BenchProcess.h"
#include "MediaPlayer.h"
#include "MpdDoor.h"
#include "MpdServer.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <clocale>
#include <cstdio>

namespace {

struct TFigures {
    qint64 Bytes = 0;
    qint64 MaxHeld = 0;
    double Ms = 0;
};

// Sends Command and reads its whole answer; Pause: how long to read nothing first.
TFigures Ask(TMpdDoor &Door, QTcpSocket &Socket, const QByteArray &Command, int PauseMs = 0) {
    TFigures Out;
    QElapsedTimer Clock;
    Clock.start();
    Socket.write(Command + '\n');
    QEventLoop Loop;
    QByteArray Tail;
    const auto Read = [&] {
        Out.MaxHeld = std::max(Out.MaxHeld, Door.Server().PendingOutput());
        const QByteArray Got = Socket.readAll();
        Out.Bytes += Got.size();
        Tail = (Tail + Got).right(8);
        if (Tail.endsWith("\nOK\n"))
            Loop.quit();
    };
    if (PauseMs > 0) {
        Socket.setReadBufferSize(1);
        QTimer::singleShot(PauseMs, &Loop, [&] {
            Out.MaxHeld = Door.Server().PendingOutput();
            Socket.setReadBufferSize(0);
            Read();
        });
        QTimer::singleShot(PauseMs / 2, &Loop,
                           [&] { Out.MaxHeld = Door.Server().PendingOutput(); });
    }
    const auto Connection = QObject::connect(&Socket, &QTcpSocket::readyRead, &Loop, Read);
    Loop.exec();
    QObject::disconnect(Connection);
    Out.Ms = double(Clock.nsecsElapsed()) / 1e6;
    return Out;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication App(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    TSharingState Sharing;
    TSpeaker Speaker(0, Sharing, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
    QByteArrayList URLs;
    for (int I = 0; I < 100000; ++I)
        URLs.append(QStringLiteral("http://10.0.0.1:37401/Artist %1/Album %2/%3 Track.flac")
                        .arg(I / 1000)
                        .arg(I / 10)
                        .arg(I)
                        .toUtf8());
    Speaker.Engine()->AddTracksNow(URLs);
    TMpdDoor Door(Speaker, Sharing, TMpdSettings{});
    Door.Listen(0);
    QTcpSocket Socket;
    Socket.connectToHost(QHostAddress::LocalHost, Door.Port());
    Socket.waitForConnected(5000);
    while (Socket.bytesAvailable() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Socket.readAll();

    const qint64 RssBefore = RssKiB();
    std::printf("%-28s %12s %12s %10s\n", "answer (100000 rows)", "bytes", "door held", "ms");
    for (const auto &[Name, Command, Pause] :
         {std::tuple{"playlistinfo", QByteArray("playlistinfo"), 0},
          std::tuple{"plchangesposid 0", QByteArray("plchangesposid 0"), 0},
          std::tuple{"playlistinfo, 2 s unread", QByteArray("playlistinfo"), 2000}}) {
        const TFigures F = Ask(Door, Socket, Command, Pause);
        std::printf("%-28s %12lld %12lld %10.1f\n", Name, F.Bytes, F.MaxHeld, F.Ms);
    }
    std::printf("resident memory grew by %lld KiB over the three answers\n", RssKiB() - RssBefore);
    return 0;
}
