#include "platform/VlcFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

QString StripTrailingSeparators(QString dir) {
    while (dir.size() > 1 && (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\'))))
        dir.chop(1);
    return dir;
}

bool HoldsPlugins(const QString& dir) {
    return !dir.isEmpty() && QFileInfo(dir + QStringLiteral("/plugins")).isDir();
}

#ifndef _WIN32
// Folder of the shared object that holds the given address, or empty.
QString FolderOfAddress(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return {};
    QString file = QFile::decodeName(info.dli_fname);
    QFileInfo fi(file);
    if (!fi.isAbsolute())
        return {};
    return fi.canonicalPath();
}

// The multiarch triplet this program was built for, as Debian names its library folders.
QString MultiarchTriplet() {
#if defined(__x86_64__)
    return QStringLiteral("x86_64-linux-gnu");
#elif defined(__aarch64__)
    return QStringLiteral("aarch64-linux-gnu");
#elif defined(__i386__)
    return QStringLiteral("i386-linux-gnu");
#elif defined(__arm__)
    return QStringLiteral("arm-linux-gnueabihf");
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
    return QStringLiteral("powerpc64le-linux-gnu");
#else
    return {};
#endif
}
#endif

} // namespace

QString VlcInstallDir() {
    if (qEnvironmentVariableIsSet("TAVORIA_VLC_DIR"))
        return StripTrailingSeparators(qEnvironmentVariable("TAVORIA_VLC_DIR"));

#ifndef _WIN32
    QStringList candidates;
    // A libVLC that this process already loaded names its own folder.
    if (void* lib = dlopen("libvlc.so.5", RTLD_LAZY | RTLD_NOLOAD)) {
        if (void* sym = dlsym(lib, "libvlc_get_version"))
            candidates << FolderOfAddress(sym) + QStringLiteral("/vlc");
        dlclose(lib);
    }
    // The folder of the C library gives the multiarch library folder of this system.
    const QString libcDir = FolderOfAddress(reinterpret_cast<const void*>(&dlopen));
    if (!libcDir.isEmpty()) {
        candidates << libcDir + QStringLiteral("/vlc");
        if (libcDir.startsWith(QStringLiteral("/lib")))
            candidates << QStringLiteral("/usr") + libcDir + QStringLiteral("/vlc");
    }
    const QString triplet = MultiarchTriplet();
    if (!triplet.isEmpty())
        candidates << QStringLiteral("/usr/lib/%1/vlc").arg(triplet);
    candidates << QStringLiteral("/usr/lib64/vlc") << QStringLiteral("/usr/lib/vlc")
               << QStringLiteral("/usr/local/lib/vlc");
    for (const QString& dir : std::as_const(candidates)) {
        const QString clean = QDir::cleanPath(dir);
        if (HoldsPlugins(clean))
            return clean;
    }
#endif
    return {};
}
