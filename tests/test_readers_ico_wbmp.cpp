// Tests of the icon and WBMP readers: headers and edge cases on tiny hand-made files,
// round trips with our own writers, files written by ImageMagick and the icon corpus
// compared with ImageMagick's decoding, and damaged files of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/ico.h"
#include "pictureio/codecs/wbmp.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::HaveCommand;
using test::Quote;
using test::ReadBytes;
using test::Stdout;
using test::TempDir;

bool HaveImageMagick() { return HaveCommand("convert"); }

// Everything a reader could change.
bool SameBitmap(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.bitsPerPixel() != b.bitsPerPixel() ||
        a.palette() != b.palette() || a.fillColor() != b.fillColor() || a.transparent() != b.transparent())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (!std::equal(a.row(y), a.row(y) + a.stride(), b.row(y))) return false;
    return true;
}

// A small picture that a reader must leave alone when it fails.
Bitmap Marker() {
    Bitmap b = test::Gradient(3, 2, 9);
    b.setFillColor(RGB(1, 2, 3));
    b.setTransparent(true, RGB(4, 5, 6));
    return b;
}

// The picture ImageMagick sees in `path` ("file.ico[N]" for frame N), flattened on white.
std::optional<ByteVector> ImageMagickRgb(const std::string& path) {
    return Stdout("convert " + Quote(path) + " -background white -flatten -depth 8 rgb:-");
}

void ExpectPixelsNear(const Bitmap& b, const ByteVector& rgb, int tolerance) {
    ASSERT_EQ(rgb.size(), std::size_t(b.width()) * std::size_t(b.height()) * 3);
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            const std::uint8_t* p = rgb.data() + (std::size_t(y) * b.width() + x) * 3;
            const int ours[3] = {int(GetR(c)), int(GetG(c)), int(GetB(c))};
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(ours[k], p[k], tolerance) << x << "," << y << " channel " << k;
        }
}

// ---------------------------------------------------------------------------
// WBMP

ByteVector Concat(ByteVector head, std::size_t fillBytes, std::uint8_t fill = 0xFF) {
    head.insert(head.end(), fillBytes, fill);
    return head;
}

TEST(WbmpReader, Headers) {
    struct Case {
        const char* what;
        ByteVector file;
        int width, height;  // 0: an error
    };
    const Case cases[] = {
        {"the documented example", Concat({0x00, 0x00, 0x81, 0x48, 0x0A}, 25 * 10), 200, 10},
        {"a first byte of 0x80 is 128", Concat({0x00, 0x00, 0x80, 0x01}, 16), 128, 1},
        {"three-byte width as our writer makes it", Concat({0x00, 0x00, 0x81, 0x80, 0x00, 0x01}, 2048), 16384, 1},
        {"type 1", {0x01, 0x00, 0x01, 0x01, 0xFF}, 0, 0},
        {"type 128", {0x80, 0x00, 0x01, 0x01, 0xFF}, 0, 0},
        {"zero width", {0x00, 0x00, 0x00, 0x05, 0xFF}, 0, 0},
        {"zero height", {0x00, 0x00, 0x05, 0x00, 0xFF}, 0, 0},
        {"header ends inside the width", {0x00, 0x00, 0x81}, 0, 0},
        {"no pixel data", {0x00, 0x00, 0x08, 0x01}, 0, 0},
        {"integer of five bytes", {0x00, 0x00, 0x81, 0x80, 0x80, 0x80, 0x00, 0x01, 0xFF}, 0, 0},
        {"wider than supported", Concat({0x00, 0x00, 0x81, 0x80, 0x80, 0x00, 0x01}, 8), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap b = Marker();
        if (c.width == 0) {
            EXPECT_THROW(wbmp::Read(c.file, b), Error);
            EXPECT_TRUE(SameBitmap(b, Marker())) << "the bitmap is unchanged";
            continue;
        }
        wbmp::Read(c.file, b);
        EXPECT_EQ(b.width(), c.width);
        EXPECT_EQ(b.height(), c.height);
        EXPECT_EQ(b.bitsPerPixel(), 1);
        EXPECT_EQ(b.fillColor(), Marker().fillColor());
    }
}

TEST(WbmpReader, PixelsAndPalette) {
    // 10 x 2: the second byte of a row holds 2 pixels and 6 spare bits.
    const ByteVector file = {0x00, 0x00, 0x0A, 0x02, 0xB0, 0xFF, 0x01, 0x40};
    Bitmap b;
    wbmp::Read(file, b);
    ASSERT_EQ(b.bitsPerPixel(), 1);
    EXPECT_EQ(b.palette(), BlackWhitePalette());
    const char* rows[2] = {"1011000011", "0000000101"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_EQ(b.index(x, y), rows[y][x] - '0') << x << "," << y;
    EXPECT_EQ(b.row(0)[1], 0xC0) << "spare bits cleared";
}

TEST(WbmpReader, TruncatedFileKeepsTheRowsItHas) {
    // 16 x 4 with one and a half rows of data.
    struct Case {
        const char* what;
        Bitmap before;
        std::uint8_t data;
        const char* rows[4];  // W white, B black, per 8 pixels
    };
    Bitmap blackPicture(20, 6, 24);
    blackPicture.fill(kBlack);
    Bitmap invertedOneBit(16, 4, 1);  // index 0 white: must stay white, not turn black
    invertedOneBit.setPalette({kWhite, kBlack});
    invertedOneBit.fill(kWhite);
    const Case cases[] = {
        {"fresh bitmap: the rest is its white fill", Bitmap(), 0x00, {"BB", "BW", "WW", "WW"}},
        {"previous picture shows in the missing rows", blackPicture, 0xFF, {"WW", "WB", "BB", "BB"}},
        {"a 1-bit bitmap with another palette keeps its colours", invertedOneBit, 0x00, {"BB", "BW", "WW", "WW"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap b = c.before;
        wbmp::Read(ByteVector{0x00, 0x00, 0x10, 0x04, c.data, c.data, c.data}, b);
        ASSERT_EQ(b.width(), 16);
        ASSERT_EQ(b.height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(b.pixel(x, y), c.rows[y][x / 8] == 'W' ? kWhite : kBlack) << x << "," << y;
    }
}

// Black and white in a pattern that differs from row to row and byte to byte.
Bitmap BlackAndWhite(int width, int height) {
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) b.setPixel(x, y, (x * 7 + y * 3) % 5 < 2 ? kBlack : kWhite);
    return b;
}

TEST(WbmpReader, RoundTripsWithOurWriter) {
    // Widths around byte edges, beyond any fixed row buffer and beyond two-byte integers.
    for (int width : {1, 7, 8, 9, 200, 3000, 16384, 20000}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Bitmap picture = BlackAndWhite(width, 3);
        Bitmap b;
        wbmp::Read(wbmp::Write(picture), b);
        ASSERT_EQ(b.width(), width);
        ASSERT_EQ(b.height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) ASSERT_EQ(b.pixel(x, y), picture.pixel(x, y)) << x << "," << y;
    }
}

// ImageMagick's own decoding of its WBMP files. (Its writer is too slow on pictures
// of 16384 pixels or more for a test; our three-byte sizes are opened by it in the
// writer's tests.)
TEST(WbmpReader, FilesWrittenByImageMagick) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    TempDir dir;
    for (const auto& [width, height] : {std::pair{200, 10}, std::pair{13, 7}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        // A plain PBM as the source: 1 is black there.
        const Bitmap picture = BlackAndWhite(width, height);
        std::string pbm = "P1\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) pbm += picture.pixel(x, y) == kBlack ? '1' : '0';
            pbm += '\n';
        }
        test::WriteText(dir.file("in.pbm"), pbm);
        const std::string wbmpPath = dir.file("out.wbmp");
        ASSERT_EQ(test::RunCommand("convert " + Quote(dir.file("in.pbm")) + " " + Quote(wbmpPath)).status, 0);
        Bitmap b;
        wbmp::Read(ReadBytes(wbmpPath), b);
        ASSERT_EQ(b.width(), width);
        ASSERT_EQ(b.height(), height);
        const auto rgb = ImageMagickRgb(wbmpPath);
        ASSERT_TRUE(rgb);
        ExpectPixelsNear(b, *rgb, 0);
    }
}

// ---------------------------------------------------------------------------
// Icons

struct IconImage {
    ByteVector data;
    std::uint8_t dirWidth, dirHeight;  // what the directory claims
};

ByteVector IconFile(const std::vector<IconImage>& images) {
    ByteVector f;
    PutLE16(f, 0);
    PutLE16(f, 1);
    PutLE16(f, static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const IconImage& i : images) {
        f.push_back(i.dirWidth);
        f.push_back(i.dirHeight);
        f.push_back(0);
        f.push_back(0);
        PutLE16(f, 1);
        PutLE16(f, 0);
        PutLE32(f, static_cast<std::uint32_t>(i.data.size()));
        PutLE32(f, offset);
        offset += static_cast<std::uint32_t>(i.data.size());
    }
    for (const IconImage& i : images) f.insert(f.end(), i.data.begin(), i.data.end());
    return f;
}

// A BITMAPINFOHEADER image whose every pixel is `colour` (palette formats: entry 1 of
// a table whose other entries are black; 32 bits: with `alpha`) and whose mask marks
// the left half of each row transparent.
ByteVector SolidDib(int width, int height, int bpp, Color colour, std::uint8_t alpha = 0) {
    ByteVector f;
    PutLE32(f, 40);
    PutLE32(f, static_cast<std::uint32_t>(width));
    PutLE32(f, static_cast<std::uint32_t>(2 * height));
    PutLE16(f, 1);
    PutLE16(f, static_cast<unsigned>(bpp));
    for (int i = 0; i < 6; ++i) PutLE32(f, 0);
    if (bpp <= 8)
        for (int i = 0; i < (1 << bpp); ++i) PutLE32(f, i == 1 ? (GetB(colour) | GetG(colour) << 8 | GetR(colour) << 16) : 0);
    ByteVector pixel;
    switch (bpp) {
        case 1: pixel = {0xFF}; break;
        case 4: pixel = {0x11}; break;
        case 8: pixel = {0x01}; break;
        case 16: PutLE16(pixel, (GetR(colour) >> 3) << 10 | (GetG(colour) >> 3) << 5 | GetB(colour) >> 3); break;
        case 24: pixel = {std::uint8_t(GetB(colour)), std::uint8_t(GetG(colour)), std::uint8_t(GetR(colour))}; break;
        default: pixel = {std::uint8_t(GetB(colour)), std::uint8_t(GetG(colour)), std::uint8_t(GetR(colour)), alpha}; break;
    }
    const std::size_t stride = Bitmap::strideFor(width, bpp), maskStride = Bitmap::strideFor(width, 1);
    for (int y = 0; y < height; ++y) {
        ByteVector row;
        while (row.size() < stride) row.insert(row.end(), pixel.begin(), pixel.end());
        f.insert(f.end(), row.begin(), row.begin() + stride);
    }
    for (int y = 0; y < height; ++y) {
        ByteVector mask(maskStride, 0);
        for (int x = 0; x < width / 2; ++x) mask[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        f.insert(f.end(), mask.begin(), mask.end());
    }
    return f;
}

// Which colour each half of a one-image icon shows.
TEST(IconReader, DepthsMaskAndAlpha) {
    const Color red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
    struct Case {
        int bpp;
        Color colour;
        std::uint8_t alpha;
        Color left, right;
    };
    const Case cases[] = {
        {1, red, 0, kWhite, red},
        {4, red, 0, kWhite, red},
        {8, blue, 0, kWhite, blue},
        {16, red, 0, kWhite, red},
        {24, blue, 0, kWhite, blue},
        // All alphas 0: an icon of the days before alpha, drawn through its mask.
        {32, blue, 0, kWhite, blue},
        // Alpha present: blended onto white, the mask not used.
        {32, kBlack, 128, RGB(127, 127, 127), RGB(127, 127, 127)},
        {32, red, 255, red, red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + " bits, alpha " + std::to_string(c.alpha));
        Bitmap b = Marker();
        ico::Read(IconFile({{SolidDib(10, 3, c.bpp, c.colour, c.alpha), 10, 3}}), b);
        ASSERT_EQ(b.bitsPerPixel(), 24);
        ASSERT_EQ(b.width(), 10);
        ASSERT_EQ(b.height(), 3);
        EXPECT_EQ(b.fillColor(), Marker().fillColor());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x) ASSERT_EQ(b.pixel(x, y), x < 5 ? c.left : c.right) << x << "," << y;
    }
}

TEST(IconReader, LargestThenDeepestByTheImagesOwnHeaders) {
    const ByteVector file = IconFile({
        {SolidDib(16, 16, 32, RGB(255, 0, 0), 255), 16, 16},
        {SolidDib(32, 32, 4, RGB(0, 255, 0)), 32, 32},
        {SolidDib(32, 32, 8, RGB(0, 0, 255)), 32, 32},
        {SolidDib(32, 32, 1, RGB(255, 255, 0)), 32, 32},
        {SolidDib(8, 8, 24, RGB(0, 255, 255)), 255, 255},  // the directory exaggerates
        {SolidDib(40, 2, 24, RGB(255, 0, 255)), 40, 2},    // wide but small
    });
    Bitmap b;
    ico::Read(file, b);
    ASSERT_EQ(b.width(), 32);
    ASSERT_EQ(b.height(), 32);
    EXPECT_EQ(b.pixel(31, 0), RGB(0, 0, 255));
}

TEST(IconReader, DamagedFilesAreErrors) {
    const ByteVector good = IconFile({{SolidDib(4, 4, 8, kWhite), 4, 4}});
    const std::size_t image = 22;  // where the one image starts
    auto with = [&good](std::size_t at, ByteVector bytes) {
        ByteVector f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        return f;
    };
    auto cut = [&good](std::size_t size) { return ByteVector(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)); };
    const std::pair<const char*, ByteVector> cases[] = {
        {"shorter than the header", {0, 0, 1}},
        {"a bitmap file", with(0, {'B', 'M'})},
        {"type 3", with(2, {3})},
        {"no images", with(4, {0})},
        {"directory beyond the file", with(4, {0xFF, 0xFF})},
        {"image offset beyond the file", with(18, {0xFF, 0xFF, 0, 0})},
        {"header size 12", with(image, {12})},
        {"width 0", with(image + 4, {0})},
        {"height 1 (no row for the colour image)", with(image + 8, {1})},
        {"negative height", with(image + 8, {0xF8, 0xFF, 0xFF, 0xFF})},
        {"2 bits per pixel", with(image + 14, {2})},
        {"run-length compressed", with(image + 16, {1})},
        {"huge width", with(image + 4, {0, 0, 0, 0x40})},
        {"colour image cut short", cut(good.size() - 16 - 1)},
        {"mask cut short", cut(good.size() - 1)},
        {"damaged PNG image", with(image, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})},
    };
    for (const auto& [what, file] : cases) {
        SCOPED_TRACE(what);
        Bitmap b = Marker();
        EXPECT_THROW(ico::Read(file, b), Error);
        EXPECT_TRUE(SameBitmap(b, Marker())) << "the bitmap is unchanged";
    }
    Bitmap b;
    ASSERT_NO_THROW(ico::Read(good, b)) << "the unchanged fixture reads";
}

// Our writer's icon read back: the picture in the halftone palette, white where it had
// the bottom-left pixel's colour.
class IconRoundTrip : public testing::TestWithParam<int> {};

TEST_P(IconRoundTrip, TransparentAreasWhite) {
    const int bpp = GetParam();
    // 300 x 200: the directory says 256 (0) x 200; the image's header has the width.
    for (const auto& [width, height] : {std::pair{37, 21}, std::pair{300, 200}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        Bitmap picture = test::Gradient(width, height, 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if ((x < 6 && y > height - 5) || (x > 20 && x < 30 && y > 2 && y < 7)) picture.setPixel(x, y, RGB(255, 255, 0));
        picture.setBitsPerPixel(bpp);
        Bitmap b;
        ico::Read(ico::Write(picture), b);
        ASSERT_EQ(b.bitsPerPixel(), 24);
        ASSERT_EQ(b.width(), width);
        ASSERT_EQ(b.height(), height);
        const Color transparent = picture.pixel(0, height - 1);
        int opaque = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const Color c = picture.pixel(x, y);
                const Color expected =
                    c == transparent ? kWhite : HalftonePalette()[NearestPaletteIndex(HalftonePalette(), c)];
                opaque += c != transparent;
                ASSERT_EQ(b.pixel(x, y), expected) << x << "," << y;
            }
        EXPECT_GT(opaque, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, IconRoundTrip, testing::Values(1, 4, 8, 16, 24, 32),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "bits"; });

// ImageMagick's icons: its 1, 4 and 8-bit palette images, 32-bit images with and
// without real alpha, and a 256 x 256 image stored as PNG. Our pixels must be its own
// decoding of the image we choose, flattened on white (alpha rounding may differ by 1).
TEST(IconReader, IconsWrittenByImageMagick) {
    if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        const char* source;
        const char* options;
        int frame, size;
        bool png;
    };
    const Case cases[] = {
        {"-size 64x64 gradient:red-blue", "-define icon:auto-resize=16,32,48", 2, 48, false},
        {"-size 40x40 xc:none -fill red -draw 'circle 20,20 20,4'", "-define icon:auto-resize=32,48", 1, 48, false},
        {"-size 300x300 gradient:yellow-navy", "-define icon:auto-resize=32,256", 1, 256, true},
        {"-size 32x32 gradient:red-blue", "-colors 2", 0, 32, false},
        {"-size 32x32 gradient:red-blue", "-colors 16", 0, 32, false},
        {"-size 32x32 gradient:red-blue", "-colors 200", 0, 32, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.options);
        const std::string path = dir.file("im.ico");
        ASSERT_EQ(test::RunCommand(std::string("convert ") + c.source + " " + c.options + " " + Quote(path)).status, 0);
        const ByteVector file = ReadBytes(path);
        ASSERT_GE(file.size(), 22u + 16 * c.frame);
        const std::size_t offset = ReadLE32(file, 6 + 16 * c.frame + 12);
        ASSERT_EQ(file.size() > offset + 4 && file[offset + 1] == 'P' && file[offset + 2] == 'N', c.png)
            << "the chosen image is PNG-compressed or not, as this case means";
        Bitmap b;
        ico::Read(file, b);
        ASSERT_EQ(b.width(), c.size);
        ASSERT_EQ(b.height(), c.size);
        const auto rgb = ImageMagickRgb(path + "[" + std::to_string(c.frame) + "]");
        ASSERT_TRUE(rgb);
        ExpectPixelsNear(b, *rgb, 1);
    }
}

std::string CorpusFolder() { return std::string(PICTORIX_CORPUS_DIR) + "/ico/"; }

// Each corpus file gives the image ImageMagick shows as frame `frame`, or an error (-1).
TEST(IconReader, Corpus) {
    if (!std::filesystem::is_directory(CorpusFolder())) GTEST_SKIP() << "no corpus at " << CorpusFolder();
    const std::pair<const char*, int> cases[] = {
        {"black_and_white.ico", 0},  {"deerstalker.cur", 0},   {"hopper.ico", 0},
        {"hopper_256x256.ico", 0},   {"hopper_draw.ico", 0},   {"hopper_mask.ico", 0},
        {"hopper_unexpected.ico", 0}, {"mask_1.cur", 0},        {"mask_L.cur", 0},
        {"no_cursors.cur", -1},      {"pillow.ico", 0},        {"python.ico", 2},
    };
    for (const auto& [name, frame] : cases) {
        SCOPED_TRACE(name);
        const std::string path = CorpusFolder() + name;
        Bitmap b;
        if (frame < 0) {
            EXPECT_THROW(ico::Read(ReadBytes(path), b), Error);
            continue;
        }
        ico::Read(ReadBytes(path), b);
        if (!HaveImageMagick()) continue;
        const auto rgb = ImageMagickRgb(path + "[" + std::to_string(frame) + "]");
        ASSERT_TRUE(rgb);
        ExpectPixelsNear(b, *rgb, 1);
    }
}

// ---------------------------------------------------------------------------
// Hostile input

// Every cut of the file (for long files an even spread of cuts) and bytes overwritten
// at random: the reader returns or throws Error, and after an Error the bitmap is as it was.
void ExpectSafeOnDamage(void (*read)(ByteSpan, Bitmap&), const ByteVector& good, const std::string& name) {
    SCOPED_TRACE(name);
    auto attempt = [&](const ByteVector& file, const std::string& what) {
        Bitmap b = Marker();
        try {
            read(file, b);
        } catch (const Error&) {
            if (!SameBitmap(b, Marker())) ADD_FAILURE() << what << ": the bitmap changed on error";
        } catch (const std::exception& e) {
            ADD_FAILURE() << what << ": " << e.what();
        }
    };
    const std::size_t step = std::max<std::size_t>(1, good.size() / 500);
    for (std::size_t size = 0; size < good.size(); size += size < 512 ? 1 : step)
        attempt(ByteVector(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)), "cut at " + std::to_string(size));
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        ByteVector file = good;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int k = 0; k < changes; ++k) {
            // Headers are where damage matters most: half the changes fall in the first 64 bytes.
            const std::size_t span = k % 2 ? file.size() : std::min<std::size_t>(file.size(), 64);
            file[random() % span] = static_cast<std::uint8_t>(random());
        }
        attempt(file, "corruption round " + std::to_string(round));
    }
}

TEST(ReadersOnDamagedFiles, Icons) {
    ExpectSafeOnDamage(ico::Read, ico::Write(test::Gradient(20, 12)), "our icon");
    ExpectSafeOnDamage(ico::Read,
                       IconFile({{SolidDib(9, 5, 32, RGB(9, 8, 7), 200), 9, 5}, {SolidDib(7, 3, 1, kBlack), 7, 3},
                                 {SolidDib(9, 5, 16, kWhite), 9, 5}}),
                       "hand-made icon");
    if (!std::filesystem::is_directory(CorpusFolder())) GTEST_SKIP() << "no corpus at " << CorpusFolder();
    for (const auto& entry : std::filesystem::directory_iterator(CorpusFolder()))
        ExpectSafeOnDamage(ico::Read, ReadBytes(entry.path().string()), entry.path().filename().string());
}

TEST(ReadersOnDamagedFiles, Wbmp) {
    ExpectSafeOnDamage(wbmp::Read, wbmp::Write(test::Gradient(37, 23)), "small");
    ExpectSafeOnDamage(wbmp::Read, wbmp::Write(BlackAndWhite(16500, 2)), "three-byte width");
}

}  // namespace
}  // namespace pictorix
