#include "pictureio/codecs/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::bmp {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

// biCompression values. For OS/2 2.x headers 3 and 4 mean Huffman 1D and RLE24.
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitfields = 3;
constexpr std::uint32_t kAlphaBitfields = 6;

[[noreturn]] void Fail(const std::string& what) { throw Error("BMP: " + what); }
[[noreturn]] void Truncated() { Fail("file is truncated"); }

std::string CompressionName(std::uint32_t compression, bool os2) {
    switch (compression) {
        case 0: return "BI_RGB";
        case 1: return "RLE8";
        case 2: return "RLE4";
        case 3: return os2 ? "OS/2 Huffman 1D" : "BI_BITFIELDS";
        case 4: return os2 ? "OS/2 RLE24" : "JPEG";
        case 5: return "PNG";
        case 6: return "BI_ALPHABITFIELDS";
        case 11: return "CMYK";
        case 12: return "CMYK RLE8";
        case 13: return "CMYK RLE4";
        default: return "unknown";
    }
}

// What the headers say, after validation.
struct Layout {
    int width = 0;
    int height = 0;           // rows, always positive
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kRgb;
    std::array<std::uint32_t, 3> masks{};  // red, green, blue (16 and 32 bits)
    Palette palette;
    std::size_t pixelOffset = 0;
};

Layout ParseHeaders(ByteSpan file) {
    if (file.size() < kFileHeaderSize + 4) Truncated();
    if (file[0] != 'B' || file[1] != 'M') Fail("not a Windows bitmap (no \"BM\" signature)");
    const std::uint32_t offBits = ReadLE32(file, 10);
    const std::uint32_t headerSize = ReadLE32(file, 14);

    const bool core = headerSize == 12;
    const bool os2v2 = headerSize == 16 || headerSize == 64;
    const bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 ||
                         headerSize == 108 || headerSize == 124;
    if (!core && !os2v2 && !windows) Fail("unsupported header size " + std::to_string(headerSize));
    if (file.size() < kFileHeaderSize + headerSize) Truncated();

    constexpr std::size_t h = kFileHeaderSize;
    long long width, height;
    unsigned planes, bitCount;
    std::uint32_t compression = kRgb, clrUsed = 0;
    if (core) {
        width = ReadLE16(file, h + 4);
        height = ReadLE16(file, h + 6);
        planes = ReadLE16(file, h + 8);
        bitCount = ReadLE16(file, h + 10);
    } else {
        width = static_cast<std::int32_t>(ReadLE32(file, h + 4));
        height = static_cast<std::int32_t>(ReadLE32(file, h + 8));
        planes = ReadLE16(file, h + 12);
        bitCount = ReadLE16(file, h + 14);
        if (headerSize >= 40) {
            compression = ReadLE32(file, h + 16);
            clrUsed = ReadLE32(file, h + 32);
        }
    }

    if (planes != 1) Fail("the number of planes is " + std::to_string(planes) + ", not 1");
    if (width <= 0) Fail("width " + std::to_string(width) + " is not valid");
    if (height == 0) Fail("height 0 is not valid");

    const bool os2 = core || os2v2;
    const bool supportedCompression = compression == kRgb || compression == kRle8 ||
                                      compression == kRle4 ||
                                      (!os2 && (compression == kBitfields || compression == kAlphaBitfields));
    if (!supportedCompression)
        Fail("unsupported compression " + std::to_string(compression) + " (" +
             CompressionName(compression, os2) + ")");
    if (bitCount != 1 && bitCount != 2 && bitCount != 4 && bitCount != 8 && bitCount != 16 &&
        bitCount != 24 && bitCount != 32)
        Fail("unsupported bit count " + std::to_string(bitCount));
    const bool fits = compression == kRgb || (compression == kRle8 && bitCount == 8) ||
                      (compression == kRle4 && bitCount == 4) ||
                      ((compression == kBitfields || compression == kAlphaBitfields) &&
                       (bitCount == 16 || bitCount == 32));
    if (!fits)
        Fail("compression " + std::to_string(compression) + " (" + CompressionName(compression, os2) +
             ") does not go with " + std::to_string(bitCount) + " bits per pixel");

    Layout layout;
    layout.topDown = height < 0;
    if (layout.topDown && (compression == kRle8 || compression == kRle4))
        Fail("a top-down bitmap cannot be run-length compressed");
    const long long rows = height < 0 ? -height : height;
    CheckPictureSize(width, rows, "BMP");
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(rows);
    layout.bitCount = static_cast<int>(bitCount);
    layout.compression = compression;

    // Masks: inside V2 and later headers, else right after a 40-byte header.
    std::size_t tableStart = h + headerSize;
    if (compression == kBitfields || compression == kAlphaBitfields) {
        const std::size_t at = h + 40;  // the same place in all of them
        if (headerSize == 40) {
            const std::size_t maskBytes = compression == kAlphaBitfields ? 16 : 12;
            if (file.size() < tableStart + maskBytes) Truncated();
            tableStart += maskBytes;
        }
        for (int i = 0; i < 3; ++i) layout.masks[i] = ReadLE32(file, at + 4 * i);
        const std::uint32_t usable = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        for (auto& m : layout.masks) m &= usable;
        if (layout.masks == std::array<std::uint32_t, 3>{0, 0, 0}) Fail("the bit field masks are all zero");
    } else if (bitCount == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (bitCount == 32) {
        layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
    }

    if (offBits < tableStart)
        Fail("pixel data offset " + std::to_string(offBits) + " lies inside the headers");
    if (offBits > file.size()) Truncated();
    layout.pixelOffset = offBits;

    if (bitCount <= 8) {
        const std::size_t entrySize = core ? 3 : 4;
        const std::size_t maxEntries = std::size_t(1) << bitCount;
        const std::size_t room = (offBits - tableStart) / entrySize;
        std::size_t count;
        if (!core && clrUsed != 0) {
            if (clrUsed > room) Fail("palette size " + std::to_string(clrUsed) + " is not valid");
            count = std::min<std::size_t>(clrUsed, maxEntries);
        } else {
            count = std::min(maxEntries, room);
        }
        if (count == 0) Fail("the palette is missing");
        layout.palette.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = tableStart + i * entrySize;  // blue, green, red
            layout.palette[i] = RGB(file[at + 2], file[at + 1], file[at]);
        }
    }
    return layout;
}

// One bit-field channel scaled to 8 bits. A narrower field repeats its bits into the
// low bits (5 bits v: v << 3 | v >> 2), so the largest value gives 255 and a 5-6-5
// pixel gives what Bitmap::pixel gives for it; a wider field keeps its top 8 bits.
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask) {
        if (mask == 0) return;
        shift_ = std::countr_zero(mask);
        bits_ = std::bit_width(mask >> shift_);
        const std::uint32_t max = mask >> shift_;
        if (max <= 0xFFFF) {
            table_.resize(max + 1);
            for (std::uint32_t v = 0; v <= max; ++v) table_[v] = Scale(v);
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (mask_ == 0) return 0;
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? Scale(v) : table_[v];
    }

private:
    std::uint8_t Scale(std::uint32_t v) const {
        if (bits_ >= 8) return static_cast<std::uint8_t>(v >> (bits_ - 8));
        std::uint32_t repeated = 0;
        int filled = 0;
        for (; filled < 8; filled += bits_) repeated = (repeated << bits_) | v;
        return static_cast<std::uint8_t>(repeated >> (filled - 8));
    }
    std::uint32_t mask_;
    int shift_ = 0;
    int bits_ = 0;
    std::vector<std::uint8_t> table_;
};

// Decodes an RLE8 or RLE4 stream into a bitmap whose rows are all index 0. Row 0 of
// the stream is the bottom row.
void DecodeRle(ByteSpan data, Bitmap& pic, bool rle4) {
    const long long width = pic.width(), height = pic.height();
    long long x = 0, y = 0;
    std::size_t p = 0;
    auto put = [&](long long px, unsigned index) {
        std::uint8_t* row = pic.row(static_cast<int>(height - 1 - y));
        if (!rle4) {
            row[px] = static_cast<std::uint8_t>(index);
        } else {
            std::uint8_t& b = row[px >> 1];
            b = (px & 1) ? static_cast<std::uint8_t>((b & 0xF0) | index)
                         : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
        }
    };
    while (y < height) {
        if (data.size() - p < 2) Truncated();
        const unsigned count = data[p], value = data[p + 1];
        p += 2;
        if (count > 0) {  // a run of `count` pixels
            const long long end = std::min(x + count, width);
            for (long long px = x; px < end; ++px)
                put(px, rle4 ? ((px - x) & 1 ? value & 0x0F : value >> 4) : value);
            x += count;
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return;
            case 2:  // delta: right and up
                if (data.size() - p < 2) Truncated();
                x += data[p];
                y += data[p + 1];
                p += 2;
                break;
            default: {  // `value` literal pixels, padded to a 16-bit boundary
                const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
                if (data.size() - p < bytes) Truncated();
                const long long end = std::min<long long>(x + value, width);
                for (long long px = x; px < end; ++px) {
                    const long long i = px - x;
                    put(px, rle4 ? (i & 1 ? data[p + i / 2] & 0x0F : data[p + i / 2] >> 4) : data[p + i]);
                }
                x += value;
                p = std::min(data.size(), p + ((bytes + 1) & ~std::size_t(1)));
                break;
            }
        }
    }
}

std::size_t RowBytes(const Layout& layout) {
    return (std::size_t(layout.width) * std::size_t(layout.bitCount) + 7) / 8;
}

// Checked before the bitmap is allocated, so that a short file cannot ask for a big
// allocation. The last row may lack its padding.
void CheckUncompressedSize(ByteSpan file, const Layout& layout) {
    const std::uint64_t needed =
        std::uint64_t(Bitmap::strideFor(layout.width, layout.bitCount)) * std::uint64_t(layout.height - 1) +
        RowBytes(layout);
    if (file.size() - layout.pixelOffset < needed) Truncated();
}

void DecodeUncompressed(ByteSpan file, const Layout& layout, Bitmap& pic) {
    const int width = layout.width, height = layout.height, bpp = layout.bitCount;
    const std::size_t srcStride = Bitmap::strideFor(width, bpp);
    const std::size_t rowBytes = RowBytes(layout);

    const int outBpp = pic.bitsPerPixel();
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]);
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* src = file.data() + layout.pixelOffset + std::size_t(r) * srcStride;
        std::uint8_t* dst = pic.row(layout.topDown ? r : height - 1 - r);
        std::memset(dst, 0, pic.stride());
        if (outBpp == bpp) {
            std::memcpy(dst, src, rowBytes);
            if (bpp == 32)
                for (int x = 0; x < width; ++x) dst[4 * std::size_t(x) + 3] = 0;
        } else if (bpp == 2) {
            for (int x = 0; x < width; ++x) {
                const unsigned index = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                dst[x >> 1] |= static_cast<std::uint8_t>((x & 1) ? index : index << 4);
            }
        } else {  // bit fields to 24 bits
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* s = src + std::size_t(x) * std::size_t(bpp / 8);
                std::uint32_t v = std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8;
                if (bpp == 32) v |= std::uint32_t(s[2]) << 16 | std::uint32_t(s[3]) << 24;
                std::uint8_t* d = dst + 3 * std::size_t(x);
                d[0] = blue(v);
                d[1] = green(v);
                d[2] = red(v);
            }
        }
    }
}

int OutputFormat(const Layout& layout) {
    switch (layout.bitCount) {
        case 2: return 4;
        case 16: return layout.masks == std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F} ? 16 : 24;
        case 32:
            return layout.masks == std::array<std::uint32_t, 3>{0x00FF0000, 0x0000FF00, 0x000000FF} ? 32 : 24;
        default: return layout.bitCount;
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    Layout layout = ParseHeaders(file);
    const bool rle = layout.compression == kRle8 || layout.compression == kRle4;
    if (!rle) CheckUncompressedSize(file, layout);

    Bitmap pic;
    pic.reset(layout.width, layout.height, OutputFormat(layout));
    if (layout.bitCount <= 8) {
        const std::size_t maxEntries = std::size_t(1) << pic.bitsPerPixel();
        if (layout.palette.size() > maxEntries) layout.palette.resize(maxEntries);
        pic.setPalette(std::move(layout.palette));
    } else {
        pic.setPalette({});
    }

    if (rle) {
        std::memset(pic.bits(), 0, pic.stride() * std::size_t(pic.height()));
        DecodeRle(file.subspan(layout.pixelOffset), pic, layout.compression == kRle4);
    } else {
        DecodeUncompressed(file, layout, pic);
    }

    // Assign the picture; what is not part of it stays the caller's.
    const Color fill = out.fillColor();
    const bool transparent = out.transparent();
    const Color transparentColor = out.transparentColor();
    out = std::move(pic);
    out.setFillColor(fill);
    out.setTransparent(transparent, transparentColor);
}

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) Fail("the bitmap is empty");
    const int bpp = bitmap.bitsPerPixel();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail("cannot write " + std::to_string(bpp) + " bits per pixel");
    const int width = bitmap.width(), height = bitmap.height();

    const std::size_t paletteEntries = bpp <= 8 ? std::size_t(1) << bpp : 0;
    const std::size_t maskBytes = bpp == 16 ? 12 : 0;
    const std::size_t stride = Bitmap::strideFor(width, bpp);
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(bpp) + 7) / 8;
    const std::uint64_t imageSize = std::uint64_t(stride) * std::uint64_t(height);
    const std::uint64_t offBits = kFileHeaderSize + kInfoHeaderSize + maskBytes + 4 * paletteEntries;
    const std::uint64_t fileSize = offBits + imageSize;
    if (fileSize > 0xFFFFFFFFu) Fail("the bitmap is too large for a BMP file");

    ByteVector out;
    out.reserve(static_cast<std::size_t>(fileSize));
    out.push_back('B');
    out.push_back('M');
    PutLE32(out, static_cast<std::uint32_t>(fileSize));
    PutLE32(out, 0);  // reserved
    PutLE32(out, static_cast<std::uint32_t>(offBits));

    PutLE32(out, kInfoHeaderSize);
    PutLE32(out, static_cast<std::uint32_t>(width));
    PutLE32(out, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
    PutLE16(out, 1);                                    // planes
    PutLE16(out, static_cast<unsigned>(bpp));
    PutLE32(out, bpp == 16 ? kBitfields : kRgb);
    PutLE32(out, static_cast<std::uint32_t>(imageSize));
    PutLE32(out, 0);  // horizontal resolution: not known
    PutLE32(out, 0);  // vertical resolution
    PutLE32(out, 0);  // colours used: all 2^n of a palette
    PutLE32(out, 0);  // colours important: all

    if (bpp == 16) {
        PutLE32(out, 0xF800);
        PutLE32(out, 0x07E0);
        PutLE32(out, 0x001F);
    }
    const Palette& palette = bitmap.palette();
    for (std::size_t i = 0; i < paletteEntries; ++i) {
        const Color c = i < palette.size() ? palette[i] : kBlack;
        out.push_back(static_cast<std::uint8_t>(GetB(c)));
        out.push_back(static_cast<std::uint8_t>(GetG(c)));
        out.push_back(static_cast<std::uint8_t>(GetR(c)));
        out.push_back(0);
    }

    const unsigned tailBits = static_cast<unsigned>((std::size_t(width) * std::size_t(bpp)) % 8);
    for (int y = height - 1; y >= 0; --y) {
        const std::size_t at = out.size();
        const std::uint8_t* src = bitmap.row(y);
        out.insert(out.end(), src, src + rowBytes);
        out.resize(at + stride, 0);
        std::uint8_t* dst = out.data() + at;
        if (tailBits != 0) dst[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - tailBits));
        if (bpp == 32)
            for (int x = 0; x < width; ++x) dst[4 * std::size_t(x) + 3] = 0;
    }
    return out;
}

}  // namespace pictorix::bmp
