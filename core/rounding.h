#pragma once
// Rounding of reals to integers: to the nearest integer, halves to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). Integer divisions elsewhere truncate toward zero.
#include <cmath>
#include <cstdint>
#include <limits>

namespace pictorix {

// Nearest integer, halves to even. Done explicitly so that it does not depend on the
// floating-point rounding mode. NaN gives 0; values beyond the int range saturate.
inline double RoundHalfEven(double v) {
    if (!std::isfinite(v)) return v;
    const double f = std::floor(v);
    const double diff = v - f;  // exact for doubles of this magnitude
    if (diff < 0.5) return f;
    if (diff > 0.5) return f + 1.0;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

inline long long RoundToInt64(double v) {
    if (std::isnan(v)) return 0;
    const double r = RoundHalfEven(v);
    if (r >= 9223372036854775807.0) return std::numeric_limits<long long>::max();
    if (r <= -9223372036854775808.0) return std::numeric_limits<long long>::min();
    return static_cast<long long>(r);
}

inline int RoundToInt(double v) {
    if (std::isnan(v)) return 0;
    const double r = RoundHalfEven(v);
    if (r >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (r <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}

// Rounds and clamps to 0..255, the range of one colour channel.
inline std::uint8_t RoundToByte(double v) {
    const int r = RoundToInt(v);
    return static_cast<std::uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

}  // namespace pictorix
