#pragma once
// Contrast, brightness and the two blurs. All four work on 24-bit pixels: a bitmap in
// another format is converted first (except for the no-op strength 0 of the contrast and
// the radius 0 of the blur), and the picture keeps its size.
#include <array>

#include "core/bitmap.h"

namespace pictorix {

// Stretches (strength > 0) or compresses (strength < 0) every channel around the
// picture's mean of that channel; 0 changes nothing.
void ChangeContrast(Bitmap& bitmap, int strength);

// Adds `amount` to every channel, saturating at 0 and 255.
void ChangeBrightness(Bitmap& bitmap, int amount);

// Gaussian blur with the radius as standard deviation, in pixels: rows first, then
// columns, ends repeating the edge pixel. A radius of 0 leaves the picture unchanged.
// Throws Error (and changes nothing) for a bitmap that cannot be made 24-bit.
void GaussianBlur(Bitmap& bitmap, double radius);

// One pass of the quick blur used by the preview: in place, each pixel becomes the mean
// (rounded down) of its four diagonal neighbours at distance 3, its own row or column
// standing in where those fall outside the picture.
void QuickBlur(Bitmap& bitmap);

// The kernel of GaussianBlur: single-precision weights for the offsets -100..100, cut to
// -size..size where the tails no longer matter at 8-bit precision. The used weights are
// normalised to sum to 1 (as nearly as single precision allows).
struct GaussianKernel {
    static constexpr int kMaxSize = 100;
    int size = 1;
    std::array<float, 2 * kMaxSize + 1> weights{};
    float weight(int offset) const { return weights[offset + kMaxSize]; }
};

// Throws Error for a radius of 0 or NaN, for which the Gaussian is undefined.
GaussianKernel MakeGaussianKernel(double radius);

}  // namespace pictorix
