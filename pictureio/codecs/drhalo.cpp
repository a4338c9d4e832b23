#include "pictureio/codecs/drhalo.h"

namespace pictorix::drhalo {

bool Probe(ByteSpan, std::uint64_t) {
    // Without a signature any acceptance test would take arbitrary files for Dr. Halo
    // pictures; none is made.
    return false;
}

}  // namespace pictorix::drhalo
