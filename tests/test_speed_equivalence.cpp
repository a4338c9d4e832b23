// The fast paths of the hot operations against fixed results and against the
// operations written out the slow, obvious way, over random pictures of odd sizes in
// every pixel format. A faster loop must never change a byte.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "engine/thumbnail.h"
#include "operations/geometry.h"
#include "operations/resample.h"
#include "operations/tone.h"
#include "pictureio/codecs/jpeg.h"

namespace pictorix {
namespace {

// Sizes around the block lengths of the vector loops, a single pixel and lines.
constexpr int kSizes[][2] = {{1, 1}, {1, 9}, {13, 1}, {3, 5}, {67, 33}, {261, 47}};

// A pixel format as a test input: bits per pixel and, for palette formats, how many
// entries its own palette has (0: the fixed palette of the format).
struct Format {
    int bpp;
    int ownEntries;
};
constexpr Format kFormats[] = {{1, 0}, {4, 0}, {8, 0}, {8, 100}, {16, 0}, {24, 0}, {32, 0}};

std::uint32_t NextRandom(std::uint64_t& state) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
}

// Random bytes in every pixel (the unused byte of 32 bits and indices past a short
// palette included); the row padding stays zero.
Bitmap RandomPicture(int width, int height, const Format& format, std::uint64_t seed) {
    Bitmap b(width, height, format.bpp);
    std::uint64_t state = seed;
    if (format.ownEntries > 0) {
        Palette own;
        for (int i = 0; i < format.ownEntries; ++i) own.push_back(NextRandom(state) & 0xFFFFFF);
        b.setPalette(own);
    }
    const std::size_t bits = std::size_t(width) * std::size_t(format.bpp);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.row(y);
        for (std::size_t e = 0; e < bits / 8; ++e) row[e] = static_cast<std::uint8_t>(NextRandom(state));
        if (bits % 8)  // the used top bits of a last partial byte
            row[bits / 8] = static_cast<std::uint8_t>(NextRandom(state) & (0xFF00 >> (bits % 8)));
    }
    return b;
}

// FNV-1a over the size, the format, the palette and every row with its padding.
std::uint64_t Fingerprint(const Bitmap& b, std::uint64_t h = 14695981039346656037ull) {
    const auto add = [&h](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i, v >>= 8) h = (h ^ (v & 0xFF)) * 1099511628211ull;
    };
    add(std::uint64_t(b.width()), 4);
    add(std::uint64_t(b.height()), 4);
    add(std::uint64_t(b.bitsPerPixel()), 1);
    add(b.fillColor(), 4);
    for (Color c : b.palette()) add(c, 4);
    for (int y = 0; y < b.height(); ++y)
        for (std::size_t e = 0; e < b.stride(); ++e) add(b.row(y)[e], 1);
    return h;
}

struct Operation {
    const char* name;
    std::function<void(Bitmap&)> run;
    std::uint64_t fingerprint;  // of the results over every size and format
};

// Fingerprints of results checked against the straightforward versions (here and in
// each operation's own tests), taken before the loops were last made faster.
const std::vector<Operation>& Operations() {
    static const std::vector<Operation> ops = {
        {"resize 50 %", [](Bitmap& b) { DoResize("resize;50;50;percents;percents;both", b); }, 0xea1663442afc76c9ull},
        {"triangle to 2w+1 x h-1",
         [](Bitmap& b) { ResampleBitmap(b, 2 * b.width() + 1, std::max(1, b.height() - 1), 1); },
         0x9e3d7523f4d2e411ull},
        {"triangle to w/3 x 3h", [](Bitmap& b) { ResampleBitmap(b, std::max(1, b.width() / 3), 3 * b.height(), 1); },
         0x9a7748eb5cb33980ull},
        {"lanczos3 to w-2 x h/2",
         [](Bitmap& b) { ResampleBitmap(b, std::max(1, b.width() - 2), std::max(1, b.height() / 2), 5); },
         0xffc283a8361132ddull},
        {"mitchell to 3w/2 x 2h/3",
         [](Bitmap& b) { ResampleBitmap(b, 3 * b.width() / 2 + 1, 2 * b.height() / 3 + 1, 6); }, 0x27fb294752ad407eull},
        {"gaussian blur 0.5", [](Bitmap& b) { GaussianBlur(b, 0.5); }, 0x6f4935f7ccaa97d2ull},
        {"gaussian blur 2.5", [](Bitmap& b) { GaussianBlur(b, 2.5); }, 0x0cbe655da70c8e45ull},
        {"quick blur twice", [](Bitmap& b) { QuickBlur(b), QuickBlur(b); }, 0x10c9bf2a015c6228ull},
        {"contrast 10", [](Bitmap& b) { ChangeContrast(b, 10); }, 0x99f9518f1af42d27ull},
        {"contrast -37", [](Bitmap& b) { ChangeContrast(b, -37); }, 0x809afa77556f5051ull},
        {"brightness 17", [](Bitmap& b) { ChangeBrightness(b, 17); }, 0x2b78cc2da9cffcf3ull},
        {"brightness -200", [](Bitmap& b) { ChangeBrightness(b, -200); }, 0xd03a3c8d8e0b24d8ull},
        {"rotate 90", [](Bitmap& b) { RotateBitmap(b, kWhite, 90); }, 0x785935b1a92f2342ull},
        {"rotate 180", [](Bitmap& b) { RotateBitmap(b, kWhite, 180); }, 0xd8844667df3d28e4ull},
        {"rotate -90", [](Bitmap& b) { RotateBitmap(b, kWhite, -90); }, 0x97d23d6c21a3700aull},
        {"rotate 30.5", [](Bitmap& b) { RotateBitmap(b, RGB(1, 2, 3), 30.5); }, 0xd2fbf8251159c5c4ull},
        {"mirror left-right", [](Bitmap& b) { MirrorBitmap(b, MirrorDirection::LeftRight); }, 0x212647776b7cfb38ull},
        {"mirror top-bottom", [](Bitmap& b) { MirrorBitmap(b, MirrorDirection::TopBottom); }, 0xff0cdbec2bd28300ull},
        {"depth 1", [](Bitmap& b) { ChangeColorDepth(b, 1); }, 0xc8d2f450324b620eull},
        {"depth 4", [](Bitmap& b) { ChangeColorDepth(b, 4); }, 0x0fb247d53b8f9296ull},
        {"depth 8", [](Bitmap& b) { ChangeColorDepth(b, 8); }, 0x09f41ba334943a91ull},
        {"depth 16", [](Bitmap& b) { ChangeColorDepth(b, 16); }, 0xf9137d98462eaae3ull},
        {"depth 24", [](Bitmap& b) { ChangeColorDepth(b, 24); }, 0x5c826c82ef78d334ull},
        {"depth 32", [](Bitmap& b) { ChangeColorDepth(b, 32); }, 0xfc1777f0ee814de0ull},
        {"thumbnail 40 px wide", [](Bitmap& b) { ResizeThumbnail(b, 40, 0, 0, 0, 1); }, 0x82ad3ba68a3e3d3cull},
    };
    return ops;
}

TEST(SpeedEquivalence, EveryOperationKeepsItsResultsInEveryFormat) {
    for (const Operation& op : Operations()) {
        std::uint64_t h = 14695981039346656037ull;
        std::uint64_t seed = 1;
        for (const auto& size : kSizes)
            for (const Format& format : kFormats) {
                Bitmap b = RandomPicture(size[0], size[1], format, seed++);
                try {
                    op.run(b);
                } catch (const Error& e) {  // a refusal is a result too (a resize to no pixels)
                    for (char c : std::string(e.what())) h = (h ^ std::uint8_t(c)) * 1099511628211ull;
                }
                h = Fingerprint(b, h);
            }
        if (op.fingerprint == 0)
            std::printf("fingerprint of %s: 0x%016llx\n", op.name, static_cast<unsigned long long>(h));
        EXPECT_EQ(h, op.fingerprint) << op.name;
    }
}

// ---- Straightforward versions ------------------------------------------------------

// Reads and writes go through pixel() and setPixel() of a 24-bit copy.
Bitmap ReferenceTone(const Bitmap& source, int contrast, int brightness) {
    Bitmap b = source;
    b.setBitsPerPixel(24);
    const int w = b.width(), h = b.height();
    if (contrast != 0) {
        long long sum[3] = {0, 0, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Color c = b.pixel(x, y);
                sum[0] += GetR(c), sum[1] += GetG(c), sum[2] += GetB(c);
            }
        const double f = contrast > 0 ? contrast / 10.0 + 1 : 1 - std::sqrt(double(-contrast)) / 10;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Color c = b.pixel(x, y);
                const unsigned in[3] = {GetR(c), GetG(c), GetB(c)};
                unsigned out[3];
                for (int k = 0; k < 3; ++k) {
                    const long long p = sum[k] / (static_cast<long long>(w) * h);
                    const double v = double(p) + std::trunc(double(static_cast<long long>(in[k]) - p) * f);
                    out[k] = v < 0 ? 0 : v > 255 ? 255 : unsigned(v);
                }
                b.setPixel(x, y, RGB(out[0], out[1], out[2]));
            }
    } else {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Color c = b.pixel(x, y);
                const auto add = [&](unsigned v) {
                    const int s = int(v) + brightness;
                    return unsigned(brightness > 0 ? std::min(255, s) : std::max(0, s));
                };
                b.setPixel(x, y, RGB(add(GetR(c)), add(GetG(c)), add(GetB(c))));
            }
    }
    return b;
}

// Quarter and half turns and mirrors as pixel mappings: target (x, y) = source (sx, sy).
Bitmap ReferenceMove(const Bitmap& source, const std::string& move) {
    Bitmap s = source;
    s.setBitsPerPixel(24);
    const int w = s.width(), h = s.height();
    const bool quarter = move == "90" || move == "270";
    Bitmap t(quarter ? h : w, quarter ? w : h, 24);
    for (int y = 0; y < t.height(); ++y)
        for (int x = 0; x < t.width(); ++x) {
            int sx = x, sy = y;
            if (move == "90") sx = y, sy = h - 1 - x;
            if (move == "270") sx = w - 1 - y, sy = x;
            if (move == "180") sx = w - 1 - x, sy = h - 1 - y;
            if (move == "left-right") sx = w - 1 - x;
            if (move == "top-bottom") sy = h - 1 - y;
            t.setPixel(x, y, s.pixel(sx, sy));
        }
    return t;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.bitsPerPixel() != b.bitsPerPixel()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

TEST(SpeedEquivalence, ToneAndPixelMovesMatchTheirStraightforwardVersions) {
    struct Case {
        const char* name;
        std::function<void(Bitmap&)> fast;
        std::function<Bitmap(const Bitmap&)> reference;
    };
    const Case cases[] = {
        {"contrast 1", [](Bitmap& b) { ChangeContrast(b, 1); }, [](const Bitmap& b) { return ReferenceTone(b, 1, 0); }},
        {"contrast 100", [](Bitmap& b) { ChangeContrast(b, 100); },
         [](const Bitmap& b) { return ReferenceTone(b, 100, 0); }},
        {"contrast -1", [](Bitmap& b) { ChangeContrast(b, -1); },
         [](const Bitmap& b) { return ReferenceTone(b, -1, 0); }},
        {"contrast -64", [](Bitmap& b) { ChangeContrast(b, -64); },
         [](const Bitmap& b) { return ReferenceTone(b, -64, 0); }},
        {"brightness 0", [](Bitmap& b) { ChangeBrightness(b, 0); },
         [](const Bitmap& b) { return ReferenceTone(b, 0, 0); }},
        {"brightness 99", [](Bitmap& b) { ChangeBrightness(b, 99); },
         [](const Bitmap& b) { return ReferenceTone(b, 0, 99); }},
        {"brightness -300", [](Bitmap& b) { ChangeBrightness(b, -300); },
         [](const Bitmap& b) { return ReferenceTone(b, 0, -300); }},
        {"rotate 90", [](Bitmap& b) { RotateBitmap(b, 0, 90); },
         [](const Bitmap& b) { return ReferenceMove(b, "90"); }},
        {"rotate -270", [](Bitmap& b) { RotateBitmap(b, 0, -270); },
         [](const Bitmap& b) { return ReferenceMove(b, "90"); }},
        {"rotate 270", [](Bitmap& b) { RotateBitmap(b, 0, 270); },
         [](const Bitmap& b) { return ReferenceMove(b, "270"); }},
        {"rotate 540", [](Bitmap& b) { RotateBitmap(b, 0, 540); },
         [](const Bitmap& b) { return ReferenceMove(b, "180"); }},
        {"mirror left-right", [](Bitmap& b) { MirrorBitmap(b, MirrorDirection::LeftRight); },
         [](const Bitmap& b) { return ReferenceMove(b, "left-right"); }},
        {"mirror top-bottom", [](Bitmap& b) { MirrorBitmap(b, MirrorDirection::TopBottom); },
         [](const Bitmap& b) { return ReferenceMove(b, "top-bottom"); }},
    };
    std::uint64_t seed = 1000;
    for (const Case& c : cases)
        for (const auto& size : kSizes)
            for (const Format& format : kFormats) {
                const Bitmap source = RandomPicture(size[0], size[1], format, seed++);
                Bitmap fast = source;
                c.fast(fast);
                EXPECT_TRUE(SamePixels(fast, c.reference(source)))
                    << c.name << " on " << size[0] << "x" << size[1] << " at " << format.bpp << " bits";
            }
}

// Every conversion against pixel() of the source and the nearest colour of setPixel().
TEST(SpeedEquivalence, ColourDepthChangesMatchPixelByPixelConversion) {
    std::uint64_t seed = 5000;
    for (const auto& size : kSizes)
        for (const Format& format : kFormats)
            for (int to : {1, 4, 8, 16, 24, 32}) {
                const Bitmap source = RandomPicture(size[0], size[1], format, seed++);
                Bitmap fast = source;
                fast.setBitsPerPixel(to);
                Bitmap reference(size[0], size[1], to);
                if (to == format.bpp) reference.setPalette(source.palette());
                for (int y = 0; y < size[1]; ++y)
                    for (int x = 0; x < size[0]; ++x)
                        if (to == format.bpp && to <= 8)
                            reference.setIndex(x, y, source.index(x, y));
                        else
                            reference.setPixel(x, y, source.pixel(x, y));
                EXPECT_TRUE(SamePixels(fast, reference))
                    << size[0] << "x" << size[1] << " " << format.bpp << " -> " << to;
            }
}

// ---- JPEG -----------------------------------------------------------------------------

// libjpeg fed row by row from a red-green-blue copy of each row, at libjpeg's defaults.
ByteVector ReferenceJpeg(const Bitmap& source, int quality, bool progressive) {
    Bitmap b = source;
    b.setBitsPerPixel(24);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(b.width());
    cinfo.image_height = JDIMENSION(b.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> rgb(std::size_t(b.width()) * 3);
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x)
            for (int c = 0; c < 3; ++c) rgb[std::size_t(x) * 3 + c] = b.row(y)[std::size_t(x) * 3 + 2 - c];
        JSAMPROW row = rgb.data();
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    ByteVector bytes(out, out + size);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

TEST(SpeedEquivalence, JpegWritesTheBytesOfARowByRowEncoder) {
    std::uint64_t seed = 9000;
    for (const auto& size : kSizes)
        for (const Format& format : kFormats)
            for (const auto& [quality, progressive] : {std::pair{75, false}, std::pair{93, true}}) {
                const Bitmap source = RandomPicture(size[0], size[1], format, seed++);
                EXPECT_EQ(jpeg::Write(source, quality, progressive), ReferenceJpeg(source, quality, progressive))
                    << size[0] << "x" << size[1] << " at " << format.bpp << " bits, quality " << quality;
            }
}

}  // namespace
}  // namespace pictorix
