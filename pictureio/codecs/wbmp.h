#pragma once
// Wireless bitmaps (.wbmp, type 0). The writer is here; the reader comes later in
// this file.
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

}  // namespace pictorix::wbmp
