#pragma once
// Photoshop files (.psd, .pdd): the content probe of the general reading route and
// the reader of the merged picture (the composite that Photoshop stores after the
// layers; the layers themselves are skipped).
//
// Layout: a 26-byte header, then three sections each preceded by its 32-bit length
// (colour mode data, image resources, layers and masks), then the merged picture:
// a compression code (0 raw, 1 PackBits) and the channels one after another, rows top
// first, each channel's rows for RLE listed in a table of 16-bit byte counts. Every
// length, count and offset is checked against the file before it is used.
//
// What the bitmap holds, by colour mode (samples of 8 or 16 bits; 16-bit values
// become the nearest 8-bit value, (v + 128) / 257):
//   bitmap (1 bit)        1 bit per pixel, black-and-white palette (entry 0 black);
//                         the file's 1 means black, so the bits are inverted
//   greyscale, duotone    8 bits with the 256-level grey palette (duotone pictures
//                         store their merged picture as grey levels)
//   indexed (8 bits)      8 bits with the file's 256-colour table
//   RGB                   24 bits
//   CMYK                  24 bits; Photoshop stores the inks inverted (255 = no ink),
//                         so with stored values c, m, y, k: red = c * k / 255,
//                         green = m * k / 255, blue = y * k / 255, rounded
// Channels beyond the colour channels (saved selections, spot colours, masks) are not
// used, with one exception: when the layer section's layer count is negative, the
// first of them is the merged picture's transparency. Photoshop mattes partly
// transparent pixels against white when it stores them, so their colours stand as
// they are; fully transparent pixels become white (their stored colours are often
// left over from what was deleted). Grey, duotone, RGB and CMYK pictures only.
// Lab, multichannel, 32-bit samples and ZIP compression are refused; so is version 2
// (large document format).
//
// A PackBits row must fill its row within its stated byte count; a run that passes the
// row's end is an error. Since each row's byte count bounds what it can hold, the
// picture is allocated only when the counts can fill it. Damaged or hostile files
// give Error("PSD: <cause>") and leave `out` unchanged.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::psd {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 26;

// True when bytes 0-3, upper-cased, read "8BPS" and the big-endian version at offset
// 4 is 1. False when `remaining` is not above kProbeHeaderLength or the header is
// shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the merged picture of a whole Photoshop file. `out` takes its size, pixel
// format, palette and pixels; its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::psd
