#include "pictureio/codecs/tga.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"

namespace pictorix::tga {

namespace {

// Appends the packets of one row of `count` pixels of `size` bytes each.
void EncodeRow(const std::uint8_t* pixels, std::size_t count, std::size_t size, ByteVector& out) {
    const std::size_t minRun = size == 1 ? 3 : 2;  // shorter runs cost no less as raw pixels
    auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(pixels + a * size, pixels + b * size, size) == 0;
    };
    auto runAt = [&](std::size_t i) {
        std::size_t n = 1;
        while (n < 128 && i + n < count && same(i, i + n)) ++n;
        return n;
    };
    for (std::size_t i = 0; i < count;) {
        const std::size_t run = runAt(i);
        if (run >= minRun) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), pixels + i * size, pixels + (i + 1) * size);
            i += run;
            continue;
        }
        // Raw packet: up to the next run worth its own packet, at most 128 pixels.
        std::size_t n = run;
        while (n < 128 && i + n < count && runAt(i + n) < minRun) n += 1;
        out.push_back(static_cast<std::uint8_t>(n - 1));
        out.insert(out.end(), pixels + i * size, pixels + (i + n) * size);
        i += n;
    }
}

}  // namespace

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) throw Error("TGA: the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    if (width > 0xFFFF || height > 0xFFFF)
        throw Error("TGA: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is too large for a TGA file");

    const int bpp = bitmap.bitsPerPixel();
    const bool mapped = bpp <= 8;
    const std::size_t size = mapped ? 1 : std::size_t(bpp / 8);

    ByteVector out;
    out.reserve(18 + 768 + std::size_t(width) * std::size_t(height) * size / 2);
    out.push_back(0);                           // no image ID
    out.push_back(mapped ? 1 : 0);              // colour-map type
    out.push_back(mapped ? 9 : 10);             // run-length colour-mapped / true colour
    PutLE16(out, 0);                            // first colour-map entry
    PutLE16(out, 256);                          // colour-map length
    out.push_back(24);                          // colour-map entry size
    PutLE16(out, 0);                            // x origin
    PutLE16(out, 0);                            // y origin
    PutLE16(out, unsigned(width));
    PutLE16(out, unsigned(height));
    out.push_back(static_cast<std::uint8_t>(mapped ? 8 : bpp));
    out.push_back(bpp == 32 ? 0x28 : 0x20);     // top-left origin; 8 alpha bits for 32-bit

    if (mapped) {
        const Palette& palette = bitmap.palette();
        const std::size_t entries = std::min(palette.size(), std::size_t{1} << bpp);
        for (std::size_t i = 0; i < 256; ++i) {
            const Color c = i < entries ? palette[i] : kBlack;
            out.push_back(static_cast<std::uint8_t>(GetB(c)));
            out.push_back(static_cast<std::uint8_t>(GetG(c)));
            out.push_back(static_cast<std::uint8_t>(GetR(c)));
        }
    }

    std::vector<std::uint8_t> row(std::size_t(width) * size);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = bitmap.row(y);
        std::uint8_t* dst = row.data();
        switch (bpp) {
            case 1:
            case 4:
                for (int x = 0; x < width; ++x) dst[x] = static_cast<std::uint8_t>(bitmap.index(x, y));
                break;
            case 8: std::memcpy(dst, src, row.size()); break;
            case 16:
                for (int x = 0; x < width; ++x, src += 2, dst += 2) {
                    const unsigned v = unsigned(src[0]) | unsigned(src[1]) << 8;  // R5 G6 B5
                    const unsigned t = 0x8000 | (v & 0xF800) >> 1 | (v & 0x07C0) >> 1 | (v & 0x001F);
                    dst[0] = static_cast<std::uint8_t>(t);
                    dst[1] = static_cast<std::uint8_t>(t >> 8);
                }
                break;
            case 24: std::memcpy(dst, src, row.size()); break;
            default:
                for (int x = 0; x < width; ++x, src += 4, dst += 4) {
                    dst[0] = src[0];
                    dst[1] = src[1];
                    dst[2] = src[2];
                    dst[3] = 0xFF;
                }
                break;
        }
        EncodeRow(row.data(), std::size_t(width), size, out);
    }
    return out;
}

}  // namespace pictorix::tga
