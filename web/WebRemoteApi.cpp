// The phone remote's API: a play of library rows on a speaker, and the commands to a
// watched speaker's session.
#include "WebRemoteWatch.h"

#include "CommandProtocol.h"
#include "LibraryAnswer.h"
#include "ListPages.h"
#include "MediaServer.h"
#include "MusicLibrary.h"
#include "SharingState.h"
#include "WebGate.h"

#include <QJsonArray>

#include <optional>

namespace {

// A JSON number that is a whole number in [Low, High].
std::optional<int> WholeNumber(const QJsonValue &Value, qint64 Low, qint64 High) {
    if (!Value.isDouble())
        return std::nullopt;
    const double Number = Value.toDouble();
    if (Number < double(Low) || Number > double(High) || Number != double(qint64(Number)))
        return std::nullopt;
    return int(Number);
}

// An array of rows of a list of Count rows.
std::optional<QList<int>> RowList(const QJsonValue &Value, int Count) {
    if (!Value.isArray() || Value.toArray().size() > Count)
        return std::nullopt;
    QList<int> Rows;
    for (const QJsonValue &Row : Value.toArray()) {
        const std::optional<int> Number = WholeNumber(Row, 0, Count - 1);
        if (!Number)
            return std::nullopt;
        Rows.append(*Number);
    }
    return Rows;
}

// The page's choice: "now", "next", else (and from older pages) "add".
TPlayMode PlayModeOf(const QJsonValue &Value) {
    const QString Mode = Value.toString();
    return Mode == u"now"    ? TPlayMode::PlayNow
           : Mode == u"next" ? TPlayMode::PlayNext
                             : TPlayMode::Add;
}

TWebAnswer Ok(const QJsonObject &Object = {}) {
    return TWebGate::Json(200, Compact(Object));
}

} // namespace

// Requests handed over by the gate.

TWebAnswer TWebRemote::Post(const QByteArray &Path, const QJsonObject &Body, quint32 Client) {
    if (FStopped)
        return TWebGate::Error(503, QStringLiteral("The web remote has stopped."));
    FClient = Client;
    if (Path == TWebGate::ApiPlay)
        return Play(Body);
    if (Path == TWebGate::ApiWatch)
        return OpenWatch(Body);
    if (Path == TWebGate::ApiList)
        return ListPage(Body);
    if (Path == TWebGate::ApiGroup)
        return GroupCommand(Body);
    return Command(Body);
}

TWebAnswer TWebRemote::Play(const QJsonObject &Body) {
    const QString Host = Body.value(u"host").toString().trimmed();
    const TTargetCheck Check = CheckTarget(Host);
    if (Check == TTargetCheck::Empty || Check == TTargetCheck::Invalid)
        return TWebGate::Error(400, QStringLiteral("Invalid computer name or IP."));
    if (!MakeRoom(WatchKey(Host)))
        return TWebGate::Error(503, TooManyText());
    if (WatchKey(Host) == u"127.0.0.1" && FPlayTo->LocalSpeakerPort() == 0)
        return TWebGate::Error(503, NoLocalSpeakerText());
    // A version that only changed tags names the same rows.
    if (!WholeNumber(Body.value(u"version"), FRowsVersion, FLibraryVersion))
        return TWebGate::Error(409, QStringLiteral("The library has changed."));
    std::optional<QList<int>> Rows =
        Body.contains(u"ids") ? RowList(Body.value(u"ids"), FLibrary.Count()) : QList<int>{};
    if (!Rows)
        return TWebGate::Error(400, QStringLiteral("Invalid ids."));
    FNote.clear();
    const QString Target = RouterHost(Host);
    const TPlayUrls::TUrls &Urls =
        FPlayUrls.For(FRowsVersion, FLibrary, FPlayTo->TrackAddress(Target),
                      FServer && FServer->Port() ? FServer->Port() : MediaServerPort);
    const TPlayMode Mode = PlayModeOf(Body.value(u"mode"));
    if (Rows->isEmpty()) {
        FPlayTo->PlayPlannedOn(Target, Urls.All, Urls.AllLines, Mode);
    } else {
        QByteArrayList Chosen;
        Chosen.reserve(Rows->size());
        for (const int Row : std::as_const(*Rows))
            Chosen.append(Urls.ByRow[Row]);
        FPlayTo->PlayListOn(Target, Chosen, Mode);
    }
    // The speaker turns the tracks away itself; the page learns why at once.
    if (FPlayTo->IsThisComputer(RouterHost(Host)) && !FSharing.AllowOthers())
        FNote = RefusedText();
    return Ok({{QStringLiteral("note"), FNote}});
}

TWebAnswer TWebRemote::ListPage(const QJsonObject &Body) {
    const auto Found = FWatches.constFind(WatchKey(Body.value(u"host").toString()));
    if (Found == FWatches.cend() || !(*Found)->Session)
        return TWebGate::Error(404, QStringLiteral("No session with that computer."));
    const TWatch &W = **Found;
    if (WholeNumber(Body.value(u"version"), 0, FListVersion) != W.ListVersion)
        return TWebGate::Error(409, QStringLiteral("The play list has changed."));
    const std::optional<int> From = WholeNumber(Body.value(u"from"), 0, MaxPlayListRows);
    const std::optional<int> Count = WholeNumber(Body.value(u"count"), 0, PageRows);
    if (!From || !Count)
        return TWebGate::Error(400, QStringLiteral("Invalid range."));
    return TWebGate::Json(
        200, ListPageJson(W.Session->List(), W.ListVersion, *From, *Count, nullptr, CaptionOf()));
}

TWebRemote::TWatch *TWebRemote::LiveWatch(const QJsonObject &Body) {
    const QString Host = Body.value(u"host").toString();
    const auto Found = FWatches.constFind(WatchKey(Host));
    if (Host.trimmed().isEmpty() || Found == FWatches.cend() || !(*Found)->Session ||
        (*Found)->Session->HasEnded())
        return nullptr;
    return Found->get();
}

TWebAnswer TWebRemote::Command(const QJsonObject &Body) {
    TWatch *Live = LiveWatch(Body);
    if (!Live)
        return TWebGate::Error(404, QStringLiteral("No session with that computer."));
    TWatch &W = *Live;
    TRemoteSession &S = *W.Session;
    const QString Do = Body.value(u"do").toString();
    const auto Bar = [&](TTrackBar Which) {
        const std::optional<int> Value = WholeNumber(Body.value(u"value"), 0, 100);
        if (!Value)
            return TWebGate::Error(400, QStringLiteral("Invalid value."));
        S.PressBar(Which);
        S.BarMoved(Which, *Value);
        S.ReleaseBar(Which);
        return Ok();
    };
    if (Do == u"playpause")
        S.PlayOrPause();
    else if (Do == u"skipnext")
        S.PlayNext();
    else if (Do == u"skipprevious")
        S.PlayPrevious();
    else if (Do == u"stop")
        S.Stop();
    else if (Do == u"mute")
        S.ToggleMute();
    else if (Do == u"volume")
        return Bar(TTrackBar::Volume);
    else if (Do == u"seek")
        return Bar(TTrackBar::Position);
    else {
        // The list edits name rows of the list as the browser was shown it.
        if (!QStringList{"play", "remove", "up", "down", "next", "drop"}.contains(Do))
            return TWebGate::Error(400, QStringLiteral("Unknown command."));
        if (WholeNumber(Body.value(u"version"), 0, FListVersion) != W.ListVersion)
            return TWebGate::Error(409, QStringLiteral("The play list has changed."));
        const int Count = int(S.List().size());
        if (Do == u"play") {
            const std::optional<int> Row = WholeNumber(Body.value(u"row"), 0, Count - 1);
            if (!Row)
                return TWebGate::Error(400, QStringLiteral("Invalid row."));
            S.Play(S.List().at(*Row));
            return Ok();
        }
        const std::optional<QList<int>> Rows = RowList(Body.value(u"rows"), Count);
        const std::optional<int> Target =
            Do == u"drop" ? WholeNumber(Body.value(u"target"), -1, Count - 1) : -1;
        if (!Rows || !Target)
            return TWebGate::Error(400, QStringLiteral("Invalid rows."));
        if (Do == u"remove")
            S.Remove(*Rows);
        else if (Do == u"up")
            S.MoveUp(*Rows);
        else if (Do == u"down")
            S.MoveDown(*Rows);
        else if (Do == u"next")
            S.MoveToNextPlaying(*Rows);
        else
            S.DropOn(*Rows, *Target);
        W.ListVersion = ++FListVersion;
        SendList(W);
    }
    return Ok();
}
