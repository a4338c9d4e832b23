#include "actions/panels/crop_panel.h"

#include "ui/widgets.h"

Tfrmgb2crop::Tfrmgb2crop(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "crop", QStringLiteral("Crop"), QStringLiteral("frmgb2crop"), parent) {
    QGroupBox* box = groupBox();
    se2cropedge_ = new QRadioButton(QStringLiteral("Crop from edge"), box);
    se2cropedge_->setObjectName(QStringLiteral("se2cropedge"));
    se2cropedge_->setChecked(true);
    se2cropedge_->move(16, 28);
    se2cropedge_->adjustSize();
    se2cropcenter_ = new QRadioButton(QStringLiteral("Crop from center"), box);
    se2cropcenter_->setObjectName(QStringLiteral("se2cropcenter"));
    se2cropcenter_->adjustSize();

    const struct {
        const char* label;
        const char* box;
    } rows[] = {{"Top:", "se2croptop"},     {"Bottom:", "se2cropbottom"}, {"Left:", "se2cropleft"},
                {"Right:", "se2cropright"}, {"Width:", "se2cropwidth"},   {"Height:", "se2cropheight"}};
    int y = 54;
    for (int i = 0; i < 6; ++i) {
        if (i == 4) {
            // The centre rectangle's sizes stand under their own button.
            se2cropcenter_->move(16, y + 4);
            y += 30;
        }
        QLabel* label = MakeLabel(box, QString::fromLatin1(rows[i].label), 32, y + 4);
        NumberBox number = MakeNumberBox(box, rows[i].box, 5, 0, 10000, 100);
        number.edit->setGeometry(90, y, 60, 24);
        InstallKeyFilter(number.edit, KeyFilterKind::Digits);
        rows_.push_back({label, number, MakeLabel(box, QStringLiteral("pixels"), 0, y + 4)});
        connect(number.edit, &QLineEdit::textChanged, this, &Tfrmgb2crop::se2croptopChange);
        y += 30;
    }
    AlignColumn(rows_);
    connect(se2cropedge_, &QRadioButton::clicked, this, &Tfrmgb2crop::se2croptopChange);
    connect(se2cropcenter_, &QRadioButton::clicked, this, &Tfrmgb2crop::se2croptopChange);
}

void Tfrmgb2crop::fill(const pictorix::ActionFields& fields) {
    const std::string& mode = fields.text(1);
    if (mode == "edge")
        se2cropedge_->setChecked(true);
    else if (mode == "center")
        se2cropcenter_->setChecked(true);
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rows_[i].box.edit->setText(QString::fromStdString(fields.text(i + 2)));
}

std::string Tfrmgb2crop::compose() const {
    std::string action = "crop;";
    if (se2cropedge_->isChecked())
        action += "edge;";
    else if (se2cropcenter_->isChecked())
        action += "center;";
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i > 0) action += ";";
        action += rows_[i].box.edit->text().toStdString();
    }
    return action;
}

void Tfrmgb2crop::se2croptopChange() { writeBack(); }

void Tfrmgb2crop::DKLanguageController1LanguageChanged() { AlignColumn(rows_); }
