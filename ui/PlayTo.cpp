#include "PlayTo.h"

#include "CommandProtocol.h"
#include "PlaybackEngine.h"
#include "Utils.h"

#include <algorithm>

bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses) {
    const QByteArray Name = Host.toUtf8();
    if (SameTextAscii(Name, "localhost") || (!HostName.isEmpty() && SameTextAscii(Name, HostName)))
        return true;
    const quint32 Value = IPv4Value(Host);
    if (Value == 0xFFFFFFFFu)
        return false;
    if (Value == 0x7F000001)
        return true;
    for (const QByteArray &Own : OwnAddresses)
        if (IPv4Value(QString::fromLatin1(Own)) == Value)
            return true;
    return false;
}

QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Name) {
    // The speaker escapes the rest before fetching and the media server decodes twice, so a
    // "%" must arrive escaped once more; an unescaped "?" would start a query that the server
    // cuts off.
    QByteArray Escaped = Name;
    Escaped.replace('%', "%25").replace('?', "%3F");
    return "http://" + Address + ':' + QByteArray::number(Port) + '/' + Escaped;
}

namespace {

// Whether the media server may answer a request with Source: a local path, not an http URL.
bool IsServedFile(const QByteArray &Source) {
    return Source.contains('/') && !StartsWithAscii(Source, "http://");
}

// Names the distinct paths of Group, which share one file name: each climbs one folder at a
// time until no other member has the same tail, that is until no other path ends with it.
void NameGroup(const QByteArrayList &Group, QHash<QByteArray, QByteArray> &Names) {
    const qsizetype Size = Group.size();
    QList<qsizetype> Cut(Size); // the "/" before each member's tail
    QList<bool> Named(Size, false);
    for (qsizetype I = 0; I < Size; ++I)
        Cut[I] = Group[I].lastIndexOf('/');
    qsizetype Unnamed = Size;
    QHash<QByteArrayView, int> Tails;
    while (Unnamed > 0) {
        Tails.clear();
        for (qsizetype I = 0; I < Size; ++I) {
            const qsizetype Next = Cut[I] > 0 ? Group[I].lastIndexOf('/', Cut[I] - 1) : -1;
            if (Next < 0 && !Named[I]) {
                // Another path ends with this whole one: only the whole path tells them apart.
                Names.insert(Group[I], Group[I].mid(Cut[I] + 1));
                Named[I] = true;
                --Unnamed;
            }
            Cut[I] = Next;
            if (Next >= 0)
                ++Tails[QByteArrayView(Group[I]).sliced(Next + 1)];
        }
        for (qsizetype I = 0; I < Size; ++I) {
            if (Named[I] || Cut[I] < 0)
                continue;
            const QByteArrayView Tail = QByteArrayView(Group[I]).sliced(Cut[I] + 1);
            if (Tails.value(Tail) == 1) {
                Names.insert(Group[I], Tail.toByteArray());
                Named[I] = true;
                --Unnamed;
            }
        }
    }
}

} // namespace

QHash<QByteArray, QByteArray> ServedNames(const QByteArrayList &Library) {
    // One count per file name; only the few names that repeat get a closer look, so a large
    // library costs two passes, not a comparison of every pair.
    const auto NameOf = [](const QByteArray &Source) {
        return QByteArrayView(Source).sliced(Source.lastIndexOf('/') + 1);
    };
    QHash<QByteArrayView, int> Count;
    Count.reserve(Library.size());
    for (const QByteArray &Source : Library)
        if (IsServedFile(Source))
            ++Count[NameOf(Source)];
    QHash<QByteArrayView, QByteArrayList> Groups;
    for (const QByteArray &Source : Library)
        if (IsServedFile(Source) && Count.value(NameOf(Source)) > 1)
            Groups[NameOf(Source)].append(Source);
    QHash<QByteArray, QByteArray> Names;
    for (QByteArrayList &Group : Groups) {
        // A path listed twice is one file.
        std::sort(Group.begin(), Group.end());
        Group.erase(std::unique(Group.begin(), Group.end()), Group.end());
        if (Group.size() > 1)
            NameGroup(Group, Names);
    }
    return Names;
}

QByteArrayList PlayURLs(const QByteArrayList &Sources, const QByteArrayList &Library,
                        const QByteArray &Address, quint16 Port) {
    const QHash<QByteArray, QByteArray> Names = ServedNames(Library);
    QByteArrayList URLs;
    URLs.reserve(Sources.size());
    for (const QByteArray &Source : Sources) {
        if (StartsWithAscii(Source, "http://")) {
            URLs.append(Source);
            continue;
        }
        const auto Name = Names.constFind(Source);
        URLs.append(TrackURL(Address, Port,
                             Name != Names.constEnd() ? Name.value() : FileNamePart(Source)));
    }
    return URLs;
}

TAddPlan PlanAdd(const QByteArrayList &URLs) {
    // Whatever a play list holds fits one message, so one "ADD" carries all that can be added.
    static_assert(MaxPlayListRows <= MaxCommandItemCount && MaxPlayListBytes <= MaxCommandPayload);
    TAddPlan Plan;
    qint64 Bytes = 0;
    for (const QByteArray &URL : URLs) {
        // The line as "LIST" writes it: a leading "." doubled, CR LF after it.
        const qint64 Line = URL.size() + (URL.startsWith('.') ? 1 : 0);
        if (Line > MaxCommandLineLength)
            continue; // one such line would cost the whole message
        if (Plan.URLs.size() >= MaxPlayListRows || Bytes + Line + 2 > MaxPlayListBytes)
            break;
        Bytes += Line + 2;
        Plan.URLs.append(URL);
    }
    Plan.Left = URLs.size() - Plan.URLs.size();
    return Plan;
}

TTargetCheck CheckTarget(const QString &Text) {
    const QByteArray Target = Text.toUtf8();
    if (Target.trimmed().isEmpty())
        return TTargetCheck::Empty;
    if (TUtils::SameNameIgnoringSpaces(Target, "My Computer"))
        return TTargetCheck::ThisComputer;
    return IsValidComputerName(Target) ? TTargetCheck::Host : TTargetCheck::Invalid;
}
