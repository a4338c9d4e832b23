#pragma once
// The main window: the menu bar and the three-page wizard that is the whole program.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSplitter>
#include <QStackedWidget>
#include <QStringList>
#include <QToolButton>
#include <functional>

#include "actions/action_kinds.h"
#include "actions/action_list.h"
#include "actions/panels/action_panel.h"
#include "engine/batch.h"

class FileListView;
class PreviewImage;
class PreviewWorker;
class ShellBrowser;
class Tfrmfullscreen;
class UpDown;
class Tfrmconv;
class QKeyEvent;

class TForm1 : public QMainWindow, public ActionPanelHost {
    Q_OBJECT
public:
    // The dialogs and questions the window asks. Each has a default that shows the
    // real dialog; tests put answers in their place.
    struct Dialogs {
        // dlg1open: the pictures chosen, in the dialog's order; empty when cancelled.
        std::function<QStringList(QWidget*)> openPictures;
        // The file-list document to open; empty when cancelled.
        std::function<QString(QWidget*)> openFileList;
        // The name to save the file list under; empty when cancelled. Tells whether
        // the first filter ("Files list (*.pfl)") was chosen.
        std::function<QString(QWidget*, bool* firstFilter)> saveFileList;
        // A folder chosen with the title, without its final "/"; empty when cancelled.
        std::function<QString(QWidget*, const QString& title)> browseForFolder;
        // A plain message with an Ok button, titled "Pictorix".
        std::function<void(QWidget*, const QString& text)> message;
        // The replace question of a run.
        std::function<pictorix::ReplaceAnswer(QWidget*, const QString& path)> askReplace;
        // openactionsdialog: the action list file to open; empty when cancelled.
        std::function<QString(QWidget*)> openActions;
        // saveactionsdialog: the name to save the action list under; empty when
        // cancelled. Tells whether the first filter ("Actions list (*.acf)") was chosen.
        std::function<QString(QWidget*, bool* firstFilter)> saveActions;
    };

    // `commandLineFiles` are added when the window is first shown.
    explicit TForm1(const QStringList& commandLineFiles = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    Dialogs& dialogs() { return dialogs_; }
    pictorix::ActionList& actionList() override { return actionList_; }
    // The action panel's side of the window: the filling flag and the selected caption.
    bool filling() const override { return filling_; }
    int selectedAction() const override;
    // The frame shown in gb2panel: the empty panel or the panel of the selected action.
    QWidget* actionSettingsFrame() const { return actionSettingsFrame_; }
    FileListView* fileList() const { return lb1files_; }
    ShellBrowser* shellBrowser() const { return shell_; }
    // The file list position the step-2 preview shows; -1 when none.
    int previewIndex() const { return previewIndex_; }
    // The viewer, once it has been opened.
    Tfrmfullscreen* viewer() const { return frmfullscreen_; }
    // Blocks until both previews show the result of their newest request.
    void waitForPreviews();

    // The active page: 0, 1 or 2.
    int currentStep() const;

    // Event handlers.
    void FormShow();

    // Languages, the additional options and the Help menu.
    void AddLanguageMenuItem(int id, const QString& caption);
    void miclick(QAction* item);
    void DKLanguageController1LanguageChanged();
    void HelpAbout1Click();
    void Button6Click();
    // The additional options dialog, once it has been opened.
    class Tfrmadtopt* additionalOptions() const { return frmadtopt_; }
    void KWizard1NextButtonClick();
    void KWizard1BackButtonClick();
    void KWizard1CancelButtonClick();
    void KWizard1FinishButtonClick();
    void StepsStep11Click();
    void StepsStep21Click();
    void StepsStep31Click();
    void StepsStartconversion1Click();
    void btn3browseClick();
    void btn3backupClick();
    void cb3samefolderClick();
    void cb3backupClick();
    void lb3formatChange();

    // Step 3: the sample line, the placeholders and the format options. A key filter
    // returns true when it has dealt with the key, which then goes no further.
    void tx3filenameChange();
    void InsertPlaceholder(const QString& text);
    void btnaddpmClick();
    void tbjpegqualityChange();
    void sejpegqualityChange();
    void tbjp2qualityChange();
    void sejp2qualityChange();
    bool tx3counterKeyPress(QKeyEvent* key);
    bool sejpegqualityKeyPress(QLineEdit* edit, QKeyEvent* key);
    bool sepngcompressionlevelKeyPress(QKeyEvent* key);
    // The options of a run: the step-3 controls, and the colour depth and the
    // thumbnails of the settings file.
    pictorix::ConversionSettings conversionSettings(const pictorix::IniFile& settingsFile) const;
    // True while a run is going on: the window takes no commands then.
    bool running() const { return running_; }
    // The progress window, once a run has created it.
    Tfrmconv* progressWindow() const { return frmconv_; }

    // The settings file: read when the window is created, written on every close request.
    void LoadSettings();
    void SaveSettings();
    // A close request: saves the settings and lets the window close, unless a run is on.
    bool FormCloseQuery();
    void FormResize();
    void fsetbounds();
    // Makes a frame the one shown in gb2panel, replacing (and deleting) the one before.
    void gb2show(QWidget* frame);

    // Step 1: the file list.
    void SpeedButton12Click();
    void SpeedButton9Click();
    void SpeedButton10Click();
    void btn1removeClick();
    void SpeedButton13Click();
    void MenuItem4Click();
    void MenuItem5Click();
    void lb1filesClick();
    void filtercbChange();
    void SpeedButton7Click();
    void shelllvClick(const QString& path);
    void addfile(const QString& path);
    // Adds files as one command: one preview of the selected entry at its end.
    void addFiles(const QStringList& paths);

    // Step 2: the action list.
    // Appends an action of the kind with its caption, on step 2, and shows its panel.
    void addAction(pictorix::ActionKind kind);
    void Rotate2Click();
    void Mirror1Click();
    void Resize1Click();
    void Canvassize1Click();
    void Crop1Click();
    void Contrast1Click();
    void Brightness1Click();
    void Blur1Click();
    void PictureWatermark1Click();
    void TextWatermark1Click();
    void btnaddactionClick();
    void Button2Click();
    void Button4Click();
    void Button5Click();
    void ActionsetClearactionslist1Click();
    void ActionsetOpenfilewithactions1Click();
    void ActionsetSaveactionslistas1Click();
    // Shows and fills the panel of the selected action.
    void lbactionsClick();

    // The previews.
    void wmpreview(int index, const QString& path);
    void actpreview(int index);
    void immpreview();
    void Button3Click();
    void Button9Click();
    void Button10Click();
    void cbimmpreviewClick();
    void Fullscreen1Click();
    void MenuItem20001Click();
    void PopupMenu20002Popup();
    void PopupMenu20003Popup();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();
    QWidget* createWizard();
    QWidget* createPageHeader(QWidget* page, const QString& title, const QString& subtitle);
    QWidget* createStep1();
    QWidget* createStep2();
    QWidget* createStep3();
    QWidget* createFormatOptions(QWidget* parent);
    // The names of one preview pane's parts, panel first.
    struct PreviewPaneNames {
        const char *panel, *box, *image, *none, *menu, *fullScreen;
    };
    // A preview pane: its panel, the "Preview" group box, the picture with its "(none)"
    // label, and a context menu whose full-screen command double-clicking runs too.
    void createPreviewPane(const PreviewPaneNames& names, QWidget*& panel, QGroupBox*& box, PreviewImage*& image,
                           QLabel*& none, QMenu*& menu, QAction*& fullScreen, void (TForm1::*fullScreenHandler)(),
                           void (TForm1::*popupHandler)());
    void setStep(int step);
    void previewSelectedFile();
    void openViewer(PreviewImage* preview);
    bool stepTwoPreviewEmpty() const;
    // Runs a handler as a command: a failure is reported, not passed on.
    template <class Sender, class Signal>
    void on(Sender* sender, Signal signal, void (TForm1::*handler)());

    Dialogs dialogs_;
    QStringList commandLineFiles_;
    bool shown_ = false;
    pictorix::ActionList actionList_;
    int previewIndex_ = -1;
    bool immpreviewRunning_ = false;
    bool quietSelection_ = false;  // selection changes made by a command preview nothing
    bool filling_ = false;         // a panel is being filled from its action
    bool quietActions_ = false;    // selection changes of lbactions made by a command
    int pressedActionRow_ = -1;    // the selected caption when the mouse went down on lbactions
    bool inSetBounds_ = false;
    bool setBoundsAgain_ = false;

    // Menus.
    QAction* FileDeleteselectedfiles1_ = nullptr;
    QMenu* gb2menu_ = nullptr;

    // The wizard.
    QWidget* KWizard1_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* step1_ = nullptr;
    QWidget* step2_ = nullptr;
    QWidget* step3_ = nullptr;
    QPushButton* BackButton_ = nullptr;
    QPushButton* NextButton_ = nullptr;
    QPushButton* FinishButton_ = nullptr;
    QPushButton* CancelButton_ = nullptr;

    // Step 1.
    QSplitter* Splitter1_ = nullptr;
    QWidget* Panel2_ = nullptr;
    QSplitter* Panel3_ = nullptr;
    QWidget* Panel4_ = nullptr;
    QWidget* Panel5_ = nullptr;
    QGroupBox* GroupBox7_ = nullptr;
    ShellBrowser* shell_ = nullptr;
    QGroupBox* gb1selectfiles_ = nullptr;
    FileListView* lb1files_ = nullptr;
    QGroupBox* groupbox5_ = nullptr;
    PreviewImage* previewimage_ = nullptr;
    QLabel* lbl1none_ = nullptr;
    QMenu* PopupMenu20002_ = nullptr;
    QAction* Fullscreen1_ = nullptr;

    // Step 2.
    QSplitter* Panel6_ = nullptr;
    QWidget* Panel7_ = nullptr;
    QWidget* Panel8_ = nullptr;
    QGroupBox* gbactions_ = nullptr;
    QToolButton* btnaddaction_ = nullptr;
    QListWidget* lbactions_ = nullptr;
    QGroupBox* GroupBox4_ = nullptr;
    PreviewImage* actpreviewimage_ = nullptr;
    QLabel* Label47_ = nullptr;
    QWidget* Panel9_ = nullptr;
    QCheckBox* cbimmpreview_ = nullptr;
    QMenu* PopupMenu20003_ = nullptr;
    QAction* MenuItem20001_ = nullptr;
    QWidget* gb2panel_ = nullptr;
    QWidget* actionSettingsFrame_ = nullptr;
    QMenu* lbactionsmenu_ = nullptr;
    // The caption of an action in the current language; an action of no known kind is
    // listed under its own text.
    QString actionCaption(const std::string& action) const;
    void selectActionQuietly(int index);
    // Keeps pressedActionRow_: the selected caption as it was before a mouse press.
    void watchActionListPresses();

    // Step 3.
    QWidget* Panel10_ = nullptr;
    QRadioButton* cb3samefolder_ = nullptr;
    QRadioButton* cb3followingfolder_ = nullptr;
    QLineEdit* tx3folder_ = nullptr;
    QPushButton* btn3browse_ = nullptr;
    QComboBox* lb3format_ = nullptr;
    QList<QGroupBox*> formatOptionGroups_;  // in the order of the format list's families
    QCheckBox* cb3backup_ = nullptr;
    QLabel* lbl3backup_ = nullptr;
    QLineEdit* tx3backup_ = nullptr;
    QToolButton* btn3backup_ = nullptr;
    QCheckBox* cbmodifyfilename_ = nullptr;
    QLineEdit* tx3filename_ = nullptr;
    QToolButton* btnaddpm_ = nullptr;
    QMenu* filenamemenu_ = nullptr;
    QLineEdit* tx3counter_ = nullptr;
    UpDown* UpDown1_ = nullptr;
    QLabel* Label48_ = nullptr;
    QRadioButton* cb3replace_ = nullptr;
    QRadioButton* cb3ask_ = nullptr;
    QRadioButton* cb3skip_ = nullptr;
    QCheckBox* cbkeepdatetime_ = nullptr;
    QCheckBox* cb3deletefiles_ = nullptr;
    QSlider* tbjpegquality_ = nullptr;
    QLineEdit* sejpegquality_ = nullptr;
    UpDown* jpegupdown_ = nullptr;
    QCheckBox* cbprogressivejpeg_ = nullptr;
    QLineEdit* sepngcompressionlevel_ = nullptr;
    UpDown* pngupdown_ = nullptr;
    QCheckBox* cbinterlacedpng_ = nullptr;
    QComboBox* cbgifcompression_ = nullptr;
    QSlider* tbjp2quality_ = nullptr;
    QLineEdit* sejp2quality_ = nullptr;
    UpDown* jp2updown_ = nullptr;
    QComboBox* lbpdfcompression_ = nullptr;
    // Finds the step-3 controls by name and ties their handlers and key filters.
    void connectStep3(QWidget* page);

    // The run.
    Tfrmconv* frmconv_ = nullptr;
    QMenu* lngmenu_ = nullptr;
    class Tfrmadtopt* frmadtopt_ = nullptr;
    void buildLanguageMenu();
    void checkCurrentLanguage();
    bool running_ = false;

    // The two previews' decoding.
    PreviewWorker* stepOneWorker_ = nullptr;
    PreviewWorker* stepTwoWorker_ = nullptr;
    Tfrmfullscreen* frmfullscreen_ = nullptr;
};

// Texts of the main window and of the action panels that a language never changes.
QStringList MainWindowIgnoredTexts();
QStringList PanelIgnoredTexts();
