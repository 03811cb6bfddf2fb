#include "MprisRootAdaptor.h"

#include "MprisService.h"

TMprisRootAdaptor::TMprisRootAdaptor(TMprisService *Service)
    : QDBusAbstractAdaptor(Service), FService(Service) {}

void TMprisRootAdaptor::Raise() {
    FService->Raise();
}

void TMprisRootAdaptor::Quit() {
    FService->Quit();
}
