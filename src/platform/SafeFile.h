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
// replacement keeps the old file's owner, group and permissions; a new file gets the usual ones
// (the user's, 0666 less the umask).
//
// Only root may give a file to another user, and only a member of a group may give a file to
// it. When another user's file is replaced (a show file shared through its group), the new file
// is still made and renamed over it, since writing the old file in place would lose it to a full
// disk or a crash part of the way; it keeps the group and permissions it can, and warning then
// tells whose it now is ("<path> now belongs to bob:bob (it belonged to alice:show): Operation
// not permitted"), for the caller to show. warning is empty otherwise.
//
// A target that is not a regular file (a FIFO, a device such as /dev/null, "-" for standard
// output) is written straight and never replaced, so no folder write access is needed for it.
// A FIFO or device is opened without waiting: a FIFO nobody reads fails at once ("Nobody is
// reading from it"), and a write that no reader takes for StallLimitMs fails ("Nothing has been
// read from it for 5 seconds") instead of holding the caller for good. A reader that goes away
// part of the way is an error ("Nobody is reading from it any more"), not a SIGPIPE that ends
// the process.
//
// Returns false, with reason set to the system's text, on failure. midway, when given, runs once
// half the bytes are written (a test ends the process there to show what a crash leaves).
bool replace(const QString &path, QByteArrayView bytes, QString *reason, const std::function<void()> &midway = {},
             QString *warning = nullptr);

// How long a write onto a FIFO or device waits for its reader to take anything.
inline constexpr int StallLimitMs = 5000;

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
    // After a commit: what of the old file could not be kept (its owner), or empty.
    const QString &warning() const { return m_warning; }

private:
    void abandon();

    QString m_path;
    QString m_target;    // the file replaced (the one a link names)
    QString m_temporary; // the new file beside it, empty when writing straight
    QString m_warning;
    int m_fd = -1;
    int m_mode = 0;
    unsigned m_owner = 0; // of the file replaced
    unsigned m_group = 0;
    bool m_existed = false;
    bool m_straight = false; // standard output, a device or a FIFO
    bool m_fifo = false;
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
    // (/dev/null, a pipe to another program), which is only written to. A FIFO nobody reads
    // fails to open at once ("Nobody is reading from it"); once open, a write waits for the
    // reader to take it (a pipe goes at its reader's pace), and a reader gone is an error
    // ("Nobody is reading from it any more"), not a SIGPIPE that ends the process.
    bool isRegularFile() const { return m_regular; }
    // False, with the reason, when closing reported an error.
    bool close(QString *reason = nullptr);

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    bool m_regular = true;
    bool m_fifo = false;
};
