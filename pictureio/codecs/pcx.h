#pragma once
// ZSoft PCX files (.pcx, .pcc, .scr): the content probe of the general reading route,
// the reader and our own writer.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::pcx {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 128;

// True when byte 0 (manufacturer) is 10 or 12, byte 1 (version) is 0, 2, 3 or 5 and
// byte 2 (encoding) is 0 or 1. False when `remaining` is not above kProbeHeaderLength
// or the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes a whole PCX file: the 128-byte header, then the scan lines from the top,
// each the planes one after another, each plane `bytes per line` bytes (which may be
// more than the width needs, and odd), verbatim (encoding 0) or run-length encoded
// (encoding 1: a byte 0xC0 + n repeats the next byte n times, any other byte stands
// for itself). Runs may continue into the next plane or line. The picture is the
// window xmin..xmax, ymin..ymax. What the bitmap holds, by bits per pixel and planes:
//   1 bit, 1 plane        1 bit: colours 0 and 1 of the header palette; when those
//                         are equal (no palette given), the first two entries of a
//                         256-colour palette block after the picture data, when it
//                         has two different ones; else black and white
//   1 bit, 2 to 4 planes  4 bits: plane i gives bit i of the colour index
//   2 bits, 1 plane       4 bits (4 colours)
//   4 bits, 1 plane       4 bits
//   8 bits, 1 plane       8 bits with the palette block at the file's end (the byte
//                         12 then 256 entries of red, green, blue, 769 bytes); without
//                         one, the 256-level grey palette
//   8 bits, 3 or 4 planes 24 bits from the red, green and blue planes; a 4th plane
//                         (alpha) is not used
// Pictures of 4 bits get the header's 16-colour palette (red, green, blue), or the
// default EGA colours when the header palette is all 0 (no palette given). The picture
// data are checked against the file before the picture is allocated; for 8-bit
// pictures they must end before the palette block. Damaged or hostile files give
// Error("PCX: <cause>") and leave `out` unchanged; `out` keeps its fill colour and
// transparency marker.
void Read(ByteSpan file, Bitmap& out);

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
