// The desktop program: the wizard window, with the files named on the command line.
#include <QStringList>

#include "core/memory_policy.h"
#include "ui/application.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    pictorix::KeepPictureMemory();
    PictorixApplication app(argc, argv);
    TForm1 window(PictorixApplication::arguments().mid(1));
    window.show();
    return app.exec();
}
