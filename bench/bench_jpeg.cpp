// JPEG decoding and encoding of a 12-megapixel photograph-like picture, the two
// halves of the codec floor that a batch run of JPEG files cannot go below.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "core/bitmap.h"
#include "pictureio/codecs/jpeg.h"

namespace {

using pictorix::Bitmap;
using pictorix::ByteVector;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

const Bitmap& Photo() {
    static const Bitmap photo = [] {
        Bitmap b(kWidth, kHeight, 24);
        std::mt19937 rng(11);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* p = b.row(y);
            for (int x = 0; x < kWidth; ++x, p += 3) {
                p[0] = static_cast<std::uint8_t>(x / 16 + (rng() & 15));
                p[1] = static_cast<std::uint8_t>(y / 12 + (rng() & 15));
                p[2] = static_cast<std::uint8_t>((x ^ y) / 24 + (rng() & 15));
            }
        }
        return b;
    }();
    return photo;
}

const ByteVector& PhotoFile() {
    static const ByteVector file = pictorix::jpeg::Write(Photo(), 90, false);
    return file;
}

void BM_JpegRead(benchmark::State& state) {
    const ByteVector& file = PhotoFile();
    for (auto _ : state) {
        Bitmap b;
        pictorix::jpeg::Read(file, b);
        benchmark::DoNotOptimize(b.bits());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_JpegRead)->Unit(benchmark::kMillisecond);

// Encodes the picture in the given format (24: as it is; 8: its halftone version).
void BM_JpegWrite(benchmark::State& state) {
    Bitmap b = Photo();
    if (state.range(0) != 24) b.setBitsPerPixel(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ByteVector out = pictorix::jpeg::Write(b, 75, false);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_JpegWrite)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace
