// The main window driven through its controls: navigation, the file list, file-list
// documents, the previews and the start of a run.
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <future>
#include <memory>

#include "ui/application.h"
#include "ui/file_list.h"
#include "ui/fullscreen.h"
#include "ui/main_window.h"
#include "ui/previews.h"

class tst_MainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsAsDesigned();
    void controlsCarryTheirNames_data();
    void controlsCarryTheirNames();
    void navigation_data();
    void navigation();
    void nextStartsTheFirstStepTwoPreview_data();
    void nextStartsTheFirstStepTwoPreview();
    void layoutRules();

    void commandLineFilesAreListedAndTheLastPreviewed();
    void addsFromTheOpenDialogAndDrops();
    void addsFromTheFolderBrowser();
    void removal_data();
    void removal();
    void removeWorksOnlyOnStepOne();
    void clearEmptiesListAndPreview();
    void sorting();

    void fileListDocumentRoundTrip();
    void saveNames_data();
    void saveNames();
    void emptyLineGivesEmptyEntry();
    void unreadableDocumentIsReported();

    void previewIndex_data();
    void previewIndex();
    void previewIndexAfterRemoval();
    void immediatePreview();
    void unreadablePictureShowsItsMessage();
    void viewerOpensOnlyWithAPicture();
    void workerDeliversOnlyTheNewestRequest();

    void startWithEmptyListShowsOnlyTheMessage();
    void startConvertsAndReportsFailures();

private:
    TForm1* makeWindow(const QStringList& files = {});
    QString picture(const QString& name, int width, int height = 10);
    template <class T = QWidget>
    T* child(const char* name) {
        T* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    void click(const char* name) { child<QAbstractButton>(name)->click(); }
    void trigger(const char* name) { child<QAction>(name)->trigger(); }
    QStringList names() const;
    QSize stepOnePicture() const;
    QSize stepTwoPicture() const;

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QTemporaryDir> dir_;
    TForm1* window_ = nullptr;
    QStringList errors_;
    QStringList messages_;
};

void tst_MainWindow::initTestCase() {
    home_ = std::make_unique<QTemporaryDir>();
    // The run reads the settings file of this folder: none, so the defaults hold.
    qputenv("PICTORIX_HOME", home_->path().toUtf8());
    SetErrorReporter([this](const QString& text) { errors_ << text; });
}

void tst_MainWindow::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    errors_.clear();
    messages_.clear();
}

void tst_MainWindow::cleanup() {
    delete window_;
    window_ = nullptr;
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
    dir_.reset();
}

TForm1* tst_MainWindow::makeWindow(const QStringList& files) {
    window_ = new TForm1(files);
    TForm1::Dialogs& d = window_->dialogs();
    // No dialog may open in a test; a test that expects one puts its answer in place.
    auto unexpected = [this](const char* which) { errors_ << QStringLiteral("unexpected dialog: ") + which; };
    d.openPictures = [=](QWidget*) { unexpected("open pictures"); return QStringList(); };
    d.openFileList = [=](QWidget*) { unexpected("open file list"); return QString(); };
    d.saveFileList = [=](QWidget*, bool*) { unexpected("save file list"); return QString(); };
    d.browseForFolder = [=](QWidget*, const QString&) { unexpected("browse"); return QString(); };
    d.message = [this](QWidget*, const QString& text) { messages_ << text; };
    d.askReplace = [=](QWidget*, const QString&) { unexpected("replace"); return pictorix::ReplaceAnswer::No; };
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_)) qFatal("window not shown");
    window_->waitForPreviews();
    return window_;
}

QString tst_MainWindow::picture(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    const QString path = dir_->filePath(name);
    if (!image.save(path, "PNG")) qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList tst_MainWindow::names() const {
    QStringList result;
    FileListView* list = window_->fileList();
    for (int i = 0; i < list->count(); ++i) result << list->topLevelItem(i)->text(0);
    return result;
}

QSize tst_MainWindow::stepOnePicture() const {
    window_->waitForPreviews();
    return window_->findChild<PreviewImage*>("previewimage")->picture().size();
}

QSize tst_MainWindow::stepTwoPicture() const {
    window_->waitForPreviews();
    return window_->findChild<PreviewImage*>("actpreviewimage")->picture().size();
}

// --- The window and its navigation ----------------------------------------------

void tst_MainWindow::startsAsDesigned() {
    makeWindow();
    QCOMPARE(window_->windowTitle(), QStringLiteral("Pictorix"));
    QCOMPARE(window_->size(), QSize(652, 624));
    QCOMPARE(window_->minimumSize(), QSize(640, 614));
    window_->resize(300, 200);
    QCOMPARE(window_->size(), QSize(640, 614));
    QCOMPARE(window_->currentStep(), 0);
    QVERIFY(child<QLabel>("lbl1none")->isVisible());
    QVERIFY(child<QLabel>("Label47")->isVisibleTo(child("step2")));
    QVERIFY(child<QCheckBox>("cbimmpreview")->isChecked());
    QCOMPARE(window_->previewIndex(), -1);
    // The step-3 folder edits follow their check boxes.
    QVERIFY(!child("tx3folder")->isEnabled());
    click("cb3followingfolder");
    QVERIFY(child("tx3folder")->isEnabled() && child("btn3browse")->isEnabled());
    QVERIFY(!child("tx3backup")->isEnabled());
    click("cb3backup");
    QVERIFY(child("tx3backup")->isEnabled() && child("btn3backup")->isEnabled() && child("lbl3backup")->isEnabled());
}

void tst_MainWindow::controlsCarryTheirNames_data() {
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"KWizard1", "step1", "step2", "step3", "Panel2", "Panel3", "Panel4", "Panel5", "Panel6", "Panel7", "Panel8",
          "Panel9", "Panel10", "GroupBox7", "shellcb", "SpeedButton7", "shelllv", "filtercb", "gb1selectfiles",
          "lb1files", "SpeedButton9", "SpeedButton10", "SpeedButton11", "SpeedButton12", "SpeedButton13", "groupbox5",
          "previewimage", "lbl1none", "gbactions", "btnaddaction", "lbactions", "GroupBox4", "actpreviewimage",
          "Label47", "SpeedButton1", "SpeedButton2", "SpeedButton3", "cbimmpreview", "gb2panel", "cb3samefolder",
          "cb3followingfolder", "tx3folder", "btn3browse", "lb3format", "Button6", "gbjpgoptions", "gbpngoptions",
          "gbgifoptions", "gbjp2options", "gbpdfoptions", "gbnooptions", "tbjpegquality", "sejpegquality",
          "jpegupdown", "cbprogressivejpeg", "sepngcompressionlevel", "pngupdown", "cbinterlacedpng",
          "cbgifcompression", "tbjp2quality", "sejp2quality", "jp2updown", "lbpdfcompression", "cbmodifyfilename",
          "tx3filename", "btnaddpm", "Label1", "tx3counter", "UpDown1", "Label48", "Label11", "cb3replace", "cb3ask",
          "cb3skip", "cbkeepdatetime", "cb3deletefiles", "cb3backup", "lbl3backup", "tx3backup", "btn3backup",
          "MenuItem4", "MenuItem5", "FileAddfile1", "FileDeleteselectedfiles1", "FileClearfileslist1", "StepsStep11",
          "StepsStep21", "StepsStep31", "StepsStartconversion1", "gb2menu", "Fullscreen1", "MenuItem20001"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_MainWindow::controlsCarryTheirNames() {
    QFETCH(QString, name);
    makeWindow();
    QVERIFY(window_->findChild<QObject*>(name));
}

void tst_MainWindow::navigation_data() {
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("step");
    QTest::newRow("start") << QStringList() << 0;
    QTest::newRow("next") << QStringList{"NextButton"} << 1;
    QTest::newRow("next twice") << QStringList{"NextButton", "NextButton"} << 2;
    QTest::newRow("next and back") << QStringList{"NextButton", "BackButton"} << 0;
    QTest::newRow("menu step 3") << QStringList{"StepsStep31"} << 2;
    QTest::newRow("menu step 2 then back") << QStringList{"StepsStep31", "StepsStep21", "BackButton"} << 0;
    QTest::newRow("menu step 1") << QStringList{"NextButton", "NextButton", "StepsStep11"} << 0;
}

void tst_MainWindow::navigation() {
    QFETCH(QStringList, commands);
    QFETCH(int, step);
    makeWindow();
    for (const QString& command : commands) {
        if (auto* button = window_->findChild<QPushButton*>(command))
            button->click();
        else
            window_->findChild<QAction*>(command)->trigger();
    }
    QCOMPARE(window_->currentStep(), step);
    QCOMPARE(child<QStackedWidget>("KWizard1Pages")->currentWidget()->objectName(),
             QStringLiteral("step%1").arg(step + 1));
    QCOMPARE(child("BackButton")->isEnabled(), step > 0);
    QCOMPARE(child("NextButton")->isVisible(), step < 2);
    QCOMPARE(child("FinishButton")->isVisible(), step == 2);
}

void tst_MainWindow::nextStartsTheFirstStepTwoPreview_data() {
    QTest::addColumn<bool>("immediate");
    QTest::addColumn<bool>("byMenu");
    QTest::addColumn<bool>("previewed");
    QTest::newRow("next, immediate preview") << true << false << true;
    QTest::newRow("next, no immediate preview") << false << false << false;
    QTest::newRow("steps menu") << true << true << false;
}

void tst_MainWindow::nextStartsTheFirstStepTwoPreview() {
    QFETCH(bool, immediate);
    QFETCH(bool, byMenu);
    QFETCH(bool, previewed);
    makeWindow({picture("a.png", 12), picture("b.png", 20)});
    child<QCheckBox>("cbimmpreview")->setChecked(immediate);
    if (byMenu)
        trigger("StepsStep21");
    else
        click("NextButton");
    QCOMPARE(window_->currentStep(), 1);
    QCOMPARE(stepTwoPicture(), previewed ? QSize(12, 10) : QSize(0, 0));
    QCOMPARE(window_->previewIndex(), previewed ? 0 : -1);
    QCOMPARE(child<QLabel>("Label47")->isVisible(), !previewed);
}

void tst_MainWindow::layoutRules() {
    makeWindow();
    window_->resize(900, 700);
    QTest::qWait(0);
    for (int step = 0; step < 3; ++step) {
        window_->findChild<QStackedWidget*>("KWizard1Pages")->setCurrentIndex(step);
        QApplication::processEvents();
    }
    QCOMPARE(child("Panel2")->width(), 321);
    QCOMPARE(child("Panel4")->height(), 243);
    QCOMPARE(child("Panel7")->height(), 243);
    QCOMPARE(child("gb2panel")->width(), 334);

    QWidget* group = child("gb1selectfiles");
    QCOMPARE(child("lb1files")->geometry(), QRect(37, 24, group->width() - 45, group->height() - 32));
    QWidget* preview = child("previewimage");
    QCOMPARE(child("groupbox5")->geometry(), QRect(4, 4, child("Panel4")->width() - 10, child("Panel4")->height() - 10));
    QWidget* none = child("lbl1none");
    QCOMPARE(none->pos(), QPoint(preview->width() / 2 - none->width() / 2, preview->height() / 2 - none->height() / 2));
    QCOMPARE(child("Panel4")->maximumHeight(), child("Panel3")->height() - 175);
    QCOMPARE(child("Panel7")->maximumHeight(), child("Panel6")->height() - 125);

    // Step 3's content is centred below the header.
    QWidget* step3 = child("step3");
    QCOMPARE(child("Panel10")->pos(), QPoint(step3->width() / 2 - 633 / 2, (step3->height() - 46) / 2 - 465 / 2 + 46));

    // A splitter drag cannot push the list above the preview below its room.
    auto* splitter = child<QSplitter>("Panel3");
    splitter->setSizes({1, 10000});
    QApplication::processEvents();
    QVERIFY(child("Panel4")->height() <= splitter->height() - 175);
}

// --- Adding, removing and sorting ----------------------------------------------

void tst_MainWindow::commandLineFilesAreListedAndTheLastPreviewed() {
    const QString a = picture("a.png", 30);
    const QString b = picture("b.png", 40);
    makeWindow({a, b});
    QCOMPARE(names(), (QStringList{"a.png", "b.png"}));
    FileListView* list = window_->fileList();
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral(".PNG"));
    QCOMPARE(list->topLevelItem(1)->text(2), dir_->path() + "/");
    QCOMPARE(list->selectedIndex(), 1);
    QCOMPARE(stepOnePicture(), QSize(40, 10));
    QVERIFY(!child<QLabel>("lbl1none")->isVisible());
}

void tst_MainWindow::addsFromTheOpenDialogAndDrops() {
    const QString a = picture("a.png", 10);
    const QString b = picture("b.png", 20);
    QVERIFY(QDir(dir_->path()).mkdir("sub"));
    makeWindow();
    window_->dialogs().openPictures = [&](QWidget*) { return QStringList{b, a}; };
    click("SpeedButton12");
    QCOMPARE(names(), (QStringList{"b.png", "a.png"}));
    QCOMPARE(stepOnePicture(), QSize(10, 10));

    // A dropped folder is listed like a file.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(b), QUrl::fromLocalFile(dir_->filePath("sub"))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_, &drop);
    QCOMPARE(names(), (QStringList{"b.png", "a.png", "b.png", "sub"}));
    FileListView* list = window_->fileList();
    QCOMPARE(list->topLevelItem(3)->text(1), QString());
    QCOMPARE(list->topLevelItem(3)->text(2), dir_->path() + "/");
    QCOMPARE(list->selectedIndex(), 3);
    QVERIFY(errors_.isEmpty());
}

void tst_MainWindow::addsFromTheFolderBrowser() {
    picture("b.png", 10);
    picture("a.jpeg", 10);
    picture("c.JPG", 10);
    QFile(dir_->filePath("noext")).open(QIODevice::WriteOnly);
    QFile(dir_->filePath(".hidden.png")).open(QIODevice::WriteOnly);
    QVERIFY(QDir(dir_->path()).mkdir("sub.png"));
    makeWindow();
    ShellBrowser* shell = window_->shellBrowser();
    shell->setFolder(dir_->path());
    auto* filter = child<QComboBox>("filtercb");
    QCOMPARE(filter->count(), 22);

    // "Add all" goes mask by mask, without folders and hidden files.
    filter->setCurrentIndex(filter->findText("JPEG Images (*.jpg, *.jpeg)"));
    click("SpeedButton10");
    QCOMPARE(names(), (QStringList{"c.JPG", "a.jpeg"}));
    filter->setCurrentIndex(filter->findText("All Files (*.*)"));
    click("SpeedButton10");
    QCOMPARE(names().mid(2), (QStringList{"a.jpeg", "b.png", "c.JPG", "noext"}));

    // "Add" takes the selected items, folders included, in the view's order.
    window_->fileList()->clear();
    auto* view = child<QListWidget>("shelllv");
    QCOMPARE(view->item(0)->text(), QStringLiteral("sub.png"));  // folders come first
    for (int i = 0; i < view->count(); ++i)
        view->item(i)->setSelected(view->item(i)->text() == "noext" || view->item(i)->text() == "sub.png");
    click("SpeedButton9");
    QCOMPARE(names(), (QStringList{"sub.png", "noext"}));

    // "Top" goes to the parent folder.
    click("SpeedButton7");
    QCOMPARE(shell->folder(), QFileInfo(dir_->path()).absolutePath());
}

void tst_MainWindow::removal_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("countAfter");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<int>("previewWidth");  // 0: the preview is empty
    QTest::newRow("first of two") << 2 << 0 << 1 << -1 << 10;  // the preview keeps the removed picture
    QTest::newRow("second of two") << 2 << 1 << 1 << 0 << 10;
    QTest::newRow("first of three") << 3 << 0 << 2 << 0 << 20;
    QTest::newRow("last of three") << 3 << 2 << 2 << 1 << 20;
    QTest::newRow("none selected") << 2 << -1 << 2 << -1 << 20;
    QTest::newRow("the only one") << 1 << 0 << 0 << -1 << 0;
}

void tst_MainWindow::removal() {
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(int, countAfter);
    QFETCH(int, selectedAfter);
    QFETCH(int, previewWidth);
    QStringList files;
    for (int i = 0; i < count; ++i) files << picture(QStringLiteral("%1.png").arg(i), (i + 1) * 10);
    makeWindow(files);
    FileListView* list = window_->fileList();
    list->selectIndex(selected);
    stepOnePicture();
    trigger("FileDeleteselectedfiles1");
    QCOMPARE(list->count(), countAfter);
    QCOMPARE(list->selectedIndex(), selectedAfter);
    QCOMPARE(stepOnePicture().width(), previewWidth);
    QCOMPARE(child<QLabel>("lbl1none")->isVisible(), countAfter == 0);
}

void tst_MainWindow::removeWorksOnlyOnStepOne() {
    makeWindow({picture("a.png", 10)});
    QCOMPARE(child<QAction>("FileDeleteselectedfiles1")->shortcut(), QKeySequence(Qt::Key_Delete));
    for (const char* step : {"StepsStep21", "StepsStep31"}) {
        trigger(step);
        trigger("FileDeleteselectedfiles1");
        QCOMPARE(window_->fileList()->count(), 1);
    }
    trigger("StepsStep11");
    click("SpeedButton11");
    QCOMPARE(window_->fileList()->count(), 0);
}

void tst_MainWindow::clearEmptiesListAndPreview() {
    makeWindow({picture("a.png", 10), picture("b.png", 20)});
    QCOMPARE(stepOnePicture(), QSize(20, 10));
    click("SpeedButton13");
    QCOMPARE(window_->fileList()->count(), 0);
    QCOMPARE(stepOnePicture(), QSize(0, 0));
    QVERIFY(child<QLabel>("lbl1none")->isVisible());
}

void tst_MainWindow::sorting() {
    makeWindow();
    FileListView* list = window_->fileList();
    auto clickHeader = [list](int column) {
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    for (const char* path : {"/x/b.png", "/Y/c.bmp", "/w/a.gif"}) window_->addfile(QString::fromLatin1(path));
    clickHeader(FileListView::NameColumn);
    QCOMPARE(names(), (QStringList{"a.gif", "b.png", "c.bmp"}));
    window_->addfile("/z/bb.jpg");  // falls into place and is selected
    QCOMPARE(names(), (QStringList{"a.gif", "b.png", "bb.jpg", "c.bmp"}));
    QCOMPARE(list->selectedIndex(), 2);

    clickHeader(FileListView::TypeColumn);
    QCOMPARE(names(), (QStringList{"c.bmp", "a.gif", "bb.jpg", "b.png"}));
    QCOMPARE(list->selectedIndex(), 2);  // the selection moves with its entry
    window_->addfile("/x/0.tif");       // unsorted again: appended
    QCOMPARE(names().last(), QStringLiteral("0.tif"));

    clickHeader(FileListView::FolderColumn);  // ignores letter case: /w, /x, /x, /Y, /z
    QCOMPARE(names(), (QStringList{"a.gif", "b.png", "0.tif", "c.bmp", "bb.jpg"}));
}

// --- File-list documents --------------------------------------------------------

void tst_MainWindow::fileListDocumentRoundTrip() {
    const QString a = picture("a.png", 10);
    const QString b = picture("b b.png", 20);
    makeWindow({a, b});
    const QString name = dir_->filePath("files");
    window_->dialogs().saveFileList = [&](QWidget*, bool* first) {
        *first = true;
        return name;
    };
    trigger("MenuItem5");
    QFile saved(name + ".pfl");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), (a + "\r\n" + b + "\r\n").toUtf8());

    // Opening appends the document's entries to the list.
    window_->dialogs().openFileList = [&](QWidget*) { return name + ".pfl"; };
    trigger("MenuItem4");
    QCOMPARE(names(), (QStringList{"a.png", "b b.png", "a.png", "b b.png"}));
    QCOMPARE(window_->fileList()->fullPath(3), b);
    QCOMPARE(window_->fileList()->selectedIndex(), 3);
    QVERIFY(errors_.isEmpty());
}

void tst_MainWindow::saveNames_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("firstFilter");
    QTest::addColumn<QString>("written");
    QTest::newRow("first filter adds .pfl") << "files" << true << "files.pfl";
    QTest::newRow("first filter keeps .pfl") << "files.pfl" << true << "files.pfl";
    QTest::newRow("first filter, other case") << "list.PFL" << true << "list.PFL.pfl";
    QTest::newRow("all files as typed") << "files" << false << "files";
}

void tst_MainWindow::saveNames() {
    QFETCH(QString, typed);
    QFETCH(bool, firstFilter);
    QFETCH(QString, written);
    makeWindow({picture("a.png", 10)});
    window_->dialogs().saveFileList = [&](QWidget*, bool* first) {
        *first = firstFilter;
        return dir_->filePath(typed);
    };
    trigger("MenuItem5");
    QCOMPARE(QDir(dir_->path()).entryList({"*files*", "*list*"}, QDir::Files), QStringList{written});
}

void tst_MainWindow::emptyLineGivesEmptyEntry() {
    const QString document = dir_->filePath("in.pfl");
    QFile file(document);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("/p/a.png\n\r\n/p/b.JPEG");
    file.close();
    makeWindow();
    window_->dialogs().openFileList = [&](QWidget*) { return document; };
    trigger("MenuItem4");
    FileListView* list = window_->fileList();
    QCOMPARE(list->count(), 3);
    for (int column = 0; column < 3; ++column) QCOMPARE(list->topLevelItem(1)->text(column), QString());
    QCOMPARE(list->topLevelItem(2)->text(1), QStringLiteral(".JPEG"));
    window_->waitForPreviews();  // /p/b.JPEG does not exist: its preview says so

    // Saved again, the empty entry stays an empty line.
    window_->dialogs().saveFileList = [&](QWidget*, bool* first) {
        *first = false;
        return dir_->filePath("out.pfl");
    };
    trigger("MenuItem5");
    QFile out(dir_->filePath("out.pfl"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("/p/a.png\r\n\r\n/p/b.JPEG\r\n"));
}

void tst_MainWindow::unreadableDocumentIsReported() {
    makeWindow({picture("a.png", 10)});
    window_->dialogs().openFileList = [&](QWidget*) { return dir_->filePath("missing.pfl"); };
    trigger("MenuItem4");
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains("missing.pfl"), qPrintable(errors_[0]));
    QCOMPARE(window_->fileList()->count(), 1);
    errors_.clear();

    window_->dialogs().saveFileList = [&](QWidget*, bool* first) {
        *first = true;
        return dir_->filePath("no/such/folder/list");
    };
    trigger("MenuItem5");
    QCOMPARE(errors_.size(), 1);
    errors_.clear();
}

// --- The previews ---------------------------------------------------------------

void tst_MainWindow::previewIndex_data() {
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("width");  // of the step-2 preview, 0 for none
    const QString next = "SpeedButton2";
    const QString previous = "SpeedButton1";
    const QString test = "SpeedButton3";
    QTest::newRow("next from none shows the first") << QStringList{next} << 0 << 10;
    QTest::newRow("next to the last") << QStringList{next, next, next} << 2 << 30;
    QTest::newRow("next beyond the last") << QStringList{next, next, next, next} << 2 << 30;
    QTest::newRow("previous from none") << QStringList{previous} << -1 << 0;
    QTest::newRow("previous at the first") << QStringList{next, previous} << 0 << 10;
    QTest::newRow("next and previous") << QStringList{next, next, previous} << 0 << 10;
    QTest::newRow("test falls back to the first") << QStringList{test} << 0 << 10;
    QTest::newRow("test shows the current") << QStringList{next, next, test} << 1 << 20;
}

void tst_MainWindow::previewIndex() {
    QFETCH(QStringList, presses);
    QFETCH(int, index);
    QFETCH(int, width);
    makeWindow({picture("1.png", 10), picture("2.png", 20), picture("3.png", 30)});
    trigger("StepsStep21");
    for (const QString& press : presses) child<QToolButton>(press.toLatin1().constData())->click();
    QCOMPARE(window_->previewIndex(), index);
    QCOMPARE(stepTwoPicture().width(), width);
}

void tst_MainWindow::previewIndexAfterRemoval() {
    makeWindow({picture("1.png", 10), picture("2.png", 20), picture("3.png", 30)});
    trigger("StepsStep21");
    for (int i = 0; i < 3; ++i) click("SpeedButton2");
    QCOMPARE(window_->previewIndex(), 2);
    trigger("StepsStep11");
    window_->fileList()->selectIndex(2);
    click("SpeedButton11");
    window_->fileList()->selectIndex(1);
    click("SpeedButton11");
    QCOMPARE(window_->previewIndex(), 2);  // removal leaves the index alone

    // "Previous" from beyond the list shows the last picture.
    click("SpeedButton1");
    QCOMPARE(window_->previewIndex(), 0);
    QCOMPARE(stepTwoPicture().width(), 10);

    // "Test actions" from beyond the list falls back to the first picture.
    window_->addfile(picture("4.png", 40));
    click("SpeedButton2");
    QCOMPARE(window_->previewIndex(), 1);
    window_->fileList()->selectIndex(1);
    click("SpeedButton11");
    click("SpeedButton3");
    QCOMPARE(window_->previewIndex(), 0);
    QCOMPARE(stepTwoPicture().width(), 10);
}

void tst_MainWindow::immediatePreview() {
    makeWindow();
    auto* immediate = child<QCheckBox>("cbimmpreview");
    trigger("StepsStep21");

    // Nothing to show without files.
    immediate->click();
    immediate->click();
    QVERIFY(immediate->isChecked());
    QCOMPARE(stepTwoPicture(), QSize(0, 0));

    window_->addfile(picture("1.png", 10));
    window_->addfile(picture("2.png", 20));
    immediate->click();
    immediate->click();  // checked again: the first file, the index stays
    QCOMPARE(stepTwoPicture(), QSize(10, 10));
    QCOMPARE(window_->previewIndex(), -1);

    // A change of the action list recomputes the preview with every action.
    window_->actionList().add("canvassize;5;7");
    QCOMPARE(stepTwoPicture(), QSize(5, 7));
    immediate->click();
    QVERIFY(!immediate->isChecked());
    window_->actionList().add("canvassize;3;3");
    QCOMPARE(stepTwoPicture(), QSize(5, 7));
    click("SpeedButton3");
    QCOMPARE(stepTwoPicture(), QSize(3, 3));
}

void tst_MainWindow::unreadablePictureShowsItsMessage() {
    const QString good = picture("good.png", 10);
    const QString bad = dir_->filePath("bad.png");
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is no picture");
    file.close();
    makeWindow({good});
    QCOMPARE(stepOnePicture(), QSize(10, 10));
    window_->addfile(bad);
    auto* preview = child<PreviewImage>("previewimage");
    QCOMPARE(stepOnePicture(), QSize(0, 0));  // no stale picture
    QVERIFY2(preview->message().startsWith("bad.png: "), qPrintable(preview->message()));

    // Step 2 likewise, also for an action that fails.
    trigger("StepsStep21");
    window_->fileList()->selectIndex(0);
    click("SpeedButton3");
    QCOMPARE(stepTwoPicture(), QSize(10, 10));
    window_->actionList().add("canvassize;x;5");
    QCOMPARE(stepTwoPicture(), QSize(0, 0));
    QVERIFY(!child<PreviewImage>("actpreviewimage")->message().isEmpty());
    QVERIFY(errors_.isEmpty());
}

void tst_MainWindow::viewerOpensOnlyWithAPicture() {
    makeWindow();
    auto* menu = child<QMenu>("PopupMenu20002");
    emit menu->aboutToShow();
    QVERIFY(!child<QAction>("Fullscreen1")->isEnabled());
    trigger("Fullscreen1");
    QVERIFY(!window_->viewer());

    window_->addfile(picture("a.png", 60, 30));
    window_->waitForPreviews();
    emit menu->aboutToShow();
    QVERIFY(child<QAction>("Fullscreen1")->isEnabled());
    QTest::mouseDClick(child("previewimage"), Qt::LeftButton);
    Tfrmfullscreen* viewer = window_->viewer();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->view()->picture().size(), QSize(60, 30));
    viewer->Image1DblClick();
    QVERIFY(!viewer->isVisible());

    // The same viewer serves step 2.
    trigger("StepsStep21");
    click("SpeedButton3");
    window_->actionList().add("canvassize;8;9");
    window_->waitForPreviews();
    trigger("MenuItem20001");
    QCOMPARE(window_->viewer(), viewer);
    QCOMPARE(viewer->view()->picture().size(), QSize(8, 9));
}

void tst_MainWindow::workerDeliversOnlyTheNewestRequest() {
    PreviewWorker worker;
    QSignalSpy ready(&worker, &PreviewWorker::ready);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> runs{0};
    auto job = [&runs](int width) {
        return [&runs, width] {
            ++runs;
            if (width < 0) throw std::runtime_error("unreadable");
            return QImage(width, 1, QImage::Format_RGB32);
        };
    };
    worker.request([&, released] {
        released.wait();  // holds the worker until the later requests are in
        ++runs;
        return QImage(1, 1, QImage::Format_RGB32);
    });
    worker.request(job(2));
    worker.request(job(-1));
    worker.request(job(4));
    release.set_value();
    worker.waitForIdle();
    QCOMPARE(runs.load(), 2);  // the first and the newest
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready[0][0].value<QImage>().width(), 4);

    worker.request(job(-1));
    worker.waitForIdle();
    QCOMPARE(ready.size(), 2);
    QCOMPARE(ready[1][1].toString(), QStringLiteral("unreadable"));
}

// --- Starting a run -------------------------------------------------------------

void tst_MainWindow::startWithEmptyListShowsOnlyTheMessage() {
    makeWindow();
    trigger("StepsStartconversion1");
    trigger("StepsStep31");
    click("FinishButton");
    QCOMPARE(messages_, QStringList(2, "Please select at least one file to start the convertion."));
    QVERIFY(errors_.isEmpty());
}

void tst_MainWindow::startConvertsAndReportsFailures() {
    const QString source = picture("photo.png", 16, 8);
    makeWindow({source});
    trigger("StepsStartconversion1");  // no settings file: JPG beside the source
    QVERIFY(QFileInfo::exists(dir_->filePath("photo.jpg")));
    QVERIFY(errors_.isEmpty() && messages_.isEmpty());

    window_->addfile(dir_->filePath("gone.png"));
    trigger("StepsStep31");
    click("FinishButton");
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains("gone.png"), qPrintable(errors_[0]));
    errors_.clear();
}

QTEST_MAIN(tst_MainWindow)
#include "tst_main_window.moc"
