#pragma once
// The contrast panel.
#include "actions/panels/tone_panel.h"

class Tfrmgb2contrast : public TonePanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2contrast(ActionPanelHost& host, QWidget* parent = nullptr);

    void tb2contrastChange() { sliderChange(); }
    void se2contrastChange() { boxChange(); }
};
