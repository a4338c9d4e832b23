#include "ui/previews.h"

#include <QMouseEvent>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

#include "actions/apply_action.h"
#include "core/bitmap.h"
#include "pictureio/picture_io.h"
#include "ui/image_convert.h"

namespace {

// The picture's size shrunk to fit into `room`, keeping its proportions; never larger
// than the picture itself.
QSize FittedSize(QSize picture, QSize room) {
    if (picture.width() <= room.width() && picture.height() <= room.height()) return picture;
    QSize fitted = picture.scaled(room, Qt::KeepAspectRatio);
    return fitted.expandedTo(QSize(1, 1));
}

}  // namespace

PreviewImage::PreviewImage(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setMinimumSize(1, 1);
}

void PreviewImage::setPicture(const QImage& picture) {
    picture_ = picture;
    shown_ = QImage();
    message_.clear();
    update();
}

void PreviewImage::setMessage(const QString& message) {
    picture_ = QImage();
    shown_ = QImage();
    message_ = message;
    update();
}

void PreviewImage::clear() { setMessage(QString()); }

void PreviewImage::resizeEvent(QResizeEvent* event) {
    shown_ = QImage();
    QFrame::resizeEvent(event);
}

void PreviewImage::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect room = contentsRect();
    if (!picture_.isNull() && !room.isEmpty()) {
        const QSize size = FittedSize(picture_.size(), room.size());
        if (shown_.size() != size)
            shown_ = size == picture_.size() ? picture_
                                              : picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        const QPoint at(room.left() + (room.width() - size.width()) / 2,
                        room.top() + (room.height() - size.height()) / 2);
        painter.drawImage(at, shown_);
    } else if (!message_.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(room.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, message_);
    }
}

void PreviewImage::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked();
    QFrame::mouseDoubleClickEvent(event);
}

PreviewWorker::PreviewWorker(QObject* parent) : QObject(parent) {
    connect(&watcher_, &QFutureWatcher<Outcome>::finished, this, [this] {
        if (running_ && future_.isFinished()) finish();
    });
}

PreviewWorker::~PreviewWorker() {
    // The job may still use the picture file; let it end before the window goes.
    waiting_.reset();
    if (running_) future_.waitForFinished();
}

void PreviewWorker::request(Job job) {
    if (running_) {
        waiting_ = std::move(job);
        return;
    }
    start(std::move(job));
}

void PreviewWorker::discard() {
    waiting_.reset();
    discardRunning_ = running_;
}

void PreviewWorker::start(Job job) {
    running_ = true;
    discardRunning_ = false;
    future_ = QtConcurrent::run([job = std::move(job)]() -> Outcome {
        Outcome outcome;
        try {
            outcome.picture = job();
        } catch (const std::exception& e) {
            outcome.message = QString::fromUtf8(e.what());
        } catch (...) {
            outcome.message = QStringLiteral("Unknown error");
        }
        return outcome;
    });
    watcher_.setFuture(future_);
}

void PreviewWorker::finish() {
    running_ = false;
    if (waiting_) {
        // A newer request came in meanwhile: this result is already out of date.
        Job next = std::move(*waiting_);
        waiting_.reset();
        start(std::move(next));
        return;
    }
    if (discardRunning_) return;
    Outcome outcome = future_.result();
    emit ready(outcome.picture, outcome.message);
}

void PreviewWorker::waitForIdle() {
    while (running_) {
        future_.waitForFinished();
        finish();
    }
}

QImage ReadPreviewPicture(const std::string& path) {
    pictorix::Bitmap bitmap;
    pictorix::LoadPicture(path, bitmap);
    return ToQImage(bitmap);
}

QImage ReadActionPreviewPicture(const std::string& path, const std::vector<std::string>& actions) {
    pictorix::Bitmap bitmap;
    pictorix::LoadPicture(path, bitmap);
    for (const std::string& action : actions) pictorix::ApplyAction(action, bitmap, pictorix::ActionPurpose::Preview);
    return ToQImage(bitmap);
}
