#pragma once
// Wireless bitmaps (.wbmp, type 0): reader and writer.
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::wbmp {

// Appends n as a WBMP multi-byte integer: 7 bits per byte, most significant group
// first, the top bit set on every byte but the last (200 -> 0x81 0x48).
void PutMultiByteInteger(ByteVector& out, std::uint32_t n);

// Encodes the bitmap as a type-0 WBMP: 0x00, 0x00, width, height (multi-byte
// integers), then the rows from the top, ceil(W / 8) bytes each, most significant
// bit = leftmost pixel, 1 = white, spare bits 0. Grey levels are rendered with fixed
// dot patterns by L = red + green + blue of each pixel at (x, y):
//   L > 660    white
//   586..660   white but x % 3 == 0 && y % 3 == 1
//   481..585   white but x and y both even
//   376..480   white where x + y is odd (chequerboard)
//   271..375   white only where x % 3 == 1 && y % 3 == 2
//   181..270   white only where x % 4 == 0 && y % 4 == 0
//   61..180    white only where x % 5 == 1 && y % 5 == 3
//   L <= 60    black
// Throws Error("WBMP: the bitmap is empty") for a bitmap without pixels.
ByteVector Write(const Bitmap& bitmap);

// Decodes a type-0 WBMP into `out` in place rather than replacing it: the header is
// type, fixed-header field (ignored), width, height, each a multi-byte integer read as
//   first byte up to 0x80    the value itself (0x80 alone is 128)
//   first byte above 0x80    7-bit groups, most significant first, until a byte below
//                            0x80 (0x81 0x48 = 200; 0x81 0x80 0x00 = 16384)
// Then `out` becomes 1 bit per pixel with palette black, white (a set bit is white),
// keeping its pixels as the nearest of the two, and takes the picture's size, new area
// in its fill colour. Rows follow from the top, ceil(W / 8) bytes each, most
// significant bit = leftmost pixel; the spare bits of a row's last byte are cleared.
// A file that ends early fills the rows (and the part of a row) it holds; the rest of
// `out` keeps what it had there, which on a fresh bitmap is its fill colour.
// Errors, all with `out` unchanged: a header that ends early or whose integer runs
// beyond four bytes, a type other than 0, a width or height of 0, a size beyond
// CheckPictureSize, and a file without any pixel data.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::wbmp
