#include "app/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

TFolderProbe& ChosenProbe() {
    static TFolderProbe probe;
    return probe;
}

QString WithoutTrailingSeparator(QString dir) {
    while (dir.size() > 1 && dir.endsWith(QDir::separator()))
        dir.chop(1);
    return dir;
}

} // namespace

QString ProgramFolder() {
    return WithoutTrailingSeparator(
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}

QString VideosFolder() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return QString();
    return QDir::toNativeSeparators(dir);
}

bool IsWritableFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
#ifndef _WIN32
    // access() also answers for a read-only mount, which permission bits do not show.
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
#else
    return QFileInfo(folder).isWritable();
#endif
}

QString DefaultOutputFolder(const QString& programFolder, const QString& workingFolder,
                            const TFolderProbe& canWrite) {
    if (canWrite(programFolder))
        return programFolder;
    return WithoutTrailingSeparator(QDir::toNativeSeparators(workingFolder));
}

QString DefaultOutputFolder() {
    const TFolderProbe& chosen = ChosenProbe();
    return DefaultOutputFolder(ProgramFolder(), QDir::currentPath(),
                               chosen ? chosen : TFolderProbe(IsWritableFolder));
}

void SetFolderProbe(TFolderProbe probe) {
    ChosenProbe() = std::move(probe);
}

QString InstalledWorkingFolder() {
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::toNativeSeparators(QDir::cleanPath(data + QStringLiteral("/tavoria")));
}

QString EnterWorkingFolder(const QString& folder) {
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return QStringLiteral("No se pudo crear la carpeta de trabajo \"%1\".").arg(shown);
    if (!IsWritableFolder(folder))
        return QStringLiteral("No se puede escribir en la carpeta de trabajo \"%1\".").arg(shown);
    if (!QDir::setCurrent(folder))
        return QStringLiteral("No se pudo entrar en la carpeta de trabajo \"%1\".").arg(shown);
    return QString();
}

QString PrepareInstalledDesk() {
    const QString failed = EnterWorkingFolder(InstalledWorkingFolder());
    if (!failed.isEmpty())
        return failed;
    SetFolderProbe([program = ProgramFolder()](const QString& folder) {
        return folder != program && IsWritableFolder(folder);
    });
    return QString();
}
