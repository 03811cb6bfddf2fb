#include "PlayTo.h"

#include "Utils.h"

bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses) {
    const QByteArray Name = Host.toUtf8();
    if (SameTextAscii(Name, "localhost") || (!HostName.isEmpty() && SameTextAscii(Name, HostName)))
        return true;
    const quint32 Value = IPv4Value(Host);
    if (Value == 0xFFFFFFFFu)
        return false;
    if (Value == 0x7F000001)
        return true;
    for (const QByteArray &Own : OwnAddresses)
        if (IPv4Value(QString::fromLatin1(Own)) == Value)
            return true;
    return false;
}

QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Caption) {
    // The speaker escapes the rest before fetching and the media server decodes twice, so a
    // "%" must arrive escaped once more; an unescaped "?" would start a query that the server
    // cuts off.
    QByteArray Name = Caption;
    Name.replace('%', "%25").replace('?', "%3F");
    return "http://" + Address + ':' + QByteArray::number(Port) + '/' + Name;
}

QByteArrayList PlayURLs(const QByteArrayList &Sources, const QByteArrayList &Captions,
                        const QByteArray &Address, quint16 Port) {
    QByteArrayList URLs;
    URLs.reserve(Sources.size());
    for (qsizetype I = 0; I < Sources.size(); ++I)
        URLs.append(StartsWithAscii(Sources[I], "http://")
                        ? Sources[I]
                        : TrackURL(Address, Port, Captions.value(I)));
    return URLs;
}

TTargetCheck CheckTarget(const QString &Text) {
    const QByteArray Target = Text.toUtf8();
    if (Target.trimmed().isEmpty())
        return TTargetCheck::Empty;
    if (TUtils::SameNameIgnoringSpaces(Target, "My Computer"))
        return TTargetCheck::ThisComputer;
    return IsValidComputerName(Target) ? TTargetCheck::Host : TTargetCheck::Invalid;
}
