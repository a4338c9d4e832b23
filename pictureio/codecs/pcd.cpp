#include "pictureio/codecs/pcd.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/rounding.h"

namespace pictorix::pcd {

namespace {

constexpr std::size_t kBaseAt = 0x30000;
constexpr int kWidth = 768;
constexpr int kHeight = 512;
constexpr std::size_t kBaseSize = std::size_t(kWidth) * kHeight * 3 / 2;
constexpr std::size_t kOrientationAt = 0x0E02;

[[noreturn]] void Fail(const std::string& cause) { throw Error("PCD: " + cause); }

bool HasText(ByteSpan b, std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    return b.size() >= at + n && std::memcmp(b.data() + at, text, n) == 0;
}

// One chroma plane of the Base picture, 384 x 256, interpolated at luma positions.
class ChromaPlane {
public:
    explicit ChromaPlane(std::vector<std::uint8_t> values) : v_(std::move(values)) {}

    double at(int x, int y) const {
        const int x0 = x / 2, y0 = y / 2;
        const int x1 = std::min(x0 + 1, kWidth / 2 - 1), y1 = std::min(y0 + 1, kHeight / 2 - 1);
        const double fx = (x & 1) ? 0.5 : 0.0, fy = (y & 1) ? 0.5 : 0.0;
        const double top = get(x0, y0) * (1 - fx) + get(x1, y0) * fx;
        const double bottom = get(x0, y1) * (1 - fx) + get(x1, y1) * fx;
        return top * (1 - fy) + bottom * fy;
    }

private:
    double get(int x, int y) const { return v_[std::size_t(y) * (kWidth / 2) + std::size_t(x)]; }
    std::vector<std::uint8_t> v_;
};

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < 2051 || remaining <= kProbeHeaderLength) return false;
    return HasText(header, 0, "PCD_OPA") || HasText(header, 2048, "PCD");
}

void Read(ByteSpan file, Bitmap& out) {
    if (HasText(file, 0, "PCD_OPA")) Fail("overview files (PCD_OPA) hold only thumbnails and are not supported");
    if (file.size() < kBaseAt + kBaseSize) Fail("file is truncated (Base picture)");
    const unsigned orientation = file[kOrientationAt] & 3;

    // Split the interleaved groups into the luma plane and the two chroma planes.
    std::vector<std::uint8_t> luma(std::size_t(kWidth) * kHeight);
    std::vector<std::uint8_t> c1(std::size_t(kWidth / 2) * (kHeight / 2));
    std::vector<std::uint8_t> c2(c1.size());
    const std::uint8_t* p = file.data() + kBaseAt;
    for (int pair = 0; pair < kHeight / 2; ++pair) {
        std::copy_n(p, 2 * kWidth, luma.begin() + std::ptrdiff_t(pair) * 2 * kWidth);
        p += 2 * kWidth;
        std::copy_n(p, kWidth / 2, c1.begin() + std::ptrdiff_t(pair) * (kWidth / 2));
        p += kWidth / 2;
        std::copy_n(p, kWidth / 2, c2.begin() + std::ptrdiff_t(pair) * (kWidth / 2));
        p += kWidth / 2;
    }
    const ChromaPlane cb(std::move(c1)), cr(std::move(c2));

    const bool sideways = orientation == 1 || orientation == 3;
    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(sideways ? kHeight : kWidth, sideways ? kWidth : kHeight, 24);

    constexpr double kScale = 255.0 / 346.0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double l = 1.3584 * luma[std::size_t(y) * kWidth + std::size_t(x)];
            const double u = 2.2179 * (cb.at(x, y) - 156.0);
            const double v = 1.8215 * (cr.at(x, y) - 137.0);
            // Where the stored pixel (x, y) lands after the turn.
            int dx = x, dy = y;
            switch (orientation) {
                case 1: dx = y, dy = kWidth - 1 - x; break;
                case 2: dx = kWidth - 1 - x, dy = kHeight - 1 - y; break;
                case 3: dx = kHeight - 1 - y, dy = x; break;
                default: break;
            }
            std::uint8_t* d = picture.row(dy) + 3 * dx;
            d[0] = RoundToByte((l + u) * kScale);
            d[1] = RoundToByte((l - 0.194 * u - 0.509 * v) * kScale);
            d[2] = RoundToByte((l + v) * kScale);
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::pcd
