#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// A copy of a built program in a folder of the test's own, with the default settings file
// beside it as the program expects: tests that start the program as a process run the copy, so
// its settings file, journal and lock stay in that folder.
namespace ProgramCopy {

// Copies the executable built (keeping its permissions) to folder under the name given, or its
// own name when none is, and the default settings file defaults to "corvane.def" beside it.
// The copy's path, or an empty string when a copy failed.
inline QString make(const QString &built, const QString &defaults, const QString &folder, const QString &name = {})
{
    const QDir dir(folder);
    const QString exe = dir.filePath(name.isEmpty() ? QFileInfo(built).fileName() : name);
    if (!QFile::copy(built, exe) || !QFile::setPermissions(exe, QFile::permissions(built))
        || !QFile::copy(defaults, dir.filePath(QStringLiteral("corvane.def"))))
        return QString();
    return exe;
}

// The same, with the default settings file that the build puts beside the program.
inline QString make(const QString &built, const QString &folder)
{
    return make(built, QFileInfo(built).dir().filePath(QStringLiteral("corvane.def")), folder);
}

// Makes folder (a private one: QTemporaryDir makes it 0700) the temporary and runtime folder,
// $TMPDIR and $XDG_RUNTIME_DIR, of this process and so of the programs it starts. The program's
// single-instance lock lives there: neither a Corvane that the user runs nor another test's
// copies hold it, and the copies started here hold no lock of the machine's. False when the
// folder did not become the temporary folder.
inline bool usePrivateRuntime(const QString &folder)
{
    return qputenv("TMPDIR", QFile::encodeName(folder)) && qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder))
        && QDir(QDir::tempPath()).canonicalPath() == QDir(folder).canonicalPath();
}

} // namespace ProgramCopy
