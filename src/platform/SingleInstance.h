#pragma once

#include <QString>

#include <memory>

class QLockFile;

// A per-user named lock taken with a zero wait, held until the process ends. A lock left by
// a process that died (crash, kill, power cut) counts as free, whatever its file holds: empty,
// zero-filled, garbage, or the number of a process that is gone.
class SingleInstance {
public:
    explicit SingleInstance(const QString &name);
    ~SingleInstance();

    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Where the lock file of a lock of this name is kept: the user's runtime folder, so that
    // users never hold each other's locks.
    static QString lockFilePathFor(const QString &name);
    // $XDG_RUNTIME_DIR, else a folder of the user's own in the temporary folder ("corvane-UID").
    static QString runtimeFolder();

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
