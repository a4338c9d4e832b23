#include "pictureio/codecs/pnm.h"

#include <string>
#include <utility>

#include "core/error.h"

namespace pictorix::pnm {

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    return header[0] == 'P' && header[1] >= '1' && header[1] <= '6';
}

namespace {

[[noreturn]] void Fail(const std::string& cause) { throw Error("PNM: " + cause); }

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

class Scanner {
public:
    explicit Scanner(ByteSpan file) : file_(file) {}

    std::size_t pos() const { return pos_; }
    std::size_t left() const { return file_.size() - pos_; }

    // Skips white space and comments; false at the end of the file.
    bool skipSpace() {
        while (pos_ < file_.size()) {
            const std::uint8_t c = file_[pos_];
            if (c == '#') {
                while (pos_ < file_.size() && file_[pos_] != '\n' && file_[pos_] != '\r') ++pos_;
            } else if (IsSpace(c)) {
                ++pos_;
            } else {
                return true;
            }
        }
        return false;
    }

    // A decimal number after optional white space and comments, at most `limit`.
    std::uint32_t number(std::uint32_t limit, const char* what) {
        if (!skipSpace()) Fail("file is truncated");
        if (!IsDigit(file_[pos_])) Fail(std::string("the ") + what + " is not a number");
        std::uint64_t v = 0;
        while (pos_ < file_.size() && IsDigit(file_[pos_])) {
            v = v * 10 + (file_[pos_++] - '0');
            if (v > limit) Fail(std::string("the ") + what + " is too large");
        }
        return static_cast<std::uint32_t>(v);
    }

    // The one character that ends the header of a raw format; a comment there runs
    // to the end of its line, which ends the header.
    void endOfHeader() {
        if (pos_ >= file_.size()) Fail("file is truncated");
        const std::uint8_t c = file_[pos_++];
        if (c == '#') {
            while (pos_ < file_.size() && file_[pos_] != '\n' && file_[pos_] != '\r') ++pos_;
            if (pos_ >= file_.size()) Fail("file is truncated");
            ++pos_;
        } else if (!IsSpace(c)) {
            Fail("no white space after the header");
        }
    }

    // A P1 pixel: one digit 0 or 1.
    unsigned bit() {
        if (!skipSpace()) Fail("file is truncated");
        const std::uint8_t c = file_[pos_++];
        if (c != '0' && c != '1') Fail("a bit map holds a character other than 0 and 1");
        return c - '0';
    }

private:
    ByteSpan file_;
    std::size_t pos_ = 0;
};

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < 2 || file[0] != 'P' || file[1] < '1' || file[1] > '6') Fail("not a portable map (P1 to P6)");
    const int kind = file[1] - '0';
    const bool plain = kind <= 3;
    const bool bilevel = kind == 1 || kind == 4;
    const unsigned channels = (kind == 3 || kind == 6) ? 3 : 1;

    Scanner in(file.subspan(2));
    const std::uint32_t width = in.number(kMaxDimension, "width");
    const std::uint32_t height = in.number(kMaxDimension, "height");
    const std::uint32_t maxval = bilevel ? 1 : in.number(65535, "largest sample value");
    if (width == 0 || height == 0) Fail("the picture has no pixels");
    if (maxval == 0) Fail("the largest sample value is 0");
    CheckPictureSize(width, height, "PNM");
    if (!plain) in.endOfHeader();

    // Raw data must be all there; plain data needs at least one character per sample
    // and a separator between numbers.
    const std::uint64_t samples = std::uint64_t(width) * height * channels;
    const unsigned sampleBytes = maxval > 255 ? 2 : 1;
    const std::size_t rowBytes = bilevel ? (std::size_t(width) + 7) / 8 : std::size_t(width) * channels * sampleBytes;
    if (kind == 1 && samples > in.left()) Fail("file is truncated");
    if ((kind == 2 || kind == 3) && samples * 2 - 1 > in.left()) Fail("file is truncated");
    if (!plain && std::uint64_t(rowBytes) * height > in.left()) Fail("file is truncated");

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(static_cast<int>(width), static_cast<int>(height), bilevel ? 1 : channels == 3 ? 24 : 8);
    if (bilevel)
        picture.setPalette(BlackWhitePalette());
    else if (channels == 1)
        picture.setPalette(GreyPalette256());

    auto to8 = [&](std::uint32_t v) -> std::uint8_t {
        if (v > maxval) v = maxval;
        return static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
    };
    const ByteSpan raw = file.subspan(2 + in.pos());
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* dst = picture.row(static_cast<int>(y));
        if (bilevel) {
            if (kind == 4) {
                const std::uint8_t* src = raw.data() + std::size_t(y) * rowBytes;
                for (std::size_t i = 0; i < rowBytes; ++i) dst[i] = static_cast<std::uint8_t>(~src[i]);
            } else {
                for (std::uint32_t x = 0; x < width; ++x)
                    if (!in.bit()) dst[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
            if (width % 8) dst[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (width % 8));
            continue;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t v[3];
            for (unsigned c = 0; c < channels; ++c) {
                std::uint32_t s;
                if (plain) {
                    s = in.number(0xFFFFFFFFu, "sample");
                } else {
                    const std::size_t at = std::size_t(y) * rowBytes + (std::size_t(x) * channels + c) * sampleBytes;
                    s = sampleBytes == 2 ? ReadBE16(raw, at) : raw[at];
                }
                v[c] = to8(s);
            }
            if (channels == 1) {
                dst[x] = v[0];
            } else {
                dst[3 * x] = v[2];
                dst[3 * x + 1] = v[1];
                dst[3 * x + 2] = v[0];
            }
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::pnm
