#include "operations/watermark.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <utility>

#include "actions/action_string.h"
#include "core/error.h"
#include "core/rounding.h"
#include "engine/settings.h"
#include "operations/geometry.h"
#include "pictureio/picture_io.h"

namespace pictorix {

namespace {

// The placement fields shared by both kinds, converted before anything happens.
struct Placement {
    int position;
    long long offsetX;
    long long offsetY;
    int opacity;
    int rotation;
    bool transparency;
};

// Percent offsets are a share of the picture's size before the watermark, truncated.
Placement ReadPlacement(const ActionFields& fields, const Bitmap& bitmap) {
    Placement p{};
    p.position = fields.integer(1);
    const long long x = fields.integer(2), y = fields.integer(3);
    p.offsetX = fields.percents(4) ? x * bitmap.width() / 100 : x;
    p.offsetY = fields.percents(5) ? y * bitmap.height() / 100 : y;
    p.opacity = fields.integer(6);
    p.rotation = fields.integer(7);
    p.transparency = fields.boolean(8);
    return p;
}

// "No file exists" also covers folders, devices and pipes: only a regular file is read.
bool IsPictureFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// t of GetMixedColor.
double MixFraction(int lowest, int highest, int position) {
    if (highest == lowest) return position >= highest ? 1.0 : 0.0;
    const double t = (static_cast<double>(position) - lowest) / (static_cast<double>(highest) - lowest);
    return std::clamp(t, 0.0, 1.0);
}

// One channel moved the fraction t of the way from a to b.
inline int MixChannel(int a, int b, double t) { return a + RoundToInt((b - a) * t); }

void SaveTextPicture(const Bitmap& picture) {
    const std::string path = TextPicturePath();
    // A folder that cannot be made shows up as the write's own error.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    FormatOptions bmp;
    bmp.format = 0;
    SavePicture(path, picture, bmp);
}

}  // namespace

std::string TextPicturePath() { return ProgramFolder() + "lib/text.bmp"; }

Color GetMixedColor(Color a, Color b, int lowest, int highest, int position) {
    const double t = MixFraction(lowest, highest, position);
    return RGB(unsigned(MixChannel(int(GetR(a)), int(GetR(b)), t)), unsigned(MixChannel(int(GetG(a)), int(GetG(b)), t)),
               unsigned(MixChannel(int(GetB(a)), int(GetB(b)), t)));
}

void BlendWatermark(Bitmap& bitmap, const Bitmap& watermark, long long left, long long top, int alpha,
                    bool transparency, Color transparentColour) {
    const long long x0 = std::max(0LL, -left), x1 = std::min<long long>(watermark.width(), bitmap.width() - left);
    const long long y0 = std::max(0LL, -top), y1 = std::min<long long>(watermark.height(), bitmap.height() - top);
    if (x0 >= x1 || y0 >= y1) return;

    // The alpha is the same for every pixel, so every channel difference b - a has one
    // answer: a table of them gives exactly GetMixedColor's result.
    const double t = MixFraction(-1, 256, alpha);
    std::array<int, 511> delta{};
    for (int d = -255; d <= 255; ++d) delta[std::size_t(d + 255)] = MixChannel(0, d, t);
    const auto mix = [&delta](int a, int b) { return a + delta[std::size_t(b - a + 255)]; };

    const bool direct = (bitmap.bitsPerPixel() == 24 || bitmap.bitsPerPixel() == 32) && watermark.bitsPerPixel() == 24;
    if (direct) {
        const std::size_t bytes = std::size_t(bitmap.bitsPerPixel() / 8);
        for (long long y = y0; y < y1; ++y) {
            const std::uint8_t* src = watermark.row(int(y)) + 3 * x0;
            std::uint8_t* dst = bitmap.row(int(top + y)) + bytes * std::size_t(left + x0);
            for (long long x = x0; x < x1; ++x, src += 3, dst += bytes) {
                if (transparency && RGB(src[2], src[1], src[0]) == transparentColour) continue;
                for (int c = 0; c < 3; ++c) dst[c] = static_cast<std::uint8_t>(mix(dst[c], src[c]));
            }
        }
        return;
    }
    for (long long y = y0; y < y1; ++y) {
        for (long long x = x0; x < x1; ++x) {
            const Color w = watermark.pixel(int(x), int(y));
            if (transparency && w == transparentColour) continue;
            const int px = int(left + x), py = int(top + y);
            const Color p = bitmap.pixel(px, py);
            const auto channel = [&](unsigned (*get)(Color)) { return unsigned(mix(int(get(p)), int(get(w)))); };
            bitmap.setPixel(px, py, RGB(channel(GetR), channel(GetG), channel(GetB)));
        }
    }
}

void ApplyWatermark(Bitmap& bitmap, Bitmap watermark, long long offsetX, long long offsetY, int opacity,
                    int position, bool transparency, double rotation, Color transparentColour) {
    RotateBitmap(watermark, kWhite, rotation);
    const long long W = bitmap.width(), H = bitmap.height();
    const long long w = watermark.width(), h = watermark.height();
    long long left = 0, top = 0;
    switch (position) {
        case 0: left = offsetX, top = H - offsetY - h; break;
        case 1: left = W - offsetX - w, top = H - offsetY - h; break;
        case 2: left = offsetX, top = offsetY; break;
        case 3: left = W - offsetX - w, top = offsetY; break;
        case 4: left = W / 2 - w / 2, top = H / 2 - h / 2; break;
        default: return;  // no anchor is defined for it
    }
    // Beyond -1 and 256 the mixing fraction is clamped anyway.
    const long long alpha = std::clamp<long long>(static_cast<long long>(opacity) * 255 / 100, -1, 256);
    BlendWatermark(bitmap, watermark, left, top, int(alpha), transparency, transparentColour);
}

void ApplyWatermark(Bitmap& bitmap, const std::string& path, long long offsetX, long long offsetY, int opacity,
                    int position, bool transparency, double rotation, Color transparentColour) {
    Bitmap watermark;
    try {
        LoadPicture(path, watermark);
    } catch (const Error& e) {
        throw Error("the watermark picture " + path + " cannot be read: " + e.what());
    }
    ApplyWatermark(bitmap, std::move(watermark), offsetX, offsetY, opacity, position, transparency, rotation,
                   transparentColour);
}

void DoPictureWatermark(const std::string& action, Bitmap& bitmap) {
    const ActionFields fields(action);
    const std::string& path = fields.text(9);
    if (!IsPictureFile(path)) return;
    const Placement p = ReadPlacement(fields, bitmap);
    const Color transparentColour = ResolveColour(fields.colour(10));
    ApplyWatermark(bitmap, path, p.offsetX, p.offsetY, p.opacity, p.position, p.transparency, p.rotation,
                   transparentColour);
}

Bitmap TextPicture(const std::vector<std::string>& lines, const TextFont& font, Color colour, Color background) {
    long long width = 0;
    for (const std::string& line : lines) width = std::max<long long>(width, font.textWidth(line));
    // The height of "q": every text of one font has the same height.
    const long long lineHeight = font.textHeight();
    const long long height = lineHeight * static_cast<long long>(lines.size());
    if (width <= 0 || height <= 0) return Bitmap();
    CheckPictureSize(width, height, "Text watermark");

    Bitmap picture(int(width), int(height), 24);
    // The rectangle: filled with the background inside a one-pixel black outline.
    picture.fill(background);
    for (int x = 0; x < picture.width(); ++x) {
        picture.setPixel(x, 0, kBlack);
        picture.setPixel(x, picture.height() - 1, kBlack);
    }
    for (int y = 0; y < picture.height(); ++y) {
        picture.setPixel(0, y, kBlack);
        picture.setPixel(picture.width() - 1, y, kBlack);
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        font.drawText(picture, 0, int(static_cast<long long>(i) * lineHeight), lines[i], colour, background);
    return picture;
}

void DoTextWatermark(const std::string& action, Bitmap& bitmap) {
    const ActionFields fields(action);
    const Placement p = ReadPlacement(fields, bitmap);
    const Color background = ResolveColour(fields.colour(9));
    const Color colour = ResolveColour(fields.colour(10));
    const std::string& fontName = fields.text(11);
    const int points = fields.integer(12);
    const FontStyle style = str2fontstyle(fields.text(13));
    std::vector<std::string> lines;
    for (std::size_t i = 14; i < fields.size(); ++i) lines.push_back(fields.text(i));
    if (lines.empty()) return;

    const TextFont font(fontName, points, style);
    Bitmap picture = TextPicture(lines, font, colour, background);
    if (picture.empty()) return;
    SaveTextPicture(picture);
    // The picture just written is placed as it is: reading the file back would give the
    // same pixels, but on several threads another text watermark may have replaced it.
    // White is the transparent colour whatever the background: only a white background,
    // and white letters, become transparent.
    ApplyWatermark(bitmap, std::move(picture), p.offsetX, p.offsetY, p.opacity, p.position, p.transparency,
                   p.rotation, kWhite);
}

}  // namespace pictorix
