// The batch run: order of steps, progress, output names, existing targets, source
// deletion, backups, dates and failures.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/file_util.h"
#include "engine/batch.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

FormatOptions Format(int index) {
    FormatOptions f;
    f.format = index;
    return f;
}

// Writes a small picture in the format that the name's extension asks for.
void MakePicture(const std::string& path, int seed = 0, int width = 7, int height = 5) {
    std::string ext = AsciiLower(FileExtension(path));
    int format = ext == ".bmp" ? 0 : ext == ".png" ? 2 : 1;
    SavePicture(path, Gradient(width, height, seed), Format(format));
}

ConversionSettings PngBeside() {
    ConversionSettings s;
    s.format.format = 2;
    return s;
}

std::vector<FileEntry> Entries(const std::vector<std::string>& paths) {
    std::vector<FileEntry> entries;
    for (const auto& p : paths) entries.push_back(FileEntry::FromPath(p));
    return entries;
}

BatchResult Convert(const std::vector<std::string>& paths, const ConversionSettings& s,
                const BatchCallbacks& callbacks = {}) {
    return RunBatch(Entries(paths), {}, s, callbacks);
}

std::int64_t MTimeNs(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

TEST(BatchProgress, FourStepsPerFileRoundedDown) {
    const std::vector<std::pair<int, std::vector<int>>> cases = {
        {1, {25, 50, 75, 100}},
        {3, {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}},
    };
    for (const auto& [count, expected] : cases) {
        TempDir dir;
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(dir.file("p" + std::to_string(i) + ".bmp"));
            MakePicture(paths.back(), i);
        }
        std::vector<int> seen;
        int finished = 0;
        BatchCallbacks cb;
        cb.progress = [&](const BatchProgress& p) {
            seen.push_back(p.percent);
            finished += p.fileFinished;
        };
        BatchResult r = Convert(paths, PngBeside(), cb);
        EXPECT_TRUE(r.completed) << r.message;
        EXPECT_EQ(seen, expected) << count << " files";
        EXPECT_EQ(finished, count);
    }
}

TEST(BatchOutputPath, ExtensionRuleAndDestination) {
    struct Case {
        std::string source;
        int format;
        int dest;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/pics/PHOTO.BMP", 2, 1, "/pics/PHOTO.png"},
        {"/pics/photo.jpeg", 1, 1, "/pics/photo.jpg"},
        {"/pics/photo.final.jpg", 0, 1, "/pics/photo.final.bmp"},
        {"/pics/photos.old/scan", 2, 1, "/pics/photos.old/scan.png"},
        {"/pics/a.gif", 12, 2, "/out/a.pdf"},
        {"/pics/a.gif", 11, 2, "/out/a.wbmp"},
    };
    for (const Case& c : cases) {
        ConversionSettings s;
        s.format.format = c.format;
        s.dest.dest = c.dest;
        s.dest.folder = "/out";  // the missing "/" is supplied
        EXPECT_EQ(MainOutputPath(FileEntry::FromPath(c.source), 0, s), c.expected) << c.source;
    }
    FileEntry e = FileEntry::FromPath("/pics/sub/../photo.jpeg");
    EXPECT_EQ(e.name, "photo.jpeg");
    EXPECT_EQ(e.type, ".JPEG");
    EXPECT_EQ(e.folder, "/pics/");
}

TEST(BatchRun, ConvertsEveryFileInItsOwnFolder) {
    TempDir dir;
    MakePicture(dir.file("a.bmp"), 1);
    MakePicture(dir.file("b.jpg"), 2);
    BatchResult r = Convert({dir.file("a.bmp"), dir.file("b.jpg")}, PngBeside());
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.bmp", "a.png", "b.jpg", "b.png"}));
    Bitmap a;
    LoadPicture(dir.file("a.png"), a);
    Bitmap original = Gradient(7, 5, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(a.pixel(x, y), original.pixel(x, y));
}

TEST(BatchRun, ExistingTargetsFollowTheRule) {
    struct Case {
        int iffileexists;
        std::vector<ReplaceAnswer> answers;  // given in turn to the questions
        int questions;
        int written;
    };
    const std::vector<Case> cases = {
        {1, {}, 0, 3},
        {3, {}, 0, 0},
        {2, {ReplaceAnswer::YesToAll}, 1, 3},
        {2, {ReplaceAnswer::NoToAll}, 1, 0},
        {2, {ReplaceAnswer::No, ReplaceAnswer::No, ReplaceAnswer::No}, 3, 0},
        {2, {ReplaceAnswer::No, ReplaceAnswer::Yes, ReplaceAnswer::YesToAll}, 3, 2},
        {2, {ReplaceAnswer::Yes, ReplaceAnswer::NoToAll}, 2, 1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> paths;
        for (int i = 0; i < 3; ++i) {
            paths.push_back(dir.file("f" + std::to_string(i) + ".bmp"));
            MakePicture(paths.back(), i);
            WriteText(dir.file("f" + std::to_string(i) + ".png"), "old");
        }
        ConversionSettings s = PngBeside();
        s.fileoptions.iffileexists = c.iffileexists;
        int asked = 0;
        BatchCallbacks cb;
        cb.askReplace = [&](const std::string& output) {
            EXPECT_EQ(output, dir.file("f" + std::to_string(asked) + ".png")) << "asked about the wrong file";
            return c.answers.at(static_cast<std::size_t>(asked++));
        };
        BatchResult r = Convert(paths, s, cb);
        ASSERT_TRUE(r.completed) << r.message;
        EXPECT_EQ(asked, c.questions) << "rule " << c.iffileexists;
        EXPECT_EQ(r.written, c.written) << "rule " << c.iffileexists;
        int replaced = 0;
        for (int i = 0; i < 3; ++i) replaced += ReadText(dir.file("f" + std::to_string(i) + ".png")) != "old";
        EXPECT_EQ(replaced, c.written);
    }
}

TEST(BatchRun, DeletesOnlySourcesWhoseOutputIsAnotherWrittenFile) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_directory_symlink(dir.file("sub"), dir.file("link"));
    MakePicture(dir.file("photo.jpg"));
    MakePicture(dir.file("other.jpeg"));
    MakePicture(dir.file("sub/kept.jpg"));
    MakePicture(dir.file("skipped.bmp"));
    WriteText(dir.file("skipped.jpg"), "existing");

    ConversionSettings s;  // JPG beside the source
    s.fileoptions.deletesourcefiles = true;
    s.fileoptions.iffileexists = 3;  // Skip: the old skipped.jpg stays, so skipped.bmp must too
    BatchResult r = Convert({dir.file("other.jpeg"), dir.file("skipped.bmp")}, s);
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_FALSE(FileExists(dir.file("other.jpeg")));
    EXPECT_TRUE(FileExists(dir.file("other.jpg")));
    EXPECT_TRUE(FileExists(dir.file("skipped.bmp")));
    EXPECT_EQ(ReadText(dir.file("skipped.jpg")), "existing");

    s.fileoptions.iffileexists = 1;
    // The same file under other spellings: "./" and a symlinked folder.
    s.dest.dest = 2;
    s.dest.folder = dir.file("link/");
    r = Convert({dir.file("./photo.jpg"), dir.file("sub/kept.jpg")}, s);
    ASSERT_TRUE(r.completed) << r.message;
    EXPECT_TRUE(FileExists(dir.file("sub/kept.jpg"))) << "output written over its own source was deleted";
    EXPECT_TRUE(FileExists(dir.file("link/photo.jpg")));
    EXPECT_FALSE(FileExists(dir.file("photo.jpg"))) << "a source converted into another folder must go";
}

TEST(BatchRun, FailureStopsAtTheFileAndLeavesNoPartialOutput) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) {
        paths.push_back(dir.file("p" + std::to_string(i) + ".bmp"));
        MakePicture(paths.back(), i);
    }
    WriteText(paths[2], "BM this is not a bitmap");
    ConversionSettings s = PngBeside();
    s.dest.dest = 2;
    TempDir out;
    s.dest.folder = out.folder();
    BatchResult r = Convert(paths, s);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.failedIndex, 2);
    EXPECT_NE(r.message.find(paths[2]), std::string::npos) << r.message;
    EXPECT_EQ(out.names(), (std::vector<std::string>{"p0.png", "p1.png"}));

    // A missing output folder fails at the first write, with nothing left behind.
    s.dest.folder = dir.file("missing/");
    r = Convert({paths[0]}, s);
    EXPECT_FALSE(r.completed);
    EXPECT_NE(r.message.find("missing"), std::string::npos) << r.message;
}

TEST(BatchRun, ImpossibleSettingsStopBeforeTheFirstFile) {
    TempDir dir;
    MakePicture(dir.file("a.bmp"));
    for (int format : {13, -1, 99}) {
        ConversionSettings s;
        s.format.format = format;
        BatchResult r = Convert({dir.file("a.bmp")}, s);
        EXPECT_FALSE(r.completed);
        EXPECT_EQ(r.failedIndex, -1);
        EXPECT_NE(r.message.find("does not exist"), std::string::npos) << r.message;
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.bmp"});
}

TEST(BatchRun, BackupsAndDates) {
    TempDir dir, backups;
    std::filesystem::create_directory(dir.file("one"));
    std::filesystem::create_directory(dir.file("two"));
    MakePicture(dir.file("one/photo.bmp"), 1);
    MakePicture(dir.file("two/photo.bmp"), 2);
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 123456789}};
    ::utimensat(AT_FDCWD, dir.file("two/photo.bmp").c_str(), old, 0);

    ConversionSettings s = PngBeside();
    s.backup.backup = true;
    s.backup.folder = backups.path();
    s.fileoptions.keepdatetime = true;
    BatchResult r = Convert({dir.file("one/photo.bmp"), dir.file("two/photo.bmp")}, s);
    ASSERT_TRUE(r.completed) << r.message;
    // Both backups have one name: the later copy wins, byte for byte and with its date.
    EXPECT_EQ(ReadText(backups.file("photo.bmp")), ReadText(dir.file("two/photo.bmp")));
    EXPECT_EQ(MTimeNs(backups.file("photo.bmp")), MTimeNs(dir.file("two/photo.bmp")));
    EXPECT_EQ(MTimeNs(dir.file("two/photo.png")), 1000000000LL * 1000000000 + 123456789);

    // A missing backup folder is a failure before the file is read.
    s.backup.folder = dir.file("nowhere/");
    r = Convert({dir.file("one/photo.bmp")}, s);
    EXPECT_FALSE(r.completed);
}

TEST(BatchRun, EveryFileStartsOnAFreshBitmap) {
    // A transparent PNG after an opaque picture shows white, not the previous picture.
    TempDir dir;
    MakePicture(dir.file("a.bmp"), 5, 8, 8);
    // Bitmaps carry no alpha, so the transparent PNG comes from ImageMagick.
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick convert is not installed";
    ASSERT_EQ(RunCommand("convert -size 4x4 xc:none " + Quote(dir.file("b.png"))).status, 0);
    ConversionSettings s;
    s.format.format = 0;
    BatchResult r = Convert({dir.file("a.bmp"), dir.file("b.png")}, s);
    ASSERT_TRUE(r.completed) << r.message;
    Bitmap b;
    LoadPicture(dir.file("b.bmp"), b);
    ASSERT_EQ(b.width(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(b.pixel(x, y), kWhite);
}

TEST(BatchRun, AnyNumberOfJobsGivesTheSameRun) {
    // A mixed list: several formats, actions, thumbnails, Ask with answers, a file
    // listed twice, an output that a later entry reads as its source, and a failure.
    TempDir src;
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i) {
        std::string name = "p" + std::to_string(i) + (i % 3 == 0 ? ".bmp" : i % 3 == 1 ? ".jpg" : ".png");
        paths.push_back(src.file(name));
        MakePicture(paths.back(), i, 17 + i, 11 + i);
    }
    paths.push_back(paths[2]);           // the same file again
    paths.push_back(src.file("p0.gif"));  // written by the first entry's turn (GIF output)
    const std::vector<std::string> actions = {"resize;50;50;percents;percents;both", "rotate;30;255", "blur;8",
                                              "contrast;15"};
    auto run = [&](int jobs, const std::string& out, const std::string& thumbs, std::vector<int>& percents,
                   std::vector<std::string>& questions) {
        ConversionSettings s;
        s.format.format = 3;  // GIF
        s.dest.dest = 2;
        s.dest.folder = out;
        s.fileoptions.iffileexists = 2;
        s.thumb.enable = true;
        s.thumb.folder = thumbs;
        s.colordepth.value = 8;
        // p0.gif is read from the output folder, so it exists only after p0's turn.
        std::vector<FileEntry> entries = Entries(paths);
        entries.back() = FileEntry::FromPath(out + "p0.gif");
        BatchCallbacks cb;
        cb.progress = [&](const BatchProgress& p) { percents.push_back(p.percent); };
        int asked = 0;
        cb.askReplace = [&](const std::string& output) {
            questions.push_back(output.substr(output.rfind('/')));
            return ++asked == 1 ? ReplaceAnswer::No : ReplaceAnswer::Yes;
        };
        return RunBatch(entries, actions, s, cb, jobs);
    };
    TempDir out1, thumbs1, out4, thumbs4;
    std::vector<int> percents1, percents4;
    std::vector<std::string> questions1, questions4;
    WriteText(out1.file("p4.gif"), "old");
    WriteText(out4.file("p4.gif"), "old");
    BatchResult r1 = run(1, out1.folder(), thumbs1.folder(), percents1, questions1);
    BatchResult r4 = run(4, out4.folder(), thumbs4.folder(), percents4, questions4);
    ASSERT_TRUE(r1.completed) << r1.message;
    ASSERT_TRUE(r4.completed) << r4.message;
    EXPECT_EQ(percents1, percents4);
    EXPECT_EQ(questions1, questions4);
    EXPECT_EQ(r1.written, r4.written);
    ASSERT_EQ(out1.names(), out4.names());
    for (const std::string& name : out1.names())
        EXPECT_EQ(ReadText(out1.file(name)), ReadText(out4.file(name))) << name;
    ASSERT_EQ(thumbs1.names(), thumbs4.names());
    for (const std::string& name : thumbs1.names())
        EXPECT_EQ(ReadText(thumbs1.file(name)), ReadText(thumbs4.file(name))) << name;

    // A failure stops both at the same file with the same outputs.
    WriteText(paths[5], "garbage");
    TempDir out1b, thumbs1b, out4b, thumbs4b;
    percents1.clear();
    percents4.clear();
    r1 = run(1, out1b.folder(), thumbs1b.folder(), percents1, questions1);
    r4 = run(4, out4b.folder(), thumbs4b.folder(), percents4, questions4);
    EXPECT_FALSE(r1.completed);
    EXPECT_EQ(r1.failedIndex, 5);
    EXPECT_EQ(r4.failedIndex, 5);
    EXPECT_EQ(r1.message, r4.message);
    EXPECT_EQ(percents1, percents4);
    EXPECT_EQ(out1b.names(), out4b.names());
}
