#include "operations/tone.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/error.h"
#include "operations/vector_code.h"

namespace pictorix {

namespace {

// The inner loops run over blocks of a fixed number of bytes so that the compiler can
// vectorise them at -O2 without a scalar epilogue; buffers are padded to whole blocks.
constexpr std::size_t kBlock = 256;

std::size_t RowBytes(const Bitmap& bitmap) { return static_cast<std::size_t>(bitmap.width()) * 3; }

std::size_t PaddedToBlock(std::size_t bytes) { return (bytes + kBlock - 1) / kBlock * kBlock; }

void MakeTwentyFourBit(Bitmap& bitmap) {
    if (bitmap.bitsPerPixel() != 24) bitmap.setBitsPerPixel(24);
}

// ---- Gaussian blur ------------------------------------------------------------------

// The convolution has an AVX2 version (vector_code.h). Both give the same results: a
// product of a single-precision weight and a byte value is exact in double precision,
// whether fused or not.

// acc[i] = w[0] * src[0][i] + w[1] * src[1][i] + ... for one block of kBlock values,
// added tap by tap in this order for every element; 16 running sums stay in registers.
PICTORIX_AVX2_CLONE void ConvolveBlock(const double* const* src, const double* w, int taps, double* __restrict acc) {
    for (std::size_t i = 0; i < kBlock; i += 16) {
        Double4 a0, a1, a2, a3, v;
        const double* s = src[0] + i;
        double wt = w[0];
        std::memcpy(&v, s, sizeof v), a0 = wt * v;
        std::memcpy(&v, s + 4, sizeof v), a1 = wt * v;
        std::memcpy(&v, s + 8, sizeof v), a2 = wt * v;
        std::memcpy(&v, s + 12, sizeof v), a3 = wt * v;
        for (int t = 1; t < taps; ++t) {
            s = src[t] + i;
            wt = w[t];
            std::memcpy(&v, s, sizeof v), a0 += wt * v;
            std::memcpy(&v, s + 4, sizeof v), a1 += wt * v;
            std::memcpy(&v, s + 8, sizeof v), a2 += wt * v;
            std::memcpy(&v, s + 12, sizeof v), a3 += wt * v;
        }
        std::memcpy(acc + i, &a0, sizeof a0);
        std::memcpy(acc + i + 4, &a1, sizeof a1);
        std::memcpy(acc + i + 8, &a2, sizeof a2);
        std::memcpy(acc + i + 12, &a3, sizeof a3);
    }
}

// Sums of 255 or more give 255; the rest are truncated (the weights are positive).
// Converts a whole block and copies the first `count` bytes out.
void StoreBlock(const double* acc, std::uint8_t* out, std::size_t count) {
    alignas(64) std::uint8_t bytes[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i)
        bytes[i] = static_cast<std::uint8_t>(static_cast<int>(std::min(std::max(acc[i], 0.0), 255.0)));
    std::memcpy(out, bytes, count);
}

// Widens `count` bytes to doubles, a whole block at a time (`to` has room for it).
void LoadBlocks(const std::uint8_t* from, std::size_t count, double* to) {
    alignas(64) std::uint8_t bytes[kBlock];
    for (std::size_t e0 = 0; e0 < count; e0 += kBlock) {
        const std::size_t n = std::min(kBlock, count - e0);
        if (n < kBlock) std::memset(bytes + n, 0, kBlock - n);
        std::memcpy(bytes, from + e0, n);
        for (std::size_t i = 0; i < kBlock; ++i) to[e0 + i] = bytes[i];
    }
}

// Taps in the order of the offsets m = -k..k, so the sum for position i starts at the
// sample i + k and ends at i - k.
std::vector<double> TapWeights(const GaussianKernel& kernel) {
    std::vector<double> w;
    for (int m = -kernel.size; m <= kernel.size; ++m) w.push_back(kernel.weight(m));
    return w;
}

// Blurs every row from a copy of the row that repeats the end pixels k times on each
// side, so the output can go straight back into the row.
void BlurRows(Bitmap& bitmap, const std::vector<double>& w, int k) {
    const int taps = 2 * k + 1;
    const std::size_t rowBytes = RowBytes(bitmap);
    const std::size_t edge = static_cast<std::size_t>(k) * 3;
    std::vector<double> line(edge + PaddedToBlock(rowBytes) + edge + kBlock, 0.0);
    std::vector<const double*> src(static_cast<std::size_t>(taps));
    alignas(64) double acc[kBlock];

    for (int y = 0; y < bitmap.height(); ++y) {
        std::uint8_t* row = bitmap.row(y);
        LoadBlocks(row, rowBytes, &line[edge]);
        for (std::size_t e = 0; e < edge; ++e) {
            line[e] = row[e % 3];
            line[edge + rowBytes + e] = row[rowBytes - 3 + e % 3];
        }
        for (std::size_t e0 = 0; e0 < rowBytes; e0 += kBlock) {
            // Tap m reads pixel i - m, which sits k - m pixels right of pixel i in `line`.
            for (int t = 0; t < taps; ++t) src[std::size_t(t)] = &line[e0 + std::size_t(2 * k - t) * 3];
            ConvolveBlock(src.data(), w.data(), taps, acc);
            StoreBlock(acc, row + e0, std::min(kBlock, rowBytes - e0));
        }
    }
}

// Blurs every column, in strips a few blocks wide. Within a strip the output goes back
// row by row, top to bottom; the source rows, still needed after being overwritten, come
// from a ring of the last 2k + 1 rows read, so every column sees only row-blurred values.
void BlurColumns(Bitmap& bitmap, const std::vector<double>& w, int k) {
    constexpr std::size_t kStrip = 4 * kBlock;
    const int taps = 2 * k + 1;
    const int height = bitmap.height();
    const std::size_t rowBytes = RowBytes(bitmap);
    std::vector<double> ring(kStrip * static_cast<std::size_t>(taps), 0.0);
    auto slot = [&](int r) { return &ring[static_cast<std::size_t>(r % taps) * kStrip]; };
    std::vector<const double*> src(static_cast<std::size_t>(taps));
    alignas(64) double acc[kBlock];

    for (std::size_t x0 = 0; x0 < rowBytes; x0 += kStrip) {
        const std::size_t stripBytes = std::min(kStrip, rowBytes - x0);
        int loaded = 0;  // rows 0 .. loaded - 1 of this strip have entered the ring
        for (int y = 0; y < height; ++y) {
            for (; loaded < height && loaded <= y + k; ++loaded) LoadBlocks(bitmap.row(loaded) + x0, stripBytes, slot(loaded));
            for (std::size_t e0 = 0; e0 < stripBytes; e0 += kBlock) {
                for (int t = 0; t < taps; ++t) src[std::size_t(t)] = slot(std::clamp(y + k - t, 0, height - 1)) + e0;
                ConvolveBlock(src.data(), w.data(), taps, acc);
                StoreBlock(acc, bitmap.row(y) + x0 + e0, std::min(kBlock, stripBytes - e0));
            }
        }
    }
}

// ---- Quick blur ---------------------------------------------------------------------

// out[i] = floor of the mean of a[i], b[i], c[i], d[i] for one block of 64 bytes.
constexpr std::size_t kQuickBlock = 64;
void AverageFour(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, const std::uint8_t* __restrict c,
                 const std::uint8_t* __restrict d, std::uint8_t* __restrict out) {
    for (std::size_t i = 0; i < kQuickBlock; ++i)
        out[i] = static_cast<std::uint8_t>((unsigned(a[i]) + b[i] + c[i] + d[i]) >> 2);
}

}  // namespace

void ChangeContrast(Bitmap& bitmap, int strength) {
    if (strength == 0) return;
    MakeTwentyFourBit(bitmap);
    if (bitmap.empty()) return;
    const std::size_t rowBytes = RowBytes(bitmap);

    // Channel sums; 48 byte lanes (a multiple of 3) keep each lane on one channel.
    std::uint64_t sums[3] = {0, 0, 0};
    for (int y = 0; y < bitmap.height(); ++y) {
        const std::uint8_t* row = bitmap.row(y);
        std::uint32_t lanes[48] = {};
        std::size_t e = 0;
        for (; e + 48 <= rowBytes; e += 48)
            for (std::size_t j = 0; j < 48; ++j) lanes[j] += row[e + j];
        for (std::size_t j = 0; j < 48; ++j) sums[j % 3] += lanes[j];
        for (; e < rowBytes; ++e) sums[e % 3] += row[e];
    }
    const std::uint64_t count = static_cast<std::uint64_t>(bitmap.width()) * static_cast<std::uint64_t>(bitmap.height());

    const double f = strength > 0 ? strength / 10.0 + 1.0 : 1.0 - std::sqrt(-static_cast<double>(strength)) / 10.0;

    // The new value depends only on the old one and the channel's pivot: one table each.
    std::uint8_t table[3][256];
    for (int c = 0; c < 3; ++c) {
        const long long pivot = static_cast<long long>(sums[c] / count);
        for (int v = 0; v < 256; ++v) {
            const double moved = std::trunc(static_cast<double>(v - pivot) * f);
            // Clamped as a double: a hand-edited strength can make `moved` huge.
            table[c][v] = static_cast<std::uint8_t>(std::clamp(static_cast<double>(pivot) + moved, 0.0, 255.0));
        }
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        std::uint8_t* p = bitmap.row(y);
        for (std::size_t e = 0; e < rowBytes; e += 3) {
            p[e] = table[0][p[e]];
            p[e + 1] = table[1][p[e + 1]];
            p[e + 2] = table[2][p[e + 2]];
        }
    }
}

void ChangeBrightness(Bitmap& bitmap, int amount) {
    MakeTwentyFourBit(bitmap);
    if (bitmap.empty()) return;
    // min(255, c + a) for a > 0 and max(0, c + a) otherwise is c + a clamped to 0..255;
    // amounts beyond +-255 give the same results as +-255.
    const int a = std::clamp(amount, -255, 255);
    const std::size_t rowBytes = RowBytes(bitmap);
    for (int y = 0; y < bitmap.height(); ++y) {
        std::uint8_t* p = bitmap.row(y);
        std::size_t e = 0;
        for (; e + 64 <= rowBytes; e += 64)
            for (std::size_t i = 0; i < 64; ++i) p[e + i] = static_cast<std::uint8_t>(std::clamp(p[e + i] + a, 0, 255));
        for (; e < rowBytes; ++e) p[e] = static_cast<std::uint8_t>(std::clamp(p[e] + a, 0, 255));
    }
}

GaussianKernel MakeGaussianKernel(double radius) {
    if (radius == 0 || std::isnan(radius)) throw Error("Gaussian blur: the radius must be a number other than 0");
    GaussianKernel kernel;
    constexpr int kMax = GaussianKernel::kMaxSize;
    auto& w = kernel.weights;
    for (int j = -kMax; j <= kMax; ++j) {
        const double q = j / radius;
        w[j + kMax] = static_cast<float>(std::exp(-(q * q) / 2));
    }
    double sum = 0;
    for (float v : w) sum += v;
    for (float& v : w) v = static_cast<float>(v / sum);

    // Cut the tails while together they stay below half a grey level (1 / (2 * 255)).
    int k = kMax;
    double tails = 0;
    while (tails < 1.0 / 510 && k > 1) {
        tails += 2.0 * w[k + kMax];
        --k;
    }
    sum = 0;
    for (int j = -k; j <= k; ++j) sum += w[j + kMax];
    for (int j = -k; j <= k; ++j) w[j + kMax] = static_cast<float>(w[j + kMax] / sum);
    kernel.size = k;
    return kernel;
}

void GaussianBlur(Bitmap& bitmap, double radius) {
    if (radius == 0 || std::isnan(radius)) return;
    // Other formats are blurred as their 24-bit picture, like every tone operation does;
    // the refusal is left for a bitmap whose conversion fails.
    static const char* const kRefusal = "GBlur может работать только с 24-битными изображениями";
    if (bitmap.bitsPerPixel() != 24) {
        try {
            bitmap.setBitsPerPixel(24);
        } catch (const Error&) {
            throw Error(kRefusal);
        }
    }
    if (bitmap.bitsPerPixel() != 24) throw Error(kRefusal);
    if (bitmap.empty()) return;

    const GaussianKernel kernel = MakeGaussianKernel(radius);
    const std::vector<double> w = TapWeights(kernel);
    BlurRows(bitmap, w, kernel.size);
    BlurColumns(bitmap, w, kernel.size);
}

void QuickBlur(Bitmap& bitmap) {
    constexpr int d = 3;
    MakeTwentyFourBit(bitmap);
    if (bitmap.empty()) return;
    const int width = bitmap.width();
    const int height = bitmap.height();

    for (int y = 0; y < height; ++y) {
        const int upper = y - d >= 0 ? y - d : y;
        const int lower = y + d < height ? y + d : y;
        std::uint8_t* out = bitmap.row(y);
        const std::uint8_t* up = bitmap.row(upper);
        const std::uint8_t* down = bitmap.row(lower);

        int x = 0;
        if (upper != y && lower != y && width > 2 * d) {
            // Neither sample row is this row, so its pixels do not depend on each other and
            // the middle, where both sample columns exist, goes by blocks.
            std::size_t e = static_cast<std::size_t>(d) * 3;
            const std::size_t end = static_cast<std::size_t>(width - d) * 3;
            const std::size_t off = static_cast<std::size_t>(d) * 3;
            for (; e + kQuickBlock <= end; e += kQuickBlock)
                AverageFour(up + e - off, down + e - off, up + e + off, down + e + off, out + e);
            for (; e < end; ++e) out[e] = static_cast<std::uint8_t>((up[e - off] + down[e - off] + up[e + off] + down[e + off]) >> 2);
            for (int xe = 0; xe < d; ++xe) {  // the left edge; the right one follows below
                for (int c = 0; c < 3; ++c) {
                    const std::size_t l = std::size_t(xe) * 3 + c, r = std::size_t(xe + d) * 3 + c;
                    out[l] = static_cast<std::uint8_t>((up[l] + down[l] + up[r] + down[r]) >> 2);
                }
            }
            x = width - d;
        }
        // In place, left to right: a sample in this row left of x already holds its new value.
        for (; x < width; ++x) {
            const int left = x - d >= 0 ? x - d : x;
            const int right = x + d < width ? x + d : x;
            for (int c = 0; c < 3; ++c) {
                const std::size_t l = std::size_t(left) * 3 + c, r = std::size_t(right) * 3 + c;
                out[std::size_t(x) * 3 + c] = static_cast<std::uint8_t>((up[l] + down[l] + up[r] + down[r]) >> 2);
            }
        }
    }
}

}  // namespace pictorix
