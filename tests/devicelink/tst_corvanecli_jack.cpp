// corvane-cli devices, monitor and capture run as processes on the private JACK server of the
// JackServer fixture, with orvex-sim as the interface.

#include "CliProcess.h"
#include "FaultyDisk.h"
#include "OrvexSimProcess.h"
#include "TestFiles.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>


class TestCorvaneCliJack : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"),
                 "run through CTest: the JackServer fixture starts the server");
        QVERIFY(m_dir.isValid());
    }

    void devicesListsTheInterface()
    {
        OrvexSimProcess simulator({"--no-mtc"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);
        const Run run = runCli({"devices"});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.contains("in\t" + simulator.inputName()), qPrintable(run.out));
        QVERIFY2(lines.contains("out\t" + simulator.outputName()), qPrintable(run.out));
        for (const QString &line : lines)
            QVERIFY2(line.startsWith(QLatin1String("in\t")) || line.startsWith(QLatin1String("out\t")), qPrintable(line));
    }

    // Monitor with both devices: the revision query and its reply, the scripted capture events
    // as rows, the running timecode; SIGINT ends it with status 0. The input is named in another
    // letter case.
    void monitorPrintsWhatTheWindowShows_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void monitorPrintsWhatTheWindowShows()
    {
        QFETCH(int, signal);
        const QString script = m_dir.filePath(QStringLiteral("monitor.txt"));
        QVERIFY(writeScript(script, {{0x0001, "10:00:00:00", 0}, {0x8003, "10:00:01:05", 10}, {0x0000, "10:00:02:10", 10}}));
        OrvexSimProcess simulator({"--script", script, "--wait-query", "--fps", "25", "--start", "10:00:00:00"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);

        QProcess cli;
        QString out;
        connect(&cli, &QProcess::readyReadStandardOutput, this,
                [&] { out += QString::fromLocal8Bit(cli.readAllStandardOutput()); });
        cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cli.start(QStringLiteral(CORVANE_CLI),
                  {"monitor", "--in", simulator.inputName().toUpper(), "--out", simulator.outputName()});
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(QLatin1String("row\t0003,")), 20000);
        // The first timecode shown may be assembled from part of a quarter-frame cycle; the
        // second comes from a whole one.
        QTRY_VERIFY_WITH_TIMEOUT(out.count(QLatin1String("\ntc\t")) >= 2, 10000);
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);

        const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("vmout\t F0 7E 00 11 00 F7 "));
        QVERIFY(lines.contains("rev\tCore 02.10 Build 00.35 HW 01.62\tMain 03.01 Build 00.12 Vexa-16"));
        QVERIFY(lines.contains("m8data\t24:  03 80 10 00 01 05"));
        QStringList rows;
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("row\t")))
                rows << line;
            QVERIFY2(QRegularExpression(QStringLiteral("^(vmin|m8data|vmout|row|tc|rev)\t")).match(line).hasMatch(),
                     qPrintable(line));
        }
        QCOMPARE(rows, (QStringList{"row\t0001,0001,10:00:00:00,10:00:00:00,", "row\t0002,8003,10:00:01:05,10:00:01:05,",
                                    "row\t0003,0000,10:00:02:10,10:00:02:10,"}));
        const qsizetype tc = lines.lastIndexOf(QRegularExpression(QStringLiteral("tc\t.*")));
        // The simulator's clock runs on from 10:00:00:00 for as long as the start-up takes.
        const QRegularExpressionMatch running =
            QRegularExpression(QStringLiteral("^tc\t(\\d\\d:[0-5]\\d:[0-5]\\d:[0-2]\\d)$")).match(lines.value(tc));
        QVERIFY2(running.hasMatch() && running.captured(1) >= QLatin1String("10:00:00:00"), qPrintable(lines.value(tc)));
        QCOMPARE(simulator.count(QStringLiteral("revision query")), 1);
    }

    // A capture that runs out of disk: the system's reason, status 1, and the file holds whole
    // rows only, numbered on from the row it held.
    void captureOntoAFullDisk()
    {
        SmallFileSystem disk;
        SKIP_UNLESS_MOUNTED(disk);
        const QString file = disk.filePath(QStringLiteral("show.gpo"));
        QVERIFY(TestFiles::write(file, "0001,0001,09:59:00:00,09:59:00:00,rehearsal\r\n"));
        QVERIFY(disk.fill() > 0);
        // More rows than the room left in the file's page.
        QList<ScriptLine> show;
        for (int n = 0; n < 300; ++n)
            show.append({1 << (n % 16), QStringLiteral("10:00:%1:00").arg(n % 60, 2, 10, QLatin1Char('0')), n % 50 ? 0 : 5});
        const QString script = m_dir.filePath(QStringLiteral("full.txt"));
        QVERIFY(writeScript(script, show));
        OrvexSimProcess simulator({"--script", script, "--wait-query", "--no-mtc", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);

        QProcess cli;
        cli.start(QStringLiteral(CORVANE_CLI),
                  {"capture", "--in", simulator.inputName(), "--out", simulator.outputName(), "-o", file});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("Cannot write %1: No space left on device").arg(file)), qPrintable(err));

        const QByteArray kept = TestFiles::read(file);
        QVERIFY(kept.endsWith("\r\n"));
        // How many new rows fitted depends on how they were batched into writes; the row the file
        // held stays, and every row after it is whole and numbered on.
        const QList<QByteArray> rows = kept.chopped(2).split('\n');
        // (None may have fitted: then the first row is the last one, without the CR the split left.)
        const QByteArray first = QByteArray("0001,0001,09:59:00:00,09:59:00:00,rehearsal") + (rows.size() > 1 ? "\r" : "");
        QVERIFY2(rows.first() == first, kept.constData());
        for (int n = 0; n < rows.size(); ++n) {
            QCOMPARE(rows[n].left(5), QStringLiteral("%1,").arg(n + 1, 4, 10, QLatin1Char('0')).toLatin1());
            QCOMPARE(rows[n].count(','), 4);
            QCOMPARE(rows[n].endsWith('\r'), n + 1 < rows.size());
        }
    }

    // A capture file whose last row was cut short is cut back to its last whole row before the
    // capture continues it, and the capture says so.
    void captureContinuesACutFile()
    {
        const QString file = m_dir.filePath(QStringLiteral("cut.gpo"));
        QVERIFY(TestFiles::write(file, "0001,0001,09:59:00:00,09:59:00:00,\r\n0228,1234,10:00:09:0"));
        const QString script = m_dir.filePath(QStringLiteral("two.txt"));
        QVERIFY(writeScript(script, {{0x0003, "10:00:00:00", 0}, {0x0000, "10:00:01:00", 0}}));
        OrvexSimProcess simulator({"--script", script, "--wait-query", "--no-mtc", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);

        QProcess cli;
        cli.start(QStringLiteral(CORVANE_CLI),
                  {"capture", "--in", simulator.inputName(), "--out", simulator.outputName(), "-o", file});
        QVERIFY(cli.waitForStarted());
        const QByteArray expected("0001,0001,09:59:00:00,09:59:00:00,\r\n"
                                  "0002,0003,10:00:00:00,10:00:00:00,\r\n"
                                  "0003,0000,10:00:01:00,10:00:01:00,\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(file), expected, 20000);
        ::kill(pid_t(cli.processId()), SIGTERM);
        QVERIFY(cli.waitForFinished(10000));
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        // A server that was late while the input was open makes the status 1 and is told; the
        // file below is checked all the same.
        QVERIFY2(cli.exitCode() == (err.contains(QStringLiteral("MIDI server late: ")) ? 1 : 0), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("%1: its last row was cut short; cut back to its last whole row (removed "
                                             "\"0228,1234,10:00:09:0\")\n")
                                  .arg(file)),
                 qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("lost")), qPrintable(err));
        QCOMPARE(TestFiles::read(file), expected);
    }

    // A capture stopped (SIGSTOP) for half a second while events arrive misses the server's
    // periods of that time, and the events in them: it counts them as the server's late cycles,
    // says so and ends with status 1. Every row it wrote is an event sent, in the order sent,
    // none twice.
    void captureStoppedWhileEventsArrive()
    {
        constexpr int Events = 600;
        QList<ScriptLine> show;
        for (int n = 0; n < Events; ++n)
            show.append({n + 1, QStringLiteral("10:%1:%2:%3")
                                    .arg(n / 1500, 2, 10, QLatin1Char('0'))
                                    .arg(n / 25 % 60, 2, 10, QLatin1Char('0'))
                                    .arg(n % 25, 2, 10, QLatin1Char('0')),
                         1});
        const QString script = m_dir.filePath(QStringLiteral("stopped.txt"));
        QVERIFY(writeScript(script, show));
        const QString file = m_dir.filePath(QStringLiteral("stopped.gpo"));
        OrvexSimProcess simulator({"--script", script, "--wait-query", "--no-mtc", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);

        QProcess cli;
        cli.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        cli.start(QStringLiteral(CORVANE_CLI),
                  {"capture", "--in", simulator.inputName(), "--out", simulator.outputName(), "-o", file});
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(TestFiles::read(file).count('\n') >= 1, 20000);
        const pid_t pid = pid_t(cli.processId());
        ::kill(pid, SIGSTOP);
        const int beforeStop = int(TestFiles::read(file).count('\n'));
        QTest::qSleep(500);
        ::kill(pid, SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(QStringLiteral("script done %1").arg(Events)), 30000);
        ::kill(pid, SIGTERM);
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        const QRegularExpression told(QStringLiteral("MIDI server late: (\\d+) \\(input may have been dropped\\) in this capture\n"));
        const QRegularExpressionMatch late = told.match(err);
        QVERIFY2(late.hasMatch() && late.captured(1).toULongLong() > 0, qPrintable(err));

        // Rows: numbered from 1, each an event of the script, in the order sent, none twice.
        const QList<QByteArray> rows = TestFiles::read(file).split('\n');
        QCOMPARE(rows.last(), QByteArray());
        int sent = -1;
        for (int n = 0; n + 1 < rows.size(); ++n) {
            const QList<QByteArray> fields = rows[n].split(',');
            QCOMPARE(fields.size(), 5);
            QCOMPARE(fields[0].toInt(), n + 1);
            const int event = fields[1].toInt(nullptr, 16) - 1;
            QVERIFY2(event > sent && event < Events, rows[n].constData());
            QCOMPARE(QString::fromLatin1(fields[2]), show[event].timecode);
            sent = event;
        }
        QVERIFY(rows.size() - 1 >= beforeStop);
    }
};

QTEST_GUILESS_MAIN(TestCorvaneCliJack)
#include "tst_corvanecli_jack.moc"
