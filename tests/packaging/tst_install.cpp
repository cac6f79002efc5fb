// The installed tree, as a package or `cmake --install` lays it out, and its programs run as a
// user runs them: from a read-only prefix with the user's own folders, or copied into a folder
// of their own beside corvane.def (portable).

#include "TestFiles.h"
#include "UserFolders.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Every file of the installed tree, relative to the prefix.
const QStringList InstalledFiles{
    "bin/corvane",
    "bin/corvane-cli",
    "bin/orvex-sim",
    "share/applications/org.corvane.Corvane.desktop",
    "share/bash-completion/completions/corvane-cli",
    "share/corvane/Corvane.pdf",
    "share/corvane/corvane.def",
    "share/corvane/edlf_8b23.gpo",
    "share/doc/corvane/changelog.gz",
    "share/doc/corvane/copyright",
    "share/icons/hicolor/256x256/apps/corvane.png",
    "share/icons/hicolor/48x48/apps/corvane.png",
    "share/icons/hicolor/scalable/apps/corvane.svg",
    "share/man/man1/corvane-cli.1.gz",
    "share/man/man1/corvane.1.gz",
    "share/man/man1/orvex-sim.1.gz",
    "share/metainfo/org.corvane.Corvane.metainfo.xml",
};

QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The user guide's headings in the README: "## Using Corvane" up to "## Dependencies", outside
// code blocks, without their Markdown marks.
QStringList guideHeadings(const QString &readme)
{
    QStringList headings;
    bool inside = false;
    bool code = false;
    for (const QString &line : readme.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("```")))
            code = !code;
        if (code || !line.startsWith(QLatin1Char('#')))
            continue;
        const QString text = QString(line).remove(QRegularExpression(QStringLiteral("^#+\\s*"))).remove(QLatin1Char('`')).trimmed();
        if (line.startsWith(QLatin1String("## ")) && text.startsWith(QLatin1String("Using Corvane")))
            inside = true;
        else if (line.startsWith(QLatin1String("## ")) && text.startsWith(QLatin1String("Dependencies")))
            inside = false;
        if (inside)
            headings << text;
    }
    return headings;
}

// Text without its line breaks and spaces (a long heading wraps), ligatures undone.
QString compact(const QString &text)
{
    return text.normalized(QString::NormalizationForm_KC).remove(QRegularExpression(QStringLiteral("\\s+")));
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_prefix;
    std::unique_ptr<ReadOnlyFolder> m_readOnly;

    QString installed(const QString &relative) const { return QDir(m_prefix).filePath(relative); }

    // A user of their own: home, configuration, state and runtime folders under folder.
    static QProcessEnvironment userEnvironment(const QString &folder)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QDir user(folder);
        for (const char *sub : {"home", "config", "state", "run"})
            user.mkpath(QLatin1String(sub));
        QFile::setPermissions(user.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("HOME"), user.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), user.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), user.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), user.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    static Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                   const QString &input = {})
    {
        QProcess process;
        process.setProcessEnvironment(env);
        if (!input.isEmpty())
            process.setStandardInputFile(input);
        process.start(program, arguments);
        Run result;
        if (!process.waitForFinished(60000))
            return result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    // Waits until the started program has made its journal (the last of its start-up files, made
    // once its settings are written: a write error would have stopped it at a dialog before).
    static bool startedWith(QProcess &program, const QString &journal)
    {
        (void)QTest::qWaitFor([&] { return QFileInfo::exists(journal) || program.state() == QProcess::NotRunning; }, 60000);
        return QFileInfo::exists(journal) && program.state() == QProcess::Running;
    }

    static void stop(QProcess &program)
    {
        program.kill();
        program.waitForFinished(30000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath(QStringLiteral("prefix"));
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(CORVANE_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(CORVANE_BUILD_DIR), QStringLiteral("--prefix"), m_prefix});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0, install.readAll().constData());
        // Read-only as an installed tree is for its users; root passes the permission bits, so a
        // read-only mount where the system allows it.
        m_readOnly = std::make_unique<ReadOnlyFolder>();
        if (!m_readOnly->make(m_prefix)) {
            qWarning("%s; the prefix is made read-only by its permissions only", qPrintable(m_readOnly->reason));
            m_readOnly.reset();
            QVERIFY(QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("a-w"), m_prefix}) == 0);
        }
    }

    void cleanupTestCase()
    {
        m_readOnly.reset();
        QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), m_prefix});
    }

    void installsEveryFile()
    {
        QCOMPARE(filesUnder(m_prefix), InstalledFiles);
        for (const char *program : {"bin/corvane", "bin/corvane-cli", "bin/orvex-sim"})
            QVERIFY2(QFileInfo(installed(QLatin1String(program))).isExecutable(), program);
        // The default settings file is the one the build makes beside the program.
        QCOMPARE(TestFiles::read(installed(QStringLiteral("share/corvane/corvane.def"))),
                 TestFiles::read(QStringLiteral(CORVANE_BUILD_DIR "/bin/corvane.def")));
    }

    // The desktop's own checkers accept the desktop entry and the AppStream metadata.
    void validatorsAccept_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList{}
                                       << "share/applications/org.corvane.Corvane.desktop";
        QTest::newRow("AppStream metadata") << "appstreamcli" << QStringList{"validate", "--no-net"}
                                            << "share/metainfo/org.corvane.Corvane.metainfo.xml";
    }

    void validatorsAccept()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        const QString tool = QStandardPaths::findExecutable(validator);
        if (tool.isEmpty())
            QSKIP(qPrintable(validator + QStringLiteral(" is not installed (scripts/setup test installs it)")));
        const Run r = run(tool, arguments << installed(file), QProcessEnvironment::systemEnvironment());
        QVERIFY2(r.exitCode == 0, (r.out + r.err).constData());
        // Warnings fail as well as errors.
        QVERIFY2(!r.out.contains("W:") && !r.out.contains("E:") && !r.err.contains("warning"), (r.out + r.err).constData());
    }

    // The completion file loads in bash and registers corvane-cli's completion.
    void bashCompletionLoads()
    {
        const QString bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
        if (bash.isEmpty())
            QSKIP("bash is not installed");
        const Run r = run(bash, {QStringLiteral("-c"), QStringLiteral("source \"$0\" && complete -p corvane-cli"),
                                 installed(QStringLiteral("share/bash-completion/completions/corvane-cli"))},
                          QProcessEnvironment::systemEnvironment());
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("complete -F _corvane_cli corvane-cli\n"));
    }

    // The manual is the README's user guide: every heading of it is in the PDF's text.
    void manualHoldsTheUserGuide()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is not installed (poppler-utils; scripts/setup test installs it)");
        const Run r = run(pdftotext, {QStringLiteral("-layout"), installed(QStringLiteral("share/corvane/Corvane.pdf")), QStringLiteral("-")},
                          QProcessEnvironment::systemEnvironment());
        QCOMPARE(r.exitCode, 0);
        const QString text = compact(QString::fromUtf8(r.out));
        const QStringList headings = guideHeadings(QString::fromUtf8(TestFiles::read(qEnvironmentVariable("CORVANE_SOURCE_DIR") + QStringLiteral("/README.md"))));
        QVERIFY(headings.size() > 5);
        QVERIFY(text.startsWith(QStringLiteral("CorvaneManualVersion" CORVANE_VERSION_TEXT)));
        for (const QString &heading : headings)
            QVERIFY2(text.contains(compact(heading)), qPrintable(heading));
        // Only the guide: the build instructions before it and the reference after it stay out.
        QVERIFY(!text.contains(QStringLiteral("Set-up")));
        QVERIFY(!text.contains(QStringLiteral("Dependencies")));
    }

    void versionAndHelp_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("start");
        for (const char *program : {"corvane", "corvane-cli", "orvex-sim"}) {
            QTest::addRow("%s --version", program) << program << "--version" << QByteArray(program) + " " CORVANE_VERSION_TEXT "\n";
            QTest::addRow("%s --help", program) << program << "--help" << "Usage: " + QByteArray(program);
        }
    }

    // Answered on standard output with status 0, without a display and without opening anything.
    void versionAndHelp()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QByteArray, start);
        QTemporaryDir user;
        QProcessEnvironment env = userEnvironment(user.path());
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        const Run r = run(installed(QStringLiteral("bin/") + program), {option}, env);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith(start), r.out.constData());
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("config"))), QStringList());
    }

    // Installed, corvane-cli finds the default settings in share/corvane, reads the capture from
    // standard input and writes the EDL to standard output.
    void cliEdlThroughStandardStreams()
    {
        QTemporaryDir user;
        const Run r = run(installed(QStringLiteral("bin/corvane-cli")),
                          {QStringLiteral("edl"), QStringLiteral("-"), QStringLiteral("-o"), QStringLiteral("-")},
                          userEnvironment(user.path()), installed(QStringLiteral("share/corvane/edlf_8b23.gpo")));
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("TITLE:   show "), r.out.constData());
        QVERIFY2(r.out.contains("\r\n0001  CAM1  V         C  10:00:00:00  "), r.out.constData());
    }

    // Started from the read-only prefix: settings in XDG_CONFIG_HOME/corvane, the journal in
    // XDG_STATE_HOME/corvane, nothing in the prefix, and no write error on the way.
    void installedProgramUsesTheUserFolders()
    {
        QTemporaryDir user;
        const QProcessEnvironment env = userEnvironment(user.path());
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(user.filePath(QStringLiteral("home")));
        program.start(installed(QStringLiteral("bin/corvane")), {});
        const QString journal = user.filePath(QStringLiteral("state/corvane/corvane.journal"));
        const bool started = startedWith(program, journal);
        const QByteArray told = program.readAllStandardError();
        stop(program);
        QVERIFY2(started, told.constData());
        const QByteArray settings = TestFiles::read(user.filePath(QStringLiteral("config/corvane/corvane.ini")));
        QVERIFY(settings.contains("[USER\\<FACTORY DEFAULT>]"));
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("config"))), QStringList{"corvane/corvane.ini"});
        // The journal, and its lock (the program was killed: a lock left behind blocks no start).
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("state"))),
                 QStringList({"corvane/corvane.journal", "corvane/corvane.journal.lock"}));
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("run"))), QStringList{"corvaneOneCopy.lock"});
        QCOMPARE(filesUnder(m_prefix), InstalledFiles);
        QVERIFY2(!told.contains("Unable to write"), told.constData());
    }

    // Copied into a writable folder with corvane.def beside it: everything stays there.
    void portableCopyKeepsItsFilesBesideItself()
    {
        QTemporaryDir user;
        const QProcessEnvironment env = userEnvironment(user.path());
        const QDir folder(user.filePath(QStringLiteral("portable")));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QVERIFY(QFile::copy(installed(QStringLiteral("bin/corvane")), folder.filePath(QStringLiteral("corvane"))));
        QVERIFY(QFile::copy(installed(QStringLiteral("share/corvane/corvane.def")), folder.filePath(QStringLiteral("corvane.def"))));
        QVERIFY(QFile::setPermissions(folder.filePath(QStringLiteral("corvane.def")), QFile::ReadOwner | QFile::WriteOwner));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(folder.filePath(QStringLiteral("corvane")), {});
        const bool started = startedWith(program, folder.filePath(QStringLiteral("corvane.journal")));
        const QByteArray told = program.readAllStandardError();
        stop(program);
        QVERIFY2(started, told.constData());
        QVERIFY(TestFiles::read(folder.filePath(QStringLiteral("corvane.ini"))).contains("[USER\\<FACTORY DEFAULT>]"));
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("config"))), QStringList());
        QCOMPARE(filesUnder(user.filePath(QStringLiteral("state"))), QStringList());
    }

    // Two users start at once, each with their own runtime folder; a second start by the same
    // user is refused while the first runs.
    void oneCopyPerUser()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        QProcess one;
        QProcess two;
        one.setProcessEnvironment(userEnvironment(first.path()));
        two.setProcessEnvironment(userEnvironment(second.path()));
        one.start(installed(QStringLiteral("bin/corvane")), {});
        two.start(installed(QStringLiteral("bin/corvane")), {});
        const bool oneStarted = startedWith(one, first.filePath(QStringLiteral("state/corvane/corvane.journal")));
        const bool twoStarted = startedWith(two, second.filePath(QStringLiteral("state/corvane/corvane.journal")));
        const Run again = run(installed(QStringLiteral("bin/corvane")), {}, userEnvironment(first.path()));
        const QByteArray told = one.readAllStandardError() + two.readAllStandardError();
        stop(one);
        stop(two);
        QVERIFY2(oneStarted && twoStarted, told.constData());
        QCOMPARE(again.exitCode, 1);
        QVERIFY2(again.err.contains("Corvane is already running."), again.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
