#pragma once
// Contrast, brightness and the two blurs.
#include "core/bitmap.h"

namespace pictorix {

void ChangeContrast(Bitmap& bitmap, int strength);
void ChangeBrightness(Bitmap& bitmap, int amount);
// Gaussian blur with the radius as standard deviation, in pixels.
void GaussianBlur(Bitmap& bitmap, double radius);
// One pass of the quick blur used by the preview.
void QuickBlur(Bitmap& bitmap);

}  // namespace pictorix
