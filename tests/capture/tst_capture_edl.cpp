#include "CaptureFixtures.h"
#include "CaptureList.h"
#include "EdlBuilder.h"
#include "EdlText.h"
#include "Errors.h"

#include <QTest>

using namespace CaptureFixtures;

namespace {

const QString Title = QStringLiteral("TITLE:   show  DATE  TIME");
const QString Fcm = QStringLiteral("FCM: EBU");

// Reel name and edit type changes to the standard table, camera by camera.
struct CameraChange {
    int camera;
    QString reelName;
    QString editType;
};
using CameraChanges = QList<CameraChange>;

// The lines of the EDL. The same build made as file bytes (as the window and corvane-cli make
// it) must give exactly the file of those lines.
QStringList build(EdlBuilder &builder, CaptureList &list, const CameraTable &cameras = standardCameras())
{
    CaptureList copy;
    for (int row = 0; row < list.count(); ++row)
        copy.appendRow(list.rowTexts(row));
    QStringList lines;
    builder.BuildEdl(list, cameras, QStringLiteral("show"), QStringLiteral("DATE"), QStringLiteral("TIME"), lines);
    EdlBuilder other;
    EdlText text;
    other.BuildEdl(copy, cameras, QStringLiteral("show"), QStringLiteral("DATE"), QStringLiteral("TIME"), text);
    if (text.lineCount() != lines.size() || text.takeBytes() != EdlText::bytesOf(lines))
        return {QStringLiteral("the EDL made as bytes differs from its lines")};
    return lines;
}

QStringList withHeader(const QStringList &events)
{
    return QStringList{Title, Fcm} + events;
}

} // namespace

Q_DECLARE_METATYPE(CameraChanges)

// EDL generation over small capture lists, compared with the expected text to the character.
class TestEdl : public QObject {
    Q_OBJECT

private slots:
    // The documented example: item 0001, CAM1, V, in 10:00:00:00, out 10:00:05:00.
    void exampleLine()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:05:00")});
        EdlBuilder builder;
        QCOMPARE(build(builder, list),
                 QStringList({"TITLE:   show  DATE  TIME", "FCM: EBU",
                              "0001  CAM1  V         C  10:00:00:00  10:00:05:00  10:00:00:00  10:00:05:00"}));
    }

    void events_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<CameraChanges>("cameras");
        QTest::addColumn<QStringList>("lines"); // after the two header lines

        // Camera 1 on for rows 1-9, camera 2 for rows 5-7: camera 2's event closes first.
        Rows overlap;
        for (int r = 1; r <= 10; ++r) {
            const QString state = r == 10 ? "0000" : (r >= 5 && r <= 7) ? "0003" : "0001";
            overlap.append(eventRow(QStringLiteral("%1").arg(r, 4, 10, QLatin1Char('0')), state,
                                 QStringLiteral("10:00:%1:00").arg(r, 2, 10, QLatin1Char('0'))));
        }
        QTest::newRow("long and short overlap")
            << overlap << CameraChanges{}
            << QStringList{"0005  CAM2  V         C  10:00:05:00  10:00:08:00  10:00:05:00  10:00:08:00",
                           "0001  CAM1  V         C  10:00:01:00  10:00:10:00  10:00:01:00  10:00:10:00"};

        QTest::newRow("events closing on one row: by camera number")
            << Rows{eventRow("0001", "0004", "10:00:00:00"), eventRow("0002", "0005", "10:00:01:00"),
                    eventRow("0003", "0000", "10:00:02:00")}
            << CameraChanges{}
            << QStringList{"0002  CAM1  V         C  10:00:01:00  10:00:02:00  10:00:01:00  10:00:02:00",
                           "0001  CAM3  V         C  10:00:00:00  10:00:02:00  10:00:00:00  10:00:02:00"};

        QTest::newRow("off and on again: two events")
            << Rows{eventRow("0001", "0002", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00"),
                    eventRow("0003", "0002", "10:00:02:00"), eventRow("0004", "0000", "10:00:03:00")}
            << CameraChanges{}
            << QStringList{"0001  CAM2  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00",
                           "0003  CAM2  V         C  10:00:02:00  10:00:03:00  10:00:02:00  10:00:03:00"};

        // The opening and closing comments joined; the middle row's comment in no line.
        QTest::newRow("comments of opening and closing rows")
            << Rows{eventRow("0001", "0001", "10:00:00:00", "Wide, slow"), eventRow("0002", "0001", "10:00:01:00", "middle"),
                    eventRow("0003", "0000", "10:00:02:00", "end")}
            << CameraChanges{}
            << QStringList{"0001  CAM1  V         C  10:00:00:00  10:00:02:00  10:00:00:00  10:00:02:00",
                           "* Wide, slowend"};

        QTest::newRow("comment of closing row only")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00", "cut")}
            << CameraChanges{}
            << QStringList{"0001  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00", "* cut"};

        QTest::newRow("comment cut to 255 characters")
            << Rows{eventRow("0001", "0001", "10:00:00:00", QString(250, 'a')), eventRow("0002", "0000", "10:00:01:00", "bcdefgh")}
            << CameraChanges{}
            << QStringList{"0001  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00",
                           "* " + QString(250, 'a') + "bcdef"};

        QTest::newRow("unnamed camera: four spaces")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00")}
            << CameraChanges{{1, "", "V"}}
            << QStringList{"0001    V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("empty edit type: ten spaces")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00")}
            << CameraChanges{{1, "CAM1", ""}}
            << QStringList{"0001  CAM1            C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("edit type of 10 characters")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00")}
            << CameraChanges{{1, "CAM1", "DISSOLVE10"}}
            << QStringList{"0001  CAM1  DISSOLVE10C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("edit type of 12 characters, long reel name written whole")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00")}
            << CameraChanges{{1, "STEADICAM_LEFT_WING", "W001 DISSOLV"}}
            << QStringList{"0001  STEADICAM_LEFT_WING  W001 DISSOLVC  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("item text cut to 4 characters")
            << Rows{eventRow("12345", "0001", "10:00:00:00"), eventRow("12346", "0000", "10:00:01:00")}
            << CameraChanges{}
            << QStringList{"1234  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("short item text kept as is")
            << Rows{eventRow("7", "0001", "10:00:00:00"), eventRow("8", "0000", "10:00:01:00")}
            << CameraChanges{}
            << QStringList{"7  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        // Reader and generator are separate columns; timecodes keep 11 characters.
        QTest::newRow("reader and generator apart, timecodes cut to 11")
            << Rows{{"0001", "0001", "01:00:00:00:99", "02:00:00:00", ""}, {"0002", "0000", "01:00:04:00", "02:00:04:00:77", ""}}
            << CameraChanges{}
            << QStringList{"0001  CAM1  V         C  01:00:00:00  01:00:04:00  02:00:00:00  02:00:04:00"};

        QTest::newRow("camera 16 and lower-case state")
            << Rows{eventRow("0001", "8000", "10:00:00:00"), eventRow("0002", "c000", "10:00:01:00"), eventRow("0003", "0000", "10:00:02:00")}
            << CameraChanges{{15, "JIB", "K"}}
            << QStringList{"0002  JIB  K         C  10:00:01:00  10:00:02:00  10:00:01:00  10:00:02:00",
                           "0001  CAM16  V         C  10:00:00:00  10:00:02:00  10:00:00:00  10:00:02:00"};

        // Camera 8 is a camera like the others here.
        QTest::newRow("camera 8")
            << Rows{eventRow("0001", "0080", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00")}
            << CameraChanges{}
            << QStringList{"0001  CAM8  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00"};

        QTest::newRow("nothing on") << Rows{eventRow("0001", "0000", "10:00:00:00")} << CameraChanges{} << QStringList{};
    }

    void events()
    {
        QFETCH(Rows, rows);
        QFETCH(CameraChanges, cameras);
        QFETCH(QStringList, lines);
        CameraTable table = standardCameras();
        for (const CameraChange &change : cameras) {
            table.setReelName(change.camera, change.reelName);
            table.setEditType(change.camera, change.editType);
        }
        CaptureList list;
        fill(list, rows);
        EdlBuilder builder;
        QCOMPARE(build(builder, list, table), withHeader(lines));
        QCOMPARE(list.count(), rows.size()); // last rows all off: no closing row
        for (const TCameraEvent &record : builder.cameraEvents())
            QVERIFY(!record.HasIn && !record.HasOut);
    }

    // A camera on in the last row: the EDL's own closing row (the last row's timecodes, no
    // comment) ends its event, and the list is left as it was. Capture going on after a Make
    // continues that shot: the next EDL has no gap where the Make was.
    void closingRowLeavesTheListAsItWas()
    {
        CaptureList list;
        const Rows rows{{"0001", "0001", "10:00:00:00", "20:00:00:00", "Wide"}, {"0002", "0003", "10:00:01:00", "20:00:01:00", "Tight"}};
        fill(list, rows);
        EdlBuilder builder;
        QCOMPARE(build(builder, list),
                 withHeader({"0001  CAM1  V         C  10:00:00:00  10:00:01:00  20:00:00:00  20:00:01:00", "* Wide",
                             "0002  CAM2  V         C  10:00:01:00  10:00:01:00  20:00:01:00  20:00:01:00", "* Tight"}));
        QCOMPARE(rowsOf(list), rows);

        list.appendEvent(u"10:00:05:00", u"20:00:05:00", u"0004");
        QCOMPARE(build(builder, list),
                 withHeader({"0001  CAM1  V         C  10:00:00:00  10:00:05:00  20:00:00:00  20:00:05:00", "* Wide",
                             "0002  CAM2  V         C  10:00:01:00  10:00:05:00  20:00:01:00  20:00:05:00", "* Tight",
                             "0003  CAM3  V         C  10:00:05:00  10:00:05:00  20:00:05:00  20:00:05:00"}));
        QCOMPARE(list.count(), 3);
    }

    void emptyListGivesHeaderOnly()
    {
        CaptureList list;
        EdlBuilder builder;
        QCOMPARE(build(builder, list), withHeader({}));
        QCOMPARE(list.count(), 0);
    }

    void conversionError_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("lines"); // lines left after the error

        QTest::newRow("bad last row: header lines only")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "zz", "10:00:01:00")}
            << "'$zz' is not a valid integer value" << withHeader({});
        // An empty line of a capture file gives a row of empty texts.
        QTest::newRow("empty row part-way: lines so far kept")
            << Rows{eventRow("0001", "0001", "10:00:00:00", "a"), eventRow("0002", "0000", "10:00:01:00"), Row{}, eventRow("0003", "0002", "10:00:02:00")}
            << "'$' is not a valid integer value"
            << withHeader({"0001  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00", "* a"});
    }

    void conversionError()
    {
        QFETCH(Rows, rows);
        QFETCH(QString, message);
        QFETCH(QStringList, lines);
        CaptureList list;
        fill(list, rows);
        EdlBuilder builder;
        QStringList made{QStringLiteral("previous text")};
        try {
            builder.BuildEdl(list, standardCameras(), QStringLiteral("show"), QStringLiteral("DATE"), QStringLiteral("TIME"), made);
            QFAIL("no conversion error");
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(made, lines);
        QCOMPARE(rowsOf(list), rows);
    }

    // The file's bytes are made straight from the rows, without the lines: Latin-1, '?' for a
    // character outside it, a line break inside a comment written as a space, CR LF after every
    // line, whichever part the text is in.
    void fileBytes_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("reelName");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray event = "0001  %1  V         C  10:00:00:00  10:00:05:00  10:00:00:00  10:00:05:00\r\n";
        QTest::newRow("plain") << "show" << "CAM1" << ""
                               << "TITLE:   show  DATE  TIME\r\nFCM: EBU\r\n" + QByteArray(event).replace("%1", "CAM1");
        QTest::newRow("outside Latin-1") << QString::fromUtf8("caf\u00e9 \u20ac") << QString::fromUtf8("K\u0101")
                                         << QString::fromUtf8("\U0001F3AC")
                                         << "TITLE:   caf\xe9 ?  DATE  TIME\r\nFCM: EBU\r\n"
                                                + QByteArray(event).replace("%1", "K?") + "* ??\r\n";
        QTest::newRow("line breaks") << "two\nlines" << "CAM1" << "wide\r\nslow\r"
                                     << "TITLE:   two lines  DATE  TIME\r\nFCM: EBU\r\n"
                                            + QByteArray(event).replace("%1", "CAM1") + "* wide  slow \r\n";
    }

    void fileBytes()
    {
        QFETCH(QString, title);
        QFETCH(QString, reelName);
        QFETCH(QString, comment);
        QFETCH(QByteArray, bytes);
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:05:00")});
        list.setComment(0, comment);
        CameraTable cameras = standardCameras();
        cameras.setReelName(1, reelName);
        EdlText text;
        EdlBuilder().BuildEdl(list, cameras, title, QStringLiteral("DATE"), QStringLiteral("TIME"), text);
        QCOMPARE(text.takeBytes(), bytes);
    }

    // Handed on in parts (corvane-cli writing as it goes), the bytes are the same.
    void fileBytesInParts()
    {
        CaptureList list;
        for (int i = 0; i < 40000; ++i)
            list.appendEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), i % 3 ? QStringLiteral("0003") : QStringLiteral("0004"));
        CaptureList same;
        for (int row = 0; row < list.count(); ++row)
            same.appendRow(list.rowTexts(row));
        EdlText whole;
        EdlBuilder().BuildEdl(list, standardCameras(), QStringLiteral("show"), QStringLiteral("DATE"), QStringLiteral("TIME"), whole);
        QByteArray joined;
        QList<qsizetype> parts;
        EdlText drained([&](QByteArrayView part) {
            joined += part.toByteArray();
            parts.append(part.size());
        });
        EdlBuilder().BuildEdl(same, standardCameras(), QStringLiteral("show"), QStringLiteral("DATE"), QStringLiteral("TIME"), drained);
        QVERIFY(parts.size() > 1);
        // Parts of about DrainSize: memory that does not grow with the EDL.
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            QVERIFY(parts[i] >= EdlText::DrainSize && parts[i] < EdlText::DrainSize + 200);
        QCOMPARE(joined, whole.takeBytes());
        QCOMPARE(drained.bytes().size(), 0);
    }

    // A build stopped by a bad row leaves events open; once the row is gone the next build gives
    // exactly what a fresh run gives, not events carried over from the stopped build.
    void buildAfterErrorStartsIdle()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:00", "stale"), eventRow("0002", "xx", "10:00:01:00"),
                    eventRow("0003", "0003", "10:00:02:00", "fresh"), eventRow("0004", "0000", "10:00:03:00")});
        EdlBuilder builder;
        QVERIFY_THROWS_EXCEPTION(CorvaneError, build(builder, list));
        QVERIFY(builder.cameraEvents()[0].HasIn);

        list.deleteRows({0, 1});
        QCOMPARE(build(builder, list),
                 withHeader({"0003  CAM1  V         C  10:00:02:00  10:00:03:00  10:00:02:00  10:00:03:00", "* fresh",
                             "0003  CAM2  V         C  10:00:02:00  10:00:03:00  10:00:02:00  10:00:03:00", "* fresh"}));
    }

    // The records keep the last event's texts between builds (they live for the whole run).
    void recordsLiveOnAfterBuild()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0002", "10:00:00:00", "x"), eventRow("0002", "0000", "10:00:01:00", "y")});
        EdlBuilder builder;
        build(builder, list);
        const TCameraEvent &record = builder.cameraEvents()[1];
        QCOMPARE(record.ItemText, QStringLiteral("0001"));
        QCOMPARE(record.ReaderOut, QStringLiteral("10:00:01:00"));
        QCOMPARE(record.EventComment, QStringLiteral("xy"));
    }

    void updateCameraEventStepByStep()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:00", "in"), eventRow("0002", "0001", "10:00:01:00", "mid"),
                    eventRow("0003", "0000", "10:00:02:00", "out"), eventRow("0004", "q", "10:00:03:00")});
        EdlBuilder builder;
        const TCameraEvent &record = builder.cameraEvents()[0];
        builder.UpdateCameraEvent(list, 0, 0);
        QVERIFY(record.HasIn && !record.HasOut);
        builder.UpdateCameraEvent(list, 1, 0);
        QCOMPARE(record.ItemText, QStringLiteral("0001"));
        QCOMPARE(record.EventComment, QStringLiteral("in"));
        builder.UpdateCameraEvent(list, 1, 1); // camera 2 is off and idle: nothing
        QVERIFY(!builder.cameraEvents()[1].HasIn);
        builder.UpdateCameraEvent(list, 2, 0);
        QVERIFY(record.HasIn && record.HasOut);
        QCOMPARE(record.GeneratorOut, QStringLiteral("10:00:02:00"));
        QCOMPARE(record.EventComment, QStringLiteral("inout"));
        QVERIFY_THROWS_EXCEPTION(CorvaneError, builder.UpdateCameraEvent(list, 3, 0));
        QCOMPARE(record.EventComment, QStringLiteral("inout"));
    }
};

QTEST_GUILESS_MAIN(TestEdl)
#include "tst_capture_edl.moc"
