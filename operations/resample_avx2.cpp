#include "operations/resample_avx2.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PICTORIX_AVX2_CODE 1
#include <immintrin.h>
#endif

namespace pictorix::avx2 {

#ifdef PICTORIX_AVX2_CODE

namespace {

#define PICTORIX_AVX2 __attribute__((target("avx2")))

struct Rounding {
    __m128i shift;
    __m256i top, half, low, one;
};

PICTORIX_AVX2 inline Rounding RoundingFor(int shift) {
    return {_mm_cvtsi32_si128(shift), _mm256_set1_epi16(static_cast<short>(255 << shift)),
            _mm256_set1_epi16(static_cast<short>(1 << (shift - 1))),
            _mm256_set1_epi16(static_cast<short>((1 << shift) - 1)), _mm256_set1_epi16(1)};
}

// Sums scaled by 2^shift as whole bytes: clamped, then to the nearest with halves to even.
PICTORIX_AVX2 inline __m256i Round16(__m256i s, const Rounding& r) {
    s = _mm256_max_epi16(s, _mm256_setzero_si256());
    s = _mm256_min_epi16(s, r.top);
    const __m256i q = _mm256_sra_epi16(s, r.shift);
    const __m256i rest = _mm256_and_si256(s, r.low);
    const __m256i odd = _mm256_cmpeq_epi16(_mm256_and_si256(q, r.one), r.one);
    const __m256i up = _mm256_or_si256(_mm256_cmpgt_epi16(rest, r.half),
                                       _mm256_and_si256(_mm256_cmpeq_epi16(rest, r.half), odd));
    return _mm256_sub_epi16(q, up);  // up is -1 where the value goes up
}

// Two vectors of sixteen 16-bit values (each 0..255) as 32 bytes in their order.
PICTORIX_AVX2 inline __m256i PackInOrder(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

inline int Load32(const std::uint8_t* p) {
    int v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

bool Available() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

PICTORIX_AVX2 void FixedRow(const std::uint8_t* in, std::uint8_t* out, const std::int32_t* offset,
                            const std::int16_t* weight, int count, std::size_t groups, int shift) {
    const Rounding rounding = RoundingFor(shift);
    // Keeps blue, green and red of each four-byte pixel.
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    for (std::size_t g = 0; g < groups; ++g, out += 24) {
        __m256i first = _mm256_setzero_si256(), second = _mm256_setzero_si256();
        for (int k = 0; k < count; ++k, offset += 8, weight += 32) {
            // Four-byte loads put together; faster than a gather on some processors.
            const __m128i pixels1 = _mm_setr_epi32(Load32(in + offset[0]), Load32(in + offset[1]),
                                                   Load32(in + offset[2]), Load32(in + offset[3]));
            const __m128i pixels2 = _mm_setr_epi32(Load32(in + offset[4]), Load32(in + offset[5]),
                                                   Load32(in + offset[6]), Load32(in + offset[7]));
            const __m256i w1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight));
            const __m256i w2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight + 16));
            first = _mm256_add_epi16(first, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(pixels1), w1));
            second = _mm256_add_epi16(second, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(pixels2), w2));
        }
        const __m256i bytes = _mm256_shuffle_epi8(PackInOrder(Round16(first, rounding), Round16(second, rounding)), squeeze);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(bytes, 1));
    }
}

PICTORIX_AVX2 void FixedVerticalRow(const std::uint8_t* const* in, const std::int16_t* weight, std::size_t count,
                                    std::size_t values, int shift, std::uint8_t* out) {
    const Rounding rounding = RoundingFor(shift);
    for (std::size_t j = 0; j < values; j += 32) {
        __m256i first = _mm256_setzero_si256(), second = _mm256_setzero_si256();
        for (std::size_t k = 0; k < count; ++k) {
            const __m256i w = _mm256_set1_epi16(weight[k]);
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[k] + j));
            first = _mm256_add_epi16(first, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), w));
            second = _mm256_add_epi16(second, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), w));
        }
        const __m256i bytes = PackInOrder(Round16(first, rounding), Round16(second, rounding));
        if (values - j >= 32) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), bytes);
        } else {
            // The row's padding bytes stay as they are.
            alignas(32) std::uint8_t last[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(last), bytes);
            std::memcpy(out + j, last, values - j);
        }
    }
}

#else

// Without x86-64 there is nothing to run; Available() is false, so these are never called.
bool Available() { return false; }
void FixedRow(const std::uint8_t*, std::uint8_t*, const std::int32_t*, const std::int16_t*, int, std::size_t, int) {}
void FixedVerticalRow(const std::uint8_t* const*, const std::int16_t*, std::size_t, std::size_t, int, std::uint8_t*) {}

#endif

}  // namespace pictorix::avx2
