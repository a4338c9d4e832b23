#pragma once
// Playback of metafiles onto a canvas: placeable Windows metafiles (WMF) and enhanced
// metafiles (EMF), by our own small rasteriser of the records that carry pictures and
// of the common drawing records.
//
// What is played:
//   bitmaps   WMF META_STRETCHDIB, META_DIBSTRETCHBLT, META_DIBBITBLT, META_SETDIBTODEV,
//             META_PATBLT; EMF EMR_STRETCHDIBITS, EMR_SETDIBITSTODEVICE, EMR_BITBLT,
//             EMR_STRETCHBLT, EMR_TRANSPARENTBLT, EMR_ALPHABLEND. The DIB is decoded
//             by the BMP reader (JPEG and PNG data inside a DIB by their codecs), scaled
//             nearest-neighbour into the destination rectangle and combined by the
//             record's ternary raster operation; a blit without a bitmap paints with
//             the brush. DIBs whose colour table holds palette indices are skipped.
//   shapes    lines, polylines, polygons and poly-polygons (alternate or winding fill),
//             Béziers, rectangles, rounded rectangles, ellipses, arcs, chords, pies,
//             single pixels, EMF regions filled or painted as rectangles.
//   paths     EMF BEGINPATH .. ENDPATH, then FILLPATH, STROKEPATH or STROKEANDFILLPATH;
//             WIDENPATH followed by FILLPATH fills the pen's outline with the brush.
//   objects   pens (null, or solid: dashed styles are drawn solid; one pixel wide when
//             cosmetic or thinner than 1.5 pixels, else the outline of the wide line
//             with round joins), brushes (solid, null, hatched, DIB pattern), the stock
//             objects of EMF.
//   state     window and viewport origin and extent (WMF: the window only; the viewport
//             is the picture), EMF map modes and world transform, fill mode, ROP2,
//             background mode and colour, arc direction, SaveDC/RestoreDC, clipping by
//             IntersectClipRect (an EMF clip region or clip path counts as its
//             bounding rectangle; ExcludeClipRect is ignored).
// Skipped: text (only the opaque background rectangle of ExtTextOut is painted), fonts,
// palettes, flood fills, EMF+ data in comments, escapes, bitmaps in the old
// device-dependent form, and every record that is not known.
//
// Pixels follow GDI: a pixel is covered by a filled shape when its centre is inside;
// one-pixel lines leave out their last point; a rectangle or ellipse from l,t to r,b
// covers the pixels l..r-1, t..b-1 with its outline, one less on the right and bottom
// without it.
//
// Damaged files are errors, never out-of-bounds reads: a record that runs past the end
// of the file, one shorter than its fields, or one whose counts or offsets do not fit
// in it throws Error("WMF: ...") or Error("EMF: ..."). Every loop is bounded by the
// file's size or the canvas, and the drawing work as a whole by 1024 fills of the whole
// canvas (plus 2^24 operations): a file that asks for more is refused as damaged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix::metafile {

enum class Kind { Wmf, Emf };

// What the header says: the kind and the picture's size in pixels at 96 dpi, and how
// the records' coordinates reach those pixels.
struct PictureInfo {
    Kind kind = Kind::Wmf;
    int width = 0;
    int height = 0;
    // WMF: the placeable bounding box (logical units) is the initial window.
    int boxLeft = 0, boxTop = 0, boxRight = 0, boxBottom = 0;
    // EMF: the frame in reference-device pixels, and the reference device's pixels per mm.
    double frameLeft = 0, frameTop = 0, frameWidth = 0, frameHeight = 0;
    double pixelsPerMmX = 96 / 25.4, pixelsPerMmY = 96 / 25.4;
    std::size_t firstRecord = 0;  // offset of the record after the header
};

// Tells the kind by content, whatever the file is called:
//   a placeable WMF: key 0x9AC6CDD7, checksum (XOR of the header's first ten words)
//     right, META_HEADER after it; size = bounding box in its units per inch at 96 dpi;
//   an EMF: EMR_HEADER with the " EMF" signature; size = the frame (0.01 mm) at 96 dpi,
//     or, when the frame is empty, the bounds (reference-device pixels) converted so.
// A Windows metafile without the placeable header is refused. Throws Error("WMF: ...")
// or Error("EMF: ...") naming the cause, and for sizes out of range.
PictureInfo Inspect(ByteSpan file);

// A 24-bit drawing surface that remembers which pixels the metafile has drawn.
class Canvas {
public:
    // Checks the size (CheckPictureSize) before allocating; every pixel starts as
    // `background`, not drawn.
    Canvas(int width, int height, Color background);
    int width() const { return width_; }
    int height() const { return height_; }
    Color pixel(int x, int y) const { return pixels_[Index(x, y)] & 0x00FFFFFF; }
    bool drawn(int x, int y) const { return (pixels_[Index(x, y)] & kDrawn) != 0; }
    // What lies under the picture; does not count as drawn.
    void preset(int x, int y, Color c) { pixels_[Index(x, y)] = c & 0x00FFFFFF; }
    void draw(int x, int y, Color c) { pixels_[Index(x, y)] = (c & 0x00FFFFFF) | kDrawn; }

private:
    static constexpr std::uint32_t kDrawn = 0x01000000;  // colours never use the top byte
    std::size_t Index(int x, int y) const { return std::size_t(y) * std::size_t(width_) + std::size_t(x); }
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

// Plays every record of the file (as Inspect described it) onto the canvas, which has
// the picture's size. Throws Error for damaged records; the canvas may then be partly
// drawn.
void Play(ByteSpan file, const PictureInfo& info, Canvas& canvas);

}  // namespace pictorix::metafile
