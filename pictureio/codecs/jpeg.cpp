#include "pictureio/codecs/jpeg.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace pictorix::jpeg {
namespace {

// How errors leave libjpeg.
//
// libjpeg reports a fatal error by calling error_exit, which must not return. A C++
// exception thrown there would unwind through libjpeg's C frames, which is undefined,
// so error_exit longjmps back to the setjmp of one of the "guarded" functions below
// (the functions named *Guarded). The rules that make the jump well defined:
//   - a guarded function, and every callback libjpeg calls while it runs, holds only
//     trivially destructible locals, so the jump skips no destructor;
//   - nothing it modifies after setjmp is read after the jump (it just returns false);
//   - objects that need releasing (the libjpeg structs, buffers) live in the caller's
//     RAII holders, and the caller turns `false` into an Error.
struct ErrorState {
    jpeg_error_mgr mgr;  // first member: libjpeg hands &mgr back as cinfo->err
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // Warnings that mean image data is missing (see DataMissing).
    bool hitMarker;  // entropy data cut short by a marker, or a lost restart marker
    bool hitEof;     // the input ended before the end-of-image marker
    char warning[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* state = reinterpret_cast<ErrorState*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, state->message);
    std::longjmp(state->jump, 1);
}

// Trace messages are dropped; warnings are counted, and those that mean lost data are
// remembered (libjpeg fills such data with grey and carries on).
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    auto* state = reinterpret_cast<ErrorState*>(cinfo->err);
    ++cinfo->err->num_warnings;
    const int code = cinfo->err->msg_code;
    const bool eof = code == JWRN_JPEG_EOF;
    const bool cut = code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC;
    if (!eof && !cut) return;  // e.g. extraneous bytes before a marker: harmless
    if (!state->hitEof && !state->hitMarker) (*cinfo->err->format_message)(cinfo, state->warning);
    state->hitEof |= eof;
    state->hitMarker |= cut;
}

void OutputMessage(j_common_ptr) {}

void InitErrorState(ErrorState& state) {
    jpeg_std_error(&state.mgr);
    state.mgr.error_exit = ErrorExit;
    state.mgr.emit_message = EmitMessage;
    state.mgr.output_message = OutputMessage;
    state.message[0] = '\0';
    state.warning[0] = '\0';
    state.hitMarker = false;
    state.hitEof = false;
}

Error JpegError(const std::string& message) { return Error("JPEG: " + message); }

// ---------------------------------------------------------------------------
// Reading

enum class Layout { kGrey, kBgr, kCmyk };

struct Decoder {
    ErrorState err;
    // Zeroed so that destroying is safe even when creation never ran or failed.
    jpeg_decompress_struct cinfo{};
    Layout layout = Layout::kBgr;
    bool supported = false;
    bool multipleScans = false;
    bool arithmetic = false;
    bool adobe = false;
    std::uint64_t blocks = 0;  // 8 x 8 blocks of all components

    Decoder() { InitErrorState(err); }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

bool ReadHeaderGuarded(Decoder& d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d.err.jump)) return false;
    d.cinfo.err = &d.err.mgr;
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.err = &d.err.mgr;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);

    d.supported = true;
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        d.layout = Layout::kGrey;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        // libjpeg-turbo writes blue, green, red: the bitmap's own pixel order.
        d.cinfo.out_color_space = JCS_EXT_BGR;
        d.layout = Layout::kBgr;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d.cinfo.out_color_space = JCS_CMYK;
        d.layout = Layout::kCmyk;
        break;
    default:
        d.supported = false;
        break;
    }
    d.multipleScans = jpeg_has_multiple_scans(&d.cinfo);
    d.arithmetic = d.cinfo.arith_code;
    d.adobe = d.cinfo.saw_Adobe_marker;
    for (int c = 0; c < d.cinfo.num_components; ++c)
        d.blocks += std::uint64_t{d.cinfo.comp_info[c].width_in_blocks} * d.cinfo.comp_info[c].height_in_blocks;
    return true;
}

// CMYK as libjpeg delivers it. Photoshop (and every writer that adds an Adobe APP14
// marker) stores the values inverted, 255 meaning no ink; without the marker, 0 means
// no ink. With light values c, m, y, k (255 = no ink): R = c*k/255, G = m*k/255,
// B = y*k/255, rounded. No colour management.
void CmykRowToBgr(const std::uint8_t* src, std::uint8_t* dst, int width, bool inverted) {
    const unsigned flip = inverted ? 0 : 255;
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        const unsigned c = src[0] ^ flip, m = src[1] ^ flip, y = src[2] ^ flip, k = src[3] ^ flip;
        dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
        dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// Decodes every row into `pic` (already of the picture's size and format); `cmykRow`
// holds one CMYK row for that layout. Other layouts are decoded straight into the
// bitmap's rows, several at a time, so that libjpeg need not go through a row of its own
// when its upsampling makes two rows at once.
bool ReadRowsGuarded(Decoder& d, Bitmap& pic, std::uint8_t* cmykRow) {
    if (setjmp(d.err.jump)) return false;
    jpeg_start_decompress(&d.cinfo);
    if (d.cinfo.output_width != d.cinfo.image_width || d.cinfo.output_height != d.cinfo.image_height) {
        std::snprintf(d.err.message, sizeof d.err.message, "unexpected output size");
        return false;
    }
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const int y = static_cast<int>(d.cinfo.output_scanline);
        int n = 1;
        if (d.layout == Layout::kCmyk) {
            rows[0] = cmykRow;
        } else {
            n = std::min(kBatch, pic.height() - y);
            for (int i = 0; i < n; ++i) rows[i] = pic.row(y + i);
        }
        const JDIMENSION got = jpeg_read_scanlines(&d.cinfo, rows, static_cast<JDIMENSION>(n));
        if (got == 0) {
            std::snprintf(d.err.message, sizeof d.err.message, "decoding stopped early");
            return false;
        }
        if (d.layout == Layout::kCmyk) CmykRowToBgr(cmykRow, pic.row(y), pic.width(), d.adobe);
    }
    // The rest of the file (up to the end-of-image marker) is not needed.
    return true;
}

// True when warnings say that image data is missing, which libjpeg would show as grey.
// A premature end of the file counts only when it can have cost data: a single-scan
// Huffman file that lacks just its end marker decodes completely (a cut inside its
// data also raises the marker warning), but in multi-scan and arithmetic-coded files
// the end alone says that data is gone.
bool DataMissing(const Decoder& d) {
    return d.err.hitMarker || (d.err.hitEof && (d.multipleScans || d.arithmetic));
}

// ---------------------------------------------------------------------------
// Writing

// Destination manager that appends to a ByteVector in chunks.
struct Destination {
    jpeg_destination_mgr pub;  // first member: libjpeg hands &pub back as cinfo->dest
    ByteVector* out;
    JOCTET buffer[16384];
};

// Appends without letting an exception escape into libjpeg.
bool AppendBytes(ByteVector& out, const JOCTET* data, std::size_t n) noexcept {
    try {
        out.insert(out.end(), data, data + n);
        return true;
    } catch (...) {
        return false;
    }
}

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = sizeof dest->buffer;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    if (!AppendBytes(*dest->out, dest->buffer, sizeof dest->buffer)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = sizeof dest->buffer;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    const std::size_t used = sizeof dest->buffer - dest->pub.free_in_buffer;
    if (!AppendBytes(*dest->out, dest->buffer, used)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

struct Encoder {
    ErrorState err;
    jpeg_compress_struct cinfo{};
    Destination dest;
    ByteVector out;

    Encoder() {
        InitErrorState(err);
        dest.pub.init_destination = InitDestination;
        dest.pub.empty_output_buffer = EmptyOutputBuffer;
        dest.pub.term_destination = TermDestination;
        dest.pub.next_output_byte = nullptr;
        dest.pub.free_in_buffer = 0;
        dest.out = &out;
    }
    ~Encoder() { jpeg_destroy_compress(&cinfo); }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
};

// `pic` is 24 or 32 bits. libjpeg reads the rows in place: blue, green, red (and the
// unused byte) is one of libjpeg-turbo's input layouts, converted exactly as red, green,
// blue would be. Rows go in batches, each an array of row pointers.
bool EncodeGuarded(Encoder& e, const Bitmap& pic, int quality, bool progressive) {
    if (setjmp(e.err.jump)) return false;
    e.cinfo.err = &e.err.mgr;
    jpeg_create_compress(&e.cinfo);
    e.cinfo.err = &e.err.mgr;
    e.cinfo.dest = &e.dest.pub;
    e.cinfo.image_width = static_cast<JDIMENSION>(pic.width());
    e.cinfo.image_height = static_cast<JDIMENSION>(pic.height());
    const bool padded = pic.bitsPerPixel() == 32;
    e.cinfo.input_components = padded ? 4 : 3;
    e.cinfo.in_color_space = padded ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&e.cinfo);
    jpeg_set_quality(&e.cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&e.cinfo);
    jpeg_start_compress(&e.cinfo, TRUE);
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (e.cinfo.next_scanline < e.cinfo.image_height) {
        const int first = static_cast<int>(e.cinfo.next_scanline);
        const int n = std::min(kBatch, pic.height() - first);
        // libjpeg only reads the rows; its interface has no const.
        for (int i = 0; i < n; ++i) rows[i] = const_cast<JSAMPROW>(pic.row(first + i));
        jpeg_write_scanlines(&e.cinfo, rows, static_cast<JDIMENSION>(n));
    }
    jpeg_finish_compress(&e.cinfo);
    return true;
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    Decoder d;
    if (!ReadHeaderGuarded(d, file.data(), file.size())) throw JpegError(d.err.message);
    if (!d.supported)
        throw JpegError("colour space " + std::to_string(static_cast<int>(d.cinfo.jpeg_color_space)) + " with " +
                         std::to_string(d.cinfo.num_components) + " components is not supported");
    CheckPictureSize(d.cinfo.image_width, d.cinfo.image_height, "JPEG");
    const int width = static_cast<int>(d.cinfo.image_width);
    const int height = static_cast<int>(d.cinfo.image_height);
    // Huffman coding spends at least one bit on every block (its DC symbol), so a
    // shorter file cannot hold the picture its header claims. Refusing it here keeps a
    // tiny hostile file from making libjpeg allocate (and zero) a huge progressive
    // coefficient buffer. Arithmetic coding has no such lower bound.
    if (!d.arithmetic && static_cast<std::uint64_t>(file.size()) * 8 < d.blocks)
        throw JpegError("the file is too short for a picture of " + std::to_string(width) + " x " +
                        std::to_string(height));

    Bitmap pic;
    // Every row is decoded, or the picture is thrown away.
    pic.resetForOverwrite(width, height, d.layout == Layout::kGrey ? 8 : 24);
    pic.setPalette(d.layout == Layout::kGrey ? GreyPalette256() : Palette());
    ByteVector cmykRow(d.layout == Layout::kCmyk ? static_cast<std::size_t>(width) * 4 : 0);

    if (!ReadRowsGuarded(d, pic, cmykRow.data())) throw JpegError(d.err.message);
    if (DataMissing(d)) throw JpegError(d.err.warning);

    // Assigning: the picture replaces everything but the fill colour.
    pic.setFillColor(out.fillColor());
    out = std::move(pic);
}

ByteVector Write(const Bitmap& bitmap, int quality, bool progressive) {
    if (bitmap.empty()) throw Error("JPEG: the bitmap is empty");
    const Bitmap* pic = &bitmap;
    Bitmap converted;
    if (bitmap.bitsPerPixel() != 24 && bitmap.bitsPerPixel() != 32) {
        converted = bitmap;
        converted.setBitsPerPixel(24);
        pic = &converted;
    }
    const int q = quality < 1 ? 1 : (quality > 100 ? 100 : quality);

    Encoder e;
    if (!EncodeGuarded(e, *pic, q, progressive)) throw JpegError(e.err.message);
    return std::move(e.out);
}

}  // namespace pictorix::jpeg
