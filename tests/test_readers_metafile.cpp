// Tests of the metafile reader: placeable WMF and EMF played by our own player.
//
// Our writers' files must come back pixel for pixel at every depth; hand-built records
// (shapes, pens and brushes, fill modes, paths, mapping, bitmaps) must land on known
// pixels as GDI draws them; a hand-built drawing and the corpus drawings must look as
// ImageMagick (libwmf) and LibreOffice show them, within anti-aliasing. Every fixture
// is truncated at every length and corrupted at random, which must only ever give an
// error.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "core/rounding.h"
#include "pictureio/codecs/bmp.h"
#include "pictureio/codecs/codec.h"
#include "pictureio/codecs/metafile.h"
#include "pictureio/codecs/png.h"
#include "test_util.h"

namespace pictorix {
namespace {

namespace fs = std::filesystem;
using test::HaveCommand;
using test::Quote;
using test::RunCommand;
using test::TempDir;

constexpr Color kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);
constexpr Color kGrey = RGB(128, 128, 128);  // what lies under the metafile

ByteVector ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const ByteVector& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A gradient framed in black, in the given pixel format.
Bitmap Picture(int bpp, int width = 37, int height = 23) {
    Bitmap b = test::Gradient(width, height, bpp);
    for (int x = 0; x < width; ++x) b.setPixel(x, 0, kBlack), b.setPixel(x, height - 1, kBlack);
    for (int y = 0; y < height; ++y) b.setPixel(0, y, kBlack), b.setPixel(width - 1, y, kBlack);
    b.setBitsPerPixel(bpp);
    return b;
}

// A bitmap of one colour, to draw on.
Bitmap Filled(int width, int height, Color c, int bpp = 24) {
    Bitmap b(width, height, 24);
    b.fill(c);
    b.setBitsPerPixel(bpp);
    return b;
}

// The DIB of a picture: its BMP file without the 14-byte file header.
ByteVector Dib(const Bitmap& b) {
    const ByteVector file = bmp::Write(b);
    return ByteVector(file.begin() + 14, file.end());
}

// ---------------------------------------------------------------------------
// Hand-built placeable WMF. Record parameters are 16-bit words in file order, which
// for most records is the reverse of the drawing call's arguments.

struct Wmf {
    explicit Wmf(int right = 40, int bottom = 40, int unitsPerInch = 96, int left = 0, int top = 0)
        : left(left), top(top), right(right), bottom(bottom), unitsPerInch(unitsPerInch) {}
    int left, top, right, bottom, unitsPerInch;
    ByteVector records;
    std::uint32_t largest = 3;  // words of the largest record


    Wmf& rec(unsigned function, std::initializer_list<int> words, const ByteVector& tail = {}) {
        const auto size = static_cast<std::uint32_t>(3 + words.size() + tail.size() / 2);
        largest = std::max(largest, size);
        PutLE32(records, size);
        PutLE16(records, function);
        for (int w : words) PutLE16(records, static_cast<unsigned>(w) & 0xFFFF);
        records.insert(records.end(), tail.begin(), tail.end());
        return *this;
    }
    Wmf& pen(int style, int width, Color c) { return rec(0x02FA, {style, width, 0, int(c & 0xFFFF), int(c >> 16)}); }
    Wmf& brush(int style, Color c, int hatch = 0) { return rec(0x02FC, {style, int(c & 0xFFFF), int(c >> 16), hatch}); }
    Wmf& select(int index) { return rec(0x012D, {index}); }
    Wmf& rectangle(int l, int t, int r, int b) { return rec(0x041B, {b, r, t, l}); }
    Wmf& ellipse(int l, int t, int r, int b) { return rec(0x0418, {b, r, t, l}); }
    Wmf& polyPolygon(const std::vector<std::vector<std::pair<int, int>>>& polygons) {
        std::vector<int> words = {int(polygons.size())};
        for (const auto& p : polygons) words.push_back(int(p.size()));
        for (const auto& p : polygons)
            for (const auto& [x, y] : p) words.push_back(x), words.push_back(y);
        const auto size = static_cast<std::uint32_t>(3 + words.size());
        largest = std::max(largest, size);
        PutLE32(records, size);
        PutLE16(records, 0x0538);
        for (int w : words) PutLE16(records, static_cast<unsigned>(w) & 0xFFFF);
        return *this;
    }

    ByteVector bytes() const {
        ByteVector out;
        PutLE32(out, 0x9AC6CDD7);
        PutLE16(out, 0);
        for (int v : {left, top, right, bottom, unitsPerInch}) PutLE16(out, static_cast<unsigned>(v) & 0xFFFF);
        PutLE32(out, 0);
        unsigned checksum = 0;
        for (std::size_t i = 0; i < 20; i += 2) checksum ^= ReadLE16(out, i);
        PutLE16(out, checksum);
        const std::uint32_t words = 9 + static_cast<std::uint32_t>(records.size() / 2) + 3;
        PutLE16(out, 1);
        PutLE16(out, 9);
        PutLE16(out, 0x0300);
        PutLE32(out, words);
        PutLE16(out, 8);  // objects
        PutLE32(out, largest);
        PutLE16(out, 0);
        out.insert(out.end(), records.begin(), records.end());
        PutLE32(out, 3);  // META_EOF
        PutLE16(out, 0);
        return out;
    }
};

// ---------------------------------------------------------------------------
// Hand-built EMF on the writer's reference device (96 dpi): logical units are pixels
// unless a record maps them otherwise.

struct Emf {
    int width = 40, height = 40;
    ByteVector records;
    int count = 0;

    Emf& raw(std::uint32_t type, const ByteVector& payload) {
        PutLE32(records, type);
        PutLE32(records, static_cast<std::uint32_t>(8 + payload.size()));
        records.insert(records.end(), payload.begin(), payload.end());
        ++count;
        return *this;
    }
    Emf& rec(std::uint32_t type, std::initializer_list<long long> fields) {
        ByteVector payload;
        for (long long f : fields) PutLE32(payload, static_cast<std::uint32_t>(f));
        return raw(type, payload);
    }

    ByteVector bytes() const {
        auto hundredths = [](int px) { return RoundToInt64(px * 2540.0 / 96); };
        ByteVector out;
        const std::uint32_t total = 108 + static_cast<std::uint32_t>(records.size()) + 20;
        for (long long v : {1LL, 108LL, 0LL, 0LL, width - 1LL, height - 1LL, 0LL, 0LL, hundredths(width) - 1,
                            hundredths(height) - 1, 0x464D4520LL, 0x10000LL, (long long)total, count + 2LL})
            PutLE32(out, static_cast<std::uint32_t>(v));
        PutLE16(out, 8);  // handles
        PutLE16(out, 0);
        for (long long v : {0LL, 0LL, 0LL, 1920LL, 1440LL, 508LL, 381LL, 0LL, 0LL, 0LL, 508000LL, 381000LL})
            PutLE32(out, static_cast<std::uint32_t>(v));
        out.insert(out.end(), records.begin(), records.end());
        for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) PutLE32(out, v);
        return out;
    }
};

constexpr std::uint32_t kEmrPolygon = 3, kEmrSetMapMode = 17, kEmrSetWindowExtEx = 9, kEmrSetViewportExtEx = 11,
                        kEmrMoveToEx = 27, kEmrSelectObject = 37, kEmrCreateBrushIndirect = 39, kEmrEllipse = 42,
                        kEmrRectangle = 43, kEmrLineTo = 54, kEmrBeginPath = 59, kEmrEndPath = 60,
                        kEmrCloseFigure = 61, kEmrStrokeAndFillPath = 63, kEmrBitBlt = 76, kEmrStretchDiBits = 81,
                        kEmrExtCreatePen = 95;
constexpr long long kNullPen = 0x80000008, kBlackBrush = 0x80000004;

// EMR_STRETCHDIBITS of a whole DIB (or of the source rectangle given) into x,y,w,h.
Emf& StretchDiBits(Emf& emf, const Bitmap& picture, int x, int y, int w, int h, std::vector<int> source = {}) {
    const ByteVector dib = Dib(picture);
    const std::uint32_t infoSize = ReadLE32(bmp::Write(picture), 10) - 14;
    if (source.empty()) source = {0, 0, picture.width(), picture.height()};
    ByteVector p;
    for (long long v : {0LL, 0LL, 0LL, 0LL, (long long)x, (long long)y, (long long)source[0], (long long)source[1],
                        (long long)source[2], (long long)source[3], 80LL, (long long)infoSize, 80LL + infoSize,
                        (long long)(dib.size() - infoSize), 0LL, 0x00CC0020LL, (long long)w, (long long)h})
        PutLE32(p, static_cast<std::uint32_t>(v));
    p.insert(p.end(), dib.begin(), dib.end());
    return emf.raw(kEmrStretchDiBits, p);
}

Bitmap ReadOnto(const ByteVector& file, Bitmap out) {
    metafile::Read(file, out);
    return out;
}

struct Probe {
    int x, y;
    Color expected;
};

void ExpectPixels(const Bitmap& b, const std::vector<Probe>& probes) {
    for (const Probe& p : probes)
        EXPECT_EQ(b.pixel(p.x, p.y), p.expected) << "at " << p.x << "," << p.y;
}

// ---------------------------------------------------------------------------
// Our writers' files

TEST(MetafileRead, OurWritersFilesComeBackPixelForPixel) {
    for (const auto& [width, height] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{300, 2}})
        for (int bpp : {1, 4, 8, 16, 24, 32}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " at " + std::to_string(bpp));
            const Bitmap picture = Picture(bpp, width, height);
            for (const ByteVector& file : {metafile::WriteWmf(picture), metafile::WriteEmf(picture)}) {
                const Bitmap b = ReadOnto(file, Bitmap());
                ASSERT_EQ(b.width(), width);
                ASSERT_EQ(b.height(), height);
                EXPECT_EQ(b.bitsPerPixel(), 24);
                int wrong = 0;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) wrong += b.pixel(x, y) != picture.pixel(x, y);
                EXPECT_EQ(wrong, 0);
            }
        }
}

TEST(MetafileRead, DrawsOntoTheBitmapInItsOwnPixelFormat) {
    // A 12 x 6 metafile that fills only 2,1 .. 8,2 with red (a rectangle to 10,4 without
    // a pen), read onto an 8 x 10 grey picture: the height shrinks, the width grows into
    // the fill colour, the pixels that the metafile leaves alone keep what was there.
    const ByteVector wmf = Wmf(12, 6).pen(5, 0, 0).brush(0, kRed).select(0).select(1).rectangle(2, 1, 10, 4).bytes();
    for (int bpp : {24, 8, 4, 16}) {
        SCOPED_TRACE(bpp);
        Bitmap start = Filled(8, 10, kGrey, bpp);
        start.setFillColor(kBlue);
        const Bitmap b = ReadOnto(wmf, start);
        EXPECT_EQ(b.bitsPerPixel(), bpp);
        ASSERT_EQ(b.width(), 12);
        ASSERT_EQ(b.height(), 6);
        if (bpp <= 8) {
            EXPECT_EQ(b.palette(), start.palette());
        }
        const Color grey = start.pixel(0, 0);  // as the format holds it
        ExpectPixels(b, {{0, 0, grey}, {7, 5, grey}, {8, 5, kBlue}, {11, 0, kBlue}, {2, 1, kRed}, {8, 2, kRed},
                         {9, 2, kBlue}, {2, 3, grey}, {7, 3, grey}});
    }
}

TEST(MetafileRead, RefusesWhatIsNotAValidMetafile) {
    const ByteVector wmf = metafile::WriteWmf(Picture(24, 5, 4));
    const ByteVector emf = metafile::WriteEmf(Picture(24, 5, 4));
    ByteVector badChecksum = wmf;
    badChecksum[20] ^= 1;
    ByteVector badKey = wmf;
    badKey[0] ^= 1;
    const ByteVector withoutPlaceable(wmf.begin() + 22, wmf.end());
    ByteVector zeroUnits = Wmf(10, 10, 0).bytes();
    ByteVector emptyBox = Wmf(5, 9, 96, 5, 5).bytes();
    ByteVector badSignature = emf;
    badSignature[41] = 'X';
    ByteVector emfShortHeader = emf;
    emfShortHeader.resize(60);
    ByteVector emptyFrame = emf;
    for (std::size_t at = 8; at < 40; ++at) emptyFrame[at] = at >= 16 && at < 24 ? 0xFF : 0;  // bounds right, bottom -1
    const ByteVector text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};

    const std::vector<std::pair<ByteVector, std::string>> cases = {
        {badChecksum, "WMF: the placeable header's checksum is"},
        {badKey, "WMF: not a Windows metafile or an enhanced metafile"},
        {withoutPlaceable, "WMF: not a valid metafile: the placeable header (key 0x9AC6CDD7) is missing"},
        {zeroUnits, "WMF: the placeable header gives 0 units per inch"},
        {emptyBox, "WMF: the placeable bounding box is empty"},
        {badSignature, "EMF: the header has no \" EMF\" signature"},
        {emfShortHeader, "EMF: file is truncated"},
        {emptyFrame, "EMF: the picture has no size"},
        {text, "WMF: not a Windows metafile or an enhanced metafile"},
        {{}, "WMF: not a Windows metafile or an enhanced metafile"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(message);
        Bitmap b = Filled(3, 2, kGrey);
        try {
            metafile::Read(file, b);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
        EXPECT_EQ(b.width(), 3);  // left as it was
        EXPECT_EQ(b.pixel(2, 1), kGrey);
    }
}

// ---------------------------------------------------------------------------
// Drawing records

TEST(MetafileRead, RectanglesEllipsesAndPolygonsLandOnGdiPixels) {
    struct Case {
        const char* name;
        ByteVector file;
        std::vector<Probe> probes;
    };
    constexpr Color o = kGrey;
    const std::vector<Case> cases = {
        // A 1-pixel pen draws on the rectangle's outermost pixels 2..11 x 3..8; the brush fills inside.
        {"rectangle with pen and brush",
         Wmf().pen(0, 0, kBlue).brush(0, kRed).select(0).select(1).rectangle(2, 3, 12, 9).bytes(),
         {{2, 3, kBlue}, {11, 3, kBlue}, {11, 8, kBlue}, {2, 8, kBlue}, {5, 5, kRed}, {10, 7, kRed}, {12, 5, o},
          {5, 9, o}, {1, 5, o}}},
        // Without a pen the fill is one pixel short on the right and bottom, as in GDI.
        {"rectangle without pen",
         Wmf().pen(5, 0, 0).brush(0, kRed).select(0).select(1).rectangle(2, 3, 12, 9).bytes(),
         {{2, 3, kRed}, {10, 7, kRed}, {11, 5, o}, {5, 8, o}}},
        // A geometric pen 4 units wide straddles the outline.
        {"wide pen",
         Wmf().pen(0, 4, kBlue).brush(1, 0).select(0).select(1).rectangle(10, 10, 31, 31).bytes(),
         {{10, 20, kBlue}, {8, 20, kBlue}, {11, 20, kBlue}, {7, 20, o}, {13, 20, o}, {20, 20, o}, {30, 20, kBlue}}},
        {"ellipse",
         Wmf().pen(5, 0, 0).brush(0, kGreen).select(0).select(1).ellipse(0, 0, 40, 20).bytes(),
         {{20, 10, kGreen}, {3, 10, kGreen}, {36, 10, kGreen}, {20, 1, kGreen}, {1, 1, o}, {38, 18, o}, {20, 25, o}}},
        {"hatched brush on a transparent background",
         Wmf().pen(5, 0, 0).brush(2, kBlue, 0).select(0).select(1).rec(0x0102, {1}).rectangle(0, 0, 20, 20).bytes(),
         {{3, 0, kBlue}, {3, 8, kBlue}, {3, 1, o}, {3, 7, o}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectPixels(ReadOnto(c.file, Filled(40, 40, kGrey)), c.probes);
    }

    // Two overlapping squares in one poly-polygon: the alternate rule leaves the overlap
    // out, the winding rule fills it.
    const std::vector<std::vector<std::pair<int, int>>> squares = {{{0, 0}, {20, 0}, {20, 20}, {0, 20}},
                                                                   {{10, 10}, {30, 10}, {30, 30}, {10, 30}}};
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode == 1 ? "alternate" : "winding");
        const ByteVector wmf =
            Wmf().pen(5, 0, 0).brush(0, kRed).select(0).select(1).rec(0x0106, {mode}).polyPolygon(squares).bytes();
        ExpectPixels(ReadOnto(wmf, Filled(40, 40, kGrey)),
                     {{5, 5, kRed}, {25, 25, kRed}, {15, 15, mode == 1 ? kGrey : kRed}, {35, 5, kGrey}});
    }
}

TEST(MetafileRead, ObjectTableReusesTheLowestFreeIndex) {
    // Brush 0 (red) is deleted; the green brush created next takes index 0, so that
    // selecting 0 selects green, and index 1 is still the blue one.
    const ByteVector wmf = Wmf()
                               .pen(5, 0, 0)   // 0
                               .brush(0, kRed)  // 1
                               .brush(0, kBlue)  // 2
                               .select(0)
                               .rec(0x01F0, {1})  // delete the red brush
                               .brush(0, kGreen)  // takes 1
                               .select(1)
                               .rectangle(0, 0, 10, 10)
                               .select(2)
                               .rectangle(20, 0, 30, 10)
                               .bytes();
    ExpectPixels(ReadOnto(wmf, Filled(40, 40, kGrey)), {{5, 5, kGreen}, {25, 5, kBlue}});
}

TEST(MetafileRead, EmfMappingPathsAndStockObjects) {
    Emf mapped;
    // 100 x 100 logical units onto 40 x 40 device pixels: the rectangle 25..75 covers 10..29.
    mapped.rec(kEmrSetMapMode, {8})
        .rec(kEmrSetWindowExtEx, {100, 100})
        .rec(kEmrSetViewportExtEx, {40, 40})
        .rec(kEmrSelectObject, {kBlackBrush})
        .rec(kEmrRectangle, {25, 25, 75, 75});

    Emf path;
    // A triangle recorded as a path, stroked 4 pixels wide in blue and filled green.
    path.rec(kEmrExtCreatePen, {1, 0, 0, 0, 0, 0x00010000, 4, 0, (long long)kBlue, 0, 0})
        .rec(kEmrCreateBrushIndirect, {2, 0, (long long)kGreen, 0})
        .rec(kEmrSelectObject, {1})
        .rec(kEmrSelectObject, {2})
        .rec(kEmrBeginPath, {})
        .rec(kEmrMoveToEx, {5, 5})
        .rec(kEmrLineTo, {35, 5})
        .rec(kEmrLineTo, {20, 35})
        .rec(kEmrCloseFigure, {})
        .rec(kEmrEndPath, {})
        .rec(kEmrStrokeAndFillPath, {0, 0, 40, 40});

    Emf shapes;
    // Stock null pen and black brush; a polygon and an ellipse.
    shapes.rec(kEmrSelectObject, {kNullPen})
        .rec(kEmrSelectObject, {kBlackBrush})
        .rec(kEmrPolygon, {0, 0, 0, 0, 3, 0, 0, 20, 0, 0, 20})
        .rec(kEmrEllipse, {20, 20, 40, 40});

    ExpectPixels(ReadOnto(mapped.bytes(), Filled(40, 40, kGrey)),
                 {{10, 10, kBlack}, {29, 29, kBlack}, {9, 9, kGrey}, {30, 20, kGrey}});
    ExpectPixels(ReadOnto(path.bytes(), Filled(40, 40, kGrey)),
                 {{20, 15, kGreen}, {20, 8, kGreen}, {20, 5, kBlue}, {20, 3, kBlue}, {20, 2, kGrey}, {5, 20, kGrey}});
    ExpectPixels(ReadOnto(shapes.bytes(), Filled(40, 40, kGrey)),
                 {{2, 2, kBlack}, {15, 15, kGrey}, {30, 30, kBlack}, {21, 21, kGrey}});
}

TEST(MetafileRead, BitmapRecordsScaleMirrorAndPickTheirSourceRectangle) {
    // 2 x 2 picture, top row red, green; bottom row blue, white.
    Bitmap quad(2, 2, 24);
    quad.setPixel(0, 0, kRed), quad.setPixel(1, 0, kGreen), quad.setPixel(0, 1, kBlue), quad.setPixel(1, 1, kWhite);
    const ByteVector dib = Dib(quad);

    // META_DIBSTRETCHBLT, source 0,0 2x2 onto 4,4 8x8; a negative width mirrors.
    auto stretchBlt = [&](int x, int w) {
        return Wmf().rec(0x0B41, {0x0020, 0x00CC, 2, 2, 0, 0, 8, w, 4, x}, dib).bytes();
    };
    ExpectPixels(ReadOnto(stretchBlt(4, 8), Filled(40, 40, kGrey)),
                 {{4, 4, kRed}, {11, 4, kGreen}, {4, 11, kBlue}, {11, 11, kWhite}, {3, 4, kGrey}, {12, 12, kGrey}});
    ExpectPixels(ReadOnto(stretchBlt(12, -8), Filled(40, 40, kGrey)), {{4, 4, kGreen}, {11, 11, kBlue}});

    // StretchDIBits counts the source from the DIB's lower-left corner: 1,0 1x1 is white.
    Emf corner;
    StretchDiBits(corner, quad, 0, 0, 4, 4, {1, 0, 1, 1});
    ExpectPixels(ReadOnto(corner.bytes(), Filled(40, 40, kGrey)), {{0, 0, kWhite}, {3, 3, kWhite}, {4, 4, kGrey}});

    // A blit without a bitmap paints with the brush (PATCOPY).
    Emf pattern;
    pattern.rec(kEmrSelectObject, {kBlackBrush});
    pattern.rec(kEmrBitBlt, {0, 0, 0, 0, 5, 5, 10, 10, 0x00F00021, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0,
                             0, 0, 0, 0});
    ExpectPixels(ReadOnto(pattern.bytes(), Filled(40, 40, kGrey)), {{5, 5, kBlack}, {14, 14, kBlack}, {15, 15, kGrey}});
}

// ---------------------------------------------------------------------------
// Independent renderers

// A drawing whose shapes reach every edge of its window, so that ImageMagick, which
// fits the drawn extent to the picture, places it as the window does.
ByteVector ShapesWmf() {
    return Wmf(400, 300, 192)
        .rec(0x020C, {300, 400})  // window extent
        .pen(5, 0, 0)
        .brush(0, RGB(200, 220, 255))
        .select(0)
        .select(1)
        .rectangle(0, 0, 400, 300)
        .pen(0, 6, kBlack)
        .brush(0, kRed)
        .select(2)
        .select(3)
        .ellipse(40, 40, 200, 160)
        .brush(0, kGreen)
        .select(4)
        .polyPolygon({{{220, 260}, {380, 260}, {300, 40}}})
        .bytes();
}

int CountDifferent(const Bitmap& a, const Bitmap& b, int tolerance) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const Color p = a.pixel(x, y), q = b.pixel(x, y);
            const int d = std::max({std::abs(int(GetR(p)) - int(GetR(q))), std::abs(int(GetG(p)) - int(GetG(q))),
                                    std::abs(int(GetB(p)) - int(GetB(q)))});
            count += d > tolerance;
        }
    return count;
}

TEST(MetafileRead, ShapesLookAsImageMagickShowsThem) {
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    WriteFile(dir.file("shapes.wmf"), ShapesWmf());
    const auto r = RunCommand("convert -density 96 " + Quote(dir.file("shapes.wmf")) + " " + Quote(dir.file("im.png")));
    ASSERT_EQ(r.status, 0) << r.output;
    Bitmap theirs;
    png::Read(ReadFile(dir.file("im.png")), theirs);
    const Bitmap ours = ReadOnto(ShapesWmf(), Bitmap());
    ASSERT_EQ(ours.width(), 200);
    ASSERT_EQ(ours.height(), 150);
    ASSERT_EQ(theirs.width(), 200);
    ASSERT_EQ(theirs.height(), 150);
    // Only the anti-aliased edges may differ.
    EXPECT_LT(CountDifferent(ours, theirs, 64), 200 * 150 / 30);
}

#ifdef PICTORIX_CORPUS_DIR
const fs::path kCorpus = fs::path(PICTORIX_CORPUS_DIR) / "metafile";
#else
const fs::path kCorpus;
#endif

bool HaveCorpus() {
    return !kCorpus.empty() && fs::exists(kCorpus / "drawing.wmf") && fs::exists(kCorpus / "drawing.emf");
}

TEST(MetafileCorpus, DrawingsHaveTheirColoursInTheirPlaces) {
    if (!HaveCorpus()) {
        GTEST_SKIP() << "the metafile corpus is not here (" << kCorpus.string() << "); skipped";
    }
    // Both are a red disc with a thin black outline, 110 x 110 pixels. The WMF draws its
    // disc (centre 925,925, radius 662) in a window of 1369 units, so it stands lower
    // right and is cut at the edges; the EMF's disc is centred in its frame.
    struct Case {
        const char* file;
        double cx, cy, radius;
    };
    for (const Case& c : {Case{"drawing.wmf", 74.3, 74.3, 53.2}, Case{"drawing.emf", 53.7, 53.7, 53.1}}) {
        SCOPED_TRACE(c.file);
        const Bitmap b = ReadOnto(ReadFile((kCorpus / c.file).string()), Bitmap());
        ASSERT_EQ(b.width(), 110);
        ASSERT_EQ(b.height(), 110);
        for (int y = 0; y < 110; y += 3)
            for (int x = 0; x < 110; x += 3) {
                const double d = std::hypot(x - c.cx, y - c.cy);
                if (std::abs(d - c.radius) < 2) continue;  // the outline
                EXPECT_EQ(b.pixel(x, y), d < c.radius ? kRed : kWhite) << x << "," << y;
            }
        // The outline crosses the middle row of the disc on the left.
        const int y = RoundToInt(c.cy), left = RoundToInt(c.cx - c.radius);
        EXPECT_TRUE(b.pixel(left - 1, y) == kBlack || b.pixel(left, y) == kBlack || b.pixel(left + 1, y) == kBlack);
    }
}

// The box around the pixels that are not near white; right and bottom excluded.
struct Box {
    int left, top, right, bottom;
};
Box Content(const Bitmap& b) {
    Box box{b.width(), b.height(), 0, 0};
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            if (std::min({GetR(c), GetG(c), GetB(c)}) >= 200) continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
        }
    return box;
}

TEST(MetafileCorpus, DrawingsLookAsLibreOfficeShowsThem) {
    if (!HaveCorpus()) {
        GTEST_SKIP() << "the metafile corpus is not here (" << kCorpus.string() << "); skipped";
    }
    const std::string office = HaveCommand("soffice") ? "soffice" : HaveCommand("libreoffice") ? "libreoffice" : "";
    if (office.empty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    TempDir dir;
    // Copies under different names, since the outputs are named after the inputs; one
    // start of LibreOffice for both, with a profile of its own.
    fs::copy_file(kCorpus / "drawing.wmf", dir.file("w.wmf"));
    fs::copy_file(kCorpus / "drawing.emf", dir.file("e.emf"));
    const auto r = RunCommand(office + " --headless -env:UserInstallation=file://" + dir.path() +
                              "/profile --convert-to png --outdir " + Quote(dir.path()) + " " + Quote(dir.file("w.wmf")) +
                              " " + Quote(dir.file("e.emf")));
    ASSERT_EQ(r.status, 0) << r.output;
    for (const auto& [source, rendered] : {std::pair{"drawing.wmf", "w.png"}, std::pair{"drawing.emf", "e.png"}}) {
        SCOPED_TRACE(source);
        // LibreOffice places the picture on a page: compare the drawn parts, centre on centre.
        Bitmap theirs;
        png::Read(ReadFile(dir.file(rendered)), theirs);
        const Bitmap ours = ReadOnto(ReadFile((kCorpus / source).string()), Bitmap());
        const Box a = Content(ours), b = Content(theirs);
        ASSERT_LT(a.left, a.right);
        ASSERT_LT(b.left, b.right);
        EXPECT_NEAR(a.right - a.left, b.right - b.left, 3);
        EXPECT_NEAR(a.bottom - a.top, b.bottom - b.top, 3);
        const int dx = (b.left + b.right - a.left - a.right) / 2, dy = (b.top + b.bottom - a.top - a.bottom) / 2;
        int different = 0;
        for (int y = a.top; y < a.bottom; ++y)
            for (int x = a.left; x < a.right; ++x) {
                const int tx = x + dx, ty = y + dy;
                const bool inside = tx >= 0 && ty >= 0 && tx < theirs.width() && ty < theirs.height();
                const Color q = inside ? theirs.pixel(tx, ty) : kWhite;
                const Color p = ours.pixel(x, y);
                different += std::max({std::abs(int(GetR(p)) - int(GetR(q))), std::abs(int(GetG(p)) - int(GetG(q))),
                                       std::abs(int(GetB(p)) - int(GetB(q)))}) > 64;
            }
        // Only the anti-aliased outline may differ.
        EXPECT_LT(different, (a.right - a.left) * (a.bottom - a.top) / 16);
    }
}

// ---------------------------------------------------------------------------
// Damaged files

long long Float(float f) { return std::bit_cast<std::uint32_t>(f); }

// Nearly every record that the player knows, so that damage reaches every one of them.
ByteVector EveryWmfRecord() {
    const ByteVector dib = Dib(Picture(4, 5, 3));
    return Wmf(60, 50)
        .rec(0x001E, {})                      // SAVEDC
        .rec(0x0410, {2, 1, 2, 1})            // SCALEWINDOWEXT
        .rec(0x020F, {1, 1})                  // OFFSETWINDOWORG
        .rec(0x0416, {45, 55, 2, 2})          // INTERSECTCLIPRECT
        .rec(0x0201, {0x00FF, 0x0000})        // SETBKCOLOR
        .rec(0x0102, {2})                     // SETBKMODE
        .rec(0x0104, {7})                     // SETROP2 XOR
        .pen(0, 3, kBlue)
        .brush(2, kRed, 5)
        .rec(0x0142, {5, 0}, dib)             // DIBCREATEPATTERNBRUSH
        .select(0)
        .select(1)
        .rec(0x081A, {5, 20, 30, 5, 30, 30, 0, 0})  // PIE
        .rec(0x0830, {40, 50, 50, 30, 50, 50, 30, 30})  // CHORD
        .rec(0x0817, {10, 50, 0, 40, 20, 60, 0, 40})    // ARC
        .select(2)
        .rec(0x061C, {8, 8, 48, 58, 32, 32})  // ROUNDRECT
        .rec(0x0214, {1, 1})                  // MOVETO
        .rec(0x0213, {48, 58})                // LINETO
        .rec(0x0325, {3, 0, 0, 30, 10, 59, 49})  // POLYLINE
        .rec(0x041F, {0x00FF, 0x00FF, 20, 20})  // SETPIXEL
        .rec(0x061D, {0x0021, 0x00F0, 5, 5, 40, 40})  // PATBLT
        .rec(0x0127, {-1})                    // RESTOREDC
        .rec(0x0d33, {0, 3, 0, 0, 0, 3, 5, 10, 10}, dib)  // SETDIBTODEV
        .rec(0x0940, {0x0020, 0x00CC, 0, 0, 3, 5, 20, 20}, dib)  // DIBBITBLT
        .rec(0x0F43, {0x0020, 0x00CC, 0, 3, 5, 0, 0, 6, 10, 30, 30}, dib)  // STRETCHDIB
        .rec(0x0a32, {5, 5, 0, 2, 1, 1, 9, 9})  // EXTTEXTOUT, opaque
        .rec(0x01F0, {2})                     // DELETEOBJECT
        .bytes();
}

ByteVector EveryEmfRecord() {
    const Bitmap picture = Picture(24, 5, 3);
    const ByteVector dib = Dib(picture);
    const long long info = ReadLE32(bmp::Write(picture), 10) - 14, bits = static_cast<long long>(dib.size()) - info;
    Emf emf;
    // A record whose fields are followed by the DIB: -1, -2, -3, -4 stand for its offsets and sizes.
    auto withDib = [&](std::uint32_t type, std::vector<long long> fields) {
        const long long at = 8 + 4 * static_cast<long long>(fields.size());
        for (long long& f : fields)
            f = f == -1 ? at : f == -2 ? info : f == -3 ? at + info : f == -4 ? bits : f;
        ByteVector payload;
        for (long long f : fields) PutLE32(payload, static_cast<std::uint32_t>(f));
        payload.insert(payload.end(), dib.begin(), dib.end());
        emf.raw(type, payload);
    };
    auto small = [&](std::uint32_t type, std::vector<int> values) {  // 16-bit point records
        ByteVector payload;
        for (int v : {0, 0, 0, 0}) PutLE32(payload, static_cast<std::uint32_t>(v));
        PutLE32(payload, static_cast<std::uint32_t>(values.size() / 2));
        for (int v : values) PutLE16(payload, static_cast<unsigned>(v) & 0xFFFF);
        emf.raw(type, payload);
    };
    emf.rec(33, {})                                   // SAVEDC
        .rec(35, {Float(1), Float(0.1f), Float(0), Float(1), Float(1), Float(2)})  // SETWORLDTRANSFORM
        .rec(36, {Float(1), 0, 0, Float(1), Float(-1), 0, 2})  // MODIFYWORLDTRANSFORM
        .rec(kEmrSetMapMode, {7})
        .rec(kEmrSetWindowExtEx, {50, 50})
        .rec(kEmrSetViewportExtEx, {40, 40})
        .rec(10, {1, 1})                             // SETWINDOWORGEX
        .rec(30, {0, 0, 45, 45})                      // INTERSECTCLIPRECT
        .rec(20, {7})                                 // SETROP2
        .rec(57, {2})                                 // SETARCDIRECTION
        .rec(kEmrExtCreatePen, {1, 0, 0, 0, 0, 0x00010200, 3, 0, (long long)kBlue, 0, 0})
        .rec(38, {2, 0, 0, 0, (long long)kGreen})    // CREATEPEN
        .rec(kEmrCreateBrushIndirect, {3, 2, (long long)kRed, 4});
    withDib(94, {4, 0, -1, -2, -3, -4});             // CREATEDIBPATTERNBRUSHPT
    emf.rec(kEmrSelectObject, {1})
        .rec(kEmrSelectObject, {3})
        .rec(44, {2, 2, 30, 30, 8, 8})                // ROUNDRECT
        .rec(45, {0, 0, 40, 40, 40, 0, 0, 40})        // ARC
        .rec(46, {5, 5, 35, 35, 35, 5, 5, 35})        // CHORD
        .rec(47, {5, 5, 35, 35, 5, 5, 35, 35})        // PIE
        .rec(55, {10, 10, 30, 30, 30, 10, 10, 30})    // ARCTO
        .rec(41, {20, 20, 10, Float(30), Float(270)})  // ANGLEARC
        .rec(kEmrSelectObject, {2})
        .rec(kEmrSelectObject, {4});
    small(85, {0, 0, 10, 30, 30, 10, 40, 40});       // POLYBEZIER16
    small(87, {0, 40, 40, 0, 20, 20});                // POLYLINE16
    emf.rec(56, {0, 0, 0, 0, 4, 1, 1, 20, 1, 20, 20, 1, 20, 0x02020206});  // POLYDRAW
    emf.rec(91, {0, 0, 0, 0, 2, 6, 3, 3, 0x00000000, 0x0000000A, 0x000A000A, 0x00050005, 0x000F0005, 0x000F000F});
    emf.rec(71, {0, 0, 0, 0, 48, 4, 32, 1, 1, 16, 0, 0, 40, 40, 2, 2, 20, 20})  // FILLRGN
        .rec(75, {48, 1, 32, 1, 1, 16, 0, 0, 40, 40, 0, 0, 38, 38})               // EXTSELECTCLIPRGN
        .rec(kEmrBeginPath, {})
        .rec(kEmrMoveToEx, {3, 3})
        .rec(kEmrLineTo, {30, 4})
        .rec(kEmrCloseFigure, {})
        .rec(kEmrEndPath, {})
        .rec(66, {})                                  // WIDENPATH
        .rec(62, {0, 0, 40, 40})                      // FILLPATH
        .rec(84, {0, 0, 0, 0, 1, 0, 0, 5, 5, 0, 0, 2, 1, 1, 9, 9, 0})  // EXTTEXTOUTW, opaque
        .rec(15, {7, 7, (long long)kGreen})           // SETPIXELV
        .rec(34, {-1})                                // RESTOREDC
        .rec(75, {0, 5});                             // EXTSELECTCLIPRGN: no clipping
    withDib(114, {0, 0, 0, 0, 1, 1, 20, 10, 0x01800000, 0, 0, Float(1), 0, 0, Float(1), 0, 0, 0, 0, -1, -2, -3, -4,
                  5, 3});                             // ALPHABLEND
    withDib(116, {0, 0, 0, 0, 20, 1, 10, 10, 0x00FFFFFF, 0, 0, Float(1), 0, 0, Float(1), 0, 0, 0, 0, -1, -2, -3, -4,
                  5, 3});                             // TRANSPARENTBLT
    withDib(77, {0, 0, 0, 0, 1, 20, 10, 10, 0x00CC0020, 0, 0, Float(1), 0, 0, Float(1), 0, 0, 0, 0, -1, -2, -3, -4,
                 5, 3});                              // STRETCHBLT
    withDib(80, {0, 0, 0, 0, 25, 25, 0, 0, 5, 3, -1, -2, -3, -4, 0, 0, 3});  // SETDIBITSTODEVICE
    emf.rec(40, {1});                                 // DELETEOBJECT
    return emf.bytes();
}

std::vector<std::pair<std::string, ByteVector>> Fixtures() {
    std::vector<std::pair<std::string, ByteVector>> fixtures = {
        {"our WMF", metafile::WriteWmf(Picture(8, 9, 7))},
        {"our EMF", metafile::WriteEmf(Picture(16, 9, 7))},
        {"every WMF record", EveryWmfRecord()},
        {"every EMF record", EveryEmfRecord()},
    };
    for (const char* name : {"drawing.wmf", "drawing.emf"})
        if (!kCorpus.empty() && fs::exists(kCorpus / name)) fixtures.emplace_back(name, ReadFile((kCorpus / name).string()));
    return fixtures;
}

// Reading must give a picture or pictorix::Error; anything else fails the test.
void ReadsOrRefuses(const ByteVector& file) {
    Bitmap b = Filled(4, 4, kGrey);
    try {
        metafile::Read(file, b);
    } catch (const Error&) {
    }
}

TEST(MetafileRead, EveryKnownRecordPlays) {
    for (const ByteVector& file : {EveryWmfRecord(), EveryEmfRecord()}) {
        const Bitmap b = ReadOnto(file, Filled(4, 4, kGrey));
        int drawn = 0;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) drawn += b.pixel(x, y) != kWhite;
        EXPECT_GT(drawn, b.width() * b.height() / 4);
    }
}

TEST(MetafileRead, TruncatedAndCorruptedFilesNeverCrash) {
    std::mt19937 random(7);
    for (const auto& [name, file] : Fixtures()) {
        SCOPED_TRACE(name);
        for (std::size_t length = 0; length < file.size(); ++length)
            ReadsOrRefuses(ByteVector(file.begin(), file.begin() + std::ptrdiff_t(length)));
        // The headers stay whole, so that no variant asks for a huge picture.
        const std::size_t headerEnd = file[0] == 1 ? ReadLE32(file, 4) : 40;
        for (int round = 0; round < 300; ++round) {
            ByteVector damaged = file;
            const int changes = 1 + int(random() % 8);
            for (int i = 0; i < changes; ++i)
                damaged[headerEnd + random() % (file.size() - headerEnd)] = static_cast<std::uint8_t>(random());
            ReadsOrRefuses(damaged);
        }
    }
}

TEST(MetafileRead, EndlessDrawingIsRefused) {
    // 20000 rectangles over a 40 x 40 picture: far more work than any real picture needs.
    Emf emf;
    emf.rec(kEmrSelectObject, {kBlackBrush});
    for (int i = 0; i < 20000; ++i) emf.rec(kEmrRectangle, {-10, -10, 50, 50});
    Bitmap b = Filled(4, 4, kGrey);
    try {
        metafile::Read(emf.bytes(), b);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("EMF: the records ask for more drawing"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace pictorix
