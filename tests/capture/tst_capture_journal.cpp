#include "CaptureFixtures.h"
#include "CaptureJournal.h"
#include "FaultyDisk.h"
#include "Clock.h"
#include "Errors.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QFileInfo>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using CaptureFixtures::journalChecksum;
using CaptureFixtures::journalRecord;
using CaptureFixtures::Rows;
using CaptureFixtures::rowsOf;

// A short show: events, comments (with the characters the journal must escape), a delete, a
// sort, more events.
void playShow(CaptureList &list)
{
    list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
    {
        CaptureList::AppendBatch batch(list);
        list.appendEvent(u"10:00:01:00", u"10:00:01:00", u"0003");
        list.appendEvent(u"10:00:02:00", u"10:00:02:00", u"0002");
        list.appendEvent(u"10:00:03:00", u"10:00:03:00", u"0000");
    }
    list.setComment(1, QStringLiteral("wide,\ttab\nnew line \\ back \u00e9 \u20ac"));
    list.deleteRows({0, 2});
    list.sortByColumn(CaptureList::CameraColumn);
    list.appendEvent(u"10:00:04:00", u"10:00:04:01", u"8000");
    list.setLastComment(QStringLiteral("last"));
}

} // namespace

class TestCaptureJournal : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString journalPath() const { return m_dir.filePath(QStringLiteral("corvane.journal")); }

    // A journal of playShow(), closed as a crash would leave it; returns the rows shown.
    Rows journalOfAShow()
    {
        CaptureList list;
        CaptureJournal journal(journalPath());
        journal.start(list);
        playShow(list);
        const Rows shown = rowsOf(list);
        journal.close();
        return shown;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(f));
    }

    void recoversTheListAsShown()
    {
        const Rows shown = journalOfAShow();
        QCOMPARE(shown.size(), 3);
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QVERIFY(!r.cutRecord);
        QCOMPARE(r.rows(), shown);
    }

    // The records' checksum is Qt's CRC-16 (ISO 3309) in four upper-case hexadecimal digits:
    // journals of earlier runs are read, and every record written now carries it.
    void checksumsAreQtsCrc16()
    {
        QByteArray earlier = journalRecord("CORVANE-JOURNAL\t1");
        earlier += journalRecord("A\t0001\t0001\t10:00:00:00\t10:00:00:01\twide,\\ttab \xc3\xa9");
        earlier += journalRecord("A\t0002\t0000\t10:00:01:00\t10:00:01:01\t");
        earlier += journalRecord("C\t1\tback \\\\ slash\\nnext");
        QVERIFY(TestFiles::write(journalPath(), earlier));
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QCOMPARE(r.records, 3);
        QCOMPARE(r.rows(), Rows({{"0001", "0001", "10:00:00:00", "10:00:00:01", QString::fromUtf8("wide,\ttab \u00e9")},
                                 {"0002", "0000", "10:00:01:00", "10:00:01:01", "back \\ slash\nnext"}}));

        journalOfAShow();
        const QList<QByteArray> lines = TestFiles::read(journalPath()).split('\n');
        QVERIFY(lines.size() > 5);
        for (const QByteArray &line : lines) {
            if (line.isEmpty())
                continue;
            const qsizetype tab = line.lastIndexOf('\t');
            QCOMPARE(line.mid(tab + 1), journalChecksum(line.left(tab)));
        }
    }

    void startingTakesTheListAsItStands()
    {
        CaptureList list;
        list.appendRow(u"0007", u"0004", u"01:00:00:00", u"01:00:00:00", QStringLiteral("loaded, from file"));
        CaptureJournal journal(journalPath());
        journal.start(list);
        list.appendEvent(u"01:00:01:00", u"01:00:01:00", u"0000");
        journal.close();
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), rowsOf(list));
    }

    void aBatchIsOneWrite()
    {
        CaptureList list;
        CaptureJournal journal(journalPath());
        journal.start(list);
        const int before = journal.writeCount();
        {
            CaptureList::AppendBatch batch(list);
            for (int i = 0; i < 500; ++i)
                list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        }
        QCOMPARE(journal.writeCount(), before + 1);
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0000");
        QCOMPARE(journal.writeCount(), before + 2);
        // Synced to the disk by the timer, once for both writes.
        const int syncs = journal.syncCount();
        QTRY_COMPARE_WITH_TIMEOUT(journal.syncCount(), syncs + 1, 5000);
    }

    void deferredRowsAreWrittenBeforeTheyAreShown()
    {
        CaptureList list;
        list.setDeferredInserts(true);
        CaptureJournal journal(journalPath());
        journal.start(list);
        const int before = journal.writeCount();
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        list.appendEvent(u"10:00:01:00", u"10:00:01:00", u"0000");
        QCOMPARE(list.rowCount(), 0);
        QTRY_COMPARE(list.rowCount(), 2);
        QCOMPARE(journal.writeCount(), before + 1);
        QCOMPARE(CaptureJournal::read(journalPath()).rows().size(), 2);
    }

    // A killed process loses nothing that was shown: the child dies without closing anything.
    void killedProcessLosesNothing()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("JOURNAL_CHILD"), journalPath());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 9);
        CaptureList expected;
        playShow(expected);
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), rowsOf(expected));
    }

    void cutLastRecordIsIgnored_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("cut mid-record") << QByteArray("A\t0009\t0001\t10:0");
        QTest::newRow("garbage line") << QByteArray("A\t0009\tXXXX\t0000\n");
        QTest::newRow("zeros of a power cut") << QByteArray(40, '\0');
    }

    void cutLastRecordIsIgnored()
    {
        QFETCH(QByteArray, tail);
        const Rows shown = journalOfAShow();
        QFile f(journalPath());
        QVERIFY(f.open(QIODevice::Append));
        f.write(tail);
        f.close();
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QVERIFY(r.cutRecord);
        QCOMPARE(r.rows(), shown);
    }

    void damagedJournals_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("another format") << QByteArray("[App]\r\nExe=corvane\r\n");
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\n\n", 12);
        QTest::newRow("other version") << QByteArray("CORVANE-JOURNAL\t9\tFFFF\n");
    }

    void damagedJournals()
    {
        QFETCH(QByteArray, content);
        QVERIFY(TestFiles::write(journalPath(), content));
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Damaged);
        QVERIFY(!r.problem.isEmpty());
    }

    // One damaged record with whole ones after it: the rows before it are given back (the rows
    // the journal holds when cut just before it), and the records from it on are counted; with
    // no row before it there is nothing to give back.
    void damagedInTheMiddle_data()
    {
        QTest::addColumn<int>("record"); // the line of the damaged record, the header being 1
        QTest::addColumn<int>("unread");
        QTest::newRow("the first after the header") << 2 << 9;
        QTest::newRow("a row") << 3 << 8;
        QTest::newRow("a comment") << 6 << 5;
        QTest::newRow("the last but one") << 9 << 2;
    }

    void damagedInTheMiddle()
    {
        QFETCH(int, record);
        QFETCH(int, unread);
        journalOfAShow();
        const QByteArray whole = TestFiles::read(journalPath());
        QCOMPARE(whole.count('\n'), 10);
        qsizetype start = 0;
        for (int line = 1; line < record; ++line)
            start = whole.indexOf('\n', start) + 1;
        // What the journal held before the damaged record, read as a journal of its own.
        QVERIFY(TestFiles::write(journalPath(), whole.first(start)));
        const CaptureJournal::Recovery before = CaptureJournal::read(journalPath());
        QCOMPARE(before.found, CaptureJournal::Found::Rows);

        QByteArray bytes = whole;
        bytes[start + 1] = bytes[start + 1] ^ 0x01; // one bit of the byte after the record type
        QVERIFY(TestFiles::write(journalPath(), bytes));
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.problem, QStringLiteral("The journal is damaged at record %1: %2 records could not be read.")
                                .arg(record)
                                .arg(unread));
        QCOMPARE(r.unreadRecords, unread);
        QCOMPARE(r.records, before.records);
        QCOMPARE(r.rows(), before.rows());
        QCOMPARE(r.found, before.rows().isEmpty() ? CaptureJournal::Found::Damaged : CaptureJournal::Found::Rows);
        QCOMPARE(TestFiles::read(journalPath()), bytes); // read, never changed
    }

    void recordsThatDoNotFitTheListAreDamage()
    {
        // Well-formed records naming a row that is not there: the rows before them stand.
        CaptureList list;
        CaptureJournal journal(journalPath());
        journal.start(list);
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        const Rows first = rowsOf(list);
        journal.rowsDeleted({5});
        journal.changesDone();
        list.appendEvent(u"10:00:01:00", u"10:00:01:00", u"0000");
        journal.close();
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QCOMPARE(r.rows(), first);
        QCOMPARE(r.problem, QStringLiteral("The journal is damaged at record 3: 2 records could not be read."));
    }

    void noJournal()
    {
        QCOMPARE(CaptureJournal::read(journalPath()).found, CaptureJournal::Found::Nothing);
    }

    void finishRemovesAndMoveAsideKeeps()
    {
        CaptureList list;
        {
            CaptureJournal journal(journalPath());
            journal.start(list);
            list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
            journal.finish();
            QVERIFY(!QFile::exists(journalPath()));
            QVERIFY(!list.observer());
        }
        journalOfAShow();
        const FixedClock clock(QDateTime(QDate(2008, 11, 23), QTime(14, 30, 5)));
        setAppClock(&clock);
        const QString aside = CaptureJournal::moveAside(journalPath());
        QCOMPARE(aside, m_dir.filePath(QStringLiteral("corvane-20081123-143005.journal")));
        QVERIFY(!QFile::exists(journalPath()));
        QCOMPARE(CaptureJournal::read(aside).rows().size(), 3);
        // A second one in the same second gets a name of its own.
        journalOfAShow();
        QCOMPARE(CaptureJournal::moveAside(journalPath()), m_dir.filePath(QStringLiteral("corvane-20081123-143005-2.journal")));
        setAppClock(nullptr);
    }

    void unwritableJournalRaises()
    {
        QVERIFY(TestFiles::write(m_dir.filePath(QStringLiteral("file")), "x"));
        CaptureList list;
        CaptureJournal journal(m_dir.filePath(QStringLiteral("file/corvane.journal")));
        QVERIFY_THROWS_EXCEPTION(CorvaneError, journal.start(list));
        QVERIFY(!list.observer());
    }

#if defined(Q_OS_LINUX)
    // A write that fails while the show goes on (here the file-size limit, as a full disk would):
    // the list keeps every row and change, the journal stops and tells it once, and what it held
    // before the failure can still be recovered.
    // A write that fails part of the way (a full disk, or past the file-size limit) stops the
    // journal, not the list; the journal is cut back to its last whole record and the operator is
    // told why.
    void failedWriteStopsTheJournalNotTheList_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("reason");
        QTest::newRow("file-size limit") << false << "File too large";
        QTest::newRow("full disk") << true << "No space left on device";
    }

    void failedWriteStopsTheJournalNotTheList()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, reason);
        SmallFileSystem disk;
        if (fullDisk)
            SKIP_UNLESS_MOUNTED(disk);
        const QString path = fullDisk ? disk.filePath(QStringLiteral("corvane.journal")) : journalPath();
        CaptureList list;
        CaptureJournal journal(path);
        QStringList messages;
        connect(&journal, &CaptureJournal::failed, this, [&messages](const QString &m) { messages << m; });
        journal.start(list);
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        list.setLastComment(QStringLiteral("kept"));
        journal.sync();
        const qint64 size = QFileInfo(path).size();

        auto changes = [&list] {
            {
                // More than the room left in the journal's page, but some of it fits.
                CaptureList::AppendBatch batch(list);
                for (int n = 0; n < 200; ++n)
                    list.appendEvent(u"10:00:01:00", u"10:00:01:00", u"0002");
            }
            list.setLastComment(QStringLiteral("after the failure"));
            list.deleteRows({0});
        };
        if (fullDisk) {
            QVERIFY(disk.fill() > 0);
            changes();
        } else {
            const FileSizeLimit limit(size + 10); // room for a part of the next records
            changes();
        }

        QVERIFY(journal.hasFailed());
        QVERIFY(!list.observer());
        QCOMPARE(list.count(), 200);
        QCOMPARE(list.text(199, CaptureList::CommentColumn), QStringLiteral("after the failure"));
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(messages.first(), QStringLiteral("Unable to write to %1 (%2). Capture rows are no longer journaled; "
                                                  "save the list with Save GPO.")
                                       .arg(path, reason));
        QCoreApplication::processEvents();
        QCOMPARE(messages.size(), 1);

        journal.close();
        QCOMPARE(QFileInfo(path).size(), size);
        const CaptureJournal::Recovery found = CaptureJournal::read(path);
        QCOMPARE(found.found, CaptureJournal::Found::Rows);
        QVERIFY(!found.cutRecord);
        QCOMPARE(found.rows().size(), 1);
        QCOMPARE(found.rows().first().comment, QStringLiteral("kept"));
    }
#endif
};

// Child process of killedProcessLosesNothing.
static int journalChild(const QString &path)
{
    CaptureList list;
    CaptureJournal journal(path);
    journal.start(list);
    playShow(list);
    _exit(9);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("JOURNAL_CHILD"))
        return journalChild(qEnvironmentVariable("JOURNAL_CHILD"));
    TestCaptureJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capture_journal.moc"
