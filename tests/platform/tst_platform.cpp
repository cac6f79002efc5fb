#include "AppPaths.h"
#include "Clock.h"
#include "ErrorReport.h"
#include "Errors.h"
#include "FaultyDisk.h"
#include "Latin1Text.h"
#include "SingleInstance.h"
#include "TestFiles.h"
#include "UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <qplatformdefs.h>
#include <QSysInfo>

#include <QTest>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <stdexcept>

#include <unistd.h>

namespace {

// Throws from its event handler, as an operation started by a timer or a user action might.
class Thrower : public QObject {
public:
    int handled = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User) {
            ++handled;
            throw CorvaneError(QStringLiteral("Unable to write to /x.edl"));
        }
        if (e->type() == QEvent::Type(QEvent::User + 1)) {
            ++handled;
            throw std::runtime_error("plain failure");
        }
        return QObject::event(e);
    }
};

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void splitLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList({"a", "b"});
        QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList({"a", "b"});
        QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList({"a", "b"});
        QTest::newRow("empty lines kept") << QByteArray("\r\n\r\nx\r\n") << QStringList({"", "", "x"});
        QTest::newRow("lone CR stays") << QByteArray("a\rb\n") << QStringList({"a\rb"});
        QTest::newRow("Latin-1") << QByteArray("caf\xe9\n") << QStringList({QString::fromLatin1("caf\xe9")});
    }

    void splitLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(Latin1Text::splitLines(bytes), lines);
    }

    void joinLinesWritesCrLfLatin1()
    {
        const QStringList lines{QStringLiteral("a"), QString(), QStringLiteral("\u00e9\u20ac")};
        QCOMPARE(Latin1Text::joinLines(lines), QByteArray("a\r\n\r\n\xe9?\r\n"));
    }

    void filesBesideTheProgram_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("settings");
        QTest::newRow("linux") << "corvane" << "corvane.ini";
        QTest::newRow("windows") << "corvane.exe" << "corvane.ini";
        QTest::newRow("dots kept") << "corvane-1.2" << "corvane-1.2.ini";
    }

    void filesBesideTheProgram()
    {
        QFETCH(QString, exe);
        QFETCH(QString, settings);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString defaults = QFileInfo(settings).completeBaseName() + QStringLiteral(".def");
        QVERIFY(TestFiles::write(dir.filePath(defaults), "[App]\r\n"));
        AppPaths::setProgramFolder(dir.path());
        AppPaths::setExecutableFileName(exe);
        QVERIFY(AppPaths::isPortable());
        QCOMPARE(AppPaths::settingsFilePath(), dir.filePath(settings));
        QCOMPARE(AppPaths::defaultSettingsFilePath(), dir.filePath(defaults));
        QCOMPARE(AppPaths::programFolderWithSeparator(), dir.path() + QLatin1Char('/'));
        AppPaths::setProgramFolder(QString());
        AppPaths::setExecutableFileName(QString());
        QCOMPARE(AppPaths::programFolder(), QCoreApplication::applicationDirPath());
        QCOMPARE(AppPaths::executableFileName(), QStringLiteral("tst_platform"));
    }

    // Portable only where the folder is writable and holds the default settings file; else the
    // user's files go to the XDG folders and the shipped ones come from share/corvane.
    void portableOrInstalled_data()
    {
        QTest::addColumn<bool>("withDefaults");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("portable");
        QTest::newRow("writable with corvane.def") << true << false << true;
        QTest::newRow("writable without corvane.def") << false << false << false;
        QTest::newRow("read-only with corvane.def") << true << true << false;
        QTest::newRow("read-only without corvane.def") << false << true << false;
    }

    void portableOrInstalled()
    {
        QFETCH(bool, withDefaults);
        QFETCH(bool, readOnly);
        QFETCH(bool, portable);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QDir tree(root.path());
        QVERIFY(tree.mkpath(QStringLiteral("usr/bin")) && tree.mkpath(QStringLiteral("usr/share/corvane")));
        QVERIFY(TestFiles::write(tree.filePath(QStringLiteral("usr/share/corvane/corvane.def")), "[App]\r\n"));
        QVERIFY(TestFiles::write(tree.filePath(QStringLiteral("usr/share/corvane/Corvane.pdf")), "%PDF-1.4\n"));
        const QString bin = tree.filePath(QStringLiteral("usr/bin"));
        if (withDefaults)
            QVERIFY(TestFiles::write(tree.filePath(QStringLiteral("usr/bin/corvane.def")), "[App]\r\n"));
        ReadOnlyFolder locked;
        if (readOnly && !locked.make(bin))
            QSKIP(qPrintable(locked.reason));
        const QString config = tree.filePath(QStringLiteral("config"));
        const QString state = tree.filePath(QStringLiteral("state"));
        const QString home = tree.filePath(QStringLiteral("home"));
        EnvironmentOverride environment({{"XDG_CONFIG_HOME", config}, {"XDG_STATE_HOME", state}, {"HOME", home}});
        AppPaths::setProgramFolder(bin);
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));

        QCOMPARE(AppPaths::isPortable(), portable);
        const QString userConfig = portable ? bin : config + QStringLiteral("/corvane");
        const QString userState = portable ? bin : state + QStringLiteral("/corvane");
        QCOMPARE(AppPaths::settingsFilePath(), userConfig + QStringLiteral("/corvane.ini"));
        QCOMPARE(AppPaths::midiIoFilePath(), userConfig + QStringLiteral("/midiio.ini"));
        QCOMPARE(AppPaths::journalFilePath(), userState + QStringLiteral("/corvane.journal"));
        const QString shipped = portable ? bin : tree.filePath(QStringLiteral("usr/share/corvane"));
        QCOMPARE(AppPaths::defaultSettingsFilePath(), shipped + QStringLiteral("/corvane.def"));
        QCOMPARE(AppPaths::shippedFile(QStringLiteral("Corvane.pdf")), (portable ? bin : shipped) + QStringLiteral("/Corvane.pdf"));
        // Installed, a file that only the program's folder has is taken from there (a flat
        // installation); one that is nowhere is named where it belongs.
        QCOMPARE(AppPaths::shippedFile(QStringLiteral("orvex-usb.pdf")), shipped + QStringLiteral("/orvex-usb.pdf"));
        if (!readOnly) {
            QVERIFY(TestFiles::write(tree.filePath(QStringLiteral("usr/bin/orvex-usb.pdf")), "%PDF-1.4\n"));
            QCOMPARE(AppPaths::shippedFile(QStringLiteral("orvex-usb.pdf")), bin + QStringLiteral("/orvex-usb.pdf"));
        }
        QCOMPARE(AppPaths::userFilesFolder(), portable ? bin : home);

        QVERIFY(AppPaths::makeUserFolders());
        QCOMPARE(QFileInfo(config + QStringLiteral("/corvane")).isDir(), !portable);
        QCOMPARE(QFileInfo(state + QStringLiteral("/corvane")).isDir(), !portable);
        AppPaths::setProgramFolder(QString());
        AppPaths::setExecutableFileName(QString());
    }

    // Unset or relative XDG variables mean their defaults under the home folder.
    void xdgDefaults_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("relative") << QByteArray("relative/config");
    }

    void xdgDefaults()
    {
        QFETCH(QByteArray, value);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        EnvironmentOverride environment({{"XDG_CONFIG_HOME", QString::fromLatin1(value)},
                                         {"XDG_STATE_HOME", QString::fromLatin1(value)},
                                         {"HOME", root.path()}});
        AppPaths::setProgramFolder(root.filePath(QStringLiteral("bin")));
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QCOMPARE(AppPaths::settingsFilePath(), root.path() + QStringLiteral("/.config/corvane/corvane.ini"));
        QCOMPARE(AppPaths::journalFilePath(), root.path() + QStringLiteral("/.local/state/corvane/corvane.journal"));
        AppPaths::setProgramFolder(QString());
        AppPaths::setExecutableFileName(QString());
    }

    void injectedClock()
    {
        const QDateTime moment(QDate(2008, 11, 23), QTime(14, 30, 5));
        FixedClock clock(moment);
        setAppClock(&clock);
        QCOMPARE(appClock().now(), moment);
        setAppClock(nullptr);
        QVERIFY(qAbs(appClock().now().secsTo(QDateTime::currentDateTime())) < 60);
    }

    // An exception escaping an event handler is shown and the program goes on.
    void generalErrorHandler()
    {
        QStringList shown;
        const ErrorPresenter previous = setErrorPresenter([&](const QString &m) { shown << m; });
        Thrower thrower;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 1)));
        QTRY_COMPARE(thrower.handled, 2);
        QCOMPARE(shown, QStringList({"Unable to write to /x.edl", "plain failure"}));

        // The same for a slot wrapped by guarded().
        bool after = false;
        QTimer::singleShot(0, qApp, guarded([] { throw CorvaneError(QStringLiteral("from a slot")); }));
        QTimer::singleShot(0, qApp, [&] { after = true; });
        QTRY_VERIFY(after);
        QCOMPARE(shown.last(), QStringLiteral("from a slot"));
        setErrorPresenter(previous);
    }

    void singleInstance()
    {
        const QString name = QStringLiteral("corvaneTestLock%1").arg(QCoreApplication::applicationPid());
        SingleInstance first(name);
        QVERIFY(first.tryAcquire());
        QVERIFY(first.tryAcquire());
        SingleInstance second(name);
        QVERIFY(!second.tryAcquire());
    }

    // The lock is the user's: kept in the session's runtime folder, so another user (another
    // runtime folder) starts beside it, while the same one is still held.
    void lockIsPerUser()
    {
        QTemporaryDir first;
        QTemporaryDir other;
        QVERIFY(first.isValid() && other.isValid());
        const QString name = QStringLiteral("corvaneTestUser%1").arg(QCoreApplication::applicationPid());
        EnvironmentOverride one({{"XDG_RUNTIME_DIR", first.path()}});
        SingleInstance mine(name);
        QCOMPARE(mine.lockFilePath(), first.filePath(name + QStringLiteral(".lock")));
        QVERIFY(mine.tryAcquire());
        {
            EnvironmentOverride two({{"XDG_RUNTIME_DIR", other.path()}});
            SingleInstance theirs(name);
            QCOMPARE(theirs.lockFilePath(), other.filePath(name + QStringLiteral(".lock")));
            QVERIFY(theirs.tryAcquire());
        }
        SingleInstance again(name);
        QVERIFY(!again.tryAcquire());
    }

    // Without XDG_RUNTIME_DIR: the user's own folder in the temporary folder, closed to others;
    // one that someone else made open (or a file in its place) is not taken.
    void lockWithoutRuntimeFolder()
    {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        EnvironmentOverride environment({{"XDG_RUNTIME_DIR", QString()}, {"TMPDIR", temp.path()}});
        const QString own = temp.filePath(QStringLiteral("corvane-%1").arg(::geteuid()));
        QCOMPARE(SingleInstance::runtimeFolder(), own);
        QT_STATBUF info;
        QCOMPARE(QT_LSTAT(QFile::encodeName(own).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        QVERIFY(QDir(own).removeRecursively());
        QVERIFY(QDir().mkdir(own));
        QVERIFY(QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                | QFile::WriteOther | QFile::ExeOther));
        QCOMPARE(SingleInstance::runtimeFolder(), QDir::tempPath());
    }

    // A runtime folder that cannot take the lock file (read-only, or full) is no reason to refuse
    // a start, nor to say that another copy runs: the lock goes to the user's private folder, and
    // is held there against a second copy.
    void unusableRuntimeFolderFallsBackToThePrivateOne_data()
    {
        QTest::addColumn<bool>("full"); // else read-only
        QTest::newRow("read-only") << false;
        QTest::newRow("full") << true;
    }

    void unusableRuntimeFolderFallsBackToThePrivateOne()
    {
        QFETCH(bool, full);
        SmallFileSystem runtime;
        SKIP_UNLESS_MOUNTED(runtime);
        QVERIFY(full ? runtime.fill() > 0 : runtime.makeReadOnly());
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        EnvironmentOverride environment({{"XDG_RUNTIME_DIR", runtime.path()}, {"TMPDIR", temp.path()}});
        const QString name = QStringLiteral("corvaneTestFallback%1").arg(QCoreApplication::applicationPid());
        const QString privateLock = QDir(SingleInstance::privateFolder()).filePath(name + QStringLiteral(".lock"));
        QVERIFY(privateLock.startsWith(temp.path()));

        SingleInstance first(name);
        QVERIFY(first.tryAcquire());
        QCOMPARE(first.lockFilePath(), privateLock);
        SingleInstance second(name);
        QVERIFY(!second.tryAcquire());
        QVERIFY(second.heldByAnother());
        QCOMPARE(second.lockFilePath(), privateLock);
    }

    void lockOfADeadProcessIsFree()
    {
        const QString name = QStringLiteral("corvaneTestStale%1").arg(QCoreApplication::applicationPid());
        {
            // A child takes the lock and is killed without releasing it.
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LOCK_HOLDER_CHILD"), name);
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForReadyRead(30000));
            QCOMPARE(child.readAll().trimmed(), QByteArray("locked"));
            SingleInstance whileAlive(name);
            QVERIFY(!whileAlive.tryAcquire());
            QCOMPARE(whileAlive.ownerProcessId(), child.processId());
            // Even with its file spoilt, a live owner keeps its lock.
            QVERIFY(TestFiles::write(whileAlive.lockFilePath(), QByteArray(64, '\0')));
            QVERIFY(!whileAlive.tryAcquire());
            child.kill();
            QVERIFY(child.waitForFinished());
        }
        SingleInstance after(name);
        QVERIFY(QFile::exists(after.lockFilePath()));
        QVERIFY(after.tryAcquire());
    }

    // What a power cut or a crash can leave in the lock file never keeps the program from
    // starting: the lock is taken, and the file then names this process.
    void leftLockFilesNeverBlock_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("zero-filled") << QByteArray(4096, '\0');
        QTest::newRow("garbage") << QByteArray("\xff\xfe\x01 not a lock\n\x80");
        QTest::newRow("a process that is gone") << QByteArray("<dead>\ncorvane\n") + QSysInfo::machineHostName().toUtf8() + '\n';
    }

    void leftLockFilesNeverBlock()
    {
        QFETCH(QByteArray, content);
        if (content.startsWith("<dead>")) {
            // A process that ran and was waited for: its number is read while it runs (QProcess
            // forgets it once the process has ended), and no process has that number any more.
            QProcess gone;
            gone.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
            QVERIFY(gone.waitForStarted(30000));
            const qint64 pid = gone.processId();
            QVERIFY(pid > 0);
            QVERIFY(gone.waitForFinished(30000));
            QVERIFY2(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH,
                     qPrintable(QStringLiteral("process %1 is still there").arg(pid)));
            content.replace("<dead>", QByteArray::number(pid));
        }
        const QString name = QStringLiteral("corvaneTestLeft%1").arg(QCoreApplication::applicationPid());
        const QString path = SingleInstance::lockFilePathFor(name);
        QVERIFY(TestFiles::write(path, content));
        {
            SingleInstance lock(name);
            QCOMPARE(lock.lockFilePath(), path);
            QVERIFY(lock.tryAcquire());
            QCOMPARE(lock.ownerProcessId(), QCoreApplication::applicationPid());
        }
        QVERIFY(!QFile::exists(path));
    }

    void presenterThatThrowsDoesNotEscape()
    {
        const ErrorPresenter previous = setErrorPresenter([](const QString &) { throw std::runtime_error("x"); });
        QVERIFY(!runGuarded([] { throw CorvaneError(QStringLiteral("boom")); }));
        setErrorPresenter(previous);
    }
};

// Child process of lockOfADeadProcessIsFree: holds the lock until it is killed.
static int holdLock(const QString &name)
{
    SingleInstance lock(name);
    if (!lock.tryAcquire())
        return 1;
    fputs("locked\n", stdout);
    fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("LOCK_HOLDER_CHILD")) {
        QCoreApplication core(argc, argv);
        return holdLock(qEnvironmentVariable("LOCK_HOLDER_CHILD"));
    }
    GuardedApplication app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"
