#include "ui/fullscreen.h"
#include "ui/language.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/rounding.h"
#include "ui/application.h"
#include "ui/widgets.h"

int FitZoomPercent(QSize view, QSize picture) {
    if (picture.isEmpty()) return 100;
    if (view.width() >= picture.width() && view.height() >= picture.height()) return 100;
    double ratio = std::min(static_cast<double>(view.height()) / picture.height(),
                            static_cast<double>(view.width()) / picture.width());
    return pictorix::RoundToInt(ratio * 100.0);
}

ZoomView::ZoomView(QWidget* parent) : QWidget(parent) {}

void ZoomView::setPicture(const QImage& picture) {
    picture_ = picture;
    if (!fit_) setScale(scale_);
    update();
}

void ZoomView::setFit() {
    fit_ = true;
    setMinimumSize(0, 0);
    update();
}

void ZoomView::setScale(double scale) {
    fit_ = false;
    // A zoom of 0 would make the picture vanish; the smallest zoom is 1 percent.
    scale_ = std::max(scale, 0.01);
    QSize size(std::max(1, static_cast<int>(std::ceil(picture_.width() * scale_))),
               std::max(1, static_cast<int>(std::ceil(picture_.height() * scale_))));
    size = size.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    setMinimumSize(0, 0);
    resize(size);
    update();
}

void ZoomView::paintEvent(QPaintEvent* event) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (fit_) {
        QSize size = picture_.size();
        if (size.width() > width() || size.height() > height())
            size = size.scaled(this->size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        painter.drawImage(target, picture_);
        return;
    }
    // Only the exposed part is drawn: at a high zoom the whole picture would be huge.
    const QRectF exposed = QRectF(event->rect()).intersected(QRectF(0, 0, picture_.width() * scale_,
                                                                    picture_.height() * scale_));
    if (exposed.isEmpty()) return;
    const int left = static_cast<int>(std::floor(exposed.left() / scale_));
    const int top = static_cast<int>(std::floor(exposed.top() / scale_));
    const int right = std::min(picture_.width(), static_cast<int>(std::ceil(exposed.right() / scale_)));
    const int bottom = std::min(picture_.height(), static_cast<int>(std::ceil(exposed.bottom() / scale_)));
    const QRect source(left, top, std::max(1, right - left), std::max(1, bottom - top));
    const QRectF target(source.left() * scale_, source.top() * scale_, source.width() * scale_,
                        source.height() * scale_);
    painter.drawImage(target, picture_, source);
}

void ZoomView::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

Tfrmfullscreen::Tfrmfullscreen(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Tfrmfullscreen"));
    setWindowTitle(QStringLiteral("Preview"));
    setMinimumSize(230, 230);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 3, 4, 3);
    row->setSpacing(3);

    btnstf_ = new QToolButton(bar);
    btnstf_->setObjectName(QStringLiteral("btnstf"));
    btnstf_->setText(QStringLiteral("Shrink to fit"));
    btnstf_->setCheckable(true);
    btnstf_->setChecked(true);

    ComboBox1_ = new QComboBox(bar);
    ComboBox1_->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1_->setEditable(true);
    ComboBox1_->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1_->addItems({"25", "50", "75", "100", "150", "200", "500", "1000"});
    ComboBox1_->lineEdit()->setMaxLength(4);
    // Pasted text cannot bring letters in either.
    ComboBox1_->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), ComboBox1_));
    ComboBox1_->setEditText(QStringLiteral("100"));
    ComboBox1_->setFixedWidth(70);
    ComboBox1_->lineEdit()->installEventFilter(this);

    UpDown1_ = new UpDown(bar);
    UpDown1_->setObjectName(QStringLiteral("UpDown1"));
    UpDown1_->setRange(1, 10000);
    UpDown1_->setPosition(100);
    UpDown1_->setBuddy(ComboBox1_->lineEdit());
    UpDown1_->setFixedHeight(ComboBox1_->sizeHint().height());

    percent_ = new QLabel(QStringLiteral("%"), bar);

    ToolButton6_ = new QToolButton(bar);
    ToolButton6_->setObjectName(QStringLiteral("ToolButton6"));
    ToolButton6_->setText(QStringLiteral("Close"));

    row->addWidget(btnstf_);
    row->addSpacing(6);
    row->addWidget(ComboBox1_);
    row->addWidget(UpDown1_);
    row->addWidget(percent_);
    row->addSpacing(6);
    row->addWidget(ToolButton6_);
    row->addStretch(1);
    layout->addWidget(bar);

    image_ = new QScrollArea(this);
    image_->setObjectName(QStringLiteral("image"));
    image_->setAlignment(Qt::AlignCenter);
    image_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    image_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    image_->setWidgetResizable(true);
    view_ = new ZoomView;
    image_->setWidget(view_);
    layout->addWidget(image_, 1);

    connect(btnstf_, &QToolButton::clicked, this, [this] { Guarded([this] { btnstfClick(); }); });
    connect(ComboBox1_, &QComboBox::editTextChanged, this, [this] {
        if (!settingZoomText_) Guarded([this] { ComboBox1Change(); });
    });
    connect(UpDown1_, &UpDown::changing, this, [this] { Guarded([this] { UpDown1Changing(); }); });
    connect(ToolButton6_, &QToolButton::clicked, this, [this] { ToolButton6Click(); });
    connect(view_, &ZoomView::doubleClicked, this, [this] { Image1DblClick(); });

    resize(800, 600);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect desk = screen->availableGeometry();
        resize(size().boundedTo(desk.size() * 9 / 10));
        move(desk.center() - QPoint(width() / 2, height() / 2));
    }
    LanguageController::instance().attach(this, QStringLiteral("Tfrmfullscreen"), {QStringLiteral("zoom*")});
}

QSize Tfrmfullscreen::viewSize() const { return image_->viewport()->size(); }

void Tfrmfullscreen::setPicture(const QImage& picture) {
    view_->setPicture(picture);
    btnstfClick();
}

void Tfrmfullscreen::setZoomText(const QString& text) {
    settingZoomText_ = true;
    ComboBox1_->setEditText(text);
    settingZoomText_ = false;
}

void Tfrmfullscreen::btnstfClick() {
    if (btnstf_->isChecked()) {
        if (view_->picture().isNull()) return;
        image_->setWidgetResizable(true);
        view_->setFit();
        setZoomText(QString::number(FitZoomPercent(viewSize(), view_->picture().size())));
        return;
    }
    image_->setWidgetResizable(false);
    view_->setScale(ComboBox1_->currentText().toInt() / 100.0);
}

void Tfrmfullscreen::ComboBox1Change() {
    btnstf_->setChecked(false);
    if (ComboBox1_->currentText().isEmpty()) setZoomText(QStringLiteral("100"));
    image_->setWidgetResizable(false);
    view_->setScale(ComboBox1_->currentText().toInt() / 100.0);
}

void Tfrmfullscreen::UpDown1Changing() { ComboBox1Change(); }

void Tfrmfullscreen::ToolButton6Click() { close(); }

void Tfrmfullscreen::Image1DblClick() { close(); }

void Tfrmfullscreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Guarded([this] { btnstfClick(); });
}

bool Tfrmfullscreen::eventFilter(QObject* watched, QEvent* event) {
    // Only digits and backspace may be typed into the zoom box; editing keys that
    // type nothing (arrows, Delete) keep working.
    if (watched == ComboBox1_->lineEdit() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (!text.isEmpty() && key->key() != Qt::Key_Backspace && !(text.size() == 1 && text[0].isDigit()) &&
            !(key->modifiers() & Qt::ControlModifier))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}
