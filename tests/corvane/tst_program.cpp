#include "IniStore.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Starts copies of the built program in a folder of their own.
class TestProgram : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_exe;

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
        const QString built = QStringLiteral(CORVANE_EXE);
        m_exe = m_dir.filePath(QFileInfo(built).fileName());
        QVERIFY(QFile::copy(built, m_exe));
        QVERIFY(QFile::setPermissions(m_exe, QFile::permissions(built)));
        QVERIFY(QFile::copy(QFileInfo(built).dir().filePath(QStringLiteral("corvane.def")),
                            m_dir.filePath(QStringLiteral("corvane.def"))));
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
        QCOMPARE(settings.sectionValues(QStringLiteral("USER\\<FACTORY DEFAULT>")).size(),
                 // keys with an empty factory value are not copied
                 defaults.sectionValues(QStringLiteral("USER\\<FACTORY DEFAULT>")).size() - 2);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
