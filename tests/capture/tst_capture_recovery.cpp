// The capture window and its journal: the rows a run that did not end cleanly left behind are
// offered back at start, declined or unreadable journals are moved aside (never deleted), and
// either clean way out removes the journal.

#include "CaptureFixtures.h"
#include "AppPaths.h"
#include "CaptureJournal.h"
#include "Clock.h"
#include "DialogScript.h"
#include "FaultyDisk.h"
#include "ErrorReport.h"
#include "KxSettings.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"

#include <QDir>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using WindowSettings::defaultSettings;

namespace {

using CaptureFixtures::Rows;
using CaptureFixtures::rowsOf;

// 23 November 2008, 14:30:05: a journal moved aside is named corvane-20081123-143005.journal.
const QDateTime Moment(QDate(2008, 11, 23), QTime(14, 30, 5));

// The rows as the list view shows them.
// bytes with one byte of a record changed (the header being record 1): its checksum fails.
QByteArray damagedAt(QByteArray bytes, int record)
{
    qsizetype start = 0;
    for (int line = 1; line < record; ++line)
        start = bytes.indexOf('\n', start) + 1;
    bytes[start + 3] = bytes[start + 3] ^ 0x01;
    return bytes;
}

Rows rowsShown(const Tedlf &w)
{
    Rows rows;
    const QAbstractItemModel *model = w.List1->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        auto text = [&](int column) { return model->index(r, column).data().toString(); };
        rows.append({text(0), text(1), text(2), text(3), text(4)});
    }
    return rows;
}

} // namespace

class TestCaptureRecovery : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_dir;
    std::unique_ptr<Tedlf> m_window;
    std::unique_ptr<DialogScript> m_dialogs;
    FixedClock m_clock{Moment};

    QString journalPath() const { return m_dir->file(QStringLiteral("corvane.journal")); }
    QString asidePath() const { return m_dir->file(QStringLiteral("corvane-20081123-143005.journal")); }

    // The journal a run leaves behind when it ends without a clean exit after play; returns
    // the rows that were shown.
    Rows journalLeftBy(const std::function<void(CaptureList &)> &play)
    {
        CaptureList list;
        CaptureJournal journal(journalPath());
        journal.start(list);
        play(list);
        journal.close();
        return rowsOf(list);
    }

    // A run killed in the middle of a show: three rows left, a comment with characters the
    // journal escapes, a deleted row, a sort.
    Rows journalLeftByACrash()
    {
        return journalLeftBy([](CaptureList &list) {
            list.appendEvent(u"10:00:00:00", u"10:00:00:01", u"0001");
            list.appendEvent(u"10:00:01:00", u"10:00:01:01", u"0004");
            list.appendEvent(u"10:00:02:00", u"10:00:02:01", u"0002");
            list.appendEvent(u"10:00:03:00", u"10:00:03:01", u"0008");
            list.setComment(1, QStringLiteral("wide\tshot, \u00e9"));
            list.deleteRows({0});
            list.sortByColumn(CaptureList::CameraColumn);
        });
    }

    Tedlf &open()
    {
        m_window = std::make_unique<Tedlf>();
        return *m_window;
    }

    // The files of the program folder other than the settings files.
    QStringList journalFiles() const
    {
        return QDir(m_dir->path()).entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        setAppClock(&m_clock);
    }

    void cleanupTestCase() { setAppClock(nullptr); }

    void init()
    {
        m_dir = std::make_unique<ProgramFolder>();
        QVERIFY(m_dir->isValid());
        m_dialogs = std::make_unique<DialogScript>();
    }

    void cleanup()
    {
        m_window.reset();
        m_dir.reset(); // closes the settings file
        m_dialogs.reset();
    }

    void noJournalAsksNothingAndStartsOne()
    {
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList());
        QVERIFY(w.journal() && w.journal()->isOpen());
        w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        // In the journal by the time the row shows.
        QTRY_COMPARE(w.List1->model()->rowCount(), 1);
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), rowsOf(w.captureList()));
    }

    // OK gives back the list exactly as it was shown, and the journal goes on from there: a
    // second crash loses nothing either.
    void recoveredRowsAreShownAndJournaled()
    {
        const Rows before = journalLeftByACrash();
        m_dialogs->then(DialogScript::ok());
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList({"Recover Capture|Recover 3 capture rows from the previous run?"}));
        QCOMPARE(rowsOf(w.captureList()), before);
        QCOMPARE(rowsShown(w), before);

        w.AddGpoEvent(QStringLiteral("10:00:04:00"), QStringLiteral("10:00:04:00"), QStringLiteral("0010"));
        w.SetLastComment(QStringLiteral("after"));
        const Rows now = rowsOf(w.captureList());
        QCOMPARE(now.size(), 4);
        QCOMPARE(now.last().item, QStringLiteral("0005")); // after the highest number, 0004
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), now);
        QCOMPARE(journalFiles(), QStringList({"corvane.journal"}));
    }

    void oneRowIsAskedForInTheSingular()
    {
        journalLeftBy([](CaptureList &list) { list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001"); });
        m_dialogs->then(DialogScript::ok());
        open().StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList({"Recover Capture|Recover 1 capture row from the previous run?"}));
    }

    // Cancel starts an empty list; the old journal is kept under a dated name.
    void declinedJournalIsMovedAside()
    {
        const Rows before = journalLeftByACrash();
        m_dialogs->then(DialogScript::cancel());
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(w.captureList().count(), 0);
        QCOMPARE(journalFiles(), QStringList({"corvane-20081123-143005.journal", "corvane.journal"}));
        QCOMPARE(CaptureJournal::read(asidePath()).rows(), before);
        const CaptureJournal::Recovery fresh = CaptureJournal::read(journalPath());
        QCOMPARE(fresh.found, CaptureJournal::Found::Rows);
        QVERIFY(fresh.rows().isEmpty());
    }

    // Declined, but the journal cannot be moved aside (a read-only folder): the operator is
    // told so in a sentence of its own, and the run goes on without a journal, leaving the old
    // one as it was.
    void declinedJournalThatCannotBeMovedAside()
    {
        SmallFileSystem disk;
        SKIP_UNLESS_MOUNTED(disk);
        const QString path = disk.filePath(QStringLiteral("corvane.journal"));
        {
            CaptureList list;
            CaptureJournal journal(path);
            journal.start(list);
            list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
            journal.close();
        }
        const QByteArray left = TestFiles::read(path);
        QVERIFY(disk.makeReadOnly());
        m_dialogs->then(DialogScript::cancel());
        Tedlf &w = open();
        w.StartJournal(path);
        QCOMPARE(m_dialogs->seen(),
                 QStringList({"Recover Capture|Recover 1 capture row from the previous run?",
                              "!|The capture journal of the previous run could not be moved aside, so this run keeps "
                              "no capture journal: "
                                  + path}));
        QVERIFY(!w.journal());
        QCOMPARE(TestFiles::read(path), left);
    }

    // A record cut by the crash is not offered; every complete one is.
    void cutLastRecordIsLeftOut()
    {
        const Rows before = journalLeftByACrash();
        QVERIFY(TestFiles::write(journalPath(), TestFiles::read(journalPath()) + "A\t0005\t0001\t10:00:0"));
        m_dialogs->then(DialogScript::ok());
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList({"Recover Capture|Recover 3 capture rows from the previous run?"}));
        QCOMPARE(rowsOf(w.captureList()), before);
        // The cut record does not stay in the journal to break a later recovery: the journal goes
        // on from its last whole record.
        QCOMPARE(CaptureJournal::read(journalPath()).cutRecord, false);
        w.AddGpoEvent(QStringLiteral("10:00:04:00"), QStringLiteral("10:00:04:00"), QStringLiteral("0010"));
        QTRY_COMPARE(w.List1->model()->rowCount(), 4); // in the journal by the time it shows
        const CaptureJournal::Recovery after = CaptureJournal::read(journalPath());
        QCOMPARE(after.cutRecord, false);
        QCOMPARE(after.rows(), rowsOf(w.captureList()));
        QCOMPARE(after.rows().size(), 4);
    }

    void unreadableJournalIsMovedAsideWithAMessage_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another format") << QByteArray("[App]\r\nExe=corvane\r\n")
                                        << QStringLiteral("The journal is not a Corvane capture journal.");
        // No row before the damage: nothing to offer.
        QTest::newRow("damaged at its first record")
            << QByteArray() << QStringLiteral("The journal is damaged at record 2: 7 records could not be read.");
    }

    void unreadableJournalIsMovedAsideWithAMessage()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        if (content.isEmpty()) {
            journalLeftByACrash();
            QVERIFY(TestFiles::write(journalPath(), damagedAt(TestFiles::read(journalPath()), 2)));
        } else {
            QVERIFY(TestFiles::write(journalPath(), content));
        }
        const QByteArray damaged = TestFiles::read(journalPath());

        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->shown().size(), 1);
        QCOMPARE(m_dialogs->shown().first().kind, QStringLiteral("message"));
        QCOMPARE(m_dialogs->shown().first().text,
                 QStringLiteral("The capture journal of the previous run cannot be recovered. ") + reason
                     + QStringLiteral(" It was kept as ") + QDir::toNativeSeparators(asidePath()));
        QCOMPARE(TestFiles::read(asidePath()), damaged);
        QCOMPARE(w.captureList().count(), 0);
        QVERIFY(w.journal() && w.journal()->isOpen());
    }

    // A record damaged in the middle: the rows before it are offered, with how many records
    // could not be read. Taken or not, the damaged journal is kept aside as it was (what it
    // could not read is still in it), and a new journal holds the rows taken.
    void damagedJournalOffersTheRowsBeforeTheDamage_data()
    {
        QTest::addColumn<bool>("taken");
        QTest::newRow("taken") << true;
        QTest::newRow("declined") << false;
    }

    void damagedJournalOffersTheRowsBeforeTheDamage()
    {
        QFETCH(bool, taken);
        journalLeftByACrash();
        // Records 2 and 3 are its first two events; 4 to 8 cannot be read.
        CaptureList firstTwo;
        firstTwo.appendEvent(u"10:00:00:00", u"10:00:00:01", u"0001");
        firstTwo.appendEvent(u"10:00:01:00", u"10:00:01:01", u"0004");
        const Rows left = rowsOf(firstTwo);
        const QByteArray damaged = damagedAt(TestFiles::read(journalPath()), 4);
        QVERIFY(TestFiles::write(journalPath(), damaged));
        m_dialogs->then(taken ? DialogScript::ok() : DialogScript::cancel());
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QStringList told{"Recover Capture|Recover 2 capture rows from the previous run? The journal is damaged at "
                         "record 4: 5 records could not be read."};
        if (taken)
            told << "!|The records that could not be read stay in the damaged capture journal. It was kept as "
                        + QDir::toNativeSeparators(asidePath());
        QCOMPARE(m_dialogs->seen(), told);
        QCOMPARE(TestFiles::read(asidePath()), damaged);
        QCOMPARE(rowsOf(w.captureList()), taken ? left : Rows());
        QVERIFY(w.journal() && w.journal()->isOpen());
        const CaptureJournal::Recovery fresh = CaptureJournal::read(journalPath());
        QCOMPARE(fresh.found, CaptureJournal::Found::Rows);
        QCOMPARE(fresh.unreadRecords, 0);
        QCOMPARE(fresh.rows(), taken ? left : Rows());
    }

    // A journal that holds no row and nothing to undo (a crash before the first event) is
    // replaced without a word.
    void journalWithoutRowsIsReplaced()
    {
        journalLeftBy([](CaptureList &) {});
        Tedlf &w = open();
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList());
        QCOMPARE(journalFiles(), QStringList({"corvane.journal"}));
        QCOMPARE(CaptureJournal::read(journalPath()).records, 0);
        QVERIFY(!w.Undo1->isEnabled());
    }

    // A crash right after Delete All: the deleted rows are offered back. Taken, they come back as
    // they were, the journal goes on, the rows the device brings follow them, and the changes
    // before the deletion can still be undone (all journaled).
    void rowsDeletedBeforeACrashAreOfferedBack()
    {
        const Rows before = journalLeftBy([](CaptureList &list) {
            list.setUndoEnabled(true);
            list.appendEvent(u"10:00:00:00", u"10:00:00:00", u"0001");
            list.appendEvent(u"10:00:01:00", u"10:00:00:01", u"0004");
            list.setComment(1, QStringLiteral("keep"));
        });
        {
            CaptureJournal::Recovery left = CaptureJournal::read(journalPath());
            CaptureList list;
            list.setUndoEnabled(true);
            list.adoptRows(*left.list);
            CaptureJournal journal(journalPath());
            QVERIFY(journal.resume(list, left.wholeSize));
            list.clear(); // Delete All, then the crash
            journal.close();
        }
        Tedlf &w = open();
        m_dialogs->then(DialogScript::ok());
        w.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList({"Recover Capture|Recover 2 capture rows from the previous run?"}));
        QCOMPARE(rowsOf(w.captureList()), before);
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), before);
        w.AddGpoEvent(QStringLiteral("10:00:02:00"), QStringLiteral("10:00:02:00"), QStringLiteral("0002"));
        const Rows now = before + Rows({{"0003", "0002", "10:00:02:00", "10:00:02:00", ""}});
        QCOMPARE(rowsOf(w.captureList()), now);
        QTRY_COMPARE(rowsShown(w), now);
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), now);
        // Undone: the comment, then nothing is left to undo (the rows themselves came from the
        // device).
        QVERIFY(w.Undo1->isEnabled());
        w.Undo1->trigger();
        QCOMPARE(w.captureList().text(1, CaptureList::CommentColumn), QString());
        QVERIFY(!w.Undo1->isEnabled());
        QCOMPARE(CaptureJournal::read(journalPath()).rows(), rowsOf(w.captureList()));
    }

    // A journal that cannot be written: the operator is told, the capture goes on without it.
    void unwritableJournalIsToldAndCaptureGoesOn()
    {
        QVERIFY(TestFiles::write(m_dir->file(QStringLiteral("blocked")), "x"));
        const QString path = m_dir->file(QStringLiteral("blocked/corvane.journal"));
        Tedlf &w = open();
        w.StartJournal(path);
        QCOMPARE(m_dialogs->seen(),
                 QStringList({"!|Unable to write to " + path + " (Not a directory). Capture rows are not journaled in this run."}));
        QVERIFY(!w.journal());
        w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        QCOMPARE(w.captureList().count(), 1);
    }

    // The confirmed Exit removes the journal. The window closed from its frame (close box,
    // Alt+F4) removes it only when nothing is left unsaved: no rows, or every row written to a
    // file (EDL or capture file) since the list last changed. Otherwise the journal stays and
    // the next start offers the rows back.
    void closingKeepsTheJournalOnlyForUnsavedRows_data()
    {
        QTest::addColumn<QString>("play");
        QTest::addColumn<bool>("kept");
        QTest::newRow("Exit with rows") << "exit" << false;
        QTest::newRow("closed with no rows") << "" << false;
        QTest::newRow("closed with rows not saved") << "row" << true;
        QTest::newRow("closed after Delete All") << "row,deleteall" << true;
        QTest::newRow("closed after Save GPO and Delete All") << "row,savegpo,deleteall" << false;
        QTest::newRow("closed after Save GPO") << "row,savegpo" << false;
        QTest::newRow("closed after Save GPO and a comment") << "row,savegpo,comment" << true;
        QTest::newRow("closed after Save GPO and a new row") << "row,savegpo,row" << true;
        QTest::newRow("closed after Make and Save EDL") << "row,make,saveedl" << false;
        QTest::newRow("closed after a row, Make and Save EDL") << "row,make,row,saveedl" << true;
        QTest::newRow("closed after Make&Save") << "row,makesave" << false;
        QTest::newRow("closed after Make&Save undone") << "row,makesave,undo" << true;
        QTest::newRow("closed after Save GPO, sort and undo") << "row,row,savegpo,sort,undo" << true;
    }

    void closingKeepsTheJournalOnlyForUnsavedRows()
    {
        QFETCH(QString, play);
        QFETCH(bool, kept);
        Tedlf &w = open();
        w.StartJournal(journalPath());
        w.show();
        const QString files = m_dir->file(QStringLiteral("files"));
        QVERIFY(QDir().mkpath(files));
        int rows = 0;
        Rows deleted; // by Delete All
        for (const QString &step : play.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("row")) {
                const QString time = QStringLiteral("10:00:0%1:00").arg(rows++);
                w.AddGpoEvent(time, time, QStringLiteral("000%1").arg(rows));
            } else if (step == QLatin1String("exit")) {
                w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
            } else if (step == QLatin1String("deleteall")) {
                deleted = rowsOf(w.captureList());
                w.kdeleteall->click();
            } else if (step == QLatin1String("savegpo")) {
                m_dialogs->then(DialogScript::choose(QDir(files).filePath(QStringLiteral("show%1.gpo")).arg(rows)));
                w.savegpoClick();
            } else if (step == QLatin1String("comment")) {
                w.SetLastComment(QStringLiteral("Keep"));
            } else if (step == QLatin1String("make")) {
                m_dialogs->then(DialogScript::enter(QStringLiteral("show")));
                w.MakeEDLClick();
            } else if (step == QLatin1String("saveedl")) {
                m_dialogs->then(DialogScript::enter(QStringLiteral("show")));
                m_dialogs->then(DialogScript::choose(QDir(files).filePath(QStringLiteral("show.edl"))));
                w.SaveClick();
            } else if (step == QLatin1String("makesave")) {
                m_dialogs->then(DialogScript::choose(QDir(files).filePath(QStringLiteral("made.edl"))));
                w.makesaveClick();
                // Camera 1 is still on air: the list goes on with it alone, nothing unsaved.
                QCOMPARE(rowsOf(w.captureList()), Rows({CaptureFixtures::eventRow("0002", "0001", "10:00:00:00")}));
            } else if (step == QLatin1String("sort")) {
                w.List1ColumnClick(CaptureList::CameraColumn);
            } else if (step == QLatin1String("undo")) {
                w.Undo1->trigger();
            }
        }
        QCOMPARE(m_dialogs->pending(), 0);
        QCOMPARE(QDir(files).entryList(QDir::Files).size(), play.count(QLatin1String("save")));
        const Rows shown = rowsOf(w.captureList());
        QCOMPARE(w.hasUnsavedRows(), kept || play == QLatin1String("exit"));
        QVERIFY(QFile::exists(journalPath()));
        if (play == QLatin1String("exit")) {
            m_dialogs->then(DialogScript::ok()); // "Exit without saving EDL?"
            w.kexitClick();
        } else {
            w.close();
        }
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(journalFiles(), kept ? QStringList({"corvane.journal"}) : QStringList());
        if (!kept)
            return;

        // Started again: the recovery question, every row back (after Delete All, the rows it
        // deleted).
        const Rows offered = shown.isEmpty() ? deleted : shown;
        QVERIFY(!offered.isEmpty());
        m_window.reset();
        m_dialogs->reset();
        m_dialogs->then(DialogScript::ok());
        Tedlf &again = open();
        again.StartJournal(journalPath());
        QCOMPARE(m_dialogs->seen(), QStringList({QStringLiteral("Recover Capture|Recover %1 capture %2 from the previous run?")
                                                     .arg(offered.size())
                                                     .arg(offered.size() == 1 ? "row" : "rows")}));
        QCOMPARE(rowsOf(again.captureList()), offered);
    }
};

QTEST_MAIN(TestCaptureRecovery)
#include "tst_capture_recovery.moc"
