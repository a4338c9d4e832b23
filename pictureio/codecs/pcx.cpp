#include "pictureio/codecs/pcx.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace pictorix::pcx {

void EncodeRow(const std::uint8_t* bytes, std::size_t count, ByteVector& out) {
    for (std::size_t i = 0; i < count;) {
        const std::uint8_t value = bytes[i];
        std::size_t run = 1;
        while (run < 63 && i + run < count && bytes[i + run] == value) ++run;
        if (run > 1 || value >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 + run));
        out.push_back(value);
        i += run;
    }
}

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) throw Error("The bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    if (width > 0xFFFF || height > 0xFFFF)
        throw Error("PCX: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is too large for a PCX file");

    const int bpp = bitmap.bitsPerPixel();
    const bool indexed = bpp == 1 || bpp == 8;
    const unsigned bitsPerPlane = bpp == 1 ? 1 : 8;
    const unsigned planes = indexed ? 1 : 3;
    const std::size_t bytesPerLine = bpp == 1 ? (std::size_t(width) + 7) / 8 : std::size_t(width);

    ByteVector out;
    out.reserve(128 + std::size_t(height) * bytesPerLine * planes + 769);
    out.push_back(10);  // manufacturer
    out.push_back(5);   // version
    out.push_back(1);   // run-length encoding
    out.push_back(static_cast<std::uint8_t>(bitsPerPlane));
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, unsigned(width - 1));
    PutLE16(out, unsigned(height - 1));
    PutLE16(out, 72);
    PutLE16(out, 72);
    out.insert(out.end(), 48, 0);  // 16-colour palette
    out.push_back(0);              // reserved
    out.push_back(static_cast<std::uint8_t>(planes));
    PutLE16(out, unsigned(bytesPerLine));
    PutLE16(out, 1);  // palette information
    out.insert(out.end(), 58, 0);

    if (indexed) {
        for (int y = 0; y < height; ++y) EncodeRow(bitmap.row(y), bytesPerLine, out);
        out.push_back(12);
        const Palette& palette = bitmap.palette();
        const std::size_t entries = std::min(palette.size(), std::size_t{1} << bpp);
        for (std::size_t i = 0; i < 256; ++i) {
            const Color c = i < entries ? palette[i] : kBlack;
            out.push_back(static_cast<std::uint8_t>(GetR(c)));
            out.push_back(static_cast<std::uint8_t>(GetG(c)));
            out.push_back(static_cast<std::uint8_t>(GetB(c)));
        }
        return out;
    }

    std::optional<Bitmap> converted;
    const Bitmap* rgb = &bitmap;
    if (bpp != 24) {
        converted.emplace(bitmap);
        converted->setBitsPerPixel(24);
        rgb = &*converted;
    }
    std::vector<std::uint8_t> plane(bytesPerLine);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb->row(y);
        for (int channel = 2; channel >= 0; --channel) {  // red, green, blue of B,G,R pixels
            for (int x = 0; x < width; ++x) plane[std::size_t(x)] = row[3 * std::size_t(x) + std::size_t(channel)];
            EncodeRow(plane.data(), plane.size(), out);
        }
    }
    return out;
}

}  // namespace pictorix::pcx
