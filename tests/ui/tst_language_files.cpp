// The language files shipped in lib/: every text a window or panel shows in English has
// its translation, and every message constant too. With PICTORIX_DUMP_TEXTS set, the
// missing texts are printed as "[section] key=English text".
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "actions/action_kinds.h"
#include "actions/panels/action_panels.h"
#include "actions/panels/action_settings_panel.h"
#include "ui/frmabout.h"
#include "ui/frmadtopt.h"
#include "ui/frmconv.h"
#include "ui/fullscreen.h"
#include "ui/language.h"
#include "ui/main_window.h"

namespace {

using Keys = std::map<QString, std::set<QString>>;  // lower-cased section -> keys

Keys ReadKeys(const QString& path) {
    Keys keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return keys;
    QString section;
    for (const QString& raw : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            section = line.mid(1, line.size() - 2).toLower();
        } else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq > 0 && !line.startsWith(QLatin1Char(';'))) {
            keys[section].insert(line.left(eq).trimmed());
        }
    }
    return keys;
}

}  // namespace

class tst_LanguageFiles : public QObject {
    Q_OBJECT

private slots:
    void everyTextIsTranslated_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("id");
        QTest::newRow("German") << QStringLiteral(PICTORIX_LIB_DIR "/de.lng") << 1031;
        QTest::newRow("French") << QStringLiteral(PICTORIX_LIB_DIR "/fr.lng") << 1036;
    }

    void everyTextIsTranslated() {
        QFETCH(QString, file);
        QFETCH(int, id);
        const Keys keys = ReadKeys(file);
        QVERIFY2(keys.count(QStringLiteral("language")), qPrintable(file));

        QTemporaryDir home;  // no settings file, no language files: the window as designed
        qputenv("PICTORIX_HOME", home.path().toLocal8Bit());
        LanguageController& lc = LanguageController::instance();
        TForm1 form;
        std::vector<std::unique_ptr<QWidget>> windows;
        windows.emplace_back(new Tfrmadtopt(std::string(), {}));
        windows.emplace_back(new Tfrmabout);
        windows.emplace_back(new Tfrmconv);
        windows.emplace_back(new Tfrmfullscreen);
        std::vector<QWidget*> all = {&form};
        for (auto& w : windows) all.push_back(w.get());
        std::vector<std::unique_ptr<ActionPanel>> panels;
        panels.emplace_back(new Tfrmgb2actionsettings(form));
        for (const auto& info : pictorix::ActionKinds()) panels.emplace_back(CreateActionPanel(info.kind, form));
        for (auto& p : panels) {
            lc.attach(p.get(), QString::fromLatin1(p->metaObject()->className()), PanelIgnoredTexts());
            all.push_back(p.get());
        }

        QStringList missing;
        for (QWidget* w : all) {
            const QString section = lc.sectionOf(w);
            QVERIFY(!section.isEmpty());
            const auto found = keys.find(section.toLower());
            for (const auto& [key, text] : lc.builtInTexts(w))
                if (found == keys.end() || !found->second.count(key))
                    missing << QStringLiteral("[%1] %2=%3").arg(section, key, text);
        }
        const char* constants[] = {"sactions_rotate", "sactions_mirror", "sactions_resize", "sactions_canvassize",
                                   "sactions_crop", "sactions_contrast", "sactions_brightness", "sactions_blur",
                                   "sactions_picturewm", "sactions_textwm", "smainoutputdir", "smainbackupdir",
                                   "smainpleaseselectfiles", "smainfileexists", "smainpercentdone", "smainjustdone",
                                   "smain_sample"};
        for (const char* c : constants) {
            const auto found = keys.find(QStringLiteral("constants"));
            if (found == keys.end() || !found->second.count(QString::fromLatin1(c)))
                missing << QStringLiteral("[Constants] %1=%2").arg(QString::fromLatin1(c), Constant(c));
        }
        // Every text a window shows must be reachable by name.
        for (QWidget* w : all)
            for (QWidget* child : w->findChildren<QWidget*>()) {
                QString text;
                if (auto* label = qobject_cast<QLabel*>(child)) text = label->text();
                if (auto* button = qobject_cast<QAbstractButton*>(child)) text = button->text();
                if (auto* box = qobject_cast<QGroupBox*>(child)) text = box->title();
                if (child->objectName().isEmpty() && text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
                    missing << QStringLiteral("[%1] (unnamed %2)=%3")
                                   .arg(lc.sectionOf(w), QString::fromLatin1(child->metaObject()->className()), text);
            }
        missing.removeDuplicates();
        if (qEnvironmentVariableIsSet("PICTORIX_DUMP_TEXTS"))
            for (const QString& m : missing) std::printf("%s\n", qPrintable(m));
        QVERIFY2(missing.isEmpty(), qPrintable(QString::number(missing.size()) + QStringLiteral(" missing, first: ") +
                                               (missing.isEmpty() ? QString() : missing.first())));

        // The file really is the language it says, and switching to it changes the window.
        lc.scan(QStringLiteral(PICTORIX_LIB_DIR));
        const QString english = form.findChild<QPushButton*>(QStringLiteral("Button6"))->text();
        lc.setCurrent(id);
        QCOMPARE(lc.current(), id);
        QVERIFY(form.findChild<QPushButton*>(QStringLiteral("Button6"))->text() != english);
        QVERIFY(Constant("sactions_rotate") != QStringLiteral("Rotate"));
        lc.setCurrent(1033);
        QCOMPARE(form.findChild<QPushButton*>(QStringLiteral("Button6"))->text(), english);
        lc.reset();
    }

    // The language menu of the main window, captions made in a language, and the
    // language kept for the next start.
    void mainWindowLanguageMenu() {
        QTemporaryDir home;
        QDir().mkpath(home.filePath("lib"));
        for (const char* name : {"de.lng", "fr.lng"})
            QVERIFY(QFile::copy(QStringLiteral(PICTORIX_LIB_DIR "/") + QString::fromLatin1(name),
                                home.filePath(QStringLiteral("lib/") + QString::fromLatin1(name))));
        qputenv("PICTORIX_HOME", home.path().toLocal8Bit());
        LanguageController::instance().reset();
        {
            TForm1 form;
            QMenu* menu = form.findChild<QMenu*>(QStringLiteral("lngmenu"));
            QVERIFY(menu);
            QStringList captions;
            for (QAction* a : menu->actions()) captions << a->text();
            QCOMPARE(captions, (QStringList{"English", "German", "French"}));
            QVERIFY(menu->actions()[0]->isChecked());

            form.miclick(menu->actions()[1]);
            QCOMPARE(LanguageController::instance().current(), 1031);
            QVERIFY(menu->actions()[1]->isChecked() && !menu->actions()[0]->isChecked());
            QCOMPARE(form.menuBar()->actions()[0]->text(), QStringLiteral("&Datei"));
            form.Rotate2Click();
            auto* list = form.findChild<QListWidget*>(QStringLiteral("lbactions"));
            QCOMPARE(list->item(0)->text(), QStringLiteral("Drehen"));
            QVERIFY(form.findChild<QLabel*>(QStringLiteral("Label48"))->text().startsWith(QStringLiteral("Beispiel: ")));

            form.miclick(menu->actions()[0]);
            form.Rotate2Click();
            QCOMPARE(list->item(0)->text(), QStringLiteral("Drehen"));  // made in German, stays
            QCOMPARE(list->item(1)->text(), QStringLiteral("Rotate"));
            form.miclick(menu->actions()[2]);
            form.close();
        }
        LanguageController::instance().reset();
        TForm1 again;
        QCOMPARE(LanguageController::instance().current(), 1036);
        QVERIFY(again.findChild<QMenu*>(QStringLiteral("lngmenu"))->actions()[2]->isChecked());
        QCOMPARE(again.menuBar()->actions()[0]->text(), QStringLiteral("&Fichier"));
        LanguageController::instance().reset();
    }
};

QTEST_MAIN(tst_LanguageFiles)
#include "tst_language_files.moc"
