#include "operations/text_render.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/rounding.h"

namespace pictorix {

namespace {

struct LibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using LibraryPtr = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryDeleter>;

struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceDeleter>;

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

struct ConfigDeleter {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
using ConfigPtr = std::unique_ptr<FcConfig, ConfigDeleter>;

// What fontconfig chose for one request.
struct MatchedFont {
    std::string file;
    int index = 0;
    std::string family;
    bool embolden = false;  // the configuration asks for a synthesised bold
};

// The slant of synthesised italics (tan 12 degrees, in 16.16), the usual oblique.
constexpr FT_Fixed kObliqueShear = 0x0366A;

// 26.6 fixed point to whole pixels.
inline long long RoundPixels(FT_Pos v) { return (static_cast<long long>(v) + 32) >> 6; }
inline long long CeilPixels(FT_Pos v) { return (static_cast<long long>(v) + 63) >> 6; }

// Sizes FreeType can scale to; larger ones could never make a picture anyway.
constexpr int kMaxPixelSize = 0xFFFF;

std::string FreeTypeFailure(const std::string& what, FT_Error error) {
    const char* text = FT_Error_String(error);
    return what + " (FreeType error " + std::to_string(error) + (text ? std::string(": ") + text : std::string()) +
           ")";
}

}  // namespace

struct FontFace {
    FacePtr face;
    std::mutex mutex;  // a face measures or draws for one thread at a time
};

namespace {

// The fontconfig configuration and its answers, the FreeType library and the opened
// faces, shared by every font for the life of the program. Faces are declared after the
// library so that they are closed first.
class FontCache {
public:
    static FontCache& instance() {
        static FontCache cache;
        return cache;
    }

    MatchedFont match(const std::string& name, bool bold, bool italic) {
        const std::string key = name + '\n' + (bold ? 'b' : '-') + (italic ? 'i' : '-');
        std::lock_guard lock(mutex_);
        auto found = matches_.find(key);
        if (found != matches_.end()) return found->second;
        MatchedFont matched = matchWithFontconfig(config(), name, bold, italic);
        matches_.emplace(key, matched);
        return matched;
    }

    std::shared_ptr<FontFace> face(const std::string& file, int index) {
        const std::string key = file + '\n' + std::to_string(index);
        std::lock_guard lock(mutex_);  // FT_New_Face must not run on two threads at once
        auto found = faces_.find(key);
        if (found != faces_.end()) return found->second;
        auto entry = std::make_shared<FontFace>();
        FT_Face raw = nullptr;
        if (FT_Error error = FT_New_Face(library(), file.c_str(), index, &raw))
            throw Error(FreeTypeFailure("cannot open the font " + file, error));
        entry->face.reset(raw);
        if (!FT_IS_SCALABLE(raw)) throw Error("the font " + file + " has no outlines to draw text with");
        if (!raw->charmap && raw->num_charmaps > 0) FT_Set_Charmap(raw, raw->charmaps[0]);
        faces_.emplace(key, entry);
        return entry;
    }

private:
    FontCache() = default;

    FT_Library library() {
        if (!library_) {
            FT_Library raw = nullptr;
            if (FT_Error error = FT_Init_FreeType(&raw)) throw Error(FreeTypeFailure("cannot start FreeType", error));
            library_.reset(raw);
        }
        return library_.get();
    }

    // A configuration of our own rather than the process-wide default one: it is closed
    // with the cache and never shared with a toolkit that uses fontconfig as well.
    FcConfig* config() {
        if (!config_) {
            config_.reset(FcInitLoadConfigAndFonts());
            if (!config_) throw Error("cannot load the fontconfig configuration");
        }
        return config_.get();
    }

    static MatchedFont matchWithFontconfig(FcConfig* config, const std::string& name, bool bold, bool italic) {
        PatternPtr pattern(FcPatternCreate());
        if (!pattern) throw Error("fontconfig: out of memory");
        // The name is added as it stands, never parsed, so ":" or "-" in it are just text.
        if (!name.empty()) FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
        FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
        if (!FcConfigSubstitute(config, pattern.get(), FcMatchPattern)) throw Error("fontconfig: out of memory");
        FcDefaultSubstitute(pattern.get());

        FcResult result = FcResultNoMatch;
        PatternPtr font(FcFontMatch(config, pattern.get(), &result));
        FcChar8* file = nullptr;
        if (!font || FcPatternGetString(font.get(), FC_FILE, 0, &file) != FcResultMatch || !file)
            throw Error("no font is installed to draw \"" + name + "\" with");

        MatchedFont matched;
        matched.file = reinterpret_cast<const char*>(file);
        int index = 0;
        if (FcPatternGetInteger(font.get(), FC_INDEX, 0, &index) == FcResultMatch) matched.index = index;
        FcChar8* family = nullptr;
        if (FcPatternGetString(font.get(), FC_FAMILY, 0, &family) == FcResultMatch && family)
            matched.family = reinterpret_cast<const char*>(family);
        FcBool embolden = FcFalse;
        FcPatternGetBool(font.get(), FC_EMBOLDEN, 0, &embolden);
        matched.embolden = embolden == FcTrue;
        return matched;
    }

    std::mutex mutex_;
    ConfigPtr config_;
    LibraryPtr library_;
    std::map<std::string, MatchedFont> matches_;
    std::map<std::string, std::shared_ptr<FontFace>> faces_;
};

// UTF-8 to code points; each byte of an invalid or truncated sequence is U+FFFD.
std::vector<char32_t> DecodeUtf8(std::string_view text) {
    std::vector<char32_t> result;
    result.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned lead = byte(i);
        int length = 0;
        char32_t cp = 0, minimum = 0;
        if (lead < 0x80) length = 1, cp = lead;
        else if ((lead & 0xE0) == 0xC0) length = 2, cp = lead & 0x1F, minimum = 0x80;
        else if ((lead & 0xF0) == 0xE0) length = 3, cp = lead & 0x0F, minimum = 0x800;
        else if ((lead & 0xF8) == 0xF0) length = 4, cp = lead & 0x07, minimum = 0x10000;
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const unsigned next = byte(i + k);
            if ((next & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (next & 0x3F);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (!valid) {
            result.push_back(0xFFFD);
            ++i;
        } else {
            result.push_back(cp);
            i += std::size_t(length);
        }
    }
    return result;
}

// The face, sized and locked for one measurement or drawing.
class SizedFace {
public:
    SizedFace(FontFace& entry, int pixelSize, bool cellHeight) : lock_(entry.mutex), face_(entry.face.get()) {
        FT_Size_RequestRec request{};
        request.type = cellHeight ? FT_SIZE_REQUEST_TYPE_REAL_DIM : FT_SIZE_REQUEST_TYPE_NOMINAL;
        request.height = static_cast<FT_Long>(pixelSize) * 64;
        if (FT_Error error = FT_Request_Size(face_, &request))
            throw Error(FreeTypeFailure("cannot size the font to " + std::to_string(pixelSize) + " pixels", error));
    }
    FT_Face operator->() const { return face_; }
    FT_Face get() const { return face_; }

private:
    std::lock_guard<std::mutex> lock_;
    FT_Face face_;
};

// Loads one glyph as an outline with the synthesised style applied. Returns its advance
// in 26.6 (the widening of a synthesised bold included).
FT_Pos LoadGlyph(FT_Face face, FT_UInt glyph, bool bold, bool italic) {
    if (FT_Error error = FT_Load_Glyph(face, glyph, FT_LOAD_NO_BITMAP))
        throw Error(FreeTypeFailure("cannot load glyph " + std::to_string(glyph), error));
    FT_GlyphSlot slot = face->glyph;
    FT_Pos advance = slot->advance.x;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return advance;
    if (bold) {
        // Widened by a 24th of the em, at least one pixel, like a desktop's overstrike;
        // the advance grows by the same amount.
        const FT_Pos strength = std::max<FT_Pos>(64, FT_MulFix(face->units_per_EM, face->size->metrics.y_scale) / 24);
        FT_Outline_EmboldenXY(&slot->outline, strength, 0);
        advance += strength;
    }
    if (italic) {
        FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
    }
    return advance;
}

// Calls visit(glyph slot, pen position in pixels) for each glyph of the text, after the
// glyph is loaded, and returns the text's width: whole-pixel advances plus kerning.
template <typename Visit>
long long LayOut(FT_Face face, std::string_view text, bool bold, bool italic, Visit&& visit) {
    long long pen = 0;
    FT_UInt previous = 0;
    const bool kerning = FT_HAS_KERNING(face);
    for (char32_t cp : DecodeUtf8(text)) {
        const FT_UInt glyph = FT_Get_Char_Index(face, cp);  // 0, the missing-glyph box, when absent
        if (kerning && previous && glyph) {
            FT_Vector delta{};
            if (FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &delta) == 0) pen += RoundPixels(delta.x);
        }
        const FT_Pos advance = LoadGlyph(face, glyph, bold, italic);
        visit(face->glyph, pen);
        pen += RoundPixels(advance);
        previous = glyph;
    }
    return pen;
}

int ClampToInt(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// Paints the part of the rectangle that lies inside the bitmap.
void FillRect(Bitmap& bitmap, long long left, long long top, long long width, long long height, Color colour) {
    const long long x0 = std::max(0LL, left), x1 = std::min<long long>(bitmap.width(), left + width);
    const long long y0 = std::max(0LL, top), y1 = std::min<long long>(bitmap.height(), top + height);
    for (long long y = y0; y < y1; ++y)
        for (long long x = x0; x < x1; ++x) bitmap.setPixel(int(x), int(y), colour);
}

// Blends an 8-bit coverage map onto the bitmap in `colour`, clipped to the bitmap.
void BlendCoverage(Bitmap& bitmap, const FT_Bitmap& coverage, long long left, long long top, Color colour) {
    if (coverage.pixel_mode != FT_PIXEL_MODE_GRAY || !coverage.buffer) return;
    const long long rows = coverage.rows, columns = coverage.width;
    const long long y0 = std::max(0LL, -top), y1 = std::min<long long>(rows, bitmap.height() - top);
    const long long x0 = std::max(0LL, -left), x1 = std::min<long long>(columns, bitmap.width() - left);
    const unsigned cr = GetR(colour), cg = GetG(colour), cb = GetB(colour);
    for (long long y = y0; y < y1; ++y) {
        const unsigned char* src = coverage.buffer + y * coverage.pitch;
        for (long long x = x0; x < x1; ++x) {
            const unsigned a = src[x];
            if (a == 0) continue;
            const int px = int(left + x), py = int(top + y);
            const Color under = bitmap.pixel(px, py);
            const auto mix = [a](unsigned from, unsigned to) { return (from * (255 - a) + to * a + 127) / 255; };
            bitmap.setPixel(px, py, RGB(mix(GetR(under), cr), mix(GetG(under), cg), mix(GetB(under), cb)));
        }
    }
}

}  // namespace

int PointsToPixels(int points) { return RoundToInt(points * 96.0 / 72.0); }

TextFont::TextFont(const std::string& name, int points, FontStyle style) : style_(style) {
    if (points == 0) points = 12;
    cellHeight_ = points < 0;
    const long long pixels = PointsToPixels(points);
    pixelSize_ = static_cast<int>(std::clamp<long long>(pixels < 0 ? -pixels : pixels, 1, INT_MAX));
    if (pixelSize_ > kMaxPixelSize)
        throw Error("the font size " + std::to_string(points) + " points is too large to draw");

    FontCache& cache = FontCache::instance();
    const MatchedFont matched = cache.match(name, style.bold, style.italic);
    file_ = matched.file;
    family_ = matched.family;
    face_ = cache.face(matched.file, matched.index);

    const SizedFace face(*face_, pixelSize_, cellHeight_);
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_OS2));
    if (os2 && os2->version == 0xFFFF) os2 = nullptr;  // an Apple font's empty table

    // A family without a bold or italic face gives its regular one; the style is then
    // made from it, as a desktop's text drawing does.
    const bool boldFace = os2 ? os2->usWeightClass >= 600 : (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    syntheticBold_ = style.bold && (matched.embolden || !boldFace);
    syntheticItalic_ = style.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);

    const FT_Size_Metrics& metrics = face->size->metrics;
    // Whole pixels, rounded outward so that no glyph of the font leaves its cell.
    ascent_ = ClampToInt(std::max(0LL, CeilPixels(metrics.ascender)));
    descent_ = ClampToInt(std::max(0LL, CeilPixels(-metrics.descender)));

    const FT_Fixed scale = metrics.y_scale;
    const FT_Pos underlineThickness = FT_MulFix(face->underline_thickness, scale);
    const FT_Pos underlinePosition = FT_MulFix(face->underline_position, scale);  // negative: below the baseline
    underlineThickness_ = ClampToInt(std::max(1LL, RoundPixels(underlineThickness)));
    underlineTop_ = ClampToInt(RoundPixels(-underlinePosition - underlineThickness / 2));

    // The strike-out line's top and thickness come from the OS/2 table; fonts without
    // one get a line of the underline's thickness centred a quarter of the em above the
    // baseline, about half the height of a lower-case x.
    FT_Pos strikePosition = FT_MulFix(face->units_per_EM, scale) / 4 + underlineThickness / 2;
    FT_Pos strikeThickness = underlineThickness;
    if (os2 && os2->yStrikeoutSize > 0) {
        strikePosition = FT_MulFix(os2->yStrikeoutPosition, scale);
        strikeThickness = FT_MulFix(os2->yStrikeoutSize, scale);
    }
    strikeOutThickness_ = ClampToInt(std::max(1LL, RoundPixels(strikeThickness)));
    strikeOutTop_ = ClampToInt(-RoundPixels(strikePosition));
}

TextFont::~TextFont() = default;
TextFont::TextFont(TextFont&&) noexcept = default;
TextFont& TextFont::operator=(TextFont&&) noexcept = default;

int TextFont::textWidth(std::string_view text) const {
    const SizedFace face(*face_, pixelSize_, cellHeight_);
    const long long width = LayOut(face.get(), text, syntheticBold_, syntheticItalic_, [](FT_GlyphSlot, long long) {});
    return ClampToInt(std::max(0LL, width));
}

void TextFont::drawText(Bitmap& bitmap, int x, int y, std::string_view text, Color colour, Color background) const {
    const SizedFace face(*face_, pixelSize_, cellHeight_);
    const long long width =
        std::max(0LL, LayOut(face.get(), text, syntheticBold_, syntheticItalic_, [](FT_GlyphSlot, long long) {}));
    FillRect(bitmap, x, y, width, textHeight(), background);

    const long long baseline = static_cast<long long>(y) + ascent_;
    LayOut(face.get(), text, syntheticBold_, syntheticItalic_, [&](FT_GlyphSlot slot, long long pen) {
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE || slot->outline.n_points == 0) return;
        if (FT_Error error = FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL))
            throw Error(FreeTypeFailure("cannot draw a glyph", error));
        BlendCoverage(bitmap, slot->bitmap, x + pen + slot->bitmap_left, baseline - slot->bitmap_top, colour);
    });

    if (style_.underline) FillRect(bitmap, x, baseline + underlineTop_, width, underlineThickness_, colour);
    if (style_.strikeOut) FillRect(bitmap, x, baseline + strikeOutTop_, width, strikeOutThickness_, colour);
}

}  // namespace pictorix
