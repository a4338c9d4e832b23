#include "pictureio/codecs/ico.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "pictureio/codecs/png.h"

namespace pictorix::ico {
namespace {

constexpr std::uint32_t kDirectorySize = 6 + 16;  // header and one entry
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kColourTableSize = 256 * 4;

[[noreturn]] void Fail(const std::string& what) { throw Error("ICO: " + what); }

// A directory entry holds sizes up to 255; 0 stands for 256 and, by convention,
// for anything larger, the real size being in the image's own header.
std::uint8_t SizeByte(int size) { return static_cast<std::uint8_t>(size >= 256 ? 0 : size); }

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool IsPng(ByteSpan image) {
    return image.size() >= sizeof kPngSignature && std::memcmp(image.data(), kPngSignature, sizeof kPngSignature) == 0;
}

std::int32_t ReadLESigned32(ByteSpan b, std::size_t at) { return static_cast<std::int32_t>(ReadLE32(b, at)); }

// What an image offers, for choosing among the images of a file.
struct Shape {
    std::uint64_t area = 0;
    int depth = 0;
};

Shape MakeShape(long long width, long long height, int depth) {
    Shape s;
    if (width > 0 && height > 0) s.area = std::uint64_t(width) * std::uint64_t(height);
    s.depth = depth;
    return s;
}

// The shape of the image of the directory entry at `at`: from the image's own header
// where the file holds it, else from the entry.
Shape EntryShape(ByteSpan file, std::size_t at, bool cursor) {
    const std::uint32_t offset = ReadLE32(file, at + 12);
    if (offset < file.size()) {
        const ByteSpan image = file.subspan(offset);
        if (IsPng(image) && image.size() >= 26 && std::memcmp(image.data() + 12, "IHDR", 4) == 0) {
            int channels = 1;  // grey and palette
            switch (image[25]) {
                case 2: channels = 3; break;
                case 4: channels = 2; break;
                case 6: channels = 4; break;
            }
            return MakeShape(ReadBE32(image, 16), ReadBE32(image, 20), image[24] * channels);
        }
        if (image.size() >= 16 && ReadLE32(image, 0) >= 40)
            return MakeShape(ReadLESigned32(image, 4), ReadLESigned32(image, 8) / 2, ReadLE16(image, 14));
    }
    const int width = file[at] == 0 ? 256 : file[at];
    const int height = file[at + 1] == 0 ? 256 : file[at + 1];
    // A cursor's entry holds its hot spot where an icon's holds planes and bit count.
    int depth = cursor ? 0 : ReadLE16(file, at + 6);
    if (depth == 0) depth = file[at + 2] == 2 ? 1 : (file[at + 2] != 0 && file[at + 2] <= 16) ? 4 : 8;
    return MakeShape(width, height, depth);
}

// Blends colour channel v over white by alpha a, rounded as the PNG reader does.
std::uint8_t OnWhite(unsigned v, unsigned a) { return static_cast<std::uint8_t>((v * a + 255 * (255 - a) + 127) / 255); }

// A BITMAPINFOHEADER image: colour image and mask, both bottom row first.
Bitmap DecodeDib(ByteSpan image) {
    if (image.size() < 40) Fail("file is truncated");
    const std::uint32_t headerSize = ReadLE32(image, 0);
    if (headerSize < 40) Fail("the image header is not valid (size " + std::to_string(headerSize) + ")");
    if (headerSize > image.size()) Fail("file is truncated");
    const std::int32_t width = ReadLESigned32(image, 4);
    const std::int32_t doubleHeight = ReadLESigned32(image, 8);
    const int bpp = ReadLE16(image, 14);
    const std::uint32_t compression = ReadLE32(image, 16);
    const std::uint32_t coloursUsed = ReadLE32(image, 32);
    // The height covers colour image and mask; a top-down image (negative) is not an icon's.
    const std::int32_t height = doubleHeight / 2;
    if (width <= 0 || height <= 0)
        Fail("image size " + std::to_string(width) + " x " + std::to_string(doubleHeight) + " is not valid");
    CheckPictureSize(width, height, "ICO");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail(std::to_string(bpp) + " bits per pixel are not supported");
    if (compression != 0) Fail("compression " + std::to_string(compression) + " is not supported");

    std::uint64_t pos = headerSize;
    Palette palette;
    if (bpp <= 8) {
        const std::uint32_t full = 1u << bpp;
        const std::uint32_t count = coloursUsed != 0 && coloursUsed < full ? coloursUsed : full;
        if (pos + 4ull * count > image.size()) Fail("file is truncated");
        palette.resize(count);
        for (std::uint32_t i = 0; i < count; ++i, pos += 4)
            palette[i] = RGB(image[pos + 2], image[pos + 1], image[pos]);
    }
    const std::size_t colourStride = Bitmap::strideFor(width, bpp);
    const std::size_t maskStride = Bitmap::strideFor(width, 1);
    const std::uint64_t colourAt = pos;
    const std::uint64_t maskAt = colourAt + std::uint64_t(colourStride) * std::uint64_t(height);
    if (maskAt > image.size()) Fail("file is truncated");

    // 32-bit images carry alpha unless every fourth byte is 0 (older icons of that depth).
    bool alpha = false;
    if (bpp == 32)
        for (int r = 0; r < height && !alpha; ++r) {
            const std::uint8_t* s = image.data() + colourAt + std::size_t(r) * colourStride;
            for (int x = 0; x < width && !alpha; ++x) alpha = s[4 * std::size_t(x) + 3] != 0;
        }
    if (!alpha && maskAt + std::uint64_t(maskStride) * std::uint64_t(height) > image.size())
        Fail("file is truncated (mask)");

    // An index beyond a short colour table is black.
    const auto entry = [&palette](unsigned i) { return i < palette.size() ? palette[i] : kBlack; };
    Bitmap picture(width, height, 24);
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* s = image.data() + colourAt + std::size_t(r) * colourStride;
        const std::uint8_t* m = alpha ? nullptr : image.data() + maskAt + std::size_t(r) * maskStride;
        std::uint8_t* p = picture.row(height - 1 - r);
        for (int x = 0; x < width; ++x, p += 3) {
            if (m && (m[x >> 3] & (0x80 >> (x & 7)))) continue;  // transparent: stays white
            Color c = kBlack;
            switch (bpp) {
                case 1: c = entry((s[x >> 3] >> (7 - (x & 7))) & 1); break;
                case 4: c = entry((x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4)); break;
                case 8: c = entry(s[x]); break;
                case 16: {
                    const unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
                    const unsigned r5 = (v >> 10) & 0x1F, g5 = (v >> 5) & 0x1F, b5 = v & 0x1F;
                    c = RGB((r5 << 3) | (r5 >> 2), (g5 << 3) | (g5 >> 2), (b5 << 3) | (b5 >> 2));
                    break;
                }
                case 24: c = RGB(s[3 * x + 2], s[3 * x + 1], s[3 * x]); break;
                case 32: {
                    const std::uint8_t* q = s + 4 * std::size_t(x);
                    c = alpha ? RGB(OnWhite(q[2], q[3]), OnWhite(q[1], q[3]), OnWhite(q[0], q[3])) : RGB(q[2], q[1], q[0]);
                    break;
                }
            }
            p[0] = static_cast<std::uint8_t>(GetB(c));
            p[1] = static_cast<std::uint8_t>(GetG(c));
            p[2] = static_cast<std::uint8_t>(GetR(c));
        }
    }
    return picture;
}

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

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < 6) Fail("file is truncated");
    const unsigned type = ReadLE16(file, 2);
    if (ReadLE16(file, 0) != 0 || (type != 1 && type != 2)) Fail("not an icon or cursor file");
    const unsigned count = ReadLE16(file, 4);
    if (count == 0) Fail("the file holds no images");
    if (6 + 16 * std::size_t(count) > file.size()) Fail("file is truncated");

    std::size_t best = 0;
    Shape bestShape;
    for (unsigned i = 0; i < count; ++i) {
        const Shape s = EntryShape(file, 6 + 16 * std::size_t(i), type == 2);
        if (i == 0 || s.area > bestShape.area || (s.area == bestShape.area && s.depth > bestShape.depth)) {
            best = i;
            bestShape = s;
        }
    }
    const std::uint32_t offset = ReadLE32(file, 6 + 16 * best + 12);
    if (offset >= file.size()) Fail("file is truncated");
    const ByteSpan image = file.subspan(offset);

    Bitmap picture;
    if (IsPng(image)) {
        try {
            png::Read(image, picture);  // onto an empty bitmap: new area white, then blended
        } catch (const Error& e) {
            Fail(std::string("PNG image: ") + e.what());
        }
    } else {
        picture = DecodeDib(image);
    }
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    out = std::move(picture);
}

}  // namespace pictorix::ico
