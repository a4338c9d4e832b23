#include "actions/panels/panel_dialogs.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace {

// The picture filters, each a description and its masks.
struct PictureFilter {
    const char* description;
    const char* masks;
};
constexpr PictureFilter kPictureFilters[] = {
    {"All image files (*.bmp, *.jpg, *.png, *.gif, *.tif, *.pcx)", "*.bmp;*.jpg;*.jpeg;*.png;*.gif;*.tiff;*.tif;*.pcx"},
    {"Windows Bitmap (*.bmp)", "*.bmp"},
    {"JPEG Images (*.jpg)", "*.jpg;*.jpeg"},
    {"CompuServe GIF (*.gif)", "*.gif"},
    {"Portable Network Grapchics (*.png)", "*.png"},
    {"TIFF Image (*.tif)", "*.tif;*.tiff"},
    {"PCX Images (*.pcx)", "*.pcx"},
    {"All Files (*.*)", "*.*"},
};

}  // namespace

QString WatermarkPictureFilters() {
    QStringList parts;
    for (const PictureFilter& filter : kPictureFilters) {
        // The file dialog takes its masks from the parentheses, space separated.
        QString description = QString::fromLatin1(filter.description);
        const qsizetype paren = description.indexOf(QLatin1String(" ("));
        if (paren >= 0) description.truncate(paren);
        QStringList masks = QString::fromLatin1(filter.masks).split(QLatin1Char(';'));
        for (QString& mask : masks)
            if (mask == QLatin1String("*.*")) mask = QStringLiteral("*");
        parts << description + QStringLiteral(" (") + masks.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return parts.join(QStringLiteral(";;"));
}

QString OpenWatermarkPicture(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(), WatermarkPictureFilters());
}

std::optional<WatermarkFont> ChooseWatermarkFont(QWidget* parent, const WatermarkFont& current) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Font"));
    auto* layout = new QVBoxLayout(&dialog);

    // The font part is Qt's own dialog shown inside this one; the colour is chosen beside it.
    auto* fonts = new QFontDialog(ScreenFont(current), &dialog);
    fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts->setWindowFlags(Qt::Widget);
    layout->addWidget(fonts);

    std::int32_t colour = current.colour;
    auto* colourRow = new QHBoxLayout;
    auto* colourLabel = new QLabel(QStringLiteral("Color:"), &dialog);
    auto* swatch = MakeSwatch(&dialog, "fontcolor");
    fillbtn(swatch, colour);
    auto* change = new QPushButton(QStringLiteral("Change..."), &dialog);
    colourRow->addWidget(colourLabel);
    colourRow->addWidget(swatch);
    colourRow->addWidget(change);
    colourRow->addStretch(1);
    layout->addLayout(colourRow);
    QObject::connect(change, &QPushButton::clicked, &dialog, [&] {
        const QColor chosen = QColorDialog::getColor(ScreenColour(colour), &dialog);
        if (!chosen.isValid()) return;
        colour = ColourValue(chosen);
        fillbtn(swatch, colour);
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QFont font = fonts->currentFont();
    WatermarkFont result;
    result.name = font.family();
    result.size = font.pointSize() > 0 ? font.pointSize() : current.size;
    // An unchanged colour keeps its value, so the window-text colour stays that system colour.
    result.colour = colour;
    result.style.bold = font.bold();
    result.style.italic = font.italic();
    result.style.underline = font.underline();
    result.style.strikeOut = font.strikeOut();
    return result;
}
