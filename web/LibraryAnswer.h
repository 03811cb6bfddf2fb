#pragma once

#include "MusicLibrary.h"

#include <QByteArray>
#include <QList>

#include <mutex>

// One library version as the web remote answers it: made on the GUI thread when the library
// changes (copies that share the library's data), read by every request on the server's
// threads and never changed. Its rows' JSON and filter keys are made once, by the first
// request that needs them, so a library that changes often costs the GUI thread nothing here.
class TLibraryAnswer {
public:
    // Run: what tells this run's versions from another run's (the ETag outlives the program
    // in a browser's cache).
    TLibraryAnswer(qint64 Version, qint64 Run, QList<TLibraryEntry> Rows);

    qint64 Version() const { return FVersion; }
    // The ETag every answer of this version carries, quotes included.
    const QByteArray &Tag() const { return FTag; }
    int Count() const { return int(FRows.size()); }

    // The rows whose name or entry holds Filter (A-Z case ignored; empty: every row), in order.
    QList<int> Matching(const QByteArray &Filter) const;
    // {"version","total","count","from","tracks":[[name, entry, row]...]}: of the rows
    // matching Filter ("count" of them), a page from the From-th on, at most Count rows.
    QByteArray Page(const QByteArray &Filter, qsizetype From, qsizetype Count) const;

private:
    void Prepare() const;

    const qint64 FVersion;
    const QByteArray FTag;
    const QList<TLibraryEntry> FRows;
    mutable std::once_flag FPrepared;
    mutable QByteArrayList FJson; // per row: its JSON array
    mutable QByteArrayList FKeys; // per row: name, line break, entry; lower-cased
};
