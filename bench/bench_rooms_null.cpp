// Two rooms in one process on null audio outputs, the follower's 200 ppm fast and started
// 350 ms late: prints how far apart their positions are over time. A quick look at the
// play loop on real libmpv without a network; the end-to-end test does it across hosts.
#include "MediaPlayer.h"
#include "RoomSync.h"
#include "StartTimer.h"
#include "SyncTrace.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <clocale>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const int Seconds = argc > 1 ? atoi(argv[1]) : 40;
    const bool Correct = argc > 2 ? QByteArray(argv[2]) != "off" : true;
    QTemporaryDir Dir;
    TTestHttpServer Server;
    Server.SetFile("/a.wav", MakeWav(Seconds + 20, 44100));
    if (!Server.Start())
        return 1;
    TRoomSync::TConfig Config;
    Config.Correct = Correct;
    Config.TracePath = Dir.filePath("leader");
    TRoomSync Leader(std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}), MonotonicNow,
                     Config, nullptr);
    Config.TracePath = Dir.filePath("follower");
    Config.StartFault = 350'000'000;
    TRoomSync Follower(
        std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}, {"ao-null-speed", "1.0002"}}),
        MonotonicNow, Config, nullptr);
    Leader.SetRole(TRoomRole::Leader);
    Follower.SetRole(TRoomRole::Follower);
    QObject::connect(&Leader, &TRoomSync::AnchorChanged, &Follower, &TRoomSync::Follow);
    Leader.SetURL(Server.Url("/a.wav"));
    const qint64 Start = MonotonicNow();
    QTimer::singleShot(Seconds * 1000, &App, &QCoreApplication::quit);
    App.exec();
    const QString L = Dir.filePath("leader"), F = Dir.filePath("follower");
    for (qint64 From = 0; From + 5 <= Seconds; From += 5) {
        QList<double> Window = SyncOffsets(L, F, Start + From * 1'000'000'000);
        Window.resize(Window.size() - SyncOffsets(L, F, Start + (From + 5) * 1'000'000'000).size());
        std::printf("%3llds..%3llds: p50 %.3f ms  p95 %.3f ms  worst %.3f ms  (%lld readings)\n",
                    From, From + 5, AbsQuantile(Window, 0.5) * 1e3, AbsQuantile(Window, 0.95) * 1e3,
                    AbsQuantile(Window, 1) * 1e3, qlonglong(Window.size()));
    }
    const QList<double> Late = SyncOffsets(L, F, Start + 25'000'000'000);
    std::printf("after 25 s: p50 %.3f ms  p95 %.3f ms  worst %.3f ms\n",
                AbsQuantile(Late, 0.5) * 1e3, AbsQuantile(Late, 0.95) * 1e3,
                AbsQuantile(Late, 1) * 1e3);
    return 0;
}
