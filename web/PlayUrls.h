#pragma once

#include "PlayTo.h"

#include <QByteArray>
#include <QByteArrayList>

class TMusicLibrary;

// The track URLs of every library row for one library version, address and port, made once
// and kept while they stay the same: a play of the whole library (100000 rows) then costs the
// GUI thread a lookup, not a fresh URL for every row. GUI thread only.
class TPlayUrls {
public:
    struct TUrls {
        QByteArrayList ByRow; // a URL per library row
        TAddPlan All;         // what a play of every row sends
        QByteArray AllLines;  // All.URLs joined, the "ADD" payload
    };

    const TUrls &For(qint64 Version, const TMusicLibrary &Library, const QByteArray &Address,
                     quint16 Port);

private:
    qint64 FVersion = -1;
    QByteArray FAddress;
    quint16 FPort = 0;
    TUrls FUrls;
};
