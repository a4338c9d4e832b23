// Output names, colour depth and thumbnail copies.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "core/file_util.h"
#include "engine/batch.h"
#include "engine/naming.h"
#include "engine/thumbnail.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

std::string Today(const char* format) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[64];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, format, &local));
}

}  // namespace

TEST(NameTemplate, PlaceholdersInTheirOrder) {
    struct Case {
        std::string text;
        std::string source;
        int index;
        int counter;
        ExtensionForm form;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"<%filename>_#", "/p/name.jpg", 0, 5, ExtensionForm::LowerWithDot, "name_5"},
        {"<%filename>_#", "/p/name.jpg", 2, 5, ExtensionForm::LowerWithDot, "name_7"},
        {"##", "/p/a.jpg", 0, 7, ExtensionForm::LowerWithDot, "77"},
        {"<%filename>", "/p/a#b.jpg", 0, 3, ExtensionForm::LowerWithDot, "a#b"},  // "#" went before the name came in
        {"<%FileName><%EXT>", "/p/photo.JPEG", 0, 0, ExtensionForm::LowerWithDot, "photo.jpeg"},
        {"<%filename>_<%ext>", "/p/photo.jpeg", 0, 0, ExtensionForm::LowerWithDot, "photo_.jpeg"},
        {"<%filename>_<%ext>", "/p/photo.jpeg", 0, 0, ExtensionForm::AsIsWithoutDot, "photo_jpeg"},
        {"<%filename>_<%ext>", "/p/PHOTO.JPEG", 0, 0, ExtensionForm::AsIsWithoutDot, "PHOTO_JPEG"},
        {"<%filename>", "/p/photo.final.jpg", 0, 0, ExtensionForm::LowerWithDot, "photo.final"},
        {"<%filename>.<%ext>", "/p.d/scan", 0, 0, ExtensionForm::AsIsWithoutDot, "scan."},
        {"", "/p/a.jpg", 0, 0, ExtensionForm::LowerWithDot, ""},
        {"a b\\c:<%x>", "/p/a.jpg", 0, 0, ExtensionForm::LowerWithDot, "a b\\c:<%x>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandNameTemplate(c.text, c.source, c.index, c.counter, c.form), c.expected) << c.text;
}

TEST(NameTemplate, DatesAreMonthFirstWhateverTheirName) {
    const std::string mdY = Today("%m-%d-%Y");
    EXPECT_EQ(ExpandNameTemplate("<%dd-mm-yyyy>", "a.jpg", 0, 0, ExtensionForm::LowerWithDot), mdY);
    EXPECT_EQ(ExpandNameTemplate("<%MM-DD-YYYY>", "a.jpg", 0, 0, ExtensionForm::LowerWithDot), mdY);
    EXPECT_EQ(ExpandNameTemplate("<%dd-mmm-yy>|<%mmm-dd-yy>", "a.jpg", 0, 0, ExtensionForm::LowerWithDot),
              Today("%b-%d-%y|%b-%d-%y"));
    std::string time = ExpandNameTemplate("<%hh-mm>_<%hh-mm-ss>", "a.jpg", 0, 0, ExtensionForm::LowerWithDot);
    EXPECT_TRUE(std::regex_match(time, std::regex("[0-2][0-9]-[0-5][0-9]_[0-2][0-9]-[0-5][0-9]-[0-6][0-9]"))) << time;
    EXPECT_EQ(SampleName("<%filename>", 0), "MyPicture.jpg");
    EXPECT_EQ(SampleName("x_#_<%ext>", 12), "x_12_jpg.jpg");
}

TEST(NameTemplate, MainOutputPathExpandsFolderAndTemplate) {
    ConversionSettings s;
    s.format.format = 2;
    s.filename.modify = true;
    s.filename.filename = "<%filename>_<%ext>";
    FileEntry e = FileEntry::FromPath("/pics/photo.jpeg");
    EXPECT_EQ(MainOutputPath(e, 0, s), "/pics/photo_.png");
    s.filename.filename = "<%filename><%ext>";
    EXPECT_EQ(MainOutputPath(e, 0, s), "/pics/photo.png");
    s.filename.filename = "";  // every output is just the extension
    EXPECT_EQ(MainOutputPath(e, 0, s), "/pics/.png");
    s.dest.dest = 2;
    s.dest.folder = "/out#/";  // placeholders in the folder are replaced too
    s.filename.filename = "n#";
    s.filename.counterstart = 4;
    EXPECT_EQ(MainOutputPath(e, 1, s), "/out5/n5.png");
}

TEST(NameTemplate, TemplateWithASubFolder) {
    TempDir dir;
    SavePicture(dir.file("a.bmp"), Gradient(3, 3), FormatOptions{0});
    ConversionSettings s;
    s.format.format = 0;
    s.filename.modify = true;
    s.filename.filename = "sub/<%filename>_copy";
    BatchResult r = RunBatch({FileEntry::FromPath(dir.file("a.bmp"))}, {}, s, {});
    EXPECT_FALSE(r.completed);
    EXPECT_NE(r.message.find(dir.file("sub/a_copy.bmp")), std::string::npos) << r.message;
    std::filesystem::create_directory(dir.file("sub"));
    r = RunBatch({FileEntry::FromPath(dir.file("a.bmp"))}, {}, s, {});
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_TRUE(FileExists(dir.file("sub/a_copy.bmp")));
}

TEST(Thumbnail, SizeRules) {
    struct Case {
        int pw, ph, width, height, wt, ht, use;
        int w, h;
    };
    const std::vector<Case> cases = {
        {640, 480, 100, 100, 0, 0, 0, 100, 100},
        {30, 90, 100, 100, 0, 0, 0, 100, 100},
        {640, 480, 50, 100, 1, 0, 1, 320, 240},
        {1000, 333, 150, 100, 0, 0, 1, 150, 50},
        {800, 600, 100, 25, 0, 1, 2, 200, 150},
        {101, 75, 50, 50, 1, 1, 0, 50, 37},   // percentages drop the remainder
        {10, 5, 3, 100, 0, 0, 1, 3, 2},       // 1.5 rounds to the even 2
        {10, 5, 5, 100, 0, 0, 1, 5, 2},       // 2.5 rounds to the even 2
        {640, 480, 64, 10, 0, 0, 7, 64, 10},  // an unknown use sets both
    };
    for (const Case& c : cases) {
        Bitmap b = Gradient(c.pw, c.ph);
        ResizeThumbnail(b, c.width, c.height, c.wt, c.ht, c.use);
        EXPECT_EQ(b.width(), c.w) << c.pw << "x" << c.ph << " use " << c.use;
        EXPECT_EQ(b.height(), c.h) << c.pw << "x" << c.ph << " use " << c.use;
    }
    Bitmap empty;
    ResizeThumbnail(empty, 10, 10, 0, 0, 0);
    EXPECT_TRUE(empty.empty());
}

TEST(Thumbnail, PathAndFormat) {
    ConversionSettings s;
    s.format.format = 1;
    s.thumb.folder = "/thumbs";
    EXPECT_EQ(ThumbnailPath("/p/photo.jpeg", 0, s), "/thumbs/thumb_photo.JPG");
    s.format.format = 2;
    s.thumb.filename = "<%filename>_<%ext>_#";
    s.counterPosition = 3;
    EXPECT_EQ(ThumbnailPath("/p/photo.jpeg", 1, s), "/thumbs/photo_jpeg_4.PNG");
}

TEST(Thumbnail, RunWritesThumbnailsEvenForSkippedOutputs) {
    TempDir dir, thumbs;
    SavePicture(dir.file("a.bmp"), Gradient(64, 32), FormatOptions{0});
    SavePicture(dir.file("b.bmp"), Gradient(16, 16, 3), FormatOptions{0});
    WriteText(dir.file("b.png"), "existing");
    ConversionSettings s;
    s.format.format = 2;
    s.fileoptions.iffileexists = 3;
    s.colordepth.value = 8;
    s.thumb.enable = true;
    s.thumb.folder = thumbs.path();
    s.thumb.width = 50;
    s.thumb.wt = 1;
    s.thumb.use = 1;
    BatchResult r = RunBatch({FileEntry::FromPath(dir.file("a.bmp")), FileEntry::FromPath(dir.file("b.bmp"))}, {}, s, {});
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_EQ(thumbs.names(), (std::vector<std::string>{"thumb_a.PNG", "thumb_b.PNG"}));
    EXPECT_EQ(ReadText(dir.file("b.png")), "existing");
    Bitmap t;
    LoadPicture(thumbs.file("thumb_a.PNG"), t);
    EXPECT_EQ(t.width(), 32);
    EXPECT_EQ(t.height(), 16);
    // An 8-bit run gives an 8-bit thumbnail: the PNG is a palette PNG.
    std::string png = ReadText(thumbs.file("thumb_a.PNG"));
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[24], 8);  // bit depth
    EXPECT_EQ(png[25], 3);  // colour type: palette
}

TEST(ColorDepth, EveryValue) {
    const std::vector<std::pair<int, int>> cases = {{0, 24}, {1, 1}, {4, 4}, {8, 8}, {16, 16}, {24, 24}, {32, 32}, {12, 24}, {-1, 24}};
    for (const auto& [value, bpp] : cases) {
        Bitmap b = Gradient(5, 3);
        ChangeColorDepth(b, value);
        EXPECT_EQ(b.bitsPerPixel(), bpp) << value;
    }
}

TEST(ColorDepth, WrittenFilesHaveTheDepth) {
    if (!HaveCommand("identify")) GTEST_SKIP() << "ImageMagick is not installed";
    TempDir dir;
    SavePicture(dir.file("src.bmp"), Gradient(20, 10), FormatOptions{0});
    struct Case {
        int depth;
        int format;
        std::string out;
        std::string expected;  // identify's %[type] or depth detail
    };
    const std::vector<Case> cases = {
        {1, 1, "src.jpg", "Grayscale"},
        {16, 0, "src.bmp", "16"},
        {32, 0, "src.bmp", "32"},
    };
    for (const Case& c : cases) {
        ConversionSettings s;
        s.format.format = c.format;
        s.colordepth.value = c.depth;
        s.dest.dest = 2;
        TempDir out;
        s.dest.folder = out.folder();
        BatchResult r = RunBatch({FileEntry::FromPath(dir.file("src.bmp"))}, {}, s, {});
        ASSERT_TRUE(r.completed) << r.message;
        std::string path = out.file(c.out);
        if (c.format == 1) {
            // Black and white only, as ImageMagick sees the decoded JPEG.
            EXPECT_EQ(RunCommand("identify -format %[type] " + Quote(path)).output.substr(0, 9), "Grayscale") << path;
        } else {
            std::string bytes = ReadText(path);
            ASSERT_GT(bytes.size(), 30u);
            EXPECT_EQ(static_cast<unsigned char>(bytes[28]), c.depth);
            EXPECT_EQ(RunCommand("identify " + Quote(path)).status, 0);
        }
    }
}
