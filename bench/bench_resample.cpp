// Resampling a 12-megapixel 24-bit picture (4000 x 3000) with the Triangle filter.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/bitmap.h"
#include "operations/resample.h"

namespace {

using pictorix::Bitmap;

const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b(4000, 3000, 24);
        for (int y = 0; y < b.height(); ++y) {
            std::uint8_t* p = b.row(y);
            for (int x = 0; x < b.width(); ++x, p += 3) {
                p[0] = static_cast<std::uint8_t>(x * 7 + y);
                p[1] = static_cast<std::uint8_t>(x ^ y);
                p[2] = static_cast<std::uint8_t>((x * y) >> 5);
            }
        }
        return b;
    }();
    return photo;
}

// Each iteration resamples a fresh copy; the copy is not timed.
void Resample(benchmark::State& state, int width, int height) {
    const Bitmap& photo = Photo();
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap b = photo;
        state.ResumeTiming();
        pictorix::ResampleBitmap(b, width, height, pictorix::kTriangleFilter);
        benchmark::DoNotOptimize(b.bits());
        state.PauseTiming();
        b = Bitmap();  // freeing the result is not timed either
        state.ResumeTiming();
    }
    state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height * double(state.iterations()) / 1e6,
                                                    benchmark::Counter::kIsRate);
}

void BM_ResampleHalf(benchmark::State& state) { Resample(state, 2000, 1500); }
void BM_ResampleDouble(benchmark::State& state) { Resample(state, 8000, 6000); }

}  // namespace

BENCHMARK(BM_ResampleHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleDouble)->Unit(benchmark::kMillisecond);
