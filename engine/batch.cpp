#include "engine/batch.h"

#include <filesystem>

#include "actions/apply_action.h"
#include "core/error.h"
#include "core/file_util.h"
#include "engine/naming.h"
#include "engine/thumbnail.h"
#include "pictureio/picture_io.h"

namespace pictorix {

FileEntry FileEntry::FromPath(const std::string& path) {
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal();
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

class Run {
public:
    Run(const std::vector<FileEntry>& files, const std::vector<std::string>& actions,
        const ConversionSettings& settings, const BatchCallbacks& callbacks)
        : files_(files), actions_(actions), settings_(settings), callbacks_(callbacks) {
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
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const FileEntry& entry = files_[i];
            try {
                convert(entry, static_cast<int>(i));
            } catch (const std::exception& e) {
                result_.completed = false;
                result_.failedIndex = static_cast<int>(i);
                result_.failedPath = entry.sourcePath();
                result_.message = result_.failedPath + ": " + e.what();
                return result_;
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

    void convert(const FileEntry& entry, int index) {
        const std::string source = entry.sourcePath();

        if (settings_.backup.backup) CopyFileWithDate(source, WithTrailingSlash(settings_.backup.folder) + entry.name);

        // Each file starts on a fresh bitmap: nothing of the previous picture can
        // leak into this one through transparent areas or a failed read.
        Bitmap bitmap;
        LoadPicture(source, bitmap);
        step(index, source, false);

        for (const std::string& action : actions_) ApplyAction(action, bitmap, ActionPurpose::ConversionRun);
        ChangeColorDepth(bitmap, settings_.colordepth.value);
        step(index, source, false);

        const std::string output = MainOutputPath(entry, index, settings_);
        bool written = false;
        if (!FileExists(output) || mayReplace(output)) {
            // The data must be on the disk before its source may go.
            SavePicture(output, bitmap, settings_.format, settings_.fileoptions.deletesourcefiles);
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
        if (settings_.thumb.enable) WriteThumbnail(bitmap, source, index, settings_);

        step(index, source, true);
    }

    const std::vector<FileEntry>& files_;
    const std::vector<std::string>& actions_;
    const ConversionSettings& settings_;
    const BatchCallbacks& callbacks_;
    BatchProgress progress_;
    BatchResult result_;
    ReplaceAnswer lastAnswer_ = ReplaceAnswer::No;
};

}  // namespace

BatchResult RunBatch(const std::vector<FileEntry>& files, const std::vector<std::string>& actions,
                     const ConversionSettings& settings, const BatchCallbacks& callbacks) {
    return Run(files, actions, settings, callbacks).execute();
}

}  // namespace pictorix
