// Rotation and mirroring of a 12-megapixel 24-bit picture.
#include <benchmark/benchmark.h>

#include "core/bitmap.h"
#include "operations/geometry.h"

namespace {

using namespace pictorix;

const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b(4000, 3000, 24);
        for (int y = 0; y < b.height(); ++y) {
            std::uint8_t* p = b.row(y);
            for (int x = 0; x < b.width(); ++x, p += 3) {
                p[0] = static_cast<std::uint8_t>(x * 7 + y);
                p[1] = static_cast<std::uint8_t>(x ^ y);
                p[2] = static_cast<std::uint8_t>(y * 3);
            }
        }
        return b;
    }();
    return photo;
}

// Each iteration turns a fresh copy, so the picture does not grow from one to the next.
void BM_Rotate(benchmark::State& state) {
    const double angle = static_cast<double>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Bitmap b = Photo();
        state.ResumeTiming();
        RotateBitmap(b, kWhite, angle);
        benchmark::DoNotOptimize(b.bits());
    }
    state.SetItemsProcessed(state.iterations() * Photo().width() * Photo().height());
}
BENCHMARK(BM_Rotate)->Arg(90)->Arg(180)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_Mirror(benchmark::State& state) {
    Bitmap b = Photo();
    const auto direction = state.range(0) == 0 ? MirrorDirection::LeftRight : MirrorDirection::TopBottom;
    for (auto _ : state) {
        MirrorBitmap(b, direction);
        benchmark::DoNotOptimize(b.bits());
    }
    state.SetItemsProcessed(state.iterations() * b.width() * b.height());
}
BENCHMARK(BM_Mirror)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
