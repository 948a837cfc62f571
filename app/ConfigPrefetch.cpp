#include "app/ConfigPrefetch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <future>
#include <mutex>
#include <system_error>

ListTableRows ConfigLoad::TakeTable(const QString& name) {
    return tables.take(name.toCaseFolded());
}

ConfigLoad ReadConfigLoad(const QString& fileName) {
    ConfigLoad load;
    auto ini = std::make_unique<const TIniDocument>(fileName);
    for (const QString& section : ini->Sections())
        if (ini->ValueExists(section, QStringLiteral("totalY")))
            load.tables.insert(section.toCaseFolded(), ReadListTable(*ini, section));
    load.ini = std::move(ini);
    return load;
}

namespace {
struct Pending {
    std::mutex lock;
    QString path; // absolute
    std::future<ConfigLoad> load;
};

Pending& ThePending() {
    static Pending pending;
    return pending;
}

QString AbsolutePath(const QString& fileName) {
    return QFileInfo(fileName).absoluteFilePath();
}
} // namespace

namespace ConfigPrefetch {

void Start(const QString& fileName) {
    // Before the application exists the thread could be the first to make a Qt object
    // (the file it opens), and Qt would take it for the program's main thread: the
    // window then reads the file itself.
    if (!QCoreApplication::instance())
        return;
    Pending& p = ThePending();
    const std::lock_guard<std::mutex> hold(p.lock);
    p.path = AbsolutePath(fileName);
    // The thread opens the absolute path: the working folder may change meanwhile.
    try {
        p.load = std::async(std::launch::async, ReadConfigLoad, p.path);
    } catch (const std::system_error&) {
        // No thread to be had: the window reads the file itself, as without this.
        p.load = {};
    }
}

ConfigLoad Take(const QString& fileName) {
    Pending& p = ThePending();
    std::future<ConfigLoad> started;
    bool same = false;
    {
        const std::lock_guard<std::mutex> hold(p.lock);
        started = std::move(p.load);
        same = started.valid() && p.path == AbsolutePath(fileName);
        p.path.clear();
    }
    if (!same) {
        if (started.valid())
            started.wait();
        return ReadConfigLoad(fileName);
    }
    return started.get();
}

} // namespace ConfigPrefetch
