#pragma once
// The two steps after the actions: the colour depth change and the thumbnail copy.
#include <string>

#include "core/bitmap.h"
#include "engine/settings.h"

namespace pictorix {

// 1, 4, 8, 16, 24 or 32 bits per pixel; 0 and any other value keep the picture's own.
void ChangeColorDepth(Bitmap& bitmap, int value);

// Scales the picture to the thumbnail size: width and height in pixels or percent
// (unit 1), both set or one following the aspect ratio (use 1 width, 2 height).
// The resampling runs in 24 bits; the pixel format is set back afterwards.
void ResizeThumbnail(Bitmap& bitmap, int width, int height, int wt, int ht, int use);

// thumb.folder (with "/" added when missing), the expanded thumbnail template, "."
// and the output format's name in upper case.
std::string ThumbnailPath(const std::string& sourcePath, int fileIndex, const ConversionSettings& settings);

// The thumbnail of the picture, encoded in the output format; the picture is not changed.
ByteVector EncodeThumbnail(const Bitmap& picture, const ConversionSettings& settings);

// Makes the thumbnail from a copy of the picture and writes it, replacing an
// existing file without a question.
void WriteThumbnail(const Bitmap& picture, const std::string& sourcePath, int fileIndex,
                    const ConversionSettings& settings);

}  // namespace pictorix
