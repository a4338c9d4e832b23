// The numeric examples of Parts 3.1, 4.1, 4.2 and 4.3 ("Edge cases worth testing"),
// run end to end: a small picture is written as BMP, converted by
// `pictorix-batch --actions FILE.acf` to BMP, read back and checked pixel by pixel.
#include <gtest/gtest.h>

#include <optional>

#include "actions/action_list.h"
#include "core/file_util.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

Color Grey(unsigned v) { return RGB(v, v, v); }

// A picture whose pixels tell their own position: red = x & 255, green = y & 255,
// blue = the high bits of x (low nibble) and y (high nibble).
Color Position(int x, int y) {
    return RGB(x & 0xFF, y & 0xFF, ((x >> 8) & 0x0F) | (((y >> 8) & 0x0F) << 4));
}
Bitmap PositionPicture(int width, int height) {
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) b.setPixel(x, y, Position(x, y));
    return b;
}
std::pair<int, int> PositionOf(Color c) {
    return {static_cast<int>(GetR(c) | ((GetB(c) & 0x0F) << 8)), static_cast<int>(GetG(c) | ((GetB(c) >> 4) << 8))};
}

Bitmap Uniform(int width, int height, Color c) {
    Bitmap b(width, height, 24);
    b.fill(c);
    return b;
}

// A picture of grey levels, given row by row.
Bitmap GreyRows(const std::vector<std::vector<unsigned>>& rows) {
    Bitmap b(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 24);
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) b.setPixel(x, y, Grey(rows[y][x]));
    return b;
}

std::vector<std::vector<unsigned>> RedRows(const Bitmap& b) {
    std::vector<std::vector<unsigned>> rows(b.height());
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) rows[y].push_back(GetR(b.pixel(x, y)));
    return rows;
}

// Every channel of every pixel equals the red one.
bool IsGrey(const Bitmap& b) {
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            Color c = b.pixel(x, y);
            if (GetG(c) != GetR(c) || GetB(c) != GetR(c)) return false;
        }
    return true;
}

::testing::AssertionResult SamePicture(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height())
        return ::testing::AssertionFailure() << "sizes " << a.width() << "x" << a.height() << " and " << b.width()
                                             << "x" << b.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << a.pixel(x, y) << " vs "
                                                     << b.pixel(x, y);
    return ::testing::AssertionSuccess();
}

struct Outcome {
    CommandResult run;
    std::optional<Bitmap> picture;  // the BMP written, when there is one
};

FormatOptions Bmp() {
    FormatOptions f;
    f.format = 0;
    return f;
}

// Writes `source` as in.bmp and the actions as actions.acf (CR LF lines unless
// `acfText` is given), runs pictorix-batch with its program folder in a fresh
// folder, output BMP into a separate folder, and reads the output back.
Outcome RunActions(const Bitmap& source, const std::vector<std::string>& actions,
            const std::optional<std::string>& acfText = std::nullopt) {
    TempDir home, src, out;
    SavePicture(src.file("in.bmp"), source, Bmp());
    if (acfText) {
        WriteText(src.file("actions.acf"), *acfText);
    } else {
        ActionList list;
        list.load(actions);
        list.saveFile(src.file("actions.acf"));
    }
    Outcome outcome;
    outcome.run = RunCommand("PICTORIX_HOME=" + Quote(home.path()) + " " + Quote(PICTORIX_BATCH_EXE) +
                             " --quiet --actions " + Quote(src.file("actions.acf")) +
                             " --set format.format=0 --set dest.dest=2 --set dest.folder=" + Quote(out.folder()) +
                             " " + Quote(src.file("in.bmp")) + " </dev/null");
    if (FileExists(out.file("in.bmp"))) {
        Bitmap result;
        LoadPicture(out.file("in.bmp"), result);
        outcome.picture = std::move(result);
    }
    return outcome;
}

// Runs and expects success; the picture written.
Bitmap Convert(const Bitmap& source, const std::vector<std::string>& actions) {
    Outcome o = RunActions(source, actions);
    EXPECT_EQ(o.run.status, 0) << o.run.output;
    EXPECT_TRUE(o.picture.has_value()) << "no output written; " << o.run.output;
    return o.picture ? *o.picture : Bitmap();
}

#define EXPECT_SIZE(bitmap, w, h)          \
    do {                                   \
        EXPECT_EQ((bitmap).width(), (w));  \
        EXPECT_EQ((bitmap).height(), (h)); \
    } while (0)

}  // namespace

// ---------------------------------------------------------------- action strings

TEST(ActionExamples, RotateDefaultWithAndWithoutTrailingSeparator) {
    const Bitmap source = Gradient(7, 5);
    EXPECT_TRUE(SamePicture(Convert(source, {"rotate;0;16777215;"}), source));
    EXPECT_TRUE(SamePicture(Convert(source, {"rotate;0;16777215"}), source));
}

TEST(ActionExamples, UnknownKindsArePassedOver) {
    const Bitmap source = Gradient(7, 5);
    Outcome o = RunActions(source, {"Rotate;90;0", "", "sharpen;5", "ROTATE;90;0", "contrast ;50",
                             "picturewatermark;4;5;5;pixels;pixels;50;0;-1;;16777215"});
    ASSERT_EQ(o.run.status, 0) << o.run.output;
    ASSERT_TRUE(o.picture);
    EXPECT_TRUE(SamePicture(*o.picture, source));
}

TEST(ActionExamples, OnlyPercentsMeansPercent) {
    for (const char* action : {"resize;30;20;pixels;pixels;both", "resize;30;20;PIXELS;px;both",
                               "resize;30;20;px;Percents;both"})
        EXPECT_SIZE(Convert(Gradient(10, 10), {action}), 30, 20);
    EXPECT_SIZE(Convert(Gradient(10, 10), {"resize;30;20;percents;pixels;both"}), 3, 20);
}

TEST(ActionExamples, MirrorFlags) {
    const Bitmap source = Gradient(5, 4);
    Bitmap both = Convert(source, {"mirror;-1;-1"});
    Bitmap leftRight = Convert(source, {"mirror;True;false"});
    ASSERT_EQ(both.width(), 5);
    ASSERT_EQ(leftRight.width(), 5);
    ASSERT_EQ(both.height(), 4);
    ASSERT_EQ(leftRight.height(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(both.pixel(x, y), source.pixel(4 - x, 3 - y)) << x << "," << y;
            EXPECT_EQ(leftRight.pixel(x, y), source.pixel(4 - x, y)) << x << "," << y;
        }
}

TEST(ActionExamples, ResizeThenCropWorkOnEachOthersResult) {
    const Bitmap source = Gradient(200, 100);
    Bitmap halved = Convert(source, {"resize;50;50;percents;percents;both"});
    EXPECT_SIZE(halved, 100, 50);
    Bitmap both = Convert(source, {"resize;50;50;percents;percents;both", "crop;edge;10;10;10;10;100;100"});
    ASSERT_EQ(both.width(), 80);
    ASSERT_EQ(both.height(), 30);
    if (halved.width() != 100 || halved.height() != 50) return;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 80; ++x) ASSERT_EQ(both.pixel(x, y), halved.pixel(x + 10, y + 10)) << x << "," << y;
}

// ---------------------------------------------------------------- resize

TEST(ActionExamples, PercentagesTruncate) {
    EXPECT_SIZE(Convert(Gradient(101, 75), {"resize;50;50;percents;percents;both"}), 50, 37);
}

TEST(ActionExamples, AspectRatioRoundsHalvesToEven) {
    EXPECT_SIZE(Convert(Gradient(400, 300), {"resize;200;0;pixels;pixels;width"}), 200, 150);
    EXPECT_SIZE(Convert(Gradient(400, 301), {"resize;200;0;pixels;pixels;width"}), 200, 150);  // 150.5
    EXPECT_SIZE(Convert(Gradient(400, 303), {"resize;200;0;pixels;pixels;width"}), 200, 152);  // 151.5
    EXPECT_SIZE(Convert(Gradient(400, 300), {"resize;0;150;pixels;pixels;height"}), 200, 150);
    EXPECT_SIZE(Convert(Gradient(400, 300), {"resize;0;50;pixels;percents;height"}), 200, 150);
    EXPECT_SIZE(Convert(Gradient(40, 30), {"resize;640;480;px;PIXELS;both"}), 640, 480);
}

TEST(ActionExamples, SameSizeReproducesThePicture) {
    const Bitmap source = Gradient(13, 9);
    EXPECT_TRUE(SamePicture(Convert(source, {"resize;13;9;pixels;pixels;both"}), source));
}

TEST(ActionExamples, DoublingARow) {
    Bitmap b = Convert(GreyRows({{0, 255}}), {"resize;4;1;pixels;pixels;both"});
    ASSERT_EQ(b.width(), 4);
    ASSERT_EQ(b.height(), 1);
    EXPECT_TRUE(IsGrey(b));
    EXPECT_EQ(RedRows(b), (std::vector<std::vector<unsigned>>{{0, 128, 255, 255}}));
    // The same on two rows: every row alike.
    b = Convert(GreyRows({{0, 255}, {0, 255}}), {"resize;200;100;percents;percents;both"});
    EXPECT_EQ(RedRows(b), (std::vector<std::vector<unsigned>>{{0, 128, 255, 255}, {0, 128, 255, 255}}));
}

TEST(ActionExamples, HalvingARowAveragesWithTheWidenedTriangle) {
    // Output column i is centred on source column 2i with weights 0.25, 0.5, 0.25
    // on columns 2i - 1, 2i, 2i + 1; column -1 reflects to column 1.
    Bitmap b = Convert(GreyRows({{0, 100, 200, 40, 80, 20}}), {"resize;3;1;pixels;pixels;both"});
    ASSERT_EQ(b.width(), 3);
    ASSERT_EQ(b.height(), 1);
    // 0.25*100 + 0.5*0 + 0.25*100 = 50; 0.25*100 + 0.5*200 + 0.25*40 = 135;
    // 0.25*40 + 0.5*80 + 0.25*20 = 55.
    EXPECT_EQ(RedRows(b), (std::vector<std::vector<unsigned>>{{50, 135, 55}}));
    // A target height of one pixel is resampled like any other: rows 0 and 1 (row -1
    // reflects to row 1) give 0.5 * row 0 + 0.5 * row 1.
    b = Convert(GreyRows({{10, 20}, {30, 41}}), {"resize;2;1;pixels;pixels;both"});
    EXPECT_EQ(RedRows(b), (std::vector<std::vector<unsigned>>{{20, 30}}));  // 30.5 rounds to the even 30
}

// ---------------------------------------------------------------- crop, canvas, rotate, mirror

TEST(ActionExamples, CropEdge) {
    Bitmap b = Convert(PositionPicture(200, 100), {"crop;edge;10;20;30;40;100;100"});
    ASSERT_EQ(b.width(), 130);
    ASSERT_EQ(b.height(), 70);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 130; ++x) ASSERT_EQ(PositionOf(b.pixel(x, y)), std::make_pair(x + 30, y + 10));
}

TEST(ActionExamples, CropCentre) {
    Bitmap b = Convert(PositionPicture(300, 200), {"crop;center;10;10;10;10;100;50"});
    ASSERT_EQ(b.width(), 100);
    ASSERT_EQ(b.height(), 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(PositionOf(b.pixel(x, y)), std::make_pair(x + 100, y + 75));
}

TEST(ActionExamples, CropCentreOfOddSizeRepeatsOneColumnAndRow) {
    Bitmap b = Convert(PositionPicture(300, 200), {"crop;center;10;10;10;10;101;51"});
    ASSERT_EQ(b.width(), 101);
    ASSERT_EQ(b.height(), 51);
    // Columns 100..199 and rows 75..124 each appear, in order, one of them twice.
    std::vector<int> columns, rows;
    for (int x = 0; x < 101; ++x) {
        auto [sx, sy] = PositionOf(b.pixel(x, 0));
        EXPECT_EQ(sy, 75);
        columns.push_back(sx);
        for (int y = 1; y < 51; ++y) ASSERT_EQ(PositionOf(b.pixel(x, y)).first, sx) << x << "," << y;
    }
    for (int y = 0; y < 51; ++y) {
        rows.push_back(PositionOf(b.pixel(0, y)).second);
        for (int x = 1; x < 101; ++x) ASSERT_EQ(PositionOf(b.pixel(x, y)).second, rows.back()) << x << "," << y;
    }
    auto check = [](const std::vector<int>& seen, int first, int count) {
        ASSERT_EQ(seen.front(), first);
        ASSERT_EQ(seen.back(), first + count - 1);
        int repeats = 0;
        for (std::size_t i = 1; i < seen.size(); ++i) {
            int step = seen[i] - seen[i - 1];
            ASSERT_TRUE(step == 0 || step == 1) << "step " << step << " at " << i;
            repeats += step == 0;
        }
        EXPECT_EQ(repeats, 1);
    };
    check(columns, 100, 100);
    check(rows, 75, 50);
}

TEST(ActionExamples, CropOfAnotherModeChangesNothing) {
    const Bitmap source = Gradient(20, 10);
    EXPECT_TRUE(SamePicture(Convert(source, {"crop;middle;1;1;1;1;1;1"}), source));
}

TEST(ActionExamples, CanvasSize) {
    const Bitmap source = Gradient(100, 100);
    Bitmap b = Convert(source, {"canvassize;150;50"});
    ASSERT_EQ(b.width(), 150);
    ASSERT_EQ(b.height(), 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 150; ++x)
            ASSERT_EQ(b.pixel(x, y), x < 100 ? source.pixel(x, y) : kWhite) << x << "," << y;
}

TEST(ActionExamples, QuarterTurns) {
    const Bitmap source = Gradient(3, 2);
    Bitmap r90 = Convert(source, {"rotate;90;0"});
    Bitmap r270 = Convert(source, {"rotate;270;0"});
    Bitmap r180 = Convert(source, {"rotate;180;0"});
    ASSERT_EQ(r90.width(), 2);
    ASSERT_EQ(r90.height(), 3);
    ASSERT_EQ(r270.width(), 2);
    ASSERT_EQ(r270.height(), 3);
    ASSERT_EQ(r180.width(), 3);
    ASSERT_EQ(r180.height(), 2);
    EXPECT_EQ(r90.pixel(0, 0), source.pixel(0, 1));   // the source's bottom-left
    EXPECT_EQ(r270.pixel(0, 0), source.pixel(2, 0));  // the source's top-right
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(r90.pixel(x, y), source.pixel(y, 1 - x));
            EXPECT_EQ(r270.pixel(x, y), source.pixel(2 - y, x));
        }
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(r180.pixel(x, y), source.pixel(2 - x, 1 - y));
}

TEST(ActionExamples, WholeTurnsChangeNothing) {
    const Bitmap source = Gradient(6, 4);
    EXPECT_TRUE(SamePicture(Convert(source, {"rotate;360;255"}), source));
    EXPECT_TRUE(SamePicture(Convert(source, {"rotate;0;255"}), source));
}

TEST(ActionExamples, GeneralRotationFillsWithItsBackground) {
    const Color red = RGB(255, 0, 0);  // 255 is 0x0000FF, red in the low byte
    const Color green = RGB(0, 128, 0);
    Bitmap b = Convert(Uniform(100, 100, green), {"rotate;45;255"});
    ASSERT_EQ(b.width(), 142);
    ASSERT_EQ(b.height(), 141);
    EXPECT_EQ(b.pixel(0, 0), red);
    EXPECT_EQ(b.pixel(141, 0), red);
    EXPECT_EQ(b.pixel(0, 140), red);
    EXPECT_EQ(b.pixel(141, 140), red);
    EXPECT_EQ(b.pixel(71, 70), green);
    // The top corner of the turned square touches the top edge at x = 71 (u = 0).
    EXPECT_EQ(b.pixel(71, 1), green);

    // A following canvas enlargement of the same bitmap fills with red as well.
    Bitmap c = Convert(Uniform(100, 100, green), {"rotate;45;255", "canvassize;150;150"});
    ASSERT_EQ(c.width(), 150);
    ASSERT_EQ(c.height(), 150);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 150; ++x)
            if (x >= 142 || y >= 141) {
                ASSERT_EQ(c.pixel(x, y), red) << x << "," << y;
            }
    EXPECT_EQ(c.pixel(71, 70), green);
}

TEST(ActionExamples, GeneralRotationSizes) {
    EXPECT_SIZE(Convert(Gradient(200, 100), {"rotate;30;0"}), 223, 187);
    EXPECT_SIZE(Convert(Gradient(100, 50), {"rotate;10;0"}), 107, 67);
}

TEST(ActionExamples, Mirror) {
    EXPECT_EQ(RedRows(Convert(GreyRows({{1, 2, 3}}), {"mirror;-1;0"})), (std::vector<std::vector<unsigned>>{{3, 2, 1}}));
    EXPECT_EQ(RedRows(Convert(GreyRows({{1, 2}, {3, 4}, {5, 6}}), {"mirror;0;-1"})),
              (std::vector<std::vector<unsigned>>{{5, 6}, {3, 4}, {1, 2}}));
    const Bitmap source = Gradient(7, 5);
    EXPECT_TRUE(SamePicture(Convert(source, {"mirror;-1;-1"}), Convert(source, {"rotate;180;0"})));
}

// ---------------------------------------------------------------- contrast, brightness, blur

TEST(ActionExamples, Contrast) {
    const Bitmap square = GreyRows({{50, 50}, {150, 150}});  // pivot 100
    EXPECT_TRUE(SamePicture(Convert(square, {"contrast;0"}), square));
    EXPECT_EQ(RedRows(Convert(square, {"contrast;10"})), (std::vector<std::vector<unsigned>>{{0, 0}, {200, 200}}));
    EXPECT_EQ(RedRows(Convert(square, {"contrast;-25"})),
              (std::vector<std::vector<unsigned>>{{75, 75}, {125, 125}}));
    EXPECT_EQ(RedRows(Convert(square, {"contrast;-100"})),
              (std::vector<std::vector<unsigned>>{{100, 100}, {100, 100}}));
    // One pixel wide, one pixel high: like any other.
    EXPECT_EQ(RedRows(Convert(GreyRows({{50}, {50}, {150}, {150}}), {"contrast;10"})),
              (std::vector<std::vector<unsigned>>{{0}, {0}, {200}, {200}}));
    EXPECT_EQ(RedRows(Convert(GreyRows({{50, 150, 50, 150}}), {"contrast;10"})),
              (std::vector<std::vector<unsigned>>{{0, 200, 0, 200}}));
    Bitmap c = Convert(square, {"contrast;10"});
    EXPECT_TRUE(IsGrey(c));
}

TEST(ActionExamples, Brightness) {
    const Bitmap row = GreyRows({{250, 100, 5, 0, 255}});
    EXPECT_EQ(RedRows(Convert(row, {"brightness;10"})), (std::vector<std::vector<unsigned>>{{255, 110, 15, 10, 255}}));
    EXPECT_EQ(RedRows(Convert(row, {"brightness;-10"})), (std::vector<std::vector<unsigned>>{{240, 90, 0, 0, 245}}));
    EXPECT_TRUE(SamePicture(Convert(row, {"brightness;0"}), row));
}

TEST(ActionExamples, BlurOfASingleWhitePixel) {
    Bitmap source = Uniform(7, 7, kBlack);
    source.setPixel(3, 3, kWhite);
    Bitmap b = Convert(source, {"blur;5"});
    ASSERT_EQ(b.width(), 7);
    ASSERT_EQ(b.height(), 7);
    EXPECT_TRUE(IsGrey(b));
    std::vector<std::vector<unsigned>> expected(7, std::vector<unsigned>(7, 0));
    expected[3][3] = 157;
    expected[2][3] = expected[4][3] = expected[3][2] = expected[3][4] = 21;
    expected[2][2] = expected[2][4] = expected[4][2] = expected[4][4] = 2;
    EXPECT_EQ(RedRows(b), expected);
}

TEST(ActionExamples, BlurOfATenthOfAPixelChangesNothing) {
    Bitmap source = Gradient(12, 9);
    for (int y = 2; y < 6; ++y)
        for (int x = 3; x < 8; ++x) source.setPixel(x, y, kWhite);
    EXPECT_TRUE(SamePicture(Convert(source, {"blur;1"}), source));
}

TEST(ActionExamples, BlurOfRadiusZeroChangesNothing) {
    // A zero radius leaves the picture unchanged.
    const Bitmap source = Gradient(9, 6);
    EXPECT_TRUE(SamePicture(Convert(source, {"blur;0"}), source));
}

TEST(ActionExamples, UniformPictureStaysUniformUnderGaussianBlur) {
    for (const char* action : {"blur;5", "blur;25", "blur;50"}) {
        Bitmap b = Convert(Uniform(20, 15, Grey(200)), {action});
        ASSERT_EQ(b.width(), 20);
        ASSERT_EQ(b.height(), 15);
        const Color first = b.pixel(0, 0);
        EXPECT_TRUE(SamePicture(b, Uniform(20, 15, first))) << action;
        EXPECT_TRUE(IsGrey(b)) << action;
        // Truncated sums can lose one level per pass, no more.
        EXPECT_GE(GetR(first), 198u) << action;
        EXPECT_LE(GetR(first), 200u) << action;
    }
}

// ---------------------------------------------------------------- failures and files

TEST(ActionExamples, MalformedActionStopsTheRunAtThatFile) {
    for (const char* bad : {"contrast;abc", "canvassize;100", "mirror;-1", "rotate;abc;0", "blur;x",
                            "resize;abc;100;pixels;pixels;both"}) {
        TempDir home, src, out;
        SavePicture(src.file("a.bmp"), Gradient(8, 6), Bmp());
        SavePicture(src.file("b.bmp"), Gradient(8, 6, 3), Bmp());
        // A valid action before the malformed one changes nothing of this.
        WriteText(src.file("list.acf"), std::string("mirror;-1;0\r\n") + bad + "\r\n");
        CommandResult r = RunCommand("PICTORIX_HOME=" + Quote(home.path()) + " " + Quote(PICTORIX_BATCH_EXE) +
                                     " --quiet --actions " + Quote(src.file("list.acf")) +
                                     " --set format.format=0 --set dest.dest=2 --set dest.folder=" +
                                     Quote(out.folder()) + " " + Quote(src.file("a.bmp")) + " " +
                                     Quote(src.file("b.bmp")) + " </dev/null");
        EXPECT_NE(r.status, 0) << bad << ": " << r.output;
        EXPECT_NE(r.output.find(std::string("\"") + bad + "\""), std::string::npos) << bad << ": " << r.output;
        EXPECT_NE(r.output.find(src.file("a.bmp") + ": "), std::string::npos) << bad << ": " << r.output;
        EXPECT_TRUE(out.names().empty()) << bad << ": nothing is written for that file (nor later ones)";
    }
}

TEST(ActionExamples, LfOnlyActionFileAppliesLikeCrLf) {
    const Bitmap source = Gradient(9, 7);
    Outcome crlf = RunActions(source, {}, std::string("mirror;-1;0\r\nrotate;90;0\r\nbrightness;10\r\n"));
    Outcome lf = RunActions(source, {}, std::string("mirror;-1;0\nrotate;90;0\nbrightness;10"));
    Outcome cr = RunActions(source, {}, std::string("mirror;-1;0\rrotate;90;0\rbrightness;10\r"));
    ASSERT_EQ(crlf.run.status, 0) << crlf.run.output;
    ASSERT_EQ(lf.run.status, 0) << lf.run.output;
    ASSERT_EQ(cr.run.status, 0) << cr.run.output;
    ASSERT_TRUE(crlf.picture && lf.picture && cr.picture);
    EXPECT_SIZE(*crlf.picture, 7, 9);
    EXPECT_TRUE(SamePicture(*crlf.picture, *lf.picture));
    EXPECT_TRUE(SamePicture(*crlf.picture, *cr.picture));
}

TEST(ActionExamples, MissingActionFileIsAUsageError) {
    TempDir home, src;
    SavePicture(src.file("a.bmp"), Gradient(4, 4), Bmp());
    CommandResult r = RunCommand("PICTORIX_HOME=" + Quote(home.path()) + " " + Quote(PICTORIX_BATCH_EXE) +
                                 " --quiet --actions " + Quote(src.file("none.acf")) + " --set format.format=0 " +
                                 Quote(src.file("a.bmp")) + " </dev/null");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("none.acf"), std::string::npos) << r.output;
    EXPECT_EQ(src.names(), (std::vector<std::string>{"a.bmp"}));
}
