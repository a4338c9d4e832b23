#include "pictureio/picture_io.h"

#include <array>
#include <string_view>

#include "core/file_util.h"
#include "pictureio/codecs/autodesk.h"
#include "pictureio/codecs/bmp.h"
#include "pictureio/codecs/drhalo.h"
#include "pictureio/codecs/eps.h"
#include "pictureio/codecs/gif.h"
#include "pictureio/codecs/ico.h"
#include "pictureio/codecs/jpeg.h"
#include "pictureio/codecs/metafile.h"
#include "pictureio/codecs/pcd.h"
#include "pictureio/codecs/pcx.h"
#include "pictureio/codecs/png.h"
#include "pictureio/codecs/pnm.h"
#include "pictureio/codecs/psd.h"
#include "pictureio/codecs/psp.h"
#include "pictureio/codecs/rla.h"
#include "pictureio/codecs/sgi.h"
#include "pictureio/codecs/tga.h"
#include "pictureio/codecs/tiff.h"
#include "pictureio/codecs/wbmp.h"
#include "pictureio/pdf.h"
#include "pictureio/plugins.h"

namespace pictorix {

namespace {

constexpr std::array<const char*, kFormatCount> kFormatNames = {
    "BMP", "JPG", "PNG", "GIF", "TIF", "PCX", "TGA", "WMF", "EMF", "ICO", "JP2", "WBMP", "PDF"};

// Readers of the general route, asked in this order; the first whose test accepts
// the file's first bytes decodes it. Strong signatures do not come first on purpose:
// the order decides which reader wins when two would accept, and files written by
// other programs rely on it.
const std::array<ProbingReader, 13> kProbingReaders = {{
    {"Targa", tga::kProbeHeaderLength, tga::Probe, tga::Read},
    {"TIFF", tiff::kProbeHeaderLength, tiff::Probe, tiff::Read},
    {"EPS", eps::kProbeHeaderLength, eps::Probe, eps::Read},
    {"PCX", pcx::kProbeHeaderLength, pcx::Probe, pcx::Read},
    {"RLA", rla::kProbeHeaderLength, rla::Probe, rla::Read},
    {"SGI", sgi::kProbeHeaderLength, sgi::Probe, sgi::Read},
    {"Photoshop", psd::kProbeHeaderLength, psd::Probe, psd::Read},
    {"PNM", pnm::kProbeHeaderLength, pnm::Probe, pnm::Read},
    {"Autodesk", autodesk::kProbeHeaderLength, autodesk::Probe, autodesk::Read},
    {"Photo-CD", pcd::kProbeHeaderLength, pcd::Probe, pcd::Read},
    {"Dr. Halo", drhalo::kProbeHeaderLength, drhalo::Probe, nullptr},
    {"Paint Shop Pro", psp::kProbeHeaderLength, psp::Probe, psp::Read},
    {"PNG", 8, png::Probe, png::Read},
}};

// A route that assigns: the reader builds a new picture and the working bitmap
// takes it wholesale, keeping only its own fill colour.
void Assign(Bitmap& target, Bitmap&& picture) {
    Color fill = target.fillColor();
    target = std::move(picture);
    target.setFillColor(fill);
}

using ReadFunction = void (*)(ByteSpan, Bitmap&);

void AssignFrom(ReadFunction read, ByteSpan data, Bitmap& bitmap) {
    Bitmap picture;
    picture.setFillColor(bitmap.fillColor());
    read(data, picture);
    Assign(bitmap, std::move(picture));
}

void ReadByContent(ByteSpan data, Bitmap& bitmap) {
    for (const ProbingReader& reader : kProbingReaders) {
        if (data.size() <= reader.headerLength) continue;
        if (!reader.accepts(data.first(reader.headerLength), data.size())) continue;
        if (!reader.read) break;
        AssignFrom(reader.read, data, bitmap);
        return;
    }
    throw Error("not a picture that Pictorix can read");
}

}  // namespace

const char* FormatName(int index) {
    if (index < 0 || index >= kFormatCount) return nullptr;
    return kFormatNames[static_cast<std::size_t>(index)];
}

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string FileExtension(const std::string& path) {
    auto dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > dot) return {};
    return path.substr(dot);
}

void DecodePicture(const std::string& path, ByteSpan data, Bitmap& bitmap) {
    const std::string ext = AsciiLower(FileExtension(path));
    if (ext == ".bmp") {
        AssignFrom(bmp::Read, data, bitmap);
    } else if (ext == ".jpeg" || ext == ".jpg") {
        AssignFrom(jpeg::Read, data, bitmap);
    } else if (ext == ".png") {
        png::Read(data, bitmap);  // draws over what the bitmap holds
    } else if (ext == ".gif") {
        AssignFrom(gif::Read, data, bitmap);
    } else if (ext == ".wmf" || ext == ".emf") {
        metafile::Read(data, bitmap);  // draws over what the bitmap holds
    } else if (ext == ".ico") {
        ico::Read(data, bitmap);
    } else if (ext == ".jp2" || ext == ".jpc" || ext == ".j2k" || ext == ".j2c") {
        PluginLoader::Instance().Decode(path, data, bitmap);  // assigns, or leaves the bitmap as it was
    } else if (ext == ".wbmp") {
        wbmp::Read(data, bitmap);  // works in place: rows the file lacks keep their pixels
    } else {
        ReadByContent(data, bitmap);
    }
}

void LoadPicture(const std::string& path, Bitmap& bitmap) {
    std::vector<std::uint8_t> data = ReadFileBytes(path);
    DecodePicture(path, data, bitmap);
}

ByteVector EncodePicture(const Bitmap& bitmap, const FormatOptions& options) {
    switch (options.format) {
        case 0:
            return bmp::Write(bitmap);
        case 1:
            return jpeg::Write(bitmap, options.jpegQuality, options.progressiveJpeg);
        case 2:
            return png::Write(bitmap, options.pngLevel, options.interlacedPng);
        case 3:
            return gif::Write(bitmap, options.gifCompression != 0);
        case 4:
            return tiff::Write(bitmap);
        case 5:
            return pcx::Write(bitmap);
        case 6:
            return tga::Write(bitmap);
        case 7:
            return metafile::WriteWmf(bitmap);
        case 8:
            return metafile::WriteEmf(bitmap);
        case 9:
            return ico::Write(bitmap);
        case 10:
            return PluginLoader::Instance().Encode(bitmap, "jp2", Jp2OptionText(options.jp2Quality));
        case 11:
            return wbmp::Write(bitmap);
        case 12:
            return WritePdf(bitmap, options.pdfCompression);
        default:
            throw Error("Output format " + std::to_string(options.format) + " does not exist (valid: 0 to 12)");
    }
}

void SavePicture(const std::string& path, const Bitmap& bitmap, const FormatOptions& options, bool durable) {
    ByteVector bytes = EncodePicture(bitmap, options);
    WriteFileAtomically(path, bytes, durable);
}

}  // namespace pictorix
