#pragma once
// ZSoft PCX files (.pcx): our own writer. The reader belongs here too.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::pcx {

// Encodes the bitmap as a version 5 PCX file: the 128-byte header, the run-length
// encoded rows from the top, and for 1- and 8-bit pictures the palette block.
//   1 bit     1 plane of 1 bit; bytes per line = width / 8 rounded up; each row is the
//             first that many bytes of the bitmap's row (most significant bit left).
//   8 bits    1 plane of 8 bits; bytes per line = width (not rounded to even).
//   others    (4, 16, 24, 32 bits) converted to 24 bits: 3 planes of 8 bits, each
//             row the red, then the green, then the blue bytes of its pixels;
//             bytes per line = width.
// Header: manufacturer 10, version 5, encoding 1, bits per pixel and plane, window
// 0,0 to width-1,height-1, resolution 72 x 72, the 16-colour palette all 0, planes,
// bytes per line, palette information 1, the rest 0. Numbers little-endian.
// Each row (each plane of a row for 3 planes) is encoded on its own: a run of n equal
// bytes, 2 <= n <= 63, as 0xC0 + n and the byte; a single byte as itself below 0xC0
// and as 0xC1 and the byte otherwise; longer runs as runs of 63 and the rest.
// Palette block (1 and 8 bits): the byte 12 and 256 entries of red, green, blue: the
// bitmap's palette entries (2 for 1 bit, 256 for 8 bits, as far as the palette has
// them), all other entries 0.
// Throws Error("The bitmap is empty") for a bitmap without pixels and
// Error("PCX: picture size W x H is too large for a PCX file") when a side exceeds 65535.
ByteVector Write(const Bitmap& bitmap);

// Appends the run-length encoding of one row (or plane) of bytes to `out`.
void EncodeRow(const std::uint8_t* bytes, std::size_t count, ByteVector& out);

}  // namespace pictorix::pcx
