// Step 2 of the main window: the action list, its commands and files, and the panel of
// the selected action. The captions in lbactions and the ActionList stay in step:
// caption i describes entry i, and every command changes both together.
#include <QEvent>
#include <QListWidget>
#include <QMenu>
#include <QScopedValueRollback>
#include <QToolButton>

#include "actions/action_kinds.h"
#include "actions/action_string.h"
#include "actions/panels/action_panels.h"
#include "actions/panels/action_settings_panel.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/language.h"
#include "ui/paths.h"

using pictorix::ActionKind;

namespace {

// Calls a function with every mouse press on the watched widget, before the widget
// itself sees it.
class PressWatcher : public QObject {
   public:
    PressWatcher(QObject* watched, std::function<void()> pressed) : QObject(watched), pressed_(std::move(pressed)) {
        watched->installEventFilter(this);
    }

   protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) pressed_();
        return false;
    }

   private:
    std::function<void()> pressed_;
};

}  // namespace

int TForm1::selectedAction() const {
    const QList<QListWidgetItem*> selected = lbactions_->selectedItems();
    return selected.isEmpty() ? -1 : lbactions_->row(selected.first());
}

QString TForm1::actionCaption(const std::string& action) const {
    // An entry of no known kind keeps a caption of its own, so that every later caption
    // still names its own entry.
    if (const auto kind = pictorix::KindOfAction(action))
        return Constant(pictorix::KindInfo(*kind).captionConstant);
    return QString::fromStdString(action);
}

void TForm1::selectActionQuietly(int index) {
    const QScopedValueRollback<bool> quiet(quietActions_, true);
    if (index < 0) {
        lbactions_->setCurrentRow(-1);
        lbactions_->clearSelection();
    } else {
        lbactions_->setCurrentRow(index);
    }
}

void TForm1::watchActionListPresses() {
    new PressWatcher(lbactions_->viewport(), [this] { pressedActionRow_ = selectedAction(); });
}

// --- Adding ---------------------------------------------------------------------

void TForm1::addAction(ActionKind kind) {
    if (currentStep() != 1) setStep(1);
    const int index = lbactions_->count();
    actionList_.add(pictorix::DefaultActionString(kind));
    {
        const QScopedValueRollback<bool> quiet(quietActions_, true);
        lbactions_->addItem(Constant(pictorix::KindInfo(kind).captionConstant));
    }
    selectActionQuietly(index);
    lbactionsClick();
}

void TForm1::Rotate2Click() { addAction(ActionKind::Rotate); }
void TForm1::Mirror1Click() { addAction(ActionKind::Mirror); }
void TForm1::Resize1Click() { addAction(ActionKind::Resize); }
void TForm1::Canvassize1Click() { addAction(ActionKind::CanvasSize); }
void TForm1::Crop1Click() { addAction(ActionKind::Crop); }
void TForm1::Contrast1Click() { addAction(ActionKind::Contrast); }
void TForm1::Brightness1Click() { addAction(ActionKind::Brightness); }
void TForm1::Blur1Click() { addAction(ActionKind::Blur); }
void TForm1::PictureWatermark1Click() { addAction(ActionKind::PictureWatermark); }
void TForm1::TextWatermark1Click() { addAction(ActionKind::TextWatermark); }

void TForm1::btnaddactionClick() { gb2menu_->popup(btnaddaction_->mapToGlobal(QPoint(0, btnaddaction_->height()))); }

// --- Deleting, moving, clearing -------------------------------------------------

void TForm1::Button2Click() {
    const int index = selectedAction();
    if (currentStep() == 1 && index >= 0) {
        actionList_.remove(static_cast<std::size_t>(index));
        {
            const QScopedValueRollback<bool> quiet(quietActions_, true);
            delete lbactions_->takeItem(index);
        }
        const int count = lbactions_->count();
        if (count > 0) {
            selectActionQuietly(index < count ? index : count - 1);
            lbactionsClick();
        }
    }
    if (lbactions_->count() == 0) gb2show(new Tfrmgb2actionsettings(*this));
}

void TForm1::Button4Click() {
    const int index = selectedAction();
    if (index <= 0) return;
    {
        const QScopedValueRollback<bool> quiet(quietActions_, true);
        lbactions_->insertItem(index - 1, lbactions_->takeItem(index));
    }
    actionList_.exchange(static_cast<std::size_t>(index), static_cast<std::size_t>(index - 1));
    selectActionQuietly(index - 1);
}

void TForm1::Button5Click() {
    const int index = selectedAction();
    if (index < 0 || index >= lbactions_->count() - 1) return;
    actionList_.exchange(static_cast<std::size_t>(index), static_cast<std::size_t>(index + 1));
    {
        const QScopedValueRollback<bool> quiet(quietActions_, true);
        lbactions_->insertItem(index + 1, lbactions_->takeItem(index));
    }
    selectActionQuietly(index + 1);
}

void TForm1::ActionsetClearactionslist1Click() {
    {
        const QScopedValueRollback<bool> quiet(quietActions_, true);
        lbactions_->clear();
    }
    actionList_.clear();
    selectActionQuietly(-1);
}

// --- Action list files ----------------------------------------------------------

void TForm1::ActionsetOpenfilewithactions1Click() {
    const QString path = dialogs_.openActions(this);
    if (path.isEmpty()) return;
    // A file that cannot be read leaves the list and its captions as they were.
    actionList_.loadFile(ToNativePath(path));
    const QScopedValueRollback<bool> quiet(quietActions_, true);
    lbactions_->clear();
    for (const std::string& action : actionList_) lbactions_->addItem(actionCaption(action));
    selectActionQuietly(-1);
}

void TForm1::ActionsetSaveactionslistas1Click() {
    bool firstFilter = false;
    const QString name = dialogs_.saveActions(this, &firstFilter);
    if (name.isEmpty()) return;
    std::string path = ToNativePath(name);
    if (firstFilter) path = pictorix::WithAcfExtension(path);
    actionList_.saveFile(path);
}

// --- The panel of the selected action -------------------------------------------

void TForm1::lbactionsClick() {
    const int index = selectedAction();
    if (index < 0) return;
    const pictorix::ActionFields fields(actionList_.at(static_cast<std::size_t>(index)));
    // No panel writes while its controls are set; the flag is cleared also when a
    // malformed field ends the fill early.
    const QScopedValueRollback<bool> filling(filling_, true);
    const auto kind = pictorix::KindOfKeyword(fields.text(0));
    if (!kind) return;  // the current panel stays
    ActionPanel* panel = CreateActionPanel(*kind, *this);
    gb2show(panel);
    panel->fill(fields);
}
