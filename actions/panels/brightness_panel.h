#pragma once
// The brightness panel. Its arrows step further than the slider goes; the slider
// clamps what they set.
#include "actions/panels/tone_panel.h"

class Tfrmgb2brightness : public TonePanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2brightness(ActionPanelHost& host, QWidget* parent = nullptr);

    void tb2brightnessChange() { sliderChange(); }
    void se2brightnessChange() { boxChange(); }
};
