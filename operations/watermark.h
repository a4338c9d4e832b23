#pragma once
// Text and picture watermarks: a second picture drawn over the working bitmap at one of
// five anchor positions, optionally turned, blended with an opacity and optionally with
// one colour left out as transparent.
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "operations/text_render.h"

namespace pictorix {

// The picture watermark action: the file of field 9, placed by position code 1 with
// offsets 2 and 3 (units 4 and 5: "percents" of the picture's width or height, anything
// else pixels), opacity 6 in percent, rotation 7 in degrees, transparency 8 with the
// transparent colour of field 10. When field 9 names no file nothing happens. A file that
// cannot be read fails with Error and leaves the bitmap unchanged.
void DoPictureWatermark(const std::string& action, Bitmap& bitmap);

// The text watermark action: the text lines of fields 14 onward, drawn in the font of
// fields 11 (name), 12 (points), 13 (font-style text) and colour 10 on the background
// colour of field 9, make the text picture, which is written to TextPicturePath() (lib/
// is created when missing) and placed like a picture watermark whose transparent colour
// is white. Without lines, or with only empty ones, nothing is drawn or written. Every
// field is converted before anything is drawn or written.
void DoTextWatermark(const std::string& action, Bitmap& bitmap);

// The file every text watermark writes its text picture to: lib/text.bmp in the
// program's folder.
std::string TextPicturePath();

// The text picture: as wide as the widest line, the text height times the number of
// lines high, filled with `background` inside a one-pixel black outline; line i is drawn
// at (0, i x text height) with its cell painted in `background`, so the cells cover the
// outline where the lines reach the edges. Empty when there is nothing to draw.
Bitmap TextPicture(const std::vector<std::string>& lines, const TextFont& font, Color colour, Color background);

// Reads the watermark file with LoadPicture and places it as the overload below does.
// Throws Error naming the file when it cannot be read; the bitmap is then unchanged.
void ApplyWatermark(Bitmap& bitmap, const std::string& path, long long offsetX, long long offsetY, int opacity,
                    int position, bool transparency, double rotation, Color transparentColour);

// Turns the watermark by `rotation` degrees on white, puts its top-left corner at the
// anchor of `position`: 0 bottom-left, 1 bottom-right, 2 top-left, 3 top-right, 4 centre
// (X is measured from the left or right edge, Y from the top or bottom edge; the centre
// ignores the offsets) and blends it with alpha = opacity x 255 / 100.
// A position code outside 0-4 leaves the bitmap unchanged.
void ApplyWatermark(Bitmap& bitmap, Bitmap watermark, long long offsetX, long long offsetY, int opacity,
                    int position, bool transparency, double rotation, Color transparentColour);

// Mixes every watermark pixel into the bitmap pixel at (left + x, top + y) with
// GetMixedColor(picture, watermark, -1, 256, alpha); with `transparency` a watermark
// pixel equal to `transparentColour` is left out. Pixels outside the bitmap are not drawn.
// A bitmap with fewer bits per pixel takes the nearest colour its format holds.
void BlendWatermark(Bitmap& bitmap, const Bitmap& watermark, long long left, long long top, int alpha,
                    bool transparency, Color transparentColour);

// The colour the fraction t = (position - lowest) / (highest - lowest), clamped to 0..1,
// of the way from a to b: each channel is a + round((b - a) x t), halves to even. With
// lowest -1 and highest 256, alpha 255 still lets 1/257 of a through and alpha 0 adds
// 1/257 of b. When highest equals lowest, t is 1 from that position on and 0 below it.
Color GetMixedColor(Color a, Color b, int lowest, int highest, int position);

}  // namespace pictorix
