// Corvane end to end on a real MIDI server (the private JACK server of the JackServer fixture),
// with orvex-sim as the interface: the capture window and the MIDI device window wired as the
// program wires them start with both devices remembered, ask for the revision once, turn a
// scripted show with running timecode into capture rows and the rows into an EDL, and end through
// the exit sequence. Then the same show through corvane-cli capture.

#include "AppPaths.h"
#include "CaptureDeviceWindow.h"
#include "CaptureList.h"
#include "Clock.h"
#include "DialogScript.h"
#include "ErrorReport.h"
#include "FixedLocale.h"
#include "KxSettings.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "OrvexSimProcess.h"
#include "RtMidiService.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using WindowSettings::defaultSettings;

namespace {

const QDateTime Moment(QDate(2008, 11, 23), QTime(14, 30, 5));

// The show: 100 camera switches among cameras 1 to 4, every seventh with camera 16 as well,
// 13 frames apart from 10:00:00:00 at 25 frames per second, 5 ms apart in real time.
constexpr int ShowEvents = 100;

QList<ScriptLine> show()
{
    QList<ScriptLine> lines;
    for (int i = 0; i < ShowEvents; ++i) {
        const int frames = i * 13;
        const int mask = (1 << (i % 4)) | (i % 7 == 0 ? 0x8000 : 0);
        lines.append({mask, QString::asprintf("10:00:%02d:%02d", frames / 25, frames % 25), 5});
    }
    return lines;
}

// The capture file lines of the show's rows.
QStringList showRows()
{
    QStringList rows;
    int item = 0;
    for (const ScriptLine &line : show())
        rows << QStringLiteral("%1,%2,%3,%3,").arg(++item, 4, 10, QLatin1Char('0')).arg(cameraState(line.mask), line.timecode);
    return rows;
}

QStringList rowsOf(const CaptureList &list)
{
    QStringList rows;
    for (int r = 0; r < list.count(); ++r)
        rows << QStringList{list.text(r, 0), list.text(r, 1), list.text(r, 2), list.text(r, 3), list.text(r, 4)}.join(',');
    return rows;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RtMidiService> m_service;
    FixedClock m_clock{Moment};
    QStringList m_errors;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"),
                 "run through CTest: the JackServer fixture starts the server");
        QVERIFY(m_dir.isValid());
        AppPaths::setProgramFolder(m_dir.path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QVERIFY(TestFiles::write(path(QStringLiteral("corvane.def")), defaultSettings()));
        QVERIFY(writeScript(path(QStringLiteral("show.txt")), show()));
        setAppClock(&m_clock);
        setErrorPresenter([this](const QString &message) { m_errors << message; });
        m_service = std::make_unique<RtMidiService>(QStringLiteral("corvane-e2e"));
        setMidiService(m_service.get());
    }

    void cleanupTestCase()
    {
        setMidiService(nullptr);
        m_service.reset();
        setAppClock(nullptr);
        setErrorPresenter({});
        AppPaths::setProgramFolder(QString());
        AppPaths::setExecutableFileName(QString());
    }

    void captureWindows()
    {
        OrvexSimProcess simulator({"--script", path(QStringLiteral("show.txt")), "--wait-query", "--fps", "25",
                                   "--start", "10:00:00:00", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);
        QVERIFY(TestFiles::write(path(QStringLiteral("midiio.ini")),
                                 "[midiio]\r\nmidiin=" + simulator.inputName().toLatin1() + "\r\nmidiout="
                                     + simulator.outputName().toLatin1() + "\r\n"));

        // As the program starts: the capture window, the device window hidden, the two joined,
        // the placements, then the capture window shown.
        DialogScript dialogs;
        auto edlf = std::make_unique<Tedlf>();
        auto midiiof = std::make_unique<Tmidiiof>();
        auto devices = std::make_unique<CaptureDeviceWindow>(*edlf, *midiiof);
        SettingsFile->RestoreAllWindows();
        edlf->show();

        // Both remembered devices open, and exactly one revision query goes out.
        QVERIFY(midiiof->OpenIn->isChecked());
        QVERIFY(midiiof->OpenOut->isChecked());
        QCOMPARE(midiiof->MidiInput1->State(), psOpen);
        QCOMPARE(midiiof->MidiOutput1->State(), psOpen);
        QVERIFY(!midiiof->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(midiiof->revtext->text(), QStringLiteral("Core 02.10 Build 00.35 HW 01.62"), 10000);
        QCOMPARE(midiiof->revtext2->text(), QStringLiteral("Main 03.01 Build 00.12 Vexa-16"));
        QCOMPARE(midiiof->vmout->toPlainText(), QStringLiteral(" F0 7E 00 11 00 F7 "));

        // The show becomes rows, in order, with their camera states and timecodes.
        QTRY_COMPARE_WITH_TIMEOUT(edlf->captureList().count(), ShowEvents, 20000);
        QCOMPARE(rowsOf(edlf->captureList()), showRows());
        QTRY_VERIFY(simulator.lines().contains(QStringLiteral("script done %1").arg(ShowEvents)));
        QCOMPARE(simulator.count(QStringLiteral("revision query")), 1);
        QCOMPARE(edlf->captureList().count(), ShowEvents);
        QCOMPARE(midiiof->m8data->toPlainText().count(QStringLiteral("24:  ")), ShowEvents);

        // The running timecode on both labels: on from the simulator's start, however long the
        // start-up took, and moving.
        const QRegularExpression running(QStringLiteral("^\\d\\d:[0-5]\\d:[0-5]\\d:[0-2]\\d$"));
        QTRY_VERIFY(running.match(midiiof->tcpoz->text()).hasMatch()
                    && midiiof->tcpoz->text() >= QLatin1String("10:00:00:00"));
        const QString seen = midiiof->tcpoz->text();
        QTRY_VERIFY(midiiof->tcpoz->text() != seen);
        QTRY_COMPARE(edlf->tcpoz->text(), midiiof->tcpoz->text());
        QVERIFY(midiiof->mtccount->text() != QLatin1String("00"));

        // Make: the title details, then the EDL of the rows.
        dialogs.then(DialogScript::enter(QStringLiteral("Gala")));
        QTest::mouseClick(edlf->button5, Qt::LeftButton);
        QCOMPARE(dialogs.pending(), 0);
        const QStringList memo = edlf->Memo1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(memo.value(0), QStringLiteral("TITLE:   Gala  23/11/2008  14:30:05 UTC"));
        QCOMPARE(memo.value(1), QStringLiteral("FCM: EBU"));
        QCOMPARE(memo.value(2), QStringLiteral("0001  CAM1  V         C  10:00:00:00  10:00:00:13  10:00:00:00  10:00:00:13"));
        // The whole EDL is the show's (golden/gala.edl; CORVANE_UPDATE_GOLDEN=1 rewrites it).
        const QByteArray made = memo.join(QStringLiteral("\r\n")).toLatin1() + "\r\n";
        const QString golden = qEnvironmentVariable("CORVANE_SOURCE_DIR") + QStringLiteral("/tests/e2e/golden/gala.edl");
        const QString difference = TestFiles::goldenDifference(golden, made);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // "USB" shows the device window, whose start-up asks for the revision again without
        // reopening the ports; again hides it.
        edlf->devices()->ShowHide();
        QVERIFY(midiiof->isVisible());
        QTRY_COMPARE(simulator.count(QStringLiteral("revision query")), 2);
        QCOMPARE(midiiof->MidiInput1->State(), psOpen);
        edlf->devices()->ShowHide();
        QVERIFY(!midiiof->isVisible());

        // Exit: the question, the ports closed at once, the input and both windows a second later.
        dialogs.then(DialogScript::ok());
        edlf->kexitClick();
        QCOMPARE(dialogs.seen().value(1), QStringLiteral("Exit File|Exit without saving EDL?"));
        QCOMPARE(midiiof->MidiOutput1->State(), psClosed);
        QCOMPARE(midiiof->MidiInput1->State(), psOpen); // stopped, closed with the windows
        QTRY_COMPARE_WITH_TIMEOUT(midiiof->MidiInput1->State(), psClosed, 5000);
        QTRY_VERIFY(!edlf->isVisible());
        QVERIFY(m_errors.isEmpty());

        devices.reset(); // the joint goes before the windows it joins
        midiiof.reset();
        edlf.reset();
        CloseSettingsFile();
    }

    // The same show through corvane-cli capture, stopped by SIGTERM: an existing capture file is
    // continued, its unfinished last line ended first.
    void captureCommand()
    {
        const QString file = path(QStringLiteral("show.gpo"));
        QVERIFY(TestFiles::write(file, "0001,0001,09:59:00:00,09:59:00:00,rehearsal\r\n0002,0000,09:59:10:00,09:59:10:00,"));
        OrvexSimProcess simulator({"--script", path(QStringLiteral("show.txt")), "--wait-query", "--fps", "25",
                                   "--start", "10:00:00:00", "--quiet"});
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(simulator.readyLine()), 20000);

        QProcess cli;
        cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cli.start(QStringLiteral(CORVANE_CLI), {"capture", "--in", simulator.inputName(), "--out",
                                                simulator.outputName(), "-o", file});
        QVERIFY(cli.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(simulator.lines().contains(QStringLiteral("script done %1").arg(ShowEvents)), 20000);
        // Each row is in the file as it arrives, while the capture still runs.
        QStringList expected{"0001,0001,09:59:00:00,09:59:00:00,rehearsal", "0002,0000,09:59:10:00,09:59:10:00,"};
        for (QString row : showRows()) {
            const int item = row.left(4).toInt() + 2;
            expected << QStringLiteral("%1").arg(item, 4, 10, QLatin1Char('0')) + row.mid(4);
        }
        const QByteArray text = expected.join(QStringLiteral("\r\n")).toLatin1() + "\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(file), text, 10000);
        QCOMPARE(cli.state(), QProcess::Running);

        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(TestFiles::read(file), text);
        QCOMPARE(simulator.count(QStringLiteral("revision query")), 1);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e_capture.moc"
