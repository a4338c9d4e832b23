#pragma once
// JPEG reading and writing through libjpeg (the libjpeg-turbo build of the 6b interface).
#include "pictureio/codecs/codec.h"

namespace pictorix::jpeg {

// Decodes a JPEG file and assigns the picture to `out`: greyscale files give an 8-bit
// bitmap with the 256-level grey palette, every other file a 24-bit bitmap (CMYK and
// YCCK files converted to RGB without colour management). `out` keeps only its fill
// colour; on failure it is left unchanged. Throws Error("JPEG: <libjpeg's message>"),
// also for files whose image data ends early or is cut by a marker.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap, converted to 24 bits, as a three-component RGB JPEG with
// libjpeg's defaults, `quality` (clamped to 1..100; 0 counts as 1) scaled with
// baseline-compatible tables, and libjpeg's simple progression script when
// `progressive` is on. An empty bitmap throws Error("JPEG: the bitmap is empty").
ByteVector Write(const Bitmap& bitmap, int quality, bool progressive);

}  // namespace pictorix::jpeg
