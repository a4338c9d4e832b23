#pragma once
// Dr. Halo pictures (.cut) in content probing.
//
// A .cut file begins with its width and height and nothing else: there is no
// signature by which its content could be told from any other data. The reader takes
// its place in the probe order of the general reading route, but its test never
// passes, so Dr. Halo pictures are not recognised by content (they end as "not a
// picture that Pictorix can read") and there is no decoder behind the probe.
#include <cstddef>
#include <cstdint>

#include "pictureio/codecs/codec.h"

namespace pictorix::drhalo {

// The probe reads nothing, so it needs no header bytes.
constexpr std::size_t kProbeHeaderLength = 0;

// Always false.
bool Probe(ByteSpan header, std::uint64_t remaining);

}  // namespace pictorix::drhalo
