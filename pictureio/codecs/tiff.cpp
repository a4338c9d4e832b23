#include "pictureio/codecs/tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "core/error.h"

namespace pictorix::tiff {

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    bool littleEndian;
    if (header[0] == 'I' && header[1] == 'I')
        littleEndian = true;
    else if (header[0] == 'M' && header[1] == 'M')
        littleEndian = false;
    else
        return false;
    const unsigned version = littleEndian ? ReadLE16(header, 2) : ReadBE16(header, 2);
    if (version != 42) return false;
    // Signed on purpose: an offset with the top bit set counts as negative and passes.
    const auto offset = static_cast<std::int32_t>(littleEndian ? ReadLE32(header, 4) : ReadBE32(header, 4));
    const auto size = static_cast<std::int64_t>(
        std::min<std::uint64_t>(remaining, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    return offset < size;
}

namespace {

// ---------------------------------------------------------------------------
// libtiff over the bytes in memory

struct MemoryFile {
    ByteSpan data;
    std::uint64_t pos = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->pos >= file->data.size()) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(size), file->data.size() - file->pos);
    std::memcpy(buffer, file->data.data() + file->pos, static_cast<std::size_t>(n));
    file->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const auto fail = static_cast<toff_t>(-1);
    // libtiff passes relative offsets as two's complement in the unsigned toff_t.
    const auto delta = static_cast<std::int64_t>(offset);
    std::uint64_t base;
    switch (whence) {
        case SEEK_SET:
            if (delta < 0) return fail;
            file->pos = offset;
            return file->pos;
        case SEEK_CUR:
            base = file->pos;
            break;
        case SEEK_END:
            base = file->data.size();
            break;
        default:
            return fail;
    }
    const std::uint64_t magnitude = std::uint64_t(0) - static_cast<std::uint64_t>(delta);
    if (delta < 0 && magnitude > base) return fail;
    file->pos = base + static_cast<std::uint64_t>(delta);  // unsigned wrap-around subtracts a negative delta
    return file->pos;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->data.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }  // not mapped: every read goes through ReadProc
void UnmapProc(thandle_t, void*, toff_t) {}

// The first error message of one open; warnings are dropped.
struct Messages {
    std::string firstError;
};

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    if (messages && messages->firstError.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        messages->firstError = text;
    }
    return 1;  // handled: the process-wide handlers are not called
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void Fail(const Messages& messages, const std::string& fallback) {
    throw Error("TIFF: " + (messages.firstError.empty() ? fallback : messages.firstError));
}

// A buffer whose contents the decoder writes; not zero-filled, so a big one costs
// address space only until it is used.
template <class T>
std::unique_ptr<T[]> AllocateBuffer(std::uint64_t count) {
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / 2 / sizeof(T))
        throw Error("TIFF: a buffer of " + std::to_string(count) + " elements is not possible");
    std::unique_ptr<T[]> buffer(new (std::nothrow) T[static_cast<std::size_t>(count)]);
    if (!buffer) throw Error("TIFF: not enough memory for " + std::to_string(count * sizeof(T)) + " bytes");
    return buffer;
}

// ---------------------------------------------------------------------------
// Orientation

// Returns the picture as meant to be seen from the stored raster `s`, for Orientation
// tag values 2-8 (1 and unknown values: unchanged). Display pixel (x, y) comes from
// stored column sx and row sy:
//   1 (x, y)  2 (w-1-x, y)  3 (w-1-x, h-1-y)  4 (x, h-1-y)
//   5 (y, x)  6 (y, h-1-x)  7 (w-1-y, h-1-x)  8 (w-1-y, x)
// where w, h are the stored width and height; 5-8 swap width and height.
void ApplyOrientation(Bitmap& s, int orientation) {
    if (orientation < 2 || orientation > 8) return;
    const int w = s.width(), h = s.height();
    const bool swap = orientation >= 5;
    Bitmap d;
    d.setFillColor(s.fillColor());
    d.setTransparent(s.transparent(), s.transparentColor());
    d.reset(swap ? h : w, swap ? w : h, s.bitsPerPixel());
    d.setPalette(s.palette());
    const int bpp = s.bitsPerPixel();
    for (int y = 0; y < d.height(); ++y) {
        std::uint8_t* out = d.row(y);
        for (int x = 0; x < d.width(); ++x) {
            int sx, sy;
            switch (orientation) {
                case 2: sx = w - 1 - x; sy = y; break;
                case 3: sx = w - 1 - x; sy = h - 1 - y; break;
                case 4: sx = x; sy = h - 1 - y; break;
                case 5: sx = y; sy = x; break;
                case 6: sx = y; sy = h - 1 - x; break;
                case 7: sx = w - 1 - y; sy = h - 1 - x; break;
                default: sx = w - 1 - y; sy = x; break;  // 8
            }
            const std::uint8_t* in = s.row(sy);
            if (bpp == 1) {
                if ((in[sx >> 3] >> (7 - (sx & 7))) & 1) out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            } else if (bpp == 8) {
                out[x] = in[sx];
            } else {  // 24
                std::memcpy(out + 3 * x, in + 3 * sx, 3);
            }
        }
    }
    s = std::move(d);
}

// ---------------------------------------------------------------------------
// Bilevel, grey and palette pictures: samples read straight from the strips or tiles

unsigned Sample(const std::uint8_t* src, int i, int bits) {
    switch (bits) {
        case 8: return src[i];
        case 4: return (src[i >> 1] >> (4 * (1 - (i & 1)))) & 0x0F;
        case 2: return (src[i >> 2] >> (6 - 2 * (i & 3))) & 0x03;
        default: return (src[i >> 3] >> (7 - (i & 7))) & 0x01;
    }
}

// Copies `count` bits from the start of src to bit `x0` of a 1-bit row.
void CopyBits(std::uint8_t* row, int x0, const std::uint8_t* src, int count, bool invert) {
    const std::uint8_t flip = invert ? 0xFF : 0x00;
    if ((x0 & 7) == 0) {
        std::uint8_t* dst = row + (x0 >> 3);
        const int whole = count >> 3;
        for (int i = 0; i < whole; ++i) dst[i] = src[i] ^ flip;
        if (const int rest = count & 7) {
            const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
            dst[whole] = static_cast<std::uint8_t>((dst[whole] & ~mask) | ((src[whole] ^ flip) & mask));
        }
        return;
    }
    for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        if (Sample(src, i, 1) ^ (invert ? 1u : 0u))
            row[x >> 3] |= bit;
        else
            row[x >> 3] &= static_cast<std::uint8_t>(~bit);
    }
}

enum class Kind { Bilevel, Grey, Paletted };

struct DirectLayout {
    Kind kind;
    int bits;
    bool minIsWhite;
};

// Hands every stored row segment of the single-sample picture to `put`
// (row, first column, column count, samples starting at bit 0 of the pointer).
template <class Put>
void ForEachSegment(TIFF* tif, const Messages& messages, int width, int height, int bits, Put put) {
    if (TIFFIsTiled(tif)) {
        std::uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        if (tw == 0 || th == 0 || tw > static_cast<std::uint32_t>(kMaxDimension) ||
            th > static_cast<std::uint32_t>(kMaxDimension) || std::uint64_t(tw) * th > kMaxPixels)
            throw Error("TIFF: tile size " + std::to_string(tw) + " x " + std::to_string(th) + " is not supported");
        const std::uint64_t tileSize = TIFFTileSize64(tif);
        const std::uint64_t tileRow = TIFFTileRowSize64(tif);
        if (tileRow < (std::uint64_t(tw) * bits + 7) / 8 || tileRow * th > tileSize)
            Fail(messages, "the tile size is not valid");
        auto buffer = AllocateBuffer<std::uint8_t>(tileSize);
        for (std::uint32_t ty = 0; ty < static_cast<std::uint32_t>(height); ty += th) {
            for (std::uint32_t tx = 0; tx < static_cast<std::uint32_t>(width); tx += tw) {
                const std::uint32_t tile = TIFFComputeTile(tif, tx, ty, 0, 0);
                if (TIFFReadEncodedTile(tif, tile, buffer.get(), static_cast<tmsize_t>(tileSize)) < 0)
                    Fail(messages, "tile " + std::to_string(tile) + " cannot be read");
                const int rows = static_cast<int>(std::min<std::uint32_t>(th, height - ty));
                const int cols = static_cast<int>(std::min<std::uint32_t>(tw, width - tx));
                for (int r = 0; r < rows; ++r)
                    put(static_cast<int>(ty) + r, static_cast<int>(tx), cols, buffer.get() + r * tileRow);
            }
        }
        return;
    }

    // Strips are read row by row: libtiff then holds one row and a share of the
    // compressed data, not a whole decoded strip, which may be the whole picture.
    const std::uint64_t scanline = TIFFScanlineSize64(tif);
    if (scanline < (std::uint64_t(width) * bits + 7) / 8) Fail(messages, "the row size is not valid");
    auto buffer = AllocateBuffer<std::uint8_t>(scanline);
    for (int y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, buffer.get(), static_cast<std::uint32_t>(y), 0) < 0)
            Fail(messages, "row " + std::to_string(y) + " cannot be read");
        put(y, 0, width, buffer.get());
    }
}

Palette ColourMapPalette(TIFF* tif, const Messages& messages, int bits) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
        Fail(messages, "the palette picture has no colour map");
    const int count = 1 << bits;
    // Old writers stored 8-bit values; a map with nothing above 255 is one of those.
    bool eightBit = true;
    for (int i = 0; i < count && eightBit; ++i)
        if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
    const int shift = eightBit ? 0 : 8;
    Palette palette;
    palette.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) palette.push_back(RGB(red[i] >> shift, green[i] >> shift, blue[i] >> shift));
    return palette;
}

void ReadDirect(TIFF* tif, const Messages& messages, const DirectLayout& layout, int width, int height,
                Bitmap& picture) {
    const bool bilevel = layout.kind == Kind::Bilevel;
    const Palette palette = bilevel                             ? BlackWhitePalette()
                            : layout.kind == Kind::Paletted ? ColourMapPalette(tif, messages, layout.bits)
                                                            : GreyPalette256();
    std::uint8_t lut[256] = {};
    const unsigned maxValue = (1u << layout.bits) - 1;
    for (unsigned v = 0; v <= maxValue; ++v) {
        const unsigned level = layout.kind == Kind::Grey ? v * 255 / maxValue : v;
        lut[v] = static_cast<std::uint8_t>(layout.minIsWhite && layout.kind == Kind::Grey ? 255 - level : level);
    }
    // The bitmap is made once the first strip or tile has been decoded, so a tiny
    // file that claims a huge picture fails before the pixels are allocated.
    auto put = [&](int y, int x0, int cols, const std::uint8_t* src) {
        if (picture.empty()) {
            picture.reset(width, height, bilevel ? 1 : 8);
            picture.setPalette(palette);
        }
        if (bilevel) {
            CopyBits(picture.row(y), x0, src, cols, layout.minIsWhite);
            return;
        }
        std::uint8_t* dst = picture.row(y) + x0;
        for (int i = 0; i < cols; ++i) dst[i] = lut[Sample(src, i, layout.bits)];
    };
    ForEachSegment(tif, messages, width, height, layout.bits, put);
}

// Plain 8-bit RGB, read row by row straight into the picture: what the RGBA interface
// gives for it (every pixel opaque, so "over white" keeps it as it is) without its
// four-byte copy of the whole picture.
bool IsPlainRgb(TIFF* tif, bool hasPhotometric, std::uint16_t photometric, std::uint16_t samples,
                std::uint16_t bits) {
    std::uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    const bool losslessCodec = compression == COMPRESSION_NONE || compression == COMPRESSION_LZW ||
                               compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE ||
                               compression == COMPRESSION_PACKBITS;
    return hasPhotometric && photometric == PHOTOMETRIC_RGB && samples == 3 && bits == 8 &&
           planar == PLANARCONFIG_CONTIG && losslessCodec;
}

void ReadPlainRgb(TIFF* tif, const Messages& messages, int width, int height, Bitmap& picture) {
    auto put = [&](int y, int x0, int cols, const std::uint8_t* src) {
        if (picture.empty()) picture.reset(width, height, 24);
        std::uint8_t* dst = picture.row(y) + 3 * x0;
        for (int i = 0; i < cols; ++i, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    };
    ForEachSegment(tif, messages, width, height, 24, put);
}

// ---------------------------------------------------------------------------
// Everything else through libtiff's RGBA interface

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* img) const { TIFFRGBAImageEnd(img); }
};

void ReadRgba(TIFF* tif, const Messages& messages, Bitmap& picture) {
    char message[1024] = {};  // the size libtiff documents for these two calls
    auto refuse = [&message] {
        throw Error(std::string("TIFF: ") + (message[0] ? message : "the picture cannot be decoded"));
    };
    if (!TIFFRGBAImageOK(tif, message)) refuse();
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) refuse();
    std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> end(&img);

    // Ask for the stored order; the orientation is applied afterwards as for every
    // other kind of picture. The size is the one Read has checked.
    img.req_orientation = img.orientation;
    const std::uint32_t width = img.width, height = img.height;
    CheckPictureBytes(width, height, 32, "TIFF");  // the decoded samples, before the picture
    auto rgba = AllocateBuffer<std::uint32_t>(std::uint64_t(width) * height);
    if (!TIFFRGBAImageGet(&img, rgba.get(), width, height)) Fail(messages, "the picture cannot be decoded");

    picture.reset(static_cast<int>(width), static_cast<int>(height), 24);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint32_t* in = rgba.get() + std::uint64_t(y) * width;
        std::uint8_t* out = picture.row(static_cast<int>(y));
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t p = in[x];
            const unsigned a = TIFFGetA(p);
            // Premultiplied colour over white; min() guards associated-alpha data
            // whose colour exceeds its alpha.
            auto over = [a](unsigned c) { return static_cast<std::uint8_t>(std::min(255u, c + 255u - a)); };
            out[3 * x + 0] = over(TIFFGetB(p));
            out[3 * x + 1] = over(TIFFGetG(p));
            out[3 * x + 2] = over(TIFFGetR(p));
        }
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    SilenceGlobalHandlers();
    Messages messages;
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) throw Error("TIFF: not enough memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, nullptr);
    // No single allocation of libtiff beyond what the largest accepted picture needs
    // (2^30 pixels of four 16-bit samples).
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxPixels * 8));

    MemoryFile source{file, 0};
    TiffHandle tif(TIFFClientOpenExt("TIFF", "rm", &source, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                     MapProc, UnmapProc, options.get()));
    if (!tif) Fail(messages, "not a TIFF file");

    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        Fail(messages, "the picture size is missing");
    CheckPictureSize(width, height, "TIFF");
    // The generous bound of what the file's bytes can hold (a blank fax page packs
    // some ten thousand pixels into a byte), so that a few bytes that claim a huge
    // picture are refused before its pixels are allocated.
    constexpr std::uint64_t kMostPixelsPerByte = 1 << 16;
    if (std::uint64_t(width) * height > std::uint64_t(file.size()) * kMostPixelsPerByte)
        throw Error("TIFF: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is more than the file's " + std::to_string(file.size()) + " bytes can hold");
    if (width == 0 || height == 0)
        throw Error("TIFF: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is not supported");

    std::uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = 0, orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    const bool hasPhotometric = TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric) != 0;

    // libtiff's RGBA interface reads every sample as unsigned, so signed and
    // floating-point data would come out as wrong colours without a word.
    if (format == SAMPLEFORMAT_INT) throw Error("TIFF: signed integer samples are not supported");
    if (format == SAMPLEFORMAT_IEEEFP) throw Error("TIFF: floating-point samples are not supported");
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
        throw Error("TIFF: sample format " + std::to_string(format) + " is not supported");

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());

    const bool single = hasPhotometric && samples == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
    if (single && (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)) {
        const Kind kind = bits == 1 ? Kind::Bilevel : Kind::Grey;
        ReadDirect(tif.get(), messages, {kind, bits, photometric == PHOTOMETRIC_MINISWHITE}, static_cast<int>(width),
                   static_cast<int>(height), picture);
    } else if (single && photometric == PHOTOMETRIC_PALETTE) {
        ReadDirect(tif.get(), messages, {Kind::Paletted, bits, false}, static_cast<int>(width),
                   static_cast<int>(height), picture);
    } else if (IsPlainRgb(tif.get(), hasPhotometric, photometric, samples, bits)) {
        ReadPlainRgb(tif.get(), messages, static_cast<int>(width), static_cast<int>(height), picture);
    } else {
        ReadRgba(tif.get(), messages, picture);
    }
    ApplyOrientation(picture, orientation);
    out = std::move(picture);
}

}  // namespace pictorix::tiff
