#include "Speaker.h"

#include "AsciiText.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "PlaybackEngine.h"
#include "SharingState.h"

#include <QTimer>

TSpeaker::TSpeaker(quint16 Port, TSharingState &Sharing, std::unique_ptr<TMediaComponent> Media,
                   QObject *Parent)
    : QObject(Parent), FMedia(std::move(Media)), FSharing(Sharing),
      FAllowed(Sharing.AllowOthers()) {
    if (!FMedia)
        FMedia = std::make_unique<TMediaPlayer>();
    FServer = std::make_unique<TCommandServer>();
    FServer->SetSharing(&FSharing);
    connect(&FSharing, &TSharingState::Changed, this, [this] {
        const bool Allowed = FSharing.AllowOthers();
        if (Allowed == FAllowed)
            return;
        FAllowed = Allowed;
        if (!Allowed)
            DisconnectAll();
        Q_EMIT AllowOthersChanged(Allowed);
    });
    TMessageSink Sink;
    TCommandServer *Server = FServer.get();
    Sink.Broadcast = [Server](const QByteArray &Word, const QByteArray &Payload,
                              const QByteArray &Skip) { Server->Broadcast(Word, Payload, Skip); };
    Sink.SendToConnection = [Server](TConnectionId Id, const QByteArray &Word,
                                     const QByteArray &Payload) {
        Server->SendToConnection(Id, Word, Payload);
    };
    FEngine = std::make_unique<TPlaybackEngine>(FMedia.get(), std::move(Sink));
    connect(FEngine.get(), &TPlaybackEngine::ShowRequested, this, &TSpeaker::ShowRequested);

    FServer->Listen(Port); // a taken port is logged by the server
    connect(FServer.get(), &TCommandServer::Connected, FEngine.get(),
            &TPlaybackEngine::OnControllerConnected);
    connect(FServer.get(), &TCommandServer::CommandReceived, FEngine.get(),
            &TPlaybackEngine::ExecuteCommand);

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
    // The server calls into the engine, the engine into the component.
    FServer.reset();
    FEngine.reset();
    FMedia.reset();
}

bool TSpeaker::IsListening() const {
    return FServer->IsListening();
}

bool TSpeaker::TakeShowRequest() {
    return FEngine->TakeShowRequest();
}

void TSpeaker::AddLocalTracks(const QByteArrayList &URLs) {
    FEngine->AddLocalTracks(URLs);
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
