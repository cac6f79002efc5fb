// orvex-sim without its ports: the capture event it sends, checked against a known message of
// the interface, and its script format.

#include "DeviceLinkFixtures.h"
#include "OrvexSim.h"

#include <QTest>

using namespace DeviceLinkFixtures;

class TestOrvexSim : public QObject {
    Q_OBJECT

private slots:
    // Cameras 1 and 8 at 10:23:45:12, the timecode in binary-coded decimal: the example that
    // the device link reads as camera state 0081.
    void captureEventExample()
    {
        const OrvexSim::Message message = OrvexSim::captureEvent(0x0081, TimecodeFields{10, 23, 45, 12});
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.data()), int(message.size())),
                 hex("F0 7E 00 24 06 01 00 10 23 45 12 20 F7"));
    }

    void script()
    {
        QString error;
        const auto events = OrvexSim::parseScript(QStringLiteral("# mask timecode delay\n"
                                                                 "\n"
                                                                 "0001 10:00:00:00\n"
                                                                 "  fFfF\t23:59:59:24   1500  # all on\r\n"
                                                                 "8 -\n"),
                                                  25, error);
        QVERIFY2(events, qPrintable(error));
        QCOMPARE(events->size(), std::size_t(3));
        QCOMPARE(events->at(0).line, 3);
        QCOMPARE(events->at(0).mask, 0x0001);
        QCOMPARE(events->at(0).time, (TimecodeFields{10, 0, 0, 0}));
        QCOMPARE(events->at(0).delayMs, 0);
        QCOMPARE(events->at(1).mask, 0xFFFF);
        QCOMPARE(events->at(1).time, (TimecodeFields{23, 59, 59, 24}));
        QCOMPARE(events->at(1).delayMs, 1500);
        QCOMPARE(events->at(2).line, 5);
        QCOMPARE(events->at(2).mask, 0x0008);
        QVERIFY(!events->at(2).time);
    }

    void scriptErrors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QString>("error");
        QTest::newRow("mask too long") << "0001 10:00:00:00\n10000 10:00:00:00" << 25
                                       << "line 2: camera mask \"10000\" is not 1 to 4 hexadecimal digits";
        QTest::newRow("mask not hexadecimal") << "00G1 10:00:00:00" << 25
                                              << "line 1: camera mask \"00G1\" is not 1 to 4 hexadecimal digits";
        QTest::newRow("frame beyond the rate") << "1 10:00:00:24" << 24
                                               << "line 1: timecode \"10:00:00:24\" is not hh:mm:ss:ff at 24 fps";
        QTest::newRow("hours beyond the day") << "1 24:00:00:00" << 25
                                              << "line 1: timecode \"24:00:00:00\" is not hh:mm:ss:ff at 25 fps";
        QTest::newRow("negative delay") << "1 - -5" << 25 << "line 1: delay \"-5\" is not a number of milliseconds";
        QTest::newRow("mask alone") << "1" << 25 << "line 1: expected MASK TIMECODE [DELAY-MS]";
        QTest::newRow("too many fields") << "1 - 5 6" << 25 << "line 1: expected MASK TIMECODE [DELAY-MS]";
    }

    void scriptErrors()
    {
        QFETCH(QString, text);
        QFETCH(int, fps);
        QFETCH(QString, error);
        QString message;
        QVERIFY(!OrvexSim::parseScript(text, fps, message));
        QCOMPARE(message, error);
    }
};

QTEST_GUILESS_MAIN(TestOrvexSim)
#include "tst_orvexsim.moc"
