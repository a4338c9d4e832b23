#pragma once
// Codec plug-ins: shared libraries "*.so" in the program's folder that read and write
// picture formats through the C interface of plugin_abi.h (JPEG 2000 is one).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "pictureio/codecs/codec.h"

namespace pictorix {

class PluginLoader {
public:
    // The loader of the process. It scans the program's folder when it is first
    // needed, unless Scan was called before.
    static PluginLoader& Instance();

    PluginLoader();
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Replaces the libraries found so far by the plug-ins in `folder`, in name order.
    // A file that is not a loadable library, or lacks LibFreeImage or both of
    // LibLoadImage and LibSaveImage, is unloaded and skipped silently. Returns whether
    // at least one library was accepted.
    bool Scan(const std::string& folder);

    // The filters of the libraries that can read (write), joined with "|".
    std::string LoadFilter();
    std::string SaveFilter();
    // The distinct extensions that follow "*." in the load filters, as written there,
    // for open dialogs.
    std::vector<std::string> LoadExtensions();

    // Reads the file into `bitmap` through the first library whose load filter lists
    // the file's extension. On any failure the bitmap is left as it was.
    void Load(const std::string& path, Bitmap& bitmap);

    // Writes the bitmap to `path` through the first library whose save filter lists
    // the extension. `options` is handed to the library and kept as the option text
    // that later loads pass too.
    void Save(const std::string& path, const Bitmap& bitmap, const std::string& options);

    // The same for pictures in memory: the bytes go through a private temporary file
    // named with `path`'s extension, since plug-ins only work on files.
    void Decode(const std::string& path, ByteSpan data, Bitmap& bitmap);
    // `extension` (without the dot, any case) chooses the library.
    ByteVector Encode(const Bitmap& bitmap, const std::string& extension, const std::string& options);

    // The option text that loads pass: empty until the first save.
    std::string OptionText();

private:
    struct Library;
    using Libraries = std::vector<std::shared_ptr<Library>>;

    bool ScanLocked(const std::string& folder);
    std::shared_ptr<const Libraries> Current();
    std::shared_ptr<Library> Choose(const std::string& path, bool saving);
    void LoadWith(Library& library, const std::string& file, const std::string& extension, Bitmap& bitmap);
    void SaveWith(Library& library, const std::string& file, const std::string& extension, const Bitmap& bitmap,
                  const std::string& options);

    std::mutex scanMutex_;  // one scan at a time
    std::mutex mutex_;      // guards the members below, never held while a library runs
    bool scanned_ = false;
    std::shared_ptr<const Libraries> libraries_;
    std::string optionText_;
};

// The option text of JPEG 2000 output for a quality of 0 to 100: "rate=R", R the
// compressed size as a fraction of the raw size. 75 gives "rate=0.28"; every 12.5
// points double or halve the rate; "rate=1" (lossless) from 98 up.
std::string Jp2OptionText(int quality);

}  // namespace pictorix
