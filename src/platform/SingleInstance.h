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

    // A lock on the use of one file, whoever's runtime folder a process has: its lock file is
    // the file's path with ".lock" added, beside it.
    static std::unique_ptr<SingleInstance> guarding(const QString &file);

    // Where the lock file of a lock of this name is kept: the user's runtime folder, so that
    // users never hold each other's locks.
    static QString lockFilePathFor(const QString &name);
    // $XDG_RUNTIME_DIR when it is a folder this process can write to, else privateFolder().
    static QString runtimeFolder();
    // A folder of the user's own in the temporary folder ("corvane-UID"), when it is a real
    // folder that the user owns and no one else may enter; else the temporary folder.
    static QString privateFolder();

    // True when this process now holds the lock (or already held it through this object). A
    // named lock whose runtime folder cannot take its file (read-only, full) moves to
    // privateFolder() and is taken there.
    bool tryAcquire();
    // After tryAcquire failed: true when another live process holds the lock; false when the
    // lock file could not be made at all (problem() says why).
    bool heldByAnother() const;
    QString problem() const;
    QString lockFilePath() const;
    // The process that holds the lock, as its lock file says (after tryAcquire failed); 0 when the
    // file does not tell.
    qint64 ownerProcessId() const;

private:
    struct LockPath {
        QString path;
    };
    explicit SingleInstance(const LockPath &lockFile);
    void useLockFile(const QString &path);

    std::unique_ptr<QLockFile> m_lock;
    QString m_path;
    QString m_name; // of a named lock, empty for a file's

};
