// The MPD door's filters. Arguments are the input's lines; whatever they hold, they are either
// refused with a reason or make a filter that both ways of comparing accept alike, and that
// answers for any track without end.
#include "MpdFilter.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray Bytes(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const QByteArrayList Args = Bytes.isEmpty() ? QByteArrayList() : Bytes.split('\n');
    QString ExactError, FoldedError;
    const auto Exact = TMpdFilter::Parse(Args, TMpdMatch::Exact, &ExactError);
    const auto Folded = TMpdFilter::Parse(Args, TMpdMatch::Folded, &FoldedError);
    if (Exact.has_value() != Folded.has_value() || (!Exact && ExactError.isEmpty()))
        std::abort();
    if (!Exact)
        return 0;
    TTrackTags Tags;
    Tags.Artists = {QStringLiteral("Annbjørg Lien"), QStringLiteral("ABBA")};
    Tags.Album = QStringLiteral("Prisme");
    Tags.Track = 3;
    for (const TTrackTags &Each : {Tags, TTrackTags()}) {
        const TMpdSongRef Song{"Folk/Annbjørg Lien/03 Lys.flac", &Each};
        (void)Exact->Matches(Song);
        (void)Folded->Matches(Song);
    }
    return 0;
}
