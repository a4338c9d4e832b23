// Codec plug-ins: discovery, the choice of a library by its filters, the container in
// both directions with its pixel formats and colour spaces, every status message, and
// the JPEG 2000 plug-in checked against OpenJPEG's own tools.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <map>

#include "core/error.h"
#include "core/file_util.h"
#include "pictureio/picture_io.h"
#include "pictureio/plugins.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

// A folder holding copies of the named plug-ins of the tests ("testcodec", "loadonly",
// "notaplugin") or of "jp2codec", the real one.
class PluginFolder : public TempDir {
public:
    explicit PluginFolder(std::initializer_list<const char*> plugins) {
        for (const char* name : plugins) {
            std::string from = std::string(name) == "jp2codec"
                                   ? std::string(PICTORIX_JP2_PLUGIN)
                                   : std::string(PICTORIX_TEST_PLUGIN_DIR) + "/" + name + ".so";
            std::filesystem::copy_file(from, file(std::string(name) + ".so"));
        }
    }
};

// Runs `f` and returns the message of the Error it throws ("" when none).
template <typename F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : bytes) (s += digits[b >> 4]) += digits[b & 15];
    return s;
}

// What the test plug-in wrote for a save: its "key=value" lines.
std::map<std::string, std::string> Dump(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        std::size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    return fields;
}

// A 24-bit bitmap that a failed load must leave alone.
Bitmap Sentinel() {
    Bitmap b = Gradient(5, 4, 9);
    b.setFillColor(RGB(1, 2, 3));
    return b;
}

using test::SamePixels;

double Psnr(const Bitmap& a, const Bitmap& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            Color p = a.pixel(x, y), q = b.pixel(x, y);
            for (int shift : {0, 8, 16}) {
                double d = double((p >> shift) & 0xFF) - double((q >> shift) & 0xFF);
                sum += d * d;
            }
        }
    double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The test plug-in's loader, scanned in a folder of its own, with script files.
class TestCodec : public ::testing::Test {
protected:
    TestCodec() { loader.Scan(plugins.path()); }

    // Loads a script; returns the error message, "" on success.
    std::string Load(const std::string& script, Bitmap& bitmap, const std::string& name = "x.jp2") {
        WriteText(files.file(name), script);
        return ErrorOf([&] { loader.Load(files.file(name), bitmap); });
    }

    PluginFolder plugins{"testcodec"};
    TempDir files;
    PluginLoader loader;
};

}  // namespace

// --- Status messages -----------------------------------------------------------------

TEST_F(TestCodec, StatusMessagesOfLoadingAndSaving) {
    const struct {
        int status;
        const char* load;
        const char* save;
    } cases[] = {
        {2, "Unable to open file", "Unable to open file"},
        {3, "Error in bitmap data", "Error in bitmap data"},
        {4, "Unsupported pixel format", "Unsupported pixel format"},
        {5, "Unable to close file", "Unable to close file"},
        {7, "Error in bitmap data: 7", "Error writing image file: 7"},
        {1, "Error in bitmap data: 1", "Error writing image file: 1"},
        {-3, "Error in bitmap data: -3", "Error writing image file: -3"},
    };
    for (const auto& c : cases) {
        const std::string status = std::to_string(c.status);
        Bitmap bitmap = Sentinel();
        EXPECT_EQ(Load("status=" + status + "\n", bitmap), c.load) << c.status;
        EXPECT_TRUE(SamePixels(bitmap, Sentinel()));
        EXPECT_EQ(ErrorOf([&] { loader.Save(files.file("out.jp2"), Gradient(2, 2), "status=" + status); }), c.save);
        EXPECT_FALSE(FileExists(files.file("out.jp2")));
    }
}

// --- The container on loading ----------------------------------------------------------

TEST_F(TestCodec, PixelFormatsOnLoading) {
    // 3 x 2 pictures, so that packed rows differ from the bitmap's padded rows.
    std::string palette;
    for (int i = 0; i < 256; ++i) palette += HexOf({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
    const struct {
        const char* name;
        std::string script;
        int bpp;
        std::vector<Color> pixels;  // row by row
    } cases[] = {
        {"indexed with palette", "format=1\npixels=000102fdfeff\npalette=" + palette + "\n", 8,
         {RGB(0, 255, 0), RGB(0, 254, 1), RGB(1, 253, 2), RGB(126, 2, 253), RGB(127, 1, 254), RGB(127, 0, 255)}},
        {"grey without palette", "format=1\npixels=000102fdfeff\n", 8,
         {RGB(0, 0, 0), RGB(1, 1, 1), RGB(2, 2, 2), RGB(253, 253, 253), RGB(254, 254, 254), RGB(255, 255, 255)}},
        {"low bits 1, flags set", "format=49\npixels=102030405060\n", 8,
         {RGB(16, 16, 16), RGB(32, 32, 32), RGB(48, 48, 48), RGB(64, 64, 64), RGB(80, 80, 80), RGB(96, 96, 96)}},
        {"16-bit grey, high byte", "format=33\npixels=ff0000ff3412cdab0080ffff\n", 8,
         {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0x12, 0x12, 0x12), RGB(0xAB, 0xAB, 0xAB), RGB(128, 128, 128),
          RGB(255, 255, 255)}},
        {"interleaved BGR", "format=3\npixels=010203040506070809" "0a0b0c0d0e0f101112\n", 24,
         {RGB(3, 2, 1), RGB(6, 5, 4), RGB(9, 8, 7), RGB(12, 11, 10), RGB(15, 14, 13), RGB(18, 17, 16)}},
        {"three planes", "format=19\npixels=010203040506" "111213141516" "212223242526\n", 24,
         {RGB(0x21, 0x11, 0x01), RGB(0x22, 0x12, 0x02), RGB(0x23, 0x13, 0x03), RGB(0x24, 0x14, 0x04),
          RGB(0x25, 0x15, 0x05), RGB(0x26, 0x16, 0x06)}},
        {"two planes, red stays 0", "format=18\npixels=010203040506" "111213141516\n", 24,
         {RGB(0, 0x11, 0x01), RGB(0, 0x12, 0x02), RGB(0, 0x13, 0x03), RGB(0, 0x14, 0x04), RGB(0, 0x15, 0x05),
          RGB(0, 0x16, 0x06)}},
    };
    for (const auto& c : cases) {
        Bitmap bitmap = Sentinel();
        ASSERT_EQ(Load("width=3\nheight=2\n" + c.script, bitmap), "") << c.name;
        EXPECT_EQ(bitmap.width(), 3);
        EXPECT_EQ(bitmap.height(), 2);
        EXPECT_EQ(bitmap.bitsPerPixel(), c.bpp) << c.name;
        EXPECT_EQ(bitmap.fillColor(), RGB(1, 2, 3)) << "the fill colour is the bitmap's own";
        for (int i = 0; i < 6; ++i) EXPECT_EQ(bitmap.pixel(i % 3, i / 3), c.pixels[i]) << c.name << " pixel " << i;
    }
}

TEST_F(TestCodec, RefusedContainersLeaveTheBitmapAndAreFreed) {
    const std::string log = files.file("log");
    const struct {
        std::string script;
        const char* message;
    } cases[] = {
        {"format=4\npixels=" + std::string(48, '7'), "The image contains 4 color planes, only 3 were loaded"},
        {"format=20\npixels=" + std::string(48, '7'), "The image contains 4 color planes, only 3 were loaded"},
        {"format=31\npixels=" + std::string(180, '7'), "The image contains 15 color planes, only 3 were loaded"},
        {"format=0\npixels=00", "Unsupported bitmap format"},
        {"format=16\npixels=00", "Unsupported bitmap format"},
        {"format=32\npixels=00", "Unsupported bitmap format"},
        {"format=2\npixels=00", "Unsupported pixel format"},
        {"format=5\npixels=00", "Unsupported pixel format"},
        {"format=35\npixels=00", "Unsupported pixel format"},
        {"format=67\npixels=00", "Unsupported pixel format"},
        {"format=3\nwidth=0\npixels=00", "Invalid bitmap size"},
        {"format=3\nheight=-1\npixels=00", "Invalid bitmap size"},
        {"format=3", "Error in bitmap data"},  // no pixels at all
    };
    for (const auto& c : cases) {
        std::filesystem::remove(log);
        Bitmap bitmap = Sentinel();
        EXPECT_EQ(Load("width=2\nheight=2\n" + c.script + "\noptions=YCbCr\nlog=" + log + "\n", bitmap), c.message)
            << c.script;
        EXPECT_TRUE(SamePixels(bitmap, Sentinel())) << c.script;
        EXPECT_EQ(ReadText(log), "load testcodec\nfree testcodec\n") << c.script;
    }
    // A failing status is not followed by LibFreeImage.
    std::filesystem::remove(log);
    Bitmap bitmap;
    EXPECT_EQ(Load("log=" + log + "\nstatus=3\n", bitmap), "Error in bitmap data");
    EXPECT_FALSE(FileExists(log));
}

TEST_F(TestCodec, YCbCrAndLabConversions) {
    // Bytes per pixel: byte 2 is Y (L), byte 1 Cb (a), byte 0 Cr (b).
    const struct {
        const char* space;
        std::vector<std::array<int, 3>> ycc;  // Y, Cb, Cr or L, a, b
        std::vector<Color> rgb;
    } cases[] = {
        {"YCbCr",
         {{100, 128, 128}, {255, 255, 255}, {0, 0, 0}, {76, 85, 255}, {150, 44, 21}, {30, 200, 90}},
         {RGB(101, 99, 101), RGB(255, 120, 255), RGB(0, 135, 0), RGB(255, 0, 1), RGB(1, 255, 2), RGB(0, 32, 158)}},
        {"Lab",
         {{128, 128, 128}, {10, 128, 128}, {200, 50, 200}, {150, 200, 60}, {40, 160, 100}, {255, 128, 128}},
         {RGB(48, 47, 47), RGB(1, 1, 1), RGB(29, 182, 20), RGB(134, 34, 213), RGB(11, 2, 16), RGB(255, 254, 253)}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> bytes;
        for (const auto& p : c.ycc) {
            bytes.push_back(std::uint8_t(p[2]));
            bytes.push_back(std::uint8_t(p[1]));
            bytes.push_back(std::uint8_t(p[0]));
        }
        Bitmap bitmap;
        ASSERT_EQ(Load("width=3\nheight=2\nformat=3\noptions=" + std::string(c.space) + "\npixels=" + HexOf(bytes),
                       bitmap),
                  "");
        for (int i = 0; i < 6; ++i) EXPECT_EQ(bitmap.pixel(i % 3, i / 3), c.rgb[i]) << c.space << " pixel " << i;
    }
    // Only the exact texts name a colour space.
    for (const char* other : {"ycbcr", "YCbCr ", "Lab2", "rate=0.28"}) {
        Bitmap bitmap;
        ASSERT_EQ(Load(std::string("width=1\nheight=1\nformat=3\npixels=0a141e\noptions=") + other, bitmap), "");
        EXPECT_EQ(bitmap.pixel(0, 0), RGB(30, 20, 10)) << other;
    }
}

// --- Saving ------------------------------------------------------------------------------

TEST_F(TestCodec, ContainerOnSaving) {
    std::string path = files.file("out.jp2");
    // 24 bits: packed rows, blue first, no palette.
    Bitmap rgb(3, 2, 24);
    for (int i = 0; i < 6; ++i) rgb.setPixel(i % 3, i / 3, RGB(10 * i, 10 * i + 1, 10 * i + 2));
    loader.Save(path, rgb, "rate=0.28");
    auto dump = Dump(ReadText(path));
    EXPECT_EQ(dump["extension"], "JP2");
    EXPECT_EQ(dump["width"], "3");
    EXPECT_EQ(dump["height"], "2");
    EXPECT_EQ(dump["bytesperline"], "9");
    EXPECT_EQ(dump["format"], "3");
    EXPECT_EQ(dump["options"], "rate=0.28");
    EXPECT_EQ(dump["pixels"], "020100" "0c0b0a" "161514" "201f1e" "2a2928" "343332");
    EXPECT_EQ(dump["palette"], "null");

    // 8 bits: indices and the palette as blue, green, red, padded to 256 entries.
    Bitmap indexed(2, 2, 8);
    indexed.setPalette({RGB(255, 0, 0), RGB(1, 2, 3), RGB(0, 0, 200)});
    indexed.setIndex(0, 0, 0), indexed.setIndex(1, 0, 1), indexed.setIndex(0, 1, 2), indexed.setIndex(1, 1, 1);
    loader.Save(path, indexed, "");
    dump = Dump(ReadText(path));
    EXPECT_EQ(dump["format"], "1");
    EXPECT_EQ(dump["bytesperline"], "2");
    EXPECT_EQ(dump["pixels"], "00010201");
    EXPECT_EQ(dump["palette"], "0000ff" "030201" "c80000" + std::string(253 * 6, '0'));

    // 1, 4 and 16 bits go as 24 bits; 32 bits are refused.
    for (int bpp : {1, 4, 16}) {
        Bitmap picture = Gradient(3, 2);
        picture.setBitsPerPixel(bpp);
        loader.Save(path, picture, "");
        dump = Dump(ReadText(path));
        EXPECT_EQ(dump["format"], "3") << bpp;
        std::vector<std::uint8_t> expected;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                Color c = picture.pixel(x, y);
                expected.insert(expected.end(), {std::uint8_t(GetB(c)), std::uint8_t(GetG(c)), std::uint8_t(GetR(c))});
            }
        EXPECT_EQ(dump["pixels"], HexOf(expected)) << bpp;
    }
    Bitmap deep = Gradient(3, 2);
    deep.setBitsPerPixel(32);
    EXPECT_EQ(ErrorOf([&] { loader.Save(files.file("deep.jp2"), deep, ""); }), "Unsupported pixel format");
    EXPECT_FALSE(FileExists(files.file("deep.jp2")));
}

TEST_F(TestCodec, OptionTextIsKeptForLaterLoads) {
    Bitmap bitmap;
    EXPECT_EQ(loader.OptionText(), "");
    EXPECT_EQ(Load("expect_options=\nwidth=1\nheight=1\nformat=1\npixels=00", bitmap), "");
    loader.Save(files.file("out.jp2"), Gradient(2, 2), "rate=0.28");
    EXPECT_EQ(loader.OptionText(), "rate=0.28");
    EXPECT_EQ(Load("expect_options=rate=0.28\nwidth=1\nheight=1\nformat=1\npixels=00", bitmap), "");
    EXPECT_EQ(Load("expect_options=\n", bitmap), "Error in bitmap data: 8");
}

TEST(Jp2Options, QualityGivesTheRate) {
    const std::pair<int, const char*> cases[] = {
        {75, "rate=0.28"}, {50, "rate=0.07"}, {0, "rate=0.004375"}, {-5, "rate=0.004375"},
        {87, "rate=0.5447"}, {97, "rate=0.9484"}, {98, "rate=1"}, {100, "rate=1"}, {250, "rate=1"},
    };
    for (const auto& [quality, text] : cases) EXPECT_EQ(Jp2OptionText(quality), text) << quality;
}

// --- Discovery and the choice of a library ---------------------------------------------

TEST_F(TestCodec, ExtensionIsAnUpperCasedSubstringOfTheFilter) {
    // "*.jp2;*.j2k": J2 matches because "*.J2" is part of "*.J2K".
    for (const char* name : {"X.J2K", "X.J2", "x.Jp2", "y.j2k", "z.J"}) {
        std::string ext = FileExtension(name).substr(1);
        for (char& ch : ext) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        Bitmap bitmap;
        EXPECT_EQ(Load("expect_extension=" + ext + "\nwidth=1\nheight=1\nformat=1\npixels=05", bitmap, name), "")
            << name;
        EXPECT_EQ(bitmap.width(), 1) << name;
    }
    for (const auto& [name, message] : {std::pair{"x.jpc", "Unsupported file format: JPC"},
                                        std::pair{"x.2k", "Unsupported file format: 2K"},
                                        std::pair{"x.jp2.bak", "Unsupported file format: BAK"}}) {
        Bitmap bitmap;
        EXPECT_EQ(Load("width=1\nheight=1\nformat=1\npixels=05", bitmap, name), message);
    }
    // Saving uses the save filter, which lists jp2 only.
    EXPECT_EQ(ErrorOf([&] { loader.Save(files.file("x.j2k"), Gradient(2, 2), ""); }), "Unsupported file format: J2K");
}

TEST(PluginDiscovery, LibrariesAreChosenByTheFunctionTheyHave) {
    PluginFolder folder{"loadonly", "testcodec"};
    PluginLoader loader;
    ASSERT_TRUE(loader.Scan(folder.folder()));
    EXPECT_EQ(loader.LoadFilter(), "Load only|*.jp2|Test pictures (*.jp2;*.j2k)|*.jp2;*.j2k");
    EXPECT_EQ(loader.SaveFilter(), "Test pictures (*.jp2)|*.jp2");
    EXPECT_EQ(loader.LoadExtensions(), (std::vector<std::string>{"jp2", "j2k"}));

    // The first library (in name order) that lists the extension reads; the load-only
    // one is never asked to write, although its save filter lists jp2.
    TempDir files;
    WriteText(files.file("a.jp2"), "width=1\nheight=1\nformat=1\npixels=00\nlog=" + files.file("log"));
    Bitmap bitmap;
    loader.Load(files.file("a.jp2"), bitmap);
    EXPECT_EQ(ReadText(files.file("log")), "load loadonly\nfree loadonly\n");
    loader.Save(files.file("b.jp2"), Gradient(2, 2), "");
    EXPECT_EQ(Dump(ReadText(files.file("b.jp2")))["extension"], "JP2");

    PluginFolder loadOnly{"loadonly"};
    ASSERT_TRUE(loader.Scan(loadOnly.path()));
    EXPECT_EQ(loader.SaveFilter(), "");
    EXPECT_EQ(ErrorOf([&] { loader.Save(files.file("c.jp2"), Gradient(2, 2), ""); }), "Unsupported file format: JP2");
    loader.Load(files.file("a.jp2"), bitmap);
}

TEST(PluginDiscovery, WhatIsNotAPluginIsSkippedAndUnloaded) {
    PluginFolder folder{"notaplugin"};
    WriteText(folder.file("junk.so"), "not a library");
    std::filesystem::create_directory(folder.file("folder.so"));
    PluginLoader loader;
    EXPECT_FALSE(loader.Scan(folder.path()));
    EXPECT_EQ(loader.LoadFilter(), "");
    EXPECT_EQ(::dlopen(folder.file("notaplugin.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "a library without LibFreeImage must be unloaded again";
    TempDir files;
    WriteText(files.file("x.jp2"), "width=1\nheight=1\nformat=1\npixels=00");
    Bitmap bitmap;
    EXPECT_EQ(ErrorOf([&] { loader.Load(files.file("x.jp2"), bitmap); }), "Unsupported file format: JP2");
}

TEST(PluginDiscovery, WithoutPluginsJpeg2000FailsThroughThePictureRoutes) {
    TempDir empty, files;
    PluginLoader::Instance().Scan(empty.path());
    WriteText(files.file("x.jp2"), "width=1\nheight=1\nformat=1\npixels=00");
    WriteText(files.file("y.J2C"), "width=1\nheight=1\nformat=1\npixels=00");
    Bitmap bitmap = Sentinel();
    EXPECT_EQ(ErrorOf([&] { LoadPicture(files.file("x.jp2"), bitmap); }), "Unsupported file format: JP2");
    EXPECT_EQ(ErrorOf([&] { LoadPicture(files.file("y.J2C"), bitmap); }), "Unsupported file format: J2C");
    EXPECT_TRUE(SamePixels(bitmap, Sentinel()));
    FormatOptions jp2;
    jp2.format = 10;
    EXPECT_EQ(ErrorOf([&] { SavePicture(files.file("out.jp2"), bitmap, jp2); }), "Unsupported file format: JP2");
    EXPECT_FALSE(FileExists(files.file("out.jp2")));
}

TEST(PluginDiscovery, PictureRoutesUseTheProcessLoader) {
    PluginFolder folder{"testcodec"};
    PluginLoader::Instance().Scan(folder.path());
    TempDir files;
    WriteText(files.file("x.J2K"), "expect_extension=J2K\nwidth=2\nheight=1\nformat=3\npixels=010203040506");
    Bitmap bitmap;
    LoadPicture(files.file("x.J2K"), bitmap);
    EXPECT_EQ(bitmap.pixel(1, 0), RGB(6, 5, 4));
    // The JPEG 2000 writer hands over the option text of its quality.
    FormatOptions jp2;
    jp2.format = 10;
    ByteVector bytes = EncodePicture(bitmap, jp2);
    auto dump = Dump(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(dump["options"], "rate=0.28");
    EXPECT_EQ(dump["pixels"], "010203040506");
    jp2.jp2Quality = 50;
    bytes = EncodePicture(bitmap, jp2);
    EXPECT_EQ(Dump(std::string(bytes.begin(), bytes.end()))["options"], "rate=0.07");
    EXPECT_EQ(PluginLoader::Instance().OptionText(), "rate=0.07");
}

// --- The JPEG 2000 plug-in -----------------------------------------------------------------

class Jp2Codec : public ::testing::Test {
protected:
    Jp2Codec() { PluginLoader::Instance().Scan(plugins.path()); }

    Bitmap RoundTrip(const Bitmap& picture, int quality) {
        FormatOptions jp2;
        jp2.format = 10;
        jp2.jp2Quality = quality;
        SavePicture(files.file("round.jp2"), picture, jp2);
        Bitmap back;
        LoadPicture(files.file("round.jp2"), back);
        return back;
    }

    PluginFolder plugins{"jp2codec"};
    TempDir files;
};

TEST_F(Jp2Codec, LosslessRoundTripsKeepEveryPixel) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{67, 45}}) {
        Bitmap rgb = Gradient(w, h, 5);
        Bitmap back = RoundTrip(rgb, 100);
        EXPECT_EQ(back.bitsPerPixel(), 24);
        EXPECT_TRUE(SamePixels(back, rgb)) << w << "x" << h;
    }
    // A palette picture with grey colours stays 8-bit grey; a coloured one becomes RGB.
    Bitmap grey(9, 7, 8);
    grey.setPalette(GreyPalette256());
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) grey.setIndex(x, y, (x * 29 + y * 7) & 0xFF);
    Bitmap back = RoundTrip(grey, 100);
    EXPECT_EQ(back.bitsPerPixel(), 8);
    EXPECT_TRUE(SamePixels(back, grey));
    Bitmap coloured = grey;
    coloured.setPalette(HalftonePalette());
    back = RoundTrip(coloured, 100);
    EXPECT_EQ(back.bitsPerPixel(), 24);
    EXPECT_TRUE(SamePixels(back, coloured));
}

TEST_F(Jp2Codec, BatchWritesAJp2ThatOtherDecodersRead) {
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    TempDir home, dir;
    std::filesystem::copy_file(PICTORIX_JP2_PLUGIN, home.file("jp2codec.so"));
    ASSERT_EQ(RunCommand("convert -seed 4 -size 256x256 plasma: -quality 95 " + Quote(dir.file("photo.jpg"))).status, 0);
    auto batch = [&](const TempDir& programFolder, const std::string& args) {
        return RunCommand("PICTORIX_HOME=" + Quote(programFolder.path()) + " " + Quote(PICTORIX_BATCH_EXE) + " " +
                          args + " </dev/null");
    };
    CommandResult r = batch(home, "--set format.format=10 " + Quote(dir.file("photo.jpg")));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string jp2 = dir.file("photo.jp2");
    ASSERT_TRUE(FileExists(jp2));

    // Rate 0.28: about 28 % of the 196608 raw bytes.
    const auto size = std::filesystem::file_size(jp2);
    EXPECT_GT(size, 40000u);
    EXPECT_LT(size, 59000u);

    Bitmap source, back;
    LoadPicture(dir.file("photo.jpg"), source);
    LoadPicture(jp2, back);
    ASSERT_EQ(back.width(), 256);
    EXPECT_GT(Psnr(source, back), 30.0);

    EXPECT_EQ(RunCommand("identify -format %wx%h " + Quote(jp2)).output, "256x256");
    if (HaveCommand("opj_decompress")) {
        r = RunCommand("opj_decompress -i " + Quote(jp2) + " -o " + Quote(dir.file("opj.png")));
        ASSERT_EQ(r.status, 0) << r.output;
        Bitmap independent;
        LoadPicture(dir.file("opj.png"), independent);
        EXPECT_GT(Psnr(source, independent), 30.0);
        EXPECT_TRUE(SamePixels(independent, back)) << "our reader and OpenJPEG's tool disagree";
    }

    // Without the plug-in in the program's folder neither direction works.
    TempDir bare;
    std::filesystem::remove(jp2);
    r = batch(bare, "--set format.format=10 " + Quote(dir.file("photo.jpg")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Unsupported file format: JP2"), std::string::npos) << r.output;
    EXPECT_FALSE(FileExists(jp2));
    ASSERT_EQ(batch(home, "--set format.format=10 " + Quote(dir.file("photo.jpg"))).status, 0);
    r = batch(bare, "--set format.format=0 " + Quote(jp2));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Unsupported file format: JP2"), std::string::npos) << r.output;
}

TEST_F(Jp2Codec, CorpusFilesReadOrFailCleanly) {
    const std::string corpus = std::string(PICTORIX_CORPUS_DIR) + "/jp2";
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    const struct {
        const char* name;
        int width, height, bpp;  // 0: must fail
        const char* message;
    } cases[] = {
        {"test-card-lossless.jp2", 640, 480, 24, ""},
        {"test-card-lossy-tiled.jp2", 640, 480, 24, ""},
        {"16bit.cropped.jp2", 64, 64, 8, ""},
        {"16bit.cropped.j2k", 64, 64, 8, ""},
        {"9bit.j2k", 128, 128, 8, ""},
        {"00r0_gray_l.jp2", 76, 13, 8, ""},  // a subsampled component
        {"00r1_graya_la.jp2", 32, 32, 8, ""},  // grey with alpha: the grey
        {"comment.jp2", 1, 1, 8, ""},
        {"rgb_trns_ycbc.jp2", 0, 0, 0, "The image contains 4 color planes, only 3 were loaded"},
        {"rgb_trns_ycbc.j2k", 0, 0, 0, "The image contains 4 color planes, only 3 were loaded"},
        {"zero_height.j2k", 0, 0, 0, "Error in bitmap data"},
        {"not_enough_data.jp2", 0, 0, 0, "Error in bitmap data"},
        {"unbound_variable.jp2", 0, 0, 0, "Error in bitmap data"},
        {"unknown_mode.j2k", 0, 0, 0, "Error in bitmap data"},
        {"balloon_eciRGBv2_aware.jp2", 0, 0, 0, "Error in bitmap data"},
    };
    for (const auto& c : cases) {
        const std::string path = corpus + "/" + c.name;
        if (!FileExists(path)) continue;
        Bitmap bitmap = Sentinel();
        EXPECT_EQ(ErrorOf([&] { LoadPicture(path, bitmap); }), c.message) << c.name;
        if (c.width) {
            EXPECT_EQ(bitmap.width(), c.width) << c.name;
            EXPECT_EQ(bitmap.height(), c.height) << c.name;
            EXPECT_EQ(bitmap.bitsPerPixel(), c.bpp) << c.name;
        } else {
            EXPECT_TRUE(SamePixels(bitmap, Sentinel())) << c.name;
        }
    }
    // Every file, damaged ones included, either reads or fails with a message.
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        Bitmap bitmap;
        try {
            LoadPicture(entry.path().string(), bitmap);
        } catch (const Error& e) {
            EXPECT_STRNE(e.what(), "") << entry.path();
        }
    }
    // Decoded pixels agree with OpenJPEG's own tool.
    if (HaveCommand("opj_decompress")) {
        TempDir out;
        const std::string file = corpus + "/test-card-lossless.jp2";
        ASSERT_EQ(RunCommand("opj_decompress -i " + Quote(file) + " -o " + Quote(out.file("t.png"))).status, 0);
        Bitmap ours, theirs;
        LoadPicture(file, ours);
        LoadPicture(out.file("t.png"), theirs);
        EXPECT_TRUE(SamePixels(ours, theirs));
    }
}
