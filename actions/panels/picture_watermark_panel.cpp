#include "actions/panels/picture_watermark_panel.h"

#include <QEvent>

Tfrmgb2picturewm::Tfrmgb2picturewm(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "picturewatermark", QStringLiteral("Picture Watermark"), QStringLiteral("frmgb2picturewm"),
                  parent) {
    QGroupBox* box = groupBox();
    MakeLabel(box, QStringLiteral("Watermark image:"), 16, 26);
    eb1_ = new QLineEdit(box);
    eb1_->setObjectName(QStringLiteral("eb1"));
    eb1_->setReadOnly(true);
    bb1_ = new QPushButton(QStringLiteral("Browse..."), box);
    bb1_->setObjectName(QStringLiteral("bb1"));
    bb1_->adjustSize();
    const int right = 308;
    bb1_->move(right - bb1_->width(), 44);
    eb1_->setGeometry(16, 44, bb1_->x() - 4 - 16, bb1_->height());

    int row = placement_.build(box, "p", QStringLiteral("Use transparency"), 80);
    colourLabel_ = MakeLabel(box, QStringLiteral("Color:"), 34, row + 6, "lbltrcolor");
    imgtrcolor_ = MakeSwatch(box, "imgtrcolor");
    imgtrcolor_->move(colourLabel_->x() + colourLabel_->width() + 5, row);
    Button8_ = new QPushButton(QStringLiteral("Change..."), box);
    Button8_->setObjectName(QStringLiteral("Button8"));
    Button8_->adjustSize();
    Button8_->move(imgtrcolor_->x() + imgtrcolor_->width() + 5, row + 12 - Button8_->height() / 2);
    fillbtn(imgtrcolor_, colour_);

    connect(eb1_, &QLineEdit::textChanged, this, &Tfrmgb2picturewm::eb1Change);
    connect(bb1_, &QPushButton::clicked, this, &Tfrmgb2picturewm::bb1Click);
    connect(Button8_, &QPushButton::clicked, this, &Tfrmgb2picturewm::Button8Click);
    for (QComboBox* list : {placement_.direction, placement_.xUnit, placement_.yUnit, placement_.rotation})
        connect(list, &QComboBox::activated, this, &Tfrmgb2picturewm::eb1Change);
    // Checking or unchecking, also while the panel is filled, brings the colour's controls in step.
    connect(placement_.transparent, &QCheckBox::toggled, this, &Tfrmgb2picturewm::eb1Change);
    for (QLineEdit* edit : {placement_.x.edit, placement_.y.edit, placement_.opacity.edit})
        edit->installEventFilter(this);
}

bool Tfrmgb2picturewm::eventFilter(QObject* watched, QEvent* event) {
    // A click into the X, Y or opacity box writes what the boxes hold.
    if (event->type() == QEvent::MouseButtonRelease) eb1Change();
    return ActionPanel::eventFilter(watched, event);
}

void Tfrmgb2picturewm::fill(const pictorix::ActionFields& fields) {
    placement_.fill(fields);
    eb1_->setText(QString::fromStdString(fields.text(9)));
    colour_ = fields.colour(10);
    fillbtn(imgtrcolor_, colour_);
}

std::string Tfrmgb2picturewm::compose() const {
    return "picturewatermark;" + placement_.compose() + eb1_->text().toStdString() + ";" +
           pictorix::ColourField(colour_);
}

void Tfrmgb2picturewm::eb1Change() {
    writeBack();
    const bool transparent = placement_.transparent->isChecked();
    for (QWidget* w :
         {static_cast<QWidget*>(colourLabel_), static_cast<QWidget*>(imgtrcolor_), static_cast<QWidget*>(Button8_)})
        w->setEnabled(transparent);
}

void Tfrmgb2picturewm::bb1Click() {
    const QString path = panelDialogs().openPicture(this);
    if (!path.isEmpty()) eb1_->setText(path);
}

void Tfrmgb2picturewm::Button8Click() {
    const auto chosen = panelDialogs().chooseColour(this, colour_);
    if (!chosen) return;
    colour_ = *chosen;
    fillbtn(imgtrcolor_, colour_);
    eb1Change();
}

void Tfrmgb2picturewm::DKLanguageController1LanguageChanged() { placement_.languageChanged(); }
