#include "actions/panels/mirror_panel.h"

Tfrmgb2mirror::Tfrmgb2mirror(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "mirror", QStringLiteral("Mirror"), QStringLiteral("frmgb2mirror"), parent) {
    QGroupBox* box = groupBox();
    cbver_ = new QCheckBox(QStringLiteral("Vertical"), box);
    cbver_->setObjectName(QStringLiteral("cbver"));
    cbver_->move(16, 32);
    cbver_->adjustSize();
    cbhor_ = new QCheckBox(QStringLiteral("Horizontal"), box);
    cbhor_->setObjectName(QStringLiteral("cbhor"));
    cbhor_->move(16, 58);
    cbhor_->adjustSize();
    connect(cbver_, &QCheckBox::clicked, this, &Tfrmgb2mirror::cbverClick);
    connect(cbhor_, &QCheckBox::clicked, this, &Tfrmgb2mirror::cbverClick);
}

void Tfrmgb2mirror::fill(const pictorix::ActionFields& fields) {
    cbver_->setChecked(fields.boolean(1));
    cbhor_->setChecked(fields.boolean(2));
}

std::string Tfrmgb2mirror::compose() const {
    return "mirror;" + pictorix::BooleanField(cbver_->isChecked()) + ";" + pictorix::BooleanField(cbhor_->isChecked());
}

void Tfrmgb2mirror::cbverClick() { writeBack(); }
