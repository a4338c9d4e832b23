#include "actions/panels/contrast_panel.h"

Tfrmgb2contrast::Tfrmgb2contrast(ActionPanelHost& host, QWidget* parent)
    : TonePanel(host,
                {"contrast", "Contrast", "frmgb2contrast", "Contrast value", "tb2contrast", "se2contrast", -100, 100},
                parent) {}
