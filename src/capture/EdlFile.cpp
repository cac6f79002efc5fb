#include "EdlFile.h"

#include "DocumentFiles.h"
#include "EdlText.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace EdlFile {

QString proposedName(const QString &details, const QDateTime &moment)
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    // The last digit of the year, also for the (unlikely) clock set before 2000.
    const int yearDigit = ((date.year() - 2000) % 10 + 10) % 10;
    char stamp[32];
    const int length = std::snprintf(stamp, sizeof stamp, "_%d%.2d%.2d-%.2d%.2d_%.2d", yearDigit, date.month(),
                                     date.day(), time.hour(), time.minute(), time.second());
    return details + QString::fromLatin1(stamp, length);
}

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

QString autoSaveFolder(const QString &edlPath, const QString &documents)
{
    QString folder = documents;
    if (!edlPath.isEmpty() && QDir::isAbsolutePath(edlPath) && QFileInfo(edlPath).isDir())
        folder = edlPath;
    else
        QDir().mkpath(documents); // a failure shows when the file is written
    folder = QDir::toNativeSeparators(QDir::cleanPath(folder));
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString autoSavePath(const QString &details, const QString &edlPath, const QDateTime &moment,
                     const QString &documents)
{
    // The details are free text; a separator in them must not send the file to another folder.
    QString name = proposedName(details, moment);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return autoSaveFolder(edlPath, documents) + name + Extension;
}

QByteArray encode(const QStringList &lines)
{
    return EdlText::bytesOf(lines);
}

QString perCameraPath(const QString &path, const QString &reel)
{
    QString base = path;
    if (base.endsWith(Extension, Qt::CaseInsensitive))
        base.chop(Extension.size());
    return base + QLatin1Char('_') + reel + Extension;
}

void write(const QString &path, const QStringList &lines)
{
    DocumentFiles::writeWhole(path, encode(lines));
}

void writeText(const QString &path, const QByteArray &text)
{
    DocumentFiles::writeWhole(path, text);
}

} // namespace EdlFile
