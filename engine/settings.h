#pragma once
// ConversionSettings: everything one conversion run uses besides the file list and
// the action list, in groups named after the sections of the settings file.
#include <string>

#include "engine/ini_file.h"
#include "pictureio/codecs/codec.h"

namespace pictorix {

struct ConversionSettings {
    struct Dest {
        int dest = 1;            // 1 beside the source, 2 the folder below
        std::string folder;      // ends with "/"; default: the home folder
    } dest;
    FormatOptions format;        // section "format"
    struct FileName {
        bool modify = false;
        std::string filename = "<%filename>";
        int counterstart = 0;
    } filename;
    struct FileOptions {
        int iffileexists = 1;    // 1 replace, 2 ask, 3 skip
        bool keepdatetime = false;
        bool deletesourcefiles = false;
    } fileoptions;
    struct Backup {
        bool backup = false;
        std::string folder;      // ends with "/"; default: the home folder
    } backup;
    struct ColorDepth {
        int value = 0;           // 0, 1, 4, 8, 16, 24, 32; anything else acts as 0
    } colordepth;
    struct Thumb {
        bool enable = false;
        int width = 100;
        int height = 100;
        int wt = 0;              // 0 pixels, 1 percent
        int ht = 0;
        int use = 0;             // 0 both, 1 width, 2 height
        std::string folder;      // default: the home folder
        std::string filename = "thumb_<%filename>";
    } thumb;
    // Position of the counter's up-down control: thumbnails number from it. Equals
    // counterstart unless the window's counter text holds a number above 32767.
    int counterPosition = 0;

    ConversionSettings();  // the defaults of a machine without a settings file

    // Reads every group with the reading rules of the settings file (missing or
    // non-numeric values give the defaults). As the window's controls would take them:
    // "dest" other than 1 or 2 and "iffileexists" other than 1 to 3 keep the default 1;
    // jpegquality and jp2quality are clamped to 0-100, pngquality to 1-9, counterstart
    // to 0-32767 (and counterPosition follows it); everything else, folder texts
    // without their final "/" and a format index outside 0-12 included, is kept as read.
    static ConversionSettings FromIni(const IniFile& ini);
    // Writes every key of every group, keeping the file's other keys.
    void toIni(IniFile& ini) const;

    // Applies "section.key=value" as the settings file would hold it: the value is read
    // with the file's rules and only the key's group is read again. Names ignore letter
    // case. Throws Error("Malformed setting: ...") without "=" or "." before it, and
    // Error("Unknown setting: section.key") for a key that is not one of the groups'.
    void applyOverride(const std::string& assignment);
};

// "C:\" of the original: the user's home folder followed by "/".
std::string DefaultFolder();

// The program's folder: PICTORIX_HOME when set, else the running executable's folder;
// always ends with "/".
std::string ProgramFolder();

// The settings file: settings.ini in the program's folder, or
// $XDG_CONFIG_HOME/pictorix/settings.ini (~/.config/...) when that folder is not writable.
// Creates the pictorix folder of the second case when it is missing, so that the first
// save finds it.
std::string SettingsFilePath();

}  // namespace pictorix
