#pragma once
// The progress window of a conversion run, and the replace question a run asks.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "engine/batch.h"

// A small fixed window (347 x 79 inside its border), centred on the desktop, without
// title text or title-bar buttons: "Converting, please wait...", the bar, "N% Done"
// and "Ok", which stays disabled until the run has ended and then hides the window.
class Tfrmconv : public QWidget {
    Q_OBJECT
public:
    explicit Tfrmconv(QWidget* parent = nullptr);

    // The starting state for a run of `maximum` progress steps, centred and shown.
    void start(int maximum);
    // One progress step done: the bar at `position`, the label at "percent% Done".
    void ProgressStep(int position, int percent);
    // The end of a run that converted every file: "Done", the bar full, "100% Done".
    void finish();
    // The end of a run that stopped at a failure: the bar and the percentage stay where
    // the run stopped, and the window names the file and the cause instead of "Done".
    // `file` is empty when the run stopped before its first file.
    void fail(const QString& file, const QString& message);

    // Whether the window shows the end of a run (Ok enabled).
    bool ended() const { return Button1_->isEnabled(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setFixedClientSize(int height);

    QLabel* Label1_;
    QProgressBar* pbwm_;
    QLabel* Label2_;
    QLabel* lblfailure_;
    QPushButton* Button1_;
};

// The replace question: "File <path> already exists. Do you want to replace this
// file?" with the buttons "&Yes" (the default), "&No", "N&o to All" and "Yes to &All";
// Escape answers No.
pictorix::ReplaceAnswer AskReplaceQuestion(QWidget* parent, const QString& path);
