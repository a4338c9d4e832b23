#pragma once
// Encapsulated PostScript files with a binary header and a TIFF preview (.eps): the
// content probe of the general reading route and the reader, which shows the preview.
// The PostScript itself is not interpreted, so a file without a TIFF preview (plain
// text EPS, or a binary header with a metafile preview only) is not read.
//
// The 30-byte DOS EPS header: the little-endian key 0xC6D3D0C5, then offset and length
// of the PostScript section, of a Windows metafile preview and of the TIFF preview
// (offsets 20 and 24), and a checksum, which is not used. The preview must lie inside
// the file after the header; it is decoded by the TIFF reader (tiff.h), so the bitmap
// holds what that reader makes of it.
#include <cstddef>
#include <cstdint>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::eps {

// Bytes that Probe looks at; the file must be strictly longer.
constexpr std::size_t kProbeHeaderLength = 30;

// True when the little-endian value at offset 0 is 0xC6D3D0C5, the TIFF preview's
// offset (offset 20) is above 30 and its length (offset 24) above 0, both read as
// signed little-endian 32-bit numbers. A preview that starts right after the header,
// at 30, is not accepted. False when `remaining` is not above kProbeHeaderLength or
// the header is shorter.
bool Probe(ByteSpan header, std::uint64_t remaining);

// Decodes the TIFF preview of a whole EPS file. `out` takes its size, pixel format,
// palette and pixels; its fill colour and transparency marker stay. Throws
// Error("EPS: <cause>") (for a damaged preview "EPS: TIFF: <cause>") and leaves `out`
// unchanged when the preview is missing, lies outside the file or cannot be decoded.
void Read(ByteSpan file, Bitmap& out);

}  // namespace pictorix::eps
