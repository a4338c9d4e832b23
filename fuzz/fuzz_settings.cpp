// The settings file: parsed, read into the settings of a run, written back and read
// again. Every value the run takes must read back as it was written, and the text
// of a document must be stable once written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/error.h"
#include "engine/ini_file.h"
#include "engine/settings.h"

using namespace pictorix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniFile ini = IniFile::Parse(text);
    ConversionSettings settings = ConversionSettings::FromIni(ini);

    const std::string written = ini.text();
    if (IniFile::Parse(written).text() != written) std::abort();

    try {
        settings.toIni(ini);
    } catch (const Error&) {
        return 0;  // a name the file cannot hold
    }
    ConversionSettings reread = ConversionSettings::FromIni(IniFile::Parse(ini.text()));
    // FromIni takes what toIni wrote as it stands.
    if (reread.format.format != settings.format.format || reread.dest.folder != settings.dest.folder ||
        reread.filename.filename != settings.filename.filename || reread.thumb.filename != settings.thumb.filename ||
        reread.filename.counterstart != settings.filename.counterstart ||
        reread.colordepth.value != settings.colordepth.value)
        std::abort();
    return 0;
}
