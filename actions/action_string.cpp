#include "actions/action_string.h"

#include <charconv>
#include <cstdlib>
#include <iterator>

#include "core/error.h"

namespace pictorix {

std::vector<std::string> SplitFields(const std::string& text, const std::string& separator) {
    std::vector<std::string> fields;
    if (separator.empty()) {
        fields.push_back(text);
        return fields;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        fields.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    fields.push_back(text.substr(start));
    return fields;
}

ActionFields::ActionFields(const std::string& action) : action_(action), fields_(SplitFields(action, ";")) {}

void ActionFields::fail(std::size_t index, const char* expected) const {
    if (index >= fields_.size())
        throw Error("The action \"" + action_ + "\" is malformed: it has no field " + std::to_string(index));
    throw Error("The action \"" + action_ + "\" is malformed: field " + std::to_string(index) + " \"" +
                fields_[index] + "\" is not " + expected);
}

const std::string& ActionFields::text(std::size_t index) const {
    if (index >= fields_.size()) fail(index, "");
    return fields_[index];
}

namespace {

bool ParseInteger(const std::string& s, long long& value) {
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

}  // namespace

int ActionFields::integer(std::size_t index) const {
    long long value = 0;
    if (!ParseInteger(text(index), value) || value < INT32_MIN || value > INT32_MAX) fail(index, "a whole number");
    return static_cast<int>(value);
}

bool ActionFields::boolean(std::size_t index) const {
    const std::string& s = text(index);
    long long value = 0;
    if (ParseInteger(s, value)) return value != 0;
    if (EqualsIgnoringCase(s, "true")) return true;
    if (EqualsIgnoringCase(s, "false")) return false;
    fail(index, "a boolean");
}

double ActionFields::real(std::size_t index) const {
    const std::string& s = text(index);
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+') ++first;
    double value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
    if (first == last || ec != std::errc() || ptr != last) fail(index, "a number");
    return value;
}

std::int32_t ActionFields::colour(std::size_t index) const {
    long long value = 0;
    // Colours are written as signed 32-bit values; the unsigned spelling of the same
    // bits is accepted too.
    if (!ParseInteger(text(index), value) || value < INT32_MIN || value > UINT32_MAX) fail(index, "a colour");
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

Color ResolveColour(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    if ((bits >> 24) != 0xFF) return bits & 0x00FFFFFFu;
    // The classic Windows scheme, by system colour index (COLOR_SCROLLBAR = 0 ...
    // COLOR_MENUBAR = 30).
    static constexpr Color kSystemColours[] = {
        RGB(212, 208, 200),  //  0 scroll bar
        RGB(58, 110, 165),   //  1 desktop
        RGB(10, 36, 106),    //  2 active caption
        RGB(128, 128, 128),  //  3 inactive caption
        RGB(212, 208, 200),  //  4 menu
        RGB(255, 255, 255),  //  5 window
        RGB(0, 0, 0),        //  6 window frame
        RGB(0, 0, 0),        //  7 menu text
        RGB(0, 0, 0),        //  8 window text
        RGB(255, 255, 255),  //  9 caption text
        RGB(212, 208, 200),  // 10 active border
        RGB(212, 208, 200),  // 11 inactive border
        RGB(128, 128, 128),  // 12 application workspace
        RGB(10, 36, 106),    // 13 highlight
        RGB(255, 255, 255),  // 14 highlight text
        RGB(212, 208, 200),  // 15 button face
        RGB(128, 128, 128),  // 16 button shadow
        RGB(128, 128, 128),  // 17 grey text
        RGB(0, 0, 0),        // 18 button text
        RGB(212, 208, 200),  // 19 inactive caption text
        RGB(255, 255, 255),  // 20 button highlight
        RGB(64, 64, 64),     // 21 3D dark shadow
        RGB(212, 208, 200),  // 22 3D light
        RGB(0, 0, 0),        // 23 tooltip text
        RGB(255, 255, 225),  // 24 tooltip background
        RGB(181, 181, 181),  // 25 (unused)
        RGB(0, 0, 128),      // 26 hot-tracked item
        RGB(166, 202, 240),  // 27 gradient of the active caption
        RGB(192, 192, 192),  // 28 gradient of the inactive caption
        RGB(49, 106, 197),   // 29 menu highlight
        RGB(212, 208, 200),  // 30 menu bar
    };
    const unsigned index = bits & 0xFF;
    if (index < std::size(kSystemColours)) return kSystemColours[index];
    return kBlack;
}

std::string BooleanField(bool value) { return value ? "-1" : "0"; }

std::string ColourField(std::int32_t value) { return std::to_string(value); }

namespace {

constexpr const char* kFontStyleNames[4] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

FontStyle FontStyleOfBits(unsigned bits) {
    FontStyle style;
    style.bold = bits & 1;
    style.italic = bits & 2;
    style.underline = bits & 4;
    style.strikeOut = bits & 8;
    return style;
}

}  // namespace

std::string fontstyle2str(const FontStyle& style) {
    if (style.empty()) return "";
    const bool flags[4] = {style.bold, style.italic, style.underline, style.strikeOut};
    std::string text = "[";
    bool first = true;
    for (int i = 0; i < 4; ++i) {
        if (!flags[i]) continue;
        if (!first) text += ",";
        text += kFontStyleNames[i];
        first = false;
    }
    return text + "]";
}

FontStyle str2fontstyle(const std::string& text) {
    // The sixteen written forms are exactly the writer's outputs.
    for (unsigned bits = 1; bits < 16; ++bits) {
        FontStyle style = FontStyleOfBits(bits);
        if (text == fontstyle2str(style)) return style;
    }
    return FontStyle{};
}

}  // namespace pictorix
