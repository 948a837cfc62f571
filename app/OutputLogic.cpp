#include "app/OutputLogic.h"

#include <QDir>

QString DeviceIdForName(const QStringList& lines, const QString& name) {
    if (name.isEmpty())
        return QString();
    for (const QString& line : lines) {
        const qsizetype at = line.indexOf(name); // 0-based: the third character is 2
        if (at >= 2)
            return line.left(line.indexOf(QLatin1Char('|')));
    }
    return QString();
}

QString DefaultOutputDeviceId(const QStringList& lines) {
    if (lines.isEmpty())
        return QString();
    for (const QString& line : lines)
        if (line.left(line.indexOf(QLatin1Char('|'))) == QLatin1String("default"))
            return QStringLiteral("default");
    return QStringLiteral("@DEFAULT_SINK@");
}

QString NdiPluginPath(const QString& vlcFolder) {
    QString folder = vlcFolder;
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder + QStringLiteral("plugins") + QDir::separator() + QStringLiteral("video_output") +
           QDir::separator() + QStringLiteral("libndi_plugin.so");
}
