#pragma once
// Small controls the windows share.
#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>

// A pair of up and down arrows tied to an edit: an arrow takes the number the edit
// shows (or the arrows' own position when it shows none), steps it by one within the
// range and writes it back into the edit.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setRange(int minimum, int maximum);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int position() const { return position_; }
    // Clamps to the range; writes the edit's text when tied to one. Emits no signal.
    void setPosition(int position);
    void setBuddy(QLineEdit* edit);
    QLineEdit* buddy() const { return buddy_; }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    // An arrow was pressed: the new position, already written into the edit.
    void changing(int position);

private:
    void step(int delta);

    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* buddy_ = nullptr;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
};

// A small square button with an icon and a hint, as the step pages use them.
QToolButton* MakeToolButton(QWidget* parent, const QString& objectName, const QIcon& icon, const QString& hint);

// The widget, given its object name: the name the language files and tests use.
template <class W>
W* Named(W* widget, const char* objectName) {
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

// A folder as the settings keep it: with a final slash.
inline QString WithFinalSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}
