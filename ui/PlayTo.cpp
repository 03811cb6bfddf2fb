#include "PlayTo.h"

#include "Utils.h"

#include <arpa/inet.h>

std::optional<quint32> DottedAddress(const QString &Host) {
    const QByteArray Text = Host.toLatin1();
    in_addr Address{};
    // inet_aton takes every dotted form a peer may type, and says when it fails.
    if (Host.isEmpty() || Text.contains('\0') || inet_aton(Text.constData(), &Address) == 0)
        return std::nullopt;
    // All bits set is what a name converts to, so it counts as one.
    if (Address.s_addr == INADDR_NONE)
        return std::nullopt;
    return ntohl(Address.s_addr);
}

bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses) {
    const QByteArray Name = Host.toUtf8();
    if (SameTextAscii(Name, "localhost") || (!HostName.isEmpty() && SameTextAscii(Name, HostName)))
        return true;
    const std::optional<quint32> Value = DottedAddress(Host);
    if (!Value)
        return false;
    if (*Value == 0x7F000001)
        return true;
    for (const QByteArray &Own : OwnAddresses)
        if (DottedAddress(QString::fromLatin1(Own)) == Value)
            return true;
    return false;
}

QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Caption) {
    return "http://" + Address + ':' + QByteArray::number(Port) + '/' + Caption;
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
