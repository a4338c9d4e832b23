#include "actions/panels/rotate_panel.h"

#include "ui/widgets.h"

Tfrmgb2rotate::Tfrmgb2rotate(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "rotate", QStringLiteral("Rotate"), QStringLiteral("frmgb2rotate"), parent) {
    QGroupBox* box = groupBox();
    MakeLabel(box, QStringLiteral("Angle"), 16, 28);
    tbrotateimg_ = new QSlider(Qt::Horizontal, box);
    tbrotateimg_->setObjectName(QStringLiteral("tbrotateimg"));
    tbrotateimg_->setRange(0, 360);
    tbrotateimg_->setTickPosition(QSlider::NoTicks);
    tbrotateimg_->setGeometry(16, 48, 290, 26);

    serotateimg_ = new QComboBox(box);
    serotateimg_->setObjectName(QStringLiteral("serotateimg"));
    serotateimg_->setEditable(true);
    serotateimg_->setInsertPolicy(QComboBox::NoInsert);
    serotateimg_->addItems({QStringLiteral("45"), QStringLiteral("90"), QStringLiteral("180"), QStringLiteral("270")});
    serotateimg_->lineEdit()->setMaxLength(3);
    serotateimg_->setEditText(QStringLiteral("0"));
    serotateimg_->setGeometry(16, 84, 70, 24);
    UpDown11_ = new UpDown(box);
    UpDown11_->setObjectName(QStringLiteral("UpDown11"));
    UpDown11_->setRange(0, 360);
    UpDown11_->setBuddy(serotateimg_->lineEdit());
    UpDown11_->setGeometry(serotateimg_->x() + serotateimg_->width(), 84, UpDown11_->width(), 24);
    MakeLabel(box, QStringLiteral("degrees"), UpDown11_->x() + UpDown11_->width() + 5, 88);
    InstallKeyFilter(serotateimg_->lineEdit(), KeyFilterKind::Digits, 0, 360);

    colourLabel_ = MakeLabel(box, QStringLiteral("Backgroung color:"), 16, 130);
    imgrotatecolor_ = MakeSwatch(box, "imgrotatecolor");
    Button8_ = new QPushButton(QStringLiteral("Change..."), box);
    Button8_->setObjectName(QStringLiteral("Button8"));
    Button8_->adjustSize();
    fillbtn(imgrotatecolor_, colour_);
    DKLanguageController1LanguageChanged();

    connect(tbrotateimg_, &QSlider::valueChanged, this, &Tfrmgb2rotate::tbrotateimgChange);
    connect(serotateimg_->lineEdit(), &QLineEdit::textChanged, this, &Tfrmgb2rotate::serotateimgChange);
    connect(UpDown11_, &UpDown::changing, this, &Tfrmgb2rotate::UpDown11Click);
    connect(Button8_, &QPushButton::clicked, this, &Tfrmgb2rotate::Button8Click);
}

void Tfrmgb2rotate::fill(const pictorix::ActionFields& fields) {
    tbrotateimg_->setValue(fields.integer(1));
    colour_ = fields.colour(2);
    fillbtn(imgrotatecolor_, colour_);
    serotateimg_->setEditText(QString::number(tbrotateimg_->value()));
}

std::string Tfrmgb2rotate::compose() const {
    return "rotate;" + std::to_string(tbrotateimg_->value()) + ";" + pictorix::ColourField(colour_);
}

void Tfrmgb2rotate::tbrotateimgChange() {
    if (!writeBack()) return;
    const QString shown = QString::number(tbrotateimg_->value());
    if (serotateimg_->currentText() != shown) serotateimg_->setEditText(shown);
}

void Tfrmgb2rotate::serotateimgChange() {
    const QString text = serotateimg_->currentText();
    if (text.isEmpty()) return;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok) tbrotateimg_->setValue(value);
}

void Tfrmgb2rotate::UpDown11Click() { serotateimgChange(); }

void Tfrmgb2rotate::Button8Click() {
    if (const auto chosen = panelDialogs().chooseColour(this, colour_)) {
        colour_ = *chosen;
        fillbtn(imgrotatecolor_, colour_);
    }
    writeBack();
}

void Tfrmgb2rotate::DKLanguageController1LanguageChanged() {
    colourLabel_->adjustSize();
    const int y = colourLabel_->y() + colourLabel_->height() / 2;
    imgrotatecolor_->move(colourLabel_->x() + colourLabel_->width() + 5, y - imgrotatecolor_->height() / 2);
    Button8_->move(imgrotatecolor_->x() + imgrotatecolor_->width() + 5, y - Button8_->height() / 2);
}
