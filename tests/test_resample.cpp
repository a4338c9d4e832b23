// Tests of the resampler, its filters and the resize action.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "core/rounding.h"
#include "operations/resample.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::Gradient;

// A grey picture of one row (or one column), one value per pixel.
Bitmap Line(const std::vector<int>& values, bool vertical) {
    const int n = static_cast<int>(values.size());
    Bitmap b(vertical ? 1 : n, vertical ? n : 1, 24);
    for (int i = 0; i < n; ++i) {
        const unsigned v = static_cast<unsigned>(values[i]);
        b.setPixel(vertical ? 0 : i, vertical ? i : 0, RGB(v, v, v));
    }
    return b;
}

// The grey values along the line; fails when a pixel is not grey.
std::vector<int> Values(const Bitmap& b) {
    std::vector<int> values;
    const bool vertical = b.width() == 1 && b.height() > 1;
    const int n = vertical ? b.height() : b.width();
    for (int i = 0; i < n; ++i) {
        const Color c = b.pixel(vertical ? 0 : i, vertical ? i : 0);
        EXPECT_TRUE(GetR(c) == GetG(c) && GetG(c) == GetB(c)) << "pixel " << i;
        values.push_back(static_cast<int>(GetR(c)));
    }
    return values;
}

bool SamePicture(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.bitsPerPixel() != b.bitsPerPixel()) return false;
    if (a.palette() != b.palette()) return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), a.stride()) != 0) return false;
    return true;
}

// The resampler written out the slow, obvious way: contributors recomputed for every
// pixel and the second pass walking down columns. The fast one must match it byte
// for byte.
Bitmap ReferenceResample(const Bitmap& src, int width, int height, int filterIndex) {
    const ResampleFilter& filter = GetResampleFilter(filterIndex);
    const auto contributors = [&](int i, int outSize, int inSize) {
        std::vector<std::pair<int, double>> list;
        const double scale = double(outSize) / inSize;
        const double centre = i / scale;
        const double w = scale >= 1 ? filter.support : filter.support / scale;
        for (int j = int(std::floor(centre - w)); j <= int(std::ceil(centre + w)); ++j) {
            const double weight =
                scale >= 1 ? filter.kernel(centre - j) : filter.kernel((centre - j) / (1 / scale)) / (1 / scale);
            if (weight == 0) continue;
            int k = j < 0 ? -j : j >= inSize ? 2 * inSize - j - 1 : j;
            k = k < 0 ? 0 : k >= inSize ? inSize - 1 : k;
            list.emplace_back(k, weight);
        }
        return list;
    };
    const auto toByte = [](double v) { return v > 255 ? 255 : v < 0 ? 0 : RoundToByte(v); };

    Bitmap mid(width, src.height(), 24);
    for (int y = 0; y < src.height(); ++y)
        for (int i = 0; i < width; ++i)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (auto [j, w] : contributors(i, width, src.width())) sum += w * src.row(y)[j * 3 + c];
                mid.row(y)[i * 3 + c] = static_cast<std::uint8_t>(toByte(sum));
            }
    Bitmap dst(width, height, 24);
    for (int x = 0; x < width; ++x)
        for (int i = 0; i < height; ++i)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (auto [j, w] : contributors(i, height, src.height())) sum += w * mid.row(j)[x * 3 + c];
                dst.row(i)[x * 3 + c] = static_cast<std::uint8_t>(toByte(sum));
            }
    return dst;
}

TEST(ResampleFilters, KernelValues) {
    struct Case {
        int index;
        const char* name;
        double support, atZero, x, atX;  // one value inside, where the pieces meet if there are two
        double joint;                    // the join of two pieces, 0 for none
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {1, "Triangle", 1.0, 1.0, 0.5, 0.5, 0},
        {2, "Hermite", 1.0, 1.0, 0.5, 0.5, 0},
        {3, "Bell", 1.5, 0.75, 1.0, 0.125, 0.5},
        {4, "B-Spline", 2.0, 2.0 / 3.0, 1.0, 1.0 / 6.0, 1.0},
        {5, "Lanczos3", 3.0, 1.0, 1.5, -1.0 / (0.75 * pi * pi), 0},
        {6, "Mitchell", 2.0, 8.0 / 9.0, 1.0, 1.0 / 18.0, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ResampleFilter& f = GetResampleFilter(c.index);
        EXPECT_STREQ(f.name, c.name);
        EXPECT_EQ(f.support, c.support);
        EXPECT_NEAR(f.kernel(0), c.atZero, 1e-12);
        EXPECT_NEAR(f.kernel(c.x), c.atX, 1e-12);
        EXPECT_EQ(f.kernel(-c.x), f.kernel(c.x));
        EXPECT_EQ(f.kernel(c.support), 0.0);
        EXPECT_EQ(f.kernel(-c.support - 0.25), 0.0);
        EXPECT_NEAR(f.kernel(c.support - 1e-6), 0.0, 1e-5);
        if (c.joint > 0) {
            EXPECT_NEAR(f.kernel(c.joint - 1e-9), f.kernel(c.joint), 1e-8);
        }
    }
    EXPECT_THROW(GetResampleFilter(0), Error);
    EXPECT_THROW(GetResampleFilter(7), Error);
}

// Values worked out by hand from the filter arithmetic; each case runs along a row
// and, transposed, along a column.
TEST(ResampleBitmap, TinyLinesByHand) {
    struct Case {
        std::vector<int> in;
        int size;
        int filter;
        std::vector<int> out;  // -1: not checked
    } cases[] = {
        // Output 1 sits at 0.5: 127.5 rounds to the even 128. Output 3 sits at 1.5 and
        // its right neighbour reflects onto the last pixel.
        {{0, 255}, 4, 1, {0, 128, 255, 255}},
        {{0, 5}, 4, 1, {0, 2, 5, 5}},  // 2.5 rounds to the even 2
        // Halving: 0.25, 0.5, 0.25 around 2i; column -1 reflects to column 1.
        {{3, 0, 6, 1}, 2, 1, {2, 3}},
        // 3 -> 2: weights 2/9, 2/3, 2/9 and 4/9, 4/9 are not normalised, so a flat
        // picture brightens or darkens, and a flat white clamps at 255.
        {{90, 90, 90}, 2, 1, {100, 80}},
        {{255, 255, 255}, 2, 1, {255, 227}},
        {{7, 200, 13}, 3, 1, {7, 200, 13}},
        {{42}, 3, 1, {42, 42, 42}},
        // Mitchell's negative lobes undershoot to -8.9 (clamped to 0) and overshoot to
        // 263.9 (clamped to 255).
        {{0, 0, 255, 255}, 8, 6, {0, 0, 14, -1, 241, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        for (bool vertical : {false, true}) {
            SCOPED_TRACE(testing::Message() << "case of " << c.in.size() << " -> " << c.size << " first value "
                                            << c.in[0] << (vertical ? ", column" : ", row"));
            Bitmap b = Line(c.in, vertical);
            ResampleBitmap(b, vertical ? 1 : c.size, vertical ? c.size : 1, c.filter);
            ASSERT_EQ(b.width(), vertical ? 1 : c.size);
            ASSERT_EQ(b.height(), vertical ? c.size : 1);
            std::vector<int> got = Values(b);
            for (std::size_t i = 0; i < c.out.size(); ++i)
                if (c.out[i] < 0) got[i] = -1;
            EXPECT_EQ(got, c.out);
        }
    }
}

TEST(ResampleBitmap, MatchesStraightforwardResampling) {
    struct Case {
        int w0, h0, w, h;
    } sizes[] = {
        {7, 5, 3, 2}, {7, 5, 13, 11}, {7, 5, 7, 5}, {7, 5, 1, 1}, {7, 5, 20, 3}, {5, 1, 3, 1},
        {5, 4, 5, 1}, {2, 2, 9, 7},   {31, 17, 10, 23},
        // Scales whose weights are all multiples of a power of two for some filters
        {8, 6, 4, 3}, {16, 12, 4, 3}, {5, 4, 10, 8}, {6, 4, 12, 2}, {9, 8, 9, 4}, {64, 2, 16, 1},
        {166, 40, 83, 20}, {40, 3, 80, 6}, {64, 2, 4, 1},
    };
    for (int filter = 1; filter <= kResampleFilterCount; ++filter) {
        for (const Case& s : sizes) {
            SCOPED_TRACE(testing::Message() << "filter " << filter << ", " << s.w0 << "x" << s.h0 << " -> " << s.w
                                            << "x" << s.h);
            const Bitmap src = Gradient(s.w0, s.h0, filter);
            Bitmap b = src;
            ResampleBitmap(b, s.w, s.h, filter);
            EXPECT_TRUE(SamePicture(b, ReferenceResample(src, s.w, s.h, filter)));
        }
    }
}

TEST(ResampleBitmap, SameSizeTriangleKeepsEveryPixel) {
    const Bitmap src = Gradient(9, 7, 3);
    Bitmap b = src;
    ResampleBitmap(b, 9, 7, kTriangleFilter);
    EXPECT_TRUE(SamePicture(b, src));
}

TEST(ResampleBitmap, NegativeSizeFollowsTheOtherOne) {
    struct Case {
        int w, h, expectW, expectH;
    } cases[] = {
        {-1, 100, 133, 100},  // 400 * 100 / 300 truncates
        {100, -1, 100, 75},
        {-5, -1, 400, 300},  // both negative: nothing happens
    };
    for (const Case& c : cases) {
        Bitmap b(400, 300, 24);
        ResampleBitmap(b, c.w, c.h, kTriangleFilter);
        EXPECT_EQ(b.width(), c.expectW) << c.w << " x " << c.h;
        EXPECT_EQ(b.height(), c.expectH) << c.w << " x " << c.h;
    }
}

TEST(ResampleBitmap, KeepsFormatAndBitmapSettings) {
    // A 32-bit picture is resampled in 24 bits and comes back in 32.
    const Bitmap src24 = Gradient(6, 5, 1);
    Bitmap b = src24;
    b.setBitsPerPixel(32);
    b.setFillColor(RGB(1, 2, 3));
    b.setTransparent(true, RGB(4, 5, 6));
    ResampleBitmap(b, 11, 3, kTriangleFilter);
    EXPECT_EQ(b.bitsPerPixel(), 32);
    EXPECT_EQ(b.fillColor(), RGB(1, 2, 3));
    EXPECT_TRUE(b.transparent());
    EXPECT_EQ(b.transparentColor(), RGB(4, 5, 6));
    b.setBitsPerPixel(24);
    EXPECT_TRUE(SamePicture(b, ReferenceResample(src24, 11, 3, kTriangleFilter)));

    Bitmap empty;
    ResampleBitmap(empty, 10, 10, kTriangleFilter);
    EXPECT_TRUE(empty.empty());
}

TEST(ResampleBitmap, RefusedSizesLeaveThePictureAlone) {
    struct Case {
        int w, h, filter;
    } cases[] = {
        {0, 10, 1},
        {10, 0, 1},
        {-1, 0, 1},             // derived width 0 from height 0
        {1, -1, 1},             // derived height 40 * 1 / 400 = 0
        {kMaxDimension + 1, 1, 1},
        {100000, 100000, 1},    // more pixels than a picture may have
        {10, 10, 0},
        {10, 10, 7},
    };
    for (const Case& c : cases) {
        const Bitmap src = Gradient(400, 40);
        Bitmap b = src;
        EXPECT_THROW(ResampleBitmap(b, c.w, c.h, c.filter), Error) << c.w << " x " << c.h;
        EXPECT_TRUE(SamePicture(b, src)) << c.w << " x " << c.h;
    }
    // The first pass makes a picture of the target width and the source height.
    Bitmap tall(1, 2000, 24);
    EXPECT_THROW(ResampleBitmap(tall, 1000000, 1, kTriangleFilter), Error);
    EXPECT_EQ(tall.width(), 1);
}

TEST(DoResize, TargetSizes) {
    struct Case {
        int w0, h0;
        const char* action;
        int w, h;
    } cases[] = {
        {101, 75, "resize;50;50;percents;percents;both", 50, 37},  // percentages truncate
        {400, 300, "resize;200;0;pixels;pixels;width", 200, 150},
        {400, 301, "resize;200;0;pixels;pixels;width", 200, 150},  // 150.5 to the even 150
        {400, 303, "resize;200;0;pixels;pixels;width", 200, 152},  // 151.5 to 152
        {400, 300, "resize;0;150;pixels;pixels;height", 200, 150},
        {400, 300, "resize;0;50;pixels;percents;height", 200, 150},
        {400, 300, "resize;640;480;px;PIXELS;both", 640, 480},      // only "percents" is percent
        {400, 300, "resize;50;x;percents;;width", 200, 150},        // fields 2 and 4 are not read
        {400, 300, "resize;x;75;;percents;height", 300, 225},       // fields 1 and 3 are not read
        {400, 300, "resize;-1;100;pixels;pixels;both", 133, 100},   // a negative width follows the height
        {400, 300, "resize;10;10;pixels;pixels;both;extra", 10, 10},
    };
    for (const Case& c : cases) {
        Bitmap b(c.w0, c.h0, 24);
        DoResize(c.action, b);
        EXPECT_EQ(b.width(), c.w) << c.action << " on " << c.w0 << " x " << c.h0;
        EXPECT_EQ(b.height(), c.h) << c.action << " on " << c.w0 << " x " << c.h0;
    }
}

TEST(DoResize, ResamplesWithTheTriangleInTwentyFourBits) {
    Bitmap b = Line({0, 255}, false);
    DoResize("resize;200;200;percents;percents;both", b);
    ASSERT_EQ(b.height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(GetG(b.pixel(x, y)), (std::vector<unsigned>{0, 128, 255, 255}[x]));

    // A palette picture is resampled in 24 bits and goes back to its format.
    Bitmap p = Gradient(20, 10);
    p.setBitsPerPixel(8);
    DoResize("resize;7;5;pixels;pixels;both", p);
    EXPECT_EQ(p.bitsPerPixel(), 8);
    EXPECT_EQ(p.width(), 7);
    EXPECT_EQ(p.height(), 5);
}

TEST(DoResize, ActionsThatChangeNothing) {
    // A grey-palette picture would lose its palette by a trip through 24 bits.
    Bitmap src(40, 10, 8);
    src.setPalette(GreyPalette256());
    for (int x = 0; x < 40; ++x) src.setIndex(x, 3, 77);
    for (const char* action : {
             "Resize;10;10;pixels;pixels;both",       // field 0 is compared exactly
             "rotate;90;0",
             "resize;10;10;pixels;pixels;diagonal",  // no such mode
             "resize;-1;-1;pixels;pixels;both",      // both sizes negative
             "resize;-4;0;pixels;pixels;width",      // the height follows into the negative
         }) {
        Bitmap b = src;
        EXPECT_NO_THROW(DoResize(action, b)) << action;
        EXPECT_TRUE(SamePicture(b, src)) << action;
    }
    Bitmap empty;
    EXPECT_NO_THROW(DoResize("resize;x", empty));
    EXPECT_TRUE(empty.empty());
}

TEST(DoResize, FailuresLeaveThePictureAlone) {
    Bitmap src = Gradient(40, 10);
    src.setBitsPerPixel(8);
    src.setPalette(GreyPalette256());
    for (const char* action : {
             "resize;abc;10;pixels;pixels;both",
             "resize;10;;pixels;pixels;both",
             "resize;10;10;pixels;pixels",         // no mode
             "resize;10;10",
             "resize;0;10;pixels;pixels;both",     // no pixels left
             "resize;1;10;percents;pixels;both",   // 1 percent of 40 truncates to 0
             "resize;1;0;pixels;pixels;width",     // round(10 * 1 / 40) = 0
             "resize;2000000;10;pixels;pixels;both",
             "resize;2147483647;10;percents;pixels;both",
         }) {
        Bitmap b = src;
        try {
            DoResize(action, b);
            ADD_FAILURE() << action << " did not fail";
        } catch (const Error& e) {
            EXPECT_FALSE(std::string(e.what()).empty()) << action;
        }
        EXPECT_TRUE(SamePicture(b, src)) << action;
    }
    // Field errors name the action.
    Bitmap b = src;
    try {
        DoResize("resize;abc;10;pixels;pixels;both", b);
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("resize;abc;10;pixels;pixels;both"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace pictorix
