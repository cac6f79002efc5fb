// The program killed in the middle of a show, as a crash or a pulled plug would end it: started
// again, it offers back exactly the rows it showed, and a clean exit leaves nothing behind.
// Runs the program through its test entry (corvane-testhost: the real program on in-process
// MIDI devices, driven from standard input), copied into a folder of its own as "corvane".

#include "CaptureJournal.h"
#include "ProgramCopy.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

constexpr int Wait = 30000;

// One run of the program.
class Program {
public:
    // runtime: another runtime folder (XDG_RUNTIME_DIR) than the test's.
    Program(const QString &exe, const QStringList &answers, const QString &runtime = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!runtime.isEmpty())
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(QDir::tempPath());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#if defined(Q_OS_LINUX)
        // A test ended by a timeout leaves no program behind on the machine.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
        m_process.start(exe, answers);
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QProcess &process() { return m_process; }

    void send(const QByteArray &line) { m_process.write(line + '\n'); }

    // The next line the program prints, or an empty one when none came in time.
    QByteArray nextLine()
    {
        QDeadlineTimer deadline(Wait);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return {};
            m_process.waitForReadyRead(100);
        }
        return m_process.readLine().chopped(1);
    }

    // Waits for "ready"; returns the dialogs shown on the way.
    QStringList waitReady()
    {
        QStringList dialogs;
        for (QByteArray line = nextLine(); !line.isEmpty(); line = nextLine()) {
            if (line == "ready")
                return dialogs;
            if (line.startsWith("dialog "))
                dialogs << QString::fromUtf8(line.mid(7));
        }
        dialogs << QStringLiteral("<never ready>");
        return dialogs;
    }

    // The rows the window shows, each as its five texts tab-separated; dialogs go to dialogs.
    QStringList rows(QStringList *dialogs = nullptr)
    {
        send("rows");
        QStringList rows;
        for (QByteArray line = nextLine(); !line.isEmpty(); line = nextLine()) {
            if (line.startsWith("rows "))
                return rows;
            if (line.startsWith("row\t"))
                rows << QString::fromUtf8(line.mid(4));
            else if (line.startsWith("dialog ") && dialogs)
                *dialogs << QString::fromUtf8(line.mid(7));
        }
        rows << QStringLiteral("<no answer>");
        return rows;
    }

    // Polls until the window shows count rows; returns them.
    QStringList waitForRows(int count)
    {
        QStringList shown;
        QDeadlineTimer deadline(Wait);
        do {
            shown = rows();
            if (shown.size() == count)
                break;
            QTest::qWait(50);
        } while (!deadline.hasExpired());
        return shown;
    }

private:
    QProcess m_process;
};

} // namespace

class TestCrashRecovery : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // The temporary and runtime folder of the programs started: their single-instance lock.
    QTemporaryDir m_runtime;
    QString m_exe;

    QString journalPath() const { return m_dir.filePath(QStringLiteral("corvane.journal")); }
    QStringList journalFiles() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    }

    // A show in progress: five events, two comments, a deleted row. Returns the rows shown.
    QStringList playShowUntilTheKill(Program &program)
    {
        program.send("event 0001 10:00:00:00");
        program.send("event 0002 10:00:01:05");
        program.send("event 8000 10:00:02:10");
        const QStringList three = program.waitForRows(3);
        if (three.size() != 3)
            return three;
        program.send("comment 1 close up \u00e9");
        program.send("event 0004 10:00:03:15");
        program.send("event 0011 10:00:04:20");
        program.waitForRows(5);
        program.send("delete 2");
        program.send("comment 3 last, with a comma");
        QStringList shown = program.waitForRows(4);
        // The comment came after the delete: wait until it shows as well.
        QDeadlineTimer deadline(Wait);
        while (!shown.join(QLatin1Char('\n')).contains(QStringLiteral("last, with a comma")) && !deadline.hasExpired())
            shown = program.rows();
        return shown;
    }

    // A run that captures two rows (cameras 1 and 2 at 11:00:00:00 and 11:00:01:00) and is killed.
    bool runKilledWithTwoRows()
    {
        Program first(m_exe, {});
        if (!first.waitReady().isEmpty())
            return false;
        first.send("event 0001 11:00:00:00");
        first.send("event 0002 11:00:01:00");
        if (first.waitForRows(2).size() != 2)
            return false;
        first.process().kill();
        return first.process().waitForFinished(Wait);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_runtime.isValid());
        QVERIFY(ProgramCopy::usePrivateRuntime(m_runtime.path()));
        m_exe = ProgramCopy::make(QStringLiteral(CORVANE_TESTHOST), QStringLiteral(CORVANE_DEF), m_dir.path(),
                                  QStringLiteral("corvane"));
        QVERIFY(!m_exe.isEmpty());
        QVERIFY(TestFiles::write(m_dir.filePath(QStringLiteral("midiio.ini")),
                                 "[midiio]\r\nmidiin=Orvex In\r\nmidiout=Orvex Out\r\n"));
    }

    void init()
    {
        for (const QString &file : journalFiles())
            QVERIFY(QFile::remove(m_dir.filePath(file)));
    }

    void killedProgramGivesBackEveryRowShown()
    {
        QStringList shown;
        {
            Program first(m_exe, {});
            QCOMPARE(first.waitReady(), QStringList());
            shown = playShowUntilTheKill(first);
            QCOMPARE(shown.size(), 4);
            QVERIFY2(shown.at(1).endsWith(QStringLiteral("\tclose up \u00e9")), qPrintable(shown.at(1)));
            QVERIFY2(shown.at(3).endsWith(QStringLiteral("\tlast, with a comma")), qPrintable(shown.at(3)));
            first.process().kill(); // SIGKILL: no clean-up of any kind
            QVERIFY(first.process().waitForFinished(Wait));
            QCOMPARE(first.process().exitStatus(), QProcess::CrashExit);
        }
        QCOMPARE(journalFiles(), QStringList({"corvane.journal"}));

        Program second(m_exe, {QStringLiteral("ok")});
        QCOMPARE(second.waitReady(), QStringList({"Recover Capture|Recover 4 capture rows from the previous run?"}));
        QCOMPARE(second.rows(), shown);

        // The show goes on, journaled: a second kill would lose nothing either.
        second.send("event 0020 10:00:05:00");
        const QStringList more = second.waitForRows(5);
        QCOMPARE(more.mid(0, 4), shown);
        QCOMPARE(CaptureJournal::read(journalPath()).rows().size(), 5);

        // A clean exit leaves no journal behind.
        second.send("exit");
        QVERIFY(second.process().waitForFinished(Wait));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(journalFiles(), QStringList());
    }

    // Killed, or closed by the close box, right after Delete All: started again, the deleted rows
    // are offered back; taken, the rows captured next follow them, and a kill then loses none.
    void deleteAllThenAnEndOffersTheRowsBack_data()
    {
        QTest::addColumn<QByteArray>("end"); // "kill", or a command ending the program
        QTest::newRow("killed") << QByteArray("kill");
        QTest::newRow("close box") << QByteArray("close");
    }

    void deleteAllThenAnEndOffersTheRowsBack()
    {
        QFETCH(QByteArray, end);
        QStringList shown;
        {
            Program first(m_exe, {});
            QCOMPARE(first.waitReady(), QStringList());
            shown = playShowUntilTheKill(first);
            QCOMPARE(shown.size(), 4);
            first.send("deleteall");
            QCOMPARE(first.waitForRows(0), QStringList());
            if (end == "kill")
                first.process().kill();
            else
                first.send(end);
            QVERIFY(first.process().waitForFinished(Wait));
        }
        QCOMPARE(journalFiles(), QStringList({"corvane.journal"}));
        {
            Program second(m_exe, {QStringLiteral("ok")});
            QCOMPARE(second.waitReady(), QStringList({"Recover Capture|Recover 4 capture rows from the previous run?"}));
            QCOMPARE(second.rows(), shown);
            second.send("event 0020 10:00:05:00");
            const QStringList now = second.waitForRows(5);
            QCOMPARE(now.mid(0, 4), shown);
            // Numbered on from the highest item, which a row deleted in the first run holds.
            QVERIFY2(now.value(4).startsWith(QStringLiteral("0006\t0020\t10:00:05:00")), qPrintable(now.value(4)));
            second.process().kill();
            QVERIFY(second.process().waitForFinished(Wait));
            shown = now;
        }
        Program third(m_exe, {QStringLiteral("ok")});
        QCOMPARE(third.waitReady(), QStringList({"Recover Capture|Recover 5 capture rows from the previous run?"}));
        QCOMPARE(third.rows(), shown);
        third.send("exit");
        QVERIFY(third.process().waitForFinished(Wait));
        QCOMPARE(journalFiles(), QStringList());
    }

    // The window closed by its close box with rows not saved: the journal stays, and the next
    // start offers every row back.
    void closeBoxKeepsUnsavedRowsRecoverable()
    {
        QStringList shown;
        {
            Program first(m_exe, {});
            QCOMPARE(first.waitReady(), QStringList());
            shown = playShowUntilTheKill(first);
            QCOMPARE(shown.size(), 4);
            first.send("close");
            QVERIFY(first.process().waitForFinished(Wait));
            QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(first.process().exitCode(), 0);
        }
        QCOMPARE(journalFiles(), QStringList({"corvane.journal"}));
        Program second(m_exe, {QStringLiteral("ok")});
        QCOMPARE(second.waitReady(), QStringList({"Recover Capture|Recover 4 capture rows from the previous run?"}));
        QCOMPARE(second.rows(), shown);
        second.send("exit");
        QVERIFY(second.process().waitForFinished(Wait));
        QCOMPARE(journalFiles(), QStringList());
    }

    // The devices run while the question is asked: switches that come before the answer follow
    // the recovered rows, numbered on from them, and are journaled with them.
    void switchesDuringTheRecoveryQuestionFollowTheRecoveredRows()
    {
        QVERIFY(runKilledWithTwoRows());
        const QStringList expected = {"0001\t0001\t11:00:00:00\t11:00:00:00\t", "0002\t0002\t11:00:01:00\t11:00:01:00\t",
                                      "0003\t0004\t12:00:00:00\t12:00:00:00\t", "0004\t0008\t12:00:01:00\t12:00:01:00\t",
                                      "0005\t0010\t12:00:02:00\t12:00:02:00\t"};
        {
            Program second(m_exe, {QStringLiteral("ok+events")});
            QCOMPARE(second.waitReady(), QStringList({"Recover Capture|Recover 2 capture rows from the previous run?"}));
            QStringList told;
            QCOMPARE(second.rows(&told), expected);
            QCOMPARE(told, QStringList());
            second.process().kill();
            QVERIFY(second.process().waitForFinished(Wait));
        }
        Program third(m_exe, {QStringLiteral("ok")});
        QCOMPARE(third.waitReady(), QStringList({"Recover Capture|Recover 5 capture rows from the previous run?"}));
        QCOMPARE(third.rows(), expected);
        third.send("exit");
        QVERIFY(third.process().waitForFinished(Wait));
    }

    // One program per journal: a second copy started with another runtime folder (so another
    // single-instance lock) is refused by the journal's own lock, and the journal is untouched.
    void aSecondCopyOnTheSameJournalIsRefused()
    {
        QTemporaryDir otherRuntime;
        QVERIFY(otherRuntime.isValid());
        Program first(m_exe, {});
        QCOMPARE(first.waitReady(), QStringList());
        first.send("event 0001 11:00:00:00");
        QCOMPARE(first.waitForRows(1).size(), 1);
        const QByteArray journal = TestFiles::read(journalPath());
        QVERIFY(!journal.isEmpty());

        Program second(m_exe, {}, otherRuntime.path());
        QVERIFY(second.process().waitForFinished(Wait));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 1);
        QCOMPARE(TestFiles::read(journalPath()), journal);
        QCOMPARE(first.process().state(), QProcess::Running);
        QCOMPARE(first.rows().size(), 1);
        first.send("exit");
        QVERIFY(first.process().waitForFinished(Wait));
    }

    // Cancel starts an empty list and keeps the old journal under a dated name.
    void declinedRecoveryKeepsTheJournalAside()
    {
        QVERIFY(runKilledWithTwoRows());
        Program second(m_exe, {QStringLiteral("cancel")});
        QCOMPARE(second.waitReady(), QStringList({"Recover Capture|Recover 2 capture rows from the previous run?"}));
        QCOMPARE(second.rows(), QStringList());
        const QStringList files = journalFiles();
        QCOMPARE(files.size(), 2);
        QVERIFY2(QRegularExpression(QStringLiteral("^corvane-\\d{8}-\\d{6}\\.journal$")).match(files.first()).hasMatch(),
                 qPrintable(files.first()));
        QCOMPARE(CaptureJournal::read(m_dir.filePath(files.first())).rows().size(), 2);
        second.send("exit");
        QVERIFY(second.process().waitForFinished(Wait));
        QCOMPARE(journalFiles(), QStringList({files.first()}));
    }
};

QTEST_GUILESS_MAIN(TestCrashRecovery)
#include "tst_crash_recovery.moc"
