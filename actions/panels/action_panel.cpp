#include "actions/panels/action_panel.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>

#include "actions/panels/panel_dialogs.h"
#include "ui/widgets.h"

// --- Dialogs --------------------------------------------------------------------

namespace {

PanelDialogs DefaultPanelDialogs() {
    PanelDialogs d;
    d.chooseColour = [](QWidget* parent, std::int32_t current) -> std::optional<std::int32_t> {
        const QColor chosen = QColorDialog::getColor(ScreenColour(current), parent);
        if (!chosen.isValid()) return std::nullopt;
        return ColourValue(chosen);
    };
    d.chooseFont = [](QWidget* parent, const WatermarkFont& current) { return ChooseWatermarkFont(parent, current); };
    d.openPicture = [](QWidget* parent) { return OpenWatermarkPicture(parent); };
    return d;
}

}  // namespace

PanelDialogs& panelDialogs() {
    static PanelDialogs dialogs = DefaultPanelDialogs();
    return dialogs;
}

void ResetPanelDialogs() { panelDialogs() = DefaultPanelDialogs(); }

// --- Colours and fonts ----------------------------------------------------------

QColor ScreenColour(std::int32_t colour) {
    if (colour == pictorix::kWindowTextColour) return QApplication::palette().color(QPalette::WindowText);
    const pictorix::Color c = pictorix::ResolveColour(colour);
    return QColor(static_cast<int>(pictorix::GetR(c)), static_cast<int>(pictorix::GetG(c)),
                  static_cast<int>(pictorix::GetB(c)));
}

std::int32_t ColourValue(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return static_cast<std::int32_t>(pictorix::RGB(static_cast<unsigned>(rgb.red()), static_cast<unsigned>(rgb.green()),
                                                   static_cast<unsigned>(rgb.blue())));
}

QFont ScreenFont(const WatermarkFont& font) {
    QFont f(font.name);
    // A size the field holds but no font can take still shows the text.
    f.setPointSize(std::clamp(font.size, 1, 1638));
    f.setBold(font.style.bold);
    f.setItalic(font.style.italic);
    f.setUnderline(font.style.underline);
    f.setStrikeOut(font.style.strikeOut);
    return f;
}

void fillbtn(QLabel* swatch, std::int32_t colour) {
    QPixmap pixmap(25, 25);
    pixmap.fill(ScreenColour(colour));
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, 24, 24);
    painter.end();
    swatch->setPixmap(pixmap);
}

QLabel* MakeSwatch(QWidget* parent, const char* objectName) {
    auto* swatch = new QLabel(parent);
    swatch->setObjectName(QString::fromLatin1(objectName));
    swatch->setFixedSize(25, 25);
    return swatch;
}

// --- Key filters ----------------------------------------------------------------

namespace {

class KeyFilter : public QObject {
   public:
    KeyFilter(QLineEdit* box, KeyFilterKind kind, bool limited, int minimum, int maximum)
        : QObject(box), box_(box), kind_(kind), limited_(limited), minimum_(minimum), maximum_(maximum) {}

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != box_ || event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        // Pasting would bypass the filter; the boxes take typed characters only.
        if (key->matches(QKeySequence::Paste)) return true;
        const bool backspace = key->key() == Qt::Key_Backspace;
        const QString text = key->text();
        if (!backspace && (text.isEmpty() || !text.at(0).isPrint())) return false;  // not a character
        const bool accepted = backspace || (text.size() == 1 && (text.at(0).isDigit() && text.at(0).unicode() < 128)) ||
                              (kind_ == KeyFilterKind::Signed && text == QLatin1String("-"));
        if (limited_) clamp();
        return !accepted;
    }

   private:
    void clamp() {
        const QString current = box_->text();
        if (kind_ == KeyFilterKind::Signed && (current.isEmpty() || current == QLatin1String("-"))) return;
        bool ok = false;
        const long long value = current.toLongLong(&ok);
        if (!ok) return;
        if (value <= maximum_ && value >= minimum_) return;
        // The caret stays where it was, so the typed character lands where the user aimed.
        const int caret = box_->cursorPosition();
        box_->setText(QString::number(value > maximum_ ? maximum_ : minimum_));
        box_->setCursorPosition(std::min(caret, static_cast<int>(box_->text().size())));
    }

    QLineEdit* box_;
    KeyFilterKind kind_;
    bool limited_;
    int minimum_;
    int maximum_;
};

}  // namespace

void InstallKeyFilter(QLineEdit* box, KeyFilterKind kind) {
    box->installEventFilter(new KeyFilter(box, kind, false, 0, 0));
}

void InstallKeyFilter(QLineEdit* box, KeyFilterKind kind, int minimum, int maximum) {
    box->installEventFilter(new KeyFilter(box, kind, true, minimum, maximum));
}

// --- Number boxes ---------------------------------------------------------------

NumberBox MakeNumberBox(QWidget* parent, const char* objectName, int maxLength, int minimum, int maximum, int initial) {
    NumberBox box;
    box.edit = new QLineEdit(QString::number(initial), parent);
    box.edit->setObjectName(QString::fromLatin1(objectName));
    box.edit->setMaxLength(maxLength);
    box.arrows = new UpDown(parent);
    box.arrows->setObjectName(QString::fromLatin1(objectName) + QStringLiteral("updown"));
    box.arrows->setRange(minimum, maximum);
    box.arrows->setPosition(initial);
    box.arrows->setBuddy(box.edit);
    return box;
}

void AlignColumn(const std::vector<ColumnRow>& rows) {
    int right = 0;
    for (const ColumnRow& row : rows) {
        row.label->adjustSize();
        right = std::max(right, row.label->x() + row.label->width());
    }
    for (const ColumnRow& row : rows) {
        QLineEdit* edit = row.box.edit;
        edit->move(right + 5, edit->y());
        if (row.box.arrows)
            row.box.arrows->setGeometry(edit->x() + edit->width(), edit->y(), row.box.arrows->width(), edit->height());
        if (row.unit) {
            const int after =
                row.box.arrows ? row.box.arrows->x() + row.box.arrows->width() : edit->x() + edit->width();
            row.unit->move(after + 5, row.unit->y());
        }
    }
}

// --- The panel ------------------------------------------------------------------

ActionPanel::ActionPanel(ActionPanelHost& host, std::string kind, const QString& caption, const QString& objectName,
                         QWidget* parent)
    : QWidget(parent), host_(host), kind_(std::move(kind)) {
    setObjectName(objectName);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    box_ = new QGroupBox(caption, this);
    box_->setObjectName(QStringLiteral("GroupBox1"));
    layout->addWidget(box_);
}

void ActionPanel::fill(const pictorix::ActionFields&) {}

std::string ActionPanel::compose() const { return kind_; }

bool ActionPanel::writeBack() {
    const int selected = host_.selectedAction();
    if (selected < 0 || host_.filling()) return false;
    pictorix::ActionList& list = host_.actionList();
    if (static_cast<std::size_t>(selected) >= list.size()) return false;
    const pictorix::ActionFields current(list.at(static_cast<std::size_t>(selected)));
    if (current.text(0) != kind_) return true;
    list.replace(static_cast<std::size_t>(selected), compose());
    return true;
}

// --- Small helpers --------------------------------------------------------------

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, const char* objectName) {
    auto* label = new QLabel(text, parent);
    if (objectName) label->setObjectName(QString::fromLatin1(objectName));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QComboBox* MakeList(QWidget* parent, const QString& objectName, const QStringList& entries) {
    auto* list = new QComboBox(parent);
    list->setObjectName(objectName);
    list->addItems(entries);
    return list;
}

std::string UnitWord(int index) { return index == 1 ? "percents" : "pixels"; }

void SelectUnit(QComboBox* list, const std::string& word) {
    if (word == "pixels")
        list->setCurrentIndex(0);
    else if (word == "percents")
        list->setCurrentIndex(1);
}
