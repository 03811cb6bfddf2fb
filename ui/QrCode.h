#pragma once

#include <QByteArray>

#include <vector>

// A QR code as its square of modules, row by row; no quiet zone.
struct TQrCode {
    int Width = 0; // modules per side; 0 when nothing was encoded
    std::vector<bool> Dark;

    // Whether the module in column X, row Y is dark.
    bool IsDark(int X, int Y) const { return Dark[size_t(Y) * size_t(Width) + size_t(X)]; }
};

// Text as the smallest QR code that holds it in 8-bit mode at error correction level M;
// an empty code when Text is empty or too long for any version.
TQrCode EncodeQrCode(const QByteArray &Text);
