// The program's own TIFF writer: fixed, minimal layouts written byte by byte.
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/tiff.h"

namespace pictorix::tiff {
namespace {

enum FieldType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

enum Tag : std::uint16_t {
    kNewSubfileType = 254,
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kXResolution = 282,
    kYResolution = 283,
    kPlanarConfiguration = 284,
    kResolutionUnit = 296,
    kSoftware = 305,
    kColorMap = 320,
};

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;  // the value itself when it fits in 4 bytes, else an offset
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kResolutionSize = 16;
constexpr char kSoftwareText[] = "Ombrelatix";
constexpr std::size_t kSoftwareSize = sizeof(kSoftwareText) - 1;  // no terminating zero
constexpr std::size_t kEntrySize = 12;

std::size_t DirectorySize(std::size_t entries) { return 2 + entries * kEntrySize + 4; }

[[noreturn]] void Fail(const std::string& what) { throw Error("TIFF: " + what); }

std::uint32_t Offset(std::uint64_t at) {
    if (at > 0xFFFFFFFFu) Fail("the picture is too large for a TIFF file");
    return static_cast<std::uint32_t>(at);
}

// The header with the directory offset still open; FinishDirectory fills it in.
void PutHeader(ByteVector& out) {
    out.push_back('I');
    out.push_back('I');
    PutLE16(out, 42);
    PutLE32(out, kHeaderSize);
}

// 87.7 pixels per inch, X then Y.
void PutResolutions(ByteVector& out) {
    for (int i = 0; i < 2; ++i) {
        PutLE32(out, 877);
        PutLE32(out, 10);
    }
}

void PutSoftware(ByteVector& out) { out.insert(out.end(), kSoftwareText, kSoftwareText + kSoftwareSize); }

// Width and height are SHORT as long as they fit, LONG beyond that.
Entry SizeEntry(Tag tag, std::uint32_t value) {
    return {tag, value > 0xFFFF ? kLong : kShort, 1, value};
}

// Writes the directory (entries in ascending tag order) at the end of the file and
// points the header at it.
void FinishDirectory(ByteVector& out, const std::vector<Entry>& entries) {
    const std::uint32_t at = Offset(out.size());
    PutLE16(out, static_cast<unsigned>(entries.size()));
    for (const Entry& e : entries) {
        PutLE16(out, e.tag);
        PutLE16(out, e.type);
        PutLE32(out, e.count);
        PutLE32(out, e.value);  // a SHORT sits in the first two bytes
    }
    PutLE32(out, 0);  // no next directory
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(at >> (8 * i));
}

// Bilevel: bit 0 is black. The palette is not stored, so each index goes to the bit
// of the nearer of black and white.
ByteVector WriteBilevel(const Bitmap& bitmap) {
    const int width = bitmap.width(), height = bitmap.height();
    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
    const std::uint64_t dataSize = std::uint64_t(rowBytes) * std::uint64_t(height);
    const std::uint64_t resolutionAt = kHeaderSize + dataSize;
    const std::uint64_t softwareAt = resolutionAt + kResolutionSize;
    Offset(softwareAt + kSoftwareSize + DirectorySize(14));

    int bitOf[2];
    for (int i = 0; i < 2; ++i) {
        const Color c = std::size_t(i) < bitmap.palette().size() ? bitmap.palette()[i] : kBlack;
        bitOf[i] = NearestPaletteIndex(BlackWhitePalette(), c);
    }
    // 0x00 and 0xFF map whole bytes: as they are, inverted, all black or all white.
    const std::uint8_t flip = bitOf[0] ? 0xFF : 0x00;
    const std::uint8_t force = bitOf[0] == bitOf[1] ? 0xFF : 0x00;
    const std::uint8_t lastMask = static_cast<std::uint8_t>(width % 8 ? 0xFF << (8 - width % 8) : 0xFF);

    ByteVector out;
    out.reserve(static_cast<std::size_t>(softwareAt + kSoftwareSize + DirectorySize(14)));
    PutHeader(out);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.row(y);
        const std::size_t start = out.size();
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const std::uint8_t b = force ? flip : static_cast<std::uint8_t>(row[i] ^ flip);
            out.push_back(b);
        }
        out[start + rowBytes - 1] &= lastMask;  // spare bits of the last byte stay 0
    }
    PutResolutions(out);
    PutSoftware(out);
    FinishDirectory(out, {
        {kNewSubfileType, kLong, 1, 0},
        SizeEntry(kImageWidth, static_cast<std::uint32_t>(width)),
        SizeEntry(kImageLength, static_cast<std::uint32_t>(height)),
        {kBitsPerSample, kShort, 1, 1},
        {kCompression, kShort, 1, 1},
        {kPhotometric, kShort, 1, 1},
        {kStripOffsets, kLong, 1, static_cast<std::uint32_t>(kHeaderSize)},
        {kSamplesPerPixel, kShort, 1, 1},
        {kRowsPerStrip, kLong, 1, static_cast<std::uint32_t>(height)},
        {kStripByteCounts, kLong, 1, static_cast<std::uint32_t>(dataSize)},
        {kXResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt)},
        {kYResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt + 8)},
        {kResolutionUnit, kShort, 1, 2},
        {kSoftware, kAscii, static_cast<std::uint32_t>(kSoftwareSize), static_cast<std::uint32_t>(softwareAt)},
    });
    return out;
}

ByteVector WritePalette(const Bitmap& bitmap) {
    const int bpp = bitmap.bitsPerPixel();
    const int height = bitmap.height();
    const std::size_t entries = std::size_t(1) << bpp;
    // Four-bit rows are cut to a multiple of 4 pixels, unless that would leave none.
    int width = bitmap.width();
    if (bpp == 4 && width >= 4) width -= width % 4;
    const std::size_t rowBytes = bpp == 8 ? std::size_t(width) : (std::size_t(width) + 1) / 2;
    const std::uint64_t dataSize = std::uint64_t(rowBytes) * std::uint64_t(height);

    const std::uint64_t mapAt = kHeaderSize;
    const std::uint64_t resolutionAt = mapAt + 6 * entries;
    const std::uint64_t softwareAt = resolutionAt + kResolutionSize;
    const std::uint64_t pixelsAt = softwareAt + kSoftwareSize;
    Offset(pixelsAt + dataSize + DirectorySize(15));

    ByteVector out;
    out.reserve(static_cast<std::size_t>(pixelsAt + dataSize + DirectorySize(15)));
    PutHeader(out);
    const Palette& palette = bitmap.palette();
    for (int channel = 0; channel < 3; ++channel) {
        for (std::size_t i = 0; i < entries; ++i) {
            const Color c = i < palette.size() ? palette[i] : kBlack;
            const unsigned v = channel == 0 ? GetR(c) : channel == 1 ? GetG(c) : GetB(c);
            PutLE16(out, v * 256);
        }
    }
    PutResolutions(out);
    PutSoftware(out);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.row(y);
        out.insert(out.end(), row, row + rowBytes);
        if (bpp == 4 && width % 2) out.back() &= 0xF0;  // spare low nibble stays 0
    }
    FinishDirectory(out, {
        {kNewSubfileType, kLong, 1, 0},
        SizeEntry(kImageWidth, static_cast<std::uint32_t>(width)),
        SizeEntry(kImageLength, static_cast<std::uint32_t>(height)),
        {kBitsPerSample, kShort, 1, static_cast<std::uint32_t>(bpp)},
        {kCompression, kShort, 1, 1},
        {kPhotometric, kShort, 1, 3},
        {kStripOffsets, kLong, 1, static_cast<std::uint32_t>(pixelsAt)},
        {kSamplesPerPixel, kShort, 1, 1},
        {kRowsPerStrip, kLong, 1, static_cast<std::uint32_t>(height)},
        {kStripByteCounts, kLong, 1, static_cast<std::uint32_t>(dataSize)},
        {kXResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt)},
        {kYResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt + 8)},
        {kResolutionUnit, kShort, 1, 2},
        {kSoftware, kAscii, static_cast<std::uint32_t>(kSoftwareSize), static_cast<std::uint32_t>(softwareAt)},
        {kColorMap, kShort, static_cast<std::uint32_t>(3 * entries), static_cast<std::uint32_t>(mapAt)},
    });
    return out;
}

// RGB from 16, 24 or 32-bit pixels (blue, green, red in the bitmap).
ByteVector WriteRgb(const Bitmap& bitmap) {
    const int width = bitmap.width(), height = bitmap.height();
    const int bpp = bitmap.bitsPerPixel();
    const std::size_t rowBytes = 3 * std::size_t(width);
    const std::uint64_t dataSize = std::uint64_t(rowBytes) * std::uint64_t(height);

    constexpr std::uint64_t resolutionAt = kHeaderSize;
    constexpr std::uint64_t bitsAt = resolutionAt + kResolutionSize;
    constexpr std::uint64_t softwareAt = bitsAt + 6;
    constexpr std::uint64_t pixelsAt = softwareAt + kSoftwareSize;
    Offset(pixelsAt + dataSize + DirectorySize(15));

    ByteVector out;
    out.reserve(static_cast<std::size_t>(pixelsAt + dataSize + DirectorySize(15)));
    PutHeader(out);
    PutResolutions(out);
    for (int i = 0; i < 3; ++i) PutLE16(out, 8);
    PutSoftware(out);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.row(y);
        std::size_t at = out.size();
        out.resize(at + rowBytes);
        std::uint8_t* dst = out.data() + at;
        if (bpp == 16) {
            for (int x = 0; x < width; ++x, dst += 3) {
                const Color c = bitmap.pixel(x, y);
                dst[0] = static_cast<std::uint8_t>(GetR(c));
                dst[1] = static_cast<std::uint8_t>(GetG(c));
                dst[2] = static_cast<std::uint8_t>(GetB(c));
            }
        } else {
            const std::size_t step = bpp / 8;
            for (int x = 0; x < width; ++x, dst += 3, row += step) {
                dst[0] = row[2];
                dst[1] = row[1];
                dst[2] = row[0];
            }
        }
    }
    FinishDirectory(out, {
        {kNewSubfileType, kLong, 1, 0},
        SizeEntry(kImageWidth, static_cast<std::uint32_t>(width)),
        SizeEntry(kImageLength, static_cast<std::uint32_t>(height)),
        {kBitsPerSample, kShort, 3, static_cast<std::uint32_t>(bitsAt)},
        {kCompression, kShort, 1, 1},
        {kPhotometric, kShort, 1, 2},
        {kStripOffsets, kLong, 1, static_cast<std::uint32_t>(pixelsAt)},
        {kSamplesPerPixel, kShort, 1, 3},
        {kRowsPerStrip, kLong, 1, static_cast<std::uint32_t>(height)},
        {kStripByteCounts, kLong, 1, static_cast<std::uint32_t>(dataSize)},
        {kXResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt)},
        {kYResolution, kRational, 1, static_cast<std::uint32_t>(resolutionAt + 8)},
        {kPlanarConfiguration, kShort, 1, 1},
        {kResolutionUnit, kShort, 1, 2},
        {kSoftware, kAscii, static_cast<std::uint32_t>(kSoftwareSize), static_cast<std::uint32_t>(softwareAt)},
    });
    return out;
}

}  // namespace

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) Fail("the bitmap is empty");
    switch (bitmap.bitsPerPixel()) {
        case 1: return WriteBilevel(bitmap);
        case 4:
        case 8: return WritePalette(bitmap);
        case 16:
        case 24:
        case 32: return WriteRgb(bitmap);
        default: Fail("cannot write " + std::to_string(bitmap.bitsPerPixel()) + " bits per pixel");
    }
}

}  // namespace pictorix::tiff
