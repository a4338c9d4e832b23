#include "ui/frmadtopt.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <tuple>

#include "engine/ini_file.h"
#include "engine/settings.h"
#include "ui/application.h"
#include "ui/language.h"
#include "ui/placeholder_menu.h"
#include "ui/widgets.h"

namespace {

constexpr int kDepths[] = {0, 1, 4, 8, 16, 24, 32};

// What the up-down control stands at: the number its edit shows, kept in its range,
// or its own position while the edit shows none.
int Position(const UpDown* upDown) {
    bool ok = false;
    const int shown = upDown->buddy() ? upDown->buddy()->text().toInt(&ok) : 0;
    return ok ? std::clamp(shown, upDown->minimum(), upDown->maximum()) : upDown->position();
}

}  // namespace

Tfrmadtopt::Tfrmadtopt(const std::string& settingsPath, BrowseForFolder browse, QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath), browse_(std::move(browse)) {
    setObjectName(QStringLiteral("frmadtopt"));
    setWindowTitle(QStringLiteral("Additional options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);

    PageControl1_ = Named(new QTabWidget(this), "PageControl1");
    TabSheet1_ = Named(new QWidget, "TabSheet1");
    TabSheet2_ = Named(new QWidget, "TabSheet2");
    PageControl1_->addTab(TabSheet1_, QStringLiteral("Color depth"));
    PageControl1_->addTab(TabSheet2_, QStringLiteral("Thumbnail copy"));

    // Colour depth: one radio button below the other.
    auto* depthLayout = new QVBoxLayout(TabSheet1_);
    depthLayout->setSpacing(4);
    cborig_ = Named(new QRadioButton(QStringLiteral("Same as original")), "cborig");
    cb1_ = Named(new QRadioButton(QStringLiteral("Monochrome (1 bpp)")), "cb1");
    cb4_ = Named(new QRadioButton(QStringLiteral("16 colors (4 bpp)")), "cb4");
    cb8_ = Named(new QRadioButton(QStringLiteral("256 colors (8 bpp)")), "cb8");
    cb16_ = Named(new QRadioButton(QStringLiteral("64,536 colors (16 bpp)")), "cb16");
    cb24_ = Named(new QRadioButton(QStringLiteral("16 million colors (24 bpp)")), "cb24");
    cb32_ = Named(new QRadioButton(QStringLiteral("16 million colors (32 bpp)")), "cb32");
    for (QRadioButton* b : {cborig_, cb1_, cb4_, cb8_, cb16_, cb24_, cb32_}) {
        b->setMinimumHeight(20);
        depthLayout->addWidget(b);
    }
    depthLayout->addStretch(1);
    cborig_->setChecked(true);

    // Thumbnail copy.
    const pictorix::ConversionSettings defaults;
    auto* thumbLayout = new QVBoxLayout(TabSheet2_);
    cbcreatethumb_ = Named(new QCheckBox(QStringLiteral("Create thumbnail copies of converted images")), "cbcreatethumb");
    thumbLayout->addWidget(cbcreatethumb_);

    auto* GroupBox1 = Named(new QGroupBox(QStringLiteral("Resizing options")), "GroupBox1");
    auto* resize = new QGridLayout(GroupBox1);
    Label21_ = Named(new QLabel(QStringLiteral("Width:")), "Label21");
    Label22_ = Named(new QLabel(QStringLiteral("Height:")), "Label22");
    Label23_ = Named(new QLabel(QStringLiteral("Use:")), "Label23");
    sewidth_ = Named(new QLineEdit, "sewidth");
    seheight_ = Named(new QLineEdit, "seheight");
    udwidth_ = Named(new UpDown, "udwidth");
    udheight_ = Named(new UpDown, "udheight");
    lbwt_ = Named(new QComboBox, "lbwt");
    lbht_ = Named(new QComboBox, "lbht");
    lbuse_ = Named(new QComboBox, "lbuse");
    for (auto [edit, upDown, value] : {std::tuple{sewidth_, udwidth_, defaults.thumb.width},
                                       std::tuple{seheight_, udheight_, defaults.thumb.height}}) {
        edit->setMaxLength(5);
        edit->setFixedWidth(60);
        edit->installEventFilter(this);
        upDown->setRange(0, 10000);
        upDown->setBuddy(edit);
        upDown->setPosition(value);
    }
    for (QComboBox* list : {lbwt_, lbht_}) list->addItems({QStringLiteral("pixels"), QStringLiteral("percent")});
    lbuse_->addItems({QStringLiteral("Both width and height"), QStringLiteral("Width (keep aspect ratio)"),
                      QStringLiteral("Height (keep aspect ratio)")});
    resize->addWidget(Label21_, 0, 0);
    resize->addWidget(sewidth_, 0, 1);
    resize->addWidget(udwidth_, 0, 2);
    resize->addWidget(lbwt_, 0, 3);
    resize->addWidget(Label22_, 1, 0);
    resize->addWidget(seheight_, 1, 1);
    resize->addWidget(udheight_, 1, 2);
    resize->addWidget(lbht_, 1, 3);
    resize->addWidget(Label23_, 2, 0);
    resize->addWidget(lbuse_, 2, 1, 1, 3);
    resize->setHorizontalSpacing(5);
    resize->setColumnStretch(4, 1);
    thumbLayout->addWidget(GroupBox1);

    auto* GroupBox2 = Named(new QGroupBox(QStringLiteral("Saving options")), "GroupBox2");
    auto* saving = new QGridLayout(GroupBox2);
    Label1_ = Named(new QLabel(QStringLiteral("Folder:")), "Label1");
    txfolder_ = Named(new QLineEdit(QString::fromStdString(defaults.thumb.folder)), "txfolder");
    txfolder_->setReadOnly(true);
    SpeedButton1_ = Named(new QToolButton, "SpeedButton1");
    SpeedButton1_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    Label2_ = Named(new QLabel(QStringLiteral("Filename:")), "Label2");
    txfilename_ = Named(new QLineEdit(QString::fromStdString(defaults.thumb.filename)), "txfilename");
    btnaddpm_ = Named(new QToolButton, "btnaddpm");
    btnaddpm_->setArrowType(Qt::DownArrow);
    filenamemenu_ = CreatePlaceholderMenu(this, txfilename_);
    saving->addWidget(Label1_, 0, 0);
    saving->addWidget(txfolder_, 0, 1);
    saving->addWidget(SpeedButton1_, 0, 2);
    saving->addWidget(Label2_, 1, 0);
    saving->addWidget(txfilename_, 1, 1);
    saving->addWidget(btnaddpm_, 1, 2);
    thumbLayout->addWidget(GroupBox2);
    thumbLayout->addStretch(1);

    Button1_ = Named(new QPushButton(QStringLiteral("Ok")), "Button1");
    Button2_ = Named(new QPushButton(QStringLiteral("Cancel")), "Button2");
    Button1_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1_);
    buttons->addWidget(Button2_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(PageControl1_, 1);
    layout->addLayout(buttons);
    setFixedSize(384, 364);

    connect(cbcreatethumb_, &QCheckBox::clicked, this, [this] { Guarded([this] { cbcreatethumbClick(); }); });
    connect(SpeedButton1_, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton1Click(); }); });
    connect(btnaddpm_, &QToolButton::clicked, this, [this] { Guarded([this] { btnaddpmClick(); }); });
    connect(Button1_, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2_, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });

    // FormCreate.
    LoadAdditionalOptions();
    cbcreatethumbClick();
    LanguageController::instance().attach(
        this, QStringLiteral("Tfrmadtopt"),
        {QStringLiteral("cb1.*"), QStringLiteral("cb4.*"), QStringLiteral("cb8.*"), QStringLiteral("cb16.*"),
         QStringLiteral("cb24.*"), QStringLiteral("cb32.*"), QStringLiteral("Date*"), QStringLiteral("Time*"),
         QStringLiteral("txfolder.*"), QStringLiteral("txfilename.*"), QStringLiteral("sewidth.*"),
         QStringLiteral("seheight.*")},
        [this] { DKLanguageController1LanguageChanged(); });
}

void Tfrmadtopt::LoadAdditionalOptions() {
    const pictorix::IniFile ini = pictorix::IniFile::Load(settingsPath_);
    QRadioButton* const radios[] = {cborig_, cb1_, cb4_, cb8_, cb16_, cb24_, cb32_};
    int current = 0;
    for (std::size_t i = 0; i < std::size(radios); ++i)
        if (radios[i]->isChecked()) current = kDepths[i];
    const int depth = ini.getInt("colordepth", "value", current);
    for (std::size_t i = 0; i < std::size(radios); ++i)
        if (kDepths[i] == depth) radios[i]->setChecked(true);

    cbcreatethumb_->setChecked(ini.getBool("thumb", "enable", cbcreatethumb_->isChecked()));
    udwidth_->setPosition(ini.getInt("thumb", "width", Position(udwidth_)));
    udheight_->setPosition(ini.getInt("thumb", "height", Position(udheight_)));
    for (auto [list, key] : {std::pair{lbwt_, "wt"}, std::pair{lbht_, "ht"}, std::pair{lbuse_, "use"}}) {
        const int index = ini.getInt("thumb", key, list->currentIndex());
        if (index >= 0 && index < list->count()) list->setCurrentIndex(index);
    }
    txfolder_->setText(QString::fromStdString(ini.getString("thumb", "folder", txfolder_->text().toStdString())));
    txfilename_->setText(
        QString::fromStdString(ini.getString("thumb", "filename", txfilename_->text().toStdString())));
}

void Tfrmadtopt::SaveAdditionalOptions() {
    pictorix::IniFile ini = pictorix::IniFile::Load(settingsPath_);
    QRadioButton* const radios[] = {cborig_, cb1_, cb4_, cb8_, cb16_, cb24_, cb32_};
    int depth = 0;
    for (std::size_t i = 0; i < std::size(radios); ++i)
        if (radios[i]->isChecked()) depth = kDepths[i];
    ini.setInt("colordepth", "value", depth);
    ini.setBool("thumb", "enable", cbcreatethumb_->isChecked());
    ini.setInt("thumb", "width", Position(udwidth_));
    ini.setInt("thumb", "height", Position(udheight_));
    ini.setInt("thumb", "wt", lbwt_->currentIndex());
    ini.setInt("thumb", "ht", lbht_->currentIndex());
    ini.setInt("thumb", "use", lbuse_->currentIndex());
    ini.setString("thumb", "folder", txfolder_->text().toStdString());
    ini.setString("thumb", "filename", txfilename_->text().toStdString());
    ini.save(settingsPath_);
}

void Tfrmadtopt::cbcreatethumbClick() {
    const bool on = cbcreatethumb_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{Label21_, sewidth_, udwidth_, lbwt_, Label22_, seheight_,
                                                      udheight_, lbht_, Label23_, lbuse_, Label1_, txfolder_,
                                                      SpeedButton1_, Label2_, txfilename_, btnaddpm_})
        w->setEnabled(on);
}

void Tfrmadtopt::SpeedButton1Click() {
    const QString folder = browse_ ? browse_(this, QStringLiteral("Please select directory")) : QString();
    if (!folder.isEmpty()) txfolder_->setText(WithFinalSlash(folder));
}

void Tfrmadtopt::btnaddpmClick() { filenamemenu_->popup(btnaddpm_->mapToGlobal(QPoint(0, btnaddpm_->height()))); }

void Tfrmadtopt::Button1Click() {
    SaveAdditionalOptions();  // a failure leaves the dialog open with its values
    close();
}

void Tfrmadtopt::Button2Click() { close(); }

void Tfrmadtopt::DKLanguageController1LanguageChanged() {
    // The labels' widths are the grid's business; the lists got translated entries.
    for (QComboBox* list : {lbwt_, lbht_, lbuse_}) list->setCurrentIndex(0);
}

bool Tfrmadtopt::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == sewidth_ || watched == seheight_) && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        // Only digits and backspace are typed; keys without a character (arrows,
        // Delete) are no typing and pass.
        if (!text.isEmpty() && !(text.size() == 1 && ((text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9')) || text[0] == QChar(8)))) return true;
    }
    return QDialog::eventFilter(watched, event);
}
