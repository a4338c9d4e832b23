#pragma once
// Windows icon files (.ico, and cursors, which share the layout). The writer makes a
// single-image icon; the reader takes one image of a file of many.
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

// Decodes one image of an icon or cursor file into a 24-bit picture, white wherever
// the image is transparent. The image is the largest (width x height), then the
// deepest (bits per pixel), the first of equals. Sizes and depths come from each
// image's own header (a directory's size bytes can be wrong, and 0 stands for 256 or
// more); the directory is used only for an image whose header lies beyond the file.
// Images are
//   PNG-compressed (the PNG signature at the image's offset): decoded and blended
//     onto white by their alpha;
//   BITMAPINFOHEADER of width W and height 2H, colour table, colour image of 1, 4,
//     8, 16 (5-5-5), 24 or 32 bits, mask of 1 bit; both bottom row first, rows
//     padded to 4 bytes. A mask bit of 1 is transparent, white. A 32-bit image whose
//     fourth bytes are not all 0 is blended onto white by that alpha, the mask
//     ignored; with all alphas 0 the mask decides, as for the other depths.
// `out` takes the picture; its fill colour and transparency marker stay. Throws
// Error("ICO: ...") and leaves `out` unchanged for a file that is not an icon or
// cursor, holds no images, or whose chosen image is damaged, truncated, compressed
// other than by PNG, or of another depth.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::ico
