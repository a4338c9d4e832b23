#pragma once
// Portable bit, grey and pixel maps (.pbm, .pgm, .ppm; P1 to P6): the content probe
// of the general reading route and the reader.
//
// The header is the magic number, the width, the height and (except for bit maps) the
// largest sample value, separated by white space, with comments from "#" to the end
// of the line anywhere among them. The plain formats (P1, P2, P3) go on with decimal
// samples, comments allowed between them (P1's digits need no separator); the raw
// formats (P4, P5, P6) with binary samples after exactly one white-space character,
// 1 byte each, or 2 bytes big-endian when the largest value is above 255. Only the
// first picture of a file is read.
//
// What the bitmap holds:
//   P1, P4   1 bit per pixel, black-and-white palette (entry 0 black, entry 1 white);
//            a 1 in the file is black, so the bits are inverted
//   P2, P5   8 bits with the 256-level grey palette
//   P3, P6   24 bits
// A sample v with the largest value m becomes (v * 255 + m / 2) / m, the nearest
// 8-bit value (for m = 65535 that is (v + 128) / 257); a sample above m counts as m.
//
// Sizes are checked against the bytes that are left before anything is allocated.
// Damaged files give Error("PNM: <cause>") and leave `out` unchanged.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::pnm {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 10;

// True when byte 0 is "P" and byte 1 one of the digits "1" to "6". False when
// `remaining` is not above kProbeHeaderLength or the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the first picture of a portable map file. `out` takes its size, pixel
// format, palette and pixels; its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::pnm
