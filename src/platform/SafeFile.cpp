#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(Q_OS_WIN)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The few file calls needed, on the C runtime's descriptors of each platform.
#if defined(Q_OS_WIN)
using NativeName = std::wstring;
NativeName nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
int openNative(const NativeName &name, int flags, int mode = _S_IREAD | _S_IWRITE)
{
    return ::_wopen(name.c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}
constexpr int WriteOnly = _O_WRONLY;
constexpr int CreateNew = _O_WRONLY | _O_CREAT | _O_EXCL;
constexpr int AppendFlags = _O_WRONLY | _O_CREAT | _O_APPEND;
constexpr int NoWait = 0;
constexpr int OwnerOnly = _S_IREAD | _S_IWRITE;
constexpr int Usual = _S_IREAD | _S_IWRITE;
int writeSome(int fd, const char *data, qint64 size)
{
    return ::_write(fd, data, static_cast<unsigned>(std::min<qint64>(size, 1 << 30)));
}
int syncFile(int fd)
{
    return ::_commit(fd);
}
int closeFile(int fd)
{
    return ::_close(fd);
}
int removeFile(const NativeName &name)
{
    return ::_wunlink(name.c_str());
}
int cutFile(int fd, qint64 size)
{
    return ::_chsize_s(fd, size) == 0 ? 0 : -1;
}
qint64 seekEnd(int fd)
{
    return ::_lseeki64(fd, 0, SEEK_END);
}
#else
using NativeName = QByteArray;
NativeName nativeName(const QString &path)
{
    return QFile::encodeName(path);
}
int openNative(const NativeName &name, int flags, int mode = 0666)
{
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
constexpr int WriteOnly = O_WRONLY;
constexpr int CreateNew = O_WRONLY | O_CREAT | O_EXCL;
constexpr int AppendFlags = O_WRONLY | O_CREAT | O_APPEND;
// A FIFO nobody reads fails to open at once (ENXIO) instead of waiting for a reader, and a full
// one makes a write fail with EAGAIN instead of waiting for good.
constexpr int NoWait = O_NONBLOCK;
constexpr int OwnerOnly = 0600;
constexpr int Usual = 0666;
ssize_t writeSome(int fd, const char *data, qint64 size)
{
    return ::write(fd, data, static_cast<size_t>(size));
}
int syncFile(int fd)
{
    return ::fsync(fd);
}
int closeFile(int fd)
{
    return ::close(fd);
}
int removeFile(const NativeName &name)
{
    return ::unlink(name.constData());
}
int cutFile(int fd, qint64 size)
{
    int result;
    do {
        result = ::ftruncate(fd, static_cast<off_t>(size));
    } while (result < 0 && errno == EINTR);
    return result;
}
qint64 seekEnd(int fd)
{
    return ::lseek(fd, 0, SEEK_END);
}
#endif

// Not an errno: a FIFO or device whose reader took nothing for SafeFile::StallLimitMs.
constexpr int Stalled = -1;

// Waits until fd (opened with NoWait) takes bytes again; 0, Stalled or the errno of the wait.
int waitForRoom(int fd)
{
#if defined(Q_OS_WIN)
    (void)fd;
    return Stalled;
#else
    pollfd want{fd, POLLOUT, 0};
    while (true) {
        const int ready = ::poll(&want, 1, SafeFile::StallLimitMs);
        if (ready > 0)
            return 0; // room, or an error the next write tells
        if (ready == 0)
            return Stalled;
        if (errno != EINTR)
            return errno;
    }
#endif
}

// Writes every byte; 0, Stalled or the errno of the write that failed (*done then tells how many
// bytes went out before it). A descriptor opened with NoWait is waited for, StallLimitMs at most
// each time nothing is taken.
int writeAll(int fd, const char *data, qint64 size, qint64 *done = nullptr)
{
    qint64 written = 0;
    int error = 0;
    while (written < size) {
        const auto n = writeSome(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                error = waitForRoom(fd);
                if (error)
                    break;
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            // A write that takes nothing and says nothing: the medium is full.
            error = ENOSPC;
            break;
        }
        written += n;
    }
    if (done)
        *done = written;
    return error;
}

// While it lives, a write to a pipe whose reader has gone fails with EPIPE instead of raising
// SIGPIPE, whose default ends the process: the signal is held back for this thread, and the one
// such a write raises is taken away before it is let through again.
class PipeSignalHeld {
public:
#if defined(Q_OS_WIN)
    PipeSignalHeld() {} // no SIGPIPE here
#else
    PipeSignalHeld()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_before);
        sigset_t pending;
        sigpending(&pending);
        m_pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalHeld()
    {
        const int error = errno;
        sigset_t pending;
        sigpending(&pending);
        if (!m_pendingBefore && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            while (sigtimedwait(&m_pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
        errno = error;
    }

private:
    sigset_t m_pipe;
    sigset_t m_before;
    bool m_pendingBefore = false;
#endif
    PipeSignalHeld(const PipeSignalHeld &) = delete;
    PipeSignalHeld &operator=(const PipeSignalHeld &) = delete;
};

// The reason for a failed write or open; a FIFO's reader is named in it.
QString reasonFor(int error, bool fifo)
{
    if (error == Stalled)
        return QStringLiteral("Nothing has been read from it for %1 seconds").arg(SafeFile::StallLimitMs / 1000);
    if (fifo && error == ENXIO)
        return QStringLiteral("Nobody is reading from it");
    if (error == EPIPE)
        return QStringLiteral("Nobody is reading from it any more");
    return SafeFile::systemReason(error);
}

bool fail(QString *reason, int error, bool fifo = false)
{
    if (reason)
        *reason = reasonFor(error, fifo);
    return false;
}

enum class Kind { Missing, Regular, Fifo, Other, Folder };

// What a file is, and whose.
struct Status {
    Kind kind = Kind::Missing;
    int mode = 0; // permission bits
    unsigned owner = 0;
    unsigned group = 0;
};

Status statusOf(const QString &path)
{
    Status status;
#if defined(Q_OS_WIN)
    struct _stat64 st;
    if (::_wstat64(nativeName(path).c_str(), &st) != 0)
        return status;
    status.mode = st.st_mode & (_S_IREAD | _S_IWRITE);
    status.kind = (st.st_mode & _S_IFDIR) ? Kind::Folder : (st.st_mode & _S_IFREG) ? Kind::Regular : Kind::Other;
#else
    struct stat st;
    if (::stat(nativeName(path).constData(), &st) != 0)
        return status;
    status.mode = static_cast<int>(st.st_mode & 07777);
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.kind = S_ISDIR(st.st_mode)   ? Kind::Folder
                  : S_ISREG(st.st_mode) ? Kind::Regular
                  : S_ISFIFO(st.st_mode) ? Kind::Fifo
                                        : Kind::Other;
#endif
    return status;
}

#if !defined(Q_OS_WIN)
// "user:group" by name, or by number for an id without one.
QString ownerText(uid_t uid, gid_t gid)
{
    QString user = QString::number(uid);
    QString team = QString::number(gid);
    std::vector<char> buffer(16384);
    passwd pw;
    passwd *foundUser = nullptr;
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &foundUser) == 0 && foundUser)
        user = QString::fromLocal8Bit(foundUser->pw_name);
    struct group gr;
    struct group *foundGroup = nullptr;
    if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &foundGroup) == 0 && foundGroup)
        team = QString::fromLocal8Bit(foundGroup->gr_name);
    return user + QLatin1Char(':') + team;
}

// Gives the new file fd the owner, group and permissions of the file it replaces, those it may.
// 0, with warning set when the owner or group could not be kept; else the errno of the failure.
int keepOwnerAndMode(int fd, uid_t owner, gid_t group, mode_t mode, const QString &target, QString *warning)
{
    struct stat made;
    if (::fstat(fd, &made) != 0)
        return errno;
    if (made.st_uid != owner || made.st_gid != group) {
        if (::fchown(fd, owner, group) != 0) {
            const int error = errno;
            // The group alone may still be kept (a member of it may give it a file of their own).
            if (made.st_gid != group && ::fchown(fd, static_cast<uid_t>(-1), group) == 0)
                made.st_gid = group;
            *warning = QStringLiteral("%1 now belongs to %2 (it belonged to %3): %4")
                           .arg(QDir::toNativeSeparators(target), ownerText(made.st_uid, made.st_gid),
                                ownerText(owner, group), SafeFile::systemReason(error));
            // Set-user and set-group ids are not handed to whoever the file now belongs to.
            mode &= ~mode_t(S_ISUID | S_ISGID);
        }
    }
    // (After the owner: a change of owner clears the set-user id.)
    if (::fchmod(fd, mode) != 0)
        return errno;
    return 0;
}
#endif

// Syncs a folder, so that a rename in it survives a power cut. Failures are not reported: the
// file is in place by then, and some file systems cannot sync a folder at all.
void syncFolder(const QString &folder)
{
#if defined(Q_OS_WIN)
    (void)folder; // NTFS keeps its metadata journaled; there is no folder sync
#else
    const int fd = openNative(nativeName(folder), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

bool renameOver(const QString &from, const QString &to, QString *reason)
{
#if defined(Q_OS_WIN)
    if (!::MoveFileExW(nativeName(from).c_str(), nativeName(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (reason)
            *reason = qt_error_string(static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
#else
    if (::rename(nativeName(from).constData(), nativeName(to).constData()) != 0)
        return fail(reason, errno);
    return true;
#endif
}

// A new file beside target that nobody else uses, opened for writing; -1 (errno set) when none
// could be made.
int createBeside(const QString &target, QString *made, int mode)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = info.dir().filePath(
            QStringLiteral(".%1.%2.tmp").arg(info.fileName()).arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16, QLatin1Char('0')));
        const int fd = openNative(nativeName(name), CreateNew, mode);
        if (fd >= 0) {
            *made = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

namespace SafeFile {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void failOversizeWrites()
{
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool replace(const QString &path, QByteArrayView bytes, QString *reason, const std::function<void()> &midway,
             QString *warning)
{
    Replacement file(path);
    if (!file.open(reason))
        return false;
    const qint64 half = bytes.size() / 2;
    if (!file.write(bytes.first(half), reason))
        return false;
    if (midway)
        midway();
    if (!file.write(bytes.sliced(half), reason) || !file.commit(reason))
        return false;
    if (warning)
        *warning = file.warning();
    return true;
}

Replacement::Replacement(QString path) : m_path(std::move(path)) {}

Replacement::~Replacement()
{
    abandon();
}

void Replacement::abandon()
{
    if (m_fd >= 0 && !m_stdout)
        closeFile(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        removeFile(nativeName(m_temporary));
    m_temporary.clear();
}

bool Replacement::open(QString *reason)
{
    abandon();
    if (isStandardOutput(m_path)) {
        // Whatever the program printed with stdio goes first.
        if (std::fflush(stdout) != 0)
            return fail(reason, errno);
#if defined(Q_OS_WIN)
        // The files' CR LF must reach the file as they are, not as CR CR LF.
        ::_setmode(::_fileno(stdout), _O_BINARY);
        m_fd = ::_fileno(stdout);
#else
        m_fd = STDOUT_FILENO;
#endif
        m_straight = m_stdout = true;
        return true;
    }

    // A link stays a link: the file it names is the one replaced.
    m_target = m_path;
    const QFileInfo info(m_path);
    if (info.isSymLink())
        m_target = info.symLinkTarget();

    const Status status = statusOf(m_target);
    if (status.kind == Kind::Folder)
        return fail(reason, EISDIR);
    m_fifo = status.kind == Kind::Fifo;
    if (status.kind == Kind::Other || m_fifo) {
        // A device or FIFO is written as it is.
        m_fd = openNative(nativeName(m_target), WriteOnly | NoWait);
        if (m_fd < 0)
            return fail(reason, errno, m_fifo);
        m_straight = true;
        return true;
    }
    m_existed = status.kind == Kind::Regular;
    m_mode = status.mode;
    m_owner = status.owner;
    m_group = status.group;
    // Until it has the old file's owner and permissions, only its maker may read the new file.
    m_fd = createBeside(m_target, &m_temporary, m_existed ? OwnerOnly : Usual);
    if (m_fd < 0)
        return fail(reason, errno);
    return true;
}

bool Replacement::write(QByteArrayView bytes, QString *reason)
{
    if (m_fd < 0)
        return fail(reason, EBADF);
    int error;
    if (m_straight && !m_stdout) {
        const PipeSignalHeld held;
        error = writeAll(m_fd, bytes.data(), bytes.size());
    } else {
        error = writeAll(m_fd, bytes.data(), bytes.size());
    }
    if (error) {
        abandon();
        return fail(reason, error, m_fifo);
    }
    return true;
}

bool Replacement::commit(QString *reason)
{
    if (m_fd < 0)
        return fail(reason, EBADF);
    if (m_straight) {
        const int fd = m_fd;
        m_fd = -1;
        if (m_stdout)
            return true;
        if (closeFile(fd) != 0)
            return fail(reason, errno);
        return true;
    }
    const auto failed = [&](int error) {
        abandon();
        return fail(reason, error);
    };
    m_warning.clear();
#if !defined(Q_OS_WIN)
    // The replacement keeps the owner, group and permissions of the file it replaces.
    if (m_existed) {
        if (const int error = keepOwnerAndMode(m_fd, static_cast<uid_t>(m_owner), static_cast<gid_t>(m_group),
                                               static_cast<mode_t>(m_mode), m_target, &m_warning))
            return failed(error);
    }
#endif
    if (syncFile(m_fd) != 0)
        return failed(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (closeFile(fd) != 0)
        return failed(errno);
    if (!renameOver(m_temporary, m_target, reason)) {
        m_warning.clear();
        abandon();
        return false;
    }
    m_temporary.clear();
#if defined(Q_OS_WIN)
    if (m_existed)
        ::_wchmod(nativeName(m_target).c_str(), m_mode);
#endif
    syncFolder(QFileInfo(m_target).absolutePath());
    return true;
}

} // namespace SafeFile

AppendFile::AppendFile(QString path) : m_path(std::move(path)) {}

AppendFile::~AppendFile()
{
    close();
}

bool AppendFile::open(Start start, QString *reason)
{
    close();
    const NativeName name = nativeName(m_path);
    const Kind kind = statusOf(m_path).kind;
    m_fifo = kind == Kind::Fifo;
    m_fd = openNative(name, AppendFlags | NoWait);
    if (m_fd < 0)
        return fail(reason, errno, m_fifo);
#if !defined(Q_OS_WIN)
    // Open, a FIFO is written at its reader's pace.
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close();
        return fail(reason, error);
    }
#endif
    m_regular = statusOf(m_path).kind == Kind::Regular;
    if (!m_regular) {
        // A device or FIFO has no end to seek to and nothing to cut: it is only written to.
        m_size = 0;
        return true;
    }
    if (start == Start::Empty && cutFile(m_fd, 0) != 0) {
        const int error = errno;
        close();
        return fail(reason, error);
    }
    // Every write goes to the end, where the file's size says it is.
    const qint64 end = seekEnd(m_fd);
    if (end < 0) {
        const int error = errno;
        close();
        return fail(reason, error);
    }
    m_size = end;
    return true;
}

bool AppendFile::append(QByteArrayView bytes, QString *reason)
{
    if (m_fd < 0)
        return fail(reason, EBADF);
    qint64 done = 0;
    int error;
    if (m_regular) {
        error = writeAll(m_fd, bytes.data(), bytes.size(), &done);
    } else {
        const PipeSignalHeld held;
        error = writeAll(m_fd, bytes.data(), bytes.size(), &done);
    }
    if (!error) {
        m_size += bytes.size();
        return true;
    }
    // Part of a record would be read as a damaged one: the file goes back to its last whole one.
    if (done > 0 && m_regular) {
        cutFile(m_fd, m_size);
        seekEnd(m_fd);
    }
    return fail(reason, error, m_fifo);
}

bool AppendFile::truncate(qint64 size, QString *reason)
{
    if (m_fd < 0)
        return fail(reason, EBADF);
    if (cutFile(m_fd, size) != 0)
        return fail(reason, errno);
    const qint64 end = seekEnd(m_fd);
    if (end < 0)
        return fail(reason, errno);
    m_size = end;
    return true;
}

bool AppendFile::close(QString *reason)
{
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    m_size = 0;
    if (closeFile(fd) != 0)
        return fail(reason, errno);
    return true;
}
