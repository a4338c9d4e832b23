#pragma once
// The crop panel: cut margins from the edges, or keep a centred rectangle.
#include <QRadioButton>

#include "actions/panels/action_panel.h"

class Tfrmgb2crop : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2crop(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    void se2croptopChange();

   private:
    QRadioButton* se2cropedge_;
    QRadioButton* se2cropcenter_;
    // Top, bottom, left, right, width, height: fields 2 to 7.
    std::vector<ColumnRow> rows_;
};
