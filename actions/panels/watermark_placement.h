#pragma once
// The placement controls both watermark panels share, in field order: position list,
// X and Y offsets with their unit lists, opacity, rotation and transparency (fields 1
// to 8). The picture panel's controls carry the prefix "p".
#include <QCheckBox>
#include <QComboBox>
#include <string>

#include "actions/panels/action_panel.h"

struct WatermarkPlacement {
    // Builds the controls in `box` from `top` down; the transparency check box is captioned
    // `transparencyCaption`. Returns the y below the last row.
    int build(QWidget* box, const char* prefix, const QString& transparencyCaption, int top);

    // Fields 1 to 8; stops at the first missing or malformed one.
    void fill(const pictorix::ActionFields& fields);
    // Fields 1 to 8, each followed by ";".
    std::string compose() const;
    // After a language change: the offset boxes line up behind the wider offset label, the
    // opacity and rotation boxes follow their own labels, and the refilled position and
    // unit lists start from their first entries.
    void languageChanged();

    QComboBox* direction = nullptr;
    QLabel* xLabel = nullptr;
    QLabel* yLabel = nullptr;
    NumberBox x;
    NumberBox y;
    QComboBox* xUnit = nullptr;
    QComboBox* yUnit = nullptr;
    NumberBox opacity;
    QComboBox* rotation = nullptr;
    UpDown* rotationArrows = nullptr;
    QCheckBox* transparent = nullptr;
    QLabel* opacityLabel = nullptr;
    QLabel* percentLabel = nullptr;
    QLabel* rotationLabel = nullptr;
    QLabel* degreesLabel = nullptr;
};
