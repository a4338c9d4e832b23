#pragma once
// The canvas size panel: the new width and height of the picture area.
#include "actions/panels/action_panel.h"

class Tfrmgb2canvassize : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2canvassize(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    void se2canvaswidthChange();

   private:
    std::vector<ColumnRow> rows_;
};
