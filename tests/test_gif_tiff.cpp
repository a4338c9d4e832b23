// Tests of the GIF reader and of the TIFF probe and reader.
//
// GIF fixtures are written with giflib's encoder and TIFF fixtures with libtiff's
// writer, so the files come from another program than the reader under test. Real
// TIFF files from the shared corpus are read too, and a few are compared pixel by
// pixel with ImageMagick.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/gif.h"
#include "pictureio/codecs/tiff.h"
#include "test_util.h"

namespace pictorix {
namespace {

ByteVector ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<int> Indices(const Bitmap& b) {
    std::vector<int> v;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) v.push_back(b.index(x, y));
    return v;
}

std::vector<Color> Pixels(const Bitmap& b) {
    std::vector<Color> v;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) v.push_back(b.pixel(x, y));
    return v;
}

// ---------------------------------------------------------------------------
// GIF fixtures

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    Palette localMap;                  // empty: the frame has none
    std::vector<std::uint8_t> pixels;  // width * height indices, rows top first
};

int AppendToVector(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<ByteVector*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct MapObject {
    explicit MapObject(const Palette& colours) {
        if (colours.empty()) return;
        std::vector<GifColorType> c;
        for (Color x : colours)
            c.push_back({static_cast<GifByteType>(GetR(x)), static_cast<GifByteType>(GetG(x)),
                         static_cast<GifByteType>(GetB(x))});
        map = GifMakeMapObject(static_cast<int>(c.size()), c.data());  // size must be a power of two
        EXPECT_NE(map, nullptr);
    }
    ~MapObject() { GifFreeMapObject(map); }
    ColorMapObject* map = nullptr;
};

ByteVector MakeGif(int screenWidth, int screenHeight, const Palette& globalMap, const std::vector<GifFrame>& frames) {
    ByteVector bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, AppendToVector, &error);
    EXPECT_NE(gif, nullptr);
    EGifSetGifVersion(gif, true);
    MapObject global(globalMap);
    EXPECT_EQ(EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, global.map), GIF_OK);
    for (const GifFrame& f : frames) {
        const GifByteType control[4] = {0x04, 10, 0, 0};  // disposal 1, 1/10 s, no transparency
        EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control), GIF_OK);
        MapObject local(f.localMap);
        EXPECT_EQ(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local.map), GIF_OK);
        std::vector<int> order;
        if (f.interlace) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < f.height; y += step[pass]) order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) {
            std::vector<GifPixelType> line(f.pixels.begin() + y * f.width, f.pixels.begin() + (y + 1) * f.width);
            EXPECT_EQ(EGifPutLine(gif, line.data(), f.width), GIF_OK);
        }
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    return bytes;
}

std::vector<std::uint8_t> Ramp(int count, int modulo, int offset = 0) {
    std::vector<std::uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(static_cast<std::uint8_t>((i + offset) % modulo));
    return v;
}

const Palette kFour = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(10, 20, 30)};
const Palette kTwo = {RGB(1, 2, 3), RGB(250, 251, 252)};

std::vector<int> AsInts(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

TEST(GifRead, AnimationGivesItsFirstFrame) {
    GifFrame first{0, 0, 4, 3, false, {}, Ramp(12, 4)};
    GifFrame second{0, 0, 4, 3, false, {}, Ramp(12, 4, 1)};
    const ByteVector file = MakeGif(4, 3, kFour, {first, second});
    Bitmap b;
    gif::Read(file, b);
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.height(), 3);
    EXPECT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.palette(), kFour);
    EXPECT_EQ(Indices(b), AsInts(first.pixels));
    EXPECT_EQ(b.pixel(3, 0), RGB(10, 20, 30));
}

TEST(GifRead, InterlacedFrameComesOutInRowOrder) {
    // Heights that leave some of the four passes empty or short.
    for (int height : {1, 2, 3, 5, 8, 11, 17}) {
        SCOPED_TRACE(height);
        std::vector<std::uint8_t> pixels;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 3; ++x) pixels.push_back(static_cast<std::uint8_t>(y * 3 + x));
        Palette grey;
        for (int i = 0; i < 64; ++i) grey.push_back(RGB(i * 4, i * 4, i * 4));
        const ByteVector file = MakeGif(3, height, grey, {{0, 0, 3, height, true, {}, pixels}});
        Bitmap b;
        gif::Read(file, b);
        ASSERT_EQ(b.height(), height);
        EXPECT_EQ(Indices(b), AsInts(pixels));
    }
}

TEST(GifRead, PaletteIsTheLocalMapElseTheGlobalOne) {
    struct Case {
        const char* name;
        Palette global, local, expected;
    } cases[] = {
        {"local wins over global", kFour, kTwo, kTwo},
        {"global when no local", kFour, {}, kFour},
        {"local without global", {}, kTwo, kTwo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteVector file = MakeGif(2, 2, c.global, {{0, 0, 2, 2, false, c.local, {0, 1, 1, 0}}});
        Bitmap b;
        gif::Read(file, b);
        EXPECT_EQ(b.palette(), c.expected);  // as many entries as the file gives
        EXPECT_EQ(b.pixel(1, 0), c.expected[1]);
    }
}

TEST(GifRead, FrameSmallerThanTheScreenGivesTheFrameSize) {
    const ByteVector file = MakeGif(20, 10, kFour, {{7, 4, 5, 3, false, {}, Ramp(15, 4)}});
    Bitmap b;
    gif::Read(file, b);
    EXPECT_EQ(b.width(), 5);
    EXPECT_EQ(b.height(), 3);
    EXPECT_EQ(Indices(b), AsInts(Ramp(15, 4)));
}

TEST(GifRead, IndicesBeyondTheColourMapAreKept) {
    Palette big;
    for (int i = 0; i < 256; ++i) big.push_back(RGB(i, i, 255 - i));
    ByteVector file = MakeGif(4, 1, big, {{0, 0, 4, 1, false, {}, {0, 1, 200, 255}}});
    // Shrink the global map to 2 entries; the image data keeps its 8-bit code size.
    ASSERT_EQ(file[10] & 0x87, 0x87);
    file[10] = static_cast<std::uint8_t>(file[10] & ~0x07);
    file.erase(file.begin() + 13 + 6, file.begin() + 13 + 3 * 256);
    Bitmap b;
    gif::Read(file, b);
    EXPECT_EQ(b.palette().size(), 2u);
    EXPECT_EQ(Indices(b), (std::vector<int>{0, 1, 200, 255}));
    EXPECT_EQ(b.pixel(2, 0), kBlack);
}

TEST(GifRead, NoColourMapAtAllGivesGreyLevels) {
    ByteVector file = MakeGif(3, 1, kTwo, {{0, 0, 3, 1, false, {}, {0, 1, 1}}});
    file[10] = static_cast<std::uint8_t>(file[10] & ~0x80);
    file.erase(file.begin() + 13, file.begin() + 13 + 6);
    Bitmap b;
    gif::Read(file, b);
    EXPECT_EQ(b.palette(), GreyPalette256());
    EXPECT_EQ(b.pixel(1, 0), RGB(1, 1, 1));
}

TEST(GifRead, FileWithoutImageIsAnError) {
    const ByteVector file = MakeGif(8, 8, kFour, {});
    Bitmap b;
    try {
        gif::Read(file, b);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "GIF: the file holds no picture");
    }
}

TEST(GifRead, TruncatedFileIsAnErrorAndLeavesTheBitmap) {
    const ByteVector file = MakeGif(16, 16, kFour, {{0, 0, 16, 16, false, {}, Ramp(256, 4)}});
    Bitmap b(2, 2, 24);
    b.fill(RGB(9, 8, 7));
    // Every cut before the frame's last block ends is an error. The trailer byte
    // alone is never read: the reader stops after the first frame.
    for (std::size_t n = 0; n + 1 < file.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_THROW(gif::Read(ByteSpan(file.data(), n), b), Error);
    }
    EXPECT_EQ(b.width(), 2);
    EXPECT_EQ(b.pixel(1, 1), RGB(9, 8, 7));
    EXPECT_NO_THROW(gif::Read(ByteSpan(file.data(), file.size() - 1), b));
    EXPECT_EQ(b.width(), 16);
}

TEST(GifRead, GarbageIsAnError) {
    const std::vector<std::string> cases = {
        "", "GIF", "not a gif file at all", std::string("GIF89a\x04\x00\x04\x00\x80\x00\x00", 13),
        std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x0C\xFF", 25),
        std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00\x99", 14)};
    for (const std::string& s : cases) {
        SCOPED_TRACE(s);
        Bitmap b;
        const ByteVector bytes(s.begin(), s.end());
        try {
            gif::Read(bytes, b);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("GIF: ", 0), 0u) << e.what();
        }
    }
}

// GIF files written by ImageMagick from its built-in picture, and its own reading of
// the first frame as R,G,B bytes.
TEST(GifRead, FilesFromImageMagickMatchItsReading) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    struct Case {
        const char* name;
        const char* arguments;
    } cases[] = {
        {"plain.gif", "rose:"},
        {"interlaced.gif", "rose: -interlace GIF"},
        {"animation.gif", "-delay 10 rose: \\( rose: -flop -resize 50% \\) \\( rose: -negate \\)"},
        {"sixteen.gif", "rose: -colors 16"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        ASSERT_EQ(test::RunCommand("convert " + std::string(c.arguments) + " " + test::Quote(path)).status, 0);
        Bitmap b;
        gif::Read(ReadBytes(path), b);
        EXPECT_EQ(b.width(), 70);
        EXPECT_EQ(b.height(), 46);
        EXPECT_EQ(b.bitsPerPixel(), 8);
        const test::CommandResult rgb =
            test::RunCommand("convert " + test::Quote(path + "[0]") + " +repage -depth 8 rgb:- 2>/dev/null");
        ASSERT_EQ(rgb.status, 0);
        ASSERT_EQ(rgb.output.size(), std::size_t(b.width()) * b.height() * 3);
        int differing = 0;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) {
                const auto* p = reinterpret_cast<const std::uint8_t*>(&rgb.output[(std::size_t(y) * b.width() + x) * 3]);
                differing += b.pixel(x, y) != RGB(p[0], p[1], p[2]);
            }
        EXPECT_EQ(differing, 0);
    }
}

TEST(GifRead, KeepsFillColour) {
    Bitmap b;
    b.setFillColor(RGB(1, 2, 3));
    gif::Read(MakeGif(2, 1, kTwo, {{0, 0, 2, 1, false, {}, {0, 1}}}), b);
    EXPECT_EQ(b.fillColor(), RGB(1, 2, 3));
}

// ---------------------------------------------------------------------------
// TIFF probe

ByteVector Header(const char* order, unsigned version, std::uint32_t offset) {
    ByteVector h = {static_cast<std::uint8_t>(order[0]), static_cast<std::uint8_t>(order[1])};
    const bool le = order[0] == 'I';
    for (int i = 0; i < 2; ++i) h.push_back(static_cast<std::uint8_t>(version >> (le ? 8 * i : 8 * (1 - i))));
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(offset >> (le ? 8 * i : 8 * (3 - i))));
    return h;
}

TEST(TiffProbe, AcceptanceTable) {
    struct Case {
        const char* name;
        ByteVector header;
        std::uint64_t remaining;
        bool accepted;
    } cases[] = {
        {"II, 42, offset 8, 9 bytes", Header("II", 42, 8), 9, true},
        {"MM, 42, offset 8, 9 bytes", Header("MM", 42, 8), 9, true},
        {"exactly 8 bytes", Header("II", 42, 0), 8, false},
        {"fewer than 8 bytes", Header("II", 42, 0), 5, false},
        {"offset equal to the size", Header("II", 42, 100), 100, false},
        {"offset just below the size", Header("MM", 42, 99), 100, true},
        {"offset 0", Header("II", 42, 0), 100, true},
        {"offset 0x7FFFFFFF", Header("II", 42, 0x7FFFFFFF), 100, false},
        {"offset 0x80000000 is negative", Header("II", 42, 0x80000000u), 100, true},
        {"offset 0xFFFFFFFF is negative", Header("MM", 42, 0xFFFFFFFFu), 9, true},
        {"version 43 (BigTIFF)", Header("II", 43, 16), 100, false},
        {"version 42 in the other byte order, II", Header("II", 42 << 8, 8), 100, false},
        {"version 42 in the other byte order, MM", Header("MM", 42 << 8, 8), 100, false},
        {"offset in the other byte order", Header("MM", 42, 0x08000000u), 100, false},
        {"mixed order IM", {'I', 'M', 42, 0, 8, 0, 0, 0}, 100, false},
        {"lower case ii", {'i', 'i', 42, 0, 8, 0, 0, 0}, 100, false},
        {"short header", {'I', 'I', 42, 0, 8}, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tiff::Probe(c.header, c.remaining), c.accepted);
    }
    EXPECT_EQ(tiff::kProbeHeaderLength, 8u);
}

// ---------------------------------------------------------------------------
// TIFF fixtures

struct TiffSpec {
    int width = 1, height = 1;
    int bits = 8, samples = 1;
    int photometric = PHOTOMETRIC_MINISBLACK;
    int orientation = ORIENTATION_TOPLEFT;
    int tile = 0;          // tile width and height, 0 for strips
    int extra = -1;        // EXTRASAMPLE_* of one extra sample, -1 for none
    int sampleFormat = SAMPLEFORMAT_UINT;
    std::vector<std::uint16_t> colourMap;  // red, green and blue parts after each other
    std::vector<std::uint8_t> rows;        // packed rows as stored, ceil(w * bits * samples / 8) each
};

ByteVector WriteTiff(const TiffSpec& s) {
    test::TempDir dir;
    const std::string path = dir.file("fixture.tif");
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(tif, nullptr);
    if (!tif) return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, s.orientation);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.sampleFormat);
    if (s.extra >= 0) {
        const std::uint16_t extra = static_cast<std::uint16_t>(s.extra);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!s.colourMap.empty()) {
        const std::size_t n = s.colourMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, s.colourMap.data(), s.colourMap.data() + n, s.colourMap.data() + 2 * n);
    }
    const std::size_t rowBytes = (std::size_t(s.width) * s.bits * s.samples + 7) / 8;
    EXPECT_EQ(s.rows.size(), rowBytes * s.height);
    if (s.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
        const std::size_t tileRow = (std::size_t(s.tile) * s.bits * s.samples + 7) / 8;
        for (int ty = 0; ty < s.height; ty += s.tile)
            for (int tx = 0; tx < s.width; tx += s.tile) {
                std::vector<std::uint8_t> t(tileRow * s.tile, 0);
                for (int r = 0; r < s.tile && ty + r < s.height; ++r) {
                    // Whole bytes only: the fixtures use byte-aligned tile columns.
                    const std::size_t from = std::size_t(tx) * s.bits * s.samples / 8;
                    const std::size_t n = std::min(tileRow, rowBytes - from);
                    std::memcpy(&t[r * tileRow], &s.rows[(ty + r) * rowBytes + from], n);
                }
                EXPECT_GE(TIFFWriteTile(tif, t.data(), tx, ty, 0, 0), 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
        for (int y = 0; y < s.height; ++y) {
            std::vector<std::uint8_t> row(s.rows.begin() + y * rowBytes, s.rows.begin() + (y + 1) * rowBytes);
            EXPECT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
        }
    }
    TIFFClose(tif);
    return ReadBytes(path);
}

// Packs one sample value per pixel into rows of `bits` bits, most significant first.
std::vector<std::uint8_t> Pack(const std::vector<unsigned>& values, int width, int bits) {
    const std::size_t rowBytes = (std::size_t(width) * bits + 7) / 8;
    std::vector<std::uint8_t> out(rowBytes * (values.size() / width), 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t y = i / width, x = i % width;
        const std::size_t bit = x * bits;
        out[y * rowBytes + bit / 8] |= static_cast<std::uint8_t>(values[i] << (8 - bits - bit % 8));
    }
    return out;
}

TEST(TiffRead, BilevelIsOneBitBlackAndWhite) {
    const std::vector<unsigned> bits = {1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 1, 0};
    for (int photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
        SCOPED_TRACE(photometric);
        TiffSpec s;
        s.width = 10, s.height = 2, s.bits = 1, s.photometric = photometric;
        s.rows = Pack(bits, 10, 1);
        Bitmap b;
        tiff::Read(WriteTiff(s), b);
        ASSERT_EQ(b.bitsPerPixel(), 1);
        EXPECT_EQ(b.palette(), BlackWhitePalette());
        for (int i = 0; i < 20; ++i) {
            const bool white = (bits[i] == 1) == (photometric == PHOTOMETRIC_MINISBLACK);
            EXPECT_EQ(b.pixel(i % 10, i / 10), white ? kWhite : kBlack) << i;
        }
    }
}

TEST(TiffRead, GreyLevelsBecomeEightBitGrey) {
    struct Case {
        int bits, photometric;
        std::vector<unsigned> values;
        std::vector<int> expected;
    } cases[] = {
        {2, PHOTOMETRIC_MINISBLACK, {0, 1, 2, 3, 3}, {0, 85, 170, 255, 255}},
        {2, PHOTOMETRIC_MINISWHITE, {0, 1, 2, 3, 0}, {255, 170, 85, 0, 255}},
        {4, PHOTOMETRIC_MINISBLACK, {0, 1, 7, 15, 8}, {0, 17, 119, 255, 136}},
        {8, PHOTOMETRIC_MINISBLACK, {0, 1, 127, 254, 255}, {0, 1, 127, 254, 255}},
        {8, PHOTOMETRIC_MINISWHITE, {0, 1, 127, 254, 255}, {255, 254, 128, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, photometric " + std::to_string(c.photometric));
        TiffSpec s;
        s.width = 5, s.height = 1, s.bits = c.bits, s.photometric = c.photometric;
        s.rows = Pack(c.values, 5, c.bits);
        Bitmap b;
        tiff::Read(WriteTiff(s), b);
        ASSERT_EQ(b.bitsPerPixel(), 8);
        EXPECT_EQ(b.palette(), GreyPalette256());
        EXPECT_EQ(Indices(b), c.expected);
    }
}

TEST(TiffRead, PaletteKeepsTheColourMap) {
    // 16-bit map: values >> 8. A map with nothing above 255 counts as 8-bit.
    TiffSpec s;
    s.width = 4, s.height = 1, s.bits = 2, s.photometric = PHOTOMETRIC_PALETTE;
    s.colourMap = {0xFFFF, 0x0000, 0x1234, 0x8000,   // red
                   0x0000, 0xFFFF, 0x5678, 0x80FF,   // green
                   0x0000, 0x0000, 0x9ABC, 0x7F00};  // blue
    s.rows = Pack({3, 2, 1, 0}, 4, 2);
    Bitmap b;
    tiff::Read(WriteTiff(s), b);
    ASSERT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.palette(), (Palette{RGB(255, 0, 0), RGB(0, 255, 0), RGB(0x12, 0x56, 0x9A), RGB(128, 128, 127)}));
    EXPECT_EQ(Indices(b), (std::vector<int>{3, 2, 1, 0}));

    s.colourMap = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    tiff::Read(WriteTiff(s), b);
    EXPECT_EQ(b.palette(), (Palette{RGB(10, 50, 90), RGB(20, 60, 100), RGB(30, 70, 110), RGB(40, 80, 120)}));
}

TEST(TiffRead, ColourIsTwentyFourBitsWithAlphaOnWhite) {
    TiffSpec s;
    s.width = 4, s.height = 1, s.bits = 8, s.samples = 4, s.photometric = PHOTOMETRIC_RGB;
    s.extra = EXTRASAMPLE_UNASSALPHA;
    s.rows = {200, 100, 50, 255, 200, 100, 50, 128, 200, 100, 50, 0, 0, 0, 0, 1};
    Bitmap b;
    tiff::Read(WriteTiff(s), b);
    ASSERT_EQ(b.bitsPerPixel(), 24);
    auto over = [](unsigned c, unsigned a) { return (c * a + 255 * (255 - a) + 127) / 255; };
    EXPECT_EQ(b.pixel(0, 0), RGB(200, 100, 50));
    EXPECT_EQ(b.pixel(1, 0), RGB(over(200, 128), over(100, 128), over(50, 128)));
    EXPECT_EQ(b.pixel(2, 0), kWhite);
    EXPECT_EQ(b.pixel(3, 0), RGB(254, 254, 254));

    // Associated alpha: the colours are already premultiplied.
    s.extra = EXTRASAMPLE_ASSOCALPHA;
    s.rows = {100, 50, 25, 128, 0, 0, 0, 0, 10, 20, 30, 255, 255, 255, 255, 255};
    tiff::Read(WriteTiff(s), b);
    EXPECT_EQ(b.pixel(0, 0), RGB(227, 177, 152));
    EXPECT_EQ(b.pixel(1, 0), kWhite);
    EXPECT_EQ(b.pixel(2, 0), RGB(10, 20, 30));
}

TEST(TiffRead, SixteenBitGreyGoesThroughRgba) {
    TiffSpec s;
    s.width = 2, s.height = 1, s.bits = 16;
    s.rows = {0x00, 0x00, 0xFF, 0xFF};  // native byte order of the writer: 0 and 65535
    Bitmap b;
    tiff::Read(WriteTiff(s), b);
    ASSERT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixel(0, 0), kBlack);
    EXPECT_EQ(b.pixel(1, 0), kWhite);
}

TEST(TiffRead, SignedAndFloatingPointSamplesAreRefused) {
    struct Case {
        int bits, samples, format;
        const char* message;
    } cases[] = {
        {8, 1, SAMPLEFORMAT_INT, "TIFF: signed integer samples are not supported"},
        {16, 1, SAMPLEFORMAT_INT, "TIFF: signed integer samples are not supported"},
        {16, 3, SAMPLEFORMAT_INT, "TIFF: signed integer samples are not supported"},
        {32, 1, SAMPLEFORMAT_IEEEFP, "TIFF: floating-point samples are not supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        TiffSpec s;
        s.width = 2, s.height = 1, s.bits = c.bits, s.samples = c.samples, s.sampleFormat = c.format;
        s.photometric = c.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        s.rows.assign(std::size_t(2) * c.bits / 8 * c.samples, 0x40);
        Bitmap b;
        try {
            tiff::Read(WriteTiff(s), b);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(TiffRead, TiledPicturesMatchStrippedOnes) {
    // 40 x 20 with 16 x 16 tiles: partial tiles on the right and at the bottom.
    std::vector<unsigned> bilevel, grey, rgb;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            bilevel.push_back((x * 7 + y * 3) % 5 == 0);
            grey.push_back((x * 5 + y * 11) & 0xFF);
        }
    for (int i = 0; i < 40 * 20 * 3; ++i) rgb.push_back((i * 13) & 0xFF);
    struct Case {
        int bits, samples, photometric;
        std::vector<unsigned> values;
    } cases[] = {
        {1, 1, PHOTOMETRIC_MINISWHITE, bilevel},
        {8, 1, PHOTOMETRIC_MINISBLACK, grey},
        {8, 3, PHOTOMETRIC_RGB, rgb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits * c.samples);
        TiffSpec s;
        s.width = 40, s.height = 20, s.bits = c.bits, s.samples = c.samples, s.photometric = c.photometric;
        s.rows = Pack(c.values, 40 * c.samples, c.bits);
        Bitmap stripped, tiled;
        tiff::Read(WriteTiff(s), stripped);
        s.tile = 16;
        tiff::Read(WriteTiff(s), tiled);
        ASSERT_EQ(tiled.width(), 40);
        ASSERT_EQ(tiled.height(), 20);
        EXPECT_EQ(tiled.bitsPerPixel(), stripped.bitsPerPixel());
        EXPECT_EQ(Pixels(tiled), Pixels(stripped));
        if (c.samples == 3) {
            EXPECT_EQ(stripped.pixel(1, 0), RGB(39, 52, 65));
        }
    }
}

// Plain RGB is read row by row, anything with an alpha channel through libtiff's RGBA
// interface: an opaque alpha channel must not change a pixel.
TEST(TiffRead, PlainRgbMatchesTheRgbaRoute) {
    std::vector<unsigned> rgb, rgba;
    for (int i = 0; i < 37 * 9; ++i) {
        const unsigned r = (i * 13) & 0xFF, g = (i * 29 + 7) & 0xFF, b = (i * 71 + 3) & 0xFF;
        rgb.insert(rgb.end(), {r, g, b});
        rgba.insert(rgba.end(), {r, g, b, 255});
    }
    for (const int tile : {0, 16}) {
        TiffSpec s;
        s.width = 37, s.height = 9, s.samples = 3, s.photometric = PHOTOMETRIC_RGB, s.tile = tile;
        s.rows = Pack(rgb, 37 * 3, 8);
        Bitmap plain, throughRgba;
        tiff::Read(WriteTiff(s), plain);
        s.samples = 4, s.extra = EXTRASAMPLE_UNASSALPHA;
        s.rows = Pack(rgba, 37 * 4, 8);
        tiff::Read(WriteTiff(s), throughRgba);
        EXPECT_EQ(plain.bitsPerPixel(), 24);
        EXPECT_EQ(Pixels(plain), Pixels(throughRgba)) << "tile " << tile;
    }
}

TEST(TiffRead, OrientationIsAppliedInFull) {
    // Stored 3 x 2:  a b c / d e f
    const std::vector<unsigned> stored = {'a', 'b', 'c', 'd', 'e', 'f'};
    const char* expected[9] = {nullptr,  "abc/def", "cba/fed", "fed/cba", "def/abc",
                               "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
    for (int photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_RGB}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE("photometric " + std::to_string(photometric) + ", orientation " +
                         std::to_string(orientation));
            TiffSpec s;
            s.width = 3, s.height = 2, s.photometric = photometric, s.orientation = orientation;
            s.samples = photometric == PHOTOMETRIC_RGB ? 3 : 1;
            std::vector<unsigned> values;
            for (unsigned v : stored)
                for (int k = 0; k < s.samples; ++k) values.push_back(v);
            s.rows = Pack(values, 3 * s.samples, 8);
            Bitmap b;
            tiff::Read(WriteTiff(s), b);
            std::string seen;
            for (int y = 0; y < b.height(); ++y) {
                if (y) seen += '/';
                for (int x = 0; x < b.width(); ++x) seen += static_cast<char>(GetR(b.pixel(x, y)));
            }
            EXPECT_EQ(seen, expected[orientation]);
        }
    }
}

TEST(TiffRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    TiffSpec s;
    s.width = 16, s.height = 16, s.bits = 8, s.samples = 3, s.photometric = PHOTOMETRIC_RGB;
    for (int i = 0; i < 16 * 16 * 3; ++i) s.rows.push_back(static_cast<std::uint8_t>(i * 7));
    const ByteVector good = WriteTiff(s);
    Bitmap b(3, 3, 24);
    b.fill(RGB(5, 6, 7));
    std::vector<ByteVector> cases = {
        {},
        {'I', 'I', 42, 0},
        Header("II", 42, 8),
        Header("MM", 42, 0x7FFFFFF0),
        ByteVector(good.begin(), good.begin() + 64),
    };
    // Every cut of the file; libtiff writes the directory at the end, so all fail.
    for (std::size_t n = 0; n < good.size(); n += 7) cases.emplace_back(good.begin(), good.begin() + n);
    for (const ByteVector& bad : cases) {
        SCOPED_TRACE(bad.size());
        try {
            tiff::Read(bad, b);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("TIFF: ", 0), 0u) << e.what();
        }
    }
    EXPECT_EQ(b.width(), 3);
    EXPECT_EQ(b.pixel(2, 2), RGB(5, 6, 7));
}

// ---------------------------------------------------------------------------
// TIFF corpus

std::string CorpusTiffDir() {
#ifdef PICTORIX_CORPUS_DIR
    const std::string dir = std::string(PICTORIX_CORPUS_DIR) + "/tif";
    if (std::filesystem::is_directory(dir)) return dir;
#endif
    return {};
}

TEST(TiffCorpus, EveryFileLoadsOrGivesAnError) {
    const std::string dir = CorpusTiffDir();
    if (dir.empty()) GTEST_SKIP() << "the picture corpus (shared/corpus/tif) is not present";
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    int loaded = 0;
    for (const auto& path : files) {
        const ByteVector bytes = ReadBytes(path.string());
        Bitmap b;
        std::string outcome;
        try {
            tiff::Read(bytes, b);
            ++loaded;
            outcome = std::to_string(b.width()) + " x " + std::to_string(b.height()) + ", " +
                      std::to_string(b.bitsPerPixel()) + " bits";
            EXPECT_FALSE(b.empty()) << path;
        } catch (const Error& e) {
            outcome = e.what();
        }
        std::cout << "  " << path.filename().string() << ": " << outcome << "\n";
    }
    EXPECT_GT(loaded, static_cast<int>(files.size()) / 2);
}

// ImageMagick's reading of the first page, turned by its Orientation tag and
// flattened on white, as R,G,B bytes. +repage drops the page offset (the XPosition
// tag, or the page left over from -auto-orient), which -flatten would otherwise honour.
bool ConvertWithImageMagick(const std::string& path, std::vector<std::uint8_t>& rgb) {
    const std::string command = "convert " + test::Quote(path + "[0]") +
                                " -auto-orient +repage -background white -flatten -depth 8 rgb:- 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) rgb.insert(rgb.end(), buffer, buffer + n);
    return ::pclose(pipe) == 0;
}

TEST(TiffCorpus, KnownFilesMatchImageMagick) {
    const std::string dir = CorpusTiffDir();
    if (dir.empty()) GTEST_SKIP() << "the picture corpus (shared/corpus/tif) is not present";
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    struct Case {
        std::string name;
        int bitsPerPixel;
    };
    std::vector<Case> cases = {{"hopper.tif", 24},     {"hopper_lzw.tif", 24},       {"hopper_g4.tif", 1},
                               {"multipage.tiff", 8},  {"hopper_gray_4bpp.tif", 8},  {"g4-fillorder-test.tif", 1},
                               {"hopper_jpg.tif", 24}, {"no_rows_per_strip.tif", 8}};
    // ImageMagick leaves the Orientation tag to -auto-orient; we apply it on reading.
    for (int i = 1; i <= 8; ++i) cases.push_back({"g4_orientation_" + std::to_string(i) + ".tif", 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        Bitmap b;
        tiff::Read(ReadBytes(path), b);
        EXPECT_EQ(b.bitsPerPixel(), c.bitsPerPixel);
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(ConvertWithImageMagick(path, rgb));
        ASSERT_EQ(rgb.size(), std::size_t(b.width()) * b.height() * 3);
        int differing = 0;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) {
                const std::uint8_t* p = &rgb[(std::size_t(y) * b.width() + x) * 3];
                if (b.pixel(x, y) == RGB(p[0], p[1], p[2])) continue;
                if (differing++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << std::hex << b.pixel(x, y)
                                  << ", ImageMagick " << RGB(p[0], p[1], p[2]);
            }
        EXPECT_EQ(differing, 0);
    }
}

TEST(TiffCorpus, AllEightOrientationsShowTheSamePicture) {
    // The eight files hold one text, stored in each orientation; they were rendered
    // separately, so a few edge pixels of the letters differ.
    const std::string dir = CorpusTiffDir();
    if (dir.empty()) GTEST_SKIP() << "the picture corpus (shared/corpus/tif) is not present";
    Bitmap reference;
    tiff::Read(ReadBytes(dir + "/g4_orientation_1.tif"), reference);
    ASSERT_EQ(reference.width(), 590);
    ASSERT_EQ(reference.height(), 88);
    const std::vector<Color> expected = Pixels(reference);
    for (int i = 2; i <= 8; ++i) {
        SCOPED_TRACE(i);
        Bitmap b;
        tiff::Read(ReadBytes(dir + "/g4_orientation_" + std::to_string(i) + ".tif"), b);
        ASSERT_EQ(b.width(), reference.width());
        ASSERT_EQ(b.height(), reference.height());
        const std::vector<Color> seen = Pixels(b);
        std::size_t differing = 0;
        for (std::size_t k = 0; k < seen.size(); ++k) differing += seen[k] != expected[k];
        EXPECT_LT(differing, seen.size() / 200);  // under 0.5 %; a wrong turn or flip gives far more
    }
}

}  // namespace
}  // namespace pictorix
