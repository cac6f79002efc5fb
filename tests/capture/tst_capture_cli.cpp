#include "FaultyDisk.h"
#include "FixedLocale.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A capture whose third line is blank: the program layout stops there, after its first event.
const QByteArray BadRow("0001,0001,10:00:00:00,10:00:00:00,a\r\n"
                        "0002,0000,10:00:01:00,10:00:01:00,\r\n"
                        "\r\n"
                        "0004,0000,10:00:03:00,10:00:03:00,\r\n");

// A capture with an overlap, a comment with commas on the opening row and a last row with a
// camera on (so the closing row is made).
const QByteArray Capture("0001,0001,10:00:00:00,10:00:00:00,Wide, slow\r\n"
                         "0002,0003,10:00:02:00,10:00:02:00,\r\n"
                         "0003,0002,10:00:05:00,10:00:05:00,end\r\n");

// Its EDL after the title line, with the settings below.
const QByteArray Events("FCM: EBU\r\n"
                        "0001  Wide  V         C  10:00:00:00  10:00:05:00  10:00:00:00  10:00:05:00\r\n"
                        "* Wide, slowend\r\n"
                        "0002  Crane  DISSOLVE10C  10:00:02:00  10:00:05:00  10:00:02:00  10:00:05:00\r\n");

QByteArray settingsText(const QString &filename, bool withReel2)
{
    QByteArray text("[App]\r\nExe=corvane\r\n[Current]\r\nreelname1=Wide\r\n");
    if (withReel2)
        text += "reelname2=Crane\r\n";
    text += "edittype1=V\r\nedittype2=DISSOLVE10\r\n";
    for (int camera = 3; camera <= 16; ++camera)
        text += QStringLiteral("reelname%1=C%1\r\nedittype%1=V\r\n").arg(camera).toLatin1();
    if (!filename.isNull())
        text += "filename=" + filename.toLatin1() + "\r\n";
    return text;
}

// The factory camera table and file-name details, as corvane.def ships them.
QByteArray factorySettings(const QByteArray &extra = QByteArray())
{
    QByteArray text("[App]\r\nExe=corvane\r\n[Current]\r\nfilename=show\r\n");
    for (int camera = 1; camera <= 16; ++camera)
        text += QStringLiteral("reelname%1=CAM%1\r\nedittype%1=V\r\n").arg(camera).toLatin1();
    return text + extra;
}

QString sourceFile(const QString &relative)
{
    return qEnvironmentVariable("CORVANE_SOURCE_DIR") + QLatin1Char('/') + relative;
}

QByteArray golden(const QString &relative)
{
    return TestFiles::read(sourceFile(QStringLiteral("tests/capture/golden/") + relative));
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QDateTime before;
    QDateTime after;
};

} // namespace

// corvane-cli run as a process from a copy in a folder of its own, with its own default
// settings file beside it, without a display.
class TestCaptureCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_exe;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The sample and the night capture with their settings, in the test folder.
    void copyFixtures() const
    {
        const QList<QPair<QString, QString>> files{{QStringLiteral("resources/beside/edlf_8b23.gpo"), QStringLiteral("edlf_8b23.gpo")},
                                                   {QStringLiteral("tests/capture/data/night.gpo"), QStringLiteral("night.gpo")},
                                                   {QStringLiteral("tests/capture/data/night.ini"), QStringLiteral("night.ini")}};
        for (const auto &file : files) {
            if (!QFileInfo::exists(path(file.second)) && !QFile::copy(sourceFile(file.first), path(file.second)))
                qWarning("cannot copy %s", qPrintable(file.first));
        }
        TestFiles::write(path(QStringLiteral("factory.ini")), factorySettings());
        TestFiles::write(path(QStringLiteral("factory30.ini")), factorySettings("edlfps=30\r\n"));
    }

    Run run(const QStringList &arguments, const std::function<void()> &inChild = {}, const QString &input = {}) const
    {
        QProcess process;
        if (!input.isEmpty())
            process.setStandardInputFile(input);
        if (inChild)
            process.setChildProcessModifier(inChild);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir.path());
        Run result;
        result.before = QDateTime::currentDateTime();
        process.start(m_exe, arguments);
        if (!process.waitForFinished(60000))
            return result;
        result.after = QDateTime::currentDateTime();
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    // The title line as the program writes it at some second of the run, in the test's fixed
    // locale and zone (short date dd/MM/yyyy, long time HH:mm:ss and the zone).
    static bool isTitleLine(const QByteArray &line, const QString &title, const Run &r)
    {
        for (QDateTime t = r.before.addSecs(-1); t <= r.after.addSecs(1); t = t.addSecs(1)) {
            const QString expected = QStringLiteral("TITLE:   %1  %2  %3 UTC")
                                         .arg(title, t.toString(QStringLiteral("dd/MM/yyyy")),
                                              t.toString(QStringLiteral("HH:mm:ss")));
            if (line == expected.toLatin1())
                return true;
        }
        return false;
    }

    // Splits off the title line and checks it.
    static QByteArray afterTitle(const QByteArray &edl, const QString &title, const Run &r)
    {
        const qsizetype end = edl.indexOf("\r\n");
        if (end < 0 || !isTitleLine(edl.left(end), title, r)) {
            qWarning("unexpected title line: %s", edl.left(end).constData());
            return QByteArray();
        }
        return edl.mid(end + 2);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString built = QStringLiteral(CORVANE_CLI);
        m_exe = path(QFileInfo(built).fileName());
        QVERIFY(QFile::copy(built, m_exe));
        QVERIFY(QFile::setPermissions(m_exe, QFile::permissions(built)));
        // The factory defaults beside the program; reelname2 is missing there too.
        QVERIFY(TestFiles::write(path(QStringLiteral("corvane.def")),
                                 "[APP]\r\nExe=corvane\r\n[USER\\<FACTORY DEFAULT>]\r\nreelname1=F1\r\nfilename=factory\r\n"));
        QVERIFY(TestFiles::write(path(QStringLiteral("cap.gpo")), Capture));
    }

    void edlToStandardOutput()
    {
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        const QByteArray before = TestFiles::read(settings);
        const Run r = run({QStringLiteral("edl"), QStringLiteral("cap.gpo"), QStringLiteral("--settings"), settings});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(afterTitle(r.out, QStringLiteral("Gala"), r), Events);
        QCOMPARE(TestFiles::read(settings), before); // never written
    }

    // "-" names standard input for the capture and standard output for the EDL, in every
    // format.
    void standardInputAndOutput_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("corvane") << "corvane";
        QTest::newRow("cmx3600") << "cmx3600";
        QTest::newRow("otio") << "otio";
    }

    void standardInputAndOutput()
    {
        QFETCH(QString, format);
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        const QStringList options{QStringLiteral("--settings"), settings, QStringLiteral("--format"), format,
                                  QStringLiteral("--fps"), QStringLiteral("25")};
        const Run fromFile = run(QStringList{QStringLiteral("edl"), QStringLiteral("cap.gpo")} + options);
        const Run piped = run(QStringList{QStringLiteral("edl"), QStringLiteral("-"), QStringLiteral("-o"), QStringLiteral("-")} + options,
                              {}, path(QStringLiteral("cap.gpo")));
        QCOMPARE(piped.err, QByteArray());
        QCOMPARE(piped.exitCode, 0);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("-"))));
        // The same EDL apart from the moment in its title line.
        const auto body = [](const QByteArray &edl) { return edl.mid(edl.indexOf('\n')); };
        QVERIFY(piped.out.size() > 100);
        QCOMPARE(body(piped.out), body(fromFile.out));
    }

    void titleOptionAndOutputFile()
    {
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        const QString out = path(QStringLiteral("out.edl"));
        const Run r = run({QStringLiteral("edl"), QStringLiteral("cap.gpo"), QStringLiteral("--settings"), settings,
                           QStringLiteral("--title"), QStringLiteral("Finale, night 2"), QStringLiteral("-o"), out});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(afterTitle(TestFiles::read(out), QStringLiteral("Finale, night 2"), r), Events);
    }

    // Values missing from the settings come from the defaults beside the program; a value missing
    // there too is reported on standard error and left empty.
    void settingsFallback()
    {
        const QString settings = path(QStringLiteral("partial.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QString(), false)));
        const Run r = run({QStringLiteral("edl"), QStringLiteral("cap.gpo"), QStringLiteral("--settings"), settings});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err.trimmed(), QByteArray("corvane-cli: Default user value missing for reelname2"));
        QByteArray events = Events;
        events.replace("0002  Crane  ", "0002    ");
        QCOMPARE(afterTitle(r.out, QStringLiteral("factory"), r), events);
    }

    // Without --settings: corvane.ini beside the program, which may be missing (the program never
    // ran): then everything comes from corvane.def, and no settings file is made.
    void defaultSettingsBesideProgram()
    {
        const QString ini = path(QStringLiteral("corvane.ini"));
        QFile::remove(ini);
        Run r = run({QStringLiteral("edl"), QStringLiteral("cap.gpo")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFileInfo::exists(ini));
        QVERIFY(afterTitle(r.out, QStringLiteral("factory"), r).contains("0001  F1  "));

        QVERIFY(TestFiles::write(ini, settingsText(QStringLiteral("Beside"), true)));
        r = run({QStringLiteral("edl"), path(QStringLiteral("cap.gpo"))});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(afterTitle(r.out, QStringLiteral("Beside"), r), Events);
        QFile::remove(ini);
    }

    // A conversion error part-way: standard output has had the lines made so far, the message
    // goes to standard error, and the exit status says it failed.
    void conversionErrorPartWay()
    {
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        QVERIFY(TestFiles::write(path(QStringLiteral("bad.gpo")), BadRow));
        const Run r = run({QStringLiteral("edl"), QStringLiteral("bad.gpo"), QStringLiteral("--settings"), settings});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.trimmed(), QByteArray("corvane-cli: '$' is not a valid integer value"));
        QCOMPARE(afterTitle(r.out, QStringLiteral("Gala"), r),
                 QByteArray("FCM: EBU\r\n"
                            "0001  Wide  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00\r\n"
                            "* a\r\n"));
    }

    // A conversion that stops at an error, or is refused, leaves the file it would replace as it
    // was (a file per camera too), and makes none where there was none.
    void failedConversionKeepsTheOldFile_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output"); // the file that is there before (in the folder -o names, per camera)
        QTest::addColumn<QByteArray>("message");
        const QByteArray backwards("0001,0001,10:00:05:00,10:00:05:00,\r\n0002,0002,10:00:01:00,10:00:01:00,\r\n");
        const QByteArray earlier("is earlier than 10:00:05:00 of the row before");
        QTest::newRow("program layout, error part-way") << BadRow << QStringList{"-o", "out.edl"} << "out.edl"
                                                         << QByteArray("'$' is not a valid integer value");
        QTest::newRow("CMX 3600, rows out of order") << backwards << QStringList{"--format", "cmx3600", "-o", "out.edl"}
                                                      << "out.edl" << earlier;
        QTest::newRow("per camera, rows out of order")
            << backwards << QStringList{"--format", "cmx3600", "--per-camera", "-o", "cams"} << "cams/show_CAM1.edl" << earlier;
        QTest::newRow("OTIO, rows out of order") << backwards << QStringList{"--format", "otio", "--fps", "25", "-o", "out.otio"} << "out.otio"
                                                  << earlier;
        QTest::newRow("FCP 7 XML, rows out of order")
            << backwards << QStringList{"--format", "fcp7xml", "--fps", "25", "-o", "out.xml"} << "out.xml" << earlier;
    }

    void failedConversionKeepsTheOldFile()
    {
        QFETCH(QByteArray, capture);
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QFETCH(QByteArray, message);
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        QVERIFY(TestFiles::write(path(QStringLiteral("show.gpo")), capture));
        QVERIFY(QDir(m_dir.path()).mkpath(QFileInfo(path(output)).path()));
        const QByteArray old("an earlier export\r\n");
        const QStringList arguments = QStringList{QStringLiteral("edl"), QStringLiteral("show.gpo"), QStringLiteral("--settings"), settings} + options;

        QVERIFY(TestFiles::write(path(output), old));
        Run r = run(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QCOMPARE(TestFiles::read(path(output)), old);

        QVERIFY(QFile::remove(path(output)));
        r = run(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!QFileInfo::exists(path(output)));
    }

    // The formats editors read, from the same captures as the golden files, byte for byte.
    void formats_data()
    {
        QTest::addColumn<QString>("capture"); // file in the test folder
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("golden");
        QTest::newRow("cmx3600 of the night") << "night.gpo" << "night.ini" << QStringList{"--format", "cmx3600"}
                                              << "night/cmx3600.edl";
        QTest::newRow("cmx3600 of the sample") << "edlf_8b23.gpo" << "factory.ini" << QStringList{"--format", "cmx3600"}
                                               << "edlf_8b23/cmx3600.edl";
        QTest::newRow("otio at 25") << "edlf_8b23.gpo" << "factory.ini" << QStringList{"--format", "otio", "--fps", "25"}
                                    << "edlf_8b23/timeline.otio";
        QTest::newRow("fcp7xml at 30") << "edlf_8b23.gpo" << "factory.ini" << QStringList{"--format", "fcp7xml", "--fps", "30"}
                                       << "edlf_8b23/timeline-30fps.xml";
        QTest::newRow("rate from the settings") << "edlf_8b23.gpo" << "factory30.ini" << QStringList{"--format", "otio"}
                                                << "edlf_8b23/timeline-30fps.otio";
        QTest::newRow("--fps before the settings") << "edlf_8b23.gpo" << "factory30.ini"
                                                   << QStringList{"--format", "fcp7xml", "--fps", "25"}
                                                   << "edlf_8b23/timeline.xml";
    }

    void formats()
    {
        QFETCH(QString, capture);
        QFETCH(QString, settings);
        QFETCH(QStringList, options);
        QFETCH(QString, golden);
        copyFixtures();
        for (const bool toFile : {false, true}) {
            QStringList arguments = QStringList{QStringLiteral("edl"), capture, QStringLiteral("--settings"), path(settings)}
                                    + options;
            const QString out = path(QStringLiteral("out.") + QFileInfo(golden).suffix());
            QFile::remove(out);
            if (toFile)
                arguments << QStringLiteral("-o") << out;
            const Run r = run(arguments);
            QCOMPARE(r.err, QByteArray());
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(toFile ? TestFiles::read(out) : r.out, ::golden(golden));
        }
    }

    // --format corvane is today's output, with or without the option.
    void corvaneFormatIsTheDefault()
    {
        copyFixtures();
        const Run plain = run({QStringLiteral("edl"), QStringLiteral("night.gpo"), QStringLiteral("--settings"),
                               path(QStringLiteral("night.ini"))});
        const Run named = run({QStringLiteral("edl"), QStringLiteral("night.gpo"), QStringLiteral("--settings"),
                               path(QStringLiteral("night.ini")), QStringLiteral("--format"), QStringLiteral("corvane")});
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(named.exitCode, 0);
        const QByteArray events = ::golden(QStringLiteral("night/corvane.edl"));
        const QByteArray afterGoldenTitle = events.mid(events.indexOf("\r\n") + 2);
        QCOMPARE(afterTitle(plain.out, QStringLiteral("Nuit d'été"), plain), afterGoldenTitle);
        QCOMPARE(afterTitle(named.out, QStringLiteral("Nuit d'été"), named), afterGoldenTitle);
    }

    // One EDL per camera: <capture name>_<reel>.edl in the folder -o names (made when missing).
    void perCamera_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("golden");
        QTest::addColumn<bool>("titled"); // the Corvane layout's title line has the date and time
        QTest::newRow("cmx3600") << "cmx3600" << "night/cmx3600-per-camera" << false;
        QTest::newRow("corvane") << "corvane" << "night/corvane-per-camera" << true;
    }

    void perCamera()
    {
        QFETCH(QString, format);
        QFETCH(QString, golden);
        QFETCH(bool, titled);
        copyFixtures();
        const QString folder = path(QStringLiteral("cams-") + format + QStringLiteral("/deeper"));
        QDir(path(QStringLiteral("cams-") + format)).removeRecursively();
        const Run r = run({QStringLiteral("edl"), QStringLiteral("night.gpo"), QStringLiteral("--settings"),
                           path(QStringLiteral("night.ini")), QStringLiteral("--format"), format,
                           QStringLiteral("--per-camera"), QStringLiteral("-o"), folder});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray());
        const QDir goldenDir(sourceFile(QStringLiteral("tests/capture/golden/") + golden));
        const QStringList names = goldenDir.entryList(QDir::Files, QDir::Name);
        QVERIFY(names.contains(QStringLiteral("night_AX.edl")));
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), names);
        for (const QString &name : names) {
            const QByteArray made = TestFiles::read(QDir(folder).filePath(name));
            const QByteArray want = TestFiles::read(goldenDir.filePath(name));
            if (titled)
                QCOMPARE(afterTitle(made, QStringLiteral("Nuit d'été"), r), want.mid(want.indexOf("\r\n") + 2));
            else
                QCOMPARE(made, want);
        }
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message"); // on standard error
        QTest::newRow("no command") << QStringList{} << 2 << QByteArray("Usage: corvane-cli COMMAND");
        QTest::newRow("unknown command") << QStringList{"monitr"} << 2 << QByteArray("Unknown command: monitr");
        QTest::newRow("no capture file") << QStringList{"edl"} << 2 << QByteArray("Usage: corvane-cli edl");
        QTest::newRow("unknown option") << QStringList{"edl", "cap.gpo", "--titel", "x"} << 2 << QByteArray("Unknown option 'titel'");
        QTest::newRow("missing capture file") << QStringList{"edl", "nothere.gpo"} << 1 << QByteArray("Capture file not found: nothere.gpo");
        QTest::newRow("missing settings file") << QStringList{"edl", "cap.gpo", "--settings", "nothere.ini"} << 1
                                               << QByteArray("Settings file not found: nothere.ini");
        QTest::newRow("output not writable") << QStringList{"edl", "cap.gpo", "-o", "cap.gpo/x.edl"} << 1
                                             << QByteArray("Cannot write file cap.gpo/x.edl: Not a directory");
        QTest::newRow("settings file that is not one") << QStringList{"edl", "cap.gpo", "--settings", "cap.gpo"} << 1
                                                       << QByteArray("Not a Corvane settings file: cap.gpo\n");
        QTest::newRow("unknown format") << QStringList{"edl", "cap.gpo", "--format", "aaf"} << 2
                                        << QByteArray("Unknown format: aaf");
        QTest::newRow("per camera timeline") << QStringList{"edl", "cap.gpo", "--format", "otio", "--per-camera"} << 2
                                             << QByteArray("--per-camera is for the EDL formats");
        QTest::newRow("fps not a number") << QStringList{"edl", "cap.gpo", "--format", "otio", "--fps", "25.5"} << 2
                                          << QByteArray("--fps takes a whole number from 1 to 100");
        QTest::newRow("fps 0") << QStringList{"edl", "cap.gpo", "--format", "otio", "--fps", "0"} << 2
                               << QByteArray("--fps takes a whole number from 1 to 100");
        QTest::newRow("frames past the rate") << QStringList{"edl", "night.gpo", "--settings", "night.ini", "--format", "otio", "--fps", "24", "-o", "late.otio"}
                                              << 1 << QByteArray("has more frames than 24 a second");
        QTest::newRow("per camera into a file") << QStringList{"edl", "cap.gpo", "--per-camera", "-o", "cap.gpo"} << 1
                                                << QByteArray("Cannot make the folder cap.gpo");
        QTest::newRow("per camera to standard output") << QStringList{"edl", "cap.gpo", "--per-camera", "-o", "-"} << 2
                                                       << QByteArray("--per-camera writes a file per camera into a folder");
    }

    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        copyFixtures();
        const Run r = run(arguments);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("late.otio")))); // a timeline is whole or not at all
    }

    // Without its default settings file the EDL would have blank reel names: one clear line and
    // exit status 1 instead, and no output. (A program without corvane.def beside it is an
    // installed one, whose default settings belong in share/corvane.)
    void defaultSettingsFileMissing()
    {
        QTemporaryDir alone;
        const QString exe = alone.filePath(QFileInfo(m_exe).fileName());
        QVERIFY(QFile::copy(m_exe, exe));
        QVERIFY(QFile::setPermissions(exe, QFile::permissions(m_exe)));
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(exe, {QStringLiteral("edl"), QStringLiteral("cap.gpo")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError(),
                 QStringLiteral("corvane-cli: Default settings file is missing: %1\n")
                     .arg(QDir::cleanPath(alone.filePath(QStringLiteral("../share/corvane/corvane.def"))))
                     .toLocal8Bit());
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }

    // The EDL onto a full disk or past the file-size limit: the system's reason and status 1; an
    // old file stays whole and no empty file appears.
    void outputThatCannotBeWritten_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QByteArray>("reason");
        for (const bool existing : {true, false}) {
            QTest::addRow("full disk, %s", existing ? "existing file" : "new file") << true << existing << QByteArray("No space left on device");
            QTest::addRow("file-size limit, %s", existing ? "existing file" : "new file") << false << existing << QByteArray("File too large");
        }
    }

    void outputThatCannotBeWritten()
    {
        QFETCH(bool, fullDisk);
        QFETCH(bool, existing);
        QFETCH(QByteArray, reason);
        SmallFileSystem disk;
        if (fullDisk)
            SKIP_UNLESS_MOUNTED(disk);
        const QString out = fullDisk ? disk.filePath(QStringLiteral("a.edl")) : path(QStringLiteral("limited.edl"));
        if (existing)
            QVERIFY(TestFiles::write(out, "old\r\n"));
        else
            QFile::remove(out);
        std::function<void()> limit;
        if (fullDisk)
            QVERIFY(disk.fill() > 0);
        else
            limit = [] { FileSizeLimit::applyToChild(50); };
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        const Run r = run({QStringLiteral("edl"), QStringLiteral("cap.gpo"), QStringLiteral("--settings"), settings,
                           QStringLiteral("-o"), out},
                          limit);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, "corvane-cli: Cannot write file " + out.toLocal8Bit() + ": " + reason + "\n");
        QCOMPARE(QFileInfo::exists(out), existing);
        if (existing)
            QCOMPARE(TestFiles::read(out), QByteArray("old\r\n"));
    }

    // -o onto something that is not a file writes to it and leaves it what it was: a FIFO, a
    // character device, standard output ("-"), and /dev/null for a user who may not write in /dev.
    void outputThatIsNotAFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("character device node") << "device";
        QTest::newRow("standard output") << "-";
        QTest::newRow("/dev/null, not as root") << "/dev/null";
    }

    void outputThatIsNotAFile()
    {
        QFETCH(QString, target);
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        QStringList arguments{QStringLiteral("edl"), QStringLiteral("cap.gpo"), QStringLiteral("--settings"), settings,
                              QStringLiteral("-o")};
        QTemporaryDir nodes;
        const QString node = nodes.filePath(target);
        const QByteArray name = QFile::encodeName(node);
        QByteArray received;
        std::thread reader;
        int held = -1;
        std::function<void()> inChild;
        if (target == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
            // Open before the command starts: a FIFO nobody reads is not waited for. A write end of
            // the test's own keeps the reader from seeing the end before the command has begun.
            const int end = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            QVERIFY(end >= 0);
            QCOMPARE(::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) & ~O_NONBLOCK), 0);
            held = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
            QVERIFY(held >= 0);
            reader = std::thread([&received, end] {
                QFile pipe;
                if (pipe.open(end, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                    received = pipe.readAll();
            });
            arguments << node;
        } else if (target == QLatin1String("device")) {
            if (::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("making a device node needs root");
            arguments << node;
        } else if (target == QLatin1String("/dev/null")) {
            if (::getuid() != 0)
                QSKIP("runs the command as another user, which needs root");
            // The other user reaches the program and its files.
            QVERIFY(QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeOther | QFile::ReadOther));
            inChild = [] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(97);
            };
            arguments << target;
        } else {
            arguments << target;
        }
        const Run r = run(arguments, inChild);
        if (held >= 0)
            ::close(held);
        if (reader.joinable())
            reader.join();
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        if (target == QLatin1String("fifo"))
            QCOMPARE(afterTitle(received, QStringLiteral("Gala"), r), Events);
        if (target == QLatin1String("-"))
            QCOMPARE(afterTitle(r.out, QStringLiteral("Gala"), r), Events);
        else
            QCOMPARE(r.out, QByteArray());
        if (target == QLatin1String("/dev/null")) {
            struct stat st;
            QCOMPARE(::stat("/dev/null", &st), 0);
            QVERIFY(S_ISCHR(st.st_mode));
        } else if (target != QLatin1String("-")) {
            struct stat st;
            QCOMPARE(::stat(name.constData(), &st), 0);
            QVERIFY(target == QLatin1String("fifo") ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode));
            QCOMPARE(QDir(nodes.path()).entryList(QDir::Files | QDir::System | QDir::Hidden), QStringList{target});
        }
    }

    // A capture file whose lines end in CR alone (an old Macintosh program) reads as its rows,
    // and no CR reaches the EDL.
    void crOnlyLineEnds()
    {
        const QString settings = path(QStringLiteral("show.ini"));
        QVERIFY(TestFiles::write(settings, settingsText(QStringLiteral("Gala"), true)));
        QByteArray mac = Capture;
        mac.replace("\r\n", "\r");
        QVERIFY(TestFiles::write(path(QStringLiteral("mac.gpo")), mac));
        const Run r = run({QStringLiteral("edl"), QStringLiteral("mac.gpo"), QStringLiteral("--settings"), settings});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(afterTitle(r.out, QStringLiteral("Gala"), r), Events);
    }

    void help()
    {
        const Run r = run({QStringLiteral("edl"), QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: corvane-cli edl CAPTURE.gpo|- [--settings FILE] [--title TEXT] [-o OUT.edl|-]"));
        QVERIFY(r.out.contains("[--format corvane|cmx3600|otio|fcp7xml] [--per-camera] [--fps N]"));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCli)
#include "tst_capture_cli.moc"
