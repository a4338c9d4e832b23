#pragma once
// The whole-number passes of the resampler in AVX2 instructions, for processors that
// have them. They compute exactly what the portable loops of resample.cpp compute:
// sums of byte x weight in 16-bit lanes, clamped to 0..255 x 2^shift and divided by
// 2^shift with halves rounded to even. The caller makes sure no sum leaves 16 bits.
#include <cstddef>
#include <cstdint>

namespace pictorix::avx2 {

// True when the processor runs AVX2 and these functions were built.
bool Available();

// Pass 1 for one row of 24-bit pixels, eight output pixels per group. For group g and
// contributor k (of `count`), `offset` holds the byte offsets of the eight pixels' source
// pixels and `weight` sixteen weights for the first four pixels (each repeated for
// four lanes: blue, green, red and a spare) and sixteen for the next four. Reads four
// bytes at every offset; writes 24 bytes per group and up to 4 bytes beyond them.
void FixedRow(const std::uint8_t* in, std::uint8_t* out, const std::int32_t* offset, const std::int16_t* weight,
              int count, std::size_t groups, int shift);

// Pass 2 for one output row: out[j] for j < values from the rows `in` and their weights.
// Reads whole 32-byte blocks of every row.
void FixedVerticalRow(const std::uint8_t* const* in, const std::int16_t* weight, std::size_t count,
                      std::size_t values, int shift, std::uint8_t* out);

}  // namespace pictorix::avx2
