// Timecode reception: quarter frames, full frames, the two counters and the timecode text on
// both labels; and the encoding orvex-sim uses, checked against the same examples.

#include "DeviceLinkFixtures.h"
#include "Timecode.h"

#include <QTest>

using namespace DeviceLinkFixtures;

namespace {

// The quarter-frame data bytes of 10:23:45:12 at 25 frames per second (hours byte 2A).
const std::uint8_t Pieces102345[8] = {0x0C, 0x10, 0x2D, 0x32, 0x47, 0x51, 0x6A, 0x72};

} // namespace

class TestTimecode : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RecordingMonitor> m_monitor;
    std::unique_ptr<DeviceLink> m_link;

    void quarterFrame(std::uint8_t data) { m_link->HandleEvent(*shortEvent(0xF1, data)); }
    void sysex(const char *text) { m_link->HandleEvent(*sysexEvent(hex(text))); }

private slots:
    void init()
    {
        m_monitor = std::make_unique<RecordingMonitor>();
        m_link = std::make_unique<DeviceLink>(*m_monitor);
        m_link->setCaptureSink(m_monitor.get());
    }

    void cleanup()
    {
        m_link.reset();
        m_monitor.reset();
    }

    // Both labels stay as they are until piece 7, then show the assembled time; quarter frames
    // never reach the input monitor, but each one counts.
    void quarterFramesShowAtPieceSeven()
    {
        for (int piece = 0; piece < 7; ++piece)
            quarterFrame(Pieces102345[piece]);
        QCOMPARE(m_monitor->tcpoz, QStringList());
        QCOMPARE(m_monitor->captureTcpoz, QStringList());
        quarterFrame(Pieces102345[7]);
        QCOMPARE(m_monitor->tcpoz, QStringList{"10:23:45:12"});
        QCOMPARE(m_monitor->captureTcpoz, QStringList{"10:23:45:12"});
        QCOMPARE(m_monitor->vmin, QStringList());
        QCOMPARE(m_monitor->mtccount, (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
        QCOMPARE(m_link->timecode().fields(), (TimecodeFields{10, 23, 45, 12}));
    }

    // The order of the pieces is not checked: each piece replaces its nibble, and the rest of
    // the time stays.
    void piecesReplaceOneNibble()
    {
        for (std::uint8_t data : Pieces102345)
            quarterFrame(data);
        quarterFrame(0x03); // frames 0C -> 03
        quarterFrame(0x72);
        QCOMPARE(m_monitor->tcpoz.last(), "10:23:45:03");
        quarterFrame(0x11); // frames 03 -> 13 = 19
        quarterFrame(0x92); // not a quarter-frame piece: counted, changes nothing
        quarterFrame(0x72);
        QCOMPARE(m_monitor->tcpoz.last(), "10:23:45:19");
        QCOMPARE(m_monitor->mtccount.last(), "13");
    }

    void fullFrame_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("mmccount");
        QTest::addColumn<QString>("vmin");
        QTest::newRow("full frame") << hex("F0 7F 7F 01 01 2A 17 2D 0C F7") << QStringList{"10:23:45:12"}
                                    << QStringList{"1"} << "Sysex (10): F0 7F 7F 01 01 2A 17 2D 0C F7 Full Timecode";
        QTest::newRow("sub-ID 04: neither counted nor named")
            << hex("F0 7F 7F 04 01 2A 17 2D 0C F7") << QStringList{"10:23:45:12"} << QStringList()
            << "Sysex (10): F0 7F 7F 04 01 2A 17 2D 0C F7 ";
        QTest::newRow("second sub-ID 02: counted, no time")
            << hex("F0 7F 7F 01 02 2A 17 2D 0C 00 00 00 00 F7") << QStringList() << QStringList{"1"}
            << "Sysex (14): F0 7F 7F 01 02 2A 17 2D 0C 00 00 00 00 F7 Full Timecode";
        QTest::newRow("rate code 30 removed") << hex("F0 7F 7F 01 01 6A 00 00 00 F7") << QStringList{"10:00:00:00"}
                                              << QStringList{"1"}
                                              << "Sysex (10): F0 7F 7F 01 01 6A 00 00 00 F7 Full Timecode";
        QTest::newRow("frames keep six bits") << hex("F0 7F 7F 01 01 00 00 00 7F F7") << QStringList{"00:00:00:63"}
                                              << QStringList{"1"}
                                              << "Sysex (10): F0 7F 7F 01 01 00 00 00 7F F7 Full Timecode";
    }

    void fullFrame()
    {
        QFETCH(QByteArray, message);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, mmccount);
        QFETCH(QString, vmin);
        m_link->HandleEvent(*sysexEvent(message));
        QCOMPARE(m_monitor->tcpoz, shown);
        QCOMPARE(m_monitor->captureTcpoz, shown);
        QCOMPARE(m_monitor->mmccount, mmccount);
        QCOMPARE(m_monitor->vmin, QStringList{vmin});
        // A full frame adds to the quarter-frame count without showing it.
        QCOMPARE(m_monitor->mtccount, QStringList());
        QCOMPARE(m_link->timecode().mtcCount(), 1);
    }

    void countersWrapAt100()
    {
        for (int i = 0; i < 100; ++i)
            quarterFrame(0x00);
        QCOMPARE(m_monitor->mtccount.at(98), "99");
        QCOMPARE(m_monitor->mtccount.last(), "0");
        for (int i = 0; i < 100; ++i)
            sysex("F0 7F 7F 01 01 00 00 00 00 F7");
        QCOMPARE(m_monitor->mmccount.at(98), "99");
        QCOMPARE(m_monitor->mmccount.last(), "0");
    }

    // Full frames push the quarter-frame count past 99 without a caption; the next quarter
    // frame brings it back to 0.
    void fullFramesOverrunTheQuarterFrameCount()
    {
        for (int i = 0; i < 99; ++i)
            quarterFrame(0x00);
        sysex("F0 7F 7F 01 01 00 00 00 00 F7");
        QCOMPARE(m_link->timecode().mtcCount(), 100);
        QCOMPARE(m_monitor->mtccount.last(), "99");
        quarterFrame(0x00);
        QCOMPARE(m_monitor->mtccount.last(), "0");
    }

    void threeDigitFields_data()
    {
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<QString>("shown");
        QTest::newRow("frames FF") << QList<int>{0x0F, 0x1F, 0x70} << "00:00:00:0255";
        QTest::newRow("seconds 100") << QList<int>{0x24, 0x36, 0x70} << "00:00:0100:00";
        QTest::newRow("hours keep five bits") << QList<int>{0x6F, 0x7F} << "31:00:00:00";
    }

    void threeDigitFields()
    {
        QFETCH(QList<int>, pieces);
        QFETCH(QString, shown);
        for (int data : pieces)
            quarterFrame(std::uint8_t(data));
        QCOMPARE(m_monitor->tcpoz.last(), shown);
    }

    // What orvex-sim sends for 10:23:45:12 at 25 frames per second is what is decoded above.
    void encodesTheExamples()
    {
        const TimecodeFields time{10, 23, 45, 12};
        for (int piece = 0; piece < 8; ++piece)
            QCOMPARE(QuarterFrameData(time, MtcRate::Fps25, piece), Pieces102345[piece]);
        const auto full = FullFrameMessage(time, MtcRate::Fps25);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(full.data()), int(full.size())),
                 hex("F0 7F 7F 01 01 2A 17 2D 0C F7"));
    }
};

QTEST_GUILESS_MAIN(TestTimecode)
#include "tst_timecode.moc"
