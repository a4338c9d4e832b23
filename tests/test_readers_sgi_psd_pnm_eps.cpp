// Tests of four content-probing readers: SGI, Photoshop, portable maps and EPS with a
// TIFF preview.
//
// Pictures written by ImageMagick (under a neutral extension, so that only the content
// can tell them apart) are compared pixel by pixel with ImageMagick's own reading;
// hand-built files cover what ImageMagick does not write (grey with alpha, shared
// run-length rows, comments in odd places, damaged headers). The real files of the
// shared corpus are read too, and every fixture is truncated and corrupted at many
// points, which must only ever give an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
#include "pictureio/codecs/eps.h"
#include "pictureio/codecs/pnm.h"
#include "pictureio/codecs/psd.h"
#include "pictureio/codecs/sgi.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace pictorix {
namespace {

// The four readers in the order in which the general route asks them.
const ProbingReader kReaders[] = {
    {"EPS", eps::kProbeHeaderLength, eps::Probe, eps::Read},
    {"SGI", sgi::kProbeHeaderLength, sgi::Probe, sgi::Read},
    {"PSD", psd::kProbeHeaderLength, psd::Probe, psd::Read},
    {"PNM", pnm::kProbeHeaderLength, pnm::Probe, pnm::Read},
};

using test::CorpusDir;
using test::CountDifferences;
using test::ErrorOf;
using test::FilesIn;
using test::ImageMagickRgb;
using test::PutBE16;
using test::PutBE32;
using test::ReadBytes;
using test::ReaderNamed;
using test::Recognise;

ByteVector Bytes(const std::string& s) { return ByteVector(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// Probes

ByteVector SgiHeader(unsigned magic, unsigned storage, unsigned bytesPerChannel, unsigned dimension, unsigned width,
                     unsigned height, unsigned channels) {
    ByteVector h;
    PutBE16(h, magic);
    h.push_back(static_cast<std::uint8_t>(storage));
    h.push_back(static_cast<std::uint8_t>(bytesPerChannel));
    PutBE16(h, dimension);
    PutBE16(h, width);
    PutBE16(h, height);
    PutBE16(h, channels);
    PutBE32(h, 0);
    PutBE32(h, bytesPerChannel == 1 ? 255 : 65535);
    h.resize(512, 0);
    return h;
}

ByteVector PsdHeader(const std::string& signature, unsigned version, unsigned channels, std::uint32_t height,
                     std::uint32_t width, unsigned depth, unsigned mode) {
    ByteVector h = Bytes(signature);
    PutBE16(h, version);
    h.resize(12, 0);
    PutBE16(h, channels);
    PutBE32(h, height);
    PutBE32(h, width);
    PutBE16(h, depth);
    PutBE16(h, mode);
    return h;
}

ByteVector EpsHeader(std::uint32_t key, std::uint32_t tiffOffset, std::uint32_t tiffLength) {
    ByteVector h;
    PutLE32(h, key);
    for (int i = 0; i < 4; ++i) PutLE32(h, 0);
    PutLE32(h, tiffOffset);
    PutLE32(h, tiffLength);
    PutLE16(h, 0xFFFF);
    return h;
}

TEST(ReaderProbes, AcceptanceTable) {
    const std::uint32_t key = 0xC6D3D0C5;
    const std::vector<test::ProbeCase> cases = {
        {"SGI RGB", "SGI", SgiHeader(474, 0, 1, 3, 8, 8, 3), 0, true},
        {"SGI 16 bits, dimension 1", "SGI", SgiHeader(474, 1, 2, 1, 8, 1, 1), 0, true},
        {"SGI dimension 2, storage type not looked at", "SGI", SgiHeader(474, 9, 1, 2, 8, 8, 1), 0, true},
        {"SGI wrong magic", "SGI", SgiHeader(475, 0, 1, 3, 8, 8, 3), 0, false},
        {"SGI 0 bytes per channel", "SGI", SgiHeader(474, 0, 0, 3, 8, 8, 3), 0, false},
        {"SGI 3 bytes per channel", "SGI", SgiHeader(474, 0, 3, 3, 8, 8, 3), 0, false},
        {"SGI dimension 0", "SGI", SgiHeader(474, 0, 1, 0, 8, 8, 3), 0, false},
        {"SGI dimension 4", "SGI", SgiHeader(474, 0, 1, 4, 8, 8, 3), 0, false},
        {"SGI file of exactly 512 bytes", "SGI", SgiHeader(474, 0, 1, 3, 8, 8, 3), 512, false},
        {"PSD", "PSD", PsdHeader("8BPS", 1, 3, 8, 8, 8, 3), 0, true},
        {"PSD lower-case signature", "PSD", PsdHeader("8bps", 1, 3, 8, 8, 8, 3), 0, true},
        {"PSD mixed-case signature", "PSD", PsdHeader("8bPs", 1, 3, 8, 8, 8, 3), 0, true},
        {"PSD version 2", "PSD", PsdHeader("8BPS", 2, 3, 8, 8, 8, 3), 0, false},
        {"PSD version 0", "PSD", PsdHeader("8BPS", 0, 3, 8, 8, 8, 3), 0, false},
        {"PSD other signature", "PSD", PsdHeader("8BPX", 1, 3, 8, 8, 8, 3), 0, false},
        {"PSD file of exactly 26 bytes", "PSD", PsdHeader("8BPS", 1, 3, 8, 8, 8, 3), 26, false},
        {"P1", "PNM", Bytes("P1\n1 1\n1\n\n"), 0, true},
        {"P4", "PNM", Bytes("P4 8 1\n\xff  "), 0, true},
        {"P6", "PNM", Bytes("P6 1 1 255"), 0, true},
        {"P7 (PAM)", "PNM", Bytes("P7\nWIDTH 1"), 0, false},
        {"P0", "PNM", Bytes("P0 1 1 255"), 0, false},
        {"lower-case p6", "PNM", Bytes("p6 1 1 255"), 0, false},
        {"Pf (float map)", "PNM", Bytes("Pf 1 1 -1."), 0, false},
        {"P6 file of exactly 10 bytes", "PNM", Bytes("P6 1 1 255"), 10, false},
        {"EPS", "EPS", EpsHeader(key, 31, 1), 0, true},
        {"EPS preview at 30", "EPS", EpsHeader(key, 30, 100), 0, false},
        {"EPS negative preview offset", "EPS", EpsHeader(key, 0xFFFFFFF0, 100), 0, false},
        {"EPS no preview", "EPS", EpsHeader(key, 0, 0), 0, false},
        {"EPS offset but length 0", "EPS", EpsHeader(key, 100, 0), 0, false},
        {"EPS negative length", "EPS", EpsHeader(key, 100, 0x80000000), 0, false},
        {"EPS offset beyond the file is not the probe's business", "EPS", EpsHeader(key, 0x7FFFFFFF, 5), 0, true},
        {"EPS other key", "EPS", EpsHeader(0xC6D3D0C6, 100, 100), 0, false},
        {"EPS file of exactly 30 bytes", "EPS", EpsHeader(key, 100, 100), 30, false},
    };
    test::ExpectProbeAnswers(kReaders, cases);
}

// ---------------------------------------------------------------------------
// Pictures written by ImageMagick

TEST(ReadersFromImageMagick, DecodeAsImageMagickDoes) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    const std::string rose = "rose:";
    const std::string deepRose = "rose: -depth 16 -evaluate multiply 0.77";  // 16-bit values that are not v * 257
    const std::string gradient = "-size 23x17 gradient:red-blue";
    struct Case {
        const char* name;
        std::string source;  // ImageMagick's picture and options
        const char* format;  // ImageMagick's format prefix of the output
        const char* reader;
        int bitsPerPixel;
        bool compareWithSource = false;  // ImageMagick cannot read the file back
    };
    const std::vector<Case> cases = {
        {"sgi-rle", rose + " -depth 8", "sgi", "SGI", 24},
        {"sgi-verbatim", rose + " -depth 8 -compress None", "sgi", "SGI", 24},
        {"sgi-16", deepRose, "sgi", "SGI", 24},
        {"sgi-grey", rose + " -colorspace Gray -depth 8", "sgi", "SGI", 8},
        {"sgi-grey-16", gradient + " -colorspace Gray -depth 16", "sgi", "SGI", 8},
        {"sgi-alpha", rose + " -depth 8 -alpha set -channel A -fx 'i/w' +channel", "sgi", "SGI", 24},
        {"sgi-alpha-16", deepRose + " -alpha set -channel A -fx 'j/h' +channel", "sgi", "SGI", 24},
        {"psd-rle", rose + " -depth 8", "psd", "PSD", 24},
        {"psd-raw", rose + " -depth 8 -compress None", "psd", "PSD", 24},
        {"psd-16", deepRose, "psd", "PSD", 24},
        {"psd-grey", rose + " -colorspace Gray -depth 8", "psd", "PSD", 8},
        {"psd-grey-16", gradient + " -colorspace Gray -depth 16 -compress None", "psd", "PSD", 8},
        {"psd-bitmap", rose + " -type Bilevel -depth 1", "psd", "PSD", 1},
        {"psd-cmyk", rose + " -depth 8 -colorspace CMYK", "psd", "PSD", 24},
        {"psd-cmyk-16", deepRose + " -colorspace CMYK", "psd", "PSD", 24},
        // ImageMagick writes indexed PSD files that it cannot read itself.
        {"psd-indexed", rose + " -depth 8 -colors 16", "psd", "PSD", 8, true},
        {"ppm", rose, "ppm", "PNM", 24},
        {"ppm-16", deepRose, "ppm", "PNM", 24},
        {"ppm-plain", rose + " -compress None", "ppm", "PNM", 24},
        {"pgm", rose + " -colorspace Gray -depth 8", "pgm", "PNM", 8},
        {"pgm-16-plain", gradient + " -colorspace Gray -depth 16 -compress None", "pgm", "PNM", 8},
        {"pbm", rose + " -colorspace Gray -threshold 50%", "pbm", "PNM", 1},
        {"pbm-plain", rose + " -colorspace Gray -threshold 50% -compress None", "pbm", "PNM", 1},
        // The PostScript part needs a policy that some installations switch off, and
        // the same policy keeps ImageMagick from reading the file back: the preview
        // (a palette TIFF) is compared with its reading of the preview alone.
        {"ept", rose, "ept", "EPS", 8},
        {"ept2", rose, "ept2", "EPS", 8},
        {"ept3", rose, "ept3", "EPS", 8},
    };
    int written = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".xyz");
        const test::CommandResult made =
            test::RunCommand("convert " + c.source + " " + c.format + ":" + test::Quote(path));
        if (made.status != 0 || std::filesystem::file_size(path) == 0) {
            if (std::string(c.format).rfind("ept", 0) == 0) continue;  // see above
            FAIL() << made.output;
        }
        ++written;
        const ByteVector bytes = ReadBytes(path);
        const ProbingReader* reader = Recognise(kReaders, bytes);
        ASSERT_NE(reader, nullptr);
        EXPECT_STREQ(reader->name, c.reader);
        Bitmap b;
        reader->read(bytes, b);
        EXPECT_EQ(b.bitsPerPixel(), c.bitsPerPixel);
        std::string decoded = path + "[0]";
        if (std::string(c.reader) == "EPS") {
            decoded = dir.file(std::string(c.name) + "-preview.tif");
            std::ofstream(decoded, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data() + ReadLE32(bytes, 20)), ReadLE32(bytes, 24));
        }
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(ImageMagickRgb("convert " + (c.compareWithSource ? c.source : test::Quote(decoded)), rgb));
        // The TIFF reader keeps the high byte of a 16-bit colour map entry, ImageMagick
        // rounds, and its colour maps are not multiples of 257.
        EXPECT_EQ(CountDifferences(b, rgb, std::string(c.reader) == "EPS" ? 1 : 0), 0);
    }
    EXPECT_GE(written, static_cast<int>(std::size(cases)) - 2);  // at most two EPT variants missing
}

// ---------------------------------------------------------------------------
// SGI

// An SGI file from channel planes (each height rows bottom-up of width samples).
ByteVector SgiVerbatim(unsigned bytesPerChannel, unsigned dimension, unsigned width, unsigned height,
                       const std::vector<std::vector<unsigned>>& planes) {
    ByteVector f = SgiHeader(474, 0, bytesPerChannel, dimension, width, height, static_cast<unsigned>(planes.size()));
    for (const auto& plane : planes)
        for (unsigned v : plane) {
            if (bytesPerChannel == 2)
                PutBE16(f, v);
            else
                f.push_back(static_cast<std::uint8_t>(v));
        }
    return f;
}

TEST(SgiRead, ChannelsAndAlphaOnWhite) {
    // 2 x 1, one picture per channel count; samples chosen so that compositing shows.
    Bitmap b;
    sgi::Read(SgiVerbatim(1, 2, 2, 1, {{0, 200}}), b);
    EXPECT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.palette(), GreyPalette256());
    EXPECT_EQ(b.index(1, 0), 200);

    sgi::Read(SgiVerbatim(1, 3, 2, 1, {{0, 200}, {255, 64}}), b);  // grey + alpha
    EXPECT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.index(0, 0), 0);                                   // opaque black
    EXPECT_EQ(b.index(1, 0), (200 * 64 + 255 * 191 + 127) / 255);  // 194

    sgi::Read(SgiVerbatim(2, 3, 1, 1, {{0x1234}, {0x807F}, {0xFFFF}}), b);
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixel(0, 0), RGB((0x1234 + 128) / 257, (0x807F + 128) / 257, 255));

    sgi::Read(SgiVerbatim(1, 3, 1, 1, {{10}, {20}, {30}, {0}}), b);  // fully transparent
    EXPECT_EQ(b.pixel(0, 0), RGB(255, 255, 255));

    // Dimension 1 is one row whatever the header's row count says.
    ByteVector one = SgiVerbatim(1, 1, 3, 1, {{1, 2, 3}});
    one[9] = 7;  // row count 7
    sgi::Read(one, b);
    EXPECT_EQ(b.height(), 1);
    EXPECT_EQ(b.index(2, 0), 3);
}

// A run-length SGI file: `rows` are the encoded rows, `table` the row index used for
// each (row, channel) entry, so that rows can share their data.
ByteVector SgiRle(unsigned width, unsigned height, unsigned channels, const std::vector<ByteVector>& rows,
                  const std::vector<int>& table) {
    ByteVector f = SgiHeader(474, 1, 1, 3, width, height, channels);
    const std::uint32_t dataStart = 512 + 8 * static_cast<std::uint32_t>(table.size());
    std::vector<std::uint32_t> starts;
    std::uint32_t at = dataStart;
    for (const ByteVector& r : rows) starts.push_back(at), at += static_cast<std::uint32_t>(r.size());
    for (int i : table) PutBE32(f, starts[static_cast<std::size_t>(i)]);
    for (int i : table) PutBE32(f, static_cast<std::uint32_t>(rows[static_cast<std::size_t>(i)].size()));
    for (const ByteVector& r : rows) f.insert(f.end(), r.begin(), r.end());
    return f;
}

TEST(SgiRead, RunLengthRowsBottomUpAndShared) {
    // Grey 4 x 3: row data 0 = run of 4 x 9, row data 1 = literal 1 2 3 4 (no end mark).
    const ByteVector run = {0x04, 9, 0x00};
    const ByteVector literal = {0x84, 1, 2, 3, 4};
    Bitmap b;
    sgi::Read(SgiRle(4, 3, 1, {run, literal}, {0, 1, 0}), b);
    ASSERT_EQ(b.height(), 3);
    EXPECT_EQ(b.index(0, 0), 9);  // the file's top row is its last
    EXPECT_EQ(b.index(3, 1), 4);
    EXPECT_EQ(b.index(3, 2), 9);

    // What must fail, with the picture left as it was.
    Bitmap kept(2, 2, 24);
    kept.fill(RGB(1, 2, 3));
    struct Bad {
        const char* what;
        ByteVector file;
    } cases[] = {
        {"run past the row's end", SgiRle(4, 1, 1, {{0x05, 9, 0}}, {0})},
        {"literal past the row's end", SgiRle(4, 1, 1, {{0x85, 1, 2, 3, 4, 5, 0}}, {0})},
        {"row ends early", SgiRle(4, 1, 1, {{0x02, 9, 0x00}}, {0})},
        {"row data shorter than its run", SgiRle(4, 1, 1, {{0x84, 1, 2}}, {0})},
        {"empty row", SgiRle(4, 1, 1, {{}}, {0})},
        {"five channels", SgiVerbatim(1, 3, 1, 1, {{1}, {2}, {3}, {4}, {5}})},
        {"no pixels", SgiVerbatim(1, 3, 0, 1, {{}})},
        {"verbatim data cut short",
         [] {
             ByteVector f = SgiVerbatim(1, 3, 4, 4, {std::vector<unsigned>(16, 1)});
             f.pop_back();
             return f;
         }()},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string e = ErrorOf(sgi::Read, c.file, kept);
        EXPECT_EQ(e.rfind("SGI: ", 0), 0u) << e;
    }
    // Table entries that point outside the file or into the tables.
    ByteVector f = SgiRle(4, 1, 1, {run}, {0});
    for (std::uint32_t start : {0u, 519u, static_cast<std::uint32_t>(f.size()), 0xFFFFFFF0u}) {
        ByteVector bad = f;
        for (int i = 0; i < 4; ++i)
            bad[512 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(start >> (24 - 8 * i));
        EXPECT_EQ(ErrorOf(sgi::Read, bad, kept).rfind("SGI: ", 0), 0u) << start;
    }
    ByteVector storage = SgiVerbatim(1, 3, 1, 1, {{1}});
    storage[2] = 2;
    EXPECT_EQ(ErrorOf(sgi::Read, storage, kept), "SGI: storage type 2 is unknown");
    EXPECT_EQ(kept.width(), 2);
    EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
}

// ---------------------------------------------------------------------------
// Photoshop

// A Photoshop file: header, colour data, empty resources, the layer section, then the
// merged picture with the given compression and data (count table included for RLE).
ByteVector Psd(const ByteVector& header, const ByteVector& colourData, unsigned compression, const ByteVector& data,
               const ByteVector& layers = {}) {
    ByteVector f = header;
    PutBE32(f, static_cast<std::uint32_t>(colourData.size()));
    f.insert(f.end(), colourData.begin(), colourData.end());
    PutBE32(f, 0);
    PutBE32(f, static_cast<std::uint32_t>(layers.size()));
    f.insert(f.end(), layers.begin(), layers.end());
    PutBE16(f, compression);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(PsdRead, ModesAndDepths) {
    Bitmap b;
    // Bitmap mode, 10 x 1: the file's 1 is black.
    psd::Read(Psd(PsdHeader("8BPS", 1, 1, 1, 10, 1, 0), {}, 0, {0xA0, 0x40}), b);
    ASSERT_EQ(b.bitsPerPixel(), 1);
    EXPECT_EQ(b.palette(), BlackWhitePalette());
    EXPECT_EQ(b.pixel(0, 0), kBlack);
    EXPECT_EQ(b.pixel(1, 0), kWhite);
    EXPECT_EQ(b.pixel(2, 0), kBlack);
    EXPECT_EQ(b.pixel(9, 0), kBlack);
    EXPECT_EQ(b.pixel(8, 0), kWhite);

    // Indexed, with the table stored as 256 reds, 256 greens, 256 blues.
    ByteVector table(768, 0);
    table[5] = 10, table[256 + 5] = 20, table[512 + 5] = 30;
    psd::Read(Psd(PsdHeader("8bps", 1, 1, 1, 1, 8, 2), table, 0, {5}), b);
    ASSERT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.index(0, 0), 5);
    EXPECT_EQ(b.pixel(0, 0), RGB(10, 20, 30));

    // CMYK, stored inverted, with a fifth channel that is not used.
    psd::Read(Psd(PsdHeader("8BPS", 1, 5, 1, 1, 8, 4), {}, 0, {255, 128, 0, 200, 0}), b);
    ASSERT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixel(0, 0), RGB(200, (128 * 200 + 127) / 255, 0));

    // RGB with a fourth channel: the merged picture's transparency only when the layer
    // count is negative, and then only a fully transparent pixel becomes white (the
    // colours of partly transparent ones are matted against white already).
    auto layerCount = [](int count) {
        ByteVector layers;
        PutBE32(layers, 2);
        PutBE16(layers, static_cast<unsigned>(count) & 0xFFFF);
        return layers;
    };
    const ByteVector rgba = {9, 8, 10, 8, 20, 30, 0, 128};  // 2 x 1, alpha 0 and 128
    for (const auto& [layers, first] :
         {std::pair{layerCount(-1), RGB(255, 255, 255)}, std::pair{layerCount(1), RGB(9, 10, 20)},
          std::pair{ByteVector{}, RGB(9, 10, 20)}}) {
        psd::Read(Psd(PsdHeader("8BPS", 1, 4, 1, 2, 8, 3), {}, 0, rgba, layers), b);
        EXPECT_EQ(b.pixel(0, 0), first);
        EXPECT_EQ(b.pixel(1, 0), RGB(8, 8, 30));
    }

    // 16-bit greyscale, run-length: one row of 2 samples as a literal of 4 bytes.
    ByteVector rle;
    PutBE16(rle, 5);
    for (std::uint8_t v : {0x03, 0x12, 0x34, 0xFF, 0x7F}) rle.push_back(v);
    psd::Read(Psd(PsdHeader("8BPS", 1, 1, 1, 2, 16, 1), {}, 1, rle), b);
    EXPECT_EQ(b.index(0, 0), (0x1234 + 128) / 257);
    EXPECT_EQ(b.index(1, 0), (0xFF7F + 128) / 257);
}

TEST(PsdRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    const ByteVector rgb1x1 = PsdHeader("8BPS", 1, 3, 1, 1, 8, 3);
    auto withSectionLength = [&](std::size_t at, std::uint32_t length) {
        ByteVector f = Psd(rgb1x1, {}, 0, {1, 2, 3});
        for (int i = 0; i < 4; ++i)
            f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
        return f;
    };
    ByteVector rleCounts;  // 1 x 1 RGB: three rows of 2 bytes each
    for (int i = 0; i < 3; ++i) PutBE16(rleCounts, 2);
    const test::BadFile cases[] = {
        {"version 2", Psd(PsdHeader("8BPS", 2, 3, 1, 1, 8, 3), {}, 0, {1, 2, 3}), "PSD: version 2 is not supported"},
        {"colour data past the end", withSectionLength(26, 1000), "PSD: colour mode data go past the end of the file"},
        {"resources past the end", withSectionLength(30, 0xFFFFFFFF),
         "PSD: image resources go past the end of the file"},
        {"layers past the end", withSectionLength(34, 6), "PSD: layers and masks go past the end of the file"},
        {"raw data cut short", Psd(rgb1x1, {}, 0, {1, 2}), "PSD: file is truncated (merged picture)"},
        {"ZIP", Psd(rgb1x1, {}, 2, {1, 2, 3}), "PSD: ZIP-compressed pictures are not supported"},
        {"Lab", Psd(PsdHeader("8BPS", 1, 3, 1, 1, 8, 9), {}, 0, {1, 2, 3}), "PSD: colour mode 9 is not supported"},
        {"32 bits", Psd(PsdHeader("8BPS", 1, 3, 1, 1, 32, 3), {}, 0, {}), "PSD: 32 bits per sample are not supported"},
        {"too few channels", Psd(PsdHeader("8BPS", 1, 2, 1, 1, 8, 3), {}, 0, {1, 2}),
         "PSD: 2 channels are too few for colour mode 3"},
        {"indexed without a table", Psd(PsdHeader("8BPS", 1, 1, 1, 1, 8, 2), {}, 0, {0}),
         "PSD: an indexed picture has no 256-colour table"},
        {"run past the row's end",
         [&] {
             ByteVector d = rleCounts;
             for (int i = 0; i < 3; ++i) d.push_back(0xFF), d.push_back(7);  // 2 bytes for a row of 1
             return Psd(rgb1x1, {}, 1, d);
         }(),
         "PSD: a run goes past the end of row 0"},
        {"count table cut short", Psd(rgb1x1, {}, 1, {0, 2, 0}), "PSD: file is truncated (row byte counts)"},
        {"rows cut short",
         [&] {
             ByteVector d = rleCounts;
             d.push_back(0);
             d.push_back(7);
             return Psd(rgb1x1, {}, 1, d);
         }(),
         "PSD: file is truncated (merged picture)"},
        {"huge width from tiny counts",
         [&] {
             ByteVector d;
             for (int i = 0; i < 3; ++i) PutBE16(d, 2);
             for (int i = 0; i < 3; ++i) d.push_back(0x81), d.push_back(7);
             return Psd(PsdHeader("8BPS", 1, 3, 1, 30000, 8, 3), {}, 1, d);
         }(),
         "PSD: compressed row 0 is too short for the picture's width"},
    };
    test::ExpectErrorsKeepBitmap(psd::Read, cases);
}

// ---------------------------------------------------------------------------
// Portable maps

TEST(PnmRead, HeadersSamplesAndScaling) {
    Bitmap b;
    // Comments between every token, right after the largest value, and in plain data.
    pnm::Read(Bytes("P2#c\n# c\n3#c\n#c\n1 # c\n 1000#c\n0 500#c\n 1000\n"), b);
    ASSERT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.width(), 3);
    EXPECT_EQ(b.index(0, 0), 0);
    EXPECT_EQ(b.index(1, 0), (500 * 255 + 500) / 1000);  // 128: halves go up
    EXPECT_EQ(b.index(2, 0), 255);

    pnm::Read(Bytes("P5 2 1 1000#end of header\n\x01\xF4\x03\xE8"), b);
    EXPECT_EQ(b.index(0, 0), 128);
    EXPECT_EQ(b.index(1, 0), 255);

    // P1 digits need no separators; 1 is black.
    pnm::Read(Bytes("P1 3 2 010\n1 0 1"), b);
    ASSERT_EQ(b.bitsPerPixel(), 1);
    EXPECT_EQ(b.palette(), BlackWhitePalette());
    EXPECT_EQ(b.pixel(0, 0), kWhite);
    EXPECT_EQ(b.pixel(1, 0), kBlack);
    EXPECT_EQ(b.pixel(0, 1), kBlack);
    EXPECT_EQ(b.pixel(1, 1), kWhite);

    pnm::Read(Bytes("P4 10 1\n\x80\x40 trailing data"), b);
    EXPECT_EQ(b.pixel(0, 0), kBlack);
    EXPECT_EQ(b.pixel(1, 0), kWhite);
    EXPECT_EQ(b.pixel(9, 0), kBlack);
    EXPECT_EQ(b.pixel(8, 0), kWhite);

    // 16-bit raw samples, big-endian; values above the largest count as the largest.
    pnm::Read(Bytes(std::string("P6 2 1 65535\n\x12\x34\x80\x7F\xFF\xFF\xFF\xFF\x00\x00\x00\x01", 25)), b);
    ASSERT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixel(0, 0), RGB((0x1234 + 128) / 257, (0x807F + 128) / 257, 255));
    EXPECT_EQ(b.pixel(1, 0), RGB(255, 0, 0));
    pnm::Read(Bytes("P3 1 1 100 100 250 50"), b);
    EXPECT_EQ(b.pixel(0, 0), RGB(255, 255, (50 * 255 + 50) / 100));
}

TEST(PnmRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    struct Bad {
        const char* file;
        std::string message;
    } cases[] = {
        {"P7 1 1 255 x", "PNM: not a portable map (P1 to P6)"},
        {"P6 0 1 255 x", "PNM: the picture has no pixels"},
        {"P5 1 1 0 x", "PNM: the largest sample value is 0"},
        {"P5 1 1 65536 x", "PNM: the largest sample value is too large"},
        {"P632 358888888863 2!\n", "PNM: the height is too large"},
        {"P5 x 1 255 x", "PNM: the width is not a number"},
        {"P6 2 1 255\nabcde", "PNM: file is truncated"},
        {"P5 2 1 65535\nabc", "PNM: file is truncated"},
        {"P5 1 1 255", "PNM: file is truncated"},
        {"P5 1 1 255x", "PNM: no white space after the header"},
        {"P1 2 2 0 1 0 2", "PNM: a bit map holds a character other than 0 and 1"},
        {"P2 2 2 255 0 1 2", "PNM: file is truncated"},
        {"P2 1 2 255 0 # 1", "PNM: file is truncated"},
        {"P3 1 1 255 0 x 0", "PNM: the sample is not a number"},
    };
    Bitmap kept(2, 2, 24);
    kept.fill(RGB(1, 2, 3));
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(ErrorOf(pnm::Read, Bytes(c.file), kept), c.message);
    }
    EXPECT_EQ(kept.width(), 2);
    EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
}

// ---------------------------------------------------------------------------
// EPS

// A 4 x 3 TIFF written by ImageMagick, or empty when it is not installed.
ByteVector SmallTiff(const test::TempDir& dir) {
    const std::string path = dir.file("preview.tif");
    if (test::RunCommand("convert rose: -resize 4x3! -depth 8 " + test::Quote("tiff:" + path)).status != 0) return {};
    return ReadBytes(path);
}

ByteVector Eps(std::uint32_t offset, const ByteVector& tiffBytes, std::size_t gap = 0) {
    ByteVector f = EpsHeader(0xC6D3D0C5, offset, static_cast<std::uint32_t>(tiffBytes.size()));
    f.resize(30 + gap, '%');
    f.insert(f.end(), tiffBytes.begin(), tiffBytes.end());
    return f;
}

TEST(EpsRead, PreviewIsReadFromItsPlace) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    const ByteVector tiffBytes = SmallTiff(dir);
    ASSERT_FALSE(tiffBytes.empty());
    Bitmap b;
    eps::Read(Eps(40, tiffBytes, 10), b);
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.height(), 3);

    // Right after the header the probe does not take it, but the reader can.
    const ByteVector atThirty = Eps(30, tiffBytes);
    EXPECT_EQ(Recognise(kReaders, atThirty), nullptr);
    Bitmap c;
    eps::Read(atThirty, c);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(c.pixel(x, y), b.pixel(x, y));

    Bitmap kept(2, 2, 24);
    kept.fill(RGB(1, 2, 3));
    ByteVector past = Eps(40, tiffBytes, 10);
    past.pop_back();
    EXPECT_EQ(ErrorOf(eps::Read, past, kept), "EPS: the TIFF preview lies outside the file");
    EXPECT_EQ(ErrorOf(eps::Read, Eps(40, {}, 10), kept), "EPS: the file has no TIFF preview");
    EXPECT_EQ(ErrorOf(eps::Read, EpsHeader(0xC6D3D0C5, 0xFFFFFFF0, 100), kept),
              "EPS: the TIFF preview lies outside the file");
    ByteVector damaged = Eps(40, tiffBytes, 10);
    damaged[40] = 'X';  // no byte-order mark
    EXPECT_EQ(ErrorOf(eps::Read, damaged, kept).rfind("EPS: TIFF: ", 0), 0u);
    EXPECT_EQ(kept.width(), 2);
    EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
}

// ---------------------------------------------------------------------------
// The shared corpus

TEST(ReadersCorpus, EveryFileIsRecognisedAndLoadsOrGivesAnError) {
    int folders = 0;
    for (const char* folder : {"sgi", "psd", "pnm", "eps"}) {
        const std::string dir = CorpusDir(folder);
        if (dir.empty()) continue;
        ++folders;
        for (const auto& path : FilesIn(dir)) {
            const ByteVector bytes = ReadBytes(path.string());
            const ProbingReader* reader = Recognise(kReaders, bytes);
            std::string outcome = "not recognised";
            if (reader) {
                Bitmap b;
                const std::string error = ErrorOf(reader->read, bytes, b);
                outcome = std::string(reader->name) + ": " +
                          (error.empty() ? std::to_string(b.width()) + " x " + std::to_string(b.height()) + ", " +
                                               std::to_string(b.bitsPerPixel()) + " bits"
                                         : error);
            }
            std::cout << "  " << folder << "/" << path.filename().string() << ": " << outcome << "\n";
        }
    }
    if (folders == 0) GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
}

TEST(ReadersCorpus, GoodFilesMatchImageMagick) {
    if (CorpusDir("sgi").empty()) GTEST_SKIP() << "the picture corpus (shared/corpus) is not present";
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    struct Case {
        const char* file;
        int bitsPerPixel;
    } cases[] = {
        {"sgi/hopper.bw", 8},
        {"sgi/hopper.rgb", 24},
        {"sgi/hopper.sgi", 24},
        {"sgi/hopper16.rgb", 24},
        {"sgi/transparent.sgi", 24},
        {"sgi/tv.rgb", 24},
        {"sgi/tv16.sgi", 24},
        {"psd/hopper.psd", 24},
        {"psd/hopper_merged.psd", 24},
        {"psd/rgba.psd", 24},
        {"psd/five_channels.psd", 24},
        {"psd/negative_layer_count.psd", 24},
        {"psd/negative_top_left_layer.psd", 24},
        {"psd/psd-oob-write.psd", 24},
        {"psd/psd-oob-write-x.psd", 24},
        {"psd/psd-oob-write-y.psd", 24},
        {"psd/psd-oob-write-overflow.psd", 8},
        {"pnm/16_bit_binary.pgm", 8},
        {"pnm/hopper.pnm", 24},
        {"pnm/hopper.ppm", 24},
        {"pnm/hopper_16bit.pgm", 8},
        {"pnm/hopper_16bit_plain.pgm", 8},
        {"pnm/hopper_1bit.pbm", 1},
        {"pnm/hopper_1bit_plain.pbm", 1},
        {"pnm/hopper_8bit.pgm", 8},
        {"pnm/hopper_8bit.ppm", 24},
        {"pnm/hopper_8bit_plain.pgm", 8},
        {"pnm/hopper_8bit_plain.ppm", 24},
        {"pnm/hopper_webp_bits.ppm", 24},
        {"pnm/hopper_webp_write.ppm", 24},
        {"eps/illu10_preview.eps", 1},
        {"eps/illuCS6_preview.eps", 1},
        {"eps/binary_preview_map.eps", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(PICTORIX_CORPUS_DIR) + "/" + c.file;
        const ByteVector bytes = ReadBytes(path);
        const std::string folder = std::string(c.file).substr(0, 3);
        const ProbingReader& reader = ReaderNamed(kReaders, folder == "eps"   ? "EPS"
                                                            : folder == "sgi" ? "SGI"
                                                            : folder == "psd" ? "PSD"
                                                                              : "PNM");
        Bitmap b;
        reader.read(bytes, b);
        EXPECT_EQ(b.bitsPerPixel(), c.bitsPerPixel);
        std::string decoded = path + "[0]";
        if (folder == "eps") {
            decoded = dir.file("preview.tif");
            std::ofstream(decoded, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data() + ReadLE32(bytes, 20)), ReadLE32(bytes, 24));
        }
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(ImageMagickRgb("convert " + test::Quote(decoded), rgb));
        EXPECT_EQ(CountDifferences(b, rgb), 0);
    }
}

// ---------------------------------------------------------------------------
// Damaged files

// A 3 x 2 uncompressed 8-bit grey TIFF, little-endian.
ByteVector TinyTiff() {
    ByteVector t = {'I', 'I', 42, 0};
    PutLE32(t, 8);
    const std::uint16_t tags[][2] = {{256, 3}, {257, 2}, {258, 8}, {259, 1}, {262, 1}, {273, 0}, {278, 2}, {279, 6}};
    PutLE16(t, static_cast<unsigned>(std::size(tags)));
    const std::uint32_t data = 8 + 2 + 12 * static_cast<std::uint32_t>(std::size(tags)) + 4;
    for (const auto& tag : tags) {
        PutLE16(t, tag[0]);
        PutLE16(t, 3);  // SHORT, or LONG for the strip offset
        PutLE32(t, 1);
        PutLE32(t, tag[0] == 273 ? data : tag[1]);
    }
    t[8 + 2 + 12 * 5 + 2] = 4;  // StripOffsets as LONG
    PutLE32(t, 0);
    for (int i = 0; i < 6; ++i) t.push_back(static_cast<std::uint8_t>(40 * i));
    return t;
}

struct Fixture {
    std::string name;
    const char* reader;
    ByteVector bytes;
};

// Hand-built files of every kind that the readers take, and the corpus files.
std::vector<Fixture> Fixtures() {
    std::vector<Fixture> f;
    std::vector<unsigned> ramp(24), wide(24);
    for (unsigned i = 0; i < 24; ++i) ramp[i] = i * 10, wide[i] = i * 2700;
    f.push_back({"sgi verbatim", "SGI", SgiVerbatim(1, 3, 6, 4, {ramp, ramp, ramp, ramp})});
    f.push_back({"sgi 16-bit grey alpha", "SGI", SgiVerbatim(2, 3, 6, 4, {wide, wide})});
    f.push_back({"sgi run-length", "SGI",
                 SgiRle(4, 3, 3, {{0x04, 9, 0x00}, {0x84, 1, 2, 3, 4, 0}, {0x02, 7, 0x82, 5, 6, 0}},
                        {0, 1, 2, 2, 1, 0, 1, 1, 1})});
    ByteVector rgb(6 * 4 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 5);
    f.push_back({"psd raw", "PSD", Psd(PsdHeader("8BPS", 1, 3, 4, 6, 8, 3), {}, 0, rgb)});
    ByteVector rle;  // 6 x 4 CMYK, 16 rows: literal, repeat, literal, ...
    for (int i = 0; i < 16; ++i) PutBE16(rle, i % 2 ? 2 : 7);
    for (int i = 0; i < 16; ++i) {
        if (i % 2)
            rle.push_back(0xFB), rle.push_back(static_cast<std::uint8_t>(i * 9));
        else
            for (int k = 0; k < 7; ++k) rle.push_back(static_cast<std::uint8_t>(k == 0 ? 5 : i * k));
    }
    f.push_back({"psd run-length cmyk", "PSD", Psd(PsdHeader("8BPS", 1, 4, 4, 6, 8, 4), {}, 1, rle)});
    ByteVector table(768);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(i);
    f.push_back({"psd indexed", "PSD", Psd(PsdHeader("8BPS", 1, 1, 2, 3, 8, 2), table, 0, {1, 2, 3, 4, 5, 6})});
    f.push_back({"psd bitmap", "PSD", Psd(PsdHeader("8BPS", 1, 1, 2, 10, 1, 0), {}, 0, {0xA5, 0x40, 0x5A, 0x80})});
    f.push_back({"p1", "PNM", Bytes("P1 # c\n5 2\n1 0 1 0 1\n0 1 0 1 0\n")});
    f.push_back({"p2", "PNM", Bytes("P2 3 2 1000 0 100 200 300 400 1000\n")});
    f.push_back({"p3", "PNM", Bytes("P3 2 2 255 1 2 3 4 5 6 7 8 9 10 11 12\n")});
    f.push_back({"p4", "PNM", Bytes("P4 10 2\n\xA5\x40\x5A\x80")});
    f.push_back({"p5 16-bit", "PNM", Bytes("P5 2 2 65535\n\x01\x02\x03\x04\x05\x06\x07\x08")});
    f.push_back({"p6", "PNM", Bytes("P6 2 1 255\n\x01\x02\x03\x04\x05\x06")});
    f.push_back({"eps", "EPS", Eps(40, TinyTiff(), 10)});
    for (const char* folder : {"sgi", "psd", "pnm", "eps"}) {
        const std::string dir = CorpusDir(folder);
        if (dir.empty()) continue;
        const std::string name = folder;
        const char* reader = name == "sgi" ? "SGI" : name == "psd" ? "PSD" : name == "pnm" ? "PNM" : "EPS";
        for (const auto& path : FilesIn(dir))
            f.push_back({name + "/" + path.filename().string(), reader, ReadBytes(path.string())});
    }
    return f;
}

TEST(ReadersDamaged, HandBuiltFixturesAreGood) {
    for (const Fixture& f : Fixtures()) {
        if (f.name.find('/') != std::string::npos) continue;
        SCOPED_TRACE(f.name);
        const ProbingReader* reader = Recognise(kReaders, f.bytes);
        ASSERT_NE(reader, nullptr);
        EXPECT_STREQ(reader->name, f.reader);
        Bitmap b;
        EXPECT_EQ(ErrorOf(reader->read, f.bytes, b), "");
    }
}

// Every fixture cut at many points and with random bytes changed: the reader gives a
// picture or an Error, never anything else (and, under the sanitizers, never touches
// memory outside its buffers).
TEST(ReadersDamaged, TruncatedAndCorruptedFilesGiveAPictureOrAnError) {
    std::mt19937 random(20240611);
    int errors = 0;
    for (const Fixture& f : Fixtures()) {
        SCOPED_TRACE(f.name);
        const ProbingReader& reader = ReaderNamed(kReaders, f.reader);
        // Cut everywhere in the headers and tables, then at spread points; change one to
        // four bytes, half of the time within the first 600.
        const test::Damage damage{1100, 150, f.bytes.size() > 65536 ? 100 : 400, 600};
        errors += test::ReadDamaged(reader.read, f.reader, test::DamagedCopies(f.bytes, damage, random));
    }
    EXPECT_GT(errors, 0);
}

}  // namespace
}  // namespace pictorix
