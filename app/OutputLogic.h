#pragma once
#include <QString>
#include <QStringList>

// The id of the first line (device id, "|", description) that holds name at its
// third character or later; the first occurrence in a line is the one that counts,
// the comparison is case-sensitive and an empty name never matches.
QString DeviceIdForName(const QStringList& lines, const QString& name);

// The libVLC device id that plays on the system's default output, given libVLC's
// device lines (id, "|", description). libVLC keeps a playing sound where it is
// when it is handed the empty id, so "Default" needs an id of its own: ALSA lists
// "default" itself; PulseAudio (and PipeWire's PulseAudio server) names its sinks
// and resolves "@DEFAULT_SINK@" to its default sink whenever a stream starts or
// moves. Without any device line: the empty id.
QString DefaultOutputDeviceId(const QStringList& lines);

// The plugin file whose presence enables the NDI output, under libVLC's folder.
QString NdiPluginPath(const QString& vlcFolder);
