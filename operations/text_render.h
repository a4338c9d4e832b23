#pragma once
// Text drawing with fontconfig and FreeType: a font found by name as the desktop finds
// it, its metrics, and one line of text drawn onto a Bitmap.
//
// Fonts, faces and the FreeType library are cached for the life of the program and may
// be used from several threads: finding and opening are serialised, and each face
// measures or draws for one thread at a time.
#include <memory>
#include <string>
#include <string_view>

#include "actions/action_string.h"
#include "core/bitmap.h"

namespace pictorix {

// Font sizes are points at 96 dots per inch: 12 pt is 16 pixels (rounded to the nearest
// pixel; a third of a point never lands on a half).
int PointsToPixels(int points);

struct FontFace;  // a cached FreeType face and the lock that guards it

class TextFont {
public:
    // Finds the face with fontconfig: aliases apply ("Arial" gives Liberation Sans) and a
    // name that no font carries gives fontconfig's best match, never a failure. Bold and
    // italic pick the family's bold and italic faces; where the family has none they are
    // synthesised (outlines widened, slanted). A positive size is in points; a negative
    // one is the cell height (ascent + descent) in points; 0 gives 12 points.
    // Throws Error when no usable font is installed or the size is absurd.
    TextFont(const std::string& name, int points, FontStyle style);
    ~TextFont();
    TextFont(TextFont&&) noexcept;
    TextFont& operator=(TextFont&&) noexcept;

    const std::string& file() const { return file_; }      // the font file used
    const std::string& family() const { return family_; }  // its family name
    FontStyle style() const { return style_; }
    bool syntheticBold() const { return syntheticBold_; }
    bool syntheticItalic() const { return syntheticItalic_; }

    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    // The height of any text in this font, the same for every line: ascent + descent.
    int textHeight() const { return ascent_ + descent_; }
    // The advance of the line's glyphs with kerning, in whole pixels. The text is UTF-8;
    // a byte that is not part of a valid sequence stands for U+FFFD.
    int textWidth(std::string_view text) const;

    // Draws a line with its cell's top-left corner at (x, y): the cell (text width x text
    // height) is painted with `background`, then the anti-aliased glyphs are blended onto
    // it in `colour`, then underline and strike-out are drawn as the font's own lines
    // across the cell. Everything is clipped to the bitmap.
    void drawText(Bitmap& bitmap, int x, int y, std::string_view text, Color colour, Color background) const;

private:
    std::shared_ptr<FontFace> face_;
    std::string file_;
    std::string family_;
    FontStyle style_;
    bool syntheticBold_ = false;
    bool syntheticItalic_ = false;
    bool cellHeight_ = false;  // pixelSize_ is the cell height, not the em size
    int pixelSize_ = 0;
    int ascent_ = 0;
    int descent_ = 0;
    int underlineTop_ = 0;  // relative to the baseline, downward
    int underlineThickness_ = 1;
    int strikeOutTop_ = 0;
    int strikeOutThickness_ = 1;
};

}  // namespace pictorix
