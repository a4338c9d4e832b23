// Tests of the Truevision Targa and ZSoft PCX readers of the general reading route.
//
// Hand-built files with known pixels cover every image type, pixel size, origin and
// palette source; our own writers' files must read back to the pixels written;
// pictures written by ImageMagick are compared pixel by pixel with ImageMagick's own
// reading; the real files of the shared corpus are read too. Every fixture is cut short
// and corrupted at many points, which must only ever give an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/codec.h"
#include "pictureio/codecs/pcx.h"
#include "pictureio/codecs/tga.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace pictorix {
namespace {

// In the order in which the general route asks them (the Targa test comes first).
const ProbingReader kReaders[] = {
    {"TGA", tga::kProbeHeaderLength, tga::Probe, tga::Read},
    {"PCX", pcx::kProbeHeaderLength, pcx::Probe, pcx::Read},
};

using test::Accepts;
using test::Append;
using test::CorpusDir;
using test::CountDifferences;
using test::ErrorOf;
using test::FilesIn;
using test::ImageMagickRgb;
using test::ReadBytes;

std::uint8_t OnWhite(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}
Color Grey(unsigned v) { return RGB(v, v, v); }

// A Targa file. `map` holds the colour-map entries (colour-map type 1 when not empty).
ByteVector Tga(unsigned type, unsigned pixelBits, unsigned descriptor, unsigned width, unsigned height,
               const ByteVector& pixels, const ByteVector& map = {}, unsigned entryBits = 24, unsigned first = 0,
               const std::string& id = {}) {
    ByteVector f;
    f.push_back(static_cast<std::uint8_t>(id.size()));
    f.push_back(map.empty() ? 0 : 1);
    f.push_back(static_cast<std::uint8_t>(type));
    PutLE16(f, first);
    PutLE16(f, map.empty() ? 0 : static_cast<unsigned>(map.size() / ((entryBits + 7) / 8)));
    f.push_back(static_cast<std::uint8_t>(entryBits));
    PutLE16(f, 0);
    PutLE16(f, 0);
    PutLE16(f, width);
    PutLE16(f, height);
    f.push_back(static_cast<std::uint8_t>(pixelBits));
    f.push_back(static_cast<std::uint8_t>(descriptor));
    f.insert(f.end(), id.begin(), id.end());
    Append(f, map);
    Append(f, pixels);
    return f;
}

ByteVector LE16s(std::initializer_list<unsigned> values) {
    ByteVector v;
    for (unsigned x : values) PutLE16(v, x);
    return v;
}

// A PCX header followed by `data`.
ByteVector Pcx(unsigned encoding, unsigned bits, unsigned planes, unsigned bytesPerLine, unsigned width,
               unsigned height, const ByteVector& data, const ByteVector& headerPalette = {}, unsigned xmin = 0,
               unsigned version = 5) {
    ByteVector f = {10, static_cast<std::uint8_t>(version), static_cast<std::uint8_t>(encoding),
                    static_cast<std::uint8_t>(bits)};
    PutLE16(f, xmin);
    PutLE16(f, 0);
    PutLE16(f, xmin + width - 1);
    PutLE16(f, height - 1);
    PutLE16(f, 72);
    PutLE16(f, 72);
    ByteVector palette = headerPalette;
    palette.resize(48, 0);
    Append(f, palette);
    f.push_back(0);
    f.push_back(static_cast<std::uint8_t>(planes));
    PutLE16(f, bytesPerLine);
    PutLE16(f, 1);
    f.resize(128, 0);
    Append(f, data);
    return f;
}

// The byte 12 and 256 red, green, blue entries, `first` the leading ones.
ByteVector PaletteBlock(const ByteVector& first) {
    ByteVector b = {12};
    Append(b, first);
    b.resize(769, 0);
    return b;
}

// ---------------------------------------------------------------------------
// Probes

TEST(TgaPcxProbes, AcceptanceTable) {
    auto tgaHeader = [](unsigned mapType, unsigned type, unsigned entryBits, unsigned pixelBits) {
        ByteVector h = Tga(type, pixelBits, 0x20, 1, 1, {});
        h[1] = static_cast<std::uint8_t>(mapType);
        h[7] = static_cast<std::uint8_t>(entryBits);
        return h;
    };
    auto pcxHeader = [](unsigned manufacturer, unsigned version, unsigned encoding) {
        ByteVector h = Pcx(encoding, 8, 1, 1, 1, 1, {}, {}, 0, version);
        h[0] = static_cast<std::uint8_t>(manufacturer);
        return h;
    };
    const std::vector<test::ProbeCase> cases = {
        {"our own true-colour output", "TGA", tgaHeader(0, 10, 24, 24), 0, true},
        {"true colour, entry size 0", "TGA", tgaHeader(0, 2, 0, 24), 0, false},
        {"colour-mapped, entry size 8", "TGA", tgaHeader(1, 1, 8, 8), 0, false},
        {"type 0 (no picture)", "TGA", tgaHeader(0, 0, 16, 8), 0, true},
        {"type 4", "TGA", tgaHeader(0, 4, 24, 24), 0, false},
        {"type 8", "TGA", tgaHeader(0, 8, 24, 24), 0, false},
        {"type 12", "TGA", tgaHeader(0, 12, 24, 24), 0, false},
        {"type 32 (Huffman)", "TGA", tgaHeader(0, 32, 24, 24), 0, false},
        {"colour-map type 2", "TGA", tgaHeader(2, 2, 24, 24), 0, false},
        {"pixel size 1", "TGA", tgaHeader(0, 3, 24, 1), 0, false},
        {"pixel size 15, entry size 32", "TGA", tgaHeader(0, 2, 32, 15), 0, true},
        {"file of exactly 18 bytes", "TGA", tgaHeader(0, 10, 24, 24), 18, false},
        {"PCX", "PCX", pcxHeader(10, 5, 1), 0, true},
        {"PCX manufacturer 12, version 0, raw", "PCX", pcxHeader(12, 0, 0), 0, true},
        {"PCX versions 2 and 3", "PCX", pcxHeader(10, 2, 1), 0, true},
        {"PCX version 3", "PCX", pcxHeader(10, 3, 1), 0, true},
        {"PCX version 4", "PCX", pcxHeader(10, 4, 1), 0, false},
        {"PCX version 1", "PCX", pcxHeader(10, 1, 1), 0, false},
        {"PCX manufacturer 11", "PCX", pcxHeader(11, 5, 1), 0, false},
        {"PCX encoding 2", "PCX", pcxHeader(10, 5, 2), 0, false},
        {"PCX file of exactly 128 bytes", "PCX", pcxHeader(10, 5, 1), 128, false},
    };
    for (const test::ProbeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ProbingReader& r = std::string(c.reader) == "TGA" ? kReaders[0] : kReaders[1];
        ASSERT_EQ(c.header.size(), r.headerLength);
        EXPECT_EQ(r.accepts(c.header, c.size ? c.size : r.headerLength + 1), c.accepted);
        EXPECT_FALSE(r.accepts(ByteSpan(c.header).first(r.headerLength - 1), 1000)) << "short header";
    }
}

TEST(TgaPcxProbes, OwnOutputIsTakenAndTargaWinsOverPcx) {
    Bitmap b = test::Gradient(5, 3);
    for (int bpp : {1, 8, 16, 24, 32}) {
        Bitmap c = b;
        c.setBitsPerPixel(bpp);
        EXPECT_TRUE(Accepts(kReaders[0], tga::Write(c))) << bpp;
        EXPECT_TRUE(Accepts(kReaders[1], pcx::Write(c))) << bpp;
        EXPECT_FALSE(Accepts(kReaders[0], pcx::Write(c))) << bpp;
    }
    // A PCX header can pass the Targa test too (version 0 = colour-map type 0, encoding
    // 1 = colour-mapped, ymin's high byte 24 = entry size, first palette byte 8 = pixel
    // size); the Targa test is asked first, so such a file goes to the Targa reader.
    ByteVector both = Pcx(1, 8, 1, 1, 1, 1, {0}, {8}, 0, 0);
    both[7] = 24;
    EXPECT_TRUE(Accepts(kReaders[0], both));
    EXPECT_TRUE(Accepts(kReaders[1], both));
}

// ---------------------------------------------------------------------------
// Hand-built files

struct Expected {
    const char* what;
    ByteVector file;
    int bitsPerPixel;
    int width, height;
    std::vector<Color> pixels;  // rows from the top
};

void CheckPixels(void (*read)(ByteSpan, Bitmap&), const std::vector<Expected>& cases) {
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap b;
        b.setFillColor(RGB(1, 2, 3));
        ASSERT_EQ(ErrorOf(read, c.file, b), "");
        EXPECT_EQ(b.fillColor(), RGB(1, 2, 3));
        ASSERT_EQ(b.bitsPerPixel(), c.bitsPerPixel);
        ASSERT_EQ(b.width(), c.width);
        ASSERT_EQ(b.height(), c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                EXPECT_EQ(b.pixel(x, y), c.pixels[std::size_t(y) * std::size_t(c.width) + std::size_t(x)])
                    << std::hex << "at " << x << "," << y;
    }
}

TEST(TgaRead, TypesDepthsOriginsAndAlpha) {
    const ByteVector rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2, B,G,R
    const Color p0 = RGB(3, 2, 1), p1 = RGB(6, 5, 4), p2 = RGB(9, 8, 7), p3 = RGB(12, 11, 10);
    const Color red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255), white = kWhite;
    const ByteVector map24 = {10, 20, 30, 40, 50, 60};  // two entries, B,G,R
    const Color e0 = RGB(30, 20, 10), e1 = RGB(60, 50, 40);
    const std::vector<Expected> cases = {
        {"bottom-up", Tga(2, 24, 0, 2, 2, rows), 24, 2, 2, {p2, p3, p0, p1}},
        {"top-down", Tga(2, 24, 0x20, 2, 2, rows), 24, 2, 2, {p0, p1, p2, p3}},
        {"top-down right to left", Tga(2, 24, 0x30, 2, 2, rows), 24, 2, 2, {p1, p0, p3, p2}},
        {"bottom-up right to left", Tga(2, 24, 0x10, 2, 2, rows), 24, 2, 2, {p3, p2, p1, p0}},
        {"image ID skipped, colour map of a true-colour picture skipped",
         Tga(2, 24, 0x20, 2, 2, rows, map24, 24, 0, "hello"),
         24,
         2,
         2,
         {p0, p1, p2, p3}},
        {"run-length packets crossing rows",
         Tga(10, 24, 0x20, 3, 2, {0x83, 0, 0, 255, 0x01, 0, 255, 0, 255, 0, 0}),
         24,
         3,
         2,
         {red, red, red, red, green, blue}},
        {"run past the picture's end", Tga(10, 24, 0x20, 2, 1, {0x84, 0, 0, 255}), 24, 2, 1, {red, red}},
        {"raw packet past the picture's end", Tga(10, 24, 0x20, 1, 1, {0x01, 0, 0, 255, 0, 255}), 24, 1, 1, {red}},
        {"16 bits without attribute bits: bit 15 not alpha",
         Tga(2, 16, 0x20, 3, 1, LE16s({0x7C00, 0x03E0, 0x0421})),
         24,
         3,
         1,
         {red, green, Grey(8)}},
        {"15 bits", Tga(2, 15, 0x21, 2, 1, LE16s({0x001F, 0x8010})), 24, 2, 1, {blue, RGB(0, 0, 132)}},
        {"16 bits with an attribute bit", Tga(2, 16, 0x21, 2, 1, LE16s({0x001F, 0x801F})), 24, 2, 1, {white, blue}},
        {"16 bits, attribute bits all 0", Tga(2, 16, 0x21, 2, 1, LE16s({0x001F, 0x001F})), 24, 2, 1, {blue, blue}},
        {"32 bits, alpha on white",
         Tga(2, 32, 0x28, 2, 1, {10, 20, 30, 0, 10, 20, 30, 128}),
         24,
         2,
         1,
         {white, RGB(OnWhite(30, 128), OnWhite(20, 128), OnWhite(10, 128))}},
        {"32 bits, alpha all 0",
         Tga(10, 32, 0x20, 2, 1, {0x81, 10, 20, 30, 0}),
         24,
         2,
         1,
         {RGB(30, 20, 10), RGB(30, 20, 10)}},
        {"grey", Tga(3, 8, 0x20, 2, 1, {0, 200}), 8, 2, 1, {Grey(0), Grey(200)}},
        {"grey with alpha, run-length",
         Tga(11, 16, 0x28, 3, 1, {0x81, 100, 128, 0x00, 100, 0}),
         8,
         3,
         1,
         {Grey(OnWhite(100, 128)), Grey(OnWhite(100, 128)), white}},
        {"colour map from entry 2; indices below and beyond it",
         Tga(1, 8, 0x20, 5, 1, {0, 1, 2, 3, 255}, map24, 24, 2),
         8,
         5,
         1,
         {kBlack, kBlack, e0, e1, kBlack}},
        {"32-bit map entries",
         Tga(9, 8, 0x20, 2, 1, {0x81, 1}, {10, 20, 30, 0, 10, 20, 30, 128}, 32),
         8,
         2,
         1,
         {RGB(OnWhite(30, 128), OnWhite(20, 128), OnWhite(10, 128)),
          RGB(OnWhite(30, 128), OnWhite(20, 128), OnWhite(10, 128))}},
        {"16-bit map entries", Tga(1, 8, 0x20, 2, 1, {1, 0}, LE16s({0x7C00, 0x03E0}), 16), 8, 2, 1, {green, red}},
        {"8-bit map entries are grey", Tga(1, 8, 0x20, 2, 1, {1, 0}, {50, 200}, 8), 8, 2, 1, {Grey(200), Grey(50)}},
        {"16-bit indices", Tga(1, 16, 0x20, 3, 1, LE16s({300, 301, 2}), map24, 24, 300), 24, 3, 1, {e0, e1, kBlack}},
    };
    CheckPixels(tga::Read, cases);

    Bitmap b;
    tga::Read(Tga(3, 8, 0x20, 1, 1, {7}), b);
    EXPECT_EQ(b.palette(), GreyPalette256());
}

TEST(TgaRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    const ByteVector rgb = {1, 2, 3, 4, 5, 6};
    auto withByte = [](ByteVector f, std::size_t at, std::uint8_t v) {
        f[at] = v;
        return f;
    };
    ByteVector huge = Tga(10, 24, 0, 30000, 30000, {0xFF, 1, 2, 3, 0xFF, 1, 2, 3});
    const test::BadFile cases[] = {
        {"header cut", ByteVector(17, 0), "TGA: file is truncated"},
        {"type 0", Tga(0, 24, 0, 2, 1, rgb), "TGA: the file holds no picture (image type 0)"},
        {"type 4", Tga(4, 24, 0, 2, 1, rgb), "TGA: image type 4 is not supported"},
        {"type 32", Tga(32, 24, 0, 2, 1, rgb), "TGA: image type 32 is not supported"},
        {"colour-map type 2", withByte(Tga(2, 24, 0, 2, 1, rgb), 1, 2), "TGA: colour-map type 2 is not supported"},
        {"8-bit true colour", Tga(2, 8, 0, 2, 1, rgb), "TGA: 8 bits per pixel are not supported for image type 2"},
        {"24-bit grey", Tga(11, 24, 0, 2, 1, rgb), "TGA: 24 bits per pixel are not supported for image type 11"},
        {"width 0", Tga(2, 24, 0, 0, 1, rgb), "TGA: the picture has no pixels"},
        {"colour-mapped without a map", Tga(1, 8, 0, 2, 1, {0, 0}), "TGA: the colour-mapped picture has no colour map"},
        {"map entry size 0", withByte(Tga(1, 8, 0, 1, 1, {0}, {1, 2, 3}), 7, 0),
         "TGA: colour-map entry size 0 is not supported"},
        {"map cut short", withByte(Tga(1, 8, 0, 1, 1, {}, {1, 2, 3}), 5, 2), "TGA: file is truncated (colour map)"},
        {"image ID past the end", withByte(Tga(2, 24, 0, 1, 1, {1, 2, 3}), 0, 200), "TGA: file is truncated"},
        {"raw pixels cut short", Tga(2, 24, 0, 2, 1, {1, 2, 3, 4, 5}), "TGA: file is truncated"},
        {"run-length packets missing", Tga(10, 24, 0, 3, 1, {0x81, 1, 2, 3}), "TGA: file is truncated"},
        {"raw packet cut short", Tga(10, 24, 0, 3, 1, {0x02, 1, 2, 3, 4}), "TGA: file is truncated"},
        {"huge picture from a few packets", huge, "TGA: file is truncated"},
    };
    test::ExpectErrorsKeepBitmap(tga::Read, cases);
}

TEST(PcxRead, DepthsPlanesAndPalettes) {
    const Color red = RGB(255, 0, 0), blue = RGB(0, 0, 255), white = kWhite, black = kBlack;
    const ByteVector redBlue = {255, 0, 0, 0, 0, 255};
    ByteVector sixteen;  // entry i = (16 i, 255 - 16 i, i)
    for (unsigned i = 0; i < 16; ++i)
        sixteen.insert(sixteen.end(), {std::uint8_t(16 * i), std::uint8_t(255 - 16 * i), std::uint8_t(i)});
    auto entry = [](unsigned i) { return RGB(16 * i, 255 - 16 * i, i); };
    const ByteVector bits10 = {0xA0, 0x40};  // 1 0 1 0 0 0 0 0 | 0 1
    auto row10 = [](Color zero, Color one) {
        return std::vector<Color>{one, zero, one, zero, zero, zero, zero, zero, zero, one};
    };
    ByteVector withBlock = Pcx(0, 1, 1, 2, 10, 1, bits10);
    Append(withBlock, PaletteBlock(redBlue));
    ByteVector eightBits = Pcx(1, 8, 1, 3, 2, 2, {0xC4, 7, 8, 9});  // a run crossing the lines; padding bytes
    Append(eightBits, PaletteBlock({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
    const std::vector<Expected> cases = {
        {"1 bit, header palette", Pcx(0, 1, 1, 2, 10, 1, bits10, redBlue), 1, 10, 1, row10(red, blue)},
        {"1 bit, palette block after the data", withBlock, 1, 10, 1, row10(red, blue)},
        {"1 bit, no palette: black and white", Pcx(1, 1, 1, 2, 10, 1, {0xA0, 0x40}), 1, 10, 1, row10(black, white)},
        {"1 bit, 4 planes",
         Pcx(0, 1, 4, 1, 3, 1, {0x80, 0x40, 0x20, 0xE0}, sixteen),
         4,
         3,
         1,
         {entry(9), entry(10), entry(12)}},
        {"1 bit, 3 planes, window from x 5",
         Pcx(0, 1, 3, 1, 2, 1, {0x80, 0x40, 0xC0}, sixteen, 5),
         4,
         2,
         1,
         {entry(5), entry(6)}},
        {"1 bit, 4 planes, no palette: EGA colours",
         Pcx(0, 1, 4, 1, 2, 1, {0x80, 0x40, 0x00, 0xC0}),
         4,
         2,
         1,
         {RGB(0x55, 0x55, 0xFF), RGB(0x55, 0xFF, 0x55)}},
        {"2 bits",
         Pcx(0, 2, 1, 2, 5, 1, {0x1B, 0xC0}, sixteen),
         4,
         5,
         1,
         {entry(0), entry(1), entry(2), entry(3), entry(3)}},
        {"4 bits, odd width", Pcx(1, 4, 1, 2, 3, 1, {0x12, 0x30}, sixteen), 4, 3, 1, {entry(1), entry(2), entry(3)}},
        {"8 bits, palette block", eightBits, 8, 2, 2, {RGB(1, 2, 3), RGB(1, 2, 3), RGB(1, 2, 3), RGB(4, 5, 6)}},
        {"8 bits, no palette block: grey", Pcx(1, 8, 1, 2, 2, 1, {0xC2, 200}), 8, 2, 1, {Grey(200), Grey(200)}},
        // 3 planes of 3 bytes (odd, one byte more than needed); a run crosses planes,
        // one has the count 0.
        {"24 bits",
         Pcx(1, 8, 3, 3, 2, 1, {0xC2, 255, 0xC3, 0, 0xC1, 0xC8, 0xC0, 5, 9, 7, 1}),
         24,
         2,
         1,
         {RGB(255, 0, 9), RGB(255, 0, 7)}},
        {"24 bits, raw", Pcx(0, 8, 3, 2, 2, 1, {1, 2, 3, 4, 5, 6}), 24, 2, 1, {RGB(1, 3, 5), RGB(2, 4, 6)}},
        {"4 planes: alpha not used",
         Pcx(0, 8, 4, 1, 1, 2, {1, 2, 3, 0, 4, 5, 6, 128}),
         24,
         1,
         2,
         {RGB(1, 2, 3), RGB(4, 5, 6)}},
    };
    CheckPixels(pcx::Read, cases);
}

TEST(PcxRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    ByteVector intoBlock = Pcx(1, 8, 1, 4, 4, 1, {0xC3, 1});
    Append(intoBlock, PaletteBlock({}));
    ByteVector wrongMaker = Pcx(0, 8, 1, 1, 1, 1, {0});
    wrongMaker[0] = 11;
    ByteVector emptyWindow = Pcx(0, 8, 1, 1, 1, 1, {0});
    emptyWindow[8] = 0, emptyWindow[4] = 1;  // xmin 1, xmax 0
    const test::BadFile cases[] = {
        {"header cut", ByteVector(127, 10), "PCX: file is truncated"},
        {"manufacturer 11", wrongMaker, "PCX: not a PCX file (manufacturer 11)"},
        {"encoding 2", Pcx(2, 8, 1, 1, 1, 1, {0}), "PCX: encoding 2 is not supported"},
        {"8 bits in 2 planes", Pcx(1, 8, 2, 1, 1, 1, {0, 0}), "PCX: 8 bits per pixel in 2 planes are not supported"},
        {"1 bit in 5 planes", Pcx(1, 1, 5, 1, 1, 1, {0}), "PCX: 1 bits per pixel in 5 planes are not supported"},
        {"empty window", emptyWindow, "PCX: the picture has no pixels"},
        {"bytes per line too few", Pcx(1, 1, 1, 1, 9, 1, {0, 0}),
         "PCX: bytes per line (1) are too few for the width 9"},
        {"raw data cut short", Pcx(0, 8, 3, 2, 2, 1, {1, 2, 3, 4, 5}), "PCX: file is truncated"},
        {"run without its value", Pcx(1, 8, 1, 2, 2, 1, {0xC2}), "PCX: file is truncated"},
        {"run-length data cut short", Pcx(1, 8, 1, 2, 2, 2, {0xC3, 1}), "PCX: file is truncated"},
        {"data running into the palette block", intoBlock, "PCX: file is truncated"},
        {"huge picture from a few runs", Pcx(1, 8, 1, 60000, 60000, 16000, {0xFF, 1, 0xFF, 2}),
         "PCX: file is truncated"},
    };
    test::ExpectErrorsKeepBitmap(pcx::Read, cases);
}

// ---------------------------------------------------------------------------
// Our own writers

// 150 x 5: rows of flat colour (runs longer than any packet) between gradient rows.
Bitmap RoundTripPicture() {
    Bitmap b = test::Gradient(150, 5, 3);
    for (int x = 0; x < 150; ++x) b.setPixel(x, 1, RGB(200, 10, 90)), b.setPixel(x, 3, x < 70 ? kWhite : kBlack);
    return b;
}

TEST(TgaPcxRoundTrip, OwnFilesReadBackAtEveryDepth) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        Bitmap source = RoundTripPicture();
        source.setBitsPerPixel(bpp);
        if (bpp == 1) source.setPalette({RGB(200, 10, 90), RGB(10, 250, 3)});  // carried by the palette block
        for (const ProbingReader& r : kReaders) {
            SCOPED_TRACE(std::string(r.name) + " at " + std::to_string(bpp) + " bits");
            const ByteVector file = r.name == std::string("TGA") ? tga::Write(source) : pcx::Write(source);
            ASSERT_TRUE(Accepts(r, file));
            Bitmap b;
            r.read(file, b);
            const int expected = r.name == std::string("TGA") ? (bpp <= 8 ? 8 : 24) : (bpp == 1 || bpp == 8 ? bpp : 24);
            EXPECT_EQ(b.bitsPerPixel(), expected);
            ASSERT_EQ(b.width(), source.width());
            ASSERT_EQ(b.height(), source.height());
            // Targa keeps 5 bits of green where our 16-bit pixels have 6, and scales its
            // 5-bit levels on its own.
            const int tolerance = bpp == 16 && r.name == std::string("TGA") ? 8 : 0;
            int differing = 0;
            for (int y = 0; y < b.height(); ++y)
                for (int x = 0; x < b.width(); ++x) {
                    const Color s = source.pixel(x, y), d = b.pixel(x, y);
                    if (std::abs(int(GetR(s)) - int(GetR(d))) > tolerance ||
                        std::abs(int(GetG(s)) - int(GetG(d))) > tolerance ||
                        std::abs(int(GetB(s)) - int(GetB(d))) > tolerance)
                        ++differing;
                }
            EXPECT_EQ(differing, 0);
        }
    }
}

// ---------------------------------------------------------------------------
// ImageMagick

// ImageMagick keeps a Targa file's rows in stored order and only notes the origin, so
// its reading is turned upright before the comparison.
const char* const kUpright = " -auto-orient";

TEST(TgaPcxFromImageMagick, DecodeAsImageMagickDoes) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    const std::string alpha = " -alpha set -channel A -fx '(i+j)/(w+h)' +channel";
    struct Case {
        const char* name;
        std::string options;
        const char* format;
        int bitsPerPixel;
        bool probed;               // ImageMagick's Targa header leaves the entry size 0 without a map
        const char* compare = "";  // options of the comparison reading
    };
    const std::vector<Case> cases = {
        {"tga", "", "tga", 24, false},
        {"tga-rle", "-compress RLE", "tga", 24, false},
        {"tga-palette", "-type Palette", "tga", 8, true},
        {"tga-palette-rle", "-type Palette -compress RLE", "tga", 8, true},
        {"tga-grey", "-type Grayscale", "tga", 8, false},
        {"tga-grey-rle", "-type Grayscale -compress RLE", "tga", 8, false},
        {"tga-alpha", alpha, "tga", 24, false},
        {"tga-alpha-rle", alpha + " -compress RLE", "tga", 24, false},
        {"pcx", "", "pcx", 24, true},
        {"pcx-palette", "-type Palette", "pcx", 8, true},
        {"pcx-monochrome", "-monochrome", "pcx", 24, true},
        // ImageMagick writes its four planes, and reads the file back with alpha.
        {"pcx-alpha", alpha, "pcx", 24, true, " -alpha off"},
        // ImageMagick's 1-bit files have bit 1 for black, against their own header
        // palette (0 black, 1 white), and it reads them back the same way: by the
        // header palette, its reading is the negative.
        {"pcx-1-bit", "-monochrome -type PaletteMatte", "pcx", 1, true, " -negate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".xyz");
        const test::CommandResult made =
            test::RunCommand("convert rose: " + c.options + " " + c.format + ":" + test::Quote(path));
        ASSERT_EQ(made.status, 0) << made.output;
        const ByteVector bytes = ReadBytes(path);
        const bool isTga = std::string(c.format) == "tga";
        const ProbingReader& reader = isTga ? kReaders[0] : kReaders[1];
        EXPECT_EQ(Accepts(reader, bytes), c.probed);
        if (isTga) {
            EXPECT_FALSE(Accepts(kReaders[1], bytes));
        }
        Bitmap b;
        reader.read(bytes, b);
        EXPECT_EQ(b.bitsPerPixel(), c.bitsPerPixel);
        std::vector<std::uint8_t> rgb;
        // Targa has no signature: ImageMagick must be told the format.
        ASSERT_TRUE(
            ImageMagickRgb("convert " + test::Quote(std::string(c.format) + ":" + path) + c.compare + kUpright, rgb));
        EXPECT_EQ(CountDifferences(b, rgb), 0);
    }
}

// ---------------------------------------------------------------------------
// The shared corpus

TEST(TgaPcxCorpus, EveryFileLoadsOrGivesAnError) {
    int folders = 0;
    for (const ProbingReader& r : kReaders) {
        const std::string folder = r.name == std::string("TGA") ? "tga" : "pcx";
        const std::string dir = CorpusDir(folder);
        if (dir.empty()) continue;
        ++folders;
        for (const auto& path : FilesIn(dir)) {
            const ByteVector bytes = ReadBytes(path.string());
            Bitmap b;
            const std::string error = ErrorOf(r.read, bytes, b);
            EXPECT_TRUE(error.empty() || error.rfind(std::string(r.name) + ": ", 0) == 0) << error;
            std::cout << "  " << folder << "/" << path.filename().string() << ": "
                      << (Accepts(r, bytes) ? "recognised" : "not recognised") << ", "
                      << (error.empty() ? std::to_string(b.width()) + " x " + std::to_string(b.height()) + ", " +
                                              std::to_string(b.bitsPerPixel()) + " bits"
                                        : error)
                      << "\n";
        }
    }
    if (folders == 0) GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
}

TEST(TgaPcxCorpus, GoodFilesMatchImageMagick) {
    if (CorpusDir("tga").empty() || CorpusDir("pcx").empty())
        GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // Not compared: the grey-and-alpha Targa files (la), which ImageMagick 6 does not
    // decode, p_8.tga, which is only a header, and the 1-bit PCX, which it shows as
    // its negative.
    std::vector<std::string> files;
    for (const auto& path : FilesIn(CorpusDir("tga")))
        if (path.filename().string().find("_la_") == std::string::npos && path.filename() != "la.tga" &&
            path.filename() != "p_8.tga")
            files.push_back("tga/" + path.filename().string());
    for (const char* name : {"odd_stride.pcx", "p_4_planes.pcx"}) files.push_back(std::string("pcx/") + name);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string path = std::string(PICTORIX_CORPUS_DIR) + "/" + file;
        Bitmap b;
        (file.rfind("tga", 0) == 0 ? tga::Read : pcx::Read)(ReadBytes(path), b);
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(ImageMagickRgb("convert " + test::Quote(path) + kUpright, rgb));
        EXPECT_EQ(CountDifferences(b, rgb), 0);
    }
}

// The corpus holds each Targa picture with both origins, verbatim and run-length
// encoded: all four must read alike, the grey-and-alpha ones included.
TEST(TgaPcxCorpus, TargaVariantsOfOnePictureAgree) {
    const std::string dir = CorpusDir("tga");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
    for (const char* kind : {"l", "la", "p", "rgb", "rgba"}) {
        Bitmap first;
        for (const char* variant : {"bl_raw", "bl_rle", "tl_raw", "tl_rle"}) {
            const std::string name = std::string("200x32_") + kind + "_" + variant + ".tga";
            SCOPED_TRACE(name);
            Bitmap b;
            tga::Read(ReadBytes(dir + "/" + name), b);
            if (first.empty()) {
                first = b;
                continue;
            }
            ASSERT_EQ(b.width(), first.width());
            ASSERT_EQ(b.height(), first.height());
            int differing = 0;
            for (int y = 0; y < b.height(); ++y)
                for (int x = 0; x < b.width(); ++x) differing += b.pixel(x, y) != first.pixel(x, y);
            EXPECT_EQ(differing, 0);
        }
    }
}

TEST(TgaPcxCorpus, OneBitPcxFollowsItsHeaderPalette) {
    const std::string dir = CorpusDir("pcx");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
    // A signature in black on white: header palette entry 0 black, 1 white.
    Bitmap b;
    pcx::Read(ReadBytes(dir + "/pil184.pcx"), b);
    ASSERT_EQ(b.bitsPerPixel(), 1);
    EXPECT_EQ(b.palette(), BlackWhitePalette());
    int white = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) white += b.pixel(x, y) == kWhite;
    EXPECT_GT(white, b.width() * b.height() * 3 / 4);
}

// ---------------------------------------------------------------------------
// Damaged files

struct Fixture {
    std::string name;
    const ProbingReader* reader;
    ByteVector bytes;
};

std::vector<Fixture> Fixtures() {
    std::vector<Fixture> f;
    ByteVector rgb(4 * 3 * 3), grey(4 * 3 * 2);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 11);
    f.push_back({"tga true colour", &kReaders[0], Tga(2, 24, 0x30, 4, 3, rgb, {1, 2, 3, 4, 5, 6}, 24, 0, "id")});
    f.push_back({"tga grey alpha", &kReaders[0], Tga(3, 16, 0x08, 4, 3, grey)});
    f.push_back(
        {"tga 16-bit indices", &kReaders[0], Tga(1, 16, 0, 3, 1, LE16s({300, 301, 2}), {1, 2, 3, 4, 5, 6}, 24, 300)});
    f.push_back(
        {"tga run-length mapped", &kReaders[0],
         Tga(9, 8, 0x20, 4, 3, {0x85, 1, 0x02, 0, 1, 2, 0x83, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 32, 1)});
    f.push_back({"tga run-length 16 bits", &kReaders[0],
                 Tga(10, 16, 0x21, 4, 3, {0x87, 1, 0x80, 0x03, 1, 2, 3, 4, 5, 6, 7, 8})});
    f.push_back(
        {"pcx 4 planes", &kReaders[1], Pcx(1, 1, 4, 2, 9, 3, {0xC5, 0xAA, 0xC1, 0xC3, 0x0F, 0xC9, 0x11, 0xCF, 0x55})});
    f.push_back({"pcx 2 bits", &kReaders[1], Pcx(0, 2, 1, 2, 5, 2, {0x1B, 0xC0, 0xE4, 0x80})});
    ByteVector eight = Pcx(1, 8, 1, 5, 5, 3, {0xCF, 7});
    Append(eight, PaletteBlock({1, 2, 3}));
    f.push_back({"pcx 8 bits", &kReaders[1], eight});
    ByteVector one = Pcx(1, 1, 1, 2, 10, 2, {0xC4, 0x5A});
    Append(one, PaletteBlock({255, 0, 0, 0, 0, 255}));
    f.push_back({"pcx 1 bit", &kReaders[1], one});
    Bitmap picture = test::Gradient(9, 4);
    for (int bpp : {1, 8, 16, 24, 32}) {
        Bitmap c = picture;
        c.setBitsPerPixel(bpp);
        f.push_back({"our tga " + std::to_string(bpp), &kReaders[0], tga::Write(c)});
        f.push_back({"our pcx " + std::to_string(bpp), &kReaders[1], pcx::Write(c)});
    }
    for (const ProbingReader& r : kReaders) {
        const std::string folder = r.name == std::string("TGA") ? "tga" : "pcx";
        const std::string dir = CorpusDir(folder);
        if (dir.empty()) continue;
        for (const auto& path : FilesIn(dir))
            f.push_back({folder + "/" + path.filename().string(), &r, ReadBytes(path.string())});
    }
    return f;
}

// Every fixture cut at every length (at spread points beyond the first 2000 bytes) and
// with random bytes changed: the reader gives a picture or an Error, never anything
// else (and, under the sanitizers, never touches memory outside its buffers).
TEST(TgaPcxDamaged, TruncatedAndCorruptedFilesGiveAPictureOrAnError) {
    std::mt19937 random(20240612);
    int errors = 0;
    for (const Fixture& f : Fixtures()) {
        SCOPED_TRACE(f.name);
        if (f.name.find('/') == std::string::npos) {
            Bitmap b;
            ASSERT_EQ(ErrorOf(f.reader->read, f.bytes, b), "") << "the fixture itself must be good";
        }
        // Half of the changes hit the header (and the Targa colour map).
        const test::Damage damage{2000, 200, 300, 140};
        errors += test::ReadDamaged(f.reader->read, f.reader->name, test::DamagedCopies(f.bytes, damage, random));
    }
    EXPECT_GT(errors, 0);
}

}  // namespace
}  // namespace pictorix
