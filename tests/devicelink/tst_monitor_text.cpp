// Monitor text: the one-line text of each kind of event, the System Exclusive dump, the names
// the decoders add, and the input monitor line the device link builds from them.

#include "DeviceLinkFixtures.h"
#include "MonitorText.h"

#include <QTest>

using namespace DeviceLinkFixtures;

namespace {

// F0 7F 7F 06 01 (MMC Stop), then bytes 05, 06, ... (each its own index AND 7F), ending F7.
QByteArray longMmcStop(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i & 0x7F);
    const QByteArray head = hex("F0 7F 7F 06 01");
    bytes.replace(0, head.size(), head);
    bytes[size - 1] = char(0xF7);
    return bytes;
}

} // namespace

class TestMonitorText : public QObject {
    Q_OBJECT

private slots:
    // Every format of a short event, to the space.
    void shortEventText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("d1");
        QTest::addColumn<int>("d2");
        QTest::addColumn<uint>("timestamp");
        QTest::addColumn<QString>("text");
        QTest::newRow("Note On, channel 1") << 0x90 << 0x3C << 0x64 << 1234u << "000004D2 90 3C 64 Note On";
        QTest::newRow("Note On, channel 2") << 0x91 << 0x3C << 0x64 << 1234u << "000004D2 91 3C 64 Note On";
        QTest::newRow("Note Off") << 0x80 << 0x3C << 0x00 << 0u << "00000000 80 3C 00 Note Off";
        QTest::newRow("Control Change, channel 16") << 0xBF << 0x07 << 0x7F << 0u << "00000000 BF 07 7F Control Change";
        QTest::newRow("Pitch Bend") << 0xE3 << 0x00 << 0x40 << 0u << "00000000 E3 00 40 Pitch Bend";
        QTest::newRow("Program Change: two bytes") << 0xC5 << 0x0A << 0x55 << 0u
                                                   << "00000000 C5 0A       Program Change";
        QTest::newRow("Channel Aftertouch") << 0xD0 << 0x20 << 0x00 << 0u << "00000000 D0 20       Channel Aftertouch";
        QTest::newRow("time stamp, both halves") << 0xA0 << 0x01 << 0x02 << 0x1234ABCDu
                                                 << "1234ABCD A0 01 02 Key Aftertouch";
        QTest::newRow("MTC quarter frame") << 0xF1 << 0x72 << 0x00 << 0u << "00000000 F1 72       MTC Quarter Frame";
        QTest::newRow("Song Select") << 0xF3 << 0x05 << 0x00 << 0u << "00000000 F3 05       Song Select";
        QTest::newRow("Song Position Pointer") << 0xF2 << 0x00 << 0x10 << 0u
                                               << "00000000 F2 00 10 Song Position Pointer";
        QTest::newRow("Timing Clock") << 0xF8 << 0x00 << 0x00 << 0u << "00000000 F8             Timing Clock";
        QTest::newRow("Tune Request") << 0xF6 << 0x00 << 0x00 << 0u << "00000000 F6             Tune Request";
        QTest::newRow("System Reset") << 0xFF << 0x00 << 0x00 << 0u << "00000000 FF             System Reset";
        QTest::newRow("byte below 80") << 0x0E << 0x00 << 0x00 << 0u << "00000000 0E             Active Sensing";
    }

    void shortEventText()
    {
        QFETCH(int, status);
        QFETCH(int, d1);
        QFETCH(int, d2);
        QFETCH(uint, timestamp);
        QFETCH(QString, text);
        QCOMPARE(MidiEventText(*shortEvent(std::uint8_t(status), std::uint8_t(d1), std::uint8_t(d2), timestamp)), text);
    }

    void sysexEventText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("full frame") << hex("F0 7F 7F 01 01 2A 17 2D 0C F7")
                                    << "Sysex (10): F0 7F 7F 01 01 2A 17 2D 0C F7 ";
        QTest::newRow("no data") << QByteArray() << "Sysex (0): ";
    }

    void sysexEventText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(MidiEventText(*sysexEvent(bytes)), text);
    }

    void sysexDumpStopsAt200Bytes()
    {
        const QByteArray block = longMmcStop(300);
        const QString dump = SysexBytesText(reinterpret_cast<const std::uint8_t *>(block.constData()), block.size());
        QCOMPARE(dump.size(), 600);
        QVERIFY(dump.startsWith(QLatin1String("F0 7F 7F 06 01 05 06 ")));
        QVERIFY(dump.endsWith(QLatin1String("46 47 "))); // bytes 198 and 199
        QCOMPARE(SysexBytesText(nullptr, 5), QString());
    }

    // The line in the input monitor: the event text cut to 255 characters, then the name the
    // decoders gave it.
    void inputMonitorLine_data()
    {
        QTest::addColumn<QByteArray>("sysex"); // empty: a short event
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("d1");
        QTest::addColumn<int>("d2");
        QTest::addColumn<QString>("line");
        QTest::newRow("Note On, channel 1: named twice")
            << QByteArray() << 0x90 << 0x3C << 0x64 << "000004D2 90 3C 64 Note OnNote On";
        QTest::newRow("Note On, channel 2: no short name")
            << QByteArray() << 0x91 << 0x3C << 0x64 << "000004D2 91 3C 64 Note On";
        QTest::newRow("Song Position") << QByteArray() << 0xF2 << 0x00 << 0x10
                                       << "000004D2 F2 00 10 Song Position PointerSong Position";
        QTest::newRow("Song Select") << QByteArray() << 0xF3 << 0x01 << 0x00 << "000004D2 F3 01       Song SelectSong Select";
        QTest::newRow("Tune request") << QByteArray() << 0xF6 << 0x00 << 0x00
                                      << "000004D2 F6             Tune RequestTune request";
        QTest::newRow("End of SYSX") << QByteArray() << 0xF7 << 0x00 << 0x00
                                     << "000004D2 F7             System Exclusive EndEnd of SYSX";
        QTest::newRow("Timing Clock") << QByteArray() << 0xF8 << 0x00 << 0x00 << "000004D2 F8             Timing Clock";
        QTest::newRow("full frame") << hex("F0 7F 7F 01 01 2A 17 2D 0C F7") << 0xF0 << 0 << 0
                                    << "Sysex (10): F0 7F 7F 01 01 2A 17 2D 0C F7 Full Timecode";
        QTest::newRow("MMC Stop") << hex("F0 7F 7F 06 01 F7") << 0xF0 << 0 << 0 << "Sysex (6): F0 7F 7F 06 01 F7 Stop";
        QTest::newRow("MMC Write of field 4D") << hex("F0 7F 7F 06 40 02 4D 00 F7") << 0xF0 << 0 << 0
                                               << "Sysex (9): F0 7F 7F 06 40 02 4D 00 F7 Write: Record Status";
        QTest::newRow("MMC command 20: no name") << hex("F0 7F 7F 06 20 F7") << 0xF0 << 0 << 0
                                                 << "Sysex (6): F0 7F 7F 06 20 F7 ";
        QTest::newRow("MMC response, field 30") << hex("F0 7F 7F 07 30 00 F7") << 0xF0 << 0 << 0
                                                << "Sysex (7): F0 7F 7F 07 30 00 F7 Unknown";
        QTest::newRow("MMC response, field 48") << hex("F0 7F 7F 07 48 00 F7") << 0xF0 << 0 << 0
                                                << "Sysex (7): F0 7F 7F 07 48 00 F7 Motion Control Tally";
        QTest::newRow("manufacturer message") << hex("F0 43 10 4C F7") << 0xF0 << 0 << 0 << "Sysex (5): F0 43 10 4C F7 ";
    }

    void inputMonitorLine()
    {
        QFETCH(QByteArray, sysex);
        QFETCH(int, status);
        QFETCH(int, d1);
        QFETCH(int, d2);
        QFETCH(QString, line);
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        auto event = sysex.isEmpty() ? shortEvent(std::uint8_t(status), std::uint8_t(d1), std::uint8_t(d2), 1234)
                                     : sysexEvent(sysex);
        link.HandleEvent(*event);
        QCOMPARE(monitor.vmin, QStringList{line});
    }

    // A 300-byte block lists 200 bytes, and the line is cut at 255 characters (inside the 81st
    // byte) before the name is appended.
    void longSysexLineIsCutBeforeTheName()
    {
        RecordingMonitor monitor;
        DeviceLink link(monitor);
        link.HandleEvent(*sysexEvent(longMmcStop(300)));
        QCOMPARE(monitor.vmin.size(), 1);
        const QString line = monitor.vmin.first();
        QCOMPARE(line.size(), 255 + 4);
        QVERIFY(line.startsWith(QLatin1String("Sysex (300): F0 7F 7F 06 01 05 06 ")));
        QVERIFY2(line.endsWith(QLatin1String(" 4F 50Stop")), qPrintable(line.right(20)));
    }

    void mmcFieldNames_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("name");
        QTest::newRow("01") << 0x01 << "Selected Timecode";
        QTest::newRow("07") << 0x07 << "MIDI TC INPUT";
        QTest::newRow("08") << 0x08 << "GP0 Time + sub frames";
        QTest::newRow("0F") << 0x0F << "GP7 Time + sub frames";
        QTest::newRow("10") << 0x10 << "Unknown";
        QTest::newRow("21") << 0x21 << "Short Position";
        QTest::newRow("23") << 0x23 << "Short Rquested Offset";
        QTest::newRow("28") << 0x28 << "Short GP0";
        QTest::newRow("2F") << 0x2F << "Short GP7";
        QTest::newRow("30") << 0x30 << "Unknown";
        QTest::newRow("40") << 0x40 << "SIGNATURE";
        QTest::newRow("4B") << 0x4B << "FASt MONITORING MODE";
        QTest::newRow("4C") << 0x4C << "RECORD REHERSAL MODE";
        QTest::newRow("58") << 0x58 << "LOCAl on/off";
        QTest::newRow("65") << 0x65 << "FAILURE";
        QTest::newRow("66") << 0x66 << "Unknown";
        QTest::newRow("77") << 0x77 << "Track Solo Map";
        QTest::newRow("7C") << 0x7C << "WAIT";
        QTest::newRow("7F") << 0x7F << "RESUME";
        QTest::newRow("80") << 0x80 << "Unknown";
        QTest::newRow("FF") << 0xFF << "Unknown";
    }

    void mmcFieldNames()
    {
        QFETCH(int, field);
        QFETCH(QString, name);
        QCOMPARE(MmcFieldName(std::uint8_t(field)), name);
    }

    void mmcFieldTableHas71Names()
    {
        int named = 0;
        for (int field = 0; field < 256; ++field)
            named += MmcFieldName(std::uint8_t(field)) != QLatin1String("Unknown");
        QCOMPARE(named, 71);
    }

    void mmcCommandNames_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("name");
        QTest::newRow("Stop") << hex("F0 7F 7F 06 01 F7") << "Stop";
        QTest::newRow("Defered Play") << hex("F0 7F 7F 06 03 F7") << "Defered Play";
        QTest::newRow("MMC Reset") << hex("F0 7F 7F 06 0D F7") << "MMC Reset";
        QTest::newRow("0E: none") << hex("F0 7F 7F 06 0E F7") << "";
        QTest::newRow("Write") << hex("F0 7F 7F 06 40 02 4D 00 F7") << "Write: Record Status";
        QTest::newRow("Masked Write") << hex("F0 7F 7F 06 41 04 01 00 00 00 F7") << "Masked Write: Selected Timecode";
        QTest::newRow("Read of an unknown field") << hex("F0 7F 7F 06 42 01 30 F7") << "Read: Unknown";
        QTest::newRow("Rec Strobe Var") << hex("F0 7F 7F 06 55 F7") << "Rec Strobe Var";
        QTest::newRow("Sequoia") << hex("F0 7F 7F 06 6F F7") << "Sequoia: ";
        QTest::newRow("Wait") << hex("F0 7F 7F 06 7C F7") << "Wait";
        QTest::newRow("Resume") << hex("F0 7F 7F 06 7F F7") << "Resume";
        QTest::newRow("20: none") << hex("F0 7F 7F 06 20 F7") << "";
    }

    void mmcCommandNames()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, name);
        QCOMPARE(MmcCommandName(reinterpret_cast<const std::uint8_t *>(message.constData()), int(message.size())), name);
    }
};

QTEST_GUILESS_MAIN(TestMonitorText)
#include "tst_monitor_text.moc"
