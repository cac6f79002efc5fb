// The EDL layouts editors read (CMX 3600, one EDL per camera) and the timeline exports
// (OpenTimelineIO, Final Cut Pro 7 XML): golden files made from the sample capture and from a
// night capture, the CMX 3600 rules checked column by column, the timelines read back as JSON and
// XML.
//
// The night capture (data/night.gpo, cameras in data/night.ini) has 1,200 rows from 23:58 to
// 00:58: cameras overlapping, ranges across midnight, an unnamed camera (2), a long and spaced
// reel name (3: "STEADICAM LEFT WING") and one that shares its first eight characters (5), a
// Latin-1 reel name (4: "Grúa Norte"), a 10-character edit type (3: "DISSOLVE10"), a lower-case
// one (4: "a2/v"), Latin-1 comments, a camera on and off at one frame (row 17-18), camera 16, and
// a last row with a camera on (so the EDL ends with its closing row).
//
// Golden files live in tests/capture/golden/; CORVANE_UPDATE_GOLDEN=1 rewrites those that differ
// from the program's output, and the run fails naming them (read what changed before committing).

#include "CaptureFile.h"
#include "CaptureFixtures.h"
#include "CaptureList.h"
#include "Cmx3600Writer.h"
#include "EdlBuilder.h"
#include "EdlEvents.h"
#include "EdlFile.h"
#include "EdlMaker.h"
#include "Errors.h"
#include "Fcp7XmlWriter.h"
#include "IniStore.h"
#include "Latin1Text.h"
#include "OtioWriter.h"
#include "TestFiles.h"
#include "Timeline.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>

using namespace CaptureFixtures;

namespace {

const QString DateText = QStringLiteral("23/11/08");
const QString TimeText = QStringLiteral("14:30:05");

QString sourceDir()
{
    return qEnvironmentVariable("CORVANE_SOURCE_DIR");
}

QString goldenPath(const QString &relative)
{
    return sourceDir() + QStringLiteral("/tests/capture/golden/") + relative;
}

// Empty when bytes are the golden file's (relative to golden/), else where they part.
QString goldenDifference(const QString &relative, const QByteArray &bytes)
{
    return TestFiles::goldenDifference(goldenPath(relative), bytes);
}

// A capture as the tests use it: its rows, cameras, title and the name of its files.
struct Capture {
    QString name;
    QString title;
    CameraTable cameras;
    QString gpo;
};

Capture sampleCapture()
{
    // The sample beside the program, with the factory cameras and file-name details.
    return {QStringLiteral("edlf_8b23"), QStringLiteral("show"), standardCameras(),
            sourceDir() + QStringLiteral("/resources/beside/edlf_8b23.gpo")};
}

Capture nightCapture()
{
    const QString data = sourceDir() + QStringLiteral("/tests/capture/data/");
    const IniFile ini(data + QStringLiteral("night.ini"));
    const auto read = [&ini](const QString &key) { return ini.readString(QStringLiteral("Current"), key, QString()); };
    return {QStringLiteral("night"), read(QStringLiteral("filename")), CameraTable::read(read),
            data + QStringLiteral("night.gpo")};
}

Capture captureNamed(const QString &name)
{
    return name == QLatin1String("night") ? nightCapture() : sampleCapture();
}

bool load(const Capture &capture, CaptureList &list)
{
    return CaptureFile::LoadGpoFile(list, capture.gpo) && list.count() > 0;
}

QList<EdlDocument> make(const Capture &capture, const EdlOptions &options, CaptureList &list)
{
    EdlBuilder builder;
    QList<EdlDocument> documents;
    EdlMaker::make(builder, list, capture.cameras, options, capture.title, DateText, TimeText, documents);
    return documents;
}

// --- The CMX 3600 rules, read by columns -------------------------------------------------------

struct CmxEvent {
    int number = 0;
    QString reel;
    QString channel;
    EdlTimecode sourceIn, sourceOut, recordIn, recordOut;
    QStringList notes; // the "* " lines after it, without "* "
};

struct CmxFile {
    QString title;
    QList<CmxEvent> events;
};

// Hours may pass 23 (after midnight on a running clock); minutes and seconds may not.
std::optional<EdlTimecode> cmxTimecode(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d\\d):([0-5]\\d):([0-5]\\d):(\\d\\d)$"));
    const QRegularExpressionMatch m = shape.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return EdlTimecode::fromFields(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                   m.captured(4).toInt());
}

// Reads a CMX 3600 file the way a strict column-based reader does: every field at its column,
// never by splitting on blanks. Adds what breaks a rule to problems.
CmxFile readCmx3600(const QByteArray &bytes, QStringList &problems)
{
    CmxFile file;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar c = static_cast<uchar>(bytes[i]);
        if (c >= 0x80 || (c < 0x20 && c != '\r' && c != '\n') || c == 0x7F) {
            problems << QStringLiteral("byte %1 at %2 is not printable ASCII").arg(c).arg(i);
            return file;
        }
        if (c == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            problems << QStringLiteral("LF without CR at %1").arg(i);
        if (c == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))
            problems << QStringLiteral("CR without LF at %1").arg(i);
    }
    if (!bytes.endsWith("\r\n"))
        problems << QStringLiteral("the last line has no CR LF");
    const QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    if (lines.size() < 3 || !lines[0].startsWith(QLatin1String("TITLE: ")) || lines[1] != QLatin1String("FCM: NON-DROP FRAME")) {
        problems << QStringLiteral("header is not TITLE: and FCM: NON-DROP FRAME");
        return file;
    }
    file.title = lines[0].mid(7);
    for (qsizetype l = 2; l < lines.size() - 1; ++l) {
        const QString &line = lines[l];
        const QString where = QStringLiteral("line %1: ").arg(l + 1);
        if (line.startsWith(QLatin1String("* "))) {
            if (file.events.isEmpty())
                problems << where + QStringLiteral("comment before the first event");
            else
                file.events.last().notes << line.mid(2);
            continue;
        }
        const int expected = static_cast<int>(file.events.size()) + 1;
        const int w = std::max(3, static_cast<int>(QString::number(expected).size()));
        const auto at = [&line](int from, int to) { return line.mid(from, to - from); };
        if (line.size() != w + 73) {
            problems << where + QStringLiteral("%1 characters, not %2: %3").arg(line.size()).arg(w + 73).arg(line);
            continue;
        }
        CmxEvent event;
        bool ok = false;
        event.number = at(0, w).toInt(&ok);
        if (!ok || event.number != expected || at(0, w) != QStringLiteral("%1").arg(expected, 3, 10, QLatin1Char('0')))
            problems << where + QStringLiteral("event number %1, not %2").arg(at(0, w)).arg(expected);
        static const QRegularExpression reelField(QStringLiteral("^[A-Z0-9_]{1,8} *$"));
        const QString reel = at(w + 2, w + 10);
        if (!reelField.match(reel).hasMatch())
            problems << where + QStringLiteral("reel field '%1'").arg(reel);
        event.reel = reel.trimmed();
        event.channel = at(w + 11, w + 15).trimmed();
        if (!Cmx3600Writer::Channels.contains(event.channel) || at(w + 11, w + 15).startsWith(QLatin1Char(' ')))
            problems << where + QStringLiteral("channel field '%1'").arg(at(w + 11, w + 15));
        if (at(w, w + 2) != QLatin1String("  ") || line[w + 10] != QLatin1Char(' ') || at(w + 15, w + 17) != QLatin1String("  ")
            || at(w + 17, w + 21) != QLatin1String("C   ") || at(w + 21, w + 26) != QLatin1String("     ")
            || line[w + 37] != QLatin1Char(' ') || line[w + 49] != QLatin1Char(' ') || line[w + 61] != QLatin1Char(' '))
            problems << where + QStringLiteral("separators or transition off their columns: ") + line;
        const std::optional<EdlTimecode> times[4] = {cmxTimecode(at(w + 26, w + 37)), cmxTimecode(at(w + 38, w + 49)),
                                                     cmxTimecode(at(w + 50, w + 61)), cmxTimecode(at(w + 62, w + 73))};
        if (!times[0] || !times[1] || !times[2] || !times[3]) {
            problems << where + QStringLiteral("timecode field: ") + line;
            continue;
        }
        event.sourceIn = *times[0];
        event.sourceOut = *times[1];
        event.recordIn = *times[2];
        event.recordOut = *times[3];
        if (!(event.sourceIn < event.sourceOut) || !(event.recordIn < event.recordOut))
            problems << where + QStringLiteral("no positive duration: ") + line;
        // Cuts only: the source runs as long as the record.
        if (EdlTimecode::framesBetween(event.sourceIn, event.sourceOut, 100)
            != EdlTimecode::framesBetween(event.recordIn, event.recordOut, 100))
            problems << where + QStringLiteral("source and record durations differ: ") + line;
        // One track: each record begins where the one before ended or later.
        if (!file.events.isEmpty() && event.recordIn < file.events.last().recordOut)
            problems << where + QStringLiteral("record overlaps the event before: ") + line;
        file.events.append(event);
    }
    if (!lines.last().isEmpty())
        problems << QStringLiteral("text after the last line end");
    return file;
}

// Every reel stands for one camera name, and every name has one reel.
void checkReelsUnique(const CmxFile &file, QStringList &problems)
{
    QHash<QString, QString> nameOfReel;
    QHash<QString, QString> reelOfName;
    for (const CmxEvent &event : file.events) {
        QString name;
        for (const QString &note : event.notes)
            if (note.startsWith(QLatin1String("FROM CLIP NAME: ")))
                name = note.mid(16);
        if (nameOfReel.contains(event.reel) && nameOfReel[event.reel] != name)
            problems << QStringLiteral("reel %1 stands for %2 and %3").arg(event.reel, nameOfReel[event.reel], name);
        if (!name.isEmpty() && reelOfName.contains(name) && reelOfName[name] != event.reel)
            problems << QStringLiteral("%1 has reels %2 and %3").arg(name, reelOfName[name], event.reel);
        nameOfReel[event.reel] = name;
        if (!name.isEmpty())
            reelOfName[name] = event.reel;
    }
}

QByteArray bytesOf(const EdlDocument &document)
{
    return document.text;
}

// --- Small captures for the rules of the program cut ------------------------------------------

// Compact events: "camera sourceIn sourceOut recordIn recordOut", then the comments.
QStringList describe(const QList<EdlEvent> &events)
{
    QStringList lines;
    for (const EdlEvent &e : events) {
        QString line = QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(e.camera)
                           .arg(e.sourceIn.text(), e.sourceOut.text(), e.recordIn.text(), e.recordOut.text());
        for (const EdlComment &c : e.comments)
            line += QStringLiteral(" [%1]").arg(c.text);
        lines << line;
    }
    return lines;
}

const QJsonObject &member(const QJsonObject &object, const char *key, QJsonObject &holder)
{
    holder = object.value(QLatin1String(key)).toObject();
    return holder;
}

qint64 frames(const QJsonObject &rationalTime)
{
    return static_cast<qint64>(rationalTime.value(QLatin1String("value")).toDouble());
}

} // namespace

class TestEdlFormats : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!sourceDir().isEmpty(), "CORVANE_SOURCE_DIR is not set");
    }

    // --- Golden files ----------------------------------------------------------------------------

    void goldenEdl_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("perCamera");
        QTest::addColumn<QString>("golden"); // file, or folder of per-camera files
        for (const char *capture : {"edlf_8b23", "night"}) {
            const QString name = QLatin1String(capture);
            QTest::addRow("%s corvane", capture) << name << int(EdlLayout::Corvane) << false << name + "/corvane.edl";
            QTest::addRow("%s corvane per camera", capture) << name << int(EdlLayout::Corvane) << true << name + "/corvane-per-camera";
            QTest::addRow("%s cmx3600", capture) << name << int(EdlLayout::Cmx3600) << false << name + "/cmx3600.edl";
            QTest::addRow("%s cmx3600 per camera", capture) << name << int(EdlLayout::Cmx3600) << true << name + "/cmx3600-per-camera";
        }
    }

    void goldenEdl()
    {
        QFETCH(QString, capture);
        QFETCH(int, layout);
        QFETCH(bool, perCamera);
        QFETCH(QString, golden);
        const Capture c = captureNamed(capture);
        CaptureList list;
        QVERIFY(load(c, list));
        const QList<EdlDocument> documents = make(c, {EdlLayout(layout), perCamera}, list);
        if (!perCamera) {
            QCOMPARE(documents.size(), 1);
            QCOMPARE(documents[0].camera, 0);
            const QString difference = goldenDifference(golden, bytesOf(documents[0]));
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
            return;
        }
        // One file per camera used, named as Save names them; no other file in the folder. Every
        // file is compared before the test fails, so that one update run rewrites all that differ.
        QStringList made;
        QStringList differences;
        for (const EdlDocument &document : documents) {
            const QString file = QFileInfo(EdlFile::perCameraPath(c.name + QStringLiteral(".edl"), document.reel)).fileName();
            made << file;
            differences << goldenDifference(golden + QLatin1Char('/') + file, bytesOf(document));
        }
        differences.removeAll(QString());
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(QLatin1Char('\n'))));
        const QStringList there = QDir(goldenPath(golden)).entryList({QStringLiteral("*.edl")}, QDir::Files, QDir::Name);
        made.sort();
        QCOMPARE(made, there);
    }

    void goldenTimeline_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("otio");
        QTest::addColumn<QString>("xml");
        QTest::newRow("edlf_8b23 25 fps") << "edlf_8b23" << 25 << "edlf_8b23/timeline.otio" << "edlf_8b23/timeline.xml";
        QTest::newRow("edlf_8b23 30 fps") << "edlf_8b23" << 30 << "edlf_8b23/timeline-30fps.otio" << "edlf_8b23/timeline-30fps.xml";
        QTest::newRow("night 25 fps") << "night" << 25 << "night/timeline.otio.qz" << "night/timeline.xml.qz";
    }

    void goldenTimeline()
    {
        QFETCH(QString, capture);
        QFETCH(int, rate);
        QFETCH(QString, otio);
        QFETCH(QString, xml);
        const Capture c = captureNamed(capture);
        CaptureList list;
        QVERIFY(load(c, list));
        const int rows = list.count();
        const Timeline timeline = Timeline::fromCapture(list, c.cameras, c.title, rate);
        QCOMPARE(list.count(), rows); // an export adds no closing row
        QStringList differences{goldenDifference(otio, OtioWriter::write(timeline)),
                                goldenDifference(xml, Fcp7XmlWriter::write(timeline))};
        differences.removeAll(QString());
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(QLatin1Char('\n'))));
    }

    // The default layout made through the layout choice is BuildEdl's, line for line.
    void defaultLayoutIsBuildEdl_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::newRow("sample") << "edlf_8b23";
        QTest::newRow("night") << "night";
    }

    void defaultLayoutIsBuildEdl()
    {
        QFETCH(QString, capture);
        const Capture c = captureNamed(capture);
        CaptureList direct, chosen;
        QVERIFY(load(c, direct));
        QVERIFY(load(c, chosen));
        QStringList lines;
        EdlBuilder builder;
        builder.BuildEdl(direct, c.cameras, c.title, DateText, TimeText, lines);
        const QList<EdlDocument> documents = make(c, EdlOptions(), chosen);
        QCOMPARE(documents.size(), 1);
        QCOMPARE(documents[0].lines(), lines);
        CaptureList loaded;
        QVERIFY(load(c, loaded));
        // Neither adds a row to the list.
        QCOMPARE(rowsOf(direct), rowsOf(loaded));
        QCOMPARE(rowsOf(chosen), rowsOf(loaded));
    }

    // One Corvane-layout EDL per camera holds exactly that camera's lines of the whole EDL.
    void perCameraCorvaneSplitsTheWholeEdl()
    {
        const Capture c = nightCapture();
        CaptureList whole, split;
        QVERIFY(load(c, whole));
        QVERIFY(load(c, split));
        const QStringList all = make(c, EdlOptions(), whole)[0].lines();
        const QList<EdlDocument> documents = make(c, {EdlLayout::Corvane, true}, split);
        QStringList events;
        qsizetype total = 0;
        for (const EdlDocument &document : documents) {
            QCOMPARE(document.lines().mid(0, 2), all.mid(0, 2));
            const QString reelName = c.cameras.reelName(document.camera);
            for (const QString &line : document.lines().mid(2)) {
                QVERIFY2(line.startsWith(QLatin1String("* ")) || line.mid(6).startsWith(reelName + QLatin1String("  ")),
                         qPrintable(line));
                QVERIFY(all.contains(line));
            }
            total += document.lines().size() - 2;
        }
        QCOMPARE(total, all.size() - 2);
        QCOMPARE(rowsOf(split), rowsOf(whole));
    }

    // --- CMX 3600 read by columns ----------------------------------------------------------------

    void cmx3600ByColumns_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<bool>("perCamera");
        QTest::newRow("sample") << "edlf_8b23" << false;
        QTest::newRow("sample per camera") << "edlf_8b23" << true;
        QTest::newRow("night") << "night" << false;
        QTest::newRow("night per camera") << "night" << true;
    }

    void cmx3600ByColumns()
    {
        QFETCH(QString, capture);
        QFETCH(bool, perCamera);
        const Capture c = captureNamed(capture);
        CaptureList list;
        QVERIFY(load(c, list));
        const QList<EdlDocument> documents = make(c, {EdlLayout::Cmx3600, perCamera}, list);
        QVERIFY(!documents.isEmpty());
        int events = 0;
        for (const EdlDocument &document : documents) {
            QStringList problems;
            const CmxFile file = readCmx3600(bytesOf(document), problems);
            checkReelsUnique(file, problems);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(QLatin1Char('\n'))));
            QCOMPARE(file.title, Cmx3600Writer::ascii(c.title));
            for (const CmxEvent &event : file.events) {
                if (perCamera)
                    QCOMPARE(event.reel, document.reel);
                // Every event says which camera it is, unless the camera has no name.
                const bool named = event.reel != QLatin1String("AX");
                QCOMPARE(!event.notes.isEmpty() && event.notes[0].startsWith(QLatin1String("FROM CLIP NAME: ")), named);
            }
            events += static_cast<int>(file.events.size());
        }
        if (capture == QLatin1String("night") && !perCamera)
            QVERIFY2(events > 999, "the night's program cut reaches four-digit event numbers");
    }

    // What the night's CMX 3600 program cut says at the places that matter.
    void nightProgramCut()
    {
        const Capture c = nightCapture();
        CaptureList list;
        QVERIFY(load(c, list));
        const QStringList lines = make(c, {EdlLayout::Cmx3600, false}, list)[0].lines();
        QCOMPARE(lines.mid(0, 9),
                 QStringList({
                     "TITLE: Nuit d'ete",
                     "FCM: NON-DROP FRAME",
                     "001  WIDE     V     C        23:58:00:00 23:58:04:10 23:58:00:00 23:58:04:10",
                     "* FROM CLIP NAME: Wide",
                     "* Ouverture, plan large",
                     // Camera 2 has no name: reel AX, no clip name.
                     "002  AX       V     C        23:58:04:10 23:58:09:00 23:58:04:10 23:58:09:00",
                     // Camera 1 is still on when camera 2 goes off: a new event from that frame.
                     "003  WIDE     V     C        23:58:09:00 23:58:12:05 23:58:09:00 23:58:12:05",
                     "* FROM CLIP NAME: Wide",
                     "* Retour au large",
                 }));
        // Camera 4 across midnight (Grúa Norte, edit type a2/v), then camera 6.
        QVERIFY(lines.contains("007  GRUA_NOR A2/V  C        23:58:30:00 23:59:50:00 23:58:30:00 23:59:50:00"));
        QVERIFY(lines.contains("008  JIB      AA/V  C        23:59:50:00 24:00:08:00 23:59:50:00 24:00:08:00"));
        // The long names: cut to eight characters, the second one made unique.
        QVERIFY(lines.contains("* FROM CLIP NAME: STEADICAM LEFT WING"));
        QVERIFY(lines.contains("* FROM CLIP NAME: Grua Norte"));
        QVERIFY(lines.contains("* Grua sobre el publico"));
        const QString last = lines.last().startsWith(QLatin1String("*")) ? lines[lines.size() - 2] : lines.last();
        QVERIFY2(last.startsWith(QLatin1String("1")) && last.size() == 77, qPrintable(last));
    }

    // --- The program cut and its events ----------------------------------------------------------

    void programCut_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QStringList>("events");

        QTest::newRow("overlap: the camera on last, then back to the one still on")
            << Rows{eventRow("0001", "0001", "10:00:00:00", "wide"), eventRow("0002", "0003", "10:00:04:00", "close"),
                    eventRow("0003", "0001", "10:00:06:00"), eventRow("0004", "0000", "10:00:09:00", "end")}
            << QStringList{"1 10:00:00:00 10:00:04:00 10:00:00:00 10:00:04:00 [wide]",
                           "2 10:00:04:00 10:00:06:00 10:00:04:00 10:00:06:00 [close]",
                           "1 10:00:06:00 10:00:09:00 10:00:06:00 10:00:09:00 [end]"};
        QTest::newRow("three on: the latest still on takes over")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0003", "10:00:01:00"),
                    eventRow("0003", "0007", "10:00:02:00"), eventRow("0004", "0005", "10:00:03:00"),
                    eventRow("0005", "0001", "10:00:04:00"), eventRow("0006", "0000", "10:00:05:00")}
            << QStringList{"1 10:00:00:00 10:00:01:00 10:00:00:00 10:00:01:00", "2 10:00:01:00 10:00:02:00 10:00:01:00 10:00:02:00",
                           "3 10:00:02:00 10:00:04:00 10:00:02:00 10:00:04:00", "1 10:00:04:00 10:00:05:00 10:00:04:00 10:00:05:00"};
        QTest::newRow("a camera going off that is not the program cuts nothing")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0003", "10:00:01:00"),
                    eventRow("0003", "0002", "10:00:02:00", "drums"), eventRow("0004", "0000", "10:00:03:00")}
            << QStringList{"1 10:00:00:00 10:00:01:00 10:00:00:00 10:00:01:00",
                           "2 10:00:01:00 10:00:03:00 10:00:01:00 10:00:03:00 [drums]"};
        QTest::newRow("on together: the lowest number")
            << Rows{eventRow("0001", "0006", "10:00:00:00"), eventRow("0002", "0004", "10:00:02:00"),
                    eventRow("0003", "0000", "10:00:03:00")}
            << QStringList{"2 10:00:00:00 10:00:02:00 10:00:00:00 10:00:02:00", "3 10:00:02:00 10:00:03:00 10:00:02:00 10:00:03:00"};
        QTest::newRow("dark between: the comment of the row going dark stays with the event before")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:02:00", "black"),
                    eventRow("0003", "0000", "10:00:03:00", "lost in the dark"), eventRow("0004", "0002", "10:00:04:00"),
                    eventRow("0005", "0000", "10:00:05:00")}
            << QStringList{"1 10:00:00:00 10:00:02:00 10:00:00:00 10:00:02:00 [black]",
                           "2 10:00:04:00 10:00:05:00 10:00:04:00 10:00:05:00"};
        QTest::newRow("across midnight")
            << Rows{eventRow("0001", "0001", "23:59:50:00"), eventRow("0002", "0002", "00:00:02:00"),
                    eventRow("0003", "0000", "00:00:04:00")}
            << QStringList{"1 23:59:50:00 24:00:02:00 23:59:50:00 24:00:02:00",
                           "2 00:00:02:00 00:00:04:00 24:00:02:00 24:00:04:00"};
        QTest::newRow("no length: left out, its comment goes on")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0002", "10:00:01:00", "flash"),
                    eventRow("0003", "0004", "10:00:01:00", "crane"), eventRow("0004", "0000", "10:00:02:00")}
            << QStringList{"1 10:00:00:00 10:00:01:00 10:00:00:00 10:00:01:00",
                           "3 10:00:01:00 10:00:02:00 10:00:01:00 10:00:02:00 [flash] [crane]"};
        QTest::newRow("on and off at one frame between: no cut")
            << Rows{eventRow("0001", "0001", "10:00:00:00", "a"), eventRow("0002", "0003", "10:00:01:00", "b"),
                    eventRow("0003", "0001", "10:00:01:00", "c"), eventRow("0004", "0000", "10:00:02:00")}
            << QStringList{"1 10:00:00:00 10:00:02:00 10:00:00:00 10:00:02:00 [a] [b] [c]"};
        QTest::newRow("no length at the end: its comment goes back")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0002", "10:00:01:00", "last"),
                    eventRow("0003", "0000", "10:00:01:00")}
            << QStringList{"1 10:00:00:00 10:00:01:00 10:00:00:00 10:00:01:00 [last]"};
        QTest::newRow("still on at the last row: ends there")
            << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0001", "10:00:03:00", "on")}
            << QStringList{"1 10:00:00:00 10:00:03:00 10:00:00:00 10:00:03:00 [on]"};
        QTest::newRow("reader and generator apart")
            << Rows{{"0001", "0001", "01:00:00:00", "10:00:00:00", ""}, {"0002", "0000", "01:00:05:00", "10:00:05:00", ""}}
            << QStringList{"1 01:00:00:00 01:00:05:00 10:00:00:00 10:00:05:00"};
        QTest::newRow("nothing on") << Rows{eventRow("0001", "0000", "10:00:00:00")} << QStringList{};
    }

    void programCut()
    {
        QFETCH(Rows, rows);
        QFETCH(QStringList, events);
        CaptureList list;
        fill(list, rows);
        QCOMPARE(describe(EdlEvents::withoutEmpty(EdlEvents::programCut(list))), events);
    }

    void cameraRanges()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "23:59:58:00", "in"), eventRow("0002", "0003", "00:00:01:00", "mid"),
                    eventRow("0003", "0002", "00:00:02:00", "out"), eventRow("0004", "0002", "00:00:03:00", "last")});
        // By the row they begin at; camera 2 is still on at the last row and ends there.
        QCOMPARE(describe(EdlEvents::cameraRanges(list)),
                 QStringList({"1 23:59:58:00 24:00:02:00 23:59:58:00 24:00:02:00 [in] [out]",
                              "2 00:00:01:00 00:00:03:00 24:00:01:00 24:00:03:00 [mid]"}));
    }

    void rowsTheLayoutsRefuse_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("message");
        QTest::newRow("camera state") << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "zz", "10:00:01:00")}
                                      << "'$zz' is not a valid integer value";
        QTest::newRow("timecode") << Rows{eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "1A:00:01:00")}
                                  << "Row 2: '1A:00:01:00' is not a timecode (hh:mm:ss:ff)";
        QTest::newRow("empty timecode") << Rows{eventRow("0001", "0001", "")} << "Row 1: '' is not a timecode (hh:mm:ss:ff)";
        QTest::newRow("generator goes back")
            << Rows{eventRow("0001", "0001", "10:00:05:00"), eventRow("0002", "0000", "10:00:04:00")}
            << "Row 2: timecode 10:00:04:00 is earlier than 10:00:05:00 of the row before; the rows must be in time order";
        QTest::newRow("reader goes back")
            << Rows{{"0001", "0001", "10:00:05:00", "10:00:00:00", ""}, {"0002", "0000", "10:00:04:00", "10:00:01:00", ""}}
            << "Row 2: reader timecode 10:00:04:00 is earlier than 10:00:05:00 where camera 1 went on";
    }

    // Make in the CMX 3600 layout stops with the reason; the list keeps its rows.
    void rowsTheLayoutsRefuse()
    {
        QFETCH(Rows, rows);
        QFETCH(QString, message);
        for (bool perCamera : {false, true}) {
            CaptureList list;
            fill(list, rows);
            EdlBuilder builder;
            QList<EdlDocument> documents;
            try {
                EdlMaker::make(builder, list, standardCameras(), {EdlLayout::Cmx3600, perCamera}, QStringLiteral("t"),
                               DateText, TimeText, documents);
                QFAIL("no error");
            } catch (const CorvaneError &e) {
                QCOMPARE(e.message(), message);
            }
            QVERIFY(documents.isEmpty());
        }
    }

    void timecodeThatDoesNotFitTheRate()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:27"), eventRow("0002", "0000", "10:00:01:00")});
        QVERIFY_THROWS_EXCEPTION(CorvaneError, Timeline::fromCapture(list, standardCameras(), QString(), 25));
        try {
            Timeline::fromCapture(list, standardCameras(), QString(), 25);
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), QStringLiteral("Timecode 10:00:00:27 has more frames than 25 a second"));
        }
        QCOMPARE(Timeline::fromCapture(list, standardCameras(), QString(), 30).tracks.size(), 1);
        QVERIFY_THROWS_EXCEPTION(CorvaneError, Timeline::fromCapture(list, standardCameras(), QString(), 0));
        QVERIFY_THROWS_EXCEPTION(CorvaneError, Timeline::fromCapture(list, standardCameras(), QString(), 101));
    }

    // --- Reels, channels, ASCII --------------------------------------------------------------------

    void reels_data()
    {
        QTest::addColumn<QStringList>("names"); // cameras 1, 2, ... (the rest CAM<n>)
        QTest::addColumn<QStringList>("reels");
        QTest::newRow("plain names") << QStringList{"CAM1", "Wide"} << QStringList{"CAM1", "WIDE"};
        QTest::newRow("unnamed and blank") << QStringList{"", "   "} << QStringList{"AX", "AX_2"};
        QTest::newRow("long and spaced") << QStringList{"STEADICAM LEFT WING", "Cam 2 Left"} << QStringList{"STEADICA", "CAM_2_LE"};
        QTest::newRow("the same first eight characters")
            << QStringList{"STEADICAM LEFT", "STEADICAM RIGHT", "steadicam"} << QStringList{"STEADICA", "STEADI_2", "STEADI_3"};
        QTest::newRow("the same name twice") << QStringList{"Cam", "Cam"} << QStringList{"CAM", "CAM_2"};
        QTest::newRow("a suffix already taken") << QStringList{"AB", "AB_3", "AB"} << QStringList{"AB", "AB_3", "AB_19"};
        QTest::newRow("Latin-1 and signs") << QStringList{"Grúa Norte", "A/B-1.2", "Ærø"} << QStringList{"GRUA_NOR", "A_B_1_2", "AERO"};
        QTest::newRow("no ASCII form") << QStringList{QString::fromUtf8("日本")} << QStringList{"__"};
    }

    void reels()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, reels);
        CameraTable table = standardCameras();
        for (int i = 0; i < names.size(); ++i)
            table.setReelName(i + 1, names[i]);
        const auto made = Cmx3600Writer::reels(table);
        for (int i = 0; i < reels.size(); ++i)
            QCOMPARE(made[static_cast<size_t>(i)], reels[i]);
        // All sixteen differ, and each fits the reel field.
        const QSet<QString> distinct(made.begin(), made.end());
        QCOMPARE(distinct.size(), CameraTable::CameraCount);
        for (const QString &reel : made)
            QVERIFY(QRegularExpression(QStringLiteral("^[A-Z0-9_]{1,8}$")).match(reel).hasMatch());
    }

    void channels_data()
    {
        QTest::addColumn<QString>("editType");
        QTest::addColumn<QString>("channel");
        for (const char *known : {"V", "A", "A2", "AA", "B", "AA/V", "A2/V", "NONE"})
            QTest::addRow("%s", known) << known << known;
        QTest::newRow("lower case") << "a2/v" << "A2/V";
        QTest::newRow("blanks around") << " AA " << "AA";
        QTest::newRow("10 characters") << "DISSOLVE10" << "V";
        QTest::newRow("empty") << "" << "V";
        QTest::newRow("unknown") << "W001" << "V";
    }

    void channels()
    {
        QFETCH(QString, editType);
        QFETCH(QString, channel);
        QCOMPARE(Cmx3600Writer::channel(editType), channel);
    }

    void ascii_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("ascii");
        QTest::newRow("plain") << "Wide, slow (2)" << "Wide, slow (2)";
        QTest::newRow("accents") << "Entrée, naïve, Señor, Ça" << "Entree, naive, Senor, Ca";
        QTest::newRow("letters of their own") << "Ærø Straße Þór" << "AEro Strasse THor";
        QTest::newRow("controls") << "a\tb\x01" << "a b ";
        QTest::newRow("no-break space") << QString::fromUtf8("a\u00A0b") << "a b";
        QTest::newRow("quotes") << QString::fromUtf8("«a» “b”") << "\"a\" \"b\"";
        QTest::newRow("no ASCII form") << QString::fromUtf8("5 € ½ 日") << "5 ? ? ?";
        QTest::newRow("outside the basic plane") << QString::fromUtf8("a\U0001F3AC") << "a?";
    }

    void ascii()
    {
        QFETCH(QString, text);
        QFETCH(QString, ascii);
        QCOMPARE(Cmx3600Writer::ascii(text), ascii);
    }

    void eventLineColumns()
    {
        EdlEvent event;
        event.sourceIn = event.recordIn = *EdlTimecode::parse(QStringLiteral("10:00:00:00"));
        event.sourceOut = event.recordOut = *EdlTimecode::parse(QStringLiteral("10:00:05:00"));
        QCOMPARE(Cmx3600Writer::eventLine(1, QStringLiteral("CAM1"), QStringLiteral("V"), event),
                 QStringLiteral("001  CAM1     V     C        10:00:00:00 10:00:05:00 10:00:00:00 10:00:05:00"));
        QCOMPARE(Cmx3600Writer::eventLine(1000, QStringLiteral("STEADICA"), QStringLiteral("AA/V"), event),
                 QStringLiteral("1000  STEADICA AA/V  C        10:00:00:00 10:00:05:00 10:00:00:00 10:00:05:00"));
    }

    // --- Timelines read back -----------------------------------------------------------------------

    // The night's .otio as JSON: schema names, tracks, and the frame counts of a clip across
    // midnight.
    void otioReadsAsJson()
    {
        const Capture c = nightCapture();
        CaptureList list;
        QVERIFY(load(c, list));
        const QByteArray bytes = OtioWriter::write(Timeline::fromCapture(list, c.cameras, c.title, 25));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject root = document.object();
        QCOMPARE(root.value("OTIO_SCHEMA").toString(), QStringLiteral("Timeline.1"));
        QCOMPARE(root.value("name").toString(), QStringLiteral("Nuit d'été"));
        QJsonObject holder;
        const QJsonObject start = member(root, "global_start_time", holder);
        QCOMPARE(start.value("OTIO_SCHEMA").toString(), QStringLiteral("RationalTime.1"));
        QCOMPARE(start.value("rate").toDouble(), 25.0);
        QCOMPARE(frames(start), qint64((23 * 3600 + 58 * 60) * 25));
        const QJsonObject stack = root.value("tracks").toObject();
        QCOMPARE(stack.value("OTIO_SCHEMA").toString(), QStringLiteral("Stack.1"));
        const QJsonArray tracks = stack.value("children").toArray();

        QStringList names;
        QJsonObject crane;
        for (const QJsonValue &t : tracks) {
            const QJsonObject track = t.toObject();
            QCOMPARE(track.value("OTIO_SCHEMA").toString(), QStringLiteral("Track.1"));
            QCOMPARE(track.value("kind").toString(), QStringLiteral("Video"));
            names << track.value("name").toString();
            // Items end to end from the timeline's start; clips of positive length.
            for (const QJsonValue &i : track.value("children").toArray()) {
                const QJsonObject item = i.toObject();
                const QString schema = item.value("OTIO_SCHEMA").toString();
                QVERIFY2(schema == QLatin1String("Clip.2") || schema == QLatin1String("Gap.1"), qPrintable(schema));
                const QJsonObject range = item.value("source_range").toObject();
                QCOMPARE(range.value("OTIO_SCHEMA").toString(), QStringLiteral("TimeRange.1"));
                QVERIFY(frames(range.value("duration").toObject()) > 0);
                if (schema == QLatin1String("Clip.2")) {
                    QCOMPARE(item.value("name").toString(), names.last());
                    const QJsonObject media = item.value("media_references").toObject().value("DEFAULT_MEDIA").toObject();
                    QCOMPARE(media.value("OTIO_SCHEMA").toString(), QStringLiteral("MissingReference.1"));
                    QCOMPARE(item.value("active_media_reference_key").toString(), QStringLiteral("DEFAULT_MEDIA"));
                    for (const QJsonValue &m : item.value("markers").toArray())
                        QCOMPARE(m.toObject().value("OTIO_SCHEMA").toString(), QStringLiteral("Marker.2"));
                    if (names.last() == QStringLiteral("Grúa Norte") && crane.isEmpty())
                        crane = item;
                }
            }
        }
        // One track per camera used, the unnamed camera under its reel.
        QCOMPARE(names, QStringList({"Wide", "AX", "STEADICAM LEFT WING", "Grúa Norte", "STEADICAM RIGHT", "Jib", "CAM7",
                                     "CAM8", "CAM9", "CAM10", "CAM11", "CAM16"}));
        // Camera 4 from 23:58:30:00 to 00:00:05:00: 95 seconds.
        const QJsonObject range = crane.value("source_range").toObject();
        QCOMPARE(frames(range.value("start_time").toObject()), qint64((23 * 3600 + 58 * 60 + 30) * 25));
        QCOMPARE(frames(range.value("duration").toObject()), qint64(95 * 25));
        QCOMPARE(crane.value("metadata").toObject().value("cmx_3600").toObject().value("reel").toString(),
                 QStringLiteral("GRUA_NOR"));
    }

    // The XML is well formed, and each clipitem shows as much of its file as it lasts.
    void fcp7XmlIsWellFormed_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<int>("rate");
        QTest::newRow("sample at 25") << "edlf_8b23" << 25;
        QTest::newRow("sample at 30") << "edlf_8b23" << 30;
        QTest::newRow("night at 25") << "night" << 25;
    }

    void fcp7XmlIsWellFormed()
    {
        QFETCH(QString, capture);
        QFETCH(int, rate);
        const Capture c = captureNamed(capture);
        CaptureList list;
        QVERIFY(load(c, list));
        const Timeline timeline = Timeline::fromCapture(list, c.cameras, c.title, rate);
        QXmlStreamReader xml(Fcp7XmlWriter::write(timeline));
        struct Item {
            QHash<QString, qint64> numbers;
            QString name;
        };
        QList<Item> items;
        QStringList path;
        QString version;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) {
                path << xml.name().toString();
                if (path == QStringList{"xmeml"})
                    version = xml.attributes().value("version").toString();
                if (path.size() == 6 && path.last() == QLatin1String("clipitem"))
                    items.append(Item());
            } else if (xml.isCharacters() && !xml.isWhitespace() && path.size() == 7 && path[5] == QLatin1String("clipitem")) {
                if (path.last() == QLatin1String("name"))
                    items.last().name = xml.text().toString();
                else
                    items.last().numbers[path.last()] = xml.text().toLongLong();
            } else if (xml.isEndElement()) {
                path.removeLast();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(version, QStringLiteral("5"));
        int clips = 0;
        for (const TimelineTrack &track : timeline.tracks)
            clips += static_cast<int>(track.clips.size());
        QCOMPARE(items.size(), clips);
        for (const Item &item : items) {
            const qint64 length = item.numbers.value("end") - item.numbers.value("start");
            QVERIFY(length > 0);
            QCOMPARE(item.numbers.value("out") - item.numbers.value("in"), length);
            QVERIFY(item.numbers.value("in") >= 0 && item.numbers.value("out") <= item.numbers.value("duration"));
        }
        if (capture == QLatin1String("edlf_8b23")) {
            // The first clipitem: camera 1 from 10:00:00:00 to 10:00:05:00, its file beginning
            // at that camera's first source in.
            QCOMPARE(items[0].name, QStringLiteral("CAM1"));
            QCOMPARE(items[0].numbers.value("start"), qint64(0));
            QCOMPARE(items[0].numbers.value("end"), qint64(5 * rate));
            QCOMPARE(items[0].numbers.value("in"), qint64(0));
            QCOMPARE(items[0].numbers.value("out"), qint64(5 * rate));
        }
    }
};

QTEST_GUILESS_MAIN(TestEdlFormats)
#include "tst_edl_formats.moc"
