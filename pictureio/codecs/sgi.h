#pragma once
// SGI image files (.sgi, .rgb, .rgba, .bw): the content probe of the general reading
// route and the reader.
//
// The 512-byte header is followed by the samples, channel by channel, each channel's
// rows bottom-up, either verbatim or run-length encoded with a table of row offsets
// and lengths. Samples are 1 or 2 bytes (big-endian). What the bitmap holds:
//   1 channel            8 bits per pixel with the 256-level grey palette
//   2 channels           grey and alpha: alpha composited on white, 8-bit grey
//   3 channels           24 bits (red, green, blue)
//   4 channels           24 bits, alpha composited on white
// Dimension 1 is one row of one channel and dimension 2 one channel, whatever the
// header's row and channel counts say. More than 4 channels are refused.
//
// 16-bit samples become the nearest 8-bit value, v * 255 / 65535 rounded, which is
// (v + 128) / 257. Alpha is composited at the samples' own precision, then scaled:
//   c' = (c * a + max * (max - a) + max / 2) / max     (max = 255 or 65535).
// The colour-map field of the header is not used.
//
// Run-length rows: every offset and length is checked against the file, a row is
// decoded within its stated length, and a run that would go past the row's end, a row
// that ends before its last pixel, or data past the file's end is an error. Rows may
// share data, as the format allows, so every row is decoded once before the picture is
// allocated: the allocation follows what the file really holds, not what its header
// claims. Damaged or hostile files give Error("SGI: <cause>") and leave `out`
// unchanged.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::sgi {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 512;

// True when the big-endian 16-bit value at offset 0 is 474, byte 3 (bytes per
// channel) is 1 or 2 and the big-endian dimension at offset 4 is 1, 2 or 3. False
// when `remaining` is not above kProbeHeaderLength or the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes a whole SGI file. `out` takes its size, pixel format, palette and pixels;
// its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::sgi
