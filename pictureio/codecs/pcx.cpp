#include "pictureio/codecs/pcx.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"

namespace pictorix::pcx {

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    if (header[0] != 10 && header[0] != 12) return false;
    const unsigned version = header[1];
    if (version != 0 && version != 2 && version != 3 && version != 5) return false;
    return header[2] == 0 || header[2] == 1;
}

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteBlockSize = 1 + 768;

[[noreturn]] void Fail(const std::string& cause) { throw Error("PCX: " + cause); }

// Colours of the 16-colour palette stored at offset 16 (red, green, blue).
Palette HeaderPalette(ByteSpan file, std::size_t entries) {
    Palette p(entries);
    for (std::size_t i = 0; i < entries; ++i) p[i] = RGB(file[16 + 3 * i], file[17 + 3 * i], file[18 + 3 * i]);
    return p;
}

// The colours that PC Paintbrush shows when a file gives no palette.
const Palette& EgaPalette() {
    static const Palette p{
        RGB(0x00, 0x00, 0x00), RGB(0x00, 0x00, 0xAA), RGB(0x00, 0xAA, 0x00), RGB(0x00, 0xAA, 0xAA),
        RGB(0xAA, 0x00, 0x00), RGB(0xAA, 0x00, 0xAA), RGB(0xAA, 0x55, 0x00), RGB(0xAA, 0xAA, 0xAA),
        RGB(0x55, 0x55, 0x55), RGB(0x55, 0x55, 0xFF), RGB(0x55, 0xFF, 0x55), RGB(0x55, 0xFF, 0xFF),
        RGB(0xFF, 0x55, 0x55), RGB(0xFF, 0x55, 0xFF), RGB(0xFF, 0xFF, 0x55), RGB(0xFF, 0xFF, 0xFF),
    };
    return p;
}

// Hands out the decoded bytes of the picture data one line at a time. A run may
// continue from one line into the next.
class LineReader {
   public:
    LineReader(ByteSpan data, bool rle) : data_(data), rle_(rle) {}

    // Fills `line` with the next n bytes, or only skips them when `line` is null.
    void next(std::uint8_t* line, std::size_t n) {
        if (!rle_) {
            if (data_.size() - at_ < n) Fail("file is truncated");
            if (line) std::copy_n(data_.data() + at_, n, line);
            at_ += n;
            return;
        }
        for (std::size_t i = 0; i < n;) {
            if (runLeft_ == 0) {
                if (at_ >= data_.size()) Fail("file is truncated");
                const std::uint8_t b = data_[at_++];
                if (b < 0xC0) {
                    runValue_ = b;
                    runLeft_ = 1;
                } else {
                    if (at_ >= data_.size()) Fail("file is truncated");
                    runValue_ = data_[at_++];
                    runLeft_ = b - 0xC0u;
                    continue;  // a count of 0 gives nothing
                }
            }
            const std::size_t k = std::min<std::size_t>(runLeft_, n - i);
            if (line) std::fill_n(line + i, k, runValue_);
            i += k;
            runLeft_ -= static_cast<unsigned>(k);
        }
    }

    // Position after the data used so far.
    std::size_t position() const { return at_; }

   private:
    ByteSpan data_;
    bool rle_;
    std::size_t at_ = 0;
    unsigned runLeft_ = 0;
    std::uint8_t runValue_ = 0;
};

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < kHeaderSize) Fail("file is truncated");
    if (file[0] != 10 && file[0] != 12) Fail("not a PCX file (manufacturer " + std::to_string(file[0]) + ")");
    const unsigned encoding = file[2];
    if (encoding > 1) Fail("encoding " + std::to_string(encoding) + " is not supported");
    const unsigned bits = file[3];
    const unsigned xmin = ReadLE16(file, 4), ymin = ReadLE16(file, 6);
    const unsigned xmax = ReadLE16(file, 8), ymax = ReadLE16(file, 10);
    const unsigned planes = file[65];
    const std::size_t bytesPerLine = ReadLE16(file, 66);

    const bool supported = (bits == 1 && planes >= 1 && planes <= 4) || (bits == 2 && planes == 1) ||
                           (bits == 4 && planes == 1) || (bits == 8 && (planes == 1 || planes == 3 || planes == 4));
    if (!supported)
        Fail(std::to_string(bits) + " bits per pixel in " + std::to_string(planes) + " planes are not supported");
    if (xmax < xmin || ymax < ymin) Fail("the picture has no pixels");
    const int width = static_cast<int>(xmax - xmin + 1);
    const int height = static_cast<int>(ymax - ymin + 1);
    CheckPictureSize(width, height, "PCX");
    if (bytesPerLine < (std::size_t(width) * bits + 7) / 8)
        Fail("bytes per line (" + std::to_string(bytesPerLine) + ") are too few for the width " +
             std::to_string(width));

    // An 8-bit picture's palette block closes the file; the picture data end before it.
    std::size_t dataEnd = file.size();
    const bool paletteBlock = bits == 8 && planes == 1 && file.size() >= kHeaderSize + kPaletteBlockSize &&
                              file[file.size() - kPaletteBlockSize] == 12;
    if (paletteBlock) dataEnd -= kPaletteBlockSize;

    // The data are walked once without a picture, so that a header cannot make us
    // allocate more than the file can fill.
    const ByteSpan data = file.subspan(kHeaderSize, dataEnd - kHeaderSize);
    const std::size_t lineSize = bytesPerLine * planes;
    {
        LineReader check(data, encoding == 1);
        for (int y = 0; y < height; ++y) check.next(nullptr, lineSize);
        dataEnd = kHeaderSize + check.position();
    }

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(width, height, bits == 8 ? (planes == 1 ? 8 : 24) : bits == 1 && planes == 1 ? 1 : 4);
    if (bits == 8 && planes == 1) {
        if (paletteBlock) {
            Palette p(256);
            const std::size_t at = file.size() - 768;
            for (std::size_t i = 0; i < 256; ++i)
                p[i] = RGB(file[at + 3 * i], file[at + 3 * i + 1], file[at + 3 * i + 2]);
            picture.setPalette(std::move(p));
        } else {
            picture.setPalette(GreyPalette256());
        }
    } else if (bits == 1 && planes == 1) {
        // Some writers give the two colours only in a palette block after the data.
        Palette p = HeaderPalette(file, 2);
        if (p[0] == p[1] && file.size() >= kPaletteBlockSize && dataEnd <= file.size() - kPaletteBlockSize &&
            file[file.size() - kPaletteBlockSize] == 12) {
            const std::size_t at = file.size() - 768;
            p = {RGB(file[at], file[at + 1], file[at + 2]), RGB(file[at + 3], file[at + 4], file[at + 5])};
        }
        picture.setPalette(p[0] != p[1] ? p : BlackWhitePalette());
    } else if (bits != 8) {
        const bool none = std::all_of(file.begin() + 16, file.begin() + 64, [](std::uint8_t b) { return b == 0; });
        picture.setPalette(none ? EgaPalette() : HeaderPalette(file, 16));
    }

    LineReader lines(data, encoding == 1);
    std::vector<std::uint8_t> line(lineSize);
    for (int y = 0; y < height; ++y) {
        lines.next(line.data(), lineSize);
        std::uint8_t* row = picture.row(y);
        const std::uint8_t* l = line.data();
        const auto w = static_cast<std::size_t>(width);
        if (bits == 8 && planes == 1) {
            std::copy_n(l, w, row);
        } else if (bits == 8) {
            for (std::size_t x = 0; x < w; ++x) {
                row[3 * x] = l[2 * bytesPerLine + x];
                row[3 * x + 1] = l[bytesPerLine + x];
                row[3 * x + 2] = l[x];
            }
        } else if (bits == 1 && planes == 1) {
            std::copy_n(l, (w + 7) / 8, row);
        } else if (bits == 4) {
            std::copy_n(l, (w + 1) / 2, row);
        } else {
            std::fill_n(row, (w + 1) / 2, std::uint8_t{0});
            for (std::size_t x = 0; x < w; ++x) {
                unsigned index = 0;
                if (bits == 2) {
                    index = l[x / 4] >> (6 - 2 * (x % 4)) & 3u;
                } else {
                    for (unsigned p = 0; p < planes; ++p)
                        index |= (l[p * bytesPerLine + x / 8] >> (7 - x % 8) & 1u) << p;
                }
                row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? index : index << 4);
            }
        }
    }
    out = std::move(picture);
}


void EncodeRow(const std::uint8_t* bytes, std::size_t count, ByteVector& out) {
    for (std::size_t i = 0; i < count;) {
        const std::uint8_t value = bytes[i];
        std::size_t run = 1;
        while (run < 63 && i + run < count && bytes[i + run] == value) ++run;
        if (run > 1 || value >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 + run));
        out.push_back(value);
        i += run;
    }
}

ByteVector Write(const Bitmap& bitmap) {
    if (bitmap.empty()) throw Error("The bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    if (width > 0xFFFF || height > 0xFFFF)
        throw Error("PCX: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is too large for a PCX file");

    const int bpp = bitmap.bitsPerPixel();
    const bool indexed = bpp == 1 || bpp == 8;
    const unsigned bitsPerPlane = bpp == 1 ? 1 : 8;
    const unsigned planes = indexed ? 1 : 3;
    const std::size_t bytesPerLine = bpp == 1 ? (std::size_t(width) + 7) / 8 : std::size_t(width);

    ByteVector out;
    out.reserve(128 + std::size_t(height) * bytesPerLine * planes + 769);
    out.push_back(10);  // manufacturer
    out.push_back(5);   // version
    out.push_back(1);   // run-length encoding
    out.push_back(static_cast<std::uint8_t>(bitsPerPlane));
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, unsigned(width - 1));
    PutLE16(out, unsigned(height - 1));
    PutLE16(out, 72);
    PutLE16(out, 72);
    out.insert(out.end(), 48, 0);  // 16-colour palette
    out.push_back(0);              // reserved
    out.push_back(static_cast<std::uint8_t>(planes));
    PutLE16(out, unsigned(bytesPerLine));
    PutLE16(out, 1);  // palette information
    out.insert(out.end(), 58, 0);

    if (indexed) {
        for (int y = 0; y < height; ++y) EncodeRow(bitmap.row(y), bytesPerLine, out);
        out.push_back(12);
        const Palette& palette = bitmap.palette();
        const std::size_t entries = std::min(palette.size(), std::size_t{1} << bpp);
        for (std::size_t i = 0; i < 256; ++i) {
            const Color c = i < entries ? palette[i] : kBlack;
            out.push_back(static_cast<std::uint8_t>(GetR(c)));
            out.push_back(static_cast<std::uint8_t>(GetG(c)));
            out.push_back(static_cast<std::uint8_t>(GetB(c)));
        }
        return out;
    }

    std::optional<Bitmap> converted;
    const Bitmap* rgb = &bitmap;
    if (bpp != 24) {
        converted.emplace(bitmap);
        converted->setBitsPerPixel(24);
        rgb = &*converted;
    }
    std::vector<std::uint8_t> plane(bytesPerLine);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb->row(y);
        for (int channel = 2; channel >= 0; --channel) {  // red, green, blue of B,G,R pixels
            for (int x = 0; x < width; ++x) plane[std::size_t(x)] = row[3 * std::size_t(x) + std::size_t(channel)];
            EncodeRow(plane.data(), plane.size(), out);
        }
    }
    return out;
}

}  // namespace pictorix::pcx
