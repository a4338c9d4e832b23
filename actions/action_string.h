#pragma once
// Action strings: one editing action as one line, fields separated by ";", field 0
// the kind keyword. These helpers split a string and convert its fields; a field
// that is missing or does not convert throws Error naming the action.
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
    // A 32-bit signed colour value; system colours (top byte 0xFF) are kept as they are.
    std::int32_t colour(std::size_t index) const;
    // Units: only "percents" means percent; any other word means pixels.
    bool percents(std::size_t index) const { return text(index) == "percents"; }

private:
    [[noreturn]] void fail(std::size_t index, const char* expected) const;

    std::string action_;
    std::vector<std::string> fields_;
};

}  // namespace pictorix
