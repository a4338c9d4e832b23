// Step 3 driven through its controls: the key filters and couplings, the format
// panels, the sample and the placeholders, the settings file written on close and read
// at start, and a run from the window with its progress window and replace question.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>
#include <thread>

#include "engine/ini_file.h"
#include "ui/application.h"
#include "ui/frmconv.h"
#include "ui/main_window.h"
#include "ui/widgets.h"
#include "ui/window_settings.h"

using pictorix::ReplaceAnswer;

class tst_Step3 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithoutSettingsFile();
    void counterKeys_data();
    void counterKeys();
    void optionKeys_data();
    void optionKeys();
    void trackBarsAndArrows();
    void onePanelPerFormat_data();
    void onePanelPerFormat();
    void sampleAndPlaceholders();

    void settingsRoundTrip();
    void storedValuesAtTheirEdges();
    void placement_data();
    void placement();
    void jobsKey_data();
    void jobsKey();

    void runShowsDone();
    void askDuringRun_data();
    void askDuringRun();
    void replaceQuestionHasFourAnswers();
    void failingRunNamesTheFile();
    void malformedCounterStopsATemplateRun();

private:
    TForm1* makeWindow(const QStringList& files = {});
    QString picture(const QString& name, int width = 16, int height = 8);
    template <class T = QWidget>
    T* child(const char* name) {
        T* found = window_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    // Types keys one by one; "\b" is a backspace.
    void type(QLineEdit* edit, const QString& keys);
    QString settingsPath() const { return home_->filePath(QStringLiteral("settings.ini")); }
    void writeSettings(const QByteArray& text);
    // Steps > "Start &conversion", as the menu runs it: a failure goes to the reporter.
    void start() { child<QAction>("StepsStartconversion1")->trigger(); }
    pictorix::IniFile settings() const { return pictorix::IniFile::Load(settingsPath().toStdString()); }

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QTemporaryDir> dir_;
    TForm1* window_ = nullptr;
    QStringList errors_;
    QStringList questions_;
    ReplaceAnswer answer_ = ReplaceAnswer::No;
    std::function<void()> duringQuestion_;
};

void tst_Step3::initTestCase() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("PICTORIX_HOME", home_->path().toUtf8());
    SetErrorReporter([this](const QString& text) { errors_ << text; });
}

void tst_Step3::init() {
    QFile::remove(settingsPath());
    dir_ = std::make_unique<QTemporaryDir>();
    errors_.clear();
    questions_.clear();
    duringQuestion_ = {};
}

void tst_Step3::cleanup() {
    delete window_;
    window_ = nullptr;
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
}

TForm1* tst_Step3::makeWindow(const QStringList& files) {
    window_ = new TForm1(files);
    TForm1::Dialogs& d = window_->dialogs();
    d.message = [this](QWidget*, const QString& text) { errors_ << QStringLiteral("message: ") + text; };
    d.askReplace = [this](QWidget*, const QString& path) {
        questions_ << path;
        if (duringQuestion_) duringQuestion_();
        return answer_;
    };
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_)) qFatal("window not shown");
    return window_;
}

QString tst_Step3::picture(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = dir_->filePath(name);
    if (!image.save(path, "PNG")) qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_Step3::type(QLineEdit* edit, const QString& keys) {
    for (QChar c : keys) {
        if (c == QLatin1Char('\b'))
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClick(edit, c.toLatin1());
    }
}

void tst_Step3::writeSettings(const QByteArray& text) {
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// --- Controls -------------------------------------------------------------------

void tst_Step3::startsWithoutSettingsFile() {
    makeWindow();
    QVERIFY(child<QRadioButton>("cb3replace")->isChecked());
    QVERIFY(child<QRadioButton>("cb3samefolder")->isChecked());
    QCOMPARE(child<QComboBox>("lb3format")->currentText(), QStringLiteral("JPG"));
    QVERIFY(child("gbjpgoptions")->isVisibleTo(child("step3")));
    QCOMPARE(child<QSlider>("tbjpegquality")->value(), 75);
    QCOMPARE(child<QLineEdit>("sejpegquality")->text(), QStringLiteral("75"));
    QCOMPARE(child<QLineEdit>("sepngcompressionlevel")->text(), QStringLiteral("8"));
    QCOMPARE(child<QComboBox>("lbpdfcompression")->currentText(), QStringLiteral("JPEG"));
    QCOMPARE(child<QComboBox>("cbgifcompression")->currentText(), QStringLiteral("LZW"));
    QCOMPARE(child<QLineEdit>("tx3counter")->text(), QStringLiteral("0"));
    QCOMPARE(child<QLabel>("Label48")->text(), QStringLiteral("Sample: MyPicture.jpg"));
    QVERIFY(child("tx3filename")->isEnabled());
    QVERIFY(!child("tx3folder")->isEnabled() && !child("btn3browse")->isEnabled());
    QVERIFY(!child("lbl3backup")->isEnabled() && !child("tx3backup")->isEnabled());

    const QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window_->pos(), QPoint(desk.x() + (desk.width() - 652) / 2, desk.y() + (desk.height() - 624) / 2));

    // The defaults a run uses.
    const pictorix::ConversionSettings s = window_->conversionSettings(pictorix::IniFile());
    QCOMPARE(s.dest.dest, 1);
    QCOMPARE(s.format.format, 1);
    QCOMPARE(s.format.jpegQuality, 75);
    QCOMPARE(s.filename.modify, false);
    QCOMPARE(s.filename.counterstart, 0);
    QCOMPARE(s.fileoptions.iffileexists, 1);
    QVERIFY(!s.fileoptions.keepdatetime && !s.fileoptions.deletesourcefiles && !s.backup.backup);
    QCOMPARE(s.colordepth.value, 0);
    QVERIFY(!s.thumb.enable);
}

void tst_Step3::counterKeys_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    // The whole text is selected before the first key.
    QTest::newRow("each key judged by the text before it") << "0" << "40000" << "40000";
    QTest::newRow("a further digit brings it back") << "0" << "400001" << "32767";
    QTest::newRow("a further backspace too") << "0" << "40000\b" << "32767";
    QTest::newRow("letters, blanks and signs are dropped") << "0" << "1a -x2.3" << "123";
    QTest::newRow("emptied puts 0 back") << "57" << "\b" << "0";
    QTest::newRow("up to the limit stays") << "0" << "32767" << "32767";
}

void tst_Step3::counterKeys() {
    QFETCH(QString, start);
    QFETCH(QString, keys);
    QFETCH(QString, expected);
    makeWindow();
    auto* counter = child<QLineEdit>("tx3counter");
    counter->setText(start);
    counter->selectAll();
    type(counter, keys);
    QCOMPARE(counter->text(), expected);
    QCOMPARE(child<QLabel>("Label48")->text(), QStringLiteral("Sample: MyPicture.jpg"));
    QVERIFY(errors_.isEmpty());
}

void tst_Step3::optionKeys_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("slider");  // empty: none
    QTest::addColumn<int>("position");
    QTest::newRow("jpeg 1 2 0") << "sejpegquality" << "120" << "100" << "tbjpegquality" << 100;
    QTest::newRow("jpeg letters dropped") << "sejpegquality" << "4x2" << "42" << "tbjpegquality" << 42;
    QTest::newRow("jpeg backspace works") << "sejpegquality" << "42\b" << "4" << "tbjpegquality" << 4;
    QTest::newRow("jp2 1 2 0") << "sejp2quality" << "120" << "100" << "tbjp2quality" << 100;
    QTest::newRow("png 0 then a key") << "sepngcompressionlevel" << "05" << "1" << "" << 0;
    QTest::newRow("png 0 then backspace") << "sepngcompressionlevel" << "0\b" << "1" << "" << 0;
    QTest::newRow("png letter dropped") << "sepngcompressionlevel" << "q" << "" << "" << 0;
}

void tst_Step3::optionKeys() {
    QFETCH(QString, edit);
    QFETCH(QString, keys);
    QFETCH(QString, expected);
    QFETCH(QString, slider);
    QFETCH(int, position);
    makeWindow();
    auto* line = window_->findChild<QLineEdit*>(edit);
    line->clear();
    type(line, keys);
    QCOMPARE(line->text(), expected);
    if (!slider.isEmpty()) QCOMPARE(window_->findChild<QSlider*>(slider)->value(), position);
    QVERIFY(errors_.isEmpty());
}

void tst_Step3::trackBarsAndArrows() {
    makeWindow();
    auto* track = child<QSlider>("tbjpegquality");
    auto* edit = child<QLineEdit>("sejpegquality");
    track->setValue(33);
    QCOMPARE(edit->text(), QStringLiteral("33"));
    track->setValue(150);
    QCOMPARE(track->value(), 100);
    QCOMPARE(edit->text(), QStringLiteral("100"));
    child<UpDown>("jpegupdown")->downButton()->click();
    QCOMPARE(edit->text(), QStringLiteral("99"));
    QCOMPARE(track->value(), 99);
    child<UpDown>("pngupdown")->upButton()->click();
    child<UpDown>("pngupdown")->upButton()->click();
    QCOMPARE(child<QLineEdit>("sepngcompressionlevel")->text(), QStringLiteral("9"));
    child<UpDown>("jp2updown")->upButton()->click();
    QCOMPARE(child<QSlider>("tbjp2quality")->value(), 76);
}

void tst_Step3::onePanelPerFormat_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("panel");
    const char* panels[] = {"gbnooptions", "gbjpgoptions", "gbpngoptions", "gbgifoptions", "gbnooptions",
                            "gbnooptions", "gbnooptions",  "gbnooptions",  "gbnooptions",  "gbnooptions",
                            "gbjp2options", "gbnooptions", "gbpdfoptions"};
    for (int i = 0; i < 13; ++i) QTest::addRow("%d", i) << i << QString::fromLatin1(panels[i]);
    QTest::newRow("none selected") << -1 << "gbnooptions";
}

void tst_Step3::onePanelPerFormat() {
    QFETCH(int, format);
    QFETCH(QString, panel);
    makeWindow();
    child<QComboBox>("lb3format")->setCurrentIndex(format);
    QStringList visible;
    for (const char* name : {"gbjpgoptions", "gbpngoptions", "gbgifoptions", "gbjp2options", "gbpdfoptions", "gbnooptions"})
        if (child(name)->isVisibleTo(child("step3"))) visible << QString::fromLatin1(name);
    QCOMPARE(visible, QStringList{panel});
}

void tst_Step3::sampleAndPlaceholders() {
    makeWindow();
    auto* name = child<QLineEdit>("tx3filename");
    auto* sample = child<QLabel>("Label48");
    name->setText(QStringLiteral("<%filename>_#"));
    child<QLineEdit>("tx3counter")->setText(QStringLiteral("5"));
    QCOMPARE(sample->text(), QStringLiteral("Sample: MyPicture_5.jpg"));
    child<UpDown>("UpDown1")->upButton()->click();
    QCOMPARE(sample->text(), QStringLiteral("Sample: MyPicture_6.jpg"));

    // The selection is replaced and the caret goes behind the placeholder.
    name->setText(QStringLiteral("ab"));
    name->setSelection(1, 1);
    child<QAction>("Number1")->trigger();
    QCOMPARE(name->text(), QStringLiteral("a#"));
    QCOMPARE(name->cursorPosition(), 2);
    name->setCursorPosition(0);
    child<QAction>("Originalextention1")->trigger();
    QCOMPARE(name->text(), QStringLiteral("<%ext>a#"));
    QCOMPARE(name->cursorPosition(), 6);
    QCOMPARE(sample->text(), QStringLiteral("Sample: jpga6.jpg"));
    window_->InsertPlaceholder(QStringLiteral("<%hh-mm>"));
    QCOMPARE(name->cursorPosition(), 14);
    QVERIFY(child<QMenu>("filenamemenu"));
}

// --- Settings -------------------------------------------------------------------

void tst_Step3::settingsRoundTrip() {
    const QString out = dir_->path() + QStringLiteral("/out/");
    const QString backup = dir_->path() + QStringLiteral("/backup/");
    makeWindow();
    window_->dialogs().browseForFolder = [&](QWidget*, const QString& title) {
        return title.contains(QStringLiteral("backup")) ? backup.chopped(1) : out.chopped(1);
    };
    child<QRadioButton>("cb3followingfolder")->click();
    child<QPushButton>("btn3browse")->click();
    child<QComboBox>("lb3format")->setCurrentIndex(2);
    child<QComboBox>("lbpdfcompression")->setCurrentIndex(0);
    child<QComboBox>("cbgifcompression")->setCurrentIndex(1);
    child<QSlider>("tbjpegquality")->setValue(33);
    child<QCheckBox>("cbprogressivejpeg")->setChecked(true);
    child<QLineEdit>("sepngcompressionlevel")->setText(QStringLiteral("3"));
    child<QCheckBox>("cbinterlacedpng")->setChecked(true);
    child<QSlider>("tbjp2quality")->setValue(12);
    child<QCheckBox>("cbmodifyfilename")->setChecked(true);
    child<QLineEdit>("tx3counter")->setText(QStringLiteral("17"));
    child<QLineEdit>("tx3filename")->setText(QStringLiteral("x_<%filename>_#"));
    child<QRadioButton>("cb3skip")->setChecked(true);
    child<QCheckBox>("cbkeepdatetime")->setChecked(true);
    child<QCheckBox>("cb3deletefiles")->setChecked(true);
    child<QCheckBox>("cb3backup")->click();
    child<QToolButton>("btn3backup")->click();
    child<QComboBox>("filtercb")->setCurrentIndex(2);
    child<QCheckBox>("cbimmpreview")->setChecked(false);
    child<QTreeWidget>("lb1files")->setColumnWidth(1, 77);
    child<QSplitter>("Splitter1")->setSizes({200, 400});
    window_->resize(700, 650);
    window_->move(30, 40);
    QApplication::processEvents();
    const int paneWidth = child("Panel2")->width();
    const int preview = child("Panel4")->height();
    window_->close();

    const pictorix::IniFile ini = settings();
    QCOMPARE(ini.getInt("dest", "dest", 0), 2);
    QCOMPARE(QString::fromStdString(ini.getString("dest", "folder", "")), out);
    QCOMPARE(ini.getInt("format", "format", 0), 2);
    QCOMPARE(ini.getInt("format", "jpegquality", 0), 33);
    QCOMPARE(ini.getString("format", "pngquality", ""), std::string("3"));
    QCOMPARE(ini.getString("filename", "counterstart", ""), std::string("17"));
    QCOMPARE(ini.getInt("fileoptions", "iffileexists", 0), 3);
    QCOMPARE(ini.getString("backup", "folder", ""), backup.toStdString());
    QCOMPARE(ini.getInt("main", "filterindex", 0), 2);
    QCOMPARE(ini.getInt("main", "lang", 0), 1033);
    QCOMPARE(ini.getInt("lb1files", "column2w", 0), 77);
    QCOMPARE(ini.getInt("pos_main", "form_width", 0), 700);
    QCOMPARE(ini.getInt("pos_main", "form_top", 0), 40);
    QCOMPARE(ini.getBool("pos_main", "form_maximized", true), false);
    QVERIFY(ini.hasKey("step1", "selfiles_dir"));
    QVERIFY(!ini.hasKey("colordepth", "value"));  // the dialog's, not the window's

    delete window_;
    makeWindow();
    QVERIFY(child<QRadioButton>("cb3followingfolder")->isChecked());
    QVERIFY(child("tx3folder")->isEnabled());
    QCOMPARE(child<QLineEdit>("tx3folder")->text(), out);
    QCOMPARE(child<QComboBox>("lb3format")->currentIndex(), 2);
    QVERIFY(child("gbpngoptions")->isVisibleTo(child("step3")));
    QCOMPARE(child<QComboBox>("lbpdfcompression")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>("cbgifcompression")->currentIndex(), 1);
    QCOMPARE(child<QSlider>("tbjpegquality")->value(), 33);
    QCOMPARE(child<QLineEdit>("sejpegquality")->text(), QStringLiteral("33"));
    QVERIFY(child<QCheckBox>("cbprogressivejpeg")->isChecked());
    QCOMPARE(child<QLineEdit>("sepngcompressionlevel")->text(), QStringLiteral("3"));
    QVERIFY(child<QCheckBox>("cbinterlacedpng")->isChecked());
    QCOMPARE(child<QSlider>("tbjp2quality")->value(), 12);
    QVERIFY(child<QCheckBox>("cbmodifyfilename")->isChecked());
    QCOMPARE(child<QLineEdit>("tx3counter")->text(), QStringLiteral("17"));
    QCOMPARE(child<QLineEdit>("tx3filename")->text(), QStringLiteral("x_<%filename>_#"));
    QCOMPARE(child<QLabel>("Label48")->text(), QStringLiteral("Sample: x_MyPicture_17.jpg"));
    QVERIFY(child<QRadioButton>("cb3skip")->isChecked());
    QVERIFY(child<QCheckBox>("cbkeepdatetime")->isChecked());
    QVERIFY(child<QCheckBox>("cb3deletefiles")->isChecked());
    QVERIFY(child<QCheckBox>("cb3backup")->isChecked());
    QVERIFY(child("tx3backup")->isEnabled() && child("btn3backup")->isEnabled());
    QCOMPARE(child<QLineEdit>("tx3backup")->text(), backup);
    QCOMPARE(child<QComboBox>("filtercb")->currentIndex(), 2);
    QVERIFY(!child<QCheckBox>("cbimmpreview")->isChecked());
    QCOMPARE(child<QTreeWidget>("lb1files")->columnWidth(1), 77);
    QCOMPARE(window_->size(), QSize(700, 650));
    QCOMPARE(window_->pos(), QPoint(30, 40));
    QApplication::processEvents();
    QCOMPARE(child("Panel2")->width(), paneWidth);
    QCOMPARE(child("Panel4")->height(), preview);
    QVERIFY(errors_.isEmpty());
}

void tst_Step3::storedValuesAtTheirEdges() {
    writeSettings("[dest]\ndest=3\n[format]\nformat=99\njpegquality=150\npngquality=abc\n"
                  "[filename]\ncounterstart=40000\n[fileoptions]\niffileexists=2\n"
                  "[pos_step1]\nselfiles_width=0\n[pos_main]\nform_top=-700\nform_left=5\n"
                  "[main]\nfilterindex=99\n");
    makeWindow();
    QVERIFY(child<QRadioButton>("cb3samefolder")->isChecked());  // 3 matches no button
    QCOMPARE(child<QComboBox>("lb3format")->currentIndex(), -1);
    QVERIFY(child("gbnooptions")->isVisibleTo(child("step3")));
    QCOMPARE(child<QSlider>("tbjpegquality")->value(), 100);
    QCOMPARE(child<QLineEdit>("sepngcompressionlevel")->text(), QStringLiteral("8"));
    QCOMPARE(child<QLineEdit>("tx3counter")->text(), QStringLiteral("32767"));
    QVERIFY(child<QRadioButton>("cb3ask")->isChecked());
    QCOMPARE(child<QComboBox>("filtercb")->currentIndex(), 0);
    QApplication::processEvents();
    QCOMPARE(child("Panel2")->width(), 1);
    const QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window_->pos(), QPoint(desk.x() + (desk.width() - 652) / 2, desk.y() + (desk.height() - 624) / 2));

    // A run with no format selected stops before its first file and says why.
    window_->addfile(picture("a.png"));
    start();
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains("output format"), qPrintable(errors_[0]));
    QVERIFY(child<QLabel>("lblfailure")->text().contains("output format"));
    QVERIFY(!QFileInfo::exists(dir_->filePath("a.jpg")));
}

void tst_Step3::placement_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QPoint>("expected");
    const QPoint centred(500 + (1000 - 652) / 2, (800 - 624) / 2);
    QTest::newRow("no form_top") << QByteArray("[pos_main]\nform_left=3\n") << centred;
    QTest::newRow("top far above") << QByteArray("[pos_main]\nform_top=-700\nform_left=3\n") << centred;
    QTest::newRow("10 pixels showing") << QByteArray("[pos_main]\nform_top=-614\nform_left=-642\n") << QPoint(-642, -614);
    QTest::newRow("52 by 24 showing") << QByteArray("[pos_main]\nform_top=-600\nform_left=-600\n") << QPoint(-600, -600);
    QTest::newRow("left far out") << QByteArray("[pos_main]\nform_top=10\nform_left=-700\n") << centred;
    QTest::newRow("left missing") << QByteArray("[pos_main]\nform_top=10\n") << QPoint(7, 10);
    QTest::newRow("top not a number") << QByteArray("[pos_main]\nform_top=x\nform_left=1\n") << QPoint(1, 9);
}

void tst_Step3::placement() {
    QFETCH(QByteArray, ini);
    QFETCH(QPoint, expected);
    const pictorix::IniFile file = pictorix::IniFile::Parse(ini.toStdString());
    QCOMPARE(MainWindowPlacement(file, QSize(652, 624), QPoint(7, 9), QRect(500, 0, 1000, 800)), expected);
}

void tst_Step3::jobsKey_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("jobs");
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    QTest::newRow("missing") << QByteArray() << cores;
    QTest::newRow("one") << QByteArray("[main]\njobs=1\n") << 1;
    QTest::newRow("three") << QByteArray("[main]\njobs=3\n") << 3;
    QTest::newRow("zero") << QByteArray("[main]\njobs=0\n") << cores;
    QTest::newRow("negative") << QByteArray("[main]\njobs=-2\n") << cores;
    QTest::newRow("not a number") << QByteArray("[main]\njobs=many\n") << cores;
}

void tst_Step3::jobsKey() {
    QFETCH(QByteArray, ini);
    QFETCH(int, jobs);
    QCOMPARE(WindowRunJobs(pictorix::IniFile::Parse(ini.toStdString())), jobs);
}

// --- Runs -----------------------------------------------------------------------

void tst_Step3::runShowsDone() {
    QStringList files;
    for (int i = 0; i < 6; ++i) files << picture(QStringLiteral("p%1.png").arg(i), 20 + i, 10);
    writeSettings("[main]\njobs=3\n");
    makeWindow(files);
    child<QLineEdit>("sejpegquality")->setText(QStringLiteral("50"));
    window_->StepsStep31Click();
    child<QPushButton>("FinishButton")->click();

    for (int i = 0; i < 6; ++i) {
        const QImage out(dir_->filePath(QStringLiteral("p%1.jpg").arg(i)));
        QCOMPARE(out.size(), QSize(20 + i, 10));
    }
    Tfrmconv* progress = window_->progressWindow();
    QVERIFY(progress && progress->isVisible());
    QCOMPARE(progress->size(), QSize(347, 79));
    QCOMPARE(progress->findChild<QLabel*>("Label1")->text(), QStringLiteral("Done"));
    QCOMPARE(progress->findChild<QLabel*>("Label2")->text(), QStringLiteral("100% Done"));
    auto* bar = progress->findChild<QProgressBar*>("pbwm");
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(bar->maximum(), 24);
    auto* ok = progress->findChild<QPushButton*>("Button1");
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QCOMPARE(ok->geometry(), QRect(136, 48, 75, 25));
    QVERIFY(ok->isEnabled());
    QVERIFY(!window_->running() && window_->centralWidget()->isEnabled());
    ok->click();
    QVERIFY(!progress->isVisible());
    QVERIFY(errors_.isEmpty());
}

void tst_Step3::askDuringRun_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("written");
    QTest::newRow("yes to all") << int(ReplaceAnswer::YesToAll) << 1 << 3;
    QTest::newRow("no to all") << int(ReplaceAnswer::NoToAll) << 1 << 0;
    QTest::newRow("yes") << int(ReplaceAnswer::Yes) << 3 << 3;
    QTest::newRow("no") << int(ReplaceAnswer::No) << 3 << 0;
}

void tst_Step3::askDuringRun() {
    QFETCH(int, answer);
    QFETCH(int, questions);
    QFETCH(int, written);
    QStringList files;
    for (const char* name : {"a", "b", "c"}) {
        files << picture(QString::fromLatin1(name) + QStringLiteral(".png"));
        QFile old(dir_->filePath(QString::fromLatin1(name) + QStringLiteral(".jpg")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    makeWindow(files);
    child<QRadioButton>("cb3ask")->setChecked(true);
    answer_ = static_cast<ReplaceAnswer>(answer);
    bool lockedDuringQuestion = false;
    duringQuestion_ = [&] {
        Tfrmconv* progress = window_->progressWindow();
        lockedDuringQuestion = window_->running() && !window_->centralWidget()->isEnabled() && progress->isVisible() &&
                               !progress->findChild<QPushButton*>("Button1")->isEnabled() &&
                               progress->findChild<QLabel*>("Label1")->text() == "Converting, please wait...";
        window_->close();  // refused while the run is on
    };
    start();
    QCOMPARE(questions_.size(), questions);
    QCOMPARE(questions_[0], dir_->filePath("a.jpg"));
    QVERIFY(lockedDuringQuestion);
    QVERIFY(window_->isVisible());
    int replaced = 0;
    for (const char* name : {"a", "b", "c"})
        if (QFileInfo(dir_->filePath(QString::fromLatin1(name) + QStringLiteral(".jpg"))).size() > 3) ++replaced;
    QCOMPARE(replaced, written);

    // The next run asks again.
    questions_.clear();
    start();
    QVERIFY(!questions_.isEmpty());
}

void tst_Step3::replaceQuestionHasFourAnswers() {
    QStringList texts;
    QString message;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        message = box->text();
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton* b : buttons) texts << b->text();
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("&Yes"));
        for (QAbstractButton* b : buttons)
            if (b->text() == QStringLiteral("Yes to &All")) b->click();
    });
    const ReplaceAnswer answer = AskReplaceQuestion(nullptr, QStringLiteral("/x/a.jpg"));
    QCOMPARE(texts, (QStringList{"&Yes", "&No", "N&o to All", "Yes to &All"}));
    QCOMPARE(message, QStringLiteral("File /x/a.jpg already exists. Do you want to replace this file?"));
    QCOMPARE(answer, ReplaceAnswer::YesToAll);

    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(AskReplaceQuestion(nullptr, QStringLiteral("/x/b.jpg")), ReplaceAnswer::No);
}

void tst_Step3::failingRunNamesTheFile() {
    makeWindow({picture("a.png"), dir_->filePath("gone.png"), picture("c.png")});
    start();
    QVERIFY(QFileInfo::exists(dir_->filePath("a.jpg")));
    QVERIFY(!QFileInfo::exists(dir_->filePath("c.jpg")));
    Tfrmconv* progress = window_->progressWindow();
    const QString said = progress->findChild<QLabel*>("Label1")->text();
    QVERIFY2(said.contains("gone.png") && said != "Done", qPrintable(said));
    QVERIFY(progress->findChild<QLabel*>("lblfailure")->text().contains("gone.png"));
    QVERIFY(progress->findChild<QLabel*>("Label2")->text() != "100% Done");
    QVERIFY(progress->findChild<QPushButton*>("Button1")->isEnabled());
    QCOMPARE(errors_.size(), 1);
    QVERIFY(window_->centralWidget()->isEnabled());

    // The next run starts from the starting state and its normal size.
    window_->SpeedButton13Click();
    window_->addfile(picture("d.png"));
    start();
    QCOMPARE(progress->findChild<QLabel*>("Label1")->text(), QStringLiteral("Done"));
    QCOMPARE(progress->size(), QSize(347, 79));
    QVERIFY(!progress->findChild<QLabel*>("lblfailure")->isVisible());
}

void tst_Step3::malformedCounterStopsATemplateRun() {
    makeWindow({picture("a.png")});
    child<QLineEdit>("tx3counter")->setText(QStringLiteral("12x"));  // as a paste leaves it
    QCOMPARE(errors_.size(), 1);  // the sample cannot be made
    errors_.clear();
    child<QCheckBox>("cbmodifyfilename")->setChecked(true);
    start();
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains("12x"), qPrintable(errors_[0]));
    QVERIFY(!QFileInfo::exists(dir_->filePath("a.jpg")));
    // Without a template the counter is not read.
    child<QCheckBox>("cbmodifyfilename")->setChecked(false);
    start();
    QVERIFY(QFileInfo::exists(dir_->filePath("a.jpg")));
}

QTEST_MAIN(tst_Step3)
#include "tst_step3.moc"
