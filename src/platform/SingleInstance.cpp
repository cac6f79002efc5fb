#include "SingleInstance.h"

#include <QDir>
#include <QLockFile>

SingleInstance::SingleInstance(const QString &name)
    : m_path(QDir(QDir::tempPath()).filePath(name + QStringLiteral(".lock")))
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Only a dead owner makes the lock stale, never its age: a show runs for hours.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryAcquire()
{
    if (m_lock->isLocked())
        return true;
    return m_lock->tryLock(0);
}

QString SingleInstance::lockFilePath() const
{
    return m_path;
}
