#include "engine/batch.h"

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "actions/apply_action.h"
#include "core/error.h"
#include "core/file_util.h"
#include "engine/naming.h"
#include "engine/thumbnail.h"
#include "pictureio/picture_io.h"

namespace pictorix {

FileEntry FileEntry::FromPath(const std::string& path) {
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal();
    // "a/b/." and "a/b/.." normalise to a folder text with a final "/": the entry is
    // that folder, as the same path without the dots would give it.
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    FileEntry entry;
    entry.name = p.filename().string();
    entry.folder = WithTrailingSlash(p.parent_path().string());
    entry.type = AsciiUpper(FileExtension(entry.name));
    return entry;
}

std::string FileEntry::sourcePath() const { return WithTrailingSlash(folder) + name; }

std::string WithTrailingSlash(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    std::size_t nameStart = path.rfind('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string MainOutputPath(const FileEntry& entry, int fileIndex, const ConversionSettings& settings) {
    // A folder typed without its final "/" (by hand or through --set) still means
    // that folder, not a name prefix.
    std::string folder = settings.dest.dest == 2 ? WithTrailingSlash(settings.dest.folder)
                                                 : WithTrailingSlash(entry.folder);
    const char* format = FormatName(settings.format.format);
    if (!format) throw Error("Output format " + std::to_string(settings.format.format) + " does not exist");
    // The template is expanded together with the folder, so placeholders in the
    // folder text are replaced too.
    std::string path = settings.filename.modify
                           ? ExpandNameTemplate(folder + settings.filename.filename, entry.sourcePath(), fileIndex,
                                                settings.filename.counterstart, ExtensionForm::LowerWithDot)
                           : folder + entry.name;
    return ReplaceExtension(path, "." + AsciiLower(format));
}

namespace {

// What a worker makes of one file without touching the file system apart from
// reading the source: the encoded output and thumbnail. Failures are kept with the
// step they belong to, so the file's turn reports them where a run of one thread
// would have met them.
struct Prepared {
    std::exception_ptr readError;   // before the first progress step
    std::exception_ptr editError;   // actions and colour depth
    std::exception_ptr encodeError; // met only if the output is written
    std::exception_ptr thumbError;  // met only at the thumbnail step
    ByteVector output;
    ByteVector thumbnail;
    // Kept instead of the encodings when the file's turn follows at once: a run of
    // one thread encodes only what it writes.
    std::optional<Bitmap> picture;
};

// The path a file system would resolve, also for files that do not exist yet.
std::string ResolvedPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
    return ec ? std::filesystem::path(path).lexically_normal().string() : p.string();
}

class Run {
public:
    Run(const std::vector<FileEntry>& files, const std::vector<std::string>& actions,
        const ConversionSettings& settings, const BatchCallbacks& callbacks, int jobs)
        : files_(files), actions_(actions), settings_(settings), callbacks_(callbacks), jobs_(jobs) {
        progress_.maximum = static_cast<int>(files.size()) * 4;
    }

    BatchResult execute() {
        try {
            checkSettings();
        } catch (const std::exception& e) {
            result_.completed = false;
            result_.message = e.what();
            return result_;
        }
        if (jobs_ > 1 && files_.size() > 1) {
            executeParallel();
        } else {
            for (std::size_t i = 0; i < files_.size() && result_.completed; ++i) {
                const int index = static_cast<int>(i);
                guarded(index, [&] {
                    backup(files_[i]);
                    Prepared prepared = prepare(index, false);
                    commit(index, prepared);
                });
            }
        }
        return result_;
    }

private:
    // Settings that would make every file fail stop the run before the first file.
    void checkSettings() const {
        if (!FormatName(settings_.format.format))
            throw Error("The output format " + std::to_string(settings_.format.format) +
                        " in the settings does not exist (valid formats are 0 to 12)");
    }

    // Runs one file's turn; a failure ends the run with a message naming the file.
    template <typename F>
    void guarded(int index, F&& body) {
        try {
            body();
        } catch (const std::exception& e) {
            result_.completed = false;
            result_.failedIndex = index;
            result_.failedPath = files_[static_cast<std::size_t>(index)].sourcePath();
            result_.message = result_.failedPath + ": " + e.what();
        }
    }

    void step(int fileIndex, const std::string& source, bool finished) {
        ++progress_.position;
        progress_.percent = progress_.maximum ? progress_.position * 100 / progress_.maximum : 100;
        progress_.fileIndex = fileIndex;
        progress_.sourcePath = source;
        progress_.fileFinished = finished;
        if (callbacks_.progress) callbacks_.progress(progress_);
    }

    // Whether an existing target gets replaced, asking when the settings say so.
    bool mayReplace(const std::string& output) {
        switch (settings_.fileoptions.iffileexists) {
            case 2:
                if (lastAnswer_ != ReplaceAnswer::YesToAll && lastAnswer_ != ReplaceAnswer::NoToAll)
                    lastAnswer_ = callbacks_.askReplace ? callbacks_.askReplace(output) : ReplaceAnswer::No;
                return lastAnswer_ == ReplaceAnswer::Yes || lastAnswer_ == ReplaceAnswer::YesToAll;
            case 3:
                return false;
            default:
                return true;
        }
    }

    std::string backupPath(const FileEntry& entry) const {
        return WithTrailingSlash(settings_.backup.folder) + entry.name;
    }

    void backup(const FileEntry& entry) {
        if (settings_.backup.backup) CopyFileWithDate(entry.sourcePath(), backupPath(entry));
    }

    // Reading and editing: the part of a file's work that touches nothing but its
    // source, and so may run on any thread.
    Prepared prepare(int index, bool encode) const {
        Prepared p;
        // Each file starts on a fresh bitmap: nothing of the previous picture can
        // leak into this one through transparent areas or a failed read.
        Bitmap bitmap;
        try {
            LoadPicture(files_[static_cast<std::size_t>(index)].sourcePath(), bitmap);
        } catch (...) {
            p.readError = std::current_exception();
            return p;
        }
        try {
            for (const std::string& action : actions_) ApplyAction(action, bitmap, ActionPurpose::ConversionRun);
            ChangeColorDepth(bitmap, settings_.colordepth.value);
        } catch (...) {
            p.editError = std::current_exception();
            return p;
        }
        if (!encode) {
            p.picture = std::move(bitmap);
            return p;
        }
        try {
            p.output = EncodePicture(bitmap, settings_.format);
        } catch (...) {
            p.encodeError = std::current_exception();
        }
        if (settings_.thumb.enable) {
            try {
                p.thumbnail = EncodeThumbnail(bitmap, settings_);
            } catch (...) {
                p.thumbError = std::current_exception();
            }
        }
        return p;
    }

    // Everything a user can observe, in list order: progress, the replace question,
    // the output, its date, the source's deletion and the thumbnail.
    void commit(int index, Prepared& p) {
        const FileEntry& entry = files_[static_cast<std::size_t>(index)];
        const std::string source = entry.sourcePath();
        if (p.readError) std::rethrow_exception(p.readError);
        step(index, source, false);
        if (p.editError) std::rethrow_exception(p.editError);
        step(index, source, false);

        const std::string output = MainOutputPath(entry, index, settings_);
        bool written = false;
        if (!FileExists(output) || mayReplace(output)) {
            if (p.encodeError) std::rethrow_exception(p.encodeError);
            if (p.picture) p.output = EncodePicture(*p.picture, settings_.format);
            // The data must be on the disk before its source may go.
            WriteFileAtomically(output, p.output, settings_.fileoptions.deletesourcefiles);
            written = true;
            ++result_.written;
        } else {
            ++result_.kept;
        }
        step(index, source, false);

        if (settings_.fileoptions.keepdatetime && FileExists(output)) CopyFileTimes(source, output);

        // A source goes only when this run wrote its output and the output is
        // another file, however the two paths are spelt.
        if (settings_.fileoptions.deletesourcefiles && written && !SameFile(source, output)) DeleteFile(source);

        // Also made when an existing output was left alone: it still shows this picture.
        if (settings_.thumb.enable) {
            if (p.thumbError) std::rethrow_exception(p.thumbError);
            if (p.picture) p.thumbnail = EncodeThumbnail(*p.picture, settings_);
            WriteFileAtomically(ThumbnailPath(source, index, settings_), p.thumbnail);
        }
        step(index, source, true);
    }

    // For each file, whether an earlier file writes, replaces or deletes its source
    // (an output, thumbnail or backup of that name, or the same source listed
    // twice). Such a file is read only after every earlier file is done, as a run of
    // one thread would read it. Watermark pictures could be outputs too; a run that
    // uses them is not worth the risk and takes one thread.
    std::vector<bool> filesThatWait(bool& allWait) const {
        std::vector<bool> wait(files_.size(), false);
        allWait = false;
        for (const std::string& action : actions_)
            if (action.rfind("picturewatermark;", 0) == 0) allWait = true;
        std::unordered_set<std::string> touched;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string source = ResolvedPath(files_[i].sourcePath());
            wait[i] = touched.count(source) > 0;
            touched.insert(source);
            try {
                touched.insert(ResolvedPath(MainOutputPath(files_[i], static_cast<int>(i), settings_)));
                if (settings_.thumb.enable)
                    touched.insert(ResolvedPath(ThumbnailPath(files_[i].sourcePath(), static_cast<int>(i), settings_)));
            } catch (const std::exception&) {
                allWait = true;  // the file's turn will report it
            }
            if (settings_.backup.backup) touched.insert(ResolvedPath(backupPath(files_[i])));
        }
        return wait;
    }

    // Workers read and edit files ahead of their turn, at most a few per worker, so
    // memory stays bounded; this thread takes the files in list order and does all
    // that touches the file system but the reading.
    void executeParallel() {
        const std::size_t count = files_.size();
        const std::size_t window = static_cast<std::size_t>(jobs_) * 2;
        bool allWait = false;
        const std::vector<bool> wait = filesThatWait(allWait);

        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::optional<Prepared>> slots(count);
        std::size_t next = 0;       // the next file a worker takes
        std::size_t committed = 0;  // files whose turn is over
        bool stop = false;

        auto worker = [&] {
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [&] {
                    if (stop || next >= count) return true;
                    if (next >= committed + window) return false;
                    return !(allWait || wait[next]) || committed == next;
                });
                if (stop || next >= count) return;
                const std::size_t index = next++;
                lock.unlock();
                Prepared p = prepare(static_cast<int>(index), true);
                lock.lock();
                slots[index] = std::move(p);
                changed.notify_all();
            }
        };

        std::vector<std::thread> threads;
        const int workers = std::min<int>(jobs_, static_cast<int>(count));
        threads.reserve(static_cast<std::size_t>(workers));
        for (int t = 0; t < workers; ++t) threads.emplace_back(worker);

        for (std::size_t i = 0; i < count && result_.completed; ++i) {
            const int index = static_cast<int>(i);
            // The backup comes first, as in a run of one thread; it only copies the
            // source, so the worker may already have read it.
            guarded(index, [&] { backup(files_[i]); });
            if (!result_.completed) break;
            Prepared p;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slots[i].has_value(); });
                p = std::move(*slots[i]);
                slots[i].reset();
            }
            guarded(index, [&] { commit(index, p); });
            std::lock_guard lock(mutex);
            committed = i + 1;
            changed.notify_all();
        }
        {
            std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        for (std::thread& t : threads) t.join();
    }

    const std::vector<FileEntry>& files_;
    const std::vector<std::string>& actions_;
    const ConversionSettings& settings_;
    const BatchCallbacks& callbacks_;
    const int jobs_;
    BatchProgress progress_;
    BatchResult result_;
    ReplaceAnswer lastAnswer_ = ReplaceAnswer::No;
};

}  // namespace

BatchResult RunBatch(const std::vector<FileEntry>& files, const std::vector<std::string>& actions,
                     const ConversionSettings& settings, const BatchCallbacks& callbacks, int jobs) {
    return Run(files, actions, settings, callbacks, jobs).execute();
}

}  // namespace pictorix
