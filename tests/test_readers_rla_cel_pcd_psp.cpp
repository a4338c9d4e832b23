// Tests of five content-probing readers: Alias/Wavefront RLA, Autodesk Animator
// CEL/PIC, Kodak Photo-CD, Dr. Halo and Paint Shop Pro.
//
// The RLA, Autodesk and Paint Shop Pro files are built here, field by field, from the
// public descriptions of the formats, with pixels known in advance; ImageMagick (which
// reads RLA and reads and writes Photo-CD) checks the RLA fixture and the Photo-CD
// pictures independently. Every fixture is also cut short at every length and
// corrupted at random places, which must only ever give an error.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/autodesk.h"
#include "pictureio/codecs/codec.h"
#include "pictureio/codecs/drhalo.h"
#include "pictureio/codecs/pcd.h"
#include "pictureio/codecs/psp.h"
#include "pictureio/codecs/rla.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace pictorix {
namespace {

// The five readers in the order in which the general route asks them.
const ProbingReader kReaders[] = {
    {"RLA", rla::kProbeHeaderLength, rla::Probe, rla::Read},
    {"Autodesk", autodesk::kProbeHeaderLength, autodesk::Probe, autodesk::Read},
    {"PCD", pcd::kProbeHeaderLength, pcd::Probe, pcd::Read},
    {"Dr. Halo", drhalo::kProbeHeaderLength, drhalo::Probe, nullptr},
    {"PSP", psp::kProbeHeaderLength, psp::Probe, psp::Read},
};

using test::Append;
using test::ErrorOf;
using test::ImageMagickRgb;
using test::PutAt;
using test::PutBE16;
using test::PutBE32;
using test::ReadBytes;
using test::ReaderNamed;
using test::Recognise;
using test::WriteBytes;

// The largest difference of a channel between the bitmap and ImageMagick's R,G,B bytes.
int LargestDifference(const Bitmap& b, const std::vector<std::uint8_t>& rgb) {
    if (rgb.size() != std::size_t(b.width()) * b.height() * 3) {
        ADD_FAILURE() << "ImageMagick gives " << rgb.size() << " bytes for " << b.width() << " x " << b.height();
        return 256;
    }
    int largest = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            const std::uint8_t* p = &rgb[(std::size_t(y) * b.width() + x) * 3];
            largest = std::max({largest, std::abs(int(GetR(c)) - p[0]), std::abs(int(GetG(c)) - p[1]),
                                std::abs(int(GetB(c)) - p[2])});
        }
    return largest;
}

std::vector<Color> Pixels(const Bitmap& b) {
    std::vector<Color> result;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) result.push_back(b.pixel(x, y));
    return result;
}

// A picture of known colours, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<Color> pixels;
    Color at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    std::vector<std::uint8_t> plane(unsigned (*component)(Color), int y) const {
        std::vector<std::uint8_t> v;
        for (int x = 0; x < width; ++x) v.push_back(static_cast<std::uint8_t>(component(at(x, y))));
        return v;
    }
};

// 5 x 3 with runs (the blue of the top row, the green of the middle row) among
// changing values.
Picture Sample() {
    Picture p{5, 3, {}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            p.pixels.push_back(RGB(x * 50 + y, y == 1 ? 77 : 10 * x + 3 * y, y == 0 ? 200 : 255 - 40 * x));
    return p;
}

// ---------------------------------------------------------------------------
// RLA

// Run-length encoding as RLA writes it: count c >= 0 repeats the next byte c + 1
// times, c < 0 copies -c bytes.
ByteVector RlaEncode(const std::vector<std::uint8_t>& v) {
    ByteVector out;
    std::size_t i = 0;
    while (i < v.size()) {
        std::size_t run = 1;
        while (i + run < v.size() && v[i + run] == v[i] && run < 128) ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run - 1));
            out.push_back(v[i]);
            i += run;
            continue;
        }
        std::size_t n = 1;
        while (i + n < v.size() && n < 128 && !(i + n + 1 < v.size() && v[i + n] == v[i + n + 1])) ++n;
        out.push_back(static_cast<std::uint8_t>(-static_cast<int>(n)));
        out.insert(out.end(), v.begin() + static_cast<std::ptrdiff_t>(i), v.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

struct RlaHeaderFields {
    int left = 0, right = 0, bottom = 0, top = 0;
    unsigned channelType = 0;
    int channels = 3;
    int mattes = 1;
    unsigned revision = 0xFFFE;
    std::string name = "rgb";
    unsigned bits = 8;
};

ByteVector RlaHeader(const RlaHeaderFields& h) {
    ByteVector f;
    for (int v : {h.left, h.right, h.bottom, h.top}) PutBE16(f, static_cast<unsigned>(v));  // window
    for (int v : {h.left, h.right, h.bottom, h.top}) PutBE16(f, static_cast<unsigned>(v));  // active window
    PutBE16(f, 1);  // frame
    PutBE16(f, h.channelType);
    PutBE16(f, static_cast<unsigned>(h.channels));
    PutBE16(f, static_cast<unsigned>(h.mattes));
    PutBE16(f, 0);  // auxiliary channels
    PutBE16(f, h.revision);
    PutAt(f, 28, "2.2");
    PutAt(f, 400, "pictorix tests");
    f.resize(580, 0);
    PutAt(f, 580, h.name);
    f.resize(658, 0);
    PutBE16(f, h.bits);
    PutBE16(f, 0);  // matte type
    PutBE16(f, 8);  // matte bits
    f.resize(740, 0);
    return f;
}

// An RLA file of the picture: each scanline from the bottom holds red, green, blue (or
// grey) and a matte channel of 255.
ByteVector Rla(const Picture& p, bool grey = false) {
    RlaHeaderFields h;
    h.right = p.width - 1;
    h.top = p.height - 1;
    h.channels = grey ? 1 : 3;
    ByteVector f = RlaHeader(h);
    const std::size_t table = f.size();
    f.resize(table + 4 * std::size_t(p.height), 0);
    for (int line = 0; line < p.height; ++line) {
        const std::uint32_t at = static_cast<std::uint32_t>(f.size());
        for (int k = 0; k < 4; ++k) f[table + 4 * std::size_t(line) + k] = static_cast<std::uint8_t>(at >> (24 - 8 * k));
        const int y = p.height - 1 - line;
        std::vector<std::vector<std::uint8_t>> channels;
        if (grey) channels = {p.plane(GetG, y)};
        else channels = {p.plane(GetR, y), p.plane(GetG, y), p.plane(GetB, y)};
        channels.push_back(std::vector<std::uint8_t>(std::size_t(p.width), 255));
        for (const auto& c : channels) {
            const ByteVector encoded = RlaEncode(c);
            PutBE16(f, static_cast<unsigned>(encoded.size()));
            Append(f, encoded);
        }
    }
    return f;
}

// ---------------------------------------------------------------------------
// Autodesk Animator

ByteVector Cel(int width, int height, const ByteVector& palette, const ByteVector& pixels, unsigned bits = 8,
               unsigned compression = 0) {
    ByteVector f;
    PutLE16(f, 0x9119);
    PutLE16(f, static_cast<unsigned>(width));
    PutLE16(f, static_cast<unsigned>(height));
    PutLE16(f, 7);  // x and y offsets, not used
    PutLE16(f, 9);
    f.push_back(static_cast<std::uint8_t>(bits));
    f.push_back(static_cast<std::uint8_t>(compression));
    PutLE32(f, static_cast<std::uint32_t>(pixels.size()));
    f.resize(32, 0);
    ByteVector full = palette;
    full.resize(768, 0);
    Append(f, full);
    Append(f, pixels);
    return f;
}

// ---------------------------------------------------------------------------
// Photo-CD

// An image pac whose Base picture has luma y(x, y) and constant chroma; the smaller
// pictures are left empty.
ByteVector Pcd(std::uint8_t (*luma)(int, int), std::uint8_t c1, std::uint8_t c2, unsigned orientation = 0) {
    ByteVector f(0x30000, 0xFF);
    std::fill(f.begin() + 0x800, f.begin() + 0x1000, 0);
    PutAt(f, 2048, "PCD_IPI");
    f[0x0E02] = static_cast<std::uint8_t>(orientation);
    for (int pair = 0; pair < 256; ++pair) {
        for (int y = 2 * pair; y < 2 * pair + 2; ++y)
            for (int x = 0; x < 768; ++x) f.push_back(luma(x, y));
        f.insert(f.end(), 384, c1);
        f.insert(f.end(), 384, c2);
    }
    return f;
}

std::uint8_t PcdLuma(int x, int y) { return static_cast<std::uint8_t>((x + 2 * y) % 251); }

// ---------------------------------------------------------------------------
// Paint Shop Pro

// Blocks as version `major` writes them: version 3 puts the length of the first
// chunk into the block header, later versions start the chunk with its length.
struct PspBuilder {
    unsigned major;

    ByteVector header() const {
        ByteVector f;
        Append(f, std::string("Paint Shop Pro Image File\n\x1a", 27));
        f.resize(32, 0);
        PutLE16(f, major);
        PutLE16(f, 0);
        return f;
    }
    // A block whose first chunk holds `fields`, followed by `rest`.
    ByteVector block(unsigned id, const ByteVector& fields, const ByteVector& rest = {}) const {
        ByteVector b;
        Append(b, std::string("~BK\0", 4));
        PutLE16(b, id);
        if (major == 3) {
            PutLE32(b, static_cast<std::uint32_t>(fields.size()));
            PutLE32(b, static_cast<std::uint32_t>(fields.size() + rest.size()));
        } else {
            PutLE32(b, static_cast<std::uint32_t>(4 + fields.size() + rest.size()));
            PutLE32(b, static_cast<std::uint32_t>(4 + fields.size()));
        }
        Append(b, fields);
        Append(b, rest);
        return b;
    }
    // A block without a first chunk (the layer bank).
    ByteVector bank(unsigned id, const ByteVector& content) const {
        ByteVector b;
        Append(b, std::string("~BK\0", 4));
        PutLE16(b, id);
        if (major == 3) PutLE32(b, 0);
        PutLE32(b, static_cast<std::uint32_t>(content.size()));
        Append(b, content);
        return b;
    }
    ByteVector attributes(int width, int height, unsigned compression, unsigned depth, bool grey = false) const {
        ByteVector a;
        PutLE32(a, static_cast<std::uint32_t>(width));
        PutLE32(a, static_cast<std::uint32_t>(height));
        a.resize(a.size() + 8, 0);  // resolution
        a.push_back(1);             // per inch
        PutLE16(a, compression);
        PutLE16(a, depth);
        PutLE16(a, depth == 24 ? 3 : 1);
        PutLE32(a, depth >= 24 ? 1u << 24 : 1u << depth);  // colour count, not used
        a.push_back(grey ? 1 : 0);
        PutLE32(a, 0);  // total image size
        PutLE32(a, 0);  // active layer
        PutLE16(a, 1);  // layer count
        if (major > 3) PutLE32(a, 1);  // graphic contents: raster layers
        return block(0, a);
    }
    ByteVector palette(const std::vector<Color>& colours) const {
        ByteVector count, entries;
        PutLE32(count, static_cast<std::uint32_t>(colours.size()));
        for (Color c : colours) {
            entries.push_back(static_cast<std::uint8_t>(GetB(c)));
            entries.push_back(static_cast<std::uint8_t>(GetG(c)));
            entries.push_back(static_cast<std::uint8_t>(GetR(c)));
            entries.push_back(0);
        }
        return block(2, count, entries);
    }
    ByteVector channel(unsigned bitmapType, unsigned channelType, const ByteVector& data, std::uint32_t plain) const {
        ByteVector f;
        PutLE32(f, static_cast<std::uint32_t>(data.size()));
        PutLE32(f, plain);
        PutLE16(f, bitmapType);
        PutLE16(f, channelType);
        return block(5, f, data);
    }
    ByteVector layer(const std::string& name, unsigned type, int left, int top, int right, int bottom,
                     const std::vector<ByteVector>& channels) const {
        ByteVector info;
        if (major == 3) {
            ByteVector n(256, 0);
            std::copy(name.begin(), name.end(), n.begin());
            Append(info, n);
        } else {
            PutLE16(info, static_cast<unsigned>(name.size()));
            Append(info, name);
        }
        info.push_back(static_cast<std::uint8_t>(type));
        for (int v : {0, 0, right, bottom}) PutLE32(info, static_cast<std::uint32_t>(v));         // image rectangle
        for (int v : {left, top, right, bottom}) PutLE32(info, static_cast<std::uint32_t>(v));  // saved rectangle
        info.insert(info.end(), {255, 0, 1, 0, 0});  // opacity, blend mode, visible, protection, link group
        info.resize(info.size() + 32, 0);             // mask rectangles
        info.insert(info.end(), {0, 0, 0});
        PutLE16(info, 5);  // blend ranges
        info.resize(info.size() + 40, 0);
        ByteVector rest;
        if (major == 3) {
            PutLE16(info, 1);
            PutLE16(info, static_cast<unsigned>(channels.size()));
        } else {
            PutLE32(rest, 8);
            PutLE16(rest, 1);
            PutLE16(rest, static_cast<unsigned>(channels.size()));
        }
        for (const ByteVector& c : channels) Append(rest, c);
        return block(4, info, rest);
    }
    ByteVector compositeBank(const std::vector<ByteVector>& attributes, const std::vector<ByteVector>& images) const {
        ByteVector count, rest;
        PutLE32(count, static_cast<std::uint32_t>(attributes.size()));
        for (const ByteVector& a : attributes) Append(rest, a);
        for (const ByteVector& i : images) Append(rest, i);
        return block(16, count, rest);
    }
    ByteVector compositeAttributes(int width, int height, unsigned depth, unsigned compression, unsigned type) const {
        ByteVector a;
        PutLE32(a, static_cast<std::uint32_t>(width));
        PutLE32(a, static_cast<std::uint32_t>(height));
        PutLE16(a, depth);
        PutLE16(a, compression);
        PutLE16(a, 1);
        PutLE32(a, 0);
        PutLE16(a, type);
        return block(17, a);
    }
    ByteVector compositeImage(const std::vector<ByteVector>& subBlocks) const {
        ByteVector f, rest;
        PutLE16(f, 1);
        PutLE16(f, static_cast<unsigned>(subBlocks.size()));
        for (const ByteVector& b : subBlocks) Append(rest, b);
        return block(9, f, rest);
    }
    ByteVector jpegImage() const {
        ByteVector f;
        PutLE32(f, 4);
        PutLE32(f, 100);
        PutLE16(f, 5);
        return block(18, f, {0xFF, 0xD8, 0xFF, 0xD9});
    }
};

// Paint Shop Pro's run-length encoding: c > 128 repeats the next byte c - 128 times,
// c <= 128 copies c bytes.
ByteVector PspRle(const ByteVector& v) {
    ByteVector out;
    std::size_t i = 0;
    while (i < v.size()) {
        std::size_t run = 1;
        while (i + run < v.size() && v[i + run] == v[i] && run < 127) ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(128 + run));
            out.push_back(v[i]);
            i += run;
            continue;
        }
        std::size_t n = 1;
        while (i + n < v.size() && n < 128 && !(i + n + 2 < v.size() && v[i + n] == v[i + n + 1] && v[i + n] == v[i + n + 2]))
            ++n;
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), v.begin() + static_cast<std::ptrdiff_t>(i), v.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

ByteVector Deflate(const ByteVector& v) {
    uLongf size = compressBound(static_cast<uLong>(v.size()));
    ByteVector out(size);
    if (compress2(out.data(), &size, v.data(), static_cast<uLong>(v.size()), 9) != Z_OK) throw std::runtime_error("zlib");
    out.resize(size);
    return out;
}

ByteVector Compressed(const ByteVector& plain, unsigned compression) {
    return compression == 1 ? PspRle(plain) : compression == 2 ? Deflate(plain) : plain;
}

// The planes of a picture (red 1, green 2, blue 3), rows top first, packed.
ByteVector PlaneOf(const Picture& p, unsigned channelType) {
    ByteVector v;
    for (int y = 0; y < p.height; ++y) {
        const auto row = p.plane(channelType == 1 ? GetR : channelType == 2 ? GetG : GetB, y);
        v.insert(v.end(), row.begin(), row.end());
    }
    return v;
}

std::vector<ByteVector> RgbChannels(const PspBuilder& b, const Picture& p, unsigned compression, unsigned bitmapType) {
    std::vector<ByteVector> channels;
    for (unsigned c = 1; c <= 3; ++c) {
        const ByteVector plain = PlaneOf(p, c);
        channels.push_back(b.channel(bitmapType, c, Compressed(plain, compression), static_cast<std::uint32_t>(plain.size())));
    }
    return channels;
}

// A file with a composite bank (a JPEG thumbnail, then the composite) and one layer
// whose colours differ from the composite's, so that it shows which one was read.
ByteVector PspWithComposite(unsigned major, const Picture& p, unsigned compression) {
    const PspBuilder b{major};
    Picture other = p;
    for (Color& c : other.pixels) c ^= 0x00FFFFFF;
    ByteVector f = b.header();
    Append(f, b.attributes(p.width, p.height, compression, 24));
    Append(f, b.compositeBank({b.compositeAttributes(2, 1, 24, 3, 1), b.compositeAttributes(p.width, p.height, 24, compression, 0)},
                              {b.jpegImage(), b.compositeImage(RgbChannels(b, p, compression, 8))}));
    Append(f, b.bank(3, b.layer("Background", 1, 0, 0, p.width, p.height, RgbChannels(b, other, compression, 0))));
    return f;
}

// ---------------------------------------------------------------------------
// Probes

ByteVector PcdHeader(std::size_t at, const std::string& text) {
    ByteVector h(pcd::kProbeHeaderLength, 0);
    PutAt(h, at, text);
    return h;
}

ByteVector PspHeader(const std::string& signature, unsigned major) {
    ByteVector h;
    Append(h, signature);
    h.resize(32, 0);
    PutLE16(h, major);
    PutLE16(h, 0);
    return h;
}

ByteVector CelHeader(unsigned magic, unsigned bits, unsigned compression) {
    ByteVector h;
    PutLE16(h, magic);
    PutLE16(h, 320);
    PutLE16(h, 200);
    h.resize(10, 0);
    h.push_back(static_cast<std::uint8_t>(bits));
    h.push_back(static_cast<std::uint8_t>(compression));
    h.resize(32, 0);
    return h;
}

ByteVector RlaProbeHeader(unsigned revision, const std::string& name) {
    RlaHeaderFields h;
    h.right = 9;
    h.top = 9;
    h.revision = revision;
    h.name = name;
    return RlaHeader(h);
}

TEST(ReaderProbesRlaCelPcdPsp, AcceptanceTable) {
    const std::string signature = "Paint Shop Pro Image File";
    ByteVector rgbNoZero = RlaProbeHeader(0xFFFE, "");
    std::fill(rgbNoZero.begin() + 580, rgbNoZero.begin() + 612, 'r');  // 32 letters, no zero byte
    const std::vector<test::ProbeCase> cases = {
        {"RLA rgb", "RLA", RlaProbeHeader(0xFFFE, "rgb"), 0, true},
        {"RLA XYZ, any letter case", "RLA", RlaProbeHeader(0xFFFE, "XyZ"), 0, true},
        {"RLA rgb, what follows the zero not looked at", "RLA", RlaProbeHeader(0xFFFE, std::string("rgb\0junk", 8)), 0, true},
        {"RLA rgba", "RLA", RlaProbeHeader(0xFFFE, "rgba"), 0, false},
        {"RLA empty channel name", "RLA", RlaProbeHeader(0xFFFE, ""), 0, false},
        {"RLA channel name without a zero byte", "RLA", rgbNoZero, 0, false},
        {"RLA revision 0xFFFF", "RLA", RlaProbeHeader(0xFFFF, "rgb"), 0, false},
        {"RLA old revision 0", "RLA", RlaProbeHeader(0, "rgb"), 0, false},
        {"RLA file of exactly 740 bytes", "RLA", RlaProbeHeader(0xFFFE, "rgb"), 740, false},
        {"Autodesk", "Autodesk", CelHeader(0x9119, 8, 0), 0, true},
        {"Autodesk other magic", "Autodesk", CelHeader(0x9118, 8, 0), 0, false},
        {"Autodesk byte-swapped magic", "Autodesk", CelHeader(0x1991, 8, 0), 0, false},
        {"Autodesk 4 bits", "Autodesk", CelHeader(0x9119, 4, 0), 0, false},
        {"Autodesk compressed", "Autodesk", CelHeader(0x9119, 8, 1), 0, false},
        {"Autodesk file of exactly 32 bytes", "Autodesk", CelHeader(0x9119, 8, 0), 32, false},
        {"PCD_OPA at 0", "PCD", PcdHeader(0, "PCD_OPA"), 0, true},
        {"PCD at 2048", "PCD", PcdHeader(2048, "PCD_IPI"), 0, true},
        {"PCD at 2048, the rest not looked at", "PCD", PcdHeader(2048, "PCDxyz"), 0, true},
        {"pcd at 2048 in lower case", "PCD", PcdHeader(2048, "pcd_ipi"), 0, false},
        {"PCD_OPA in lower case", "PCD", PcdHeader(0, "pcd_opa"), 0, false},
        {"PCD_OP without the A", "PCD", PcdHeader(0, "PCD_OPX"), 0, false},
        {"PCD at 2047", "PCD", PcdHeader(2047, "PCD_IPI"), 0, false},
        {"PCD at 2049", "PCD", PcdHeader(2049, "PCD_IPI"), 0, false},
        {"PCD file of exactly 6144 bytes", "PCD", PcdHeader(2048, "PCD_IPI"), 6144, false},
        {"Dr. Halo never accepts", "Dr. Halo", {}, 1000, false},
        {"PSP", "PSP", PspHeader(signature + "\n\x1a", 4), 0, true},
        {"PSP major version 3", "PSP", PspHeader(signature, 3), 0, true},
        {"PSP major version 259", "PSP", PspHeader(signature, 259), 0, true},
        {"PSP upper-case signature", "PSP", PspHeader("PAINT SHOP PRO IMAGE FILE", 5), 0, true},
        {"PSP lower-case signature", "PSP", PspHeader("paint shop pro image file", 5), 0, true},
        {"PSP only 25 bytes compared", "PSP", PspHeader(signature + "XYZ", 5), 0, true},
        {"PSP major version 2", "PSP", PspHeader(signature, 2), 0, false},
        {"PSP major version 0", "PSP", PspHeader(signature, 0), 0, false},
        {"PSP other signature", "PSP", PspHeader("Paint Shop Pro Image Fil_", 5), 0, false},
        {"PSP file of exactly 36 bytes", "PSP", PspHeader(signature, 5), 36, false},
    };
    test::ExpectProbeAnswers(kReaders, cases);
}

TEST(ReaderProbesRlaCelPcdPsp, DrHaloPicturesAreNeverRecognised) {
    // A .cut file: width, height, a reserved word, then run-length rows.
    ByteVector cut;
    PutLE16(cut, 4);
    PutLE16(cut, 2);
    PutLE16(cut, 0);
    for (int y = 0; y < 2; ++y) {
        PutLE16(cut, 4);
        cut.insert(cut.end(), {0x84, 7, 0});
    }
    cut.resize(2000, 0);
    const ProbingReader& halo = ReaderNamed(kReaders, "Dr. Halo");
    EXPECT_FALSE(halo.accepts(cut, cut.size()));
    EXPECT_FALSE(halo.accepts({}, std::uint64_t(1) << 40));
    EXPECT_EQ(halo.read, nullptr);
    EXPECT_EQ(Recognise(kReaders, cut), nullptr);
}

// ---------------------------------------------------------------------------
// RLA

TEST(RlaRead, ChannelsBottomUpMatteIgnored) {
    const Picture p = Sample();
    Bitmap b;
    rla::Read(Rla(p), b);
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(Pixels(b), p.pixels);

    Bitmap grey;
    rla::Read(Rla(p, true), grey);
    ASSERT_EQ(grey.bitsPerPixel(), 8);
    EXPECT_EQ(grey.palette(), GreyPalette256());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) EXPECT_EQ(grey.index(x, y), int(GetG(p.at(x, y))));
}

TEST(RlaRead, ActiveWindowOffsetsAndRunsCutAtTheEnd) {
    // A 3 x 2 active window at 100..102, 50..51; the first row's red is one run of 128
    // (cut to 3), and its blue a run of 2 then a literal of 3 (cut to 1).
    RlaHeaderFields h;
    h.left = 100;
    h.right = 102;
    h.bottom = 50;
    h.top = 51;
    h.mattes = 0;
    ByteVector f = RlaHeader(h);
    const std::uint32_t first = 740 + 8;
    const ByteVector line0[] = {{127, 9}, {0xFD, 1, 2, 3}, {1, 4, 0xFD, 5, 6, 7}};
    const ByteVector line1[] = {{2, 20}, {2, 21}, {2, 22}};
    std::uint32_t second = first;
    for (const ByteVector& c : line0) second += 2 + static_cast<std::uint32_t>(c.size());
    PutBE32(f, first);
    PutBE32(f, second);
    for (const auto* line : {line0, line1})
        for (int c = 0; c < 3; ++c) {
            PutBE16(f, static_cast<unsigned>(line[c].size()));
            Append(f, line[c]);
        }
    Bitmap b;
    rla::Read(f, b);
    ASSERT_EQ(b.width(), 3);
    ASSERT_EQ(b.height(), 2);
    EXPECT_EQ(Pixels(b), (std::vector<Color>{RGB(20, 21, 22), RGB(20, 21, 22), RGB(20, 21, 22),  //
                                             RGB(9, 1, 4), RGB(9, 2, 4), RGB(9, 3, 5)}));
}

// OpenImageIO reads RLA; ImageMagick does too, but its 6.9 reader gives no picture
// for files of more than one scanline, so it serves only where OpenImageIO is missing.
TEST(RlaRead, SameAsAnIndependentDecoder) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    Picture p{40, 9, {}};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) p.pixels.push_back(RGB(x < 20 ? 80 : x * 6, y * 28, (x * y) % 7 * 30));
    const std::string path = dir.file("fixture.xyz");
    WriteBytes(path, Rla(p));
    const ByteVector bytes = ReadBytes(path);
    const ProbingReader* reader = Recognise(kReaders, bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->name, "RLA");
    Bitmap b;
    reader->read(bytes, b);
    EXPECT_EQ(Pixels(b), p.pixels);

    std::vector<std::uint8_t> rgb;
    const std::string png = dir.file("oiio.png");
    const bool oiio = test::HaveCommand("oiiotool") &&
                      test::RunCommand("oiiotool " + test::Quote(path) + " -o " + test::Quote(png)).status == 0;
    if (oiio) ASSERT_TRUE(ImageMagickRgb("convert " + test::Quote(png), rgb));
    else if (!ImageMagickRgb("convert rla:" + test::Quote(path), rgb))
        GTEST_SKIP() << "no independent RLA reader (OpenImageIO's oiiotool, or an ImageMagick that reads this file)";
    EXPECT_EQ(LargestDifference(b, rgb), 0);
}

TEST(RlaRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    const ByteVector good = Rla(Sample());
    auto with = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        ByteVector f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
        return f;
    };
    RlaHeaderFields huge;
    huge.right = 32766;
    huge.top = 32766;
    ByteVector hugeFile = RlaHeader(huge);
    hugeFile.resize(740 + 4 * 32767, 0);
    const std::uint32_t line0 = ReadBE32(good, 740);
    struct Case {
        const char* what;
        ByteVector file;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"header cut short", ByteVector(good.begin(), good.begin() + 700), "RLA: file is truncated"},
        {"old revision", with(26, {0, 0}), "RLA: not an RLA file (revision is not 0xFFFE)"},
        {"empty active window", with(10, {0xFF, 0xFF}), "RLA: the picture has no pixels"},
        {"16-bit channel type", with(18, {0, 1}), "RLA: colour channel type 1 is not supported"},
        {"16-bit samples", with(658, {0, 16}), "RLA: 16-bit colour channels are not supported"},
        {"2 colour channels", with(20, {0, 2}), "RLA: 2 colour channels are not supported"},
        {"offset table cut short", ByteVector(good.begin(), good.begin() + 748), "RLA: file is truncated (scanline offsets)"},
        {"scanline beyond the file", with(740, {0x7F, 0, 0, 0}), "RLA: scanline 0 lies outside the file"},
        {"channel length beyond the file", with(line0, {0x7F, 0xFF}), "RLA: scanline 0 lies outside the file"},
        {"channel data too short", with(line0, {0, 1}), "RLA: scanline 0 ends before its last pixel"},
        {"run without its value", with(line0, {0, 1, 2}), "RLA: scanline 0 ends before its last pixel"},
        {"huge picture in a small file", hugeFile, "RLA: the picture is larger than the file can hold"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap kept(2, 2, 24);
        kept.fill(RGB(1, 2, 3));
        EXPECT_EQ(ErrorOf(rla::Read, c.file, kept), c.error);
        EXPECT_EQ(kept.width(), 2);
        EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
    }
}

// ---------------------------------------------------------------------------
// Autodesk Animator

TEST(AutodeskRead, PaletteIndicesTopFirst) {
    // Six-bit components become round(v * 255 / 63).
    const ByteVector palette = {0, 0, 0, 63, 32, 1, 10, 20, 30};
    Bitmap b;
    autodesk::Read(Cel(3, 2, palette, {0, 1, 2, 2, 1, 0}), b);
    ASSERT_EQ(b.bitsPerPixel(), 8);
    ASSERT_EQ(b.palette().size(), 256u);
    EXPECT_EQ(b.palette()[1], RGB(255, 130, 4));
    EXPECT_EQ(b.palette()[2], RGB(40, 81, 121));
    EXPECT_EQ(b.palette()[255], kBlack);
    EXPECT_EQ(b.width(), 3);
    EXPECT_EQ(b.height(), 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(b.index(i % 3, i / 3), i < 3 ? i : 5 - i);

    // A component above 63 shows an 8-bit palette, which is taken as it stands.
    Bitmap eight;
    autodesk::Read(Cel(1, 1, {200, 64, 3}, {0}), eight);
    EXPECT_EQ(eight.pixel(0, 0), RGB(200, 64, 3));
}

TEST(AutodeskRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    const ByteVector hugeFile = Cel(65535, 65535, {}, {1, 2, 3});
    const ByteVector one = Cel(1, 1, {}, {0});
    struct Case {
        const char* what;
        ByteVector file;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"header cut short", ByteVector(20, 0), "Autodesk: file is truncated"},
        {"other magic", Cel(1, 1, {}, {0}), nullptr},
        {"4 bits", Cel(2, 1, {}, {0}, 4), "Autodesk: 4 bits per pixel are not supported"},
        {"compressed", Cel(2, 1, {}, {0}, 8, 1), "Autodesk: compression 1 is not supported"},
        {"no pixels", Cel(0, 5, {}, {}), "Autodesk: the picture has no pixels"},
        {"palette cut short", ByteVector(one.begin(), one.begin() + 500), "Autodesk: file is truncated"},
        {"pixels cut short", Cel(3, 2, {}, {0, 1, 2, 3, 4}), "Autodesk: file is truncated"},
        {"huge picture in a small file", hugeFile, "Autodesk: file is truncated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ByteVector file = c.file;
        const char* error = c.error;
        if (!error) {
            file[0] = 0x18;
            error = "Autodesk: not an Autodesk Animator picture (no 0x9119 signature)";
        }
        Bitmap kept(2, 2, 24);
        kept.fill(RGB(1, 2, 3));
        EXPECT_EQ(ErrorOf(autodesk::Read, file, kept), error);
        EXPECT_EQ(kept.width(), 2);
        EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
    }
}

// ---------------------------------------------------------------------------
// Photo-CD

// ImageMagick's Photo-CD pictures under a neutral name: found by content and decoded
// as ImageMagick decodes them, up to the rounding of the colour conversion.
TEST(PcdRead, ImageMagickPicturesAndTheirTurns) {
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    const std::string path = dir.file("written.xyz");
    const test::CommandResult made = test::RunCommand(
        "convert -size 768x512 gradient:red-blue -fill yellow -draw 'rectangle 0,0 99,49' "
        "-fill green -draw 'circle 400,300 450,350' pcd:" + test::Quote(path));
    ASSERT_EQ(made.status, 0) << made.output;
    const ByteVector bytes = ReadBytes(path);
    const ProbingReader* reader = Recognise(kReaders, bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->name, "PCD");
    Bitmap b;
    reader->read(bytes, b);
    EXPECT_EQ(b.bitsPerPixel(), 24);
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(ImageMagickRgb("convert pcd:" + test::Quote(path), rgb));
    EXPECT_LE(LargestDifference(b, rgb), 3);

    // Turned a quarter both ways, as ImageMagick turns them.
    for (std::uint8_t orientation : {1, 3}) {
        SCOPED_TRACE(int(orientation));
        ByteVector turned = bytes;
        turned[0x0E02] = orientation;
        const std::string turnedPath = dir.file("turned" + std::to_string(orientation) + ".xyz");
        WriteBytes(turnedPath, turned);
        Bitmap t;
        pcd::Read(turned, t);
        EXPECT_EQ(t.width(), 512);
        EXPECT_EQ(t.height(), 768);
        ASSERT_TRUE(ImageMagickRgb("convert pcd:" + test::Quote(turnedPath), rgb));
        EXPECT_LE(LargestDifference(t, rgb), 3);
    }
}

TEST(PcdRead, CorpusPictureAsImageMagickReadsIt) {
#ifdef PICTORIX_CORPUS_DIR
    const std::string path = std::string(PICTORIX_CORPUS_DIR) + "/pcd/hopper.pcd";
#else
    const std::string path;
#endif
    if (path.empty() || !std::filesystem::is_regular_file(path)) GTEST_SKIP() << "the picture corpus is not present";
    if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    const ByteVector bytes = ReadBytes(path);
    const ProbingReader* reader = Recognise(kReaders, bytes);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->name, "PCD");
    Bitmap b;
    reader->read(bytes, b);
    EXPECT_EQ(b.width(), 768);
    EXPECT_EQ(b.height(), 512);
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(ImageMagickRgb("convert pcd:" + test::Quote(path), rgb));
    EXPECT_LE(LargestDifference(b, rgb), 3);
}

TEST(PcdRead, ConversionInterpolationAndHalfTurn) {
    // Neutral chroma (156, 137) leaves grey: Y * 1.3584 * 255 / 346.
    Bitmap grey;
    pcd::Read(Pcd(PcdLuma, 156, 137), grey);
    ASSERT_EQ(grey.width(), 768);
    for (auto [x, y] : {std::pair{0, 0}, {767, 0}, {5, 511}, {300, 200}}) {
        const int v = static_cast<int>(std::lround(PcdLuma(x, y) * 1.3584 * 255 / 346));
        EXPECT_EQ(grey.pixel(x, y), RGB(v, v, v)) << x << "," << y;
    }
    // Strong blue chroma takes blue past full scale: clamped.
    Bitmap blue;
    pcd::Read(Pcd([](int, int) -> std::uint8_t { return 100; }, 255, 137), blue);
    const double l = 135.84, u = 2.2179 * 99;
    const auto k = 255.0 / 346;
    EXPECT_EQ(blue.pixel(10, 10),
              RGB(std::lround(l * k), std::lround((l - 0.194 * u) * k), std::min(255L, std::lround((l + u) * k))));

    // Orientation 2 is a half turn of the stored picture.
    Bitmap upright, half;
    pcd::Read(Pcd(PcdLuma, 150, 140), upright);
    pcd::Read(Pcd(PcdLuma, 150, 140, 2), half);
    ASSERT_EQ(half.width(), 768);
    for (auto [x, y] : {std::pair{0, 0}, {767, 511}, {123, 45}})
        EXPECT_EQ(half.pixel(767 - x, 511 - y), upright.pixel(x, y));
}

TEST(PcdRead, ChromaIsInterpolatedBetweenSamples) {
    // Chroma that alternates by column pair: odd columns take the mean of their
    // neighbours, the last column repeats its sample.
    ByteVector f = Pcd([](int, int) -> std::uint8_t { return 128; }, 156, 137);
    for (int pair = 0; pair < 256; ++pair) {
        const std::size_t c1 = 0x30000 + std::size_t(pair) * 2304 + 1536;
        for (int i = 0; i < 384; ++i) f[c1 + i] = i % 2 ? 176 : 136;
    }
    Bitmap b;
    pcd::Read(f, b);
    auto blueAt = [&](double cb) {
        return static_cast<unsigned>(std::lround((1.3584 * 128 + 2.2179 * (cb - 156)) * 255 / 346));
    };
    EXPECT_EQ(GetB(b.pixel(0, 0)), blueAt(136));
    EXPECT_EQ(GetB(b.pixel(1, 7)), blueAt(156));
    EXPECT_EQ(GetB(b.pixel(2, 3)), blueAt(176));
    EXPECT_EQ(GetB(b.pixel(767, 511)), blueAt(176));
}

TEST(PcdRead, OverviewsAndShortFilesAreErrors) {
    ByteVector overview = Pcd(PcdLuma, 156, 137);
    PutAt(overview, 0, "PCD_OPA");
    ByteVector full = Pcd(PcdLuma, 156, 137);
    const ByteVector shortFile(full.begin(), full.end() - 1);
    Bitmap kept(2, 2, 24);
    EXPECT_EQ(ErrorOf(pcd::Read, overview, kept), "PCD: overview files (PCD_OPA) hold only thumbnails and are not supported");
    EXPECT_EQ(ErrorOf(pcd::Read, shortFile, kept), "PCD: file is truncated (Base picture)");
    EXPECT_EQ(kept.width(), 2);
}

// ---------------------------------------------------------------------------
// Paint Shop Pro

TEST(PspRead, CompositeImageInEveryCompression) {
    const Picture p = Sample();
    for (unsigned major : {4u, 6u, 10u})
        for (unsigned compression : {0u, 1u, 2u}) {
            SCOPED_TRACE("version " + std::to_string(major) + ", compression " + std::to_string(compression));
            const ByteVector f = PspWithComposite(major, p, compression);
            ASSERT_EQ(Recognise(kReaders, f), &ReaderNamed(kReaders, "PSP"));
            Bitmap b;
            psp::Read(f, b);
            EXPECT_EQ(b.bitsPerPixel(), 24);
            EXPECT_EQ(Pixels(b), p.pixels);
        }
}

TEST(PspRead, FirstRasterLayerWhenThereIsNoComposite) {
    const Picture p = Sample();
    for (unsigned major : {3u, 5u}) {
        SCOPED_TRACE(major);
        const PspBuilder b{major};
        ByteVector f = b.header();
        Append(f, b.attributes(p.width, p.height, 1, 24));
        ByteVector layers;
        if (major > 3) Append(layers, b.layer("Vector", 3, 0, 0, 5, 3, {}));  // not a raster layer
        Append(layers, b.layer("Empty", 1, 0, 0, 0, 0, {}));                  // nothing saved
        Append(layers, b.layer("Raster", 1, 0, 0, p.width, p.height, RgbChannels(b, p, 1, 0)));
        Append(layers, b.layer("Later", 1, 0, 0, 1, 1, RgbChannels(b, Picture{1, 1, {kWhite}}, 1, 0)));
        Append(f, b.bank(3, layers));
        Bitmap bitmap;
        psp::Read(f, bitmap);
        EXPECT_EQ(Pixels(bitmap), p.pixels);
    }
}

TEST(PspRead, LayerOnPartOfTheCanvasWithTransparency) {
    // A 2 x 1 layer at 1,1 of a 4 x 3 canvas: half transparent, then opaque.
    const PspBuilder b{6};
    const Picture p{2, 1, {RGB(0, 100, 200), RGB(10, 20, 30)}};
    std::vector<ByteVector> channels = RgbChannels(b, p, 0, 0);
    channels.push_back(b.channel(1, 0, {128, 255}, 2));
    ByteVector f = b.header();
    Append(f, b.attributes(4, 3, 0, 24));
    Append(f, b.bank(3, b.layer("Small", 1, 1, 1, 3, 2, channels)));
    Bitmap bitmap;
    psp::Read(f, bitmap);
    ASSERT_EQ(bitmap.width(), 4);
    ASSERT_EQ(bitmap.height(), 3);
    const Color w = kWhite;
    const auto half = [](unsigned v) { return (v * 128 + 255 * 127 + 127) / 255; };
    EXPECT_EQ(Pixels(bitmap), (std::vector<Color>{w, w, w, w,  //
                                                  w, RGB(half(0), half(100), half(200)), RGB(10, 20, 30), w,  //
                                                  w, w, w, w}));
}

TEST(PspRead, PaletteDepthsAndPaddedRows) {
    const std::vector<Color> colours = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(9, 9, 9)};
    struct Case {
        unsigned depth;
        ByteVector rows;  // 3 x 2 indices as stored
        bool padded;
    };
    const std::vector<Case> cases = {
        {8, {0, 1, 2, 3, 2, 1}, false},
        {8, {0, 1, 2, 0, 3, 2, 1, 0}, true},
        {4, {0x01, 0x20, 0x32, 0x10}, false},
        {4, {0x01, 0x20, 0, 0, 0x32, 0x10, 0, 0}, true},
        {1, {0x40, 0x20}, false},
        {1, {0x40, 0, 0, 0, 0x20, 0, 0, 0}, true},
    };
    for (const Case& c : cases)
        for (unsigned compression : {0u, 1u, 2u}) {
            SCOPED_TRACE(std::to_string(c.depth) + " bits, padded " + std::to_string(c.padded) + ", compression " +
                         std::to_string(compression));
            const PspBuilder b{5};
            const std::vector<ByteVector> sub = {b.palette(colours),
                                                 b.channel(8, 0, Compressed(c.rows, compression),
                                                           static_cast<std::uint32_t>(c.rows.size()))};
            ByteVector f = b.header();
            Append(f, b.attributes(3, 2, compression, c.depth));
            Append(f, b.compositeBank({b.compositeAttributes(3, 2, c.depth, compression, 0)}, {b.compositeImage(sub)}));
            Bitmap bitmap;
            psp::Read(f, bitmap);
            ASSERT_EQ(bitmap.bitsPerPixel(), 8);
            EXPECT_EQ(bitmap.palette(), colours);
            const std::vector<int> expected = c.depth == 1 ? std::vector<int>{0, 1, 0, 0, 0, 1}
                                                           : std::vector<int>{0, 1, 2, 3, 2, 1};
            for (int i = 0; i < 6; ++i) EXPECT_EQ(bitmap.index(i % 3, i / 3), expected[i]) << i;
        }
}

TEST(PspRead, GreyscaleWithoutPaletteAndTheMainPalette) {
    const PspBuilder b{6};
    // Greyscale, no palette block: grey levels.
    ByteVector grey = b.header();
    Append(grey, b.attributes(2, 1, 0, 8, true));
    Append(grey, b.bank(3, b.layer("Grey", 1, 0, 0, 2, 1, {b.channel(0, 0, {7, 200}, 2)})));
    Bitmap g;
    psp::Read(grey, g);
    EXPECT_EQ(g.palette(), GreyPalette256());
    EXPECT_EQ(g.index(1, 0), 200);

    // A palette layer on part of the canvas is drawn in the main palette's colours.
    ByteVector part = b.header();
    Append(part, b.attributes(2, 2, 0, 8));
    Append(part, b.palette({RGB(1, 2, 3), RGB(4, 5, 6)}));
    Append(part, b.bank(3, b.layer("Part", 1, 0, 0, 1, 1, {b.channel(0, 0, {1}, 1)})));
    Bitmap p;
    psp::Read(part, p);
    EXPECT_EQ(p.bitsPerPixel(), 24);
    EXPECT_EQ(Pixels(p), (std::vector<Color>{RGB(4, 5, 6), kWhite, kWhite, kWhite}));
}

TEST(PspRead, DamagedFilesAreErrorsAndLeaveTheBitmap) {
    const PspBuilder b{6};
    const Picture p = Sample();
    auto fileWith = [&](const ByteVector& attributes, const ByteVector& rest) {
        ByteVector f = b.header();
        Append(f, attributes);
        Append(f, rest);
        return f;
    };
    auto layerOf = [&](const std::vector<ByteVector>& channels, int w = 5, int h = 3) {
        return b.bank(3, b.layer("L", 1, 0, 0, w, h, channels));
    };
    const ByteVector rgb = layerOf(RgbChannels(b, p, 0, 0));
    const ByteVector good = fileWith(b.attributes(5, 3, 0, 24), rgb);
    ByteVector longBlock = good;
    longBlock[good.size() - rgb.size() + 6] = 0xFF;  // the layer bank's length
    ByteVector damagedSub = good;
    damagedSub[good.size() - rgb.size() + 10] = 'X';  // the layer's signature
    const ByteVector deflated = Deflate(ByteVector(15, 9));
    ByteVector broken = deflated;
    broken[2] ^= 0xFF;
    struct Case {
        const char* what;
        ByteVector file;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"signature", PspHeader("Paint Shop Pro Image Fil_", 5), "PSP: not a Paint Shop Pro file"},
        {"version 2", PspHeader("Paint Shop Pro Image File", 2), "PSP: file format version 2 is not supported"},
        {"no attributes", fileWith({}, rgb), "PSP: the general image attributes are missing"},
        {"attributes cut short", ByteVector(good.begin(), good.begin() + 60), "PSP: block 0 goes past the end of the file"},
        {"no pixels", fileWith(b.attributes(0, 3, 0, 24), rgb), "PSP: the picture has no pixels"},
        {"48 bits", fileWith(b.attributes(5, 3, 0, 48), rgb), "PSP: 48-bit pictures are not supported"},
        {"JPEG", fileWith(b.attributes(5, 3, 3, 24), rgb), "PSP: compression 3 is not supported"},
        {"no layer", fileWith(b.attributes(5, 3, 0, 24), {}), "PSP: the file holds no picture that can be read"},
        {"no blue", fileWith(b.attributes(5, 3, 0, 24), layerOf({RgbChannels(b, p, 0, 0)[0], RgbChannels(b, p, 0, 0)[1]})),
         "PSP: the file holds no picture that can be read"},
        {"no palette", fileWith(b.attributes(1, 1, 0, 8), layerOf({b.channel(0, 0, {0}, 1)}, 1, 1)),
         "PSP: the palette is missing"},
        {"block longer than the file", longBlock, "PSP: block 3 goes past the end of the file"},
        {"damaged sub-block", damagedSub, "PSP: block 3 holds damaged sub-blocks"},
        {"channel shorter than the layer", fileWith(b.attributes(5, 3, 0, 24), layerOf({b.channel(0, 1, {1, 2}, 2),
                                                                                        b.channel(0, 2, {1, 2}, 2),
                                                                                        b.channel(0, 3, {1, 2}, 2)})),
         "PSP: a channel holds fewer bytes than its picture"},
        {"run-length data end early", fileWith(b.attributes(2, 1, 1, 8, true), layerOf({b.channel(0, 0, {0x81, 5}, 2)}, 2, 1)),
         "PSP: a channel's run-length data end early"},
        {"LZ77 data end early", fileWith(b.attributes(4, 4, 2, 8, true), layerOf({b.channel(0, 0, deflated, 16)}, 4, 4)),
         "PSP: a channel's LZ77 data end early"},
        {"LZ77 data damaged", fileWith(b.attributes(5, 3, 2, 8, true), layerOf({b.channel(0, 0, broken, 15)})), nullptr},
        {"huge layer from a few bytes", fileWith(b.attributes(100000, 10000, 1, 8, true),
                                                 layerOf({b.channel(0, 0, {0xFF, 0}, 1000000000)}, 100000, 10000)),
         "PSP: a channel is larger than its data can hold"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap kept(2, 2, 24);
        kept.fill(RGB(1, 2, 3));
        const std::string error = ErrorOf(psp::Read, c.file, kept);
        if (c.error) EXPECT_EQ(error, c.error);
        else EXPECT_EQ(error.rfind("PSP: a channel's LZ77 data are damaged", 0), 0u) << error;
        EXPECT_EQ(kept.width(), 2);
        EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
    }
}

// ---------------------------------------------------------------------------
// Hostile input

// Every fixture cut short at every length and corrupted at random bytes: each read
// either succeeds or throws the project's error, never anything else (and, under
// the sanitizers, never touches memory outside its buffers).
TEST(ReadersRlaCelPcdPsp, TruncatedAndCorruptedFilesNeverCrash) {
    const Picture p = Sample();
    const PspBuilder v3{3};
    ByteVector psp3 = v3.header();
    Append(psp3, v3.attributes(p.width, p.height, 2, 24));
    Append(psp3, v3.palette({RGB(1, 2, 3)}));
    Append(psp3, v3.bank(3, v3.layer("Raster", 1, 0, 0, p.width, p.height, RgbChannels(v3, p, 2, 0))));
    const PspBuilder v6{6};
    ByteVector psp8 = v6.header();
    Append(psp8, v6.attributes(3, 2, 1, 4));
    Append(psp8, v6.compositeBank({v6.compositeAttributes(3, 2, 4, 1, 0)},
                                  {v6.compositeImage({v6.palette({RGB(1, 2, 3), RGB(4, 5, 6)}),
                                                      v6.channel(8, 0, PspRle({0x01, 0x10, 0x11, 0x01}), 4)})}));
    struct Fixture {
        const char* name;
        ByteVector file;
        void (*read)(ByteSpan, Bitmap&);
    };
    const std::vector<Fixture> fixtures = {
        {"RLA", Rla(p), rla::Read},
        {"RLA grey", Rla(p, true), rla::Read},
        {"Autodesk", Cel(3, 2, {1, 2, 3}, {0, 1, 2, 2, 1, 0}), autodesk::Read},
        {"PSP composite", PspWithComposite(6, p, 1), psp::Read},
        {"PSP composite LZ77", PspWithComposite(8, p, 2), psp::Read},
        {"PSP 5 layer", psp3, psp::Read},
        {"PSP 4-bit composite", psp8, psp::Read},
        {"PCD", Pcd(PcdLuma, 150, 140, 1), pcd::Read},
    };
    std::mt19937 random(20240607);
    for (const Fixture& fx : fixtures) {
        SCOPED_TRACE(fx.name);
        ASSERT_EQ(Recognise(kReaders, fx.file),
                  &ReaderNamed(kReaders, fx.name == std::string("RLA grey")        ? "RLA"
                                       : std::string(fx.name).rfind("PSP", 0) == 0 ? "PSP"
                                                                                   : fx.name));
        Bitmap b;
        ASSERT_EQ(ErrorOf(fx.read, fx.file, b), "");
        auto survive = [&](const ByteVector& damaged) {
            try {
                Bitmap out;
                fx.read(damaged, out);
            } catch (const Error&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << "not the project's error: " << e.what();
            }
        };
        // The Photo-CD reader only needs the file's length, so a few cuts suffice.
        const std::size_t step = fx.file.size() > 100000 ? 4093 : 1;
        for (std::size_t n = 0; n < fx.file.size(); n += step)
            survive(ByteVector(fx.file.begin(), fx.file.begin() + static_cast<std::ptrdiff_t>(n)));
        const int rounds = fx.file.size() > 100000 ? 20 : 300;
        for (int round = 0; round < rounds; ++round) {
            ByteVector damaged = fx.file;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int k = 0; k < changes; ++k) {
                // Mostly the first kilobyte, where the headers and tables are.
                const std::size_t limit = std::min<std::size_t>(damaged.size(), random() % 4 ? 1024 : damaged.size());
                damaged[random() % limit] = static_cast<std::uint8_t>(random());
            }
            survive(damaged);
        }
    }
}

}  // namespace
}  // namespace pictorix
