// Every reading route on hostile bytes: the first byte picks the route, the rest is
// the file. A reader may refuse the file with Error; anything else (a crash, a
// sanitizer report, another exception, an allocation beyond the limits) is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/error.h"
#include "fuzz/routes.h"
#include "pictureio/picture_io.h"

using namespace pictorix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string name = std::string("picture") + fuzz::RouteExtension(data[0]);
    // The working bitmap of a run may hold an earlier picture: drawing routes must
    // cope with that too.
    Bitmap bitmap(3, 2, (data[0] / fuzz::kRouteExtensions.size()) % 2 ? 8 : 24);
    try {
        DecodePicture(name, ByteSpan(data + 1, size - 1), bitmap);
    } catch (const Error&) {
        return 0;
    }
    // A picture that was read must be whole: every row readable, a palette for the
    // palette formats.
    if (bitmap.empty()) return 0;
    if (static_cast<std::uint64_t>(bitmap.width()) * static_cast<std::uint64_t>(bitmap.height()) > kMaxPixels)
        std::abort();
    volatile std::uint8_t sink = 0;
    for (int y = 0; y < bitmap.height(); ++y) sink = sink ^ bitmap.row(y)[bitmap.stride() - 1];
    if (bitmap.bitsPerPixel() <= 8) sink = sink ^ static_cast<std::uint8_t>(bitmap.pixel(bitmap.width() - 1, 0));
    return 0;
}
