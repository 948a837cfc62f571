#pragma once
#include <QString>
#include <QStringList>

// The id of the first line (device id, "|", description) that holds name at its
// third character or later; the first occurrence in a line is the one that counts,
// the comparison is case-sensitive and an empty name never matches.
QString DeviceIdForName(const QStringList& lines, const QString& name);

// The plugin file whose presence enables the NDI output, under libVLC's folder.
QString NdiPluginPath(const QString& vlcFolder);
