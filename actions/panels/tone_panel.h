#pragma once
// What the contrast and brightness panels share: a slider from -100 to 100 that is
// the master of the value, and a signed box with arrows that moves it.
#include <QSlider>

#include "actions/panels/action_panel.h"

class TonePanel : public ActionPanel {
    Q_OBJECT
   public:
    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;

   protected:
    struct Names {
        const char* kind;
        const char* caption;
        const char* objectName;
        const char* sliderLabel;
        const char* slider;
        const char* box;
        int arrowsMinimum;
        int arrowsMaximum;
    };
    TonePanel(ActionPanelHost& host, const Names& names, QWidget* parent);

    // The write-back, then the box follows the slider.
    void sliderChange();
    // The box moves the slider, which clamps.
    void boxChange();

    QSlider* slider_;
    NumberBox box_;
};
