#include "pictureio/plugins.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/error.h"
#include "core/file_util.h"
#include "core/rounding.h"
#include "engine/settings.h"
#include "pictureio/picture_io.h"
#include "pictureio/plugin_abi.h"

namespace pictorix {

namespace {

struct ModuleCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using Module = std::unique_ptr<void, ModuleCloser>;

template <typename Function>
Function Lookup(void* handle, const char* name) {
    return reinterpret_cast<Function>(::dlsym(handle, name));
}

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

// Filters joined with "|", without doubling a separator that a text already ends in.
std::string JoinFilters(const std::vector<std::string>& filters) {
    std::string result;
    for (const std::string& filter : filters) {
        if (filter.empty()) continue;
        if (!result.empty() && result.back() != '|') result += '|';
        result += filter;
    }
    return result;
}

std::string StatusMessage(std::int32_t status, bool saving) {
    switch (status) {
        case PICTORIX_PLUGIN_CANNOT_OPEN: return "Unable to open file";
        case PICTORIX_PLUGIN_BAD_DATA: return "Error in bitmap data";
        case PICTORIX_PLUGIN_BAD_PIXEL_FORMAT: return "Unsupported pixel format";
        case PICTORIX_PLUGIN_CANNOT_CLOSE: return "Unable to close file";
        default:
            return saving ? "Error writing image file: " + std::to_string(status)
                          : "Error in bitmap data: " + std::to_string(status);
    }
}

// The extension as the libraries see it: without the dot, upper-cased.
std::string PluginExtension(const std::string& path) {
    std::string ext = FileExtension(path);
    return AsciiUpper(ext.empty() ? ext : ext.substr(1));
}

// The extension argument of a call: a zero-terminated copy of at most 259 characters.
struct ExtensionBuffer {
    explicit ExtensionBuffer(const std::string& ext) {
        std::size_t n = std::min(ext.size(), sizeof(text) - 1);
        std::memcpy(text, ext.data(), n);
        text[n] = '\0';
    }
    char text[260];
};

// A private folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pictorix-plugin-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw Error("cannot create a temporary folder: " + LastSystemError());
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// --- From the container to a picture ----------------------------------------------

enum class ColorSpace { Rgb, YCbCr, Lab };

struct LoadedPicture {
    Bitmap picture;
    int channels = 0;
};

// Builds the picture that the container describes. The pixel data is copied, so the
// library can free its buffers afterwards.
LoadedPicture BuildPicture(const TImageContainer& image) {
    if (image.Width <= 0 || image.Height <= 0) throw Error("Invalid bitmap size");
    CheckPictureSize(image.Width, image.Height, "Plug-in picture");
    const int code = image.PixelFormat;
    const int channels = code & 0x0F;
    if (channels == 0) throw Error("Unsupported bitmap format");
    const bool oneChannel = channels == 1 && code != 33;
    const bool planar = (code & ~0x0F) == 0x10 && channels >= 2;
    if (!oneChannel && code != 33 && code != 3 && code != 4 && !planar) throw Error("Unsupported pixel format");
    if (!image.Pixels) throw Error("Error in bitmap data");

    const int w = image.Width;
    const int h = image.Height;
    const std::size_t planeSize = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    const std::uint8_t* pixels = image.Pixels;
    LoadedPicture result;
    result.channels = channels;
    Bitmap& picture = result.picture;

    if (oneChannel || code == 33) {
        picture.reset(w, h, 8);
        if (oneChannel && image.Palette) {
            Palette palette(256);
            for (int i = 0; i < 256; ++i) {
                const std::uint8_t* e = image.Palette + 3 * i;
                palette[static_cast<std::size_t>(i)] = RGB(e[2], e[1], e[0]);
            }
            picture.setPalette(std::move(palette));
        } else {
            picture.setPalette(GreyPalette256());
        }
        const int step = code == 33 ? 2 : 1;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* src = pixels + static_cast<std::size_t>(y) * w * step;
            std::uint8_t* dst = picture.row(y);
            // A 16-bit sample is shown by its high byte, the second of the pair.
            for (int x = 0; x < w; ++x) dst[x] = src[x * step + step - 1];
        }
        return result;
    }

    picture.reset(w, h, 24);
    if (planar) {
        // Plane k fills byte k of every pixel; with two planes byte 2 stays 0.
        for (int y = 0; y < h; ++y) {
            std::uint8_t* dst = picture.row(y);
            const std::size_t at = static_cast<std::size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                for (int k = 0; k < 3; ++k)
                    dst[3 * x + k] = k < channels ? pixels[static_cast<std::size_t>(k) * planeSize + at + x] : 0;
            }
        }
    } else {
        const int step = code == 4 ? 4 : 3;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* src = pixels + static_cast<std::size_t>(y) * w * step;
            std::uint8_t* dst = picture.row(y);
            for (int x = 0; x < w; ++x) std::memcpy(dst + 3 * x, src + step * x, 3);
        }
    }
    return result;
}

struct Matrix3 {
    double m[3][3];
};

Matrix3 Inverse(const Matrix3& a) {
    const auto& m = a.m;
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    Matrix3 r{};
    r.m[0][0] = c00 / det;
    r.m[1][0] = c01 / det;
    r.m[2][0] = c02 / det;
    r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    return r;
}

// The exact inverse of the JFIF matrix (whose chroma offsets are 127.5, not 128).
void YCbCrToRgb(Bitmap& picture) {
    static const Matrix3 inverse = Inverse({{{0.299, 0.587, 0.114},
                                             {-0.16875, -0.33126, 0.5},
                                             {0.5, -0.41869, -0.08131}}});
    const auto& k = inverse.m;
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* p = picture.row(y);
        for (int x = 0; x < picture.width(); ++x, p += 3) {
            const double luma = p[2], cb = p[1] - 127.5, cr = p[0] - 127.5;
            p[2] = RoundToByte(k[0][0] * luma + k[0][1] * cb + k[0][2] * cr);
            p[1] = RoundToByte(k[1][0] * luma + k[1][1] * cb + k[1][2] * cr);
            p[0] = RoundToByte(k[2][0] * luma + k[2][1] * cb + k[2][2] * cr);
        }
    }
}

// CIE L*a*b* to linear RGB through XYZ with the D65 white point; no gamma curve.
void LabToRgb(Bitmap& picture) {
    constexpr double kT1 = 0.008856, kT2 = 0.206893;
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* p = picture.row(y);
        for (int x = 0; x < picture.width(); ++x, p += 3) {
            const double L = p[2] * 100.0 / 255.0;
            const double a = (p[1] - 127.5) * 200.0 / 255.0;
            const double b = (p[0] - 127.5) * 200.0 / 255.0;
            double fy = std::pow((L + 16.0) / 116.0, 3.0);
            const bool cubic = fy > kT1;
            const double Y = cubic ? fy : L / 903.3;
            fy = cubic ? std::cbrt(Y) : 7.787 * Y + 16.0 / 116.0;
            const double fx = a / 500.0 + fy;
            const double fz = fy - b / 200.0;
            const double X = 0.950456 * (fx > kT2 ? fx * fx * fx : (fx - 16.0 / 116.0) / 7.787);
            const double Z = 1.088754 * (fz > kT2 ? fz * fz * fz : (fz - 16.0 / 116.0) / 7.787);
            const double r = 3.240479 * X - 1.537150 * Y - 0.498535 * Z;
            const double g = -0.969256 * X + 1.875992 * Y + 0.041556 * Z;
            const double bl = 0.055648 * X - 0.204043 * Y + 1.057311 * Z;
            p[2] = RoundToByte(r * 255.0);
            p[1] = RoundToByte(g * 255.0);
            p[0] = RoundToByte(bl * 255.0);
        }
    }
}

// The colour space that a library reported by pointing Options elsewhere. At most
// six bytes are read, in case the pointer leads somewhere short.
ColorSpace ReportedColorSpace(const char* options) {
    if (!options) return ColorSpace::Rgb;
    if (std::strncmp(options, "YCbCr", 6) == 0) return ColorSpace::YCbCr;
    if (std::strncmp(options, "Lab", 4) == 0) return ColorSpace::Lab;
    return ColorSpace::Rgb;
}

// Registers the extensions that follow "*." (letters, digits, "_"), each once.
void CollectExtensions(const std::string& filter, std::vector<std::string>& out) {
    for (std::size_t at = filter.find("*."); at != std::string::npos; at = filter.find("*.", at + 2)) {
        std::size_t end = at + 2;
        while (end < filter.size() && (std::isalnum(static_cast<unsigned char>(filter[end])) || filter[end] == '_'))
            ++end;
        std::string ext = filter.substr(at + 2, end - at - 2);
        if (ext.empty()) continue;
        const std::string upper = AsciiUpper(ext);
        if (std::none_of(out.begin(), out.end(), [&](const std::string& e) { return AsciiUpper(e) == upper; }))
            out.push_back(ext);
    }
}

}  // namespace

// --- Libraries ----------------------------------------------------------------------

struct PluginLoader::Library {
    Module module;
    LibLoadImageFunc load = nullptr;
    LibSaveImageFunc save = nullptr;
    LibFreeImageFunc free = nullptr;
    std::string loadFilter;
    std::string saveFilter;
    // Plug-ins may keep state between calls: one call at a time per library.
    std::mutex calls;
};

PluginLoader& PluginLoader::Instance() {
    static PluginLoader loader;
    return loader;
}

PluginLoader::PluginLoader() : libraries_(std::make_shared<const Libraries>()) {}

PluginLoader::~PluginLoader() = default;

bool PluginLoader::Scan(const std::string& folder) {
    std::lock_guard scanning(scanMutex_);
    return ScanLocked(folder);
}

bool PluginLoader::ScanLocked(const std::string& folder) {
    std::string dir = folder.empty() ? std::string("./") : folder;
    if (dir.back() != '/') dir += '/';

    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 3 || name.compare(name.size() - 3, 3, ".so") != 0) continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());  // a stable order: the first match wins

    auto found = std::make_shared<Libraries>();
    for (const std::string& name : names) {
        Module module(::dlopen((dir + name).c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!module) {
            ::dlerror();  // not a library we can load: skip it
            continue;
        }
        auto library = std::make_shared<Library>();
        library->load = Lookup<LibLoadImageFunc>(module.get(), "LibLoadImage");
        library->save = Lookup<LibSaveImageFunc>(module.get(), "LibSaveImage");
        library->free = Lookup<LibFreeImageFunc>(module.get(), "LibFreeImage");
        if ((!library->load && !library->save) || !library->free) continue;  // unloaded here
        if (auto getLoad = Lookup<LibGetLoadFilterFunc>(module.get(), "LibGetLoadFilter"))
            library->loadFilter = TextOrEmpty(getLoad());
        if (auto getSave = Lookup<LibGetSaveFilterFunc>(module.get(), "LibGetSaveFilter"))
            library->saveFilter = TextOrEmpty(getSave());
        library->module = std::move(module);
        found->push_back(std::move(library));
    }

    const bool any = !found->empty();
    std::lock_guard lock(mutex_);
    libraries_ = std::move(found);  // calls in progress keep the old set alive
    scanned_ = true;
    return any;
}

std::shared_ptr<const PluginLoader::Libraries> PluginLoader::Current() {
    {
        std::lock_guard lock(mutex_);
        if (scanned_) return libraries_;
    }
    std::lock_guard scanning(scanMutex_);
    {
        std::lock_guard lock(mutex_);
        if (scanned_) return libraries_;  // another thread scanned meanwhile
    }
    ScanLocked(ProgramFolder());
    std::lock_guard lock(mutex_);
    return libraries_;
}

std::string PluginLoader::LoadFilter() {
    std::vector<std::string> filters;
    for (const auto& library : *Current())
        if (library->load) filters.push_back(library->loadFilter);
    return JoinFilters(filters);
}

std::string PluginLoader::SaveFilter() {
    std::vector<std::string> filters;
    for (const auto& library : *Current())
        if (library->save) filters.push_back(library->saveFilter);
    return JoinFilters(filters);
}

std::vector<std::string> PluginLoader::LoadExtensions() {
    std::vector<std::string> extensions;
    for (const auto& library : *Current())
        if (library->load) CollectExtensions(library->loadFilter, extensions);
    return extensions;
}

std::string PluginLoader::OptionText() {
    std::lock_guard lock(mutex_);
    return optionText_;
}

// A file is taken when the combined filter contains "*.EXT" (a substring test, so
// "J2" matches "*.J2K"); the first library whose own filter contains it serves.
// Only libraries that have the function needed are considered at all.
std::shared_ptr<PluginLoader::Library> PluginLoader::Choose(const std::string& path, bool saving) {
    const std::string ext = PluginExtension(path);
    const std::string mask = "*." + ext;
    for (const auto& library : *Current()) {
        if (!(saving ? library->save != nullptr : library->load != nullptr)) continue;
        if (AsciiUpper(saving ? library->saveFilter : library->loadFilter).find(mask) != std::string::npos)
            return library;
    }
    throw Error("Unsupported file format: " + ext);
}

void PluginLoader::Load(const std::string& path, Bitmap& bitmap) {
    std::shared_ptr<Library> library = Choose(path, false);
    LoadWith(*library, path, PluginExtension(path), bitmap);
}

void PluginLoader::Decode(const std::string& path, ByteSpan data, Bitmap& bitmap) {
    std::shared_ptr<Library> library = Choose(path, false);
    ScratchFolder scratch;
    const std::string file = scratch.file("picture" + FileExtension(path));
    WriteFileAtomically(file, data);
    LoadWith(*library, file, PluginExtension(path), bitmap);
}

void PluginLoader::LoadWith(Library& library, const std::string& file, const std::string& extension,
                            Bitmap& bitmap) {
    const std::string options = OptionText();
    ExtensionBuffer ext(extension);
    TImageContainer image{};
    image.Options = options.c_str();

    LoadedPicture loaded;
    ColorSpace space = ColorSpace::Rgb;
    {
        std::lock_guard calls(library.calls);
        const std::int32_t status = library.load(file.c_str(), ext.text, &image);
        if (status != PICTORIX_PLUGIN_OK) throw Error(StatusMessage(status, false));
        // Read before LibFreeImage: the text may live in what it frees.
        space = ReportedColorSpace(image.Options);
        try {
            loaded = BuildPicture(image);
        } catch (...) {
            library.free(&image);
            throw;
        }
        library.free(&image);
    }

    Bitmap& picture = loaded.picture;
    if (picture.bitsPerPixel() == 24) {
        if (space == ColorSpace::YCbCr) YCbCrToRgb(picture);
        if (space == ColorSpace::Lab) LabToRgb(picture);
    }
    if (loaded.channels > 3)
        throw Error("The image contains " + std::to_string(loaded.channels) + " color planes, only 3 were loaded");

    // Assigned only now, so that a failure leaves the bitmap as it was.
    const Color fill = bitmap.fillColor();
    bitmap = std::move(picture);
    bitmap.setFillColor(fill);
}

void PluginLoader::Save(const std::string& path, const Bitmap& bitmap, const std::string& options) {
    std::shared_ptr<Library> library = Choose(path, true);
    SaveWith(*library, path, PluginExtension(path), bitmap, options);
}

ByteVector PluginLoader::Encode(const Bitmap& bitmap, const std::string& extension, const std::string& options) {
    const std::string name = "picture." + extension;
    std::shared_ptr<Library> library = Choose(name, true);
    ScratchFolder scratch;
    const std::string file = scratch.file(name);
    SaveWith(*library, file, PluginExtension(name), bitmap, options);
    if (!FileExists(file)) throw Error("Error writing image file: the codec plug-in wrote no file");
    return ReadFileBytes(file);
}

void PluginLoader::SaveWith(Library& library, const std::string& file, const std::string& extension,
                            const Bitmap& bitmap, const std::string& options) {
    {
        std::lock_guard lock(mutex_);
        optionText_ = options;
    }
    // 8 and 24 bits go as they are; 1, 4 and 16 bits as 24. 32 bits are refused.
    const Bitmap* source = &bitmap;
    Bitmap converted;
    const int bpp = bitmap.bitsPerPixel();
    if (bpp != 8 && bpp != 24 && bpp != 32) {
        converted = bitmap;
        converted.setBitsPerPixel(24);
        source = &converted;
    }
    if (source->bitsPerPixel() == 32) throw Error("Unsupported pixel format");

    const int w = source->width();
    const int h = std::max(source->height(), 0);
    const int bytesPerPixel = source->bitsPerPixel() == 8 ? 1 : 3;
    const std::size_t rowLength = static_cast<std::size_t>(std::max(w, 0)) * bytesPerPixel;
    std::vector<std::uint8_t> pixels(rowLength * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        if (rowLength) std::memcpy(pixels.data() + rowLength * y, source->row(y), rowLength);
    std::vector<std::uint8_t> palette;
    if (bytesPerPixel == 1) {
        palette.assign(256 * 3, 0);
        const Palette& colors = source->palette();
        for (std::size_t i = 0; i < std::min<std::size_t>(colors.size(), 256); ++i) {
            palette[3 * i] = static_cast<std::uint8_t>(GetB(colors[i]));
            palette[3 * i + 1] = static_cast<std::uint8_t>(GetG(colors[i]));
            palette[3 * i + 2] = static_cast<std::uint8_t>(GetR(colors[i]));
        }
    }

    TImageContainer image{};
    image.Width = w;
    image.Height = source->height();
    image.BytesPerLine = static_cast<std::int32_t>(rowLength);
    image.PixelFormat = bytesPerPixel == 1 ? 1 : 3;
    image.Pixels = pixels.data();
    image.Palette = palette.empty() ? nullptr : palette.data();
    image.Options = options.c_str();
    ExtensionBuffer ext(extension);

    std::int32_t status;
    {
        std::lock_guard calls(library.calls);
        status = library.save(file.c_str(), ext.text, &image);
    }
    if (status != PICTORIX_PLUGIN_OK) throw Error(StatusMessage(status, true));
}

std::string Jp2OptionText(int quality) {
    quality = std::clamp(quality, 0, 100);
    const double rate = 0.28 * std::exp2((quality - 75) / 12.5);
    if (rate >= 1.0) return "rate=1";
    char text[32];
    std::snprintf(text, sizeof text, "rate=%.4g", rate);
    return text;
}

}  // namespace pictorix
