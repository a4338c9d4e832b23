// BMP reader and writer: round trips of every pixel format, hand-built fixtures for
// the header variants, RLE escapes and bit fields, damaged files, and the bmpsuite
// corpus compared against ImageMagick as an independent decoder.
#include "pictureio/codecs/bmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/error.h"
#include "reader_test_util.h"

namespace pictorix {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Helpers

// The fields of a BMP file that the fixtures vary; everything else is derived.
struct Fixture {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> masks;  // inside a 52+ byte header, else after the header
    std::vector<Color> palette;        // written as triples for a 12-byte header
    ByteVector pixels;
    std::optional<std::uint32_t> offBits;
    const char* signature = "BM";
};

ByteVector Build(const Fixture& f) {
    ByteVector info;
    if (f.headerSize == 12) {
        PutLE32(info, 12);
        PutLE16(info, static_cast<unsigned>(f.width));
        PutLE16(info, static_cast<unsigned>(f.height));
        PutLE16(info, f.planes);
        PutLE16(info, f.bitCount);
    } else {
        PutLE32(info, f.headerSize);
        PutLE32(info, static_cast<std::uint32_t>(f.width));
        PutLE32(info, static_cast<std::uint32_t>(f.height));
        PutLE16(info, f.planes);
        PutLE16(info, f.bitCount);
        if (f.headerSize >= 40) {
            PutLE32(info, f.compression);
            PutLE32(info, static_cast<std::uint32_t>(f.pixels.size()));
            PutLE32(info, 2835);
            PutLE32(info, 2835);
            PutLE32(info, f.clrUsed);
            PutLE32(info, 0);
        }
        for (std::size_t i = 0; f.headerSize >= 52 && i < f.masks.size() && info.size() < f.headerSize; ++i)
            PutLE32(info, f.masks[i]);
        info.resize(f.headerSize, 0);
        if (f.headerSize == 40)
            for (std::uint32_t m : f.masks) PutLE32(info, m);
    }
    for (Color c : f.palette) {
        info.push_back(static_cast<std::uint8_t>(GetB(c)));
        info.push_back(static_cast<std::uint8_t>(GetG(c)));
        info.push_back(static_cast<std::uint8_t>(GetR(c)));
        if (f.headerSize != 12) info.push_back(0);
    }
    const std::uint32_t offBits = f.offBits ? *f.offBits : static_cast<std::uint32_t>(14 + info.size());
    ByteVector file;
    file.push_back(static_cast<std::uint8_t>(f.signature[0]));
    file.push_back(static_cast<std::uint8_t>(f.signature[1]));
    PutLE32(file, static_cast<std::uint32_t>(14 + info.size() + f.pixels.size()));
    PutLE32(file, 0);
    PutLE32(file, offBits);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), f.pixels.begin(), f.pixels.end());
    return file;
}

Bitmap ReadBytes(const ByteVector& file) {
    Bitmap b;
    bmp::Read(file, b);
    return b;
}

// The message of the Error that reading throws, or "" when reading succeeds.
std::string ReadError(const ByteVector& file) {
    Bitmap b;
    try {
        bmp::Read(file, b);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Pixel colours as a grid of 0xRRGGBB-free Color values, top row first.
std::vector<std::vector<Color>> Colors(const Bitmap& b) {
    std::vector<std::vector<Color>> rows(b.height(), std::vector<Color>(b.width()));
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) rows[y][x] = b.pixel(x, y);
    return rows;
}

std::vector<std::vector<int>> Indices(const Bitmap& b) {
    std::vector<std::vector<int>> rows(b.height(), std::vector<int>(b.width()));
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) rows[y][x] = b.index(x, y);
    return rows;
}

Palette Ramp(int n) {
    Palette p;
    for (int i = 0; i < n; ++i) p.push_back(RGB(i * 7 + 3, 255 - i, (i * 37) & 0xFF));
    return p;
}

bool HaveImageMagick() {
    static const bool have = std::system("command -v convert >/dev/null 2>&1") == 0;
    return have;
}

// ImageMagick's decoding of a file as 8-bit R,G,B triples, top row first; nullopt when
// it cannot decode the file.
std::optional<ByteVector> ImageMagickRgb(const fs::path& file) {
    return test::Stdout("convert '" + file.string() + "' -depth 8 rgb:-");
}

// Compares every pixel with ImageMagick's decoding; returns a description of the
// first difference beyond `tolerance`, or "" when all agree.
std::string CompareWithImageMagick(const fs::path& file, const Bitmap& b, int tolerance) {
    const auto rgb = ImageMagickRgb(file);
    if (!rgb) return "ImageMagick could not decode it";
    if (rgb->size() != std::size_t(b.width()) * std::size_t(b.height()) * 3)
        return "ImageMagick gives " + std::to_string(rgb->size()) + " bytes for " + std::to_string(b.width()) +
               " x " + std::to_string(b.height());
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const std::uint8_t* p = rgb->data() + (std::size_t(y) * b.width() + x) * 3;
            const Color c = b.pixel(x, y);
            const int d = std::max({std::abs(int(GetR(c)) - p[0]), std::abs(int(GetG(c)) - p[1]),
                                    std::abs(int(GetB(c)) - p[2])});
            if (d > tolerance) {
                char text[160];
                std::snprintf(text, sizeof text, "pixel %d,%d: ours %u,%u,%u, ImageMagick %u,%u,%u", x, y,
                              GetR(c), GetG(c), GetB(c), p[0], p[1], p[2]);
                return text;
            }
        }
    return "";
}

class TempFile {
public:
    explicit TempFile(const ByteVector& bytes) {
        path_ = fs::temp_directory_path() /
                ("pictorix_test_bmp_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++) + ".bmp");
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

// ---------------------------------------------------------------------------
// Round trips

struct RoundTripCase {
    int bpp;
    int width;
};

class BmpRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// A bitmap with known, varied pixels (and a full, distinct palette for palette formats).
Bitmap Sample(int bpp, int width, int height) {
    Bitmap b(width, height, bpp);
    if (bpp <= 8) {
        const int n = 1 << bpp;
        b.setPalette(Ramp(n));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) b.setIndex(x, y, (x * 3 + y * 5 + 1) % n);
    } else {
        const int bytes = bpp / 8;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < bytes; ++k)
                    b.row(y)[x * bytes + k] = static_cast<std::uint8_t>(x * 41 + y * 97 + k * 29 + 5);
        if (bpp == 32)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) b.row(y)[x * 4 + 3] = 0;
    }
    return b;
}

TEST_P(BmpRoundTrip, KeepsFormatPaletteAndPixels) {
    const auto [bpp, width] = GetParam();
    const int height = 3;
    const Bitmap original = Sample(bpp, width, height);
    const ByteVector file = bmp::Write(original);

    // The headers as any decoder expects them.
    const std::size_t paletteBytes = bpp <= 8 ? 4u << bpp : 0;
    const std::size_t maskBytes = bpp == 16 ? 12 : 0;
    const std::size_t offBits = 14 + 40 + maskBytes + paletteBytes;
    ASSERT_EQ(file.size(), offBits + Bitmap::strideFor(width, bpp) * height);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(ReadLE32(file, 2), file.size());
    EXPECT_EQ(ReadLE32(file, 10), offBits);
    EXPECT_EQ(ReadLE32(file, 14), 40u);
    EXPECT_EQ(static_cast<std::int32_t>(ReadLE32(file, 18)), width);
    EXPECT_EQ(static_cast<std::int32_t>(ReadLE32(file, 22)), height);  // bottom-up
    EXPECT_EQ(ReadLE16(file, 26), 1);
    EXPECT_EQ(ReadLE16(file, 28), bpp);
    EXPECT_EQ(ReadLE32(file, 30), bpp == 16 ? 3u : 0u);
    EXPECT_EQ(ReadLE32(file, 46), 0u);  // colours used: the whole palette
    if (bpp == 16) {
        EXPECT_EQ(ReadLE32(file, 54), 0xF800u);
        EXPECT_EQ(ReadLE32(file, 58), 0x07E0u);
        EXPECT_EQ(ReadLE32(file, 62), 0x001Fu);
    }

    const Bitmap back = ReadBytes(file);
    ASSERT_EQ(back.width(), width);
    ASSERT_EQ(back.height(), height);
    ASSERT_EQ(back.bitsPerPixel(), bpp);
    if (bpp <= 8) {
        EXPECT_EQ(back.palette(), original.palette());
        EXPECT_EQ(Indices(back), Indices(original));
    } else {
        const std::size_t rowBytes = std::size_t(width) * bpp / 8;
        for (int y = 0; y < height; ++y)
            EXPECT_TRUE(std::equal(back.row(y), back.row(y) + rowBytes, original.row(y))) << "row " << y;
    }
    EXPECT_EQ(Colors(back), Colors(original));

    // An independent decoder sees the same colours.
    if (HaveImageMagick()) {
        TempFile temp(file);
        EXPECT_EQ(CompareWithImageMagick(temp.path(), original, 0), "");
    }
}

std::vector<RoundTripCase> RoundTripCases() {
    std::vector<RoundTripCase> cases;
    for (int bpp : {1, 4, 8, 16, 24, 32})
        for (int width : {1, 3, 5, 7, 13}) cases.push_back({bpp, width});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, BmpRoundTrip, ::testing::ValuesIn(RoundTripCases()),
                         [](const auto& info) {
                             return std::to_string(info.param.bpp) + "bpp_width" + std::to_string(info.param.width);
                         });

TEST(BmpWrite, PadsShortPaletteWithBlack) {
    Bitmap b(3, 2, 8);
    b.setPalette({RGB(10, 20, 30), RGB(40, 50, 60), RGB(70, 80, 90)});
    b.setIndex(0, 0, 2);
    b.setIndex(1, 0, 5);  // beyond the palette: black
    const ByteVector file = bmp::Write(b);
    EXPECT_EQ(ReadLE32(file, 10), 14u + 40u + 1024u);
    EXPECT_EQ(ReadLE32(file, 54 + 8), 0x0046505Au);  // entry 2 as blue, green, red, 0
    const Bitmap back = ReadBytes(file);
    ASSERT_EQ(back.palette().size(), 256u);
    EXPECT_EQ(back.palette()[2], RGB(70, 80, 90));
    for (std::size_t i = 3; i < 256; ++i) EXPECT_EQ(back.palette()[i], kBlack) << i;
    EXPECT_EQ(back.index(1, 0), 5);
    EXPECT_EQ(back.pixel(1, 0), kBlack);
    EXPECT_EQ(back.pixel(0, 0), RGB(70, 80, 90));
}

TEST(BmpWrite, ZeroesPaddingUnusedBitsAndUnusedByte) {
    Bitmap b32(1, 1, 32);
    b32.row(0)[0] = 1;
    b32.row(0)[1] = 2;
    b32.row(0)[2] = 3;
    b32.row(0)[3] = 0xAB;
    const ByteVector f32 = bmp::Write(b32);
    EXPECT_EQ(ByteVector(f32.end() - 4, f32.end()), (ByteVector{1, 2, 3, 0}));

    Bitmap b1(3, 1, 1);
    b1.row(0)[0] = 0xFF;  // pixels 3..7 of the byte are not part of the picture
    const ByteVector f1 = bmp::Write(b1);
    EXPECT_EQ(ByteVector(f1.end() - 4, f1.end()), (ByteVector{0xE0, 0, 0, 0}));

    Bitmap b24(1, 1, 24);
    b24.row(0)[3] = 0x77;  // row padding
    const ByteVector f24 = bmp::Write(b24);
    EXPECT_EQ(f24.back(), 0);
}

TEST(BmpWrite, RefusesEmptyBitmap) {
    try {
        bmp::Write(Bitmap());
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "BMP: the bitmap is empty");
    }
}

// ---------------------------------------------------------------------------
// Reading: header variants and pixel layouts

TEST(BmpRead, BottomUpAndTopDownRows) {
    // 2 x 2, 24 bits: rows of 6 pixel bytes + 2 padding.
    const ByteVector first{1, 2, 3, 4, 5, 6, 0, 0};   // stored first
    const ByteVector second{7, 8, 9, 10, 11, 12, 0, 0};
    Fixture f;
    f.width = 2;
    f.height = 2;
    f.pixels = first;
    f.pixels.insert(f.pixels.end(), second.begin(), second.end());

    const Bitmap up = ReadBytes(Build(f));
    EXPECT_EQ(up.pixel(0, 1), RGB(3, 2, 1));  // first stored row is the bottom
    EXPECT_EQ(up.pixel(1, 0), RGB(12, 11, 10));

    f.height = -2;
    const Bitmap down = ReadBytes(Build(f));
    ASSERT_EQ(down.height(), 2);
    EXPECT_EQ(down.pixel(0, 0), RGB(3, 2, 1));  // first stored row is the top
    EXPECT_EQ(down.pixel(1, 1), RGB(12, 11, 10));
}

TEST(BmpRead, Rle8Escapes) {
    // 6 x 4. Rows from the bottom:
    //   0: run of three 1s, literal 2 3 4 (padded), end of line
    //   1: run of two 5s, delta right 1 and up 1 (to x 3 of row 2)
    //   2: run of ten 6s clipped at the row end, end of line
    //   3: literal of seven pixels clipped after six, end of bitmap
    Fixture f;
    f.width = 6;
    f.height = 4;
    f.bitCount = 8;
    f.compression = 1;
    f.palette = Ramp(10);
    f.pixels = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,           // row 0
                2, 5, 0, 2, 1, 1,                       // row 1, delta
                10, 6, 0, 0,                            // row 2
                0, 7, 9, 8, 7, 6, 5, 4, 3, 0, 0, 1};    // row 3
    const Bitmap b = ReadBytes(Build(f));
    ASSERT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.palette(), Ramp(10));
    const std::vector<std::vector<int>> expected{
        {9, 8, 7, 6, 5, 4},  // top: row 3
        {0, 0, 0, 6, 6, 6},  // row 2: left of the delta target not set
        {5, 5, 0, 0, 0, 0},  // row 1: right of the delta start not set
        {1, 1, 1, 2, 3, 4},  // bottom: row 0
    };
    EXPECT_EQ(Indices(b), expected);
}

TEST(BmpRead, Rle4Escapes) {
    // 5 x 3. Rows from the bottom:
    //   0: run of five alternating 1,2; end of line
    //   1: literal 3 4 5 (two bytes), run of four alternating 6,7 clipped after two; end of line
    //   2: literal of five nibbles 8 9 A B C (three bytes + pad), end of bitmap
    Fixture f;
    f.width = 5;
    f.height = 3;
    f.bitCount = 4;
    f.compression = 2;
    f.palette = Ramp(16);
    f.pixels = {5, 0x12, 0, 0,
                0, 3, 0x34, 0x50, 4, 0x67, 0, 0,
                0, 5, 0x89, 0xAB, 0xC0, 0, 0, 1};
    const Bitmap b = ReadBytes(Build(f));
    ASSERT_EQ(b.bitsPerPixel(), 4);
    const std::vector<std::vector<int>> expected{
        {8, 9, 10, 11, 12},
        {3, 4, 5, 6, 7},
        {1, 2, 1, 2, 1},
    };
    EXPECT_EQ(Indices(b), expected);
}

TEST(BmpRead, RleDataBeyondTheTopIsIgnored) {
    Fixture f;
    f.width = 2;
    f.height = 1;
    f.bitCount = 8;
    f.compression = 1;
    f.palette = Ramp(4);
    f.pixels = {2, 3, 0, 0, 2, 1, 0, 2, 9, 9, 2, 2, 0, 1};  // a second row and a delta far up
    const Bitmap b = ReadBytes(Build(f));
    EXPECT_EQ(Indices(b), (std::vector<std::vector<int>>{{3, 3}}));
}

TEST(BmpRead, RleStreamMustReachTheEnd) {
    Fixture f;
    f.width = 2;
    f.height = 2;
    f.bitCount = 8;
    f.compression = 1;
    f.palette = Ramp(4);
    f.pixels = {2, 3, 0, 0};  // one row, then nothing
    EXPECT_EQ(ReadError(Build(f)), "BMP: file is truncated");
    f.pixels = {2, 3, 0, 0, 0, 4, 1, 2};  // literal of 4 with only 2 bytes
    EXPECT_EQ(ReadError(Build(f)), "BMP: file is truncated");
    f.pixels = {2, 3, 0, 0, 2, 3, 0, 0};  // every row ended: complete without end of bitmap
    EXPECT_EQ(ReadError(Build(f)), "");
}

struct BitfieldCase {
    const char* name;
    std::uint32_t headerSize;
    std::uint16_t bitCount;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks;
    std::vector<std::uint32_t> pixels;  // one row
    int expectedBpp;
    std::vector<Color> expected;
};

class BmpBitfields : public ::testing::TestWithParam<BitfieldCase> {};

TEST_P(BmpBitfields, DecodesChannels) {
    const BitfieldCase& c = GetParam();
    Fixture f;
    f.headerSize = c.headerSize;
    f.width = static_cast<std::int32_t>(c.pixels.size());
    f.bitCount = c.bitCount;
    f.compression = c.compression;
    f.masks = c.masks;
    for (std::uint32_t v : c.pixels) {
        if (c.bitCount == 16) PutLE16(f.pixels, v);
        else PutLE32(f.pixels, v);
    }
    f.pixels.resize(Bitmap::strideFor(f.width, c.bitCount), 0);
    const Bitmap b = ReadBytes(Build(f));
    ASSERT_EQ(b.bitsPerPixel(), c.expectedBpp);
    EXPECT_EQ(Colors(b), (std::vector<std::vector<Color>>{c.expected}));
    for (int x = 0; c.expectedBpp == 32 && x < b.width(); ++x) {
        EXPECT_EQ(b.row(0)[4 * x + 3], 0) << "unused byte cleared";
    }
    for (std::size_t x = 0; c.expectedBpp == 16 && x < c.pixels.size(); ++x) {
        EXPECT_EQ(ReadLE16({b.row(0), b.stride()}, 2 * x), c.pixels[x]) << "pixels kept";
    }
}

const std::vector<std::uint32_t> kNoMasks;

INSTANTIATE_TEST_SUITE_P(
    Masks, BmpBitfields,
    ::testing::Values(
        // Plain 16 bits are 5-5-5, converted to 24 bits; 16/31 scales to 132.
        BitfieldCase{"rgb555", 40, 16, 0, kNoMasks, {0x7FFF, 0x7C00, 0x0010, 0x8000}, 24,
                     {kWhite, RGB(255, 0, 0), RGB(0, 0, 132), kBlack}},
        // 5-6-5 masks keep the pixels as they are.
        BitfieldCase{"rgb565", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, {0xFFFF, 0xF800, 0x07E0, 0x0001}, 16,
                     {kWhite, RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 8)}},
        BitfieldCase{"rgb565_v5", 124, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, {0x001F}, 16, {RGB(0, 0, 255)}},
        // 4-4-4-4 with alpha: alpha ignored, 8/15 scales to 136.
        BitfieldCase{"argb4444", 40, 16, 6, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0xF800, 0x0F0F, 0x00F0}, 24,
                     {RGB(136, 0, 0), RGB(255, 0, 255), RGB(0, 255, 0)}},
        BitfieldCase{"rgb231", 40, 16, 3, {0x30, 0x0E, 0x01}, {0x3F, 0x10, 0x08}, 24,
                     {kWhite, RGB(85, 0, 0), RGB(0, 146, 0)}},
        // 32 bits B,G,R,X stays 32 bits, whether plain or with the standard masks.
        BitfieldCase{"bgrx", 40, 32, 0, kNoMasks, {0xFF102030}, 32, {RGB(0x10, 0x20, 0x30)}},
        BitfieldCase{"bgra_masks", 56, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x80102030}, 32,
                     {RGB(0x10, 0x20, 0x30)}},
        BitfieldCase{"bgra_alphabitfields", 40, 32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {0x80102030}, 32,
                     {RGB(0x10, 0x20, 0x30)}},
        // Other 32-bit layouts become 24 bits.
        BitfieldCase{"xbgr", 124, 32, 3, {0xFF000000, 0xFF0000, 0xFF00, 0}, {0x102030AA}, 24,
                     {RGB(0x10, 0x20, 0x30)}},
        BitfieldCase{"rgb101010_v2", 52, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF}, {0x3FF00000 | (512 << 10) | 1}, 24,
                     {RGB(255, 128, 0)}},
        BitfieldCase{"rgb111110", 40, 32, 3, {0xFFE00000, 0x1FFC00, 0x3FF}, {0xFFFFFFFF}, 24, {kWhite}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BmpRead, Os2CoreHeaderWithTriples) {
    Fixture f;
    f.headerSize = 12;
    f.width = 3;
    f.height = 1;
    f.bitCount = 4;
    f.palette = Ramp(16);
    f.pixels = {0x0F, 0x70, 0, 0};
    const Bitmap b = ReadBytes(Build(f));
    ASSERT_EQ(b.bitsPerPixel(), 4);
    EXPECT_EQ(b.palette(), Ramp(16));
    EXPECT_EQ(Indices(b), (std::vector<std::vector<int>>{{0, 15, 7}}));
}

TEST(BmpRead, Os2CoreHeaderShortPaletteTakesWhatFits) {
    Fixture f;
    f.headerSize = 12;
    f.width = 2;
    f.height = 1;
    f.bitCount = 8;
    f.palette = Ramp(5);  // no count field: the pixel offset tells
    f.pixels = {4, 1, 0, 0};
    const Bitmap b = ReadBytes(Build(f));
    EXPECT_EQ(b.palette(), Ramp(5));
    EXPECT_EQ(b.pixel(0, 0), Ramp(5)[4]);
}

TEST(BmpRead, Os2Version2Headers) {
    for (std::uint32_t size : {16u, 64u}) {
        Fixture f;
        f.headerSize = size;
        f.width = 2;
        f.height = 1;
        f.bitCount = 1;
        f.palette = {kBlack, kWhite};
        f.pixels = {0x40, 0, 0, 0};
        const Bitmap b = ReadBytes(Build(f));
        EXPECT_EQ(Colors(b), (std::vector<std::vector<Color>>{{kBlack, kWhite}})) << size;
    }
    Fixture huffman;
    huffman.headerSize = 64;
    huffman.bitCount = 1;
    huffman.compression = 3;
    huffman.palette = {kBlack, kWhite};
    huffman.pixels = {0, 0, 0, 0};
    EXPECT_EQ(ReadError(Build(huffman)), "BMP: unsupported compression 3 (OS/2 Huffman 1D)");
}

TEST(BmpRead, V4AndV5HeadersWithPalette) {
    for (std::uint32_t size : {108u, 124u}) {
        Fixture f;
        f.headerSize = size;
        f.width = 3;
        f.height = 1;
        f.bitCount = 8;
        f.clrUsed = 3;
        f.palette = Ramp(3);
        f.pixels = {2, 0, 1, 0};
        const Bitmap b = ReadBytes(Build(f));
        EXPECT_EQ(b.palette(), Ramp(3)) << size;
        EXPECT_EQ(Indices(b), (std::vector<std::vector<int>>{{2, 0, 1}})) << size;
    }
}

TEST(BmpRead, TwoBitsBecomeFourBits) {
    Fixture f;
    f.width = 5;
    f.height = 1;
    f.bitCount = 2;
    f.palette = Ramp(4);
    f.pixels = {0x1B, 0xC0, 0, 0};  // 0 1 2 3 | 3
    const Bitmap b = ReadBytes(Build(f));
    ASSERT_EQ(b.bitsPerPixel(), 4);
    EXPECT_EQ(b.palette(), Ramp(4));
    EXPECT_EQ(Indices(b), (std::vector<std::vector<int>>{{0, 1, 2, 3, 3}}));
}

TEST(BmpRead, IndexBeyondPaletteReadsAsBlack) {
    Fixture f;
    f.width = 2;
    f.height = 1;
    f.bitCount = 8;
    f.clrUsed = 2;
    f.palette = {RGB(1, 2, 3), RGB(4, 5, 6)};
    f.pixels = {1, 200, 0, 0};
    const Bitmap b = ReadBytes(Build(f));
    EXPECT_EQ(b.palette().size(), 2u);
    EXPECT_EQ(b.index(1, 0), 200);
    EXPECT_EQ(b.pixel(0, 0), RGB(4, 5, 6));
    EXPECT_EQ(b.pixel(1, 0), kBlack);
}

TEST(BmpRead, OversizedPaletteIsCutAndOffsetIsHonoured) {
    Fixture f;
    f.width = 1;
    f.height = 1;
    f.bitCount = 1;
    f.clrUsed = 3;  // more than 1 bit can address, but present in the file
    f.palette = {RGB(9, 9, 9), RGB(8, 8, 8), RGB(7, 7, 7), RGB(0xEE, 0xEE, 0xEE)};  // 4th: a gap
    f.pixels = {0x80, 0, 0, 0};
    const Bitmap b = ReadBytes(Build(f));
    EXPECT_EQ(b.palette(), (Palette{RGB(9, 9, 9), RGB(8, 8, 8)}));
    EXPECT_EQ(b.pixel(0, 0), RGB(8, 8, 8));
}

TEST(BmpRead, LastRowMayLackItsPadding) {
    Fixture f;
    f.width = 1;
    f.height = 2;
    f.pixels = {1, 2, 3, 0, 4, 5, 6};  // second row: 3 of its 4 bytes
    EXPECT_EQ(ReadBytes(Build(f)).pixel(0, 0), RGB(6, 5, 4));
    f.pixels.pop_back();
    EXPECT_EQ(ReadError(Build(f)), "BMP: file is truncated");
}

TEST(BmpRead, AssignsPictureButKeepsFillColourAndLeavesBitmapAloneOnError) {
    Bitmap target(4, 4, 8);
    target.setFillColor(RGB(1, 2, 3));
    Fixture f;
    f.width = 1;
    f.height = 1;
    f.pixels = {1, 2, 3, 0};
    bmp::Read(Build(f), target);
    EXPECT_EQ(target.width(), 1);
    EXPECT_EQ(target.bitsPerPixel(), 24);
    EXPECT_TRUE(target.palette().empty());
    EXPECT_EQ(target.fillColor(), RGB(1, 2, 3));

    f.planes = 2;
    EXPECT_THROW(bmp::Read(Build(f), target), Error);
    EXPECT_EQ(target.width(), 1);
    EXPECT_EQ(target.pixel(0, 0), RGB(3, 2, 1));
}

// ---------------------------------------------------------------------------
// Damaged files

struct BadCase {
    const char* name;
    ByteVector file;
    std::string message;
};

std::vector<BadCase> BadCases() {
    auto base = [] {
        Fixture f;
        f.width = 2;
        f.height = 2;
        f.bitCount = 8;
        f.palette = Ramp(4);
        f.clrUsed = 4;
        f.pixels = ByteVector(8, 1);
        return f;
    };
    std::vector<BadCase> cases;
    auto add = [&](const char* name, Fixture f, std::string message) {
        cases.push_back({name, Build(f), std::move(message)});
    };
    cases.push_back({"empty", {}, "BMP: file is truncated"});
    cases.push_back({"only_signature", {'B', 'M'}, "BMP: file is truncated"});
    {
        Fixture f = base();
        f.signature = "BA";
        add("signature", f, "BMP: not a Windows bitmap (no \"BM\" signature)");
    }
    {
        ByteVector file = Build(base());
        file[14] = 66;
        cases.push_back({"header_size", file, "BMP: unsupported header size 66"});
        file = Build(base());
        file.resize(40);
        cases.push_back({"header_cut", file, "BMP: file is truncated"});
    }
    {
        Fixture f = base();
        f.width = 0;
        add("width_zero", f, "BMP: width 0 is not valid");
        f.width = -2;
        add("width_negative", f, "BMP: width -2 is not valid");
    }
    {
        Fixture f = base();
        f.height = 0;
        add("height_zero", f, "BMP: height 0 is not valid");
    }
    {
        Fixture f = base();
        f.planes = 3;
        add("planes", f, "BMP: the number of planes is 3, not 1");
    }
    {
        Fixture f = base();
        f.bitCount = 30000;
        add("bit_count", f, "BMP: unsupported bit count 30000");
        f.bitCount = 0;
        add("bit_count_zero", f, "BMP: unsupported bit count 0");
    }
    {
        Fixture f = base();
        f.compression = 4;
        add("jpeg", f, "BMP: unsupported compression 4 (JPEG)");
        f.compression = 5;
        add("png", f, "BMP: unsupported compression 5 (PNG)");
        f.compression = 11;
        add("cmyk", f, "BMP: unsupported compression 11 (CMYK)");
        f.compression = 77;
        add("unknown", f, "BMP: unsupported compression 77 (unknown)");
        f.compression = 3;
        add("bitfields_8bit", f, "BMP: compression 3 (BI_BITFIELDS) does not go with 8 bits per pixel");
        f.compression = 2;
        add("rle4_8bit", f, "BMP: compression 2 (RLE4) does not go with 8 bits per pixel");
    }
    {
        Fixture f = base();
        f.compression = 1;
        f.height = -2;
        f.pixels = {0, 1};
        add("rle_top_down", f, "BMP: a top-down bitmap cannot be run-length compressed");
    }
    {
        Fixture f = base();
        f.width = 3000000;
        f.height = 2000000;
        add("really_big", f, "BMP: picture size 3000000 x 2000000 is not supported");
        f.width = 1;
        f.height = std::numeric_limits<std::int32_t>::min();
        add("height_min", f, "BMP: picture size 1 x 2147483648 is not supported");
    }
    {
        Fixture f = base();
        f.clrUsed = 305402420;
        add("palette_size", f, "BMP: palette size 305402420 is not valid");
        f.clrUsed = 5;  // one more than the file holds
        add("palette_overlaps_pixels", f, "BMP: palette size 5 is not valid");
    }
    {
        Fixture f = base();
        f.offBits = 200;
        add("offset_beyond_end", f, "BMP: file is truncated");
        f.offBits = 20;
        add("offset_in_header", f, "BMP: pixel data offset 20 lies inside the headers");
    }
    {
        Fixture f = base();
        f.pixels.resize(5);
        add("short_pixels", f, "BMP: file is truncated");
    }
    {
        Fixture f = base();
        f.bitCount = 16;
        f.compression = 3;
        f.palette.clear();
        f.clrUsed = 0;
        f.masks = {0, 0, 0};
        add("zero_masks", f, "BMP: the bit field masks are all zero");
        f.masks = {0xF800};
        f.pixels.clear();
        ByteVector file = Build(f);
        file.resize(14 + 40 + 8);
        cases.push_back({"masks_cut", file, "BMP: file is truncated"});
    }
    {
        Fixture f = base();
        f.palette.clear();
        f.clrUsed = 0;
        add("palette_missing", f, "BMP: the palette is missing");
    }
    return cases;
}

class BmpBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(BmpBad, GivesError) { EXPECT_EQ(ReadError(GetParam().file), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(Files, BmpBad, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Valid fixtures of each decoding path, for truncation and mutation.
std::vector<ByteVector> ValidFixtures() {
    std::vector<ByteVector> files;
    for (int bpp : {1, 4, 8, 16, 24, 32}) files.push_back(bmp::Write(Sample(bpp, 5, 3)));
    Fixture rle;
    rle.width = 6;
    rle.height = 3;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = Ramp(16);
    rle.pixels = {3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 2, 5, 0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 1};
    files.push_back(Build(rle));
    Fixture rle4 = rle;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.pixels = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 2, 1, 0, 0, 0, 0, 5, 0x89, 0xAB, 0xC0, 0, 0, 1};
    files.push_back(Build(rle4));
    Fixture bf;
    bf.headerSize = 124;
    bf.width = 3;
    bf.height = 2;
    bf.bitCount = 32;
    bf.compression = 3;
    bf.masks = {0xFF000000, 0xFF0000, 0xFF00, 0xFF};
    bf.pixels = ByteVector(24, 0x5A);
    files.push_back(Build(bf));
    Fixture core;
    core.headerSize = 12;
    core.width = 3;
    core.height = 2;
    core.bitCount = 8;
    core.palette = Ramp(256);
    core.pixels = ByteVector(8, 3);
    files.push_back(Build(core));
    return files;
}

TEST(BmpRead, EveryTruncationIsAnError) {
    for (const ByteVector& file : ValidFixtures()) {
        ASSERT_EQ(ReadError(file), "");
        const bool core = ReadLE32(file, 14) == 12;
        const int width = core ? ReadLE16(file, 18) : static_cast<int>(ReadLE32(file, 18));
        const int bpp = core ? ReadLE16(file, 24) : ReadLE16(file, 28);
        const bool rle = !core && (ReadLE32(file, 30) == 1 || ReadLE32(file, 30) == 2);
        // Only the last row's padding may be missing.
        const std::size_t slack = rle ? 0 : Bitmap::strideFor(width, bpp) - (std::size_t(width) * bpp + 7) / 8;
        for (std::size_t n = 0; n < file.size(); ++n) {
            const ByteVector cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_EQ(ReadError(cut), n + slack < file.size() ? "BMP: file is truncated" : "")
                << "length " << n << " of " << file.size();
        }
    }
}

// Random damage must give a picture or an Error, never anything else; run under
// AddressSanitizer this also shows that no read or write leaves its buffer.
TEST(BmpRead, RandomDamageNeverCrashes) {
    std::mt19937 random(12345);
    int pictures = 0, errors = 0;
    for (const ByteVector& original : ValidFixtures()) {
        for (int round = 0; round < 2000; ++round) {
            ByteVector file = original;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = random() % file.size();
                switch (random() % 4) {
                    case 0: file[at] = static_cast<std::uint8_t>(random()); break;
                    case 1: file[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
                    case 2: file[at] = (random() % 2) ? 0xFF : 0x00; break;
                    default: file.resize(at + 1); break;
                }
            }
            // Keep the pictures small enough that a fast test can allocate them; the size
            // limit itself is covered above.
            if (file.size() >= 26 && ReadLE32(file, 14) != 12 &&
                std::int64_t(std::int32_t(ReadLE32(file, 18))) * std::abs(std::int64_t(std::int32_t(ReadLE32(file, 22)))) >
                    (1 << 22))
                continue;
            Bitmap b;
            try {
                bmp::Read(file, b);
                ++pictures;
                for (int y = 0; y < b.height(); ++y)
                    for (int x = 0; x < b.width(); ++x) (void)b.pixel(x, y);
            } catch (const Error&) {
                ++errors;
            }
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_GT(errors, 0);
}

// ---------------------------------------------------------------------------
// The bmpsuite corpus

#ifdef PICTORIX_CORPUS_DIR
fs::path CorpusFolder(const char* kind) { return fs::path(PICTORIX_CORPUS_DIR) / "bmp" / kind; }
#else
fs::path CorpusFolder(const char*) { return {}; }
#endif

std::vector<fs::path> CorpusFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

#define SKIP_WITHOUT_CORPUS(folder)                                                            \
    if ((folder).empty()) GTEST_SKIP() << "PICTORIX_CORPUS_DIR is not defined; skipped";      \
    if (!fs::is_directory(folder))                                                             \
    GTEST_SKIP() << "the picture corpus is not here (" << (folder).string() << "); skipped"

TEST(BmpCorpus, GoodFilesLoadAndMatchImageMagick) {
    const fs::path folder = CorpusFolder("g");
    SKIP_WITHOUT_CORPUS(folder);
    // Format of the result by file; every good file must be listed.
    const std::map<std::string, int> formats{
        {"pal1.bmp", 1}, {"pal1bg.bmp", 1}, {"pal1wb.bmp", 1}, {"pal4.bmp", 4}, {"pal4rle.bmp", 4},
        {"pal8-0.bmp", 8}, {"pal8.bmp", 8}, {"pal8nonsquare.bmp", 8}, {"pal8os2.bmp", 8},
        {"pal8rle.bmp", 8}, {"pal8topdown.bmp", 8}, {"pal8v4.bmp", 8}, {"pal8v5.bmp", 8},
        {"pal8w124.bmp", 8}, {"pal8w125.bmp", 8}, {"pal8w126.bmp", 8}, {"rgb16-565.bmp", 16},
        {"rgb16-565pal.bmp", 16}, {"rgb16.bmp", 24}, {"rgb24.bmp", 24}, {"rgb24pal.bmp", 24},
        {"rgb32.bmp", 32}, {"rgb32bf.bmp", 24},
    };
    const bool compare = HaveImageMagick();
    if (!compare) std::printf("ImageMagick's convert is not installed: pixels not compared\n");
    for (const fs::path& path : CorpusFiles(folder)) {
        SCOPED_TRACE(path.filename().string());
        Bitmap b;
        ASSERT_NO_THROW(bmp::Read(test::ReadBytes(path.string()), b));
        const auto format = formats.find(path.filename().string());
        ASSERT_NE(format, formats.end()) << "not in the table";
        EXPECT_EQ(b.bitsPerPixel(), format->second);
        EXPECT_EQ(b.width(), path.filename() == "pal8w124.bmp" ? 124
                             : path.filename() == "pal8w125.bmp" ? 125
                             : path.filename() == "pal8w126.bmp" ? 126
                                                                 : 127);
        if (compare) {
            EXPECT_EQ(CompareWithImageMagick(path, b, 0), "");
        }
    }
}

TEST(BmpCorpus, QuestionableFilesLoadOrGiveError) {
    const fs::path folder = CorpusFolder("q");
    SKIP_WITHOUT_CORPUS(folder);
    // What we decided for each: "" = read, else the error's message.
    const std::map<std::string, std::string> outcomes{
        {"pal1p1.bmp", ""},           // 1-entry palette: index 1 reads as black
        {"pal2.bmp", ""},             // 2 bits: read as 4 bits
        {"pal4rletrns.bmp", ""},      // skipped pixels: index 0
        {"pal8rletrns.bmp", ""},
        {"pal8offs.bmp", ""},         // gap before the pixels
        {"pal8os2sp.bmp", ""},        // OS/2 1.x, short palette
        {"pal8os2v2-16.bmp", ""},
        {"pal8os2v2.bmp", ""},
        {"pal8oversizepal.bmp", ""},  // 300 entries: the first 256 kept
        {"rgb16-231.bmp", ""},
        {"rgb24jpeg.bmp", "BMP: unsupported compression 4 (JPEG)"},
        {"rgb24png.bmp", "BMP: unsupported compression 5 (PNG)"},
        {"rgb24largepal.bmp", ""},
        {"rgb24lprof.bmp", ""},
        {"rgb24prof.bmp", ""},
        {"rgb32-111110.bmp", ""},
        {"rgb32bf-xbgr.bmp", ""},
        {"rgb32fakealpha.bmp", ""},
        {"rgb32h52.bmp", ""},
        {"rgba16-4444.bmp", ""},
        {"rgba32.bmp", ""},
        {"rgba32abf.bmp", ""},
        {"rgba32h56.bmp", ""},
    };
    // Read files whose pixels ImageMagick 6 decodes as we do. Left out: files it cannot
    // read (pal2, pal8oversizepal, rgba32abf), pal8os2v2 (it takes the palette from the
    // wrong place) and 2-, 3- and 4-bit fields (it scales 15 of 4 bits to 240, not 255);
    // BmpCorpus.VariantsDecodeLikeTheirReference covers most of these.
    const std::set<std::string> compared{
        "pal4rletrns.bmp", "pal8rletrns.bmp", "pal8offs.bmp", "pal8os2v2-16.bmp", "rgb24largepal.bmp",
        "rgb24lprof.bmp", "rgb24prof.bmp", "rgb32-111110.bmp", "rgb32bf-xbgr.bmp", "rgb32fakealpha.bmp",
        "rgb32h52.bmp", "rgba32.bmp", "rgba32h56.bmp",
    };
    for (const fs::path& path : CorpusFiles(folder)) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const ByteVector file = test::ReadBytes(path.string());
        Bitmap b;
        std::string message;
        try {
            bmp::Read(file, b);
        } catch (const Error& e) {
            message = e.what();
        }
        const auto expected = outcomes.find(name);
        if (expected != outcomes.end()) {
            EXPECT_EQ(message, expected->second);
        }
        if (message.empty() && compared.count(name) && HaveImageMagick()) {
            // ImageMagick gives 254 for the largest 11-bit value; we give 255.
            EXPECT_EQ(CompareWithImageMagick(path, b, name == "rgb32-111110.bmp" ? 1 : 0), "");
        }
    }
}

TEST(BmpCorpus, BadFilesAreRefusedCleanly) {
    const fs::path folder = CorpusFolder("b");
    SKIP_WITHOUT_CORPUS(folder);
    // Damage that does not touch the pixels is tolerated; everything else is an error.
    const std::set<std::string> readable{
        "badbitssize.bmp",   // biSizeImage is not used
        "baddens1.bmp",      // nor the resolution
        "baddens2.bmp",
        "badfilesize.bmp",   // nor bfSize
        "pal8badindex.bmp",  // indices beyond the palette read as black
        "badrle.bmp",        // runs past the row end are clipped
    };
    for (const fs::path& path : CorpusFiles(folder)) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const std::string message = ReadError(test::ReadBytes(path.string()));
        if (readable.count(name)) {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_NE(message, "") << "read without an error";
        }
        if (!message.empty()) {
            EXPECT_EQ(message.rfind("BMP: ", 0), 0u) << message;
        }
    }
}

// The bmpsuite files that store one picture in different ways must decode alike.
TEST(BmpCorpus, VariantsDecodeLikeTheirReference) {
    const fs::path root = CorpusFolder("g").parent_path();
    SKIP_WITHOUT_CORPUS(root);
    const std::map<std::string, std::vector<std::string>> groups{
        {"g/pal1.bmp", {"g/pal1wb.bmp"}},
        {"g/pal4.bmp", {"g/pal4rle.bmp"}},
        {"g/pal8.bmp",
         {"g/pal8-0.bmp", "g/pal8os2.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp",
          "q/pal8offs.bmp", "q/pal8os2sp.bmp", "q/pal8os2v2-16.bmp", "q/pal8os2v2.bmp", "q/pal8oversizepal.bmp"}},
        {"g/rgb16-565.bmp", {"g/rgb16-565pal.bmp"}},
        {"g/rgb24.bmp",
         {"g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "q/rgb24largepal.bmp", "q/rgb24lprof.bmp",
          "q/rgb24prof.bmp", "q/rgb32bf-xbgr.bmp", "q/rgb32fakealpha.bmp", "q/rgb32h52.bmp"}},
        {"q/rgba32.bmp", {"q/rgba32abf.bmp", "q/rgba32h56.bmp"}},
    };
    for (const auto& [reference, variants] : groups) {
        const Bitmap expected = ReadBytes(test::ReadBytes((root / reference).string()));
        for (const std::string& variant : variants) {
            SCOPED_TRACE(variant);
            const Bitmap b = ReadBytes(test::ReadBytes((root / variant).string()));
            EXPECT_EQ(Colors(b), Colors(expected)) << "differs from " << reference;
        }
    }
}

}  // namespace
}  // namespace pictorix
