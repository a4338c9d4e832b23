#pragma once
// Applying one action string to the working bitmap.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

enum class ActionPurpose { ConversionRun, Preview };

// Applies the action by its kind (field 0). A line whose kind is not one of the ten
// action kinds is passed over; a malformed action of a known kind throws Error.
void ApplyAction(const std::string& action, Bitmap& bitmap, ActionPurpose purpose);

}  // namespace pictorix
