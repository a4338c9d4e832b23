#include "ui/image_convert.h"

#include <cstdint>

using pictorix::Bitmap;
using pictorix::Color;

namespace {

QRgb ToQRgb(Color c) { return qRgb(pictorix::GetR(c), pictorix::GetG(c), pictorix::GetB(c)); }

}  // namespace

QImage ToQImage(const Bitmap& bitmap) {
    if (bitmap.empty()) return QImage();
    const int w = bitmap.width();
    const int h = bitmap.height();
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) return image;  // out of memory: nothing to show

    const int bpp = bitmap.bitsPerPixel();
    QList<QRgb> table;
    if (bpp <= 8) {
        table.fill(qRgb(0, 0, 0), 1 << bpp);
        const pictorix::Palette& palette = bitmap.palette();
        for (int i = 0; i < table.size() && i < static_cast<int>(palette.size()); ++i) table[i] = ToQRgb(palette[i]);
    }

    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = bitmap.row(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        switch (bpp) {
        case 24:
            for (int x = 0; x < w; ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
            break;
        case 32:
            for (int x = 0; x < w; ++x, src += 4) dst[x] = qRgb(src[2], src[1], src[0]);
            break;
        case 8:
            for (int x = 0; x < w; ++x) dst[x] = table[src[x]];
            break;
        case 4:
            for (int x = 0; x < w; ++x) dst[x] = table[(src[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0F];
            break;
        case 1:
            for (int x = 0; x < w; ++x) dst[x] = table[(src[x / 8] >> (7 - x % 8)) & 1];
            break;
        default:
            for (int x = 0; x < w; ++x) dst[x] = ToQRgb(bitmap.pixel(x, y));
            break;
        }
    }
    return image;
}
