#include "core/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/error.h"

namespace pictorix {

std::string LastSystemError() { return std::strerror(errno); }

namespace {

// Closes a descriptor on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// New files get the usual 0666 minus the process's umask, like a plain open() would;
// mkstemp alone would leave them private to the owner.
mode_t NewFileMode() {
    static std::once_flag once;
    static mode_t mode = 0644;
    std::call_once(once, [] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    });
    return mode;
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, const std::string& shownPath) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error("cannot write " + shownPath + ": " + LastSystemError());
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw Error("cannot open " + path + ": " + LastSystemError());
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw Error("cannot read " + path + ": " + LastSystemError());
    if (S_ISDIR(st.st_mode)) throw Error("cannot read " + path + ": it is a folder");
    const std::string tooLarge =
        "cannot read " + path + ": the file is larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
    std::vector<std::uint8_t> data;
    if (S_ISREG(st.st_mode)) {
        if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) throw Error(tooLarge);
        data.reserve(static_cast<std::size_t>(st.st_size));
    }
    std::uint8_t buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error("cannot read " + path + ": " + LastSystemError());
        }
        if (n == 0) break;
        if (data.size() + static_cast<std::size_t>(n) > kMaxFileBytes) throw Error(tooLarge);
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

namespace {

// Writes the data into an unnamed file in the folder and only then gives it a
// temporary name beside the target: a process killed while writing leaves nothing
// behind. False when the file system has no unnamed files (the caller falls back).
bool WriteUnnamedThenLink(const std::string& folder, const std::string& path, std::span<const std::uint8_t> data,
                          bool durable, std::string& temp) {
    FileDescriptor fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, NewFileMode()));
    if (fd.get() < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
        throw Error("cannot create " + path + ": " + LastSystemError());
    }
    WriteAll(fd.get(), data.data(), data.size(), path);
    if (durable && ::fsync(fd.get()) != 0) throw Error("cannot write " + path + ": " + LastSystemError());
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = folder + "/." + NameOf(path) + ".pictorix-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
        if (errno == EEXIST) continue;
        temp.clear();
        if (errno == ENOENT) return false;  // no /proc to name the file through
        throw Error("cannot create " + path + ": " + LastSystemError());
    }
    if (::close(fd.release()) != 0) throw Error("cannot write " + path + ": " + LastSystemError());
    return true;
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data, bool durable) {
    std::string folder = FolderOf(path);
    std::string temp;
    try {
        if (!WriteUnnamedThenLink(folder, path, data, durable, temp)) {
            temp = folder + "/." + NameOf(path) + ".pictorix-XXXXXX";
            FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
            if (fd.get() < 0) {
                temp.clear();
                throw Error("cannot create " + path + ": " + LastSystemError());
            }
            ::fchmod(fd.get(), NewFileMode());
            WriteAll(fd.get(), data.data(), data.size(), path);
            if (durable && ::fsync(fd.get()) != 0) throw Error("cannot write " + path + ": " + LastSystemError());
            if (::close(fd.release()) != 0) throw Error("cannot write " + path + ": " + LastSystemError());
        }
        if (temp.empty()) throw Error("cannot create " + path + ": no free temporary name");
        if (::rename(temp.c_str(), path.c_str()) != 0)
            throw Error("cannot create " + path + ": " + LastSystemError());
    } catch (...) {
        if (!temp.empty()) ::unlink(temp.c_str());
        throw;
    }
    if (durable) {
        FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0) ::fsync(dir.get());
    }
}

bool CopyFileTimes(const std::string& source, const std::string& target) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        throw Error("cannot read the date of " + source + ": " + LastSystemError());
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, target.c_str(), times, 0) == 0;
}

void CopyFileWithDate(const std::string& source, const std::string& target) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(source);
    WriteFileAtomically(target, bytes);
    if (!CopyFileTimes(source, target))
        throw Error("cannot set the date of " + target + ": " + LastSystemError());
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace pictorix
