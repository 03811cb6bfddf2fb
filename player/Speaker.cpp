#include "Speaker.h"

#include "AsciiText.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "PlaybackEngine.h"
#include "RoomSync.h"
#include "SharingState.h"
#include "SpeakerGroup.h"
#include "SpeakerSettings.h"

#include <QTimer>

TSpeaker::TSpeaker(quint16 Port, TSharingState &Sharing, std::unique_ptr<TMediaComponent> Media,
                   QObject *Parent)
    : QObject(Parent), FSharing(Sharing), FAllowed(Sharing.AllowOthers()) {
    if (!Media)
        Media = std::make_unique<TMediaPlayer>();
    FMedia = std::make_unique<TRoomSync>(std::move(Media));
    FServer = std::make_unique<TCommandServer>();
    FServer->SetSharing(&FSharing);
    connect(&FSharing, &TSharingState::Changed, this, [this] {
        const bool Allowed = FSharing.AllowOthers();
        FGroup->SetHost(FSharing.LocalIP());
        if (Allowed == FAllowed)
            return;
        FAllowed = Allowed;
        FGroup->SetAllowed(Allowed);
        if (!Allowed)
            DisconnectAll();
        Q_EMIT AllowOthersChanged(Allowed);
    });
    TMessageSink Sink;
    TCommandServer *Server = FServer.get();
    Sink.Broadcast = [this, Server](const QByteArray &Word, const QByteArray &Payload,
                                    const QByteArray &Skip) {
        Server->Broadcast(Word, Payload, Skip);
        if (FGroup) // not yet, or no longer
            FGroup->OnBroadcast(Word);
    };
    Sink.SendToConnection = [Server](TConnectionId Id, const QByteArray &Word,
                                     const QByteArray &Payload) {
        Server->SendToConnection(Id, Word, Payload);
    };
    FEngine = std::make_unique<TPlaybackEngine>(FMedia.get(), std::move(Sink));
    connect(FEngine.get(), &TPlaybackEngine::ShowRequested, this, &TSpeaker::ShowRequested);

    FServer->Listen(Port); // a taken port is logged by the server
    connect(FServer.get(), &TCommandServer::Connected, FEngine.get(),
            &TPlaybackEngine::OnControllerConnected);
    FGroup = std::make_unique<TSpeakerGroup>(*FEngine, *FServer, *FMedia, Name().toUtf8());
    FGroup->SetHost(FSharing.LocalIP());
    connect(&SpeakerSettings(), &TSpeakerSettings::NameChanged, FGroup.get(),
            [this](const QString &Name) { FGroup->SetName(Name.toUtf8()); });
    FGroup->SetAllowed(FAllowed);
    connect(FServer.get(), &TCommandServer::CommandReceived, FGroup.get(),
            &TSpeakerGroup::OnCommand);
    connect(FServer.get(), &TCommandServer::Disconnected, FGroup.get(),
            &TSpeakerGroup::OnDisconnected);

    FPlayTimer = new QTimer(this);
    FPlayTimer->setInterval(200);
    connect(FPlayTimer, &QTimer::timeout, this, &TSpeaker::PlayTick);
    FPositionTimer = new QTimer(this);
    FPositionTimer->setInterval(1000);
    connect(FPositionTimer, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::PositionTick);
    connect(FEngine.get(), &TPlaybackEngine::PlayTickWanted, this, &TSpeaker::WakePlayTimer);
    // A volume set from outside (the desktop's media controls) is reported by the next tick.
    connect(FMedia.get(), &TMediaComponent::VolumeChange, this, &TSpeaker::WakePlayTimer);
    connect(FMedia.get(), &TMediaComponent::PlayStateChange, this, [this] {
        WakePlayTimer();
        UpdatePositionTimer();
    });
    FPositionIdle.start();
    WakePlayTimer();
    UpdatePositionTimer();
}

TSpeaker::~TSpeaker() {
    StopServices();
    // The server calls into the group and the engine, the engine into the component.
    FServer.reset();
    FGroup.reset();
    FEngine.reset();
    FMedia.reset();
}

TMediaComponent *TSpeaker::Media() const {
    return FMedia.get();
}

TMediaComponent *TSpeaker::Player() const {
    return FMedia->Player();
}

bool TSpeaker::ListenGroup(quint16 Port) {
    return FGroup->Listen(Port);
}

bool TSpeaker::IsListening() const {
    return FServer->IsListening();
}

bool TSpeaker::TakeShowRequest() {
    return FEngine->TakeShowRequest();
}

void TSpeaker::PlayLocalTracks(const QByteArrayList &URLs, TPlayMode Mode) {
    FGroup->PlayLocal(URLs, Mode);
}

QString TSpeaker::Name() const {
    return SpeakerSettings().Name();
}

bool TSpeaker::AllowsOthers() const {
    return FSharing.AllowOthers();
}

void TSpeaker::SetAllowOthers(bool Allowed) {
    // The server reads the switch for every new controller; Changed drops the others.
    FSharing.SetAllowOthers(Allowed);
}

void TSpeaker::DisconnectAll() {
    FServer->DisconnectAll();
}

void TSpeaker::StopServices() {
    FServicesStopped = true;
    FPlayTimer->stop();
    FPositionTimer->stop();
    FGroup->Close();
    FServer->Close();
}

void TSpeaker::WakePlayTimer() {
    if (!FServicesStopped && !FPlayTimer->isActive())
        FPlayTimer->start();
}

bool TSpeaker::IsPlayTickRunning() const {
    return FPlayTimer->isActive();
}

bool TSpeaker::IsPositionTickRunning() const {
    return FPositionTimer->isActive();
}

void TSpeaker::PlayTick() {
    FEngine->PlayTick();
    if (!FEngine->NeedsPlayTick())
        FPlayTimer->stop();
}

void TSpeaker::UpdatePositionTimer() {
    // Position reports need a playing track; the ticks missed meanwhile still count.
    const bool Playing = !FServicesStopped && FMedia->PlayState() == TPlayState::Playing;
    if (Playing && !FPositionTimer->isActive()) {
        FEngine->AddPositionTicks(int(FPositionIdle.elapsed() / 1000));
        FPositionTimer->start();
    } else if (!Playing && FPositionTimer->isActive()) {
        FPositionTimer->stop();
        FPositionIdle.start();
    }
}
