#pragma once
// Applying one action string to the working bitmap.
#include <string>

#include "core/bitmap.h"

namespace pictorix {

// A conversion run or the preview; they differ only in the blur.
enum class ActionPurpose { ConversionRun, Preview };

// Applies the action by its kind (field 0, compared exactly):
//   resize      DoResize with the whole action
//   crop        DoCrop with the whole action
//   rotate      RotateBitmap: angle = field 1 (a real number of degrees), background
//               = field 2 (a colour)
//   mirror      MirrorBitmap left-right if field 1 is true, then top-bottom if field 2 is
//   canvassize  CanvasSize to field 1 x field 2
//   contrast    ChangeContrast(field 1); brightness: ChangeBrightness(field 1)
//   blur        run: GaussianBlur(field 1 / 10); preview: QuickBlur field 1 + 1 times
//               (none when field 1 is negative)
//   textwatermark, picturewatermark   DoTextWatermark, DoPictureWatermark (watermark.h)
// Any other kind and an empty string are passed over without a message. A field that the kind needs and that is
// missing or does not convert throws Error naming the action; the fields a kind reads
// here are all converted before the bitmap is touched. No range is enforced: a value
// the operation refuses (a canvas size that leaves no pixels, say) fails in the
// operation, and that Error too comes out naming the action.
void ApplyAction(const std::string& action, Bitmap& bitmap, ActionPurpose purpose);

}  // namespace pictorix
