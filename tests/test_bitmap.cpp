// Tests of the working bitmap, its palettes and the rounding helper.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "core/rounding.h"

namespace pictorix {
namespace {

const int kFormats[] = {1, 4, 8, 16, 24, 32};

bool IsPaletteFormat(int bpp) { return bpp <= 8; }

// Brute-force nearest entry: the reference the fast mapping must agree with.
int BruteNearest(const Palette& p, Color c) {
    int best = 0;
    long bestD = LONG_MAX;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const long dr = long(GetR(p[i])) - long(GetR(c));
        const long dg = long(GetG(p[i])) - long(GetG(c));
        const long db = long(GetB(p[i])) - long(GetB(c));
        const long d = dr * dr + dg * dg + db * db;
        if (d < bestD) bestD = d, best = int(i);
    }
    return best;
}

const Palette& FixedPalette(int bpp) {
    return bpp == 1 ? BlackWhitePalette() : bpp == 4 ? StandardPalette16() : HalftonePalette();
}

// The colour a format stores for c (written independently of the bitmap code).
Color Quantise(Color c, int bpp) {
    switch (bpp) {
        case 1:
        case 4:
        case 8: return FixedPalette(bpp)[BruteNearest(FixedPalette(bpp), c)];
        case 16: {
            const unsigned r = GetR(c) >> 3, g = GetG(c) >> 2, b = GetB(c) >> 3;
            return RGB(r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2);
        }
        default: return c;
    }
}

// A 5 x 3 picture (odd width, so 1- and 4-bit rows end inside a byte) of colours that
// exercise every mapping: exact palette colours, cube and grey-ramp colours, and
// colours between them.
const std::vector<Color> kColours = {
    kBlack,           kWhite,           RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(0, 0, 255),
    RGB(0x80, 0, 0),  RGB(0xC0, 0xC0, 0xC0), RGB(0x33, 0x66, 0x99), RGB(0xA6, 0xCA, 0xF0),
    RGB(12, 12, 12),  RGB(0x12, 0x34, 0x56), RGB(200, 100, 50), RGB(127, 128, 129),
    RGB(1, 254, 77),  RGB(0x80, 0x80, 0x80),
};
constexpr int kW = 5, kH = 3;

Bitmap MakePicture(int bpp) {
    Bitmap b(kW, kH, bpp);
    for (int i = 0; i < kW * kH; ++i) b.setPixel(i % kW, i / kW, kColours[i]);
    return b;
}

// Padding bytes and the unused bits after the last pixel of a row stay zero, so rows
// can be written to files as they are.
void ExpectCleanPadding(const Bitmap& b) {
    const std::size_t usedBits = std::size_t(b.width()) * std::size_t(b.bitsPerPixel());
    for (int y = 0; y < b.height(); ++y) {
        const std::uint8_t* r = b.row(y);
        if (usedBits % 8) {
            const std::uint8_t mask = std::uint8_t(0xFF >> (usedBits % 8));
            EXPECT_EQ(r[usedBits / 8] & mask, 0) << "row " << y;
        }
        for (std::size_t i = (usedBits + 7) / 8; i < b.stride(); ++i)
            EXPECT_EQ(r[i], 0) << "row " << y << " byte " << i;
    }
}

// ---------------------------------------------------------------------------
// Conversions over all 36 format pairs

class ConversionTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ConversionTest, EveryPixelIsTheNearestColourOfTheNewFormat) {
    const auto [from, to] = GetParam();
    Bitmap b = MakePicture(from);
    for (int i = 0; i < kW * kH; ++i)
        ASSERT_EQ(b.pixel(i % kW, i / kW), Quantise(kColours[i], from)) << "pixel " << i;

    b.setBitsPerPixel(to);
    ASSERT_EQ(b.bitsPerPixel(), to);
    ASSERT_EQ(b.width(), kW);
    ASSERT_EQ(b.height(), kH);
    ASSERT_EQ(b.stride(), Bitmap::strideFor(kW, to));
    if (IsPaletteFormat(to)) EXPECT_EQ(b.palette(), FixedPalette(to));
    else EXPECT_TRUE(b.palette().empty());
    for (int i = 0; i < kW * kH; ++i)
        EXPECT_EQ(b.pixel(i % kW, i / kW), Quantise(Quantise(kColours[i], from), to)) << "pixel " << i;
    ExpectCleanPadding(b);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, ConversionTest,
                         ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::ValuesIn(kFormats)),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) + "to" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Round trips through a format that can hold every colour of the first come back unchanged.
TEST(BitmapConversion, LosslessRoundTripsKeepEveryPixel) {
    struct Case { int from, via; };
    const Case cases[] = {{24, 32}, {32, 24}, {16, 24}, {16, 32}, {8, 24}, {8, 32}, {4, 8},
                          {4, 24}, {1, 4}, {1, 8}, {1, 16}, {4, 16}};
    for (const Case& c : cases) {
        Bitmap b = MakePicture(c.from);
        const Bitmap original = b;
        b.setBitsPerPixel(c.via);
        b.setBitsPerPixel(c.from);
        EXPECT_EQ(b.palette(), original.palette());
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                EXPECT_EQ(b.pixel(x, y), original.pixel(x, y)) << c.from << " via " << c.via;
    }
}

TEST(BitmapConversion, EveryHalftoneIndexSurvives8To24To8) {
    Bitmap b(16, 16, 8);
    for (int i = 0; i < 256; ++i) b.setIndex(i % 16, i / 16, i);
    b.setBitsPerPixel(24);
    b.setBitsPerPixel(8);
    // Duplicates map to the lowest index holding the colour.
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(b.index(i % 16, i / 16), NearestPaletteIndex(HalftonePalette(), HalftonePalette()[i]));
    // Arbitrary 24-bit colours are exact through 32 bits.
    Bitmap c(3, 1, 24);
    c.setPixel(0, 0, RGB(1, 2, 3));
    c.setPixel(1, 0, RGB(254, 128, 7));
    c.setPixel(2, 0, RGB(0x12, 0x34, 0x56));
    c.setBitsPerPixel(32);
    EXPECT_EQ(c.row(0)[3], 0);  // unused fourth byte
    c.setBitsPerPixel(24);
    EXPECT_EQ(c.pixel(1, 0), RGB(254, 128, 7));
    EXPECT_EQ(c.pixel(2, 0), RGB(0x12, 0x34, 0x56));
}

TEST(BitmapConversion, SameFormatKeepsAnOwnPalette) {
    Bitmap b(2, 1, 8);
    const Palette own = {RGB(10, 20, 30), RGB(200, 100, 0)};
    b.setPalette(own);
    b.setIndex(0, 0, 1);
    b.setIndex(1, 0, 0);
    b.setBitsPerPixel(8);
    EXPECT_EQ(b.palette(), own);
    EXPECT_EQ(b.index(0, 0), 1);
    EXPECT_EQ(b.pixel(1, 0), RGB(10, 20, 30));
}

TEST(BitmapConversion, OwnPaletteColoursMapToTheNearestFixedEntries) {
    Bitmap b(3, 1, 8);
    b.setPalette({RGB(250, 5, 5), RGB(0x33, 0x66, 0x99), RGB(100, 100, 100)});
    for (int x = 0; x < 3; ++x) b.setIndex(x, 0, x);
    Bitmap b4 = b;
    b.setBitsPerPixel(8);  // same format: unchanged
    b4.setBitsPerPixel(4);
    EXPECT_EQ(b4.pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(b4.pixel(1, 0), Quantise(RGB(0x33, 0x66, 0x99), 4));
    EXPECT_EQ(b4.pixel(2, 0), RGB(0x80, 0x80, 0x80));
    b.setBitsPerPixel(24);
    b.setBitsPerPixel(8);
    EXPECT_EQ(b.pixel(1, 0), RGB(0x33, 0x66, 0x99));  // a cube colour
}

TEST(BitmapConversion, IndicesBeyondAShortPaletteReadAsBlack) {
    Bitmap b(3, 1, 8);
    b.setPalette({kWhite});
    b.setIndex(0, 0, 0);
    b.setIndex(1, 0, 1);
    b.setIndex(2, 0, 255);
    EXPECT_EQ(b.pixel(0, 0), kWhite);
    EXPECT_EQ(b.pixel(1, 0), kBlack);
    EXPECT_EQ(b.pixel(2, 0), kBlack);
    for (int to : {1, 4, 24}) {
        Bitmap c = b;
        c.setBitsPerPixel(to);
        EXPECT_EQ(c.pixel(0, 0), kWhite) << to;
        EXPECT_EQ(c.pixel(2, 0), kBlack) << to;
    }
    Bitmap empty(2, 1, 4);
    empty.setPalette({});
    EXPECT_EQ(empty.pixel(1, 0), kBlack);
    empty.setPixel(0, 0, kWhite);  // nothing to choose from: index 0
    EXPECT_EQ(empty.index(0, 0), 0);
}

TEST(BitmapConversion, SetPixelChoosesOnlyAddressableEntries) {
    Bitmap b(1, 1, 4);
    b.setPalette(GreyPalette256());  // more entries than 4 bits can address
    b.setPixel(0, 0, kWhite);
    EXPECT_EQ(b.index(0, 0), 15);
    b.setPalette({kWhite, RGB(250, 0, 0)});  // fewer: missing entries are not chosen
    b.setPixel(0, 0, kBlack);
    EXPECT_EQ(b.index(0, 0), 1);
}

// The fast mapping must give exactly the brute-force nearest entry.
TEST(BitmapConversion, FastMappingIsExact) {
    std::mt19937 rng(12345);
    Bitmap b(1024, 64, 24);
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) b.setPixel(x, y, rng() & 0xFFFFFF);
    for (int to : {1, 4, 8}) {
        Bitmap c = b;
        c.setBitsPerPixel(to);
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                ASSERT_EQ(c.index(x, y), BruteNearest(FixedPalette(to), b.pixel(x, y)))
                    << to << " bits at " << x << "," << y;
    }
    // Every 16-bit value.
    Bitmap s(256, 256, 16);
    for (int v = 0; v < 65536; ++v) {
        std::uint8_t* p = s.row(v / 256) + 2 * (v % 256);
        p[0] = std::uint8_t(v & 0xFF);
        p[1] = std::uint8_t(v >> 8);
    }
    Bitmap s8 = s;
    s8.setBitsPerPixel(8);
    for (int v = 0; v < 65536; ++v)
        ASSERT_EQ(s8.index(v % 256, v / 256), BruteNearest(HalftonePalette(), s.pixel(v % 256, v / 256)))
            << "16-bit value " << v;
}

TEST(BitmapConversion, UnsupportedFormatThrows) {
    Bitmap b(2, 2, 24);
    EXPECT_THROW(b.setBitsPerPixel(2), Error);
    EXPECT_THROW(b.setBitsPerPixel(0), Error);
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_THROW(Bitmap(2, 2, 15), Error);
    EXPECT_THROW(b.reset(2, 2, 48), Error);
}

TEST(BitmapConversion, EmptyBitmapsConvert) {
    for (int from : kFormats)
        for (int to : kFormats) {
            Bitmap b(0, 3, from);
            b.setBitsPerPixel(to);
            EXPECT_EQ(b.bitsPerPixel(), to);
            EXPECT_TRUE(b.empty());
            b.setWidth(2);
            EXPECT_EQ(b.pixel(1, 2), kWhite);
        }
}

// ---------------------------------------------------------------------------
// Resizing

class ResizeTest : public ::testing::TestWithParam<int> {};

TEST_P(ResizeTest, KeepsTopLeftAndFillsWithTheFillColour) {
    const int bpp = GetParam();
    const Color fills[] = {kWhite, RGB(0, 0, 0xFF), RGB(200, 30, 30)};
    for (Color fillColour : fills) {
        Bitmap b = MakePicture(bpp);
        b.setFillColor(fillColour);
        const Bitmap old = b;
        const Color expectedFill = Quantise(fillColour, bpp);
        struct Step { int w, h; };
        const Step steps[] = {{7, 4}, {3, 5}, {9, 2}, {0, 2}, {6, 0}, {0, 0}, {11, 3}};
        for (const Step& s : steps) {
            const Bitmap before = b;
            b.setSize(s.w, s.h);
            ASSERT_EQ(b.width(), s.w);
            ASSERT_EQ(b.height(), s.h);
            ASSERT_EQ(b.stride(), Bitmap::strideFor(s.w, bpp));
            ASSERT_EQ(b.bitsPerPixel(), bpp);
            ASSERT_EQ(b.palette(), old.palette());
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x) {
                    const bool kept = x < before.width() && y < before.height();
                    EXPECT_EQ(b.pixel(x, y), kept ? before.pixel(x, y) : expectedFill)
                        << bpp << " bits, " << s.w << "x" << s.h << " at " << x << "," << y;
                }
            ExpectCleanPadding(b);
        }
        // setWidth and setHeight change one side only.
        Bitmap c = old;
        c.setWidth(6);
        c.setHeight(4);
        EXPECT_EQ(c.pixel(4, 2), old.pixel(4, 2));
        EXPECT_EQ(c.pixel(5, 0), expectedFill);
        EXPECT_EQ(c.pixel(0, 3), expectedFill);
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ResizeTest, ::testing::ValuesIn(kFormats));

// 1- and 4-bit rows hold several pixels per byte: every old/new width pair up to 17.
TEST(BitmapResize, PackedRowsAtEveryWidth) {
    for (int bpp : {1, 4}) {
        const int n = 1 << bpp;
        for (int w0 = 1; w0 <= 17; ++w0)
            for (int w1 = 0; w1 <= 17; ++w1) {
                Bitmap b(w0, 2, bpp);
                b.setFillColor(kBlack);
                for (int y = 0; y < 2; ++y)
                    for (int x = 0; x < w0; ++x) b.setIndex(x, y, (x * 7 + y * 3 + 1) % n);
                b.setSize(w1, 3);
                for (int y = 0; y < 3; ++y)
                    for (int x = 0; x < w1; ++x) {
                        const int want = (x < w0 && y < 2) ? (x * 7 + y * 3 + 1) % n : 0;
                        ASSERT_EQ(b.index(x, y), want) << bpp << " bits " << w0 << "->" << w1 << " at "
                                                      << x << "," << y;
                    }
                ExpectCleanPadding(b);
            }
    }
}

// ---------------------------------------------------------------------------
// Layout

TEST(BitmapLayout, StrideIsTheDibRowLength) {
    struct Case { int width, bpp; std::size_t stride; };
    const Case cases[] = {
        {0, 24, 0},  {1, 1, 4},   {32, 1, 4},  {33, 1, 8},  {1, 4, 4},  {8, 4, 4},  {9, 4, 8},
        {3, 8, 4},   {4, 8, 4},   {5, 8, 8},   {1, 16, 4},  {2, 16, 4}, {3, 16, 8}, {1, 24, 4},
        {3, 24, 12}, {5, 24, 16}, {1, 32, 4},  {7, 32, 28}, {kMaxDimension, 32, std::size_t(kMaxDimension) * 4},
    };
    for (const Case& c : cases) EXPECT_EQ(Bitmap::strideFor(c.width, c.bpp), c.stride) << c.width << "x" << c.bpp;
    Bitmap b(5, 3, 24);
    EXPECT_EQ(b.stride(), 16u);
    EXPECT_EQ(b.row(2) - b.row(0), 32);
    EXPECT_EQ(b.bits(), b.row(0));
}

TEST(BitmapLayout, NewBitmapsAreWhiteWithTheirFixedPalette) {
    const Bitmap d;
    EXPECT_TRUE(d.empty());
    EXPECT_EQ(d.bitsPerPixel(), 24);
    EXPECT_EQ(d.fillColor(), kWhite);
    for (int bpp : kFormats) {
        const Bitmap b(5, 2, bpp);
        EXPECT_EQ(b.fillColor(), kWhite);
        if (IsPaletteFormat(bpp)) {
            EXPECT_EQ(b.palette(), FixedPalette(bpp));
        }
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(b.pixel(x, y), kWhite) << bpp;
        ExpectCleanPadding(b);
    }
}

TEST(BitmapLayout, SixteenBitMasks) {
    Bitmap b(5, 1, 16);
    b.setPixel(0, 0, RGB(255, 0, 0));
    b.setPixel(1, 0, RGB(0, 255, 0));
    b.setPixel(2, 0, RGB(0, 0, 255));
    b.setPixel(3, 0, RGB(0x0F, 0x07, 0xF7));  // low bits dropped: r1 g1 b30
    const std::uint8_t* r = b.row(0);
    EXPECT_EQ(r[0] | r[1] << 8, 0xF800);
    EXPECT_EQ(r[2] | r[3] << 8, 0x07E0);
    EXPECT_EQ(r[4] | r[5] << 8, 0x001F);
    EXPECT_EQ(r[6] | r[7] << 8, (1 << 11) | (1 << 5) | 30);
    // Expansion replicates the top bits: 5 bits 10000 -> 10000100, 6 bits 100000 -> 10000010.
    std::uint8_t* w = b.row(0) + 8;
    const unsigned v = (0x10u << 11) | (0x20u << 5) | 0x01u;
    w[0] = std::uint8_t(v & 0xFF);
    w[1] = std::uint8_t(v >> 8);
    EXPECT_EQ(b.pixel(4, 0), RGB(0x84, 0x82, 0x08));
    EXPECT_EQ(b.pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(b.pixel(3, 0), RGB(0x08, 0x04, 0xF7));
}

TEST(BitmapLayout, PackedPixelsAtTheRowEnd) {
    // 1 bit, width 9: pixel 8 is the top bit of the second byte.
    Bitmap b1(9, 2, 1);
    b1.fill(kBlack);
    b1.setIndex(8, 0, 1);
    EXPECT_EQ(b1.row(0)[1], 0x80);
    EXPECT_EQ(b1.row(0)[0], 0x00);
    EXPECT_EQ(b1.row(1)[1], 0x00);
    EXPECT_EQ(b1.pixel(8, 0), kWhite);
    EXPECT_EQ(b1.pixel(7, 0), kBlack);
    b1.setPixel(7, 1, kWhite);
    EXPECT_EQ(b1.row(1)[0], 0x01);
    b1.setIndex(8, 0, 0);
    EXPECT_EQ(b1.row(0)[1], 0x00);

    // 4 bits, width 3: pixel 2 is the high nibble of the second byte.
    Bitmap b4(3, 2, 4);
    b4.fill(kBlack);
    b4.setIndex(2, 0, 0xC);
    b4.setIndex(1, 0, 0x9);
    EXPECT_EQ(b4.row(0)[1], 0xC0);
    EXPECT_EQ(b4.row(0)[0], 0x09);
    EXPECT_EQ(b4.pixel(2, 0), RGB(0, 0, 255));
    EXPECT_EQ(b4.pixel(1, 0), RGB(255, 0, 0));
    EXPECT_EQ(b4.index(0, 0), 0);
    EXPECT_EQ(b4.row(1)[1], 0x00);
    ExpectCleanPadding(b1);
    ExpectCleanPadding(b4);

    // 24 bits, width 1: the last pixel's red byte is followed by one padding byte.
    Bitmap b24(1, 2, 24);
    b24.setPixel(0, 0, RGB(1, 2, 3));
    EXPECT_EQ(b24.row(0)[0], 3);
    EXPECT_EQ(b24.row(0)[2], 1);
    EXPECT_EQ(b24.row(0)[3], 0);
    EXPECT_EQ(b24.pixel(0, 1), kWhite);
}

TEST(BitmapLayout, ResetKeepsFillColourAndPalette) {
    Bitmap b(2, 2, 8);
    b.setPalette(GreyPalette256());
    b.setFillColor(RGB(1, 2, 3));
    b.reset(7, 3, 8);
    EXPECT_EQ(b.width(), 7);
    EXPECT_EQ(b.height(), 3);
    EXPECT_EQ(b.stride(), 8u);
    EXPECT_EQ(b.palette(), GreyPalette256());
    EXPECT_EQ(b.fillColor(), RGB(1, 2, 3));
    EXPECT_THROW(b.reset(-1, 3, 8), Error);
}

TEST(BitmapLayout, FillUsesTheNearestEntry) {
    Bitmap b(3, 1, 4);
    b.fill(RGB(250, 250, 10));
    for (int x = 0; x < 3; ++x) EXPECT_EQ(b.index(x, 0), 11);  // yellow
    Bitmap t(2, 2, 32);
    t.fill(RGB(9, 8, 7));
    EXPECT_EQ(t.pixel(1, 1), RGB(9, 8, 7));
}

// ---------------------------------------------------------------------------
// Palettes and helpers

TEST(Palettes, FixedPalettesHoldTheWindowsColours) {
    EXPECT_EQ(BlackWhitePalette(), (Palette{kBlack, kWhite}));
    const Palette vga = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
                         0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    EXPECT_EQ(StandardPalette16(), vga);

    const Palette& h = HalftonePalette();
    ASSERT_EQ(h.size(), 256u);
    const Palette first = {RGB(0, 0, 0),       RGB(0x80, 0, 0),    RGB(0, 0x80, 0),    RGB(0x80, 0x80, 0),
                           RGB(0, 0, 0x80),    RGB(0x80, 0, 0x80), RGB(0, 0x80, 0x80), RGB(0xC0, 0xC0, 0xC0),
                           RGB(0xC0, 0xDC, 0xC0), RGB(0xA6, 0xCA, 0xF0)};
    const Palette last = {RGB(0xFF, 0xFB, 0xF0), RGB(0xA0, 0xA0, 0xA4), RGB(0x80, 0x80, 0x80),
                          RGB(0xFF, 0, 0),       RGB(0, 0xFF, 0),       RGB(0xFF, 0xFF, 0),
                          RGB(0, 0, 0xFF),       RGB(0xFF, 0, 0xFF),    RGB(0, 0xFF, 0xFF),
                          RGB(0xFF, 0xFF, 0xFF)};
    EXPECT_EQ(Palette(h.begin(), h.begin() + 10), first);
    EXPECT_EQ(Palette(h.end() - 10, h.end()), last);
    for (unsigned b = 0; b < 6; ++b)  // cube: red fastest
        for (unsigned g = 0; g < 6; ++g)
            for (unsigned r = 0; r < 6; ++r)
                EXPECT_EQ(h[10 + r + 6 * g + 36 * b], RGB(r * 0x33, g * 0x33, b * 0x33));
    const unsigned greys[20] = {12, 24, 36, 49, 61, 73, 85, 97, 109, 121,
                                134, 146, 158, 170, 182, 194, 206, 219, 231, 243};
    for (int k = 0; k < 20; ++k) EXPECT_EQ(h[226 + k], RGB(greys[k], greys[k], greys[k])) << k;

    const Palette& g = GreyPalette256();
    ASSERT_EQ(g.size(), 256u);
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(g[i], RGB(i, i, i));
}

TEST(Palettes, NearestIndexPrefersTheLowestIndexOnTies) {
    EXPECT_EQ(NearestPaletteIndex({kWhite, kBlack, kWhite}, kWhite), 0);
    EXPECT_EQ(NearestPaletteIndex({kBlack, kWhite, kBlack}, RGB(10, 10, 10)), 0);
    EXPECT_EQ(NearestPaletteIndex({RGB(0, 0, 0), RGB(2, 0, 0)}, RGB(1, 0, 0)), 0);
    EXPECT_EQ(NearestPaletteIndex({RGB(2, 0, 0), RGB(0, 0, 0)}, RGB(1, 0, 0)), 0);
    EXPECT_EQ(NearestPaletteIndex(BlackWhitePalette(), RGB(128, 128, 127)), 1);
    EXPECT_EQ(NearestPaletteIndex(BlackWhitePalette(), RGB(127, 128, 127)), 0);
    EXPECT_EQ(NearestPaletteIndex(HalftonePalette(), kWhite), 10 + 215);  // the cube's white comes first
    EXPECT_EQ(NearestPaletteIndex({}, kWhite), 0);
    // A top byte (system-colour marker) is not part of the colour.
    EXPECT_EQ(NearestPaletteIndex({kBlack, kWhite}, 0xFF000000 | kWhite), 1);
}

TEST(CheckPictureSize, RejectsSizesOutOfRange) {
    struct Case { long long w, h; bool ok; };
    const Case cases[] = {
        {0, 0, true},
        {1, 1, true},
        {kMaxDimension, 1, true},
        {1, kMaxDimension, true},
        {1 << 15, 1 << 15, true},  // exactly kMaxPixels
        {(1 << 15) + 1, 1 << 15, false},
        {kMaxDimension + 1LL, 1, false},
        {1, kMaxDimension + 1LL, false},
        {-1, 5, false},
        {5, -1, false},
        {kMaxDimension, kMaxDimension, false},
        {1LL << 40, 1LL << 40, false},
    };
    for (const Case& c : cases) {
        if (c.ok) {
            EXPECT_NO_THROW(CheckPictureSize(c.w, c.h, "x")) << c.w << " x " << c.h;
        } else {
            EXPECT_THROW(CheckPictureSize(c.w, c.h, "x"), Error) << c.w << " x " << c.h;
        }
    }
    try {
        CheckPictureSize(-1, 5, "bmp reader");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "bmp reader: picture size -1 x 5 is not supported");
    }
    Bitmap b(1, 1, 24);
    EXPECT_THROW(b.setSize(kMaxDimension + 1, 1), Error);
    EXPECT_THROW(b.setWidth(-2), Error);
    EXPECT_EQ(b.width(), 1);
}

TEST(Rounding, NearestWithHalvesToEven) {
    struct Case { double v; int want; };
    const Case cases[] = {
        {0.0, 0},   {0.5, 0},     {1.5, 2},     {2.5, 2},   {3.5, 4},   {-0.5, 0}, {-1.5, -2},
        {-2.5, -2}, {2.4999, 2},  {2.5001, 3},  {49.95, 50}, {-7.2, -7}, {-7.7, -8},
        {1e12, INT_MAX}, {-1e12, INT_MIN}, {std::nan(""), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundToInt(c.v), c.want) << c.v;
    EXPECT_EQ(RoundToInt64(4503599627370495.5), 4503599627370496LL);
    EXPECT_EQ(RoundToByte(-3.0), 0);
    EXPECT_EQ(RoundToByte(254.5), 254);
    EXPECT_EQ(RoundToByte(300.0), 255);
}

}  // namespace
}  // namespace pictorix
