// The capture window keeps the operator's work safe: every change the operator makes to the
// list is taken back by Edit > Undo (Ctrl+Z), rows captured meanwhile staying; a GPO8 trigger
// that comes while a dialog is open waits for it to close and then makes and saves once; a save
// onto a FIFO that nobody reads is told within seconds and never holds the window up.

#include "CaptureFixtures.h"
#include "Clock.h"
#include "DialogScript.h"
#include "ErrorReport.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace CaptureFixtures;

using Settings = QList<QPair<QString, QString>>;

namespace {

// 23 November 2008, 14:30:05: the GPO8 trigger saves <details>_81123-1430_05.edl.
const QDateTime Moment(QDate(2008, 11, 23), QTime(14, 30, 5));
const QString TriggerFile = QStringLiteral("show_81123-1430_05.edl");

using Action = std::function<void(Tedlf &)>;

} // namespace

class TestCaptureSafety : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_dir;
    std::unique_ptr<Tedlf> m_window;
    std::unique_ptr<DialogScript> m_dialogs;
    FixedClock m_clock{Moment};
    QStringList m_errors;

    Tedlf &openShown()
    {
        m_window = std::make_unique<Tedlf>();
        m_window->show();
        activateWindowForKeys(*m_window);
        return *m_window;
    }
    static void event(Tedlf &w, const QString &time, const QString &camera) { w.AddGpoEvent(time, time, camera); }
    // Five rows, two with comments: the list an operator works on.
    void addShow(Tedlf &w)
    {
        event(w, QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        event(w, QStringLiteral("10:00:05:00"), QStringLiteral("0003"));
        event(w, QStringLiteral("10:00:09:00"), QStringLiteral("0002"));
        event(w, QStringLiteral("10:00:12:00"), QStringLiteral("0004"));
        event(w, QStringLiteral("10:00:15:00"), QStringLiteral("0000"));
        w.captureList().setComment(1, QStringLiteral("wide"));
        w.captureList().setComment(3, QStringLiteral("close up"));
        // Setting up is not the operator's doing: nothing of it to undo.
        w.captureList().clearUndo();
        w.captureList().announcePendingRows();
    }
    void select(Tedlf &w, const QList<int> &rows)
    {
        QItemSelectionModel *selection = w.List1->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(w.captureList().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // The rows as the view shows them.
    static Rows rowsShown(const Tedlf &w)
    {
        Rows rows;
        const QAbstractItemModel *model = w.List1->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            auto text = [&](int c) { return model->index(r, c).data().toString(); };
            rows.append({text(0), text(1), text(2), text(3), text(4)});
        }
        return rows;
    }
    QString edlFolder() const { return m_dir->file(QStringLiteral("edl")); }
    QStringList edlFiles() const { return QDir(edlFolder()).entryList(QDir::Files); }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        setAppClock(&m_clock);
        setErrorPresenter([this](const QString &message) { m_errors << message; });
    }

    void cleanupTestCase()
    {
        setAppClock(nullptr);
        setErrorPresenter({});
    }

    void init()
    {
        m_dir = std::make_unique<ProgramFolder>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(edlFolder()));
        m_dialogs = std::make_unique<DialogScript>();
        m_errors.clear();
    }

    void cleanup()
    {
        m_window.reset();
        m_dir.reset();
        m_dialogs.reset();
    }

    // --- Undo ----------------------------------------------------------------------------------

    void everyChangeOfTheOperatorIsUndone_data()
    {
        QTest::addColumn<Action>("change");
        QTest::newRow("Delete") << Action([this](Tedlf &w) {
            select(w, {1, 2});
            QTest::mouseClick(w.kdelete, Qt::LeftButton);
        });
        QTest::newRow("Delete All") << Action([](Tedlf &w) { QTest::mouseClick(w.kdeleteall, Qt::LeftButton); });
        QTest::newRow("Clear GPO") << Action([this](Tedlf &w) {
            m_dialogs->then(DialogScript::ok()); // "Erase GPO Capture List?"
            w.cleargpo->trigger();
        });
        QTest::newRow("Load GPO") << Action([this](Tedlf &w) {
            const QString file = m_dir->file(QStringLiteral("other.gpo"));
            QVERIFY(TestFiles::write(file, "0001,0010,09:00:00:00,09:00:00:00,loaded\r\n0002,0000,09:00:01:00,09:00:01:00,\r\n"));
            m_dialogs->then(DialogScript::choose(file));
            w.LoadGPO1->trigger();
        });
        QTest::newRow("sort") << Action([](Tedlf &w) {
            QHeaderView *header = w.List1->horizontalHeader();
            const int section = CaptureList::CameraColumn;
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                                     header->height() / 2));
        });
        QTest::newRow("Comment") << Action([this](Tedlf &w) {
            select(w, {3});
            m_dialogs->then(DialogScript::enter(QStringLiteral("retake")));
            QTest::mouseClick(w.Kcomment, Qt::LeftButton);
        });
        QTest::newRow("F5 comment") << Action([](Tedlf &w) { QTest::keyClick(&w, Qt::Key_F5); });
        QTest::newRow("Make&Save") << Action([this](Tedlf &w) {
            m_dialogs->then(DialogScript::choose(QDir(edlFolder()).filePath(QStringLiteral("made.edl"))));
            QTest::mouseClick(w.makesave, Qt::LeftButton);
        });
    }

    // Do, a row captured, Ctrl+Z: the list exactly as before (texts, comments, order, item
    // numbers) with the captured row after it, in the list and in the view; Undo then disabled.
    void everyChangeOfTheOperatorIsUndone()
    {
        QFETCH(Action, change);
        Tedlf &w = openShown();
        addShow(w);
        const Rows before = rowsOf(w.captureList());
        QVERIFY(!w.Undo1->isEnabled());

        change(w);
        QCOMPARE(m_dialogs->pending(), 0);
        QVERIFY(rowsOf(w.captureList()) != before);
        QVERIFY(w.Undo1->isEnabled());
        event(w, QStringLiteral("10:00:30:00"), QStringLiteral("0008"));
        const Row captured = w.captureList().rowTexts(w.captureList().count() - 1);
        QCOMPARE(captured.reader, QStringLiteral("10:00:30:00"));

        activateWindowForKeys(w);
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rowsOf(w.captureList()), before + Rows({captured}));
        QTRY_COMPARE(rowsShown(w), before + Rows({captured}));
        QVERIFY(!w.Undo1->isEnabled());
        // Nothing left: Ctrl+Z changes nothing.
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rowsOf(w.captureList()), before + Rows({captured}));
        QCOMPARE(m_errors, QStringList());
    }

    // Menu Edit, "Undo": several levels, newest first.
    void undoGoesBackSeveralSteps()
    {
        Tedlf &w = openShown();
        addShow(w);
        QList<Rows> states{rowsOf(w.captureList())};
        select(w, {0});
        QTest::mouseClick(w.kdelete, Qt::LeftButton);
        states << rowsOf(w.captureList());
        QTest::keyClick(&w, Qt::Key_F2);
        states << rowsOf(w.captureList());
        QTest::mouseClick(w.kdeleteall, Qt::LeftButton);
        QCOMPARE(w.captureList().count(), 0);
        for (qsizetype i = states.size() - 1; i >= 0; --i) {
            QVERIFY(w.Undo1->isEnabled());
            w.Undo1->trigger();
            QCOMPARE(rowsOf(w.captureList()), states[i]);
        }
        QVERIFY(!w.Undo1->isEnabled());
    }

    // --- GPO8 under a dialog -------------------------------------------------------------------

    void gpo8UnderADialogWaitsForItToClose_data()
    {
        QTest::addColumn<Action>("open");
        QTest::addColumn<QString>("dialog"); // what came up
        QTest::addColumn<DialogScript::Step>("answer");
        QTest::newRow("Save GPO dialog") << Action([](Tedlf &w) { w.SaveGPO1->trigger(); }) << "SaveDlg" << DialogScript::reject();
        QTest::newRow("Load GPO dialog") << Action([](Tedlf &w) { w.LoadGPO1->trigger(); }) << "OpenDlg" << DialogScript::reject();
        QTest::newRow("Make title prompt") << Action([](Tedlf &w) { QTest::mouseClick(w.button5, Qt::LeftButton); })
                                           << "entry" << DialogScript::cancelEntry();
        QTest::newRow("Save EDL prompt") << Action([](Tedlf &w) { w.SaveEDL1->trigger(); }) << "entry" << DialogScript::cancelEntry();
        QTest::newRow("Make&Save dialog") << Action([](Tedlf &w) { QTest::mouseClick(w.makesave, Qt::LeftButton); })
                                          << "SaveDlg" << DialogScript::reject();
        QTest::newRow("Clear GPO question") << Action([](Tedlf &w) { w.cleargpo->trigger(); }) << "query" << DialogScript::cancel();
        QTest::newRow("Comment entry") << Action([](Tedlf &w) {
            w.List1->selectionModel()->select(w.captureList().index(1, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            QTest::mouseClick(w.Kcomment, Qt::LeftButton);
        }) << "entry" << DialogScript::cancelEntry();
        QTest::newRow("File Name prompt") << Action([](Tedlf &w) { QTest::mouseClick(w.Kfilname, Qt::LeftButton); })
                                          << "entry" << DialogScript::cancelEntry();
        QTest::newRow("Exit question") << Action([](Tedlf &w) { QTest::mouseClick(w.kexit, Qt::LeftButton); })
                                       << "query" << DialogScript::cancel();
        QTest::newRow("Online Support question") << Action([](Tedlf &w) { w.OnlineSupport1->trigger(); }) << "query"
                                                 << DialogScript::cancel();
    }

    // Two triggers while the dialog is open: nothing happens under it (no row, no EDL, no file,
    // the list untouched); once it has closed, one make-and-save of the list.
    void gpo8UnderADialogWaitsForItToClose()
    {
        QFETCH(Action, open);
        QFETCH(QString, dialog);
        QFETCH(DialogScript::Step, answer);
        m_dir->presetCurrent({{"GPO8", "1"}, {"edlpath", edlFolder()}});
        Tedlf &w = openShown();
        addShow(w);
        const Rows before = rowsOf(w.captureList());
        Rows during;
        QStringList filesDuring{QStringLiteral("<not run>")};
        bool waiting = false;
        m_dialogs->then(DialogScript::during(
            [&] {
                for (int i = 0; i < 2; ++i)
                    event(w, QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
                during = rowsOf(w.captureList());
                filesDuring = edlFiles();
                waiting = w.gpo8TriggerWaiting();
            },
            answer));
        // A second prompt of the same command (Save EDL's file dialog) is cancelled as well.
        open(w);
        QVERIFY(!m_dialogs->shown().isEmpty());
        const QString first = m_dialogs->shown().first().kind;
        QCOMPARE(first, dialog);
        QCOMPARE(during, before);
        QCOMPARE(filesDuring, QStringList());
        QVERIFY(waiting);

        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        QCOMPARE(edlFiles(), QStringList({TriggerFile}));
        QCOMPARE(w.captureList().count(), 0);
        // One make-and-save: the file holds the EDL of the five rows, and no second one asked to
        // replace it.
        const QByteArray edl = TestFiles::read(QDir(edlFolder()).filePath(TriggerFile));
        QCOMPARE(edl.count("\r\n"), 2 + 3 + 2); // title, FCM, three events, two comment lines
        for (const DialogScript::Shown &s : m_dialogs->shown())
            QVERIFY2(s.kind != QLatin1String("query") || s.caption != QLatin1String("Replace"), qPrintable(s.text));
        QCOMPARE(m_errors, QStringList());
    }

    // A trigger that comes while a make-and-save asks to replace its file is carried out after
    // that one has ended, on the rows captured meanwhile.
    void gpo8DuringAMakeAndSaveRunsAfterIt()
    {
        m_dir->presetCurrent({{"GPO8", "1"}, {"edlpath", edlFolder()}});
        const QString file = QDir(edlFolder()).filePath(TriggerFile);
        QVERIFY(TestFiles::write(file, "old\r\n"));
        Tedlf &w = openShown();
        addShow(w);
        m_dialogs->then(DialogScript::during(
            [&w] {
                event(w, QStringLiteral("10:00:30:00"), QStringLiteral("0004"));
                event(w, QStringLiteral("10:00:31:00"), QStringLiteral("0080"));
            },
            DialogScript::ok()));
        // What the first left in the list, as the second asks: the row that came meanwhile, and
        // nothing the second's Make added.
        Rows left;
        m_dialogs->then(DialogScript::during([&] { left = rowsOf(w.captureList()); }, DialogScript::ok()));
        event(w, QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        QCOMPARE(left, Rows({eventRow("0006", "0004", "10:00:30:00")}));
        // The second asked to replace the first one's file (same second), and wrote the EDL of the
        // row that came meanwhile. Camera 3 is still on air: the list goes on with it, numbered
        // after the rows Undo can bring back.
        QCOMPARE(m_dialogs->seen(), QStringList({"Replace|show_81123-1430_05.edl Exists Replace ?",
                                                 "Replace|show_81123-1430_05.edl Exists Replace ?"}));
        QCOMPARE(rowsOf(w.captureList()), Rows({eventRow("0007", "0004", "10:00:30:00")}));
        QVERIFY(TestFiles::read(file).contains("0006  CAM3  V"));
    }

    // --- Saving onto a FIFO ----------------------------------------------------------------------

    // Save GPO onto a FIFO that nobody reads, or whose reader stops reading, is told within
    // seconds and leaves the window working: the rows stay, the next event is taken, and the FIFO
    // is still a FIFO.
    void savingOntoAFifoWithoutItsReaderIsTold_data()
    {
        QTest::addColumn<bool>("opened"); // a reader has it open but reads nothing
        QTest::addColumn<QString>("reason");
        QTest::newRow("nobody reading") << false << "Nobody is reading from it";
        QTest::newRow("reader stops reading") << true << "Nothing has been read from it for 5 seconds";
    }

    void savingOntoAFifoWithoutItsReaderIsTold()
    {
        QFETCH(bool, opened);
        QFETCH(QString, reason);
        const QString fifo = m_dir->file(QStringLiteral("show.gpo"));
        const QByteArray name = QFile::encodeName(fifo);
        QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        const int reader = opened ? ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        QCOMPARE(reader >= 0, opened);
        Tedlf &w = openShown();
        addShow(w);
        // More rows than a pipe holds, so that a reader that reads nothing holds the save up.
        for (int n = 0; n < 2000; ++n)
            w.captureList().appendRow(QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')), QStringLiteral("0001"),
                                      QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"),
                                      QStringLiteral("a comment long enough to fill the pipe sooner"));
        const Rows before = rowsOf(w.captureList());
        m_dialogs->then(DialogScript::choose(fifo));
        m_dialogs->then(DialogScript::ok()); // "replace" it
        w.SaveGPO1->trigger();
        if (reader >= 0)
            ::close(reader);
        QCOMPARE(m_dialogs->seen(), QStringList({"|", "Replace|show.gpo Exists Replace ?"})); // the file dialog, the question
        QCOMPARE(m_errors, QStringList{"Cannot write file " + fifo + ": " + reason});
        QCOMPARE(rowsOf(w.captureList()), before);
        event(w, QStringLiteral("10:00:30:00"), QStringLiteral("0002"));
        QCOMPARE(w.captureList().count(), before.size() + 1);
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }
};

QTEST_MAIN(TestCaptureSafety)
#include "tst_capture_safety.moc"
