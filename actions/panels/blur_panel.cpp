#include "actions/panels/blur_panel.h"

#include <QLocale>
#include <cstdlib>

QString TenthsText(int tenths) {
    const QString whole = QString::number(tenths / 10);
    const int tenth = std::abs(tenths % 10);
    QString text = (tenths < 0 && tenths > -10 ? QStringLiteral("-") : QString()) + whole;
    if (tenth != 0) text += QLocale().decimalPoint() + QString::number(tenth);
    return text;
}

Tfrmgb2blur::Tfrmgb2blur(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "blur", QStringLiteral("Blur"), QStringLiteral("frmgb2blur"), parent) {
    QGroupBox* box = groupBox();
    MakeLabel(box, QStringLiteral("Blur radius"), 16, 28);
    lbl2blur_ = MakeLabel(box, QString(), 110, 28, "lbl2blur");
    tb2blur_ = new QSlider(Qt::Horizontal, box);
    tb2blur_->setObjectName(QStringLiteral("tb2blur"));
    tb2blur_->setRange(0, 50);
    tb2blur_->setValue(5);
    tb2blur_->setTickPosition(QSlider::TicksBelow);
    tb2blur_->setTickInterval(5);
    tb2blur_->setGeometry(16, 48, 290, 26);
    // Fixed marks: they are not the locale's numbers.
    MakeLabel(box, QStringLiteral("0"), 16, 76);
    QLabel* middle = MakeLabel(box, QStringLiteral("2.5"), 0, 76);
    middle->move(16 + 145 - middle->width() / 2, 76);
    QLabel* right = MakeLabel(box, QStringLiteral("5.0"), 0, 76);
    right->move(16 + 290 - right->width(), 76);
    showRadius();
    connect(tb2blur_, &QSlider::valueChanged, this, &Tfrmgb2blur::tb2blurChange);
}

void Tfrmgb2blur::fill(const pictorix::ActionFields& fields) {
    tb2blur_->setValue(fields.integer(1));
    showRadius();
}

std::string Tfrmgb2blur::compose() const { return "blur;" + std::to_string(tb2blur_->value()); }

void Tfrmgb2blur::tb2blurChange() {
    if (!writeBack()) return;
    showRadius();
}

void Tfrmgb2blur::showRadius() {
    lbl2blur_->setText(TenthsText(tb2blur_->value()));
    lbl2blur_->adjustSize();
}
