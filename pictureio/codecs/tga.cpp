#include "pictureio/codecs/tga.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::tga {

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    const unsigned type = header[2];
    if (type > 3 && (type < 9 || type > 11)) return false;
    if (header[1] > 1) return false;
    const unsigned entrySize = header[7];
    if (entrySize != 15 && entrySize != 16 && entrySize != 24 && entrySize != 32) return false;
    const unsigned pixelSize = header[16];
    return pixelSize == 8 || pixelSize == 15 || pixelSize == 16 || pixelSize == 24 || pixelSize == 32;
}

namespace {

constexpr std::size_t kHeaderSize = 18;

[[noreturn]] void Fail(const std::string& cause) { throw Error("TGA: " + cause); }

std::uint8_t OnWhite(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

std::uint8_t Scale5(unsigned v) { return static_cast<std::uint8_t>((v * 255 + 15) / 31); }

struct Bgra {
    std::uint8_t b, g, r, a;
};

// A true-colour value of 2 (5-5-5, bit 15 the attribute bit), 3 or 4 bytes.
Bgra DecodeColour(const std::uint8_t* p, std::size_t bytes) {
    switch (bytes) {
        case 2: {
            const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
            return {Scale5(v & 0x1F), Scale5(v >> 5 & 0x1F), Scale5(v >> 10 & 0x1F),
                    static_cast<std::uint8_t>(v & 0x8000 ? 255 : 0)};
        }
        case 3:
            return {p[0], p[1], p[2], 255};
        default:
            return {p[0], p[1], p[2], p[3]};
    }
}

// Walks the pixel stream that starts at `at`: calls visit(k, p, n, step) for pixels
// k .. k+n-1 of the `count` pixels, the first at p and each next `step` bytes further
// (step 0 for a run of one value). Packets may cross rows; what a packet holds beyond
// the picture's last pixel is ignored. Throws when the file ends before the last pixel.
template <class Visit>
void ForEachPixel(ByteSpan file, std::size_t at, bool rle, std::size_t size, std::uint64_t count, Visit&& visit) {
    if (at > file.size() || (file.size() - at) / size < (rle ? 0 : count)) Fail("file is truncated");
    if (!rle) {
        if (count) visit(std::uint64_t{0}, file.data() + at, count, size);
        return;
    }
    for (std::uint64_t k = 0; k < count;) {
        if (at >= file.size()) Fail("file is truncated");
        const unsigned packet = file[at++];
        const std::size_t length = (packet & 0x7F) + 1;
        const std::uint64_t n = std::min<std::uint64_t>(length, count - k);
        const std::size_t left = (file.size() - at) / size;
        if (packet & 0x80) {
            if (left < 1) Fail("file is truncated");
            visit(k, file.data() + at, n, std::size_t{0});
            at += size;
        } else {
            if (left < n) Fail("file is truncated");
            visit(k, file.data() + at, n, size);
            at += std::min(length, left) * size;
        }
        k += n;
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < kHeaderSize) Fail("file is truncated");
    const unsigned idLength = file[0];
    const unsigned mapType = file[1];
    const unsigned type = file[2];
    const unsigned mapFirst = ReadLE16(file, 3);
    const unsigned mapLength = ReadLE16(file, 5);
    const unsigned entryBits = file[7];
    const int width = ReadLE16(file, 12);
    const int height = ReadLE16(file, 14);
    const unsigned pixelBits = file[16];
    const unsigned descriptor = file[17];

    if (type == 0) Fail("the file holds no picture (image type 0)");
    const unsigned kind = type & 7;  // 1 colour-mapped, 2 true colour, 3 grey
    const bool rle = type & 8;
    if ((type & ~11u) != 0 || kind == 0) Fail("image type " + std::to_string(type) + " is not supported");
    if (mapType > 1) Fail("colour-map type " + std::to_string(mapType) + " is not supported");
    const bool pixelsOk = kind == 1   ? pixelBits == 8 || pixelBits == 16
                          : kind == 2 ? pixelBits == 15 || pixelBits == 16 || pixelBits == 24 || pixelBits == 32
                                      : pixelBits == 8 || pixelBits == 16;
    if (!pixelsOk)
        Fail(std::to_string(pixelBits) + " bits per pixel are not supported for image type " + std::to_string(type));
    if (width == 0 || height == 0) Fail("the picture has no pixels");
    CheckPictureSize(width, height, "TGA");

    std::size_t at = kHeaderSize + idLength;
    std::vector<Color> map;
    bool mapAlpha = false;
    if (mapType == 1) {
        const std::size_t entryBytes = (entryBits + 7) / 8;
        if (kind == 1 && entryBits != 8 && entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32)
            Fail("colour-map entry size " + std::to_string(entryBits) + " is not supported");
        const std::size_t mapBytes = std::size_t(mapLength) * entryBytes;
        if (at > file.size() || file.size() - at < mapBytes) Fail("file is truncated (colour map)");
        if (kind == 1) {
            std::vector<Bgra> entries(mapLength);
            for (std::size_t i = 0; i < mapLength; ++i) {
                const std::uint8_t* p = file.data() + at + i * entryBytes;
                entries[i] = entryBits == 8 ? Bgra{p[0], p[0], p[0], 255} : DecodeColour(p, entryBytes);
                if (entryBits == 32 && entries[i].a != 0) mapAlpha = true;
            }
            map.reserve(mapLength);
            for (const Bgra& e : entries)
                map.push_back(mapAlpha ? RGB(OnWhite(e.r, e.a), OnWhite(e.g, e.a), OnWhite(e.b, e.a))
                                       : RGB(e.r, e.g, e.b));
        }
        at += mapBytes;
    } else if (kind == 1) {
        Fail("the colour-mapped picture has no colour map");
    }

    const std::size_t size = (pixelBits + 7) / 8;
    const std::uint64_t count = std::uint64_t(width) * std::uint64_t(height);
    const bool alphaChannel = (kind == 2 && (pixelBits == 32 || (pixelBits == 16 && (descriptor & 0x0F) != 0))) ||
                              (kind == 3 && pixelBits == 16);
    // First pass: the whole stream is checked against the file before anything is
    // allocated, and it tells whether the alpha values mean anything.
    bool alpha = false;
    ForEachPixel(file, at, rle, size, count,
                 [&](std::uint64_t, const std::uint8_t* p, std::uint64_t n, std::size_t step) {
                     if (!alphaChannel || alpha) return;
                     for (std::uint64_t i = 0; i < n && !alpha; ++i, p += step)
                         alpha = (size == 2 && kind == 2) ? (p[1] & 0x80) != 0 : p[size - 1] != 0;
                 });

    auto mapped = [&](unsigned index) -> Color {
        return index >= mapFirst && index - mapFirst < map.size() ? map[index - mapFirst] : kBlack;
    };
    const bool eightBits = pixelBits == 8 || (kind == 3 && pixelBits == 16);
    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(width, height, eightBits ? 8 : 24);
    if (kind == 3) {
        picture.setPalette(GreyPalette256());
    } else if (kind == 1 && eightBits) {
        Palette palette(256);
        for (unsigned i = 0; i < 256; ++i) palette[i] = mapped(i);
        picture.setPalette(std::move(palette));
    }

    const bool fromTop = descriptor & 0x20;
    const bool rightToLeft = descriptor & 0x10;
    const auto w = static_cast<std::uint64_t>(width);
    ForEachPixel(file, at, rle, size, count,
                 [&](std::uint64_t k, const std::uint8_t* p, std::uint64_t n, std::size_t step) {
                     auto fileRow = static_cast<int>(k / w);
                     auto column = static_cast<int>(k % w);
                     for (std::uint64_t i = 0; i < n; ++i, p += step) {
                         const int x = rightToLeft ? width - 1 - column : column;
                         std::uint8_t* row = picture.row(fromTop ? fileRow : height - 1 - fileRow);
                         if (eightBits) {
                             row[x] = size == 2 && alpha ? OnWhite(p[0], p[1]) : p[0];
                         } else {
                             std::uint8_t* d = row + 3 * std::size_t(x);
                             if (kind == 1) {
                                 const Color c = mapped(unsigned(p[0]) | unsigned(p[1]) << 8);
                                 d[0] = static_cast<std::uint8_t>(GetB(c));
                                 d[1] = static_cast<std::uint8_t>(GetG(c));
                                 d[2] = static_cast<std::uint8_t>(GetR(c));
                             } else {
                                 const Bgra c = DecodeColour(p, size);
                                 d[0] = alpha ? OnWhite(c.b, c.a) : c.b;
                                 d[1] = alpha ? OnWhite(c.g, c.a) : c.g;
                                 d[2] = alpha ? OnWhite(c.r, c.a) : c.r;
                             }
                         }
                         if (++column == width) column = 0, ++fileRow;
                     }
                 });
    out = std::move(picture);
}


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
