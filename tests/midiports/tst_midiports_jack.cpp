// The ports on the RtMidi service, through a real MIDI server: the private JACK server that the
// JackServer fixture starts (JACK_DEFAULT_SERVER names it).
//
// A small through client joins the two ports: whatever reaches its input
// "corvane-thru-rx-<pid>:in" leaves again by its output "corvane-thru-tx-<pid>:out". Our output
// port sends to the first, our input port listens to the second; both find their device by
// name.

#include "MidiMessages.h"
#include "MidiIn.h"
#include "MidiOut.h"
#include "RtMidiService.h"

#include <RtMidi.h>

#include <QCoreApplication>
#include <QTest>

#include <string>

namespace {

// Client names of this process alone, so that tests sharing the server do not meet.
const std::string ThruRx = "corvane-thru-rx-" + std::to_string(QCoreApplication::applicationPid());
const std::string ThruTx = "corvane-thru-tx-" + std::to_string(QCoreApplication::applicationPid());
const QString ThruIn = QString::fromStdString(ThruRx) + QStringLiteral(":in");
const QString ThruOut = QString::fromStdString(ThruTx) + QStringLiteral(":out");

// Data bytes counting up by 7, so that a shifted or dropped byte shows.
QByteArray sysex(int size)
{
    return MidiMessages::sysex(size, 7);
}

// Copies every message from its JACK input to its JACK output, on JACK's thread.
class JackThru {
public:
    JackThru() : m_out(RtMidi::UNIX_JACK, ThruTx), m_in(RtMidi::UNIX_JACK, ThruRx)
    {
        m_in.ignoreTypes(false, false, false);
        m_in.setCallback(&JackThru::forward, this);
        m_in.openVirtualPort("in");
        m_out.openVirtualPort("out");
    }

private:
    static void forward(double, std::vector<unsigned char> *message, void *self)
    {
        static_cast<JackThru *>(self)->m_out.sendMessage(message);
    }

    // The input goes first: its client's thread, which runs forward, ends with it, and must not
    // find the output gone.
    RtMidiOut m_out;
    RtMidiIn m_in;
};

QStringList inputNames(MidiService &service)
{
    QStringList names;
    const std::uint32_t count = service.midiInGetNumDevs();
    for (std::uint32_t i = 0; i < count; ++i) {
        MIDIINCAPS caps;
        if (service.midiInGetDevCaps(int(i), caps) == MMSYSERR_NOERROR)
            names << caps.szPname;
    }
    return names;
}

QStringList outputNames(MidiService &service)
{
    QStringList names;
    const std::uint32_t count = service.midiOutGetNumDevs();
    for (std::uint32_t i = 0; i < count; ++i) {
        MIDIOUTCAPS caps;
        if (service.midiOutGetDevCaps(int(i), caps) == MMSYSERR_NOERROR)
            names << caps.szPname;
    }
    return names;
}

} // namespace

class TestMidiPortsJack : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<JackThru> m_thru;
    std::unique_ptr<RtMidiService> m_service;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"),
                 "run through CTest: the JackServer fixture starts the server");
        try {
            m_thru = std::make_unique<JackThru>();
        } catch (const RtMidiError &e) {
            QFAIL(e.what());
        }
        m_service = std::make_unique<RtMidiService>(QStringLiteral("corvane-test"));
    }

    void cleanupTestCase()
    {
        m_service.reset();
        m_thru.reset();
    }

    void listsTheServersPorts()
    {
        QVERIFY2(inputNames(*m_service).contains(ThruOut), qPrintable(inputNames(*m_service).join(", ")));
        QVERIFY2(outputNames(*m_service).contains(ThruIn), qPrintable(outputNames(*m_service).join(", ")));
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("bufferSize");
        QTest::newRow("each message in one buffer") << 4096;
        QTest::newRow("large message over several buffers") << 1000;
    }

    // Short messages, a 13-byte and a 4,000-byte System Exclusive message go out of our output
    // port, through JACK, into our input port, whole and in order.
    void roundTrip()
    {
        QFETCH(int, bufferSize);
        TMidiInput in(*m_service);
        in.setProductName(ThruOut);
        in.setSysexBufferSize(std::uint16_t(bufferSize));
        QList<QByteArray> received;
        QList<std::uint32_t> stamps;
        in.setOnMidiInput([&](QObject *) {
            while (in.PendingCount() > 0) {
                const std::unique_ptr<TMyMidiEvent> e = in.NextEvent();
                QByteArray bytes;
                if (e->Status == 0xF0)
                    bytes = QByteArray(reinterpret_cast<const char *>(e->SysexData.get()), e->SysexLen);
                else
                    bytes.append(char(e->Status)).append(char(e->DataByte1)).append(char(e->DataByte2));
                received << bytes;
                stamps << e->Timestamp;
            }
        });
        in.Open();
        QCOMPARE(in.State(), psOpen);
        in.Start();

        TMidiOutput out(*m_service);
        out.setProductName(ThruIn);
        int sent = 0;
        out.setOnmidioutput([&](QObject *) { ++sent; });
        QVERIFY(out.Open());

        const QByteArray small = sysex(13);
        const QByteArray large = sysex(4000);
        out.SendShort(0x90, 0x40, 0x7F);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(small.constData()), std::uint16_t(small.size()));
        out.SendShort(0xB0, 0x07, 0x64);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(large.constData()), std::uint16_t(large.size()));
        out.SendShort(0x80, 0x40, 0x00);

        QList<QByteArray> expected{QByteArray("\x90\x40\x7F", 3), small, QByteArray("\xB0\x07\x64", 3)};
        for (int at = 0; at < large.size(); at += bufferSize)
            expected << large.mid(at, bufferSize);
        expected << QByteArray("\x80\x40\x00", 3);

        QTRY_COMPARE(received.size(), expected.size());
        QCOMPARE(received, expected);
        for (int i = 1; i < stamps.size(); ++i)
            QVERIFY(stamps[i] >= stamps[i - 1]);
        QTRY_COMPARE(sent, 2);
        QCOMPARE(TMyMidiHdr::instances(), 16); // the input port's buffers, all back in its pool

        QVERIFY(out.Close());
        in.Stop();
        in.Close();
        QCOMPARE(m_service->openDeviceCount(), 0);
        QCOMPARE(TMyMidiHdr::instances(), 0);
    }

    // A System Exclusive message that is never finished (its sender vanished in the middle)
    // swallows nothing: RtMidi glues what follows to it until something ends with F7, and the
    // service splits that at the status bytes again. The unfinished part arrives as it is,
    // then each later message, whole.
    void unfinishedSysexSwallowsNothing()
    {
        TMidiInput in(*m_service);
        in.setProductName(ThruOut);
        QList<QByteArray> received;
        in.setOnMidiInput([&](QObject *) {
            while (in.PendingCount() > 0) {
                const std::unique_ptr<TMyMidiEvent> e = in.NextEvent();
                if (e->Status == 0xF0)
                    received << QByteArray(reinterpret_cast<const char *>(e->SysexData.get()), e->SysexLen);
                else
                    received << QByteArray().append(char(e->Status)).append(char(e->DataByte1)).append(char(e->DataByte2));
            }
        });
        in.Open();
        QCOMPARE(in.State(), psOpen);
        in.Start();
        TMidiOutput out(*m_service);
        out.setProductName(ThruIn);
        QVERIFY(out.Open());

        const QByteArray head = QByteArray::fromHex("F07E0024060110"); // no end mark
        const QByteArray whole = sysex(13);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(head.constData()), std::uint16_t(head.size()));
        out.SendShort(0x90, 0x40, 0x7F);
        out.SendLong(reinterpret_cast<const std::uint8_t *>(whole.constData()), std::uint16_t(whole.size()));
        out.SendShort(0x80, 0x40, 0x00);

        const QList<QByteArray> expected{head, QByteArray("\x90\x40\x7F", 3), whole, QByteArray("\x80\x40\x00", 3)};
        QTRY_COMPARE(received.size(), expected.size());
        QCOMPARE(received, expected);
        QVERIFY(out.Close());
        in.Close();
    }

    // JACK's output queue takes at most JackMaxMessage bytes in one message; a larger block is
    // refused instead of silently dropped.
    void blockTooLargeForJackIsRefused()
    {
        TMidiOutput out(*m_service);
        out.setProductName(ThruIn);
        QVERIFY(out.Open());
        const QByteArray huge = sysex(int(RtMidiService::JackMaxMessage) + 1);
        try {
            out.SendLong(reinterpret_cast<const std::uint8_t *>(huge.constData()), std::uint16_t(huge.size()));
            QFAIL("no error raised");
        } catch (const EmidioutputError &e) {
            QCOMPARE(e.message(), QStringLiteral("The message is longer than the MIDI device accepts in one piece."));
        }
        QCOMPARE(TMyMidiHdr::instances(), 0);
        QVERIFY(out.Close());
    }

    void vanishedDeviceFailsToOpen()
    {
        TMidiInput in(*m_service);
        TMidiOutput out(*m_service);
        in.setProductName(ThruOut);
        out.setProductName(ThruIn);
        m_thru.reset(); // the through client leaves the server
        // The server drops the client's ports in its own time. A service of its own watches
        // for that, so the ports' device list stays as it was when the names were chosen.
        RtMidiService probe(QStringLiteral("corvane-probe"));
        QTRY_VERIFY(!inputNames(probe).contains(ThruOut));
        in.Open();
        QCOMPARE(in.State(), psClosed);
        QCOMPARE(in.Error(), std::uint16_t(MIDIERR_NODEVICE));
        QVERIFY(!out.Open());
        QCOMPARE(m_service->openDeviceCount(), 0);
        QVERIFY_THROWS_EXCEPTION(EMidiInputError, in.setProductName(ThruOut));
        m_thru = std::make_unique<JackThru>();
        in.setProductName(ThruOut);
        in.Open();
        QCOMPARE(in.State(), psOpen);
    }
};

QTEST_GUILESS_MAIN(TestMidiPortsJack)
#include "tst_midiports_jack.moc"
