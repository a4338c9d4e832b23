#pragma once
// The blur panel: the radius in tenths of a pixel on a slider, shown in pixels.
#include <QSlider>

#include "actions/panels/action_panel.h"

class Tfrmgb2blur : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2blur(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;

    void tb2blurChange();

   private:
    void showRadius();

    QSlider* tb2blur_;
    QLabel* lbl2blur_;
};

// Tenths as a plain decimal number with the locale's decimal separator and no trailing
// zeros: 0 "0", 5 "0.5", 27 "2.7", 50 "5".
QString TenthsText(int tenths);
