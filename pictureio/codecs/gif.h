#pragma once
// GIF files (.gif): reader through giflib. The writer belongs here too.
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

}  // namespace pictorix::gif
