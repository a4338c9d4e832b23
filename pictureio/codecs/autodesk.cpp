#include "pictureio/codecs/autodesk.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/error.h"

namespace pictorix::autodesk {

namespace {

constexpr unsigned kMagic = 0x9119;
constexpr std::size_t kPaletteSize = 768;

[[noreturn]] void Fail(const std::string& cause) { throw Error("Autodesk: " + cause); }

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    return ReadLE16(header, 0) == kMagic && header[10] == 8 && header[11] == 0;
}

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < kProbeHeaderLength) Fail("file is truncated");
    if (ReadLE16(file, 0) != kMagic) Fail("not an Autodesk Animator picture (no 0x9119 signature)");
    const int width = ReadLE16(file, 2);
    const int height = ReadLE16(file, 4);
    if (file[10] != 8) Fail(std::to_string(file[10]) + " bits per pixel are not supported");
    if (file[11] != 0) Fail("compression " + std::to_string(file[11]) + " is not supported");
    if (width == 0 || height == 0) Fail("the picture has no pixels");
    const std::size_t pixelsAt = kProbeHeaderLength + kPaletteSize;
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    if (file.size() < pixelsAt || file.size() - pixelsAt < pixels) Fail("file is truncated");
    CheckPictureSize(width, height, "Autodesk");

    const ByteSpan components = file.subspan(kProbeHeaderLength, kPaletteSize);
    const bool sixBit = std::all_of(components.begin(), components.end(), [](std::uint8_t v) { return v <= 63; });
    auto scale = [&](std::uint8_t v) -> unsigned { return sixBit ? (v * 255u + 31u) / 63u : v; };
    Palette palette(256);
    for (std::size_t i = 0; i < 256; ++i)
        palette[i] = RGB(scale(components[3 * i]), scale(components[3 * i + 1]), scale(components[3 * i + 2]));

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());
    picture.reset(width, height, 8);
    picture.setPalette(std::move(palette));
    for (int y = 0; y < height; ++y) {
        const std::size_t at = pixelsAt + std::size_t(y) * std::size_t(width);
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), width, picture.row(y));
    }
    out = std::move(picture);
}

}  // namespace pictorix::autodesk
