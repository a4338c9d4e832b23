#include "engine/ini_file.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "core/error.h"
#include "core/file_util.h"

namespace pictorix {

namespace {

// Profile strings cut every value read at this many characters (a 2048-byte buffer
// with its terminating zero).
constexpr std::size_t kMaxValueLength = 2047;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Section and key names compare without regard to ASCII letter case; other bytes
// (UTF-8 sequences) must match exactly.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// The text after "=" as the caller gets it: surrounding blanks dropped, then one pair
// of surrounding double quotes removed so that a quoted value keeps its inside.
std::string DecodeValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// The inverse of DecodeValue: a value that reading would change (surrounding blanks,
// or a pair of surrounding quotes of its own) is written inside quotes.
std::string EncodeValue(const std::string& value) {
    bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') needsQuotes = true;
    return needsQuotes ? "\"" + value + "\"" : value;
}

// Cuts at kMaxValueLength bytes without splitting a UTF-8 sequence.
std::string CutValue(const std::string& value) {
    if (value.size() <= kMaxValueLength) return value;
    std::size_t n = kMaxValueLength;
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
    return value.substr(0, n);
}

// The whole text (blanks around it aside) must be a decimal integer, with an optional
// sign, that fits in 32 bits.
std::optional<int> ParseInt(std::string_view text) {
    std::string_view s = Trim(text);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-') return std::nullopt;
    }
    if (s.empty()) return std::nullopt;
    int result = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), result, 10);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return result;
}

void CheckNames(const std::string& section, const std::string& key, const std::string& value) {
    // Names that the file could not give back as they are would make a key that no
    // later read finds, so they are refused outright.
    bool sectionOk = !HasLineBreak(section) && section.find(']') == std::string::npos &&
                     Trim(section).size() == section.size();
    bool keyOk = !key.empty() && !HasLineBreak(key) && key.find('=') == std::string::npos &&
                 Trim(key).size() == key.size() && key.front() != ';' && key.front() != '#' && key.front() != '[';
    if (!sectionOk || !keyOk) throw Error("Invalid settings name: [" + section + "] " + key);
    if (HasLineBreak(value)) throw Error("A settings value cannot hold a line break: [" + section + "] " + key);
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return IniFile();
    std::string text;
    char buffer[1 << 14];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    bool failed = std::ferror(file) != 0;  // a folder, an I/O error: read as no file
    std::fclose(file);
    return failed ? IniFile() : Parse(text);
}

IniFile IniFile::Parse(const std::string& input) {
    IniFile ini;
    std::string_view text = input;
    if (text.starts_with(kUtf8Bom)) {
        ini.bom_ = true;
        text.remove_prefix(kUtf8Bom.size());
    }
    bool eolKnown = false;
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        std::size_t next;
        if (end == std::string_view::npos) {
            end = next = text.size();
        } else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
            next = end + 2;
            if (!eolKnown) ini.eol_ = "\r\n";
            eolKnown = true;
        } else {
            next = end + 1;
            eolKnown = true;
        }
        std::string_view raw = text.substr(pos, end - pos);
        pos = next;

        Line line;
        line.text = std::string(raw);
        std::string_view trimmed = Trim(raw);
        std::size_t close = trimmed.rfind(']');
        if (!trimmed.empty() && trimmed.front() == '[' && close != std::string_view::npos) {
            section = std::string(Trim(trimmed.substr(1, close - 1)));
            line.isSection = true;
        } else if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#') {
            std::size_t eq = raw.find('=');
            if (eq != std::string_view::npos) {
                line.key = std::string(Trim(raw.substr(0, eq)));
                if (!line.key.empty()) line.value = DecodeValue(raw.substr(eq + 1));
            }
        }
        line.section = section;
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

long IniFile::findKey(const std::string& section, const std::string& key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (!line.isSection && !line.key.empty() && SameName(line.section, section) && SameName(line.key, key))
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<std::string> IniFile::value(const std::string& section, const std::string& key) const {
    long i = findKey(section, key);
    if (i < 0) return std::nullopt;
    return lines_[static_cast<std::size_t>(i)].value;
}

bool IniFile::hasKey(const std::string& section, const std::string& key) const { return findKey(section, key) >= 0; }

std::string IniFile::getString(const std::string& section, const std::string& key, const std::string& def) const {
    auto v = value(section, key);
    return CutValue(v ? *v : def);
}

int IniFile::getInt(const std::string& section, const std::string& key, int def) const {
    auto v = value(section, key);
    if (!v) return def;
    return ParseInt(CutValue(*v)).value_or(def);
}

bool IniFile::getBool(const std::string& section, const std::string& key, bool def) const {
    auto v = value(section, key);
    if (!v) return def;
    auto n = ParseInt(CutValue(*v));
    return n ? *n != 0 : def;
}

void IniFile::setString(const std::string& section, const std::string& key, const std::string& value) {
    CheckNames(section, key, value);
    const std::string encoded = EncodeValue(value);

    long found = findKey(section, key);
    if (found >= 0) {
        // Only the value changes: the key's spelling and the spacing around "=" stay.
        Line& line = lines_[static_cast<std::size_t>(found)];
        std::size_t start = line.text.find('=') + 1;
        while (start < line.text.size() && IsBlank(line.text[start])) ++start;
        line.text = line.text.substr(0, start) + encoded;
        line.value = value;
        return;
    }

    Line added;
    added.text = key + "=" + encoded;
    added.section = section;
    added.key = key;
    added.value = value;

    // The section's lines run from its header (or the start of the file for the
    // unnamed section before the first header) to the next header. The key goes after
    // its last non-blank line, so blank lines that separate sections stay where they are.
    long header = -1;
    bool sectionExists = section.empty();
    if (!section.empty()) {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].isSection && SameName(lines_[i].section, section)) {
                header = static_cast<long>(i);
                sectionExists = true;
                break;
            }
        }
    }
    if (sectionExists) {
        std::size_t end = static_cast<std::size_t>(header + 1);
        while (end < lines_.size() && !lines_[end].isSection) ++end;
        std::size_t insertAt = static_cast<std::size_t>(header + 1);
        for (std::size_t i = insertAt; i < end; ++i)
            if (!Trim(lines_[i].text).empty()) insertAt = i + 1;
        added.section = header >= 0 ? lines_[static_cast<std::size_t>(header)].section : std::string();
        lines_.insert(lines_.begin() + static_cast<long>(insertAt), std::move(added));
        return;
    }

    // A new section at the end, set off from the text before it by one blank line.
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) {
        Line blank;
        blank.section = lines_.back().section;
        lines_.push_back(std::move(blank));
    }
    Line head;
    head.text = "[" + section + "]";
    head.section = section;
    head.isSection = true;
    lines_.push_back(std::move(head));
    lines_.push_back(std::move(added));
}

void IniFile::setInt(const std::string& section, const std::string& key, int value) {
    setString(section, key, std::to_string(value));
}

void IniFile::setBool(const std::string& section, const std::string& key, bool value) {
    setString(section, key, value ? "1" : "0");
}

std::string IniFile::text() const {
    std::string out;
    if (bom_) out += kUtf8Bom;
    for (const Line& line : lines_) {
        out += line.text;
        out += eol_;
    }
    return out;
}

void IniFile::save(const std::string& path) const {
    // A settings file that is a symbolic link (kept in a dotfiles folder, say) stays
    // a link: its target is the file that gets replaced.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const std::string data = text();
    try {
        WriteFileAtomically(target, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
                            /*durable=*/true);
    } catch (const Error&) {
        throw Error("Unable to write to " + path);
    }
}

}  // namespace pictorix
