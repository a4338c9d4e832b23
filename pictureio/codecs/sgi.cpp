#include "pictureio/codecs/sgi.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::sgi {

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    if (ReadBE16(header, 0) != 474) return false;
    if (header[3] != 1 && header[3] != 2) return false;
    const unsigned dimension = ReadBE16(header, 4);
    return dimension >= 1 && dimension <= 3;
}

namespace {

constexpr std::size_t kHeaderSize = 512;

[[noreturn]] void Fail(const std::string& cause) { throw Error("SGI: " + cause); }

struct Layout {
    bool rle = false;
    unsigned bytesPerSample = 1;  // 1 or 2
    int width = 0;
    int height = 0;
    int channels = 0;
};

Layout ParseHeader(ByteSpan file) {
    if (file.size() < kHeaderSize) Fail("file is truncated");
    if (ReadBE16(file, 0) != 474) Fail("not an SGI file (magic number is not 474)");
    Layout l;
    if (file[2] > 1) Fail("storage type " + std::to_string(file[2]) + " is unknown");
    l.rle = file[2] == 1;
    l.bytesPerSample = file[3];
    if (l.bytesPerSample != 1 && l.bytesPerSample != 2)
        Fail(std::to_string(l.bytesPerSample) + " bytes per channel are not supported");
    const unsigned dimension = ReadBE16(file, 4);
    if (dimension < 1 || dimension > 3) Fail("dimension " + std::to_string(dimension) + " is unknown");
    l.width = ReadBE16(file, 6);
    l.height = dimension == 1 ? 1 : ReadBE16(file, 8);
    l.channels = dimension == 3 ? ReadBE16(file, 10) : 1;
    if (l.width == 0 || l.height == 0 || l.channels == 0) Fail("the picture has no pixels");
    if (l.channels > 4) Fail(std::to_string(l.channels) + " channels are not supported");
    CheckPictureSize(l.width, l.height, "SGI");
    return l;
}

// Where the samples of each row come from. Row index i = y + channel * height, y
// counted from the bottom, as the run-length tables order them.
class RowSource {
public:
    RowSource(ByteSpan file, const Layout& l) : file_(file), l_(l), rows_(std::size_t(l.height) * l.channels) {
        if (l.rle) {
            const std::uint64_t tableEnd = kHeaderSize + std::uint64_t(rows_) * 8;
            if (tableEnd > file.size()) Fail("file is truncated (run-length tables)");
            starts_.resize(rows_);
            lengths_.resize(rows_);
            for (std::size_t i = 0; i < rows_; ++i) {
                const std::uint64_t start = ReadBE32(file, kHeaderSize + 4 * i);
                const std::uint64_t length = ReadBE32(file, kHeaderSize + 4 * (rows_ + i));
                if (start < tableEnd || start + length > file.size())
                    Fail("run-length row " + std::to_string(i) + " lies outside the file");
                starts_[i] = static_cast<std::size_t>(start);
                lengths_[i] = static_cast<std::size_t>(length);
            }
        } else {
            const std::uint64_t size = std::uint64_t(l.width) * rows_ * l.bytesPerSample;
            if (kHeaderSize + size > file.size()) Fail("file is truncated");
        }
    }

    // Decodes row i into `samples` (width values).
    void row(std::size_t i, std::vector<std::uint16_t>& samples) const {
        const std::size_t width = static_cast<std::size_t>(l_.width);
        samples.resize(width);
        const unsigned bps = l_.bytesPerSample;
        auto sampleAt = [&](std::size_t at) -> std::uint16_t { return bps == 1 ? file_[at] : ReadBE16(file_, at); };
        if (!l_.rle) {
            std::size_t at = kHeaderSize + i * width * bps;
            for (std::size_t x = 0; x < width; ++x, at += bps) samples[x] = sampleAt(at);
            return;
        }
        std::size_t p = starts_[i];
        const std::size_t end = p + lengths_[i];
        std::size_t x = 0;
        // Each unit (a byte, or a 16-bit value for 2-byte samples) holds a count in
        // its low 7 bits; with the top bit set that many samples follow, else one
        // sample repeated that many times. A count of 0 ends the row.
        while (x < width) {
            if (end - p < bps) Fail("run-length row " + std::to_string(i) + " is truncated");
            const unsigned unit = sampleAt(p);
            p += bps;
            const std::size_t count = unit & 0x7F;
            if (count == 0) break;
            if (count > width - x) Fail("a run goes past the end of row " + std::to_string(i));
            if (unit & 0x80) {
                if ((end - p) / bps < count) Fail("run-length row " + std::to_string(i) + " is truncated");
                for (std::size_t k = 0; k < count; ++k, p += bps) samples[x++] = sampleAt(p);
            } else {
                if (end - p < bps) Fail("run-length row " + std::to_string(i) + " is truncated");
                const std::uint16_t v = sampleAt(p);
                p += bps;
                std::fill_n(samples.begin() + static_cast<std::ptrdiff_t>(x), count, v);
                x += count;
            }
        }
        if (x < width) Fail("run-length row " + std::to_string(i) + " ends before its last pixel");
    }

    std::size_t rows() const { return rows_; }

private:
    ByteSpan file_;
    const Layout& l_;
    std::size_t rows_;
    std::vector<std::size_t> starts_;
    std::vector<std::size_t> lengths_;
};

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    const Layout l = ParseHeader(file);
    const RowSource source(file, l);
    const bool grey = l.channels <= 2;
    const bool alpha = l.channels == 2 || l.channels == 4;
    const std::uint32_t max = l.bytesPerSample == 1 ? 255 : 65535;
    auto to8 = [&](std::uint32_t v) -> std::uint8_t {
        return static_cast<std::uint8_t>(max == 255 ? v : (v + 128) / 257);
    };
    auto onWhite = [&](std::uint32_t c, std::uint32_t a) -> std::uint32_t {
        return static_cast<std::uint32_t>((std::uint64_t(c) * a + std::uint64_t(max) * (max - a) + max / 2) / max);
    };

    std::vector<std::vector<std::uint16_t>> samples(static_cast<std::size_t>(l.channels));
    // Every row is decoded once before the allocation, so that a header cannot make
    // us allocate a picture that the file does not hold.
    if (l.rle)
        for (std::size_t i = 0; i < source.rows(); ++i) source.row(i, samples[0]);

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(l.width, l.height, grey ? 8 : 24);
    if (grey) picture.setPalette(GreyPalette256());

    const auto height = static_cast<std::size_t>(l.height);
    for (int y = 0; y < l.height; ++y) {
        for (int c = 0; c < l.channels; ++c)
            source.row(static_cast<std::size_t>(y) + std::size_t(c) * height, samples[static_cast<std::size_t>(c)]);
        std::uint8_t* dst = picture.row(l.height - 1 - y);
        for (int x = 0; x < l.width; ++x) {
            auto s = [&](int c) -> std::uint32_t {
                return samples[static_cast<std::size_t>(c)][static_cast<std::size_t>(x)];
            };
            if (grey) {
                dst[x] = to8(alpha ? onWhite(s(0), s(1)) : s(0));
            } else {
                std::uint32_t r = s(0), g = s(1), b = s(2);
                if (alpha) r = onWhite(r, s(3)), g = onWhite(g, s(3)), b = onWhite(b, s(3));
                dst[3 * x] = to8(b);
                dst[3 * x + 1] = to8(g);
                dst[3 * x + 2] = to8(r);
            }
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::sgi
