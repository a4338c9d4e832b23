#pragma once
// Truevision Targa files (.tga): our own writer. The reader and its content probe
// belong here too.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::tga {

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
