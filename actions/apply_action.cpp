#include "actions/apply_action.h"

#include <array>
#include <string_view>

#include "core/error.h"

namespace pictorix {

namespace {
constexpr std::array<std::string_view, 10> kKinds = {"rotate",   "mirror",   "resize",     "canvassize",    "crop",
                                                     "contrast", "brightness", "blur", "textwatermark", "picturewatermark"};
}

void ApplyAction(const std::string& action, Bitmap& /*bitmap*/, ActionPurpose /*purpose*/) {
    std::string_view kind(action);
    kind = kind.substr(0, kind.find(';'));
    for (std::string_view known : kKinds) {
        if (kind == known)
            throw Error("The action \"" + std::string(kind) + "\" is not available in this version yet");
    }
    // Unknown kinds (misspelt keywords, empty lines of an action list file) change nothing.
}

}  // namespace pictorix
