#include "pictureio/codecs/ico.h"

#include <cstdint>
#include <string>
#include <vector>

#include "core/error.h"

namespace pictorix::ico {
namespace {

constexpr std::uint32_t kDirectorySize = 6 + 16;  // header and one entry
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kColourTableSize = 256 * 4;

[[noreturn]] void Fail(const std::string& what) { throw Error("ICO: " + what); }

// A directory entry holds sizes up to 255; 0 stands for 256 and, by convention,
// for anything larger, the real size being in the image's own header.
std::uint8_t SizeByte(int size) { return static_cast<std::uint8_t>(size >= 256 ? 0 : size); }

}  // namespace

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) Fail("the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();

    Bitmap colour = bitmap;
    colour.setBitsPerPixel(24);

    // Transparent: every pixel of exactly the bottom-left pixel's colour, which the
    // colour image holds as black so that the screen shows through unchanged.
    const Color transparent = colour.pixel(0, height - 1);
    const std::size_t maskStride = Bitmap::strideFor(width, 1);
    std::vector<std::uint8_t> mask(maskStride * std::size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = colour.row(y);
        std::uint8_t* m = mask.data() + std::size_t(y) * maskStride;
        for (int x = 0; x < width; ++x, p += 3) {
            if (RGB(p[2], p[1], p[0]) != transparent) continue;
            m[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            p[0] = p[1] = p[2] = 0;
        }
    }
    colour.setBitsPerPixel(8);  // the halftone palette, nearest colour

    const std::uint64_t colourBits = std::uint64_t(colour.stride()) * std::uint64_t(height);
    const std::uint64_t maskBits = std::uint64_t(maskStride) * std::uint64_t(height);
    const std::uint64_t dataSize = kInfoHeaderSize + kColourTableSize + colourBits + maskBits;
    if (kDirectorySize + dataSize > 0xFFFFFFFFu) Fail("the picture is too large for an icon file");

    ByteVector out;
    out.reserve(static_cast<std::size_t>(kDirectorySize + dataSize));
    PutLE16(out, 0);  // reserved
    PutLE16(out, 1);  // icon, not cursor
    PutLE16(out, 1);  // one image
    out.push_back(SizeByte(width));
    out.push_back(SizeByte(height));
    out.push_back(8);  // colour count
    out.push_back(0);  // reserved
    PutLE16(out, 0);   // planes
    PutLE16(out, 0);   // bit count
    PutLE32(out, static_cast<std::uint32_t>(dataSize));
    PutLE32(out, kDirectorySize);

    PutLE32(out, kInfoHeaderSize);
    PutLE32(out, static_cast<std::uint32_t>(width));
    PutLE32(out, static_cast<std::uint32_t>(2 * height));  // colour image and mask
    PutLE16(out, 1);
    PutLE16(out, 8);
    PutLE32(out, 0);  // no compression
    PutLE32(out, static_cast<std::uint32_t>(colourBits));
    for (int i = 0; i < 4; ++i) PutLE32(out, 0);  // resolutions, colours used, important

    const Palette& palette = colour.palette();
    for (std::size_t i = 0; i < 256; ++i) {
        const Color c = i < palette.size() ? palette[i] : kBlack;
        out.push_back(static_cast<std::uint8_t>(GetB(c)));
        out.push_back(static_cast<std::uint8_t>(GetG(c)));
        out.push_back(static_cast<std::uint8_t>(GetR(c)));
        out.push_back(0);
    }
    for (int y = height - 1; y >= 0; --y) out.insert(out.end(), colour.row(y), colour.row(y) + colour.stride());
    for (int y = height - 1; y >= 0; --y) {
        const std::uint8_t* m = mask.data() + std::size_t(y) * maskStride;
        out.insert(out.end(), m, m + maskStride);
    }
    return out;
}

}  // namespace pictorix::ico
