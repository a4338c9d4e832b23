// pictorix-batch as a user runs it: arguments, settings, answers, exit status, and
// outputs checked with an independent decoder.
#include <gtest/gtest.h>

#include "core/file_util.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

// Runs pictorix-batch with its program folder in `home` (so no settings file of the
// build leaks in) and stdin not a terminal.
CommandResult Batch(const TempDir& home, const std::string& args) {
    return RunCommand("PICTORIX_HOME=" + Quote(home.path()) + " " + Quote(PICTORIX_BATCH_EXE) + " " + args +
                      " </dev/null");
}

// Pixels differing between two files as ImageMagick decodes them.
std::string ImageMagickDifference(const std::string& a, const std::string& b) {
    return RunCommand("compare -metric AE " + Quote(a) + " " + Quote(b) + " null:").output;
}

}  // namespace

TEST(Cli, ConvertsToAFolderPixelIdenticalToImageMagick) {
    if (!HaveCommand("convert") || !HaveCommand("compare")) GTEST_SKIP() << "ImageMagick is not installed";
    TempDir home, src, out;
    ASSERT_EQ(RunCommand("convert -size 37x23 plasma:fractal -seed 7 " + Quote(src.file("a.jpg"))).status, 0);
    ASSERT_EQ(RunCommand("convert -size 31x17 gradient:red-blue " + Quote(src.file("b.bmp"))).status, 0);
    ASSERT_EQ(RunCommand("convert -size 29x19 gradient:yellow-navy -colors 50 " + Quote(src.file("c.gif"))).status, 0);
    CommandResult r = Batch(home, "--set format.format=2 --set dest.dest=2 --set dest.folder=" + Quote(out.folder()) +
                                      " " + Quote(src.file("a.jpg")) + " " + Quote(src.file("b.bmp")) + " " +
                                      Quote(src.file("c.gif")));
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(out.names(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    for (const char* name : {"a", "b", "c"}) {
        std::string ext = name[0] == 'a' ? ".jpg" : name[0] == 'b' ? ".bmp" : ".gif";
        EXPECT_EQ(ImageMagickDifference(src.file(name + ext), out.file(std::string(name) + ".png")), "0") << name;
    }
    EXPECT_FALSE(FileExists(home.file("settings.ini"))) << "--set must not write the settings file";
}

TEST(Cli, DefaultsWithoutSettingsFile) {
    TempDir home, dir;
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    ASSERT_EQ(RunCommand("convert -size 8x8 xc:red " + Quote(dir.file("PHOTO.BMP"))).status, 0);
    ASSERT_EQ(RunCommand("convert -size 8x8 xc:blue " + Quote(dir.file("photo.jpeg"))).status, 0);
    CommandResult r = Batch(home, Quote(dir.file("PHOTO.BMP")) + " " + Quote(dir.file("photo.jpeg")));
    ASSERT_EQ(r.status, 0) << r.output;
    // JPG beside the source, quality 75.
    EXPECT_TRUE(FileExists(dir.file("PHOTO.jpg")));
    EXPECT_TRUE(FileExists(dir.file("photo.jpg")));
    EXPECT_EQ(RunCommand("identify -format %Q " + Quote(dir.file("PHOTO.jpg"))).output, "75");
    r = Batch(home, "--set format.format=2 " + Quote(dir.file("PHOTO.BMP")));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(FileExists(dir.file("PHOTO.png")));

    // A settings file in the program's folder is used; --set wins over it.
    WriteText(home.file("settings.ini"), "[format]\r\nformat=0\r\n[other]\r\nkeep=1\r\n");
    r = Batch(home, Quote(dir.file("photo.jpeg")));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(FileExists(dir.file("photo.bmp")));
    r = Batch(home, "--set format.format=2 " + Quote(dir.file("photo.jpeg")));
    EXPECT_TRUE(FileExists(dir.file("photo.png")));
    EXPECT_EQ(ReadText(home.file("settings.ini")), "[format]\r\nformat=0\r\n[other]\r\nkeep=1\r\n");
}

TEST(Cli, AnswersToTheReplaceQuestion) {
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    const std::vector<std::pair<std::string, int>> cases = {{"yes-all", 3}, {"yes", 3}, {"no-all", 0}, {"no", 0}};
    for (const auto& [answer, expected] : cases) {
        TempDir home, dir;
        std::string files;
        for (int i = 0; i < 3; ++i) {
            std::string name = "p" + std::to_string(i);
            ASSERT_EQ(RunCommand("convert -size 4x4 xc:green " + Quote(dir.file(name + ".bmp"))).status, 0);
            WriteText(dir.file(name + ".png"), "old");
            files += " " + Quote(dir.file(name + ".bmp"));
        }
        CommandResult r =
            Batch(home, "--quiet --set format.format=2 --set fileoptions.iffileexists=2 --answer " + answer + files);
        ASSERT_EQ(r.status, 0) << r.output;
        int replaced = 0;
        for (int i = 0; i < 3; ++i) replaced += ReadText(dir.file("p" + std::to_string(i) + ".png")) != "old";
        EXPECT_EQ(replaced, expected) << answer;
    }
}

TEST(Cli, FailuresAndUsageErrors) {
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    TempDir home, dir, out;
    std::string files;
    for (int i = 0; i < 5; ++i) {
        std::string name = dir.file("f" + std::to_string(i) + ".bmp");
        ASSERT_EQ(RunCommand("convert -size 4x4 xc:white " + Quote(name)).status, 0);
        files += " " + Quote(name);
    }
    WriteText(dir.file("f2.bmp"), "garbage");
    CommandResult r = Batch(home, "--set format.format=2 --set dest.dest=2 --set dest.folder=" + Quote(out.folder()) + files);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(dir.file("f2.bmp")), std::string::npos) << r.output;
    EXPECT_EQ(out.names(), (std::vector<std::string>{"f0.png", "f1.png"}));

    const std::vector<std::string> usage = {
        "",                                          // no files
        "--set nosuch.key=1 x.bmp",                  // unknown key
        "--set format.format x.bmp",                 // no value
        "--set format.jpegquality=high x.bmp",       // not a number
        "--answer maybe x.bmp",                      // bad answer
        "--bogus x.bmp",                             // unknown option
        "--actions " + Quote(dir.file("none.acf")) + " x.bmp",  // missing action list
    };
    for (const std::string& args : usage) {
        r = Batch(home, args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.output;
    }
    EXPECT_EQ(Batch(home, "--help").status, 0);
}
