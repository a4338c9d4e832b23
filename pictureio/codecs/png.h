#pragma once
// PNG reading and writing through libpng.
#include <cstdint>

#include "pictureio/codecs/codec.h"

namespace pictorix::png {

// Content probe: `header` holds the first 8 bytes; true when they are the PNG
// signature and the file is longer than that (`remaining` > 8).
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes a PNG file of any colour type and bit depth and draws it onto `out`: `out`
// is set to 24 bits, then to the PNG's size (new area takes its fill colour), then
// every pixel is blended over what `out` holds there by its alpha
//   result = (src * a + dst * (255 - a) + 127) / 255   per channel,
// so opaque pixels replace and fully transparent ones keep the old content. Samples of
// 16 bits are rounded to 8 (v * 255 / 65535); gAMA and other colour chunks are
// ignored. On failure `out` is left unchanged and Error("PNG: <libpng's message>")
// is thrown.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap: 1, 4 and 8-bit bitmaps as palette PNGs of that bit depth with
// 2, 16 or 256 palette entries (missing entries black), all others as 8-bit RGB.
// A tRNS chunk marks the transparent colour when the bitmap is marked transparent.
// `level` is the deflate level (clamped to 0..9); `interlaced` selects Adam7.
// An empty bitmap throws Error("PNG: the bitmap is empty").
ByteVector Write(const Bitmap& bitmap, int level, bool interlaced);

}  // namespace pictorix::png
