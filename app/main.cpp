#include "app/TfrmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    // libVLC draws into a native X11 window: ask for the xcb platform unless the
    // user chose another one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TfrmMain window;
    window.show();
    return app.exec();
}
