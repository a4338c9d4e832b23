#pragma once
// The picture views of steps 1 and 2 and the worker that decodes for them.
#include <QFrame>
#include <QFuture>
#include <QFutureWatcher>
#include <QImage>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Shows one picture centred, shrunk to fit when larger than the view and never
// enlarged, sampled nearest-neighbour. It keeps the picture at full size (the viewer
// opens it from here); instead of a picture it can show a message.
class PreviewImage : public QFrame {
    Q_OBJECT
public:
    explicit PreviewImage(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    void setMessage(const QString& message);
    void clear();

    bool hasPicture() const { return !picture_.isNull(); }
    const QImage& picture() const { return picture_; }
    const QString& message() const { return message_; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    QImage shown_;  // picture_ at the size it is drawn, made when first needed
    QString message_;
};

// Runs preview work (reading a picture, applying actions) on a pool thread, one job at
// a time. A request made while a job runs waits; a later request replaces a waiting
// one, so a quick click through a long list decodes only the newest picture, and only
// the result of the newest request is delivered.
class PreviewWorker : public QObject {
    Q_OBJECT
public:
    // Returns the picture to show; throws to show its message instead.
    using Job = std::function<QImage()>;

    explicit PreviewWorker(QObject* parent = nullptr);
    ~PreviewWorker() override;

    void request(Job job);
    bool idle() const { return !running_; }
    // Forgets the waiting request and the result of the running one.
    void discard();
    // Blocks until every request has run and its result has been delivered.
    void waitForIdle();

signals:
    // The picture of the newest request, or the message of its failure.
    void ready(const QImage& picture, const QString& message);

private:
    struct Outcome {
        QImage picture;
        QString message;
    };
    void start(Job job);
    void finish();

    QFuture<Outcome> future_;
    QFutureWatcher<Outcome> watcher_;
    std::optional<Job> waiting_;
    bool running_ = false;
    bool discardRunning_ = false;
};

// The work of the two previews, run on the worker's thread.
// Step 1: the picture as read.
QImage ReadPreviewPicture(const std::string& path);
// Step 2: the picture with every action applied as the preview applies them.
QImage ReadActionPreviewPicture(const std::string& path, const std::vector<std::string>& actions);
