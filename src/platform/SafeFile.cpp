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

#if defined(Q_OS_WIN)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
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

// Writes every byte; 0, or the errno of the write that failed (*done then tells how many bytes
// went out before it).
int writeAll(int fd, const char *data, qint64 size, qint64 *done = nullptr)
{
    qint64 written = 0;
    int error = 0;
    while (written < size) {
        const auto n = writeSome(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
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

bool fail(QString *reason, int error)
{
    if (reason)
        *reason = SafeFile::systemReason(error);
    return false;
}

enum class Kind { Missing, Regular, Other, Folder };

Kind kindOf(const QString &path, int *mode)
{
#if defined(Q_OS_WIN)
    struct _stat64 st;
    if (::_wstat64(nativeName(path).c_str(), &st) != 0)
        return Kind::Missing;
    *mode = st.st_mode & (_S_IREAD | _S_IWRITE);
    if (st.st_mode & _S_IFDIR)
        return Kind::Folder;
    return (st.st_mode & _S_IFREG) ? Kind::Regular : Kind::Other;
#else
    struct stat st;
    if (::stat(nativeName(path).constData(), &st) != 0)
        return Kind::Missing;
    *mode = static_cast<int>(st.st_mode & 07777);
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    return S_ISREG(st.st_mode) ? Kind::Regular : Kind::Other;
#endif
}

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
int createBeside(const QString &target, QString *made)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = info.dir().filePath(
            QStringLiteral(".%1.%2.tmp").arg(info.fileName()).arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16, QLatin1Char('0')));
        const int fd = openNative(nativeName(name), CreateNew);
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

bool replace(const QString &path, QByteArrayView bytes, QString *reason, const std::function<void()> &midway)
{
    Replacement file(path);
    if (!file.open(reason))
        return false;
    const qint64 half = bytes.size() / 2;
    if (!file.write(bytes.first(half), reason))
        return false;
    if (midway)
        midway();
    return file.write(bytes.sliced(half), reason) && file.commit(reason);
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

    const Kind kind = kindOf(m_target, &m_mode);
    if (kind == Kind::Folder)
        return fail(reason, EISDIR);
    if (kind == Kind::Other) {
        // A device or FIFO is written as it is.
        m_fd = openNative(nativeName(m_target), WriteOnly);
        if (m_fd < 0)
            return fail(reason, errno);
        m_straight = true;
        return true;
    }
    m_existed = kind == Kind::Regular;
    m_fd = createBeside(m_target, &m_temporary);
    if (m_fd < 0)
        return fail(reason, errno);
    return true;
}

bool Replacement::write(QByteArrayView bytes, QString *reason)
{
    if (m_fd < 0)
        return fail(reason, EBADF);
    if (const int error = writeAll(m_fd, bytes.data(), bytes.size())) {
        abandon();
        return fail(reason, error);
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
#if !defined(Q_OS_WIN)
    // The replacement keeps the permissions of the file it replaces.
    if (m_existed && ::fchmod(m_fd, static_cast<mode_t>(m_mode)) != 0)
        return failed(errno);
#endif
    if (syncFile(m_fd) != 0)
        return failed(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (closeFile(fd) != 0)
        return failed(errno);
    if (!renameOver(m_temporary, m_target, reason)) {
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
    m_fd = openNative(name, AppendFlags);
    if (m_fd < 0)
        return fail(reason, errno);
    int mode = 0;
    m_regular = kindOf(m_path, &mode) == Kind::Regular;
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
    const int error = writeAll(m_fd, bytes.data(), bytes.size(), &done);
    if (!error) {
        m_size += bytes.size();
        return true;
    }
    // Part of a record would be read as a damaged one: the file goes back to its last whole one.
    if (done > 0 && m_regular) {
        cutFile(m_fd, m_size);
        seekEnd(m_fd);
    }
    return fail(reason, error);
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
