#pragma once
// File-system helpers shared by the engine and the picture I/O: whole-file reads,
// writes that replace a target atomically, copies with the source's date.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pictorix {

// Largest file ReadFileBytes takes: more memory than a picture may use, and a bound
// for names of endless sources (a device, a pipe) that would otherwise never end.
constexpr std::uint64_t kMaxFileBytes = 2ull << 30;

// Reads the whole file. Throws Error("cannot open <path>: <reason>") and the like,
// also for a file larger than kMaxFileBytes.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

// Writes bytes to a temporary file in the target's folder and renames it over the
// target, so the target is either the old file or the complete new one. With
// `durable` the data is flushed to the disk before the rename. Throws Error with
// the cause (missing folder, no permission, disk full).
void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data, bool durable = false);

// Byte copy of source to target (replacing target atomically), then gives the
// target the source's modification and access times.
void CopyFileWithDate(const std::string& source, const std::string& target);

// Gives target the modification and access times of source. Returns false when the
// target cannot be changed (it does not exist, no permission); throws Error when
// the source's times cannot be read.
bool CopyFileTimes(const std::string& source, const std::string& target);

bool FileExists(const std::string& path);

// True when both paths name the same existing file (device and inode), whatever
// their spelling (./, symlinks, letter case on case-insensitive file systems).
bool SameFile(const std::string& a, const std::string& b);

// Deletes a file; false when it could not be deleted.
bool DeleteFile(const std::string& path);

// "<strerror(errno)>" for the last failed system call.
std::string LastSystemError();

}  // namespace pictorix
