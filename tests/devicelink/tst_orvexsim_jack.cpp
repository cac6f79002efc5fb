// orvex-sim on a real MIDI server (the private JACK server of the JackServer fixture), met by
// the ports on the RtMidi service and the device link: the revision query and its reply, the
// scripted capture events as rows, the running timecode, and the parameter messages the
// simulator prints.

#include "DeviceLinkFixtures.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "OrvexSimProcess.h"
#include "RtMidiService.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace DeviceLinkFixtures;

namespace {

using Simulator = OrvexSimProcess;

// The device link between an input and an output port on the RtMidi service, the way the
// device window joins them, with as many System Exclusive buffers and ring slots as the device
// window gives its input: with the 16 buffers of a bare port, a test thread that the machine's
// load keeps from draining for a few periods would lose events of a script's bursts.
class Corvane {
public:
    Corvane(RtMidiService &service, const Simulator &simulator)
        : in(service), out(service), output(out, [] { return true; }), link(monitor)
    {
        in.setSysexBufferSize(4096);
        in.setSysexBufferCount(2048);
        in.setCapacity(8192);
        link.setCaptureSink(&monitor);
        link.setOutput(&output);
        in.setProductName(simulator.inputName());
        in.setOnMidiInput([this](QObject *) { link.MidiInput1MidiInput(in); });
        out.setProductName(simulator.outputName());
    }

    ~Corvane()
    {
        out.Close();
        in.Stop();
        in.Close();
    }

    // For a failure: how many rows came, and how many events the port itself counted as lost (the
    // rest of a shortfall was lost before the port saw it).
    QString tally(qsizetype expected) const
    {
        return QStringLiteral("%1 of %2 rows; events lost and counted by the port: %3")
            .arg(monitor.rows.size())
            .arg(expected)
            .arg(in.LostCount());
    }

    bool open()
    {
        in.Open();
        in.Start();
        return in.State() == psOpen && out.Open();
    }

    TMidiInput in;
    TMidiOutput out;
    PortSysexOutput output;
    RecordingMonitor monitor;
    DeviceLink link;
};

} // namespace

class TestOrvexSimJack : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RtMidiService> m_service;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"),
                 "run through CTest: the JackServer fixture starts the server");
        QVERIFY(m_dir.isValid());
        m_service = std::make_unique<RtMidiService>(QStringLiteral("corvane-test"));
    }

    void cleanupTestCase() { m_service.reset(); }

    void revisionReply_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("revtext");
        QTest::addColumn<QString>("revtext2");
        QTest::addColumn<QString>("reply");
        QTest::newRow("long form, 16 inputs")
            << QStringList() << "Core 02.10 Build 00.35 HW 01.62" << "Main 03.01 Build 00.12 Vexa-16"
            << "revision query, replied F0 7E 00 21 0A 01 62 02 10 00 35 03 00 01 00 12 00 F7";
        QTest::newRow("short form, 8 inputs")
            << QStringList{"--short-revision", "--model", "8"} << "Core 02.10 Build 00.35 HW 01.82" << " Vexa-8"
            << "revision query, replied F0 7E 00 21 06 01 02 02 10 00 35 10 F7";
    }

    // The query goes out as the device window sends it; the reply fills the revision lines.
    void revisionReply()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, revtext);
        QFETCH(QString, revtext2);
        QFETCH(QString, reply);
        Simulator simulator(arguments + QStringList{"--no-mtc"});
        QTRY_VERIFY(simulator.lines().contains("ready out=" + simulator.inputName() + " in=" + simulator.outputName()));
        Corvane corvane(*m_service, simulator);
        QVERIFY(corvane.open());
        corvane.link.SendRevisionQuery();
        QTRY_COMPARE(corvane.monitor.revtext.size(), 1);
        QCOMPARE(corvane.monitor.revtext.first(), revtext);
        QCOMPARE(corvane.monitor.revtext2.first(), revtext2);
        QVERIFY2(simulator.lines().contains(reply), qPrintable(simulator.lines().join('\n')));
    }

    // The script starts with the revision query; its capture events become rows in order,
    // with their timecodes in binary-coded decimal read as decimal digits, while the running
    // timecode reaches both labels. The parameter messages of the "LTC" button are printed by
    // the simulator, which ends cleanly on SIGTERM.
    void scriptedCapture()
    {
        QFile script(m_dir.filePath("capture.txt"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        QStringList expected;
        QByteArray text = "# mask  timecode     delay\n\n";
        for (int i = 0; i < 40; ++i) {
            const int mask = (1 << (i % 16)) | 0x0001;
            const QString tc = QStringLiteral("11:%1:%2:%3")
                                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                                   .arg(59 - i % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i % 24, 2, 10, QLatin1Char('0'));
            text += QStringLiteral("%1 %2 %3\n").arg(mask, 4, 16, QLatin1Char('0')).arg(tc).arg(i % 10 == 0 ? 20 : 0).toUtf8();
            expected << tc + ' ' + tc + ' ' + QStringLiteral("%1").arg(mask, 4, 16, QLatin1Char('0')).toUpper();
        }
        text += "8000 -  # the running timecode\n";
        script.write(text);
        script.close();

        Simulator simulator({"--script", script.fileName(), "--wait-query", "--fps", "25", "--start", "10:23:45:00"});
        QTRY_VERIFY(simulator.lines().contains("ready out=" + simulator.inputName() + " in=" + simulator.outputName()));
        Corvane corvane(*m_service, simulator);
        QVERIFY(corvane.open());
        // Events sent before our input was connected would be lost: the script waits for it.
        corvane.link.SendRevisionQuery();
        QTRY_VERIFY2(corvane.monitor.rows.size() == expected.size() + 1, qPrintable(corvane.tally(expected.size() + 1)));
        QCOMPARE(corvane.monitor.rows.mid(0, expected.size()), expected);
        QVERIFY2(QRegularExpression("^(10:2\\d:\\d\\d:\\d\\d) \\1 8000$").match(corvane.monitor.rows.last()).hasMatch(),
                 qPrintable(corvane.monitor.rows.last()));
        QTRY_VERIFY(simulator.lines().contains(QStringLiteral("script done 41")));

        QTRY_VERIFY(corvane.monitor.tcpoz.size() >= 2);
        QVERIFY2(QRegularExpression("^10:2\\d:\\d\\d:\\d\\d$").match(corvane.monitor.tcpoz.last()).hasMatch(),
                 qPrintable(corvane.monitor.tcpoz.last()));
        QCOMPARE(corvane.monitor.captureTcpoz, corvane.monitor.tcpoz);
        QVERIFY(!corvane.monitor.mtccount.isEmpty());

        corvane.link.SendLtcMessages();
        QTRY_VERIFY(simulator.lines().contains("parameter 07:"));
        const QStringList lines = simulator.lines();
        const qsizetype first = lines.indexOf("parameter 05: 01 03");
        QVERIFY2(first >= 0, qPrintable(lines.join('\n')));
        QCOMPARE(lines.mid(first, 3), (QStringList{"parameter 05: 01 03", "parameter 0C: 02 02", "parameter 07:"}));

        simulator.process().terminate();
        QVERIFY(simulator.process().waitForFinished(10000));
        QCOMPARE(simulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(simulator.process().exitCode(), 0);
    }

    // A script without delays sends a burst far larger than one JACK period takes: every event
    // arrives, in order. (The input gets a buffer and a ring slot for each message of the
    // burst, so that the test does not depend on how fast this build drains.)
    void burstArrivesWhole()
    {
        constexpr int events = 2000;
        QFile script(m_dir.filePath("burst.txt"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        QStringList expected;
        for (int i = 0; i < events; ++i) {
            const int mask = 1 << (i % 16);
            const QString tc = QStringLiteral("12:%1:%2:%3")
                                   .arg(i / 1500 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i / 25 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i % 25, 2, 10, QLatin1Char('0'));
            script.write(QStringLiteral("%1 %2\n").arg(mask, 4, 16, QLatin1Char('0')).arg(tc).toUtf8());
            expected << tc + ' ' + tc + ' ' + QStringLiteral("%1").arg(mask, 4, 16, QLatin1Char('0')).toUpper();
        }
        script.close();

        Simulator simulator({"--script", script.fileName(), "--wait-query", "--quiet", "--no-mtc"});
        QTRY_VERIFY(simulator.lines().contains("ready out=" + simulator.inputName() + " in=" + simulator.outputName()));
        Corvane corvane(*m_service, simulator);
        corvane.in.setSysexBufferCount(std::uint16_t(events + 16));
        corvane.in.setCapacity(std::uint16_t(events + 16));
        QVERIFY(corvane.open());
        corvane.link.SendRevisionQuery();
        QTRY_VERIFY(simulator.lines().contains(QStringLiteral("script done %1").arg(events)));
        QTRY_VERIFY2_WITH_TIMEOUT(corvane.monitor.rows.size() == events, qPrintable(corvane.tally(events)), 10000);
        QCOMPARE(corvane.monitor.rows, expected);
    }
};

QTEST_GUILESS_MAIN(TestOrvexSimJack)
#include "tst_orvexsim_jack.moc"
