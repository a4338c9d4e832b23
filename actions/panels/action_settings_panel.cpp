#include "actions/panels/action_settings_panel.h"

Tfrmgb2actionsettings::Tfrmgb2actionsettings(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, std::string(), QStringLiteral("Action settings"), QStringLiteral("frmgb2actionsettings"),
                  parent) {}
