#include "pictureio/codecs/metafile.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "core/rounding.h"
#include "pictureio/codecs/bmp.h"
#include "pictureio/codecs/metafile_player.h"

namespace pictorix::metafile {
namespace {

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::uint32_t kSrcCopy = 0x00CC0020;  // raster operation: copy the source
constexpr unsigned kDibRgbColors = 0;           // the DIB's colour table holds RGB values
constexpr int kUnitsPerInch = 96;               // the reference screen's pixels per inch

// A DIB (BITMAPINFO followed by the bits) cut out of the BMP writer's file.
struct Dib {
    ByteVector bytes;
    std::size_t infoSize = 0;  // header, masks and colour table
    std::size_t bitsSize() const { return bytes.size() - infoSize; }
};

Dib MakeDib(const Bitmap& bitmap) {
    ByteVector file = bmp::Write(bitmap);
    Dib dib;
    dib.infoSize = ReadLE32(file, 10) - kBmpFileHeaderSize;  // bfOffBits
    dib.bytes.assign(file.begin() + kBmpFileHeaderSize, file.end());
    return dib;
}

void PutLE32Signed(ByteVector& v, long long x) { PutLE32(v, static_cast<std::uint32_t>(x)); }

// ---------------------------------------------------------------------------
// Plain Windows metafile

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr unsigned kMetaSetWindowOrg = 0x020B;
constexpr unsigned kMetaSetWindowExt = 0x020C;
constexpr unsigned kMetaStretchDib = 0x0F43;
constexpr unsigned kMetaEof = 0x0000;
constexpr int kMaxWmfCoordinate = 32767;

[[noreturn]] void FailWmf(const std::string& what) { throw Error("WMF: " + what); }

// ---------------------------------------------------------------------------
// Enhanced metafile

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrStretchDiBits = 81;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kEmfVersion = 0x00010000;
constexpr std::uint32_t kEmrHeaderSize = 108;        // with both header extensions
constexpr std::uint32_t kEmrStretchDiBitsFixedSize = 80;
constexpr std::uint32_t kEmrEofSize = 20;
// Reference device: a 1920 x 1440 screen at 96 pixels per inch, which is exactly
// 508 x 381 mm, so readers that derive the resolution from it get 96 dpi.
constexpr std::uint32_t kScreenWidth = 1920, kScreenHeight = 1440;
constexpr std::uint32_t kScreenWidthMm = 508, kScreenHeightMm = 381;

[[noreturn]] void FailEmf(const std::string& what) { throw Error("EMF: " + what); }

// Pixels at 96 dpi to hundredths of a millimetre.
long long HundredthsOfMm(int pixels) { return RoundToInt64(pixels * 2540.0 / kUnitsPerInch); }

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    const PictureInfo info = Inspect(file);
    const int width = info.width, height = info.height;

    // Played on a 24-bit canvas that starts as `out` will look once resized, so that
    // raster operations see what lies underneath; only drawn pixels go back.
    Canvas canvas(width, height, out.fillColor());
    const int keepW = std::min(width, out.width()), keepH = std::min(height, out.height());
    for (int y = 0; y < keepH; ++y)
        for (int x = 0; x < keepW; ++x) canvas.preset(x, y, out.pixel(x, y));
    Play(file, info, canvas);

    out.setHeight(height);
    out.setWidth(width);
    const bool palette = out.bitsPerPixel() <= 8;
    Color lastColor = 0;
    int lastIndex = -1;  // palette index of lastColor: the nearest-entry search is the slow part
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (!canvas.drawn(x, y)) continue;
            const Color c = canvas.pixel(x, y);
            if (palette && lastIndex >= 0 && c == lastColor) {
                out.setIndex(x, y, lastIndex);
                continue;
            }
            out.setPixel(x, y, c);
            if (palette) lastColor = c, lastIndex = out.index(x, y);
        }
}

ByteVector WriteWmf(const Bitmap& bitmap) {
    if (bitmap.empty()) FailWmf("the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    if (width > kMaxWmfCoordinate || height > kMaxWmfCoordinate)
        FailWmf("picture size " + std::to_string(width) + " x " + std::to_string(height) +
                " is larger than a Windows metafile can hold (32767 pixels a side)");
    const Dib dib = MakeDib(bitmap);

    constexpr std::uint64_t headerWords = 9, windowRecordWords = 5, eofWords = 3;
    constexpr std::uint64_t stretchDibFixedBytes = 28;
    const std::uint64_t stretchDibWords = (stretchDibFixedBytes + dib.bytes.size()) / 2;  // DIBs are 4-byte multiples
    const std::uint64_t totalWords = headerWords + 2 * windowRecordWords + stretchDibWords + eofWords;
    if (totalWords > 0xFFFFFFFFu) FailWmf("the bitmap is too large for a Windows metafile");

    ByteVector out;
    out.reserve(22 + static_cast<std::size_t>(totalWords) * 2);

    // Placeable header; its checksum covers the ten words before it.
    PutLE32(out, kPlaceableKey);
    PutLE16(out, 0);  // handle
    PutLE16(out, 0);  // bounding box: left, top, right, bottom
    PutLE16(out, 0);
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, static_cast<unsigned>(height));
    PutLE16(out, kUnitsPerInch);
    PutLE32(out, 0);  // reserved
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 20; i += 2) checksum ^= ReadLE16(out, i);
    PutLE16(out, checksum);

    // META_HEADER
    PutLE16(out, 1);  // memory metafile
    PutLE16(out, static_cast<unsigned>(headerWords));
    PutLE16(out, 0x0300);  // version 3.0: may hold DIBs
    PutLE32(out, static_cast<std::uint32_t>(totalWords));
    PutLE16(out, 0);  // no objects
    PutLE32(out, static_cast<std::uint32_t>(stretchDibWords));  // largest record
    PutLE16(out, 0);  // unused

    // Logical coordinates are pixels: window 0,0 with the picture's extent.
    PutLE32(out, windowRecordWords);
    PutLE16(out, kMetaSetWindowOrg);
    PutLE16(out, 0);  // y, then x
    PutLE16(out, 0);
    PutLE32(out, windowRecordWords);
    PutLE16(out, kMetaSetWindowExt);
    PutLE16(out, static_cast<unsigned>(height));
    PutLE16(out, static_cast<unsigned>(width));

    // META_STRETCHDIB: parameters are stored last to first.
    PutLE32(out, static_cast<std::uint32_t>(stretchDibWords));
    PutLE16(out, kMetaStretchDib);
    PutLE32(out, kSrcCopy);
    PutLE16(out, kDibRgbColors);
    PutLE16(out, static_cast<unsigned>(height));  // source height, width, y, x
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, static_cast<unsigned>(height));  // destination height, width, y, x
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, 0);
    PutLE16(out, 0);
    out.insert(out.end(), dib.bytes.begin(), dib.bytes.end());

    PutLE32(out, eofWords);
    PutLE16(out, kMetaEof);
    return out;
}

ByteVector WriteEmf(const Bitmap& bitmap) {
    if (bitmap.empty()) FailEmf("the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    // Sizes are 32-bit. Checked before the DIB is made: the largest BITMAPINFO (header,
    // 256 colours) is more than the BMP file header, so a DIB that fits here fits a BMP file.
    const std::uint64_t largestInfo = 40 + 4 * 256;
    const std::uint64_t bitsSize = std::uint64_t(Bitmap::strideFor(width, bitmap.bitsPerPixel())) * height;
    if (kEmrHeaderSize + kEmrStretchDiBitsFixedSize + largestInfo + bitsSize + kEmrEofSize > 0xFFFFFFFFu)
        FailEmf("the bitmap is too large for an enhanced metafile");
    const Dib dib = MakeDib(bitmap);

    const std::uint64_t stretchSize = kEmrStretchDiBitsFixedSize + dib.bytes.size();
    const std::uint64_t total = kEmrHeaderSize + stretchSize + kEmrEofSize;

    ByteVector out;
    out.reserve(static_cast<std::size_t>(total));

    // EMR_HEADER. Bounds are inclusive pixels; the frame is the same area in 0.01 mm.
    PutLE32(out, kEmrHeader);
    PutLE32(out, kEmrHeaderSize);
    PutLE32(out, 0);  // bounds
    PutLE32(out, 0);
    PutLE32Signed(out, width - 1);
    PutLE32Signed(out, height - 1);
    PutLE32(out, 0);  // frame
    PutLE32(out, 0);
    PutLE32Signed(out, HundredthsOfMm(width) - 1);
    PutLE32Signed(out, HundredthsOfMm(height) - 1);
    PutLE32(out, kEmfSignature);
    PutLE32(out, kEmfVersion);
    PutLE32(out, static_cast<std::uint32_t>(total));
    PutLE32(out, 3);  // records
    PutLE16(out, 1);  // handles: only the reserved index 0
    PutLE16(out, 0);  // reserved
    PutLE32(out, 0);  // description: none
    PutLE32(out, 0);
    PutLE32(out, 0);  // palette entries
    PutLE32(out, kScreenWidth);
    PutLE32(out, kScreenHeight);
    PutLE32(out, kScreenWidthMm);
    PutLE32(out, kScreenHeightMm);
    PutLE32(out, 0);  // pixel format: none
    PutLE32(out, 0);
    PutLE32(out, 0);  // not OpenGL
    PutLE32(out, kScreenWidthMm * 1000);  // micrometres
    PutLE32(out, kScreenHeightMm * 1000);

    // EMR_STRETCHDIBITS with the DIB right after its fixed part.
    PutLE32(out, kEmrStretchDiBits);
    PutLE32(out, static_cast<std::uint32_t>(stretchSize));
    PutLE32(out, 0);  // bounds
    PutLE32(out, 0);
    PutLE32Signed(out, width - 1);
    PutLE32Signed(out, height - 1);
    PutLE32(out, 0);  // destination x, y
    PutLE32(out, 0);
    PutLE32(out, 0);  // source x, y
    PutLE32(out, 0);
    PutLE32Signed(out, width);  // source width, height
    PutLE32Signed(out, height);
    PutLE32(out, kEmrStretchDiBitsFixedSize);  // offset and size of the BITMAPINFO
    PutLE32(out, static_cast<std::uint32_t>(dib.infoSize));
    PutLE32(out, static_cast<std::uint32_t>(kEmrStretchDiBitsFixedSize + dib.infoSize));  // bits
    PutLE32(out, static_cast<std::uint32_t>(dib.bitsSize()));
    PutLE32(out, kDibRgbColors);
    PutLE32(out, kSrcCopy);
    PutLE32Signed(out, width);  // destination width, height
    PutLE32Signed(out, height);
    out.insert(out.end(), dib.bytes.begin(), dib.bytes.end());

    // EMR_EOF without palette entries; the last field repeats the record's size.
    PutLE32(out, kEmrEof);
    PutLE32(out, kEmrEofSize);
    PutLE32(out, 0);   // palette entries
    PutLE32(out, 16);  // their offset
    PutLE32(out, kEmrEofSize);
    return out;
}

}  // namespace pictorix::metafile
