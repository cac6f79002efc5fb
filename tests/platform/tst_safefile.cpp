// The one file writer: a whole file replaced in one step or left as it was, on a really full file
// system and past the process's file-size limit; devices and FIFOs written straight; files that
// grow by whole records.

#include "FaultyDisk.h"
#include "SafeFile.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <optional>

#include <thread>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

enum class Fault { FullDisk, SizeLimit };

QByteArray content(qsizetype size, char fill)
{
    QByteArray bytes(size, fill);
    for (qsizetype i = 78; i < size; i += 80)
        bytes[i] = '\r', bytes[i + 1 < size ? i + 1 : i] = '\n';
    return bytes;
}

#if defined(Q_OS_UNIX)
// Users and groups every system has: nobody, nogroup, daemon, and the group "users".
constexpr uint Nobody = 65534;
constexpr uint NoGroup = 65534;
constexpr uint Daemon = 1;
constexpr uint Shared = 100;

// The read end of a FIFO, opened before its writer (which does not wait for a reader), then
// made to wait for data.
int openReader(const QString &fifo)
{
    const int end = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (end >= 0)
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) & ~O_NONBLOCK);
    return end;
}

// A write end of the test's own: while it is open, a reader does not see the end of the data
// before the writer under test has even begun.
int holdOpen(const QString &fifo)
{
    return ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
}

// Everything until the writer closes; closes the end.
QByteArray readAll(int end)
{
    QByteArray bytes;
    char chunk[65536];
    for (ssize_t n; (n = ::read(end, chunk, sizeof chunk)) != 0;) {
        if (n > 0)
            bytes.append(chunk, n);
        else if (errno != EINTR)
            break;
    }
    ::close(end);
    return bytes;
}

// "user:group" as the system names them.
QString ownerName(uint user, uint group)
{
    const passwd *pw = ::getpwuid(user);
    const struct group *gr = ::getgrgid(group);
    return (pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(user)) + QLatin1Char(':')
           + (gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(group));
}

struct Replaced {
    bool written = false;
    QString reason;
    QString warning;
};

Replaced replaceHere(const QString &target, const QByteArray &bytes)
{
    Replaced r;
    r.written = SafeFile::replace(target, bytes, &r.reason, {}, &r.warning);
    return r;
}

// The replacement made by another user, a member of the group Shared, in a child process.
Replaced replaceAs(uid_t user, const QString &target, const QByteArray &bytes)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {false, QStringLiteral("no pipe"), {}};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const gid_t groups[] = {Shared};
        if (::setgroups(1, groups) != 0 || ::setgid(NoGroup) != 0 || ::setuid(user) != 0)
            ::_exit(97);
        const Replaced r = replaceHere(target, bytes);
        const QByteArray told = QByteArray(r.written ? "1" : "0") + '\n' + r.reason.toUtf8() + '\n' + r.warning.toUtf8();
        const bool sent = ::write(channel[1], told.constData(), size_t(told.size())) == told.size();
        ::_exit(sent ? 0 : 98);
    }
    ::close(channel[1]);
    const QByteArray told = child > 0 ? readAll(channel[0]) : (::close(channel[0]), QByteArray());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {false, QStringLiteral("the child process failed (status %1)").arg(status), {}};
    const QList<QByteArray> parts = told.split('\n');
    return {parts.value(0) == "1", QString::fromUtf8(parts.value(1)), QString::fromUtf8(parts.value(2))};
}
#endif

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestSafeFile : public QObject {
    Q_OBJECT

private slots:
    // A replacement that cannot be written whole is not made: the old file stays as it was (or
    // no file appears), nothing else is left in the folder, and the system's reason is told.
    void failedReplacementLeavesTheOldFile_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("reason");
        for (const Fault fault : {Fault::FullDisk, Fault::SizeLimit}) {
            const char *how = fault == Fault::FullDisk ? "full disk" : "file-size limit";
            const QString reason = fault == Fault::FullDisk ? QStringLiteral("No space left on device")
                                                            : QStringLiteral("File too large");
            for (const int size : {100, 200 * 1024}) {
                for (const bool existing : {true, false}) {
                    QTest::addRow("%s, %s, %s target", how, size < 1000 ? "small" : "large", existing ? "existing" : "new")
                        << fault << size << existing << reason;
                }
            }
        }
    }

    void failedReplacementLeavesTheOldFile()
    {
        QFETCH(Fault, fault);
        QFETCH(int, size);
        QFETCH(bool, existing);
        QFETCH(QString, reason);
        SmallFileSystem disk;
        QTemporaryDir plain;
        if (fault == Fault::FullDisk)
            SKIP_UNLESS_MOUNTED(disk);
        const QString folder = fault == Fault::FullDisk ? disk.path() : plain.path();
        const QString target = QDir(folder).filePath(QStringLiteral("show.edl"));
        const QByteArray old("old content\r\n");
        if (existing)
            QVERIFY(TestFiles::write(target, old));

        QString why;
        bool written;
        if (fault == Fault::FullDisk) {
            QVERIFY(disk.fill() > 0);
            written = SafeFile::replace(target, content(size, 'n'), &why);
        } else {
            const FileSizeLimit limit(size / 2);
            written = SafeFile::replace(target, content(size, 'n'), &why);
        }
        QVERIFY(!written);
        QCOMPARE(why, reason);
        QCOMPARE(QFileInfo::exists(target), existing);
        if (existing)
            QCOMPARE(TestFiles::read(target), old);
        QCOMPARE(filesIn(folder), existing ? QStringList{"show.edl"} : QStringList());
    }

    // Content handed over in parts (an EDL written as it is made) has the same guarantees: the
    // old file stays until the commit, whether the writer is dropped, a write fails part of the
    // way (the file-size limit) or the commit is reached; no part file is left beside it.
    void streamedReplacement_data()
    {
        QTest::addColumn<QString>("ending"); // dropped, limit, committed
        QTest::newRow("dropped before the commit") << "dropped";
        QTest::newRow("file-size limit part way") << "limit";
        QTest::newRow("committed") << "committed";
    }

    void streamedReplacement()
    {
        QFETCH(QString, ending);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("show.edl"));
        const QByteArray old("old content\r\n");
        QVERIFY(TestFiles::write(target, old));
        const QByteArray part = content(64 * 1024, 'p');
        {
            std::optional<FileSizeLimit> limit;
            if (ending == QLatin1String("limit"))
                limit.emplace(3 * part.size() / 2);
            SafeFile::Replacement file(target);
            QString why;
            QVERIFY(file.open(&why));
            QVERIFY(file.write(part, &why));
            QCOMPARE(TestFiles::read(target), old); // nothing reaches the target before the commit
            const bool second = file.write(part, &why);
            if (ending == QLatin1String("limit")) {
                QVERIFY(!second);
                QCOMPARE(why, SafeFile::systemReason(EFBIG));
                QVERIFY(!file.commit(&why));
            } else {
                QVERIFY(second);
                if (ending == QLatin1String("committed"))
                    QVERIFY2(file.commit(&why), qPrintable(why));
            }
        }
        QCOMPARE(TestFiles::read(target), ending == QLatin1String("committed") ? part + part : old);
        QCOMPARE(filesIn(dir.path()), QStringList{"show.edl"});
    }

    // With room, the replacement is whole, keeps the old file's permissions, and replaces the
    // file a link names rather than the link.
    void replacementIsWhole()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("corvane.ini"));
        const QByteArray bytes = content(100000, 'x');
        QString why;
        QVERIFY2(SafeFile::replace(target, bytes, &why), qPrintable(why));
        QCOMPARE(TestFiles::read(target), bytes);

        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QString link = dir.filePath(QStringLiteral("link.ini"));
        QVERIFY(QFile::link(target, link));
        QVERIFY2(SafeFile::replace(link, "[App]\r\n", &why), qPrintable(why));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(TestFiles::read(target), QByteArray("[App]\r\n"));
        // Owner, group and others (not the bits for the user running the test).
        QCOMPARE(QFile::permissions(target) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QCOMPARE(filesIn(dir.path()), (QStringList{"corvane.ini", "link.ini"}));
    }

    void aFolderIsNotReplaced()
    {
        QTemporaryDir dir;
        QString why;
        QVERIFY(!SafeFile::replace(dir.path(), "x", &why));
        QCOMPARE(why, QStringLiteral("Is a directory"));
        QVERIFY(QFileInfo(dir.path()).isDir());
    }

#if defined(Q_OS_UNIX)
    // A device or a FIFO is written as it is and stays what it was; no folder write access is
    // needed for it.
    void devicesAndFifosAreWrittenStraight_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("FIFO") << true;
        QTest::newRow("character device (null)") << false;
    }

    void devicesAndFifosAreWrittenStraight()
    {
        QFETCH(bool, fifo);
        QTemporaryDir dir;
        const QString node = dir.filePath(QStringLiteral("node"));
        const QByteArray name = QFile::encodeName(node);
        if (fifo)
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        else if (::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("making a device node needs root");
        // Larger than a pipe holds: the writer waits for the reader to take it.
        const QByteArray bytes = content(1 << 20, 'f');
        QByteArray received;
        std::thread reader;
        int held = -1;
        if (fifo) {
            const int end = openReader(node);
            QVERIFY(end >= 0);
            held = holdOpen(node);
            QVERIFY(held >= 0);
            reader = std::thread([&received, end] { received = readAll(end); });
        }
        QString why;
        const bool written = SafeFile::replace(node, bytes, &why);
        if (held >= 0)
            ::close(held);
        if (reader.joinable())
            reader.join();
        QVERIFY2(written, qPrintable(why));
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QVERIFY(fifo ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode));
        if (fifo)
            QCOMPARE(received, bytes);
        QCOMPARE(filesIn(dir.path()), QStringList{"node"});
    }

    // A FIFO whose reader is not there, stops reading or goes away fails the write with a reason
    // that says so, within seconds, and never ends the process (SIGPIPE). Files that grow by
    // records go at their reader's pace, so only a reader not there or gone fails them.
    void fifoWithoutItsReader_data()
    {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QString>("reader"); // none, stops, leaves
        QTest::addColumn<QString>("reason");
        for (const bool append : {false, true}) {
            const char *writer = append ? "records" : "whole file";
            QTest::addRow("%s, nobody reading", writer) << append << "none" << "Nobody is reading from it";
            if (!append) {
                QTest::addRow("%s, reader stops reading", writer)
                    << append << "stops" << "Nothing has been read from it for 5 seconds";
            }
            QTest::addRow("%s, reader goes away part of the way", writer)
                << append << "leaves" << "Nobody is reading from it any more";
        }
    }

    void fifoWithoutItsReader()
    {
        QFETCH(bool, append);
        QFETCH(QString, reader);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString node = dir.filePath(QStringLiteral("show.gpo"));
        QCOMPARE(::mkfifo(QFile::encodeName(node).constData(), 0666), 0);
        const QByteArray bytes = content(1 << 20, 'f');
        int end = -1;
        int held = -1;
        std::thread leaving;
        if (reader != QLatin1String("none")) {
            end = openReader(node);
            QVERIFY(end >= 0);
        }
        if (reader == QLatin1String("leaves")) {
            held = holdOpen(node);
            QVERIFY(held >= 0);
            // Reads once what the writer has begun to send, then closes its end.
            leaving = std::thread([end] {
                char some[4096];
                while (::read(end, some, sizeof some) < 0 && errno == EINTR) {
                }
                ::close(end);
            });
        }
        QString why;
        bool written;
        if (append) {
            AppendFile file(node);
            written = file.open(AppendFile::Start::Continue, &why) && file.append(bytes, &why);
        } else {
            written = SafeFile::replace(node, bytes, &why);
        }
        if (leaving.joinable())
            leaving.join();
        else if (end >= 0)
            ::close(end);
        if (held >= 0)
            ::close(held);
        QVERIFY(!written);
        QCOMPARE(why, reason);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(node).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        QCOMPARE(filesIn(dir.path()), QStringList{"show.gpo"});
    }

    // The replacement keeps the old file's owner, group and permissions: a file of another user
    // replaced by root, a group's file replaced by one of its members. Only root can give a
    // file away; a member of the group who replaces another user's file keeps the group and
    // permissions, and is told whose the file now is.
    void replacementKeepsOwnerGroupAndMode_data()
    {
        QTest::addColumn<uint>("owner");
        QTest::addColumn<uint>("group");
        QTest::addColumn<uint>("mode");
        QTest::addColumn<int>("writer"); // the user who replaces it (0: root), a member of Shared
        QTest::addColumn<uint>("ownerAfter");
        QTest::addColumn<bool>("told");
        QTest::newRow("nobody:nogroup 0640, by root") << Nobody << NoGroup << 0640u << 0 << Nobody << false;
        QTest::newRow("group-shared 0660, by root") << Daemon << Shared << 0660u << 0 << Daemon << false;
        QTest::newRow("group-shared 0660 of its own, by a member") << Nobody << Shared << 0660u << int(Nobody) << Nobody
                                                                   << false;
        QTest::newRow("group-shared 0660 of another user, by a member")
            << Daemon << Shared << 0660u << int(Nobody) << Nobody << true;
    }

    void replacementKeepsOwnerGroupAndMode()
    {
        QFETCH(uint, owner);
        QFETCH(uint, group);
        QFETCH(uint, mode);
        QFETCH(int, writer);
        QFETCH(uint, ownerAfter);
        QFETCH(bool, told);
        if (::geteuid() != 0)
            QSKIP("giving files to other users needs root");
        QTemporaryDir dir;
        // Anybody may make files in the folder (as in a folder shared by a group).
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
        const QString target = dir.filePath(QStringLiteral("show.edl"));
        const QByteArray name = QFile::encodeName(target);
        QVERIFY(TestFiles::write(target, "old\r\n"));
        QCOMPARE(::chown(name.constData(), owner, group), 0);
        QCOMPARE(::chmod(name.constData(), mode), 0);

        const QByteArray bytes = content(10000, 'n');
        const Replaced r = writer == 0 ? replaceHere(target, bytes) : replaceAs(uid_t(writer), target, bytes);
        QVERIFY2(r.written, qPrintable(r.reason));
        QCOMPARE(TestFiles::read(target), bytes);
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QCOMPARE(uint(st.st_uid), ownerAfter);
        QCOMPARE(uint(st.st_gid), group);
        QCOMPARE(uint(st.st_mode & 07777), mode);
        QCOMPARE(r.warning, told ? QStringLiteral("%1 now belongs to %2 (it belonged to %3): Operation not permitted")
                                       .arg(target, ownerName(ownerAfter, group), ownerName(owner, group))
                                 : QString());
        QCOMPARE(filesIn(dir.path()), QStringList{"show.edl"});
    }
#endif

    // A file that grows by records: a record that cannot be written whole is taken back, so the
    // file ends with the last whole one, and the file goes on taking records once there is room.
    void appendTakesBackWhatFailedPartWay_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << Fault::FullDisk << "No space left on device";
        QTest::newRow("file-size limit") << Fault::SizeLimit << "File too large";
    }

    void appendTakesBackWhatFailedPartWay()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, reason);
        SmallFileSystem disk;
        QTemporaryDir plain;
        if (fault == Fault::FullDisk)
            SKIP_UNLESS_MOUNTED(disk);
        const QString path = QDir(fault == Fault::FullDisk ? disk.path() : plain.path()).filePath(QStringLiteral("show.gpo"));
        const QByteArray first("0001,0001,10:00:00:00,10:00:00:00,\r\n");
        // Larger than the page the file's first bytes take: it cannot fit, and part of it would.
        const QByteArray batch = content(3 * 4096, 'r');
        QString why;
        AppendFile file(path);
        QVERIFY2(file.open(AppendFile::Start::Continue, &why), qPrintable(why));
        QVERIFY(file.append(first, &why));
        bool appended;
        if (fault == Fault::FullDisk) {
            // The file's first page has room left; the rest of the disk has none.
            QVERIFY(disk.fill() > 0);
            appended = file.append(batch, &why);
        } else {
            const FileSizeLimit limit(first.size() + batch.size() / 2);
            appended = file.append(batch, &why);
        }
        QVERIFY(!appended);
        QCOMPARE(why, reason);
        QCOMPARE(file.size(), first.size());
        QCOMPARE(TestFiles::read(path), first);

        if (fault == Fault::FullDisk)
            disk.empty();
        QVERIFY2(file.append("0002\r\n", &why), qPrintable(why));
        QVERIFY(file.close(&why));
        QCOMPARE(TestFiles::read(path), first + "0002\r\n");

        // Opened again, it continues; started empty, it holds nothing.
        QVERIFY(file.open(AppendFile::Start::Continue, &why));
        QCOMPARE(file.size(), first.size() + 6);
        QVERIFY(file.open(AppendFile::Start::Empty, &why));
        QCOMPARE(file.size(), 0);
        QCOMPARE(TestFiles::read(path), QByteArray());
    }

    void appendFileThatCannotBeOpened()
    {
        QTemporaryDir dir;
        QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("plain")), "x"));
        AppendFile file(dir.filePath(QStringLiteral("plain/show.gpo")));
        QString why;
        QVERIFY(!file.open(AppendFile::Start::Continue, &why));
        QCOMPARE(why, QStringLiteral("Not a directory"));
        QVERIFY(!file.isOpen());
        QVERIFY(!file.append("x", &why));
    }
};

QTEST_GUILESS_MAIN(TestSafeFile)
#include "tst_safefile.moc"
