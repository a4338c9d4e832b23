#include "core/bitmap.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "core/error.h"

namespace pictorix {

// ---------------------------------------------------------------------------
// Fixed palettes

const Palette& BlackWhitePalette() {
    static const Palette p{kBlack, kWhite};
    return p;
}

const Palette& StandardPalette16() {
    // VGA colours in the order of the Windows 16-colour palette.
    static const Palette p{
        RGB(0x00, 0x00, 0x00), RGB(0x80, 0x00, 0x00), RGB(0x00, 0x80, 0x00), RGB(0x80, 0x80, 0x00),
        RGB(0x00, 0x00, 0x80), RGB(0x80, 0x00, 0x80), RGB(0x00, 0x80, 0x80), RGB(0xC0, 0xC0, 0xC0),
        RGB(0x80, 0x80, 0x80), RGB(0xFF, 0x00, 0x00), RGB(0x00, 0xFF, 0x00), RGB(0xFF, 0xFF, 0x00),
        RGB(0x00, 0x00, 0xFF), RGB(0xFF, 0x00, 0xFF), RGB(0x00, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF),
    };
    return p;
}

namespace {

Palette MakeHalftonePalette() {
    Palette p;
    p.reserve(256);
    // The first ten static colours of the Windows system palette.
    const Color first[10] = {
        RGB(0x00, 0x00, 0x00), RGB(0x80, 0x00, 0x00), RGB(0x00, 0x80, 0x00), RGB(0x80, 0x80, 0x00),
        RGB(0x00, 0x00, 0x80), RGB(0x80, 0x00, 0x80), RGB(0x00, 0x80, 0x80), RGB(0xC0, 0xC0, 0xC0),
        RGB(0xC0, 0xDC, 0xC0), RGB(0xA6, 0xCA, 0xF0),
    };
    p.insert(p.end(), std::begin(first), std::end(first));
    // 6x6x6 colour cube, red varying fastest, then green, then blue:
    // index 10 + r + 6*g + 36*b for levels r, g, b in 0..5.
    for (unsigned b = 0; b < 6; ++b)
        for (unsigned g = 0; g < 6; ++g)
            for (unsigned r = 0; r < 6; ++r) p.push_back(RGB(r * 0x33, g * 0x33, b * 0x33));
    // 20 greys strictly between black and white, evenly spaced: level = round(255*k/21).
    for (unsigned k = 1; k <= 20; ++k) {
        const unsigned v = (255 * k * 2 + 21) / 42;  // 255*k/21 rounded (never exactly .5)
        p.push_back(RGB(v, v, v));
    }
    // The last ten static colours.
    const Color last[10] = {
        RGB(0xFF, 0xFB, 0xF0), RGB(0xA0, 0xA0, 0xA4), RGB(0x80, 0x80, 0x80), RGB(0xFF, 0x00, 0x00),
        RGB(0x00, 0xFF, 0x00), RGB(0xFF, 0xFF, 0x00), RGB(0x00, 0x00, 0xFF), RGB(0xFF, 0x00, 0xFF),
        RGB(0x00, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF),
    };
    p.insert(p.end(), std::begin(last), std::end(last));
    assert(p.size() == 256);
    return p;
}

Palette MakeGreyPalette() {
    Palette p(256);
    for (unsigned i = 0; i < 256; ++i) p[i] = RGB(i, i, i);
    return p;
}

}  // namespace

const Palette& HalftonePalette() {
    static const Palette p = MakeHalftonePalette();
    return p;
}

const Palette& GreyPalette256() {
    static const Palette p = MakeGreyPalette();
    return p;
}

// ---------------------------------------------------------------------------
// Nearest colour

namespace {

inline unsigned Dist2(Color a, Color b) {
    const int dr = int(GetR(a)) - int(GetR(b));
    const int dg = int(GetG(a)) - int(GetG(b));
    const int db = int(GetB(a)) - int(GetB(b));
    return unsigned(dr * dr + dg * dg + db * db);
}

int NearestIn(const Color* entries, int count, Color c) {
    int best = 0;
    unsigned bestDist = std::numeric_limits<unsigned>::max();
    for (int i = 0; i < count; ++i) {
        const unsigned d = Dist2(entries[i], c);
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

// Exact nearest-colour search for many lookups against one palette.
//
// RGB space is cut into 16x16x16 cells of 16 levels per channel. For each cell used we
// keep (built on first use) the palette entries that can be nearest to, or tie with the
// nearest of, some colour in the cell: an entry whose smallest possible distance to the
// cell exceeds the smallest largest-distance of any entry can never win. Candidates stay
// in index order, so "lowest index wins ties" holds and results equal a full search.
// A direct-mapped cache in front catches the repeated colours of real pictures.
class NearestMapper {
public:
    // Only the first `count` entries are candidates (a palette may hold more entries
    // than the pixel format can address).
    NearestMapper(const Palette& palette, int count)
        : palette_(palette), count_(std::max(count, 0)), cellStart_(kCells, kUnbuilt), cellEnd_(kCells, 0) {
        cacheKey_.fill(kEmptyKey);
    }

    int operator()(Color c) {
        if (count_ == 0) return 0;
        c &= 0x00FFFFFF;
        const std::size_t slot = ((c * 2654435761u) >> 20) & (kCacheSize - 1);
        if (cacheKey_[slot] == c) return cacheValue_[slot];
        const int cell = int(GetR(c) >> kShift) | int(GetG(c) >> kShift) << kBits |
                         int(GetB(c) >> kShift) << (2 * kBits);
        if (cellStart_[cell] == kUnbuilt) build(cell);
        int best = 0;
        unsigned bestDist = std::numeric_limits<unsigned>::max();
        for (std::uint32_t k = cellStart_[cell]; k < cellEnd_[cell]; ++k) {
            const int i = cand_[k];
            const unsigned d = Dist2(palette_[i], c);
            if (d < bestDist) {
                bestDist = d;
                best = i;
            }
        }
        cacheKey_[slot] = c;
        cacheValue_[slot] = static_cast<std::uint16_t>(best);
        return best;
    }

private:
    static constexpr int kBits = 4;                  // cells per channel = 1 << kBits
    static constexpr int kShift = 8 - kBits;
    static constexpr int kSpan = (1 << kShift) - 1;  // levels in a cell, minus one
    static constexpr int kCells = 1 << (3 * kBits);
    static constexpr std::uint32_t kUnbuilt = 0xFFFFFFFF;
    static constexpr std::size_t kCacheSize = 4096;
    static constexpr Color kEmptyKey = 0xFFFFFFFF;  // never a masked colour

    void build(int cell) {
        const int mask = (1 << kBits) - 1;
        const int lo[3] = {(cell & mask) << kShift, ((cell >> kBits) & mask) << kShift,
                           ((cell >> (2 * kBits)) & mask) << kShift};
        minDist_.resize(std::size_t(count_));
        unsigned minMax = std::numeric_limits<unsigned>::max();
        for (int i = 0; i < count_; ++i) {
            const int ch[3] = {int(GetR(palette_[i])), int(GetG(palette_[i])), int(GetB(palette_[i]))};
            unsigned mn = 0, mx = 0;
            for (int k = 0; k < 3; ++k) {
                const int a = lo[k], b = lo[k] + kSpan;
                const int dNear = ch[k] < a ? a - ch[k] : (ch[k] > b ? ch[k] - b : 0);
                const int dFar = std::max(ch[k] - a, b - ch[k]);
                mn += unsigned(dNear * dNear);
                mx += unsigned(dFar * dFar);
            }
            minDist_[i] = mn;
            minMax = std::min(minMax, mx);
        }
        cellStart_[cell] = static_cast<std::uint32_t>(cand_.size());
        for (int i = 0; i < count_; ++i)
            if (minDist_[i] <= minMax) cand_.push_back(static_cast<std::uint16_t>(i));
        cellEnd_[cell] = static_cast<std::uint32_t>(cand_.size());
    }

    const Palette& palette_;
    int count_;
    std::vector<std::uint32_t> cellStart_, cellEnd_;
    std::vector<std::uint16_t> cand_;
    std::vector<unsigned> minDist_;
    std::array<Color, kCacheSize> cacheKey_{};
    std::array<std::uint16_t, kCacheSize> cacheValue_{};
};

bool IsPaletteFormat(int bpp) { return bpp <= 8; }

bool IsValidFormat(int bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

// Number of palette entries that a palette format can address and the palette holds.
int UsableEntries(const Palette& palette, int bpp) {
    return static_cast<int>(std::min<std::size_t>(palette.size(), std::size_t(1) << bpp));
}

const Palette& FixedPaletteFor(int bpp) {
    switch (bpp) {
        case 1: return BlackWhitePalette();
        case 4: return StandardPalette16();
        default: return HalftonePalette();
    }
}

inline std::uint16_t To565(Color c) {
    return static_cast<std::uint16_t>(((GetR(c) >> 3) << 11) | ((GetG(c) >> 2) << 5) | (GetB(c) >> 3));
}

inline Color From565(unsigned v) {
    const unsigned r5 = (v >> 11) & 0x1F, g6 = (v >> 5) & 0x3F, b5 = v & 0x1F;
    return RGB((r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2));
}

inline int GetIndexRaw(const std::uint8_t* row, int x, int bpp) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default: return row[x];
    }
}

inline void SetIndexRaw(std::uint8_t* row, int x, int bpp, int index) {
    switch (bpp) {
        case 1: {
            const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
            if (index & 1) row[x >> 3] |= bit;
            else row[x >> 3] &= static_cast<std::uint8_t>(~bit);
            break;
        }
        case 4: {
            std::uint8_t& b = row[x >> 1];
            if (x & 1) b = static_cast<std::uint8_t>((b & 0xF0) | (index & 0x0F));
            else b = static_cast<std::uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
            break;
        }
        default: row[x] = static_cast<std::uint8_t>(index); break;
    }
}

// Colour of a direct-colour pixel (16, 24, 32 bits).
inline Color GetDirect(const std::uint8_t* row, int x, int bpp) {
    switch (bpp) {
        case 16: {
            const std::uint8_t* p = row + 2 * std::size_t(x);
            return From565(unsigned(p[0]) | unsigned(p[1]) << 8);
        }
        case 24: {
            const std::uint8_t* p = row + 3 * std::size_t(x);
            return RGB(p[2], p[1], p[0]);
        }
        default: {
            const std::uint8_t* p = row + 4 * std::size_t(x);
            return RGB(p[2], p[1], p[0]);
        }
    }
}

inline void SetDirect(std::uint8_t* row, int x, int bpp, Color c) {
    switch (bpp) {
        case 16: {
            const std::uint16_t v = To565(c);
            std::uint8_t* p = row + 2 * std::size_t(x);
            p[0] = static_cast<std::uint8_t>(v & 0xFF);
            p[1] = static_cast<std::uint8_t>(v >> 8);
            break;
        }
        case 24: {
            std::uint8_t* p = row + 3 * std::size_t(x);
            p[0] = static_cast<std::uint8_t>(GetB(c));
            p[1] = static_cast<std::uint8_t>(GetG(c));
            p[2] = static_cast<std::uint8_t>(GetR(c));
            break;
        }
        default: {
            std::uint8_t* p = row + 4 * std::size_t(x);
            p[0] = static_cast<std::uint8_t>(GetB(c));
            p[1] = static_cast<std::uint8_t>(GetG(c));
            p[2] = static_cast<std::uint8_t>(GetR(c));
            p[3] = 0;
            break;
        }
    }
}

// Palette entry i, or black for an index the palette does not hold.
inline Color EntryOrBlack(const Palette& palette, int i) {
    return static_cast<std::size_t>(i) < palette.size() ? (palette[i] & 0x00FFFFFF) : kBlack;
}

// Writes palette index `index` (palette formats) or colour `c` into pixels [0, width) of
// a row whose bytes are all zero beforehand. Padding stays zero.
void FillRowRaw(std::uint8_t* row, int width, int bpp, int index, Color c) {
    if (width <= 0) return;
    switch (bpp) {
        case 1:
        case 4: {
            const int perByte = 8 / bpp;
            const std::uint8_t full = bpp == 1 ? ((index & 1) ? 0xFF : 0x00)
                                               : static_cast<std::uint8_t>((index & 0x0F) * 0x11);
            const int fullBytes = width / perByte;
            std::memset(row, full, std::size_t(fullBytes));
            for (int x = fullBytes * perByte; x < width; ++x) SetIndexRaw(row, x, bpp, index);
            break;
        }
        case 8: std::memset(row, index & 0xFF, std::size_t(width)); break;
        default:
            for (int x = 0; x < width; ++x) SetDirect(row, x, bpp, c);
            break;
    }
}

// Whole-row readers and writers with the format switch outside the pixel loop.
void ReadIndices(const std::uint8_t* row, int width, int bpp, std::uint8_t* out) {
    switch (bpp) {
        case 1:
            for (int x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            for (int x = 0; x < width; ++x) out[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
            break;
        default: std::memcpy(out, row, std::size_t(width)); break;
    }
}

// The row must be zero beforehand (1 and 4 bits are OR-ed in).
void WriteIndices(std::uint8_t* row, int width, int bpp, const std::uint8_t* in) {
    switch (bpp) {
        case 1:
            for (int x = 0; x < width; ++x)
                row[x >> 3] |= static_cast<std::uint8_t>((in[x] & 1) << (7 - (x & 7)));
            break;
        case 4:
            for (int x = 0; x < width; ++x)
                row[x >> 1] |= static_cast<std::uint8_t>((in[x] & 0x0F) << ((x & 1) ? 0 : 4));
            break;
        default: std::memcpy(row, in, std::size_t(width)); break;
    }
}

void ReadDirect(const std::uint8_t* row, int width, int bpp, Color* out) {
    switch (bpp) {
        case 16:
            for (int x = 0; x < width; ++x, row += 2) out[x] = From565(unsigned(row[0]) | unsigned(row[1]) << 8);
            break;
        case 24:
            for (int x = 0; x < width; ++x, row += 3) out[x] = RGB(row[2], row[1], row[0]);
            break;
        default:
            for (int x = 0; x < width; ++x, row += 4) out[x] = RGB(row[2], row[1], row[0]);
            break;
    }
}

// One row of direct colour to another direct format, without going through colours.
void ConvertDirectRow(const std::uint8_t* src, int srcBpp, std::uint8_t* dst, int dstBpp, int width) {
    const auto expand5 = [](unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
    const auto expand6 = [](unsigned v) { return static_cast<std::uint8_t>((v << 2) | (v >> 4)); };
    if (srcBpp == 16) {
        const std::size_t step = std::size_t(dstBpp / 8);
        for (int x = 0; x < width; ++x, src += 2, dst += step) {
            const unsigned v = unsigned(src[0]) | unsigned(src[1]) << 8;
            dst[0] = expand5(v & 0x1F);
            dst[1] = expand6((v >> 5) & 0x3F);
            dst[2] = expand5(v >> 11);
            if (dstBpp == 32) dst[3] = 0;
        }
    } else if (dstBpp == 16) {
        const std::size_t step = std::size_t(srcBpp / 8);
        for (int x = 0; x < width; ++x, src += step, dst += 2) {
            const unsigned v =
                ((unsigned(src[2]) >> 3) << 11) | ((unsigned(src[1]) >> 2) << 5) | (unsigned(src[0]) >> 3);
            dst[0] = static_cast<std::uint8_t>(v & 0xFF);
            dst[1] = static_cast<std::uint8_t>(v >> 8);
        }
    } else if (dstBpp == 32) {  // from 24
        for (int x = 0; x < width; ++x, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
    } else {  // 32 to 24
        for (int x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
}

// Palette indices to direct colour through a table of the pixel bytes of every index.
void WriteIndexedDirect(std::uint8_t* row, int width, int bpp, const std::uint8_t* indices,
                        const std::uint8_t (*bytes)[4]) {
    switch (bpp) {
        case 16:
            for (int x = 0; x < width; ++x, row += 2) std::memcpy(row, bytes[indices[x]], 2);
            break;
        case 24:
            for (int x = 0; x < width; ++x, row += 3) std::memcpy(row, bytes[indices[x]], 3);
            break;
        default:
            for (int x = 0; x < width; ++x, row += 4) std::memcpy(row, bytes[indices[x]], 4);
            break;
    }
}

}  // namespace

int NearestPaletteIndex(const Palette& palette, Color c) {
    return NearestIn(palette.data(), static_cast<int>(palette.size()), c & 0x00FFFFFF);
}

void CheckPictureSize(long long width, long long height, const char* what) {
    const bool bad = width < 0 || height < 0 || width > kMaxDimension || height > kMaxDimension ||
                     static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels;
    if (bad)
        throw Error(std::string(what ? what : "picture") + ": picture size " + std::to_string(width) +
                    " x " + std::to_string(height) + " is not supported");
}

void CheckPictureBytes(long long width, long long height, int bitsPerPixel, const char* what) {
    CheckPictureSize(width, height, what);
    const std::uint64_t bytes = std::uint64_t(Bitmap::strideFor(static_cast<int>(width), bitsPerPixel)) *
                                static_cast<std::uint64_t>(height);
    if (bytes > kMaxPictureBytes)
        throw Error(std::string(what ? what : "picture") + ": picture size " + std::to_string(width) + " x " +
                    std::to_string(height) + " at " + std::to_string(bitsPerPixel) +
                    " bits per pixel needs more than " + std::to_string(kMaxPictureBytes >> 20) +
                    " MB of memory");
}

// ---------------------------------------------------------------------------
// Bitmap

std::size_t Bitmap::strideFor(int width, int bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    const std::uint64_t bitsPerRow = std::uint64_t(width) * std::uint64_t(bitsPerPixel);
    return static_cast<std::size_t>((bitsPerRow + 31) / 32 * 4);
}

Bitmap::Bitmap(int width, int height, int bitsPerPixel) {
    if (!IsValidFormat(bitsPerPixel))
        throw Error("Bitmap: " + std::to_string(bitsPerPixel) + " bits per pixel is not supported");
    CheckPictureBytes(width, height, bitsPerPixel, "Bitmap");
    bpp_ = bitsPerPixel;
    if (IsPaletteFormat(bpp_)) palette_ = FixedPaletteFor(bpp_);
    width_ = width;
    height_ = height;
    stride_ = strideFor(width_, bpp_);
    data_.assign(stride_ * std::size_t(height_), 0);
    fill(fill_);
}

void Bitmap::reset(int width, int height, int bitsPerPixel) {
    resetForOverwrite(width, height, bitsPerPixel);
    std::fill(data_.begin(), data_.end(), std::uint8_t(0));
}

void Bitmap::resetForOverwrite(int width, int height, int bitsPerPixel) {
    if (!IsValidFormat(bitsPerPixel))
        throw Error("Bitmap: " + std::to_string(bitsPerPixel) + " bits per pixel is not supported");
    CheckPictureBytes(width, height, bitsPerPixel, "Bitmap");
    const std::size_t stride = strideFor(width, bitsPerPixel);
    PixelBytes().swap(data_);  // free the old pixels before allocating
    // Empty until the allocation succeeded, so a failure never leaves a size without pixels.
    width_ = height_ = 0;
    stride_ = 0;
    data_.resize(stride * std::size_t(height));
    bpp_ = bitsPerPixel;
    width_ = width;
    height_ = height;
    stride_ = stride;
    const std::size_t used = (std::size_t(width) * std::size_t(bitsPerPixel) + 7) / 8;
    if (used < stride)
        for (int y = 0; y < height; ++y) std::memset(row(y) + used, 0, stride - used);
}

int Bitmap::index(int x, int y) const {
    assert(x >= 0 && x < width_ && y >= 0 && y < height_ && IsPaletteFormat(bpp_));
    return GetIndexRaw(row(y), x, bpp_);
}

void Bitmap::setIndex(int x, int y, int idx) {
    assert(x >= 0 && x < width_ && y >= 0 && y < height_ && IsPaletteFormat(bpp_));
    SetIndexRaw(row(y), x, bpp_, idx);
}

Color Bitmap::pixel(int x, int y) const {
    assert(x >= 0 && x < width_ && y >= 0 && y < height_);
    const std::uint8_t* r = row(y);
    if (IsPaletteFormat(bpp_)) return EntryOrBlack(palette_, GetIndexRaw(r, x, bpp_));
    return GetDirect(r, x, bpp_);
}

void Bitmap::setPixel(int x, int y, Color c) {
    assert(x >= 0 && x < width_ && y >= 0 && y < height_);
    std::uint8_t* r = row(y);
    if (IsPaletteFormat(bpp_))
        SetIndexRaw(r, x, bpp_, NearestIn(palette_.data(), UsableEntries(palette_, bpp_), c & 0x00FFFFFF));
    else
        SetDirect(r, x, bpp_, c);
}

void Bitmap::fill(Color c) {
    if (empty()) return;
    const int idx = IsPaletteFormat(bpp_)
                        ? NearestIn(palette_.data(), UsableEntries(palette_, bpp_), c & 0x00FFFFFF)
                        : 0;
    std::uint8_t* first = row(0);
    std::memset(first, 0, stride_);
    FillRowRaw(first, width_, bpp_, idx, c);
    for (int y = 1; y < height_; ++y) std::memcpy(row(y), first, stride_);
}

void Bitmap::setWidth(int width) { resize(width, height_); }
void Bitmap::setHeight(int height) { resize(width_, height); }
void Bitmap::setSize(int width, int height) { resize(width, height); }

void Bitmap::resize(int width, int height) {
    if (width == width_ && height == height_) return;
    CheckPictureBytes(width, height, bpp_, "Bitmap");
    const std::size_t newStride = strideFor(width, bpp_);
    PixelBytes data(newStride * std::size_t(height), 0);

    if (width > 0 && height > 0) {
        // One template row in the fill colour, copied to every row.
        const int idx =
            IsPaletteFormat(bpp_)
                ? NearestIn(palette_.data(), UsableEntries(palette_, bpp_), fill_ & 0x00FFFFFF)
                : 0;
        FillRowRaw(data.data(), width, bpp_, idx, fill_);
        for (int y = 1; y < height; ++y)
            std::memcpy(data.data() + std::size_t(y) * newStride, data.data(), newStride);

        // Old pixels at the top left.
        const int keepW = std::min(width, width_);
        const int keepH = std::min(height, height_);
        if (keepW > 0 && keepH > 0) {
            const std::size_t wholeBytes = std::size_t(keepW) * std::size_t(bpp_) / 8;
            const int firstPartial = static_cast<int>(wholeBytes * 8 / std::size_t(bpp_));
            for (int y = 0; y < keepH; ++y) {
                std::uint8_t* dst = data.data() + std::size_t(y) * newStride;
                const std::uint8_t* src = row(y);
                std::memcpy(dst, src, wholeBytes);
                for (int x = firstPartial; x < keepW; ++x)  // 1- and 4-bit leftovers
                    SetIndexRaw(dst, x, bpp_, GetIndexRaw(src, x, bpp_));
            }
        }
    }
    width_ = width;
    height_ = height;
    stride_ = newStride;
    data_ = std::move(data);
}

void Bitmap::setBitsPerPixel(int bitsPerPixel) {
    if (!IsValidFormat(bitsPerPixel))
        throw Error("Bitmap: " + std::to_string(bitsPerPixel) + " bits per pixel is not supported");
    if (bitsPerPixel == bpp_) return;
    CheckPictureBytes(width_, height_, bitsPerPixel, "Bitmap");

    const int srcBpp = bpp_;
    const int dstBpp = bitsPerPixel;
    const bool srcPal = IsPaletteFormat(srcBpp);
    const bool dstPal = IsPaletteFormat(dstBpp);
    Palette newPalette = dstPal ? FixedPaletteFor(dstBpp) : Palette();

    const std::size_t newStride = strideFor(width_, dstBpp);
    PixelBytes data(newStride * std::size_t(std::max(height_, 0)), 0);

    if (!empty()) {
        const std::size_t w = std::size_t(width_);
        std::vector<std::uint8_t> indices(w);
        std::vector<Color> colours(dstPal && !srcPal ? w : 0);

        // A palette source translates each of its possible indices once: to the pixel
        // bytes of a direct format, or to an index of the new palette.
        std::vector<std::uint8_t> toIndex;
        std::array<std::uint8_t[4], 256> toBytes{};
        if (srcPal) {
            const int n = 1 << srcBpp;
            if (dstPal) {
                toIndex.resize(std::size_t(n));
                for (int i = 0; i < n; ++i)
                    toIndex[i] = static_cast<std::uint8_t>(
                        NearestIn(newPalette.data(), static_cast<int>(newPalette.size()), EntryOrBlack(palette_, i)));
            } else {
                for (int i = 0; i < n; ++i) {
                    std::uint8_t pixel[4] = {0, 0, 0, 0};
                    const Color c = EntryOrBlack(palette_, i);
                    SetDirect(pixel, 0, dstBpp, c);
                    std::memcpy(toBytes[std::size_t(i)], pixel, 4);
                }
            }
        }
        std::optional<NearestMapper> nearest;
        if (!srcPal && dstPal) nearest.emplace(newPalette, static_cast<int>(newPalette.size()));

        for (int y = 0; y < height_; ++y) {
            const std::uint8_t* src = row(y);
            std::uint8_t* dst = data.data() + std::size_t(y) * newStride;
            if (srcPal) {
                ReadIndices(src, width_, srcBpp, indices.data());
                if (dstPal) {
                    for (std::size_t x = 0; x < w; ++x) indices[x] = toIndex[indices[x]];
                    WriteIndices(dst, width_, dstBpp, indices.data());
                } else {
                    WriteIndexedDirect(dst, width_, dstBpp, indices.data(), toBytes.data());
                }
            } else if (dstPal) {
                ReadDirect(src, width_, srcBpp, colours.data());
                for (std::size_t x = 0; x < w; ++x) indices[x] = static_cast<std::uint8_t>((*nearest)(colours[x]));
                WriteIndices(dst, width_, dstBpp, indices.data());
            } else {
                ConvertDirectRow(src, srcBpp, dst, dstBpp, width_);
            }
        }
    }

    bpp_ = dstBpp;
    stride_ = newStride;
    data_ = std::move(data);
    palette_ = std::move(newPalette);
}

}  // namespace pictorix
