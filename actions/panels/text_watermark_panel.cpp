#include "actions/panels/text_watermark_panel.h"

#include <QPalette>
#include <QScrollBar>
#include <algorithm>

Tfrmgb2textwm::Tfrmgb2textwm(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "textwatermark", QStringLiteral("Text Watermark"), QStringLiteral("frmgb2textwm"), parent) {
    QGroupBox* box = groupBox();
    int row = placement_.build(box, "", QStringLiteral("Transparent background"), 26);
    btncolor_ = new QPushButton(QStringLiteral("Background"), box);
    btncolor_->setObjectName(QStringLiteral("btncolor"));
    btncolor_->adjustSize();
    btncolor_->move(16, row);
    btnfont_ = new QPushButton(QStringLiteral("Font"), box);
    btnfont_->setObjectName(QStringLiteral("btnfont"));
    btnfont_->adjustSize();
    btnfont_->move(btncolor_->x() + btncolor_->width() + 6, row);
    row += btncolor_->height() + 6;
    eb2_ = new QPlainTextEdit(box);
    eb2_->setObjectName(QStringLiteral("eb2"));
    eb2_->setLineWrapMode(QPlainTextEdit::NoWrap);
    eb2_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    eb2_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    eb2_->setGeometry(16, row, 292, 80);
    showLook();

    connect(eb2_, &QPlainTextEdit::textChanged, this, &Tfrmgb2textwm::eb2Change);
    connect(placement_.direction, &QComboBox::currentIndexChanged, this, &Tfrmgb2textwm::eb2Change);
    for (QComboBox* list : {placement_.xUnit, placement_.yUnit})
        connect(list, &QComboBox::currentIndexChanged, this, &Tfrmgb2textwm::eb2Change);
    for (QLineEdit* edit :
         {placement_.x.edit, placement_.y.edit, placement_.opacity.edit, placement_.rotation->lineEdit()})
        connect(edit, &QLineEdit::textChanged, this, &Tfrmgb2textwm::eb2Change);
    connect(placement_.transparent, &QCheckBox::clicked, this, &Tfrmgb2textwm::eb2Change);
    connect(btnfont_, &QPushButton::clicked, this, &Tfrmgb2textwm::btnfontClick);
    connect(btncolor_, &QPushButton::clicked, this, &Tfrmgb2textwm::btncolorClick);
}

void Tfrmgb2textwm::resizeEvent(QResizeEvent* event) {
    ActionPanel::resizeEvent(event);
    // The text box takes what the panel has left below the buttons.
    const QWidget* box = groupBox();
    eb2_->resize(std::max(60, box->width() - 32), std::max(40, box->height() - eb2_->y() - 12));
}

void Tfrmgb2textwm::fill(const pictorix::ActionFields& fields) {
    placement_.fill(fields);
    background_ = fields.colour(9);
    font_.colour = fields.colour(10);
    font_.name = QString::fromStdString(fields.text(11));
    font_.size = fields.integer(12);
    font_.style = pictorix::str2fontstyle(fields.text(13));
    QStringList lines;
    for (std::size_t i = 14; i < fields.size(); ++i) lines << QString::fromStdString(fields.text(i));
    eb2_->setPlainText(lines.join(QLatin1Char('\n')));
    showLook();
}

std::string Tfrmgb2textwm::compose() const {
    std::string action = "textwatermark;" + placement_.compose() + pictorix::ColourField(background_) + ";" +
                         pictorix::ColourField(font_.colour) + ";" + font_.name.toStdString() + ";" +
                         std::to_string(font_.size) + ";" + pictorix::fontstyle2str(font_.style);
    // One field per line of the box; an empty box has no lines.
    const QString text = eb2_->toPlainText();
    if (!text.isEmpty())
        for (const QString& line : text.split(QLatin1Char('\n'))) action += ";" + line.toStdString();
    return action;
}

void Tfrmgb2textwm::eb2Change() { writeBack(); }

void Tfrmgb2textwm::btnfontClick() {
    const auto chosen = panelDialogs().chooseFont(this, font_);
    if (!chosen) return;
    font_ = *chosen;
    showLook();
    eb2Change();
}

void Tfrmgb2textwm::btncolorClick() {
    const auto chosen = panelDialogs().chooseColour(this, background_);
    if (!chosen) return;
    background_ = *chosen;
    showLook();
    eb2Change();
}

void Tfrmgb2textwm::showLook() {
    eb2_->setFont(ScreenFont(font_));
    QPalette palette = eb2_->palette();
    palette.setColor(QPalette::Base, ScreenColour(background_));
    palette.setColor(QPalette::Text, ScreenColour(font_.colour));
    eb2_->setPalette(palette);
}

void Tfrmgb2textwm::DKLanguageController1LanguageChanged() { placement_.languageChanged(); }
