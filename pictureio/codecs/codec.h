#pragma once
// Common ground of the format codecs. A codec reads a whole file's bytes into a
// Bitmap and writes a Bitmap into bytes; the dispatch (picture_io.h) does the file
// handling, so codecs never touch the file system and every read is bounds-checked
// against the span they are given.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"

namespace pictorix {

using ByteSpan = std::span<const std::uint8_t>;
using ByteVector = std::vector<std::uint8_t>;

// Options of the output formats, as step 3 and the settings' "format" section hold them.
struct FormatOptions {
    int format = 1;              // output format index 0..12
    int jpegQuality = 75;        // 0..100
    bool progressiveJpeg = false;
    int pngLevel = 8;            // deflate level; the settings hold 1..9, 0 = none
    bool interlacedPng = false;
    int gifCompression = 0;      // 0 LZW, other RLE
    int jp2Quality = 75;
    int pdfCompression = 1;      // 0 none, 1 JPEG
};

// A reader that takes part in content probing of the general route.
// `headerLength` bytes are needed; the probe is asked only when the file is
// strictly longer than that, and gets the file's first bytes.
struct ProbingReader {
    const char* name;
    std::size_t headerLength;
    bool (*accepts)(ByteSpan header, std::uint64_t remaining);
    void (*read)(ByteSpan file, Bitmap& out);  // null: recognised but never decoded
};

// Little helpers for reading fixed-layout headers out of a span.
inline std::uint16_t ReadLE16(ByteSpan b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t ReadLE32(ByteSpan b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
inline std::uint16_t ReadBE16(ByteSpan b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
inline std::uint32_t ReadBE32(ByteSpan b, std::size_t at) {
    return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
           (static_cast<std::uint32_t>(b[at + 2]) << 8) | static_cast<std::uint32_t>(b[at + 3]);
}
inline void PutLE16(ByteVector& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
inline void PutLE32(ByteVector& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

}  // namespace pictorix
