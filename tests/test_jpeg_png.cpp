// Tests of the JPEG and PNG codecs. Fixtures are made in the test, with libjpeg and
// libpng used directly (so every colour type and bit depth is covered without files);
// where ImageMagick's convert exists, it decodes our output and our fixtures as an
// independent check.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/jpeg.h"
#include "pictureio/codecs/png.h"
#include "test_util.h"

namespace pictorix {
namespace {

// ---------------------------------------------------------------------------
// Helpers

bool HaveConvert() {
    static const bool have = std::system("command -v convert >/dev/null 2>&1") == 0;
    return have;
}

// A fresh temporary file name (tests may run in parallel processes).
std::filesystem::path TempPath(const std::string& ext) {
    static int counter = 0;
    return std::filesystem::temp_directory_path() /
           ("pictorix_jpeg_png_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ext);
}

void WriteFile(const std::filesystem::path& path, const ByteVector& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// Decodes `file` with ImageMagick to 8-bit R,G,B bytes; `options` come after the input.
std::optional<ByteVector> MagickRgb(const ByteVector& file, const std::string& ext, const std::string& options = "") {
    const auto path = TempPath(ext);
    WriteFile(path, file);
    const std::string cmd = "convert '" + path.string() + "' " + options + " -depth 8 rgb:- 2>/dev/null";
    std::optional<ByteVector> result;
    if (FILE* pipe = popen(cmd.c_str(), "r")) {
        ByteVector bytes;
        std::uint8_t buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
        if (pclose(pipe) == 0) result = std::move(bytes);
    }
    std::filesystem::remove(path);
    return result;
}

// R,G,B bytes of the bitmap's pixels, as `rgb:-` lays them out.
ByteVector RgbBytes(const Bitmap& b) {
    ByteVector v;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            v.insert(v.end(), {std::uint8_t(GetR(c)), std::uint8_t(GetG(c)), std::uint8_t(GetB(c))});
        }
    return v;
}

int MaxDifference(const ByteVector& a, const ByteVector& b) {
    if (a.size() != b.size()) return 256;
    int d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
    return d;
}

double MeanDifference(const ByteVector& a, const ByteVector& b) {
    if (a.size() != b.size() || a.empty()) return 256;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// Smooth colours (JPEG-friendly), odd sizes so no dimension is a multiple of 8.
Bitmap Gradient(int w, int h) {
    Bitmap b(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.setPixel(x, y, RGB(x * 255 / w, y * 255 / h, 128 + (x - y) / 2));
    return b;
}

template <class Fn>
std::string ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    while (n--) {
        c ^= *p++;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::uint32_t BE32(const ByteVector& v, std::size_t at) { return ReadBE32(ByteSpan(v), at); }

// The chunks of a PNG file: type and data.
std::vector<std::pair<std::string, ByteVector>> Chunks(const ByteVector& file) {
    std::vector<std::pair<std::string, ByteVector>> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t len = BE32(file, at);
        if (len > file.size() - at - 12) break;
        chunks.emplace_back(std::string(file.begin() + at + 4, file.begin() + at + 8),
                            ByteVector(file.begin() + at + 8, file.begin() + at + 8 + len));
        at += 12 + len;
    }
    return chunks;
}

const ByteVector* FindChunk(const std::vector<std::pair<std::string, ByteVector>>& chunks, const char* type) {
    for (const auto& c : chunks)
        if (c.first == type) return &c.second;
    return nullptr;
}

// ---------------------------------------------------------------------------
// JPEG

// The SOFn marker codes before the first scan.
std::vector<int> FrameMarkers(const ByteVector& f) {
    std::vector<int> sofs;
    for (std::size_t at = 2; at + 4 <= f.size() && f[at] == 0xFF && f[at + 1] != 0xDA;
         at += 2 + ReadBE16(ByteSpan(f), at + 2)) {
        const int m = f[at + 1];
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) sofs.push_back(m);
    }
    return sofs;
}

// Encodes with libjpeg directly: `samples` is one pixel's components, repeated over
// a 16 x 8 picture (flat, so quality 100 reproduces it within rounding).
ByteVector MakeFlatJpeg(J_COLOR_SPACE in, int components, J_COLOR_SPACE stored, bool adobeMarker,
                        const std::vector<std::uint8_t>& samples) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 16;
    c.image_height = 8;
    c.input_components = components;
    c.in_color_space = in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, stored);
    c.write_Adobe_marker = adobeMarker;
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 16; ++x) row.insert(row.end(), samples.begin(), samples.end());
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    ByteVector file(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

TEST(JpegWrite, QualityIsClampedTo1Through100) {
    const Bitmap pic = Gradient(21, 13);
    const std::pair<int, int> same[] = {{0, 1}, {-7, 1}, {101, 100}, {250, 100}};
    for (const auto& [q, expected] : same)
        EXPECT_EQ(jpeg::Write(pic, q, false), jpeg::Write(pic, expected, false)) << "quality " << q;
    EXPECT_NE(jpeg::Write(pic, 1, false), jpeg::Write(pic, 100, false));
}

TEST(JpegWrite, FrameTypeFollowsProgressive) {
    const Bitmap pic = Gradient(21, 13);
    EXPECT_EQ(FrameMarkers(jpeg::Write(pic, 75, false)), std::vector<int>{0xC0});
    EXPECT_EQ(FrameMarkers(jpeg::Write(pic, 75, true)), std::vector<int>{0xC2});
}

TEST(JpegWrite, EmptyBitmapFails) {
    EXPECT_EQ(ErrorOf([] { jpeg::Write(Bitmap(), 75, false); }), "JPEG: the bitmap is empty");
}

TEST(JpegRoundTrip, EveryFormatAndBothScanModes) {
    for (const int bpp : {1, 4, 8, 16, 24, 32})
        for (const bool progressive : {false, true}) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + (progressive ? " progressive" : ""));
            Bitmap pic = Gradient(37, 19);
            pic.setBitsPerPixel(bpp);
            Bitmap expected = pic;
            expected.setBitsPerPixel(24);
            const ByteVector file = jpeg::Write(pic, 95, progressive);

            // Reading assigns: format, size and palette replaced, fill colour kept.
            Bitmap out(3, 3, 8);
            out.setFillColor(RGB(0, 255, 0));
            jpeg::Read(file, out);
            ASSERT_EQ(out.bitsPerPixel(), 24);
            ASSERT_EQ(out.width(), 37);
            ASSERT_EQ(out.height(), 19);
            EXPECT_TRUE(out.palette().empty());
            EXPECT_EQ(out.fillColor(), RGB(0, 255, 0));
            // Lossy, but close: a swap of red and blue would be far off.
            // (colour subsampling smears the sharp edges of palette pictures).
            EXPECT_LE(MeanDifference(RgbBytes(out), RgbBytes(expected)), bpp <= 8 ? 8.0 : 2.0);
            if (HaveConvert()) {
                const auto magick = MagickRgb(file, ".jpg");
                ASSERT_TRUE(magick);
                EXPECT_EQ(MaxDifference(*magick, RgbBytes(out)), 0);
            }
        }
}

TEST(JpegRead, ColourSpaces) {
    struct Case {
        const char* name;
        J_COLOR_SPACE in;
        int components;
        J_COLOR_SPACE stored;
        bool adobe;
        std::vector<std::uint8_t> samples;
        int bpp;
        Color expected;
    };
    // CMYK light values (255 = no ink) c, m, y, k give R = c*k/255, G = m*k/255, B = y*k/255.
    const Case cases[] = {
        {"grey", JCS_GRAYSCALE, 1, JCS_GRAYSCALE, false, {77}, 8, RGB(77, 77, 77)},
        {"rgb stored as YCbCr", JCS_RGB, 3, JCS_YCbCr, false, {200, 30, 90}, 24, RGB(200, 30, 90)},
        {"rgb stored as RGB", JCS_RGB, 3, JCS_RGB, false, {200, 30, 90}, 24, RGB(200, 30, 90)},
        {"inverted CMYK with Adobe marker", JCS_CMYK, 4, JCS_CMYK, true, {200, 100, 50, 220}, 24, RGB(173, 86, 43)},
        {"YCCK", JCS_CMYK, 4, JCS_YCCK, true, {200, 100, 50, 220}, 24, RGB(173, 86, 43)},
        {"plain CMYK without Adobe marker", JCS_CMYK, 4, JCS_CMYK, false, {200, 100, 50, 220}, 24, RGB(8, 21, 28)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap out;
        jpeg::Read(MakeFlatJpeg(c.in, c.components, c.stored, c.adobe, c.samples), out);
        ASSERT_EQ(out.bitsPerPixel(), c.bpp);
        EXPECT_EQ(out.width(), 16);
        EXPECT_EQ(out.height(), 8);
        EXPECT_EQ(out.palette(), c.bpp == 8 ? GreyPalette256() : Palette());
        const Color got = out.pixel(5, 3);
        EXPECT_LE(std::abs(int(GetR(got)) - int(GetR(c.expected))), 2) << std::hex << got;
        EXPECT_LE(std::abs(int(GetG(got)) - int(GetG(c.expected))), 2) << std::hex << got;
        EXPECT_LE(std::abs(int(GetB(got)) - int(GetB(c.expected))), 2) << std::hex << got;
    }
}

TEST(JpegRead, ImageMagickCmykIsRed) {
    if (!HaveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    const auto path = TempPath(".jpg");
    ASSERT_EQ(std::system(("convert -size 8x8 xc:red -colorspace cmyk '" + path.string() + "'").c_str()), 0);
    std::ifstream in(path, std::ios::binary);
    const ByteVector file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    Bitmap out;
    jpeg::Read(file, out);
    ASSERT_EQ(out.bitsPerPixel(), 24);
    const Color c = out.pixel(4, 4);
    EXPECT_GE(GetR(c), 240u);
    EXPECT_LE(GetG(c), 15u);
    EXPECT_LE(GetB(c), 15u);
}

TEST(JpegRead, DamagedFilesFailAndLeaveTheBitmap) {
    Bitmap busy(96, 96, 24);  // busy enough that most of the file is image data
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) busy.setPixel(x, y, RGB(x * 31 ^ y * 17, x * y, x * 5 + y * 3));
    const ByteVector baseline = jpeg::Write(busy, 90, false);
    const ByteVector progressive = jpeg::Write(busy, 90, true);
    const auto resized = [&](int side) {  // SOF0 claims side x side
        ByteVector f = baseline;
        for (std::size_t at = 2; at + 9 < f.size(); at += 2 + ReadBE16(ByteSpan(f), at + 2))
            if (f[at + 1] == 0xC0)
                for (const std::size_t i : {at + 5, at + 7}) f[i] = std::uint8_t(side >> 8), f[i + 1] = std::uint8_t(side);
        return f;
    };
    const auto head = [](const ByteVector& v, std::size_t n) { return ByteVector(v.begin(), v.begin() + n); };

    const struct {
        const char* name;
        ByteVector file;
        const char* message;  // start of the message
    } cases[] = {
        {"empty", {}, "JPEG: "},
        {"garbage", {'h', 'e', 'l', 'l', 'o', 0, 1, 2}, "JPEG: "},
        {"start marker only", {0xFF, 0xD8}, "JPEG: "},
        {"baseline cut in half", head(baseline, baseline.size() / 2), "JPEG: Premature end of JPEG file"},
        {"baseline without its last 10 bytes", head(baseline, baseline.size() - 10), "JPEG: Premature end"},
        {"progressive cut in half", head(progressive, progressive.size() / 2), "JPEG: Premature end"},
        // Multi-scan: a missing end marker cannot be told from missing scans.
        {"progressive without its end marker", head(progressive, progressive.size() - 2), "JPEG: Premature end"},
        {"absurd size", resized(40000), "JPEG: picture size 40000 x 40000 is not supported"},
        {"size beyond the data", resized(20000), "JPEG: the file is too short for a picture of 20000 x 20000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap out(5, 4, 24);
        const std::string message = ErrorOf([&] { jpeg::Read(c.file, out); });
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(out.width(), 5);
        EXPECT_EQ(out.height(), 4);
    }
}

TEST(JpegRead, FlatPicturesPassTheLengthCheck) {
    // The most compressible pictures: one bit per block must still fit.
    Bitmap white(1024, 1024, 24);
    for (const bool progressive : {false, true}) {
        Bitmap out;
        EXPECT_NO_THROW(jpeg::Read(jpeg::Write(white, 1, progressive), out));
        EXPECT_EQ(out.pixel(1000, 1000), kWhite);
    }
}

TEST(JpegRead, MissingEndMarkerAloneIsAccepted) {
    // A single-scan file whose image data is complete decodes in full.
    const ByteVector file = jpeg::Write(Gradient(64, 64), 90, false);
    Bitmap whole, cut;
    jpeg::Read(file, whole);
    jpeg::Read(ByteVector(file.begin(), file.end() - 2), cut);
    EXPECT_EQ(RgbBytes(cut), RgbBytes(whole));
}

// ---------------------------------------------------------------------------
// PNG

TEST(PngProbe, SignatureAndLength) {
    const ByteVector sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    ByteVector wrong = sig;
    wrong[1] = 'p';
    EXPECT_TRUE(png::Probe(sig, 9));
    EXPECT_FALSE(png::Probe(sig, 8));
    EXPECT_FALSE(png::Probe(wrong, 100));
    EXPECT_FALSE(png::Probe(ByteSpan(sig).first(7), 100));
}

// A 13 x 7 bitmap whose pixels use many of the format's colours.
Bitmap Patterned(int bpp, Palette palette = {}) {
    Bitmap b(13, 7, bpp);
    if (!palette.empty()) b.setPalette(palette);
    const int entries = bpp <= 8 ? int(b.palette().size()) : 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            if (entries)
                b.setIndex(x, y, (x * 7 + y * 3) % entries);
            else
                b.setPixel(x, y, RGB(x * 19, y * 37, (x * y * 11) & 0xFF));
        }
    return b;
}

TEST(PngRoundTrip, EveryFormatPlainAndInterlaced) {
    const struct {
        int bpp;
        Palette palette;
        int depth, colorType;
    } cases[] = {
        {1, {}, 1, 3},
        {4, {}, 4, 3},
        {8, {}, 8, 3},
        {8, {RGB(10, 20, 30), RGB(200, 0, 0), kWhite}, 8, 3},  // short palette: padded to 256
        {16, {}, 8, 2},
        {24, {}, 8, 2},
        {32, {}, 8, 2},
    };
    const bool havePngcheck = std::system("command -v pngcheck >/dev/null 2>&1") == 0;
    for (const auto& c : cases)
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " palette " + std::to_string(c.palette.size()) +
                         (interlaced ? " interlaced" : ""));
            const Bitmap pic = Patterned(c.bpp, c.palette);
            const ByteVector file = png::Write(pic, 6, interlaced);
            ASSERT_GT(file.size(), 33u);
            EXPECT_EQ(BE32(file, 16), 13u);
            EXPECT_EQ(BE32(file, 20), 7u);
            EXPECT_EQ(file[24], c.depth);
            EXPECT_EQ(file[25], c.colorType);
            EXPECT_EQ(file[28], interlaced ? 1 : 0);
            const auto chunks = Chunks(file);
            const ByteVector* plte = FindChunk(chunks, "PLTE");
            EXPECT_EQ(plte ? plte->size() : 0u, c.colorType == 3 ? 3u << c.depth : 0u);
            if (plte && !c.palette.empty()) {
                ByteVector padded(plte->size(), 0);  // missing entries black
                for (std::size_t i = 0; i < c.palette.size(); ++i)
                    for (const unsigned k : {0u, 1u, 2u}) padded[3 * i + k] = std::uint8_t(c.palette[i] >> (8 * k));
                EXPECT_EQ(*plte, padded);
            }
            EXPECT_EQ(FindChunk(chunks, "tRNS"), nullptr);

            Bitmap out;
            png::Read(file, out);
            ASSERT_EQ(out.bitsPerPixel(), 24);
            ASSERT_EQ(out.width(), 13);
            ASSERT_EQ(out.height(), 7);
            EXPECT_EQ(RgbBytes(out), RgbBytes(pic));
            if (HaveConvert()) {
                EXPECT_EQ(MagickRgb(file, ".png"), RgbBytes(pic));
            }
            if (havePngcheck) {
                const auto path = TempPath(".png");
                WriteFile(path, file);
                EXPECT_EQ(std::system(("pngcheck -q '" + path.string() + "' >/dev/null").c_str()), 0);
                std::filesystem::remove(path);
            }
        }
}

TEST(PngWrite, TransparentColour) {
    const Color red = RGB(255, 0, 0), blue = RGB(0, 0, 255);
    const struct {
        int bpp;
        bool transparent;
        ByteVector trns;
    } cases[] = {
        {24, true, {0, 255, 0, 0, 0, 0}},  // 16-bit red, green, blue
        {4, true, {255, 255, 255, 255, 255, 255, 255, 255, 255, 0}},  // red is entry 9
        {24, false, {}},
        {4, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + (c.transparent ? " transparent" : " opaque"));
        Bitmap pic(6, 2, c.bpp);
        pic.fill(kWhite);
        pic.setPixel(1, 0, red);
        pic.setPixel(4, 1, red);
        pic.setTransparent(c.transparent, red);
        const ByteVector file = png::Write(pic, 9, false);
        const auto chunks = Chunks(file);
        const ByteVector* trns = FindChunk(chunks, "tRNS");
        EXPECT_EQ(trns ? *trns : ByteVector{}, c.trns);

        Bitmap out(6, 2, 24);
        out.fill(blue);
        png::Read(file, out);
        const Color shown = c.transparent ? blue : red;
        EXPECT_EQ(out.pixel(1, 0), shown);
        EXPECT_EQ(out.pixel(4, 1), shown);
        EXPECT_EQ(out.pixel(0, 0), kWhite);
    }
}

TEST(PngWrite, LevelIsClampedAndEmptyFails) {
    const Bitmap pic = Patterned(24);
    EXPECT_EQ(png::Write(pic, -5, false), png::Write(pic, 0, false));
    EXPECT_EQ(png::Write(pic, 12, false), png::Write(pic, 9, false));
    EXPECT_GT(png::Write(pic, 0, false).size(), png::Write(pic, 9, false).size());
    EXPECT_EQ(ErrorOf([] { png::Write(Bitmap(), 6, false); }), "PNG: the bitmap is empty");
}

// A PNG fixture written with libpng itself, and the colours it must show on white,
// computed here from the samples.
struct PngSpec {
    const char* name;
    int colorType;
    int depth;
    bool trns = false;
    bool interlaced = false;
    double gamma = 0;  // gAMA to write (not applied by readers that ignore it)
};

struct PngFixture {
    ByteVector file;
    ByteVector onWhite;  // R,G,B per pixel
};

PngFixture MakePng(const PngSpec& s) {
    constexpr int w = 11, h = 5;
    const int channels = s.colorType == 0 || s.colorType == 3 ? 1 : s.colorType == 4 ? 2 : s.colorType == 2 ? 3 : 4;
    const unsigned maxv = (1u << s.depth) - 1;
    std::uint32_t seed = 12345u + unsigned(s.colorType * 100 + s.depth);
    const auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };

    std::vector<std::vector<unsigned>> px(w * h, std::vector<unsigned>(channels));
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < channels; ++c) px[i][c] = i == 1 ? 0 : i == 2 ? maxv : rnd() % (maxv + 1);
    px[7] = px[20] = px[0];  // more pixels with the tRNS colour

    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    if (s.colorType == 3) {
        for (unsigned i = 0; i <= maxv; ++i)
            palette.push_back({png_byte(rnd()), png_byte(rnd()), png_byte(rnd())});
        if (s.trns) paletteAlpha = {0, 128, 255, 37, 200};
        paletteAlpha.resize(std::min<std::size_t>(paletteAlpha.size(), palette.size()));
    }
    png_color_16 key{};
    if (s.trns && s.colorType == 0) key.gray = png_uint_16(px[0][0]);
    if (s.trns && s.colorType == 2) key = {0, png_uint_16(px[0][0]), png_uint_16(px[0][1]), png_uint_16(px[0][2]), 0};

    // Expected: samples scaled to 8 bits (16-bit rounded), then composited on white.
    const auto to8 = [&](unsigned v) { return s.depth == 16 ? (v * 255 + 32767) / 65535 : v * 255 / maxv; };
    PngFixture f;
    for (const auto& p : px) {
        unsigned r, g, b, a = 255;
        if (s.colorType == 3) {
            r = palette[p[0]].red, g = palette[p[0]].green, b = palette[p[0]].blue;
            if (p[0] < paletteAlpha.size()) a = paletteAlpha[p[0]];
        } else if (s.colorType == 0 || s.colorType == 4) {
            r = g = b = to8(p[0]);
            if (s.colorType == 4) a = to8(p[1]);
            if (s.trns && p[0] == key.gray) a = 0;
        } else {
            r = to8(p[0]), g = to8(p[1]), b = to8(p[2]);
            if (s.colorType == 6) a = to8(p[3]);
            if (s.trns && p[0] == key.red && p[1] == key.green && p[2] == key.blue) a = 0;
        }
        for (unsigned v : {r, g, b}) f.onWhite.push_back(std::uint8_t((v * a + 255 * (255 - a) + 127) / 255));
    }

    // Packed rows: sub-byte samples from the most significant bit, 16-bit big-endian.
    std::vector<ByteVector> rows(h, ByteVector((w * channels * s.depth + 7) / 8));
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * channels; ++i) {
            const unsigned v = px[y * w + i / channels][i % channels];
            if (s.depth == 16) {
                rows[y][2 * i] = std::uint8_t(v >> 8);
                rows[y][2 * i + 1] = std::uint8_t(v);
            } else {
                const int bit = i * s.depth;
                rows[y][bit / 8] |= std::uint8_t(v << (8 - s.depth - bit % 8));
            }
        }

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &f.file,
        [](png_structp p, png_bytep d, std::size_t n) {
            auto* out = static_cast<ByteVector*>(png_get_io_ptr(p));
            out->insert(out->end(), d, d + n);
        },
        nullptr);
    png_set_IHDR(png, info, w, h, s.depth, s.colorType, s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!paletteAlpha.empty()) png_set_tRNS(png, info, paletteAlpha.data(), int(paletteAlpha.size()), nullptr);
    if (s.trns && s.colorType != 3) png_set_tRNS(png, info, nullptr, 0, &key);
    if (s.gamma > 0) png_set_gAMA(png, info, s.gamma);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (auto& r : rows) pointers.push_back(r.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return f;
}

const PngSpec kPngSpecs[] = {
    {"grey 1", 0, 1},       {"grey 2", 0, 2},         {"grey 4", 0, 4},
    {"grey 8", 0, 8},       {"grey 16", 0, 16},       {"grey 8 tRNS", 0, 8, true},
    {"grey 2 tRNS", 0, 2, true}, {"grey 16 tRNS", 0, 16, true},
    {"palette 1", 3, 1},    {"palette 2", 3, 2},      {"palette 4", 3, 4},
    {"palette 8", 3, 8},    {"palette 4 tRNS", 3, 4, true}, {"palette 8 tRNS", 3, 8, true},
    {"RGB 8", 2, 8},        {"RGB 16", 2, 16},        {"RGB 8 tRNS", 2, 8, true},
    {"RGB 16 tRNS", 2, 16, true},
    {"grey+alpha 8", 4, 8}, {"grey+alpha 16", 4, 16},
    {"RGBA 8", 6, 8},       {"RGBA 16", 6, 16},
    {"RGBA 8 interlaced", 6, 8, false, true},   {"palette 2 interlaced", 3, 2, false, true},
    {"RGB 8 with gAMA 0.2", 2, 8, false, false, 0.2},
};

TEST(PngRead, EveryColourTypeAndDepth) {
    for (const PngSpec& s : kPngSpecs) {
        SCOPED_TRACE(s.name);
        const PngFixture f = MakePng(s);
        Bitmap out;  // a fresh bitmap: the picture is drawn on white
        png::Read(f.file, out);
        ASSERT_EQ(out.bitsPerPixel(), 24);
        ASSERT_EQ(out.width(), 11);
        ASSERT_EQ(out.height(), 5);
        EXPECT_EQ(RgbBytes(out), f.onWhite);
        if (HaveConvert()) {
            // ImageMagick 6 (Q16) blends at 16 bits and truncates to 8 (floor(v / 257)),
            // where we round 16-bit samples and then blend at 8 bits: each step may
            // differ by one level.
            const int tolerance = (s.depth == 16) + (s.colorType >= 4 || (s.colorType == 3 && s.trns));
            const auto magick = MagickRgb(f.file, ".png", "-background white -flatten");
            ASSERT_TRUE(magick);
            EXPECT_LE(MaxDifference(*magick, f.onWhite), tolerance);
        }
    }
}

TEST(PngRead, DrawsOverTheBitmap) {
    // 6 x 3 RGBA: column 1 opaque red, column 2 red at alpha 128, the rest transparent.
    Bitmap before(4, 4, 8);  // palette format: becomes 24 bits first
    const Color blue = RGB(0, 0, 255);
    before.fill(blue);
    ByteVector file;
    {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(
            png, &file,
            [](png_structp p, png_bytep d, std::size_t n) {
                auto* out = static_cast<ByteVector*>(png_get_io_ptr(p));
                out->insert(out->end(), d, d + n);
            },
            nullptr);
        png_set_IHDR(png, info, 6, 3, 8, PNG_COLOR_TYPE_RGBA, 0, 0, 0);
        png_write_info(png, info);
        std::uint8_t row[6 * 4] = {0, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0, 128};
        for (int y = 0; y < 3; ++y) png_write_row(png, row);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
    }
    for (const Color fill : {kWhite, RGB(0, 255, 0)}) {
        Bitmap out = before;
        out.setFillColor(fill);
        png::Read(file, out);
        ASSERT_EQ(out.bitsPerPixel(), 24);
        ASSERT_EQ(out.width(), 6);
        ASSERT_EQ(out.height(), 3);
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(out.pixel(0, y), blue);                   // transparent: old picture
            EXPECT_EQ(out.pixel(1, y), RGB(255, 0, 0));         // opaque
            EXPECT_EQ(out.pixel(2, y), RGB(128, 0, 127));       // (s*a + d*(255-a) + 127) / 255
            EXPECT_EQ(out.pixel(3, y), blue);
            EXPECT_EQ(out.pixel(4, y), fill);                   // new area: fill colour
            EXPECT_EQ(out.pixel(5, y), fill);
        }
    }
}

// An opaque PNG covers everything: the result is what drawing it would give, with
// the bitmap's palette, fill colour and transparency kept.
TEST(PngRead, OpaquePictureReplacesThePixelsOnly) {
    Bitmap source(5, 3, 24);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) source.setPixel(x, y, RGB(x * 40, y * 90, 7));
    for (const bool interlaced : {false, true}) {
        const ByteVector file = png::Write(source, 6, interlaced);
        Bitmap out(7, 2, 8);
        out.setFillColor(RGB(1, 2, 3));
        out.setTransparent(true, RGB(4, 5, 6));
        Bitmap converted = out;
        converted.setBitsPerPixel(24);
        png::Read(file, out);
        EXPECT_EQ(out.bitsPerPixel(), 24);
        EXPECT_TRUE(test::SamePixels(out, source));
        EXPECT_EQ(out.palette(), converted.palette());
        EXPECT_EQ(out.fillColor(), RGB(1, 2, 3));
        EXPECT_TRUE(out.transparent());
        EXPECT_EQ(out.transparentColor(), RGB(4, 5, 6));
    }
}

TEST(PngRead, FlatPicturesPassTheLengthCheck) {
    // The most compressible pictures come closest to deflate's 1032 : 1 limit.
    for (const int bpp : {1, 24}) {
        Bitmap white(4096, 1024, bpp);
        white.fill(kWhite);
        const ByteVector file = png::Write(white, 9, false);
        Bitmap out;
        EXPECT_NO_THROW(png::Read(file, out)) << bpp << " bits, " << file.size() << " bytes";
        EXPECT_EQ(out.pixel(4000, 1000), kWhite);
    }
}

TEST(PngRead, DamagedFilesFailAndLeaveTheBitmap) {
    const ByteVector good = png::Write(Patterned(24), 6, false);
    const auto head = [&](std::size_t n) { return ByteVector(good.begin(), good.begin() + n); };
    // IHDR with another size and a valid CRC.
    const auto resized = [&](std::uint32_t w, std::uint32_t h) {
        ByteVector f = good;
        for (int i = 0; i < 4; ++i) {
            f[16 + i] = std::uint8_t(w >> (24 - 8 * i));
            f[20 + i] = std::uint8_t(h >> (24 - 8 * i));
        }
        const std::uint32_t crc = Crc32(&f[12], 17);
        for (int i = 0; i < 4; ++i) f[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
        return f;
    };
    ByteVector badCrc = good;
    badCrc[18] ^= 1;
    ByteVector badData = good;
    badData[good.size() / 2] ^= 0x55;

    const struct {
        const char* name;
        ByteVector file;
        const char* message;  // start of the message
    } cases[] = {
        {"empty", {}, "PNG: "},
        {"garbage", {'h', 'e', 'l', 'l', 'o', 0, 1, 2, 3, 4}, "PNG: "},
        {"signature only", head(8), "PNG: "},
        {"cut in the image data", head(good.size() / 2), "PNG: "},
        {"header CRC", badCrc, "PNG: "},
        {"image data damaged", badData, "PNG: "},
        {"width beyond the limit", resized(2000000, 1), "PNG: "},
        {"too many pixels", resized(1000000, 1000000), "PNG: picture size 1000000 x 1000000 is not supported"},
        {"size beyond the data", resized(30000, 30000), "PNG: the file is too short for a picture of 30000 x 30000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap out(5, 4, 8);
        const std::string message = ErrorOf([&] { png::Read(c.file, out); });
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(out.width(), 5);
        EXPECT_EQ(out.bitsPerPixel(), 8);
    }
    // Only the IEND chunk missing: the picture is complete.
    Bitmap out;
    png::Read(head(good.size() - 12), out);
    EXPECT_EQ(RgbBytes(out), RgbBytes(Patterned(24)));
}

}  // namespace
}  // namespace pictorix
