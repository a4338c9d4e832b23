// Colour depth changes of a 12-megapixel picture: the conversions that reading,
// the colour depth setting and every 24-bit-only operation go through.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "core/bitmap.h"

namespace {

using pictorix::Bitmap;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph-like 24-bit picture: smooth gradients with a little noise.
const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b(kWidth, kHeight, 24);
        std::mt19937 rng(7);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* p = b.row(y);
            for (int x = 0; x < kWidth; ++x, p += 3) {
                p[0] = static_cast<std::uint8_t>(x / 16 + (rng() & 7));
                p[1] = static_cast<std::uint8_t>(y / 12 + (rng() & 7));
                p[2] = static_cast<std::uint8_t>((x + y) / 28 + (rng() & 7));
            }
        }
        return b;
    }();
    return photo;
}

// The photograph in the given format, made once per format.
const Bitmap& PhotoIn(int bpp) {
    static Bitmap cache[33];
    Bitmap& b = cache[bpp];
    if (b.empty()) {
        b = Photo();
        b.setBitsPerPixel(bpp);
    }
    return b;
}

// Converts a fresh copy of the picture in format `from` to format `to`; the copy is not timed.
void BM_SetBitsPerPixel(benchmark::State& state) {
    const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
    const Bitmap& source = PhotoIn(from);
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap b = source;
        state.ResumeTiming();
        b.setBitsPerPixel(to);
        benchmark::DoNotOptimize(b.bits());
        state.PauseTiming();
        b = Bitmap();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_SetBitsPerPixel)
    ->Args({24, 32})
    ->Args({32, 24})
    ->Args({24, 16})
    ->Args({16, 24})
    ->Args({8, 24})
    ->Args({24, 8})
    ->Args({24, 4})
    ->Args({24, 1})
    ->Args({1, 24})
    ->Unit(benchmark::kMillisecond);

}  // namespace
