// Undo of the changes made to the capture list: each change taken back gives the list exactly
// as it was (texts, item numbers, comments, order), rows appended in between stay, and a journal
// read back after a crash holds the same undo steps as the list it followed.

#include "CaptureFixtures.h"
#include "CaptureJournal.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using CaptureFixtures::eventRow;
using CaptureFixtures::fill;
using CaptureFixtures::journalRecord;
using CaptureFixtures::Row;
using CaptureFixtures::Rows;
using CaptureFixtures::rowsOf;

namespace {

using Change = std::function<void(CaptureList &)>;

// Six rows as a show leaves them: several cameras, two comments (one with characters the journal
// escapes), a row numbered out of order after an earlier deletion.
Rows show()
{
    return {eventRow("0001", "0001", "10:00:00:00"),
            eventRow("0002", "0004", "10:00:01:00", QStringLiteral("wide,\ttab \u00e9")),
            eventRow("0003", "0002", "10:00:02:00"),
            eventRow("0005", "0008", "10:00:03:00"),
            eventRow("0005", "0003", "10:00:04:00", QStringLiteral("close up")),
            eventRow("0006", "0000", "10:00:05:00")};
}

// Rows a device adds while the change is kept.
void deviceRows(CaptureList &list)
{
    list.appendEvent(u"10:01:00:00", u"10:01:00:00", u"0010");
    list.appendEvent(u"10:01:01:00", u"10:01:01:00", u"0000");
}

// Forty rows, for a deletion of more separate ranges than are removed one by one.
Rows longShow()
{
    Rows rows;
    for (int i = 1; i <= 40; ++i)
        rows.append(eventRow(CaptureList::formatItemNumber(i), QStringLiteral("%1").arg(i % 16, 4, 16, QLatin1Char('0')),
                             QStringLiteral("10:00:%1:00").arg(i, 2, 10, QLatin1Char('0'))));
    return rows;
}

} // namespace

class TestCaptureUndo : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString journalPath() const { return m_dir.filePath(QStringLiteral("corvane.journal")); }

    void addChanges()
    {
        QTest::addColumn<Rows>("start");
        QTest::addColumn<Change>("change");
        const Rows six = show();
        QTest::newRow("Delete") << six << Change([](CaptureList &l) { l.deleteRows({2, 3}); });
        QTest::newRow("Delete with gaps") << six << Change([](CaptureList &l) { l.deleteRows({0, 2, 5}); });
        QTest::newRow("Delete of many ranges") << longShow() << Change([](CaptureList &l) {
            QList<int> every;
            for (int r = 1; r < 40; r += 2)
                every.append(r);
            l.deleteRows(every);
        });
        QTest::newRow("Delete All, Clear GPO") << six << Change([](CaptureList &l) { l.clear(); });
        QTest::newRow("Make&Save's removal") << six << Change([](CaptureList &l) { l.removeRows(0, 4); });
        QTest::newRow("Load GPO over rows") << six << Change([](CaptureList &l) {
            CaptureList loaded;
            fill(loaded, {eventRow("0001", "0101", "09:00:00:00", QStringLiteral("from file")),
                          eventRow("0002", "0000", "09:00:01:00")});
            l.replaceRows(loaded);
        });
        QTest::newRow("Load GPO of no rows") << six << Change([](CaptureList &l) {
            CaptureList loaded;
            l.replaceRows(loaded);
        });
        QTest::newRow("sort") << six << Change([](CaptureList &l) { l.sortByColumn(CaptureList::CameraColumn); });
        QTest::newRow("sort by comment") << six << Change([](CaptureList &l) { l.sortByColumn(CaptureList::CommentColumn); });
        QTest::newRow("comment") << six << Change([](CaptureList &l) { l.setComment(1, QStringLiteral("replaced")); });
        QTest::newRow("comment removed") << six << Change([](CaptureList &l) { l.setComment(4, QString()); });
        QTest::newRow("function key comment") << six << Change([](CaptureList &l) { l.setLastComment(QStringLiteral("Keep")); });
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init()
    {
        QFile::remove(journalPath());
    }

    void undoGivesBackTheListAsItWas_data() { addChanges(); }

    // Do, (rows arrive,) undo: the rows as before, those that arrived after them, and the views
    // told of every row.
    void undoGivesBackTheListAsItWas()
    {
        QFETCH(Rows, start);
        QFETCH(Change, change);
        for (const bool arriving : {false, true}) {
            CaptureList list;
            list.setUndoEnabled(true);
            fill(list, start);
            const int sortColumn = list.sortColumn();
            QVERIFY(!list.canUndo());
            QSignalSpy available(&list, &CaptureList::undoAvailable);

            change(list);
            QVERIFY(rowsOf(list) != start);
            QVERIFY(list.canUndo());
            QCOMPARE(available.size(), 1);
            Rows later;
            if (arriving) {
                const int before = list.count();
                deviceRows(list);
                later = rowsOf(list).mid(before);
            }
            QVERIFY(list.undo());
            QCOMPARE(rowsOf(list), start + later);
            QCOMPARE(list.rowCount(), list.count());
            QCOMPARE(list.sortColumn(), sortColumn);
            QVERIFY(!list.canUndo());
            QCOMPARE(available.size(), 2);
            QCOMPARE(available.last().first().toBool(), false);
            QVERIFY(!list.undo());
        }
    }

    void journalReadBackHoldsTheUndo_data() { addChanges(); }

    // The journal of the change (and of rows arriving after it), cut off as a kill leaves it:
    // the list read back is the list shown, and its undo gives what the live undo gave. An undo
    // done before the kill is in the journal too.
    void journalReadBackHoldsTheUndo()
    {
        QFETCH(Rows, start);
        QFETCH(Change, change);
        for (const bool undoneBeforeTheKill : {false, true}) {
            CaptureList list;
            list.setUndoEnabled(true);
            fill(list, start);
            CaptureJournal journal(journalPath());
            journal.start(list);
            change(list);
            deviceRows(list);
            const Rows shown = rowsOf(list);
            if (undoneBeforeTheKill)
                QVERIFY(list.undo());
            journal.close();

            CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
            QCOMPARE(r.found, CaptureJournal::Found::Rows);
            QVERIFY(!r.cutRecord);
            QCOMPARE(r.rows(), rowsOf(list));
            if (undoneBeforeTheKill) {
                QVERIFY(!r.list->canUndo());
                continue;
            }
            QCOMPARE(r.rows(), shown);
            QVERIFY(r.list->canUndo());
            QVERIFY(list.undo());
            QVERIFY(r.list->undo());
            QCOMPARE(r.rows(), rowsOf(list));
            QCOMPARE(r.rows(), start + shown.mid(shown.size() - 2));
        }
    }

    // Several changes with rows arriving among them, undone one by one, newest first: each undo
    // gives the list as it was before its change, with every row that arrived since.
    void severalLevelsNewestFirst()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        fill(list, show());
        CaptureJournal journal(journalPath());
        journal.start(list);
        QList<Rows> states{rowsOf(list)};
        list.setComment(0, QStringLiteral("first"));
        states << rowsOf(list);
        list.sortByColumn(CaptureList::CameraColumn);
        states << rowsOf(list);
        list.appendEvent(u"11:00:00:00", u"11:00:00:00", u"0001");
        list.deleteRows({1, 6});
        states << rowsOf(list);
        list.appendEvent(u"11:00:01:00", u"11:00:01:00", u"0002");
        list.clear();
        list.appendEvent(u"11:00:02:00", u"11:00:02:00", u"0004");
        QCOMPARE(list.undoSteps(), 4);
        const Row third = list.rowTexts(0);
        journal.close();

        // The same steps from the journal as in the list.
        CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.rows(), rowsOf(list));
        QCOMPARE(r.list->undoSteps(), 4);

        // Undo of the clear: the rows before it, then the row after it.
        QVERIFY(list.undo());
        QVERIFY(r.list->undo());
        const Row second = list.rowTexts(list.count() - 2);
        QCOMPARE(list.rowTexts(list.count() - 1), third);
        QCOMPARE(rowsOf(list).mid(0, list.count() - 2), states[3]);
        QCOMPARE(second.reader, QStringLiteral("11:00:01:00"));
        // Undo of the deletion: row 1 and row 6 (the row that came before it) back in place.
        QVERIFY(list.undo());
        QCOMPARE(rowsOf(list).mid(0, 7), states[2] + Rows({eventRow("0007", "0001", "11:00:00:00")}));
        QCOMPARE(rowsOf(list).mid(7), Rows({second, third}));
        // Undo of the sort, then of the comment.
        QVERIFY(list.undo());
        QCOMPARE(rowsOf(list).mid(0, 6), states[1]);
        QVERIFY(list.undo());
        QCOMPARE(rowsOf(list).mid(0, 6), states[0]);
        QCOMPARE(rowsOf(list).mid(6), Rows({eventRow("0007", "0001", "11:00:00:00"), second, third}));
        QVERIFY(!list.canUndo());
        for (int i = 0; i < 3; ++i)
            QVERIFY(r.list->undo());
        QCOMPARE(r.rows(), rowsOf(list));
    }

    // Nothing that changes nothing is kept: a comment set to what it was, an empty list cleared,
    // a sort of one row. Rows appended are never a step.
    void noStepForNoChange()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        list.clear();
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        list.sortByColumn(CaptureList::CameraColumn);
        list.setComment(0, QString());
        list.deleteRows({5});
        QVERIFY(!list.canUndo());
        // Without undo nothing is kept at all.
        CaptureList plain;
        fill(plain, show());
        plain.clear();
        QVERIFY(!plain.canUndo());
    }

    // At most MaxUndoSteps steps: the oldest go.
    void stepsAreBounded()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        fill(list, show());
        for (int i = 1; i <= CaptureList::MaxUndoSteps + 5; ++i)
            list.setComment(0, QString::number(i));
        QCOMPARE(list.undoSteps(), CaptureList::MaxUndoSteps);
        while (list.undo()) {
        }
        QCOMPARE(list.text(0, CaptureList::CommentColumn), QStringLiteral("5"));
    }

    // The steps before the newest hold at most the budget; the newest is kept whatever it holds,
    // and the rows it took are moved, not copied (a list deleted whole is no larger for it).
    void rowsKeptAreBounded()
    {
        Rows many;
        for (int i = 0; i < 1000; ++i)
            many.append(eventRow(CaptureList::formatItemNumber(i + 1), QStringLiteral("0001"), QStringLiteral("10:00:00:00")));
        CaptureList list;
        list.setUndoEnabled(true);
        list.setUndoBudgetBytes(qsizetype(1500 * CaptureList::storedRowSize()));
        fill(list, many);
        list.clear(); // 1000 rows in the newest step: kept
        QCOMPARE(list.undoSteps(), 1);
        const qsizetype oneList = list.undoBytes();
        QVERIFY(oneList >= qsizetype(1000 * CaptureList::storedRowSize()));
        fill(list, many);
        list.clear(); // now 2000 rows in two steps, the older within the budget
        QCOMPARE(list.undoSteps(), 2);
        fill(list, many);
        list.clear(); // the oldest of three goes: two lists before the newest exceed the budget
        QCOMPARE(list.undoSteps(), 2);
        QCOMPARE(list.undoBytes(), 2 * oneList);
        QVERIFY(list.undo());
        QVERIFY(list.undo());
        QCOMPARE(rowsOf(list), many + many);
        QVERIFY(!list.undo());
    }

    // A journal cut inside the rows of a load (a crash between its writes) gives the list as it
    // was before the load, and goes on from there.
    void journalCutInsideALoad()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        fill(list, show());
        CaptureJournal journal(journalPath());
        journal.start(list);
        const Rows before = rowsOf(list);
        const qsizetype size = TestFiles::read(journalPath()).size();
        CaptureList loaded;
        fill(loaded, longShow());
        list.replaceRows(loaded);
        journal.close();
        QByteArray bytes = TestFiles::read(journalPath());
        QVERIFY(bytes.mid(size).startsWith("L\t40\t"));
        QVERIFY(TestFiles::write(journalPath(), bytes.left(bytes.indexOf('\n', size + 400) + 1)));
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QVERIFY(r.cutRecord);
        QCOMPARE(r.rows(), before);
        QCOMPARE(r.wholeSize, size);
        QVERIFY(!r.list->canUndo());
    }

    // A large load goes out in parts, so it never waits whole in memory; each part ends on a
    // whole record and the journal reads back as the loaded list.
    void largeLoadIsWrittenInParts()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        fill(list, show());
        CaptureJournal journal(journalPath());
        journal.start(list);
        CaptureList loaded;
        Rows many;
        for (int i = 1; i <= 40000; ++i)
            many.append(eventRow(CaptureList::formatItemNumber(i), QStringLiteral("%1").arg(i % 0xFFFF, 4, 16, QLatin1Char('0')),
                                 QStringLiteral("10:00:00:00"), i % 100 ? QString() : QStringLiteral("note %1").arg(i)));
        fill(loaded, many);
        const int writesBefore = journal.writeCount();
        list.replaceRows(loaded);
        const int writes = journal.writeCount() - writesBefore;
        const qint64 size = QFileInfo(journalPath()).size();
        journal.close();
        QVERIFY2(writes >= 2, qPrintable(QStringLiteral("%1 writes for %2 bytes").arg(writes).arg(size)));
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QVERIFY(!r.cutRecord);
        QCOMPARE(r.rows(), many);
        QVERIFY(r.list->undo());
        QCOMPARE(rowsOf(*r.list), show());
    }

    // The records a load and an undo leave, byte for byte: the header of version 2, L with the
    // number of rows that follow as A records, U alone.
    void loadAndUndoRecords()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        fill(list, {eventRow("0001", "0001", "10:00:00:00")});
        CaptureJournal journal(journalPath());
        journal.start(list);
        CaptureList loaded;
        fill(loaded, {eventRow("0001", "0101", "09:00:00:00", QStringLiteral("from file")), eventRow("0002", "0000", "09:00:01:00")});
        list.replaceRows(loaded);
        QVERIFY(list.undo());
        journal.close();
        QCOMPARE(TestFiles::read(journalPath()),
                 journalRecord("CORVANE-JOURNAL\t2") + journalRecord("A\t0001\t0001\t10:00:00:00\t10:00:00:00\t")
                     + journalRecord("L\t2") + journalRecord("A\t0001\t0101\t09:00:00:00\t09:00:00:00\tfrom file")
                     + journalRecord("A\t0002\t0000\t09:00:01:00\t09:00:01:00\t") + journalRecord("U"));
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), rowsOf(list));
    }

    // Rows the device brought while a file was read follow the loaded rows, in the list, in its
    // journal and after an undo of the load, which puts back only the rows the load replaced.
    void rowsArrivedDuringALoadFollowTheLoadedRows()
    {
        CaptureList list;
        list.setUndoEnabled(true);
        const Rows before = {eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0002", "10:00:01:00")};
        fill(list, before);
        CaptureJournal journal(journalPath());
        journal.start(list);
        const int replaced = list.count();
        const Rows arrived = {eventRow("0003", "0004", "10:00:02:00"), eventRow("0004", "0008", "10:00:03:00")};
        fill(list, arrived);
        CaptureList loaded;
        const Rows file = {eventRow("0001", "0101", "09:00:00:00", QStringLiteral("from file"))};
        fill(loaded, file);
        list.replaceRows(loaded, replaced);
        QCOMPARE(rowsOf(list), file + arrived);
        journal.sync();
        QVERIFY(TestFiles::read(journalPath()).contains(journalRecord("L\t1\t2")));
        CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.rows(), file + arrived);
        // The undo step read back from the journal is the list's own.
        QVERIFY(r.list->undo());
        QCOMPARE(rowsOf(*r.list), before + arrived);
        QVERIFY(list.undo());
        QCOMPARE(rowsOf(list), before + arrived);
        journal.close();
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), before + arrived);
    }

    // A journal of the version before undo (no L or U records) is read as ever.
    void journalOfTheFirstVersionIsRead()
    {
        QByteArray earlier = journalRecord("CORVANE-JOURNAL\t1");
        earlier += journalRecord("A\t0001\t0001\t10:00:00:00\t10:00:00:00\t");
        earlier += journalRecord("A\t0002\t0004\t10:00:01:00\t10:00:01:00\t");
        earlier += journalRecord("X");
        earlier += journalRecord("A\t0001\t0002\t10:00:02:00\t10:00:02:00\tafter");
        QVERIFY(TestFiles::write(journalPath(), earlier));
        CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.found, CaptureJournal::Found::Rows);
        QCOMPARE(r.rows(), Rows({eventRow("0001", "0002", "10:00:02:00", "after")}));
        // Its clear can be undone as well.
        QVERIFY(r.list->undo());
        QCOMPARE(r.rows(), Rows({eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0004", "10:00:01:00"),
                                 eventRow("0001", "0002", "10:00:02:00", "after")}));
    }

    // An undo record with nothing to undo is not a journal this program wrote.
    void undoRecordWithNothingToUndoIsDamage()
    {
        CaptureList list;
        CaptureJournal journal(journalPath());
        journal.start(list);
        list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
        journal.undone();
        journal.changesDone();
        list.appendEvent(u"10:00:01:00", u"10:00:01:00", u"0002");
        journal.close();
        const CaptureJournal::Recovery r = CaptureJournal::read(journalPath());
        QCOMPARE(r.problem, QStringLiteral("The journal is damaged at record 3: 2 records could not be read."));
        QCOMPARE(r.unreadRecords, 2);
        QCOMPARE(r.rows(), Rows({eventRow("0001", "0001", "10:00:00:00")}));
    }
};

QTEST_GUILESS_MAIN(TestCaptureUndo)
#include "tst_capture_undo.moc"
