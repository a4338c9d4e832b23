#pragma once
// The application object and the one place where unexpected failures are reported.
#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

// Shows the text of a failure that no command handled: a message box over the active
// window, and a line on stderr.
void ReportUnexpectedError(const QString& text);

// Replaces how ReportUnexpectedError shows the text (tests record it instead);
// an empty function restores the message box.
using ErrorReporter = std::function<void(const QString&)>;
void SetErrorReporter(ErrorReporter reporter);

// Runs a command; a failure ends it and is reported, and the window goes on with the
// state it had when the failure happened.
template <class F>
void Guarded(F&& command) {
    try {
        command();
    } catch (const std::exception& e) {
        ReportUnexpectedError(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportUnexpectedError(QStringLiteral("Unknown error"));
    }
}

// Catches what still escapes an event handler, so that no failure ends the program.
class PictorixApplication : public QApplication {
    Q_OBJECT
public:
    PictorixApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
