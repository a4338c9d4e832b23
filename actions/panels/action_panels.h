#pragma once
// Creating the panel of an action kind.
#include <memory>

#include "actions/action_kinds.h"
#include "actions/panels/action_panel.h"

// A new panel for actions of the kind, not yet filled.
ActionPanel* CreateActionPanel(pictorix::ActionKind kind, ActionPanelHost& host, QWidget* parent = nullptr);
