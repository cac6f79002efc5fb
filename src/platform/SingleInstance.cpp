#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

SingleInstance::SingleInstance(const QString &name) : SingleInstance(LockPath{lockFilePathFor(name)})
{
    m_name = name;
}

SingleInstance::SingleInstance(const LockPath &lockFile)
{
    useLockFile(lockFile.path);
}

SingleInstance::~SingleInstance() = default;

std::unique_ptr<SingleInstance> SingleInstance::guarding(const QString &file)
{
    return std::unique_ptr<SingleInstance>(new SingleInstance(LockPath{file + QStringLiteral(".lock")}));
}

void SingleInstance::useLockFile(const QString &path)
{
    m_path = path;
    m_lock = std::make_unique<QLockFile>(m_path);
    // Only a dead owner makes the lock stale, never its age: a show runs for hours.
    m_lock->setStaleLockTime(0);
}

QString SingleInstance::lockFilePathFor(const QString &name)
{
    return QDir(runtimeFolder()).filePath(name + QStringLiteral(".lock"));
}

QString SingleInstance::runtimeFolder()
{
#if defined(Q_OS_UNIX)
    // The session's own folder, private to the user and emptied at log-out; not one this process
    // cannot write to (a runtime folder handed down from another user, a read-only one).
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!session.isEmpty() && QDir::isAbsolutePath(session) && QFileInfo(session).isDir()
        && ::access(QFile::encodeName(session).constData(), W_OK | X_OK) == 0)
        return QDir::cleanPath(session);
#endif
    return privateFolder();
}

QString SingleInstance::privateFolder()
{
#if defined(Q_OS_UNIX)
    // Without a session folder (su, a container, cron): a folder of the user's own in the
    // temporary folder, taken only when it is a real folder that the user owns and no one else
    // may enter, so that nobody can place or hold the lock for another user.
    const uid_t user = ::geteuid();
    const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("corvane-%1").arg(user));
    const QByteArray path = QFile::encodeName(own);
    ::mkdir(path.constData(), S_IRWXU);
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user
        && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return own;
#endif
    return QDir::tempPath();
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
    // A runtime folder that cannot take the file is no reason to refuse: the user's private
    // folder can.
    if (m_lock->error() != QLockFile::LockFailedError && !m_name.isEmpty()) {
        const QString fallback = QDir(privateFolder()).filePath(m_name + QStringLiteral(".lock"));
        if (fallback != m_path) {
            useLockFile(fallback);
            return tryAcquire();
        }
    }
    return false;
}

bool SingleInstance::heldByAnother() const
{
    return !m_lock->isLocked() && m_lock->error() == QLockFile::LockFailedError;
}

QString SingleInstance::problem() const
{
    switch (m_lock->error()) {
    case QLockFile::NoError:
        return QString();
    case QLockFile::LockFailedError:
        return QStringLiteral("it is held by another process");
    case QLockFile::PermissionError:
        return QStringLiteral("its folder cannot be written to");
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("it cannot be written");
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
