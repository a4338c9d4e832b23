#include "engine/naming.h"

#include <array>
#include <ctime>
#include <string_view>

#include "pictureio/picture_io.h"

namespace pictorix {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Finds `what` in `text` from `from` on, ignoring ASCII letter case.
std::size_t FindIgnoringCase(const std::string& text, std::string_view what, std::size_t from) {
    if (what.empty() || text.size() < what.size()) return std::string::npos;
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && Lower(text[i + k]) == Lower(what[k])) ++k;
        if (k == what.size()) return i;
    }
    return std::string::npos;
}

// Every occurrence, left to right; the inserted text is not searched again.
std::string ReplaceAllIgnoringCase(const std::string& text, std::string_view what, const std::string& with) {
    std::string result;
    std::size_t from = 0;
    for (;;) {
        std::size_t at = FindIgnoringCase(text, what, from);
        if (at == std::string::npos) break;
        result.append(text, from, at - from);
        result += with;
        from = at + what.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

// The current local time, formatted; read anew for every placeholder kind.
std::string Now(const char* format) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[128];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

struct DatePlaceholder {
    std::string_view placeholder;
    const char* format;  // strftime: %b is the month's short name in the user's locale
};

// The day-first placeholders give the month-first text as well: the names were
// always written that way and existing templates rely on what they produce.
constexpr std::array<DatePlaceholder, 10> kDateTimes = {{
    {"<%dd-mmm-yyyy>", "%b-%d-%Y"},
    {"<%dd-mmm-yy>", "%b-%d-%y"},
    {"<%dd-mm-yyyy>", "%m-%d-%Y"},
    {"<%dd-mm-yy>", "%m-%d-%y"},
    {"<%mmm-dd-yyyy>", "%b-%d-%Y"},
    {"<%mmm-dd-yy>", "%b-%d-%y"},
    {"<%mm-dd-yyyy>", "%m-%d-%Y"},
    {"<%mm-dd-yy>", "%m-%d-%y"},
    {"<%hh-mm>", "%H-%M"},
    {"<%hh-mm-ss>", "%H-%M-%S"},
}};

std::string NameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string BaseName(const std::string& path) {
    std::string name = NameOf(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExpandNameTemplate(const std::string& text, const std::string& sourcePath, int fileIndex,
                               int counterStart, ExtensionForm extForm) {
    std::string result = text;
    for (const DatePlaceholder& p : kDateTimes) {
        if (FindIgnoringCase(result, p.placeholder, 0) == std::string::npos) continue;
        result = ReplaceAllIgnoringCase(result, p.placeholder, Now(p.format));
    }
    result = ReplaceAllIgnoringCase(result, "#", std::to_string(static_cast<long long>(counterStart) + fileIndex));
    result = ReplaceAllIgnoringCase(result, "<%filename>", BaseName(sourcePath));
    std::string ext = FileExtension(NameOf(sourcePath));
    if (extForm == ExtensionForm::LowerWithDot) {
        ext = AsciiLower(ext);
    } else if (!ext.empty()) {
        ext.erase(0, 1);
    }
    return ReplaceAllIgnoringCase(result, "<%ext>", ext);
}

std::string SampleName(const std::string& text, int counterStart) {
    return ExpandNameTemplate(text, "MyPicture.jpg", 0, counterStart, ExtensionForm::AsIsWithoutDot) + ".jpg";
}

}  // namespace pictorix
