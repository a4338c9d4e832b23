#pragma once
// Windows icon files (.ico). The writer makes a single-image icon; the reader comes
// later in this file.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::ico {

// Encodes the bitmap as an icon file with one 8-bit image:
//   icon directory (6 bytes) and its one entry (16 bytes): width and height bytes
//   (0 for 256 pixels or more, as the format has it), colour count 8, reserved 0,
//   planes 0, bit count 0, data size, data offset 22;
//   BITMAPINFOHEADER (width W, height 2H, 1 plane, 8 bits, image size = colour bits);
//   256-entry colour table (the halftone palette, blue, green, red, 0);
//   colour image, 8 bits per pixel, bottom row first, rows padded to 4 bytes;
//   mask, 1 bit per pixel, bottom row first, rows padded to 4 bytes, 1 = transparent.
// The picture is transparent exactly where its colour equals that of its bottom-left
// pixel; those pixels are black in the colour image. Every other pixel is its colour
// mapped to the nearest palette entry.
// Throws Error("ICO: the bitmap is empty") for a bitmap without pixels and
// Error("ICO: the picture is too large for an icon file") beyond 4 GiB.
ByteVector Write(const Bitmap& bitmap);

}  // namespace pictorix::ico
