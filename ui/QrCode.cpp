#include "QrCode.h"

#include <qrencode.h>

#include <memory>

TQrCode EncodeQrCode(const QByteArray &Text) {
    TQrCode Code;
    if (Text.isEmpty())
        return Code;
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> Symbol(
        QRcode_encodeData(int(Text.size()), reinterpret_cast<const unsigned char *>(Text.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!Symbol)
        return Code;
    Code.Width = Symbol->width;
    Code.Dark.resize(size_t(Code.Width) * size_t(Code.Width));
    // Bit 0 of each byte is the module's colour; the other bits describe its role.
    for (size_t I = 0; I < Code.Dark.size(); ++I)
        Code.Dark[I] = Symbol->data[I] & 1;
    return Code;
}
