#include "engine/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "core/error.h"

namespace pictorix {

namespace {

// Every key of the seven groups, as the settings file names it, in the order the
// window writes them.
struct KnownKey {
    const char* section;
    const char* key;
    bool text = false;  // all others hold whole numbers
};
constexpr KnownKey kKnownKeys[] = {
    {"dest", "dest"},
    {"dest", "folder", true},
    {"format", "format"},
    {"format", "pdfcompression"},
    {"format", "gifcompression"},
    {"format", "jpegquality"},
    {"format", "progressivejpeg"},
    {"format", "pngquality"},
    {"format", "interlacedpng"},
    {"format", "jp2quality"},
    {"filename", "modify"},
    {"filename", "counterstart"},
    {"filename", "filename", true},
    {"fileoptions", "iffileexists"},
    {"fileoptions", "keepdatetime"},
    {"fileoptions", "deletesourcefiles"},
    {"backup", "backup"},
    {"backup", "folder", true},
    {"colordepth", "value"},
    {"thumb", "enable"},
    {"thumb", "width"},
    {"thumb", "height"},
    {"thumb", "wt"},
    {"thumb", "ht"},
    {"thumb", "use"},
    {"thumb", "folder", true},
    {"thumb", "filename", true},
};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) home = pw->pw_dir;
    }
    return home.empty() ? std::string("/") : home;
}

}  // namespace

std::string DefaultFolder() { return WithSlash(HomeFolder()); }

std::string ProgramFolder() {
    std::string home = EnvOrEmpty("PICTORIX_HOME");
    if (!home.empty()) return WithSlash(home);
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return WithSlash(exe.parent_path().string());
    // Without /proc the working folder is the best remaining guess.
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string("./") : WithSlash(cwd.string());
}

std::string SettingsFilePath() {
    std::string program = ProgramFolder();
    if (::access(program.c_str(), W_OK) == 0) return program + "settings.ini";

    // The XDG rule: a relative XDG_CONFIG_HOME is ignored.
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') config = WithSlash(HomeFolder()) + ".config";
    std::string folder = WithSlash(config) + "pictorix/";
    // Made here so that the first save finds its folder; a failure shows up there,
    // as "Unable to write to ...".
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder + "settings.ini";
}

ConversionSettings::ConversionSettings() {
    dest.folder = DefaultFolder();
    backup.folder = DefaultFolder();
    thumb.folder = DefaultFolder();
}

ConversionSettings ConversionSettings::FromIni(const IniFile& ini) {
    // Reading starts from the state of a machine without a settings file; a missing or
    // non-integer value keeps that state. Values that the window puts into an up-down
    // control are clamped to the control's range, as the control itself does; values
    // that select a radio button change nothing when no button has that value. The rest
    // is kept as read and judged where it is used (a format index outside 0-12 stops
    // the run; a colour depth other than the listed ones acts as 0; folder texts get
    // their final "/" where a path is built).
    ConversionSettings s;

    if (int dest = ini.getInt("dest", "dest", 1); dest == 1 || dest == 2) s.dest.dest = dest;
    s.dest.folder = ini.getString("dest", "folder", s.dest.folder);

    FormatOptions& f = s.format;
    f.format = ini.getInt("format", "format", f.format);
    f.pdfCompression = ini.getInt("format", "pdfcompression", f.pdfCompression);
    f.gifCompression = ini.getInt("format", "gifcompression", f.gifCompression);
    f.jpegQuality = std::clamp(ini.getInt("format", "jpegquality", f.jpegQuality), 0, 100);
    f.progressiveJpeg = ini.getBool("format", "progressivejpeg", f.progressiveJpeg);
    f.pngLevel = std::clamp(ini.getInt("format", "pngquality", f.pngLevel), 1, 9);
    f.interlacedPng = ini.getBool("format", "interlacedpng", f.interlacedPng);
    f.jp2Quality = std::clamp(ini.getInt("format", "jp2quality", f.jp2Quality), 0, 100);

    s.filename.modify = ini.getBool("filename", "modify", s.filename.modify);
    s.filename.counterstart = std::clamp(ini.getInt("filename", "counterstart", s.filename.counterstart), 0, 32767);
    s.filename.filename = ini.getString("filename", "filename", s.filename.filename);
    s.counterPosition = s.filename.counterstart;

    if (int v = ini.getInt("fileoptions", "iffileexists", 1); v >= 1 && v <= 3) s.fileoptions.iffileexists = v;
    s.fileoptions.keepdatetime = ini.getBool("fileoptions", "keepdatetime", s.fileoptions.keepdatetime);
    s.fileoptions.deletesourcefiles = ini.getBool("fileoptions", "deletesourcefiles", s.fileoptions.deletesourcefiles);

    s.backup.backup = ini.getBool("backup", "backup", s.backup.backup);
    s.backup.folder = ini.getString("backup", "folder", s.backup.folder);

    s.colordepth.value = ini.getInt("colordepth", "value", s.colordepth.value);

    // The run reads these straight from the file, without the dialog's controls.
    s.thumb.enable = ini.getBool("thumb", "enable", s.thumb.enable);
    s.thumb.width = ini.getInt("thumb", "width", s.thumb.width);
    s.thumb.height = ini.getInt("thumb", "height", s.thumb.height);
    s.thumb.wt = ini.getInt("thumb", "wt", s.thumb.wt);
    s.thumb.ht = ini.getInt("thumb", "ht", s.thumb.ht);
    s.thumb.use = ini.getInt("thumb", "use", s.thumb.use);
    s.thumb.folder = ini.getString("thumb", "folder", s.thumb.folder);
    s.thumb.filename = ini.getString("thumb", "filename", s.thumb.filename);
    return s;
}

void ConversionSettings::toIni(IniFile& ini) const {
    ini.setInt("dest", "dest", dest.dest);
    ini.setString("dest", "folder", dest.folder);

    ini.setInt("format", "format", format.format);
    ini.setInt("format", "pdfcompression", format.pdfCompression);
    ini.setInt("format", "gifcompression", format.gifCompression);
    ini.setInt("format", "jpegquality", format.jpegQuality);
    ini.setBool("format", "progressivejpeg", format.progressiveJpeg);
    ini.setInt("format", "pngquality", format.pngLevel);
    ini.setBool("format", "interlacedpng", format.interlacedPng);
    ini.setInt("format", "jp2quality", format.jp2Quality);

    ini.setBool("filename", "modify", filename.modify);
    ini.setInt("filename", "counterstart", filename.counterstart);
    ini.setString("filename", "filename", filename.filename);

    ini.setInt("fileoptions", "iffileexists", fileoptions.iffileexists);
    ini.setBool("fileoptions", "keepdatetime", fileoptions.keepdatetime);
    ini.setBool("fileoptions", "deletesourcefiles", fileoptions.deletesourcefiles);

    ini.setBool("backup", "backup", backup.backup);
    ini.setString("backup", "folder", backup.folder);

    ini.setInt("colordepth", "value", colordepth.value);

    ini.setBool("thumb", "enable", thumb.enable);
    ini.setInt("thumb", "width", thumb.width);
    ini.setInt("thumb", "height", thumb.height);
    ini.setInt("thumb", "wt", thumb.wt);
    ini.setInt("thumb", "ht", thumb.ht);
    ini.setInt("thumb", "use", thumb.use);
    ini.setString("thumb", "folder", thumb.folder);
    ini.setString("thumb", "filename", thumb.filename);
}

void ConversionSettings::applyOverride(const std::string& assignment) {
    std::size_t eq = assignment.find('=');
    std::size_t dot = assignment.find('.');
    if (eq == std::string::npos || dot == std::string::npos || dot > eq ||
        assignment.find_first_of("\r\n") != std::string::npos)
        throw Error("Malformed setting: " + assignment);
    std::string_view name = Trim(std::string_view(assignment).substr(0, eq));
    std::size_t nameDot = name.find('.');
    std::string_view section = Trim(name.substr(0, nameDot));
    std::string_view key = Trim(name.substr(nameDot + 1));
    if (section.empty() || key.empty()) throw Error("Malformed setting: " + assignment);

    const KnownKey* known = nullptr;
    for (const KnownKey& k : kKnownKeys)
        if (SameName(k.section, section) && SameName(k.key, key)) known = &k;
    if (!known) throw Error("Unknown setting: " + std::string(name));

    // The text after "=" is what a line of the settings file would hold, so it is read
    // with the file's own rules (blanks around it dropped, one pair of quotes removed).
    std::string value = IniFile::Parse("[s]\nk=" + assignment.substr(eq + 1)).value("s", "k").value_or("");

    IniFile ini;
    toIni(ini);
    ini.setString(known->section, known->key, value);
    // A file may hold anything and reads it as the default; a value typed on the
    // command line that is no number is a mistake the user should hear about.
    if (!known->text && ini.getInt(known->section, known->key, 0) == 0 && ini.getInt(known->section, known->key, 1) == 1)
        throw Error("Invalid setting: " + std::string(name) + "=" + value + " (a whole number is expected)");
    ConversionSettings read = FromIni(ini);

    // Only the group of the key is taken over; the others stay exactly as they are.
    std::string_view group = known->section;
    if (group == "dest") {
        dest = read.dest;
    } else if (group == "format") {
        format = read.format;
    } else if (group == "filename") {
        filename = read.filename;
        counterPosition = read.counterPosition;
    } else if (group == "fileoptions") {
        fileoptions = read.fileoptions;
    } else if (group == "backup") {
        backup = read.backup;
    } else if (group == "colordepth") {
        colordepth = read.colordepth;
    } else if (group == "thumb") {
        thumb = read.thumb;
    }
}

}  // namespace pictorix
