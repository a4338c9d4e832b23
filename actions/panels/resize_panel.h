#pragma once
// The resize panel: the new width and height with their units, and which of them to set.
#include <QComboBox>

#include "actions/panels/action_panel.h"

class Tfrmgb2resize : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2resize(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    void sewidthChange();

   private:
    QLabel* widthLabel_;
    QLabel* heightLabel_;
    NumberBox sewidth_;
    NumberBox seheight_;
    QComboBox* lbwt_;
    QComboBox* lbht_;
    QComboBox* lbuse_;
};
