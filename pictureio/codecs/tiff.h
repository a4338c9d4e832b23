#pragma once
// TIFF files: the content probe of the general reading route and the reader
// (through libtiff), and the program's own writer (tiff_writer.cpp, no libtiff).
//
// Reading takes the first directory (page) of the file. What the bitmap holds:
//   - bilevel (1 bit, min-is-black or min-is-white): 1 bit per pixel with the
//     black-and-white palette (entry 0 black, entry 1 white); min-is-white data is
//     inverted so that the palette is always that one. Kept at 1 bit because fax
//     pages are large and every writer handles 1-bit pictures.
//   - grey 2, 4 and 8 bits: 8 bits per pixel with the 256-level grey palette; the
//     index is the grey level, v * 255 / (2^bits - 1), inverted for min-is-white.
//   - palette colour 1, 2, 4 and 8 bits: 8 bits per pixel, the palette being the
//     file's colour map (2^bits entries, each 16-bit value >> 8; a map whose values
//     are all below 256 is taken as 8-bit, as libtiff does for such old files).
//   - everything else that libtiff's RGBA interface can decode (RGB, YCbCr, CMYK,
//     CIE Lab, 16-bit samples, extra samples, ...): 24 bits per pixel, 16-bit
//     samples scaled to 8 bits as libtiff does it. Alpha is composited on white:
//     libtiff hands colours premultiplied by alpha, and c' = c + 255 - a, which for
//     unassociated alpha is exactly (c * a + 255 * (255 - a) + 127) / 255 of the
//     unpremultiplied c.
// Signed and floating-point samples are refused, since libtiff's RGBA interface
// would read them as unsigned and give wrong colours without a word; so are sample
// sizes that it cannot decode (12 or 32 bits), with libtiff's message.
//
// The Orientation tag is applied in full for every kind (all eight values, the
// transposing ones 5-8 included), so the bitmap is the picture as it is meant to be
// seen, with width and height swapped for 5-8.
//
// libtiff's messages never reach stderr: each open has its own handlers, which keep
// the first error text for the exception, and libtiff's process-wide handlers are
// switched off for messages that carry no handle.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::tiff {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 8;

// True when the header starts a classic TIFF: "II" (little-endian) or "MM"
// (big-endian), version 42, and the first directory's offset, read as a signed
// 32-bit number in that byte order, below `remaining` (the file size). False when
// `remaining` is not above kProbeHeaderLength or the header is shorter than that.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the first page (classic or BigTIFF). `out` takes its size, pixel format,
// palette and pixels; the fill colour and transparency marker stay. Throws
// Error("TIFF: <libtiff's message or the cause>") and leaves `out` unchanged when the
// file cannot be decoded.
void Read(ByteSpan file, Bitmap& out);

// Encodes the bitmap as a minimal uncompressed little-endian TIFF: header, the data
// pieces, then one directory, the whole picture in one strip, 87.7 pixels per inch,
// Software "Ombrelatix" (10 bytes, no terminating zero). The layout follows the
// bitmap's depth:
//   1 bit       bilevel, PhotometricInterpretation 1 (0 is black), 14 entries:
//               header, rows of ceil(W / 8) bytes, resolutions, text, directory.
//               The palette is not stored; a bit is 1 where the pixel's palette
//               colour is nearer white than black, so a palette whose entry 0 is
//               white does not come out inverted.
//   4, 8 bits   palette, 15 entries: header, colour map (2^b reds, greens, blues,
//               each component * 256; missing palette entries black), resolutions,
//               text, rows of the palette indices. A 4-bit picture is written
//               W rounded down to a multiple of 4 wide, dropping up to three pixels
//               at the right; narrower than 4 it keeps its whole width.
//   16, 24, 32  RGB, 8 bits per sample, 15 entries: header, resolutions, the three
//               BitsPerSample values, text, rows of red, green, blue. 16-bit pixels
//               are expanded to 24 bits as Bitmap does it.
// Rows top first. ImageWidth and ImageLength are SHORT, or LONG when above 65535.
// Throws Error("TIFF: the bitmap is empty") for a bitmap without pixels and
// Error("TIFF: the picture is too large for a TIFF file") beyond 4 GiB.
ByteVector Write(const Bitmap& bitmap);

}  // namespace pictorix::tiff
