#include "pictureio/codecs/eps.h"

#include <string>

#include "core/error.h"
#include "pictureio/codecs/tiff.h"

namespace pictorix::eps {

namespace {

constexpr std::uint32_t kKey = 0xC6D3D0C5;

[[noreturn]] void Fail(const std::string& cause) { throw Error("EPS: " + cause); }

}  // namespace

bool Probe(ByteSpan header, std::uint64_t remaining) {
    if (header.size() < kProbeHeaderLength || remaining <= kProbeHeaderLength) return false;
    if (ReadLE32(header, 0) != kKey) return false;
    // Both compared as signed numbers: an offset or length with the top bit set is
    // negative and refused.
    const auto offset = static_cast<std::int32_t>(ReadLE32(header, 20));
    const auto length = static_cast<std::int32_t>(ReadLE32(header, 24));
    return offset > static_cast<std::int32_t>(kProbeHeaderLength) && length > 0;
}

void Read(ByteSpan file, Bitmap& out) {
    if (file.size() < kProbeHeaderLength) Fail("file is truncated");
    if (ReadLE32(file, 0) != kKey) Fail("no binary EPS header");
    const std::uint64_t offset = ReadLE32(file, 20);
    const std::uint64_t length = ReadLE32(file, 24);
    if (length == 0) Fail("the file has no TIFF preview");
    if (offset < kProbeHeaderLength || offset > file.size() || length > file.size() - offset)
        Fail("the TIFF preview lies outside the file");
    try {
        tiff::Read(file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)), out);
    } catch (const Error& e) {
        throw Error(std::string("EPS: ") + e.what());
    }
}

}  // namespace pictorix::eps
