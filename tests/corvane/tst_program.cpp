#include "IniStore.h"
#include "ProgramCopy.h"
#include "SingleInstance.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

// Starts copies of the built program in a folder of their own.
class TestProgram : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // The temporary and runtime folder of this test and of the copies it starts: the
    // single-instance lock lives there, so that neither a program running on the machine nor
    // another test's copies hold it, whatever runs before.
    QTemporaryDir m_temp;
    QString m_exe;

    // The process that holds the single-instance lock, 0 when none.
    static qint64 lockOwner()
    {
        QLockFile lock(SingleInstance(QStringLiteral("corvaneOneCopy")).lockFilePath());
        qint64 pid = 0;
        QString host;
        QString application;
        return lock.getLockInfo(&pid, &host, &application) ? pid : 0;
    }

    void start(QProcess &program) const
    {
        program.setProcessEnvironment(offscreen());
        program.setWorkingDirectory(QDir::tempPath());
        program.start(m_exe, {});
    }

    QProcessEnvironment offscreen() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_temp.isValid());
        QVERIFY(qputenv("TMPDIR", QFile::encodeName(m_temp.path())));
        QVERIFY(qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_temp.path())));
        QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_temp.path()).canonicalPath());
        m_exe = ProgramCopy::make(QStringLiteral(CORVANE_EXE), m_dir.path());
        QVERIFY(!m_exe.isEmpty());
    }

    void firstStartCreatesTheSettingsFile()
    {
        const QString ini = m_dir.filePath(QStringLiteral("corvane.ini"));
        QVERIFY(!QFile::exists(ini));
        QProcess program;
        program.setProcessEnvironment(offscreen());
        program.setWorkingDirectory(QDir::tempPath()); // the program never relies on its current folder
        program.start(m_exe, {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(IniFile(ini).keys(QStringLiteral("USER\\<FACTORY DEFAULT>")).contains(QStringLiteral("kf9")),
                                 20000);
        program.kill();
        program.waitForFinished();

        const IniFile settings(ini);
        QCOMPARE(settings.sections(), QStringList({"APP", "USER\\<FACTORY DEFAULT>"}));
        QCOMPARE(settings.readString(QStringLiteral("App"), QStringLiteral("Exe"), QString()),
                 QFileInfo(m_exe).fileName());
        const IniFile defaults(m_dir.filePath(QStringLiteral("corvane.def")));
        // Keys with an empty factory value (the folders) are not copied.
        const auto factory = defaults.sectionValues(QStringLiteral("USER\\<FACTORY DEFAULT>"));
        const auto empty = std::count_if(factory.begin(), factory.end(), [](const auto &key) { return key.second.isEmpty(); });
        QVERIFY(empty > 0);
        QCOMPARE(settings.sectionValues(QStringLiteral("USER\\<FACTORY DEFAULT>")).size(), factory.size() - empty);
    }

    void secondInstanceIsRefusedWhileTheFirstRuns()
    {
        QProcess first;
        start(first);
        QVERIFY(first.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), first.processId(), 20000);
        const QString ini = m_dir.filePath(QStringLiteral("corvane.ini"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(ini), 20000);
        const QByteArray settings = TestFiles::read(ini);

        QProcess second;
        start(second);
        QVERIFY(second.waitForStarted());
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        // The message names the copy that runs, and the lock file.
        const QString told = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(told.contains(QStringLiteral("Kx Corvane: Corvane is already running.\nProcess %1 holds the lock file %2.")
                                   .arg(first.processId())
                                   .arg(SingleInstance::lockFilePathFor(QStringLiteral("corvaneOneCopy")))),
                 qPrintable(told));
        // The first copy is untouched: still running, still holding the lock, same settings.
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(lockOwner(), first.processId());
        QCOMPARE(TestFiles::read(ini), settings);

        // A copy that dies leaves its lock behind; the next start takes it over.
        first.kill();
        QVERIFY(first.waitForFinished());
        QProcess third;
        start(third);
        QVERIFY(third.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), third.processId(), 20000);
        QCOMPARE(third.state(), QProcess::Running);
        third.kill();
        third.waitForFinished();
    }

    // A lock file left empty or zero-filled by a power cut does not keep the program from
    // starting (and from offering the journal's rows back).
    void aLockFileLeftByAPowerCutDoesNotBlock_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("zero-filled") << QByteArray(512, '\0');
    }

    void aLockFileLeftByAPowerCutDoesNotBlock()
    {
        QFETCH(QByteArray, content);
        const QString path = SingleInstance::lockFilePathFor(QStringLiteral("corvaneOneCopy"));
        QVERIFY(TestFiles::write(path, content));
        QProcess program;
        start(program);
        QVERIFY(program.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), program.processId(), 20000);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        program.waitForFinished();
        QFile::remove(path);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
