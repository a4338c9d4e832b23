// Tests of the GIF, PCX and TGA writers and of the octree quantiser.
//
// Byte layouts are checked against the format rules directly; every writer's output for
// pictures of 1, 4, 8, 16, 24 and 32 bits is also opened by independent readers:
// ImageMagick (identify accepts it; convert's decoded pixels equal ours where the
// format is lossless), gifsicle for GIF files, and giflib through our GIF reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/gif.h"
#include "pictureio/codecs/octree.h"
#include "pictureio/codecs/pcx.h"
#include "pictureio/codecs/tga.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::Quote;
using test::RunCommand;
using test::TempDir;

// ---------------------------------------------------------------------------
// Helpers

template <class Fn>
std::string ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

bool HaveMagick() {
    static const bool have = test::HaveCommand("convert") && test::HaveCommand("identify");
    return have;
}

bool HaveGifsicle() {
    static const bool have = test::HaveCommand("gifsicle");
    return have;
}

void WriteBytes(const std::string& path, const ByteVector& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// Our bytes in a temporary file named with the format's extension (Targa files have no
// signature, so ImageMagick goes by the name).
class TempPicture {
public:
    TempPicture(const ByteVector& bytes, const std::string& ext) : path_(dir_.file("picture." + ext)) {
        WriteBytes(path_, bytes);
    }
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
};

test::CommandResult Identify(const ByteVector& bytes, const std::string& ext) {
    TempPicture file(bytes, ext);
    return RunCommand("identify -regard-warnings " + Quote(file.path()));
}

// The picture as ImageMagick decodes it, `channels` ("rgb" or "rgba") of 8 bits each,
// rows from the top. Nothing when convert fails or warns.
std::optional<ByteVector> MagickPixels(const ByteVector& bytes, const std::string& ext,
                                       const std::string& channels = "rgb") {
    TempPicture file(bytes, ext);
    const std::string out = file.path() + ".raw";
    const auto r = RunCommand("convert -regard-warnings " + Quote(file.path()) + " -depth 8 " + channels + ":" +
                              Quote(out));
    if (r.status != 0) {
        ADD_FAILURE() << "convert failed on our " << ext << " file: " << r.output;
        return std::nullopt;
    }
    const std::string raw = test::ReadText(out);
    return ByteVector(raw.begin(), raw.end());
}

// R, G, B bytes of the bitmap's pixels as Bitmap::pixel gives them, rows from the top.
ByteVector RgbOf(const Bitmap& b) {
    ByteVector v;
    v.reserve(std::size_t(b.width()) * std::size_t(b.height()) * 3);
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            v.insert(v.end(), {std::uint8_t(GetR(c)), std::uint8_t(GetG(c)), std::uint8_t(GetB(c))});
        }
    return v;
}

std::vector<int> IndicesOf(const Bitmap& b) {
    std::vector<int> v;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) v.push_back(b.index(x, y));
    return v;
}

std::set<Color> ColoursOf(const Bitmap& b) {
    std::set<Color> s;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) s.insert(b.pixel(x, y));
    return s;
}

// Small deterministic pseudo-random numbers.
struct Lcg {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// A palette of 2^bpp distinct colours that are not the fixed palettes' (so a writer
// that loses the picture's own palette is caught).
Palette OddPalette(int bpp) {
    Palette p;
    for (int i = 0; i < (1 << bpp); ++i) p.push_back(RGB(i * 37 + 11, 250 - (i * 13) % 200, (i * 91 + 5) & 0xFF));
    return p;
}

// Test picture of any format: flat areas (runs longer than 128 and than 63), short
// runs and noise, in `colours` different values. Direct-colour pictures get
// `colours` colours of their own (16 bits: colours that 5-6-5 holds exactly).
Bitmap Picture(int bpp, int width = 150, int height = 37, int colours = 0) {
    Bitmap b(width, height, bpp);
    const bool indexed = bpp <= 8;
    if (colours == 0) colours = indexed ? (1 << bpp) : 200;
    Palette table;
    if (indexed) {
        b.setPalette(OddPalette(bpp));
    } else {
        for (int i = 0; i < colours; ++i) {
            Color c = RGB((i * 53 + 7) & 0xFF, (i * 97 + 31) & 0xFF, (i * 29 + 200) & 0xFF);
            if (bpp == 16) {
                // Distinct in 5-6-5: red i % 32, green (i / 32) * 8 + i % 7.
                c = RGB((i % 32) * 8, ((i / 32) * 8 + i % 7) * 4, ((i * 5) % 32) * 8);
                Bitmap one(1, 1, 16);
                one.setPixel(0, 0, c);
                c = one.pixel(0, 0);
            }
            table.push_back(c);
        }
    }
    Lcg rng{std::uint32_t(bpp * 7919 + width)};
    int noise = 0;  // the first noise pixels go through every value once
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int v;
            if (y < height / 3) v = (x / 70 + y) % colours;                  // long runs
            else if (y < 2 * height / 3) v = (x / 3 + y / 2) % colours;      // short runs
            else if (noise < colours) v = noise++;
            else v = int(rng.next() % std::uint32_t(colours));               // noise
            if (indexed) b.setIndex(x, y, v);
            else b.setPixel(x, y, table[std::size_t(v)]);
        }
    return b;
}

// A smooth picture with far more than 256 colours and a flat rectangle of one colour.
Bitmap Photo(int bpp, int width = 160, int height = 96) {
    Bitmap b(width, height, bpp);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.setPixel(x, y, RGB(x * 255 / width, y * 255 / height, 128 + (x - y) / 3 + ((x * y) % 7)));
    for (int y = 20; y < 60; ++y)
        for (int x = 30; x < 90; ++x) b.setPixel(x, y, RGB(201, 77, 140));
    return b;
}

constexpr int kDepths[] = {1, 4, 8, 16, 24, 32};

// Decodes one run-length encoded PCX plane of `count` bytes starting at `at`.
ByteVector DecodePcxPlane(const ByteVector& f, std::size_t& at, std::size_t count) {
    ByteVector out;
    while (out.size() < count && at < f.size()) {
        const std::uint8_t b = f[at++];
        if (b >= 0xC0) {
            const std::uint8_t v = f.at(at++);
            out.insert(out.end(), std::size_t(b - 0xC0), v);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Octree quantiser

TEST(Octree, KeepsEveryColourWhenThereAreAtMostTheLimit) {
    for (int colours : {1, 2, 17, 255, 256}) {
        SCOPED_TRACE(colours);
        octree::Quantiser q(256);
        std::set<Color> added;
        for (int i = 0; i < colours; ++i) {
            const Color c = RGB((i * 71) & 0xFF, (i * 13 + 1) & 0xFF, (i * 5) & 0xFF);
            added.insert(c);
            for (int k = 0; k <= i % 3; ++k) q.add(c);
        }
        const Palette p = q.palette();
        EXPECT_EQ(std::set<Color>(p.begin(), p.end()), added);
        EXPECT_EQ(p.size(), added.size());
    }
}

TEST(Octree, NeverHoldsMoreLeavesThanAllowed) {
    for (int limit : {1, 2, 16, 256}) {
        SCOPED_TRACE(limit);
        octree::Quantiser q(limit);
        Lcg rng{42};
        for (int i = 0; i < 20000; ++i) {
            q.add(rng.next() & 0xFFFFFF);
            ASSERT_LE(q.leafCount(), limit);
        }
        EXPECT_LE(q.palette().size(), std::size_t(limit));
        EXPECT_GE(q.palette().size(), 1u);
    }
}

TEST(Octree, LeavesAreAverageColours) {
    // With one leaf allowed, its colour is the average of all pixels: 3 pixels of 10
    // and 1 of 11 give 10.25, rounded to 10.
    octree::Quantiser q(1);
    for (int i = 0; i < 3; ++i) q.add(RGB(10, 20, 30));
    q.add(RGB(11, 21, 31));
    EXPECT_EQ(q.palette(), Palette{RGB(10, 20, 30)});
    // Halves go to the even neighbour: (10 + 11) / 2 = 10.5 -> 10, (21 + 22) / 2 -> 22.
    octree::Quantiser h(1);
    h.add(RGB(10, 21, 0));
    h.add(RGB(11, 22, 1));
    EXPECT_EQ(h.palette(), Palette{RGB(10, 22, 0)});
}

TEST(Octree, RareColoursGiveWayFirst) {
    // 256 frequent colours and a few rare ones near them: the frequent ones stay exact.
    octree::Quantiser q(256);
    std::vector<Color> frequent;
    for (int i = 0; i < 256; ++i) frequent.push_back(RGB(i, 255 - i, (i * 7) & 0xFF));
    for (int round = 0; round < 10; ++round)
        for (Color c : frequent) q.add(c);
    q.add(RGB(3, 250, 20));
    q.add(RGB(100, 154, 190));
    const Palette p = q.palette();
    ASSERT_LE(p.size(), 256u);
    int exact = 0;
    for (Color c : frequent) exact += std::find(p.begin(), p.end(), c) != p.end();
    EXPECT_GE(exact, 253);
}

TEST(Octree, NearestMapperAgreesWithFullSearch) {
    Palette palette;
    Lcg rng{7};
    for (int i = 0; i < 200; ++i) palette.push_back(rng.next() & 0xFFFFFF);
    palette.push_back(palette[5]);  // a duplicate: the lower index must win
    octree::NearestMapper map(palette, int(palette.size()));
    for (int i = 0; i < 50000; ++i) {
        const Color c = rng.next() & 0xFFFFFF;
        ASSERT_EQ(map(c), NearestPaletteIndex(palette, c)) << std::hex << c;
    }
    // Only the first `count` entries take part.
    octree::NearestMapper firstTwo(Palette{kBlack, kWhite, RGB(200, 0, 0)}, 2);
    EXPECT_EQ(firstTwo(RGB(200, 0, 0)), 0);
}

// ---------------------------------------------------------------------------
// GIF

TEST(GifWrite, HeaderAndTableSizes) {
    struct Case {
        int bpp;
        std::size_t paletteSize;
        int maxIndex;
        int tableBits;
    };
    const Case cases[] = {
        {1, 2, 1, 1},  {4, 16, 15, 4}, {8, 256, 255, 8},
        {8, 5, 4, 3},    // a short palette: the table is 8 entries, padded with black
        {8, 5, 40, 6},   // an index beyond the palette: the table reaches it (64 entries)
        {4, 3, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, palette " << c.paletteSize << ", max index " << c.maxIndex);
        Bitmap b(11, 3, c.bpp);
        Palette p = OddPalette(8);
        p.resize(c.paletteSize);
        b.setPalette(p);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 11; ++x) b.setIndex(x, y, y == 1 ? x * c.maxIndex / 10 : 0);
        for (bool rle : {false, true}) {
            const ByteVector f = gif::Write(b, rle);
            ASSERT_GT(f.size(), 13u);
            EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF87a");
            EXPECT_EQ(ReadLE16(ByteSpan(f), 6), 11);
            EXPECT_EQ(ReadLE16(ByteSpan(f), 8), 3);
            EXPECT_EQ(f[10], 0xF0 | (c.tableBits - 1));
            const std::size_t table = 13;
            const std::size_t entries = std::size_t{1} << c.tableBits;
            for (std::size_t i = 0; i < entries; ++i) {
                const Color expected = i < c.paletteSize ? p[i] : kBlack;
                EXPECT_EQ(RGB(f[table + 3 * i], f[table + 3 * i + 1], f[table + 3 * i + 2]), expected) << i;
            }
            const std::size_t desc = table + 3 * entries;
            EXPECT_EQ(f[desc], 0x2C);
            EXPECT_EQ(f[desc + 9], 0);                              // no local table, not interlaced
            EXPECT_EQ(f[desc + 10], std::max(2, c.tableBits));      // LZW minimum code size
            EXPECT_EQ(f.back(), 0x3B);

            Bitmap back;
            gif::Read(ByteSpan(f), back);
            EXPECT_EQ(IndicesOf(back), IndicesOf(b));
            EXPECT_EQ(RgbOf(back), RgbOf(b));
        }
    }
}

TEST(GifWrite, EveryDepthIsReadByGiflibImageMagickAndGifsicle) {
    for (int bpp : kDepths) {
        for (bool rle : {false, true}) {
            SCOPED_TRACE(testing::Message() << bpp << " bits, " << (rle ? "RLE" : "LZW"));
            // At most 256 colours, so every depth is kept exactly.
            const Bitmap pic = Picture(bpp);
            const ByteVector f = gif::Write(pic, rle);

            Bitmap back;
            gif::Read(ByteSpan(f), back);
            EXPECT_EQ(RgbOf(back), RgbOf(pic));
            if (bpp <= 8) {
                EXPECT_EQ(IndicesOf(back), IndicesOf(pic));
            }

            if (HaveMagick()) {
                const auto id = Identify(f, "gif");
                EXPECT_EQ(id.status, 0) << id.output;
                EXPECT_EQ(MagickPixels(f, "gif"), RgbOf(pic));
            }
            if (HaveGifsicle()) {
                TempPicture file(f, "gif");
                const auto info = RunCommand("gifsicle --info " + Quote(file.path()));
                EXPECT_EQ(info.status, 0) << info.output;
                EXPECT_EQ(info.output.find("warning"), std::string::npos) << info.output;
                EXPECT_EQ(info.output.find("error"), std::string::npos) << info.output;
                EXPECT_NE(info.output.find("1 image"), std::string::npos) << info.output;
                // A round trip through gifsicle's own decoder and encoder keeps the pixels.
                const auto copy = RunCommand("gifsicle --no-warnings " + Quote(file.path()) + " -o " +
                                             Quote(file.path() + ".copy.gif"));
                EXPECT_EQ(copy.status, 0) << copy.output;
                Bitmap again;
                const std::string bytes = test::ReadText(file.path() + ".copy.gif");
                gif::Read(ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), again);
                EXPECT_EQ(RgbOf(again), RgbOf(pic));
            }
        }
    }
}

TEST(GifWrite, CodeSizesUpTo12BitsAndClearCodes) {
    // Noise fills the string table many times over; long runs make RLE codes of long
    // runs and clears in the middle of a run. Every minimum code size from 2 to 8.
    struct Case {
        int bpp, colours, width, height;
        bool runs;
    };
    const Case cases[] = {
        {1, 2, 640, 200, false}, {4, 4, 300, 300, false}, {4, 16, 300, 300, false},
        {8, 32, 260, 260, false}, {8, 256, 400, 400, false}, {8, 256, 3000, 40, true},
        {1, 2, 5000, 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, " << c.colours << " colours, " << c.width << " x "
                                        << c.height << (c.runs ? " runs" : " noise"));
        Bitmap b(c.width, c.height, c.bpp);
        Palette p = OddPalette(c.bpp);
        p.resize(std::size_t(c.colours));
        b.setPalette(p);
        Lcg rng{std::uint32_t(c.width * 31 + c.colours)};
        int v = 0, left = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                if (!c.runs) v = int(rng.next() % std::uint32_t(c.colours));
                else if (left-- <= 0) {
                    v = int(rng.next() % std::uint32_t(c.colours));
                    left = int(rng.next() % 9000);
                }
                b.setIndex(x, y, v);
            }
        for (bool rle : {false, true}) {
            SCOPED_TRACE(rle ? "RLE" : "LZW");
            const ByteVector f = gif::Write(b, rle);
            Bitmap back;
            gif::Read(ByteSpan(f), back);
            EXPECT_EQ(IndicesOf(back), IndicesOf(b));
            if (HaveMagick()) {
                EXPECT_EQ(MagickPixels(f, "gif"), RgbOf(b));
            }
            if (HaveGifsicle()) {
                TempPicture file(f, "gif");
                const auto info = RunCommand("gifsicle --info " + Quote(file.path()));
                EXPECT_EQ(info.status, 0) << info.output;
                EXPECT_EQ(info.output.find("warning"), std::string::npos) << info.output;
            }
        }
    }
}

TEST(GifWrite, DirectColourIsReducedTo256ColoursWithoutDither) {
    for (int bpp : {16, 24, 32}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits");
        const Bitmap photo = Photo(bpp);
        ASSERT_GT(ColoursOf(photo).size(), 256u);
        const ByteVector f = gif::Write(photo, false);
        EXPECT_EQ(f[10], 0xF7);  // a full 256-entry table

        Bitmap back;
        gif::Read(ByteSpan(f), back);
        ASSERT_EQ(back.width(), photo.width());
        ASSERT_EQ(back.height(), photo.height());
        EXPECT_LE(ColoursOf(back).size(), 256u);

        // The flat rectangle is one colour, not a dither pattern.
        const Color flat = back.pixel(30, 20);
        for (int y = 20; y < 60; ++y)
            for (int x = 30; x < 90; ++x) ASSERT_EQ(back.pixel(x, y), flat) << x << "," << y;

        // Every pixel has the palette colour nearest to its own colour.
        const Palette& table = back.palette();
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                ASSERT_EQ(back.index(x, y), NearestPaletteIndex(table, photo.pixel(x, y))) << x << "," << y;

        if (HaveMagick()) {
            TempPicture file(f, "gif");
            const auto colours = RunCommand("identify -format %k " + Quote(file.path()));
            ASSERT_EQ(colours.status, 0) << colours.output;
            EXPECT_LE(std::stoi(colours.output), 256);
        }
    }
}

TEST(GifWrite, AtMost256ColoursAreKeptExactly) {
    for (int bpp : {16, 24, 32})
        for (int colours : {1, 2, 3, 129, 255, 256}) {
            SCOPED_TRACE(testing::Message() << bpp << " bits, " << colours << " colours");
            const Bitmap pic = Picture(bpp, 97, 41, colours);
            ASSERT_EQ(ColoursOf(pic).size(), std::size_t(colours));
            for (bool rle : {false, true}) {
                Bitmap back;
                gif::Read(ByteSpan(gif::Write(pic, rle)), back);
                EXPECT_EQ(RgbOf(back), RgbOf(pic));
            }
        }
}

TEST(GifWrite, RleDecodesLikeLzwAndIsLarger) {
    const Bitmap pictures[] = {Photo(24), Picture(8), Picture(4), Picture(1), Picture(24, 150, 37, 256)};
    for (const Bitmap& pic : pictures) {
        SCOPED_TRACE(testing::Message() << pic.bitsPerPixel() << " bits");
        const ByteVector lzw = gif::Write(pic, false);
        const ByteVector rle = gif::Write(pic, true);
        EXPECT_GT(rle.size(), lzw.size());
        Bitmap a, b;
        gif::Read(ByteSpan(lzw), a);
        gif::Read(ByteSpan(rle), b);
        EXPECT_EQ(IndicesOf(a), IndicesOf(b));
        EXPECT_EQ(a.palette(), b.palette());
        if (HaveMagick()) {
            EXPECT_EQ(MagickPixels(rle, "gif"), MagickPixels(lzw, "gif"));
        }
    }
}

TEST(GifWrite, TransparentColourGetsAGraphicControlExtension) {
    // A palette picture: the first entry of exactly that colour.
    Bitmap pal = Picture(8, 20, 10);
    Palette p = pal.palette();
    const Color key = p[3];
    pal.setTransparent(true, key);
    {
        const ByteVector f = gif::Write(pal, false);
        EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
        const std::size_t gce = 13 + 768;
        const ByteVector expected = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00};
        EXPECT_EQ(ByteVector(f.begin() + gce, f.begin() + gce + 8), expected);
        Bitmap back;
        gif::Read(ByteSpan(f), back);
        EXPECT_EQ(IndicesOf(back), IndicesOf(pal));
    }
    // A colour that no entry has: no extension.
    pal.setTransparent(true, RGB(1, 2, 3));
    const ByteVector plain = gif::Write(pal, false);
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + 6), "GIF87a");

    // A direct-colour picture: the colour gets an entry of its own, and only pixels of
    // exactly that colour are transparent, whatever else is quantised.
    Bitmap photo = Photo(24);
    const Color tc = RGB(201, 77, 140);  // the flat rectangle
    photo.setPixel(0, 0, RGB(201, 77, 141));  // a near neighbour that must stay opaque
    photo.setTransparent(true, tc);
    for (bool rle : {false, true}) {
        const ByteVector f = gif::Write(photo, rle);
        EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
        Bitmap back;
        gif::Read(ByteSpan(f), back);
        const std::size_t gce = 13 + 768;
        ASSERT_EQ(f[gce + 1], 0xF9);
        const int transparentIndex = f[gce + 6];
        EXPECT_EQ(back.palette()[std::size_t(transparentIndex)], tc);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                ASSERT_EQ(back.index(x, y) == transparentIndex, photo.pixel(x, y) == tc) << x << "," << y;
        if (HaveMagick()) {
            const auto rgba = MagickPixels(f, "gif", "rgba");
            ASSERT_TRUE(rgba);
            ASSERT_EQ(rgba->size(), std::size_t(photo.width() * photo.height() * 4));
            EXPECT_EQ((*rgba)[3], 255);                                        // (0,0) opaque
            EXPECT_EQ((*rgba)[(std::size_t(20) * photo.width() + 30) * 4 + 3], 0);  // in the rectangle
        }
    }
}

TEST(GifWrite, EmptyAndOversizedPicturesFail) {
    EXPECT_EQ(ErrorOf([] { gif::Write(Bitmap(), false); }), "GIF: the bitmap is empty");
    EXPECT_EQ(ErrorOf([] { gif::Write(Bitmap(0, 5, 8), true); }), "GIF: the bitmap is empty");
    EXPECT_EQ(ErrorOf([] { gif::Write(Bitmap(65536, 1, 1), false); }),
              "GIF: picture size 65536 x 1 is too large for a GIF file");
}

// ---------------------------------------------------------------------------
// PCX

// The encoded bytes of a one-row 8-bit picture, after the header.
ByteVector PcxRow(const std::vector<std::uint8_t>& row) {
    Bitmap b(int(row.size()), 1, 8);
    b.setPalette(GreyPalette256());
    for (std::size_t x = 0; x < row.size(); ++x) b.setIndex(int(x), 0, row[x]);
    const ByteVector f = pcx::Write(b);
    return ByteVector(f.begin() + 128, f.end() - 769);
}

std::vector<std::uint8_t> Repeat(std::size_t n, std::uint8_t v) { return std::vector<std::uint8_t>(n, v); }

std::vector<std::uint8_t> Join(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PcxWrite, RunLengthExamples) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> row;
        ByteVector encoded;
    };
    const Case cases[] = {
        {"63 x 5, then 7", Join(Repeat(63, 5), {7}), {0xFF, 5, 7}},
        {"64 x 5, then 7", Join(Repeat(64, 5), {7}), {0xFF, 5, 5, 7}},
        {"single 200", {200}, {0xC1, 200}},
        {"single 0xC0", {1, 0xC0, 2}, {1, 0xC1, 0xC0, 2}},
        {"single 0xBF", {0xBF}, {0xBF}},
        {"two 200", {200, 200}, {0xC2, 200}},
        {"two 5", {5, 5}, {0xC2, 5}},
        {"126 x 9", Repeat(126, 9), {0xFF, 9, 0xFF, 9}},
        {"127 x 0xFF", Repeat(127, 0xFF), {0xFF, 0xFF, 0xFF, 0xFF, 0xC1, 0xFF}},
        {"alternating", {1, 2, 1, 2}, {1, 2, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PcxRow(c.row), c.encoded);
        ByteVector direct;
        pcx::EncodeRow(c.row.data(), c.row.size(), direct);
        EXPECT_EQ(direct, c.encoded);
    }
}

TEST(PcxWrite, RunsStopAtTheEndOfEachRowAndPlane) {
    Bitmap b(3, 2, 24);
    b.fill(RGB(4, 4, 4));
    const ByteVector f = pcx::Write(b);
    const ByteVector expected = {0xC3, 4, 0xC3, 4, 0xC3, 4, 0xC3, 4, 0xC3, 4, 0xC3, 4};
    EXPECT_EQ(ByteVector(f.begin() + 128, f.end()), expected);
}

TEST(PcxWrite, HeaderFields) {
    struct Case {
        int bpp, width, height;
        int bitsPerPlane, planes, bytesPerLine;
        bool paletteBlock;
    };
    const Case cases[] = {
        {1, 10, 4, 1, 1, 2, true},  {1, 16, 1, 1, 1, 2, true},   {1, 17, 2, 1, 1, 3, true},
        {8, 13, 5, 8, 1, 13, true}, {24, 3, 2, 8, 3, 3, false},  {4, 7, 3, 8, 3, 7, false},
        {16, 5, 5, 8, 3, 5, false}, {32, 9, 1, 8, 3, 9, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits, " << c.width << " x " << c.height);
        const ByteVector f = pcx::Write(Picture(c.bpp, c.width, c.height));
        ASSERT_GE(f.size(), 128u);
        const ByteSpan h(f);
        EXPECT_EQ(f[0], 10);
        EXPECT_EQ(f[1], 5);
        EXPECT_EQ(f[2], 1);
        EXPECT_EQ(f[3], c.bitsPerPlane);
        EXPECT_EQ(ReadLE16(h, 4), 0);
        EXPECT_EQ(ReadLE16(h, 6), 0);
        EXPECT_EQ(ReadLE16(h, 8), c.width - 1);
        EXPECT_EQ(ReadLE16(h, 10), c.height - 1);
        EXPECT_EQ(ReadLE16(h, 12), 72);
        EXPECT_EQ(ReadLE16(h, 14), 72);
        for (int i = 16; i < 65; ++i) EXPECT_EQ(f[i], 0) << "offset " << i;
        EXPECT_EQ(f[65], c.planes);
        EXPECT_EQ(ReadLE16(h, 66), c.bytesPerLine);
        EXPECT_EQ(ReadLE16(h, 68), 1);
        for (int i = 70; i < 128; ++i) EXPECT_EQ(f[i], 0) << "offset " << i;

        // The rows decode to exactly height x planes x bytes per line; then the palette
        // block or the end of the file.
        std::size_t at = 128;
        for (int i = 0; i < c.height * c.planes; ++i)
            EXPECT_EQ(DecodePcxPlane(f, at, std::size_t(c.bytesPerLine)).size(), std::size_t(c.bytesPerLine));
        EXPECT_EQ(f.size() - at, c.paletteBlock ? 769u : 0u);
    }
}

TEST(PcxWrite, PaletteBlock) {
    // 1 bit, 10 wide: the byte 12 and 768 bytes, only the first two entries non-zero.
    Bitmap mono(10, 3, 1);
    mono.setPalette({RGB(1, 2, 3), RGB(250, 251, 252)});
    mono.setIndex(0, 0, 1);
    ByteVector f = pcx::Write(mono);
    ASSERT_GE(f.size(), 128u + 769u);
    std::size_t block = f.size() - 769;
    EXPECT_EQ(f[block], 12);
    EXPECT_EQ(ByteVector(f.begin() + block + 1, f.begin() + block + 7), (ByteVector{1, 2, 3, 250, 251, 252}));
    EXPECT_TRUE(std::all_of(f.begin() + block + 7, f.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(ReadLE16(ByteSpan(f), 66), 2);

    // 8 bits: all 256 entries, red, green, blue; a short palette is padded with 0.
    Bitmap eight = Picture(8, 5, 2);
    f = pcx::Write(eight);
    block = f.size() - 769;
    ASSERT_EQ(f[block], 12);
    for (std::size_t i = 0; i < 256; ++i)
        EXPECT_EQ(RGB(f[block + 1 + 3 * i], f[block + 2 + 3 * i], f[block + 3 + 3 * i]), eight.palette()[i]) << i;
    eight.setPalette({RGB(9, 8, 7)});
    f = pcx::Write(eight);
    block = f.size() - 769;
    EXPECT_EQ(ByteVector(f.begin() + block, f.begin() + block + 4), (ByteVector{12, 9, 8, 7}));
    EXPECT_TRUE(std::all_of(f.begin() + block + 4, f.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(PcxWrite, ThreePlanesAreRedGreenBlue) {
    Bitmap b(2, 1, 24);
    b.setPixel(0, 0, RGB(1, 2, 3));
    b.setPixel(1, 0, RGB(4, 5, 6));
    const ByteVector f = pcx::Write(b);
    EXPECT_EQ(ByteVector(f.begin() + 128, f.end()), (ByteVector{1, 4, 2, 5, 3, 6}));
    // A 16-bit pixel is written as the colour Bitmap::pixel gives it.
    Bitmap h(1, 1, 16);
    h.setPixel(0, 0, RGB(190, 130, 9));  // every channel below 0xC0: no escapes
    const Color c = h.pixel(0, 0);
    const ByteVector g = pcx::Write(h);
    EXPECT_EQ(ByteVector(g.begin() + 128, g.end()),
              (ByteVector{std::uint8_t(GetR(c)), std::uint8_t(GetG(c)), std::uint8_t(GetB(c))}));
}

TEST(PcxWrite, EveryDepthIsReadByImageMagick) {
    if (!HaveMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    for (int bpp : kDepths) {
        SCOPED_TRACE(testing::Message() << bpp << " bits");
        const Bitmap pic = Picture(bpp, 150, 37, bpp <= 8 ? 0 : 256);
        const ByteVector f = pcx::Write(pic);
        const auto id = Identify(f, "pcx");
        EXPECT_EQ(id.status, 0) << id.output;
        const auto pixels = MagickPixels(f, "pcx");
        ASSERT_TRUE(pixels);
        if (bpp != 1) {
            EXPECT_EQ(*pixels, RgbOf(pic));
            continue;
        }
        // Readers of 1-bit PCX files take their two colours from no palette at all (the
        // header's is all 0 and the block at the end is for 256 colours); ImageMagick
        // 6.9 shows bit 0 white, ImageMagick 7 black. What must survive is which pixels
        // have which bit: every index maps to one colour, the two differ.
        ASSERT_EQ(pixels->size(), RgbOf(pic).size());
        std::optional<Color> seen[2];
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x) {
                const std::size_t at = (std::size_t(y) * pic.width() + x) * 3;
                const Color c = RGB((*pixels)[at], (*pixels)[at + 1], (*pixels)[at + 2]);
                auto& s = seen[pic.index(x, y)];
                if (!s) s = c;
                ASSERT_EQ(*s, c) << x << "," << y;
            }
        ASSERT_TRUE(seen[0] && seen[1]);
        EXPECT_NE(*seen[0], *seen[1]);
    }
}

TEST(PcxWrite, EmptyAndOversizedPicturesFail) {
    EXPECT_EQ(ErrorOf([] { pcx::Write(Bitmap()); }), "The bitmap is empty");
    EXPECT_EQ(ErrorOf([] { pcx::Write(Bitmap(4, 0, 1)); }), "The bitmap is empty");
    EXPECT_EQ(ErrorOf([] { pcx::Write(Bitmap(1, 65536, 8)); }),
              "PCX: picture size 1 x 65536 is too large for a PCX file");
}

// ---------------------------------------------------------------------------
// TGA

// Decodes the run-length packets of one row of `width` pixels of `size` bytes.
ByteVector DecodeTgaRow(const ByteVector& f, std::size_t& at, int width, std::size_t size) {
    ByteVector out;
    while (out.size() < std::size_t(width) * size) {
        const std::uint8_t head = f.at(at++);
        const std::size_t n = (head & 0x7F) + 1u;
        if (head & 0x80) {
            for (std::size_t i = 0; i < n; ++i) out.insert(out.end(), f.begin() + at, f.begin() + at + size);
            at += size;
        } else {
            out.insert(out.end(), f.begin() + at, f.begin() + at + n * size);
            at += n * size;
        }
    }
    // A packet that crosses the row's end shows as too many pixels.
    EXPECT_EQ(out.size(), std::size_t(width) * size);
    return out;
}

TEST(TgaWrite, HeaderPassesTheTargaProbe) {
    struct Case {
        int bpp;
        int mapType, imageType, pixelSize, descriptor;
    };
    const Case cases[] = {
        {1, 1, 9, 8, 0x20},   {4, 1, 9, 8, 0x20},   {8, 1, 9, 8, 0x20},
        {16, 0, 10, 16, 0x20}, {24, 0, 10, 24, 0x20}, {32, 0, 10, 32, 0x28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bits");
        const ByteVector f = tga::Write(Picture(c.bpp, 300, 7));
        ASSERT_GT(f.size(), 18u);
        const ByteSpan h(f);
        EXPECT_EQ(f[0], 0);
        EXPECT_EQ(f[1], c.mapType);
        EXPECT_EQ(f[2], c.imageType);
        EXPECT_EQ(ReadLE16(h, 3), 0);
        EXPECT_EQ(ReadLE16(h, 5), 256);
        EXPECT_EQ(f[7], 24);
        EXPECT_EQ(ReadLE16(h, 8), 0);
        EXPECT_EQ(ReadLE16(h, 10), 0);
        EXPECT_EQ(ReadLE16(h, 12), 300);
        EXPECT_EQ(ReadLE16(h, 14), 7);
        EXPECT_EQ(f[16], c.pixelSize);
        EXPECT_EQ(f[17], c.descriptor);
        // The content probe's conditions, as they stand.
        EXPECT_TRUE(f[2] == 0 || f[2] == 1 || f[2] == 2 || f[2] == 3 || f[2] == 9 || f[2] == 10 || f[2] == 11);
        EXPECT_TRUE(f[1] == 0 || f[1] == 1);
        EXPECT_TRUE(f[7] == 15 || f[7] == 16 || f[7] == 24 || f[7] == 32);
        EXPECT_TRUE(f[16] == 8 || f[16] == 15 || f[16] == 16 || f[16] == 24 || f[16] == 32);
    }
}

TEST(TgaWrite, ColourMapAndIndices) {
    for (int bpp : {1, 4, 8}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits");
        Bitmap pic = Picture(bpp, 200, 9);
        const ByteVector f = tga::Write(pic);
        for (std::size_t i = 0; i < 256; ++i) {
            const Color expected = i < (std::size_t{1} << bpp) ? pic.palette()[i] : kBlack;
            EXPECT_EQ(RGB(f[18 + 3 * i + 2], f[18 + 3 * i + 1], f[18 + 3 * i]), expected) << i;
        }
        std::size_t at = 18 + 768;
        for (int y = 0; y < pic.height(); ++y) {
            const ByteVector row = DecodeTgaRow(f, at, pic.width(), 1);
            for (int x = 0; x < pic.width(); ++x) ASSERT_EQ(row[std::size_t(x)], pic.index(x, y)) << x << "," << y;
        }
        EXPECT_EQ(at, f.size());
    }
}

TEST(TgaWrite, Packets) {
    // 130 equal pixels: a run of 128 and a run of 2; rows never share a packet.
    Bitmap b(130, 2, 24);
    b.fill(RGB(1, 2, 3));
    ByteVector f = tga::Write(b);
    const ByteVector row = {0xFF, 3, 2, 1, 0x81, 3, 2, 1};
    ByteVector expected = row;
    expected.insert(expected.end(), row.begin(), row.end());
    EXPECT_EQ(ByteVector(f.begin() + 18, f.end()), expected);

    // Different pixels go into raw packets of at most 128.
    Bitmap r(3, 1, 24);
    r.setPixel(0, 0, RGB(1, 1, 1));
    r.setPixel(1, 0, RGB(2, 2, 2));
    r.setPixel(2, 0, RGB(3, 3, 3));
    f = tga::Write(r);
    EXPECT_EQ(ByteVector(f.begin() + 18, f.end()), (ByteVector{0x02, 1, 1, 1, 2, 2, 2, 3, 3, 3}));

    Bitmap noise = Picture(24, 300, 3);
    for (int x = 0; x < 300; ++x) noise.setPixel(x, 1, RGB(x & 0xFF, x >> 8, 7));  // 300 different pixels
    f = tga::Write(noise);
    std::size_t at = 18;
    for (int y = 0; y < 3; ++y) {
        std::size_t start = at;
        const ByteVector decoded = DecodeTgaRow(f, at, 300, 3);
        if (y == 1) {
            EXPECT_EQ(f[start], 0x7F);  // raw packets of 128, 128 and 44
            EXPECT_EQ(f[start + 1 + 128 * 3], 0x7F);
            EXPECT_EQ(f[start + 2 + 256 * 3], 43);
        }
        for (int x = 0; x < 300; ++x) {
            const Color c = noise.pixel(x, y);
            ASSERT_EQ(RGB(decoded[3 * x + 2], decoded[3 * x + 1], decoded[3 * x]), c) << x << "," << y;
        }
    }
    EXPECT_EQ(at, f.size());
}

TEST(TgaWrite, SixteenAndThirtyTwoBitPixels) {
    // 5-6-5 red 31, green 45, blue 9 -> 5-5-5 with bit 15: 1 11111 10110 01001.
    Bitmap h(1, 1, 16);
    h.row(0)[0] = static_cast<std::uint8_t>((31u << 11 | 45u << 5 | 9u) & 0xFF);
    h.row(0)[1] = static_cast<std::uint8_t>((31u << 11 | 45u << 5 | 9u) >> 8);
    ByteVector f = tga::Write(h);
    const unsigned v = 0x8000 | 31u << 10 | 22u << 5 | 9u;
    EXPECT_EQ(ByteVector(f.begin() + 18, f.end()), (ByteVector{0x00, std::uint8_t(v), std::uint8_t(v >> 8)}));

    Bitmap w(1, 1, 32);
    w.setPixel(0, 0, RGB(10, 20, 30));
    f = tga::Write(w);
    EXPECT_EQ(ByteVector(f.begin() + 18, f.end()), (ByteVector{0x00, 30, 20, 10, 255}));
}

TEST(TgaWrite, EveryDepthIsReadByImageMagick) {
    if (!HaveMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    for (int bpp : kDepths) {
        SCOPED_TRACE(testing::Message() << bpp << " bits");
        const Bitmap pic = bpp <= 8 ? Picture(bpp) : Photo(bpp);
        const ByteVector f = tga::Write(pic);
        const auto id = Identify(f, "tga");
        EXPECT_EQ(id.status, 0) << id.output;
        {
            TempPicture file(f, "tga");
            const auto opaque = RunCommand("identify -format %[opaque] " + Quote(file.path()));
            EXPECT_TRUE(opaque.output == "True" || opaque.output == "true") << opaque.output;
        }
        const auto pixels = MagickPixels(f, "tga");
        ASSERT_TRUE(pixels);
        if (bpp != 16) {
            EXPECT_EQ(*pixels, RgbOf(pic));
            continue;
        }
        // Targa's 16 bits hold 5 bits of green where ours hold 6: ImageMagick must read
        // our red and blue and the top 5 bits of our green.
        ASSERT_EQ(pixels->size(), RgbOf(pic).size());
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x) {
                const std::uint8_t* raw = pic.row(y) + 2 * x;
                const unsigned p = unsigned(raw[0]) | unsigned(raw[1]) << 8;
                const unsigned ours[3] = {p >> 11 & 31, p >> 6 & 31, p & 31};
                for (int k = 0; k < 3; ++k) {
                    const unsigned theirs = (*pixels)[(std::size_t(y) * pic.width() + x) * 3 + k];
                    ASSERT_EQ((theirs * 31 + 127) / 255, ours[k]) << x << "," << y << " channel " << k;
                }
            }
    }
}

TEST(TgaWrite, EmptyAndOversizedPicturesFail) {
    EXPECT_EQ(ErrorOf([] { tga::Write(Bitmap()); }), "TGA: the bitmap is empty");
    EXPECT_EQ(ErrorOf([] { tga::Write(Bitmap(0, 0, 8)); }), "TGA: the bitmap is empty");
    EXPECT_EQ(ErrorOf([] { tga::Write(Bitmap(65536, 1, 1)); }),
              "TGA: picture size 65536 x 1 is too large for a TGA file");
}

}  // namespace
}  // namespace pictorix
