#include "ui/widgets.h"

#include <QVBoxLayout>
#include <algorithm>

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(16);
        layout->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    setFixedWidth(16);
    connect(up_, &QToolButton::clicked, this, [this] { step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDown::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
}

void UpDown::setPosition(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    if (buddy_) buddy_->setText(QString::number(position_));
}

void UpDown::setBuddy(QLineEdit* edit) { buddy_ = edit; }

void UpDown::step(int delta) {
    int base = position_;
    if (buddy_) {
        bool ok = false;
        int shown = buddy_->text().toInt(&ok);
        if (ok) base = std::clamp(shown, minimum_, maximum_);
    }
    long long next = static_cast<long long>(base) + delta;
    setPosition(static_cast<int>(std::clamp<long long>(next, minimum_, maximum_)));
    emit changing(position_);
}

QToolButton* MakeToolButton(QWidget* parent, const QString& objectName, const QIcon& icon, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(icon);
    button->setToolTip(hint);
    button->setAutoRaise(false);
    button->setFixedSize(26, 26);
    button->setIconSize(QSize(16, 16));
    return button;
}
