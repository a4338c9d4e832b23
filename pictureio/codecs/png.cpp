#include "pictureio/codecs/png.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>

namespace pictorix::png {
namespace {

// How errors leave libpng.
//
// libpng's error callback must not return. A C++ exception thrown there would unwind
// through libpng's C frames, which is undefined, so the callback copies the message
// and longjmps (png_longjmp) back to the setjmp of one of the "guarded" functions
// below (named *Guarded). Those functions and the I/O callbacks hold only trivially
// destructible locals, so the jump skips no destructor; the libpng structs and every
// buffer live in the caller's RAII holders, and the caller turns `false` into an Error.
struct ErrorState {
    char message[256];
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto* state = static_cast<ErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

Error PngError(const std::string& message) { return Error("PNG: " + message); }

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// ---------------------------------------------------------------------------
// Reading

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void ReadData(png_structp png, png_bytep dst, std::size_t length) {
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (length > src->size - src->pos) png_error(png, "unexpected end of file");
    std::memcpy(dst, src->data + src->pos, length);
    src->pos += length;
}

struct Decoder {
    ErrorState err{};
    Source src{};
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    std::size_t rowBytes = 0;
    int channels = 0;
    int storedBitsPerPixel = 0;  // as the file stores pixels, before the transforms
    bool opaque = false;         // no alpha channel and no tRNS chunk

    ~Decoder() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Reads up to the image data and sets the transforms that turn every colour type and
// bit depth into 8-bit B, G, R and, when the file has transparency, A. gAMA, cHRM, iCCP and sRGB are not applied, so the
// stored sample values are used as they are.
bool ReadHeaderGuarded(Decoder& d) {
    if (setjmp(png_jmpbuf(d.png))) return false;
    png_set_read_fn(d.png, &d.src, ReadData);
    png_set_user_limits(d.png, kMaxDimension, kMaxDimension);
    png_read_info(d.png, d.info);

    const int colorType = png_get_color_type(d.png, d.info);
    const int bitDepth = png_get_bit_depth(d.png, d.info);
    const bool hasTrns = png_get_valid(d.png, d.info, PNG_INFO_tRNS) != 0;
    d.storedBitsPerPixel = png_get_channels(d.png, d.info) * bitDepth;
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(d.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(d.png);
    if (hasTrns) png_set_tRNS_to_alpha(d.png);
    // Rounds v * 255 / 65535 to the nearest (png_set_strip_16 would truncate).
    if (bitDepth == 16) png_set_scale_16(d.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(d.png);
    // Without transparency every pixel is opaque: B, G, R only.
    d.opaque = (colorType & PNG_COLOR_MASK_ALPHA) == 0 && !hasTrns;
    png_set_bgr(d.png);
    png_set_interlace_handling(d.png);
    png_read_update_info(d.png, d.info);

    d.width = png_get_image_width(d.png, d.info);
    d.height = png_get_image_height(d.png, d.info);
    d.rowBytes = png_get_rowbytes(d.png, d.info);
    d.channels = png_get_channels(d.png, d.info);
    return true;
}

bool ReadImageGuarded(Decoder& d, png_bytepp rows) {
    if (setjmp(png_jmpbuf(d.png))) return false;
    // Reads and checks all image data (including the zlib checksum); the chunks after
    // it are not needed, so a file that lacks only its IEND still reads.
    png_read_image(d.png, rows);
    return true;
}

// ---------------------------------------------------------------------------
// Writing

struct Sink {
    ByteVector out;
};

bool AppendBytes(ByteVector& out, const std::uint8_t* data, std::size_t n) noexcept {
    try {
        out.insert(out.end(), data, data + n);
        return true;
    } catch (...) {
        return false;
    }
}

void WriteData(png_structp png, png_bytep data, std::size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (!AppendBytes(sink->out, data, length)) png_error(png, "out of memory");
}

void FlushData(png_structp) {}

// Everything the encoder needs, prepared outside the guarded region.
struct Job {
    int width;
    int height;
    int bitDepth;
    int colorType;
    int interlace;
    int level;
    const png_color* palette;  // colorType PALETTE: 1 << bitDepth entries
    int paletteSize;
    const png_byte* transAlpha;  // palette transparency, numTrans entries, or null
    int numTrans;
    const png_color_16* transColor;  // RGB transparent colour, or null
    png_bytepp rows;                 // RGB rows are B, G, R
};

struct Encoder {
    ErrorState err{};
    Sink sink;
    png_structp png = nullptr;
    png_infop info = nullptr;

    ~Encoder() { png_destroy_write_struct(&png, &info); }
};

bool EncodeGuarded(Encoder& e, const Job& job) {
    if (setjmp(png_jmpbuf(e.png))) return false;
    png_set_write_fn(e.png, &e.sink, WriteData, FlushData);
    png_set_compression_level(e.png, job.level);
    png_set_IHDR(e.png, e.info, static_cast<png_uint_32>(job.width), static_cast<png_uint_32>(job.height),
                 job.bitDepth, job.colorType, job.interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (job.palette) png_set_PLTE(e.png, e.info, job.palette, job.paletteSize);
    if (job.transAlpha || job.transColor) png_set_tRNS(e.png, e.info, job.transAlpha, job.numTrans, job.transColor);
    png_write_info(e.png, e.info);
    if (job.colorType == PNG_COLOR_TYPE_RGB) png_set_bgr(e.png);
    png_write_image(e.png, job.rows);  // handles the Adam7 passes itself
    png_write_end(e.png, nullptr);
    return true;
}

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    return remaining > sizeof kSignature && header.size() >= sizeof kSignature &&
           std::memcmp(header.data(), kSignature, sizeof kSignature) == 0;
}

void Read(ByteSpan file, Bitmap& out) {
    Decoder d;
    d.src = {file.data(), file.size(), 0};
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d.err, OnError, OnWarning);
    if (d.png) d.info = png_create_info_struct(d.png);
    if (!d.png || !d.info) throw PngError("out of memory");

    if (!ReadHeaderGuarded(d)) throw PngError(d.err.message);
    CheckPictureSize(d.width, d.height, "PNG");
    const int width = static_cast<int>(d.width);
    const int height = static_cast<int>(d.height);
    // Deflate cannot shrink data more than 1032 : 1, so a shorter file cannot hold the
    // picture its header claims. Refusing it here keeps a tiny hostile file from making
    // us allocate a buffer for a huge picture.
    const std::uint64_t storedBytes =
        std::uint64_t(height) * ((std::uint64_t(width) * std::uint64_t(d.storedBitsPerPixel) + 7) / 8);
    if (std::uint64_t(file.size()) * 1032 < storedBytes)
        throw PngError("the file is too short for a picture of " + std::to_string(width) + " x " +
                       std::to_string(height));
    const std::size_t rowBytes = static_cast<std::size_t>(width) * (d.opaque ? 3 : 4);
    if (d.channels != (d.opaque ? 3 : 4) || d.rowBytes != rowBytes)
        throw PngError("unexpected pixel layout after conversion");

    // Decoded in full before `out` is touched, so a damaged file leaves it unchanged.
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    if (d.opaque) {
        // Every pixel covers what is below it, so the picture simply becomes `out`'s
        // pixels: 24 bits at the PNG's size, out's palette, fill and transparency kept.
        Bitmap pic;
        pic.resetForOverwrite(width, height, 24);
        for (int y = 0; y < height; ++y) rows[y] = pic.row(y);
        if (!ReadImageGuarded(d, rows.data())) throw PngError(d.err.message);
        out.setBitsPerPixel(24);
        pic.setPalette(out.palette());
        pic.setFillColor(out.fillColor());
        pic.setTransparent(out.transparent(), out.transparentColor());
        out = std::move(pic);
        return;
    }
    ByteVector pixels(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) rows[y] = pixels.data() + rowBytes * static_cast<std::size_t>(y);
    if (!ReadImageGuarded(d, rows.data())) throw PngError(d.err.message);

    // Drawing: 24 bits, the PNG's size (new area in the fill colour), then each pixel
    // blended over what is there.
    out.setBitsPerPixel(24);
    out.setSize(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = rows[y];
        std::uint8_t* p = out.row(y);
        for (int x = 0; x < width; ++x, s += 4, p += 3) {
            const unsigned a = s[3];
            if (a == 255) {
                p[0] = s[0];
                p[1] = s[1];
                p[2] = s[2];
            } else if (a != 0) {
                for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((s[c] * a + p[c] * (255 - a) + 127) / 255);
            }
        }
    }
}

ByteVector Write(const Bitmap& bitmap, int level, bool interlaced) {
    if (bitmap.empty()) throw Error("PNG: the bitmap is empty");
    const int bpp = bitmap.bitsPerPixel();
    const bool indexed = bpp == 1 || bpp == 4 || bpp == 8;

    const Bitmap* pic = &bitmap;
    Bitmap converted;
    if (!indexed && bpp != 24) {
        converted = bitmap;
        converted.setBitsPerPixel(24);
        pic = &converted;
    }

    Job job{};
    job.width = pic->width();
    job.height = pic->height();
    job.level = level < 0 ? 0 : (level > 9 ? 9 : level);
    job.interlace = interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;

    std::vector<png_color> palette;
    std::vector<png_byte> transAlpha;
    png_color_16 transColor{};
    const Color tc = pic->transparentColor() & 0x00FFFFFF;
    if (indexed) {
        job.bitDepth = bpp;
        job.colorType = PNG_COLOR_TYPE_PALETTE;
        // Exactly 2^bpp entries: the bitmap's own, cut or padded with black.
        const Palette& source = pic->palette();
        palette.resize(std::size_t{1} << bpp);
        for (std::size_t i = 0; i < palette.size() && i < source.size(); ++i)
            palette[i] = {static_cast<png_byte>(GetR(source[i])), static_cast<png_byte>(GetG(source[i])),
                          static_cast<png_byte>(GetB(source[i]))};
        job.palette = palette.data();
        job.paletteSize = static_cast<int>(palette.size());
        // The first entry of exactly that colour becomes transparent; without such an
        // entry no pixel has the colour and no tRNS is needed.
        if (pic->transparent()) {
            for (std::size_t i = 0; i < palette.size() && i < source.size(); ++i) {
                if ((source[i] & 0x00FFFFFF) == tc) {
                    transAlpha.assign(i + 1, 255);
                    transAlpha[i] = 0;
                    break;
                }
            }
            if (!transAlpha.empty()) {
                job.transAlpha = transAlpha.data();
                job.numTrans = static_cast<int>(transAlpha.size());
            }
        }
    } else {
        job.bitDepth = 8;
        job.colorType = PNG_COLOR_TYPE_RGB;
        if (pic->transparent()) {
            transColor.red = static_cast<png_uint_16>(GetR(tc));
            transColor.green = static_cast<png_uint_16>(GetG(tc));
            transColor.blue = static_cast<png_uint_16>(GetB(tc));
            job.transColor = &transColor;
        }
    }

    // libpng copies each row before transforming it, so the bitmap's rows are only read.
    std::vector<png_bytep> rows(static_cast<std::size_t>(job.height));
    for (int y = 0; y < job.height; ++y) rows[y] = const_cast<png_bytep>(pic->row(y));
    job.rows = rows.data();

    Encoder e;
    e.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &e.err, OnError, OnWarning);
    if (e.png) e.info = png_create_info_struct(e.png);
    if (!e.png || !e.info) throw PngError("out of memory");
    if (!EncodeGuarded(e, job)) throw PngError(e.err.message);
    return std::move(e.sink.out);
}

}  // namespace pictorix::png
