#pragma once
// The placeholder menu of the file-name templates (the output template of step 3 and
// the thumbnail template of the additional options): each entry inserts its
// placeholder into the template edit at the caret.
#include <QLineEdit>
#include <QMenu>
#include <QString>

// Replaces the edit's selection (or inserts at the caret) by the text and puts the
// caret right after it.
void InsertPlaceholder(QLineEdit* edit, const QString& text);

// The menu `filenamemenu` with its entries and sub-menus "Date" and "Time", each entry
// named as the templates' documentation names it and inserting into `target`.
QMenu* CreatePlaceholderMenu(QWidget* parent, QLineEdit* target);
