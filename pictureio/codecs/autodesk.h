#pragma once
// Autodesk Animator pictures and cels (.pic, .cel): the content probe of the general
// reading route and the reader.
//
// The file is a 32-byte little-endian header (0x9119, width, height, x and y offset,
// bits per pixel 8, compression 0, data size, 16 reserved bytes), a palette of 256
// red, green, blue triples, then width x height palette indices, rows top first.
//
// The palette's components are 6-bit values (0-63), scaled to 8 bits as
// round(v * 255 / 63). A palette with any component above 63 cannot be a 6-bit one;
// some writers store 8-bit components, and such a palette is taken as it stands. The
// header's data size and offsets are not used. The bitmap is 8 bits per pixel with
// the file's 256 colours.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::autodesk {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 32;

// True when the little-endian 16-bit value at offset 0 is 0x9119, byte 10 is 8 and
// byte 11 is 0. False when `remaining` is not above kProbeHeaderLength or the header
// is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the picture. `out` takes its size, pixel format, palette and pixels; its
// fill colour and transparency marker stay. A damaged file gives
// Error("Autodesk: <cause>") and leaves `out` unchanged.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::autodesk
