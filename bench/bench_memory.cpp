// The benchmarks run with the programs' memory policy, so that they measure what the
// programs do.
#include "core/memory_policy.h"

namespace {
[[maybe_unused]] const bool kPolicy = (pictorix::KeepPictureMemory(), true);
}  // namespace
