#include "ui/frmconv.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <algorithm>

#include "ui/language.h"

namespace {

constexpr int kClientWidth = 347;
constexpr int kClientHeight = 79;

}  // namespace

Tfrmconv::Tfrmconv(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmconv"));
    setWindowTitle(QString());

    // The percentage has the 67 pixels right of the bar; a larger desktop font is
    // scaled down until "100% Done" fits there.
    QFont small = font();
    while (QFontMetrics(small).horizontalAdvance(QStringLiteral("100% Done")) > kClientWidth - 280 - 2 &&
           small.pointSizeF() > 6)
        small.setPointSizeF(small.pointSizeF() - 0.5);
    setFont(small);

    Label1_ = new QLabel(this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->move(8, 8);

    pbwm_ = new QProgressBar(this);
    pbwm_->setObjectName(QStringLiteral("pbwm"));
    pbwm_->setGeometry(8, 24, 265, 17);
    pbwm_->setTextVisible(false);

    Label2_ = new QLabel(this);
    Label2_->setObjectName(QStringLiteral("Label2"));
    Label2_->move(280, 26);

    // Shown only after a failure, between the bar and the button.
    lblfailure_ = new QLabel(this);
    lblfailure_->setObjectName(QStringLiteral("lblfailure"));
    lblfailure_->setWordWrap(true);
    lblfailure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblfailure_->hide();

    Button1_ = new QPushButton(QStringLiteral("Ok"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(136, 48, 75, 25);
    connect(Button1_, &QPushButton::clicked, this, &QWidget::hide);

    setFixedClientSize(kClientHeight);
    // Label1 and Label2 change during a run; the run sets them in the current language.
    LanguageController::instance().attach(this, QStringLiteral("Tfrmconv"),
                                          {QStringLiteral("Label1.*"), QStringLiteral("Label2.*"),
                                           QStringLiteral("lblfailure.*")});
}

void Tfrmconv::setFixedClientSize(int height) { setFixedSize(kClientWidth, height); }

void Tfrmconv::start(int maximum) {
    Label1_->setText(LanguageController::instance().text(QStringLiteral("Tfrmconv"), QStringLiteral("Label1.text"),
                                                         QStringLiteral("Converting, please wait...")));
    Label1_->adjustSize();
    pbwm_->setRange(0, std::max(maximum, 1));
    pbwm_->setValue(0);
    Label2_->setText(QStringLiteral("0") + Constant("smainpercentdone"));
    Label2_->adjustSize();
    lblfailure_->hide();
    Button1_->move(136, 48);
    Button1_->setEnabled(false);
    setFixedClientSize(kClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
    show();
    raise();
}

void Tfrmconv::ProgressStep(int position, int percent) {
    pbwm_->setValue(std::min(position, pbwm_->maximum()));
    Label2_->setText(QString::number(percent) + Constant("smainpercentdone"));
    Label2_->adjustSize();
    Label2_->repaint();
}

void Tfrmconv::finish() {
    pbwm_->setValue(pbwm_->maximum());
    Label2_->setText(QStringLiteral("100") + Constant("smainpercentdone"));
    Label2_->adjustSize();
    Button1_->setEnabled(true);
    Label1_->setText(Constant("smainjustdone"));
    Label1_->adjustSize();
    Label1_->repaint();
    Label2_->repaint();
}

void Tfrmconv::fail(const QString& file, const QString& message) {
    // The line above the bar names the file; the full path and the cause go below it.
    const QString said = file.isEmpty() ? QStringLiteral("The conversion did not start:")
                                        : QStringLiteral("The conversion stopped at %1:").arg(QFileInfo(file).fileName());
    Label1_->setText(Label1_->fontMetrics().elidedText(said, Qt::ElideMiddle, kClientWidth - 16));
    Label1_->adjustSize();
    lblfailure_->setText(message);
    lblfailure_->setFixedWidth(kClientWidth - 16);
    lblfailure_->adjustSize();
    lblfailure_->move(8, 48);
    lblfailure_->show();
    const int buttonTop = 48 + lblfailure_->height() + 8;
    Button1_->move(136, buttonTop);
    Button1_->setEnabled(true);
    setFixedClientSize(buttonTop + 25 + 6);
}

void Tfrmconv::closeEvent(QCloseEvent* event) {
    // Until the run has ended the window stays, as its Ok button does nothing yet.
    if (!Button1_->isEnabled()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

pictorix::ReplaceAnswer AskReplaceQuestion(QWidget* parent, const QString& path) {
    using pictorix::ReplaceAnswer;
    QString text = Constant("smainfileexists");
    text.replace(QStringLiteral("%s"), path);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("replacequestion"));
    // One role for all four keeps them in this order on every platform.
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::ActionRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::ActionRole);
    QPushButton* noToAll = box.addButton(QStringLiteral("N&o to All"), QMessageBox::ActionRole);
    QPushButton* yesToAll = box.addButton(QStringLiteral("Yes to &All"), QMessageBox::ActionRole);
    yes->setObjectName(QStringLiteral("Yes"));
    no->setObjectName(QStringLiteral("No"));
    noToAll->setObjectName(QStringLiteral("NoToAll"));
    yesToAll->setObjectName(QStringLiteral("YesToAll"));
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() == yes) return ReplaceAnswer::Yes;
    if (box.clickedButton() == yesToAll) return ReplaceAnswer::YesToAll;
    if (box.clickedButton() == noToAll) return ReplaceAnswer::NoToAll;
    return ReplaceAnswer::No;
}
