#include "actions/apply_action.h"

#include <string_view>

#include "actions/action_kinds.h"
#include "actions/action_string.h"
#include "core/error.h"
#include "operations/geometry.h"
#include "operations/resample.h"
#include "operations/tone.h"
#include "operations/watermark.h"

namespace pictorix {

namespace {

void Dispatch(ActionKind kind, const std::string& action, Bitmap& bitmap, ActionPurpose purpose) {
    const ActionFields fields(action);

    switch (kind) {
        case ActionKind::Resize:
            DoResize(action, bitmap);
            break;
        case ActionKind::Crop:
            DoCrop(action, bitmap);
            break;
        case ActionKind::Rotate: {
            const double angle = fields.real(1);
            const Color background = ResolveColour(fields.colour(2));
            RotateBitmap(bitmap, background, angle);
            break;
        }
        case ActionKind::Mirror: {
            const bool leftRight = fields.boolean(1);
            const bool topBottom = fields.boolean(2);
            if (leftRight) MirrorBitmap(bitmap, MirrorDirection::LeftRight);
            if (topBottom) MirrorBitmap(bitmap, MirrorDirection::TopBottom);
            break;
        }
        case ActionKind::CanvasSize: {
            const int width = fields.integer(1);
            const int height = fields.integer(2);
            CanvasSize(bitmap, width, height);
            break;
        }
        case ActionKind::Contrast:
            ChangeContrast(bitmap, fields.integer(1));
            break;
        case ActionKind::Brightness:
            ChangeBrightness(bitmap, fields.integer(1));
            break;
        case ActionKind::Blur: {
            const int tenths = fields.integer(1);
            if (purpose == ActionPurpose::ConversionRun) {
                GaussianBlur(bitmap, tenths / 10.0);
            } else {
                for (int pass = 0; pass <= tenths; ++pass) QuickBlur(bitmap);
            }
            break;
        }
        case ActionKind::TextWatermark:
            DoTextWatermark(action, bitmap);
            break;
        case ActionKind::PictureWatermark:
            DoPictureWatermark(action, bitmap);
            break;
    }
}

}  // namespace

void ApplyAction(const std::string& action, Bitmap& bitmap, ActionPurpose purpose) {
    const std::optional<ActionKind> kind = KindOfAction(action);
    // Unknown kinds (misspelt or capitalised keywords, empty lines of an action list
    // file) change nothing.
    if (!kind) return;
    try {
        Dispatch(*kind, action, bitmap, purpose);
    } catch (const Error& e) {
        // Every failure names the action it comes from; conversion errors already do.
        const std::string quoted = "\"" + action + "\"";
        if (std::string_view(e.what()).find(quoted) != std::string_view::npos) throw;
        throw Error("The action " + quoted + " failed: " + e.what());
    }
}

}  // namespace pictorix
