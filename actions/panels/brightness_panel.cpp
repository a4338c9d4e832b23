#include "actions/panels/brightness_panel.h"

Tfrmgb2brightness::Tfrmgb2brightness(ActionPanelHost& host, QWidget* parent)
    : TonePanel(host,
                {"brightness", "Brightness", "frmgb2brightness", "Brightness value", "tb2brightness", "se2brightness",
                 -255, 255},
                parent) {}
