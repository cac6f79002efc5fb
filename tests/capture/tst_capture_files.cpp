#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureFixtures.h"
#include "CaptureList.h"
#include "DocumentFiles.h"
#include "EdlBuilder.h"
#include "EdlFile.h"
#include "Errors.h"
#include "FaultyDisk.h"
#include "IniStore.h"
#include "Latin1Text.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace CaptureFixtures;

// The files the capture window writes and reads: EDL files, capture files, their proposed names,
// the sample capture file, and the camera table's settings.
class TestCaptureFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // --- EDL file ---------------------------------------------------------------------------

    void edlProposedName_data()
    {
        QTest::addColumn<QString>("details");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("name");
        QTest::newRow("example") << "show" << QDateTime(QDate(2008, 11, 23), QTime(14, 30, 5)) << "show_81123-1430_05";
        QTest::newRow("2009 gives 9") << "show" << QDateTime(QDate(2009, 1, 2), QTime(3, 4, 5)) << "show_90102-0304_05";
        QTest::newRow("2010 gives 0") << "show" << QDateTime(QDate(2010, 12, 31), QTime(23, 59, 59)) << "show_01231-2359_59";
        QTest::newRow("midnight") << "Gala 2" << QDateTime(QDate(2026, 7, 4), QTime(0, 0, 0)) << "Gala 2_60704-0000_00";
        QTest::newRow("no details") << "" << QDateTime(QDate(2008, 11, 23), QTime(14, 30, 5)) << "_81123-1430_05";
    }

    void edlProposedName()
    {
        QFETCH(QString, details);
        QFETCH(QDateTime, moment);
        QFETCH(QString, name);
        QCOMPARE(EdlFile::proposedName(details, moment), name);
    }

    // Without the dialog: the "edlpath" folder when it exists, else the documents folder, never
    // the current folder; always with ".edl".
    void edlAutoSaveFolder_data()
    {
        QTest::addColumn<QString>("edlPath");
        QTest::addColumn<bool>("usesEdlPath");
        QTest::newRow("existing folder") << "shows/" << true;
        QTest::newRow("existing folder, no separator") << "shows" << true;
        QTest::newRow("missing folder") << "gone/" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("relative") << "." << false;
    }

    void edlAutoSaveFolder()
    {
        QFETCH(QString, edlPath);
        QFETCH(bool, usesEdlPath);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("shows")));
        const QString documents = dir.filePath(QStringLiteral("home/Documents")); // not there yet
        // A relative "edlpath" stays relative: it would name the current folder.
        const QString setting = edlPath.isEmpty() || edlPath == QLatin1String(".") ? edlPath : dir.filePath(edlPath);
        const QString saved = EdlFile::autoSavePath(QStringLiteral("show"), setting,
                                                    QDateTime(QDate(2008, 11, 23), QTime(14, 30, 5)), documents);
        const QString folder = usesEdlPath ? dir.filePath(QStringLiteral("shows")) : documents;
        QCOMPARE(QDir::fromNativeSeparators(saved), folder + QStringLiteral("/show_81123-1430_05.edl"));
        QVERIFY(QFileInfo(folder).isDir());
    }

    void edlAutoSaveNameStaysInFolder()
    {
        const QString saved = EdlFile::autoSavePath(QStringLiteral("../a\\b"), m_dir.path(),
                                                    QDateTime(QDate(2008, 11, 23), QTime(14, 30, 5)), m_dir.path());
        QCOMPARE(QFileInfo(saved).fileName(), QStringLiteral(".._a_b_81123-1430_05.edl"));
        QCOMPARE(QFileInfo(saved).absolutePath(), QFileInfo(m_dir.path()).absoluteFilePath());
    }

    // The memo's lines, each with CR LF, in Latin-1; nothing before or after; an old file is
    // replaced whole.
    void edlFileBytes()
    {
        const QString file = path(QStringLiteral("bytes.edl"));
        QVERIFY(TestFiles::write(file, QByteArray(500, 'x')));
        EdlFile::write(file, {QStringLiteral("TITLE:   caf\u00e9 \u20ac"), QStringLiteral("FCM: EBU"), QString()});
        QCOMPARE(TestFiles::read(file), QByteArray("TITLE:   caf\xe9 ?\r\nFCM: EBU\r\n\r\n"));

        EdlFile::write(file, {});
        QVERIFY(QFileInfo::exists(file));
        QCOMPARE(TestFiles::read(file), QByteArray());
    }

    // A line break inside a line (a comment holding one) never splits a line of the file.
    void edlLinesStayLines()
    {
        QCOMPARE(EdlFile::encode({QStringLiteral("* wide\rslow"), QStringLiteral("* a\r\nb\n")}),
                 QByteArray("* wide slow\r\n* a  b \r\n"));
    }

    // Every writer of the capture side, on a really full disk and past the file-size limit, small
    // and large, over an old file (an earlier save by the same writer) and a new one: the failure
    // is told with the system's reason, the old file stays byte for byte (a capture file still
    // loads) or no file appears, and nothing else is left behind.
    void writersKeepTheOldFile_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("existing");
        for (const char *writer : {"edl", "gpo", "ini"}) {
            for (const bool fullDisk : {true, false}) {
                for (const int rows : {2, 5000}) {
                    for (const bool existing : {true, false}) {
                        QTest::addRow("%s, %s, %s, %s", writer, fullDisk ? "full disk" : "file-size limit",
                                      rows < 10 ? "small" : "large", existing ? "existing file" : "new file")
                            << QString::fromLatin1(writer) << fullDisk << rows << existing;
                    }
                }
            }
        }
    }

    void writersKeepTheOldFile()
    {
        QFETCH(QString, writer);
        QFETCH(bool, fullDisk);
        QFETCH(int, rows);
        QFETCH(bool, existing);
        SmallFileSystem disk;
        QTemporaryDir plain;
        if (fullDisk)
            SKIP_UNLESS_MOUNTED(disk);
        const QString folder = fullDisk ? disk.path() : plain.path();
        const QString file = QDir(folder).filePath(QStringLiteral("show.") + writer);
        auto save = [&](const CaptureList &list) {
            QStringList lines;
            for (int row = 0; row < list.count(); ++row) {
                QByteArray line;
                CaptureFile::FormatGpoLine(list, row, line);
                lines << QString::fromLatin1(line);
            }
            if (writer == QLatin1String("edl"))
                EdlFile::write(file, lines);
            else if (writer == QLatin1String("gpo"))
                CaptureFile::SaveGpoFile(list, file);
            else
                IniFile(file).writeString(QStringLiteral("Current"), QStringLiteral("notes"), lines.join(QLatin1Char(' ')));
        };
        // The file as an earlier save by the same writer left it.
        CaptureList earlier;
        fill(earlier, {eventRow("0001", "0001", "10:00:00:00", "first take")});
        QByteArray old;
        if (existing) {
            save(earlier);
            old = TestFiles::read(file);
            QVERIFY(!old.isEmpty());
        }

        CaptureList list;
        for (int row = 0; row < rows; ++row)
            list.appendEvent(u"10:00:00:00", u"10:00:00:00", row % 2 ? u"0001" : u"0002");
        const qsizetype size = CaptureFile::encode(list).size();
        QString message;
        try {
            if (fullDisk) {
                QVERIFY(disk.fill() > 0);
                save(list);
            } else {
                const FileSizeLimit limit(size / 2);
                save(list);
            }
        } catch (const CorvaneError &e) {
            message = e.message();
        }
        const QString reason = fullDisk ? QStringLiteral("No space left on device") : QStringLiteral("File too large");
        QCOMPARE(message, writer == QLatin1String("ini") ? QStringLiteral("Unable to write to %1 (%2)").arg(file, reason)
                                                         : QStringLiteral("Cannot write file %1: %2").arg(file, reason));
        QCOMPARE(QFileInfo::exists(file), existing);
        if (existing) {
            QCOMPARE(TestFiles::read(file), old);
            // A capture file left as it was still loads, with the rows of the earlier save.
            if (writer == QLatin1String("gpo")) {
                CaptureList loaded;
                QVERIFY(CaptureFile::LoadGpoFile(loaded, file));
                QCOMPARE(rowsOf(loaded), rowsOf(earlier));
            }
        }
        QCOMPARE(filesIn(folder), existing ? QStringList{QFileInfo(file).fileName()} : QStringList());
    }

    void edlFileWriteFailure()
    {
        QVERIFY(TestFiles::write(path(QStringLiteral("plain")), "x"));
        const QString file = path(QStringLiteral("plain/inside.edl")); // the folder is a file
        try {
            EdlFile::write(file, {QStringLiteral("FCM: EBU")});
            QFAIL("no error");
        } catch (const CorvaneError &e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("Cannot write file ")), qPrintable(e.message()));
            QVERIFY(e.message().contains(QDir::toNativeSeparators(file)));
        }
        QCOMPARE(TestFiles::read(path(QStringLiteral("plain"))), QByteArray("x"));
    }

    void chosenFileTexts()
    {
        const QString file = QDir(m_dir.path()).filePath(QStringLiteral("show_81123-1430_05.edl"));
        QCOMPARE(DocumentFiles::captionFor(file), QStringLiteral("show_81123-1430_05"));
        QCOMPARE(DocumentFiles::captionFor(QStringLiteral("/x/take.one.gpo")), QStringLiteral("take.one"));
        QCOMPARE(DocumentFiles::replaceQuestion(file), QStringLiteral("show_81123-1430_05.edl Exists Replace ?"));
        QCOMPARE(DocumentFiles::folderOf(file), QDir::toNativeSeparators(QFileInfo(m_dir.path()).absoluteFilePath()) + QDir::separator());
        QCOMPARE(DocumentFiles::withExtension(QStringLiteral("a"), EdlFile::Extension), QStringLiteral("a.edl"));
        QCOMPARE(DocumentFiles::withExtension(QStringLiteral("a.EDL"), EdlFile::Extension), QStringLiteral("a.EDL"));
        QCOMPARE(DocumentFiles::withExtension(QStringLiteral("a.gpo"), EdlFile::Extension), QStringLiteral("a.gpo.edl"));
    }

    // --- Capture file -----------------------------------------------------------------------

    void gpoProposedName_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("name");
        QTest::newRow("example") << "edlf" << QDate(2008, 11, 23) << "edlf_8B23";
        QTest::newRow("2010 gives A") << "edlf" << QDate(2010, 1, 5) << "edlf_A105";
        QTest::newRow("2016 gives 10") << "edlf" << QDate(2016, 9, 30) << "edlf_10930";
        QTest::newRow("October") << "M3C1" << QDate(2009, 10, 1) << "M3C1_9A01";
        QTest::newRow("December") << "show" << QDate(2031, 12, 31) << "show_1FC31";
    }

    void gpoProposedName()
    {
        QFETCH(QString, caption);
        QFETCH(QDate, date);
        QFETCH(QString, name);
        QCOMPARE(CaptureFile::proposedName(caption, date), name);
    }

    void nextGpoField_data()
    {
        QTest::addColumn<QString>("rest");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("restAfter");
        QTest::newRow("field and rest") << "0001,0003,x" << "0001" << "0003,x";
        QTest::newRow("no comma") << " tail " << "" << "tail";
        QTest::newRow("trimmed both") << " a\t, b " << "a" << "b";
        QTest::newRow("empty field") << ",b" << "" << "b";
        QTest::newRow("no-break space kept") << QStringLiteral("\u00a0a,b") << QStringLiteral("\u00a0a") << "b";
        QTest::newRow("empty") << "" << "" << "";
    }

    void nextGpoField()
    {
        QFETCH(QString, rest);
        QFETCH(QString, field);
        QFETCH(QString, restAfter);
        const QByteArray line = rest.toLatin1();
        QLatin1String restView(line);
        QLatin1String taken("old");
        CaptureFile::NextGpoField(restView, taken);
        QCOMPARE(QString(taken), field);
        QCOMPARE(QString(restView), restAfter);
    }

    // Every line shape, read by the line parser and in a whole file.
    void parseLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Row>("row");
        QTest::newRow("written by the program") << "0001,0003,10:00:00:00,10:00:00:01,Wide"
                                                << Row{"0001", "0003", "10:00:00:00", "10:00:00:01", "Wide"};
        QTest::newRow("comment with commas") << "0002,0001,10:00:01:00,10:00:01:00,Wide, slow, hold"
                                             << Row{"0002", "0001", "10:00:01:00", "10:00:01:00", "Wide, slow, hold"};
        QTest::newRow("empty comment") << "0003,0000,10:00:02:00,10:00:02:00,"
                                       << Row{"0003", "0000", "10:00:02:00", "10:00:02:00", ""};
        QTest::newRow("four fields") << "0004,0001,10:00:03:00,10:00:03:00"
                                     << Row{"0004", "0001", "10:00:03:00", "10:00:03:00", ""};
        QTest::newRow("three fields a,b,c") << "a,b,c" << Row{"a", "b", "", "c", ""};
        QTest::newRow("empty generator with a comment") << "0005,0001,10:00:04:00,,note, more"
                                                        << Row{"0005", "0001", "10:00:04:00", "note, more", ""};
        QTest::newRow("empty line") << "" << Row{};
        QTest::newRow("spaces and tabs trimmed") << " 0006 ,\t0002 , 10:00:05:00 ,10:00:05:00,  two spaces  "
                                                 << Row{"0006", "0002", "10:00:05:00", "10:00:05:00", "two spaces"};
        QTest::newRow("long and Latin-1 texts") << QStringLiteral("123456789,00000000000000000001,10:00:06:00:00:00,10:00:06:00,Entr\u00e9e")
                                                << Row{"123456789", "00000000000000000001", "10:00:06:00:00:00", "10:00:06:00", QStringLiteral("Entr\u00e9e")};
    }

    void parseLine()
    {
        QFETCH(QString, line);
        QFETCH(Row, row);
        const QByteArray bytes = Latin1Text::encode(line);
        CaptureList parsed;
        CaptureFile::ParseGpoLine(parsed, QLatin1String(bytes));
        QCOMPARE(rowsOf(parsed), Rows{row});

        CaptureList read;
        CaptureFile::decode(bytes + "\r\n", read);
        QCOMPARE(rowsOf(read), Rows{row});
    }

    // Golden bytes of a capture file; the single-line formatter gives the same lines.
    void formatLines()
    {
        CaptureList list;
        fill(list, {{"0001", "0003", "10:00:00:00", "10:00:00:01", "Wide, slow"},
                    {"0002", "00", "10:00:05:00", "10:00:05:00", ""},
                    {"0003", "0001", "10:00:06:00", "10:00:06:00", QStringLiteral("caf\u00e9 \u20ac\r\nnext")}});
        const QByteArray expected("0001,0003,10:00:00:00,10:00:00:01,Wide, slow\r\n"
                                  "0002,00,10:00:05:00,10:00:05:00,\r\n"
                                  "0003,0001,10:00:06:00,10:00:06:00,caf\xe9 ?  next\r\n");
        QCOMPARE(CaptureFile::encode(list), expected);
        QByteArray lines;
        for (int r = 0; r < list.count(); ++r) {
            CaptureFile::FormatGpoLine(list, r, lines);
            lines += "\r\n";
        }
        QCOMPARE(lines, expected);
    }

    // Save, clear, load: the same rows in the same order; only the spaces around a comment and
    // line breaks inside texts do not survive.
    void saveClearLoadRoundTrip()
    {
        const Rows rows{{"0001", "0003", "10:00:00:00", "10:00:00:00", "Wide, slow, hold"},
                        {"0002", "0001", "10:00:01:00", "10:00:01:00", ""},
                        {"0002", "8000", "10:00:02:00", "10:00:02:07", QStringLiteral("Entr\u00e9e, public")},
                        {"10000", "00", "10:00:03:00", "10:00:03:00", ",leading comma"},
                        {"a", "b", "", "c", ""}};
        CaptureList list;
        fill(list, rows);
        list.appendRow(eventRow("0006", "0001", "10:00:04:00", "  padded  "));
        const QString file = path(QStringLiteral("round.gpo"));
        CaptureFile::SaveGpoFile(list, file);
        list.clear();
        QVERIFY(CaptureFile::LoadGpoFile(list, file));
        QCOMPARE(rowsOf(list), rows + Rows{eventRow("0006", "0001", "10:00:04:00", "padded")});
    }

    void emptyListGivesEmptyFile()
    {
        const QString file = path(QStringLiteral("empty.gpo"));
        CaptureFile::SaveGpoFile(CaptureList(), file);
        QVERIFY(QFileInfo::exists(file));
        QCOMPARE(QFileInfo(file).size(), 0);
    }

    void readLineEndings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("CR LF") << QByteArray("1,0,a,a,\r\n2,0,b,b,\r\n") << QStringList{"1", "2"};
        QTest::newRow("LF") << QByteArray("1,0,a,a,\n2,0,b,b,\n") << QStringList{"1", "2"};
        QTest::newRow("last line without end") << QByteArray("1,0,a,a,\r\n2,0,b,b,") << QStringList{"1", "2"};
        QTest::newRow("empty line part-way") << QByteArray("1,0,a,a,\r\n\r\n3,0,c,c,\r\n") << QStringList{"1", "", "3"};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("CR alone") << QByteArray("1,0,a,a,x\r2,0,b,b,\r3,0,c,c,y\r") << QStringList{"1", "2", "3"};
        QTest::newRow("CR alone, last line without end") << QByteArray("1,0,a,a,\r2,0,b,b,") << QStringList{"1", "2"};
        QTest::newRow("mixed") << QByteArray("1,0,a,a,\r\n2,0,b,b,\r3,0,c,c,\n4,0,d,d,\r\n") << QStringList{"1", "2", "3", "4"};
        QTest::newRow("empty lines of each kind") << QByteArray("1,0,a,a,\r\r\n\n\r5,0,e,e,") << QStringList{"1", "", "", "", "5"};
    }

    void readLineEndings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, items);
        CaptureList list;
        CaptureFile::decode(bytes, list);
        QCOMPARE(column(list, CaptureList::ItemColumn), items);
        QCOMPARE(CaptureFile::countLines(bytes), items.size());
        // No line break is left inside a row.
        for (int row = 0; row < list.count(); ++row) {
            for (int c = 0; c < CaptureList::ColumnCount; ++c)
                QVERIFY(!list.text(row, c).contains(QLatin1Char('\r')) && !list.text(row, c).contains(QLatin1Char('\n')));
        }
    }

    // The loader reads blocks: a line break on a block's edge, and a line longer than a block,
    // give the same rows as the whole file read at once.
    void loadAcrossBlocks_data()
    {
        QTest::addColumn<QByteArray>("ending");
        QTest::addColumn<qint64>("commentBytes");
        const qint64 block = CaptureFile::LoadBlockBytes;
        const qint64 head = qint64(sizeof("0001,0001,10:00:00:00,10:00:00:00,") - 1);
        QTest::newRow("CR LF split by the block's end") << QByteArray("\r\n") << block - head - 1;
        QTest::newRow("lone CR last in the block") << QByteArray("\r") << block - head - 1;
        QTest::newRow("lone CR first in the next block") << QByteArray("\r") << block - head;
        QTest::newRow("LF last in the block") << QByteArray("\n") << block - head - 1;
        QTest::newRow("line of three blocks") << QByteArray("\r\n") << 3 * block;
        QTest::newRow("lone CRs only") << QByteArray("\r") << qint64(3);
    }

    void loadAcrossBlocks()
    {
        QFETCH(QByteArray, ending);
        QFETCH(qint64, commentBytes);
        QByteArray bytes = "0001,0001,10:00:00:00,10:00:00:00," + QByteArray(commentBytes, 'x') + ending;
        for (int row = 2; bytes.size() < 3 * CaptureFile::LoadBlockBytes; ++row)
            bytes += QStringLiteral("%1,0002,10:00:01:00,10:00:01:00,cut %1").arg(row, 4, 10, QLatin1Char('0')).toLatin1() + ending;
        bytes += "9999,0000,10:00:02:00,10:00:02:00,last";
        const QString file = path(QStringLiteral("blocks.gpo"));
        QVERIFY(TestFiles::write(file, bytes));
        CaptureList whole;
        CaptureFile::decode(bytes, whole);
        QCOMPARE(whole.count(), CaptureFile::countLines(bytes));
        CaptureList loaded;
        QVERIFY(CaptureFile::LoadGpoFile(loaded, file));
        QCOMPARE(loaded.count(), whole.count());
        QCOMPARE(rowsOf(loaded), rowsOf(whole));
        QCOMPARE(loaded.text(0, CaptureList::CommentColumn).size(), commentBytes);
        QCOMPARE(loaded.text(loaded.count() - 1, CaptureList::CommentColumn), QStringLiteral("last"));
    }

    // Loading replaces the rows; a missing file leaves them; an unreadable one leaves them and
    // says why.
    void loadReplacesRows()
    {
        const QString file = path(QStringLiteral("two.gpo"));
        QVERIFY(TestFiles::write(file, "0007,0001,10:00:00:00,10:00:00:00,\r\n0009,0000,10:00:01:00,10:00:01:00,\r\n"));
        CaptureList list;
        fill(list, {eventRow("0001", "0002", "09:00:00:00"), eventRow("0002", "0002", "09:00:01:00"), eventRow("0003", "0000", "09:00:02:00")});
        QVERIFY(CaptureFile::LoadGpoFile(list, file));
        QCOMPARE(column(list, CaptureList::ItemColumn), QStringList({"0007", "0009"}));
        list.appendEvent(u"10:00:02:00", u"10:00:02:00", u"0001");
        QCOMPARE(list.text(2, CaptureList::ItemColumn), QStringLiteral("0010")); // on from the file's numbers
    }

    void loadMissingOrUnreadable()
    {
        CaptureList list;
        fill(list, {eventRow("0001", "0001", "10:00:00:00", "keep me")});
        QVERIFY(!CaptureFile::LoadGpoFile(list, path(QStringLiteral("nothere.gpo"))));
        QCOMPARE(list.count(), 1);

        const QString folder = path(QStringLiteral("afolder.gpo"));
        QVERIFY(QDir().mkpath(folder));
        try {
            CaptureFile::LoadGpoFile(list, folder);
            QFAIL("no error");
        } catch (const CorvaneError &e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("Cannot read file ")), qPrintable(e.message()));
        }
        QCOMPARE(rowsOf(list), Rows{eventRow("0001", "0001", "10:00:00:00", "keep me")});
    }

    // Any bytes load; rows that are not capture rows only fail when an EDL is made of them.
    void damagedFileLoads()
    {
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(static_cast<char>((i * 7919) % 256));
        const QString file = path(QStringLiteral("damaged.gpo"));
        QVERIFY(TestFiles::write(file, garbage));
        CaptureList list;
        QVERIFY(CaptureFile::LoadGpoFile(list, file));
        QVERIFY(list.count() > 0);
        QCOMPARE(list.count(), CaptureFile::countLines(garbage));
        EdlBuilder builder;
        QStringList lines;
        QVERIFY_THROWS_EXCEPTION(CorvaneError, builder.BuildEdl(list, standardCameras(), {}, {}, {}, lines));
        QCOMPARE(lines.size(), 2);
    }

    // The sample shipped beside the program is a capture file exactly as the program writes it:
    // it loads and saves back to the same bytes, and makes an EDL with overlaps and comments.
    void sampleFile()
    {
        const QString sample = CaptureFile::sampleFilePath();
        QVERIFY2(QFileInfo::exists(sample), qPrintable(sample));
        const QByteArray bytes = TestFiles::read(sample);
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));

        CaptureList list;
        QVERIFY(CaptureFile::LoadGpoFile(list, sample));
        QVERIFY(list.count() >= 10);
        QCOMPARE(CaptureFile::encode(list), bytes);

        quint32 usedCameras = 0;
        bool overlap = false;
        bool commaInComment = false;
        for (int r = 0; r < list.count(); ++r) {
            QCOMPARE(list.text(r, CaptureList::ItemColumn), CaptureList::formatItemNumber(r + 1));
            const quint32 mask = CaptureList::parseCameraState(list.text(r, CaptureList::CameraColumn));
            usedCameras |= mask;
            overlap = overlap || (mask & (mask - 1)) != 0;
            commaInComment = commaInComment || list.text(r, CaptureList::CommentColumn).contains(QLatin1Char(','));
            QCOMPARE(list.text(r, CaptureList::ReaderColumn).size(), 11);
        }
        QVERIFY(overlap);
        QVERIFY(commaInComment);
        QVERIFY(qPopulationCount(usedCameras) >= 3);

        EdlBuilder builder;
        QStringList lines;
        builder.BuildEdl(list, standardCameras(), QStringLiteral("show"), QStringLiteral("D"), QStringLiteral("T"), lines);
        QVERIFY(lines.size() > list.count() / 2);
    }

    // --- Camera table -----------------------------------------------------------------------

    // Read in the settings order (reel names 1-16, then edit types 1-16) and written whole.
    void cameraTableSettings()
    {
        QStringList readKeys;
        const CameraTable table = CameraTable::read([&](const QString &key) {
            readKeys.append(key);
            return key.toUpper();
        });
        QCOMPARE(readKeys.size(), 32);
        QCOMPARE(readKeys.first(), QStringLiteral("reelname1"));
        QCOMPARE(readKeys.at(15), QStringLiteral("reelname16"));
        QCOMPARE(readKeys.at(16), QStringLiteral("edittype1"));
        QCOMPARE(readKeys.last(), QStringLiteral("edittype16"));
        QCOMPARE(table.reelName(16), QStringLiteral("REELNAME16"));
        QCOMPARE(table.editType(1), QStringLiteral("EDITTYPE1"));
        QCOMPARE(table.reelName(0), QString());
        QCOMPARE(table.reelName(17), QString());

        QList<QPair<QString, QString>> written;
        table.write([&](const QString &key, const QString &value) { written.append({key, value}); });
        QCOMPARE(written.size(), 32);
        QCOMPARE(written.at(3), qMakePair(QStringLiteral("reelname4"), QStringLiteral("REELNAME4")));
        QCOMPARE(written.at(31), qMakePair(QStringLiteral("edittype16"), QStringLiteral("EDITTYPE16")));
    }
};

QTEST_GUILESS_MAIN(TestCaptureFiles)
#include "tst_capture_files.moc"
