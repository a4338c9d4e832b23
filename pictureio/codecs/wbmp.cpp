#include "pictureio/codecs/wbmp.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"

namespace pictorix::wbmp {
namespace {

// Whether the pixel at (x, y) of brightness level L (0..765) is white.
bool IsWhite(int level, int x, int y) {
    if (level > 660) return true;
    if (level > 585) return !(x % 3 == 0 && y % 3 == 1);
    if (level > 480) return !(x % 2 == 0 && y % 2 == 0);
    if (level > 375) return (x + y) % 2 == 1;
    if (level > 270) return x % 3 == 1 && y % 3 == 2;
    if (level > 180) return x % 4 == 0 && y % 4 == 0;
    if (level > 60) return x % 5 == 1 && y % 5 == 3;
    return false;
}

int Level(Color c) { return int(GetR(c) + GetG(c) + GetB(c)); }

[[noreturn]] void Fail(const std::string& cause) { throw Error("WBMP: " + cause); }

// One header integer from `pos`. A first byte of exactly 0x80 (a leading zero group in
// the standard form, never written by us) is taken as the value 128. Longer values
// continue in the standard form, so the three-byte sizes from 16384 up that our writer
// makes read back as written.
std::uint32_t ReadMultiByteInteger(ByteSpan file, std::size_t& pos) {
    if (pos >= file.size()) Fail("file is truncated");
    const std::uint8_t first = file[pos++];
    if (first <= 0x80) return first;
    std::uint32_t value = first & 0x7Fu;
    for (int length = 2;; ++length) {
        if (length > 4) Fail("a header field is longer than four bytes");
        if (pos >= file.size()) Fail("file is truncated");
        const std::uint8_t b = file[pos++];
        value = (value << 7) | (b & 0x7Fu);
        if (b < 0x80) return value;
    }
}

// Brightness levels of one row.
void RowLevels(const Bitmap& bitmap, int y, const std::vector<int>& paletteLevels, std::vector<int>& levels) {
    const int width = bitmap.width();
    const std::uint8_t* row = bitmap.row(y);
    switch (bitmap.bitsPerPixel()) {
        case 1:
            for (int x = 0; x < width; ++x) levels[x] = paletteLevels[(row[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < width; ++x) levels[x] = paletteLevels[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
            break;
        case 8:
            for (int x = 0; x < width; ++x) levels[x] = paletteLevels[row[x]];
            break;
        case 24:
        case 32: {
            const int step = bitmap.bitsPerPixel() / 8;
            for (int x = 0; x < width; ++x, row += step) levels[x] = row[0] + row[1] + row[2];
            break;
        }
        default:
            for (int x = 0; x < width; ++x) levels[x] = Level(bitmap.pixel(x, y));
            break;
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    std::size_t pos = 0;
    const std::uint32_t type = ReadMultiByteInteger(file, pos);
    if (type != 0) Fail("type " + std::to_string(type) + " is not supported, only type 0");
    ReadMultiByteInteger(file, pos);  // fixed header field: type 0 has no extension headers
    const std::uint32_t width = ReadMultiByteInteger(file, pos);
    const std::uint32_t height = ReadMultiByteInteger(file, pos);
    if (width == 0 || height == 0)
        Fail("picture size " + std::to_string(width) + " x " + std::to_string(height) + " has no pixels");
    CheckPictureSize(width, height, "WBMP");
    if (pos >= file.size()) Fail("file is truncated (no pixel data)");

    // Format before size: the same pixels as the other way round, but a large picture
    // is then allocated at 1 bit per pixel only. A 1-bit bitmap with another palette goes
    // through 24 bits so that its pixels keep their colours as nearly as black and white can.
    if (out.bitsPerPixel() == 1 && out.palette() != BlackWhitePalette()) out.setBitsPerPixel(24);
    out.setBitsPerPixel(1);
    out.setSize(static_cast<int>(width), static_cast<int>(height));

    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
    const std::uint8_t lastByteMask = static_cast<std::uint8_t>(width % 8 == 0 ? 0xFF : 0xFF << (8 - width % 8));
    for (int y = 0; y < out.height() && pos < file.size(); ++y) {
        const std::size_t n = std::min(rowBytes, file.size() - pos);
        std::uint8_t* row = out.row(y);
        std::memcpy(row, file.data() + pos, n);
        pos += n;
        if (n == rowBytes) row[rowBytes - 1] &= lastByteMask;
    }
}

void PutMultiByteInteger(ByteVector& out, std::uint32_t n) {
    int shift = 28;
    while (shift > 0 && (n >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) out.push_back(static_cast<std::uint8_t>(0x80 | ((n >> shift) & 0x7F)));
    out.push_back(static_cast<std::uint8_t>(n & 0x7F));
}

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) throw Error("WBMP: the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;

    // Palette formats: one level per possible index; an index beyond the palette is black.
    std::vector<int> paletteLevels;
    if (bitmap.bitsPerPixel() <= 8) {
        paletteLevels.assign(std::size_t(1) << bitmap.bitsPerPixel(), 0);
        for (std::size_t i = 0; i < paletteLevels.size() && i < bitmap.palette().size(); ++i)
            paletteLevels[i] = Level(bitmap.palette()[i]);
    }

    ByteVector out;
    out.reserve(2 + 10 + rowBytes * std::size_t(height));
    out.push_back(0);  // type 0
    out.push_back(0);  // fixed header
    PutMultiByteInteger(out, static_cast<std::uint32_t>(width));
    PutMultiByteInteger(out, static_cast<std::uint32_t>(height));

    std::vector<int> levels(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        RowLevels(bitmap, y, paletteLevels, levels);
        const std::size_t start = out.size();
        out.resize(start + rowBytes, 0);
        std::uint8_t* dst = out.data() + start;
        for (int x = 0; x < width; ++x)
            if (IsWhite(levels[x], x, y)) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    }
    return out;
}

}  // namespace pictorix::wbmp
