#pragma once
// The empty panel, shown while no action is selected.
#include "actions/panels/action_panel.h"

class Tfrmgb2actionsettings : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2actionsettings(ActionPanelHost& host, QWidget* parent = nullptr);
};
