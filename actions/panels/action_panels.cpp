#include "actions/panels/action_panels.h"

#include "actions/panels/blur_panel.h"
#include "actions/panels/brightness_panel.h"
#include "actions/panels/canvas_size_panel.h"
#include "actions/panels/contrast_panel.h"
#include "actions/panels/crop_panel.h"
#include "actions/panels/mirror_panel.h"
#include "actions/panels/picture_watermark_panel.h"
#include "actions/panels/resize_panel.h"
#include "actions/panels/rotate_panel.h"
#include "actions/panels/text_watermark_panel.h"

ActionPanel* CreateActionPanel(pictorix::ActionKind kind, ActionPanelHost& host, QWidget* parent) {
    using pictorix::ActionKind;
    switch (kind) {
        case ActionKind::Rotate: return new Tfrmgb2rotate(host, parent);
        case ActionKind::Mirror: return new Tfrmgb2mirror(host, parent);
        case ActionKind::Resize: return new Tfrmgb2resize(host, parent);
        case ActionKind::CanvasSize: return new Tfrmgb2canvassize(host, parent);
        case ActionKind::Crop: return new Tfrmgb2crop(host, parent);
        case ActionKind::Contrast: return new Tfrmgb2contrast(host, parent);
        case ActionKind::Brightness: return new Tfrmgb2brightness(host, parent);
        case ActionKind::Blur: return new Tfrmgb2blur(host, parent);
        case ActionKind::TextWatermark: return new Tfrmgb2textwm(host, parent);
        case ActionKind::PictureWatermark: return new Tfrmgb2picturewm(host, parent);
    }
    return nullptr;
}
