#include "media/TextFile.h"

#include "media/TavoriaError.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString ErrorText(const std::exception& e) {
    if (auto* t = dynamic_cast<const TavoriaError*>(&e))
        return t->message();
    return QString::fromUtf8(e.what());
}

void WriteFileAtomically(const QByteArray& bytes, const QString& path) {
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
    if (!file.commit())
        throw TavoriaError(QStringLiteral("No se pudo escribir \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
}

void WriteTextFile(const QString& text, const QString& path) {
    WriteFileAtomically(text.toUtf8(), path);
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
