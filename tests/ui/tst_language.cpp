// Languages, the additional options dialog and the About window.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "core/error.h"
#include "engine/ini_file.h"
#include "ui/application.h"
#include "ui/frmabout.h"
#include "ui/frmadtopt.h"
#include "ui/language.h"
#include "ui/placeholder_menu.h"

namespace {

void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

template <class T>
T* Child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    if (!c) qFatal("no child %s", name);
    return c;
}

}  // namespace

class tst_Language : public QObject {
    Q_OBJECT

private slots:
    void init() { LanguageController::instance().reset(); }
    void cleanup() { LanguageController::instance().reset(); }

    void scanOffersValidFilesInOrder() {
        QTemporaryDir dir;
        WriteFile(dir.filePath("a_german.lng"), "[Language]\nid=1031\n");
        WriteFile(dir.filePath("b_french.lng"), "[Language]\nid=1036\n");
        WriteFile(dir.filePath("c_english.lng"), "[Language]\nid=1033\n");
        WriteFile(dir.filePath("d_none.lng"), "[Language]\nname=x\n");
        WriteFile(dir.filePath("e_zero.lng"), "[Language]\nid=0\n");
        WriteFile(dir.filePath("f_br.lng"), "[Language]\nid=1046\n");
        WriteFile(dir.filePath("g_pt.lng"), "[Language]\nid=2070\n");
        WriteFile(dir.filePath("h_german_again.lng"), "[Language]\nid=1031\n");
        WriteFile(dir.filePath("readme.txt"), "[Language]\nid=1040\n");
        LanguageController& lc = LanguageController::instance();
        lc.scan(dir.path());
        QCOMPARE(lc.count(), 5);
        const int ids[] = {1033, 1031, 1036, 1046, 2070};
        const char* first[] = {"English", "German", "French", "Portuguese", "Portuguese"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(lc.id(i), ids[i]);
            QCOMPARE(lc.displayName(i).section(QLatin1Char(' '), 0, 0), QString::fromLatin1(first[i]));
        }
        QCOMPARE(lc.displayName(0), QStringLiteral("English (United States)"));
        QCOMPARE(lc.current(), 1033);
        lc.setCurrent(1040);  // no file: the built-in language
        QCOMPARE(lc.current(), 1033);
    }

    void translatesWindowsAndGivesBuiltInTextsBack() {
        QTemporaryDir dir;
        WriteFile(dir.filePath("de.lng"),
                  "[Language]\nid=1031\n[TTest]\nLabel1.text=Breite:\nedit.text=nie\nlist.items=Pixel|Prozent\n"
                  "page.tabText=Seite\nfixed.text=nicht\nTTest.windowTitle=Fenster\n"
                  "[Constants]\nsactions_rotate=Drehen\nSMAINJUSTDONE=Fertig\n");
        WriteFile(dir.filePath("fr.lng"), "[Language]\nid=1036\n[TTest]\nLabel1.text=Largeur :\n"
                                          "[Constants]\nsactions_rotate=Rotation\n");
        LanguageController& lc = LanguageController::instance();
        lc.scan(dir.path());

        QWidget window;
        window.setObjectName("TTest");
        window.setWindowTitle("Window");
        auto* label = new QLabel("Width:", &window);
        label->setObjectName("Label1");
        auto* edit = new QLineEdit("typed", &window);
        edit->setObjectName("edit");
        auto* list = new QComboBox(&window);
        list->setObjectName("list");
        list->addItems({"pixels", "percent"});
        auto* fixed = new QLabel("45", &window);
        fixed->setObjectName("fixed");
        auto* tabs = new QTabWidget(&window);
        auto* page = new QWidget;
        page->setObjectName("page");
        tabs->addTab(page, "Page");
        int changed = 0;
        lc.attach(&window, "TTest", {"fixed.*"}, [&] { ++changed; });
        QCOMPARE(changed, 0);  // English is current: nothing to do

        lc.setCurrent(1031);
        QCOMPARE(changed, 1);
        QCOMPARE(label->text(), QStringLiteral("Breite:"));
        QCOMPARE(edit->text(), QStringLiteral("typed"));  // input fields keep what the user typed
        QCOMPARE(fixed->text(), QStringLiteral("45"));     // on the ignore list
        QCOMPARE(list->itemText(1), QStringLiteral("Prozent"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Seite"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Fenster"));
        QCOMPARE(Constant("SACTIONS_ROTATE"), QStringLiteral("Drehen"));
        QCOMPARE(Constant("smainjustdone"), QStringLiteral("Fertig"));

        // French lacks a text: it stays as it was, the German one.
        lc.setCurrent(1036);
        QCOMPARE(label->text(), QStringLiteral("Largeur :"));
        QCOMPARE(list->itemText(1), QStringLiteral("Prozent"));
        QCOMPARE(Constant("sactions_rotate"), QStringLiteral("Rotation"));
        QCOMPARE(Constant("smainjustdone"), QStringLiteral("Fertig"));

        lc.setCurrent(1033);
        QCOMPARE(changed, 3);
        QCOMPARE(label->text(), QStringLiteral("Width:"));
        QCOMPARE(list->itemText(1), QStringLiteral("percent"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Page"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Window"));
        QCOMPARE(Constant("sactions_rotate"), QStringLiteral("Rotate"));
        QCOMPARE(Constant("smainjustdone"), QStringLiteral("Done"));

        lc.setCurrent(1033);  // the same language again changes nothing
        QCOMPARE(changed, 3);

        // A window made while a language is current is translated when attached.
        lc.setCurrent(1031);
        QWidget later;
        auto* laterLabel = new QLabel("Width:", &later);
        laterLabel->setObjectName("Label1");
        lc.attach(&later, "TTest");
        QCOMPARE(laterLabel->text(), QStringLiteral("Breite:"));
    }

    void constantsTable() {
        const char* names[] = {"sactions_rotate", "sactions_mirror", "sactions_resize", "sactions_canvassize",
                               "sactions_crop", "sactions_contrast", "sactions_brightness", "sactions_blur",
                               "sactions_picturewm", "sactions_textwm", "smainoutputdir", "smainbackupdir",
                               "smainpleaseselectfiles", "smainfileexists", "smainpercentdone", "smainjustdone",
                               "smain_sample"};
        for (const char* n : names) QVERIFY(!Constant(n).isEmpty());
        QCOMPARE(Constant("smainpercentdone"), QStringLiteral("% Done"));
        bool threw = false;
        try {
            Constant("sactions_sharpen");
        } catch (const pictorix::Error&) {
            threw = true;
        }
        QVERIFY(threw);
    }

    void placeholderInsertsAtTheCaret() {
        QLineEdit edit("ab_cd");
        edit.setSelection(2, 1);
        InsertPlaceholder(&edit, "<%ext>");
        QCOMPARE(edit.text(), QStringLiteral("ab<%ext>cd"));
        QCOMPARE(edit.cursorPosition(), 8);
        edit.setCursorPosition(0);
        InsertPlaceholder(&edit, "#");
        QCOMPARE(edit.text(), QStringLiteral("#ab<%ext>cd"));
        QCOMPARE(edit.cursorPosition(), 1);
    }

    void additionalOptionsOkAndCancel() {
        QTemporaryDir dir;
        const std::string settings = dir.filePath("settings.ini").toStdString();
        QString browsed;
        Tfrmadtopt dialog(settings, [&](QWidget*, const QString& title) {
            browsed = title;
            return QStringLiteral("/media/Thumbs");
        });
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Additional options"));
        QCOMPARE(dialog.size(), QSize(384, 364));
        QVERIFY(!dialog.isModal());
        QVERIFY(Child<QRadioButton>(&dialog, "cborig")->isChecked());

        // Thumbnail controls follow the check box.
        auto* thumb = Child<QCheckBox>(&dialog, "cbcreatethumb");
        QVERIFY(!thumb->isChecked());
        for (const char* name : {"sewidth", "lbwt", "txfolder", "txfilename", "lbuse"})
            QVERIFY(!Child<QWidget>(&dialog, name)->isEnabled());
        thumb->click();
        for (const char* name : {"sewidth", "lbwt", "txfolder", "txfilename", "btnaddpm", "SpeedButton1"})
            QVERIFY(Child<QWidget>(&dialog, name)->isEnabled());

        auto* width = Child<QLineEdit>(&dialog, "sewidth");
        width->clear();
        QTest::keyClicks(width, "1a2-b5");
        QCOMPARE(width->text(), QStringLiteral("125"));

        Child<QToolButton>(&dialog, "SpeedButton1")->click();
        QCOMPARE(browsed, QStringLiteral("Please select directory"));
        QCOMPARE(Child<QLineEdit>(&dialog, "txfolder")->text(), QStringLiteral("/media/Thumbs/"));

        // Cancel writes nothing but keeps the choice in the dialog.
        Child<QRadioButton>(&dialog, "cb8")->click();
        Child<QPushButton>(&dialog, "Button2")->click();
        QVERIFY(!QFile::exists(QString::fromStdString(settings)));
        QVERIFY(Child<QRadioButton>(&dialog, "cb8")->isChecked());

        Child<QPushButton>(&dialog, "Button1")->click();
        const pictorix::IniFile ini = pictorix::IniFile::Load(settings);
        QCOMPARE(ini.getInt("colordepth", "value", -1), 8);
        QCOMPARE(ini.getBool("thumb", "enable", false), true);
        QCOMPARE(ini.getInt("thumb", "width", -1), 125);
        QCOMPARE(ini.getInt("thumb", "height", -1), 100);
        QCOMPARE(ini.getString("thumb", "folder", ""), std::string("/media/Thumbs/"));
        QCOMPARE(ini.getString("thumb", "filename", ""), std::string("thumb_<%filename>"));
        for (const char* key : {"wt", "ht", "use"}) QCOMPARE(ini.getInt("thumb", key, -1), 0);

        // A new dialog reads what was written; a depth the dialog does not offer
        // leaves its buttons as they are.
        Tfrmadtopt again(settings, {});
        QVERIFY(Child<QRadioButton>(&again, "cb8")->isChecked());
        QVERIFY(Child<QLineEdit>(&again, "sewidth")->isEnabled());
        pictorix::IniFile odd = ini;
        odd.setInt("colordepth", "value", 12);
        odd.save(settings);
        Tfrmadtopt third(settings, {});
        QVERIFY(Child<QRadioButton>(&third, "cborig")->isChecked());
    }

    void okThatCannotWriteKeepsTheDialogOpen() {
        QTemporaryDir dir;
        const std::string settings = dir.filePath("missing/settings.ini").toStdString();
        QString reported;
        SetErrorReporter([&](const QString& text) { reported = text; });
        Tfrmadtopt dialog(settings, {});
        dialog.show();
        Child<QPushButton>(&dialog, "Button1")->click();
        SetErrorReporter({});
        QVERIFY(reported.startsWith(QStringLiteral("Unable to write to ")));
        QVERIFY(dialog.isVisible());
    }

    void helpCommandsAndAbout() {
        QList<QUrl> opened;
        SetUrlOpener([&](const QUrl& url) { opened << url; });
        HelpHelptopics1Click();
        HelpWebsite1Click();
        HelpEmailus1Click();
        Tfrmabout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Pictorix"));
        QVERIFY(about.isModal());
        QCOMPARE(Child<QLabel>(&about, "Label3")->text(), QStringLiteral("Build number: 1.8.25 (Compiled March 1, 2006)"));
        about.lbl1Click();
        SetUrlOpener({});
        QCOMPARE(opened.size(), 4);
        QVERIFY(opened[0].isLocalFile());
        QVERIFY(opened[0].toLocalFile().endsWith(QStringLiteral("/help.html")));
        QCOMPARE(opened[1].query(), QStringLiteral("from=menuwebsite&lang=1033"));
        QCOMPARE(opened[2].scheme(), QStringLiteral("mailto"));
        QCOMPARE(opened[3].query(), QStringLiteral("from=about&lang=1033"));
    }
};

QTEST_MAIN(tst_Language)
#include "tst_language.moc"
