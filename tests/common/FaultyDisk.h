#pragma once

// Writes that really fail: a full file system (a small tmpfs filled to its last page) and a file
// that may not grow (the process's RLIMIT_FSIZE). A tmpfs mount needs root (CI runs as root);
// where it is refused, the tests that need it skip, saying why. The file-size limit works
// everywhere on Unix.
//
// A test that dies with its tmpfs mounted (a crash, a kill at its timeout, a failure that skips
// the destructor) must leave no mount on the machine. So a test process that includes this file
// moves into a mount namespace of its own as it starts, before main (while it has a single thread:
// a namespace entered later would be the calling thread's alone), with its mounts kept from
// propagating back: its tmpfs mounts exist for it and its children only, and the kernel drops them
// when the last of them ends. Where that is refused, the mounts are the machine's; then each
// SmallFileSystem first removes what the ones of dead processes left (their folders name them).

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <sched.h>
#include <sys/mount.h>
#endif

namespace FaultyDiskDetail {

// True when this process now has a mount namespace of its own whose mounts do not propagate.
inline bool enterPrivateMountNamespace()
{
#if defined(Q_OS_LINUX)
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
#else
    return false;
#endif
}

// Entered when the program starts (see above).
inline const bool privateMounts = enterPrivateMountNamespace();

// The folders of small file systems are named "corvane-smallfs-PID-XXXXXX" in the temporary folder.
inline QString folderPrefix()
{
    return QStringLiteral("corvane-smallfs-");
}

// Unmounts and removes the folders that small file systems of processes now gone left behind.
inline void removeLeftovers()
{
#if defined(Q_OS_LINUX)
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({folderPrefix() + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden)) {
        bool ok = false;
        const pid_t owner = name.mid(folderPrefix().size()).section(QLatin1Char('-'), 0, 0).toInt(&ok);
        if (!ok || owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        const QByteArray path = QFile::encodeName(temp.filePath(name));
        ::umount2(path.constData(), MNT_DETACH);
        ::rmdir(path.constData()); // only once empty: a folder that is not a mount keeps its files
    }
#endif
}

} // namespace FaultyDiskDetail

// A 64 KiB tmpfs mounted over a temporary folder for the object's lifetime.
class SmallFileSystem {
public:
    SmallFileSystem() : m_dir(folderTemplate())
    {
#if defined(Q_OS_LINUX)
        if (!m_dir.isValid()) {
            m_why = QStringLiteral("no temporary folder");
            return;
        }
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=64k,mode=0777") != 0) {
            m_why = QStringLiteral("mounting a tmpfs was refused (%1); it needs root").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
#else
        m_why = QStringLiteral("tmpfs mounts are a Linux thing");
#endif
    }
    ~SmallFileSystem()
    {
#if defined(Q_OS_LINUX)
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
#endif
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return m_mounted; }
    QString whyNot() const { return m_why; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Fills it to the last byte: from now on every write of a new byte fails with ENOSPC. The
    // number of bytes it took, or -1.
    qint64 fill()
    {
#if defined(Q_OS_LINUX)
        const int fd = ::open(QFile::encodeName(filePath(QStringLiteral("filler"))).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        static const char zeros[4096] = {};
        qint64 total = 0;
        for (const std::size_t chunk : {sizeof zeros, std::size_t(1)}) {
            for (;;) {
                const ssize_t n = ::write(fd, zeros, chunk);
                if (n <= 0)
                    break;
                total += n;
            }
        }
        ::close(fd);
        return total;
#else
        return -1;
#endif
    }

    // Room again.
    void empty() { QFile::remove(filePath(QStringLiteral("filler"))); }

    // Mounted read-only from now on: nothing in it can be written, renamed or removed, not even
    // by root.
    bool makeReadOnly()
    {
#if defined(Q_OS_LINUX)
        return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
#else
        return false;
#endif
    }

private:
    // The template of the folder, once the leftovers of earlier runs are gone.
    static QString folderTemplate()
    {
        FaultyDiskDetail::removeLeftovers();
        return QDir(QDir::tempPath())
            .filePath(FaultyDiskDetail::folderPrefix() + QString::number(QCoreApplication::applicationPid())
                      + QStringLiteral("-XXXXXX"));
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_why;
};

// Skips the test when the small file system could not be mounted.
#define SKIP_UNLESS_MOUNTED(fs)                                                                     \
    do {                                                                                            \
        if (!(fs).isMounted())                                                                      \
            QSKIP(qPrintable(QStringLiteral("no full file system to write to: ") + (fs).whyNot())); \
    } while (false)

// Lowers this process's file-size limit for its lifetime, with SIGXFSZ ignored: a write that
// would take a file past the limit writes what fits and then fails with EFBIG ("File too large").
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes)
    {
#if defined(Q_OS_UNIX)
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousSignal = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_previous;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        ::setrlimit(RLIMIT_FSIZE, &limit);
#else
        (void)bytes;
#endif
    }
    ~FileSizeLimit()
    {
#if defined(Q_OS_UNIX)
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousSignal);
#endif
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    // For a child process (QProcess::setChildProcessModifier): the limit, SIGXFSZ left as the
    // program sets it.
    static void applyToChild(qint64 bytes)
    {
#if defined(Q_OS_UNIX)
        struct rlimit limit;
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        ::setrlimit(RLIMIT_FSIZE, &limit);
#else
        (void)bytes;
#endif
    }

private:
#if defined(Q_OS_UNIX)
    struct rlimit m_previous {};
    void (*m_previousSignal)(int) = SIG_DFL;
#endif
};

// The files of a folder, except the filler of a small file system: what a failed write left.
inline QStringList filesIn(const QString &folder)
{
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    files.removeAll(QStringLiteral("filler"));
    return files;
}
