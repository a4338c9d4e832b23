// The desktop program. Until the wizard lands this is a placeholder window that
// points to pictorix-batch, which already runs every conversion.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pictorix");
    QMainWindow window;
    window.setObjectName("TForm1");
    window.setWindowTitle("Pictorix");
    auto* label = new QLabel(
        "The Pictorix wizard is not built yet.\n\n"
        "Conversions run with pictorix-batch today; see pictorix-batch --help.",
        &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(652, 624);
    window.show();
    return app.exec();
}
