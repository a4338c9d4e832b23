#pragma once
// Reading any picture into the working bitmap and writing it in an output format.
#include <string>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix {

// The output formats in list order; the index is the settings' format.format.
constexpr int kFormatCount = 13;
const char* FormatName(int index);  // "BMP", "JPG", ... ; nullptr outside 0..12

// The extension of a file name: from the last "." after the last "/", with the
// dot; empty when there is none.
std::string FileExtension(const std::string& path);
std::string AsciiLower(std::string s);
std::string AsciiUpper(std::string s);

// Reads the file into `bitmap` by its extension (or by content for other
// extensions). Throws Error with the cause; the bitmap may be partly changed then.
void LoadPicture(const std::string& path, Bitmap& bitmap);

// Decodes bytes as the reader for `path`'s extension would (used by LoadPicture and
// by tests and fuzzers that have no file).
void DecodePicture(const std::string& path, ByteSpan data, Bitmap& bitmap);

// Encodes the bitmap in options.format. Throws Error for an index outside 0..12 and
// for formats without a writer yet.
ByteVector EncodePicture(const Bitmap& bitmap, const FormatOptions& options);

// Writes the bitmap to `path` in options.format: encoded first, then written to a
// temporary file in the target folder and renamed over the target, so a failure
// never leaves a partial file or destroys an existing one. With `durable` the file
// is on the disk when the call returns (the caller is about to delete the source).
void SavePicture(const std::string& path, const Bitmap& bitmap, const FormatOptions& options,
                 bool durable = false);

}  // namespace pictorix
