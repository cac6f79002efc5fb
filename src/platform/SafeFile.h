#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

// The one way the programs write files (settings, midiio.ini, desktop exports, .edl, .gpo, the
// capture journal, the capture file of corvane-cli capture): every byte goes out with a checked
// write, so a full disk or a file-size limit is told with the system's own reason ("No space left
// on device", "File too large") instead of being lost in a buffer whose flush nobody looked at.
namespace SafeFile {

// "-" names standard output.
inline bool isStandardOutput(const QString &path)
{
    return path == QLatin1String("-");
}

// The system's text for an error number (errno).
QString systemReason(int error);

// Makes bytes the whole content of path, or leaves everything as it was.
//
// A regular file (or a new one) is replaced in one step: the bytes go to a new file in the same
// folder, written with checked writes and synced to the disk, which is then renamed over the
// target, and the folder is synced. On any failure the new file is removed and the old one is
// untouched. A symbolic link keeps pointing where it did: the file it names is replaced. The
// replacement keeps the old file's permissions; a new file gets the usual ones (0666 less the
// umask).
//
// A target that is not a regular file (a FIFO, a device such as /dev/null, "-" for standard
// output) is written straight and never replaced, so no folder write access is needed for it.
//
// Returns false, with reason set to the system's text, on failure. midway, when given, runs once
// half the bytes are written (a test ends the process there to show what a crash leaves).
bool replace(const QString &path, QByteArrayView bytes, QString *reason, const std::function<void()> &midway = {});

// replace for content made and handed over in parts (a large EDL streamed as it is made), with the
// same guarantees: nothing reaches the target before commit() succeeds, and a writer dropped
// without commit() leaves the old file as it was. Each call returns false, with the system's
// reason, on failure; after a failure only the destructor is of use.
class Replacement {
public:
    explicit Replacement(QString path);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    bool open(QString *reason);
    bool write(QByteArrayView bytes, QString *reason);
    bool commit(QString *reason);

private:
    void abandon();

    QString m_path;
    QString m_target;    // the file replaced (the one a link names)
    QString m_temporary; // the new file beside it, empty when writing straight
    int m_fd = -1;
    int m_mode = 0;
    bool m_existed = false;
    bool m_straight = false; // standard output, a device or a FIFO
    bool m_stdout = false;
};

// A write that would take a file past the process's file-size limit (RLIMIT_FSIZE) fails with
// "File too large" instead of ending the process with SIGXFSZ. The programs call it at start.
void failOversizeWrites();

} // namespace SafeFile

// A file that grows by whole records: the capture journal and the capture file of corvane-cli
// capture. Each append is one record (or a batch of whole records); it is written with checked
// writes, and when a write fails part of the way the file is cut back to where it was, so the file
// never ends in part of a record. Not thread-safe; the descriptor may be synced from another
// thread (DeferredDiskSync).
class AppendFile {
public:
    enum class Start {
        Continue, // keep what the file holds (created when missing)
        Empty,    // start empty
    };

    explicit AppendFile(QString path);
    ~AppendFile();

    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    const QString &path() const { return m_path; }

    bool open(Start start, QString *reason);
    bool isOpen() const { return m_fd >= 0; }
    // Appends the bytes; false, with the system's reason, when they could not all be written (the
    // file then holds exactly what it held before).
    bool append(QByteArrayView bytes, QString *reason);
    // Cuts the file back to its first size bytes.
    bool truncate(qint64 size, QString *reason);
    // Bytes in the file.
    qint64 size() const { return m_size; }
    // The descriptor, for syncing; -1 while closed.
    int handle() const { return m_fd; }
    // A file on a disk, which has a size, can be cut back and synced; not a device or a FIFO
    // (/dev/null, a pipe to another program), which is only written to.
    bool isRegularFile() const { return m_regular; }
    // False, with the reason, when closing reported an error.
    bool close(QString *reason = nullptr);

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    bool m_regular = true;
};
