#include "pictureio/codecs/rla.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"

namespace pictorix::rla {

namespace {

constexpr std::size_t kRevisionAt = 26;
constexpr std::size_t kChannelNameAt = 580;
constexpr std::size_t kChannelNameLength = 32;

[[noreturn]] void Fail(const std::string& cause) { throw Error("RLA: " + cause); }

std::int16_t ReadSigned16(ByteSpan b, std::size_t at) { return static_cast<std::int16_t>(ReadBE16(b, at)); }

// Decodes one channel record's run-length data into `width` samples.
void DecodeChannel(ByteSpan data, std::vector<std::uint8_t>& samples, std::size_t width, int scanline) {
    samples.resize(width);
    std::size_t p = 0;
    std::size_t x = 0;
    while (x < width) {
        if (p >= data.size()) Fail("scanline " + std::to_string(scanline) + " ends before its last pixel");
        const auto count = static_cast<std::int8_t>(data[p++]);
        if (count >= 0) {
            if (p >= data.size()) Fail("scanline " + std::to_string(scanline) + " ends before its last pixel");
            const std::uint8_t value = data[p++];
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count) + 1, width - x);
            std::fill_n(samples.begin() + static_cast<std::ptrdiff_t>(x), n, value);
            x += n;
        } else {
            const auto literal = static_cast<std::size_t>(-static_cast<int>(count));
            if (data.size() - p < literal)
                Fail("scanline " + std::to_string(scanline) + " ends before its last pixel");
            const std::size_t n = std::min(literal, width - x);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(p), n, samples.begin() + static_cast<std::ptrdiff_t>(x));
            p += literal;
            x += n;
        }
    }
}

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    if (ReadBE16(header, kRevisionAt) != 0xFFFE) return false;
    std::string name;
    for (std::size_t i = 0; i < kChannelNameLength; ++i) {
        const char c = static_cast<char>(header[kChannelNameAt + i]);
        if (c == '\0') break;
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name == "rgb" || name == "xyz";
}

void Read(ByteSpan file, Bitmap& out) {
    const std::size_t headerSize = kProbeHeaderLength;
    if (file.size() < headerSize) Fail("file is truncated");
    if (ReadBE16(file, kRevisionAt) != 0xFFFE) Fail("not an RLA file (revision is not 0xFFFE)");

    // Active window: left, right, bottom, top at offsets 8 to 14.
    const long long width = static_cast<long long>(ReadSigned16(file, 10)) - ReadSigned16(file, 8) + 1;
    const long long height = static_cast<long long>(ReadSigned16(file, 14)) - ReadSigned16(file, 12) + 1;
    if (width <= 0 || height <= 0) Fail("the picture has no pixels");
    const unsigned channelType = ReadBE16(file, 18);
    const int channels = ReadSigned16(file, 20);
    const unsigned channelBits = ReadBE16(file, 658);
    if (channelType != 0) Fail("colour channel type " + std::to_string(channelType) + " is not supported");
    // Some writers leave the bit count at 0; the channel type already says bytes.
    if (channelBits != 8 && channelBits != 0)
        Fail(std::to_string(channelBits) + "-bit colour channels are not supported");
    if (channels != 1 && channels != 3) Fail(std::to_string(channels) + " colour channels are not supported");

    const std::uint64_t tableEnd = headerSize + 4 * static_cast<std::uint64_t>(height);
    if (tableEnd > file.size()) Fail("file is truncated (scanline offsets)");
    // Two bytes of run-length data give at most 128 pixels; a header that claims more
    // than the whole file could encode is refused before anything is allocated.
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > 64 * std::uint64_t(file.size()))
        Fail("the picture is larger than the file can hold");
    CheckPictureSize(width, height, "RLA");

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(static_cast<int>(width), static_cast<int>(height), channels == 1 ? 8 : 24);
    if (channels == 1) picture.setPalette(GreyPalette256());

    const auto w = static_cast<std::size_t>(width);
    std::vector<std::vector<std::uint8_t>> samples(static_cast<std::size_t>(channels));
    for (int line = 0; line < height; ++line) {
        std::size_t p = ReadBE32(file, headerSize + 4 * static_cast<std::size_t>(line));
        for (int c = 0; c < channels; ++c) {
            if (p > file.size() || file.size() - p < 2)
                Fail("scanline " + std::to_string(line) + " lies outside the file");
            const std::size_t length = ReadBE16(file, p);
            p += 2;
            if (file.size() - p < length) Fail("scanline " + std::to_string(line) + " lies outside the file");
            DecodeChannel(file.subspan(p, length), samples[static_cast<std::size_t>(c)], w, line);
            p += length;
        }
        std::uint8_t* dst = picture.row(static_cast<int>(height) - 1 - line);
        if (channels == 1) {
            std::copy(samples[0].begin(), samples[0].end(), dst);
        } else {
            for (std::size_t x = 0; x < w; ++x) {
                dst[3 * x] = samples[2][x];
                dst[3 * x + 1] = samples[1][x];
                dst[3 * x + 2] = samples[0][x];
            }
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::rla
