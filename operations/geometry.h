#pragma once
// Crop, canvas size, rotation and mirroring.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

// The crop action string: edge margins or a centred rectangle.
void DoCrop(const std::string& action, Bitmap& bitmap);

// Sets the width, then the height; new area takes the fill colour.
void CanvasSize(Bitmap& bitmap, int width, int height);

// Turns clockwise by `angle` degrees; the uncovered area takes `background`.
void RotateBitmap(Bitmap& bitmap, Color background, double angle);

enum class MirrorDirection { LeftRight, TopBottom };
void MirrorBitmap(Bitmap& bitmap, MirrorDirection direction);

}  // namespace pictorix
