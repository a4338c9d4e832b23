#pragma once
// Crop, canvas size, rotation and mirroring.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

// The crop action string: edge margins or a centred rectangle, in the bitmap's own
// pixel format. A centred rectangle of odd size repeats its middle column or row;
// where the rectangle reaches outside the picture the result takes the fill colour.
// Another field 0 or mode changes nothing. A missing or non-integer field, or a result
// without pixels, throws Error before the picture changes.
void DoCrop(const std::string& action, Bitmap& bitmap);

// Sets the width, then the height; new area takes the fill colour. A size without
// pixels throws Error and changes nothing.
void CanvasSize(Bitmap& bitmap, int width, int height);

// Turns clockwise by `angle` degrees, converting to 24 bits. Whole quarter turns move
// pixels exactly and keep the fill colour; any other angle samples the nearest source
// pixel onto the enlarged area, and `background` becomes the bitmap's fill colour and
// the colour of the area that no source pixel covers. A non-finite angle throws Error.
void RotateBitmap(Bitmap& bitmap, Color background, double angle);

enum class MirrorDirection { LeftRight, TopBottom };
// Converts to 24 bits, then reverses every row (LeftRight) or the order of the rows.
void MirrorBitmap(Bitmap& bitmap, MirrorDirection direction);

}  // namespace pictorix
