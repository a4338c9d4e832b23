#pragma once
// Paint Shop Pro pictures (.psp, .pspimage): the content probe of the general reading
// route and the reader.
//
// The file starts with "Paint Shop Pro Image File\n\x1a", zero-padded to 32 bytes, and
// the little-endian major and minor version. Blocks follow, each with the signature
// "~BK\0", a 16-bit block id and the length of its data; files of major version 3
// (Paint Shop Pro 5) also carry the length of the block's first chunk in the header,
// later ones begin that chunk with its own length instead. Blocks used:
//   0  general image attributes  width, height, compression (0 none, 1 RLE, 2 LZ77),
//                                bit depth (1, 4, 8 or 24), greyscale flag
//   2  colour palette            entries blue, green, red, reserved
//   3  layer bank                layer blocks (4) with their channel blocks (5)
//   16 composite image bank      (major version 4 on) attribute blocks (17), one per
//                                composite image block (9, with palette and channel
//                                sub-blocks) or JPEG block (18)
// A channel holds one plane: red, green or blue of a 24-bit picture, or the palette
// indices of a 1, 4 or 8-bit one (packed most significant bits first). Rows are top
// first, either tightly packed or padded to 4 bytes: the channel's uncompressed length
// tells which. RLE data are a count byte c, then for c > 128 one value repeated
// c - 128 times, otherwise c values as they stand; LZ77 data are a zlib stream.
//
// What is read: the composite image of the composite image bank (the merged picture
// as Paint Shop Pro shows it) when the file has one stored in channels; otherwise the
// first raster layer that holds pixels. A composite image, or a layer that covers the
// whole canvas, keeps its format: 24 bits per pixel, or 8 bits with the file's palette
// (a greyscale picture without one gets grey levels). A layer that covers only part
// of the canvas is drawn at its place (image rectangle plus saved rectangle) on a
// white 24-bit canvas. The transparency mask of a 24-bit picture is composited on
// white, c' = (c * a + 255 * (255 - a) + 127) / 255; palette pictures keep their
// colours. JPEG-compressed channels and 48-bit pictures are refused.
//
// Every block, chunk and channel is checked against its parent and the file; damaged
// or hostile files give Error("PSP: <cause>") and leave `out` unchanged. A compressed
// channel is decoded only when its data could hold it (at most 63.5 bytes per RLE
// byte, 1032 per LZ77 byte), so the header cannot make the reader allocate more than
// the file can hold.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::psp {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 36;

// True when bytes 0-24 equal "Paint Shop Pro Image File" without regard to letter
// case and the little-endian 16-bit major version at offset 32 is 3 or more. False
// when `remaining` is not above kProbeHeaderLength or the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the picture as described above. `out` takes its size, pixel format, palette
// and pixels; its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::psp
