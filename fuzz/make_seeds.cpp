// Seeds of the fuzz targets, and the conversion of a picture crash into a test file.
//
//   fuzz_seeds SEEDS [CORPUS]      fills SEEDS/<target>/ with starting inputs: a small
//                                  picture in every output format, the pictures of
//                                  CORPUS (when given and present) behind their route
//                                  byte, action lists, file lists and settings files.
//   fuzz_seeds --picture INPUT DIR writes an input of fuzz_decode into DIR as the file
//                                  it stands for (route byte dropped, the route's
//                                  extension added), for the replay of the test suite.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/file_util.h"
#include "engine/ini_file.h"
#include "engine/settings.h"
#include "fuzz/routes.h"
#include "pictureio/picture_io.h"

using namespace pictorix;
namespace fs = std::filesystem;

namespace {

// Files larger than this are left out: the fuzzers cut inputs at about this length.
constexpr std::uintmax_t kMaxSeedBytes = 300000;

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::uint8_t> WithRoute(std::uint8_t route, const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> input{route};
    input.insert(input.end(), file.begin(), file.end());
    return input;
}

Bitmap Picture(int width, int height, int bitsPerPixel) {
    Bitmap b(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) b.setPixel(x, y, RGB(x * 50, y * 60, (x ^ y) * 30));
    b.setBitsPerPixel(bitsPerPixel);
    return b;
}

void PictureSeeds(const fs::path& dir, const std::string& corpus) {
    int n = 0;
    for (int bpp : {1, 8, 24}) {
        const Bitmap picture = Picture(5, 4, bpp);
        for (int format = 0; format < kFormatCount; ++format) {
            FormatOptions options;
            options.format = format;
            options.interlacedPng = bpp == 8;
            options.progressiveJpeg = bpp == 8;
            options.gifCompression = bpp == 1;
            std::vector<std::uint8_t> file;
            try {
                file = EncodePicture(picture, options);
            } catch (const Error&) {
                continue;  // a writer that needs a plug-in that is not there
            }
            std::string ext = AsciiLower(std::string(".") + FormatName(format));
            WriteBytes(dir / ("own-" + std::to_string(n++)), WithRoute(fuzz::RouteSelector(ext), file));
        }
    }
    if (corpus.empty() || !fs::is_directory(corpus)) {
        std::fprintf(stderr, "fuzz_seeds: no picture corpus at '%s'; seeds are our own pictures only\n",
                     corpus.c_str());
        return;
    }
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || entry.file_size() > kMaxSeedBytes) continue;
        const std::string ext = AsciiLower(entry.path().extension().string());
        if (ext == ".md" || ext == ".txt") continue;
        std::vector<std::uint8_t> file = ReadFileBytes(entry.path().string());
        WriteBytes(dir / ("corpus-" + std::to_string(n++)), WithRoute(fuzz::RouteSelector(ext), file));
        // Every file also by content, whatever its extension says.
        WriteBytes(dir / ("corpus-" + std::to_string(n++)), WithRoute(fuzz::RouteSelector(".dat"), file));
    }
}

void ActionSeeds(const fs::path& dir) {
    const std::vector<std::string> lists = {
        "rotate;90;0\nmirror;-1;0",
        "rotate;33.5;255\ncrop;center;0;0;0;0;3;2",
        "resize;30;20;pixels;pixels;both\nresize;50;50;percents;percents;width",
        "resize;0;150;pixels;pixels;height\ncanvassize;9;3",
        "crop;edge;1;1;1;1;0;0\ncontrast;-25\nbrightness;10",
        "blur;25\nblur;0.5",
        "contrast;abc;;1.5;yes\nmirror;True;false",
        "textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;[fsBold,fsUnderline];Text;B",
        "textwatermark;0;5;5;percents;pixels;50;45;0;255;-16777208;Arial;8;;x",
        "picturewatermark;4;5;5;pixels;pixels;50;0;-1;wm.bmp;16777215",
        "picturewatermark;2;1;1;percents;percents;100;30;0;wm.bmp;0",
    };
    int n = 0;
    for (const std::string& list : lists)
        for (std::uint8_t first : {0x00, 0x13, 0x8E, 0x1F})
            WriteText(dir / ("actions-" + std::to_string(n++)), std::string(1, static_cast<char>(first)) + list);
}

void ListSeeds(const fs::path& dir) {
    WriteText(dir / "acf-0", "\x01mirror;-1;0\r\nrotate;90;0\r\n\r\nbrightness;10\r\n");
    WriteText(dir / "acf-1", "\x01mirror;-1;0\rrotate;90;0\nblur;5");
    WriteText(dir / "pfl-0", std::string(1, '\0') + "/home/user/a.jpg\r\n/x/y/../b.PNG\r\n\r\nrel/c.bmp\r\n/\r\n");
    WriteText(dir / "pfl-1", std::string(1, '\0') + "/a/b/\n//c//d.tif\r./e\n");
}

void SettingsSeeds(const fs::path& dir) {
    IniFile ini = IniFile::Parse("; settings\r\n[other]\r\nkeep=\" 1 \"\r\n");
    ConversionSettings settings;
    settings.dest.folder = "/out/";
    settings.filename.modify = true;
    settings.filename.filename = "<%filename>_#";
    settings.thumb.enable = true;
    settings.toIni(ini);
    WriteText(dir / "settings-0", ini.text());
    WriteText(dir / "settings-1",
              "[format]\nformat=13\njpegquality=-5\n[DEST]\nDest=2\nfolder=  \"/a b/\"  \n[colordepth]\nvalue=x\n");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "--picture") == 0) {
            std::vector<std::uint8_t> input = ReadFileBytes(argv[2]);
            if (input.empty()) return 0;
            const fs::path out = fs::path(argv[3]) / ("fuzz-" + fs::path(argv[2]).filename().string() +
                                                      fuzz::RouteExtension(input[0]));
            WriteBytes(out, std::vector<std::uint8_t>(input.begin() + 1, input.end()));
            std::printf("%s\n", out.string().c_str());
            return 0;
        }
        if (argc < 2 || argc > 3) {
            std::fprintf(stderr, "usage: fuzz_seeds SEEDS [CORPUS] | fuzz_seeds --picture INPUT DIR\n");
            return 2;
        }
        const fs::path seeds = argv[1];
        for (const char* target : {"fuzz_decode", "fuzz_action", "fuzz_lists", "fuzz_settings"})
            fs::create_directories(seeds / target);
        PictureSeeds(seeds / "fuzz_decode", argc == 3 ? argv[2] : "");
        ActionSeeds(seeds / "fuzz_action");
        ListSeeds(seeds / "fuzz_lists");
        SettingsSeeds(seeds / "fuzz_settings");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
