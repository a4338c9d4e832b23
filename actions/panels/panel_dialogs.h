#pragma once
// The real dialogs behind PanelDialogs.
#include <QString>
#include <optional>

#include "actions/panels/action_panel.h"

// A font dialog that also chooses the font's colour; nothing when cancelled.
std::optional<WatermarkFont> ChooseWatermarkFont(QWidget* parent, const WatermarkFont& current);

// The watermark picture to place: a full path, or empty when cancelled.
QString OpenWatermarkPicture(QWidget* parent);

// The filters of the watermark picture dialog, in the file dialog's form.
QString WatermarkPictureFilters();
