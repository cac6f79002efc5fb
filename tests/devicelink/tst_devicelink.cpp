// The drain loop over an input port on the loopback MIDI service: events sent by a device
// thread come out as input monitor lines, parameter lines, capture rows and timecode, in the
// order they were sent.

#include "DeviceLinkFixtures.h"
#include "Errors.h"
#include "LoopbackMidiService.h"
#include "MidiDevices.h"
#include "MidiIn.h"

#include <QCoreApplication>
#include <QTest>

#include <thread>

using namespace DeviceLinkFixtures;

namespace {

QByteArray toBytes(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

int bcd(int value)
{
    return (value / 10) << 4 | (value % 10);
}

// A capture event of the interface: camera mask, then the timecode in binary-coded decimal.
QByteArray captureEvent(int mask, int hours, int minutes, int seconds, int frames)
{
    return toBytes(EncodeDeviceMessage(OrvexMessage::CaptureEvent,
                                       {std::uint8_t(mask & 0xFF), std::uint8_t(mask >> 8), std::uint8_t(bcd(hours)),
                                        std::uint8_t(bcd(minutes)), std::uint8_t(bcd(seconds)),
                                        std::uint8_t(bcd(frames))}));
}

QString sysexLine(const QByteArray &message)
{
    return QStringLiteral("Sysex (%1): ").arg(message.size()) + QString::fromLatin1(message.toHex(' ').toUpper())
           + QLatin1Char(' ');
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LoopbackMidiService> m_service;
    std::unique_ptr<RecordingMonitor> m_monitor;
    std::unique_ptr<DeviceLink> m_link;
    std::unique_ptr<TMidiInput> m_in;
    int m_device = 0;
    QStringList m_errors; // what reached the general error handler

    void send(const QByteArray &bytes) { QVERIFY(m_service->send(m_device, bytes)); }

private slots:
    void init()
    {
        m_service = std::make_unique<LoopbackMidiService>();
        m_device = m_service->addInput(QStringLiteral("Orvex in"));
        m_monitor = std::make_unique<RecordingMonitor>();
        m_link = std::make_unique<DeviceLink>(*m_monitor);
        m_link->setCaptureSink(m_monitor.get());
        m_in = std::make_unique<TMidiInput>(*m_service);
        m_in->setDeviceID(std::uint16_t(m_device));
        // As the application's error handler would: an exception ends the notification.
        m_in->setOnMidiInput([this](QObject *sender) {
            try {
                m_link->MidiInput1MidiInput(*qobject_cast<TMidiInput *>(sender));
            } catch (const CorvaneError &e) {
                m_errors << e.message();
            }
        });
        m_errors.clear();
        m_service->setClockMs(0);
        m_in->Open();
        QCOMPARE(m_in->State(), psOpen);
        m_in->Start();
        m_service->setClockMs(1234);
    }

    void cleanup()
    {
        m_in->Stop();
        m_in->Close();
        m_in.reset();
        m_link.reset();
        m_monitor.reset();
        m_service.reset();
    }

    // A device thread sends a revision reply, a full frame, then capture events interleaved
    // with quarter frames, and a Note On. Every event gets its line in order (quarter frames
    // none), every capture event its row in order.
    void eventsInOrder()
    {
        const QByteArray revision = toBytes(EncodeDeviceMessage(0x21, {0x01, 0x62, 0x02, 0x10, 0x00, 0x35}));
        const QByteArray fullFrame = hex("F0 7F 7F 01 01 2A 17 2D 0C F7");
        const QByteArray noteOn = hex("90 3C 64");
        constexpr int Events = 200;
        QList<QByteArray> captures;
        QStringList vmin{sysexLine(revision), sysexLine(fullFrame) + "Full Timecode"};
        QStringList rows;
        for (int i = 0; i < Events; ++i) {
            const int mask = 1 << (i % 16);
            captures << captureEvent(mask, 10, i / 25 % 60, i % 60, i % 25);
            vmin << sysexLine(captures.last());
            const QString tc = QStringLiteral("10:%1:%2:%3")
                                   .arg(i / 25 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i % 25, 2, 10, QLatin1Char('0'));
            rows << tc + ' ' + tc + ' ' + QStringLiteral("%1").arg(mask, 4, 16, QLatin1Char('0')).toUpper();
        }
        vmin << "000004D2 90 3C 64 Note OnNote On";
        // The device sends faster than any drain: every System Exclusive message needs a buffer
        // of its own until the drain hands it back.
        m_in->Stop();
        m_in->Close();
        m_in->setSysexBufferCount(Events + 2);
        m_service->setClockMs(0);
        m_in->Open();
        m_in->Start();
        m_service->setClockMs(1234);

        std::thread device([&] {
            m_service->send(m_device, revision);
            m_service->send(m_device, fullFrame);
            for (int i = 0; i < Events; ++i) {
                m_service->send(m_device, captures[i]);
                m_service->send(m_device, QByteArray(1, char(0xF1)) + char(0x0C));
                m_service->send(m_device, QByteArray(1, char(0xF1)) + char(0x72));
            }
            m_service->send(m_device, noteOn);
        });
        device.join();

        QTRY_COMPARE(m_monitor->vmin.size(), vmin.size());
        QCOMPARE(m_monitor->vmin, vmin);
        QCOMPARE(m_monitor->rows, rows);
        QCOMPARE(m_monitor->m8data.size(), Events + 1);
        QCOMPARE(m_monitor->m8data.first(), "21:  01 62 02 10 00 35");
        QCOMPARE(m_monitor->revtext, QStringList{"Core 02.10 Build 00.35 HW 01.62"});
        QCOMPARE(m_monitor->mmccount, QStringList{"1"});
        // The full frame counted once more, without a caption.
        QCOMPARE(m_monitor->mtccount.last(), QString::number((2 * Events + 1) % 100));
        QCOMPARE(m_monitor->tcpoz.first(), "10:23:45:12");
        QCOMPARE(m_monitor->captureTcpoz, m_monitor->tcpoz);
        QCOMPARE(m_in->PendingCount(), 0);
        QCOMPARE(m_errors, QStringList());
    }

    // The capture sink fails on the first of three waiting events (a file error of a
    // make-and-save, say): the two behind it are still handled in the same drain, every event
    // keeps its line, and the error is reported once.
    void failureDoesNotStrandLaterEvents()
    {
        bool failed = false;
        m_monitor->beforeRow = [&failed] {
            if (!failed) {
                failed = true;
                throw CorvaneError(QStringLiteral("Disk full"));
            }
        };
        const QByteArray first = captureEvent(0x0001, 1, 0, 0, 0);
        const QByteArray second = captureEvent(0x0002, 1, 0, 0, 1);
        const QByteArray third = captureEvent(0x0004, 1, 0, 0, 2);
        send(first);
        send(second);
        send(third);
        QTRY_COMPARE(m_errors, QStringList{"Disk full"});
        QCOMPARE(m_monitor->vmin, (QStringList{sysexLine(first), sysexLine(second), sysexLine(third)}));
        QCOMPARE(m_monitor->rows, (QStringList{"01:00:00:01 01:00:00:01 0002", "01:00:00:02 01:00:00:02 0004"}));
        QCOMPARE(m_in->PendingCount(), 0);
    }

    // While a capture row runs a nested event loop (a dialog of the capture window), a new
    // event waits for the running drain instead of overtaking the event being handled.
    void nestedEventLoopKeepsOrder()
    {
        const QByteArray first = captureEvent(0x0001, 2, 0, 0, 0);
        const QByteArray second = captureEvent(0x0002, 2, 0, 0, 1);
        bool nested = false;
        m_monitor->beforeRow = [&] {
            if (nested)
                return;
            nested = true;
            m_service->send(m_device, second);
            QCoreApplication::processEvents();
            QCOMPARE(m_monitor->vmin, QStringList()); // the second event has not overtaken
        };
        send(first);
        QTRY_COMPARE(m_monitor->rows.size(), 2);
        QCOMPARE(m_monitor->rows, (QStringList{"02:00:00:00 02:00:00:00 0001", "02:00:00:01 02:00:00:01 0002"}));
        QCOMPARE(m_monitor->vmin, (QStringList{sysexLine(first), sysexLine(second)}));
        QCOMPARE(m_errors, QStringList());
    }

    // A block larger than the port's System Exclusive buffer arrives in pieces; only the first
    // starts with F0 and is decoded, each piece has its line.
    void blockOverSeveralBuffers()
    {
        m_in->Stop();
        m_in->Close();
        m_in->setSysexBufferSize(256);
        m_in->Open();
        m_in->Start();
        QByteArray block(520, char(0x11));
        block.replace(0, 6, hex("F0 7F 7F 06 02 00"));
        block[519] = char(0xF7);
        send(block);
        QTRY_COMPARE(m_monitor->vmin.size(), 3);
        QVERIFY(m_monitor->vmin[0].startsWith("Sysex (256): F0 7F 7F 06 02 00 11 "));
        QVERIFY(m_monitor->vmin[0].endsWith(" 11 11Play"));
        QVERIFY(m_monitor->vmin[1].startsWith("Sysex (256): 11 11 "));
        QVERIFY(!m_monitor->vmin[1].endsWith("Play"));
        QCOMPARE(m_monitor->vmin[2], "Sysex (8): 11 11 11 11 11 11 11 F7 ");
    }

    // The remembered device is found without regard to case, the first of equal names winning;
    // corvane-cli prefers an exact name.
    void findDevice_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ignoreCase");
        QTest::addColumn<int>("exactFirst");
        QTest::newRow("first of two equal names") << "Orvex USB:out" << 1 << 1;
        QTest::newRow("other case") << "orvex usb:out" << 1 << 1;
        QTest::newRow("exact name later in the list") << "ORVEX USB:out" << 1 << 3;
        QTest::newRow("absent") << "Orvex" << -1 << -1;
        QTest::newRow("empty") << "" << -1 << -1;
    }

    void findDevice()
    {
        QFETCH(QString, name);
        QFETCH(int, ignoreCase);
        QFETCH(int, exactFirst);
        LoopbackMidiService service;
        for (const char *device : {"Through", "Orvex USB:out", "Orvex USB:out", "ORVEX USB:out"})
            service.addInput(QString::fromLatin1(device));
        const QStringList names = MidiInputNames(service);
        QCOMPARE(names, (QStringList{"Through", "Orvex USB:out", "Orvex USB:out", "ORVEX USB:out"}));
        QCOMPARE(FindDeviceName(names, name), ignoreCase);
        QCOMPARE(FindDeviceName(names, name, DeviceMatch::ExactThenIgnoreCase), exactFirst);
    }
};

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
