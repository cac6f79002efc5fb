// What the capture window shows of the MIDI devices' health, with the two windows joined as the
// program joins them, on the loopback MIDI service, offscreen: "NO DEVICE" over the timecode while
// a device is gone, the count of lost events beside it, both at once, and nothing once the
// device is back and nothing was lost.

#include "ErrorReport.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "ProgramWindows.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <memory>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// 10:23:45:12 at 25 frames a second, as a full frame.
const QByteArray FullFrame = hex("F07F7F01012A172D0CF7");
const QString FullFrameText = QStringLiteral("10:23:45:12");
// A capture event: camera 1 at 10:23:45:12.
const QByteArray CaptureEvent = hex("F07E00240601001023451200F7");
// The device window's input ring, kept small so that a burst sent before it drains loses events.
constexpr int RingCapacity = 4;

const QColor Red(255, 0, 0);

} // namespace

class TestDeviceHealth : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<ProgramWindows> m_windows;
    QStringList m_errors; // what reached the general error handler

private slots:
    void initTestCase()
    {
        setErrorPresenter([this](const QString &message) { m_errors << message; });
    }

    void cleanupTestCase() { setErrorPresenter({}); }

    void init()
    {
        m_errors.clear();
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        m_windows.reset();
        m_folder.reset();
    }

    // A device that goes (or the whole MIDI server) turns the capture window's timecode into a
    // red "NO DEVICE"; events the input lost are counted beside it, and stay counted (they are
    // the run's); with the device back the timecode shows again.
    void captureWindowShowsTheDevicesHealth_data()
    {
        QTest::addColumn<QString>("gone"); // empty: no device goes
        QTest::addColumn<int>("lost");
        QTest::addColumn<QString>("lostText"); // the capture window's count; empty: not shown

        QTest::newRow("input gone") << "input" << 0 << "";
        QTest::newRow("output gone") << "output" << 0 << "";
        QTest::newRow("MIDI server stopped") << "server" << 0 << "";
        QTest::newRow("1 event lost") << "" << 1 << "1 EVENT LOST";
        QTest::newRow("6 events lost") << "" << 6 << "6 EVENTS LOST";
        QTest::newRow("output gone, 6 events lost") << "output" << 6 << "6 EVENTS LOST";
        QTest::newRow("input gone, 2 events lost") << "input" << 2 << "2 EVENTS LOST";
    }

    void captureWindowShowsTheDevicesHealth()
    {
        QFETCH(QString, gone);
        QFETCH(int, lost);
        QFETCH(QString, lostText);

        m_windows = std::make_unique<ProgramWindows>();
        QVERIFY(m_windows->open());
        Tedlf &edlf = m_windows->edlf();
        Tmidiiof &midiiof = m_windows->midiiof();
        LoopbackMidiService &midi = m_windows->midi();

        // Both devices opened through the device window's boxes, as the operator opens them.
        midiiof.MidiInput1->setCapacity(RingCapacity);
        QVERIFY(m_windows->openDevices());

        QVERIFY(midi.send(0, FullFrame));
        QTRY_COMPARE(edlf.tcpoz->text(), FullFrameText);
        const QColor healthy = edlf.tcpoz->palette().color(QPalette::Window);
        QVERIFY(healthy != Red);
        QVERIFY(!edlf.lostevents->isVisible());

        if (lost > 0) {
            // Sent before the device window can drain: the ring keeps its fill, the rest is lost.
            for (int n = 0; n < RingCapacity + lost; ++n)
                QVERIFY(midi.send(0, CaptureEvent));
            QTRY_COMPARE(edlf.lostevents->text(), lostText);
            QVERIFY(edlf.lostevents->isVisible());
            QCOMPARE(edlf.tcpoz->text(), FullFrameText);
            QCOMPARE(edlf.tcpoz->palette().color(QPalette::Window), healthy);
        }

        if (!gone.isEmpty()) {
            if (gone == QLatin1String("server"))
                midi.stopServer();
            else if (gone == QLatin1String("input"))
                midi.unplugInput(0);
            else
                midi.unplugOutput(0);
            QTRY_COMPARE(edlf.tcpoz->text(), Tedlf::NoDeviceText);
            QCOMPARE(edlf.tcpoz->palette().color(QPalette::Window), Red);
            QCOMPARE(edlf.lostevents->isVisible(), !lostText.isEmpty());
            if (!lostText.isEmpty())
                QCOMPARE(edlf.lostevents->text(), lostText);

            if (gone == QLatin1String("server"))
                midi.startServer();
            else if (gone == QLatin1String("input"))
                midi.plugInput(0);
            else
                midi.plugOutput(0);
            QTRY_COMPARE(edlf.tcpoz->text(), FullFrameText);
            QCOMPARE(midiiof.MidiInput1->State(), psOpen);
            QCOMPARE(midiiof.MidiOutput1->State(), psOpen);
        }

        // Healthy again, or never gone: the timecode on its own colour; the count as it was.
        QCOMPARE(edlf.tcpoz->palette().color(QPalette::Window), healthy);
        QCOMPARE(edlf.lostevents->isVisible(), !lostText.isEmpty());
        if (!lostText.isEmpty())
            QCOMPARE(edlf.lostevents->text(), lostText);
        QCOMPARE(m_errors, QStringList());
    }
};

QTEST_MAIN(TestDeviceHealth)
#include "tst_device_health.moc"
