// Text and picture watermarks: placement, mixing, transparency, clipping, the text
// picture and its font, and the text picture file of a run.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "actions/apply_action.h"
#include "core/error.h"
#include "core/file_util.h"
#include "operations/geometry.h"
#include "operations/text_render.h"
#include "operations/watermark.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

Bitmap Solid(int width, int height, Color colour) {
    Bitmap b(width, height, 24);
    b.fill(colour);
    return b;
}

void WritePicture(const std::string& path, const Bitmap& bitmap) {
    FormatOptions options;
    options.format = 0;
    SavePicture(path, bitmap, options);
}

using test::SamePixels;

struct Box {
    int left, top, width, height;
    bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << "(" << b.left << ", " << b.top << ") " << b.width << " x " << b.height;
}

// The smallest rectangle holding every pixel that differs between the two pictures.
std::optional<Box> ChangedBox(const Bitmap& before, const Bitmap& after) {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (before.pixel(x, y) != after.pixel(x, y)) {
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
    if (x1 < 0) return std::nullopt;
    return Box{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

std::string PictureAction(int code, const std::string& x, const std::string& y, const std::string& units, int opacity,
                          int rotation, bool transparency, const std::string& path, Color transparent = kWhite) {
    return "picturewatermark;" + std::to_string(code) + ";" + x + ";" + y + ";" + units + ";" + units + ";" +
           std::to_string(opacity) + ";" + std::to_string(rotation) + ";" + (transparency ? "-1" : "0") + ";" + path +
           ";" + std::to_string(transparent);
}

// A centred text watermark in black Arial 12 pt with offsets 5 and 5.
std::string TextAction(int opacity, int rotation, bool transparency, Color background, const std::string& style,
                       const std::string& lines) {
    return "textwatermark;4;5;5;pixels;pixels;" + std::to_string(opacity) + ";" + std::to_string(rotation) + ";" +
           (transparency ? "-1" : "0") + ";" + std::to_string(background) + ";-16777208;Arial;12;" + style + ";" +
           lines;
}

// Points the program's folder at a scratch folder for the life of the object.
class ScopedProgramFolder {
public:
    ScopedProgramFolder() {
        if (const char* old = std::getenv("PICTORIX_HOME")) old_ = old;
        ::setenv("PICTORIX_HOME", dir_.path().c_str(), 1);
    }
    ~ScopedProgramFolder() {
        if (old_) ::setenv("PICTORIX_HOME", old_->c_str(), 1);
        else ::unsetenv("PICTORIX_HOME");
    }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::optional<std::string> old_;
};

constexpr Color kYellow = 0x0000FFFF;
constexpr Color kRed = 0x000000FF;

}  // namespace

// ---------------------------------------------------------------- mixing

TEST(GetMixedColor, FractionOfTheWayWithHalvesToEven) {
    struct Case {
        Color a, b;
        int lowest, highest, position;
        Color expected;
    };
    const Case cases[] = {
        // White over black: alpha 255 still lets 1/257 of the picture through, alpha 0
        // still adds 1/257 of the watermark.
        {kBlack, kWhite, -1, 256, 255, RGB(254, 254, 254)},
        {kBlack, kWhite, -1, 256, 127, RGB(127, 127, 127)},
        {kBlack, kWhite, -1, 256, 0, RGB(1, 1, 1)},
        {kWhite, kBlack, -1, 256, 255, RGB(1, 1, 1)},
        // Clamped to 0..1 outside the range.
        {RGB(10, 20, 30), RGB(200, 100, 0), -1, 256, -2, RGB(10, 20, 30)},
        {RGB(10, 20, 30), RGB(200, 100, 0), -1, 256, 300, RGB(200, 100, 0)},
        // Each channel on its own; halves go to the even neighbour (3 * 0.5 = 1.5 -> 2,
        // 5 * 0.5 = 2.5 -> 2, -5 * 0.5 = -2.5 -> -2).
        {RGB(0, 0, 10), RGB(3, 5, 5), 0, 2, 1, RGB(2, 2, 8)},
        {RGB(100, 0, 255), RGB(0, 255, 0), 0, 4, 1, RGB(75, 64, 191)},
        // Equal ends: all of b from that position on, none below it.
        {kBlack, kWhite, 5, 5, 5, kWhite},
        {kBlack, kWhite, 5, 5, 4, kBlack},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetMixedColor(c.a, c.b, c.lowest, c.highest, c.position), c.expected)
            << std::hex << c.a << " " << c.b << std::dec << " " << c.lowest << ".." << c.highest << " at "
            << c.position;
}

TEST(ApplyWatermark, OpacityBecomesAlphaTruncated) {
    // alpha = opacity * 255 / 100: 100 -> 255, 50 -> 127, 0 -> 0, 1 -> 2, -1 -> -2 (nothing).
    const std::pair<int, unsigned> cases[] = {{100, 254}, {50, 127}, {0, 1}, {1, 3}, {-1, 0}, {1000, 255}};
    for (const auto& [opacity, level] : cases) {
        Bitmap picture = Solid(3, 3, kBlack);
        ApplyWatermark(picture, Solid(1, 1, kWhite), 0, 0, opacity, 4, false, 0, kWhite);
        EXPECT_EQ(picture.pixel(1, 1), RGB(level, level, level)) << "opacity " << opacity;
        EXPECT_EQ(picture.pixel(0, 0), kBlack);
    }
}

TEST(BlendWatermark, TransparencyIsByExactColour) {
    Bitmap watermark(3, 1, 24);
    watermark.setPixel(0, 0, 0xFFFFFF);
    watermark.setPixel(1, 0, 0xFEFFFF);
    watermark.setPixel(2, 0, kRed);
    for (bool transparency : {true, false}) {
        Bitmap picture = Solid(3, 1, kBlack);
        BlendWatermark(picture, watermark, 0, 0, 255, transparency, kWhite);
        EXPECT_EQ(picture.pixel(0, 0), transparency ? kBlack : RGB(254, 254, 254));
        EXPECT_EQ(picture.pixel(1, 0), RGB(254, 254, 253));
        EXPECT_EQ(picture.pixel(2, 0), RGB(254, 0, 0));
    }
}

TEST(BlendWatermark, ClippedAtThePictureEdges) {
    const Bitmap watermark = Gradient(6, 5, 3);
    const Bitmap original = Gradient(8, 7);
    for (const auto& [left, top] : std::vector<std::pair<long long, long long>>{
             {-3, -2}, {5, 4}, {-10, 0}, {8, 0}, {0, 7}, {-6, -5}, {1, 1}, {-1LL << 40, 1LL << 40}}) {
        Bitmap picture = original;
        BlendWatermark(picture, watermark, left, top, 255, false, kWhite);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const long long wx = x - left, wy = y - top;
                const bool covered = wx >= 0 && wx < watermark.width() && wy >= 0 && wy < watermark.height();
                const Color expected = covered ? GetMixedColor(original.pixel(x, y),
                                                               watermark.pixel(int(wx), int(wy)), -1, 256, 255)
                                               : original.pixel(x, y);
                ASSERT_EQ(picture.pixel(x, y), expected) << x << "," << y << " left " << left << " top " << top;
            }
    }
    // A watermark larger than the picture covers all of it.
    Bitmap picture = Solid(4, 3, kBlack);
    BlendWatermark(picture, Solid(10, 10, kWhite), -3, -3, 255, false, kWhite);
    EXPECT_EQ(ChangedBox(Solid(4, 3, kBlack), picture), (Box{0, 0, 4, 3}));
}

TEST(BlendWatermark, OtherPixelFormatsTakeTheNearestColour) {
    const Bitmap watermark = Gradient(5, 4, 9);
    Bitmap reference = Gradient(7, 6);
    BlendWatermark(reference, watermark, 1, 1, 127, true, watermark.pixel(2, 2));
    for (int bpp : {32, 16, 8}) {
        Bitmap picture = Gradient(7, 6);
        picture.setBitsPerPixel(bpp);
        Bitmap expected = picture;  // the 24-bit result, stored in this format
        expected.setBitsPerPixel(24);
        BlendWatermark(expected, watermark, 1, 1, 127, true, watermark.pixel(2, 2));
        // Mixing starts from the colours this format holds.
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                Bitmap one(1, 1, bpp);
                one.setPalette(picture.palette());
                one.setPixel(0, 0, expected.pixel(x, y));
                expected.setPixel(x, y, one.pixel(0, 0));
            }
        BlendWatermark(picture, watermark, 1, 1, 127, true, watermark.pixel(2, 2));
        EXPECT_TRUE(SamePixels(picture, expected)) << bpp << " bits";
        EXPECT_EQ(picture.bitsPerPixel(), bpp);
    }
}

// ---------------------------------------------------------------- the picture watermark

TEST(PictureWatermark, PlacedByPositionCodeAndOffsets) {
    TempDir dir;
    const std::string path = dir.file("mark.bmp");
    WritePicture(path, Solid(100, 50, kWhite));
    struct Case {
        int code;
        const char* units;
        int x, y;
        Box expected;
    };
    const Case cases[] = {
        {0, "pixels", 5, 10, {5, 240, 100, 50}},   {1, "pixels", 5, 10, {295, 240, 100, 50}},
        {2, "pixels", 5, 10, {5, 10, 100, 50}},    {3, "pixels", 5, 10, {295, 10, 100, 50}},
        {4, "pixels", 5, 10, {150, 125, 100, 50}},
        // 10 percent of 400 x 300 is 40 and 30 pixels; a fraction is truncated.
        {2, "percents", 10, 10, {40, 30, 100, 50}}, {1, "percents", 10, 10, {260, 220, 100, 50}},
        {2, "percents", 1, 1, {4, 3, 100, 50}},     {0, "Percents", 10, 10, {10, 240, 100, 50}},
        // The centre ignores the offsets.
        {4, "percents", 90, 90, {150, 125, 100, 50}},
    };
    const Bitmap black = Solid(400, 300, kBlack);
    for (const Case& c : cases) {
        Bitmap picture = black;
        const std::string action = PictureAction(c.code, std::to_string(c.x), std::to_string(c.y), c.units, 100, 0,
                                                 false, path);
        DoPictureWatermark(action, picture);
        EXPECT_EQ(ChangedBox(black, picture), c.expected) << action;
        EXPECT_EQ(picture.pixel(c.expected.left, c.expected.top), RGB(254, 254, 254)) << action;
    }
}

TEST(PictureWatermark, TurnedOnWhite) {
    TempDir dir;
    const std::string path = dir.file("mark.bmp");
    Bitmap mark = Solid(40, 20, kRed);
    WritePicture(path, mark);
    const Bitmap black = Solid(200, 150, kBlack);

    // A quarter turn transposes it exactly.
    Bitmap picture = black;
    DoPictureWatermark(PictureAction(2, "0", "0", "pixels", 100, 90, false, path), picture);
    EXPECT_EQ(ChangedBox(black, picture), (Box{0, 0, 20, 40}));

    // 45 degrees: white corners, left out only when white is the transparent colour.
    Bitmap turned = mark;
    RotateBitmap(turned, kWhite, 45);
    ASSERT_EQ(turned.pixel(0, 0), kWhite);
    const int left = 100 - turned.width() / 2, top = 75 - turned.height() / 2;
    for (Color transparent : {kWhite, kRed}) {
        picture = black;
        DoPictureWatermark(PictureAction(4, "5", "5", "pixels", 100, 45, true, path, transparent), picture);
        EXPECT_EQ(picture.pixel(left, top), transparent == kWhite ? kBlack : RGB(254, 254, 254));
        EXPECT_EQ(picture.pixel(100, 75), transparent == kRed ? kBlack : RGB(254, 0, 0));
    }
}

TEST(PictureWatermark, MissingFileUnchangedUnreadableFileFails) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder.bmp"));
    WriteText(dir.file("junk.dat"), std::string(200, 'x'));
    WriteText(dir.file("junk.bmp"), "BM not really");
    const Bitmap original = Gradient(20, 10);

    // No file at the path: nothing happens, even when the other fields are malformed.
    for (const std::string& path : {dir.file("missing.bmp"), std::string(), dir.file("folder.bmp")}) {
        for (const std::string& action : {PictureAction(4, "5", "5", "pixels", 100, 0, false, path),
                                          "picturewatermark;x;y;z;pixels;pixels;a;b;c;" + path + ";d"}) {
            Bitmap picture = original;
            EXPECT_NO_THROW(ApplyAction(action, picture, ActionPurpose::ConversionRun)) << action;
            EXPECT_TRUE(SamePixels(picture, original)) << action;
        }
    }
    // A file that no reader decodes is an error naming the file; the picture is unchanged.
    for (const std::string& path : {dir.file("junk.dat"), dir.file("junk.bmp")}) {
        Bitmap picture = original;
        try {
            ApplyAction(PictureAction(4, "5", "5", "pixels", 100, 0, false, path), picture, ActionPurpose::Preview);
            ADD_FAILURE() << path << " was accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_TRUE(SamePixels(picture, original)) << path;
    }
    // With a file present, malformed fields fail; a position code outside 0-4 does nothing.
    const std::string good = dir.file("good.bmp");
    WritePicture(good, Solid(4, 4, kRed));
    Bitmap picture = original;
    EXPECT_THROW(ApplyAction("picturewatermark;x;5;5;pixels;pixels;50;0;-1;" + good + ";16777215", picture,
                             ActionPurpose::ConversionRun),
                 Error);
    EXPECT_THROW(ApplyAction("picturewatermark;4;5;5;pixels;pixels;50;0;-1;" + good, picture,
                             ActionPurpose::ConversionRun),
                 Error);
    for (int code : {-1, 5}) ApplyAction(PictureAction(code, "0", "0", "pixels", 100, 0, false, good), picture,
                                         ActionPurpose::ConversionRun);
    EXPECT_TRUE(SamePixels(picture, original));
}

// ---------------------------------------------------------------- fonts

TEST(TextFont, ArialIsLiberationSansAtSixteenPixels) {
    EXPECT_EQ(PointsToPixels(12), 16);
    EXPECT_EQ(PointsToPixels(9), 12);
    EXPECT_EQ(PointsToPixels(10), 13);
    EXPECT_EQ(PointsToPixels(11), 15);

    const TextFont arial("Arial", 12, {});
    EXPECT_EQ(arial.family(), "Liberation Sans");
    EXPECT_NE(arial.file().find("LiberationSans-Regular"), std::string::npos) << arial.file();
    // Ascent 1854 and descent 434 of 2048 units at 16 pixels, rounded outward.
    EXPECT_EQ(arial.ascent(), 15);
    EXPECT_EQ(arial.descent(), 4);
    EXPECT_EQ(arial.textHeight(), 19);
    // Widths are whole-pixel advances with kerning: "AV" is kerned closer.
    EXPECT_EQ(arial.textWidth(""), 0);
    EXPECT_LT(arial.textWidth("AV"), arial.textWidth("A") + arial.textWidth("V"));
    EXPECT_EQ(arial.textWidth("HH"), 2 * arial.textWidth("H"));

    const TextFont bold("Arial", 12, {.bold = true});
    EXPECT_NE(bold.file().find("LiberationSans-Bold"), std::string::npos) << bold.file();
    EXPECT_FALSE(bold.syntheticBold());
    const TextFont bigger("Arial", 24, {});
    EXPECT_GT(bigger.textWidth("Your Text"), arial.textWidth("Your Text"));

    // A name no font carries falls back to fontconfig's best match.
    const TextFont unknown("No Such Font Pictorix", 12, {});
    EXPECT_FALSE(unknown.file().empty());
    EXPECT_GT(unknown.textWidth("Your Text"), 0);
    EXPECT_GT(unknown.textHeight(), 0);
    EXPECT_THROW(TextFont("Arial", 1000000, {}), Error);
}

TEST(TextFont, EachStyleChangesTheRendering) {
    const auto render = [](const TextFont& font) {
        Bitmap b = Solid(80, 25, kWhite);
        font.drawText(b, 2, 2, "Hxg", kBlack, kWhite);
        return b;
    };
    const std::vector<FontStyle> styles = {
        {}, {.bold = true}, {.italic = true}, {.underline = true}, {.strikeOut = true}};
    std::vector<Bitmap> pictures;
    for (const FontStyle& style : styles) pictures.push_back(render(TextFont("Arial", 12, style)));
    for (std::size_t i = 0; i < pictures.size(); ++i)
        for (std::size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_FALSE(SamePixels(pictures[i], pictures[j])) << "styles " << i << " and " << j;

    // Underline and strike-out are solid lines across the whole cell, below the baseline
    // and through the letters.
    const TextFont plain("Arial", 12, {});
    const int width = plain.textWidth("Hxg"), baseline = 2 + plain.ascent();
    for (std::size_t s : {3u, 4u}) {
        int fullRow = -1;
        for (int y = 2; y < 2 + plain.textHeight() && fullRow < 0; ++y) {
            bool full = true;
            for (int x = 2; x < 2 + width; ++x) full = full && pictures[s].pixel(x, y) == kBlack;
            if (full) fullRow = y;
        }
        ASSERT_GE(fullRow, 0) << "style " << s;
        if (s == 3) EXPECT_GT(fullRow, baseline - 1);
        else EXPECT_LT(fullRow, baseline - 1);
    }

    // A family without bold and italic faces has them synthesised from its regular face.
    const std::string single = "DejaVu Math TeX Gyre";
    const TextFont regular(single, 12, {});
    if (regular.family() != single) GTEST_SKIP() << single << " is not installed";
    const TextFont bold(single, 12, {.bold = true}), italic(single, 12, {.italic = true});
    EXPECT_EQ(bold.file(), regular.file());
    EXPECT_TRUE(bold.syntheticBold());
    EXPECT_TRUE(italic.syntheticItalic());
    EXPECT_GT(bold.textWidth("Hxg"), regular.textWidth("Hxg"));
    EXPECT_EQ(italic.textWidth("Hxg"), regular.textWidth("Hxg"));
    EXPECT_FALSE(SamePixels(render(bold), render(regular)));
    EXPECT_FALSE(SamePixels(render(italic), render(regular)));
}

TEST(TextFont, DrawsAlikeOnSeveralThreads) {
    // Fonts share their cached faces; each thread must get what one thread alone gets.
    const std::vector<std::pair<std::string, FontStyle>> fonts = {
        {"Arial", {}}, {"Arial", {.bold = true, .underline = true}}, {"Times New Roman", {.italic = true}},
        {"No Such Font Pictorix", {.strikeOut = true}}};
    const auto render = [&](std::size_t i, int points) {
        const TextFont font(fonts[i].first, points, fonts[i].second);
        return TextPicture({"Threads", "draw alike"}, font, kBlack, kWhite);
    };
    std::vector<Bitmap> expected;
    for (std::size_t i = 0; i < fonts.size(); ++i) expected.push_back(render(i, 10 + int(i)));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                const std::size_t i = std::size_t(t + round) % fonts.size();
                if (!SamePixels(render(i, 10 + int(i)), expected[i])) ++mismatches[std::size_t(t)];
                render(i, 30);  // another size of the same face in between
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// ---------------------------------------------------------------- the text picture

TEST(TextPicture, SizeOutlineAndCells) {
    const TextFont font("Arial", 12, {});
    const int narrow = font.textWidth("W"), wide = font.textWidth("Wide line"), height = font.textHeight();

    // One line covers the whole picture with its cell: no outline is left.
    Bitmap one = TextPicture({"Wide line"}, font, kRed, kYellow);
    ASSERT_EQ(one.width(), wide);
    ASSERT_EQ(one.height(), height);
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width(); ++x) ASSERT_NE(one.pixel(x, y), kBlack) << x << "," << y;
    EXPECT_EQ(one.pixel(0, 0), kYellow);

    // A shorter line leaves the outline to its right: the top row and the right column.
    Bitmap two = TextPicture({"W", "Wide line", ""}, font, kRed, kYellow);
    ASSERT_EQ(two.width(), wide);
    ASSERT_EQ(two.height(), 3 * height);
    EXPECT_EQ(two.pixel(0, 0), kYellow);
    EXPECT_EQ(two.pixel(narrow + 1, 0), kBlack);
    EXPECT_EQ(two.pixel(wide - 1, 1), kBlack);
    EXPECT_EQ(two.pixel(narrow + 1, 1), kYellow);
    EXPECT_EQ(two.pixel(wide - 1, height), kYellow);  // the wide line's cell
    // The empty last line draws nothing: the outline stays around it.
    EXPECT_EQ(two.pixel(0, 2 * height + 1), kBlack);
    EXPECT_EQ(two.pixel(1, 3 * height - 1), kBlack);
    EXPECT_EQ(two.pixel(1, 2 * height + 1), kYellow);

    EXPECT_TRUE(TextPicture({}, font, kRed, kYellow).empty());
    EXPECT_TRUE(TextPicture({"", ""}, font, kRed, kYellow).empty());
}

TEST(TextWatermark, WritesTheTextPictureAndPlacesItOnWhite) {
    ScopedProgramFolder home;
    const std::string file = home.dir().file("lib/text.bmp");
    const Bitmap black = Solid(300, 200, kBlack);
    const Bitmap blue = Solid(300, 200, RGB(100, 150, 200));
    const std::string defaultAction =
        "textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;;Your Text";

    // The default action: lib/ is made, and the file holds the text picture.
    Bitmap picture = blue;
    ApplyAction(defaultAction, picture, ActionPurpose::ConversionRun);
    ASSERT_TRUE(FileExists(file));
    Bitmap written;
    LoadPicture(file, written);
    const Bitmap expected = TextPicture({"Your Text"}, TextFont("Arial", 12, {}), kBlack, kWhite);
    EXPECT_TRUE(SamePixels(written, expected));
    // Centred; the white cell is transparent, the black letters blended at 50 percent.
    const int left = 150 - expected.width() / 2, top = 100 - expected.height() / 2;
    const auto box = ChangedBox(blue, picture);
    ASSERT_TRUE(box);
    EXPECT_GE(box->left, left);
    EXPECT_GE(box->top, top);
    EXPECT_LE(box->left + box->width, left + expected.width());
    EXPECT_LE(box->top + box->height, top + expected.height());
    Bitmap onWhite = Solid(300, 200, kWhite);
    ApplyAction(defaultAction, onWhite, ActionPurpose::ConversionRun);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (expected.pixel(x, y) == kBlack) {
                ASSERT_EQ(onWhite.pixel(left + x, top + y), RGB(128, 128, 128)) << x << "," << y;
            }

    // Only white is transparent: a yellow background is kept, a white one and white
    // letters are not drawn.
    struct Case {
        Color background;
        bool transparency;
        int rotation;
        bool cornerChanges, backgroundChanges;
    };
    const Case cases[] = {
        {kWhite, true, 0, false, false},  {kYellow, true, 0, true, true},   {kWhite, false, 0, true, true},
        {kWhite, true, 45, false, false}, {kYellow, true, 45, false, true}, {kWhite, false, 45, true, true},
    };
    for (const Case& c : cases) {
        Bitmap turned = TextPicture({"Your Text"}, TextFont("Arial", 12, {}), kBlack, c.background);
        const int x1 = turned.width() / 2, y1 = 1;  // a pixel of the cell above the letters
        ASSERT_EQ(turned.pixel(x1, y1), c.background);
        RotateBitmap(turned, kWhite, c.rotation);
        const int cornerLeft = 150 - turned.width() / 2, cornerTop = 100 - turned.height() / 2;
        picture = black;
        ApplyAction(TextAction(100, c.rotation, c.transparency, c.background, "", "Your Text"), picture,
                    ActionPurpose::ConversionRun);
        EXPECT_EQ(picture.pixel(cornerLeft, cornerTop) != kBlack, c.cornerChanges)
            << c.background << " " << c.transparency << " " << c.rotation;
        if (c.rotation == 0) {
            EXPECT_EQ(picture.pixel(cornerLeft + x1, cornerTop + y1) != kBlack, c.backgroundChanges) << c.background;
        }
    }

    // White letters on white vanish.
    picture = black;
    ApplyAction("textwatermark;4;5;5;pixels;pixels;100;0;-1;16777215;16777215;Arial;12;;Your Text", picture,
                ActionPurpose::ConversionRun);
    EXPECT_FALSE(ChangedBox(black, picture));
}

TEST(TextWatermark, NoLinesNoChange) {
    ScopedProgramFolder home;
    const Bitmap original = Gradient(50, 40);
    for (const std::string& action :
         {std::string("textwatermark;4;5;5;pixels;pixels;100;0;0;0;-16777208;Arial;12;"),
          std::string("textwatermark;4;5;5;pixels;pixels;100;0;0;0;-16777208;Arial;12;;"),
          std::string("textwatermark;4;5;5;pixels;pixels;100;0;0;0;-16777208;Arial;12;;;")}) {
        Bitmap picture = original;
        ApplyAction(action, picture, ActionPurpose::ConversionRun);
        EXPECT_TRUE(SamePixels(picture, original)) << action;
    }
    EXPECT_FALSE(FileExists(home.dir().file("lib/text.bmp")));

    // Malformed fields fail before anything is drawn or written.
    Bitmap picture = original;
    EXPECT_THROW(ApplyAction("textwatermark;4;5;5;pixels;pixels;100;0;0;0;-16777208;Arial;big;;Text", picture,
                             ActionPurpose::ConversionRun),
                 Error);
    EXPECT_TRUE(SamePixels(picture, original));
    EXPECT_FALSE(FileExists(home.dir().file("lib/text.bmp")));
}

TEST(TextWatermark, UnwritableLibFolderFails) {
    ScopedProgramFolder home;
    WriteText(home.dir().file("lib"), "a file where the folder should be");
    Bitmap picture = Gradient(50, 40);
    const Bitmap original = picture;
    try {
        ApplyAction(TextAction(100, 0, true, kWhite, "", "Text"), picture, ActionPurpose::Preview);
        ADD_FAILURE() << "the text picture could not be written, yet the watermark succeeded";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("lib/text.bmp"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(SamePixels(picture, original));
}

TEST(TextWatermark, RunOfPictorixBatchWritesLibTextBmp) {
    TempDir home, dir;
    WriteText(dir.file("list.acf"), TextAction(100, 0, true, kWhite, "[fsBold]", "Batch") + "\r\n");
    FormatOptions png;
    png.format = 2;
    SavePicture(dir.file("photo.png"), Solid(120, 80, kYellow), png);
    const CommandResult r = RunCommand("PICTORIX_HOME=" + Quote(home.path()) + " " + Quote(PICTORIX_BATCH_EXE) +
                                       " --actions " + Quote(dir.file("list.acf")) + " --set format.format=0 " +
                                       Quote(dir.file("photo.png")) + " </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(FileExists(home.file("lib/text.bmp")));
    Bitmap text, output;
    LoadPicture(home.file("lib/text.bmp"), text);
    EXPECT_TRUE(SamePixels(text, TextPicture({"Batch"}, TextFont("Arial", 12, {.bold = true}), kBlack, kWhite)));
    LoadPicture(dir.file("photo.bmp"), output);
    const auto box = ChangedBox(Solid(120, 80, kYellow), output);
    ASSERT_TRUE(box);
    EXPECT_GE(box->left, 60 - text.width() / 2);
    EXPECT_LE(box->left + box->width, 60 - text.width() / 2 + text.width());
}
