// The input and output ports on the loopback MIDI service: devices fed from a thread of the
// test, as a driver would, and output read back.

#include "MidiMessages.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"
#include "MidiOut.h"

#include <QCoreApplication>
#include <QTest>

#include <functional>
#include <thread>

namespace {

const QByteArray NoteOn("\x90\x40\x7F", 3);
const QByteArray NoteOff("\x80\x40\x00", 3);
const QByteArray Control("\xB0\x07\x64", 3);
const QByteArray RevisionQuery("\xF0\x7E\x00\x11\x00\xF7", 6);

using MidiMessages::sysex;

// An event as the owner sees it: its bytes (short messages as sent on the wire) and time stamp.
struct Received {
    QByteArray bytes;
    std::uint32_t timestamp;
};

QByteArray bytesOf(const TMyMidiEvent &e)
{
    if (e.Status == 0xF0)
        return e.SysexData ? QByteArray(reinterpret_cast<const char *>(e.SysexData.get()), e.SysexLen)
                           : QByteArray();
    QByteArray bytes;
    bytes += char(e.Status);
    const int length = MidiServiceBase::shortMessageLength(e.Status);
    if (length > 1)
        bytes += char(e.DataByte1);
    if (length > 2)
        bytes += char(e.DataByte2);
    return bytes;
}

using PortAction = std::function<void(TMidiInput &)>;
using OutputAction = std::function<void(TMidiOutput &)>;

} // namespace

Q_DECLARE_METATYPE(PortAction)
Q_DECLARE_METATYPE(OutputAction)
Q_DECLARE_METATYPE(MidiCall)

class TestMidiPorts : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LoopbackMidiService> m_service;
    std::unique_ptr<TMidiInput> m_in;
    QList<Received> m_received;
    int m_inputCalls = 0;
    int m_overflows = 0;

    // An input port on loopback device 0 whose OnMidiInput drains it the way the device window
    // does, and counts its notifications.
    void makeInput()
    {
        m_in = std::make_unique<TMidiInput>(*m_service);
        m_in->setOnMidiInput([this](QObject *sender) {
            QCOMPARE(sender, m_in.get());
            ++m_inputCalls;
            while (m_in->PendingCount() > 0) {
                std::unique_ptr<TMyMidiEvent> e = m_in->NextEvent();
                QVERIFY(e);
                m_received.append({bytesOf(*e), e->Timestamp});
            }
        });
        m_in->setOnOverflow([this](QObject *sender) {
            QCOMPARE(sender, m_in.get());
            ++m_overflows;
        });
    }

    void openAndStart()
    {
        m_in->Open();
        QCOMPARE(m_in->State(), psOpen);
        m_in->Start();
    }

    // Makes loopback input 0 send the messages from a thread of its own; with clock times, the
    // service's clock reads each time as its message arrives.
    void feed(const QList<QByteArray> &messages, const QList<double> &clockMs = {})
    {
        std::thread device([&] {
            for (int i = 0; i < messages.size(); ++i) {
                if (i < clockMs.size())
                    m_service->setClockMs(clockMs[i]);
                QVERIFY(m_service->send(0, messages[i]));
            }
        });
        device.join();
    }

    QList<QByteArray> receivedBytes() const
    {
        QList<QByteArray> list;
        for (const Received &r : m_received)
            list << r.bytes;
        return list;
    }

private slots:
    void init()
    {
        m_service = std::make_unique<LoopbackMidiService>();
        m_service->addInput(QStringLiteral("Loop In A"));
        m_service->addInput(QStringLiteral("Loop In B"));
        m_service->addOutput(QStringLiteral("Loop Out A"));
        m_service->addOutput(QStringLiteral("Loop Out B"));
        m_received.clear();
        m_inputCalls = 0;
        m_overflows = 0;
    }

    void cleanup()
    {
        m_in.reset();
        QCOMPARE(m_service->openDeviceCount(), 0);
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCOMPARE(SharedBlockCount(), 0);
        m_service.reset();
    }

    // ---- input ----

    void inputDefaults()
    {
        makeInput();
        QCOMPARE(m_in->DeviceID(), std::uint16_t(0));
        QCOMPARE(m_in->ProductName(), QStringLiteral("Loop In A"));
        QCOMPARE(m_in->Capacity(), std::uint16_t(1024));
        QCOMPARE(m_in->SysexBufferSize(), std::uint16_t(4096));
        QCOMPARE(m_in->SysexBufferCount(), std::uint16_t(16));
        QCOMPARE(m_in->SysexOnly(), false);
        QCOMPARE(m_in->Error(), std::uint16_t(0));
        QCOMPARE(m_in->State(), psClosed);
        QCOMPARE(m_in->PendingCount(), std::uint16_t(0));
    }

    void eventsArriveInOrderWithTimestampsFromStart()
    {
        makeInput();
        m_service->setClockMs(1000);
        openAndStart();
        const QByteArray block = sysex(13);
        feed({NoteOn, block, Control, NoteOff}, {1005, 1012, 1012, 1020});
        QTRY_COMPARE(m_received.size(), 4);
        QCOMPARE(receivedBytes(), (QList<QByteArray>{NoteOn, block, Control, NoteOff}));
        QList<std::uint32_t> stamps;
        for (const Received &r : m_received)
            stamps << r.timestamp;
        QCOMPARE(stamps, (QList<std::uint32_t>{5, 12, 12, 20}));

        // Nothing arrives while stopped; a new start counts from 0 again.
        m_in->Stop();
        feed({NoteOn}, {1500});
        m_service->setClockMs(2000);
        m_in->Start();
        feed({NoteOff}, {2007});
        QTRY_COMPARE(m_received.size(), 5);
        QCOMPARE(m_received.last().bytes, NoteOff);
        QCOMPARE(m_received.last().timestamp, 7u);
    }

    void sysexOnly_data()
    {
        QTest::addColumn<bool>("sysexOnly");
        QTest::addColumn<bool>("setWhileOpen");
        QTest::newRow("all messages") << false << false;
        QTest::newRow("sysex only") << true << false;
        QTest::newRow("sysex only, set while open") << true << true;
    }

    void sysexOnly()
    {
        QFETCH(bool, sysexOnly);
        QFETCH(bool, setWhileOpen);
        makeInput();
        if (!setWhileOpen)
            m_in->setSysexOnly(sysexOnly);
        openAndStart();
        if (setWhileOpen)
            m_in->setSysexOnly(sysexOnly);
        const QByteArray block = sysex(20);
        feed({NoteOn, block, Control, RevisionQuery});
        const QList<QByteArray> expected = sysexOnly ? QList<QByteArray>{block, RevisionQuery}
                                                     : QList<QByteArray>{NoteOn, block, Control, RevisionQuery};
        QTRY_COMPARE(m_received.size(), expected.size());
        QCOMPARE(receivedBytes(), expected);
    }

    // A buffer handed back with nothing recorded is an empty System Exclusive event, and it goes
    // back to the driver like any other: with one buffer, the next message still arrives.
    void zeroByteSysexBuffer()
    {
        makeInput();
        m_in->setSysexBufferCount(1);
        openAndStart();
        std::unique_ptr<TMyMidiEvent> event;
        m_in->setOnMidiInput([&](QObject *) { event = m_in->NextEvent(); });
        feed({QByteArray()});
        QTRY_VERIFY(event);
        QCOMPARE(event->Status, std::uint8_t(0xF0));
        QCOMPARE(event->DataByte1, std::uint8_t(0));
        QCOMPARE(event->DataByte2, std::uint8_t(0));
        QCOMPARE(event->SysexLen, std::uint16_t(0));
        QVERIFY(!event->SysexData);
        event.reset();
        feed({RevisionQuery});
        QTRY_VERIFY(event);
        QCOMPARE(bytesOf(*event), RevisionQuery);
    }

    // A System Exclusive message larger than one buffer arrives as several events, in order.
    void largeSysexSpansBuffers()
    {
        makeInput();
        m_in->setSysexBufferSize(16);
        m_in->setSysexBufferCount(4);
        openAndStart();
        const QByteArray block = sysex(40);
        feed({block, RevisionQuery});
        QTRY_COMPARE(m_received.size(), 4);
        QCOMPARE(receivedBytes(), (QList<QByteArray>{block.mid(0, 16), block.mid(16, 16), block.mid(32), RevisionQuery}));
    }

    void burstLargerThanCapacity()
    {
        makeInput();
        m_in->setCapacity(4);
        openAndStart();
        QList<QByteArray> burst;
        for (int i = 0; i < 10; ++i)
            burst << QByteArray("\x90\x00\x7F", 3).replace(1, 1, QByteArray(1, char(i)));
        feed(burst); // the user-interface thread is busy meanwhile: the ring fills up
        QTRY_COMPARE(m_overflows, 6);
        QCOMPARE(receivedBytes(), burst.mid(0, 4));
        QCOMPARE(m_inputCalls, 1);
        // The ring takes events again once drained.
        feed({NoteOff});
        QTRY_COMPARE(m_received.size(), 5);
        QCOMPARE(m_received.last().bytes, NoteOff);
        QCOMPARE(m_overflows, 6);
    }

    void nextEventOnAClosedPort()
    {
        makeInput();
        QVERIFY(!m_in->NextEvent()); // never opened
        openAndStart();
        feed({NoteOn, sysex(8), NoteOff});
        QCOMPARE(m_in->PendingCount(), std::uint16_t(3));
        m_in->Close();
        QCOMPARE(m_in->PendingCount(), std::uint16_t(0));
        QVERIFY(!m_in->NextEvent());
        QCoreApplication::sendPostedEvents(); // the notifications already posted find it closed
        QCOMPARE(m_inputCalls, 0);
    }

    void inputErrors_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<PortAction>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("DeviceID beyond the devices")
            << false << PortAction([](TMidiInput &p) { p.setDeviceID(2); }) << "Midi input device not Found";
        QTest::newRow("ProductName differing in case")
            << false << PortAction([](TMidiInput &p) { p.setProductName(QStringLiteral("loop in b")); })
            << "MIDI Input Device loop in b not installed ";
        QTest::newRow("ProductName unknown")
            << false << PortAction([](TMidiInput &p) { p.setProductName(QStringLiteral("Orvex")); })
            << "MIDI Input Device Orvex not installed ";
        QTest::newRow("DeviceID while open")
            << true << PortAction([](TMidiInput &p) { p.setDeviceID(1); }) << "Change to DeviceID while device was open";
        QTest::newRow("ProductName while open")
            << true << PortAction([](TMidiInput &p) { p.setProductName(QStringLiteral("Loop In B")); })
            << "Change to ProductName while device was open";
        QTest::newRow("SysexBufferSize while open")
            << true << PortAction([](TMidiInput &p) { p.setSysexBufferSize(100); })
            << "Change to SysexBufferSize while device was open";
        QTest::newRow("SysexBufferCount while open")
            << true << PortAction([](TMidiInput &p) { p.setSysexBufferCount(2); })
            << "Change to SysexBuffercount while device was open";
    }

    void inputErrors()
    {
        QFETCH(bool, open);
        QFETCH(PortAction, action);
        QFETCH(QString, message);
        makeInput();
        if (open)
            openAndStart();
        const QString nameBefore = m_in->ProductName();
        try {
            action(*m_in);
            QFAIL("no error raised");
        } catch (const EMidiInputError &e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(m_in->State(), open ? psOpen : psClosed);
        QCOMPARE(m_in->ProductName(), nameBefore);
    }

    void inputSelection()
    {
        makeInput();
        m_in->setProductName(QStringLiteral("Loop In B"));
        QCOMPARE(m_in->DeviceID(), std::uint16_t(1));
        m_in->setDeviceID(0);
        QCOMPARE(m_in->ProductName(), QStringLiteral("Loop In A"));
        // A device plugged in after the port was made can be selected.
        m_service->addInput(QStringLiteral("Loop In C"));
        m_in->setDeviceID(2);
        QCOMPARE(m_in->ProductName(), QStringLiteral("Loop In C"));
        // The capabilities cannot be read: the platform's text, in an error that the general
        // error handler shows.
        m_service->failCall(MidiCall::InGetDevCaps, MIDIERR_NODEVICE);
        const QString expected = QStringLiteral("The MIDI device is no longer present.");
        try {
            m_in->setDeviceID(1);
            QFAIL("no error raised");
        } catch (const CorvaneError &e) {
            QVERIFY(dynamic_cast<const EMidiInputError *>(&e));
            QCOMPARE(e.message(), expected);
        }
        QCOMPARE(m_in->Error(), std::uint16_t(MIDIERR_NODEVICE));
    }

    void noInputDevice()
    {
        m_service = std::make_unique<LoopbackMidiService>();
        makeInput();
        QCOMPARE(m_in->ProductName(), QString());
        QCOMPARE(m_in->State(), psClosed);
        try {
            m_in->setDeviceID(0);
            QFAIL("no error raised");
        } catch (const EMidiInputError &e) {
            QCOMPARE(e.message(), QStringLiteral("Midi input device not Found"));
        }
        // Looking a name up on a system without input devices reports the platform's text.
        const QString expected = QStringLiteral("The MIDI device number is out of range.");
        try {
            m_in->setProductName(QStringLiteral("Loop In A"));
            QFAIL("no error raised");
        } catch (const EMidiInputError &e) {
            QCOMPARE(e.message(), expected);
        }
        m_in->Open();
        QCOMPARE(m_in->State(), psClosed);
    }

    void failedOpenReleasesEverything_data()
    {
        QTest::addColumn<MidiCall>("call");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<MMRESULT>("error");
        QTest::newRow("device refused") << MidiCall::InOpen << 0 << 1024 << MMSYSERR_ALLOCATED;
        QTest::newRow("third buffer not prepared") << MidiCall::InPrepareHeader << 2 << 1024 << MMSYSERR_NOMEM;
        QTest::newRow("sixth buffer not queued") << MidiCall::InAddBuffer << 5 << 1024 << MMSYSERR_INVALPARAM;
        // The ring cannot be made: no call fails, the port refuses.
        QTest::newRow("capacity 0") << MidiCall::InOpen << -1 << 0 << MMSYSERR_INVALPARAM;
    }

    void failedOpenReleasesEverything()
    {
        QFETCH(MidiCall, call);
        QFETCH(int, skip);
        QFETCH(int, capacity);
        QFETCH(MMRESULT, error);
        makeInput();
        m_in->setCapacity(std::uint16_t(capacity));
        if (skip >= 0)
            m_service->failCall(call, error, skip);
        m_in->Open(); // never raises
        QCOMPARE(m_in->State(), psClosed);
        QCOMPARE(m_in->Error(), std::uint16_t(error));
        QCOMPARE(m_service->openDeviceCount(), 0);
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCOMPARE(SharedBlockCount(), 0); // no ring, no context
        QCOMPARE(m_in->PendingCount(), std::uint16_t(0));
        QVERIFY(!m_in->NextEvent());
        m_in->Start(); // nothing on a closed port

        // The port opens normally afterwards.
        m_service->clearFailures();
        m_in->setCapacity(8);
        openAndStart();
        feed({NoteOn});
        QTRY_COMPARE(m_received.size(), 1);
    }

    void openWithoutSysexBuffers_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size");
        QTest::newRow("count 0") << 0 << 4096;
        QTest::newRow("size 0") << 16 << 0;
    }

    void openWithoutSysexBuffers()
    {
        QFETCH(int, count);
        QFETCH(int, size);
        makeInput();
        m_in->setSysexBufferCount(std::uint16_t(count));
        m_in->setSysexBufferSize(std::uint16_t(size));
        openAndStart();
        QCOMPARE(TMyMidiHdr::instances(), 0);
        feed({sysex(10), NoteOn});
        QTRY_COMPARE(m_received.size(), 1);
        QCOMPARE(m_received[0].bytes, NoteOn);
    }

    void closeReleasesEverything()
    {
        makeInput();
        openAndStart();
        QCOMPARE(TMyMidiHdr::instances(), 16);
        QCOMPARE(m_service->openDeviceCount(), 1);
        m_in->Stop();
        m_in->Close();
        QCOMPARE(m_in->State(), psClosed);
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCOMPARE(m_service->openDeviceCount(), 0);
        QCOMPARE(SharedBlockCount(), 1); // the callback context stays for the next open
        m_in->Close();                   // nothing on a closed port
        // Open again, and destroy the port while open.
        openAndStart();
        feed({RevisionQuery});
        QTRY_COMPARE(m_received.size(), 1);
    }

    void failedCloseStillReleasesEverything()
    {
        makeInput();
        openAndStart();
        m_service->failCall(MidiCall::InReset, MMSYSERR_NOMEM);
        const QString expected = QStringLiteral("Not enough memory for the MIDI operation.");
        try {
            m_in->Close();
            QFAIL("no error raised");
        } catch (const EMidiInputError &e) {
            QCOMPARE(e.message(), expected);
        }
        QCOMPARE(m_in->State(), psClosed);
        QCOMPARE(m_in->Error(), std::uint16_t(MMSYSERR_NOMEM));
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCOMPARE(m_service->openDeviceCount(), 0);
    }

    void startAndStopFailuresRaise_data()
    {
        QTest::addColumn<MidiCall>("call");
        QTest::addColumn<PortAction>("action");
        QTest::newRow("start") << MidiCall::InStart << PortAction([](TMidiInput &p) { p.Start(); });
        QTest::newRow("stop") << MidiCall::InStop << PortAction([](TMidiInput &p) { p.Stop(); });
    }

    void startAndStopFailuresRaise()
    {
        QFETCH(MidiCall, call);
        QFETCH(PortAction, action);
        makeInput();
        m_in->Open();
        m_service->failCall(call, MIDIERR_NODEVICE);
        const QString expected = QStringLiteral("The MIDI device is no longer present.");
        try {
            action(*m_in);
            QFAIL("no error raised");
        } catch (const EMidiInputError &e) {
            QCOMPARE(e.message(), expected);
        }
        QCOMPARE(m_in->Error(), std::uint16_t(MIDIERR_NODEVICE));
        QCOMPARE(m_in->State(), psOpen);
    }

    // ---- output ----

    void outputErrors_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<OutputAction>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("DeviceID beyond the devices")
            << false << OutputAction([](TMidiOutput &p) { p.setDeviceID(2); }) << "Invalid device ID";
        QTest::newRow("ProductName differing in case")
            << false << OutputAction([](TMidiOutput &p) { p.setProductName(QStringLiteral("loop out a")); })
            << "MIDI output Device loop out a not installed";
        QTest::newRow("DeviceID while open")
            << true << OutputAction([](TMidiOutput &p) { p.setDeviceID(1); }) << "Change to DeviceID while device was open";
        QTest::newRow("ProductName while open")
            << true << OutputAction([](TMidiOutput &p) { p.setProductName(QStringLiteral("Loop Out B")); })
            << "Change to ProductName while device was open";
        QTest::newRow("SendEvent while closed")
            << false << OutputAction([](TMidiOutput &p) { p.SendEvent(TMyMidiEvent()); }) << "MIDI Output device not open";
    }

    void outputErrors()
    {
        QFETCH(bool, open);
        QFETCH(OutputAction, action);
        QFETCH(QString, message);
        TMidiOutput out(*m_service);
        if (open)
            QVERIFY(out.Open());
        try {
            action(out);
            QFAIL("no error raised");
        } catch (const EmidioutputError &e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(out.State(), open ? psOpen : psClosed);
    }

    void outputSelection_data()
    {
        QTest::addColumn<QString>("mapper");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("id");
        QTest::newRow("mapper searched first") << "Loop Out B" << "Loop Out B" << -1;
        QTest::newRow("mapper by name") << "Loop Mapper" << "Loop Mapper" << -1;
        QTest::newRow("device with a mapper") << "Loop Mapper" << "Loop Out B" << 1;
        QTest::newRow("device without a mapper") << "" << "Loop Out B" << 1;
    }

    void outputSelection()
    {
        QFETCH(QString, mapper);
        QFETCH(QString, name);
        QFETCH(int, id);
        m_service->setMapper(mapper);
        TMidiOutput out(*m_service);
        QCOMPARE(out.DeviceID(), 0);
        QCOMPARE(out.ProductName(), QString()); // no device selected yet
        out.setProductName(name);
        QCOMPARE(out.DeviceID(), id);
        QCOMPARE(out.ProductName(), name);
        QVERIFY(out.Open());
        out.SendShort(0xFA, 0, 0);
        QCOMPARE(m_service->output(id), QList<QByteArray>{QByteArray("\xFA", 1)});
        QVERIFY(out.Close());
    }

    void outputNumbers()
    {
        m_service->setMapper(QStringLiteral("Loop Mapper"));
        TMidiOutput out(*m_service);
        out.setDeviceID(-1);
        QCOMPARE(out.ProductName(), QStringLiteral("Loop Mapper"));
        out.setDeviceID(1);
        QCOMPARE(out.ProductName(), QStringLiteral("Loop Out B"));
        // -2 passes the range check and fails at the platform.
        const QString expected = QStringLiteral("The MIDI device number is out of range.");
        try {
            out.setDeviceID(-2);
            QFAIL("no error raised");
        } catch (const EmidioutputError &e) {
            QCOMPARE(e.message(), expected);
        }
        // Without a mapper, -1 fails the same way.
        m_service->setMapper(QString());
        QVERIFY_THROWS_EXCEPTION(EmidioutputError, out.setDeviceID(-1));
    }

    void openAndClose()
    {
        TMidiOutput out(*m_service);
        QVERIFY(!out.Close()); // not open
        m_service->failCall(MidiCall::OutOpen, MMSYSERR_ALLOCATED);
        QVERIFY(!out.Open());
        QCOMPARE(out.State(), psClosed);
        QCOMPARE(SharedBlockCount(), 0); // no context left behind
        QVERIFY(out.Open());
        QVERIFY(out.Open()); // already open
        QCOMPARE(m_service->openDeviceCount(), 1);
        m_service->failCall(MidiCall::OutClose, MIDIERR_NOTREADY);
        QVERIFY_THROWS_EXCEPTION(EmidioutputError, out.Close());
        QCOMPARE(out.State(), psOpen); // as it was
        QVERIFY(out.Close());
        QCOMPARE(out.State(), psClosed);
        QCOMPARE(m_service->openDeviceCount(), 0);
    }

    void sendShortLongAndEvents()
    {
        TMidiOutput out(*m_service);
        out.setDeviceID(1);
        QVERIFY(out.Open());
        out.SendShort(0x90, 0x40, 0x7F);
        out.SendShort(0xC0, 0x05, 0x00);
        const QByteArray block = sysex(13);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(block.constData()), std::uint16_t(block.size()));
        TMyMidiEvent shortEvent;
        shortEvent.Status = 0xB0;
        shortEvent.DataByte1 = 0x07;
        shortEvent.DataByte2 = 0x64;
        out.SendEvent(shortEvent);
        TMyMidiEvent sysexEvent;
        sysexEvent.Status = 0xF0;
        sysexEvent.SysexLen = std::uint16_t(RevisionQuery.size());
        sysexEvent.SysexData = std::make_unique<std::uint8_t[]>(sysexEvent.SysexLen);
        std::copy(RevisionQuery.begin(), RevisionQuery.end(), sysexEvent.SysexData.get());
        out.SendEvent(sysexEvent);
        QCOMPARE(m_service->output(1),
                 (QList<QByteArray>{NoteOn, QByteArray("\xC0\x05", 2), block, Control, RevisionQuery}));
        QVERIFY(m_service->output(0).isEmpty());
        QTRY_COMPARE(TMyMidiHdr::instances(), 0);
    }

    void eachSendLongIsFreedOnceWithOneNotification()
    {
        TMidiOutput out(*m_service);
        int notifications = 0;
        out.setOnmidioutput([&](QObject *sender) {
            QCOMPARE(sender, &out);
            ++notifications;
        });
        QVERIFY(out.Open());
        const QByteArray first = sysex(13), second = sysex(200);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(first.constData()), std::uint16_t(first.size()));
        out.SendLong(reinterpret_cast<const std::uint8_t *>(second.constData()), std::uint16_t(second.size()));
        // Each block keeps its own header until its completion is handled.
        QCOMPARE(TMyMidiHdr::instances(), 2);
        QCOMPARE(notifications, 0);
        QTRY_COMPARE(notifications, 2);
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(notifications, 2);
        QCOMPARE(m_service->output(0), (QList<QByteArray>{first, second}));
    }

    void failedSendLongReleasesItsHeader_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<MidiCall>("call");
        QTest::addColumn<int>("count");
        QTest::addColumn<MMRESULT>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("prepare fails") << true << MidiCall::OutPrepareHeader << 6 << MMSYSERR_NOMEM
                                       << QStringLiteral("Not enough memory for the MIDI operation.");
        QTest::newRow("send fails") << true << MidiCall::OutLongMsg << 6 << MIDIERR_NOTREADY
                                    << QStringLiteral("The MIDI device is busy.");
        QTest::newRow("port not open") << false << MidiCall::OutOpen << 6 << MMSYSERR_INVALHANDLE
                                       << QStringLiteral("The MIDI device handle is not valid (is the device open?).");
        QTest::newRow("no bytes") << true << MidiCall::OutOpen << 0 << MMSYSERR_INVALPARAM
                                  << QStringLiteral("An invalid parameter was passed to the MIDI service.");
    }

    void failedSendLongReleasesItsHeader()
    {
        QFETCH(bool, open);
        QFETCH(MidiCall, call);
        QFETCH(int, count);
        QFETCH(MMRESULT, error);
        QFETCH(QString, text);
        TMidiOutput out(*m_service);
        int notifications = 0;
        out.setOnmidioutput([&](QObject *) { ++notifications; });
        if (open)
            QVERIFY(out.Open());
        if (call != MidiCall::OutOpen)
            m_service->failCall(call, error);
        try {
            out.SendLong(reinterpret_cast<const std::uint8_t *>(RevisionQuery.constData()), std::uint16_t(count));
            QFAIL("no error raised");
        } catch (const EmidioutputError &e) {
            QCOMPARE(e.message(), text);
        }
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(notifications, 0);
        QVERIFY(m_service->output(0).isEmpty());
    }

    void sendShortFailureRaises()
    {
        TMidiOutput out(*m_service);
        QVERIFY(out.Open());
        m_service->failCall(MidiCall::OutShortMsg, MIDIERR_NODEVICE);
        QVERIFY_THROWS_EXCEPTION(EmidioutputError, out.SendShort(0x90, 0x40, 0x7F));
        QVERIFY(m_service->output(0).isEmpty());
    }

    // Blocks whose completion was not handled yet are freed with the port.
    void destroyedWithCompletionsPending()
    {
        auto out = std::make_unique<TMidiOutput>(*m_service);
        QVERIFY(out->Open());
        out->SendLong(reinterpret_cast<const std::uint8_t *>(RevisionQuery.constData()), 6);
        out->SendLong(reinterpret_cast<const std::uint8_t *>(RevisionQuery.constData()), 6);
        QCOMPARE(TMyMidiHdr::instances(), 2);
        out.reset();
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QCoreApplication::sendPostedEvents(); // nothing posted reaches the destroyed port
    }

    // Ports made without a service (as the device window makes them) use the installed one.
    void portsUseTheInstalledService()
    {
        MidiService *previous = setMidiService(m_service.get());
        {
            TMidiInput in;
            TMidiOutput out;
            QCOMPARE(in.ProductName(), QStringLiteral("Loop In A"));
            out.setDeviceID(1);
            QCOMPARE(out.ProductName(), QStringLiteral("Loop Out B"));
        }
        setMidiService(previous);
        QCOMPARE(&midiService(), previous);
    }

    // The output port sends to the input port through a loopback device pair's bytes.
    void outputToInput()
    {
        makeInput();
        openAndStart();
        TMidiOutput out(*m_service);
        QVERIFY(out.Open());
        const QByteArray block = sysex(300);
        out.SendShort(0x90, 0x40, 0x7F);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(block.constData()), std::uint16_t(block.size()));
        feed(m_service->output(0));
        QTRY_COMPARE(m_received.size(), 2);
        QCOMPARE(receivedBytes(), (QList<QByteArray>{NoteOn, block}));
    }
};

QTEST_GUILESS_MAIN(TestMidiPorts)
#include "tst_midiports.moc"
