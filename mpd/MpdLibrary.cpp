#include "MpdLibrary.h"

#include "AsciiText.h"
#include "PlayTo.h"

#include <algorithm>

bool IsRemoteSource(const QByteArray &Source) {
    return !Source.startsWith('/');
}

std::shared_ptr<TMpdLibrary::TOrder> TMpdLibrary::MakeOrder(const QByteArrayList &Sources) {
    auto Order = std::make_shared<TOrder>();
    Order->Sources = Sources;
    // The root: the folder part every local path shares, ended at a "/".
    bool First = true;
    for (int Row = 0; Row < int(Sources.size()); ++Row) {
        const QByteArray &Source = Sources[Row];
        if (IsRemoteSource(Source)) {
            Order->Remote.append(Row);
            continue;
        }
        Order->ByUri.append(Row);
        if (First) {
            Order->Root = Source.left(Source.lastIndexOf('/'));
            First = false;
            continue;
        }
        QByteArray &Root = Order->Root;
        qsizetype Same = 0;
        const qsizetype Most = std::min(Root.size(), Source.size());
        while (Same < Most && Root[Same] == Source[Same])
            ++Same;
        if (Same == Root.size() && Source.size() > Same && Source[Same] == '/')
            continue;
        // "/a/bc" and "/a/bd/x" share "/a/b", which is no folder of theirs: "/a" is.
        Root.truncate(std::max<qsizetype>(QByteArrayView(Root).first(Same).lastIndexOf('/'), 0));
    }
    Order->Skip = Order->Root.size() + 1;
    const qsizetype Skip = Order->Skip;
    std::sort(Order->ByUri.begin(), Order->ByUri.end(), [&](int A, int B) {
        return QByteArrayView(Sources[A]).sliced(Skip) < QByteArrayView(Sources[B]).sliced(Skip);
    });
    return Order;
}

TMpdLibrary::TMpdLibrary(QByteArrayList Sources, QList<TTrackTags> Tags, const TMpdLibrary *Before)
    : FSources(std::move(Sources)), FTags(std::move(Tags)) {
    if (Before && Before->FSources == FSources)
        FOrder = Before->FOrder;
    else
        FOrder = MakeOrder(FSources);
}

const TTrackTags &TMpdLibrary::Tags(int Row) const {
    static const TTrackTags None;
    return Row < FTags.size() ? FTags[Row] : None;
}

QByteArrayView TMpdLibrary::Uri(int Row) const {
    const QByteArray &Source = FSources[Row];
    return IsRemoteSource(Source) ? QByteArrayView(Source)
                                  : QByteArrayView(Source).sliced(FOrder->Skip);
}

QByteArray TMpdLibrary::UriOf(const QByteArray &Source) const {
    const QByteArray &Root = FOrder->Root;
    if (IsRemoteSource(Source) || FOrder->ByUri.isEmpty() || !Source.startsWith(Root) ||
        Source.size() <= FOrder->Skip || Source[Root.size()] != '/')
        return Source;
    return Source.sliced(FOrder->Skip);
}

std::pair<qsizetype, qsizetype> TMpdLibrary::Below(QByteArrayView Folder) const {
    const QList<int> &ByUri = FOrder->ByUri;
    if (Folder.isEmpty())
        return {0, ByUri.size()};
    // Every URI starting with "Folder/" sorts between "Folder/" and "Folder0" ("0" follows "/").
    const QByteArray From = Folder.toByteArray() + '/';
    QByteArray To = From;
    To.back() = '0';
    const auto Less = [this](int Row, const QByteArray &Key) { return Uri(Row) < Key; };
    const auto Start = std::lower_bound(ByUri.begin(), ByUri.end(), From, Less);
    const auto End = std::lower_bound(Start, ByUri.end(), To, Less);
    return {Start - ByUri.begin(), End - ByUri.begin()};
}

int TMpdLibrary::RowOf(QByteArrayView Uri) const {
    if (Uri.isEmpty())
        return -1;
    for (const int Row : FOrder->Remote)
        if (FSources[Row] == Uri)
            return Row;
    const QList<int> &ByUri = FOrder->ByUri;
    const auto It =
        std::lower_bound(ByUri.begin(), ByUri.end(), Uri,
                         [this](int Row, QByteArrayView Key) { return this->Uri(Row) < Key; });
    return It != ByUri.end() && this->Uri(*It) == Uri ? *It : -1;
}

bool TMpdLibrary::IsFolder(QByteArrayView Folder) const {
    const auto [Start, End] = Below(Folder);
    return Folder.isEmpty() || Start < End;
}

void TMpdLibrary::ListFolder(QByteArrayView Folder, QByteArrayList &Folders,
                             QList<int> &Files) const {
    const QList<int> &ByUri = FOrder->ByUri;
    auto [At, End] = Below(Folder);
    const qsizetype Skip = Folder.isEmpty() ? 0 : Folder.size() + 1;
    while (At < End) {
        const QByteArrayView Uri = this->Uri(ByUri[At]);
        const qsizetype Slash = Uri.indexOf('/', Skip);
        if (Slash < 0) {
            Files.append(ByUri[At++]);
            continue;
        }
        // A subfolder: named once, its files skipped in one search.
        Folders.append(Uri.first(Slash).toByteArray());
        At = Below(Folders.back()).second;
    }
    if (Folder.isEmpty())
        Files += FOrder->Remote;
}

QByteArray TMpdLibrary::PlayUrl(int Row, const QByteArray &Address, quint16 Port) const {
    const QByteArray &Source = FSources[Row];
    if (IsRemoteSource(Source))
        return Source;
    const auto Name = Served().constFind(Source);
    return TrackURL(Address, Port, Name != Served().constEnd() ? *Name : FileNamePart(Source));
}

const QHash<QByteArray, QByteArray> &TMpdLibrary::Served() const {
    if (!FOrder->ServedNames)
        FOrder->ServedNames =
            std::make_unique<QHash<QByteArray, QByteArray>>(ServedNames(FOrder->Sources));
    return *FOrder->ServedNames;
}

int TMpdLibrary::RowOfServedName(QByteArrayView Name) const {
    if (!FOrder->ByServedName) {
        const QHash<QByteArray, QByteArray> &Longer = Served();
        auto ByName = std::make_unique<QHash<QByteArrayView, int>>();
        ByName->reserve(FOrder->ByUri.size());
        for (const int Row : FOrder->ByUri) {
            const QByteArray &Source = FOrder->Sources[Row];
            const auto Tail = Longer.constFind(Source);
            const QByteArrayView Served =
                Tail != Longer.constEnd()
                    ? QByteArrayView(*Tail)
                    : QByteArrayView(Source).sliced(Source.lastIndexOf('/') + 1);
            if (!ByName->contains(Served)) // a path listed twice is one file
                ByName->insert(Served, Row);
        }
        FOrder->ByServedName = std::move(ByName);
    }
    return FOrder->ByServedName->value(Name, -1);
}
