#include "app/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString ProgramFolder() {
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    while (dir.size() > 1 && dir.endsWith(QDir::separator()))
        dir.chop(1);
    return dir;
}

QString VideosFolder() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return QString();
    return QDir::toNativeSeparators(dir);
}
