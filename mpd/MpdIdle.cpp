#include "MpdIdle.h"

#include "AsciiText.h"

const QByteArrayList &MpdIdleNames() {
    static const QByteArrayList Names = {"database", "stored_playlist", "playlist", "player",
                                         "mixer",    "output",          "options",  "update"};
    return Names;
}

std::optional<TMpdIdleMask> MpdIdleBit(const QByteArray &Name) {
    const QByteArrayList &Names = MpdIdleNames();
    for (qsizetype I = 0; I < Names.size(); ++I)
        if (SameTextAscii(Names[I], Name))
            return TMpdIdleMask(1u << I);
    return std::nullopt;
}
