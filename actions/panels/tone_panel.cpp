#include "actions/panels/tone_panel.h"

#include "ui/widgets.h"

TonePanel::TonePanel(ActionPanelHost& host, const Names& names, QWidget* parent)
    : ActionPanel(host, names.kind, QString::fromLatin1(names.caption), QString::fromLatin1(names.objectName), parent) {
    QGroupBox* box = groupBox();
    MakeLabel(box, QString::fromLatin1(names.sliderLabel), 16, 28);
    slider_ = new QSlider(Qt::Horizontal, box);
    slider_->setObjectName(QString::fromLatin1(names.slider));
    slider_->setRange(-100, 100);
    slider_->setGeometry(16, 48, 290, 26);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(100);
    MakeLabel(box, QStringLiteral("-100%"), 16, 76);
    QLabel* middle = MakeLabel(box, QStringLiteral("0%"), 0, 76);
    middle->move(16 + 145 - middle->width() / 2, 76);
    QLabel* right = MakeLabel(box, QStringLiteral("100%"), 0, 76);
    right->move(16 + 290 - right->width(), 76);

    box_ = MakeNumberBox(box, names.box, 4, names.arrowsMinimum, names.arrowsMaximum, 0);
    box_.edit->setGeometry(16, 104, 60, 24);
    box_.arrows->setGeometry(box_.edit->x() + box_.edit->width(), 104, box_.arrows->width(), 24);
    InstallKeyFilter(box_.edit, KeyFilterKind::Signed, -100, 100);

    connect(slider_, &QSlider::valueChanged, this, &TonePanel::sliderChange);
    connect(box_.edit, &QLineEdit::textChanged, this, &TonePanel::boxChange);
}

void TonePanel::fill(const pictorix::ActionFields& fields) {
    slider_->setValue(fields.integer(1));
    box_.edit->setText(QString::number(slider_->value()));
}

std::string TonePanel::compose() const { return kind() + ";" + std::to_string(slider_->value()); }

void TonePanel::sliderChange() {
    if (!writeBack()) return;
    const QString shown = QString::number(slider_->value());
    if (box_.edit->text() != shown) box_.edit->setText(shown);
}

void TonePanel::boxChange() {
    const QString text = box_.edit->text();
    if (text.isEmpty() || text == QLatin1String("-")) return;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok) slider_->setValue(value);
}
