#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

#ifndef CORVANE_BIN_TO_DATA
#define CORVANE_BIN_TO_DATA "../share/corvane"
#endif

namespace {
QString folderOverride;
QString nameOverride;

const QString OwnFolder = QStringLiteral("corvane");

// Writable by this user: access() also sees a read-only mount, which the permission bits do not
// show (and root passes every permission check but that one).
bool folderIsWritable(const QString &folder)
{
#if defined(Q_OS_UNIX)
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
#else
    return QFileInfo(folder).isWritable();
#endif
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
// An XDG base folder: the variable when it holds an absolute path, else its default under home.
QString xdgFolder(const char *variable, const QString &underHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir(QDir::homePath()).filePath(underHome);
}
#endif
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

QString AppPaths::baseName()
{
    QString base = executableFileName();
    // Only a real executable extension is dropped: "corvane-1.2" on Linux keeps its dots.
    if (base.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        base.chop(4);
    return base;
}

QString AppPaths::withExecutableSuffix(const QString &suffix)
{
    return besideProgram(baseName() + suffix);
}

bool AppPaths::isPortable()
{
    const QString folder = programFolder();
    return QFileInfo(withExecutableSuffix(QStringLiteral(".def"))).isFile() && folderIsWritable(folder);
}

QString AppPaths::configFolder()
{
    if (isPortable())
        return programFolder();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return QDir(xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config"))).filePath(OwnFolder);
#else
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(OwnFolder);
#endif
}

QString AppPaths::stateFolder()
{
    if (isPortable())
        return programFolder();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return QDir(xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state"))).filePath(OwnFolder);
#else
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(OwnFolder);
#endif
}

QString AppPaths::dataFolder()
{
    return QDir::cleanPath(QDir(programFolder()).filePath(QStringLiteral(CORVANE_BIN_TO_DATA)));
}

QString AppPaths::shippedFile(const QString &fileName)
{
    if (isPortable())
        return besideProgram(fileName);
    const QString installed = QDir(dataFolder()).filePath(fileName);
    const QString beside = besideProgram(fileName);
    return !QFileInfo::exists(installed) && QFileInfo::exists(beside) ? beside : installed;
}

QString AppPaths::userFilesFolder()
{
    return isPortable() ? programFolder() : QDir::homePath();
}

bool AppPaths::makeUserFolders(QString *reason)
{
    if (isPortable())
        return true;
    for (const QString &folder : {configFolder(), stateFolder()}) {
        if (!QDir().mkpath(folder)) {
            if (reason)
                *reason = QStringLiteral("Cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
            return false;
        }
    }
    return true;
}

QString AppPaths::settingsFilePath()
{
    return QDir(configFolder()).filePath(baseName() + QStringLiteral(".ini"));
}

QString AppPaths::defaultSettingsFilePath()
{
    return shippedFile(baseName() + QStringLiteral(".def"));
}

QString AppPaths::midiIoFilePath()
{
    return QDir(configFolder()).filePath(QStringLiteral("midiio.ini"));
}

QString AppPaths::journalFilePath()
{
    return QDir(stateFolder()).filePath(baseName() + QStringLiteral(".journal"));
}

void AppPaths::setProgramFolder(const QString &folder)
{
    folderOverride = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

void AppPaths::setExecutableFileName(const QString &fileName)
{
    nameOverride = fileName;
}
