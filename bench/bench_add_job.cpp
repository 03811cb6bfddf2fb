// Time of one "ADD" job of 10000 new URLs onto a 10000-row play list, carried out in one
// tick: engine and item model, the "LIST" message built once as a broadcast would.
#include "CommandProtocol.h"
#include "MediaComponent.h"
#include "PlaybackEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A component with nothing loaded that never changes state.
class TIdleMedia : public TMediaComponent {
public:
    void SetURL(const QByteArray &) override {}
    QByteArray URL() const override { return {}; }
    TPlayState PlayState() const override { return TPlayState::Paused; }
    void Play() override {}
    void Pause() override {}
    void Stop() override {}
    double CurrentPosition() const override { return 0; }
    void SetCurrentPosition(double) override {}
    QString CurrentPositionString() const override { return {}; }
    int Volume() const override { return 50; }
    void SetVolume(int) override {}
    bool Mute() const override { return false; }
    void SetMute(bool) override {}
    bool HasMedia() const override { return false; }
    double Duration() const override { return 0; }
    QString MediaName() const override { return {}; }
    QString MediaAuthor() const override { return {}; }
};

QByteArrayList Urls(int First, int Count) {
    QByteArrayList Out;
    for (int I = First; I < First + Count; ++I)
        Out.append("http://192.168.1.20:37401/Artist " + QByteArray::number(I) +
                   " - Some Track Title.mp3");
    return Out;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    constexpr int Rows = 10000;
    constexpr int Runs = 7;
    std::vector<double> Times;
    qsizetype ListBytes = 0;
    for (int Run = 0; Run < Runs; ++Run) {
        TIdleMedia Media;
        TMessageSink Sink;
        Sink.Broadcast = [&](const QByteArray &W, const QByteArray &P, const QByteArray &) {
            ListBytes = BuildMessage(W, P).size();
        };
        TPlaybackEngine Engine(&Media, Sink);
        Engine.AddLocalTracks(Urls(0, Rows));
        Engine.PlayTick();
        Engine.AddLocalTracks(Urls(Rows, Rows));
        QElapsedTimer Clock;
        Clock.start();
        Engine.PlayTick();
        Times.push_back(double(Clock.nsecsElapsed()) / 1e6);
        if (Engine.Model()->RowCount() != 2 * Rows) {
            std::fprintf(stderr, "wrong row count %d\n", Engine.Model()->RowCount());
            return 1;
        }
    }
    std::sort(Times.begin(), Times.end());
    std::printf("ADD job of %d new URLs onto %d rows, one tick (%d runs):\n", Rows, Rows, Runs);
    std::printf("  median %.2f ms, best %.2f ms, worst %.2f ms (target < 50 ms)\n",
                Times[Times.size() / 2], Times.front(), Times.back());
    std::printf("  LIST message built: %lld bytes\n", static_cast<long long>(ListBytes));
    return 0;
}
