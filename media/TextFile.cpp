#include "media/TextFile.h"

#include "media/TavoriaError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <filesystem>
#include <system_error>

QString ErrorText(const std::exception& e) {
    if (auto* t = dynamic_cast<const TavoriaError*>(&e))
        return t->message();
    return QString::fromUtf8(e.what());
}

namespace {

[[noreturn]] void ThrowWriteError(const QString& path, const QString& reason) {
    throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                           .arg(QDir::toNativeSeparators(path), reason));
}

std::filesystem::path FsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Writes a sibling file and renames it over the target, without waiting for the
// disk. The rename is atomic: a reader opens either the old or the new file.
void WriteTransient(const QByteArray& bytes, const QString& path) {
    // A link is followed, as QSaveFile does: the file it names is replaced.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : path;
    QFile tmp;
    for (int attempt = 0;; ++attempt) {
        tmp.setFileName(target +
                        QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                      QLatin1Char('0')));
        // NewOnly: never opens a file that is already there.
        if (tmp.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        if (attempt >= 8 || !QFileInfo::exists(tmp.fileName()))
            ThrowWriteError(path, tmp.errorString());
    }
    bool written = tmp.write(bytes) == bytes.size() && tmp.flush();
    QString reason = tmp.errorString();
    if (written && info.isFile())
        tmp.setPermissions(QFile::permissions(target));
    tmp.close();
    if (written && tmp.error() != QFileDevice::NoError) {
        written = false;
        reason = tmp.errorString();
    }
    if (!written) {
        QFile::remove(tmp.fileName());
        ThrowWriteError(path, reason);
    }
    std::error_code ec;
    std::filesystem::rename(FsPath(tmp.fileName()), FsPath(target), ec);
    if (ec) {
        QFile::remove(tmp.fileName());
        ThrowWriteError(path, QString::fromLocal8Bit(ec.message().c_str()));
    }
}

} // namespace

void WriteFileAtomically(const QByteArray& bytes, const QString& path, FileSync sync) {
    if (sync == FileSync::Transient)
        WriteTransient(bytes, path);
    else
        WriteFileAtomically(bytes, path);
}

void WriteFileAtomically(const QByteArray& bytes, const QString& path) {
    WriteFileAtomically(bytes, path, FilePermissions::Default);
}

void WriteFileAtomically(const QByteArray& bytes, const QString& path,
                         FilePermissions permissions) {
    QSaveFile file(path);
    // Never fall back to writing the target in place: a reader must not see a
    // truncated file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), reason));
    }
    // The new file is private before it takes the name: no one reads it in between.
    if (permissions == FilePermissions::OwnerOnly &&
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), reason));
    }
    if (!file.commit())
        throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
}

void WriteTextFile(const QString& text, const QString& path) {
    WriteFileAtomically(text.toUtf8(), path);
}

void WriteTextFile(const QString& text, const QString& path, FileSync sync) {
    WriteFileAtomically(text.toUtf8(), path, sync);
}

QString ReadTextFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TavoriaError(QStringLiteral("No se pudo leer \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TavoriaError(QStringLiteral("No se pudo leer \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return QString::fromUtf8(bytes);
}

QString OutputPath(const QString& folder, const QString& fileName) {
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
        return folder + fileName;
    return folder + QDir::separator() + fileName;
}
