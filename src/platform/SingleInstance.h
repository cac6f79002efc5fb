#pragma once

#include <QString>

#include <memory>

class QLockFile;

// A system-wide named lock taken with a zero wait, held until the process ends. A lock left by
// a process that died (crash, kill) counts as free.
class SingleInstance {
public:
    // The lock file lives in the system's temporary folder, named after the lock.
    explicit SingleInstance(const QString &name);
    ~SingleInstance();

    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process now holds the lock (or already held it through this object).
    bool tryAcquire();
    QString lockFilePath() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
};
