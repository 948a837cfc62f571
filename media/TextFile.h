#pragma once
#include <QByteArray>
#include <QString>

// Replaces the whole content of the file at path with the UTF-8 bytes of text:
// no byte-order mark, no line break, 0 bytes for an empty text. The file is
// replaced atomically (a temporary file in the same folder, flushed to disk, then
// renamed over the target), so a reader never sees an empty or half-written file.
// A failure raises TavoriaError naming the path and the system's reason.
void WriteTextFile(const QString& text, const QString& path);

// How far a replacement goes before it returns.
enum class FileSync {
    // Flushed to the disk before the rename: survives a power cut (settings, the
    // marquee that is read back at start-up).
    Durable,
    // Renamed into place without waiting for the disk: readers still see the old or
    // the new content, never a mix, but a slow disk cannot hold up the caller. For
    // overlay files that are rewritten often (the clock every second).
    Transient,
};

// WriteTextFile with a choice of durability.
void WriteTextFile(const QString& text, const QString& path, FileSync sync);

// Same replacement for raw bytes (used by the INI document).
void WriteFileAtomically(const QByteArray& bytes, const QString& path);
// OwnerOnly: the file is readable and writable by its owner alone (it holds a secret).
enum class FilePermissions { Default, OwnerOnly };
void WriteFileAtomically(const QByteArray& bytes, const QString& path, FilePermissions permissions);
void WriteFileAtomically(const QByteArray& bytes, const QString& path, FileSync sync);

// Reads a whole file as UTF-8 (a byte-order mark is skipped). Raises TavoriaError
// when the file exists but cannot be read.
QString ReadTextFile(const QString& path);

// The output path of a text file: folder, a separator when the folder does not end
// with one, and the file name.
QString OutputPath(const QString& folder, const QString& fileName);
