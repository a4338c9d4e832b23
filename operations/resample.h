#pragma once
// Resizing: the resampler with its six filters and the resize action.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

// One reconstruction filter: an even kernel that is 0 at and beyond its support.
struct ResampleFilter {
    const char* name;
    double support;
    double (*kernel)(double x);
};

// Filter indices run from 1 to 6: Triangle, Hermite, Bell, B-Spline, Lanczos3, Mitchell.
constexpr int kTriangleFilter = 1;
constexpr int kResampleFilterCount = 6;

// The filter of the given index; throws Error for an index outside 1..6.
const ResampleFilter& GetResampleFilter(int filterIndex);

// Replaces the picture by its scaled version of targetWidth x targetHeight using the
// filter of the given index. A negative target size is derived from the other one;
// both negative does nothing. The core works on 24-bit pictures only; a bitmap in
// another format is converted for the resampling and back afterwards. A target that
// leaves no pixels, or one too large to hold, throws Error and leaves the bitmap as
// it was. An empty bitmap is left unchanged.
void ResampleBitmap(Bitmap& bitmap, int targetWidth, int targetHeight, int filterIndex);

// The resize action string: width, height, their units and the mode.
void DoResize(const std::string& action, Bitmap& bitmap);

}  // namespace pictorix
