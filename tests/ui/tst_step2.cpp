// Step 2 driven through its controls: the action list commands, action list files, and
// the parameter panels filled from action strings and writing back into them.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "actions/panels/action_panel.h"
#include "actions/panels/blur_panel.h"
#include "actions/panels/panel_dialogs.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/previews.h"
#include "ui/widgets.h"

class tst_Step2 : public QObject {
    Q_OBJECT

   private slots:
    void initTestCase();
    void init();
    void cleanup();

    void kindsMenuInOrder();
    void addingSwitchesToStepTwoAndShowsThePanel();
    void deleting();
    void moving();
    void clearKeepsThePanelWritingNowhere();
    void saveNames_data();
    void saveNames();
    void fileRoundTripKeepsUnknownLinesInStep();
    void failedOpenChangesNothing();
    void everyChangeRunsThePreviewOnce();
    void previewShowsTheWholeList();

    void simplePanelsWriteBack_data();
    void simplePanelsWriteBack();
    void keyFilters_data();
    void keyFilters();
    void sliderIsTheMaster();
    void brightnessArrowsGoPastTheSlider();
    void rotateAngleAndColour();
    void blurLabelUsesTheLocale_data();
    void blurLabelUsesTheLocale();
    void malformedFieldStopsTheFill();
    void sameKindGetsANewPanel();
    void pictureWatermarkWritesOnItsEvents();
    void textWatermark();
    void languageChangeResetsTheLists();
    void realFontDialogKeepsTheColourAndCancels();

   private:
    void makeWindow();
    template <class T = QWidget>
    T* child(const char* name) {
        T* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    // A control of the panel shown now.
    template <class T = QWidget>
    T* control(const char* name) {
        QWidget* panel = window_->actionSettingsFrame();
        T* found = panel ? panel->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        if (!found) qFatal("no control %s in the panel", name);
        return found;
    }
    void trigger(const char* name) { child<QAction>(name)->trigger(); }
    void click(const char* name) { child<QAbstractButton>(name)->click(); }
    QStringList captions() const;
    QStringList actions() const;
    QString action(int index) const { return QString::fromStdString(window_->actionList().at(std::size_t(index))); }
    QString panelName() const { return window_->actionSettingsFrame()->objectName(); }
    // Selects a caption as the user does.
    void select(int index);
    // Empties a box and types into it, key by key.
    static void retype(QLineEdit* box, const QString& keys);

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QTemporaryDir> dir_;
    TForm1* window_ = nullptr;
    QStringList errors_;
};

void tst_Step2::initTestCase() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("PICTORIX_HOME", home_->path().toUtf8());
    SetErrorReporter([this](const QString& text) { errors_ << text; });
}

void tst_Step2::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    errors_.clear();
    PanelDialogs& d = panelDialogs();
    d.chooseColour = [this](QWidget*, std::int32_t) {
        errors_ << "unexpected colour dialog";
        return std::optional<std::int32_t>();
    };
    d.chooseFont = [this](QWidget*, const WatermarkFont&) {
        errors_ << "unexpected font dialog";
        return std::optional<WatermarkFont>();
    };
    d.openPicture = [this](QWidget*) {
        errors_ << "unexpected picture dialog";
        return QString();
    };
}

void tst_Step2::cleanup() {
    delete window_;
    window_ = nullptr;
    ResetPanelDialogs();
    QLocale::setDefault(QLocale::c());
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    dir_.reset();
}

void tst_Step2::makeWindow() {
    window_ = new TForm1;
    TForm1::Dialogs& d = window_->dialogs();
    d.openActions = [this](QWidget*) {
        errors_ << "unexpected open dialog";
        return QString();
    };
    d.saveActions = [this](QWidget*, bool*) {
        errors_ << "unexpected save dialog";
        return QString();
    };
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_)) qFatal("window not shown");
}

QStringList tst_Step2::captions() const {
    QStringList result;
    auto* list = window_->findChild<QListWidget*>("lbactions");
    for (int i = 0; i < list->count(); ++i) result << list->item(i)->text();
    return result;
}

QStringList tst_Step2::actions() const {
    QStringList result;
    for (const std::string& a : window_->actionList()) result << QString::fromStdString(a);
    return result;
}

void tst_Step2::select(int index) {
    auto* list = window_->findChild<QListWidget*>("lbactions");
    list->doItemsLayout();
    const QRect rect = list->visualItemRect(list->item(index));
    if (!list->viewport()->rect().contains(rect.center())) qFatal("caption %d is not on screen", index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(index)).center());
}

void tst_Step2::retype(QLineEdit* box, const QString& keys) {
    box->setCursorPosition(box->text().size());
    while (!box->text().isEmpty()) QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, keys);
}

// --- The action list ------------------------------------------------------------

void tst_Step2::kindsMenuInOrder() {
    makeWindow();
    QStringList entries;
    for (QAction* a : child<QMenu>("gb2menu")->actions()) entries << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(entries, QStringList({"Rotate", "Mirror", "-", "Resize", "Canvas size", "Crop", "-", "Contrast",
                                   "Brightness", "Blur", "-", "Picture Watermark", "Text Watermark"}));
    // The same kinds menu hangs in the Actions menu and the list's context menu.
    for (const char* menu : {"Actionset1", "lbactionsmenu"}) {
        bool found = false;
        for (QAction* a : child<QMenu>(menu)->actions()) found = found || a->menu() == child<QMenu>("gb2menu");
        QVERIFY2(found, menu);
    }
}

void tst_Step2::addingSwitchesToStepTwoAndShowsThePanel() {
    makeWindow();
    QCOMPARE(panelName(), QStringLiteral("frmgb2actionsettings"));
    QCOMPARE(window_->currentStep(), 0);
    trigger("Crop1");
    QCOMPARE(window_->currentStep(), 1);
    QCOMPARE(actions(), QStringList({"crop;edge;10;10;10;10;100;100"}));
    QCOMPARE(captions(), QStringList({"Crop"}));
    QCOMPARE(window_->selectedAction(), 0);
    QCOMPARE(panelName(), QStringLiteral("frmgb2crop"));
    QVERIFY(control<QRadioButton>("se2cropedge")->isChecked());
    QCOMPARE(control<QLineEdit>("se2croptop")->text(), QStringLiteral("10"));
    QCOMPARE(control<QLineEdit>("se2cropright")->text(), QStringLiteral("10"));
    QCOMPARE(control<QLineEdit>("se2cropheight")->text(), QStringLiteral("100"));
    // Two actions of one kind each keep their own string.
    trigger("Crop1");
    QCOMPARE(window_->selectedAction(), 1);
    retype(control<QLineEdit>("se2croptop"), "7");
    QCOMPARE(actions(), QStringList({"crop;edge;10;10;10;10;100;100", "crop;edge;7;10;10;10;100;100"}));
}

void tst_Step2::deleting() {
    makeWindow();
    // Delete works on step 2 only.
    for (const char* kind : {"Rotate2", "Mirror1", "Blur1"}) trigger(kind);
    trigger("StepsStep11");
    trigger("ActionsetDeleteselectedaction1");
    QCOMPARE(actions().size(), 3);
    trigger("StepsStep21");

    // The last of three: the new last is selected and shown.
    click("Button2");
    QCOMPARE(captions(), QStringList({"Rotate", "Mirror"}));
    QCOMPARE(window_->selectedAction(), 1);
    QCOMPARE(panelName(), QStringLiteral("frmgb2mirror"));
    // The first: the one that moved up is selected.
    trigger("Blur1");
    select(0);
    QCOMPARE(panelName(), QStringLiteral("frmgb2rotate"));
    child<QMenu>("lbactionsmenu")->actions().at(2)->trigger();  // "Delete"
    QCOMPARE(actions(), QStringList({"mirror;0;0", "blur;5"}));
    QCOMPARE(window_->selectedAction(), 0);
    QCOMPARE(panelName(), QStringLiteral("frmgb2mirror"));
    // The last one left: nothing selected, the empty panel.
    click("Button2");
    click("Button2");
    QVERIFY(actions().isEmpty() && captions().isEmpty());
    QCOMPARE(window_->selectedAction(), -1);
    QCOMPARE(panelName(), QStringLiteral("frmgb2actionsettings"));
}

void tst_Step2::moving() {
    makeWindow();
    for (const char* kind : {"Rotate2", "Mirror1", "Blur1"}) trigger(kind);
    const QStringList start = actions();
    select(0);
    QWidget* panel = window_->actionSettingsFrame();
    click("Button4");  // up on the first
    QCOMPARE(actions(), start);
    select(2);
    trigger("ActionsetMoveselectedactiondown1");  // down on the last
    QCOMPARE(actions(), start);

    select(1);
    panel = window_->actionSettingsFrame();
    click("Button4");
    QCOMPARE(captions(), QStringList({"Mirror", "Rotate", "Blur"}));
    QCOMPARE(actions(), QStringList({"mirror;0;0", "rotate;0;16777215;", "blur;5"}));
    QCOMPARE(window_->selectedAction(), 0);
    // The panel is not refilled and edits the moved action at its new place.
    QCOMPARE(window_->actionSettingsFrame(), panel);
    control<QCheckBox>("cbhor")->click();
    QCOMPARE(action(0), QStringLiteral("mirror;0;-1"));
    click("Button5");
    click("Button5");
    QCOMPARE(captions(), QStringList({"Rotate", "Blur", "Mirror"}));
    QCOMPARE(actions(), QStringList({"rotate;0;16777215;", "blur;5", "mirror;0;-1"}));
    QCOMPARE(window_->selectedAction(), 2);
}

void tst_Step2::clearKeepsThePanelWritingNowhere() {
    makeWindow();
    trigger("Contrast1");
    QWidget* panel = window_->actionSettingsFrame();
    trigger("ActionsetClearactionslist1");
    QVERIFY(actions().isEmpty() && captions().isEmpty());
    QCOMPARE(window_->selectedAction(), -1);
    QCOMPARE(window_->actionSettingsFrame(), panel);
    control<QSlider>("tb2contrast")->setValue(37);
    QVERIFY(actions().isEmpty());
    // With nothing selected the handler ends before the box follows the slider.
    QCOMPARE(control<QLineEdit>("se2contrast")->text(), QStringLiteral("0"));
}

void tst_Step2::saveNames_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("firstFilter");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain name") << "list" << true << "list.acf";
    QTest::newRow("has .acf") << "list.acf" << true << "list.acf";
    QTest::newRow("upper case extension") << "list.ACF" << true << "list.ACF.acf";
    QTest::newRow("other extension") << "list.txt" << true << "list.txt.acf";
    QTest::newRow("all files") << "list.txt" << false << "list.txt";
}

void tst_Step2::saveNames() {
    QFETCH(QString, typed);
    QFETCH(bool, firstFilter);
    QFETCH(QString, written);
    makeWindow();
    trigger("Rotate2");
    trigger("Contrast1");
    window_->dialogs().saveActions = [&](QWidget*, bool* first) {
        *first = firstFilter;
        return dir_->filePath(typed);
    };
    click("btnsaveactions");
    QFile file(dir_->filePath(written));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(written));
    QCOMPARE(file.readAll(), QByteArray("rotate;0;16777215;\r\ncontrast;0\r\n"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), 1);
}

void tst_Step2::fileRoundTripKeepsUnknownLinesInStep() {
    makeWindow();
    // Line feeds only, an unknown kind, an empty line in the middle, no final line end.
    const QString path = dir_->filePath("hand.acf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("contrast;5\nRotate;90;0\n\nblur;27");
    file.close();
    trigger("Mirror1");
    QWidget* panel = window_->actionSettingsFrame();
    window_->dialogs().openActions = [&](QWidget*) { return path; };
    trigger("ActionsetOpenfilewithactions1");
    QCOMPARE(actions(), QStringList({"contrast;5", "Rotate;90;0", "", "blur;27"}));
    QCOMPARE(captions(), QStringList({"Contrast", "Rotate;90;0", "", "Blur"}));
    QCOMPARE(window_->selectedAction(), -1);
    QCOMPARE(window_->actionSettingsFrame(), panel);

    // Captions still name their own entries: selecting, moving and deleting act on them.
    select(3);
    QCOMPARE(panelName(), QStringLiteral("frmgb2blur"));
    QCOMPARE(control<QSlider>("tb2blur")->value(), 27);
    select(1);  // an unknown kind keeps the panel that is shown
    QCOMPARE(panelName(), QStringLiteral("frmgb2blur"));
    click("Button2");
    QCOMPARE(actions(), QStringList({"contrast;5", "", "blur;27"}));
    QCOMPARE(captions(), QStringList({"Contrast", "", "Blur"}));

    // Saved and opened again, the list is the same.
    window_->dialogs().saveActions = [&](QWidget*, bool* first) {
        *first = true;
        return dir_->filePath("again");
    };
    click("btnsaveactions");
    trigger("ActionsetClearactionslist1");
    window_->dialogs().openActions = [&](QWidget*) { return dir_->filePath("again.acf"); };
    click("btnopenactions");
    QCOMPARE(actions(), QStringList({"contrast;5", "", "blur;27"}));
    QCOMPARE(captions(), QStringList({"Contrast", "", "Blur"}));
}

void tst_Step2::failedOpenChangesNothing() {
    makeWindow();
    trigger("Rotate2");
    window_->dialogs().openActions = [&](QWidget*) { return dir_->filePath("missing.acf"); };
    click("btnopenactions");
    QCOMPARE(errors_.size(), 1);  // reported, not hidden
    errors_.clear();
    QCOMPARE(actions(), QStringList({"rotate;0;16777215;"}));
    QCOMPARE(captions(), QStringList({"Rotate"}));
}

void tst_Step2::everyChangeRunsThePreviewOnce() {
    makeWindow();
    int changes = 0;
    window_->actionList().addListener([&] { ++changes; });
    auto once = [&](const char* what, auto&& command) {
        changes = 0;
        command();
        if (changes != 1) QFAIL(qPrintable(QStringLiteral("%1: %2 changes").arg(what).arg(changes)));
    };
    once("add", [&] { trigger("Contrast1"); });
    once("slider", [&] { control<QSlider>("tb2contrast")->setValue(37); });
    once("typed digit", [&] { QTest::keyClick(control<QLineEdit>("se2contrast"), Qt::Key_5); });
    QCOMPARE(action(0), QStringLiteral("contrast;100"));
    once("add text watermark", [&] { trigger("TextWatermark1"); });
    once("text key", [&] { QTest::keyClick(control<QPlainTextEdit>("eb2"), Qt::Key_A); });
    once("position", [&] { control<QComboBox>("cbdirection")->setCurrentIndex(1); });
    once("transparency", [&] { control<QCheckBox>("cbtransparent")->click(); });
    once("add crop", [&] { trigger("Crop1"); });
    once("crop mode", [&] { control<QRadioButton>("se2cropcenter")->click(); });
    once("move", [&] { click("Button4"); });
    once("delete", [&] { click("Button2"); });
    once("clear", [&] { trigger("ActionsetClearactionslist1"); });
    changes = 0;
    select(0);  // nothing to select
    QCOMPARE(changes, 0);
}

void tst_Step2::previewShowsTheWholeList() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    const QString path = dir_->filePath("a.png");
    QVERIFY(image.save(path));
    makeWindow();
    window_->addfile(path);
    trigger("Canvassize1");
    retype(control<QLineEdit>("se2canvaswidth"), "20");
    trigger("Rotate2");
    retype(control<QComboBox>("serotateimg")->lineEdit(), "90");
    window_->waitForPreviews();
    QCOMPARE(child<PreviewImage>("actpreviewimage")->picture().size(), QSize(100, 20));
}

// --- The panels -----------------------------------------------------------------

void tst_Step2::simplePanelsWriteBack_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("change");  // "click", "index N", "type TEXT"
    QTest::addColumn<QString>("written");
    QTest::newRow("mirror vertical") << "Mirror1"
                                     << "cbver"
                                     << "click"
                                     << "mirror;-1;0";
    QTest::newRow("mirror horizontal") << "Mirror1"
                                       << "cbhor"
                                       << "click"
                                       << "mirror;0;-1";
    QTest::newRow("resize width") << "Resize1"
                                  << "sewidth"
                                  << "type 640"
                                  << "resize;640;100;pixels;pixels;both";
    QTest::newRow("resize emptied") << "Resize1"
                                    << "seheight"
                                    << "type "
                                    << "resize;100;;pixels;pixels;both";
    QTest::newRow("resize unit") << "Resize1"
                                 << "lbwt"
                                 << "index 1"
                                 << "resize;100;100;percents;pixels;both";
    QTest::newRow("resize height unit") << "Resize1"
                                        << "lbht"
                                        << "index 1"
                                        << "resize;100;100;pixels;percents;both";
    QTest::newRow("resize use") << "Resize1"
                                << "lbuse"
                                << "index 2"
                                << "resize;100;100;pixels;pixels;height";
    QTest::newRow("canvas height") << "Canvassize1"
                                   << "se2canvasheight"
                                   << "type 480"
                                   << "canvassize;100;480";
    QTest::newRow("crop centre") << "Crop1"
                                 << "se2cropcenter"
                                 << "click"
                                 << "crop;center;10;10;10;10;100;100";
    QTest::newRow("crop left") << "Crop1"
                               << "se2cropleft"
                               << "type 3"
                               << "crop;edge;10;10;3;10;100;100";
    QTest::newRow("crop width") << "Crop1"
                                << "se2cropwidth"
                                << "type 64"
                                << "crop;edge;10;10;10;10;64;100";
    QTest::newRow("brightness") << "Brightness1"
                                << "se2brightness"
                                << "type -40"
                                << "brightness;-40";
    QTest::newRow("blur") << "Blur1"
                          << "tb2blur"
                          << "index 27"
                          << "blur;27";
}

void tst_Step2::simplePanelsWriteBack() {
    QFETCH(QString, menu);
    QFETCH(QString, control);
    QFETCH(QString, change);
    QFETCH(QString, written);
    makeWindow();
    trigger(qPrintable(menu));
    QWidget* target = this->control(qPrintable(control));
    if (change == "click") {
        static_cast<QAbstractButton*>(target)->click();
    } else if (change.startsWith("index ")) {
        const int value = change.mid(6).toInt();
        if (auto* list = qobject_cast<QComboBox*>(target))
            list->setCurrentIndex(value);
        else
            static_cast<QSlider*>(target)->setValue(value);
    } else {
        retype(static_cast<QLineEdit*>(target), change.mid(5));
    }
    QCOMPARE(action(0), written);
    // Selected again, the panel shows what was written.
    select(0);
    QCOMPARE(qobject_cast<ActionPanel*>(window_->actionSettingsFrame())->compose(), written.toStdString());
}

void tst_Step2::keyFilters_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::newRow("digits only") << "Canvassize1"
                                 << "se2canvaswidth"
                                 << "1a-2.3 4"
                                 << "1234";
    QTest::newRow("at most 5 characters") << "Resize1"
                                          << "sewidth"
                                          << "1234567"
                                          << "12345";
    QTest::newRow("signed") << "Contrast1"
                            << "se2contrast"
                            << "-x5"
                            << "-5";
    QTest::newRow("crop digits") << "Crop1"
                                 << "se2cropbottom"
                                 << "-7"
                                 << "7";
    QTest::newRow("opacity digits") << "PictureWatermark1"
                                    << "psewmopacity"
                                    << "+30"
                                    << "30";
    QTest::newRow("offset digits") << "TextWatermark1"
                                   << "sewmy"
                                   << "x9y"
                                   << "9";
}

void tst_Step2::keyFilters() {
    QFETCH(QString, menu);
    QFETCH(QString, box);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    makeWindow();
    trigger(qPrintable(menu));
    auto* edit = control<QLineEdit>(qPrintable(box));
    retype(edit, keys);
    QCOMPARE(edit->text(), shown);
}

void tst_Step2::sliderIsTheMaster() {
    makeWindow();
    trigger("Contrast1");
    auto* slider = control<QSlider>("tb2contrast");
    auto* box = control<QLineEdit>("se2contrast");
    slider->setValue(37);
    QCOMPARE(action(0), QStringLiteral("contrast;37"));
    QCOMPARE(box->text(), QStringLiteral("37"));

    slider->setValue(0);
    retype(box, "150");
    QCOMPARE(slider->value(), 100);
    QCOMPARE(action(0), QStringLiteral("contrast;100"));
    QCOMPARE(box->text(), QStringLiteral("100"));

    // Not a number: the slider stays and nothing is written.
    retype(box, "5");
    QTest::keyClick(box, Qt::Key_Minus);
    QCOMPARE(box->text(), QStringLiteral("5-"));
    QCOMPARE(action(0), QStringLiteral("contrast;5"));
    // An empty box or a lone "-" moves nothing either.
    retype(box, "-");
    QCOMPARE(action(0), QStringLiteral("contrast;5"));

    // A value past the limit is clamped when the next key arrives.
    box->setText(QStringLiteral("-300"));
    QCOMPARE(action(0), QStringLiteral("contrast;-100"));
    QCOMPARE(box->text(), QStringLiteral("-100"));

    // Filled from a string out of range: the slider clamps and the box shows it.
    window_->actionList().replace(0, "contrast;250");
    select(0);
    QCOMPARE(control<QSlider>("tb2contrast")->value(), 100);
    QCOMPARE(control<QLineEdit>("se2contrast")->text(), QStringLiteral("100"));
    QCOMPARE(action(0), QStringLiteral("contrast;250"));  // the fill writes nothing
}

void tst_Step2::brightnessArrowsGoPastTheSlider() {
    makeWindow();
    trigger("Brightness1");
    auto* box = control<QLineEdit>("se2brightness");
    auto* arrows = control<UpDown>("se2brightnessupdown");
    box->setText(QStringLiteral("99"));
    arrows->upButton()->click();
    QCOMPARE(action(0), QStringLiteral("brightness;100"));
    arrows->upButton()->click();
    arrows->upButton()->click();
    QCOMPARE(box->text(), QStringLiteral("102"));
    QCOMPARE(control<QSlider>("tb2brightness")->value(), 100);
    QCOMPARE(action(0), QStringLiteral("brightness;100"));
    // The next key first clamps what the box holds.
    box->setCursorPosition(0);
    QTest::keyClick(box, Qt::Key_Backspace);  // at the start: deletes nothing
    QCOMPARE(box->text(), QStringLiteral("100"));
}

void tst_Step2::rotateAngleAndColour() {
    makeWindow();
    trigger("Rotate2");
    auto* box = control<QComboBox>("serotateimg");
    retype(box->lineEdit(), "400");
    QCOMPARE(control<QSlider>("tbrotateimg")->value(), 360);
    QCOMPARE(action(0), QStringLiteral("rotate;360;16777215"));
    QCOMPARE(box->currentText(), QStringLiteral("360"));

    // An entry of the list, and the arrows.
    box->setCurrentIndex(1);
    QCOMPARE(action(0), QStringLiteral("rotate;90;16777215"));
    control<UpDown>("UpDown11")->downButton()->click();
    QCOMPARE(action(0), QStringLiteral("rotate;89;16777215"));

    // Cancelling the colour dialog changes nothing but still writes; a colour is taken.
    std::optional<std::int32_t> answer;
    std::int32_t offered = -1;
    panelDialogs().chooseColour = [&](QWidget*, std::int32_t current) {
        offered = current;
        return answer;
    };
    window_->actionList().replace(0, "rotate;89;255");
    select(0);
    control<QPushButton>("Button8")->click();
    QCOMPARE(offered, 255);
    QCOMPARE(action(0), QStringLiteral("rotate;89;255"));
    answer = 65280;
    control<QPushButton>("Button8")->click();
    QCOMPARE(action(0), QStringLiteral("rotate;89;65280"));
    QCOMPARE(control<QLabel>("imgrotatecolor")->pixmap().toImage().pixelColor(12, 12), QColor(0, 255, 0));
    QCOMPARE(control<QLabel>("imgrotatecolor")->pixmap().toImage().pixelColor(0, 0), QColor(Qt::black));
}

void tst_Step2::blurLabelUsesTheLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::newRow("0") << "en_US" << 0 << "0";
    QTest::newRow("0.5") << "en_US" << 5 << "0.5";
    QTest::newRow("2.7") << "en_US" << 27 << "2.7";
    QTest::newRow("5") << "en_US" << 50 << "5";
    QTest::newRow("2,7") << "de_DE" << 27 << "2,7";
}

void tst_Step2::blurLabelUsesTheLocale() {
    QFETCH(QString, locale);
    QFETCH(int, position);
    QFETCH(QString, label);
    QLocale::setDefault(QLocale(locale));
    makeWindow();
    trigger("Blur1");
    QCOMPARE(control<QLabel>("lbl2blur")->text(), QStringLiteral("0.5").replace('.', QLocale().decimalPoint()));
    control<QSlider>("tb2blur")->setValue(position);
    QCOMPARE(control<QLabel>("lbl2blur")->text(), label);
    QCOMPARE(action(0), QStringLiteral("blur;%1").arg(position));
}

void tst_Step2::malformedFieldStopsTheFill() {
    makeWindow();
    trigger("Canvassize1");
    window_->actionList().replace(0, "canvassize;640");
    select(0);
    // The failure is reported; the controls before it are set, the flag is cleared.
    QCOMPARE(errors_.size(), 1);
    errors_.clear();
    QVERIFY(!window_->filling());
    QCOMPARE(control<QLineEdit>("se2canvaswidth")->text(), QStringLiteral("640"));
    QCOMPARE(control<QLineEdit>("se2canvasheight")->text(), QStringLiteral("100"));
    retype(control<QLineEdit>("se2canvasheight"), "480");
    QCOMPARE(action(0), QStringLiteral("canvassize;640;480"));
}

void tst_Step2::sameKindGetsANewPanel() {
    makeWindow();
    trigger("Rotate2");
    trigger("Rotate2");
    select(0);
    QWidget* first = window_->actionSettingsFrame();
    QPointer<QWidget> watch(first);
    select(1);
    QVERIFY(watch.isNull());  // destroyed, not reused
    control<QSlider>("tbrotateimg")->setValue(45);
    QCOMPARE(actions(), QStringList({"rotate;0;16777215;", "rotate;45;16777215"}));
    // Selecting the same caption again makes the panel anew.
    watch = window_->actionSettingsFrame();
    select(1);
    QVERIFY(watch.isNull());
    QCOMPARE(control<QSlider>("tbrotateimg")->value(), 45);
}

void tst_Step2::pictureWatermarkWritesOnItsEvents() {
    makeWindow();
    trigger("PictureWatermark1");
    const QString fresh = "picturewatermark;4;5;5;pixels;pixels;50;0;-1;;16777215";
    QCOMPARE(action(0), fresh);
    QCOMPARE(control<QComboBox>("pcbdirection")->currentText(), QStringLiteral("Center"));
    QCOMPARE(control<QLineEdit>("psewmopacity")->text(), QStringLiteral("50"));

    // Typing and the arrows write nothing by themselves.
    retype(control<QLineEdit>("psewmx"), "20");
    control<UpDown>("psewmyupdown")->upButton()->click();
    QCOMPARE(action(0), fresh);
    // A click into a box writes what the boxes hold.
    QTest::mouseClick(control<QLineEdit>("psewmopacity"), Qt::LeftButton);
    QCOMPARE(action(0), QStringLiteral("picturewatermark;4;20;6;pixels;pixels;50;0;-1;;16777215"));
    // So does a chosen entry.
    auto* unit = control<QComboBox>("plbwmyt");
    unit->setCurrentIndex(1);
    emit unit->activated(1);
    QCOMPARE(action(0), QStringLiteral("picturewatermark;4;20;6;pixels;percents;50;0;-1;;16777215"));

    // A value typed but not written is lost when the caption is selected again.
    retype(control<QLineEdit>("psewmx"), "77");
    select(0);
    QCOMPARE(control<QLineEdit>("psewmx")->text(), QStringLiteral("20"));

    // Transparency: the colour's controls follow it, also when filled.
    control<QCheckBox>("pcbtransparent")->click();
    QCOMPARE(action(0), QStringLiteral("picturewatermark;4;20;6;pixels;percents;50;0;0;;16777215"));
    for (const char* name : {"lbltrcolor", "imgtrcolor", "Button8"}) QVERIFY(!control(name)->isEnabled());
    select(0);
    for (const char* name : {"lbltrcolor", "imgtrcolor", "Button8"}) QVERIFY(!control(name)->isEnabled());
    control<QCheckBox>("pcbtransparent")->click();
    for (const char* name : {"lbltrcolor", "imgtrcolor", "Button8"}) QVERIFY(control(name)->isEnabled());

    // Browse and colour.
    const QString file = dir_->filePath("logo.png");
    panelDialogs().openPicture = [&](QWidget*) { return file; };
    panelDialogs().chooseColour = [](QWidget*, std::int32_t) { return std::optional<std::int32_t>(255); };
    control<QPushButton>("bb1")->click();
    control<QPushButton>("Button8")->click();
    QCOMPARE(action(0), "picturewatermark;4;20;6;pixels;percents;50;0;-1;" + file + ";255");
    QCOMPARE(control<QLineEdit>("eb1")->text(), file);
}

void tst_Step2::textWatermark() {
    makeWindow();
    trigger("TextWatermark1");
    auto* text = control<QPlainTextEdit>("eb2");
    QCOMPARE(text->toPlainText(), QStringLiteral("Your Text"));
    QCOMPARE(text->font().pointSize(), 12);
    QCOMPARE(text->font().family(), QStringLiteral("Arial"));
    QCOMPARE(text->palette().color(QPalette::Base), QColor(Qt::white));
    QVERIFY(control<QCheckBox>("cbtransparent")->isChecked());
    QCOMPARE(control<QComboBox>("cbdirection")->currentText(), QStringLiteral("Center"));

    const QString head = "textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;";
    text->setPlainText(QStringLiteral("Hello\nWorld"));
    QCOMPARE(action(0), head + ";Hello;World");
    text->setPlainText(QStringLiteral("Hello\n"));
    QCOMPARE(action(0), head + ";Hello;");
    text->clear();
    QCOMPARE(action(0), head);

    // Fonts: the dialog starts from the action's font; bold and italic are written.
    WatermarkFont offered;
    panelDialogs().chooseFont = [&](QWidget*, const WatermarkFont& current) {
        offered = current;
        WatermarkFont chosen = current;
        chosen.name = QStringLiteral("Liberation Serif");
        chosen.size = 20;
        chosen.colour = 255;
        chosen.style.bold = chosen.style.italic = true;
        return std::optional<WatermarkFont>(chosen);
    };
    text->setPlainText(QStringLiteral("A;B"));
    control<QPushButton>("btnfont")->click();
    QCOMPARE(offered.size, 12);
    QCOMPARE(offered.colour, pictorix::kWindowTextColour);
    QCOMPARE(action(0), QStringLiteral("textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;255;Liberation Serif;20;"
                                       "[fsBold,fsItalic];A;B"));
    QVERIFY(text->font().bold() && text->font().italic());
    QCOMPARE(text->font().pointSize(), 20);

    // A ";" in a line comes back as two lines.
    select(0);
    QCOMPARE(control<QPlainTextEdit>("eb2")->toPlainText(), QStringLiteral("A\nB"));

    // A background colour.
    panelDialogs().chooseColour = [](QWidget*, std::int32_t) { return std::optional<std::int32_t>(0x00FF0000); };
    control<QPushButton>("btncolor")->click();
    QVERIFY(action(0).startsWith("textwatermark;4;5;5;pixels;pixels;50;0;-1;16711680;255;"));
    QCOMPARE(control<QPlainTextEdit>("eb2")->palette().color(QPalette::Base), QColor(0, 0, 255));

    // A style written in another order shows no style and writes an empty field next.
    window_->actionList().replace(0, (head + "[fsItalic,fsBold];X").toStdString());
    select(0);
    QVERIFY(!control<QPlainTextEdit>("eb2")->font().bold());
    control<QComboBox>("lbwmxt")->setCurrentIndex(1);
    QCOMPARE(action(0), QStringLiteral("textwatermark;4;5;5;percents;pixels;50;0;-1;16777215;-16777208;Arial;12;;X"));
    // Opacity past 100 is clamped by the next key.
    auto* opacity = control<QLineEdit>("sewmopacity");
    opacity->setText(QStringLiteral("150"));
    QTest::keyClick(opacity, Qt::Key_End);
    QTest::keyClick(opacity, Qt::Key_Backspace);
    QCOMPARE(opacity->text(), QStringLiteral("10"));
}

void tst_Step2::languageChangeResetsTheLists() {
    makeWindow();
    trigger("Resize1");
    control<QComboBox>("lbwt")->setCurrentIndex(1);
    control<QComboBox>("lbuse")->setCurrentIndex(1);
    QCOMPARE(action(0), QStringLiteral("resize;100;100;percents;pixels;width"));
    auto* panel = static_cast<ActionPanel*>(window_->actionSettingsFrame());
    panel->DKLanguageController1LanguageChanged();
    QCOMPARE(control<QComboBox>("lbwt")->currentIndex(), 0);
    QCOMPARE(control<QComboBox>("lbuse")->currentIndex(), 0);
    QCOMPARE(action(0), QStringLiteral("resize;100;100;percents;pixels;width"));
    retype(control<QLineEdit>("sewidth"), "50");
    QCOMPARE(action(0), QStringLiteral("resize;50;100;pixels;pixels;both"));
    // The boxes stand 5 pixels right of the wider label, the unit lists beyond the arrows.
    auto* width = control<QLineEdit>("sewidth");
    auto* arrows = control<UpDown>("sewidthupdown");
    QCOMPARE(arrows->x(), width->x() + width->width());
    QCOMPARE(control<QComboBox>("lbwt")->x(), arrows->x() + arrows->width() + 5);
    QCOMPARE(control<QLineEdit>("seheight")->x(), width->x());

    trigger("TextWatermark1");
    static_cast<ActionPanel*>(window_->actionSettingsFrame())->DKLanguageController1LanguageChanged();
    QCOMPARE(control<QComboBox>("cbdirection")->currentText(), QStringLiteral("Bottom-Left"));
    QVERIFY(action(1).startsWith("textwatermark;4;"));
    control<QCheckBox>("cbtransparent")->click();
    QVERIFY(action(1).startsWith("textwatermark;0;5;5;pixels;pixels;50;0;0;"));
}

void tst_Step2::realFontDialogKeepsTheColourAndCancels() {
    WatermarkFont font;
    font.size = 20;
    font.style.italic = true;
    for (bool confirm : {false, true}) {
        QTimer::singleShot(0, [confirm] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog) qFatal("no font dialog");
            confirm ? dialog->accept() : dialog->reject();
        });
        const std::optional<WatermarkFont> chosen = ChooseWatermarkFont(nullptr, font);
        QCOMPARE(chosen.has_value(), confirm);
        if (chosen) {
            // Confirmed unchanged: the window-text colour stays that system colour.
            QCOMPARE(chosen->colour, pictorix::kWindowTextColour);
            QCOMPARE(chosen->size, 20);
            QCOMPARE(chosen->style, font.style);
        }
    }
    QCOMPARE(WatermarkPictureFilters().section(";;", 0, 0),
             QStringLiteral("All image files (*.bmp *.jpg *.jpeg *.png *.gif *.tiff *.tif *.pcx)"));
}

QTEST_MAIN(tst_Step2)
#include "tst_step2.moc"
