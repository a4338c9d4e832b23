#pragma once
// The working bitmap: a device-independent raster picture.
//
// Pixels are stored top row first. Each row is `stride()` bytes long, padded to a
// multiple of four bytes like a Windows DIB row, so a row can be written to a BMP
// file as it is. Layout of one pixel by format:
//   1, 4, 8 bits  palette indices, most significant bits = leftmost pixel
//   16 bits       little-endian 5-6-5 (red 0xF800, green 0x07E0, blue 0x001F)
//   24 bits       blue, green, red
//   32 bits       blue, green, red, unused
// Colours are 32-bit values 0x00BBGGRR.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace pictorix {

// Pixel memory. Growing it leaves the new bytes as the allocator gave them, so code
// that writes every byte does not pay for clearing them first; everything else clears.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using PixelBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

using Color = std::uint32_t;  // 0x00BBGGRR

constexpr Color RGB(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr unsigned GetR(Color c) { return c & 0xFF; }
constexpr unsigned GetG(Color c) { return (c >> 8) & 0xFF; }
constexpr unsigned GetB(Color c) { return (c >> 16) & 0xFF; }

constexpr Color kWhite = 0x00FFFFFF;
constexpr Color kBlack = 0x00000000;

using Palette = std::vector<Color>;

// The fixed palettes that colour depth changes map onto.
const Palette& BlackWhitePalette();  // 2 entries: black, white
const Palette& StandardPalette16();  // the VGA 16 colours
const Palette& HalftonePalette();    // 256: 20 static colours, 6x6x6 cube, grey ramp
const Palette& GreyPalette256();     // 256 grey levels, index = level

// Index of the palette entry nearest to c (squared RGB distance, lowest index wins ties).
int NearestPaletteIndex(const Palette& palette, Color c);

class Bitmap {
public:
    Bitmap() = default;  // empty, 24 bits per pixel, white fill
    Bitmap(int width, int height, int bitsPerPixel);

    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const { return bpp_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }
    std::size_t stride() const { return stride_; }

    std::uint8_t* row(int y) { return data_.data() + static_cast<std::size_t>(y) * stride_; }
    const std::uint8_t* row(int y) const { return data_.data() + static_cast<std::size_t>(y) * stride_; }
    std::uint8_t* bits() { return data_.data(); }
    const std::uint8_t* bits() const { return data_.data(); }

    // Palette of a 1, 4 or 8-bit bitmap (2, 16 or 256 entries; a reader may give fewer).
    const Palette& palette() const { return palette_; }
    void setPalette(Palette palette) { palette_ = std::move(palette); }

    // Colour given to new pixels when the bitmap grows; white until a rotation changes it.
    Color fillColor() const { return fill_; }
    void setFillColor(Color c) { fill_ = c; }

    // Transparency marker for writers that can store one colour as transparent.
    bool transparent() const { return transparent_; }
    Color transparentColor() const { return transparentColor_; }
    void setTransparent(bool on, Color c = kWhite) { transparent_ = on; transparentColor_ = c; }

    // Resizing keeps the old pixels at the top left; new pixels take the fill colour.
    void setWidth(int width);
    void setHeight(int height);
    void setSize(int width, int height);

    // Changes the pixel format, converting every pixel. 1, 4 and 8 bits get the
    // black-and-white, standard 16 and halftone palettes (nearest colour); the same
    // format again changes nothing. Throws Error for a format not in {1,4,8,16,24,32}.
    void setBitsPerPixel(int bitsPerPixel);

    // Drops the pixels and makes the bitmap width x height in the given format, with
    // undefined pixel values (readers fill every row). Keeps fill colour and palette.
    void reset(int width, int height, int bitsPerPixel);

    // As reset, but only the padding at the end of each row is cleared: for code that
    // writes every pixel of every row, so a large picture is not cleared for nothing.
    void resetForOverwrite(int width, int height, int bitsPerPixel);

    Color pixel(int x, int y) const;
    // For palette formats the nearest palette entry is stored.
    void setPixel(int x, int y, Color c);
    // Raw palette index of a 1, 4 or 8-bit pixel.
    int index(int x, int y) const;
    void setIndex(int x, int y, int index);

    // Fills every pixel with c (nearest palette entry for palette formats).
    void fill(Color c);

    static std::size_t strideFor(int width, int bitsPerPixel);

private:
    void resize(int width, int height);

    int width_ = 0;
    int height_ = 0;
    int bpp_ = 24;
    std::size_t stride_ = 0;
    PixelBytes data_;
    Palette palette_;
    Color fill_ = kWhite;
    bool transparent_ = false;
    Color transparentColor_ = kWhite;
};

// Largest width or height a reader accepts, and the largest pixel count; protects
// against absurd headers before any allocation.
constexpr int kMaxDimension = 1 << 20;
constexpr std::uint64_t kMaxPixels = 1ull << 30;

// Throws Error("<what>: picture size W x H is not supported") when the size is out of range.
void CheckPictureSize(long long width, long long height, const char* what);

// Largest pixel memory of one bitmap, rows padded as stored: a picture within the
// pixel limit can still claim more memory than a run should take (32 bits per pixel).
constexpr std::uint64_t kMaxPictureBytes = 1ull << 30;

// CheckPictureSize, and then Error("<what>: picture size W x H at B bits per pixel
// needs more than 1024 MB of memory") when the pixels would exceed kMaxPictureBytes.
void CheckPictureBytes(long long width, long long height, int bitsPerPixel, const char* what);

}  // namespace pictorix
