#include "SharingState.h"

void TSharingState::SetAllowOthers(bool Allowed) {
    if (Allowed == FAllowOthers)
        return;
    FAllowOthers = Allowed;
    Q_EMIT Changed();
}

void TSharingState::SetLocalIP(const QByteArray &IP) {
    if (IP == FLocalIP)
        return;
    FLocalIP = IP;
    Q_EMIT Changed();
}
