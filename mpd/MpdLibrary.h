#pragma once

#include "TrackTags.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QHash>
#include <QList>

#include <memory>
#include <utility>

// One version of the library as MPD clients see it, made from shared copies of the rows'
// sources and tags and never changed. A local file's URI is its path below the library's root,
// the longest folder that holds every local file ("Music/a.flac" under "/home/ann" when every
// file is below /home/ann); an http row's URI is its URL, a file of the top folder. GUI thread.
class TMpdLibrary {
public:
    // Tags[i] belongs to Sources[i]; rows past Tags' end have none. Before: the version this
    // one follows, whose URI order is kept when the sources are the same.
    TMpdLibrary(QByteArrayList Sources, QList<TTrackTags> Tags,
                const TMpdLibrary *Before = nullptr);

    int Count() const { return int(FSources.size()); }
    const QByteArray &Source(int Row) const { return FSources.at(Row); }
    const TTrackTags &Tags(int Row) const;
    QByteArrayView Uri(int Row) const;
    // The folder URIs are below, without its last "/" (empty for "/"); empty without local files.
    const QByteArray &Root() const { return FOrder->Root; }

    // The URI a source has here (whether or not a row has it): its path below the root, or the
    // source itself when it is an http URL or outside the root.
    QByteArray UriOf(const QByteArray &Source) const;
    // The first row with the URI Uri; -1 when none has it.
    int RowOf(QByteArrayView Uri) const;
    // The local rows in URI order (bytes), and where those below Folder ("" for all) are in it.
    const QList<int> &ByUri() const { return FOrder->ByUri; }
    std::pair<qsizetype, qsizetype> Below(QByteArrayView Folder) const;
    // The http rows, in library order.
    const QList<int> &RemoteRows() const { return FOrder->Remote; }
    // Whether Folder ("" the top) is a folder here.
    bool IsFolder(QByteArrayView Folder) const;
    // Folder's own subfolders (their URIs, in order) and files (rows, in URI order; the http rows
    // in the top folder).
    void ListFolder(QByteArrayView Folder, QByteArrayList &Folders, QList<int> &Files) const;

    // The URL a speaker plays Row at: an http row's own, else this copy's media server's URL of
    // the file at Address and Port (the same URL the library page plays it at).
    QByteArray PlayUrl(int Row, const QByteArray &Address, quint16 Port) const;
    // The row of the local file the media server serves under Name (its file name, or a longer
    // tail where file names repeat); -1 when none.
    int RowOfServedName(QByteArrayView Name) const;

private:
    // What depends on the sources only, shared by versions with the same sources.
    struct TOrder {
        QByteArrayList Sources; // what the views below point into
        QByteArray Root;
        qsizetype Skip = 0; // bytes of a local source before its URI
        QList<int> ByUri;
        QList<int> Remote;
        // The media server's names of files whose file name repeats (made when first needed).
        std::unique_ptr<QHash<QByteArray, QByteArray>> ServedNames;
        std::unique_ptr<QHash<QByteArrayView, int>> ByServedName;
    };
    const QHash<QByteArray, QByteArray> &Served() const;
    static std::shared_ptr<TOrder> MakeOrder(const QByteArrayList &Sources);

    QByteArrayList FSources;
    QList<TTrackTags> FTags;
    std::shared_ptr<TOrder> FOrder;
};

// Whether Source is an http row's (its URI is its URL).
bool IsRemoteSource(const QByteArray &Source);
