// The interface's messages: 7-bit packing, capture events and revision replies as decoded by
// the device link, the messages it sends with their monitor lines, and messages shorter than
// they claim.

#include "DeviceLinkFixtures.h"
#include "LoopbackMidiService.h"
#include "MidiOut.h"

#include <QRandomGenerator>
#include <QTest>

using namespace DeviceLinkFixtures;

namespace {

QByteArray bytesOf(const OrvexBuffer &buffer, int length)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), length);
}

const QByteArray LtcTable1 = hex("F0 7E 00 05 02 01 03 00 F7");
const QByteArray LtcTable2 = hex("F0 7E 00 0C 02 02 02 00 F7");
const QByteArray LtcCommit = hex("F0 7E 00 07 00 F7");
const QByteArray RevisionQuery = hex("F0 7E 00 11 00 F7");

} // namespace

class TestDeviceCodec : public QObject {
    Q_OBJECT

private slots:
    // Decoding in place: the decoded bytes stand from the count position on; what follows them
    // keeps its packed bytes.
    void unpack_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("decoded"); // the payload after decoding
        QTest::newRow("no high bits") << hex("F0 7E 00 05 02 01 03 00 F7") << hex("01 03");
        QTest::newRow("first byte takes the highest used bit") << hex("F0 7E 00 05 02 01 03 02 F7") << hex("81 03");
        QTest::newRow("group of six, bit 5") << hex("F0 7E 00 24 06 01 00 10 23 45 12 20 F7")
                                             << hex("81 00 10 23 45 12");
        QTest::newRow("group of six, bit 0") << hex("F0 7E 00 24 06 01 00 10 23 45 12 01 F7")
                                             << hex("01 00 10 23 45 92");
        QTest::newRow("full group, then one")
            << hex("F0 7E 00 30 08 01 02 03 04 05 06 07 41 08 01 F7") << hex("81 02 03 04 05 06 87 88");
        QTest::newRow("count 0") << hex("F0 7E 00 07 00 F7") << QByteArray();
    }

    void unpack()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, decoded);
        QVERIFY(Unpack7Bit(reinterpret_cast<std::uint8_t *>(message.data()), int(message.size()), 4));
        QCOMPARE(message.mid(5, decoded.size()), decoded);
    }

    void packsTheExamples_data()
    {
        QTest::addColumn<QByteArray>("group");  // n payload bytes and a place for the high bits
        QTest::addColumn<QByteArray>("packed");
        QTest::newRow("two, no high bits") << hex("01 03 FF") << hex("01 03 00");
        QTest::newRow("two, first high") << hex("81 03 FF") << hex("01 03 02");
        QTest::newRow("six, first high") << hex("81 00 10 23 45 12 FF") << hex("01 00 10 23 45 12 20");
        QTest::newRow("seven, all high") << hex("80 81 82 83 84 85 86 FF") << hex("00 01 02 03 04 05 06 7F");
    }

    void packsTheExamples()
    {
        QFETCH(QByteArray, group);
        QFETCH(QByteArray, packed);
        Pack7Bit(reinterpret_cast<std::uint8_t *>(group.data()), int(group.size()) - 1);
        QCOMPARE(group, packed);
    }

    // Whatever the length and the high bits, a message built for sending decodes to its
    // payload, and stays within the outgoing buffer.
    void buildThenUnpackRoundTrips()
    {
        QRandomGenerator random(20240605);
        for (int count = 0; count <= OrvexMessage::MaxPayload; ++count) {
            QByteArray payload(count, '\0');
            for (auto &b : payload)
                b = char(random.bounded(256));
            OrvexBuffer buffer;
            buffer.fill(0xEE); // stale bytes of an earlier message
            const int length = BuildDeviceMessage(buffer, 0x30, reinterpret_cast<const std::uint8_t *>(payload.constData()), count);
            QCOMPARE(length, count + (count + 6) / 7 + 6);
            QByteArray wire = bytesOf(buffer, length);
            QCOMPARE(wire.back(), char(0xF7));
            for (int i = 1; i < length - 1; ++i)
                QVERIFY2(std::uint8_t(wire[i]) < 0x80, qPrintable(QString::number(count)));
            QVERIFY(Unpack7Bit(reinterpret_cast<std::uint8_t *>(wire.data()), int(wire.size()), 4));
            QCOMPARE(wire.mid(5, count), payload);
        }
    }

    void buildRefusesMoreThan31Bytes()
    {
        OrvexBuffer buffer{};
        const std::uint8_t payload[32] = {};
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, BuildDeviceMessage(buffer, 0x30, payload, 32));
    }

    // The capture event example, type 24 and 2F alike: one row, timecode in both columns, and
    // the decoded payload in the parameter monitor.
    void captureEvent_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("m8data");
        QTest::newRow("type 24") << hex("F0 7E 00 24 06 01 00 10 23 45 12 00 F7") << "10:23:45:12 10:23:45:12 0001"
                                 << "24:  01 00 10 23 45 12";
        QTest::newRow("type 2F") << hex("F0 7E 00 2F 06 01 00 10 23 45 12 00 F7") << "10:23:45:12 10:23:45:12 0001"
                                 << "2F:  01 00 10 23 45 12";
        QTest::newRow("high-bit order in a short group")
            << hex("F0 7E 00 24 06 01 00 10 23 45 12 20 F7") << "10:23:45:12 10:23:45:12 0081"
            << "24:  81 00 10 23 45 12";
        QTest::newRow("camera 16, high byte first") << hex("F0 7E 00 24 06 00 00 23 59 59 24 10 F7")
                                                    << "23:59:59:24 23:59:59:24 8000" << "24:  00 80 23 59 59 24";
        QTest::newRow("payload longer than six bytes")
            << hex("F0 7E 00 24 07 03 00 01 02 03 04 09 00 F7") << "01:02:03:04 01:02:03:04 0003"
            << "24:  03 00 01 02 03 04 09";
    }

    void captureEvent()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, row);
        QFETCH(QString, m8data);
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        link.setCaptureSink(&monitor);
        auto event = sysexEvent(message);
        link.HandleEvent(*event);
        QCOMPARE(monitor.rows, QStringList{row});
        QCOMPARE(monitor.m8data, QStringList{m8data});
        // The input monitor shows the bytes as received, still packed.
        QCOMPARE(monitor.vmin.size(), 1);
        QCOMPARE(monitor.vmin.first(),
                 QStringLiteral("Sysex (%1): ").arg(message.size()) + QString::fromLatin1(message.toHex(' ').toUpper()) + ' ');
    }

    void otherMessages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QStringList>("m8data");
        QTest::newRow("7F F7: ignored entirely") << hex("F0 7E 00 7F F7") << QStringList();
        QTest::newRow("unknown type: listed only") << hex("F0 7E 00 30 02 05 06 00 F7") << QStringList{"30:  05 06"};
        QTest::newRow("count 0") << hex("F0 7E 00 11 00 F7") << QStringList{"11: "};
        QTest::newRow("other device byte") << hex("F0 7E 05 30 01 7F 00 F7") << QStringList{"30:  7F"};
        QTest::newRow("manufacturer message") << hex("F0 43 10 24 06 01 00 10 23 45 12 00 F7") << QStringList();
    }

    void otherMessages()
    {
        QFETCH(QByteArray, message);
        QFETCH(QStringList, m8data);
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        link.setCaptureSink(&monitor);
        link.HandleEvent(*sysexEvent(message));
        QCOMPARE(monitor.m8data, m8data);
        QCOMPARE(monitor.rows, QStringList());
        QCOMPARE(monitor.revtext, QStringList());
        QCOMPARE(monitor.vmin.size(), 1);
    }

    // Revision replies, one after another on the same link: a short reply clears the second
    // line before the model label is appended.
    void revisionReplies()
    {
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        const struct {
            QByteArray payload;
            QString revtext, revtext2;
        } replies[] = {
            {hex("01 62 02 10 00 35 03 01 00 12"), "Core 02.10 Build 00.35 HW 01.62", "Main 03.01 Build 00.12 Vexa-16"},
            {hex("01 62 02 10 00 35"), "Core 02.10 Build 00.35 HW 01.62", " Vexa-16"},
            {hex("01 82 02 11 00 36"), "Core 02.11 Build 00.36 HW 01.82", " Vexa-8"},
            {hex("01 8F 02 11 00 36 03 02 00 13"), "Core 02.11 Build 00.36 HW 01.8F", "Main 03.02 Build 00.13 Vexa-8"},
            {hex("01 12 02 11 00 36 03 02 00 13"), "Core 02.11 Build 00.36 HW 01.12", "Main 03.02 Build 00.13"},
            {hex("0A 70 02 11 00 36"), "Core 02.11 Build 00.36 HW 0A.70", ""},
            {hex("FA 6B C0 11 00 B6"), "Core C0.11 Build 00.B6 HW FA.6B", " Vexa-16"},
        };
        int expected = 0;
        for (const auto &reply : replies) {
            const std::vector<std::uint8_t> wire = EncodeDeviceMessage(
                OrvexMessage::RevisionReply, std::vector<std::uint8_t>(reply.payload.begin(), reply.payload.end()));
            link.HandleEvent(*sysexEvent(QByteArray(reinterpret_cast<const char *>(wire.data()), int(wire.size()))));
            ++expected;
            QCOMPARE(monitor.revtext.size(), expected);
            QCOMPARE(monitor.revtext.last(), reply.revtext);
            QCOMPARE(monitor.revtext2.last(), reply.revtext2);
        }
    }

    void revisionQuery()
    {
        RecordingMonitor monitor;
        RecordingOutput output;
        DeviceLink link(monitor);
        link.setOutput(&output);
        link.SendRevisionQuery(0x11);
        QCOMPARE(monitor.vmout, QStringList{" F0 7E 00 11 00 F7 "});
        QCOMPARE(output.sent, QList<QByteArray>{RevisionQuery});
        QCOMPARE(monitor.m8data, QStringList());
    }

    // The "LTC" button: three messages in order, each listed in the output monitor; the
    // parameter lines only while the window is shown.
    void ltcMessages_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QStringList>("m8data");
        QTest::newRow("shown") << true << QStringList{"$05 $01 $03", "$0C $02 $02", "$07"};
        QTest::newRow("hidden") << false << QStringList();
    }

    void ltcMessages()
    {
        QFETCH(bool, shown);
        QFETCH(QStringList, m8data);
        RecordingMonitor monitor;
        monitor.shown = shown;
        RecordingOutput output;
        DeviceLink link(monitor);
        link.setOutput(&output);
        link.SendRevisionQuery(); // a longer message before: nothing of it may remain
        link.SendLtcMessages();
        QCOMPARE(output.sent, (QList<QByteArray>{RevisionQuery, LtcTable1, LtcTable2, LtcCommit}));
        QCOMPARE(monitor.vmout, (QStringList{" F0 7E 00 11 00 F7 ", " F0 7E 00 05 02 01 03 00 F7 ",
                                             " F0 7E 00 0C 02 02 02 00 F7 ", " F0 7E 00 07 00 F7 "}));
        QCOMPARE(monitor.m8data, m8data);
    }

    // Type 07 goes out with count 0 whatever index and value are given.
    void parameterCommitHasNoPayload()
    {
        RecordingMonitor monitor;
        RecordingOutput output;
        DeviceLink link(monitor);
        link.setOutput(&output);
        link.WriteParameter(0x07, 0x55, 0x66);
        link.WriteParameter(0x05, 0x81, 0x7F);
        QCOMPARE(output.sent, (QList<QByteArray>{LtcCommit, hex("F0 7E 00 05 02 01 7F 02 F7")}));
        QCOMPARE(monitor.m8data, (QStringList{"$07", "$05 $81 $7F"}));
    }

    // Through an output port: sent while the output is meant to be open, only listed when not;
    // a failing send raises the port's error and the next send goes through.
    void portOutput()
    {
        LoopbackMidiService service;
        const int device = service.addOutput(QStringLiteral("Orvex out"));
        TMidiOutput port(service);
        port.setDeviceID(device);
        QVERIFY(port.Open());
        bool open = false;
        PortSysexOutput output(port, [&open] { return open; });
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        link.setOutput(&output);

        link.SendRevisionQuery();
        QCOMPARE(service.output(device), QList<QByteArray>());
        QCOMPARE(monitor.vmout.size(), 1);

        open = true;
        service.failCall(MidiCall::OutLongMsg, MMSYSERR_NOMEM);
        QVERIFY_THROWS_EXCEPTION(EmidioutputError, link.SendRevisionQuery());
        QCOMPARE(monitor.vmout.size(), 2);
        link.SendLtcMessages();
        QCOMPARE(service.output(device), (QList<QByteArray>{LtcTable1, LtcTable2, LtcCommit}));
        QCOMPARE(monitor.vmout.size(), 5);
        port.Close();
    }

    // Messages shorter than they claim. Each event's data block holds more than the event
    // claims: the bytes after it would complete the message, so a decoder that read past the
    // received bytes would act. Such a message is dropped (no row, no revision change, no
    // timecode, no count, no name) and keeps its input monitor line; nothing past it changes.
    void shortMessages_data()
    {
        QTest::addColumn<QByteArray>("memory");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("vmin");
        QTest::addColumn<QStringList>("m8data");

        const QByteArray capture = hex("F0 7E 00 24 06 01 00 10 23 45 12 00 F7");
        const QByteArray revision = hex("F0 7E 00 21 0A 01 62 02 10 00 35 03 00 01 00 12 00 F7");
        const QByteArray fullFrame = hex("F0 7F 7F 01 01 2A 17 2D 0C F7");
        QTest::newRow("only F0") << capture << 1 << "Sysex (1): F0 " << QStringList();
        QTest::newRow("F0 7E") << capture << 2 << "Sysex (2): F0 7E " << QStringList();
        QTest::newRow("no count") << capture << 4 << "Sysex (4): F0 7E 00 24 " << QStringList();
        QTest::newRow("end mark at the count") << hex("F0 7E 00 24 F7 00 10 23 45 12 00 F7") << 5
                                               << "Sysex (5): F0 7E 00 24 F7 " << QStringList();
        QTest::newRow("capture: count above the bytes") << capture << 9 << "Sysex (9): F0 7E 00 24 06 01 00 10 23 "
                                                        << QStringList();
        QTest::newRow("capture: high-bit byte missing") << capture << 11
                                                        << "Sysex (11): F0 7E 00 24 06 01 00 10 23 45 12 " << QStringList();
        QTest::newRow("capture: end mark in place of the high bits")
            << hex("F0 7E 00 24 07 01 00 10 23 45 12 00 F7 00 F7") << 13
            << "Sysex (13): F0 7E 00 24 07 01 00 10 23 45 12 00 F7 " << QStringList();
        QTest::newRow("capture: four payload bytes") << hex("F0 7E 00 24 04 01 00 10 23 00 F7 45 12 00 F7") << 11
                                                     << "Sysex (11): F0 7E 00 24 04 01 00 10 23 00 F7 "
                                                     << QStringList{"24:  01 00 10 23"};
        QTest::newRow("revision: count 8") << hex("F0 7E 00 21 08 01 62 02 10 00 35 03 00 01 00 F7 12 00 F7") << 16
                                           << "Sysex (16): F0 7E 00 21 08 01 62 02 10 00 35 03 00 01 00 F7 "
                                           << QStringList{"21:  01 62 02 10 00 35 03 01"};
        QTest::newRow("revision: count above the bytes") << revision << 15
                                                         << "Sysex (15): F0 7E 00 21 0A 01 62 02 10 00 35 03 00 01 00 "
                                                         << QStringList();
        QTest::newRow("full frame: no frames byte") << fullFrame << 8 << "Sysex (8): F0 7F 7F 01 01 2A 17 2D "
                                                    << QStringList();
        QTest::newRow("full frame: end mark in place of the frames")
            << hex("F0 7F 7F 01 01 2A 17 2D F7 0C F7") << 9 << "Sysex (9): F0 7F 7F 01 01 2A 17 2D F7 " << QStringList();
        QTest::newRow("full frame: no second sub-ID") << fullFrame << 4 << "Sysex (4): F0 7F 7F 01 " << QStringList();
        QTest::newRow("quiet full frame: no frames byte") << hex("F0 7F 7F 04 01 2A 17 2D 0C F7") << 8
                                                          << "Sysex (8): F0 7F 7F 04 01 2A 17 2D " << QStringList();
        QTest::newRow("MMC Write: no field") << hex("F0 7F 7F 06 40 02 4D 00 F7") << 6
                                             << "Sysex (6): F0 7F 7F 06 40 02 " << QStringList();
        QTest::newRow("MMC command: end mark at the command") << hex("F0 7F 7F 06 F7 01 F7") << 5
                                                              << "Sysex (5): F0 7F 7F 06 F7 " << QStringList();
        QTest::newRow("MMC response: no field") << hex("F0 7F 7F 07 4D F7") << 4 << "Sysex (4): F0 7F 7F 07 "
                                                << QStringList();
        QTest::newRow("no data at all") << QByteArray() << 0 << "Sysex (0): " << QStringList();
    }

    void shortMessages()
    {
        QFETCH(QByteArray, memory);
        QFETCH(int, length);
        QFETCH(QString, vmin);
        QFETCH(QStringList, m8data);
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        link.setCaptureSink(&monitor);
        auto event = sysexEvent(memory, length);
        link.HandleEvent(*event);
        QCOMPARE(monitor.vmin, QStringList{vmin});
        QCOMPARE(monitor.m8data, m8data);
        QCOMPARE(monitor.rows, QStringList());
        QCOMPARE(monitor.revtext, QStringList());
        QCOMPARE(monitor.tcpoz, QStringList());
        QCOMPARE(monitor.captureTcpoz, QStringList());
        QCOMPARE(monitor.mmccount, QStringList());
        QCOMPARE(link.timecode().mtcCount(), 0);
        QCOMPARE(link.timecode().mmcCount(), 0);
        QCOMPARE(dataOf(*event, int(memory.size())).mid(length), memory.mid(length));
    }

    // The same rule reached directly, without the drain loop's event.
    void unpackRefusesACountAboveTheBytes()
    {
        QByteArray message = hex("F0 7E 00 24 06 01 00 10 23 45 12 00 F7");
        const QByteArray before = message;
        QVERIFY(!Unpack7Bit(reinterpret_cast<std::uint8_t *>(message.data()), 10, 4));
        QVERIFY(!Unpack7Bit(reinterpret_cast<std::uint8_t *>(message.data()), int(message.size()), 13));
        QCOMPARE(message, before);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCodec)
#include "tst_devicecodec.moc"
