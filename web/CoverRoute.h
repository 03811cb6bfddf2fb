#pragma once

#include "CoverPicture.h"
#include "MediaServer.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// Covers for the phone page: GET /vx-remote/cover/<hash>-<96|300>.jpg, named by the picture's
// hash, never by a path, so the page never learns where files are. The answer never changes
// for a name: an ETag and a year's immutable caching. Runs on the media server's threads; a
// thumbnail not made yet is made while the request waits (bounded).
class TCoverRoute {
public:
    static constexpr char Prefix[] = "/vx-remote/cover/";
    // How long a request waits for its thumbnail; a cover in a track takes a scanner process.
    static constexpr int MakeWaitMs = 15000;

    // The hash and size Path names; false when it is not exactly a cover's name.
    static bool ParseName(QByteArrayView Path, QByteArray &Hash, int &Size);
    // The answer to a request for a cover's name; Covers null: no cover is known.
    static TWebAnswer Answer(const TWebRequest &Request, TThumbnailSource *Covers,
                             int WaitMs = MakeWaitMs);
};
