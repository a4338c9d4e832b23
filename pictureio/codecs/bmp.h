#pragma once
// Windows bitmap files (.bmp): reader and writer.
//
// Reading accepts the headers that real files carry: OS/2 1.x (12 bytes, palette of
// RGB triples), OS/2 2.x (16 and 64 bytes), BITMAPINFOHEADER (40), its V2/V3 variants
// (52, 56), V4 (108) and V5 (124). Pixel data: 1, 2, 4 and 8 bits with a palette,
// RLE8 and RLE4, 16 and 32 bits plain or with bit-field masks (BI_BITFIELDS and
// BI_ALPHABITFIELDS), 24 bits; rows bottom-up or top-down. What the bitmap holds:
//   1, 4, 8, 24 bits        the file's own format (RLE files too)
//   2 bits                  4 bits, same palette (the bitmap has no 2-bit format)
//   16 bits, masks 5-6-5    16 bits, pixels as stored
//   16 bits, other masks    24 bits (5-5-5 is the default of a plain 16-bit file)
//   32 bits, B,G,R,X        32 bits, the unused byte set to 0
//   32 bits, other masks    24 bits
// A converted channel narrower than 8 bits repeats its bits into the low bits (5 bits
// v: v << 3 | v >> 2, as Bitmap gives 5-6-5 pixels); a wider one keeps its top 8 bits.
// Alpha is dropped.
//
// Decisions where files disagree with the format or with each other:
// - The palette is the file's own: biClrUsed entries (all 2^n when 0), at most 2^n.
//   An index beyond it is kept as it is; Bitmap::pixel reads it as black, and the
//   writer pads the palette with black, so such pixels stay black.
// - Pixels that an RLE stream skips (delta escapes, early end of line or bitmap) are
//   palette index 0. Runs past the end of a row are clipped; data for rows beyond the
//   top is ignored.
// - The pixel data starts at bfOffBits. A pixel array that ends before its last row's
//   padding is accepted; anything shorter, and an RLE stream that ends before its
//   end-of-bitmap escape with rows still to come, is "BMP: file is truncated".
// - bfSize, biSizeImage, the resolution and the colour space fields are not used.
// - Where the file gives no palette count (OS/2 1.x, or biClrUsed 0) and the space
//   before the pixel data holds fewer than 2^n entries, those entries are the palette.
//   An explicit biClrUsed that does not fit before the pixel data is an error.
// Damaged or hostile files give pictorix::Error, never an out-of-bounds access; the
// output bitmap is changed only when the whole file has been read.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::bmp {

// Decodes a whole BMP file. `out` takes the picture's size, pixel format, palette and
// pixels; its fill colour and transparency marker stay. Throws Error("BMP: ...") and
// leaves `out` unchanged when the file cannot be read.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap as BITMAPFILEHEADER + BITMAPINFOHEADER (40 bytes) + bottom-up
// rows in the bitmap's own format: 1, 4, 8 bits with a palette of 2^n entries (the
// bitmap's palette, padded with black), 16 bits as BI_BITFIELDS with the 5-6-5 masks,
// 24 and 32 bits as BI_RGB. Resolution fields are 0 (not known: the bitmap carries no
// resolution). Padding bytes, unused bits and the unused byte of 32-bit pixels are 0.
// Throws Error("BMP: the bitmap is empty") for a bitmap without pixels.
ByteVector Write(const Bitmap& bitmap);

}  // namespace pictorix::bmp
