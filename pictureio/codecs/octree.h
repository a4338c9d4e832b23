#pragma once
// Octree colour quantisation and nearest-colour mapping, for writers that need a
// palette of at most 256 colours for a direct-colour picture (the GIF writer).
//
// The octree has 8 levels below its root, one bit of each channel per level (the
// most significant first), so a leaf at the deepest level holds exactly one colour.
// Colours are inserted one by one; whenever the tree holds more leaves than allowed,
// one node at the deepest level that still has children is merged into a leaf that
// takes its children's sums: of those nodes, the one covering the fewest pixels
// (ties: the first created), so rare colours give way before frequent ones. A picture
// with no more distinct colours than allowed is therefore never reduced, and its
// palette holds its colours exactly.
#include <cstdint>
#include <vector>

#include "core/bitmap.h"

namespace pictorix::octree {

class Quantiser {
public:
    // At most `maxColours` leaves (1..256 is what callers use; at least 1).
    explicit Quantiser(int maxColours);

    // Counts one pixel of colour c (0x00BBGGRR; the top byte is ignored).
    void add(Color c);

    // The leaves' average colours (channel sums divided by the pixel count, rounded to
    // the nearest, halves to even), in the tree's order: children by the index
    // red bit * 4 + green bit * 2 + blue bit, depth first. Empty when nothing was added.
    Palette palette() const;

    int leafCount() const { return leafCount_; }

private:
    struct Node {
        std::int32_t child[8];
        std::uint64_t pixels = 0;  // pixels in this node's subtree
        std::uint64_t sumR = 0, sumG = 0, sumB = 0;  // leaves only
        std::uint8_t level = 0;
        bool leaf = false;
    };

    std::int32_t newNode(int level);
    void freeSubtree(std::int32_t node);
    void reduceOnce();
    void collect(std::int32_t node, Palette& out) const;

    int maxColours_;
    int leafCount_ = 0;
    std::vector<Node> nodes_;
    std::vector<std::int32_t> free_;
    // Nodes with children, by level (0 = root .. 7): the candidates for merging.
    std::vector<std::int32_t> reducible_[8];
    // The leaf that took the previous colour, which real pictures repeat a lot.
    Color lastColour_ = 0xFFFFFFFF;
    std::int32_t lastLeaf_ = -1;
};

// Palette of at most `maxColours` entries for the colours of a bitmap (meant for 16,
// 24 and 32 bits; palette formats are read through their palette). Pixels of colour
// `skip` are not counted when `useSkip` is true (a colour that gets an entry of its
// own, such as a transparent colour).
Palette BuildPalette(const Bitmap& bitmap, int maxColours, bool useSkip = false, Color skip = 0);

// The colours (0x00BBGGRR) of row y, as Bitmap::pixel gives them, read straight from
// the row's bytes for 16, 24 and 32 bits.
void RowColours(const Bitmap& bitmap, int y, std::vector<Color>& out);

// Exact nearest-colour lookup against the first `count` entries of a palette: the
// entry with the smallest squared RGB distance, the lowest index on ties (the same
// answer as NearestPaletteIndex over those entries). Fast for many lookups: the
// colour cube is split into 32768 cells, each keeping (built on first use) only the
// entries that can be nearest to some colour in it, and a cache catches repeated
// colours.
class NearestMapper {
public:
    NearestMapper(const Palette& palette, int count);
    int operator()(Color c);

private:
    void build(int cell);

    Palette palette_;
    int count_;
    std::vector<std::uint32_t> cellStart_, cellEnd_;
    std::vector<std::uint16_t> candidates_;
    std::vector<Color> cacheKey_;
    std::vector<std::uint16_t> cacheValue_;
};

}  // namespace pictorix::octree
