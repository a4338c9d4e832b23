#pragma once
// Truevision Targa files (.tga, .win, .vst, .vda, .icb): the content probe of the
// general reading route, the reader and our own writer.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::tga {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 18;

// True when byte 2 (image type) is 0, 1, 2, 3, 9, 10 or 11, byte 1 (colour-map type)
// is 0 or 1, byte 7 (colour-map entry size) is 15, 16, 24 or 32 and byte 16 (pixel
// size) is 8, 15, 16, 24 or 32. The entry size is tested even when the file has no
// colour map, so true-colour files whose header leaves it 0 are not taken. False when
// `remaining` is not above kProbeHeaderLength or the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes a whole Targa file: the 18-byte header, the image ID (skipped), the colour
// map when the colour-map type is 1 (also for true-colour pictures, where it is
// skipped), then the pixels, verbatim (types 1, 2, 3) or run-length encoded (types 9,
// 10, 11). Extension area and footer are not used. What the bitmap holds:
//   colour-mapped, 8-bit indices   8 bits; palette entry i is colour-map entry
//                                  i - first entry, black where the map has none
//   colour-mapped, 16-bit indices  24 bits, looked up (black beyond the map)
//   true colour 15, 16 bits        24 bits; 5-5-5 levels scaled to v * 255 / 31, rounded
//   true colour 24, 32 bits        24 bits
//   grey 8 bits                    8 bits with the 256-level grey palette
//   grey 16 bits (grey, alpha)     8 bits with the grey palette, alpha on white
// Colour-map entries are 15, 16, 24 or 32 bits like pixels, or 8 bits (grey levels).
// Alpha (the 4th byte of 32-bit pixels and map entries, the 2nd byte of 16-bit grey
// pixels, and bit 15 of 16-bit colour pixels when the descriptor declares attribute
// bits) is composited on white,
//   c' = (c * a + 255 * (255 - a) + 127) / 255
// except when every alpha value of the picture (or of the map) is 0: many writers
// leave that byte 0 without meaning transparency, and the picture stays opaque.
// Descriptor bit 5 set: rows from the top, else from the bottom; bit 4 set: pixels from
// right to left. Run-length packets may cross rows; pixels past the picture's end are
// ignored. The whole pixel stream is checked against the file before the picture is
// allocated. Damaged or hostile files give Error("TGA: <cause>") and leave `out`
// unchanged; `out` keeps its fill colour and transparency marker.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap as a run-length compressed Targa file (original format: no
// image ID, no extension area or footer).
//   1, 4, 8 bits  type 9 (colour-mapped), 8 bits per pixel: the pixel's palette
//                 index; a colour map of 256 entries of 24 bits (blue, green, red):
//                 the bitmap's palette, as far as 2^bits entries, then black (the
//                 colour that Bitmap::pixel gives an index beyond the palette).
//   16 bits       type 10 (true colour), 2 bytes per pixel: our 5-6-5 pixel as Targa's
//                 5-5-5 (the green's lowest bit is dropped), little-endian, with the
//                 attribute bit (bit 15) set.
//   24 bits       type 10, 3 bytes per pixel: blue, green, red.
//   32 bits       type 10, 4 bytes per pixel: blue, green, red, alpha 255 (the
//                 bitmap's 4th byte is unused), with 8 attribute bits declared, the
//                 usual form of 32-bit Targa files; readers show the picture opaque.
// 16-bit files declare no attribute bits; bit 15 is set all the same, so a reader that
// takes it as alpha sees opaque pixels too.
// Header: colour-map type 1 for type 9 and 0 for type 10; first colour-map entry 0,
// colour-map length 256 and entry size 24 (also for type 10, where no map follows,
// so that the content probe accepts the file); origin 0,0; the picture's size; pixel
// size 8, 16, 24 or 32; descriptor 0x20 (rows from the top, left to right) plus the
// attribute bits (8 for 32-bit pixels, else 0).
// Packets never cross a row and hold at most 128 pixels: a run of equal pixels (two
// or more, three or more for 1-byte pixels) as a run-length packet, everything else
// in raw packets.
// Throws Error("TGA: the bitmap is empty") for a bitmap without pixels (an empty file
// would not be a picture) and Error("TGA: picture size W x H is too large for a TGA
// file") when a side exceeds 65535.
ByteVector Write(const Bitmap& bitmap);

}  // namespace pictorix::tga
