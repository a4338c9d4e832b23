#pragma once
// The picture watermark panel. Unlike the other panels it writes back on a few events
// only (a chosen list entry, a click into a box, the transparency box, a new file or
// colour); what is typed in a box reaches the action at the next of them.
#include <QPushButton>

#include "actions/panels/watermark_placement.h"

class Tfrmgb2picturewm : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2picturewm(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    // The write-back; every run, written or not, enables the transparent colour's
    // controls exactly when transparency is used.
    void eb1Change();
    void bb1Click();
    void Button8Click();

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    WatermarkPlacement placement_;
    QLineEdit* eb1_;
    QPushButton* bb1_;
    QLabel* colourLabel_;
    QLabel* imgtrcolor_;
    QPushButton* Button8_;
    std::int32_t colour_ = 0x00FFFFFF;
};
