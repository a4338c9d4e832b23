#include "pictureio/codecs/octree.h"

#include <algorithm>
#include <limits>

namespace pictorix::octree {

namespace {

constexpr int kDepth = 8;  // levels below the root; leaves at this level hold one colour

// Nearest integer to sum / count, halves to even.
unsigned AverageOf(std::uint64_t sum, std::uint64_t count) {
    std::uint64_t q = sum / count;
    const std::uint64_t r = sum % count;
    if (2 * r > count || (2 * r == count && (q & 1))) ++q;
    return static_cast<unsigned>(q);
}

inline unsigned Dist2(Color a, Color b) {
    const int dr = int(GetR(a)) - int(GetR(b));
    const int dg = int(GetG(a)) - int(GetG(b));
    const int db = int(GetB(a)) - int(GetB(b));
    return unsigned(dr * dr + dg * dg + db * db);
}

}  // namespace

void RowColours(const Bitmap& bitmap, int y, std::vector<Color>& out) {
    const int w = bitmap.width();
    out.resize(std::size_t(w));
    const std::uint8_t* p = bitmap.row(y);
    switch (bitmap.bitsPerPixel()) {
        case 16:
            for (int x = 0; x < w; ++x, p += 2) {
                const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
                const unsigned r5 = (v >> 11) & 0x1F, g6 = (v >> 5) & 0x3F, b5 = v & 0x1F;
                out[x] = RGB((r5 << 3) | (r5 >> 2), (g6 << 2) | (g6 >> 4), (b5 << 3) | (b5 >> 2));
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x, p += 3) out[x] = RGB(p[2], p[1], p[0]);
            break;
        case 32:
            for (int x = 0; x < w; ++x, p += 4) out[x] = RGB(p[2], p[1], p[0]);
            break;
        default:
            for (int x = 0; x < w; ++x) out[x] = bitmap.pixel(x, y);
            break;
    }
}

// ---------------------------------------------------------------------------
// Quantiser

Quantiser::Quantiser(int maxColours) : maxColours_(std::max(maxColours, 1)) {
    nodes_.reserve(512);
    newNode(0);  // the root, index 0
}

std::int32_t Quantiser::newNode(int level) {
    std::int32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        index = static_cast<std::int32_t>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& n = nodes_[std::size_t(index)];
    std::fill(std::begin(n.child), std::end(n.child), -1);
    n.pixels = n.sumR = n.sumG = n.sumB = 0;
    n.level = static_cast<std::uint8_t>(level);
    n.leaf = level == kDepth;
    if (n.leaf) ++leafCount_;
    else reducible_[level].push_back(index);
    return index;
}

void Quantiser::add(Color c) {
    c &= 0x00FFFFFF;
    const unsigned r = GetR(c), g = GetG(c), b = GetB(c);
    std::int32_t node = 0;
    if (c == lastColour_) {
        node = lastLeaf_;
    } else {
        while (!nodes_[std::size_t(node)].leaf) {
            const int shift = 7 - nodes_[std::size_t(node)].level;
            const int k = int(((r >> shift) & 1) << 2 | ((g >> shift) & 1) << 1 | ((b >> shift) & 1));
            std::int32_t child = nodes_[std::size_t(node)].child[k];
            if (child < 0) {
                child = newNode(nodes_[std::size_t(node)].level + 1);  // may move nodes_
                nodes_[std::size_t(node)].child[k] = child;
            }
            node = child;
        }
    }
    Node& leaf = nodes_[std::size_t(node)];
    ++leaf.pixels;
    leaf.sumR += r;
    leaf.sumG += g;
    leaf.sumB += b;
    lastColour_ = c;
    lastLeaf_ = node;
    while (leafCount_ > maxColours_) reduceOnce();
}

void Quantiser::reduceOnce() {
    int level = kDepth - 1;
    while (level > 0 && reducible_[level].empty()) --level;
    std::vector<std::int32_t>& candidates = reducible_[level];
    if (candidates.empty()) return;  // only a leaf root is left; cannot happen with leafCount > 1

    // Every child of a node at the deepest level with children is a leaf, so a node's
    // pixel count is the sum of its children's.
    std::size_t best = 0;
    std::uint64_t bestPixels = std::numeric_limits<std::uint64_t>::max();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Node& n = nodes_[std::size_t(candidates[i])];
        std::uint64_t pixels = 0;
        for (std::int32_t child : n.child)
            if (child >= 0) pixels += nodes_[std::size_t(child)].pixels;
        if (pixels < bestPixels) {
            bestPixels = pixels;
            best = i;
        }
    }
    const std::int32_t index = candidates[best];
    candidates.erase(candidates.begin() + std::ptrdiff_t(best));  // keeps creation order

    Node& n = nodes_[std::size_t(index)];
    n.pixels = n.sumR = n.sumG = n.sumB = 0;
    for (std::int32_t& child : n.child) {
        if (child < 0) continue;
        const Node& leaf = nodes_[std::size_t(child)];
        n.pixels += leaf.pixels;
        n.sumR += leaf.sumR;
        n.sumG += leaf.sumG;
        n.sumB += leaf.sumB;
        free_.push_back(child);
        --leafCount_;
        child = -1;
    }
    n.leaf = true;
    ++leafCount_;
    lastColour_ = 0xFFFFFFFF;  // the cached leaf may have been merged away
    lastLeaf_ = -1;
}

void Quantiser::collect(std::int32_t node, Palette& out) const {
    const Node& n = nodes_[std::size_t(node)];
    if (n.leaf) {
        if (n.pixels > 0)
            out.push_back(RGB(AverageOf(n.sumR, n.pixels), AverageOf(n.sumG, n.pixels), AverageOf(n.sumB, n.pixels)));
        return;
    }
    for (std::int32_t child : n.child)
        if (child >= 0) collect(child, out);
}

Palette Quantiser::palette() const {
    Palette p;
    p.reserve(std::size_t(leafCount_));
    collect(0, p);
    return p;
}

Palette BuildPalette(const Bitmap& bitmap, int maxColours, bool useSkip, Color skip) {
    Quantiser q(maxColours);
    skip &= 0x00FFFFFF;
    std::vector<Color> colours;
    for (int y = 0; y < bitmap.height(); ++y) {
        RowColours(bitmap, y, colours);
        for (Color c : colours)
            if (!useSkip || c != skip) q.add(c);
    }
    return q.palette();
}

// ---------------------------------------------------------------------------
// NearestMapper

namespace {
constexpr int kCellBits = 5;  // cells per channel = 32
constexpr int kCellShift = 8 - kCellBits;
constexpr int kCellSpan = (1 << kCellShift) - 1;
constexpr int kCells = 1 << (3 * kCellBits);
constexpr std::uint32_t kUnbuilt = 0xFFFFFFFF;
constexpr std::size_t kCacheSize = 65536;  // a power of two
constexpr Color kEmptyKey = 0xFFFFFFFF;  // never a colour with the top byte cleared
}  // namespace

NearestMapper::NearestMapper(const Palette& palette, int count)
    : palette_(palette),
      count_(std::clamp(count, 0, static_cast<int>(palette.size()))),
      cellStart_(kCells, kUnbuilt),
      cellEnd_(kCells, 0),
      cacheKey_(kCacheSize, kEmptyKey),
      cacheValue_(kCacheSize, 0) {
    for (Color& c : palette_) c &= 0x00FFFFFF;
}

int NearestMapper::operator()(Color c) {
    if (count_ == 0) return 0;
    c &= 0x00FFFFFF;
    const std::size_t slot = ((c * 2654435761u) >> 16) & (kCacheSize - 1);
    if (cacheKey_[slot] == c) return cacheValue_[slot];
    const int cell = int(GetR(c) >> kCellShift) | int(GetG(c) >> kCellShift) << kCellBits |
                     int(GetB(c) >> kCellShift) << (2 * kCellBits);
    if (cellStart_[std::size_t(cell)] == kUnbuilt) build(cell);
    int best = 0;
    unsigned bestDist = std::numeric_limits<unsigned>::max();
    for (std::uint32_t k = cellStart_[std::size_t(cell)]; k < cellEnd_[std::size_t(cell)]; ++k) {
        const int i = candidates_[k];
        const unsigned d = Dist2(palette_[std::size_t(i)], c);
        if (d < bestDist) {  // candidates are in index order: the lowest index wins ties
            bestDist = d;
            best = i;
        }
    }
    cacheKey_[slot] = c;
    cacheValue_[slot] = static_cast<std::uint16_t>(best);
    return best;
}

// An entry whose smallest possible distance to the cell is above the smallest
// largest-distance of any entry can never be nearest (nor tie with the nearest) for a
// colour in the cell; all others stay candidates.
void NearestMapper::build(int cell) {
    const int mask = (1 << kCellBits) - 1;
    const int lo[3] = {(cell & mask) << kCellShift, ((cell >> kCellBits) & mask) << kCellShift,
                       ((cell >> (2 * kCellBits)) & mask) << kCellShift};
    std::vector<unsigned> minDist(static_cast<std::size_t>(count_));
    unsigned minMax = std::numeric_limits<unsigned>::max();
    for (int i = 0; i < count_; ++i) {
        const Color e = palette_[std::size_t(i)];
        const int ch[3] = {int(GetR(e)), int(GetG(e)), int(GetB(e))};
        unsigned mn = 0, mx = 0;
        for (int k = 0; k < 3; ++k) {
            const int a = lo[k], b = lo[k] + kCellSpan;
            const int dNear = ch[k] < a ? a - ch[k] : (ch[k] > b ? ch[k] - b : 0);
            const int dFar = std::max(ch[k] - a, b - ch[k]);
            mn += unsigned(dNear * dNear);
            mx += unsigned(dFar * dFar);
        }
        minDist[std::size_t(i)] = mn;
        minMax = std::min(minMax, mx);
    }
    cellStart_[std::size_t(cell)] = static_cast<std::uint32_t>(candidates_.size());
    for (int i = 0; i < count_; ++i)
        if (minDist[std::size_t(i)] <= minMax) candidates_.push_back(static_cast<std::uint16_t>(i));
    cellEnd_[std::size_t(cell)] = static_cast<std::uint32_t>(candidates_.size());
}

}  // namespace pictorix::octree
