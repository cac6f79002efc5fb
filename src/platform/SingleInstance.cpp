#include "SingleInstance.h"

#include <QDir>
#include <QLockFile>

SingleInstance::SingleInstance(const QString &name) : m_path(lockFilePathFor(name))
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Only a dead owner makes the lock stale, never its age: a show runs for hours.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockFilePathFor(const QString &name)
{
    return QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock"));
}

bool SingleInstance::tryAcquire()
{
    if (m_lock->isLocked())
        return true;
    if (m_lock->tryLock(0))
        return true;
    // QLockFile takes a file it cannot read (empty or damaged by a power cut) for a live lock.
    // Removing a stale lock file only succeeds when no live process holds it: on Unix the owner
    // keeps a lock on the file itself, which the removal must take first; on Windows the owner
    // keeps the file open, and an open file cannot be removed.
    if (m_lock->error() == QLockFile::LockFailedError && m_lock->removeStaleLockFile())
        return m_lock->tryLock(0);
    return false;
}

QString SingleInstance::lockFilePath() const
{
    return m_path;
}

qint64 SingleInstance::ownerProcessId() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    return m_lock->getLockInfo(&pid, &host, &application) ? pid : 0;
}
