#pragma once
// The text watermark panel: the placement, the background colour, the font and the text,
// which its box shows in that font on that background.
#include <QPlainTextEdit>
#include <QPushButton>

#include "actions/panels/watermark_placement.h"

class Tfrmgb2textwm : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2textwm(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;
    void DKLanguageController1LanguageChanged() override;

    void eb2Change();
    void btnfontClick();
    void btncolorClick();

   protected:
    void resizeEvent(QResizeEvent* event) override;

   private:
    // The text box takes the font and the background colour.
    void showLook();

    WatermarkPlacement placement_;
    QPushButton* btncolor_;
    QPushButton* btnfont_;
    QPlainTextEdit* eb2_;
    std::int32_t background_ = 0x00FFFFFF;
    WatermarkFont font_;
};
