// Tests of contrast, brightness, the Gaussian blur and the quick blur.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "operations/tone.h"
#include "test_util.h"

namespace pictorix {
namespace {

// A 24-bit picture from per-pixel channel values, row by row.
Bitmap FromValues(int width, int height, const std::vector<int>& blue, const std::vector<int>& red) {
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            b.setPixel(x, y, RGB(red[i], 0, blue[i]));
        }
    return b;
}

Bitmap Uniform(int width, int height, Color c, int bpp = 24) {
    Bitmap b(width, height, bpp);
    b.fill(c);
    return b;
}

Bitmap Noise(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (std::size_t e = 0; e < std::size_t(width) * 3; ++e) b.row(y)[e] = std::uint8_t(rng());
    return b;
}

// Pixel bytes only, without the row padding.
bool SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.bitsPerPixel() != b.bitsPerPixel()) return false;
    const std::size_t n = Bitmap::strideFor(a.width(), a.bitsPerPixel());
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), std::min(n, std::size_t(a.width()) * 3)) != 0) return false;
    return true;
}

// ---- Contrast and brightness --------------------------------------------------------

struct ContrastCase {
    int strength;
    std::vector<int> expectBlue;  // from 50, 50, 150, 150 (pivot 100)
    std::vector<int> expectRed;   // from 0, 0, 20, 20 (pivot 10)
};

TEST(ChangeContrast, StretchesEachChannelAroundItsOwnMean) {
    const ContrastCase cases[] = {
        {10, {0, 0, 200, 200}, {0, 0, 30, 30}},       // f = 2
        {-25, {75, 75, 125, 125}, {5, 5, 15, 15}},    // f = 0.5
        {-100, {100, 100, 100, 100}, {10, 10, 10, 10}},  // f = 0
        {0, {50, 50, 150, 150}, {0, 0, 20, 20}},
        {3, {35, 35, 165, 165}, {0, 0, 23, 23}},      // f = 1.3, a real factor
    };
    const std::vector<int> blue = {50, 50, 150, 150}, red = {0, 0, 20, 20};
    // The same four pixels as a square, a single column and a single row.
    const int shapes[][2] = {{2, 2}, {1, 4}, {4, 1}};
    for (const auto& c : cases) {
        for (const auto& s : shapes) {
            Bitmap b = FromValues(s[0], s[1], blue, red);
            ChangeContrast(b, c.strength);
            for (int i = 0; i < 4; ++i) {
                const Color px = b.pixel(i % s[0], i / s[0]);
                EXPECT_EQ(int(GetB(px)), c.expectBlue[i]) << "strength " << c.strength << ", pixel " << i;
                EXPECT_EQ(int(GetR(px)), c.expectRed[i]) << "strength " << c.strength << ", pixel " << i;
                EXPECT_EQ(int(GetG(px)), 0);
            }
        }
    }
}

TEST(ChangeContrast, ConvertsOtherFormatsExceptForStrengthZero) {
    Bitmap untouched = Uniform(3, 3, kWhite, 8);
    ChangeContrast(untouched, 0);
    EXPECT_EQ(untouched.bitsPerPixel(), 8);

    Bitmap b = Uniform(3, 3, kWhite, 8);
    b.setPixel(1, 1, kBlack);
    ChangeContrast(b, 10);  // pivot 226 per channel: white stays white, black goes to 0
    ASSERT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixel(0, 0), kWhite);
    EXPECT_EQ(b.pixel(1, 1), kBlack);
}

TEST(ChangeContrast, MeanOfAVeryLargePictureDoesNotOverflow) {
    // 17.6 million pixels of 250: the channel sum needs more than 32 bits.
    Bitmap b = Uniform(4200, 4200, RGB(250, 250, 250));
    ChangeContrast(b, 10);
    EXPECT_EQ(b.pixel(0, 0), RGB(250, 250, 250));
    EXPECT_EQ(b.pixel(4199, 4199), RGB(250, 250, 250));
}

TEST(ChangeContrast, ExtremeStrengthsSaturate) {
    for (int strength : {INT_MAX, INT_MIN}) {
        Bitmap b = FromValues(2, 2, {50, 50, 150, 150}, {0, 0, 20, 20});
        ChangeContrast(b, strength);
        // INT_MAX stretches to the ends; INT_MIN gives a huge negative factor that mirrors them.
        const bool up = strength > 0;
        EXPECT_EQ(int(GetB(b.pixel(0, 0))), up ? 0 : 255);
        EXPECT_EQ(int(GetB(b.pixel(1, 1))), up ? 255 : 0);
    }
}

TEST(ChangeBrightness, AddsWithSaturation) {
    const struct {
        int amount, from, to;
    } cases[] = {
        {10, 250, 255}, {10, 100, 110}, {-10, 5, 0},      {-10, 100, 90},     {0, 100, 100},
        {0, 255, 255},  {300, 0, 255},  {-300, 255, 0},   {INT_MAX, 0, 255},  {INT_MIN, 255, 0},
    };
    for (const auto& c : cases) {
        // 30 pixels wide: the row is longer than one block of the fast loop and has a tail.
        Bitmap b = Uniform(30, 2, RGB(c.from, c.from, c.from));
        ChangeBrightness(b, c.amount);
        for (int x : {0, 29}) EXPECT_EQ(b.pixel(x, 1), RGB(c.to, c.to, c.to)) << c.amount << " on " << c.from;
    }
    Bitmap grey = Uniform(2, 2, kWhite, 8);
    ChangeBrightness(grey, 0);
    EXPECT_EQ(grey.bitsPerPixel(), 24);
    EXPECT_EQ(grey.pixel(1, 1), kWhite);
}

// ---- Gaussian blur ------------------------------------------------------------------

TEST(GaussianKernel, SizeAndWeights) {
    const struct {
        double radius;
        int size;
    } sizes[] = {{0.1, 1}, {0.5, 1}, {1.0, 2}, {2.5, 7}, {5.0, 14}};
    for (const auto& s : sizes) {
        const GaussianKernel k = MakeGaussianKernel(s.radius);
        EXPECT_EQ(k.size, s.size) << s.radius;
        double sum = 0;
        for (int j = -k.size; j <= k.size; ++j) {
            sum += k.weight(j);
            EXPECT_EQ(k.weight(j), k.weight(-j));
        }
        EXPECT_NEAR(sum, 1.0, 1e-6) << s.radius;
    }
    const GaussianKernel half = MakeGaussianKernel(0.5);
    EXPECT_NEAR(half.weight(0), 0.786986, 5e-7);
    EXPECT_NEAR(half.weight(1), 0.106507, 5e-7);
    const GaussianKernel tenth = MakeGaussianKernel(0.1);
    EXPECT_EQ(tenth.weight(0), 1.0f);
    EXPECT_LT(tenth.weight(1), 1e-21f);

    EXPECT_THROW(MakeGaussianKernel(0.0), Error);
}

TEST(GaussianBlur, SingleWhitePixel) {
    Bitmap b = Uniform(7, 7, kBlack);
    b.setPixel(3, 3, kWhite);
    GaussianBlur(b, 0.5);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) {
            const int dx = std::abs(x - 3), dy = std::abs(y - 3);
            const unsigned expect = dx > 1 || dy > 1 ? 0 : dx + dy == 0 ? 157 : dx + dy == 1 ? 21 : 2;
            EXPECT_EQ(b.pixel(x, y), RGB(expect, expect, expect)) << x << "," << y;
        }
}

TEST(GaussianBlur, TinyAndZeroRadiiLeaveThePictureUnchanged) {
    Bitmap b = test::Gradient(40, 9);
    for (int x = 0; x < 40; ++x) b.setPixel(x, 4, kWhite);
    const Bitmap before = b;
    GaussianBlur(b, 0.1);
    EXPECT_TRUE(SamePixels(b, before));
    GaussianBlur(b, 0.0);
    EXPECT_TRUE(SamePixels(b, before));

    Bitmap palette = Uniform(4, 4, kWhite, 8);
    GaussianBlur(palette, 0.0);
    EXPECT_EQ(palette.bitsPerPixel(), 8);
}

TEST(GaussianBlur, UniformPictureStaysUniform) {
    for (double radius : {0.5, 1.0, 2.5, 5.0}) {
        for (unsigned level : {0u, 1u, 200u, 255u}) {
            Bitmap b = Uniform(23, 17, RGB(level, level, level));
            GaussianBlur(b, radius);
            const Color first = b.pixel(0, 0);
            EXPECT_LE(level - GetR(first), 2u) << radius << " " << level;  // at most one per pass
            for (int y = 0; y < 17; ++y)
                for (int x = 0; x < 23; ++x) ASSERT_EQ(b.pixel(x, y), first) << radius << " " << level;
        }
    }
}

// The blur as written down: one line at a time through a buffer, sample positions
// clamped to the line, products summed from offset -k to k.
void BlurLine(std::vector<std::uint8_t*>& px, const GaussianKernel& kernel) {
    const int n = static_cast<int>(px.size());
    std::vector<std::uint8_t> result(std::size_t(n) * 3);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int m = -kernel.size; m <= kernel.size; ++m)
                sum += double(kernel.weight(m)) * px[std::clamp(i - m, 0, n - 1)][c];
            result[std::size_t(i) * 3 + c] = sum < 0 ? 0 : sum >= 255 ? 255 : std::uint8_t(int(sum));
        }
    for (int i = 0; i < n; ++i) std::memcpy(px[i], &result[std::size_t(i) * 3], 3);
}

void ReferenceGaussianBlur(Bitmap& b, double radius) {
    const GaussianKernel kernel = MakeGaussianKernel(radius);
    std::vector<std::uint8_t*> line;
    for (int y = 0; y < b.height(); ++y) {
        line.clear();
        for (int x = 0; x < b.width(); ++x) line.push_back(b.row(y) + x * 3);
        BlurLine(line, kernel);
    }
    for (int x = 0; x < b.width(); ++x) {
        line.clear();
        for (int y = 0; y < b.height(); ++y) line.push_back(b.row(y) + x * 3);
        BlurLine(line, kernel);
    }
}

TEST(GaussianBlur, MatchesTheStraightforwardBlurByteForByte) {
    // Rows around the block and strip lengths of the fast loops, lines shorter than the kernel,
    // and radii whose kernel reaches past the picture.
    const int sizes[][2] = {{1, 1}, {1, 40}, {40, 1}, {2, 3}, {85, 4}, {86, 9}, {97, 31}, {300, 7}, {400, 5}};
    const double radii[] = {0.3, 0.5, 1.0, 1.7, 2.5, 5.0, 12.0, -2.5};
    unsigned seed = 1;
    for (const auto& s : sizes)
        for (double radius : radii) {
            Bitmap fast = Noise(s[0], s[1], seed++);
            Bitmap reference = fast;
            GaussianBlur(fast, radius);
            ReferenceGaussianBlur(reference, radius);
            EXPECT_TRUE(SamePixels(fast, reference)) << s[0] << "x" << s[1] << " radius " << radius;
        }
}

TEST(GaussianBlur, BlursOtherFormatsAsTheirTwentyFourBitPicture) {
    for (int bpp : {1, 4, 8, 16, 32}) {
        Bitmap b(13, 11, bpp);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 13; ++x) b.setPixel(x, y, (x + y) % 3 ? kWhite : RGB(255, 0, 0));
        Bitmap expected = b;
        expected.setBitsPerPixel(24);
        ReferenceGaussianBlur(expected, 1.5);
        GaussianBlur(b, 1.5);
        EXPECT_TRUE(SamePixels(b, expected)) << bpp;
    }
}

// ---- Quick blur ---------------------------------------------------------------------

// The pass as written down: in place, pixel by pixel, through the pixel accessors.
void ReferenceQuickBlur(Bitmap& b) {
    const int w = b.width(), h = b.height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int up = y - 3 < 0 ? y : y - 3, down = y + 3 < h ? y + 3 : y;
            const int left = x - 3 < 0 ? x : x - 3, right = x + 3 < w ? x + 3 : x;
            const Color s[4] = {b.pixel(left, up), b.pixel(left, down), b.pixel(right, up), b.pixel(right, down)};
            unsigned r = 0, g = 0, bl = 0;
            for (Color c : s) r += GetR(c), g += GetG(c), bl += GetB(c);
            b.setPixel(x, y, RGB(r / 4, g / 4, bl / 4));
        }
}

TEST(QuickBlur, InPlaceSamplesTenByTen) {
    const Bitmap original = Noise(10, 10, 7);
    Bitmap b = original;
    QuickBlur(b);
    // (2, 2) and (8, 2) were rewritten before (5, 5); (2, 8) and (8, 8) were not.
    const Color s[4] = {b.pixel(2, 2), b.pixel(8, 2), original.pixel(2, 8), original.pixel(8, 8)};
    unsigned r = 0, g = 0, bl = 0;
    for (Color c : s) r += GetR(c), g += GetG(c), bl += GetB(c);
    EXPECT_EQ(b.pixel(5, 5), RGB(r / 4, g / 4, bl / 4));
}

TEST(QuickBlur, MatchesTheStraightforwardPassIncludingEdges) {
    // Pictures of 3 or fewer rows or columns sample only their own rows and columns.
    const int sizes[][2] = {{1, 1}, {2, 3}, {3, 3}, {4, 4}, {7, 1}, {1, 7}, {6, 6}, {7, 7}, {10, 10}, {100, 37}};
    unsigned seed = 100;
    for (const auto& s : sizes) {
        Bitmap fast = Noise(s[0], s[1], seed++);
        Bitmap reference = fast;
        for (int pass = 0; pass < 3; ++pass) {
            QuickBlur(fast);
            ReferenceQuickBlur(reference);
        }
        EXPECT_TRUE(SamePixels(fast, reference)) << s[0] << "x" << s[1];
    }
}

TEST(QuickBlur, UniformStaysAndOtherFormatsAreConverted) {
    Bitmap b = Uniform(12, 9, RGB(17, 200, 255), 24);
    QuickBlur(b);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(b.pixel(x, y), RGB(17, 200, 255));

    Bitmap palette = Uniform(5, 5, kWhite, 4);
    QuickBlur(palette);
    EXPECT_EQ(palette.bitsPerPixel(), 24);
    EXPECT_EQ(palette.pixel(2, 2), kWhite);
}

}  // namespace
}  // namespace pictorix
