#pragma once
// Shared helpers of the tests: scratch folders, tiny pictures, running programs.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/bitmap.h"

namespace pictorix::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pictorix-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Folder text as the settings hold it: with the final "/".
    std::string folder() const { return path_ + "/"; }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& e : std::filesystem::directory_iterator(path_)) result.push_back(e.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Same size and the same colour at every pixel, whatever the pixel formats.
inline bool SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

// A 24-bit picture whose every pixel differs from its neighbours.
inline Bitmap Gradient(int width, int height, int seed = 0) {
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.setPixel(x, y, RGB((x * 37 + seed) & 0xFF, (y * 53 + seed * 3) & 0xFF, (x * y + seed * 7) & 0xFF));
    return b;
}

struct CommandResult {
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs a shell command; its output (both streams) is returned with its exit status.
inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool HaveCommand(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null").status == 0;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

}  // namespace pictorix::test
