#include "app/AppPaths.h"
#include "app/ConfigPrefetch.h"
#include "app/QtSpanish.h"
#include "app/TfrmMain.h"
#include "platform/Allocator.h"
#include "platform/DisplayWait.h"
#include "platform/TerminationSignal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {
// The process's resident memory in KiB (-1 when it cannot be read).
long ResidentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}
} // namespace

int main(int argc, char** argv) {
    TuneAllocatorForLongRuns();
    QElapsedTimer started;
    started.start();
    // libVLC draws into a native X11 window: ask for the xcb platform unless the
    // user chose another one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Started with the session, the desk may come up before the display does. The
    // wait's connection stays open until the application has its own (see the class).
    TX11DisplayWait display;
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && !display.Wait(60000)) {
        std::fprintf(stderr, "tavoria: no display to open the window on (DISPLAY=%s)\n",
                     qgetenv("DISPLAY").constData());
        return 1;
    }
    QApplication app(argc, argv);
    display.Release();
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    if (!InstallQtSpanish(&app))
        std::fprintf(stderr, "tavoria: Qt's Spanish translations are not installed "
                             "(qt6-translations-l10n); its dialogs stay in English\n");
    // Desktops find the installed entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tavoria.desk"));
    // Started from its desktop entry, the desk works in a folder of its own under the
    // user's data folder, and never writes into its program folder (the system's).
    if (QCoreApplication::arguments().contains(QStringLiteral("--installed"))) {
        const QString failed = PrepareInstalledDesk();
        if (!failed.isEmpty()) {
            std::fprintf(stderr, "tavoria: %s\n", qPrintable(failed));
            QMessageBox::critical(nullptr, QStringLiteral("Tavoria"), failed);
            return 1;
        }
    }
    // config.ini is read on a thread of its own while the window is being built. Not
    // before the application exists: the first thread that makes a Qt object is the
    // one Qt takes for the program's main thread.
    ConfigPrefetch::Start(QStringLiteral("config.ini"));
    TfrmMain window;
    window.show();
    // A logout or a service stop closes the desk as its close box does (saving).
    TTerminationSignal termination;
    QObject::connect(&termination, &TTerminationSignal::Terminate, &window,
                     [&window](int) { window.close(); });
    // Benchmarks time the start until the window is on screen.
    if (qEnvironmentVariableIsSet("TAVORIA_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [&started] {
            std::printf("shown-ms=%.1f\nshown-rss-kb=%ld\n", started.nsecsElapsed() / 1e6,
                        ResidentKb());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    return app.exec();
}
