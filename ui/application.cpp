#include "ui/application.h"

#include <QMessageBox>
#include <cstdio>

namespace {

ErrorReporter& Reporter() {
    static ErrorReporter reporter;
    return reporter;
}

}  // namespace

void SetErrorReporter(ErrorReporter reporter) { Reporter() = std::move(reporter); }

void ReportUnexpectedError(const QString& text) {
    std::fprintf(stderr, "pictorix: %s\n", text.toLocal8Bit().constData());
    if (Reporter()) {
        Reporter()(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Pictorix"), text);
}

PictorixApplication::PictorixApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Pictorix"));
}

bool PictorixApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}
