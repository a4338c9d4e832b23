#pragma once
// The family of step-2 panels that edit one action string each, and what they share:
// the window they write into, the key filters of their number boxes, the colour swatch
// and the dialogs they open.
//
// A panel is filled from the selected action while the window's filling flag is set,
// and every change afterwards rewrites that action from all of the panel's controls
// (writeBack). The string is the action's only state: nothing is kept in the panel
// that the string does not hold.
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "actions/action_list.h"
#include "actions/action_string.h"

class UpDown;

// What a panel needs of the window that shows it.
class ActionPanelHost {
   public:
    virtual ~ActionPanelHost() = default;
    // Set while a panel is being filled from an action string: no panel writes then.
    virtual bool filling() const = 0;
    // The index of the selected caption, -1 when none.
    virtual int selectedAction() const = 0;
    virtual pictorix::ActionList& actionList() = 0;
};

// The font of a text watermark as its fields hold it.
struct WatermarkFont {
    QString name = QStringLiteral("Arial");
    int size = 12;  // points
    std::int32_t colour = pictorix::kWindowTextColour;
    pictorix::FontStyle style;
};

// The dialogs the panels open. Each has a default that shows the real dialog; tests put
// answers in their place. Nothing (or an empty name) means cancelled.
struct PanelDialogs {
    std::function<std::optional<std::int32_t>(QWidget* parent, std::int32_t current)> chooseColour;
    std::function<std::optional<WatermarkFont>(QWidget* parent, const WatermarkFont& current)> chooseFont;
    std::function<QString(QWidget* parent)> openPicture;
};
PanelDialogs& panelDialogs();
// Puts the real dialogs back.
void ResetPanelDialogs();

// Colour values (0x00BBGGRR, system colours with the top byte 0xFF) on screen. The
// window-text system colour is the palette's window text.
QColor ScreenColour(std::int32_t colour);
std::int32_t ColourValue(const QColor& colour);

// The font a watermark font shows in on screen.
QFont ScreenFont(const WatermarkFont& font);

// Paints a 25 x 25 colour swatch: the colour with a 1-pixel black border.
void fillbtn(QLabel* swatch, std::int32_t colour);
QLabel* MakeSwatch(QWidget* parent, const char* objectName);

// The key filters of number boxes. They look at each typed character before the box
// inserts it: the digits filter lets through "0" to "9" and backspace, the signed filter
// "-" as well; anything else is dropped. A box with limits then checks the text it holds
// before the character arrives and replaces a number beyond a limit by that limit, so a
// value typed past a limit stands until the next key in that box.
enum class KeyFilterKind { Digits, Signed };
void InstallKeyFilter(QLineEdit* box, KeyFilterKind kind);
void InstallKeyFilter(QLineEdit* box, KeyFilterKind kind, int minimum, int maximum);

// A number box with its up-down arrows beside it.
struct NumberBox {
    QLineEdit* edit = nullptr;
    UpDown* arrows = nullptr;
};
NumberBox MakeNumberBox(QWidget* parent, const char* objectName, int maxLength, int minimum, int maximum, int initial);

// Lines a column of labelled rows up behind its widest label: each box 5 pixels right
// of that label, its arrows at the box's right edge, and the row's unit (list or label)
// 5 pixels right of the arrows.
struct ColumnRow {
    QLabel* label;
    NumberBox box;
    QWidget* unit = nullptr;
};
void AlignColumn(const std::vector<ColumnRow>& rows);

// One panel: a frame whose whole surface is a group box with the panel's caption.
class ActionPanel : public QWidget {
    Q_OBJECT
   public:
    // `kind` is the keyword of the actions the panel edits; empty for the empty panel.
    ActionPanel(ActionPanelHost& host, std::string kind, const QString& caption, const QString& objectName,
                QWidget* parent = nullptr);

    const std::string& kind() const { return kind_; }
    QGroupBox* groupBox() const { return box_; }

    // Sets the controls from the fields in field order. A field that is missing or
    // malformed stops the fill there with an Error: the controls set so far keep their
    // values, the others their initial state.
    virtual void fill(const pictorix::ActionFields& fields);
    // The action string the controls make now.
    virtual std::string compose() const;
    // After the window's texts have been translated: re-align what the longer or shorter
    // labels moved, reset the translated lists.
    virtual void DKLanguageController1LanguageChanged() {}

   protected:
    // The write-back steps: nothing at all when no caption is selected or the panel is
    // being filled (false: the handler ends there too); otherwise the selected action is
    // rewritten from the controls when it is of this panel's kind (true, also when it is
    // not and nothing was written).
    bool writeBack();

    ActionPanelHost& host_;

   private:
    std::string kind_;
    QGroupBox* box_;
};

// A label sized to its text at a place in the panel.
QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, const char* objectName = nullptr);

// A fixed list (a combo box that cannot be typed into) with its entries.
QComboBox* MakeList(QWidget* parent, const QString& objectName, const QStringList& entries);

// The unit words of the unit lists: "pixels" for the first entry, "percents" for the
// second. Filling selects the entry of a known word and leaves the list alone otherwise.
std::string UnitWord(int index);
void SelectUnit(QComboBox* list, const std::string& word);
