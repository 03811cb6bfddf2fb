// The phone remote's published views: the library with its tags, the speakers, this
// computer's names, and the captions tracks of the library show by.
#include "WebRemote.h"
#include "WebRemoteWatch.h"

#include "LibraryAnswer.h"
#include "LibraryTags.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "Presence.h"
#include "RemoteSession.h"
#include "Settings.h"
#include "SharingState.h"
#include "TrackCaptions.h"
#include "WebGate.h"

#include <QJsonArray>
#include <QTimer>

TCaptionOf TWebRemote::CaptionOf() const {
    return FCaptions ? FCaptions->CaptionOf() : TCaptionOf();
}

void TWebRemote::SetLibraryTags(const TLibraryTags *Tags) {
    if (FTags)
        FTags->disconnect(this);
    FTags = Tags;
    delete FCaptions;
    FCaptions = nullptr;
    if (Tags) {
        FCaptions = new TTrackCaptions(
            FLibrary, *Tags, [this](const QString &Host) { return FPlayTo->IsThisComputer(Host); },
            [this] { return FServer && FServer->Port() ? FServer->Port() : MediaServerPort; },
            this);
        // Watched lists show the tags read since.
        connect(FCaptions, &TTrackCaptions::Changed, this, [this] {
            for (const auto &Watch : std::as_const(FWatches)) {
                SendList(*Watch);
                SendState(*Watch);
            }
        });
    }
    FTagRowsChecked = {-1, -1};
    if (Tags) {
        const auto Later = [this] {
            if (!FTagsDelay->isActive())
                FTagsDelay->start();
        };
        connect(Tags, &TLibraryTags::RowsChanged, this, Later);
        connect(Tags, &TLibraryTags::AlbumsChanged, this, Later);
        // New rows: at once, the page has shown file names meanwhile.
        connect(Tags, &TLibraryTags::RowsReset, this, [this] { PublishLibrary(false); });
    }
    PublishLibrary(false);
}

void TWebRemote::SetTagsDelayMs(int Ms) {
    FTagsDelay->setInterval(Ms);
}

// What the gate answers from without asking.

void TWebRemote::PublishHosts() {
    if (!FGate)
        return;
    FGate->PublishHosts(LocalHostName, FPresence ? FPresence->OwnAddresses() : QByteArrayList{});
}

void TWebRemote::PublishSpeakers() {
    if (!FGate)
        return;
    QJsonArray Speakers, Labels, Names, Addresses;
    for (const QByteArray &Computer :
         FPresence ? FPresence->Computers() : QByteArrayList{TPresence::ThisComputer}) {
        const QString Host = QString::fromUtf8(Computer);
        Speakers.append(Host);
        // This computer's own name titles its player on the phone ("Kitchen Player").
        Names.append(!FPresence                            ? QString()
                     : Computer == TPresence::ThisComputer ? FPresence->Name()
                                                           : FPresence->NameOf(Computer));
        // By name, and the rooms of a group this copy knows of marked; this computer is a
        // room under its address.
        const QString Room =
            Computer == TPresence::ThisComputer ? QString::fromUtf8(FSharing.LocalIP()) : Host;
        Labels.append((FPresence ? FPresence->Label(Computer) : Host) +
                      WithGroupMembers(Room).mid(Room.size()));
        Addresses.append(Room); // as the rooms of a group know it
    }
    FGate->PublishSpeakers(Compact({{QStringLiteral("speakers"), Speakers},
                                    {QStringLiteral("labels"), Labels},
                                    {QStringLiteral("names"), Names},
                                    {QStringLiteral("addresses"), Addresses}}));
}

QList<TTrackTags> TWebRemote::RowTags() {
    if (!FTags)
        return {};
    // Tags kept for other rows (not taken up yet) are not shown against these. Compared once
    // per change of either side's rows: a scan publishes often.
    const std::pair<qint64, int> Rows{FRowsVersion, FTags->RowsVersion()};
    if (Rows != FTagRowsChecked) {
        FTagRowsChecked = Rows;
        FTagRowsMatch = FTags->Sources() == FLibrary.RowSources();
    }
    return FTagRowsMatch && FTags->Count() == FLibrary.Count() ? FTags->AllTags()
                                                               : QList<TTrackTags>();
}

void TWebRemote::PublishLibrary(bool RowsMoved) {
    // A new version either way, so that a page never mixes pages of two versions.
    if (FLibraryAnswer)
        ++FLibraryVersion;
    if (RowsMoved)
        FRowsVersion = FLibraryVersion;
    QList<TTrackTags> Tags = RowTags();
    FLibraryAnswer =
        std::make_shared<TLibraryAnswer>(FLibraryVersion, FRun, FLibrary.Rows(), Tags,
                                         Tags.isEmpty() ? nullptr : FTags->Albums(), FRowsVersion);
    if (FGate)
        FGate->PublishLibrary(FLibraryAnswer);
}
