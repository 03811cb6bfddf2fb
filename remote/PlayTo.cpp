#include "PlayTo.h"

#include "AsciiText.h"
#include "CommandProtocol.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "RemoteSession.h"
#include "Settings.h"
#include "SharingState.h"
#include "SpeakerName.h"

#include <algorithm>
#include <numeric>

bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses) {
    QByteArray Name = Host.toUtf8();
    // A name may end in the root's dot; "<host>.local" is this computer's name on the link.
    if (Name.endsWith('.'))
        Name.chop(1);
    if (SameTextAscii(Name, "localhost") ||
        (!HostName.isEmpty() &&
         (SameTextAscii(Name, HostName) || SameTextAscii(Name, HostName + ".local"))))
        return true;
    const quint32 Value = IPv4Value(QString::fromUtf8(Name));
    if (Value == 0xFFFFFFFFu)
        return false;
    // Every loopback address, and the unspecified one, which a connection takes as this
    // computer too.
    if (Value >> 24 == 127 || Value == 0)
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

// Names the distinct paths of Group, which share one file name, by their shortest tails that
// start after a "/" and that no other path ends with (after that "/"). The path sharing the
// longest tail with a path is its neighbour in the order of the reversed texts, so a sort
// does it, never a comparison of every pair.
void NameGroup(const QByteArrayList &Group, QHash<QByteArray, QByteArray> &Names) {
    const qsizetype Size = Group.size();
    QByteArrayList Reversed;
    Reversed.reserve(Size);
    for (const QByteArray &Path : Group) {
        QByteArray Back(Path.size(), Qt::Uninitialized);
        std::reverse_copy(Path.begin(), Path.end(), Back.begin());
        Reversed.append(Back);
    }
    QList<qsizetype> Order(Size);
    std::iota(Order.begin(), Order.end(), 0);
    std::sort(Order.begin(), Order.end(),
              [&](qsizetype A, qsizetype B) { return Reversed[A] < Reversed[B]; });
    const auto Shared = [&](qsizetype A, qsizetype B) {
        const QByteArray &X = Reversed[Order[A]], &Y = Reversed[Order[B]];
        const qsizetype Most = std::min(X.size(), Y.size());
        qsizetype N = 0;
        while (N < Most && X[N] == Y[N])
            ++N;
        return N;
    };
    for (qsizetype J = 0; J < Size; ++J) {
        const qsizetype Common =
            std::max(J > 0 ? Shared(J, J - 1) : 0, J + 1 < Size ? Shared(J, J + 1) : 0);
        const QByteArray &Path = Group[Order[J]];
        const qsizetype Limit = Path.size() - Common;
        // The tail must reach before the shared text, its "/" included.
        const qsizetype Slash = Limit > 0 ? Path.lastIndexOf('/', Limit - 1) : -1;
        // Another path ends with this whole one: only the whole path tells them apart.
        Names.insert(Path, Path.mid((Slash >= 0 ? Slash : Path.indexOf('/')) + 1));
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
    // Control characters and bidirectional marks: a name that would show other than it is.
    if (std::any_of(Text.begin(), Text.end(), [](QChar C) { return IsHiddenMark(C.unicode()); }))
        return TTargetCheck::Invalid;
    if (SameNameIgnoringSpaces(Target, "My Computer"))
        return TTargetCheck::ThisComputer;
    return IsValidComputerName(Target) ? TTargetCheck::Host : TTargetCheck::Invalid;
}

TPlayTo::TPlayTo(TRemotePageFactory &Pages, const TSharingState &Sharing, QObject *Parent)
    : QObject(Parent), FPages(Pages), FSharing(Sharing) {}

void TPlayTo::SetPresence(const TPresence *Presence) {
    FPresence = Presence;
}

bool TPlayTo::IsThisComputer(const QString &Host) const {
    return ::IsThisComputer(Host, LocalHostName,
                            FPresence ? FPresence->OwnAddresses() : QByteArrayList());
}

QString TPlayTo::SessionHost(const QString &Host) const {
    return FLocalSpeakerPort != 0 && IsThisComputer(Host) ? QStringLiteral("127.0.0.1") : Host;
}

TRemotePlayer *TPlayTo::FindRemotePlayer(const QString &Host) const {
    const quint32 Address = IPv4Value(Host);
    // Another router's players (the web remote's, the window's) are not ours to reuse.
    for (TRemotePlayer *Player : RemotePlayers().Pages()) {
        if (!FOpened.contains(Player))
            continue;
        if (Address != 0xFFFFFFFFu ? Player->HostAddr() == Address
                                   : SameTextAscii(Player->Host().toUtf8(), Host.toUtf8()))
            return Player;
    }
    return nullptr;
}

void TPlayTo::PlayLibraryOn(const QString &Host, const TMusicLibrary &Library, QList<int> Rows,
                            quint16 MediaPort, TPlayMode Mode) {
    const QByteArray Address = TrackAddress(Host);
    if (Rows.isEmpty())
        for (int Row = 0; Row < Library.Count(); ++Row)
            Rows.append(Row);
    QByteArrayList Sources;
    Sources.reserve(Rows.size());
    for (const int Row : Rows)
        Sources.append(Library.Row(Row).Source);
    PlayListOn(Host, PlayURLs(Sources, Library.Library(), Address, MediaPort), Mode);
}

QByteArray TPlayTo::TrackAddress(const QString &Host) const {
    return IsThisComputer(Host) ? QByteArray("127.0.0.1") : FSharing.LocalIP();
}

void TPlayTo::PlayListOn(const QString &Host, const QByteArrayList &AllURLs, TPlayMode Mode) {
    // A play list takes only so many: send what it takes, and say how many it cannot.
    const TAddPlan Plan = PlanAdd(AllURLs);
    PlayPlannedOn(Host, Plan, Plan.URLs.isEmpty() ? QByteArray() : JoinLines(Plan.URLs), Mode);
}

void TPlayTo::PlayPlannedOn(const QString &Host, const TAddPlan &Plan, const QByteArray &Lines,
                            TPlayMode Mode) {
    const QByteArrayList &URLs = Plan.URLs;
    if (Plan.Left > 0)
        Q_EMIT NotAdded(
            QStringLiteral("%1 of %2 tracks were not added: a play list holds at most %3 tracks "
                           "and %4 MiB of addresses, each at most %5 bytes long.")
                .arg(Plan.Left)
                .arg(Plan.URLs.size() + Plan.Left)
                .arg(MaxPlayListRows)
                .arg(MaxPlayListBytes >> 20)
                .arg(MaxCommandLineLength));
    const bool Local = IsThisComputer(Host);
    if (Local && FLocalSpeakerPort == 0) {
        Q_EMIT LocalTracks(URLs, Mode);
        return;
    }
    const QString Target = SessionHost(Host);
    TRemotePlayer *Player = FindRemotePlayer(Target);
    if (!Player) {
        // A speaker that told its name is shown by it ("Kitchen Player").
        const QString Name = FPresence ? FPresence->NameOf(Host.toUtf8()) : QString();
        TRemoteSession *Session =
            FPages.OpenRemotePage((Name.isEmpty() ? Host : Name) + QStringLiteral(" Player"));
        connect(Session, &TRemoteSession::ConnectFailed, this,
                [this, Session] { Q_EMIT ConnectFailed(Session->Host()); });
        FOpened.removeIf([](const QPointer<TRemotePlayer> &P) { return P.isNull(); });
        FOpened.append(Session);
        Session->Start(Target, Local ? FLocalSpeakerPort : quint16(CommandPort));
        Player = Session;
    }
    auto *Session = qobject_cast<TRemoteSession *>(Player);
    if (URLs.isEmpty())
        Player->PostCommand(CommandWord::Get, {});
    else if (Mode != TPlayMode::Add && Session)
        Session->PlayTracks(URLs, Mode);
    else
        Player->PostCommand(CommandWord::Add, Lines);
    FPages.ShowRemotePage(Player);
}
