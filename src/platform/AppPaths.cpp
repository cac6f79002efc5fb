#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString folderOverride;
QString nameOverride;
} // namespace

QString AppPaths::programFolder()
{
    if (!folderOverride.isEmpty())
        return folderOverride;
    if (QCoreApplication::instance())
        return QDir::cleanPath(QCoreApplication::applicationDirPath());
    return QDir::currentPath();
}

QString AppPaths::programFolderWithSeparator()
{
    QString folder = QDir::toNativeSeparators(programFolder());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString AppPaths::executableFileName()
{
    if (!nameOverride.isEmpty())
        return nameOverride;
    if (QCoreApplication::instance())
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QStringLiteral("corvane");
}

QString AppPaths::besideProgram(const QString &fileName)
{
    return QDir(programFolder()).filePath(fileName);
}

QString AppPaths::withExecutableSuffix(const QString &suffix)
{
    QString base = executableFileName();
    // Only a real executable extension is replaced: "corvane-1.2" on Linux keeps its dots.
    if (base.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        base.chop(4);
    return besideProgram(base + suffix);
}

void AppPaths::setProgramFolder(const QString &folder)
{
    folderOverride = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

void AppPaths::setExecutableFileName(const QString &fileName)
{
    nameOverride = fileName;
}
