#pragma once
#include <QByteArray>
#include <QString>

// Replaces the whole content of the file at path with the UTF-8 bytes of text:
// no byte-order mark, no line break, 0 bytes for an empty text. The file is
// replaced atomically (a temporary file in the same folder, flushed to disk, then
// renamed over the target), so a reader never sees an empty or half-written file.
// A failure raises TavoriaError naming the path and the system's reason.
void WriteTextFile(const QString& text, const QString& path);

// Same replacement for raw bytes (used by the INI document).
void WriteFileAtomically(const QByteArray& bytes, const QString& path);

// Reads a whole file as UTF-8 (a byte-order mark is skipped). Raises TavoriaError
// when the file exists but cannot be read.
QString ReadTextFile(const QString& path);

// The output path of a text file: folder, a separator when the folder does not end
// with one, and the file name.
QString OutputPath(const QString& folder, const QString& fileName);
