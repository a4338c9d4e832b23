#pragma once
// Alias/Wavefront RLA files (.rla, .rpf): the content probe of the general reading
// route and the reader.
//
// A 740-byte big-endian header is followed by a table of one 32-bit file offset per
// scanline, scanline 0 being the bottom one. A scanline holds the colour channels,
// then the matte and auxiliary channels, each as a 16-bit byte count and that many
// bytes of run-length data: a signed count byte c, then for c >= 0 one value repeated
// c + 1 times, for c < 0 the next -c values as they stand.
//
// The picture is the active window (right - left + 1 by top - bottom + 1). Only 8-bit
// colour samples are read: 3 colour channels give 24 bits per pixel, 1 channel an
// 8-bit grey picture. Matte and auxiliary channels are not used, and the samples are
// taken as red, green, blue whatever the channel names say ("xyz" files too).
//
// Runs that go past the end of a scanline are cut off there; a scanline whose data
// ends before its last pixel, an offset or count outside the file, or a picture
// larger than its data could encode even with the longest runs (128 pixels from 2
// bytes) gives Error("RLA: <cause>") and leaves `out` unchanged.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::rla {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 740;

// True when the big-endian 16-bit revision at offset 26 is 0xFFFE and the 32-byte
// channel-name field at offset 580, up to its first zero byte and lower-cased, is
// "rgb" or "xyz". False when `remaining` is not above kProbeHeaderLength or the header
// is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the first picture of the file. `out` takes its size, pixel format, palette
// and pixels; its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::rla
