#include "DocumentFiles.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace DocumentFiles {

void writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    const auto fail = [&] {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw CorvaneError(QStringLiteral("Cannot write file %1: %2").arg(QDir::toNativeSeparators(path), reason));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail();
    if (file.write(bytes) != bytes.size())
        fail();
    if (!file.commit())
        throw CorvaneError(QStringLiteral("Cannot write file %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CorvaneError(QStringLiteral("Cannot read file %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CorvaneError(QStringLiteral("Cannot read file %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return bytes;
}

QString folderOf(const QString &filePath)
{
    QString folder = QDir::toNativeSeparators(QFileInfo(filePath).absolutePath());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString captionFor(const QString &filePath)
{
    return QFileInfo(filePath).completeBaseName();
}

QString replaceQuestion(const QString &filePath)
{
    return QFileInfo(filePath).fileName() + QStringLiteral(" Exists Replace ?");
}

QString withExtension(const QString &path, const QString &extension)
{
    return path.endsWith(extension, Qt::CaseInsensitive) ? path : path + extension;
}

} // namespace DocumentFiles
