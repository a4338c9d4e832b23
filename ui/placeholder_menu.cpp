#include "ui/placeholder_menu.h"

namespace {

struct Entry {
    const char* objectName;
    const char* caption;
    const char* placeholder;
};

const Entry kNameEntries[] = {
    {"Originalfilename1", "Original filename", "<%filename>"},
    {"Originalextention1", "Original extention", "<%ext>"},
    {"Number1", "Number", "#"},
};

const Entry kDateEntries[] = {
    {"DateDDMMMYYYY1", "DD-MMM-YYYY", "<%dd-mmm-yyyy>"}, {"DateDDMMYYYY1", "DD-MM-YYYY", "<%dd-mm-yyyy>"},
    {"DateDDMMMYY1", "DD-MMM-YY", "<%dd-mmm-yy>"},       {"DateDDMMYY1", "DD-MM-YY", "<%dd-mm-yy>"},
    {"DateMMMDDYYYY1", "MMM-DD-YYYY", "<%mmm-dd-yyyy>"}, {"DateMMDDYYYY1", "MM-DD-YYYY", "<%mm-dd-yyyy>"},
    {"DateMMMDDYY1", "MMM-DD-YY", "<%mmm-dd-yy>"},       {"DateMMDDYY1", "MM-DD-YY", "<%mm-dd-yy>"},
};

const Entry kTimeEntries[] = {
    {"TimeHHMM1", "HH-MM", "<%hh-mm>"},
    {"TimeHHMMSS1", "HH-MM-SS", "<%hh-mm-ss>"},
};

template <std::size_t N>
void AddEntries(QMenu* menu, const Entry (&entries)[N], QLineEdit* target) {
    for (const Entry& e : entries) {
        QAction* action = menu->addAction(QString::fromLatin1(e.caption));
        action->setObjectName(QString::fromLatin1(e.objectName));
        const QString text = QString::fromLatin1(e.placeholder);
        QObject::connect(action, &QAction::triggered, target, [target, text] { InsertPlaceholder(target, text); });
    }
}

}  // namespace

void InsertPlaceholder(QLineEdit* edit, const QString& text) {
    const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    edit->insert(text);  // replaces the selection; one change, one textChanged
    edit->setCursorPosition(start + int(text.size()));
}

QMenu* CreatePlaceholderMenu(QWidget* parent, QLineEdit* target) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("filenamemenu"));
    AddEntries(menu, kNameEntries, target);
    QMenu* date = menu->addMenu(QStringLiteral("Date"));
    date->setObjectName(QStringLiteral("Date1"));
    date->menuAction()->setObjectName(QStringLiteral("Date1Action"));
    AddEntries(date, kDateEntries, target);
    QMenu* time = menu->addMenu(QStringLiteral("Time"));
    time->setObjectName(QStringLiteral("Time1"));
    time->menuAction()->setObjectName(QStringLiteral("Time1Action"));
    AddEntries(time, kTimeEntries, target);
    return menu;
}
