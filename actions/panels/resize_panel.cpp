#include "actions/panels/resize_panel.h"

#include <QSignalBlocker>

#include "ui/widgets.h"

namespace {

const char* const kModes[] = {"both", "width", "height"};

}  // namespace

Tfrmgb2resize::Tfrmgb2resize(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "resize", QStringLiteral("Resize"), QStringLiteral("frmgb2resize"), parent) {
    QGroupBox* box = groupBox();
    const QStringList units = {QStringLiteral("pixels"), QStringLiteral("percent")};
    widthLabel_ = MakeLabel(box, QStringLiteral("Width:"), 16, 36);
    sewidth_ = MakeNumberBox(box, "sewidth", 5, 0, 10000, 100);
    sewidth_.edit->setGeometry(70, 32, 60, 24);
    lbwt_ = MakeList(box, QStringLiteral("lbwt"), units);
    lbwt_->setGeometry(0, 32, 90, 24);
    heightLabel_ = MakeLabel(box, QStringLiteral("Height:"), 16, 68);
    seheight_ = MakeNumberBox(box, "seheight", 5, 0, 10000, 100);
    seheight_.edit->setGeometry(70, 64, 60, 24);
    lbht_ = MakeList(box, QStringLiteral("lbht"), units);
    lbht_->setGeometry(0, 64, 90, 24);
    MakeLabel(box, QStringLiteral("Use:"), 16, 104, "Label3");
    lbuse_ = MakeList(box, QStringLiteral("lbuse"),
                      {QStringLiteral("Both width and height"), QStringLiteral("Width (keep aspect ratio)"),
                       QStringLiteral("Height (keep aspect ratio)")});
    lbuse_->setGeometry(16, 122, 200, 24);
    for (QLineEdit* edit : {sewidth_.edit, seheight_.edit}) InstallKeyFilter(edit, KeyFilterKind::Digits);
    AlignColumn({{widthLabel_, sewidth_, lbwt_}, {heightLabel_, seheight_, lbht_}});
    lbuse_->resize(lbwt_->x() + lbwt_->width() - lbuse_->x(), lbuse_->height());

    for (QLineEdit* edit : {sewidth_.edit, seheight_.edit})
        connect(edit, &QLineEdit::textChanged, this, &Tfrmgb2resize::sewidthChange);
    for (QComboBox* list : {lbwt_, lbht_, lbuse_})
        connect(list, &QComboBox::currentIndexChanged, this, &Tfrmgb2resize::sewidthChange);
}

void Tfrmgb2resize::fill(const pictorix::ActionFields& fields) {
    sewidth_.edit->setText(QString::fromStdString(fields.text(1)));
    seheight_.edit->setText(QString::fromStdString(fields.text(2)));
    SelectUnit(lbwt_, fields.text(3));
    SelectUnit(lbht_, fields.text(4));
    const std::string& mode = fields.text(5);
    for (int i = 0; i < 3; ++i)
        if (mode == kModes[i]) lbuse_->setCurrentIndex(i);
}

std::string Tfrmgb2resize::compose() const {
    const int mode = lbuse_->currentIndex();
    return "resize;" + sewidth_.edit->text().toStdString() + ";" + seheight_.edit->text().toStdString() + ";" +
           UnitWord(lbwt_->currentIndex()) + ";" + UnitWord(lbht_->currentIndex()) + ";" +
           kModes[mode >= 0 && mode < 3 ? mode : 0];
}

void Tfrmgb2resize::sewidthChange() { writeBack(); }

void Tfrmgb2resize::DKLanguageController1LanguageChanged() {
    AlignColumn({{widthLabel_, sewidth_, lbwt_}, {heightLabel_, seheight_, lbht_}});
    lbuse_->resize(lbwt_->x() + lbwt_->width() - lbuse_->x(), lbuse_->height());
    // The translated lists start again from their first entries; the action keeps its
    // words until the next change in this panel writes what the lists show.
    for (QComboBox* list : {lbwt_, lbht_, lbuse_}) {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(0);
    }
}
