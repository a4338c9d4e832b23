#pragma once
// PDF output: a one-page PDF 1.2 document that holds the picture once.
//
// The page is the picture's size in points (one pixel = one point), media box
// 0 0 W H. Its uncompressed content stream draws the image with its lower-left corner
// at 1, -1 and size W x H, so the picture sits one point right of and below the page's
// top-left corner, its last column and row fall off the page, and a one-point white
// strip stays along the left and top edges.
//
// The image XObject:
//   compression 0 ("None"): named "primage", 8 bits per component, no filter. Pictures
//     of 1, 4 or 8 bits per pixel are stored as one index byte per pixel with the colour
//     space [/Indexed /DeviceRGB 255 <RRGGBB RRGGBB ... >] (the picture's palette padded
//     with black to 256 entries); every other picture as DeviceRGB samples, red, green,
//     blue. Rows from the top.
//   compression 1 ("JPEG"): named "prjpegimage", DeviceRGB, Filter [/DCTDecode], the
//     picture as a baseline JPEG of quality 100.
// The information dictionary has empty Producer, Author, Creator, Keywords, Subject and
// Title, and CreationDate and ModDate both "D:YYYYMMDDHHmmSS" (local time, no zone).
// The output depends only on the picture, the compression and that time: two documents
// written at different times differ in those two dates alone.
//
// Throws Error("PDF: ...") for an empty bitmap and for a compression other than 0 or 1;
// JPEG encoding errors pass through.
#include <string>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix {

constexpr int kPdfCompressionNone = 0;
constexpr int kPdfCompressionJpeg = 1;

// A local calendar date and time as the document records it.
struct PdfDateTime {
    int year = 0;    // 0..9999
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59 (60 for a leap second)
};

// The current local date and time.
PdfDateTime CurrentPdfDateTime();

// "D:" and the 14 digits YYYYMMDDHHmmSS; each field is clamped to its range first.
std::string FormatPdfDate(const PdfDateTime& time);

// Writes the document, dated now.
ByteVector WritePdf(const Bitmap& bitmap, int compression);

// Writes the document dated `written` (for callers and tests that fix the time).
ByteVector WritePdf(const Bitmap& bitmap, int compression, const PdfDateTime& written);

}  // namespace pictorix
