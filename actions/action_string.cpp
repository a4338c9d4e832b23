#include "actions/action_string.h"

#include <charconv>
#include <cstdlib>

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

}  // namespace pictorix
