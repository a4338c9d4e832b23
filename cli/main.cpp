// pictorix-batch: the conversion run of the desktop program, without a window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <algorithm>
#include <clocale>
#include <iostream>
#include <thread>
#include <string>
#include <vector>

#include "actions/action_list.h"
#include "core/error.h"
#include "core/file_util.h"
#include "core/memory_policy.h"
#include "core/text_lines.h"
#include "engine/batch.h"
#include "engine/ini_file.h"
#include "engine/settings.h"

using namespace pictorix;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::vector<std::string> ReadLinesOf(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return SplitTextLines(std::string(bytes.begin(), bytes.end()));
}

// The replace question on a terminal: Yes is the default, end of input is No.
ReplaceAnswer AskOnTerminal(const std::string& output) {
    for (;;) {
        std::fprintf(stderr,
                     "\nFile %s already exists. Do you want to replace this file?\n"
                     "  [y]es, [n]o, n[o] to all, yes to [a]ll (default yes): ",
                     output.c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) return ReplaceAnswer::No;
        if (line.empty() || line == "y" || line == "Y" || line == "yes") return ReplaceAnswer::Yes;
        if (line == "n" || line == "N" || line == "no") return ReplaceAnswer::No;
        if (line == "o" || line == "O" || line == "no to all") return ReplaceAnswer::NoToAll;
        if (line == "a" || line == "A" || line == "yes to all") return ReplaceAnswer::YesToAll;
    }
}

}  // namespace

int main(int argc, char** argv) {
    pictorix::KeepPictureMemory();
    // Month names of the date placeholders come from the user's locale.
    std::setlocale(LC_TIME, "");
    CLI::App app{"Converts and edits pictures in one run, with the options of the Pictorix settings file.",
                 "pictorix-batch"};
    app.set_version_flag("--version", std::string("pictorix-batch ") + PICTORIX_VERSION);

    std::string settingsFile;
    std::vector<std::string> overrides;
    std::string actionsFile;
    std::string listFile;
    std::string answerText = "no";
    bool quiet = false;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::string> files;

    app.add_option("--settings", settingsFile, "take the options from this settings file (default: the program's own)");
    app.add_option("--set", overrides, "override one settings key, as the settings file names it (repeatable),\n"
                                       "e.g. --set format.format=2 --set dest.dest=2 --set dest.folder=/tmp/out/")
        ->type_name("SECTION.KEY=VALUE")
        ->allow_extra_args(false);
    app.add_option("--actions", actionsFile, "apply this action list file (.acf) to every picture");
    app.add_option("--list", listFile, "add the entries of this file-list document (.pfl) before FILE...");
    app.add_option("--answer", answerText,
                   "the answer to \"replace?\" when iffileexists is 2 (Ask) and stdin is not a terminal")
        ->check(CLI::IsMember({"yes", "no", "yes-all", "no-all"}))
        ->default_str("no");
    app.add_flag("--quiet", quiet, "no progress output");
    app.add_option("--jobs", jobs, "worker threads that read and edit pictures ahead (default: one per core);\n"
                                   "the outputs are the same for any number")
        ->check(CLI::Range(1, 256));
    app.add_option("FILE", files, "pictures to convert");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    ConversionSettings settings;
    ActionList actions;
    std::vector<FileEntry> entries;
    try {
        // A settings file named on the command line must exist; the program's own
        // may be missing (then the defaults hold).
        if (!settingsFile.empty() && !FileExists(settingsFile))
            throw Error("cannot open the settings file " + settingsFile + ": no such file");
        IniFile ini = IniFile::Load(settingsFile.empty() ? SettingsFilePath() : settingsFile);
        settings = ConversionSettings::FromIni(ini);
        for (const std::string& assignment : overrides) settings.applyOverride(assignment);
        if (!actionsFile.empty()) actions.loadFile(actionsFile);
        if (!listFile.empty()) {
            // Blank lines of a hand-written list name no file; they are passed over.
            for (const std::string& line : ReadLinesOf(listFile))
                if (!line.empty()) entries.push_back(FileEntry::FromPath(line));
        }
        for (const std::string& file : files) entries.push_back(FileEntry::FromPath(file));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pictorix-batch: %s\n", e.what());
        return kExitUsage;
    }

    if (entries.empty()) {
        std::fprintf(stderr, "pictorix-batch: Please select at least one file to start the convertion.\n");
        return kExitUsage;
    }

    const bool stderrIsTerminal = ::isatty(STDERR_FILENO);
    const bool stdinIsTerminal = ::isatty(STDIN_FILENO);
    ReplaceAnswer fixedAnswer = answerText == "yes"       ? ReplaceAnswer::Yes
                                : answerText == "yes-all" ? ReplaceAnswer::YesToAll
                                : answerText == "no-all"  ? ReplaceAnswer::NoToAll
                                                          : ReplaceAnswer::No;
    bool lineOpen = false;

    BatchCallbacks callbacks;
    callbacks.progress = [&](const BatchProgress& p) {
        if (quiet) return;
        if (stderrIsTerminal) {
            std::fprintf(stderr, "\r\033[K%3d%% Done  %s", p.percent, p.sourcePath.c_str());
            std::fflush(stderr);
            lineOpen = true;
        } else if (p.fileFinished) {
            std::fprintf(stderr, "%3d%% Done  %s\n", p.percent, p.sourcePath.c_str());
        }
    };
    callbacks.askReplace = [&](const std::string& output) {
        return stdinIsTerminal ? AskOnTerminal(output) : fixedAnswer;
    };

    BatchResult result = RunBatch(entries, actions.items(), settings, callbacks, jobs);
    if (lineOpen) std::fprintf(stderr, "\n");
    if (!result.completed) {
        std::fprintf(stderr, "pictorix-batch: %s\n", result.message.c_str());
        if (result.failedIndex >= 0 && result.failedIndex + 1 < static_cast<int>(entries.size()))
            std::fprintf(stderr, "pictorix-batch: stopped at file %d of %zu; later files were not converted\n",
                         result.failedIndex + 1, entries.size());
        return kExitFailed;
    }
    if (!quiet)
        std::fprintf(stderr, "Done: %d written, %d existing left alone\n", result.written, result.kept);
    return kExitOk;
}
