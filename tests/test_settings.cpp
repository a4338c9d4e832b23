// The settings file layer: INI reading and writing rules, ConversionSettings from and
// to the file, --set overrides, and where the settings file lives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.h"
#include "engine/ini_file.h"
#include "engine/settings.h"

namespace pictorix {
namespace {

namespace fs = std::filesystem;

// Sets (or unsets, with nullopt) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "pictorix-settings-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(path_, ec))
            if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string path() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

// ---------------------------------------------------------------------------------
// Reading rules

struct ReadCase {
    const char* name;
    std::optional<std::string> raw;  // text after "key=" in the file; nullopt: no such key
    std::string asString;            // getString with default "DEF"
    int asInt;                       // getInt with default 42
    bool asBoolDefaultFalse;
    bool asBoolDefaultTrue;
};

const ReadCase kReadCases[] = {
    {"missing", std::nullopt, "DEF", 42, false, true},
    {"empty", "", "", 42, false, true},
    {"letters", "abc", "abc", 42, false, true},
    {"digits then letters", "12abc", "12abc", 42, false, true},
    {"surrounding spaces", " 7 ", "7", 7, true, true},
    {"surrounding tabs", "\t8\t", "8", 8, true, true},
    {"negative", "-3", "-3", -3, true, true},
    {"plus sign", "+5", "+5", 5, true, true},
    {"two signs", "+-3", "+-3", 42, false, true},
    {"sign and space", "- 3", "- 3", 42, false, true},
    {"largest", "2147483647", "2147483647", INT_MAX, true, true},
    {"smallest", "-2147483648", "-2147483648", INT_MIN, true, true},
    {"overflow", "2147483648", "2147483648", 42, false, true},
    {"underflow", "-2147483649", "-2147483649", 42, false, true},
    {"far overflow", "99999999999999999999", "99999999999999999999", 42, false, true},
    {"hexadecimal", "0x10", "0x10", 42, false, true},
    {"decimal point", "1.5", "1.5", 42, false, true},
    {"bool two", "2", "2", 2, true, true},
    {"bool zero", "0", "0", 0, false, false},
    {"bool minus one", "-1", "-1", -1, true, true},
    {"quoted", "\"quoted value\"", "quoted value", 42, false, true},
    {"quoted keeps inner spaces", "  \"  spaced  \"  ", "  spaced  ", 42, false, true},
    {"quoted number", "\"7\"", "7", 7, true, true},
    {"quoted empty", "\"\"", "", 42, false, true},
    {"lone quote kept", "\"x", "\"x", 42, false, true},
    {"one pair only", "\"\"x\"\"", "\"x\"", 42, false, true},
    {"inner equals sign", "a=b", "a=b", 42, false, true},
};

class IniReadRules : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadRules, GivesValueOrDefault) {
    const ReadCase& c = GetParam();
    std::string text = "[s]\nother=1\n";
    if (c.raw) text += "key=" + *c.raw + "\n";
    IniFile ini = IniFile::Parse(text);
    EXPECT_EQ(ini.hasKey("s", "key"), c.raw.has_value());
    EXPECT_EQ(ini.getString("s", "key", "DEF"), c.asString);
    EXPECT_EQ(ini.getInt("s", "key", 42), c.asInt);
    EXPECT_EQ(ini.getBool("s", "key", false), c.asBoolDefaultFalse);
    EXPECT_EQ(ini.getBool("s", "key", true), c.asBoolDefaultTrue);
}

INSTANTIATE_TEST_SUITE_P(Values, IniReadRules, testing::ValuesIn(kReadCases), [](const auto& p) {
    std::string n;
    for (char ch : std::string(p.param.name)) n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return n;
});

TEST(IniFile, LongValueIsCutAt2047Characters) {
    IniFile ini = IniFile::Parse("[s]\nkey=" + std::string(3000, 'x') + "\n");
    EXPECT_EQ(ini.getString("s", "key", ""), std::string(2047, 'x'));
    EXPECT_EQ(ini.value("s", "key")->size(), 3000u);  // the document itself keeps it whole
}

TEST(IniFile, CutNeverSplitsAUtf8Character) {
    // "é" is two bytes and would straddle the cut at 2047.
    IniFile ini = IniFile::Parse("[s]\nkey=" + std::string(2046, 'a') + "\xC3\xA9" + "zzz\n");
    EXPECT_EQ(ini.getString("s", "key", ""), std::string(2046, 'a'));
}

TEST(IniFile, LongDefaultIsCutToo) {
    IniFile ini;
    EXPECT_EQ(ini.getString("s", "key", std::string(2100, 'd')).size(), 2047u);
}

TEST(IniFile, NamesCompareWithoutLetterCase) {
    IniFile ini = IniFile::Parse("[DeSt]\nFolder=/a/\n[  Format  ]\n  JpegQuality  = 90\n");
    EXPECT_EQ(ini.getString("dest", "folder", ""), "/a/");
    EXPECT_EQ(ini.getString("DEST", "FOLDER", ""), "/a/");
    EXPECT_EQ(ini.getInt("format", "jpegquality", 0), 90);
    EXPECT_FALSE(ini.hasKey("dest", "jpegquality"));
    EXPECT_FALSE(ini.hasKey("format", "folder"));
}

TEST(IniFile, FirstOfDuplicateKeysCounts) {
    IniFile ini = IniFile::Parse("[s]\nkey=first\nKEY=second\n");
    EXPECT_EQ(ini.getString("s", "key", ""), "first");
    ini.setString("s", "key", "new");
    EXPECT_EQ(ini.text(), "[s]\nkey=new\nKEY=second\n");
}

TEST(IniFile, DuplicateSectionsAreSearchedInFileOrder) {
    IniFile ini = IniFile::Parse("[a]\nx=1\n[b]\ny=2\n[A]\nz=3\n");
    EXPECT_EQ(ini.getInt("a", "x", 0), 1);
    EXPECT_EQ(ini.getInt("a", "z", 0), 3);
    EXPECT_EQ(ini.getInt("b", "z", 0), 0);
}

TEST(IniFile, CommentsAndOtherLinesAreNoKeys) {
    IniFile ini = IniFile::Parse("[s]\n;a=1\n#b=2\n  ; c=3\njust text\n=nokey\n");
    EXPECT_FALSE(ini.hasKey("s", ";a"));
    EXPECT_FALSE(ini.hasKey("s", "a"));
    EXPECT_FALSE(ini.hasKey("s", "#b"));
    EXPECT_FALSE(ini.hasKey("s", "c"));
    EXPECT_FALSE(ini.hasKey("s", "just text"));
    EXPECT_FALSE(ini.hasKey("s", ""));
}

TEST(IniFile, KeysBeforeTheFirstSectionBelongToTheUnnamedOne) {
    IniFile ini = IniFile::Parse("loose=1\n[s]\nkey=2\n");
    EXPECT_EQ(ini.getInt("", "loose", 0), 1);
    EXPECT_FALSE(ini.hasKey("s", "loose"));
}

// ---------------------------------------------------------------------------------
// Line ends

TEST(IniFile, ReadsLfCrLfAndCrAlike) {
    for (std::string eol : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(eol == "\n" ? "LF" : eol == "\r\n" ? "CR LF" : "CR");
        IniFile ini = IniFile::Parse("[a]" + eol + "x=1" + eol + eol + "[b]" + eol + "y= two " + eol + "z=3");
        EXPECT_EQ(ini.getInt("a", "x", 0), 1);
        EXPECT_EQ(ini.getString("b", "y", ""), "two");
        EXPECT_EQ(ini.getInt("b", "z", 0), 3);  // a last line without a line end counts
    }
}

TEST(IniFile, WritingKeepsCrLfAndUsesLfOtherwise) {
    IniFile crlf = IniFile::Parse("[a]\r\nx=1\r\n");
    crlf.setInt("a", "y", 2);
    EXPECT_EQ(crlf.text(), "[a]\r\nx=1\r\ny=2\r\n");

    IniFile cr = IniFile::Parse("[a]\rx=1\r");
    cr.setInt("a", "y", 2);
    EXPECT_EQ(cr.text(), "[a]\nx=1\ny=2\n");

    IniFile lf = IniFile::Parse("[a]\nx=1");  // no line end at the very end
    EXPECT_EQ(lf.text(), "[a]\nx=1\n");
}

TEST(IniFile, ByteOrderMarkIsSkippedAndKept) {
    IniFile ini = IniFile::Parse("\xEF\xBB\xBF[a]\nx=1\n");
    EXPECT_EQ(ini.getInt("a", "x", 0), 1);
    EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[a]\nx=1\n");
}

// ---------------------------------------------------------------------------------
// Writing

TEST(IniFile, SetKeepsEveryOtherLineAsItWas) {
    const std::string original =
        "; Pictorix settings\n"
        "[main]\n"
        "lang=1031\n"
        "unknownkey = kept as is  \n"
        "\n"
        "[Format]\n"
        "# a comment inside\n"
        "  JpegQuality = 75\n"
        "odd line without equals\n"
        "pngquality=8\n"
        "\n"
        "\n"
        "[other]\n"
        "a=\"quoted\"\n";
    IniFile ini = IniFile::Parse(original);
    EXPECT_EQ(ini.text(), original);

    ini.setInt("format", "jpegquality", 90);       // replaced in place, spacing kept
    ini.setBool("FORMAT", "progressivejpeg", true);  // added after the section's last line
    ini.setString("dest", "folder", "/out/");      // a new section at the end
    ini.setString("", "top", "1");                 // the unnamed section before [main]
    EXPECT_EQ(ini.text(),
              "; Pictorix settings\n"
              "top=1\n"
              "[main]\n"
              "lang=1031\n"
              "unknownkey = kept as is  \n"
              "\n"
              "[Format]\n"
              "# a comment inside\n"
              "  JpegQuality = 90\n"
              "odd line without equals\n"
              "pngquality=8\n"
              "progressivejpeg=1\n"
              "\n"
              "\n"
              "[other]\n"
              "a=\"quoted\"\n"
              "\n"
              "[dest]\n"
              "folder=/out/\n");
    EXPECT_EQ(ini.getInt("format", "jpegquality", 0), 90);
    EXPECT_TRUE(ini.getBool("format", "progressivejpeg", false));
    EXPECT_EQ(ini.getString("dest", "folder", ""), "/out/");
}

TEST(IniFile, FirstWriteToAnEmptyDocument) {
    IniFile ini;
    ini.setInt("dest", "dest", 2);
    ini.setString("dest", "folder", "/x/");
    ini.setBool("backup", "backup", false);
    EXPECT_EQ(ini.text(), "[dest]\ndest=2\nfolder=/x/\n\n[backup]\nbackup=0\n");
}

TEST(IniFile, ValuesThatReadingWouldChangeAreWrittenInQuotes) {
    const std::vector<std::string> values = {" lead", "trail ", "\tboth\t", "\"q\"", "\"", "plain", "", "a \"b\" c"};
    IniFile ini;
    for (const std::string& v : values) {
        ini.setString("s", "key", v);
        EXPECT_EQ(IniFile::Parse(ini.text()).getString("s", "key", "DEF"), v);
    }
    ini.setString("s", "key", " lead");
    EXPECT_EQ(ini.text(), "[s]\nkey=\" lead\"\n");
    ini.setString("s", "key", "plain");
    EXPECT_EQ(ini.text(), "[s]\nkey=plain\n");
}

TEST(IniFile, RefusesWhatTheFileCannotHold) {
    IniFile ini;
    EXPECT_THROW(ini.setString("s", "key", "two\nlines"), Error);
    EXPECT_THROW(ini.setString("s", "key", "two\rlines"), Error);
    EXPECT_THROW(ini.setString("s", "a=b", "x"), Error);
    EXPECT_THROW(ini.setString("s", "", "x"), Error);
    EXPECT_THROW(ini.setString("s", ";key", "x"), Error);
    EXPECT_THROW(ini.setString("s]", "key", "x"), Error);
    EXPECT_EQ(ini.text(), "");
}

// ---------------------------------------------------------------------------------
// Files

TEST(IniFile, MissingOrUnreadableFileIsAnEmptyDocument) {
    TempFolder tmp;
    EXPECT_EQ(IniFile::Load(tmp / "missing.ini").text(), "");
    EXPECT_EQ(IniFile::Load(tmp.path()).text(), "");  // a folder
    EXPECT_EQ(IniFile::Load(tmp / "missing.ini").getInt("dest", "dest", 1), 1);
}

TEST(IniFile, SaveCreatesAndReplacesTheFileWhole) {
    TempFolder tmp;
    const std::string path = tmp / "settings.ini";
    IniFile ini;
    ini.setInt("dest", "dest", 2);
    ini.save(path);
    EXPECT_EQ(ReadAll(path), "[dest]\ndest=2\n");

    WriteAll(path, "[dest]\r\ndest=1\r\n[main]\r\nlang=1031\r\n");
    IniFile loaded = IniFile::Load(path);
    loaded.setInt("dest", "dest", 2);
    loaded.save(path);
    EXPECT_EQ(ReadAll(path), "[dest]\r\ndest=2\r\n[main]\r\nlang=1031\r\n");

    // Nothing but the settings file is left in the folder.
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(tmp.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"settings.ini"});
}

TEST(IniFile, SaveThroughASymbolicLinkReplacesItsTarget) {
    TempFolder tmp;
    WriteAll(tmp / "real.ini", "[a]\nx=1\n");
    fs::create_symlink(tmp / "real.ini", tmp / "settings.ini");
    IniFile ini = IniFile::Load(tmp / "settings.ini");
    ini.setInt("a", "x", 2);
    ini.save(tmp / "settings.ini");
    EXPECT_TRUE(fs::is_symlink(tmp / "settings.ini"));
    EXPECT_EQ(ReadAll(tmp / "real.ini"), "[a]\nx=2\n");
}

TEST(IniFile, SaveIntoAMissingFolderFails) {
    TempFolder tmp;
    const std::string path = tmp / "no/such/folder/settings.ini";
    IniFile ini;
    ini.setInt("dest", "dest", 2);
    try {
        ini.save(path);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
}

TEST(IniFile, SaveBelowAPlainFileFails) {
    // Fails for every user, root included: a file cannot hold a folder.
    TempFolder tmp;
    WriteAll(tmp / "file", "x");
    const std::string path = tmp / "file/settings.ini";
    try {
        IniFile().save(path);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
}

TEST(IniFile, SaveIntoAFolderWithoutWriteAccessFailsAndKeepsTheOldFile) {
    if (RunningAsRoot()) GTEST_SKIP() << "root can write into any folder";
    TempFolder tmp;
    const std::string folder = tmp / "locked";
    fs::create_directory(folder);
    const std::string path = folder + "/settings.ini";
    WriteAll(path, "[dest]\ndest=1\n");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    IniFile ini = IniFile::Load(path);
    ini.setInt("dest", "dest", 2);
    try {
        ini.save(path);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
    EXPECT_EQ(ReadAll(path), "[dest]\ndest=1\n");
}

// ---------------------------------------------------------------------------------
// ConversionSettings

// Compares every field, naming the one that differs.
void ExpectSameSettings(const ConversionSettings& a, const ConversionSettings& b) {
    EXPECT_EQ(a.dest.dest, b.dest.dest);
    EXPECT_EQ(a.dest.folder, b.dest.folder);
    EXPECT_EQ(a.format.format, b.format.format);
    EXPECT_EQ(a.format.jpegQuality, b.format.jpegQuality);
    EXPECT_EQ(a.format.progressiveJpeg, b.format.progressiveJpeg);
    EXPECT_EQ(a.format.pngLevel, b.format.pngLevel);
    EXPECT_EQ(a.format.interlacedPng, b.format.interlacedPng);
    EXPECT_EQ(a.format.gifCompression, b.format.gifCompression);
    EXPECT_EQ(a.format.jp2Quality, b.format.jp2Quality);
    EXPECT_EQ(a.format.pdfCompression, b.format.pdfCompression);
    EXPECT_EQ(a.filename.modify, b.filename.modify);
    EXPECT_EQ(a.filename.filename, b.filename.filename);
    EXPECT_EQ(a.filename.counterstart, b.filename.counterstart);
    EXPECT_EQ(a.fileoptions.iffileexists, b.fileoptions.iffileexists);
    EXPECT_EQ(a.fileoptions.keepdatetime, b.fileoptions.keepdatetime);
    EXPECT_EQ(a.fileoptions.deletesourcefiles, b.fileoptions.deletesourcefiles);
    EXPECT_EQ(a.backup.backup, b.backup.backup);
    EXPECT_EQ(a.backup.folder, b.backup.folder);
    EXPECT_EQ(a.colordepth.value, b.colordepth.value);
    EXPECT_EQ(a.thumb.enable, b.thumb.enable);
    EXPECT_EQ(a.thumb.width, b.thumb.width);
    EXPECT_EQ(a.thumb.height, b.thumb.height);
    EXPECT_EQ(a.thumb.wt, b.thumb.wt);
    EXPECT_EQ(a.thumb.ht, b.thumb.ht);
    EXPECT_EQ(a.thumb.use, b.thumb.use);
    EXPECT_EQ(a.thumb.folder, b.thumb.folder);
    EXPECT_EQ(a.thumb.filename, b.thumb.filename);
    EXPECT_EQ(a.counterPosition, b.counterPosition);
}

// A settings record with no field at its default.
ConversionSettings Unusual() {
    ConversionSettings s;
    s.dest = {2, "/out/"};
    s.format.format = 12;
    s.format.jpegQuality = 33;
    s.format.progressiveJpeg = true;
    s.format.pngLevel = 3;
    s.format.interlacedPng = true;
    s.format.gifCompression = 1;
    s.format.jp2Quality = 44;
    s.format.pdfCompression = 0;
    s.filename = {true, "<%filename>_#", 17};
    s.fileoptions = {3, true, true};
    s.backup = {true, "/backups/"};
    s.colordepth.value = 8;
    s.thumb = {true, 50, 60, 1, 1, 2, "/thumbs", " thumb <%filename> "};
    s.counterPosition = 17;
    return s;
}

TEST(ConversionSettings, MissingFileGivesTheDefaultsOfAMachineWithoutSettings) {
    ScopedEnv home("HOME", "/home/tester");
    ConversionSettings s = ConversionSettings::FromIni(IniFile());
    EXPECT_EQ(s.dest.dest, 1);  // beside the source
    EXPECT_EQ(s.dest.folder, "/home/tester/");
    EXPECT_EQ(s.format.format, 1);  // JPG
    EXPECT_EQ(s.format.jpegQuality, 75);
    EXPECT_FALSE(s.format.progressiveJpeg);
    EXPECT_EQ(s.format.pngLevel, 8);
    EXPECT_FALSE(s.format.interlacedPng);
    EXPECT_EQ(s.format.gifCompression, 0);
    EXPECT_EQ(s.format.jp2Quality, 75);
    EXPECT_EQ(s.format.pdfCompression, 1);
    EXPECT_FALSE(s.filename.modify);
    EXPECT_EQ(s.filename.filename, "<%filename>");
    EXPECT_EQ(s.filename.counterstart, 0);
    EXPECT_EQ(s.counterPosition, 0);
    EXPECT_EQ(s.fileoptions.iffileexists, 1);  // Replace, although the page is designed with Ask
    EXPECT_FALSE(s.fileoptions.keepdatetime);
    EXPECT_FALSE(s.fileoptions.deletesourcefiles);
    EXPECT_FALSE(s.backup.backup);
    EXPECT_EQ(s.backup.folder, "/home/tester/");
    EXPECT_EQ(s.colordepth.value, 0);
    EXPECT_FALSE(s.thumb.enable);
    EXPECT_EQ(s.thumb.width, 100);
    EXPECT_EQ(s.thumb.height, 100);
    EXPECT_EQ(s.thumb.wt, 0);
    EXPECT_EQ(s.thumb.ht, 0);
    EXPECT_EQ(s.thumb.use, 0);
    EXPECT_EQ(s.thumb.folder, "/home/tester/");
    EXPECT_EQ(s.thumb.filename, "thumb_<%filename>");

    ExpectSameSettings(ConversionSettings(), s);
}

TEST(ConversionSettings, ReadsEveryKeyOfEveryGroup) {
    IniFile ini = IniFile::Parse(
        "[dest]\ndest=2\nfolder=/out/\n"
        "[format]\nformat=12\njpegquality=33\nprogressivejpeg=1\npngquality=3\ninterlacedpng=1\n"
        "gifcompression=1\njp2quality=44\npdfcompression=0\n"
        "[filename]\nmodify=1\nfilename=<%filename>_#\ncounterstart=17\n"
        "[fileoptions]\niffileexists=3\nkeepdatetime=1\ndeletesourcefiles=1\n"
        "[backup]\nbackup=1\nfolder=/backups/\n"
        "[colordepth]\nvalue=8\n"
        "[thumb]\nenable=1\nwidth=50\nheight=60\nwt=1\nht=1\nuse=2\nfolder=/thumbs\n"
        "filename=\" thumb <%filename> \"\n");
    ExpectSameSettings(ConversionSettings::FromIni(ini), Unusual());
}

struct LoadCase {
    const char* line;  // "section/key=value"
    const char* field;
    int expected;
};

int Field(const ConversionSettings& s, const std::string& field) {
    if (field == "dest") return s.dest.dest;
    if (field == "format") return s.format.format;
    if (field == "jpegquality") return s.format.jpegQuality;
    if (field == "pngquality") return s.format.pngLevel;
    if (field == "jp2quality") return s.format.jp2Quality;
    if (field == "gifcompression") return s.format.gifCompression;
    if (field == "pdfcompression") return s.format.pdfCompression;
    if (field == "counterstart") return s.filename.counterstart;
    if (field == "counterposition") return s.counterPosition;
    if (field == "iffileexists") return s.fileoptions.iffileexists;
    if (field == "colordepth") return s.colordepth.value;
    if (field == "width") return s.thumb.width;
    if (field == "use") return s.thumb.use;
    ADD_FAILURE() << "unknown field " << field;
    return 0;
}

// How the window's controls take a stored value: radio buttons ignore values they do
// not have, up-down controls clamp to their range, lists keep the index as read.
const LoadCase kLoadCases[] = {
    {"[dest]\ndest=2", "dest", 2},
    {"[dest]\ndest=3", "dest", 1},
    {"[dest]\ndest=0", "dest", 1},
    {"[dest]\ndest=abc", "dest", 1},
    {"[format]\nformat=99", "format", 99},
    {"[format]\nformat=-1", "format", -1},
    {"[format]\nformat=x", "format", 1},
    {"[format]\njpegquality=150", "jpegquality", 100},
    {"[format]\njpegquality=-5", "jpegquality", 0},
    {"[format]\njpegquality=0", "jpegquality", 0},
    {"[format]\njpegquality=12abc", "jpegquality", 75},
    {"[format]\npngquality=0", "pngquality", 1},
    {"[format]\npngquality=12", "pngquality", 9},
    {"[format]\npngquality=5", "pngquality", 5},
    {"[format]\njp2quality=101", "jp2quality", 100},
    {"[format]\njp2quality=-1", "jp2quality", 0},
    {"[format]\ngifcompression=7", "gifcompression", 7},
    {"[format]\npdfcompression=5", "pdfcompression", 5},
    {"[filename]\ncounterstart=40000", "counterstart", 32767},
    {"[filename]\ncounterstart=40000", "counterposition", 32767},
    {"[filename]\ncounterstart=-1", "counterstart", 0},
    {"[filename]\ncounterstart=123", "counterposition", 123},
    {"[fileoptions]\niffileexists=2", "iffileexists", 2},
    {"[fileoptions]\niffileexists=3", "iffileexists", 3},
    {"[fileoptions]\niffileexists=0", "iffileexists", 1},
    {"[fileoptions]\niffileexists=4", "iffileexists", 1},
    {"[colordepth]\nvalue=7", "colordepth", 7},
    {"[thumb]\nwidth=20000", "width", 20000},
    {"[thumb]\nuse=5", "use", 5},
};

class SettingsLoadRules : public testing::TestWithParam<LoadCase> {};

TEST_P(SettingsLoadRules, TakesTheValueAsTheControlWould) {
    const LoadCase& c = GetParam();
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Field(ConversionSettings::FromIni(IniFile::Parse(c.line)), c.field), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsLoadRules, testing::ValuesIn(kLoadCases));

TEST(ConversionSettings, FolderTextsAreKeptAsRead) {
    ConversionSettings s =
        ConversionSettings::FromIni(IniFile::Parse("[dest]\nfolder=/no/slash\n[backup]\nfolder=\n[thumb]\nfolder=t"));
    EXPECT_EQ(s.dest.folder, "/no/slash");
    EXPECT_EQ(s.backup.folder, "");
    EXPECT_EQ(s.thumb.folder, "t");
}

TEST(ConversionSettings, RoundTripThroughTheFile) {
    ConversionSettings s = Unusual();
    IniFile ini;
    s.toIni(ini);
    ExpectSameSettings(ConversionSettings::FromIni(IniFile::Parse(ini.text())), s);

    ConversionSettings d;
    IniFile fresh;
    d.toIni(fresh);
    ExpectSameSettings(ConversionSettings::FromIni(fresh), d);
}

TEST(ConversionSettings, WritesEveryKeyInTheWindowsOrder) {
    ScopedEnv home("HOME", "/home/tester");
    IniFile ini;
    ConversionSettings().toIni(ini);
    EXPECT_EQ(ini.text(),
              "[dest]\ndest=1\nfolder=/home/tester/\n\n"
              "[format]\nformat=1\npdfcompression=1\ngifcompression=0\njpegquality=75\nprogressivejpeg=0\n"
              "pngquality=8\ninterlacedpng=0\njp2quality=75\n\n"
              "[filename]\nmodify=0\ncounterstart=0\nfilename=<%filename>\n\n"
              "[fileoptions]\niffileexists=1\nkeepdatetime=0\ndeletesourcefiles=0\n\n"
              "[backup]\nbackup=0\nfolder=/home/tester/\n\n"
              "[colordepth]\nvalue=0\n\n"
              "[thumb]\nenable=0\nwidth=100\nheight=100\nwt=0\nht=0\nuse=0\nfolder=/home/tester/\n"
              "filename=thumb_<%filename>\n");
}

TEST(ConversionSettings, WritingKeepsTheFilesOtherKeys) {
    IniFile ini = IniFile::Parse(
        "; kept\n[main]\nlang=1031\n[FORMAT]\nJpegQuality=10\nmystery=yes\n[pos_main]\nform_top=5\n");
    Unusual().toIni(ini);
    std::string text = ini.text();
    EXPECT_EQ(text.rfind("; kept\n[main]\nlang=1031\n[FORMAT]\nJpegQuality=33\nmystery=yes\n", 0), 0u) << text;
    EXPECT_NE(text.find("[pos_main]\nform_top=5\n"), std::string::npos) << text;
    EXPECT_EQ(ini.getInt("main", "lang", 0), 1031);
    EXPECT_EQ(ini.getString("format", "mystery", ""), "yes");
}

TEST(ConversionSettings, SettingsFileOnDisk) {
    TempFolder tmp;
    const std::string path = tmp / "settings.ini";
    IniFile ini = IniFile::Load(path);
    Unusual().toIni(ini);
    ini.save(path);
    ExpectSameSettings(ConversionSettings::FromIni(IniFile::Load(path)), Unusual());
}

// ---------------------------------------------------------------------------------
// --set overrides

TEST(ConversionSettings, OverrideSetsTheKeyAsTheFileWouldHoldIt) {
    ConversionSettings s;
    s.applyOverride("format.format=2");
    EXPECT_EQ(s.format.format, 2);
    s.applyOverride("DEST.Dest=2");
    EXPECT_EQ(s.dest.dest, 2);
    s.applyOverride("dest.folder=/tmp/out/");
    EXPECT_EQ(s.dest.folder, "/tmp/out/");
    s.applyOverride("dest.dest=3");  // as the radio buttons: the default stays
    EXPECT_EQ(s.dest.dest, 1);
    s.applyOverride("format.jpegquality=150");
    EXPECT_EQ(s.format.jpegQuality, 100);
    s.applyOverride(" thumb . width = 50 ");
    EXPECT_EQ(s.thumb.width, 50);
    s.applyOverride("filename.filename=\" a=b \"");
    EXPECT_EQ(s.filename.filename, " a=b ");
    s.applyOverride("filename.counterstart=40000");
    EXPECT_EQ(s.filename.counterstart, 32767);
    EXPECT_EQ(s.counterPosition, 32767);
    s.applyOverride("backup.folder=");
    EXPECT_EQ(s.backup.folder, "");
    s.applyOverride("fileoptions.keepdatetime=1");
    EXPECT_TRUE(s.fileoptions.keepdatetime);
}

TEST(ConversionSettings, OverrideChangesOnlyItsGroup) {
    ConversionSettings s;
    s.format.jpegQuality = 500;  // out of range, set directly
    s.thumb.width = 7;
    s.applyOverride("thumb.height=9");
    EXPECT_EQ(s.format.jpegQuality, 500);
    EXPECT_EQ(s.thumb.width, 7);
    EXPECT_EQ(s.thumb.height, 9);
}

TEST(ConversionSettings, OverrideAcceptsEveryKeyOfTheFile) {
    const char* keys[] = {"dest.dest", "dest.folder", "format.format", "format.jpegquality",
                          "format.progressivejpeg", "format.pngquality", "format.interlacedpng",
                          "format.gifcompression", "format.jp2quality", "format.pdfcompression",
                          "filename.modify", "filename.filename", "filename.counterstart",
                          "fileoptions.iffileexists", "fileoptions.keepdatetime", "fileoptions.deletesourcefiles",
                          "backup.backup", "backup.folder", "colordepth.value", "thumb.enable",
                          "thumb.width", "thumb.height", "thumb.wt", "thumb.ht", "thumb.use",
                          "thumb.folder", "thumb.filename"};
    for (const char* key : keys) {
        ConversionSettings s;
        EXPECT_NO_THROW(s.applyOverride(std::string(key) + "=2")) << key;
    }
}

TEST(ConversionSettings, OverrideRefusesUnknownAndMalformedSettings) {
    struct Bad {
        const char* assignment;
        const char* message;
    };
    const Bad cases[] = {
        {"foo.bar=1", "Unknown setting: foo.bar"},
        {"dest.nothing=1", "Unknown setting: dest.nothing"},
        {"main.lang=1031", "Unknown setting: main.lang"},
        {"format.format.x=1", "Unknown setting: format.format.x"},
        {"format.format", "Malformed setting: format.format"},
        {"formatformat=2", "Malformed setting: formatformat=2"},
        {"format=a.b", "Malformed setting: format=a.b"},
        {".format=2", "Malformed setting: .format=2"},
        {"format.=2", "Malformed setting: format.=2"},
        {"", "Malformed setting: "},
        {"format.jpegquality=abc", "Invalid setting: format.jpegquality=abc (a whole number is expected)"},
        {"fileoptions.keepdatetime=yes", "Invalid setting: fileoptions.keepdatetime=yes (a whole number is expected)"},
        {"format.format=", "Invalid setting: format.format= (a whole number is expected)"},
    };
    for (const Bad& c : cases) {
        ConversionSettings s;
        try {
            s.applyOverride(c.assignment);
            ADD_FAILURE() << "no error for " << c.assignment;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        ExpectSameSettings(s, ConversionSettings());
    }
}

// ---------------------------------------------------------------------------------
// Folders

std::string ExecutableFolder() { return fs::read_symlink("/proc/self/exe").parent_path().string() + "/"; }

TEST(Folders, DefaultFolderIsTheHomeFolder) {
    {
        ScopedEnv home("HOME", "/home/tester");
        EXPECT_EQ(DefaultFolder(), "/home/tester/");
    }
    {
        ScopedEnv home("HOME", "/home/tester/");
        EXPECT_EQ(DefaultFolder(), "/home/tester/");
    }
    {
        ScopedEnv home("HOME", std::nullopt);
        std::string folder = DefaultFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.back(), '/');
    }
}

TEST(Folders, ProgramFolderFollowsPictorixHome) {
    {
        ScopedEnv env("PICTORIX_HOME", "/opt/pictorix");
        EXPECT_EQ(ProgramFolder(), "/opt/pictorix/");
    }
    {
        ScopedEnv env("PICTORIX_HOME", "/opt/pictorix/");
        EXPECT_EQ(ProgramFolder(), "/opt/pictorix/");
    }
    {
        ScopedEnv env("PICTORIX_HOME", "");
        EXPECT_EQ(ProgramFolder(), ExecutableFolder());
    }
    {
        ScopedEnv env("PICTORIX_HOME", std::nullopt);
        EXPECT_EQ(ProgramFolder(), ExecutableFolder());
    }
}

TEST(Folders, SettingsFileInAWritableProgramFolder) {
    TempFolder tmp;
    ScopedEnv env("PICTORIX_HOME", tmp.path());
    EXPECT_EQ(SettingsFilePath(), tmp.path() + "/settings.ini");
}

TEST(Folders, SettingsFileFallsBackToXdgConfigHome) {
    TempFolder tmp;
    ScopedEnv env("PICTORIX_HOME", tmp / "missing-program-folder");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", tmp / "config");
        EXPECT_EQ(SettingsFilePath(), tmp / "config/pictorix/settings.ini");
        EXPECT_TRUE(fs::is_directory(tmp / "config/pictorix"));
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", tmp / "home");
        EXPECT_EQ(SettingsFilePath(), tmp / "home/.config/pictorix/settings.ini");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config");  // ignored, as XDG asks
        ScopedEnv home("HOME", tmp / "home");
        EXPECT_EQ(SettingsFilePath(), tmp / "home/.config/pictorix/settings.ini");
    }
}

TEST(Folders, SettingsFileFallsBackWhenTheProgramFolderIsReadOnly) {
    if (RunningAsRoot()) GTEST_SKIP() << "root can write into any folder";
    TempFolder tmp;
    const std::string program = tmp / "program";
    fs::create_directory(program);
    fs::permissions(program, fs::perms::owner_read | fs::perms::owner_exec);
    ScopedEnv env("PICTORIX_HOME", program);
    ScopedEnv xdg("XDG_CONFIG_HOME", tmp / "config");
    EXPECT_EQ(SettingsFilePath(), tmp / "config/pictorix/settings.ini");
}

}  // namespace
}  // namespace pictorix
