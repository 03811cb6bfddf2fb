// Times the library store on a large library: load, save, a 10000-file batch
// add, and removing 10000 rows.
#include "BenchLibrary.h"
#include "MusicLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    constexpr int Entries = 100000;
    constexpr int Batch = 10000;
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("MusicLibrary.txt");
    if (!WriteLibraryFile(Path, Entries))
        return 1;

    TMusicLibrary Library;
    QElapsedTimer Clock;
    QString Error;

    Clock.start();
    if (!Library.LoadFromFile(Path, &Error)) {
        std::fprintf(stderr, "%s\n", qPrintable(Error));
        return 1;
    }
    const qint64 LoadMs = Clock.elapsed();

    Clock.restart();
    if (!Library.SaveToFile(Path, &Error)) {
        std::fprintf(stderr, "%s\n", qPrintable(Error));
        return 1;
    }
    const qint64 SaveMs = Clock.elapsed();

    QByteArrayList New;
    for (int I = 0; I < Batch; ++I)
        New.append(TrackPath(Entries + I));
    New.append(TrackPath(5)); // one duplicate, refused
    Clock.restart();
    const int Added = Library.AddBatch(New);
    const qint64 AddMs = Clock.elapsed();

    Clock.restart();
    if (!Library.SaveToFile(Path, &Error))
        return 1;
    const qint64 Save2Ms = Clock.elapsed();

    QList<int> Rows;
    for (int I = 0; I < Batch; ++I)
        Rows.append(I * 11);
    Clock.restart();
    Library.RemoveRows(Rows);
    const qint64 RemoveMs = Clock.elapsed();

    std::printf("library of %d entries (target < 200 ms each)\n", Entries);
    std::printf("  load                 %6lld ms\n", static_cast<long long>(LoadMs));
    std::printf("  save                 %6lld ms\n", static_cast<long long>(SaveMs));
    std::printf("  add batch of %d   %6lld ms (%d added)\n", Batch, static_cast<long long>(AddMs),
                Added);
    std::printf("  save %d          %6lld ms\n", int(Library.Count() + Batch),
                static_cast<long long>(Save2Ms));
    std::printf("  remove %d rows    %6lld ms\n", Batch, static_cast<long long>(RemoveMs));
    return 0;
}
