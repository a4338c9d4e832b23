#include "operations/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

#include "actions/action_string.h"
#include "core/error.h"
#include "core/rounding.h"

namespace pictorix {

namespace {

// Moves the pixels and palette of `bitmap` into the returned bitmap and makes `bitmap`
// width x height in format bpp with zeroed pixels. Every other setting (fill colour,
// transparency) stays with `bitmap`: a moved-from Bitmap keeps its scalar members and
// has empty vectors. On failure `bitmap` is left as it was.
Bitmap ReplacePixels(Bitmap& bitmap, int width, int height, int bpp) {
    Palette palette = bitmap.palette();
    Bitmap source(std::move(bitmap));
    try {
        bitmap.setPalette(std::move(palette));
        bitmap.reset(width, height, bpp);
    } catch (...) {
        bitmap = std::move(source);
        throw;
    }
    return source;
}

// ---------------------------------------------------------------------------
// Pixel copies of any format

inline unsigned GetIndexBits(const std::uint8_t* row, int x, int bpp) {
    if (bpp == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
}

inline void SetIndexBits(std::uint8_t* row, int x, int bpp, unsigned index) {
    if (bpp == 1) {
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<std::uint8_t>(index ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
    } else {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | index) : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
    }
}

// Copies `count` pixels from source pixel sx to target pixel dx.
void CopyRun(std::uint8_t* dst, int dx, const std::uint8_t* src, int sx, int count, int bpp) {
    if (bpp >= 8) {
        const std::size_t bytes = std::size_t(bpp / 8);
        std::memcpy(dst + dx * bytes, src + sx * bytes, count * bytes);
        return;
    }
    const int perByte = 8 / bpp;
    if (dx % perByte == 0 && sx % perByte == 0) {  // whole bytes, then the tail
        const int whole = count / perByte;
        std::memcpy(dst + dx / perByte, src + sx / perByte, std::size_t(whole));
        for (int i = whole * perByte; i < count; ++i) SetIndexBits(dst, dx + i, bpp, GetIndexBits(src, sx + i, bpp));
        return;
    }
    for (int i = 0; i < count; ++i) SetIndexBits(dst, dx + i, bpp, GetIndexBits(src, sx + i, bpp));
}

template <std::size_t Bytes>
void CopyMappedBytes(std::uint8_t* dst, const std::uint8_t* src, const int* columns, int x0, int x1) {
    for (int x = x0; x < x1; ++x) std::memcpy(dst + x * Bytes, src + std::size_t(columns[x]) * Bytes, Bytes);
}

// Copies target pixels [x0, x1) of one row from source pixels columns[x].
void CopyMapped(std::uint8_t* dst, const std::uint8_t* src, const int* columns, int x0, int x1, int bpp) {
    switch (bpp) {
        case 1:
        case 4:
            for (int x = x0; x < x1; ++x) SetIndexBits(dst, x, bpp, GetIndexBits(src, columns[x], bpp));
            break;
        case 8: CopyMappedBytes<1>(dst, src, columns, x0, x1); break;
        case 16: CopyMappedBytes<2>(dst, src, columns, x0, x1); break;
        case 24: CopyMappedBytes<3>(dst, src, columns, x0, x1); break;
        default: CopyMappedBytes<4>(dst, src, columns, x0, x1); break;
    }
}

// Source position of every target position when `span` source pixels from `first` on
// are spread over `size` target pixels by nearest-neighbour sampling at pixel centres:
// equal sizes map one to one; a span one pixel short repeats its middle pixel.
std::vector<int> SampleMap(int first, int span, int size) {
    std::vector<int> map(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        map[std::size_t(i)] = first + static_cast<int>((2 * std::int64_t(i) + 1) * span / (2 * std::int64_t(size)));
    return map;
}

// Makes `bitmap` width x height (keeping its format) and fills it from the rectangle
// of `span` pixels at (sx, sy) of the current picture, stretched by nearest-neighbour
// sampling when a span differs from the size. Target pixels whose source lies outside
// the picture take the fill colour.
void CopyRectangle(Bitmap& bitmap, int width, int height, int sx, int sy, int spanX, int spanY) {
    const int w0 = bitmap.width(), h0 = bitmap.height(), bpp = bitmap.bitsPerPixel();
    const std::vector<int> columns = SampleMap(sx, spanX, width);
    const std::vector<int> rows = SampleMap(sy, spanY, height);
    // Both maps are non-decreasing, so the inside positions form one interval.
    const auto inside = [](const std::vector<int>& map, int limit) {
        const auto lo = std::lower_bound(map.begin(), map.end(), 0);
        const auto hi = std::lower_bound(lo, map.end(), limit);
        return std::pair<int, int>(int(lo - map.begin()), int(hi - map.begin()));
    };
    const auto [x0, x1] = inside(columns, w0);
    const auto [y0, y1] = inside(rows, h0);

    Bitmap source = ReplacePixels(bitmap, width, height, bpp);
    if (x0 > 0 || x1 < width || y0 > 0 || y1 < height) bitmap.fill(bitmap.fillColor());
    if (x0 >= x1) return;
    const bool stretched = spanX != width;
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* src = source.row(rows[std::size_t(y)]);
        if (stretched) CopyMapped(bitmap.row(y), src, columns.data(), x0, x1, bpp);
        else CopyRun(bitmap.row(y), x0, src, columns[std::size_t(x0)], x1 - x0, bpp);
    }
}

void CheckResultSize(long long width, long long height, const std::string& what) {
    if (width <= 0 || height <= 0)
        throw Error(what + " leaves no pixels: the result would be " + std::to_string(width) + " x " +
                    std::to_string(height));
    CheckPictureSize(width, height, what.c_str());
}

// ---------------------------------------------------------------------------
// Rotation

inline void Copy24(std::uint8_t* dst, const std::uint8_t* src) { std::memcpy(dst, src, 3); }

// Quarter turns are cut into square tiles so that both the rows read and the rows
// written stay in the cache.
constexpr int kTile = 64;

std::vector<const std::uint8_t*> RowPointers(const Bitmap& bitmap) {
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(bitmap.height()));
    for (int y = 0; y < bitmap.height(); ++y) rows[std::size_t(y)] = bitmap.row(y);
    return rows;
}

// clockwise: target (x, y) = source (y, H - 1 - x); otherwise (W - 1 - y, x).
void QuarterTurn(Bitmap& bitmap, bool clockwise) {
    const int w = bitmap.width(), h = bitmap.height();
    const Bitmap source = ReplacePixels(bitmap, h, w, 24);
    const std::vector<const std::uint8_t*> srcRows = RowPointers(source);
    for (int ty = 0; ty < w; ty += kTile) {
        const int ty1 = std::min(ty + kTile, w);
        for (int tx = 0; tx < h; tx += kTile) {
            const int tx1 = std::min(tx + kTile, h);
            for (int y = ty; y < ty1; ++y) {
                std::uint8_t* dst = bitmap.row(y) + 3 * std::size_t(tx);
                if (clockwise) {
                    const std::size_t column = 3 * std::size_t(y);
                    for (int x = tx; x < tx1; ++x, dst += 3) Copy24(dst, srcRows[std::size_t(h - 1 - x)] + column);
                } else {
                    const std::size_t column = 3 * std::size_t(w - 1 - y);
                    for (int x = tx; x < tx1; ++x, dst += 3) Copy24(dst, srcRows[std::size_t(x)] + column);
                }
            }
        }
    }
}

// Reverses the pixels of a 24-bit row in place.
void ReverseRow(std::uint8_t* row, int width) {
    std::uint8_t* a = row;
    std::uint8_t* b = row + 3 * std::size_t(width > 0 ? width - 1 : 0);
    for (; a < b; a += 3, b -= 3) {
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
        std::swap(a[2], b[2]);
    }
}

// Target (x, y) = source (W - 1 - x, H - 1 - y), done in place.
void HalfTurn(Bitmap& bitmap) {
    const int w = bitmap.width(), h = bitmap.height();
    const std::size_t bytes = 3 * std::size_t(w);
    for (int y = 0, y2 = h - 1; y < y2; ++y, --y2) {
        std::uint8_t* top = bitmap.row(y);
        std::uint8_t* bottom = bitmap.row(y2) + bytes;
        for (std::size_t i = 0; i < bytes; i += 3) {
            bottom -= 3;
            std::swap(top[i], bottom[0]);
            std::swap(top[i + 1], bottom[1]);
            std::swap(top[i + 2], bottom[2]);
        }
    }
    if (h % 2 == 1) ReverseRow(bitmap.row(h / 2), w);
}

// Nearest integer with halves to even, like RoundToInt, for |v| < 2^31 and without
// library calls: the cast truncates whatever the rounding mode, and v - t is exact.
inline int RoundEven(double v) {
    const int t = static_cast<int>(v);
    const double d = v - t;
    if (d > 0.5 || (d == 0.5 && (t & 1))) return t + 1;
    if (d < -0.5 || (d == -0.5 && (t & 1))) return t - 1;
    return t;
}

// The target positions [first, last) of one row for which u = position + offset may
// satisfy lo <= u * factor <= hi, widened by two pixels so that rounding inside the
// per-pixel test decides. A factor near zero constrains nothing.
void NarrowRange(double factor, double lo, double hi, int offset, int& first, int& last) {
    if (std::fabs(factor) < 1e-9) return;
    double a = lo / factor, b = hi / factor;
    if (a > b) std::swap(a, b);
    const double from = std::floor(a) - offset - 2, to = std::ceil(b) - offset + 3;
    if (from > first) first = from >= last ? last : static_cast<int>(from);
    if (to < last) last = to <= first ? first : static_cast<int>(to);
}

void GeneralRotation(Bitmap& bitmap, Color background, double angle) {
    const int w = bitmap.width(), h = bitmap.height();
    // fmod is exact, so angles a whole number of turns apart turn alike.
    const double radians = std::fmod(angle, 360.0) * (std::numbers::pi / 180.0);
    const double c = std::cos(radians), s = std::sin(radians);

    const double cornerX[4] = {0.0, double(w), double(w), 0.0};
    const double cornerY[4] = {0.0, 0.0, double(h), double(h)};
    int left = 0, right = 0, top = 0, bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const int x = RoundToInt(cornerX[i] * c - cornerY[i] * s);
        const int y = RoundToInt(cornerX[i] * s + cornerY[i] * c);
        if (i == 0 || x < left) left = x;
        if (i == 0 || x > right) right = x;
        if (i == 0 || y < top) top = y;
        if (i == 0 || y > bottom) bottom = y;
    }
    const int width = right - left, height = bottom - top;
    CheckPictureSize(width, height, "Rotate");

    const Bitmap source = ReplacePixels(bitmap, width, height, 24);
    bitmap.setFillColor(background);
    if (w <= 0 || h <= 0) {
        bitmap.fill(background);
        return;
    }
    const std::uint8_t fill[3] = {std::uint8_t(GetB(background)), std::uint8_t(GetG(background)),
                                  std::uint8_t(GetR(background))};

    // Per-column products, so that every pixel computes exactly u*cos + v*sin and
    // -u*sin + v*cos with no accumulated error.
    std::vector<double> uc(static_cast<std::size_t>(width)), us(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        const double u = x + left;
        uc[std::size_t(x)] = u * c;
        us[std::size_t(x)] = u * s;
    }
    const std::vector<const std::uint8_t*> srcRows = RowPointers(source);
    for (int y = 0; y < height; ++y) {
        const double v = y + top;
        const double vs = v * s, vc = v * c;
        // Only the part of the row that the source can cover needs the exact test.
        int first = 0, last = width;
        NarrowRange(c, -0.5 - vs, w - 0.5 - vs, left, first, last);
        NarrowRange(-s, -0.5 - vc, h - 0.5 - vc, left, first, last);
        // Every pixel is written once: the source pixel or the background.
        std::uint8_t* dst = bitmap.row(y);
        for (int x = 0; x < first; ++x) Copy24(dst + 3 * std::size_t(x), fill);
        for (int x = first; x < last; ++x) {
            const int sx = RoundEven(uc[std::size_t(x)] + vs);
            const int sy = RoundEven(vc - us[std::size_t(x)]);
            const bool inside =
                static_cast<unsigned>(sx) < static_cast<unsigned>(w) && static_cast<unsigned>(sy) < static_cast<unsigned>(h);
            Copy24(dst + 3 * std::size_t(x), inside ? srcRows[std::size_t(sy)] + 3 * std::size_t(sx) : fill);
        }
        for (int x = last; x < width; ++x) Copy24(dst + 3 * std::size_t(x), fill);
    }
}

}  // namespace

void DoCrop(const std::string& action, Bitmap& bitmap) {
    const ActionFields fields(action);
    if (fields.text(0) != "crop") return;
    const std::string& mode = fields.text(1);
    const long long w0 = bitmap.width(), h0 = bitmap.height();
    const std::string what = "The action \"" + action + "\"";

    // Every field is converted and the size checked before the picture changes.
    if (mode == "edge") {
        const int left = fields.integer(4), right = fields.integer(5);
        const int top = fields.integer(2), bottom = fields.integer(3);
        const long long width = w0 - left - right, height = h0 - top - bottom;
        CheckResultSize(width, height, what);
        CopyRectangle(bitmap, int(width), int(height), left, top, int(width), int(height));
    } else if (mode == "center") {
        const int width = fields.integer(6), height = fields.integer(7);
        CheckResultSize(width, height, what);
        const int x0 = int(w0 / 2) - width / 2, y0 = int(h0 / 2) - height / 2;
        // The source rectangle spans 2 * (size / 2): one pixel short of an odd size.
        CopyRectangle(bitmap, width, height, x0, y0, 2 * (width / 2), 2 * (height / 2));
    }
}

void CanvasSize(Bitmap& bitmap, int width, int height) {
    CheckResultSize(width, height, "The canvas size");
    // One step gives the same pixels as width first, then height.
    bitmap.setSize(width, height);
}

void RotateBitmap(Bitmap& bitmap, Color background, double angle) {
    if (!std::isfinite(angle)) throw Error("Rotate: the angle is not a number");
    bitmap.setBitsPerPixel(24);
    // Whole quarter turns in either direction are exact pixel moves; sampling them
    // would shift the picture by a pixel and lose a row or column at the edge.
    double turn = std::fmod(angle, 360.0);  // exact
    if (turn < 0) turn += 360.0;
    if (angle != std::trunc(angle)) GeneralRotation(bitmap, background & 0x00FFFFFF, angle);
    else if (turn == 90) QuarterTurn(bitmap, true);
    else if (turn == 180) HalfTurn(bitmap);
    else if (turn == 270) QuarterTurn(bitmap, false);
    else if (turn != 0) GeneralRotation(bitmap, background & 0x00FFFFFF, angle);
}

void MirrorBitmap(Bitmap& bitmap, MirrorDirection direction) {
    bitmap.setBitsPerPixel(24);
    const int w = bitmap.width(), h = bitmap.height();
    if (direction == MirrorDirection::LeftRight) {
        for (int y = 0; y < h; ++y) ReverseRow(bitmap.row(y), w);
    } else {
        const std::size_t bytes = 3 * std::size_t(w);
        for (int y = 0, y2 = h - 1; y < y2; ++y, --y2) std::swap_ranges(bitmap.row(y), bitmap.row(y) + bytes, bitmap.row(y2));
    }
}

}  // namespace pictorix
