#include "PlayUrls.h"

#include "AsciiText.h"
#include "MusicLibrary.h"

const TPlayUrls::TUrls &TPlayUrls::For(qint64 Version, const TMusicLibrary &Library,
                                       const QByteArray &Address, quint16 Port) {
    if (Version == FVersion && Address == FAddress && Port == FPort)
        return FUrls;
    FVersion = Version;
    FAddress = Address;
    FPort = Port;
    FUrls.ByRow = PlayURLs(Library.RowSources(), Library.Library(), Address, Port);
    FUrls.All = PlanAdd(FUrls.ByRow);
    FUrls.AllLines = JoinLines(FUrls.All.URLs);
    return FUrls;
}
