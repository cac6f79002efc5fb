#include "EdlTimecode.h"

#include <QTest>

namespace {

EdlTimecode tc(const char *text)
{
    const std::optional<EdlTimecode> parsed = EdlTimecode::parse(QString::fromLatin1(text));
    if (!parsed)
        qFatal("bad timecode in a test: %s", text);
    return *parsed;
}

} // namespace

// Timecode arithmetic of the EDL and timeline layouts: parsing, frame counts at the common rates,
// the step over midnight.
class TestEdlTimecode : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << "10:00:04:12" << true;
        QTest::newRow("last moment of a day") << "23:59:59:99" << true;
        QTest::newRow("hours 24") << "24:00:00:00" << false;
        QTest::newRow("minutes 60") << "10:60:00:00" << false;
        QTest::newRow("seconds 60") << "10:00:60:00" << false;
        QTest::newRow("hexadecimal byte") << "1A:00:00:00" << false;
        QTest::newRow("drop-frame separator") << "10:00:00;00" << false;
        QTest::newRow("one digit") << "1:00:00:00" << false;
        QTest::newRow("trailing text") << "10:00:00:00:99" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank around") << " 10:00:00:0" << false;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<EdlTimecode> parsed = EdlTimecode::parse(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(parsed->text(), text);
    }

    void frameCounts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("frames");
        QTest::newRow("one hour at 24") << "01:00:00:00" << 24 << qint64(86400);
        QTest::newRow("one hour at 25") << "01:00:00:00" << 25 << qint64(90000);
        QTest::newRow("one hour at 30") << "01:00:00:00" << 30 << qint64(108000);
        QTest::newRow("10:00:04:12 at 25") << "10:00:04:12" << 25 << qint64(900112);
        QTest::newRow("last frame of the day at 24") << "23:59:59:23" << 24 << qint64(24 * 86400 - 1);
        QTest::newRow("last frame of the day at 25") << "23:59:59:24" << 25 << qint64(25 * 86400 - 1);
        QTest::newRow("last frame of the day at 30") << "23:59:59:29" << 30 << qint64(30 * 86400 - 1);
        QTest::newRow("midnight") << "00:00:00:00" << 30 << qint64(0);
    }

    // Frame counts both ways.
    void frameCounts()
    {
        QFETCH(QString, text);
        QFETCH(int, rate);
        QFETCH(qint64, frames);
        const EdlTimecode time = *EdlTimecode::parse(text);
        QVERIFY(time.fitsRate(rate));
        QCOMPARE(time.frameCount(rate), frames);
        QCOMPARE(EdlTimecode::fromFrameCount(frames, rate), time);
        QCOMPARE(EdlTimecode::fromFrameCount(frames, rate).text(), text);
    }

    void fitsRate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("fits");
        QTest::newRow("frame 23 at 24") << "10:00:00:23" << 24 << true;
        QTest::newRow("frame 24 at 24") << "10:00:00:24" << 24 << false;
        QTest::newRow("frame 24 at 25") << "10:00:00:24" << 25 << true;
        QTest::newRow("frame 25 at 25") << "10:00:00:25" << 25 << false;
        QTest::newRow("frame 29 at 30") << "10:00:00:29" << 30 << true;
        QTest::newRow("rate 0") << "10:00:00:00" << 0 << false;
        QTest::newRow("rate 101") << "10:00:00:00" << 101 << false;
    }

    void fitsRate()
    {
        QFETCH(QString, text);
        QFETCH(int, rate);
        QFETCH(bool, fits);
        QCOMPARE(EdlTimecode::parse(text)->fitsRate(rate), fits);
    }

    void continuing_data()
    {
        QTest::addColumn<QString>("reference"); // as text, may be past 23 hours
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("expected");
        QTest::newRow("later the same day") << "10:00:00:00" << "10:00:05:00" << "10:00:05:00";
        QTest::newRow("same moment") << "10:00:00:00" << "10:00:00:00" << "10:00:00:00";
        QTest::newRow("past midnight") << "23:59:50:00" << "00:00:02:00" << "24:00:02:00";
        QTest::newRow("one frame past midnight") << "23:59:59:24" << "00:00:00:00" << "24:00:00:00";
        QTest::newRow("on the next day") << "24:00:02:00" << "00:10:00:00" << "24:10:00:00";
        QTest::newRow("second midnight") << "47:59:00:00" << "00:01:00:00" << "48:01:00:00";
        // Less than half a day back: the clock went back, not round.
        QTest::newRow("a second back") << "10:00:05:00" << "10:00:04:00" << "10:00:04:00";
        QTest::newRow("almost half a day back") << "22:00:00:00" << "10:00:00:01" << "10:00:00:01";
        QTest::newRow("half a day back counts as forward") << "22:00:00:00" << "10:00:00:00" << "34:00:00:00";
        QTest::newRow("back over midnight on the next day") << "24:00:05:00" << "23:59:59:00" << "23:59:59:00";
    }

    void continuing()
    {
        QFETCH(QString, reference);
        QFETCH(QString, next);
        QFETCH(QString, expected);
        const QStringList fields = reference.split(QLatin1Char(':'));
        const EdlTimecode ref = EdlTimecode::fromFields(fields[0].toInt(), fields[1].toInt(), fields[2].toInt(),
                                                        fields[3].toInt());
        QCOMPARE(EdlTimecode::parse(next)->continuing(ref).text(), expected);
    }

    // A clip across midnight has its true length at every rate.
    void durationAcrossMidnight_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("frames"); // from 23:59:59:20 to 00:00:00:05
        QTest::newRow("24") << 24 << qint64(4 + 5);
        QTest::newRow("25") << 25 << qint64(5 + 5);
        QTest::newRow("30") << 30 << qint64(10 + 5);
    }

    void durationAcrossMidnight()
    {
        QFETCH(int, rate);
        QFETCH(qint64, frames);
        const EdlTimecode in = tc("23:59:59:20");
        const EdlTimecode out = tc("00:00:00:05").continuing(in);
        QCOMPARE(out.text(), QStringLiteral("24:00:00:05"));
        QCOMPARE(EdlTimecode::framesBetween(in, out, rate), frames);
        QVERIFY(in < out);
    }

    void ordering()
    {
        QVERIFY(tc("10:00:00:01") > tc("10:00:00:00"));
        QVERIFY(tc("10:00:01:00") > tc("10:00:00:99"));
        QVERIFY(tc("09:59:59:99") < tc("10:00:00:00"));
        QCOMPARE(tc("10:00:00:00"), EdlTimecode::fromFields(10, 0, 0, 0));
    }
};

QTEST_GUILESS_MAIN(TestEdlTimecode)
#include "tst_edl_timecode.moc"
