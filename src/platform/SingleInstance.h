#pragma once

#include <QString>

#include <memory>

class QLockFile;

// A system-wide named lock taken with a zero wait, held until the process ends. A lock left by
// a process that died (crash, kill, power cut) counts as free, whatever its file holds: empty,
// zero-filled, garbage, or the number of a process that is gone.
class SingleInstance {
public:
    explicit SingleInstance(const QString &name);
    ~SingleInstance();

    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Where the lock file of a lock of this name is kept: the system's temporary folder.
    static QString lockFilePathFor(const QString &name);

    // True when this process now holds the lock (or already held it through this object).
    bool tryAcquire();
    QString lockFilePath() const;
    // The process that holds the lock, as its lock file says (after tryAcquire failed); 0 when the
    // file does not tell.
    qint64 ownerProcessId() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
};
