#include "engine/thumbnail.h"

#include "core/file_util.h"
#include "core/rounding.h"
#include "engine/naming.h"
#include "operations/resample.h"
#include "pictureio/picture_io.h"

namespace pictorix {

void ChangeColorDepth(Bitmap& bitmap, int value) {
    switch (value) {
        case 1: case 4: case 8: case 16: case 24: case 32:
            bitmap.setBitsPerPixel(value);
            break;
        default:
            break;
    }
}

void ResizeThumbnail(Bitmap& bitmap, int width, int height, int wt, int ht, int use) {
    const long long pw = bitmap.width();
    const long long ph = bitmap.height();
    if (pw <= 0 || ph <= 0) return;
    // Percentages divide as integers, dropping the remainder; the side that follows
    // the aspect ratio is computed in floating point and rounded halves to even.
    auto scaled = [](long long picture, int value, int unit) {
        return unit == 1 ? picture * value / 100 : static_cast<long long>(value);
    };
    long long w = 0;
    long long h = 0;
    switch (use) {
        case 1:
            w = scaled(pw, width, wt);
            h = RoundToInt64(static_cast<double>(ph) * static_cast<double>(w) / static_cast<double>(pw));
            break;
        case 2:
            h = scaled(ph, height, ht);
            w = RoundToInt64(static_cast<double>(pw) * static_cast<double>(h) / static_cast<double>(ph));
            break;
        default:  // 0, and values only an edited settings file can hold
            w = scaled(pw, width, wt);
            h = scaled(ph, height, ht);
            break;
    }
    CheckPictureSize(w, h, "Thumbnail");
    const int format = bitmap.bitsPerPixel();
    bitmap.setBitsPerPixel(24);
    ResampleBitmap(bitmap, static_cast<int>(w), static_cast<int>(h), 1);  // 1 = Triangle
    bitmap.setBitsPerPixel(format);
}

std::string ThumbnailPath(const std::string& sourcePath, int fileIndex, const ConversionSettings& settings) {
    std::string folder = settings.thumb.folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    const char* format = FormatName(settings.format.format);
    return folder +
           ExpandNameTemplate(settings.thumb.filename, sourcePath, fileIndex, settings.counterPosition,
                              ExtensionForm::AsIsWithoutDot) +
           "." + (format ? format : "");
}

ByteVector EncodeThumbnail(const Bitmap& picture, const ConversionSettings& settings) {
    Bitmap copy = picture;
    const ConversionSettings::Thumb& t = settings.thumb;
    ResizeThumbnail(copy, t.width, t.height, t.wt, t.ht, t.use);
    return EncodePicture(copy, settings.format);
}

void WriteThumbnail(const Bitmap& picture, const std::string& sourcePath, int fileIndex,
                    const ConversionSettings& settings) {
    ByteVector bytes = EncodeThumbnail(picture, settings);
    WriteFileAtomically(ThumbnailPath(sourcePath, fileIndex, settings), bytes);
}

}  // namespace pictorix
