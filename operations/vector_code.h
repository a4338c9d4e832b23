#pragma once
// What the vectorised loops of the operations share: GCC vector types and the marker
// of functions that x86-64 builds carry twice, for AVX2 and for the baseline, picking
// one at load time. AVX2 brings no fused multiply-add, so both versions round alike.
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PICTORIX_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define PICTORIX_AVX2_CLONE
#endif

namespace pictorix {

typedef double Double4 __attribute__((vector_size(32)));
typedef std::int64_t Mask4 __attribute__((vector_size(32)));  // results of comparing Double4
typedef std::int32_t Int4 __attribute__((vector_size(16)));
typedef std::uint8_t Byte4 __attribute__((vector_size(4)));

}  // namespace pictorix
