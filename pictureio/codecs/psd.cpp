#include "pictureio/codecs/psd.h"

#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::psd {

namespace {

bool HasSignature(ByteSpan b) {
    const char* want = "8BPS";
    for (int i = 0; i < 4; ++i) {
        std::uint8_t c = b[static_cast<std::size_t>(i)];
        if (c >= 'a' && c <= 'z') c = static_cast<std::uint8_t>(c - 'a' + 'A');
        if (c != static_cast<std::uint8_t>(want[i])) return false;
    }
    return true;
}

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    return HasSignature(header) && ReadBE16(header, 4) == 1;
}

namespace {

constexpr std::size_t kHeaderSize = 26;

[[noreturn]] void Fail(const std::string& cause) { throw Error("PSD: " + cause); }

enum Mode : unsigned { kBitmap = 0, kGrey = 1, kIndexed = 2, kRgb = 3, kCmyk = 4, kDuotone = 8 };

struct Layout {
    unsigned channels = 0;        // channels stored in the merged picture
    unsigned colourChannels = 0;  // of these, the ones that make the colour
    int width = 0;
    int height = 0;
    unsigned depth = 0;  // bits per sample: 1, 8 or 16
    unsigned mode = 0;
    std::size_t rowBytes = 0;
    Palette palette;            // indexed mode
    bool transparency = false;  // the first channel after the colour channels
};

// Skips one length-prefixed section at `pos` and returns where it ends.
std::size_t SkipSection(ByteSpan file, std::size_t pos, const char* what) {
    if (file.size() - pos < 4) Fail("file is truncated (" + std::string(what) + ")");
    const std::uint64_t length = ReadBE32(file, pos);
    if (length > file.size() - pos - 4) Fail(std::string(what) + " go past the end of the file");
    return pos + 4 + static_cast<std::size_t>(length);
}

Layout ParseHeader(ByteSpan file, std::size_t& pos) {
    if (file.size() < kHeaderSize) Fail("file is truncated");
    if (!HasSignature(file)) Fail("not a Photoshop file (no 8BPS signature)");
    const unsigned version = ReadBE16(file, 4);
    if (version != 1) Fail("version " + std::to_string(version) + " is not supported");
    Layout l;
    l.channels = ReadBE16(file, 12);
    const std::uint32_t height = ReadBE32(file, 14);
    const std::uint32_t width = ReadBE32(file, 18);
    l.depth = ReadBE16(file, 22);
    l.mode = ReadBE16(file, 24);
    switch (l.mode) {
        case kBitmap:
            if (l.depth != 1) Fail("a bitmap-mode picture must have 1 bit per sample");
            l.colourChannels = 1;
            break;
        case kGrey:
        case kDuotone:
        case kIndexed:
            l.colourChannels = 1;
            break;
        case kRgb:
            l.colourChannels = 3;
            break;
        case kCmyk:
            l.colourChannels = 4;
            break;
        default:
            Fail("colour mode " + std::to_string(l.mode) + " is not supported");
    }
    if (l.mode != kBitmap && l.depth != 8 && (l.depth != 16 || l.mode == kIndexed))
        Fail(std::to_string(l.depth) + " bits per sample are not supported");
    if (l.channels < l.colourChannels)
        Fail(std::to_string(l.channels) + " channels are too few for colour mode " + std::to_string(l.mode));
    if (width == 0 || height == 0) Fail("the picture has no pixels");
    CheckPictureSize(width, height, "PSD");
    l.width = static_cast<int>(width);
    l.height = static_cast<int>(height);
    l.rowBytes = l.depth == 1 ? (std::size_t(width) + 7) / 8 : std::size_t(width) * (l.depth / 8);

    pos = kHeaderSize;
    const std::size_t colourData = pos + 4;
    pos = SkipSection(file, pos, "colour mode data");
    if (l.mode == kIndexed) {
        if (pos - colourData < 768) Fail("an indexed picture has no 256-colour table");
        for (std::size_t i = 0; i < 256; ++i)
            l.palette.push_back(RGB(file[colourData + i], file[colourData + 256 + i], file[colourData + 512 + i]));
    }
    pos = SkipSection(file, pos, "image resources");
    const std::size_t layers = pos + 4;
    pos = SkipSection(file, pos, "layers and masks");
    // A negative layer count says that the first extra channel is the merged picture's
    // transparency; otherwise extra channels are saved selections and masks.
    if (pos - layers >= 6 && ReadBE32(file, layers) >= 2 && l.channels > l.colourChannels && l.mode != kBitmap &&
        l.mode != kIndexed)
        l.transparency = static_cast<std::int16_t>(ReadBE16(file, layers + 4)) < 0;
    return l;
}

// PackBits: a header byte n < 128 copies n + 1 bytes, n > 128 repeats the next byte
// 257 - n times, 128 does nothing.
void UnpackBits(ByteSpan in, std::uint8_t* out, std::size_t size, std::size_t row) {
    std::size_t p = 0, o = 0;
    while (o < size) {
        if (p >= in.size()) Fail("compressed row " + std::to_string(row) + " ends before its last pixel");
        const unsigned n = in[p++];
        if (n == 128) continue;
        if (n < 128) {
            const std::size_t count = n + 1;
            if (count > size - o) Fail("a run goes past the end of row " + std::to_string(row));
            if (count > in.size() - p) Fail("compressed row " + std::to_string(row) + " is truncated");
            for (std::size_t k = 0; k < count; ++k) out[o++] = in[p++];
        } else {
            const std::size_t count = 257 - n;
            if (count > size - o) Fail("a run goes past the end of row " + std::to_string(row));
            if (p >= in.size()) Fail("compressed row " + std::to_string(row) + " is truncated");
            const std::uint8_t v = in[p++];
            for (std::size_t k = 0; k < count; ++k) out[o++] = v;
        }
    }
}

// The stored bytes of each colour channel's rows, raw or run-length encoded.
class Planes {
public:
    Planes(ByteSpan file, std::size_t pos, const Layout& l) : file_(file), l_(l) {
        if (file.size() - pos < 2) Fail("file is truncated (merged picture)");
        const unsigned compression = ReadBE16(file, pos);
        pos += 2;
        const std::uint64_t rows = std::uint64_t(l.height) * (l.colourChannels + (l.transparency ? 1 : 0));
        if (compression == 0) {
            if (std::uint64_t(l.rowBytes) * rows > file.size() - pos) Fail("file is truncated (merged picture)");
            start_ = pos;
            return;
        }
        if (compression == 2 || compression == 3) Fail("ZIP-compressed pictures are not supported");
        if (compression != 1) Fail("compression " + std::to_string(compression) + " is unknown");
        rle_ = true;
        // The count table lists every stored channel; only the ones used are read.
        const std::uint64_t tableSize = std::uint64_t(l.height) * l.channels * 2;
        if (tableSize > file.size() - pos) Fail("file is truncated (row byte counts)");
        std::uint64_t at = pos + tableSize;
        rowStart_.resize(static_cast<std::size_t>(rows));
        rowLength_.resize(static_cast<std::size_t>(rows));
        for (std::size_t i = 0; i < rows; ++i) {
            const std::size_t count = ReadBE16(file, pos + 2 * i);
            // Two bytes give at most 128, so a shorter row cannot be filled: refusing it
            // here keeps the allocation within what the file can hold.
            if (l.rowBytes > std::uint64_t(count) * 64)
                Fail("compressed row " + std::to_string(i) + " is too short for the picture's width");
            if (count > file.size() - at) Fail("file is truncated (merged picture)");
            rowStart_[i] = static_cast<std::size_t>(at);
            rowLength_[i] = count;
            at += count;
        }
        buffer_.resize(l.rowBytes);
    }

    // The row bytes of colour channel `channel`, row `y`.
    const std::uint8_t* row(unsigned channel, int y) {
        const std::size_t i = std::size_t(channel) * static_cast<std::size_t>(l_.height) + static_cast<std::size_t>(y);
        if (!rle_) return file_.data() + start_ + i * l_.rowBytes;
        UnpackBits(file_.subspan(rowStart_[i], rowLength_[i]), buffer_.data(), l_.rowBytes, i);
        return buffer_.data();
    }

private:
    ByteSpan file_;
    const Layout& l_;
    bool rle_ = false;
    std::size_t start_ = 0;
    std::vector<std::size_t> rowStart_;
    std::vector<std::size_t> rowLength_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    std::size_t pos = 0;
    Layout l = ParseHeader(file, pos);
    Planes planes(file, pos, l);

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    const bool colour = l.mode == kRgb || l.mode == kCmyk;
    picture.reset(l.width, l.height, l.mode == kBitmap ? 1 : colour ? 24 : 8);
    if (l.mode == kBitmap)
        picture.setPalette(BlackWhitePalette());
    else if (l.mode == kIndexed)
        picture.setPalette(std::move(l.palette));
    else if (!colour)
        picture.setPalette(GreyPalette256());

    const bool wide = l.depth == 16;
    const std::uint32_t max = wide ? 65535 : 255;
    auto to8 = [&](std::uint32_t v) -> std::uint8_t { return static_cast<std::uint8_t>(wide ? (v + 128) / 257 : v); };
    const auto width = static_cast<std::size_t>(l.width);
    const unsigned used = l.colourChannels + (l.transparency ? 1 : 0);
    std::vector<std::vector<std::uint32_t>> samples(used, std::vector<std::uint32_t>(width));
    for (int y = 0; y < l.height; ++y) {
        std::uint8_t* dst = picture.row(y);
        if (l.mode == kBitmap) {
            const std::uint8_t* src = planes.row(0, y);
            for (std::size_t i = 0; i < l.rowBytes; ++i) dst[i] = static_cast<std::uint8_t>(~src[i]);
            if (width % 8) dst[l.rowBytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (width % 8));
            continue;
        }
        for (unsigned c = 0; c < used; ++c) {
            const std::uint8_t* src = planes.row(c, y);
            for (std::size_t x = 0; x < width; ++x)
                samples[c][x] = wide ? ReadBE16(ByteSpan(src, l.rowBytes), 2 * x) : src[x];
        }
        // Photoshop mattes the merged picture against white where it is partly
        // transparent, so its colours stand as they are; only fully transparent pixels
        // (whose colours are often left over) become white.
        auto clear = [&](std::size_t x) { return l.transparency && samples[used - 1][x] == 0; };
        if (!colour) {
            for (std::size_t x = 0; x < width; ++x)
                dst[x] = clear(x)             ? 255
                         : l.mode == kIndexed ? static_cast<std::uint8_t>(samples[0][x])
                                              : to8(samples[0][x]);
            continue;
        }
        for (std::size_t x = 0; x < width; ++x) {
            if (clear(x)) {
                dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = 255;
                continue;
            }
            std::uint32_t r = samples[0][x], g = samples[1][x], b = samples[2][x];
            if (l.mode == kCmyk) {
                const std::uint32_t k = samples[3][x];
                const auto ink = [&](std::uint32_t v) {
                    return static_cast<std::uint32_t>((std::uint64_t(v) * k + max / 2) / max);
                };
                r = ink(r), g = ink(g), b = ink(b);
            }
            dst[3 * x] = to8(b);
            dst[3 * x + 1] = to8(g);
            dst[3 * x + 2] = to8(r);
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::psd
