// Times TMusicList::Find and AddIfAbsent on a 100000-track play list, next to a plain
// front-to-back scan.
#include "AsciiText.h"
#include "MusicList.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

constexpr int ListSize = 100000;
constexpr int NewUrls = 10000;

QByteArray TrackUrl(int I) {
    static const char *const Artists[] = {"Ambient%20Works", "Blue_Note", "Chopin",
                                          "Die%20Fantastischen", "early-demos"};
    return "http://192.168.1." + QByteArray::number(10 + I % 40) + ":37401/" + Artists[I % 5] +
           "%20-%20Track%20" + QByteArray::number(I) + ".mp3";
}

TMusicItem *ScanFind(const TMusicList &List, const QByteArray &Location) {
    if (TrimBlanks(Location).isEmpty())
        return nullptr;
    for (qsizetype I = 0; I < List.Count(); ++I)
        if (SameTextAscii(List.At(I)->Location, Location))
            return List.At(I);
    return nullptr;
}

template <typename F> double NsPerCall(const QByteArrayList &Keys, int Rounds, F Find) {
    QElapsedTimer T;
    T.start();
    int Hits = 0;
    for (int R = 0; R < Rounds; ++R)
        for (const QByteArray &Key : Keys)
            Hits += Find(Key) ? 1 : 0;
    const double Ns = double(T.nsecsElapsed()) / (double(Rounds) * double(Keys.size()));
    if (Hits < 0) // keeps the calls from being optimised away
        std::puts("");
    return Ns;
}

} // namespace

int main() {
    TMusicList List;
    QElapsedTimer Build;
    Build.start();
    for (int I = 0; I < ListSize; ++I)
        List.AddIfAbsent(TrackUrl(I));
    std::printf("build %d items with AddIfAbsent: %.1f ms\n", ListSize,
                double(Build.nsecsElapsed()) / 1e6);

    struct TCase {
        const char *Name;
        QByteArrayList Keys;
    };
    const TCase Cases[] = {
        {"hit front", {TrackUrl(0), TrackUrl(1), TrackUrl(2)}},
        {"hit middle", {TrackUrl(ListSize / 2), TrackUrl(ListSize / 2 + 1)}},
        {"hit end", {TrackUrl(ListSize - 1), TrackUrl(ListSize - 2)}},
        {"miss", {TrackUrl(ListSize + 1), "http://10.0.0.9:37401/none.mp3"}},
        {"hit, other case", {AsciiUpper(TrackUrl(ListSize / 2)), AsciiLower(TrackUrl(7))}},
    };
    std::printf("%-18s %14s %14s\n", "Find", "index ns/call", "scan ns/call");
    for (const TCase &C : Cases) {
        const double Indexed =
            NsPerCall(C.Keys, 20000, [&](const QByteArray &K) { return List.Find(K); });
        const double Scanned =
            NsPerCall(C.Keys, 20, [&](const QByteArray &K) { return ScanFind(List, K); });
        std::printf("%-18s %14.0f %14.0f\n", C.Name, Indexed, Scanned);
    }

    QElapsedTimer Add;
    Add.start();
    int Added = 0;
    for (int I = 0; I < NewUrls; ++I)
        Added += List.AddIfAbsent(TrackUrl(ListSize + I)) ? 1 : 0;
    const double AddMs = double(Add.nsecsElapsed()) / 1e6;
    Add.restart();
    for (int I = 0; I < 1000; ++I) // a scan per new URL, as without the index
        ScanFind(List, TrackUrl(3 * ListSize + I));
    const double ScanAddMs = double(Add.nsecsElapsed()) / 1e6 * NewUrls / 1000;
    std::printf("AddIfAbsent %d new URLs: %.2f ms total (scan-based, estimated: %.0f ms)\n", Added,
                AddMs, ScanAddMs);

    QElapsedTimer Remove;
    Remove.start();
    for (int I = 0; I < 1000; ++I)
        List.Remove(List.At(List.Count() / 2));
    std::printf("Remove 1000 items from the middle: %.2f ms total\n",
                double(Remove.nsecsElapsed()) / 1e6);
    return 0;
}
