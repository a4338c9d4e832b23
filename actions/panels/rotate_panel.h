#pragma once
// The rotate panel: the angle on a slider with a box of its own, and the colour of the
// area the rotation uncovers.
#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include "actions/panels/action_panel.h"

class Tfrmgb2rotate : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2rotate(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    // The write-back: the slider is the master of the angle.
    void tbrotateimgChange();
    // The box moves the slider.
    void serotateimgChange();
    void UpDown11Click();
    void Button8Click();

   private:
    QSlider* tbrotateimg_;
    QComboBox* serotateimg_;
    UpDown* UpDown11_;
    QLabel* colourLabel_;
    QLabel* imgrotatecolor_;
    QPushButton* Button8_;
    std::int32_t colour_ = 0x00FFFFFF;
};
