#pragma once
// Resizing: the resampler with its six filters and the resize action.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

// Replaces the picture by its scaled version of targetWidth x targetHeight using the
// filter of the given index. A negative target size is derived from the other one;
// both negative does nothing. The core works on 24-bit pictures only.
void ResampleBitmap(Bitmap& bitmap, int targetWidth, int targetHeight, int filterIndex);

// The resize action string: width, height, their units and the mode.
void DoResize(const std::string& action, Bitmap& bitmap);

}  // namespace pictorix
