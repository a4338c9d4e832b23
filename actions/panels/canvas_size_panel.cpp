#include "actions/panels/canvas_size_panel.h"

#include "ui/widgets.h"

Tfrmgb2canvassize::Tfrmgb2canvassize(ActionPanelHost& host, QWidget* parent)
    : ActionPanel(host, "canvassize", QStringLiteral("Canvas size"), QStringLiteral("frmgb2canvassize"), parent) {
    QGroupBox* box = groupBox();
    const struct {
        const char* label;
        const char* box;
    } rows[] = {{"Width:", "se2canvaswidth"}, {"Height:", "se2canvasheight"}};
    int y = 32;
    for (const auto& row : rows) {
        QLabel* label = MakeLabel(box, QString::fromLatin1(row.label), 16, y + 4);
        NumberBox number = MakeNumberBox(box, row.box, 5, 0, 10000, 100);
        number.edit->setGeometry(70, y, 60, 24);
        InstallKeyFilter(number.edit, KeyFilterKind::Digits);
        rows_.push_back({label, number, MakeLabel(box, QStringLiteral("pixels"), 0, y + 4)});
        connect(number.edit, &QLineEdit::textChanged, this, &Tfrmgb2canvassize::se2canvaswidthChange);
        y += 32;
    }
    AlignColumn(rows_);
}

void Tfrmgb2canvassize::fill(const pictorix::ActionFields& fields) {
    rows_[0].box.edit->setText(QString::fromStdString(fields.text(1)));
    rows_[1].box.edit->setText(QString::fromStdString(fields.text(2)));
}

std::string Tfrmgb2canvassize::compose() const {
    return "canvassize;" + rows_[0].box.edit->text().toStdString() + ";" + rows_[1].box.edit->text().toStdString();
}

void Tfrmgb2canvassize::se2canvaswidthChange() { writeBack(); }

void Tfrmgb2canvassize::DKLanguageController1LanguageChanged() { AlignColumn(rows_); }
