// JPEG 2000 codec plug-in on OpenJPEG.
//
// Reads JP2 files and raw codestreams (J2K, JPC, J2C), told apart by their first
// bytes. Greyscale comes as one 8-bit channel, or 16-bit when the file holds more than
// 8 bits; three components as 24-bit, with "YCbCr" or "Lab" in Options when the file
// says so; four or more as planes, the count telling the program what it got.
// Writes JP2 (or a codestream for J2K, JPC, J2C) from 8-bit palette and 24-bit
// pictures. Option text: "rate=R", the compressed size as a fraction of the raw size
// (0 < R < 1, irreversible 9/7 wavelet); without it, or with R >= 1, lossless.
//
// Statuses besides those of the interface: 6 for an option text it cannot use.
#include <openjpeg.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "pictureio/plugin_abi.h"

namespace {

constexpr std::int32_t kBadOptions = 6;

// Sizes beyond these are refused before anything is allocated.
constexpr std::uint32_t kMaxDimension = 1u << 20;
constexpr std::uint64_t kMaxPixels = 1ull << 30;

const char kLoadFilter[] = "JPEG 2000 (*.jp2;*.j2k;*.jpc;*.j2c)|*.jp2;*.j2k;*.jpc;*.j2c";
const char kSaveFilter[] = "JPEG 2000 (*.jp2)|*.jp2";

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

// OpenJPEG prints its messages unless the codec gets handlers; the status says enough.
void Ignore(const char*, void*) {}

void Silence(opj_codec_t* codec) {
    opj_set_info_handler(codec, Ignore, nullptr);
    opj_set_warning_handler(codec, Ignore, nullptr);
    opj_set_error_handler(codec, Ignore, nullptr);
}

bool SameText(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

// --- Reading ------------------------------------------------------------------------

enum class Kind { Unknown, Jp2, Codestream };

// -1 when the file cannot be opened.
int Sniff(const char* fileName, Kind& kind) {
    std::FILE* f = std::fopen(fileName, "rb");
    if (!f) return -1;
    unsigned char head[12] = {};
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const unsigned char kJp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    static const unsigned char kCodestream[4] = {0xFF, 0x4F, 0xFF, 0x51};
    if (n == 12 && std::memcmp(head, kJp2, 12) == 0) kind = Kind::Jp2;
    else if (n >= 4 && std::memcmp(head, kCodestream, 4) == 0) kind = Kind::Codestream;
    else kind = Kind::Unknown;
    return 0;
}

// One component sampled on the image grid: subsampled components are repeated, and
// indices are clamped so that a component smaller than it claims cannot be overrun.
struct Sampler {
    const opj_image_comp_t& comp;
    std::uint32_t gridX0, gridY0;

    std::uint32_t Raw(std::uint32_t x, std::uint32_t y) const {
        std::uint64_t cx = (static_cast<std::uint64_t>(gridX0) + x) / comp.dx;
        std::uint64_t cy = (static_cast<std::uint64_t>(gridY0) + y) / comp.dy;
        cx = cx > comp.x0 ? cx - comp.x0 : 0;
        cy = cy > comp.y0 ? cy - comp.y0 : 0;
        cx = std::min<std::uint64_t>(cx, comp.w - 1);
        cy = std::min<std::uint64_t>(cy, comp.h - 1);
        std::int64_t v = comp.data[cy * comp.w + cx];
        if (comp.sgnd) v += std::int64_t{1} << (comp.prec - 1);
        const std::int64_t max = (std::int64_t{1} << comp.prec) - 1;
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, max));
    }
    std::uint8_t Byte(std::uint32_t x, std::uint32_t y) const { return Scale(Raw(x, y), 8); }
    std::uint16_t Word(std::uint32_t x, std::uint32_t y) const { return Scale(Raw(x, y), 16); }

    std::uint32_t Scale(std::uint32_t v, std::uint32_t bits) const {
        if (comp.prec == bits) return v;
        if (comp.prec > bits) return v >> (comp.prec - bits);
        const std::uint64_t from = (std::uint64_t{1} << comp.prec) - 1, to = (std::uint64_t{1} << bits) - 1;
        return static_cast<std::uint32_t>((v * to + from / 2) / from);
    }
};

bool ComponentsUsable(const opj_image_t& image) {
    if (image.numcomps == 0 || !image.comps) return false;
    for (std::uint32_t i = 0; i < image.numcomps; ++i) {
        const opj_image_comp_t& c = image.comps[i];
        if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec == 0 || c.prec > 31) return false;
    }
    return true;
}

// CIE Lab is marked by OpenJPEG as a colour "profile" of length 0 holding enumcs 14.
bool IsLab(const opj_image_t& image) {
    if (!image.icc_profile_buf || image.icc_profile_len != 0) return false;
    std::uint32_t enumcs;
    std::memcpy(&enumcs, image.icc_profile_buf, sizeof enumcs);
    return enumcs == 14;
}

bool IsYCbCr(const opj_image_t& image) {
    if (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC) return true;
    // A codestream has no colour space; subsampled chroma means YCbCr.
    return image.color_space != OPJ_CLRSPC_SRGB && image.numcomps == 3 && image.comps[0].dx == 1 &&
           image.comps[0].dy == 1 && (image.comps[1].dx != 1 || image.comps[1].dy != 1);
}

std::int32_t Decode(const char* fileName, TImageContainer* out) {
    Kind kind;
    if (Sniff(fileName, kind) != 0) return PICTORIX_PLUGIN_CANNOT_OPEN;
    if (kind == Kind::Unknown) return PICTORIX_PLUGIN_BAD_DATA;

    Stream stream(opj_stream_create_default_file_stream(fileName, OPJ_TRUE));
    if (!stream) return PICTORIX_PLUGIN_CANNOT_OPEN;
    Codec codec(opj_create_decompress(kind == Kind::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec) return PICTORIX_PLUGIN_BAD_DATA;
    Silence(codec.get());
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return PICTORIX_PLUGIN_BAD_DATA;

    opj_image_t* header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header)) return PICTORIX_PLUGIN_BAD_DATA;
    Image image(header);
    if (!image || image->x1 <= image->x0 || image->y1 <= image->y0) return PICTORIX_PLUGIN_BAD_DATA;
    const std::uint32_t w = image->x1 - image->x0, h = image->y1 - image->y0;
    if (w > kMaxDimension || h > kMaxDimension || std::uint64_t{w} * h > kMaxPixels)
        return PICTORIX_PLUGIN_BAD_DATA;
    if (image->numcomps == 0 || image->numcomps > 15) return PICTORIX_PLUGIN_BAD_PIXEL_FORMAT;

    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        return PICTORIX_PLUGIN_BAD_DATA;
    if (!ComponentsUsable(*image)) return PICTORIX_PLUGIN_BAD_DATA;

    const std::uint32_t n = image->numcomps;
    const std::size_t pixels = std::size_t{w} * h;
    auto sampler = [&](std::uint32_t k) { return Sampler{image->comps[k], image->x0, image->y0}; };

    if (n <= 2) {
        // Grey, or grey with alpha, of which the grey is delivered.
        const Sampler grey = sampler(0);
        const bool wide = grey.comp.prec > 8;
        auto* data = static_cast<std::uint8_t*>(std::malloc(pixels * (wide ? 2 : 1)));
        if (!data) return PICTORIX_PLUGIN_BAD_DATA;
        std::uint8_t* p = data;
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                if (wide) {
                    const std::uint16_t v = grey.Word(x, y);
                    *p++ = static_cast<std::uint8_t>(v & 0xFF);
                    *p++ = static_cast<std::uint8_t>(v >> 8);
                } else {
                    *p++ = grey.Byte(x, y);
                }
            }
        out->PixelFormat = wide ? 33 : 1;
        out->Pixels = data;
    } else if (n == 3) {
        const Sampler c0 = sampler(0), c1 = sampler(1), c2 = sampler(2);
        auto* data = static_cast<std::uint8_t*>(std::malloc(pixels * 3));
        if (!data) return PICTORIX_PLUGIN_BAD_DATA;
        std::uint8_t* p = data;
        // The first component (R, Y or L) goes last: pixels are stored B, G, R.
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                *p++ = c2.Byte(x, y);
                *p++ = c1.Byte(x, y);
                *p++ = c0.Byte(x, y);
            }
        out->PixelFormat = 3;
        out->Pixels = data;
        if (IsLab(*image)) out->Options = "Lab";
        else if (IsYCbCr(*image)) out->Options = "YCbCr";
    } else {
        // More channels than a picture here can show: delivered as planes, so that
        // the count reaches the program.
        auto* data = static_cast<std::uint8_t*>(std::malloc(pixels * n));
        if (!data) return PICTORIX_PLUGIN_BAD_DATA;
        std::uint8_t* p = data;
        for (std::uint32_t k = 0; k < n; ++k) {
            const Sampler plane = sampler(k);
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x) *p++ = plane.Byte(x, y);
        }
        out->PixelFormat = static_cast<std::int32_t>(0x10 + n);
        out->Pixels = data;
    }
    out->Width = static_cast<std::int32_t>(w);
    out->Height = static_cast<std::int32_t>(h);
    out->BytesPerLine = 0;
    out->Palette = nullptr;
    return PICTORIX_PLUGIN_OK;
}

// --- Writing ------------------------------------------------------------------------

// The rate of "rate=R" among the option words (separated by spaces, "," or ";");
// 0 for lossless. False for a rate that is not a positive number.
bool ParseRate(const char* options, double& rate) {
    rate = 0;
    if (!options) return true;
    const std::string text(options);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" ,;", at), text.size());
        const std::string word = text.substr(at, end - at);
        at = end + 1;
        if (word.compare(0, 5, "rate=") != 0) continue;
        const char* value = word.c_str() + 5;
        char* stop = nullptr;
        errno = 0;
        const double r = std::strtod(value, &stop);
        if (stop == value || *stop != '\0' || errno != 0 || !std::isfinite(r) || r <= 0) return false;
        rate = r >= 1 ? 0 : r;
    }
    return true;
}

// A file stream whose closing is checked: a full disk shows up at fclose.
struct FileWriter {
    std::FILE* file = nullptr;

    static OPJ_SIZE_T Write(void* buffer, OPJ_SIZE_T n, void* self) {
        return std::fwrite(buffer, 1, n, static_cast<FileWriter*>(self)->file);
    }
    static OPJ_OFF_T Skip(OPJ_OFF_T n, void* self) {
        return fseeko(static_cast<FileWriter*>(self)->file, n, SEEK_CUR) == 0 ? n : -1;
    }
    static OPJ_BOOL Seek(OPJ_OFF_T to, void* self) {
        return fseeko(static_cast<FileWriter*>(self)->file, to, SEEK_SET) == 0 ? OPJ_TRUE : OPJ_FALSE;
    }
};

int Resolutions(std::uint32_t w, std::uint32_t h) {
    // Every resolution level halves the smallest side; it must stay at least 1.
    int levels = 1;
    for (std::uint32_t side = std::min(w, h); side >= 2 && levels < 6; side /= 2) ++levels;
    return levels;
}

std::int32_t Encode(const char* fileName, const char* extension, const TImageContainer* in) {
    if (!in || in->Width <= 0 || in->Height <= 0 || !in->Pixels) return PICTORIX_PLUGIN_BAD_DATA;
    if (in->PixelFormat != 1 && in->PixelFormat != 3) return PICTORIX_PLUGIN_BAD_PIXEL_FORMAT;
    const std::uint32_t w = static_cast<std::uint32_t>(in->Width), h = static_cast<std::uint32_t>(in->Height);
    if (w > kMaxDimension || h > kMaxDimension || std::uint64_t{w} * h > kMaxPixels) return PICTORIX_PLUGIN_BAD_DATA;
    const std::uint32_t bytesPerPixel = in->PixelFormat == 1 ? 1 : 3;
    if (in->BytesPerLine < 0 || static_cast<std::uint32_t>(in->BytesPerLine) < w * bytesPerPixel)
        return PICTORIX_PLUGIN_BAD_DATA;
    const std::size_t stride = static_cast<std::size_t>(in->BytesPerLine);
    double rate;
    if (!ParseRate(in->Options, rate)) return kBadOptions;

    // A palette picture whose colours in use are all grey is written as greyscale.
    std::uint8_t ramp[256 * 3];
    const std::uint8_t* palette = in->Palette;
    if (bytesPerPixel == 1 && !palette) {
        for (int i = 0; i < 256; ++i) ramp[3 * i] = ramp[3 * i + 1] = ramp[3 * i + 2] = static_cast<std::uint8_t>(i);
        palette = ramp;
    }
    bool grey = bytesPerPixel == 1;
    for (std::uint32_t y = 0; grey && y < h; ++y) {
        const std::uint8_t* row = in->Pixels + y * stride;
        for (std::uint32_t x = 0; grey && x < w; ++x) {
            const std::uint8_t* e = palette + 3 * row[x];
            grey = e[0] == e[1] && e[1] == e[2];
        }
    }

    const std::uint32_t n = grey ? 1 : 3;
    opj_image_cmptparm_t parameters[3];
    std::memset(parameters, 0, sizeof parameters);
    for (std::uint32_t k = 0; k < n; ++k) {
        parameters[k].dx = parameters[k].dy = 1;
        parameters[k].w = w;
        parameters[k].h = h;
        parameters[k].prec = 8;
    }
    Image image(opj_image_create(n, parameters, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
    if (!image) return PICTORIX_PLUGIN_BAD_DATA;
    image->x0 = image->y0 = 0;
    image->x1 = w;
    image->y1 = h;
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint8_t* row = in->Pixels + y * stride;
        const std::size_t at = std::size_t{y} * w;
        for (std::uint32_t x = 0; x < w; ++x) {
            // Palette entries and pixels are both blue, green, red.
            const std::uint8_t* bgr = bytesPerPixel == 1 ? palette + 3 * row[x] : row + 3 * x;
            if (grey) {
                image->comps[0].data[at + x] = bgr[0];
            } else {
                image->comps[0].data[at + x] = bgr[2];
                image->comps[1].data[at + x] = bgr[1];
                image->comps[2].data[at + x] = bgr[0];
            }
        }
    }

    opj_cparameters_t options;
    opj_set_default_encoder_parameters(&options);
    options.tcp_numlayers = 1;
    options.cp_disto_alloc = 1;
    options.tcp_rates[0] = rate > 0 ? static_cast<float>(1.0 / rate) : 0.0f;  // 0: lossless
    options.irreversible = rate > 0 ? 1 : 0;
    options.tcp_mct = n == 3 ? 1 : 0;
    options.numresolution = Resolutions(w, h);

    const bool codestream = SameText(extension, "J2K") || SameText(extension, "JPC") || SameText(extension, "J2C");
    Codec codec(opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!codec) return PICTORIX_PLUGIN_BAD_DATA;
    Silence(codec.get());
    if (!opj_setup_encoder(codec.get(), &options, image.get())) return PICTORIX_PLUGIN_BAD_DATA;

    FileWriter writer;
    writer.file = std::fopen(fileName, "wb");
    if (!writer.file) return PICTORIX_PLUGIN_CANNOT_OPEN;
    bool ok;
    {
        Stream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
        ok = stream != nullptr;
        if (ok) {
            opj_stream_set_user_data(stream.get(), &writer, nullptr);
            opj_stream_set_write_function(stream.get(), FileWriter::Write);
            opj_stream_set_skip_function(stream.get(), FileWriter::Skip);
            opj_stream_set_seek_function(stream.get(), FileWriter::Seek);
            ok = opj_start_compress(codec.get(), image.get(), stream.get()) && opj_encode(codec.get(), stream.get()) &&
                 opj_end_compress(codec.get(), stream.get());
        }
    }
    const bool closed = std::fclose(writer.file) == 0;
    if (!ok || !closed) {
        std::remove(fileName);
        return ok ? PICTORIX_PLUGIN_CANNOT_CLOSE : PICTORIX_PLUGIN_BAD_DATA;
    }
    return PICTORIX_PLUGIN_OK;
}

}  // namespace

// Exceptions (only std::bad_alloc can arise) must not cross the C interface.
extern "C" {

PICTORIX_PLUGIN_EXPORT std::int32_t LibLoadImage(const char* fileName, const char*, TImageContainer* image) {
    if (!fileName || !image) return PICTORIX_PLUGIN_BAD_DATA;
    try {
        return Decode(fileName, image);
    } catch (...) {
        return PICTORIX_PLUGIN_BAD_DATA;
    }
}

PICTORIX_PLUGIN_EXPORT std::int32_t LibSaveImage(const char* fileName, const char* extension, TImageContainer* image) {
    if (!fileName) return PICTORIX_PLUGIN_CANNOT_OPEN;
    try {
        return Encode(fileName, extension, image);
    } catch (...) {
        return PICTORIX_PLUGIN_BAD_DATA;
    }
}

PICTORIX_PLUGIN_EXPORT std::int32_t LibFreeImage(TImageContainer* image) {
    if (!image) return 0;
    std::free(image->Pixels);
    std::free(image->Palette);
    image->Pixels = nullptr;
    image->Palette = nullptr;
    return 0;
}

PICTORIX_PLUGIN_EXPORT const char* LibGetLoadFilter() { return kLoadFilter; }

PICTORIX_PLUGIN_EXPORT const char* LibGetSaveFilter() { return kSaveFilter; }

}  // extern "C"
