#pragma once
// Windows metafiles: plain (.wmf, placeable) and enhanced (.emf).
//
// Reading plays the metafile with our own player (metafile_player.h) onto the bitmap.
//
// Writing records the picture once, drawn at 0,0 at its own size, as one bitmap
// record that carries a device-independent bitmap in the picture's own pixel format
// (1, 4, 8 bits with a palette of 2^n entries, 16 bits as BI_BITFIELDS 5-6-5, 24 and
// 32 bits as BI_RGB), the same DIB that a BMP file holds after its file header.
// The reference device is a screen of 96 pixels per inch, so one pixel is 1/96 inch.
#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::metafile {

// Reads a placeable Windows metafile or an enhanced metafile, told apart by content
// whatever the file is called, and draws it onto `out`: the height, then the width of
// `out` are set to the metafile's size in pixels at 96 dpi (new area in the fill
// colour), then the metafile is played at 0,0. `out` keeps its pixel format: each pixel
// the metafile draws is stored with Bitmap::setPixel (the nearest palette entry in a
// palette format); pixels it does not draw keep what `out` held.
//   WMF size: the placeable bounding box in its units per inch, at 96 dpi.
//   EMF size: the frame (0.01 mm) at 96 dpi, the frame mapped onto the whole picture;
//     when the frame is empty, the bounds (reference-device pixels) instead.
// Our own writers' files come back at their size with their pixels unchanged.
// Refused with Error("WMF: ...") or Error("EMF: ...") naming the cause: a Windows
// metafile without the placeable header, a wrong placeable key or checksum, an EMF
// header without its signature, an empty or oversized picture, and damaged records.
// On error `out` is left unchanged.
void Read(ByteSpan file, Bitmap& out);

// Placeable Windows metafile:
//   22-byte placeable header: key 0x9AC6CDD7, handle 0, bounding box 0,0 to width,
//     height (units of 1/96 inch), 96 units per inch, reserved 0, and the checksum
//     (XOR of the header's first ten 16-bit words);
//   META_HEADER (memory metafile, version 3.0);
//   META_SETWINDOWORG 0,0 and META_SETWINDOWEXT width,height;
//   META_STRETCHDIB (SRCCOPY, DIB_RGB_COLORS) from the whole DIB to 0,0 width x height;
//   META_EOF.
// The format's coordinates are 16-bit: a side above 32767 pixels throws
// Error("WMF: ..."), as does an empty bitmap.
ByteVector WriteWmf(const Bitmap& bitmap);

// Enhanced metafile:
//   EMR_HEADER (108 bytes: bounds 0,0 to width-1,height-1 in pixels, frame in
//     0.01 mm at 96 dpi, a 1920 x 1440 pixel screen of 508 x 381 mm as reference
//     device, no description, no palette);
//   EMR_STRETCHDIBITS (SRCCOPY, DIB_RGB_COLORS) from the whole DIB to 0,0 width x height;
//   EMR_EOF.
// An empty bitmap, or one whose file would exceed 4 GiB, throws Error("EMF: ...").
ByteVector WriteEmf(const Bitmap& bitmap);

}  // namespace pictorix::metafile
