#include "actions/action_kinds.h"

#include "actions/action_string.h"

namespace pictorix {

namespace {

// The watermark defaults are put together from their parts: the boolean true, the
// colour white, the window-text system colour and an empty font style.
const std::string& TextWatermarkDefault() {
    static const std::string text = "textwatermark;4;5;5;pixels;pixels;50;0;" + BooleanField(true) + ";" +
                                    ColourField(0xFFFFFF) + ";" + ColourField(kWindowTextColour) + ";" + "Arial;" +
                                    "12;" + fontstyle2str(FontStyle{}) + ";" + "Your Text";
    return text;
}

const std::string& PictureWatermarkDefault() {
    static const std::string text = "picturewatermark;4;5;5;pixels;pixels;50;0;" + BooleanField(true) + ";;" +
                                    ColourField(0xFFFFFF);
    return text;
}

}  // namespace

const std::array<ActionKindInfo, 10>& ActionKinds() {
    static const std::array<ActionKindInfo, 10> kinds = {{
        {ActionKind::Rotate, "rotate", "rotate;0;16777215;", "sactions_rotate", "Rotate"},
        {ActionKind::Mirror, "mirror", "mirror;0;0", "sactions_mirror", "Mirror"},
        {ActionKind::Resize, "resize", "resize;100;100;pixels;pixels;both", "sactions_resize", "Resize"},
        {ActionKind::CanvasSize, "canvassize", "canvassize;100;100", "sactions_canvassize", "Canvas Size"},
        {ActionKind::Crop, "crop", "crop;edge;10;10;10;10;100;100", "sactions_crop", "Crop"},
        {ActionKind::Contrast, "contrast", "contrast;0", "sactions_contrast", "Contrast"},
        {ActionKind::Brightness, "brightness", "brightness;0", "sactions_brightness", "Brightness"},
        {ActionKind::Blur, "blur", "blur;5", "sactions_blur", "Blur"},
        {ActionKind::TextWatermark, "textwatermark", TextWatermarkDefault().c_str(), "sactions_textwm",
         "Text watermark"},
        {ActionKind::PictureWatermark, "picturewatermark", PictureWatermarkDefault().c_str(), "sactions_picturewm",
         "Picture watermark"},
    }};
    return kinds;
}

const ActionKindInfo& KindInfo(ActionKind kind) {
    for (const ActionKindInfo& info : ActionKinds())
        if (info.kind == kind) return info;
    return ActionKinds()[0];  // not reached: every enumerator has its entry
}

std::optional<ActionKind> KindOfKeyword(std::string_view keyword) {
    for (const ActionKindInfo& info : ActionKinds())
        if (keyword == info.keyword) return info.kind;
    return std::nullopt;
}

std::optional<ActionKind> KindOfAction(std::string_view action) {
    return KindOfKeyword(action.substr(0, action.find(';')));
}

std::string DefaultActionString(ActionKind kind) { return KindInfo(kind).defaultString; }

}  // namespace pictorix
