#include "TextPool.h"

namespace {

// Replaces Value with the pool's equal one (kept from now on); an empty value stays as it is.
template <class T> void ShareIn(QSet<T> &Pool, T &Value) {
    if (!Value.isEmpty())
        Value = *Pool.insert(Value);
}

} // namespace

void TTextPool::Share(TTrackTags &Tags) {
    for (QString *Text : {&Tags.Album, &Tags.AlbumArtist, &Tags.Genre, &Tags.Composer})
        ShareIn(FTexts, *Text);
    ShareIn(FLists, Tags.Artists);
    for (QByteArray *Hash : {&Tags.EmbeddedCover, &Tags.FolderCover, &Tags.CoverHash})
        ShareIn(FHashes, *Hash);
}
