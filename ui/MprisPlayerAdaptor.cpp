#include "MprisPlayerAdaptor.h"

#include "MprisService.h"

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMprisService *Service)
    : QDBusAbstractAdaptor(Service), FService(Service) {
    connect(Service, &TMprisService::Seeked, this, &TMprisPlayerAdaptor::Seeked);
}

QString TMprisPlayerAdaptor::PlaybackStatus() const {
    return FService->PlaybackStatus();
}

void TMprisPlayerAdaptor::SetRate(double Value) {
    if (Value == 0.0)
        FService->Pause();
}

QVariantMap TMprisPlayerAdaptor::Metadata() const {
    return FService->Metadata();
}

double TMprisPlayerAdaptor::Volume() const {
    return FService->Volume();
}

void TMprisPlayerAdaptor::SetVolume(double Value) {
    FService->SetVolume(Value);
}

qlonglong TMprisPlayerAdaptor::Position() const {
    return FService->Position();
}

bool TMprisPlayerAdaptor::CanGoNext() const {
    return FService->CanGoNext();
}

bool TMprisPlayerAdaptor::CanGoPrevious() const {
    return FService->CanGoPrevious();
}

bool TMprisPlayerAdaptor::CanPlay() const {
    return FService->CanPlay();
}

bool TMprisPlayerAdaptor::CanPause() const {
    return FService->CanPause();
}

bool TMprisPlayerAdaptor::CanSeek() const {
    return FService->CanSeek();
}

void TMprisPlayerAdaptor::Next() {
    FService->Next();
}

void TMprisPlayerAdaptor::Previous() {
    FService->Previous();
}

void TMprisPlayerAdaptor::Pause() {
    FService->Pause();
}

void TMprisPlayerAdaptor::PlayPause() {
    FService->PlayPause();
}

void TMprisPlayerAdaptor::Stop() {
    FService->Stop();
}

void TMprisPlayerAdaptor::Play() {
    FService->Play();
}

void TMprisPlayerAdaptor::Seek(qlonglong Offset) {
    FService->Seek(Offset);
}

void TMprisPlayerAdaptor::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position) {
    FService->SetPosition(TrackId, Position);
}

void TMprisPlayerAdaptor::OpenUri(const QString &Uri) {
    FService->OpenUri(Uri);
}
