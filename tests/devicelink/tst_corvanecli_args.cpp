// corvane-cli's device commands refuse wrong arguments and unknown devices before they open
// anything, with or without a MIDI system: no MIDI server is needed.

#include "CliProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestCorvaneCliArguments : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void argumentErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("monitor without --in") << QStringList{"monitor"} << 2 << "Usage: corvane-cli monitor";
        QTest::newRow("monitor, stray argument") << QStringList{"monitor", "--in", "x", "y"} << 2 << "Usage: corvane-cli monitor";
        QTest::newRow("capture without -o") << QStringList{"capture", "--in", "x"} << 2 << "Usage: corvane-cli capture";
        QTest::newRow("devices, stray argument") << QStringList{"devices", "x"} << 2 << "Usage: corvane-cli devices";
        QTest::newRow("unknown input") << QStringList{"monitor", "--in", "no such device"} << 1
                                       << "MIDI input device not found: no such device";
        QTest::newRow("capture, unknown input")
            << QStringList{"capture", "--in", "no such device", "-o", "show.gpo"} << 1
            << "MIDI input device not found: no such device";
    }

    void argumentErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = runCli(arguments, m_dir.path());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        // A capture that never started leaves no file behind.
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("show.gpo"))));
    }
};

QTEST_GUILESS_MAIN(TestCorvaneCliArguments)
#include "tst_corvanecli_args.moc"
