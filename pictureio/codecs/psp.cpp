#include "pictureio/codecs/psp.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::psp {

namespace {

constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr std::size_t kSignatureLength = sizeof(kSignature) - 1;  // 25
constexpr std::size_t kFirstBlockAt = 36;

// Block ids.
constexpr unsigned kImageAttributes = 0;
constexpr unsigned kColourPalette = 2;
constexpr unsigned kLayerBank = 3;
constexpr unsigned kLayer = 4;
constexpr unsigned kChannel = 5;
constexpr unsigned kCompositeImage = 9;
constexpr unsigned kCompositeBank = 16;
constexpr unsigned kCompositeAttributes = 17;
constexpr unsigned kJpegImage = 18;

// Compression types.
constexpr unsigned kNone = 0;
constexpr unsigned kRle = 1;
constexpr unsigned kLz77 = 2;

[[noreturn]] void Fail(const std::string& cause) { throw Error("PSP: " + cause); }

char Lower(std::uint8_t c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

bool SignatureMatches(ByteSpan b) {
    if (b.size() < kSignatureLength) return false;
    for (std::size_t i = 0; i < kSignatureLength; ++i)
        if (Lower(b[i]) != Lower(static_cast<std::uint8_t>(kSignature[i]))) return false;
    return true;
}

std::int32_t ReadLE32Signed(ByteSpan b, std::size_t at) { return static_cast<std::int32_t>(ReadLE32(b, at)); }

struct Rect {
    long long left = 0, top = 0, right = 0, bottom = 0;
    long long width() const { return right - left; }
    long long height() const { return bottom - top; }
};

Rect ReadRect(ByteSpan b, std::size_t at) {
    return {ReadLE32Signed(b, at), ReadLE32Signed(b, at + 4), ReadLE32Signed(b, at + 8), ReadLE32Signed(b, at + 12)};
}

// One block: its id, where its data start and end, and its first chunk (the fields
// that describe it), which follows the header in version 3 files and carries its own
// length in later ones.
struct Block {
    unsigned id = 0;
    std::size_t data = 0;
    std::size_t end = 0;
    std::size_t firstChunkLength = 0;  // version 3: from the block header
};

struct Chunk {
    std::size_t fields = 0;  // first field
    std::size_t end = 0;     // end of the chunk; what the block holds next starts here
};

// A channel as stored: its bytes (compressed or not) and its stated uncompressed length.
struct Channel {
    ByteSpan data;
    std::uint32_t uncompressedLength = 0;
};

// A picture to decode: a composite image or a layer, placed at (x, y) on the canvas.
struct Source {
    long long width = 0, height = 0;
    long long x = 0, y = 0;
    unsigned depth = 0;        // 1, 4, 8 or 24
    unsigned compression = 0;  // of its channels
    std::array<std::optional<Channel>, 4> planes;  // index (or grey), red, green, blue
    std::optional<Channel> mask;                   // transparency mask
    std::optional<Palette> palette;                // its own, if it has one
};

class File {
public:
    explicit File(ByteSpan bytes) : f_(bytes) {
        if (!SignatureMatches(f_)) Fail("not a Paint Shop Pro file");
        if (f_.size() < kFirstBlockAt) Fail("file is truncated");
        major_ = ReadLE16(f_, 32);
        if (major_ < 3) Fail("file format version " + std::to_string(major_) + " is not supported");
    }

    // Reads the block header at `at`; the block must end by `limit`, the end of
    // `container`. False when no block signature stands there.
    bool block(std::size_t at, std::size_t limit, Block& b, const char* container = "its parent block") const {
        if (at > limit || limit - at < headerSize()) return false;
        if (std::memcmp(f_.data() + at, "~BK\0", 4) != 0) return false;
        b.id = ReadLE16(f_, at + 4);
        b.firstChunkLength = v3() ? ReadLE32(f_, at + 6) : 0;
        const std::uint64_t length = ReadLE32(f_, at + (v3() ? 10 : 6));
        b.data = at + headerSize();
        if (length > limit - b.data)
            Fail("block " + std::to_string(b.id) + " goes past the end of " + container);
        b.end = b.data + static_cast<std::size_t>(length);
        return true;
    }

    // The block's first chunk, which must hold at least `fieldsNeeded` bytes of fields.
    Chunk chunk(const Block& b, std::size_t fieldsNeeded) const {
        Chunk c;
        std::uint64_t length;
        if (v3()) {
            c.fields = b.data;
            length = b.firstChunkLength;
        } else {
            if (b.end - b.data < 4) Fail("block " + std::to_string(b.id) + " is truncated");
            c.fields = b.data + 4;
            length = ReadLE32(f_, b.data);
            if (length < 4) Fail("block " + std::to_string(b.id) + " has a chunk of " + std::to_string(length) + " bytes");
        }
        if (length > b.end - b.data) Fail("block " + std::to_string(b.id) + " is truncated");
        c.end = b.data + static_cast<std::size_t>(length);
        if (c.end - c.fields < fieldsNeeded) Fail("block " + std::to_string(b.id) + " is truncated");
        return c;
    }

    // The sub-blocks of a block from `at` to its end, which must all carry the block
    // signature; a tail too short for a block header is padding.
    std::vector<Block> children(std::size_t at, const Block& parent) const {
        std::vector<Block> result;
        Block b;
        while (at < parent.end && parent.end - at >= headerSize()) {
            if (!block(at, parent.end, b)) Fail("block " + std::to_string(parent.id) + " holds damaged sub-blocks");
            result.push_back(b);
            at = b.end;
        }
        return result;
    }

    std::vector<Block> topLevel() const {
        std::vector<Block> result;
        Block b;
        // Whatever follows the last block is not looked at.
        for (std::size_t at = kFirstBlockAt; block(at, f_.size(), b, "the file"); at = b.end) result.push_back(b);
        return result;
    }

    ByteSpan bytes() const { return f_; }
    bool v3() const { return major_ == 3; }
    std::size_t headerSize() const { return v3() ? 14 : 10; }

private:
    ByteSpan f_;
    unsigned major_ = 0;
};

Palette ReadPalette(const File& file, const Block& b) {
    const Chunk c = file.chunk(b, 4);
    const std::uint32_t count = ReadLE32(file.bytes(), c.fields);
    // Version 3 files put the entries right after the count, later ones after the chunk.
    const std::size_t entries = file.v3() ? c.fields + 4 : c.end;
    const std::size_t used = std::min<std::uint32_t>(count, 256);
    if (entries > b.end || (b.end - entries) / 4 < used) Fail("the palette is truncated");
    Palette palette(used);
    for (std::size_t i = 0; i < used; ++i) {
        const std::uint8_t* e = file.bytes().data() + entries + 4 * i;  // blue, green, red, reserved
        palette[i] = RGB(e[2], e[1], e[0]);
    }
    return palette;
}

// Takes the channel sub-blocks (and a palette sub-block) among `blocks` into `s`.
void CollectChannels(const File& file, const std::vector<Block>& blocks, Source& s) {
    for (const Block& b : blocks) {
        if (b.id == kColourPalette && !s.palette) s.palette = ReadPalette(file, b);
        if (b.id != kChannel) continue;
        const Chunk c = file.chunk(b, 12);
        const std::uint32_t stored = ReadLE32(file.bytes(), c.fields);
        const std::uint32_t uncompressed = ReadLE32(file.bytes(), c.fields + 4);
        const unsigned bitmapType = ReadLE16(file.bytes(), c.fields + 8);
        const unsigned channelType = ReadLE16(file.bytes(), c.fields + 10);
        // Version 3 files put the data right after these fields, later ones after the chunk.
        const std::size_t at = file.v3() ? c.fields + 12 : c.end;
        if (stored > b.end - at) Fail("a channel goes past the end of its block");
        const Channel channel{file.bytes().subspan(at, stored), uncompressed};
        // Layer and composite bitmaps carry the colours; their transparency masks
        // are bitmap types 1 and 9. Other bitmaps (user masks, selections) are not used.
        if ((bitmapType == 0 || bitmapType == 8) && channelType < 4) {
            if (!s.planes[channelType]) s.planes[channelType] = channel;
        } else if ((bitmapType == 1 || bitmapType == 9) && !s.mask) {
            s.mask = channel;
        }
    }
}

bool HasColours(const Source& s) {
    return s.depth == 24 ? s.planes[1] && s.planes[2] && s.planes[3] : s.planes[0].has_value();
}

// A decoded plane: rows of `stride` bytes.
struct Plane {
    std::vector<std::uint8_t> owned;
    ByteSpan bytes;
    std::size_t stride = 0;

    const std::uint8_t* row(long long y) const { return bytes.data() + static_cast<std::size_t>(y) * stride; }
};

void DecodeRle(ByteSpan in, std::uint8_t* out, std::size_t need) {
    std::size_t p = 0, o = 0;
    while (o < need) {
        if (p >= in.size()) Fail("a channel's run-length data end early");
        unsigned count = in[p++];
        if (count > 128) {
            count -= 128;
            if (p >= in.size()) Fail("a channel's run-length data end early");
            const std::size_t n = std::min<std::size_t>(count, need - o);
            std::memset(out + o, in[p++], n);
            o += n;
        } else {
            if (in.size() - p < count) Fail("a channel's run-length data end early");
            const std::size_t n = std::min<std::size_t>(count, need - o);
            std::memcpy(out + o, in.data() + p, n);
            p += count;
            o += n;
        }
    }
}

void DecodeLz77(ByteSpan in, std::uint8_t* out, std::size_t need) {
    if (in.size() > UINT_MAX || need > UINT_MAX) Fail("a channel is too large");
    z_stream z{};
    if (inflateInit(&z) != Z_OK) Fail("the LZ77 decoder cannot start");
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out;
    z.avail_out = static_cast<uInt>(need);
    const int result = inflate(&z, Z_FINISH);
    const std::string message = z.msg ? z.msg : "";
    const bool full = z.avail_out == 0;
    inflateEnd(&z);
    // Data beyond what the picture needs are not an error; too few are.
    if (full && (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR)) return;
    if (result == Z_STREAM_END || result == Z_BUF_ERROR) Fail("a channel's LZ77 data end early");
    Fail("a channel's LZ77 data are damaged" + (message.empty() ? std::string() : " (" + message + ")"));
}

// Decodes a channel of `width` x `height` samples of `bits` bits each.
Plane Expand(const Channel& c, unsigned compression, long long width, long long height, unsigned bits) {
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bits + 7) / 8;
    const std::uint64_t padded = (rowBytes + 3) / 4 * 4;
    const auto rows = static_cast<std::uint64_t>(height);
    Plane plane;
    plane.stride = static_cast<std::size_t>(c.uncompressedLength == padded * rows ? padded : rowBytes);
    const std::uint64_t need = plane.stride * rows;
    switch (compression) {
        case kNone:
            if (c.data.size() < need) Fail("a channel holds fewer bytes than its picture");
            plane.bytes = c.data;
            return plane;
        case kRle:
            if (need > 64 * std::uint64_t(c.data.size())) Fail("a channel is larger than its data can hold");
            plane.owned.resize(static_cast<std::size_t>(need));
            DecodeRle(c.data, plane.owned.data(), plane.owned.size());
            break;
        case kLz77:
            if (need > 1032 * std::uint64_t(c.data.size()) + 4096) Fail("a channel is larger than its data can hold");
            plane.owned.resize(static_cast<std::size_t>(need));
            DecodeLz77(c.data, plane.owned.data(), plane.owned.size());
            break;
        default:
            Fail("compression " + std::to_string(compression) + " is not supported");
    }
    plane.bytes = plane.owned;
    return plane;
}

unsigned IndexAt(const Plane& p, long long x, long long y, unsigned depth) {
    const std::uint8_t* r = p.row(y);
    const auto i = static_cast<std::size_t>(x);
    switch (depth) {
        case 1: return (r[i / 8] >> (7 - i % 8)) & 1;
        case 4: return (r[i / 2] >> (i % 2 ? 0 : 4)) & 15;
        default: return r[i];
    }
}

Palette GreyLevels(unsigned depth) {
    if (depth == 8) return GreyPalette256();
    const unsigned levels = 1u << depth;
    Palette p(levels);
    for (unsigned i = 0; i < levels; ++i) {
        const unsigned v = i * 255 / (levels - 1);
        p[i] = RGB(v, v, v);
    }
    return p;
}

// Renders `s` on a canvas of canvasWidth x canvasHeight.
Bitmap Render(const Source& s, long long canvasWidth, long long canvasHeight, const Palette& palette,
              const Bitmap& out) {
    if (s.width <= 0 || s.height <= 0) Fail("the picture has no pixels");
    CheckPictureSize(canvasWidth, canvasHeight, "PSP");
    CheckPictureSize(s.width, s.height, "PSP");
    const bool indexed = s.depth != 24;
    std::array<Plane, 4> planes;
    for (int c = indexed ? 0 : 1; c <= (indexed ? 0 : 3); ++c)
        planes[c] = Expand(*s.planes[c], s.compression, s.width, s.height, indexed ? s.depth : 8);
    std::optional<Plane> mask;
    if (!indexed && s.mask) mask = Expand(*s.mask, s.compression, s.width, s.height, 8);

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    const bool wholeCanvas = s.x == 0 && s.y == 0 && s.width == canvasWidth && s.height == canvasHeight;
    if (indexed && wholeCanvas) {
        picture.reset(static_cast<int>(s.width), static_cast<int>(s.height), 8);
        picture.setPalette(palette);
        for (long long y = 0; y < s.height; ++y) {
            std::uint8_t* d = picture.row(static_cast<int>(y));
            for (long long x = 0; x < s.width; ++x) d[x] = static_cast<std::uint8_t>(IndexAt(planes[0], x, y, s.depth));
        }
        return picture;
    }
    picture.reset(static_cast<int>(canvasWidth), static_cast<int>(canvasHeight), 24);
    picture.fill(kWhite);
    const long long x0 = std::max(0LL, s.x), x1 = std::min(canvasWidth, s.x + s.width);
    const long long y0 = std::max(0LL, s.y), y1 = std::min(canvasHeight, s.y + s.height);
    for (long long y = y0; y < y1; ++y) {
        std::uint8_t* d = picture.row(static_cast<int>(y));
        const long long sy = y - s.y;
        for (long long x = x0; x < x1; ++x) {
            const long long sx = x - s.x;
            unsigned r, g, b;
            if (indexed) {
                const unsigned i = IndexAt(planes[0], sx, sy, s.depth);
                const Color c = i < palette.size() ? palette[i] : kBlack;
                r = GetR(c), g = GetG(c), b = GetB(c);
            } else {
                r = planes[1].row(sy)[sx], g = planes[2].row(sy)[sx], b = planes[3].row(sy)[sx];
                if (mask) {
                    const unsigned a = mask->row(sy)[sx];
                    auto onWhite = [a](unsigned v) { return (v * a + 255 * (255 - a) + 127) / 255; };
                    r = onWhite(r), g = onWhite(g), b = onWhite(b);
                }
            }
            d[3 * x] = static_cast<std::uint8_t>(b);
            d[3 * x + 1] = static_cast<std::uint8_t>(g);
            d[3 * x + 2] = static_cast<std::uint8_t>(r);
        }
    }
    return picture;
}

void CheckDepth(unsigned depth) {
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24)
        Fail(std::to_string(depth) + "-bit pictures are not supported");
}

// The composite image of a composite image bank, if it is stored in channels.
std::optional<Source> FindComposite(const File& file, const Block& bank) {
    const Chunk info = file.chunk(bank, 4);
    struct Attributes {
        long long width, height;
        unsigned depth, compression, type;
    };
    std::vector<Attributes> attributes;
    std::size_t images = 0;  // image blocks seen, each belonging to the attributes of its rank
    for (const Block& b : file.children(info.end, bank)) {
        if (b.id == kCompositeAttributes) {
            const Chunk c = file.chunk(b, 20);
            const ByteSpan f = file.bytes();
            attributes.push_back({ReadLE32Signed(f, c.fields), ReadLE32Signed(f, c.fields + 4),
                                  ReadLE16(f, c.fields + 8), ReadLE16(f, c.fields + 10), ReadLE16(f, c.fields + 18)});
        } else if (b.id == kCompositeImage || b.id == kJpegImage) {
            const std::size_t rank = images++;
            if (b.id == kJpegImage || rank >= attributes.size() || attributes[rank].type != 0) continue;
            const Attributes& a = attributes[rank];
            Source s;
            s.width = a.width;
            s.height = a.height;
            s.depth = a.depth;
            s.compression = a.compression;
            const Chunk c = file.chunk(b, 4);
            CollectChannels(file, file.children(c.end, b), s);
            CheckDepth(s.depth);
            if (HasColours(s)) return s;
        }
    }
    return std::nullopt;
}

// The first raster layer of the layer bank that holds pixels.
std::optional<Source> FindLayer(const File& file, const Block& bank, unsigned depth, unsigned compression) {
    for (const Block& b : file.children(bank.data, bank)) {
        if (b.id != kLayer) continue;
        const ByteSpan f = file.bytes();
        Source s;
        s.depth = depth;
        s.compression = compression;
        Rect image, saved;
        std::size_t channelsAt;
        if (file.v3()) {
            // Name (256 bytes), type, image and saved rectangles, ..., then the channel blocks.
            const Chunk c = file.chunk(b, 289);
            image = ReadRect(f, c.fields + 257);
            saved = ReadRect(f, c.fields + 273);
            channelsAt = c.end;
        } else {
            const Chunk c = file.chunk(b, 2);
            const std::size_t nameLength = ReadLE16(f, c.fields);
            if (c.end - c.fields < 2 + nameLength + 33) Fail("block " + std::to_string(b.id) + " is truncated");
            const std::size_t at = c.fields + 2 + nameLength;
            const unsigned type = f[at];
            if (type != 1 && type != 2) continue;  // only raster layers and floating selections
            image = ReadRect(f, at + 1);
            saved = ReadRect(f, at + 17);
            // The layer bitmap chunk: its length, bitmap count, channel count.
            if (b.end - c.end < 8) Fail("block " + std::to_string(b.id) + " is truncated");
            const std::uint32_t bitmapChunk = ReadLE32(f, c.end);
            if (bitmapChunk < 8 || bitmapChunk > b.end - c.end) Fail("block " + std::to_string(b.id) + " is truncated");
            channelsAt = c.end + bitmapChunk;
        }
        s.width = saved.width();
        s.height = saved.height();
        s.x = image.left + saved.left;
        s.y = image.top + saved.top;
        if (s.width <= 0 || s.height <= 0) continue;  // nothing saved
        CollectChannels(file, file.children(channelsAt, b), s);
        if (HasColours(s)) return s;
    }
    return std::nullopt;
}

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    return SignatureMatches(header) && ReadLE16(header, 32) >= 3;
}

void Read(ByteSpan bytes, Bitmap& out) {
    const File file(bytes);
    std::optional<Block> attributes, palette, layers, composites;
    for (const Block& b : file.topLevel()) {
        std::optional<Block>* slot = b.id == kImageAttributes ? &attributes
                                     : b.id == kColourPalette ? &palette
                                     : b.id == kLayerBank     ? &layers
                                     : b.id == kCompositeBank ? &composites
                                                              : nullptr;
        if (slot && !*slot) *slot = b;
    }
    if (!attributes) Fail("the general image attributes are missing");

    // Width, height, resolution, metric, compression, bit depth, planes, colours, greyscale, ...
    const Chunk a = file.chunk(*attributes, 38);
    const long long width = ReadLE32Signed(bytes, a.fields);
    const long long height = ReadLE32Signed(bytes, a.fields + 4);
    const unsigned compression = ReadLE16(bytes, a.fields + 17);
    const unsigned depth = ReadLE16(bytes, a.fields + 19);
    const bool greyscale = bytes[a.fields + 27] != 0;
    if (width <= 0 || height <= 0) Fail("the picture has no pixels");
    CheckDepth(depth);

    std::optional<Source> source;
    if (composites && !file.v3()) source = FindComposite(file, *composites);
    const bool composite = source.has_value();
    if (!source && layers) source = FindLayer(file, *layers, depth, compression);
    if (!source) Fail("the file holds no picture that can be read");

    Palette colours;
    if (source->depth != 24) {
        if (source->palette) colours = *source->palette;
        else if (palette) colours = ReadPalette(file, *palette);
        else if (greyscale) colours = GreyLevels(source->depth);
        else Fail("the palette is missing");
    }
    const long long canvasWidth = composite ? source->width : width;
    const long long canvasHeight = composite ? source->height : height;
    out = Render(*source, canvasWidth, canvasHeight, colours, out);
}

}  // namespace pictorix::psp
