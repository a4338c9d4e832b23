#pragma once
// GIF files (.gif): reader through giflib, and our own writer.
//
// Reading takes the first image of the file and nothing else: an animation gives its
// first frame, and the file is not read past that frame's data. What the bitmap holds:
//   - 8 bits per pixel, the frame's own width and height (the logical screen size and
//     the frame's position on it are not used);
//   - the frame's local colour map when it has one, else the global one, with exactly
//     the entries the file gives (2, 4, ... 256), so the palette may be shorter than
//     256; a file with neither map gets the 256-level grey palette, so that its
//     pixels stay distinguishable;
//   - the indices as stored, rows top first (interlaced frames are put in order).
//     An index beyond the colour map is kept; Bitmap::pixel reads it as black.
// Transparency, disposal and the other extension blocks are not used.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::gif {

// Decodes the first frame. `out` takes its size, pixel format, palette and pixels; the
// fill colour and transparency marker stay. Throws Error and leaves `out` unchanged:
//   "GIF: the file holds no picture"        the file ends (trailer) before any image;
//   "GIF: " + giflib's error text           not a GIF, damaged or truncated data;
//   "GIF: picture size W x H is not supported"  a frame of zero or absurd size.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap as a GIF file of one image of the picture's size (at 0,0, not
// interlaced), with a global colour table and no local one.
//
// Colours:
//   - 1, 4 and 8 bits keep their palette and their indices. The table has the
//     smallest power-of-two size (at least 2) that holds the palette's usable entries
//     (at most 2^bits) and every index the pixels use; entries beyond the palette are
//     black, as Bitmap::pixel reads such indices.
//   - 16, 24 and 32 bits are reduced by octree quantisation (octree.h) to at most 256
//     colours, the leaves' average colours; every pixel takes the nearest of them
//     (squared RGB distance, lowest index on ties), without dithering. A picture with
//     at most 256 distinct colours keeps them exactly. The table is padded with black
//     to the next power of two (at least 2).
// Transparency: when the bitmap is marked transparent, a graphic control extension
// names one table entry as transparent and the file is "GIF89a":
//   - palette pictures: the first usable palette entry of exactly the transparent
//     colour (pixels of other entries of that colour stay opaque, as in the PNG
//     writer); no such entry, no extension;
//   - direct colour: an entry of its own, after the others, when some pixel has
//     exactly that colour; the other colours are then quantised to at most 255
//     entries, and only pixels of exactly the transparent colour take that entry.
// Otherwise no extension is written and the file is "GIF87a".
//
// Image data: with `rle` false, LZW with the GIF string table (a clear code first,
// code sizes growing from the minimum code size + 1 up to 12 bits, a clear code
// whenever the table is full). With `rle` true, a code stream that any GIF decoder
// reads but that is built from runs of equal pixels without a string table: a run is
// sent as a literal, then as codes of the run entries that the decoder itself has
// added meanwhile (each emitted code of a run adds the run one pixel longer than the
// previous code), lengths 1, 1, 2, 2, 3, 3, ...; a clear code comes before the
// decoder's table would fill. Runs continue across rows. RLE files are larger than
// LZW ones for most pictures. The minimum code size is the table's bit count, at
// least 2.
//
// Throws Error("GIF: the bitmap is empty") for a bitmap without pixels and
// Error("GIF: picture size W x H is too large for a GIF file") when a side exceeds
// 65535.
ByteVector Write(const Bitmap& bitmap, bool rle);

}  // namespace pictorix::gif
