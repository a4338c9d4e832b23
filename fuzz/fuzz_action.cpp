// Action strings on small pictures of every pixel format: the first byte picks the
// picture, the rest is one action per line, applied in order as a run applies them
// (every other input also as the preview does). A malformed action may fail with
// Error; nothing else may go wrong.
//
// Lines with a number of more than three digits are passed over: huge sizes are
// refused by the picture size limits (tested on their own), and here they would only
// make each run slow. Lines with "/" are passed over too, so that a picture
// watermark never reads a file outside the fuzzer's empty working folder.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "actions/apply_action.h"
#include "core/error.h"
#include "core/text_lines.h"
#include "pictureio/picture_io.h"

using namespace pictorix;

namespace {

bool Acceptable(const std::string& line) {
    if (line.find('/') != std::string::npos) return false;
    int digits = 0;
    for (char c : line) {
        digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
        if (digits > 3) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A text watermark writes lib/text.bmp in the program's folder: give it a scratch one.
    std::string pattern = (std::filesystem::temp_directory_path() / "pictorix-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    std::filesystem::create_directories(pattern + "/lib");
    ::setenv("PICTORIX_HOME", pattern.c_str(), 1);
    if (::chdir(pattern.c_str()) != 0) std::abort();
    // The picture that watermark actions name.
    FormatOptions bmp;
    bmp.format = 0;
    Bitmap mark(3, 2, 24);
    mark.setPixel(1, 1, RGB(200, 0, 0));
    SavePicture(pattern + "/wm.bmp", mark, bmp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 4096) return 0;
    static constexpr std::array<std::pair<int, int>, 4> kSizes = {{{1, 1}, {1, 7}, {7, 1}, {6, 5}}};
    static constexpr std::array<int, 6> kFormats = {1, 4, 8, 16, 24, 32};
    const auto [width, height] = kSizes[data[0] & 3];
    Bitmap bitmap(width, height, kFormats[(data[0] >> 2) % kFormats.size()]);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bitmap.setPixel(x, y, RGB(x * 40, y * 50, (x + y) * 20));
    const ActionPurpose purpose = (data[0] & 0x80) ? ActionPurpose::Preview : ActionPurpose::ConversionRun;

    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    int applied = 0;
    for (const std::string& line : SplitTextLines(text)) {
        if (!Acceptable(line)) continue;
        if (++applied > 4) break;
        try {
            ApplyAction(line, bitmap, purpose);
        } catch (const Error&) {
            // A refused action leaves a bitmap the next action can still use.
        }
        if (bitmap.empty()) continue;
        volatile std::uint8_t sink = bitmap.row(bitmap.height() - 1)[bitmap.stride() - 1];
        (void)sink;
    }
    return 0;
}
