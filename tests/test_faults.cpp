// pictorix-batch when things go wrong around it: killed mid-run, a full disk, an
// output folder it may not write, a source that vanishes, an output folder that is
// the source folder, a file listed twice. In every case no source is lost, no output
// is left half written, and a failure names the file and the cause with exit status 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <chrono>
#include <map>
#include <thread>

#include "core/file_util.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

struct ChildLimits {
    rlim_t fileSize = RLIM_INFINITY;  // RLIMIT_FSIZE: a disk that fills up at this size
    bool honourPermissions = false;   // root too is refused by file modes
};

// pictorix-batch started in a child with its program folder in `home`, stdin empty,
// stdout and stderr on one pipe.
class BatchProcess {
public:
    BatchProcess(const TempDir& home, const std::vector<std::string>& args, const ChildLimits& limits = {}) {
        int fds[2];
        if (::pipe(fds) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            ::setenv("PICTORIX_HOME", home.path().c_str(), 1);
            if (limits.fileSize != RLIM_INFINITY) {
                struct rlimit limit = {limits.fileSize, limits.fileSize};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            }
            // Root passes every file mode; without this capability after exec it does not.
            if (limits.honourPermissions && ::geteuid() == 0) {
                ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
                ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
            }
            std::vector<char*> argv;
            std::string exe = PICTORIX_BATCH_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~BatchProcess() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ >= 0) ::close(out_);
    }

    // Reads output until `line` appears in it (true) or the program ends (false).
    bool waitForOutput(const std::string& text) {
        while (output_.find(text) == std::string::npos)
            if (!readSome()) return false;
        return true;
    }

    // Waits for the end; the exit status, -1 when killed by a signal.
    int wait() {
        while (readSome()) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void kill() { ::kill(pid_, SIGKILL); }
    const std::string& output() const { return output_; }

private:
    bool readSome() {
        char buffer[4096];
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) return true;
        if (n <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool waited_ = false;
    std::string output_;
};

std::vector<std::string> Settings(const std::map<std::string, std::string>& keys) {
    std::vector<std::string> args;
    for (const auto& [key, value] : keys) {
        args.push_back("--set");
        args.push_back(key + "=" + value);
    }
    return args;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void WriteBmp(const std::string& path, const Bitmap& picture) {
    FormatOptions bmp;
    bmp.format = 0;
    SavePicture(path, picture, bmp);
}

// Pictures are compared pixel by pixel, so a file cut short cannot pass.
using test::SamePixels;

Bitmap Load(const std::string& path) {
    Bitmap b;
    LoadPicture(path, b);
    return b;
}

std::string Bytes(const std::string& path) { return ReadText(path); }

// Whether a child can be made to honour file modes: any user but root, and root
// that may drop capabilities.
bool CanHonourPermissions() {
    if (::geteuid() != 0) return true;
    const std::string status = ReadText("/proc/self/status");
    const auto at = status.find("CapEff:");
    if (at == std::string::npos) return false;
    const unsigned long long effective = std::stoull(status.substr(at + 7), nullptr, 16);
    return (effective >> CAP_SETPCAP) & 1;
}

}  // namespace

TEST(Faults, KilledMidRunLeavesNoPartialOutputAndEverySource) {
    // Slow files (a wide blur, PNG at the highest level) that are deleted once
    // converted; the run is killed at several moments after the first is done. There
    // are enough of them that no machine finishes the list before the last moment.
    for (int delayMs : {0, 150, 400}) {
        TempDir home, src, out;
        WriteText(home.file("slow.acf"), "blur;60\r\n");
        std::vector<std::string> files;
        std::map<std::string, std::string> original;
        for (int i = 0; i < 40; ++i) {
            std::string path = src.file("p" + std::to_string(i) + ".bmp");
            WriteBmp(path, Gradient(700, 600, i));
            original[path] = Bytes(path);
            files.push_back(path);
        }
        BatchProcess run(home,
                         Settings({{"format.format", "2"}, {"format.pngquality", "9"}, {"dest.dest", "2"},
                                   {"dest.folder", out.folder()}, {"fileoptions.deletesourcefiles", "1"}}) +
                             std::vector<std::string>{"--jobs", "2", "--actions", home.file("slow.acf")} + files);
        ASSERT_TRUE(run.waitForOutput("Done  ")) << run.output();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        run.kill();
        EXPECT_EQ(run.wait(), -1) << "the run ended before it was killed; make it longer";

        int converted = 0;
        for (const std::string& source : files) {
            const std::string name = source.substr(source.rfind('/') + 1);
            const std::string output = out.file(name.substr(0, name.size() - 4) + ".png");
            if (FileExists(output)) {
                ++converted;
                Bitmap read;
                EXPECT_NO_THROW(LoadPicture(output, read)) << output << " is not a whole picture";
                EXPECT_EQ(read.width(), 700);
                EXPECT_EQ(read.height(), 600);
            }
            if (FileExists(source))
                EXPECT_EQ(Bytes(source), original[source]) << source;
            else
                EXPECT_TRUE(FileExists(output)) << source << " was deleted without its output";
        }
        EXPECT_GE(converted, 1);
        // Nothing but whole outputs: no temporary file of a write that was cut off.
        for (const std::string& name : out.names()) EXPECT_NE(name[0], '.') << name;
        for (const std::string& name : src.names()) EXPECT_NE(name[0], '.') << name;
    }
}

TEST(Faults, FullDiskStopsTheRunAndKeepsTargetAndSource) {
    TempDir home, dir;
    const std::string small = dir.file("small.bmp"), large = dir.file("large.bmp");
    WriteBmp(small, Gradient(10, 10));
    WriteBmp(large, Gradient(300, 200));
    const std::string largeBytes = Bytes(large);
    // The existing target of the large picture: a run that cannot write the new one
    // must leave it as it was.
    WriteText(dir.file("large.tif"), "old picture");
    BatchProcess run(home,
                     Settings({{"format.format", "4"}, {"fileoptions.deletesourcefiles", "1"}}) +
                         std::vector<std::string>{"--jobs", "1", small, large},
                     ChildLimits{64 * 1024, false});
    EXPECT_EQ(run.wait(), 1) << run.output();
    EXPECT_NE(run.output().find(large + ": cannot write " + dir.file("large.tif") + ": File too large"),
              std::string::npos)
        << run.output();
    EXPECT_EQ(ReadText(dir.file("large.tif")), "old picture");
    EXPECT_EQ(Bytes(large), largeBytes);
    // The file before it was converted whole, and only then its source deleted.
    EXPECT_TRUE(SamePixels(Load(dir.file("small.tif")), Gradient(10, 10)));
    EXPECT_FALSE(FileExists(small));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"large.bmp", "large.tif", "small.tif"}));
}

TEST(Faults, ReadOnlyOutputFolder) {
    if (!CanHonourPermissions()) GTEST_SKIP() << "running as root without the right to drop capabilities";
    TempDir home, src, out;
    const std::string source = src.file("a.bmp");
    WriteBmp(source, Gradient(20, 10));
    const std::string bytes = Bytes(source);
    ASSERT_EQ(::chmod(out.path().c_str(), 0555), 0);
    BatchProcess run(home,
                     Settings({{"format.format", "2"}, {"dest.dest", "2"}, {"dest.folder", out.folder()},
                               {"fileoptions.deletesourcefiles", "1"}}) +
                         std::vector<std::string>{source},
                     ChildLimits{RLIM_INFINITY, true});
    const int status = run.wait();
    ::chmod(out.path().c_str(), 0755);
    EXPECT_EQ(status, 1) << run.output();
    EXPECT_NE(run.output().find(source + ": cannot create " + out.file("a.png") + ": Permission denied"),
              std::string::npos)
        << run.output();
    EXPECT_EQ(Bytes(source), bytes);
    EXPECT_TRUE(out.names().empty());
}

TEST(Faults, SourceDeletedDuringTheRun) {
    TempDir home, src, out;
    const std::string a = src.file("a.bmp"), b = src.file("b.bmp"), c = src.file("c.bmp");
    WriteBmp(a, Gradient(10, 10, 1));
    WriteBmp(b, Gradient(1500, 1500, 2));  // slow enough to delete c while it is converted
    WriteBmp(c, Gradient(10, 10, 3));
    BatchProcess run(home,
                     Settings({{"format.format", "2"}, {"format.pngquality", "9"}, {"dest.dest", "2"},
                               {"dest.folder", out.folder()}}) +
                         std::vector<std::string>{"--jobs", "1", a, b, c});
    ASSERT_TRUE(run.waitForOutput("Done  " + a)) << run.output();
    ASSERT_TRUE(DeleteFile(c));
    EXPECT_EQ(run.wait(), 1) << run.output();
    EXPECT_NE(run.output().find(c + ": cannot open " + c + ": No such file or directory"), std::string::npos)
        << run.output();
    EXPECT_TRUE(SamePixels(Load(out.file("a.png")), Gradient(10, 10, 1)));
    EXPECT_TRUE(SamePixels(Load(out.file("b.png")), Gradient(1500, 1500, 2)));
    EXPECT_EQ(out.names(), (std::vector<std::string>{"a.png", "b.png"}));
}

TEST(Faults, OutputFolderLinkedToTheSourceFolderWithDeletion) {
    TempDir home, src, links;
    const std::string link = links.file("out");
    ASSERT_EQ(::symlink(src.path().c_str(), link.c_str()), 0);
    FormatOptions jpg;
    jpg.format = 1;
    SavePicture(src.file("a.jpg"), Gradient(30, 20, 1), jpg);
    WriteBmp(src.file("b.bmp"), Gradient(30, 20, 2));
    for (const char* jobs : {"1", "2"}) {
        BatchProcess run(home,
                         Settings({{"format.format", "1"}, {"dest.dest", "2"}, {"dest.folder", link + "/"},
                                   {"fileoptions.deletesourcefiles", "1"}}) +
                             std::vector<std::string>{"--jobs", jobs, src.file("a.jpg"), src.file("b.bmp")});
        EXPECT_EQ(run.wait(), 0) << run.output();
        // a.jpg is its own output through the link: rewritten, never deleted. b.bmp
        // went once its output existed.
        EXPECT_EQ(src.names(), (std::vector<std::string>{"a.jpg", "b.jpg"})) << "jobs " << jobs;
        EXPECT_EQ(Load(src.file("a.jpg")).width(), 30);
        EXPECT_EQ(Load(src.file("b.jpg")).height(), 20);
        WriteBmp(src.file("b.bmp"), Gradient(30, 20, 2));
    }
}

TEST(Faults, TwoEntriesNamingTheSameFile) {
    TempDir home, dir;
    const std::string source = dir.file("a.bmp");
    const std::string otherSpelling = dir.path() + "/./x/../a.bmp";
    ASSERT_EQ(::mkdir(dir.file("x").c_str(), 0755), 0);
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("jobs ") + jobs);
        WriteBmp(source, Gradient(40, 30));
        ::unlink(dir.file("a.png").c_str());
        // Without deletion both entries convert it; the second output replaces the first.
        BatchProcess plain(home, Settings({{"format.format", "2"}}) +
                                     std::vector<std::string>{"--jobs", jobs, source, otherSpelling});
        EXPECT_EQ(plain.wait(), 0) << plain.output();
        EXPECT_TRUE(SamePixels(Load(dir.file("a.png")), Gradient(40, 30)));

        // With deletion the first entry converts and deletes it; the second finds it
        // gone and stops the run with the cause. The picture lives on in its output.
        BatchProcess deleting(home, Settings({{"format.format", "2"}, {"fileoptions.deletesourcefiles", "1"}}) +
                                        std::vector<std::string>{"--jobs", jobs, source, otherSpelling});
        EXPECT_EQ(deleting.wait(), 1) << deleting.output();
        EXPECT_NE(deleting.output().find("No such file or directory"), std::string::npos) << deleting.output();
        EXPECT_TRUE(SamePixels(Load(dir.file("a.png")), Gradient(40, 30)));
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.png", "x"}));
    }
}
