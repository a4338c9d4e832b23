#include "pictureio/codecs/gif.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "pictureio/codecs/octree.h"

namespace pictorix::gif {

namespace {

// The file's bytes as giflib's input: it asks for exact byte counts and treats a
// short count as a read failure, which is how truncated files are reported.
struct SpanInput {
    ByteSpan data;
    std::size_t pos = 0;
};

int ReadFromSpan(GifFileType* gif, GifByteType* buffer, int length) {
    auto* input = static_cast<SpanInput*>(gif->UserData);
    if (length <= 0) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(length), input->data.size() - input->pos);
    if (n == 0) return 0;
    std::memcpy(buffer, input->data.data() + input->pos, n);
    input->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void Fail(int code) {
    const char* text = GifErrorString(code);
    throw Error(std::string("GIF: ") + (text ? text : "error " + std::to_string(code)));
}

void Check(GifFileType* gif, int result) {
    if (result == GIF_ERROR) Fail(gif->Error);
}

Palette PaletteOf(const ColorMapObject* map) {
    if (!map || !map->Colors || map->ColorCount <= 0) return GreyPalette256();
    Palette palette;
    const int count = std::min(map->ColorCount, 256);
    palette.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const GifColorType& c = map->Colors[i];
        palette.push_back(RGB(c.Red, c.Green, c.Blue));
    }
    return palette;
}

// Reads the image whose descriptor giflib has just read into `picture`; `dataBytes`
// are what is left of the file.
void ReadFrame(GifFileType* gif, Bitmap& picture, std::size_t dataBytes) {
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0)
        throw Error("GIF: picture size " + std::to_string(desc.Width) + " x " + std::to_string(desc.Height) +
                    " is not supported");
    CheckPictureSize(desc.Width, desc.Height, "GIF");
    // A code takes at least two bits and stands for at most 4096 pixels, so a frame
    // larger than that is refused before its pixels are allocated.
    const std::uint64_t mostPixels = std::uint64_t(dataBytes) * 4 * 4096;
    if (std::uint64_t(desc.Width) * std::uint64_t(desc.Height) > mostPixels)
        throw Error("GIF: picture size " + std::to_string(desc.Width) + " x " + std::to_string(desc.Height) +
                    " is more than the file's " + std::to_string(dataBytes) + " bytes of data can hold");

    picture.reset(desc.Width, desc.Height, 8);
    picture.setPalette(PaletteOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap));

    if (desc.Interlace) {
        // Four passes: every 8th row from 0, every 8th from 4, every 4th from 2,
        // every 2nd from 1.
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < desc.Height; y += kStep[pass])
                Check(gif, DGifGetLine(gif, picture.row(y), desc.Width));
    } else {
        for (int y = 0; y < desc.Height; ++y) Check(gif, DGifGetLine(gif, picture.row(y), desc.Width));
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    SpanInput input{file, 0};
    int error = 0;
    GifHandle gif(DGifOpen(&input, ReadFromSpan, &error));
    if (!gif) Fail(error);

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());

    // Walk the records up to the first image; extensions before it are skipped, and
    // nothing after it is read, so a long animation costs no more than its first frame.
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        Check(gif.get(), DGifGetRecordType(gif.get(), &type));
        if (type == IMAGE_DESC_RECORD_TYPE) {
            Check(gif.get(), DGifGetImageDesc(gif.get()));
            ReadFrame(gif.get(), picture, file.size() - std::min(input.pos, file.size()));
            break;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            Check(gif.get(), DGifGetExtension(gif.get(), &code, &block));
            while (block) Check(gif.get(), DGifGetExtensionNext(gif.get(), &block));
        } else if (type == TERMINATE_RECORD_TYPE) {
            throw Error("GIF: the file holds no picture");
        }
    }
    out = std::move(picture);
}

// ---------------------------------------------------------------------------
// Writer

namespace {

constexpr int kMaxCode = 4095;  // codes are at most 12 bits

// Packs codes into the image data's sub-blocks and keeps the decoder's view of the
// table: the next slot it will fill and the code size it reads with. A decoder adds
// one entry for every code but the first after a clear, and widens its codes when the
// next slot reaches 2^size; writing every code at that same size keeps the two in step
// whatever the encoder sends.
class CodeWriter {
public:
    CodeWriter(ByteVector& out, int minCodeSize)
        : out_(out), minCodeSize_(minCodeSize), clearCode_(1 << minCodeSize), size_(minCodeSize + 1) {
        out_.push_back(static_cast<std::uint8_t>(minCodeSize));
    }

    int firstFree() const { return clearCode_ + 2; }
    // Slot of the entry that the decoder adds on reading the next code, and whether it
    // adds one at all.
    int next() const { return next_; }
    bool addsEntry() const { return !fresh_ && next_ <= kMaxCode; }

    void clear() {
        put(clearCode_);
        size_ = minCodeSize_ + 1;
        next_ = firstFree();
        fresh_ = true;
    }

    void emit(int code) {
        put(code);
        if (addsEntry()) {
            ++next_;
            if (next_ == (1 << size_) && size_ < 12) ++size_;
        }
        fresh_ = false;
    }

    // The end-of-information code, the last partial byte and the block terminator.
    void finish() {
        put(clearCode_ + 1);
        if (bits_ > 0) byte(static_cast<std::uint8_t>(acc_));
        flushBlock();
        out_.push_back(0);
    }

private:
    void put(int code) {
        acc_ |= static_cast<std::uint32_t>(code) << bits_;
        bits_ += size_;
        while (bits_ >= 8) {
            byte(static_cast<std::uint8_t>(acc_));
            acc_ >>= 8;
            bits_ -= 8;
        }
    }
    void byte(std::uint8_t b) {
        block_[blockLength_++] = b;
        if (blockLength_ == 255) flushBlock();
    }
    void flushBlock() {
        if (blockLength_ == 0) return;
        out_.push_back(static_cast<std::uint8_t>(blockLength_));
        out_.insert(out_.end(), block_, block_ + blockLength_);
        blockLength_ = 0;
    }

    ByteVector& out_;
    int minCodeSize_;
    int clearCode_;
    int size_;  // the decoder's code size
    int next_ = 0;
    bool fresh_ = true;
    std::uint32_t acc_ = 0;
    int bits_ = 0;
    std::uint8_t block_[255];
    int blockLength_ = 0;
};

// The encoder's string table: (prefix code, next index) -> code, open addressing.
class StringTable {
public:
    StringTable() : keys_(kSize, 0), codes_(kSize, 0) {}
    void reset() { std::fill(keys_.begin(), keys_.end(), 0u); }
    int find(std::uint32_t key) const {
        for (std::size_t i = slot(key);; i = (i + 1) & (kSize - 1)) {
            if (keys_[i] == 0) return -1;
            if (keys_[i] == key + 1) return codes_[i];
        }
    }
    void insert(std::uint32_t key, int code) {
        std::size_t i = slot(key);
        while (keys_[i] != 0) i = (i + 1) & (kSize - 1);
        keys_[i] = key + 1;
        codes_[i] = static_cast<std::uint16_t>(code);
    }

private:
    static constexpr std::size_t kSize = 16384;  // at most 4096 entries: load below 1/4
    static std::size_t slot(std::uint32_t key) { return (key * 2654435761u) >> (32 - 14); }
    std::vector<std::uint32_t> keys_;  // key + 1; 0 = empty
    std::vector<std::uint16_t> codes_;
};

void EncodeLzw(const std::vector<std::uint8_t>& pixels, CodeWriter& w) {
    StringTable table;
    int nextCode = w.firstFree();
    w.clear();
    int current = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const int k = pixels[i];
        const std::uint32_t key = static_cast<std::uint32_t>(current) << 8 | static_cast<std::uint32_t>(k);
        const int found = table.find(key);
        if (found >= 0) {
            current = found;
            continue;
        }
        w.emit(current);
        table.insert(key, nextCode++);
        if (nextCode > kMaxCode) {
            // Entry 4095 has just been made; the decoder would add it on the next code.
            // A clear comes first, so the decoder's table never fills up.
            w.clear();
            table.reset();
            nextCode = w.firstFree();
        }
        current = k;
    }
    w.emit(current);
    w.finish();
}

void EncodeRle(const std::vector<std::uint8_t>& pixels, CodeWriter& w) {
    // runCode[L]: a code that the decoder holds for L pixels of the current run's
    // colour (L >= 2), -1 where there is none. Lengths come up one by one, so the
    // known lengths are 2..runCode.size() - 1 without gaps.
    std::vector<int> runCode;
    int prevColour = -1;  // colour of the previous code's pixels (every code is a run)
    std::size_t prevLength = 0;
    w.clear();
    for (std::size_t i = 0; i < pixels.size();) {
        const int c = pixels[i];
        std::size_t length = 1;
        while (i + length < pixels.size() && pixels[i + length] == c) ++length;
        runCode.clear();  // no entries of another colour are kept or searched

        for (std::size_t left = length; left > 0;) {
            if (w.addsEntry() && w.next() >= kMaxCode) {
                // Keep the decoder's last slot free, as the LZW encoder does.
                w.clear();
                runCode.clear();
            }
            std::size_t n = std::min<std::size_t>(left, runCode.empty() ? 0 : runCode.size() - 1);
            while (n >= 2 && runCode[n] < 0) --n;
            int code = c;
            if (n >= 2) code = runCode[n];
            else n = 1;

            // The decoder adds the previous code's pixels followed by this code's first
            // pixel: a longer run when both are of this colour.
            const bool adds = w.addsEntry();
            const int slot = w.next();
            w.emit(code);
            if (adds && prevColour == c) {
                const std::size_t made = prevLength + 1;
                if (runCode.size() <= made) runCode.resize(made + 1, -1);
                runCode[made] = slot;
            }
            prevColour = c;
            prevLength = n;
            left -= n;
        }
        i += length;
    }
    w.finish();
}

unsigned BitsFor(std::size_t entries) {
    unsigned bits = 1;
    while ((std::size_t{1} << bits) < entries) ++bits;
    return bits;
}

}  // namespace

ByteVector Write(const Bitmap& bitmap, bool rle) {
    if (bitmap.empty()) throw Error("GIF: the bitmap is empty");
    const int width = bitmap.width(), height = bitmap.height();
    if (width > 0xFFFF || height > 0xFFFF)
        throw Error("GIF: picture size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is too large for a GIF file");

    const std::size_t count = std::size_t(width) * std::size_t(height);
    std::vector<std::uint8_t> indices(count);
    Palette table;
    int transparentIndex = -1;
    const Color transparentColour = bitmap.transparentColor() & 0x00FFFFFF;
    const int bpp = bitmap.bitsPerPixel();

    if (bpp <= 8) {
        const Palette& palette = bitmap.palette();
        const std::size_t usable = std::min(palette.size(), std::size_t{1} << bpp);
        int maxIndex = 0;
        std::uint8_t* p = indices.data();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x, ++p) {
                *p = static_cast<std::uint8_t>(bitmap.index(x, y));
                maxIndex = std::max<int>(maxIndex, *p);
            }
        table.assign(std::max(usable, std::size_t(maxIndex) + 1), kBlack);
        for (std::size_t i = 0; i < usable; ++i) table[i] = palette[i] & 0x00FFFFFF;
        if (bitmap.transparent())
            for (std::size_t i = 0; i < usable; ++i)
                if (table[i] == transparentColour) {
                    transparentIndex = static_cast<int>(i);
                    break;
                }
    } else {
        std::vector<Color> colours;
        bool keyed = false;  // the transparent colour occurs and gets its own entry
        if (bitmap.transparent())
            for (int y = 0; y < height && !keyed; ++y) {
                octree::RowColours(bitmap, y, colours);
                keyed = std::find(colours.begin(), colours.end(), transparentColour) != colours.end();
            }
        table = octree::BuildPalette(bitmap, keyed ? 255 : 256, keyed, transparentColour);
        const int quantised = static_cast<int>(table.size());
        if (keyed) {
            transparentIndex = quantised;
            table.push_back(transparentColour);
        }
        octree::NearestMapper nearest(table, quantised);
        std::uint8_t* p = indices.data();
        for (int y = 0; y < height; ++y) {
            octree::RowColours(bitmap, y, colours);
            for (Color c : colours)
                *p++ = static_cast<std::uint8_t>(keyed && c == transparentColour ? transparentIndex : nearest(c));
        }
    }

    const unsigned bits = BitsFor(table.size());
    table.resize(std::size_t{1} << bits, kBlack);

    ByteVector out;
    out.reserve(800 + count / 2);
    const char* signature = transparentIndex >= 0 ? "GIF89a" : "GIF87a";
    out.insert(out.end(), signature, signature + 6);
    // Logical screen: the picture's size, a global table of 2^bits entries, 8 bits of
    // colour resolution, background entry 0, no aspect ratio.
    PutLE16(out, unsigned(width));
    PutLE16(out, unsigned(height));
    out.push_back(static_cast<std::uint8_t>(0x80 | 0x70 | (bits - 1)));
    out.push_back(0);
    out.push_back(0);
    for (Color c : table) {
        out.push_back(static_cast<std::uint8_t>(GetR(c)));
        out.push_back(static_cast<std::uint8_t>(GetG(c)));
        out.push_back(static_cast<std::uint8_t>(GetB(c)));
    }
    if (transparentIndex >= 0) {
        // Graphic control extension: no disposal, no user input, transparent entry set.
        const std::uint8_t gce[] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00,
                                    static_cast<std::uint8_t>(transparentIndex), 0x00};
        out.insert(out.end(), std::begin(gce), std::end(gce));
    }
    // Image descriptor: at 0,0, the picture's size, no local table, not interlaced.
    out.push_back(0x2C);
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, unsigned(width));
    PutLE16(out, unsigned(height));
    out.push_back(0);

    CodeWriter writer(out, std::max(2, static_cast<int>(bits)));
    if (rle) EncodeRle(indices, writer);
    else EncodeLzw(indices, writer);

    out.push_back(0x3B);  // trailer
    return out;
}

}  // namespace pictorix::gif
