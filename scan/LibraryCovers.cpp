// Which cover each row shows: a folder's image only where the folder holds one album.
#include "LibraryTags.h"

#include <algorithm>

void TLibraryTags::ChooseCovers(const QSet<QByteArray> &Folders, QList<int> &Changed) {
    const qsizetype Before = Changed.size();
    for (const QByteArray &Folder : Folders)
        ChooseFolderCover(FTags, FFolderRows.value(Folder), FCoverSource, Changed);
    // A row both read and given a cover is said once.
    if (Changed.size() > Before) {
        std::sort(Changed.begin(), Changed.end());
        Changed.erase(std::unique(Changed.begin(), Changed.end()), Changed.end());
    }
}

void TLibraryTags::ChooseFolderCover(QList<TTrackTags> &Tags, const QList<int> &Rows,
                                     TCoverSource Source, QList<int> &Changed) {
    // One album: every track with tags names the same one.
    QString Album;
    bool OneAlbum = true;
    for (const int Row : Rows) {
        const TTrackTags &T = std::as_const(Tags)[Row];
        if (T.Title.isEmpty() && T.Album.isEmpty() && T.Artists.isEmpty())
            continue;
        if (T.Album.isEmpty() || (!Album.isEmpty() && T.Album != Album))
            OneAlbum = false;
        Album = T.Album;
    }
    for (const int Row : Rows) {
        const TTrackTags &T = std::as_const(Tags)[Row];
        const QByteArray Own = OneAlbum ? T.FolderCover : QByteArray();
        const bool FolderFirst = Source == TCoverSource::Folder;
        const QByteArray &First = FolderFirst ? Own : T.EmbeddedCover;
        const QByteArray &Other = FolderFirst ? T.EmbeddedCover : Own;
        const QByteArray Chosen = First.isEmpty() ? Other : First;
        // Only a change detaches the rows from a copy handed out.
        if (Chosen != T.CoverHash) {
            Tags[Row].CoverHash = Chosen;
            Changed.append(Row);
        }
    }
}
