#pragma once
// Action strings: one editing action as one line, fields separated by ";", field 0
// the kind keyword. These helpers split a string and convert its fields; a field
// that is missing or does not convert throws Error naming the action.
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap.h"

namespace pictorix {

// Splits at every occurrence of `separator`, keeping empty fields: "a;;b" gives
// three fields, "" one empty field, a trailing separator an empty last field.
std::vector<std::string> SplitFields(const std::string& text, const std::string& separator);

// The fields of one action string, with conversions that name the action when
// they fail.
class ActionFields {
public:
    explicit ActionFields(const std::string& action);

    const std::string& action() const { return action_; }
    std::size_t size() const { return fields_.size(); }
    bool has(std::size_t index) const { return index < fields_.size(); }

    // The field as it stands; throws when the action has no such field.
    const std::string& text(std::size_t index) const;
    // Decimal integer with an optional sign, nothing else.
    int integer(std::size_t index) const;
    // A number (non-zero is true) or the words True / False in any letter case.
    bool boolean(std::size_t index) const;
    // Decimal number with an optional fraction.
    double real(std::size_t index) const;
    // A 32-bit signed colour value; system colours (top byte 0xFF) are kept as they are
    // (ResolveColour turns one into a pixel colour).
    std::int32_t colour(std::size_t index) const;
    // Units: only "percents" means percent; any other word means pixels.
    bool percents(std::size_t index) const { return text(index) == "percents"; }

private:
    [[noreturn]] void fail(std::size_t index, const char* expected) const;

    std::string action_;
    std::vector<std::string> fields_;
};

// The pixel colour of a colour field value. A plain colour 0x00BBGGRR is itself; a
// value whose top byte is 0xFF names a system colour by the index in its low byte and
// becomes that colour of the classic Windows scheme (index 8, the window-text colour
// that the system writes, is black); an unknown index gives black. Any other top byte
// is dropped.
Color ResolveColour(std::int32_t value);

// Writing fields: booleans as "-1" and "0", colours as the decimal signed value.
std::string BooleanField(bool value);
std::string ColourField(std::int32_t value);

// The system colour that the text watermark's font colour defaults to.
constexpr std::int32_t kWindowTextColour = static_cast<std::int32_t>(0xFF000008u);

// A font style: up to four flags in the fixed order bold, italic, underline, strike-out.
struct FontStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    bool empty() const { return !bold && !italic && !underline && !strikeOut; }
    bool operator==(const FontStyle&) const = default;
};

// Parses the font-style text (field 13 of a text watermark): one of the sixteen written
// forms, compared exactly and case-sensitively ("", "[fsBold]", ..., "[fsBold,fsItalic,
// fsUnderline,fsStrikeOut]"); any other text, a set in another order or "[]" included,
// gives the empty style. Never fails.
FontStyle str2fontstyle(const std::string& text);

// Writes a font style: "[" + the names of the set flags in the fixed order joined by
// "," + "]"; the empty style is the empty text, not "[]".
std::string fontstyle2str(const FontStyle& style);

}  // namespace pictorix
