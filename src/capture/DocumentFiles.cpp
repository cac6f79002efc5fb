#include "DocumentFiles.h"

#include "ErrorReport.h"
#include "Errors.h"
#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace DocumentFiles {

void writeWhole(const QString &path, QByteArrayView bytes, const ProgressFn &progress, QString *warning)
{
    QString reason;
    QString lost; // what the replaced file could not keep
    bool written;
    if (!progress) {
        written = SafeFile::replace(path, bytes, &reason, {}, &lost);
    } else {
        // In parts, with the progress told between them.
        constexpr qsizetype Part = 8 << 20;
        SafeFile::Replacement file(path);
        written = file.open(&reason);
        for (qsizetype at = 0; written && at < bytes.size(); at += Part) {
            progress(at, bytes.size());
            written = file.write(bytes.sliced(at, std::min(Part, bytes.size() - at)), &reason);
        }
        written = written && file.commit(&reason);
        if (written) {
            lost = file.warning();
            progress(bytes.size(), bytes.size());
        }
    }
    if (!written)
        throw CorvaneError(QStringLiteral("Cannot write file %1: %2").arg(QDir::toNativeSeparators(path), reason));
    if (warning)
        *warning = lost;
    else if (!lost.isEmpty())
        presentError(lost);
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
