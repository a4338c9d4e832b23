// A codec plug-in for the tests, built in three variants:
//   testcodec   loads and saves
//   loadonly    (TESTCODEC_LOAD_ONLY) loads only, yet its save filter lists jp2
//   notaplugin  (TESTCODEC_WITHOUT_FREE) loads and saves but lacks LibFreeImage
//
// Loading reads the file as a script of "key=value" lines that says what to return:
//   status=N            return N at once
//   expect_options=T    return 8 unless the option text handed in is T
//   expect_extension=E  return 9 unless the extension argument is E
//   width=, height=, format=   the container's fields
//   pixels=HEX, palette=HEX    pixel and palette bytes (absent: null pointers)
//   options=T           point Options at T
//   log=PATH            append "load <variant>" and, later, "free <variant>" to PATH
// Saving returns N when the option text is "status=N", else writes the container it
// got as the same kind of lines (extension, width, height, bytesperline, format,
// options, pixels, palette).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "pictureio/plugin_abi.h"

namespace {

const char kVariant[] = TESTCODEC_NAME;

std::string Hex(const std::uint8_t* data, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

std::uint8_t* FromHex(const std::string& hex) {
    auto* data = static_cast<std::uint8_t*>(std::malloc(hex.size() / 2 + 1));
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        data[i / 2] = static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return data;
}

// Kept between a load and its free, and for the Options pointer handed back.
thread_local std::string logPath;
thread_local std::string reportedOptions;

void Log(const std::string& what) {
    if (logPath.empty()) return;
    std::ofstream(logPath, std::ios::app) << what << ' ' << kVariant << '\n';
}

}  // namespace

extern "C" {

PICTORIX_PLUGIN_EXPORT std::int32_t LibLoadImage(const char* fileName, const char* extension, TImageContainer* image) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return PICTORIX_PLUGIN_CANNOT_OPEN;
    logPath.clear();
    std::string line;
    std::string pixels, palette;
    bool hasPixels = false, hasPalette = false;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "status") return std::stoi(value);
        if (key == "expect_options" && value != (image->Options ? image->Options : "(null)")) return 8;
        if (key == "expect_extension" && value != extension) return 9;
        if (key == "width") image->Width = std::stoi(value);
        if (key == "height") image->Height = std::stoi(value);
        if (key == "format") image->PixelFormat = std::stoi(value);
        if (key == "pixels") hasPixels = true, pixels = value;
        if (key == "palette") hasPalette = true, palette = value;
        if (key == "options") reportedOptions = value, image->Options = reportedOptions.c_str();
        if (key == "log") logPath = value;
    }
    image->Pixels = hasPixels ? FromHex(pixels) : nullptr;
    image->Palette = hasPalette ? FromHex(palette) : nullptr;
    Log("load");
    return 0;
}

#ifndef TESTCODEC_LOAD_ONLY
PICTORIX_PLUGIN_EXPORT std::int32_t LibSaveImage(const char* fileName, const char* extension, TImageContainer* image) {
    const std::string options = image->Options ? image->Options : "(null)";
    if (options.compare(0, 7, "status=") == 0) return std::atoi(options.c_str() + 7);
    std::ofstream out(fileName, std::ios::binary);
    if (!out) return PICTORIX_PLUGIN_CANNOT_OPEN;
    const int bytesPerPixel = image->PixelFormat == 1 ? 1 : 3;
    out << "extension=" << extension << "\nwidth=" << image->Width << "\nheight=" << image->Height
        << "\nbytesperline=" << image->BytesPerLine << "\nformat=" << image->PixelFormat << "\noptions=" << options
        << "\npixels="
        << Hex(image->Pixels, static_cast<std::size_t>(image->Width) * image->Height * bytesPerPixel)
        << "\npalette=" << (image->Palette ? Hex(image->Palette, 256 * 3) : "null") << "\n";
    return out ? 0 : PICTORIX_PLUGIN_CANNOT_CLOSE;
}
#endif

#ifndef TESTCODEC_WITHOUT_FREE
PICTORIX_PLUGIN_EXPORT std::int32_t LibFreeImage(TImageContainer* image) {
    std::free(image->Pixels);
    std::free(image->Palette);
    image->Pixels = image->Palette = nullptr;
    Log("free");
    return 0;
}
#endif

PICTORIX_PLUGIN_EXPORT const char* LibGetLoadFilter() {
#ifdef TESTCODEC_LOAD_ONLY
    return "Load only|*.jp2|";
#else
    return "Test pictures (*.jp2;*.j2k)|*.jp2;*.j2k";
#endif
}

PICTORIX_PLUGIN_EXPORT const char* LibGetSaveFilter() { return "Test pictures (*.jp2)|*.jp2"; }

}  // extern "C"
