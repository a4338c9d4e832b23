#include "actions/panels/watermark_placement.h"

#include <QSignalBlocker>

#include "ui/widgets.h"

namespace {

QString Prefixed(const char* prefix, const char* name) { return QString::fromLatin1(prefix) + QLatin1String(name); }

}  // namespace

int WatermarkPlacement::build(QWidget* box, const char* prefix, const QString& transparencyCaption, int top) {
    int row = top;
    MakeLabel(box, QStringLiteral("Position:"), 16, row + 4);
    direction = MakeList(box, Prefixed(prefix, "cbdirection"),
                         {QStringLiteral("Bottom-Left"), QStringLiteral("Botttom-Right"), QStringLiteral("Top-Left"),
                          QStringLiteral("Top-Right"), QStringLiteral("Center")});
    direction->setCurrentIndex(4);
    direction->setGeometry(90, row, 140, 24);
    row += 30;

    const QStringList units = {QStringLiteral("pixels"), QStringLiteral("percent")};
    xLabel = MakeLabel(box, QStringLiteral("X offset:"), 16, row + 4);
    x = MakeNumberBox(box, qPrintable(Prefixed(prefix, "sewmx")), 5, 0, 10000, 5);
    x.edit->setGeometry(90, row, 60, 24);
    xUnit = MakeList(box, Prefixed(prefix, "lbwmxt"), units);
    xUnit->setGeometry(0, row, 90, 24);
    row += 30;
    yLabel = MakeLabel(box, QStringLiteral("Y offset:"), 16, row + 4);
    y = MakeNumberBox(box, qPrintable(Prefixed(prefix, "sewmy")), 5, 0, 10000, 5);
    y.edit->setGeometry(90, row, 60, 24);
    yUnit = MakeList(box, Prefixed(prefix, "lbwmyt"), units);
    yUnit->setGeometry(0, row, 90, 24);
    AlignColumn({{xLabel, x, xUnit}, {yLabel, y, yUnit}});
    row += 30;

    opacityLabel = MakeLabel(box, QStringLiteral("Opacity:"), 16, row + 4);
    opacity = MakeNumberBox(box, qPrintable(Prefixed(prefix, "sewmopacity")), 3, 0, 100, 0);
    opacity.edit->setGeometry(opacityLabel->x() + opacityLabel->width() + 5, row, 45, 24);
    opacity.arrows->setGeometry(opacity.edit->x() + opacity.edit->width(), row, opacity.arrows->width(), 24);
    percentLabel = MakeLabel(box, QStringLiteral("%"), opacity.arrows->x() + opacity.arrows->width() + 5, row + 4);
    row += 30;

    rotationLabel = MakeLabel(box, QStringLiteral("Rotate Watermark:"), 16, row + 4);
    rotation = new QComboBox(box);
    rotation->setObjectName(Prefixed(prefix, "serotatewm"));
    rotation->setEditable(true);
    rotation->setInsertPolicy(QComboBox::NoInsert);
    rotation->addItems({QStringLiteral("45"), QStringLiteral("90"), QStringLiteral("180"), QStringLiteral("270")});
    rotation->lineEdit()->setMaxLength(3);
    rotation->setEditText(QStringLiteral("0"));
    rotation->setGeometry(rotationLabel->x() + rotationLabel->width() + 5, row, 60, 24);
    rotationArrows = new UpDown(box);
    rotationArrows->setObjectName(Prefixed(prefix, "serotatewmupdown"));
    rotationArrows->setRange(0, 360);
    rotationArrows->setBuddy(rotation->lineEdit());
    rotationArrows->setGeometry(rotation->x() + rotation->width(), row, rotationArrows->width(), 24);
    degreesLabel =
        MakeLabel(box, QStringLiteral("degrees"), rotationArrows->x() + rotationArrows->width() + 5, row + 4);
    row += 30;

    transparent = new QCheckBox(transparencyCaption, box);
    transparent->setObjectName(Prefixed(prefix, "cbtransparent"));
    transparent->setChecked(true);
    transparent->move(16, row);
    transparent->adjustSize();
    row += 26;

    for (QLineEdit* edit : {x.edit, y.edit}) InstallKeyFilter(edit, KeyFilterKind::Digits);
    InstallKeyFilter(opacity.edit, KeyFilterKind::Digits, 0, 100);
    InstallKeyFilter(rotation->lineEdit(), KeyFilterKind::Digits, 0, 360);
    return row;
}

void WatermarkPlacement::fill(const pictorix::ActionFields& fields) {
    direction->setCurrentIndex(fields.integer(1));
    x.edit->setText(QString::fromStdString(fields.text(2)));
    y.edit->setText(QString::fromStdString(fields.text(3)));
    SelectUnit(xUnit, fields.text(4));
    SelectUnit(yUnit, fields.text(5));
    opacity.edit->setText(QString::fromStdString(fields.text(6)));
    rotation->setEditText(QString::fromStdString(fields.text(7)));
    transparent->setChecked(fields.boolean(8));
}

std::string WatermarkPlacement::compose() const {
    return std::to_string(direction->currentIndex()) + ";" + x.edit->text().toStdString() + ";" +
           y.edit->text().toStdString() + ";" + UnitWord(xUnit->currentIndex()) + ";" +
           UnitWord(yUnit->currentIndex()) + ";" + opacity.edit->text().toStdString() + ";" +
           rotation->currentText().toStdString() + ";" + pictorix::BooleanField(transparent->isChecked()) + ";";
}

void WatermarkPlacement::languageChanged() {
    AlignColumn({{xLabel, x, xUnit}, {yLabel, y, yUnit}});
    opacity.edit->move(opacityLabel->x() + opacityLabel->width() + 5, opacity.edit->y());
    opacity.arrows->move(opacity.edit->x() + opacity.edit->width(), opacity.arrows->y());
    percentLabel->move(opacity.arrows->x() + opacity.arrows->width() + 5, percentLabel->y());
    rotation->move(rotationLabel->x() + rotationLabel->width() + 5, rotation->y());
    rotationArrows->move(rotation->x() + rotation->width(), rotationArrows->y());
    degreesLabel->move(rotationArrows->x() + rotationArrows->width() + 5, degreesLabel->y());
    for (QComboBox* list : {direction, xUnit, yUnit}) {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(0);
    }
}
