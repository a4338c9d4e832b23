#pragma once
// The ten action kinds: keyword, the string a newly added action carries, and the
// caption constant under which the action is listed.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace pictorix {

enum class ActionKind {
    Rotate,
    Mirror,
    Resize,
    CanvasSize,
    Crop,
    Contrast,
    Brightness,
    Blur,
    TextWatermark,
    PictureWatermark,
};

struct ActionKindInfo {
    ActionKind kind;
    const char* keyword;          // field 0, lower case: "rotate", "canvassize", ...
    const char* defaultString;    // the action a newly added action of the kind carries
    const char* captionConstant;  // message constant of the caption: "sactions_rotate", ...
    const char* englishCaption;   // that constant's English text: "Rotate", "Canvas Size", ...
};

// All ten kinds, in their fixed order.
const std::array<ActionKindInfo, 10>& ActionKinds();

const ActionKindInfo& KindInfo(ActionKind kind);

// The kind named by a keyword, compared exactly and case-sensitively; nothing for any
// other text ("Rotate", "", "rotate " are unknown).
std::optional<ActionKind> KindOfKeyword(std::string_view keyword);

// The kind of an action string (its field 0); nothing for an unknown kind.
std::optional<ActionKind> KindOfAction(std::string_view action);

// The default action string of a kind, e.g. "rotate;0;16777215;".
std::string DefaultActionString(ActionKind kind);

}  // namespace pictorix
