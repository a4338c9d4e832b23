// Hostile and extreme pictures: the damaged files that once crashed a reader (kept in
// tests/data/corrupt/), headers that claim sizes no run should allocate, and pictures
// one pixel wide or high through every action and every writer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <filesystem>
#include <functional>

#include "actions/apply_action.h"
#include "core/file_util.h"
#include "engine/file_list_document.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Runs `body` in a child whose address space may grow by at most `extraBytes`, so
// that an allocation beyond it fails there instead of succeeding on a large machine.
// Returns the body's report ("" when all is well). Under the address sanitizer, whose
// shadow memory needs the address space, the body runs here without the limit.
std::string WithMemoryLimit(std::uint64_t extraBytes, const std::function<std::string()>& body) {
    if (kSanitized) return body();
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string report;
        struct rlimit limit {};
        ::getrlimit(RLIMIT_AS, &limit);
        std::uint64_t size = 0;
        std::string status = ReadText("/proc/self/status");
        auto at = status.find("VmSize:");
        if (at != std::string::npos) size = std::stoull(status.substr(at + 7)) * 1024;
        limit.rlim_cur = size + extraBytes;
        ::setrlimit(RLIMIT_AS, &limit);
        try {
            report = body();
        } catch (const std::bad_alloc&) {
            report = "an allocation beyond the limit was attempted";
        } catch (const std::exception& e) {
            report = std::string("unexpected exception: ") + e.what();
        }
        ssize_t ignored = ::write(fds[1], report.data(), report.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "the child died: " + report;
    return report;
}

void PutBE16(ByteVector& v, std::size_t at, unsigned x) {
    v[at] = static_cast<std::uint8_t>(x >> 8);
    v[at + 1] = static_cast<std::uint8_t>(x);
}
void PutBE32(ByteVector& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(x >> (24 - 8 * i));
}
void SetLE16(ByteVector& v, std::size_t at, unsigned x) {
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void SetLE32(ByteVector& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(x >> (8 * i));
}

ByteVector Encoded(int format, int bitsPerPixel = 24) {
    Bitmap picture = Gradient(2, 2);
    picture.setBitsPerPixel(bitsPerPixel);
    FormatOptions options;
    options.format = format;
    return EncodePicture(picture, options);
}

// A file of the format whose header claims width x height.
using Claim = std::function<ByteVector(std::uint32_t width, std::uint32_t height)>;

struct HugeCase {
    const char* name;  // the file name: its extension picks the reader
    Claim claim;
};

std::vector<HugeCase> HugeCases() {
    return {
        {"x.bmp", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(0);
             SetLE32(v, 18, w);
             SetLE32(v, 22, h);
             return v;
         }},
        {"x.jpg", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(1);
             for (std::size_t i = 0; i + 9 < v.size(); ++i)
                 if (v[i] == 0xFF && (v[i + 1] == 0xC0 || v[i + 1] == 0xC2)) {
                     PutBE16(v, i + 5, h);
                     PutBE16(v, i + 7, w);
                     break;
                 }
             return v;
         }},
        {"x.png", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(2);
             PutBE32(v, 16, w);
             PutBE32(v, 20, h);
             PutBE32(v, 29, static_cast<std::uint32_t>(crc32(0, v.data() + 12, 17)));
             return v;
         }},
        {"x.gif", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(3, 8);
             SetLE16(v, 6, w);
             SetLE16(v, 8, h);
             for (std::size_t i = 13; i + 9 < v.size(); ++i)
                 if (v[i] == 0x2C) {
                     SetLE16(v, i + 5, w);
                     SetLE16(v, i + 7, h);
                     break;
                 }
             return v;
         }},
        {"x.pcx", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(5);
             SetLE16(v, 8, w - 1);
             SetLE16(v, 10, h - 1);
             SetLE16(v, 66, w);
             return v;
         }},
        {"x.tga", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v = Encoded(6);
             SetLE16(v, 12, w);
             SetLE16(v, 14, h);
             return v;
         }},
        {"x.ppm", [](std::uint32_t w, std::uint32_t h) {
             std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + std::string(64, 'x');
             return ByteVector(s.begin(), s.end());
         }},
        {"x.sgi", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v(600, 0);
             PutBE16(v, 0, 474);
             v[3] = 1;
             PutBE16(v, 4, 3);
             PutBE16(v, 6, w);
             PutBE16(v, 8, h);
             PutBE16(v, 10, 3);
             return v;
         }},
        {"x.psd", [](std::uint32_t w, std::uint32_t h) {
             ByteVector v(200, 0);
             v[0] = '8', v[1] = 'B', v[2] = 'P', v[3] = 'S';
             PutBE16(v, 4, 1);
             PutBE16(v, 12, 3);
             PutBE32(v, 14, h);
             PutBE32(v, 18, w);
             PutBE16(v, 22, 8);
             PutBE16(v, 24, 3);
             return v;
         }},
    };
}

}  // namespace

TEST(HostileInput, SavedCrashesAreRefusedOrRead) {
    const std::filesystem::path folder = std::filesystem::path(PICTORIX_TEST_DATA_DIR) / "corrupt";
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().filename().string());
        for (bool byContent : {false, true}) {
            // Each file also by content, whatever its name says.
            Bitmap bitmap = Gradient(3, 2);
            const std::string name = byContent ? "file.dat" : entry.path().string();
            try {
                DecodePicture(name, ReadFileBytes(entry.path().string()), bitmap);
                EXPECT_FALSE(bitmap.empty());
            } catch (const Error& e) {
                EXPECT_STRNE(e.what(), "");
            }
        }
        ++replayed;
    }
    std::printf("replayed %d damaged files\n", replayed);
}

TEST(HostileInput, HugeSizeClaimsAreRefusedBeforeAllocating) {
    // Beyond the pixel limit (or the format's largest size), within it but beyond the
    // memory limit, and within both but far beyond what the data can fill: none may
    // cost more than a little memory.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {65535, 65535}, {30000, 30000}, {16000, 16000}};
    for (const HugeCase& c : HugeCases()) {
        for (auto [w, h] : sizes) {
            std::string report = WithMemoryLimit(256ull << 20, [&] {
                Bitmap bitmap;
                try {
                    DecodePicture(c.name, c.claim(w, h), bitmap);
                } catch (const Error& e) {
                    // The size itself, or the data that cannot fill it ("truncated").
                    if (std::string(e.what()).empty()) return std::string("refused without a message");
                    return std::string();
                }
                return "read as " + std::to_string(bitmap.width()) + " x " + std::to_string(bitmap.height());
            });
            EXPECT_EQ(report, "") << c.name << " claiming " << w << " x " << h;
        }
    }
}

TEST(HostileInput, MemoryLimitOfOneBitmap) {
    try {
        Bitmap b(20000, 20000, 32);
        FAIL() << "a 1.6 GB bitmap was made";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap: picture size 20000 x 20000 at 32 bits per pixel needs more than 1024 MB of memory");
    }
    Bitmap wide(20000, 20000, 1);
    EXPECT_THROW(wide.setBitsPerPixel(32), Error);
    EXPECT_EQ(wide.bitsPerPixel(), 1);
    EXPECT_THROW(wide.setSize(20000, 200000), Error);
    EXPECT_EQ(wide.height(), 20000);
}

TEST(HostileInput, OnePixelWideOrHighThroughEveryActionAndWriter) {
    TempDir dir;
    const std::string mark = dir.file("mark.bmp");
    {
        FormatOptions bmp;
        bmp.format = 0;
        SavePicture(mark, Gradient(3, 2), bmp);
    }
    const std::vector<std::string> actions = {
        "",
        "rotate;90;0",
        "rotate;33;255",
        "mirror;-1;-1",
        "resize;200;300;percents;percents;both",
        "resize;1;1;pixels;pixels;both",
        "resize;74;0;pixels;pixels;width",
        "canvassize;1;1",
        "crop;center;0;0;0;0;1;1",
        "crop;edge;0;0;0;0;0;0",
        "contrast;50",
        "brightness;-30",
        "blur;30",
        "textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;;Ab",
        "picturewatermark;4;0;0;pixels;pixels;50;0;-1;" + mark + ";16777215",
    };
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 37}, {37, 1}};
    // The formats our readers read back; PDF and JP2 (a plug-in) are only written.
    const std::vector<bool> readable = {true, true, true, true, true, true, true, true, true, true, false, true, false};
    for (auto [w, h] : sizes) {
        for (int bpp : {1, 8, 24}) {
            for (const std::string& action : actions) {
                SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " at " + std::to_string(bpp) +
                             " bits, action '" + action + "'");
                Bitmap picture = Gradient(w, h);
                picture.setBitsPerPixel(bpp);
                for (auto purpose : {ActionPurpose::ConversionRun, ActionPurpose::Preview}) {
                    Bitmap edited = picture;
                    ASSERT_NO_THROW(ApplyAction(action, edited, purpose));
                    ASSERT_FALSE(edited.empty());
                }
                ApplyAction(action, picture, ActionPurpose::ConversionRun);
                for (int format = 0; format < kFormatCount; ++format) {
                    if (format == 10) continue;  // the plug-in's own tests cover it
                    SCOPED_TRACE(FormatName(format));
                    FormatOptions options;
                    options.format = format;
                    ByteVector file;
                    ASSERT_NO_THROW(file = EncodePicture(picture, options));
                    ASSERT_FALSE(file.empty());
                    if (!readable[static_cast<std::size_t>(format)]) continue;
                    Bitmap back;
                    ASSERT_NO_THROW(DecodePicture("x." + AsciiLower(FormatName(format)), file, back));
                    EXPECT_EQ(back.width(), picture.width());
                    EXPECT_EQ(back.height(), picture.height());
                }
            }
        }
    }
}

TEST(HostileInput, FileListLinesEndingInDotsReadBackAsTheSameEntry) {
    // Found by the list fuzzer: "x/." gave an entry without a name, written back as
    // "x/", which reads as x in its parent folder.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/a/b/.", "/a/b"}, {"/a/b/c/..", "/a/b"}, {"/a/./b/", "/a/b"}, {"/.", "/"}};
    for (const auto& [line, same] : cases) {
        const FileEntry entry = FileListEntry(line);
        EXPECT_EQ(FileListLine(entry), FileListLine(FileListEntry(same))) << line;
        EXPECT_EQ(FileListLine(FileListEntry(FileListLine(entry))), FileListLine(entry)) << line;
    }
}
