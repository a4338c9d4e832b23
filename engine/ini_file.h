#pragma once
// A settings file in INI form, read and written with the rules of profile strings:
// section and key names compare without regard to ASCII letter case, a missing key
// gives the caller's default, a value that is not an integer gives the default of an
// integer key, values are cut at 2047 characters, and writing a key keeps every
// other line of the file (unknown keys, other sections, comments) as it was.
//
// Reading: a line is a section header "[name]", a "key=value" line, or anything else
// (blank, a comment starting with ";" or "#", stray text), which is kept verbatim.
// Names are trimmed; a value is trimmed of surrounding blanks and then loses one pair
// of surrounding double quotes, so a quoted value keeps its inside. Keys before the
// first header belong to the section "". Of two equal keys the first one counts, in
// whichever of two equal sections it stands.
// Writing: lines end with CR LF when the text read ended its first line with CR LF,
// otherwise with LF (a last line gets its line end too). A
// value that reading would change (surrounding blanks, surrounding quotes) is written
// inside quotes, so every value reads back as it was set.
#include <optional>
#include <string>
#include <vector>

namespace pictorix {

class IniFile {
public:
    IniFile() = default;

    // Reads the file; a missing or unreadable file gives an empty document.
    static IniFile Load(const std::string& path);
    // Parses text (lines end with LF, CR LF or CR).
    static IniFile Parse(const std::string& text);

    // The value as read (not cut), or nothing when the key is missing.
    std::optional<std::string> value(const std::string& section, const std::string& key) const;
    bool hasKey(const std::string& section, const std::string& key) const;

    // getString cuts the value (or the default) at 2047 bytes, never inside a UTF-8
    // character. getInt takes the value only when all of it is a decimal integer with
    // an optional sign that fits in 32 bits; getBool takes such an integer as true
    // unless it is 0. Anything else gives the default.
    std::string getString(const std::string& section, const std::string& key, const std::string& def) const;
    int getInt(const std::string& section, const std::string& key, int def) const;
    bool getBool(const std::string& section, const std::string& key, bool def) const;

    // Replaces the value of the key's first line in place, or adds the key after the
    // last non-blank line of its section, or adds the section at the end of the file
    // (after one blank line).
    // Throws Error for a value with a line break or a name the file cannot hold.
    void setString(const std::string& section, const std::string& key, const std::string& value);
    void setInt(const std::string& section, const std::string& key, int value);
    void setBool(const std::string& section, const std::string& key, bool value);

    std::string text() const;
    // Writes the whole file (through a temporary file in the same folder, flushed and
    // renamed over it, so the file is the old one or the whole new one; a symbolic link
    // stays a link and its target is replaced). Creates the file, not its folder.
    // Throws Error("Unable to write to <path>") when it cannot.
    void save(const std::string& path) const;

private:
    struct Line {
        std::string text;     // the line as read (or as built when set)
        std::string section;  // section it belongs to (empty before the first)
        std::string key;      // empty for section headers, comments, blank lines
        std::string value;
        bool isSection = false;
    };
    // Index of the first line that holds the key, or -1.
    long findKey(const std::string& section, const std::string& key) const;

    std::vector<Line> lines_;
    // Line end of the written text: CR LF when the text read ended its first line with
    // CR LF, otherwise LF (also for text that used CR alone).
    std::string eol_ = "\n";
    bool bom_ = false;  // the text read began with a UTF-8 byte order mark; written back
};

}  // namespace pictorix
