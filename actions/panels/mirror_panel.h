#pragma once
// The mirror panel: the two independent swaps.
#include <QCheckBox>

#include "actions/panels/action_panel.h"

class Tfrmgb2mirror : public ActionPanel {
    Q_OBJECT
   public:
    explicit Tfrmgb2mirror(ActionPanelHost& host, QWidget* parent = nullptr);

    void fill(const pictorix::ActionFields& fields) override;
    std::string compose() const override;

    void cbverClick();

   private:
    QCheckBox* cbver_;
    QCheckBox* cbhor_;
};
