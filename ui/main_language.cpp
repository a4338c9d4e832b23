// The main window's language menu, its re-layout after a change of language, the
// additional options dialog and the About window.
#include <QActionGroup>
#include <QCheckBox>
#include <QDir>
#include <QToolButton>

#include "engine/settings.h"
#include "ui/application.h"
#include "ui/frmabout.h"
#include "ui/frmadtopt.h"
#include "ui/language.h"
#include "ui/main_window.h"
#include "ui/paths.h"

QStringList MainWindowIgnoredTexts() {
    return {
        // Lists whose entries are names, not words: formats, compressions, filters.
        QStringLiteral("lb3format.*"), QStringLiteral("lbpdfcompression.*"), QStringLiteral("cbgifcompression.*"),
        QStringLiteral("filtercb.*"), QStringLiteral("shellcb.*"),
        // The date and time entries of the placeholder menu, the language items.
        QStringLiteral("DateD*"), QStringLiteral("DateM*"), QStringLiteral("TimeH*"), QStringLiteral("lngitem*"),
        // The sample line is made anew from the template in the current language.
        QStringLiteral("Label48.*"),
    };
}

QStringList PanelIgnoredTexts() {
    // The text box shows the watermark text in its font: neither is ever translated.
    return {QStringLiteral("eb2.*"), QStringLiteral("serotateimg.*"), QStringLiteral("serotatewm.*"),
            QStringLiteral("pserotatewm.*")};
}

void TForm1::buildLanguageMenu() {
    LanguageController& languages = LanguageController::instance();
    languages.scan(FromNativePath(pictorix::ProgramFolder()) + QStringLiteral("lib"));
    for (int i = 0; i < languages.count(); ++i)
        AddLanguageMenuItem(languages.id(i), languages.displayName(i).section(QLatin1Char(' '), 0, 0));
    languages.setCurrent(languages.id(0));
}

void TForm1::AddLanguageMenuItem(int id, const QString& caption) {
    QAction* item = lngmenu_->addAction(caption);
    item->setObjectName(QStringLiteral("lngitem") + QString::number(id));
    item->setData(id);
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this, item] { Guarded([this, item] { miclick(item); }); });
}

void TForm1::checkCurrentLanguage() {
    const int current = LanguageController::instance().current();
    for (QAction* item : lngmenu_->actions()) item->setChecked(item->data().toInt() == current);
}

void TForm1::miclick(QAction* item) {
    for (QAction* other : lngmenu_->actions()) other->setChecked(false);
    item->setChecked(true);
    LanguageController::instance().setCurrent(item->data().toInt());
}

void TForm1::DKLanguageController1LanguageChanged() {
    // The boxes beside translated labels follow them through the layouts; only the
    // hint that repeats a caption is set again.
    if (cbimmpreview_) cbimmpreview_->setToolTip(cbimmpreview_->text());
    // "Add action" takes the width of its translated caption; its neighbours follow.
    if (btnaddaction_) {
        btnaddaction_->resize(btnaddaction_->sizeHint().width(), btnaddaction_->height());
        int x = btnaddaction_->x() + btnaddaction_->width() + 8;
        for (const char* name : {"Button2", "Button4", "Button5", "btnopenactions", "btnsaveactions"}) {
            if (QWidget* b = findChild<QWidget*>(QString::fromLatin1(name))) {
                b->move(x, b->y());
                x += 28;
            }
        }
    }
    // The sample line starts with a message text of the new language.
    Guarded([this] { tx3filenameChange(); });
}

void TForm1::HelpAbout1Click() {
    Tfrmabout about(this);
    about.exec();
}

void TForm1::Button6Click() {
    if (!frmadtopt_)
        frmadtopt_ = new Tfrmadtopt(pictorix::SettingsFilePath(), dialogs_.browseForFolder, this);
    frmadtopt_->show();
    frmadtopt_->raise();
    frmadtopt_->activateWindow();
}
