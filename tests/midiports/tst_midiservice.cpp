// The platform MIDI service's rules, through the loopback backend (which shares them with the
// RtMidi backend), and what the RtMidi backend adds: stable names and failures as result codes.

#include "MidiMessages.h"
#include "JackPeriodCheck.h"
#include "LoopbackMidiService.h"
#include "MidiInputRelay.h"
#include "RtMidiService.h"

#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// What the service called back with, recorded from whichever thread called.
struct Recorder {
    struct Call {
        std::uint32_t message;
        std::uintptr_t param1;
        std::uintptr_t param2;
    };
    std::mutex lock;
    std::vector<Call> calls;

    static void callback(void *, std::uint32_t message, std::uintptr_t instance, std::uintptr_t p1,
                         std::uintptr_t p2)
    {
        auto *self = reinterpret_cast<Recorder *>(instance);
        std::lock_guard guard(self->lock);
        self->calls.push_back({message, p1, p2});
    }
    std::uintptr_t instance() { return reinterpret_cast<std::uintptr_t>(this); }
    std::vector<Call> take()
    {
        std::lock_guard guard(lock);
        return std::exchange(calls, {});
    }
};

// A prepared input buffer of its own memory.
struct Buffer {
    explicit Buffer(std::uint32_t size) : bytes(size)
    {
        header.lpData = bytes.data();
        header.dwBufferLength = size;
    }
    std::vector<std::uint8_t> bytes;
    MIDIHDR header;
};

using MidiMessages::sysex;

// Sends from a thread of its own, as a device does.
void sendFromDevice(LoopbackMidiService &service, int device, const QByteArray &message)
{
    std::thread thread([&] { QVERIFY(service.send(device, message)); });
    thread.join();
}

} // namespace

class TestMidiService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<LoopbackMidiService> m_service;
    Recorder m_recorder;
    HMIDIIN m_in = nullptr;

    // Opens loopback input 0 and starts it at the clock's 1000 ms.
    void openInput()
    {
        m_service->setClockMs(1000);
        QCOMPARE(m_service->midiInOpen(&m_in, 0, &Recorder::callback, m_recorder.instance(), CALLBACK_FUNCTION),
                 MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInStart(m_in), MMSYSERR_NOERROR);
    }

private slots:
    // The periods a JACK input's client is run in, each with the frame time of its period's start
    // and what its port held (a letter: the same letter, the same events; "-" none). Periods
    // missed count as late cycles; a second run in the same period is late too, and so is a
    // period that shows the events of the run before again: those are not handed on twice.
    void jackPeriodCheck_data()
    {
        QTest::addColumn<QList<std::uint32_t>>("frames");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("handedOn"); // per run: y or n
        QTest::addColumn<int>("late");
        using Frames = QList<std::uint32_t>;
        QTest::newRow("every period once") << Frames{256, 512, 768, 1024} << "AB-C" << "yyyy" << 0;
        // What a receiver is shown while its sender is not run: the sender's last events again.
        QTest::newRow("the same events in the next period") << Frames{256, 512, 768} << "AAB" << "yny" << 1;
        QTest::newRow("the same events, periods missed") << Frames{256, 1024, 1280} << "AAB" << "yny" << 3;
        QTest::newRow("the same events three periods on") << Frames{256, 512, 768, 1024} << "AAAB" << "ynny" << 2;
        QTest::newRow("the same events after a period without") << Frames{256, 512, 768} << "A-A" << "yyy" << 0;
        QTest::newRow("two periods missed") << Frames{256, 1024, 1280} << "ABC" << "yyy" << 2;
        QTest::newRow("run twice, the same events") << Frames{256, 512, 512, 768} << "ABBC" << "yyny" << 1;
        QTest::newRow("run twice, nothing either time") << Frames{256, 512, 512} << "A--" << "yyn" << 1;
        QTest::newRow("run twice, new events") << Frames{256, 512, 512} << "ABC" << "yyy" << 1;
        QTest::newRow("late, then run twice") << Frames{256, 1024, 1024} << "ABB" << "yyn" << 3;
        QTest::newRow("frame time wraps") << Frames{0xFFFFFF00u, 0, 256} << "ABC" << "yyy" << 0;
        QTest::newRow("frame time wraps, one missed") << Frames{0xFFFFFF00u, 256} << "AB" << "yy" << 1;
        QTest::newRow("first run") << Frames{123456} << "A" << "y" << 0;
    }

    void jackPeriodCheck()
    {
        QFETCH(QList<std::uint32_t>, frames);
        QFETCH(QString, events);
        QFETCH(QString, handedOn);
        QFETCH(int, late);
        JackPeriodCheck check;
        QString got;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            std::uint64_t digest = JackPeriodCheck::Start;
            if (events[i] != QLatin1Char('-')) {
                const QByteArray event = QByteArray("\xF0\x7E") + events[i].toLatin1() + "\xF7";
                digest = JackPeriodCheck::digest(digest, 0, reinterpret_cast<const std::uint8_t *>(event.constData()),
                                                 std::size_t(event.size()));
            }
            got += check.run(frames[i], 256, digest) ? QLatin1Char('y') : QLatin1Char('n');
        }
        QCOMPARE(got, handedOn);
        QCOMPARE(check.lateCycles(), std::uint64_t(late));
    }

    // What a period's events are told by: where they are in it, as well as their bytes.
    void jackPeriodDigest()
    {
        const std::uint8_t note[] = {0x90, 0x40, 0x7F};
        const std::uint8_t other[] = {0x90, 0x41, 0x7F};
        const std::uint64_t at0 = JackPeriodCheck::digest(JackPeriodCheck::Start, 0, note, 3);
        QCOMPARE(JackPeriodCheck::digest(JackPeriodCheck::Start, 0, note, 3), at0);
        QVERIFY(JackPeriodCheck::digest(JackPeriodCheck::Start, 1, note, 3) != at0);
        QVERIFY(JackPeriodCheck::digest(JackPeriodCheck::Start, 0, other, 3) != at0);
        QVERIFY(JackPeriodCheck::digest(JackPeriodCheck::Start, 0, note, 2) != at0);
        QVERIFY(JackPeriodCheck::digest(at0, 0, note, 3) != at0); // the same event twice is two events
    }

    void init()
    {
        m_service = std::make_unique<LoopbackMidiService>();
        m_service->addInput(QStringLiteral("Loop In"));
        m_service->addOutput(QStringLiteral("Loop Out"));
        QCOMPARE(m_service->midiInGetNumDevs(), 1u);
        QCOMPARE(m_service->midiOutGetNumDevs(), 1u);
        m_recorder.take();
        m_in = nullptr;
    }

    void cleanup()
    {
        if (m_in)
            m_service->midiInClose(m_in);
        m_service.reset();
    }

    void sysexFillsTheQueuedBuffersInOrder_data()
    {
        QTest::addColumn<QList<int>>("buffers");
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("recorded");
        QTest::addColumn<bool>("incomplete"); // the last buffer came back as MIM_LONGERROR
        QTest::addColumn<int>("lost");
        QTest::newRow("fits in one") << QList<int>{64, 64} << 13 << QList<int>{13} << false << 0;
        QTest::newRow("fills one exactly") << QList<int>{13} << 13 << QList<int>{13} << false << 0;
        QTest::newRow("split over three") << QList<int>{16, 16, 16, 16} << 40 << QList<int>{16, 16, 8} << false << 0;
        QTest::newRow("larger than all buffers") << QList<int>{8, 8} << 20 << QList<int>{8, 8} << true << 1;
        QTest::newRow("no buffer queued") << QList<int>{} << 13 << QList<int>{} << false << 1;
        QTest::newRow("empty message") << QList<int>{8} << 0 << QList<int>{0} << false << 0;
    }

    void sysexFillsTheQueuedBuffersInOrder()
    {
        QFETCH(QList<int>, buffers);
        QFETCH(int, size);
        QFETCH(QList<int>, recorded);
        QFETCH(bool, incomplete);
        QFETCH(int, lost);
        openInput();
        std::vector<std::unique_ptr<Buffer>> queued;
        for (int length : buffers) {
            queued.push_back(std::make_unique<Buffer>(length));
            QCOMPARE(m_service->midiInPrepareHeader(m_in, &queued.back()->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
            QCOMPARE(m_service->midiInAddBuffer(m_in, &queued.back()->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        }
        const QByteArray message = size > 0 ? sysex(size) : QByteArray();
        sendFromDevice(*m_service, 0, message);

        const auto calls = m_recorder.take();
        QCOMPARE(int(calls.size()), recorded.size());
        QByteArray received;
        for (int i = 0; i < recorded.size(); ++i) {
            const bool last = i == recorded.size() - 1;
            QCOMPARE(calls[i].message, last && incomplete ? MIM_LONGERROR : MIM_LONGDATA);
            // Buffers come back in the order they were queued.
            QCOMPARE(calls[i].param1, reinterpret_cast<std::uintptr_t>(&queued[i]->header));
            const MIDIHDR &h = queued[i]->header;
            QCOMPARE(int(h.dwBytesRecorded), recorded[i]);
            QVERIFY(h.dwFlags & MHDR_DONE);
            QVERIFY(!(h.dwFlags & MHDR_INQUEUE));
            received += QByteArray(reinterpret_cast<const char *>(h.lpData), int(h.dwBytesRecorded));
        }
        QCOMPARE(received, message.left(received.size()));
        QCOMPARE(int(m_service->midiInLostCount(m_in)), lost);
        // Closed while the buffers still exist: closing hands back those still queued.
        QCOMPARE(m_service->midiInClose(m_in), MMSYSERR_NOERROR);
        m_in = nullptr;
    }

    void shortMessagesArePacked_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<std::uint32_t>("packed");
        QTest::newRow("note on") << QByteArray("\x90\x40\x7F", 3) << true << 0x7F4090u;
        QTest::newRow("program change") << QByteArray("\xC0\x05", 2) << true << 0x05C0u;
        QTest::newRow("quarter frame") << QByteArray("\xF1\x23", 2) << true << 0x23F1u;
        QTest::newRow("clock") << QByteArray("\xF8", 1) << true << 0xF8u;
        QTest::newRow("data byte first") << QByteArray("\x40\x01", 2) << false << 0u;
    }

    void shortMessagesArePacked()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, delivered);
        QFETCH(std::uint32_t, packed);
        openInput();
        sendFromDevice(*m_service, 0, message);
        const auto calls = m_recorder.take();
        QCOMPARE(calls.size(), std::size_t(delivered ? 1 : 0));
        if (delivered) {
            QCOMPARE(calls[0].message, MIM_DATA);
            QCOMPARE(calls[0].param1, std::uintptr_t(packed));
        }
    }

    void timestampsCountFromStart()
    {
        QCOMPARE(m_service->midiInOpen(&m_in, 0, &Recorder::callback, m_recorder.instance(), CALLBACK_FUNCTION),
                 MMSYSERR_NOERROR);
        const QByteArray note("\x90\x40\x7F", 3);
        m_service->setClockMs(500);
        sendFromDevice(*m_service, 0, note); // before Start: not delivered
        m_service->setClockMs(1000);
        QCOMPARE(m_service->midiInStart(m_in), MMSYSERR_NOERROR);
        for (double at : {1005.0, 1012.4, 1012.4, 1020.6}) {
            m_service->setClockMs(at);
            sendFromDevice(*m_service, 0, note);
        }
        QCOMPARE(m_service->midiInStop(m_in), MMSYSERR_NOERROR);
        m_service->setClockMs(1500);
        sendFromDevice(*m_service, 0, note); // stopped: not delivered
        m_service->setClockMs(2000);
        QCOMPARE(m_service->midiInStart(m_in), MMSYSERR_NOERROR);
        m_service->setClockMs(2003);
        sendFromDevice(*m_service, 0, note);

        QList<std::uintptr_t> stamps;
        for (const auto &call : m_recorder.take())
            stamps << call.param2;
        QCOMPARE(stamps, (QList<std::uintptr_t>{5, 12, 12, 21, 3}));
    }

    void headerStates()
    {
        openInput();
        Buffer a(8), b(8), empty(8);
        empty.header.dwBufferLength = 0;
        QCOMPARE(m_service->midiInAddBuffer(m_in, &a.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
        QCOMPARE(m_service->midiInPrepareHeader(m_in, &a.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInPrepareHeader(m_in, &b.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInPrepareHeader(m_in, &empty.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInAddBuffer(m_in, &empty.header, sizeof(MIDIHDR)), MMSYSERR_INVALPARAM);
        QCOMPARE(m_service->midiInPrepareHeader(m_in, &a.header, sizeof(MIDIHDR) - 1), MMSYSERR_INVALPARAM);
        QCOMPARE(m_service->midiInAddBuffer(m_in, &a.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInAddBuffer(m_in, &a.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);
        QCOMPARE(m_service->midiInAddBuffer(m_in, &b.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInUnprepareHeader(m_in, &a.header, sizeof(MIDIHDR)), MIDIERR_STILLPLAYING);

        // Reset hands every queued buffer back, in order, with nothing recorded.
        a.header.dwBytesRecorded = 5;
        QCOMPARE(m_service->midiInReset(m_in), MMSYSERR_NOERROR);
        const auto calls = m_recorder.take();
        QCOMPARE(calls.size(), std::size_t(2));
        QCOMPARE(calls[0].param1, reinterpret_cast<std::uintptr_t>(&a.header));
        QCOMPARE(calls[1].param1, reinterpret_cast<std::uintptr_t>(&b.header));
        QCOMPARE(calls[0].message, MIM_LONGDATA);
        QCOMPARE(a.header.dwBytesRecorded, 0u);
        QCOMPARE(m_service->midiInUnprepareHeader(m_in, &a.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QVERIFY(!(a.header.dwFlags & MHDR_PREPARED));

        // Close hands back what is still queued, and calls back no more.
        QCOMPARE(m_service->midiInAddBuffer(m_in, &b.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInClose(m_in), MMSYSERR_NOERROR);
        m_in = nullptr;
        QCOMPARE(m_recorder.take().size(), std::size_t(1));
        QVERIFY(!m_service->send(0, QByteArray("\x90\x40\x7F", 3)));
        QCOMPARE(m_recorder.take().size(), std::size_t(0));
    }

    void handlesAndDeviceNumbersAreChecked()
    {
        openInput();
        HMIDIIN second = nullptr;
        QCOMPARE(m_service->midiInOpen(&second, 0, &Recorder::callback, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
        QCOMPARE(second, HMIDIIN(nullptr));
        QCOMPARE(m_service->midiInOpen(&second, 1, &Recorder::callback, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
        QCOMPARE(m_service->midiInOpen(&second, -1, &Recorder::callback, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
        HMIDIOUT out = nullptr;
        QCOMPARE(m_service->midiOutOpen(&out, 0, &Recorder::callback, 0, 0x50000), MMSYSERR_INVALFLAG);
        QCOMPARE(m_service->midiOutOpen(&out, MIDI_MAPPER, &Recorder::callback, 0, CALLBACK_FUNCTION),
                 MMSYSERR_BADDEVICEID);
        MIDIOUTCAPS outCaps;
        QCOMPARE(m_service->midiOutGetDevCaps(MIDI_MAPPER, outCaps), MMSYSERR_BADDEVICEID);
        MIDIINCAPS inCaps;
        QCOMPARE(m_service->midiInGetDevCaps(1, inCaps), MMSYSERR_BADDEVICEID);
        QCOMPARE(m_service->midiInGetDevCaps(0, inCaps), MMSYSERR_NOERROR);
        QCOMPARE(inCaps.szPname, QStringLiteral("Loop In"));

        HMIDIIN closed = m_in;
        QCOMPARE(m_service->midiInClose(m_in), MMSYSERR_NOERROR);
        m_in = nullptr;
        Buffer a(4);
        QCOMPARE(m_service->midiInStart(closed), MMSYSERR_INVALHANDLE);
        QCOMPARE(m_service->midiInPrepareHeader(closed, &a.header, sizeof(MIDIHDR)), MMSYSERR_INVALHANDLE);
        QCOMPARE(m_service->midiInClose(closed), MMSYSERR_INVALHANDLE);
        QCOMPARE(m_service->midiOutShortMsg(nullptr, 0x90), MMSYSERR_INVALHANDLE);
        QCOMPARE(m_service->openDeviceCount(), 0);
    }

    void errorTexts_data()
    {
        QTest::addColumn<MMRESULT>("code");
        QTest::addColumn<QString>("text"); // empty: no text, the code is not defined
        const std::pair<MMRESULT, const char *> texts[] = {
            {MMSYSERR_ERROR, "The MIDI service reported an unspecified error."},
            {MMSYSERR_BADDEVICEID, "The MIDI device number is out of range."},
            {MMSYSERR_ALLOCATED, "The MIDI device is already in use."},
            {MMSYSERR_INVALHANDLE, "The MIDI device handle is not valid (is the device open?)."},
            {MMSYSERR_NOMEM, "Not enough memory for the MIDI operation."},
            {MMSYSERR_INVALPARAM, "An invalid parameter was passed to the MIDI service."},
            {MIDIERR_UNPREPARED, "The MIDI buffer has not been prepared."},
            {MIDIERR_STILLPLAYING, "The MIDI buffer is still in use by the device."},
            {MIDIERR_NODEVICE, "The MIDI device is no longer present."},
            {MIDIERR_TOOLONG, "The message is longer than the MIDI device accepts in one piece."},
            // A library failure that left no text of its own.
            {MIDIERR_LIBRARYBASE + 8, "The MIDI library reported an error."},
        };
        for (const auto &[code, text] : texts)
            QTest::addRow("%u", code) << code << QString::fromLatin1(text);
        QTest::newRow("undefined") << MMRESULT(1234) << QString();
    }

    void errorTexts()
    {
        QFETCH(MMRESULT, code);
        QFETCH(QString, text);
        const MMRESULT result = text.isEmpty() ? MMSYSERR_BADERRNUM : MMSYSERR_NOERROR;
        QString in, out;
        QCOMPARE(m_service->midiInGetErrorText(code, in), result);
        QCOMPARE(m_service->midiOutGetErrorText(code, out), result);
        QCOMPARE(in, text);
        QCOMPARE(out, text);
    }

    void shortOutput_data()
    {
        QTest::addColumn<std::uint32_t>("message");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("note on") << 0x7F4090u << QByteArray("\x90\x40\x7F", 3);
        QTest::newRow("program change") << 0x0005C0u << QByteArray("\xC0\x05", 2);
        QTest::newRow("song position") << 0x102030F2u << QByteArray("\xF2\x30\x20", 3);
        QTest::newRow("quarter frame") << 0x0023F1u << QByteArray("\xF1\x23", 2);
        QTest::newRow("start") << 0x0000FAu << QByteArray("\xFA", 1);
        QTest::newRow("data byte") << 0x000040u << QByteArray();
        QTest::newRow("sysex start") << 0x0000F0u << QByteArray();
    }

    void shortOutput()
    {
        QFETCH(std::uint32_t, message);
        QFETCH(QByteArray, sent);
        HMIDIOUT out = nullptr;
        QCOMPARE(m_service->midiOutOpen(&out, 0, nullptr, 0, 0), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiOutShortMsg(out, message), sent.isEmpty() ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR);
        QCOMPARE(m_service->output(0), sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{sent});
        QCOMPARE(m_service->midiOutClose(out), MMSYSERR_NOERROR);
    }

    void longOutputIsReportedDone()
    {
        HMIDIOUT out = nullptr;
        QCOMPARE(m_service->midiOutOpen(&out, 0, &Recorder::callback, m_recorder.instance(), CALLBACK_FUNCTION),
                 MMSYSERR_NOERROR);
        Buffer block(5);
        std::copy_n("\xF0\x7E\x00\x11\xF7", 5, block.bytes.begin());
        QCOMPARE(m_service->midiOutLongMsg(out, &block.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
        QVERIFY(m_recorder.take().empty());
        QCOMPARE(m_service->midiOutPrepareHeader(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiOutLongMsg(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        const auto calls = m_recorder.take();
        QCOMPARE(calls.size(), std::size_t(1));
        QCOMPARE(calls[0].message, MOM_DONE);
        QCOMPARE(calls[0].param1, reinterpret_cast<std::uintptr_t>(&block.header));
        QVERIFY(block.header.dwFlags & MHDR_DONE);
        QCOMPARE(m_service->output(0), QList<QByteArray>{QByteArray("\xF0\x7E\x00\x11\xF7", 5)});
        QCOMPARE(m_service->midiOutUnprepareHeader(out, &block.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiOutClose(out), MMSYSERR_NOERROR);
    }

    void devicesLeftOpenAreClosedWithTheService()
    {
        openInput();
        HMIDIOUT out = nullptr;
        QCOMPARE(m_service->midiOutOpen(&out, 0, nullptr, 0, 0), MMSYSERR_NOERROR);
        QCOMPARE(m_service->openDeviceCount(), 2);
        m_in = nullptr;
        m_service.reset(); // no leak and no thread left behind (the sanitizers check)
    }

    // A device unplugged (or its server stopped) says so through its handle, leaves the lists,
    // delivers and takes nothing; plugged in again it is listed and opens anew, while the old
    // handle stays gone.
    void unpluggedDevicesSaySo()
    {
        openInput();
        HMIDIOUT out = nullptr;
        QCOMPARE(m_service->midiOutOpen(&out, 0, nullptr, 0, 0), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiInCheckDevice(m_in), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiOutCheckDevice(out), MMSYSERR_NOERROR);

        m_service->stopServer();
        QCOMPARE(m_service->midiInCheckDevice(m_in), MIDIERR_NODEVICE);
        QCOMPARE(m_service->midiOutCheckDevice(out), MIDIERR_NODEVICE);
        QCOMPARE(m_service->midiInGetNumDevs(), 0u);
        QCOMPARE(m_service->midiOutGetNumDevs(), 0u);
        QVERIFY(!m_service->send(0, QByteArray::fromHex("903C64")));
        QCOMPARE(m_service->midiOutShortMsg(out, 0x643C90), MIDIERR_NODEVICE);

        m_service->startServer();
        QCOMPARE(m_service->midiInGetNumDevs(), 1u);
        QCOMPARE(m_service->midiInCheckDevice(m_in), MIDIERR_NODEVICE);
        QCOMPARE(m_service->midiInClose(m_in), MMSYSERR_NOERROR);
        QCOMPARE(m_service->midiOutClose(out), MMSYSERR_NOERROR);
        m_in = nullptr;
        openInput();
        QCOMPARE(m_service->midiInCheckDevice(m_in), MMSYSERR_NOERROR);
        sendFromDevice(*m_service, 0, QByteArray::fromHex("903C64"));
        QCOMPARE(m_recorder.take().size(), 1u);
        QCOMPARE(m_service->midiInCheckDevice(nullptr), MMSYSERR_INVALHANDLE);
    }

    // The relay between the MIDI server's thread and the service: every message that fits
    // arrives whole and in order on the relay's thread; one that finds no room is counted lost,
    // and the ones before it still arrive.
    void relayCarriesMessagesWholeAndInOrder_data()
    {
        QTest::addColumn<std::size_t>("capacity");
        QTest::addColumn<bool>("holdDelivery"); // the relay's thread held up until all are pushed
        QTest::newRow("room for all") << (std::size_t(1) << 20) << false;
        QTest::newRow("full: the rest is lost") << std::size_t(4096) << true;
    }

    void relayCarriesMessagesWholeAndInOrder()
    {
        QFETCH(std::size_t, capacity);
        QFETCH(bool, holdDelivery);
        constexpr int Messages = 3000;
        std::mutex lock;
        std::condition_variable released;
        bool hold = holdDelivery;
        QByteArrayList received;
        QList<double> deltas;
        MidiInputRelay relay(
            [&](const std::uint8_t *bytes, std::size_t size, double delta) {
                std::unique_lock guard(lock);
                released.wait(guard, [&] { return !hold; });
                received << QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
                deltas << delta;
            },
            capacity);
        auto message = [](int n) {
            QByteArray m = sysex(3 + n % 200);
            m[1] = char(n & 0x7F);
            m[2] = char((n >> 7) & 0x7F);
            return m;
        };
        QList<int> pushed; // the messages that found room, in order
        std::thread server([&] {
            for (int n = 0; n < Messages; ++n) {
                const QByteArray m = message(n);
                if (relay.push(reinterpret_cast<const std::uint8_t *>(m.constData()), std::size_t(m.size()), n / 1000.0))
                    pushed << n;
            }
        });
        server.join();
        {
            std::lock_guard guard(lock);
            hold = false;
        }
        released.notify_all();
        QTRY_VERIFY([&] {
            std::lock_guard guard(lock);
            return received.size() == pushed.size();
        }());
        QCOMPARE(pushed.size() + qsizetype(relay.lost()), Messages);
        QCOMPARE(relay.lost() > 0, holdDelivery);
        std::lock_guard guard(lock);
        for (int k = 0; k < received.size(); ++k) {
            QCOMPARE(received[k], message(pushed[k]));
            QCOMPARE(deltas[k], pushed[k] / 1000.0);
        }
    }

    void stableProductNames_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("name");
        QTest::newRow("ALSA") << "Orvex USB:Orvex USB MIDI 1 20:0" << "Orvex USB:Orvex USB MIDI 1";
        QTest::newRow("ALSA, three-digit client") << "Midi Through:Midi Through Port-0 14:0"
                                                  << "Midi Through:Midi Through Port-0";
        QTest::newRow("ALSA, high numbers") << "Corvane:in 128:12" << "Corvane:in";
        QTest::newRow("JACK") << "system:midi_capture_1" << "system:midi_capture_1";
        QTest::newRow("JACK through a2j") << "a2j:Orvex USB [20] (capture): Orvex USB MIDI 1"
                                          << "a2j:Orvex USB [20] (capture): Orvex USB MIDI 1";
        QTest::newRow("a number that is no client:port") << "Synth 2" << "Synth 2";
        QTest::newRow("WinMM") << "USB Audio Device" << "USB Audio Device";
    }

    void stableProductNames()
    {
        QFETCH(QString, port);
        QFETCH(QString, name);
        QCOMPARE(RtMidiService::stableProductName(port), name);
    }

    // What RtMidi hands over as one message reaches the service one message at a time: a
    // System Exclusive message it glued other messages to (its sender never finished it) is
    // split at their status bytes; everything else goes on as it is.
    void gatheredMessagesAreSplit_data()
    {
        QTest::addColumn<QByteArray>("gathered");
        QTest::addColumn<QByteArrayList>("messages");
        const QByteArray event = QByteArray::fromHex("F07E00240601001023451200F7");
        QTest::newRow("whole message") << event << QByteArrayList{event};
        QTest::newRow("short message") << QByteArray::fromHex("903C64") << QByteArrayList{QByteArray::fromHex("903C64")};
        QTest::newRow("real-time bytes inside") << QByteArray::fromHex("F07EF8FE00F7")
                                                << QByteArrayList{QByteArray::fromHex("F07EF8FE00F7")};
        QTest::newRow("unfinished, then a whole one") << QByteArray::fromHex("F07E002406") + event
                                                      << QByteArrayList{QByteArray::fromHex("F07E002406"), event};
        QTest::newRow("unfinished, notes, a whole one")
            << QByteArray::fromHex("F07E00903C64F12180400000") + event
            << QByteArrayList{QByteArray::fromHex("F07E00"), QByteArray::fromHex("903C64"), QByteArray::fromHex("F121"),
                              QByteArray::fromHex("804000"), event};
        QTest::newRow("stray data bytes are no message") << QByteArray::fromHex("F001C0050607F8") + event
                                                         << QByteArrayList{QByteArray::fromHex("F001"),
                                                                           QByteArray::fromHex("C005"),
                                                                           QByteArray::fromHex("F8"), event};
        QTest::newRow("unfinished at the end") << QByteArray::fromHex("F07E00903C64F07E")
                                               << QByteArrayList{QByteArray::fromHex("F07E00"),
                                                                 QByteArray::fromHex("903C64"),
                                                                 QByteArray::fromHex("F07E")};
    }

    void gatheredMessagesAreSplit()
    {
        QFETCH(QByteArray, gathered);
        QFETCH(QByteArrayList, messages);
        struct Sink final : MidiInputSink {
            QByteArrayList received;
            QList<double> deltas;
            void receive(const std::uint8_t *bytes, std::size_t size, double deltaSeconds) noexcept override
            {
                received << QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
                deltas << deltaSeconds;
            }
        } sink;
        RtMidiService::deliverGathered(sink, reinterpret_cast<const std::uint8_t *>(gathered.constData()),
                                       std::size_t(gathered.size()), 0.25);
        QCOMPARE(sink.received, messages);
        // The time since the previous message belongs to the first one.
        QCOMPARE(sink.deltas.value(0), 0.25);
        QCOMPARE(sink.deltas.count(0.25), 1);
    }

    // Without a MIDI server (and, on this machine, without an ALSA sequencer) the RtMidi service
    // lists what there is and reports failures as result codes; RtMidi throws nothing through it.
    void rtMidiFailuresAreResultCodes()
    {
        qputenv("JACK_DEFAULT_SERVER", "corvane-no-such-server");
        qputenv("JACK_NO_START_SERVER", "1");
        RtMidiService service;
        const std::uint32_t inputs = service.midiInGetNumDevs();
        const std::uint32_t outputs = service.midiOutGetNumDevs();
        HMIDIIN in = nullptr;
        HMIDIOUT out = nullptr;
        QCOMPARE(service.midiInOpen(&in, int(inputs), &Recorder::callback, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
        QCOMPARE(service.midiOutOpen(&out, int(outputs), &Recorder::callback, 0, CALLBACK_FUNCTION),
                 MMSYSERR_BADDEVICEID);
        MIDIOUTCAPS caps;
        QCOMPARE(service.midiOutGetDevCaps(MIDI_MAPPER, caps), MMSYSERR_BADDEVICEID);
        QCOMPARE(service.openDeviceCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMidiService)
#include "tst_midiservice.moc"
