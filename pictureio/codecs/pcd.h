#pragma once
// Kodak Photo-CD image pacs (.pcd): the content probe of the general reading route
// and the reader of the Base picture.
//
// An image pac holds the picture at several sizes; the first three are stored
// uncompressed: Base/16 (192 x 128) at offset 0x2000, Base/4 (384 x 256) at 0xB800
// and Base (768 x 512) at 0x30000. The reader takes the Base picture. Its data are
// 256 groups of two luma rows of 768 bytes followed by one row of 384 C1 and one of
// 384 C2 values, the chroma belonging to the two rows above it and sampled at the
// even columns (4:2:0, co-sited). Chroma is interpolated linearly between samples in
// both directions, the last sample repeating at the right and bottom edges.
//
// PhotoYCC to RGB, per pixel:
//   L  = 1.3584 * Y
//   C1 = 2.2179 * (Cb - 156)
//   C2 = 1.8215 * (Cr - 137)
//   R = L + C2,   G = L - 0.194 * C1 - 0.509 * C2,   B = L + C1
// each scaled by 255 / 346 so that the whole luma range (1.3584 * 255 = 346) fits
// 0..255, then rounded and clamped. This is the mapping of ImageMagick's PCD reader
// and writer, so its files come back with their own colours.
//
// The orientation is bits 0-1 of byte 0x0E02: 0 as stored, 1 turned 90 degrees
// counter-clockwise (the picture becomes 512 x 768), 2 turned 180 degrees, 3 turned
// 90 degrees clockwise. The bitmap is 24 bits per pixel.
//
// Overview files ("PCD_OPA") hold thumbnails only and are refused; a file too short
// for the Base picture is refused. Errors are Error("PCD: <cause>") and leave `out`
// unchanged.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::pcd {

// Bytes that Probe is given; the file must be strictly longer. Only the first 2051 of
// them are looked at.
constexpr std::size_t kProbeHeaderLength = 6144;

// True when bytes 0-6 read "PCD_OPA" or bytes 2048-2050 read "PCD" (both compared
// case-sensitively). False when `remaining` is not above kProbeHeaderLength or the
// header is shorter than 2051 bytes.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the Base picture. `out` takes its size, pixel format and pixels and loses
// its palette; its fill colour and transparency marker stay.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::pcd
