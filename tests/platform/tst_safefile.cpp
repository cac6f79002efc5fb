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
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
        const QByteArray bytes = content(5000, 'f');
        QByteArray received;
        std::thread reader;
        if (fifo) {
            reader = std::thread([&] {
                QFile pipe(node);
                if (pipe.open(QIODevice::ReadOnly))
                    received = pipe.readAll();
            });
        }
        QString why;
        const bool written = SafeFile::replace(node, bytes, &why);
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
