#pragma once
// The batch conversion run: every listed file in list order is read, edited,
// written under its output name, and its file options carried out.
#include <functional>
#include <string>
#include <vector>

#include "engine/settings.h"

namespace pictorix {

// One file of the file list: Name (with extension), Type (".JPEG": the extension
// with its dot in upper case) and Folder (ending with "/").
struct FileEntry {
    std::string name;
    std::string type;
    std::string folder;

    // The entry of a path; a relative path is made absolute first.
    static FileEntry FromPath(const std::string& path);
    std::string sourcePath() const;
};

enum class ReplaceAnswer { Yes, No, NoToAll, YesToAll };

struct BatchProgress {
    int position = 0;   // 0 .. maximum, four steps per file
    int maximum = 0;
    int percent = 0;    // position * 100 / maximum, rounded down
    int fileIndex = 0;  // the file the step belongs to
    std::string sourcePath;
    bool fileFinished = false;  // the last of the file's four steps
};

struct BatchCallbacks {
    std::function<void(const BatchProgress&)> progress;
    // Asked when iffileexists is 2 and the output exists; not set means No.
    std::function<ReplaceAnswer(const std::string& outputPath)> askReplace;
};

struct BatchResult {
    bool completed = true;     // false: the run stopped at a failure
    int written = 0;           // outputs written
    int kept = 0;              // existing outputs left alone (Skip, No, No to All)
    int failedIndex = -1;      // the file whose step failed, -1 for none or before the first file
    std::string failedPath;
    std::string message;       // the failure: "<file>: <cause>"
};

// The output path of a file (extension included) as the run builds it.
std::string MainOutputPath(const FileEntry& entry, int fileIndex, const ConversionSettings& settings);

// Replaces everything from the last "." of the file name part by `extension`, or
// appends it when the name has no ".".
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// The folder text with "/" appended unless it already ends with one.
std::string WithTrailingSlash(const std::string& folder);

// Runs the conversion. Never throws for a failure of a file: the run stops there
// and the result says which file and why. With more than one job, files are read
// and edited ahead on that many worker threads, while everything observable
// (callbacks, writes, deletions) happens on the calling thread in list order, so
// the outputs are the same as with one job.
BatchResult RunBatch(const std::vector<FileEntry>& files, const std::vector<std::string>& actions,
                     const ConversionSettings& settings, const BatchCallbacks& callbacks, int jobs = 1);

}  // namespace pictorix
