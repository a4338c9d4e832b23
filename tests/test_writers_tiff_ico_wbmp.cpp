// Tests of the program's own TIFF, icon and WBMP writers.
//
// Byte layouts are checked on tiny pictures; every writer's output at every pixel
// format is also opened by ImageMagick (and the TIFFs by libtiff's tiffinfo), whose
// decoded pixels must be what the file is meant to hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/ico.h"
#include "pictureio/codecs/tiff.h"
#include "pictureio/codecs/wbmp.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::HaveCommand;
using test::Quote;
using test::RunCommand;
using test::Stdout;
using test::TempDir;
using test::WriteBytes;

ByteVector Slice(const ByteVector& bytes, std::size_t at, std::size_t n) {
    if (at + n > bytes.size()) return {};
    return ByteVector(bytes.begin() + at, bytes.begin() + at + n);
}

// "WxH" as ImageMagick's identify sees the file, or "" when it refuses it. `env`
// goes before the command (see LiftImageMagickLimits).
std::string IdentifySize(const std::string& path, const std::string& env = "") {
    const auto out = Stdout(env + "identify -format %wx%h " + Quote(path));
    return out ? std::string(out->begin(), out->end()) : "";
}

// ImageMagick refuses pictures wider or higher than its policy allows (16000 pixels
// on Debian); the wide cases run it with a policy file of their own in `dir`.
std::string LiftImageMagickLimits(const TempDir& dir) {
    test::WriteText(dir.file("policy.xml"),
                    "<policymap>\n"
                    "  <policy domain=\"resource\" name=\"width\" value=\"1MP\"/>\n"
                    "  <policy domain=\"resource\" name=\"height\" value=\"1MP\"/>\n"
                    "</policymap>\n");
    return "MAGICK_CONFIGURE_PATH=" + Quote(dir.path()) + " ";
}

Bitmap Filled(int width, int height, Color c) {
    Bitmap b(width, height, 24);
    b.fill(c);
    return b;
}

Bitmap AtDepth(const Bitmap& picture, int bpp) {
    Bitmap b = picture;
    b.setBitsPerPixel(bpp);
    return b;
}

// ---------------------------------------------------------------------------
// TIFF

struct DirEntry {
    unsigned tag, type;
    std::uint32_t count, value;
    bool operator==(const DirEntry&) const = default;
};

void PrintTo(const DirEntry& e, std::ostream* os) {
    *os << "{" << e.tag << ", " << e.type << ", " << e.count << ", " << e.value << "}";
}

constexpr unsigned kAscii = 2, kShort = 3, kLong = 4, kRational = 5;

// The directory the header points at; it must end the file.
std::vector<DirEntry> Directory(const ByteVector& file) {
    std::vector<DirEntry> entries;
    if (file.size() < 8) return entries;
    const std::size_t at = ReadLE32(file, 4);
    if (at + 2 > file.size()) return entries;
    const unsigned n = ReadLE16(file, at);
    EXPECT_EQ(at + 2 + 12 * n + 4, file.size()) << "the directory ends the file";
    if (at + 2 + 12 * n + 4 > file.size()) return entries;
    for (unsigned i = 0; i < n; ++i) {
        const std::size_t e = at + 2 + 12 * i;
        entries.push_back({ReadLE16(file, e), ReadLE16(file, e + 2), ReadLE32(file, e + 4), ReadLE32(file, e + 8)});
    }
    EXPECT_EQ(ReadLE32(file, at + 2 + 12 * n), 0u) << "next directory";
    return entries;
}

// ImageMagick's decoding of a TIFF we wrote must be the picture's first `width`
// columns. At 16 bits per sample the colour map values come out as stored
// (component * 256); 8-bit samples are scaled by 257, bilevel gives 0 or 65535.
void ExpectTiffPixels(const std::string& env, const std::string& path, const Bitmap& b, int width) {
    const auto rgb = Stdout(env + "convert " + Quote(path) + " -depth 16 -endian MSB rgb:-");
    ASSERT_TRUE(rgb) << "ImageMagick cannot decode it";
    ASSERT_EQ(rgb->size(), std::size_t(width) * std::size_t(b.height()) * 6);
    const unsigned scale = b.bitsPerPixel() == 4 || b.bitsPerPixel() == 8 ? 256 : 257;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const Color c = b.pixel(x, y);
            const unsigned expected[3] = {GetR(c) * scale, GetG(c) * scale, GetB(c) * scale};
            const std::uint8_t* p = rgb->data() + (std::size_t(y) * width + x) * 6;
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(unsigned(p[2 * k] << 8 | p[2 * k + 1]), expected[k]) << x << "," << y << " channel " << k;
        }
}

const ByteVector kHeaderStart = {'I', 'I', 42, 0};
const ByteVector kResolutions = {0x6D, 3, 0, 0, 10, 0, 0, 0, 0x6D, 3, 0, 0, 10, 0, 0, 0};  // 877/10 twice
const ByteVector kSoftware = {'O', 'm', 'b', 'r', 'e', 'l', 'a', 't', 'i', 'x'};

TEST(TiffWriter, RgbLayoutOfTwoByTwo) {
    Bitmap b(2, 2, 24);
    b.setPixel(0, 0, RGB(1, 2, 3));
    b.setPixel(1, 0, RGB(4, 5, 6));
    b.setPixel(0, 1, RGB(7, 8, 9));
    b.setPixel(1, 1, RGB(250, 251, 252));
    const ByteVector f = tiff::Write(b);

    ASSERT_EQ(f.size(), 238u);
    EXPECT_EQ(Slice(f, 0, 8), ByteVector({'I', 'I', 42, 0, 52, 0, 0, 0}));
    EXPECT_EQ(Slice(f, 8, 16), kResolutions);
    EXPECT_EQ(Slice(f, 24, 6), ByteVector({8, 0, 8, 0, 8, 0}));
    EXPECT_EQ(Slice(f, 30, 10), kSoftware);
    EXPECT_EQ(Slice(f, 40, 12), ByteVector({1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252}));
    const std::vector<DirEntry> expected = {
        {254, kLong, 1, 0},   {256, kShort, 1, 2},     {257, kShort, 1, 2},     {258, kShort, 3, 24},
        {259, kShort, 1, 1},  {262, kShort, 1, 2},     {273, kLong, 1, 40},     {277, kShort, 1, 3},
        {278, kLong, 1, 2},   {279, kLong, 1, 12},     {282, kRational, 1, 8},  {283, kRational, 1, 16},
        {284, kShort, 1, 1},  {296, kShort, 1, 2},     {305, kAscii, 10, 30},
    };
    EXPECT_EQ(Directory(f), expected);
}

TEST(TiffWriter, SixteenAndThirtyTwoBitsWriteTheTwentyFourBitFile) {
    const Bitmap picture = test::Gradient(7, 5);
    EXPECT_EQ(tiff::Write(AtDepth(picture, 32)), tiff::Write(picture));
    const Bitmap reduced = AtDepth(picture, 16);
    EXPECT_EQ(tiff::Write(reduced), tiff::Write(AtDepth(reduced, 24)));
}

TEST(TiffWriter, BilevelLayout) {
    // Width 10: two bytes per row, the last six bits of each row spare.
    Bitmap b(10, 3, 1);
    b.fill(kBlack);
    b.setPixel(0, 0, kWhite);
    b.setPixel(9, 0, kWhite);
    b.setPixel(8, 2, kWhite);
    const ByteVector f = tiff::Write(b);

    EXPECT_EQ(Slice(f, 0, 4), kHeaderStart);
    EXPECT_EQ(ReadLE32(f, 4), 8u + 6 + 26);
    EXPECT_EQ(Slice(f, 8, 6), ByteVector({0x80, 0x40, 0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(Slice(f, 14, 16), kResolutions);
    EXPECT_EQ(Slice(f, 30, 10), kSoftware);
    const std::vector<DirEntry> expected = {
        {254, kLong, 1, 0},      {256, kShort, 1, 10},    {257, kShort, 1, 3},     {258, kShort, 1, 1},
        {259, kShort, 1, 1},     {262, kShort, 1, 1},     {273, kLong, 1, 8},      {277, kShort, 1, 1},
        {278, kLong, 1, 3},      {279, kLong, 1, 6},      {282, kRational, 1, 14}, {283, kRational, 1, 22},
        {296, kShort, 1, 2},     {305, kAscii, 10, 30},
    };
    EXPECT_EQ(Directory(f), expected);
}

TEST(TiffWriter, BilevelBitsFollowThePaletteColours) {
    // The file has no palette and 0 is black: a white-on-black palette must not come
    // out as the negative.
    Bitmap standard(10, 2, 1);
    standard.fill(kBlack);
    standard.setPixel(3, 0, kWhite);
    standard.setPixel(9, 1, kWhite);
    Bitmap inverted = standard;
    inverted.setPalette({kWhite, kBlack});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x) inverted.setIndex(x, y, 1 - standard.index(x, y));
    EXPECT_EQ(tiff::Write(inverted), tiff::Write(standard));
}

TEST(TiffWriter, PaletteLayouts) {
    struct Case {
        int bpp, width, writtenWidth;
        std::size_t rowBytes, resolutionAt, softwareAt, pixelsAt;
    };
    const Case cases[] = {
        {8, 5, 5, 5, 1544, 1560, 1570},
        {4, 7, 4, 2, 104, 120, 130},  // cut to a multiple of 4
        {4, 8, 8, 4, 104, 120, 130},
        {4, 3, 3, 2, 104, 120, 130},  // cutting would leave no pixels: kept whole
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bpp " + std::to_string(c.bpp) + ", width " + std::to_string(c.width));
        const unsigned n = 1u << c.bpp;
        const int height = 2;
        Bitmap b(c.width, height, c.bpp);
        Palette palette(n - 3);  // shorter than the format's: the rest is written black
        for (unsigned i = 0; i < palette.size(); ++i) palette[i] = RGB(i * 3, 255 - i, i);
        palette[1] = RGB(255, 128, 0);
        b.setPalette(palette);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < c.width; ++x) b.setIndex(x, y, (x + 5 * y + 1) % int(n));
        const ByteVector f = tiff::Write(b);

        // Colour map: reds, greens, blues, each component * 256.
        ASSERT_GE(f.size(), 8 + 6 * n);
        EXPECT_EQ(ReadLE16(f, 8 + 2), 65280u) << "red 255";
        EXPECT_EQ(ReadLE16(f, 8 + 2 * n + 2), 32768u) << "green 128";
        EXPECT_EQ(ReadLE16(f, 8 + 4 * n + 2), 0u) << "blue 0";
        EXPECT_EQ(ReadLE16(f, 8 + 2 * 2), 6u * 256) << "red of entry 2";
        EXPECT_EQ(ReadLE16(f, 8 + 2 * (n - 1)), 0u) << "entry beyond the palette";
        EXPECT_EQ(ReadLE16(f, 8 + 2 * n + 2 * (n - 1)), 0u) << "entry beyond the palette";

        EXPECT_EQ(Slice(f, c.resolutionAt, 16), kResolutions);
        EXPECT_EQ(Slice(f, c.softwareAt, 10), kSoftware);
        for (int y = 0; y < height; ++y) {
            ByteVector row(b.row(y), b.row(y) + c.rowBytes);
            if (c.bpp == 4 && c.writtenWidth % 2) row.back() &= 0xF0;
            EXPECT_EQ(Slice(f, c.pixelsAt + y * c.rowBytes, c.rowBytes), row) << "row " << y;
        }
        const std::uint32_t dataSize = static_cast<std::uint32_t>(c.rowBytes * height);
        const std::vector<DirEntry> expected = {
            {254, kLong, 1, 0},
            {256, kShort, 1, std::uint32_t(c.writtenWidth)},
            {257, kShort, 1, std::uint32_t(height)},
            {258, kShort, 1, std::uint32_t(c.bpp)},
            {259, kShort, 1, 1},
            {262, kShort, 1, 3},
            {273, kLong, 1, std::uint32_t(c.pixelsAt)},
            {277, kShort, 1, 1},
            {278, kLong, 1, std::uint32_t(height)},
            {279, kLong, 1, dataSize},
            {282, kRational, 1, std::uint32_t(c.resolutionAt)},
            {283, kRational, 1, std::uint32_t(c.resolutionAt + 8)},
            {296, kShort, 1, 2},
            {305, kAscii, 10, std::uint32_t(c.softwareAt)},
            {320, kShort, 3 * n, 8},
        };
        EXPECT_EQ(Directory(f), expected);
        EXPECT_EQ(ReadLE32(f, 4), c.pixelsAt + dataSize);
    }
}

TEST(TiffWriter, SizesBeyondShortAreLong) {
    const bool tools = HaveCommand("convert") && HaveCommand("identify") && HaveCommand("tiffinfo");
    TempDir dir;
    const std::string env = LiftImageMagickLimits(dir);
    struct Case {
        int width, height, bpp;
    };
    for (const Case c : {Case{65535, 1, 1}, Case{70001, 1, 1}, Case{70000, 2, 8}, Case{1, 65536, 24}}) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        SCOPED_TRACE(size + ", " + std::to_string(c.bpp) + " bits");
        const Bitmap b = AtDepth(test::Gradient(c.width, c.height), c.bpp);
        const ByteVector f = tiff::Write(b);
        const std::vector<DirEntry> entries = Directory(f);
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(entries[1], (DirEntry{256, c.width > 65535 ? kLong : kShort, 1, std::uint32_t(c.width)}));
        EXPECT_EQ(entries[2], (DirEntry{257, c.height > 65535 ? kLong : kShort, 1, std::uint32_t(c.height)}));
        if (!tools) continue;
        const std::string path = dir.file("big.tif");
        WriteBytes(path, f);
        EXPECT_EQ(IdentifySize(path, env), size);
        EXPECT_EQ(RunCommand("tiffinfo -D " + Quote(path) + " >/dev/null").status, 0);
        ExpectTiffPixels(env, path, b, c.width);
    }
    if (!tools) GTEST_SKIP() << "ImageMagick or tiffinfo is not installed: files not opened";
}

// ---------------------------------------------------------------------------
// Icon

// Our own reading of a written icon: palette index and mask bit of a pixel.
struct IconPixel {
    int index;
    bool transparent;
};

IconPixel ReadIconPixel(const ByteVector& f, int width, int height, int x, int y) {
    const std::size_t colourStride = (std::size_t(width) + 3) / 4 * 4;
    const std::size_t maskStride = (std::size_t(width) + 31) / 32 * 4;
    const std::size_t colourAt = 22 + 40 + 1024;
    const std::size_t maskAt = colourAt + colourStride * height;
    const int row = height - 1 - y;  // bottom row first
    return {f[colourAt + row * colourStride + x],
            ((f[maskAt + row * maskStride + x / 8] >> (7 - x % 8)) & 1) != 0};
}

int HalftoneIndex(Color c) { return NearestPaletteIndex(HalftonePalette(), c); }

TEST(IconWriter, Layout) {
    Bitmap b = Filled(5, 3, kWhite);
    b.setPixel(1, 0, RGB(255, 0, 0));
    b.setPixel(4, 1, kBlack);
    b.setPixel(2, 2, RGB(0, 0, 255));
    const ByteVector f = ico::Write(b);

    // Colour rows of 8 bytes and mask rows of 4, three of each.
    const std::uint32_t dataSize = 40 + 1024 + 3 * 8 + 3 * 4;
    ASSERT_EQ(f.size(), 22 + dataSize);
    EXPECT_EQ(Slice(f, 0, 14), ByteVector({0, 0, 1, 0, 1, 0, 5, 3, 8, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadLE32(f, 14), dataSize);
    EXPECT_EQ(ReadLE32(f, 18), 22u);
    const std::uint32_t info[] = {40, 5, 6};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadLE32(f, 22 + 4 * i), info[i]);
    EXPECT_EQ(ReadLE16(f, 34), 1u) << "planes";
    EXPECT_EQ(ReadLE16(f, 36), 8u) << "bits per pixel";
    EXPECT_EQ(ReadLE32(f, 38), 0u) << "compression";
    EXPECT_EQ(ReadLE32(f, 42), 24u) << "image size";
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadLE32(f, 46 + 4 * i), 0u);
    for (int i = 0; i < 256; ++i) {
        const Color c = HalftonePalette()[i];
        ASSERT_EQ(Slice(f, 62 + 4 * i, 4), ByteVector({std::uint8_t(GetB(c)), std::uint8_t(GetG(c)),
                                                       std::uint8_t(GetR(c)), 0}))
            << "colour table entry " << i;
    }
    // Bottom row first; pure white (the bottom-left colour) is transparent and black.
    const int black = HalftoneIndex(kBlack), blue = HalftoneIndex(RGB(0, 0, 255)), red = HalftoneIndex(RGB(255, 0, 0));
    const std::size_t colourAt = 22 + 40 + 1024, maskAt = colourAt + 24;
    EXPECT_EQ(Slice(f, colourAt, 8), ByteVector({std::uint8_t(black), std::uint8_t(black), std::uint8_t(blue),
                                                 std::uint8_t(black), std::uint8_t(black), 0, 0, 0}));
    EXPECT_EQ(Slice(f, colourAt + 16, 8), ByteVector({std::uint8_t(black), std::uint8_t(red), std::uint8_t(black),
                                                      std::uint8_t(black), std::uint8_t(black), 0, 0, 0}));
    EXPECT_EQ(Slice(f, maskAt, 12), ByteVector({0xD8, 0, 0, 0, 0xF0, 0, 0, 0, 0xB8, 0, 0, 0}));
}

TEST(IconWriter, TransparentWhereTheBottomLeftColourIs) {
    const Color standBy = RGB(250, 249, 248);
    const Color colours[] = {kWhite, kBlack, standBy, RGB(10, 200, 30), RGB(128, 128, 128)};
    for (const Color t : colours) {
        SCOPED_TRACE("bottom-left colour " + std::to_string(t));
        Bitmap b(7, 2, 24);
        for (int x = 0; x < 5; ++x) b.setPixel(x, 0, colours[x]);
        b.setPixel(5, 0, t);
        b.setPixel(6, 0, RGB(1, 2, 3));
        for (int x = 0; x < 7; ++x) b.setPixel(x, 1, x % 2 ? t : colours[x % 5]);
        b.setPixel(0, 1, t);
        const ByteVector f = ico::Write(b);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 7; ++x) {
                const Color c = b.pixel(x, y);
                const IconPixel p = ReadIconPixel(f, 7, 2, x, y);
                EXPECT_EQ(p.transparent, c == t) << x << "," << y;
                // Other pixels keep their colour, the black and the near-white ones too.
                EXPECT_EQ(p.index, HalftoneIndex(c == t ? kBlack : c)) << x << "," << y;
            }
    }
}

TEST(IconWriter, SizeBytes) {
    const bool tools = HaveCommand("identify");
    TempDir dir;
    struct Case {
        int width, height;
        std::uint8_t widthByte, heightByte;
    };
    // 256 and more are 0, the format's convention; the header holds the real size.
    for (const Case c : {Case{300, 200, 0, 200}, Case{255, 256, 255, 0}, Case{256, 1, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const ByteVector f = ico::Write(test::Gradient(c.width, c.height));
        EXPECT_EQ(f[6], c.widthByte);
        EXPECT_EQ(f[7], c.heightByte);
        EXPECT_EQ(ReadLE32(f, 26), std::uint32_t(c.width));
        EXPECT_EQ(ReadLE32(f, 30), std::uint32_t(2 * c.height));
        if (!tools) continue;
        WriteBytes(dir.file("big.ico"), f);
        EXPECT_NE(IdentifySize(dir.file("big.ico")), "") << "identify refuses it";
    }
}

// ---------------------------------------------------------------------------
// WBMP

TEST(WbmpWriter, MultiByteIntegers) {
    const std::pair<std::uint32_t, ByteVector> cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {200, {0x81, 0x48}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {20000, {0x81, 0x9C, 0x20}},
        {2097152, {0x81, 0x80, 0x80, 0x00}},
    };
    for (const auto& [n, bytes] : cases) {
        ByteVector out;
        wbmp::PutMultiByteInteger(out, n);
        EXPECT_EQ(out, bytes) << n;
    }
    const ByteVector f = wbmp::Write(Filled(200, 10, kWhite));
    EXPECT_EQ(Slice(f, 0, 5), ByteVector({0x00, 0x00, 0x81, 0x48, 0x0A}));
    EXPECT_EQ(f.size(), 5u + 25 * 10);
}

// L = red + green + blue decides the dot pattern; each band is tried at both ends.
Color Level(int level) { return RGB((level + 2) / 3, (level + 1) / 3, level / 3); }

TEST(WbmpWriter, GreyLevelPatterns) {
    using Rule = bool (*)(int x, int y);
    const Rule always = [](int, int) { return true; };
    const Rule oneBlackInNine = [](int x, int y) { return !(x % 3 == 0 && y % 3 == 1); };
    const Rule oneBlackInFour = [](int x, int y) { return !(x % 2 == 0 && y % 2 == 0); };
    const Rule chequerboard = [](int x, int y) { return (x + y) % 2 == 1; };
    const Rule oneWhiteInNine = [](int x, int y) { return x % 3 == 1 && y % 3 == 2; };
    const Rule oneWhiteInSixteen = [](int x, int y) { return x % 4 == 0 && y % 4 == 0; };
    const Rule oneWhiteInTwentyFive = [](int x, int y) { return x % 5 == 1 && y % 5 == 3; };
    const Rule never = [](int, int) { return false; };
    const std::pair<int, Rule> cases[] = {
        {765, always},         {661, always},
        {660, oneBlackInNine}, {586, oneBlackInNine},
        {585, oneBlackInFour}, {481, oneBlackInFour},
        {480, chequerboard},   {384, chequerboard},   {376, chequerboard},
        {375, oneWhiteInNine}, {271, oneWhiteInNine},
        {270, oneWhiteInSixteen}, {181, oneWhiteInSixteen},
        {180, oneWhiteInTwentyFive}, {61, oneWhiteInTwentyFive},
        {60, never},           {0, never},
    };
    const int size = 30;  // four bytes a row, the last two bits spare
    for (const auto& [level, white] : cases) {
        SCOPED_TRACE("L = " + std::to_string(level));
        const ByteVector f = wbmp::Write(Filled(size, size, Level(level)));
        ASSERT_EQ(f.size(), 4u + 4 * size);
        for (int y = 0; y < size; ++y) {
            const std::uint8_t* row = f.data() + 4 + 4 * y;
            EXPECT_EQ(row[3] & 0x03, 0) << "spare bits of row " << y;
            for (int x = 0; x < size; ++x)
                ASSERT_EQ(((row[x / 8] >> (7 - x % 8)) & 1) != 0, white(x, y)) << x << "," << y;
        }
    }
    // Mid-grey in bytes: a chequerboard starting black.
    EXPECT_EQ(Slice(wbmp::Write(Filled(16, 2, RGB(128, 128, 128))), 4, 4), ByteVector({0x55, 0x55, 0xAA, 0xAA}));
}

TEST(WbmpWriter, RowsWiderThanAnyFixedBuffer) {
    const Bitmap b = Filled(20000, 3, RGB(128, 128, 128));
    const ByteVector f = wbmp::Write(b);
    EXPECT_EQ(Slice(f, 0, 6), ByteVector({0x00, 0x00, 0x81, 0x9C, 0x20, 0x03}));
    ASSERT_EQ(f.size(), 6u + 2500 * 3);
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed: file not opened";
    TempDir dir;
    const std::string env = LiftImageMagickLimits(dir);
    WriteBytes(dir.file("wide.wbmp"), f);
    EXPECT_EQ(IdentifySize(dir.file("wide.wbmp"), env), "20000x3");
    const auto grey = Stdout(env + "convert " + Quote(dir.file("wide.wbmp")) + " -depth 8 gray:-");
    ASSERT_TRUE(grey);
    ASSERT_EQ(grey->size(), 60000u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 20000; ++x)
            ASSERT_EQ((*grey)[y * 20000 + x], (x + y) % 2 ? 255 : 0) << x << "," << y;
}

TEST(Writers, EmptyBitmapIsAnError) {
    EXPECT_THROW(tiff::Write(Bitmap()), Error);
    EXPECT_THROW(ico::Write(Bitmap()), Error);
    EXPECT_THROW(wbmp::Write(Bitmap()), Error);
}

// ---------------------------------------------------------------------------
// Every writer at every pixel format, opened by ImageMagick (and tiffinfo)

class IndependentReaders : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HaveCommand("convert") || !HaveCommand("identify")) GTEST_SKIP() << "ImageMagick is not installed";
    }
    // 13 wide: rows end inside a byte for every format.
    Bitmap Picture() const { return AtDepth(test::Gradient(13, 7, 5), GetParam()); }
    TempDir dir_;
};

TEST_P(IndependentReaders, Tiff) {
    if (!HaveCommand("tiffinfo")) GTEST_SKIP() << "tiffinfo is not installed";
    const int bpp = GetParam();
    const Bitmap b = Picture();
    const std::string path = dir_.file("out.tif");
    WriteBytes(path, tiff::Write(b));
    const int width = bpp == 4 ? 12 : 13;
    EXPECT_EQ(IdentifySize(path), std::to_string(width) + "x7");
    EXPECT_EQ(RunCommand("tiffinfo -D " + Quote(path) + " >/dev/null").status, 0);
    ExpectTiffPixels("", path, b, width);
}

TEST_P(IndependentReaders, Icon) {
    const Bitmap b = Picture();
    const std::string path = dir_.file("out.ico");
    WriteBytes(path, ico::Write(b));
    EXPECT_EQ(IdentifySize(path), "13x7");
    const auto rgba = Stdout("convert " + Quote(path) + " -depth 8 rgba:-");
    ASSERT_TRUE(rgba);
    ASSERT_EQ(rgba->size(), 13u * 7 * 4);
    const Color t = b.pixel(0, 6);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const Color c = b.pixel(x, y);
            const std::uint8_t* p = rgba->data() + (std::size_t(y) * 13 + x) * 4;
            if (c == t) {
                ASSERT_EQ(p[3], 0) << x << "," << y << " is transparent";
                continue;
            }
            const Color e = HalftonePalette()[HalftoneIndex(c)];
            ASSERT_EQ(ByteVector(p, p + 4), ByteVector({std::uint8_t(GetR(e)), std::uint8_t(GetG(e)),
                                                        std::uint8_t(GetB(e)), 255}))
                << x << "," << y;
        }
}

TEST_P(IndependentReaders, Wbmp) {
    const Bitmap b = Picture();
    const ByteVector f = wbmp::Write(b);
    // Palette and 16-bit pixels are judged by the colours they show.
    EXPECT_EQ(f, wbmp::Write(AtDepth(b, 24)));
    const std::string path = dir_.file("out.wbmp");
    WriteBytes(path, f);
    EXPECT_EQ(IdentifySize(path), "13x7");
    const auto grey = Stdout("convert " + Quote(path) + " -depth 8 gray:-");
    ASSERT_TRUE(grey);
    ASSERT_EQ(grey->size(), 13u * 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const bool white = (f[4 + 2 * y + x / 8] >> (7 - x % 8)) & 1;
            ASSERT_EQ((*grey)[y * 13 + x], white ? 255 : 0) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, IndependentReaders, testing::Values(1, 4, 8, 16, 24, 32),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "bits";
                         });

}  // namespace
}  // namespace pictorix
