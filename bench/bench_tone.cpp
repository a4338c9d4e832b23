// Contrast, brightness and the two blurs on a 12-megapixel 24-bit picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "core/bitmap.h"
#include "operations/tone.h"

namespace {

using pictorix::Bitmap;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

Bitmap Photo() {
    Bitmap b(kWidth, kHeight, 24);
    std::mt19937 rng(42);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = b.row(y);
        for (int e = 0; e < kWidth * 3; ++e) row[e] = static_cast<std::uint8_t>((e / 3 + y) / 32 * 16 + (rng() & 15));
    }
    return b;
}

// Every operation costs the same whatever the pixels hold, so each iteration works on
// the result of the one before instead of a fresh copy.
template <typename Op>
void Run(benchmark::State& state, Op op) {
    Bitmap b = Photo();
    for (auto _ : state) {
        op(b);
        benchmark::DoNotOptimize(b.bits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_GaussianBlur(benchmark::State& state) {
    const double radius = static_cast<double>(state.range(0)) / 10;
    Run(state, [radius](Bitmap& b) { pictorix::GaussianBlur(b, radius); });
}
BENCHMARK(BM_GaussianBlur)->Arg(5)->Arg(25)->Arg(50)->Unit(benchmark::kMillisecond);

void BM_QuickBlur(benchmark::State& state) {
    Run(state, [](Bitmap& b) { pictorix::QuickBlur(b); });
}
BENCHMARK(BM_QuickBlur)->Unit(benchmark::kMillisecond);

void BM_ChangeContrast(benchmark::State& state) {
    Run(state, [](Bitmap& b) { pictorix::ChangeContrast(b, 10); });
}
BENCHMARK(BM_ChangeContrast)->Unit(benchmark::kMillisecond);

void BM_ChangeBrightness(benchmark::State& state) {
    Run(state, [](Bitmap& b) { pictorix::ChangeBrightness(b, 10); });
}
BENCHMARK(BM_ChangeBrightness)->Unit(benchmark::kMillisecond);

}  // namespace
