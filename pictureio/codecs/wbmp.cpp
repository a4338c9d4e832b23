#include "pictureio/codecs/wbmp.h"

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
