#include "CoverRoute.h"

namespace {

// Whether an If-None-Match header names Tag ("*", a list, weak tags).
bool Matches(const QByteArray &IfNoneMatch, const QByteArray &Tag) {
    for (QByteArray Item : IfNoneMatch.split(',')) {
        Item = Item.trimmed();
        if (Item.startsWith("W/"))
            Item.remove(0, 2);
        if (Item == "*" || Item == Tag)
            return true;
    }
    return false;
}

TWebAnswer Plain(unsigned Status, const char *Text) {
    TWebAnswer Answer;
    Answer.Status = Status;
    Answer.Body = Text;
    Answer.Headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}};
    return Answer;
}

} // namespace

bool TCoverRoute::ParseName(QByteArrayView Path, QByteArray &Hash, int &Size) {
    if (!Path.startsWith(Prefix) || !Path.endsWith(".jpg"))
        return false;
    const QByteArrayView Name = Path.sliced(sizeof Prefix - 1).chopped(4);
    if (Name.size() <= CoverHashChars || Name[CoverHashChars] != '-')
        return false;
    const QByteArrayView SizeText = Name.sliced(CoverHashChars + 1);
    Size = SizeText == "96" ? 96 : SizeText == "300" ? 300 : 0;
    Hash = Name.first(CoverHashChars).toByteArray();
    return Size != 0 && IsCoverHash(Hash);
}

TWebAnswer TCoverRoute::Answer(const TWebRequest &Request, TThumbnailSource *Covers, int WaitMs) {
    if (Request.Method != "GET" && Request.Method != "HEAD") {
        TWebAnswer Answer = Plain(405, "Method not allowed.");
        Answer.Headers.emplace_back("Allow", "GET, HEAD");
        return Answer;
    }
    QByteArray Hash;
    int Size = 0;
    if (!ParseName(Request.Path, Hash, Size) || !Covers || !Covers->IsKnown(Hash))
        return Plain(404, "No such cover.");
    const QByteArray Tag = '"' + Hash + '-' + QByteArray::number(Size) + '"';
    TWebAnswer Answer;
    if (Matches(Request.Header("If-None-Match"), Tag)) {
        Answer.Status = 304;
    } else {
        switch (Covers->Thumbnail(Hash, Size, WaitMs, Answer.Body)) {
        case TThumbnailSource::TResult::Made:
            Answer.Headers = {{"Content-Type", "image/jpeg"}};
            break;
        case TThumbnailSource::TResult::Busy:
            return Plain(503, "The cover is still being made.");
        case TThumbnailSource::TResult::Unknown:
        case TThumbnailSource::TResult::Failed:
            return Plain(404, "No such cover.");
        }
    }
    Answer.Headers.emplace_back("ETag", Tag);
    Answer.Headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
    return Answer;
}
