#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "core/error.h"
#include "engine/file_list_document.h"
#include "engine/ini_file.h"
#include "engine/settings.h"
#include "actions/panels/action_panel.h"
#include "actions/panels/action_settings_panel.h"
#include "ui/application.h"
#include "ui/file_list.h"
#include "ui/frmabout.h"
#include "ui/frmconv.h"
#include "ui/fullscreen.h"
#include "ui/language.h"
#include "ui/paths.h"
#include "ui/previews.h"
#include "ui/widgets.h"

using pictorix::ReplaceAnswer;

namespace {

// Message texts (English; the language files translate them).

const char* const kFileListFilters = "Files list (*.pfl);;All files (*)";
const char* const kActionListFilters = "Actions list (*.acf);;All files (*)";

constexpr int kHeaderHeight = 50;

// Keeps a flag set for the length of a scope, also when a failure passes through.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = old_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool old_;
};

// The busy cursor for the length of a scope.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// One of a page's tool buttons: name, icon, hint and command.
struct ButtonSpec {
    const char* name;
    QStyle::StandardPixmap icon;
    const char* hint;
    void (TForm1::*handler)();
};

QAction* AddAction(QMenu* menu, const QString& objectName, const QString& text,
                   const QKeySequence& shortcut = QKeySequence()) {
    QAction* action = menu->addAction(text);
    action->setObjectName(objectName);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

TForm1::Dialogs DefaultDialogs() {
    TForm1::Dialogs d;
    d.openPictures = [](QWidget* parent) {
        return QFileDialog::getOpenFileNames(parent, QStringLiteral("Add file(s)"), QString(), DialogFilters());
    };
    d.openFileList = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open files list"), QString(),
                                            QString::fromLatin1(kFileListFilters));
    };
    d.saveFileList = [](QWidget* parent, bool* firstFilter) {
        const QString filters = QString::fromLatin1(kFileListFilters);
        QString selected = filters.section(QStringLiteral(";;"), 0, 0);
        QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save files list as"), QString(), filters,
                                                    &selected);
        *firstFilter = selected == filters.section(QStringLiteral(";;"), 0, 0);
        return name;
    };
    d.browseForFolder = [](QWidget* parent, const QString& title) {
        QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
    };
    d.message = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pictorix"), text, QMessageBox::Ok, parent);
        box.exec();
    };
    d.askReplace = AskReplaceQuestion;
    d.openActions = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(),
                                            QString::fromLatin1(kActionListFilters));
    };
    d.saveActions = [](QWidget* parent, bool* firstFilter) {
        const QString filters = QString::fromLatin1(kActionListFilters);
        QString selected = filters.section(QStringLiteral(";;"), 0, 0);
        QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"), QString(), filters, &selected);
        *firstFilter = selected == filters.section(QStringLiteral(";;"), 0, 0);
        return name;
    };
    return d;
}

}  // namespace

template <class Sender, class Signal>
void TForm1::on(Sender* sender, Signal signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
}

// --- Start-up -------------------------------------------------------------------

TForm1::TForm1(const QStringList& commandLineFiles, QWidget* parent)
    : QMainWindow(parent), dialogs_(DefaultDialogs()), commandLineFiles_(commandLineFiles) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("Pictorix"));

    stepOneWorker_ = new PreviewWorker(this);
    stepTwoWorker_ = new PreviewWorker(this);

    createMenus();
    setCentralWidget(createWizard());

    setMinimumSize(640, 614);
    resize(652, 624);
    LanguageController::instance().attach(this, QStringLiteral("TForm1"), MainWindowIgnoredTexts(),
                                          [this] { DKLanguageController1LanguageChanged(); });
    LoadSettings();
    checkCurrentLanguage();

    cb3samefolderClick();
    cb3backupClick();
    setAcceptDrops(true);

    actionList_.addListener([this] { Guarded([this] { immpreview(); }); });
    lb3formatChange();
    previewIndex_ = -1;

    // A caption cut short by the layout can still be read in full.
    for (const char* name : {"cbimmpreview", "cbkeepdatetime", "cb3deletefiles", "cb3backup"})
        if (auto* box = findChild<QCheckBox*>(QString::fromLatin1(name))) box->setToolTip(box->text());

    connect(stepOneWorker_, &PreviewWorker::ready, this, [this](const QImage& picture, const QString& message) {
        if (message.isEmpty())
            previewimage_->setPicture(picture);
        else
            previewimage_->setMessage(message);
    });
    connect(stepTwoWorker_, &PreviewWorker::ready, this, [this](const QImage& picture, const QString& message) {
        if (message.isEmpty())
            actpreviewimage_->setPicture(picture);
        else
            actpreviewimage_->setMessage(message);
    });

    setStep(0);
}

TForm1::~TForm1() {
    // The workers wait for a running job; nothing they deliver may reach the views now.
    delete stepOneWorker_;
    delete stepTwoWorker_;
}

void TForm1::createMenus() {
    QMenuBar* bar = menuBar();

    QMenu* file = Named(bar->addMenu(QStringLiteral("&File")), "File1");
    on(AddAction(file, "MenuItem4", "Open files list...", QKeySequence(Qt::CTRL | Qt::Key_L)), &QAction::triggered,
       &TForm1::MenuItem4Click);
    on(AddAction(file, "MenuItem5", "Save files list as...", QKeySequence(Qt::CTRL | Qt::Key_S)), &QAction::triggered,
       &TForm1::MenuItem5Click);
    file->addSeparator();
    on(AddAction(file, "FileAddfile1", "Add file(s)...", QKeySequence(Qt::CTRL | Qt::Key_O)), &QAction::triggered,
       &TForm1::SpeedButton12Click);
    FileDeleteselectedfiles1_ = AddAction(file, "FileDeleteselectedfiles1", "Remove selected file(s) from files list",
                                          QKeySequence(Qt::Key_Delete));
    on(FileDeleteselectedfiles1_, &QAction::triggered, &TForm1::btn1removeClick);
    on(AddAction(file, "FileClearfileslist1", "Clear files list"), &QAction::triggered, &TForm1::SpeedButton13Click);
    file->addSeparator();
    QAction* exit = AddAction(file, "FileExit1", "&Exit", QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* steps = Named(bar->addMenu(QStringLiteral("&Steps")), "Steps1");
    on(AddAction(steps, "StepsStep11", "Step &1"), &QAction::triggered, &TForm1::StepsStep11Click);
    on(AddAction(steps, "StepsStep21", "Step &2"), &QAction::triggered, &TForm1::StepsStep21Click);
    on(AddAction(steps, "StepsStep31", "Step &3"), &QAction::triggered, &TForm1::StepsStep31Click);
    steps->addSeparator();
    on(AddAction(steps, "StepsStartconversion1", "Start &conversion"), &QAction::triggered,
       &TForm1::StepsStartconversion1Click);

    // The kinds of actions, shared by the Actions menu and the "Add action" button.
    gb2menu_ = Named(new QMenu(QStringLiteral("New action"), this), "gb2menu");
    on(AddAction(gb2menu_, "Rotate2", "Rotate"), &QAction::triggered, &TForm1::Rotate2Click);
    on(AddAction(gb2menu_, "Mirror1", "Mirror"), &QAction::triggered, &TForm1::Mirror1Click);
    gb2menu_->addSeparator();
    on(AddAction(gb2menu_, "Resize1", "Resize"), &QAction::triggered, &TForm1::Resize1Click);
    on(AddAction(gb2menu_, "Canvassize1", "Canvas size"), &QAction::triggered, &TForm1::Canvassize1Click);
    on(AddAction(gb2menu_, "Crop1", "Crop"), &QAction::triggered, &TForm1::Crop1Click);
    gb2menu_->addSeparator();
    on(AddAction(gb2menu_, "Contrast1", "Contrast"), &QAction::triggered, &TForm1::Contrast1Click);
    on(AddAction(gb2menu_, "Brightness1", "Brightness"), &QAction::triggered, &TForm1::Brightness1Click);
    on(AddAction(gb2menu_, "Blur1", "Blur"), &QAction::triggered, &TForm1::Blur1Click);
    gb2menu_->addSeparator();
    on(AddAction(gb2menu_, "PictureWatermark1", "Picture Watermark"), &QAction::triggered,
       &TForm1::PictureWatermark1Click);
    on(AddAction(gb2menu_, "TextWatermark1", "Text Watermark"), &QAction::triggered,
       &TForm1::TextWatermark1Click);

    QMenu* actions = Named(bar->addMenu(QStringLiteral("&Actions")), "Actionset1");
    actions->addMenu(gb2menu_);
    actions->addSeparator();
    on(AddAction(actions, "ActionsetDeleteselectedaction1", "Delete selected action"), &QAction::triggered,
       &TForm1::Button2Click);
    on(AddAction(actions, "ActionsetMoveselectedactionup1", "Move selected action up"), &QAction::triggered,
       &TForm1::Button4Click);
    on(AddAction(actions, "ActionsetMoveselectedactiondown1", "Move selected action down"), &QAction::triggered,
       &TForm1::Button5Click);
    actions->addSeparator();
    on(AddAction(actions, "ActionsetOpenfilewithactions1", "&Open actions list from file..."), &QAction::triggered,
       &TForm1::ActionsetOpenfilewithactions1Click);
    on(AddAction(actions, "ActionsetSaveactionslistas1", "Sa&ve actions list to a file..."), &QAction::triggered,
       &TForm1::ActionsetSaveactionslistas1Click);
    on(AddAction(actions, "ActionsetClearactionslist1", "C&lear actions list"), &QAction::triggered,
       &TForm1::ActionsetClearactionslist1Click);

    lngmenu_ = Named(bar->addMenu(QStringLiteral("&Language")), "lngmenu");
    lngmenu_->menuAction()->setObjectName(QStringLiteral("Language1"));
    buildLanguageMenu();

    QMenu* help = Named(bar->addMenu(QStringLiteral("&Help")), "Help1");
    connect(AddAction(help, "HelpHelptopics1", "Help topics", QKeySequence(Qt::Key_F1)), &QAction::triggered, this,
            [] { Guarded(HelpHelptopics1Click); });
    on(AddAction(help, "HelpAbout1", "About..."), &QAction::triggered, &TForm1::HelpAbout1Click);
    help->addSeparator();
    connect(AddAction(help, "HelpEmailus1", "Email us"), &QAction::triggered, this, [] { Guarded(HelpEmailus1Click); });
    connect(AddAction(help, "HelpWebsite1", "Web-site"), &QAction::triggered, this,
            [] { Guarded(HelpWebsite1Click); });
}

QWidget* TForm1::createWizard() {
    KWizard1_ = Named(new QWidget, "KWizard1");
    auto* layout = new QVBoxLayout(KWizard1_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pages_ = Named(new QStackedWidget(KWizard1_), "KWizard1Pages");
    step1_ = createStep1();
    step2_ = createStep2();
    step3_ = createStep3();
    pages_->addWidget(step1_);
    pages_->addWidget(step2_);
    pages_->addWidget(step3_);
    layout->addWidget(pages_, 1);

    auto* line = new QFrame(KWizard1_);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 8, 8, 8);
    buttons->setSpacing(6);
    BackButton_ = Named(new QPushButton(QStringLiteral("< &Back"), KWizard1_), "BackButton");
    NextButton_ = Named(new QPushButton(QStringLiteral("&Next >"), KWizard1_), "NextButton");
    FinishButton_ = Named(new QPushButton(QStringLiteral("&Start >>"), KWizard1_), "FinishButton");
    CancelButton_ = Named(new QPushButton(QStringLiteral("Cancel"), KWizard1_), "CancelButton");
    for (QPushButton* b : {BackButton_, NextButton_, FinishButton_, CancelButton_}) b->setMinimumWidth(85);
    buttons->addStretch(1);
    buttons->addWidget(BackButton_);
    buttons->addWidget(NextButton_);
    buttons->addWidget(FinishButton_);
    buttons->addSpacing(10);
    buttons->addWidget(CancelButton_);
    layout->addLayout(buttons);

    on(BackButton_, &QPushButton::clicked, &TForm1::KWizard1BackButtonClick);
    on(NextButton_, &QPushButton::clicked, &TForm1::KWizard1NextButtonClick);
    on(FinishButton_, &QPushButton::clicked, &TForm1::KWizard1FinishButtonClick);
    on(CancelButton_, &QPushButton::clicked, &TForm1::KWizard1CancelButtonClick);
    return KWizard1_;
}

QWidget* TForm1::createPageHeader(QWidget* page, const QString& title, const QString& subtitle) {
    auto* header = new QWidget(page);
    header->setObjectName(page->objectName() + QStringLiteral("header"));
    header->setFixedHeight(kHeaderHeight);
    header->setAutoFillBackground(true);
    header->setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(16, 7, 16, 0);
    layout->setSpacing(2);
    auto* titleLabel = new QLabel(title, header);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto* subtitleLabel = new QLabel(subtitle, header);
    subtitleLabel->setContentsMargins(16, 0, 0, 0);
    layout->addWidget(titleLabel);
    layout->addWidget(subtitleLabel);
    layout->addStretch(1);

    auto* line = new QFrame(header);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    return header;
}

void TForm1::createPreviewPane(const PreviewPaneNames& names, QWidget*& panel, QGroupBox*& box,
                               PreviewImage*& image, QLabel*& none, QMenu*& menu, QAction*& fullScreen,
                               void (TForm1::*fullScreenHandler)(), void (TForm1::*popupHandler)()) {
    panel = Named(new QWidget, names.panel);
    panel->setMinimumSize(1, 1);
    box = Named(new QGroupBox(QStringLiteral("Preview"), panel), names.box);
    image = Named(new PreviewImage(box), names.image);
    none = Named(new QLabel(QStringLiteral("(none)"), image), names.none);
    none->setEnabled(false);
    none->adjustSize();
    image->setContextMenuPolicy(Qt::CustomContextMenu);
    menu = Named(new QMenu(this), names.menu);
    fullScreen = AddAction(menu, names.fullScreen, "Full screen");
    on(fullScreen, &QAction::triggered, fullScreenHandler);
    on(menu, &QMenu::aboutToShow, popupHandler);
    QMenu* const popup = menu;
    PreviewImage* const picture = image;
    connect(image, &QWidget::customContextMenuRequested, this,
            [popup, picture](const QPoint& at) { popup->popup(picture->mapToGlobal(at)); });
    on(image, &PreviewImage::doubleClicked, fullScreenHandler);
    box->installEventFilter(this);
}

QWidget* TForm1::createStep1() {
    auto* page = Named(new QWidget, "step1");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createPageHeader(page, QStringLiteral("Files - step 1 of 3"),
                                       QStringLiteral("Please select the pictures yout would like to convert or edit")));

    Splitter1_ = Named(new QSplitter(Qt::Horizontal, page), "Splitter1");
    Splitter1_->setChildrenCollapsible(false);
    layout->addWidget(Splitter1_, 1);

    // The folder browser.
    Panel2_ = Named(new QWidget, "Panel2");
    Panel2_->setMinimumSize(1, 1);
    GroupBox7_ = Named(new QGroupBox(QStringLiteral("Select files"), Panel2_), "GroupBox7");
    shell_ = new ShellBrowser(GroupBox7_);

    Panel3_ = Named(new QSplitter(Qt::Vertical), "Panel3");
    Panel3_->setChildrenCollapsible(false);

    // The file list with its buttons down the left side.
    Panel5_ = Named(new QWidget, "Panel5");
    Panel5_->setMinimumSize(1, 1);
    gb1selectfiles_ = Named(new QGroupBox(QStringLiteral("Add files to list"), Panel5_), "gb1selectfiles");
    QStyle* style = this->style();
    const ButtonSpec buttons[] = {
        {"SpeedButton9", QStyle::SP_ArrowRight, "Add", &TForm1::SpeedButton9Click},
        {"SpeedButton10", QStyle::SP_MediaSeekForward, "Add all", &TForm1::SpeedButton10Click},
        {"SpeedButton12", QStyle::SP_DialogOpenButton, "Add file(s) to files list", &TForm1::SpeedButton12Click},
        {"SpeedButton11", QStyle::SP_DialogDiscardButton, "Remove selected file(s) from list",
         &TForm1::btn1removeClick},
        {"SpeedButton13", QStyle::SP_DialogResetButton, "Clear file list", &TForm1::SpeedButton13Click},
    };
    int y = 24;
    for (const ButtonSpec& spec : buttons) {
        QToolButton* b = MakeToolButton(gb1selectfiles_, QString::fromLatin1(spec.name), style->standardIcon(spec.icon),
                                        QString::fromLatin1(spec.hint));
        b->move(6, y);
        y += 30;
        on(b, &QToolButton::clicked, spec.handler);
    }
    lb1files_ = new FileListView(gb1selectfiles_);
    connect(lb1files_, &QTreeWidget::itemSelectionChanged, this, [this] { Guarded([this] { lb1filesClick(); }); });

    // The preview.
    createPreviewPane({"Panel4", "groupbox5", "previewimage", "lbl1none", "PopupMenu20002", "Fullscreen1"}, Panel4_,
                      groupbox5_, previewimage_, lbl1none_, PopupMenu20002_, Fullscreen1_, &TForm1::Fullscreen1Click,
                      &TForm1::PopupMenu20002Popup);

    Panel3_->addWidget(Panel5_);
    Panel3_->addWidget(Panel4_);
    Panel3_->setStretchFactor(0, 1);
    Panel3_->setStretchFactor(1, 0);
    Panel3_->setSizes({300, 243});

    Splitter1_->addWidget(Panel2_);
    Splitter1_->addWidget(Panel3_);
    Splitter1_->setStretchFactor(0, 0);
    Splitter1_->setStretchFactor(1, 1);
    Splitter1_->setSizes({321, 330});

    connect(shell_->filtercb(), &QComboBox::currentIndexChanged, this,
            [this] { Guarded([this] { filtercbChange(); }); });
    connect(shell_, &ShellBrowser::fileClicked, this,
            [this](const QString& path) { Guarded([this, path] { shelllvClick(path); }); });

    for (QWidget* pane : {Panel2_, Panel4_, Panel5_}) pane->installEventFilter(this);
    return page;
}

QWidget* TForm1::createStep2() {
    auto* page = Named(new QWidget, "step2");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createPageHeader(
        page, QStringLiteral("Actions - Step 2 of 3"),
        QStringLiteral("If you would like to edit your pictures - please select an editing options at this step")));

    auto* content = new QWidget(page);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    layout->addWidget(content, 1);

    Panel6_ = Named(new QSplitter(Qt::Vertical, content), "Panel6");
    Panel6_->setChildrenCollapsible(false);
    row->addWidget(Panel6_, 1);

    // The action list.
    Panel8_ = Named(new QWidget, "Panel8");
    Panel8_->setMinimumSize(1, 1);
    gbactions_ = Named(new QGroupBox(QStringLiteral("Actions"), Panel8_), "gbactions");
    QStyle* style = this->style();
    btnaddaction_ = Named(new QToolButton(gbactions_), "btnaddaction");
    btnaddaction_->setText(QStringLiteral("Add action"));
    btnaddaction_->setToolTip(QStringLiteral("Add action"));
    btnaddaction_->setIcon(style->standardIcon(QStyle::SP_FileDialogNewFolder));
    btnaddaction_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnaddaction_->setGeometry(16, 22, btnaddaction_->sizeHint().width(), 26);
    const ButtonSpec buttons[] = {
        {"Button2", QStyle::SP_DialogDiscardButton, "Delete selected action", &TForm1::Button2Click},
        {"Button4", QStyle::SP_ArrowUp, "Move up", &TForm1::Button4Click},
        {"Button5", QStyle::SP_ArrowDown, "Move down", &TForm1::Button5Click},
        {"btnopenactions", QStyle::SP_DialogOpenButton, "Open actions list",
         &TForm1::ActionsetOpenfilewithactions1Click},
        {"btnsaveactions", QStyle::SP_DialogSaveButton, "Save actions list", &TForm1::ActionsetSaveactionslistas1Click},
    };
    int x = btnaddaction_->x() + btnaddaction_->width() + 8;
    for (const ButtonSpec& spec : buttons) {
        QToolButton* b = MakeToolButton(gbactions_, QString::fromLatin1(spec.name), style->standardIcon(spec.icon),
                                        QString::fromLatin1(spec.hint));
        b->move(x, 22);
        x += 28;
        on(b, &QToolButton::clicked, spec.handler);
    }
    on(btnaddaction_, &QToolButton::clicked, &TForm1::btnaddactionClick);
    lbactions_ = Named(new QListWidget(gbactions_), "lbactions");
    lbactions_->setSelectionMode(QAbstractItemView::SingleSelection);
    // A selection by mouse or keyboard shows the action's panel, and so does a click on
    // the caption already selected; selections made by the commands show it themselves.
    connect(lbactions_, &QListWidget::itemSelectionChanged, this, [this] {
        if (!quietActions_) Guarded([this] { lbactionsClick(); });
    });
    watchActionListPresses();
    connect(lbactions_, &QListWidget::itemClicked, this, [this] {
        if (selectedAction() == pressedActionRow_) Guarded([this] { lbactionsClick(); });
    });
    lbactionsmenu_ = Named(new QMenu(this), "lbactionsmenu");
    lbactionsmenu_->addMenu(gb2menu_);
    lbactionsmenu_->addSeparator();
    on(AddAction(lbactionsmenu_, "Delete1", "Delete"), &QAction::triggered, &TForm1::Button2Click);
    on(AddAction(lbactionsmenu_, "Moveup1", "Move up"), &QAction::triggered, &TForm1::Button4Click);
    on(AddAction(lbactionsmenu_, "Movedown1", "Move down"), &QAction::triggered, &TForm1::Button5Click);
    lbactionsmenu_->addSeparator();
    on(AddAction(lbactionsmenu_, "Openactionslist1", "Open actions list"), &QAction::triggered,
       &TForm1::ActionsetOpenfilewithactions1Click);
    on(AddAction(lbactionsmenu_, "Saveactionslist1", "Save actions list"), &QAction::triggered,
       &TForm1::ActionsetSaveactionslistas1Click);
    on(AddAction(lbactionsmenu_, "Clearlist1", "Clear list"), &QAction::triggered,
       &TForm1::ActionsetClearactionslist1Click);
    lbactions_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lbactions_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { lbactionsmenu_->popup(lbactions_->viewport()->mapToGlobal(at)); });

    // The preview with its buttons.
    createPreviewPane({"Panel7", "GroupBox4", "actpreviewimage", "Label47", "PopupMenu20003", "MenuItem20001"},
                      Panel7_, GroupBox4_, actpreviewimage_, Label47_, PopupMenu20003_, MenuItem20001_,
                      &TForm1::MenuItem20001Click, &TForm1::PopupMenu20003Popup);

    Panel9_ = Named(new QWidget(GroupBox4_), "Panel9");
    auto* buttonsRow = new QHBoxLayout(Panel9_);
    buttonsRow->setContentsMargins(0, 2, 0, 6);
    buttonsRow->setSpacing(4);
    QToolButton* previous = MakeToolButton(Panel9_, QStringLiteral("SpeedButton1"),
                                           style->standardIcon(QStyle::SP_ArrowLeft),
                                           QStringLiteral("Previous picture from list"));
    QToolButton* test = MakeToolButton(Panel9_, QStringLiteral("SpeedButton3"),
                                       style->standardIcon(QStyle::SP_BrowserReload), QStringLiteral("Test actions"));
    QToolButton* next = MakeToolButton(Panel9_, QStringLiteral("SpeedButton2"),
                                       style->standardIcon(QStyle::SP_ArrowRight),
                                       QStringLiteral("Next picture from list"));
    cbimmpreview_ = Named(new QCheckBox(QStringLiteral("Immediate preview"), Panel9_), "cbimmpreview");
    cbimmpreview_->setChecked(true);
    buttonsRow->addWidget(previous);
    buttonsRow->addWidget(test);
    buttonsRow->addWidget(next);
    buttonsRow->addSpacing(8);
    buttonsRow->addWidget(cbimmpreview_);
    Panel9_->adjustSize();
    on(previous, &QToolButton::clicked, &TForm1::Button10Click);
    on(test, &QToolButton::clicked, &TForm1::Button3Click);
    on(next, &QToolButton::clicked, &TForm1::Button9Click);
    on(cbimmpreview_, &QCheckBox::clicked, &TForm1::cbimmpreviewClick);

    Panel6_->addWidget(Panel8_);
    Panel6_->addWidget(Panel7_);
    Panel6_->setStretchFactor(0, 1);
    Panel6_->setStretchFactor(1, 0);
    Panel6_->setSizes({300, 243});

    // The settings of the selected action.
    gb2panel_ = Named(new QWidget(content), "gb2panel");
    gb2panel_->setFixedWidth(334);
    row->addWidget(gb2panel_);
    gb2show(new Tfrmgb2actionsettings(*this));

    for (QWidget* pane : {Panel7_, Panel8_, gb2panel_}) pane->installEventFilter(this);
    return page;
}

QWidget* TForm1::createStep3() {
    auto* page = Named(new QWidget, "step3");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createPageHeader(
        page, QStringLiteral("Saving options - Step 3 of 3"),
        QStringLiteral("Please specify output image format and, if necessary, other saving options")));
    layout->addStretch(1);

    // The content keeps its designed size and is centred on the page (FormResize).
    Panel10_ = Named(new QWidget(page), "Panel10");
    Panel10_->setFixedSize(633, 465);
    auto* grid = new QGridLayout(Panel10_);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    // Destination.
    auto* destination = Named(new QGroupBox(QStringLiteral("Destination")), "gb3destination");
    auto* destLayout = new QGridLayout(destination);
    cb3samefolder_ = Named(new QRadioButton(QStringLiteral("Same as source folder")), "cb3samefolder");
    cb3followingfolder_ = Named(new QRadioButton(QStringLiteral("Following folder:")), "cb3followingfolder");
    cb3samefolder_->setChecked(true);
    tx3folder_ = Named(new QLineEdit(QString::fromStdString(pictorix::DefaultFolder())), "tx3folder");
    tx3folder_->setReadOnly(true);
    btn3browse_ = Named(new QPushButton(QStringLiteral("Browse...")), "btn3browse");
    btn3browse_->setToolTip(QStringLiteral("Select directory"));
    destLayout->addWidget(cb3samefolder_, 0, 0, 1, 2);
    destLayout->addWidget(cb3followingfolder_, 1, 0, 1, 2);
    destLayout->addWidget(tx3folder_, 2, 0);
    destLayout->addWidget(btn3browse_, 2, 1);
    on(cb3samefolder_, &QRadioButton::clicked, &TForm1::cb3samefolderClick);
    on(cb3followingfolder_, &QRadioButton::clicked, &TForm1::cb3samefolderClick);
    on(btn3browse_, &QPushButton::clicked, &TForm1::btn3browseClick);

    // Output format, with the options of the chosen format below it.
    auto* format = Named(new QGroupBox(QStringLiteral("Output format")), "gb3format");
    auto* formatLayout = new QHBoxLayout(format);
    lb3format_ = Named(new QComboBox, "lb3format");
    for (const char* name : {"BMP", "JPG", "PNG", "GIF", "TIF", "PCX", "TGA", "WMF", "EMF", "ICO", "JP2", "WBMP", "PDF"})
        lb3format_->addItem(QString::fromLatin1(name));
    lb3format_->setMaxVisibleItems(13);
    lb3format_->setCurrentIndex(1);
    lb3format_->setMinimumWidth(90);
    auto* additional = Named(new QPushButton(QStringLiteral("Additional settings")), "Button6");
    formatLayout->addWidget(lb3format_);
    formatLayout->addWidget(additional);
    on(additional, &QPushButton::clicked, &TForm1::Button6Click);
    formatLayout->addStretch(1);
    connect(lb3format_, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { lb3formatChange(); }); });

    // File name.
    auto* fileName = Named(new QGroupBox(QStringLiteral("File name")), "gb3filename");
    auto* nameLayout = new QGridLayout(fileName);
    auto* modify = Named(new QCheckBox(QStringLiteral("Modify file name")), "cbmodifyfilename");
    auto* templateEdit = Named(new QLineEdit(QStringLiteral("<%filename>")), "tx3filename");
    auto* placeholders = Named(new QToolButton, "btnaddpm");
    placeholders->setArrowType(Qt::DownArrow);
    placeholders->setFixedHeight(templateEdit->sizeHint().height());
    auto* counterLabel = Named(new QLabel(QStringLiteral("Counter start value:")), "Label1");
    auto* counter = Named(new QLineEdit(QStringLiteral("0")), "tx3counter");
    counter->setFixedWidth(60);
    auto* counterArrows = Named(new UpDown, "UpDown1");
    counterArrows->setRange(0, 32767);
    counterArrows->setBuddy(counter);
    counterArrows->setPosition(0);
    counterArrows->setFixedHeight(counter->sizeHint().height());
    auto* counterRow = new QHBoxLayout;
    counterRow->setSpacing(0);
    counterRow->addWidget(counterLabel);
    counterRow->addSpacing(5);
    counterRow->addWidget(counter);
    counterRow->addWidget(counterArrows);
    counterRow->addStretch(1);
    auto* sample = Named(new QLabel, "Label48");
    sample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nameLayout->addWidget(modify, 0, 0, 1, 2);
    nameLayout->addWidget(templateEdit, 1, 0);
    nameLayout->addWidget(placeholders, 1, 1);
    nameLayout->addLayout(counterRow, 2, 0, 1, 2);
    nameLayout->addWidget(sample, 3, 0, 1, 2);
    nameLayout->setRowStretch(4, 1);

    // File options.
    auto* fileOptions = Named(new QGroupBox(QStringLiteral("File options")), "gb3fileoptions");
    auto* optionsLayout = new QGridLayout(fileOptions);
    auto* existsRow = new QHBoxLayout;
    existsRow->addWidget(Named(new QLabel(QStringLiteral("If file already exist:")), "Label11"));
    auto* replace = Named(new QRadioButton(QStringLiteral("Replace")), "cb3replace");
    auto* ask = Named(new QRadioButton(QStringLiteral("Ask")), "cb3ask");
    auto* skip = Named(new QRadioButton(QStringLiteral("Skip")), "cb3skip");
    // Without a settings file a run replaces existing files, so the page says so.
    replace->setChecked(true);
    existsRow->addSpacing(8);
    existsRow->addWidget(replace);
    existsRow->addWidget(ask);
    existsRow->addWidget(skip);
    existsRow->addStretch(1);
    optionsLayout->addLayout(existsRow, 0, 0, 1, 3);
    optionsLayout->addWidget(
        Named(new QCheckBox(QStringLiteral("Set converted file date and time same as original")), "cbkeepdatetime"), 1,
        0, 1, 3);
    optionsLayout->addWidget(
        Named(new QCheckBox(QStringLiteral("Delete source files after conversion")), "cb3deletefiles"), 2, 0, 1, 3);
    cb3backup_ = Named(new QCheckBox(QStringLiteral("Create backup copies of images")), "cb3backup");
    optionsLayout->addWidget(cb3backup_, 3, 0, 1, 3);
    lbl3backup_ = Named(new QLabel(QStringLiteral("Backup folder:")), "lbl3backup");
    tx3backup_ = Named(new QLineEdit(QString::fromStdString(pictorix::DefaultFolder())), "tx3backup");
    tx3backup_->setReadOnly(true);
    btn3backup_ = Named(new QToolButton, "btn3backup");
    btn3backup_->setText(QStringLiteral("..."));
    btn3backup_->setToolTip(QStringLiteral("Select directory"));
    btn3backup_->setFixedHeight(tx3backup_->sizeHint().height());
    optionsLayout->addWidget(lbl3backup_, 4, 0);
    optionsLayout->addWidget(tx3backup_, 4, 1);
    optionsLayout->addWidget(btn3backup_, 4, 2);
    optionsLayout->setColumnStretch(1, 1);
    on(cb3backup_, &QCheckBox::clicked, &TForm1::cb3backupClick);
    on(btn3backup_, &QToolButton::clicked, &TForm1::btn3backupClick);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(format);
    right->addWidget(createFormatOptions(Panel10_), 1);

    grid->addWidget(destination, 0, 0);
    grid->addWidget(fileName, 1, 0);
    grid->addLayout(right, 0, 1, 2, 1);
    grid->addWidget(fileOptions, 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    connectStep3(page);
    page->installEventFilter(this);
    return page;
}

QWidget* TForm1::createFormatOptions(QWidget* parent) {
    auto* holder = Named(new QWidget(parent), "pnl3formatoptions");
    auto* stack = new QGridLayout(holder);
    stack->setContentsMargins(0, 0, 0, 0);

    auto qualityRow = [](QGroupBox* box, const char* slider, const char* edit, const char* arrows) {
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        auto* track = Named(new QSlider(Qt::Horizontal, box), slider);
        track->setRange(0, 100);
        track->setPageStep(20);
        track->setTickPosition(QSlider::NoTicks);
        track->setValue(75);
        auto* value = Named(new QLineEdit(box), edit);
        value->setMaxLength(3);
        value->setFixedWidth(40);
        auto* updown = Named(new UpDown(box), arrows);
        updown->setRange(0, 100);
        updown->setBuddy(value);
        updown->setPosition(75);
        updown->setFixedHeight(value->sizeHint().height());
        row->addWidget(track, 1);
        row->addSpacing(6);
        row->addWidget(value);
        row->addWidget(updown);
        return row;
    };

    auto* jpg = Named(new QGroupBox(QStringLiteral("JPEG Options"), holder), "gbjpgoptions");
    auto* jpgLayout = new QVBoxLayout(jpg);
    jpgLayout->addWidget(new QLabel(QStringLiteral("JPEG compression quality"), jpg));
    jpgLayout->addLayout(qualityRow(jpg, "tbjpegquality", "sejpegquality", "jpegupdown"));
    jpgLayout->addWidget(Named(new QCheckBox(QStringLiteral("Create a progressive JPEG"), jpg), "cbprogressivejpeg"));
    jpgLayout->addStretch(1);

    auto* png = Named(new QGroupBox(QStringLiteral("PNG Options"), holder), "gbpngoptions");
    auto* pngLayout = new QVBoxLayout(png);
    auto* levelRow = new QHBoxLayout;
    levelRow->setSpacing(0);
    levelRow->addWidget(new QLabel(QStringLiteral("PNG compression level:"), png));
    levelRow->addSpacing(6);
    auto* level = Named(new QLineEdit(png), "sepngcompressionlevel");
    level->setMaxLength(1);
    level->setFixedWidth(30);
    auto* levelArrows = Named(new UpDown(png), "pngupdown");
    levelArrows->setRange(1, 9);
    levelArrows->setBuddy(level);
    levelArrows->setPosition(8);
    levelArrows->setFixedHeight(level->sizeHint().height());
    levelRow->addWidget(level);
    levelRow->addWidget(levelArrows);
    levelRow->addStretch(1);
    pngLayout->addLayout(levelRow);
    pngLayout->addWidget(Named(new QCheckBox(QStringLiteral("Create an interlaced PNG"), png), "cbinterlacedpng"));
    pngLayout->addStretch(1);

    auto* gif = Named(new QGroupBox(QStringLiteral("GIF Options"), holder), "gbgifoptions");
    auto* gifLayout = new QVBoxLayout(gif);
    gifLayout->addWidget(new QLabel(QStringLiteral("Compression"), gif));
    auto* gifCompression = Named(new QComboBox(gif), "cbgifcompression");
    gifCompression->addItems({QStringLiteral("LZW"), QStringLiteral("RLE")});
    gifLayout->addWidget(gifCompression);
    gifLayout->addStretch(1);

    auto* jp2 = Named(new QGroupBox(QStringLiteral("JPEG 2000 Options"), holder), "gbjp2options");
    auto* jp2Layout = new QVBoxLayout(jp2);
    jp2Layout->addWidget(new QLabel(QStringLiteral("JPEG 2000 compression quality"), jp2));
    jp2Layout->addLayout(qualityRow(jp2, "tbjp2quality", "sejp2quality", "jp2updown"));
    jp2Layout->addStretch(1);

    auto* pdf = Named(new QGroupBox(QStringLiteral("PDF Options"), holder), "gbpdfoptions");
    auto* pdfLayout = new QVBoxLayout(pdf);
    pdfLayout->addWidget(new QLabel(QStringLiteral("PDF compression:"), pdf));
    auto* pdfCompression = Named(new QComboBox(pdf), "lbpdfcompression");
    pdfCompression->addItems({QStringLiteral("None"), QStringLiteral("JPEG")});
    pdfCompression->setCurrentIndex(1);
    pdfLayout->addWidget(pdfCompression);
    pdfLayout->addStretch(1);

    auto* none = Named(new QGroupBox(QStringLiteral("Format Options"), holder), "gbnooptions");
    auto* noneLayout = new QVBoxLayout(none);
    auto* noneLabel = new QLabel(QStringLiteral("(there are no any settings for this format)"), none);
    noneLabel->setEnabled(false);
    noneLabel->setWordWrap(true);
    noneLabel->setAlignment(Qt::AlignCenter);
    noneLayout->addWidget(noneLabel);

    formatOptionGroups_ = {jpg, png, gif, jp2, pdf, none};
    for (QGroupBox* box : formatOptionGroups_) stack->addWidget(box, 0, 0);
    return holder;
}

// --- Wizard and navigation ------------------------------------------------------

int TForm1::currentStep() const { return pages_->currentIndex(); }

void TForm1::setStep(int step) {
    pages_->setCurrentIndex(step);
    BackButton_->setEnabled(step > 0);
    NextButton_->setVisible(step < 2);
    FinishButton_->setVisible(step == 2);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Guarded([this] { FormShow(); });
}

void TForm1::FormShow() {
    FlagScope quiet(quietSelection_);
    for (const QString& file : commandLineFiles_) addfile(file);
    commandLineFiles_.clear();
    previewSelectedFile();
}

void TForm1::KWizard1NextButtonClick() {
    const int step = currentStep();
    if (step >= 2) return;
    if (step == 0 && stepTwoPreviewEmpty() && lb1files_->count() > 0 && cbimmpreview_->isChecked()) {
        actpreview(0);
        previewIndex_ = 0;
    }
    setStep(step + 1);
}

void TForm1::KWizard1BackButtonClick() {
    if (currentStep() > 0) setStep(currentStep() - 1);
}

void TForm1::KWizard1CancelButtonClick() { close(); }

void TForm1::StepsStep11Click() { setStep(0); }
void TForm1::StepsStep21Click() { setStep(1); }
void TForm1::StepsStep31Click() { setStep(2); }

// --- Step 3 ---------------------------------------------------------------------

void TForm1::btn3browseClick() {
    const QString folder = dialogs_.browseForFolder(this, Constant("smainoutputdir"));
    if (!folder.isEmpty()) tx3folder_->setText(WithFinalSlash(folder));
}

void TForm1::btn3backupClick() {
    const QString folder = dialogs_.browseForFolder(this, Constant("smainbackupdir"));
    if (!folder.isEmpty()) tx3backup_->setText(WithFinalSlash(folder));
}

void TForm1::cb3samefolderClick() {
    const bool following = !cb3samefolder_->isChecked();
    tx3folder_->setEnabled(following);
    btn3browse_->setEnabled(following);
}

void TForm1::cb3backupClick() {
    const bool backup = cb3backup_->isChecked();
    lbl3backup_->setEnabled(backup);
    tx3backup_->setEnabled(backup);
    btn3backup_->setEnabled(backup);
}

void TForm1::lb3formatChange() {
    int shown;
    switch (lb3format_->currentIndex()) {
        case 1: shown = 0; break;   // JPG
        case 2: shown = 1; break;   // PNG
        case 3: shown = 2; break;   // GIF
        case 10: shown = 3; break;  // JP2
        case 12: shown = 4; break;  // PDF
        default: shown = 5; break;  // no options
    }
    for (int i = 0; i < formatOptionGroups_.size(); ++i) formatOptionGroups_[i]->setVisible(i == shown);
}

// --- Layout ---------------------------------------------------------------------

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Guarded([this] { FormResize(); });
}

void TForm1::FormResize() {
    // The step-3 content stays centred below the page header.
    Panel10_->move(step3_->width() / 2 - Panel10_->width() / 2,
                   (step3_->height() - 46) / 2 - Panel10_->height() / 2 + 46);
}

void TForm1::fsetbounds() {
    if (inSetBounds_) {
        // A pane changed size while the rules were being applied; apply them again after.
        setBoundsAgain_ = true;
        return;
    }
    FlagScope busy(inSetBounds_);
    do {
        setBoundsAgain_ = false;
        auto centreIn = [](QWidget* child, QWidget* parent) {
            child->move(parent->width() / 2 - child->width() / 2, parent->height() / 2 - child->height() / 2);
        };
        QComboBox* shellcb = shell_->shellcb();
        QToolButton* top = shell_->topButton();
        QListWidget* shelllv = shell_->shelllv();
        QComboBox* filtercb = shell_->filtercb();

        GroupBox7_->setGeometry(5, 5, Panel2_->width() - 9, Panel2_->height() - 10);
        shellcb->setGeometry(8, 24, GroupBox7_->width() - top->width() - 21, shellcb->height());
        top->setGeometry(shellcb->x() + shellcb->width() + 5, 24, top->width(), shellcb->height());
        shelllv->setGeometry(8, shellcb->y() + shellcb->height() + 2, GroupBox7_->width() - 16,
                             GroupBox7_->height() - shellcb->y() - shellcb->height() - filtercb->height() - 12);
        filtercb->setGeometry(8, shelllv->y() + shelllv->height() + 2, GroupBox7_->width() - 16, filtercb->height());

        gb1selectfiles_->setGeometry(4, 5, Panel5_->width() - 10, Panel5_->height() - 9);
        lb1files_->setGeometry(37, 24, gb1selectfiles_->width() - 45, gb1selectfiles_->height() - 32);

        // The splitter must leave the list above the preview some room.
        Panel4_->setMaximumHeight(std::max(1, Panel3_->height() - 175));
        groupbox5_->setGeometry(4, 4, Panel4_->width() - 10, Panel4_->height() - 10);
        previewimage_->setGeometry(5, 16, groupbox5_->width() - 10, groupbox5_->height() - 21);
        centreIn(lbl1none_, previewimage_);

        if (actionSettingsFrame_)
            actionSettingsFrame_->setGeometry(5, 5, gb2panel_->width() - 10, gb2panel_->height() - 10);

        gbactions_->setGeometry(5, 5, Panel8_->width() - 10, Panel8_->height() - 9);
        const int listTop = btnaddaction_->y() + btnaddaction_->height() + 2;
        lbactions_->setGeometry(16, listTop, gbactions_->width() - 32, gbactions_->height() - listTop - 16);

        Panel7_->setMaximumHeight(std::max(1, Panel6_->height() - 125));
        GroupBox4_->setGeometry(5, 4, Panel7_->width() - 10, Panel7_->height() - 10);
        actpreviewimage_->setGeometry(5, 16, GroupBox4_->width() - 10, GroupBox4_->height() - Panel9_->height() - 21);
        centreIn(Label47_, actpreviewimage_);
        Panel9_->move(GroupBox4_->width() / 2 - Panel9_->width() / 2, GroupBox4_->height() - Panel9_->height());
    } while (setBoundsAgain_);
}

void TForm1::gb2show(QWidget* frame) {
    if (actionSettingsFrame_ == frame) return;
    delete actionSettingsFrame_;
    actionSettingsFrame_ = frame;
    if (!frame) return;
    // A new panel shows the current language before it is filled.
    if (auto* panel = qobject_cast<ActionPanel*>(frame))
        LanguageController::instance().attach(panel, QString::fromLatin1(panel->metaObject()->className()),
                                              PanelIgnoredTexts(),
                                              [panel] { panel->DKLanguageController1LanguageChanged(); });
    frame->setParent(gb2panel_);
    frame->setGeometry(5, 5, gb2panel_->width() - 10, gb2panel_->height() - 10);
    frame->show();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == step3_)
            Guarded([this] { FormResize(); });
        else
            Guarded([this] { fsetbounds(); });
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == groupbox5_) Guarded([this] { Fullscreen1Click(); });
        if (watched == GroupBox4_) Guarded([this] { MenuItem20001Click(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- Step 1: the file list ------------------------------------------------------

void TForm1::addfile(const QString& path) { lb1files_->addfile(path); }

void TForm1::addFiles(const QStringList& paths) {
    {
        // One preview when the command ends, not one per added file.
        FlagScope quiet(quietSelection_);
        for (const QString& path : paths) addfile(path);
    }
    previewSelectedFile();
}

void TForm1::SpeedButton12Click() { addFiles(dialogs_.openPictures(this)); }

void TForm1::SpeedButton9Click() { addFiles(shell_->selectedPaths()); }

void TForm1::SpeedButton10Click() { addFiles(shell_->filesToAddAll()); }

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (running_) return;  // nothing joins the list while a run reads it
    if (event->mimeData()->hasUrls())
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    QMainWindow::dragEnterEvent(event);
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty() || running_) return;
    event->acceptProposedAction();
    Guarded([this, &paths] { addFiles(paths); });
}

void TForm1::btn1removeClick() {
    if (currentStep() != 0) return;
    FlagScope quiet(quietSelection_);
    const int i = lb1files_->selectedIndex();
    if (i >= 0) lb1files_->removeAt(i);
    if (lb1files_->count() == 0) {
        stepOneWorker_->discard();
        previewimage_->clear();
        lbl1none_->show();
        return;
    }
    if (i > 0) {
        lb1files_->selectIndex(i - 1);
    } else if (i == 0 && lb1files_->count() >= 2) {
        lb1files_->selectIndex(0);
    } else {
        // Nothing selected: the preview keeps what it shows.
        lb1files_->selectIndex(-1);
        return;
    }
    previewSelectedFile();
}

void TForm1::SpeedButton13Click() {
    {
        FlagScope quiet(quietSelection_);
        lb1files_->clear();
    }
    stepOneWorker_->discard();
    previewimage_->clear();
    lbl1none_->show();
}

void TForm1::MenuItem4Click() {
    const QString path = dialogs_.openFileList(this);
    if (path.isEmpty()) return;
    QStringList paths;
    for (const std::string& line : pictorix::ReadFileListDocument(ToNativePath(path))) paths << FromNativePath(line);
    addFiles(paths);
}

void TForm1::MenuItem5Click() {
    bool firstFilter = false;
    const QString name = dialogs_.saveFileList(this, &firstFilter);
    if (name.isEmpty()) return;
    std::string path = ToNativePath(name);
    if (firstFilter) path = pictorix::WithPflExtension(path);
    pictorix::WriteFileListDocument(path, lb1files_->entries());
}

void TForm1::lb1filesClick() {
    if (!quietSelection_) previewSelectedFile();
}

void TForm1::previewSelectedFile() {
    const int selected = lb1files_->selectedIndex();
    if (selected >= 0) wmpreview(selected, QString());
}

void TForm1::filtercbChange() { shell_->setMasks(shell_->selectedFilterMasks()); }

void TForm1::SpeedButton7Click() { shell_->goUp(); }

void TForm1::shelllvClick(const QString& path) { wmpreview(-1, path); }

// --- Previews -------------------------------------------------------------------

namespace {

// The preview's message names the file that could not be shown.
template <class F>
QImage NamingFailures(const std::string& path, F&& read) {
    try {
        return read();
    } catch (const std::exception& e) {
        const std::size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        throw pictorix::Error((name.empty() ? path : name) + ": " + e.what());
    }
}

}  // namespace

void TForm1::wmpreview(int index, const QString& path) {
    lbl1none_->hide();
    const std::string file = ToNativePath(index >= 0 ? lb1files_->fullPath(index) : path);
    stepOneWorker_->request([file] { return NamingFailures(file, [&] { return ReadPreviewPicture(file); }); });
}

void TForm1::actpreview(int index) {
    Label47_->hide();
    const std::string file = ToNativePath(lb1files_->fullPath(index));
    std::vector<std::string> actions = actionList_.items();
    stepTwoWorker_->request([file, actions = std::move(actions)] {
        return NamingFailures(file, [&] { return ReadActionPreviewPicture(file, actions); });
    });
}

void TForm1::immpreview() {
    if (immpreviewRunning_) return;
    FlagScope running(immpreviewRunning_);
    if (!cbimmpreview_->isChecked()) return;
    const int count = lb1files_->count();
    if (previewIndex_ >= 0 && previewIndex_ < count)
        actpreview(previewIndex_);
    else if (count > 0)
        actpreview(0);
}

void TForm1::Button3Click() {
    const int count = lb1files_->count();
    if (previewIndex_ >= 0 && previewIndex_ < count) {
        actpreview(previewIndex_);
    } else if (count > 0) {
        actpreview(0);
        previewIndex_ = 0;
    }
}

void TForm1::Button9Click() {
    if (previewIndex_ < lb1files_->count() - 1) {
        actpreview(previewIndex_ + 1);
        ++previewIndex_;
    }
}

void TForm1::Button10Click() {
    // After files were removed the index may lie beyond the list; from there the
    // previous picture is the last one.
    previewIndex_ = std::min(previewIndex_, lb1files_->count());
    if (previewIndex_ > 0) {
        actpreview(previewIndex_ - 1);
        --previewIndex_;
    }
}

void TForm1::cbimmpreviewClick() {
    if (!cbimmpreview_->isChecked()) return;
    const int count = lb1files_->count();
    if (previewIndex_ >= 0 && previewIndex_ < count)
        actpreview(previewIndex_);
    else if (count > 0)
        actpreview(0);
}

bool TForm1::stepTwoPreviewEmpty() const { return !actpreviewimage_->hasPicture() && stepTwoWorker_->idle(); }

void TForm1::openViewer(PreviewImage* preview) {
    if (!preview->hasPicture()) return;
    if (!frmfullscreen_) frmfullscreen_ = new Tfrmfullscreen(this);
    frmfullscreen_->show();
    frmfullscreen_->raise();
    frmfullscreen_->activateWindow();
    frmfullscreen_->setPicture(preview->picture());
}

void TForm1::Fullscreen1Click() { openViewer(previewimage_); }

void TForm1::MenuItem20001Click() { openViewer(actpreviewimage_); }

void TForm1::PopupMenu20002Popup() { Fullscreen1_->setEnabled(previewimage_->hasPicture()); }

void TForm1::PopupMenu20003Popup() { MenuItem20001_->setEnabled(actpreviewimage_->hasPicture()); }

void TForm1::waitForPreviews() {
    stepOneWorker_->waitForIdle();
    stepTwoWorker_->waitForIdle();
}
