// The capture window driven as the operator drives it: buttons, menus, shortcuts, the real
// modal dialogs and the real file dialogs, over a temporary program folder and a fixed clock.

#include "AppPaths.h"
#include "CaptureFixtures.h"
#include "CaptureListFollower.h"
#include "FaultyDisk.h"
#include "Clock.h"
#include "DialogScript.h"
#include "EdlMaker.h"
#include "Errors.h"
#include "ErrorReport.h"
#include "Fcp7XmlWriter.h"
#include "FixedLocale.h"
#include "IniStore.h"
#include "KxSettings.h"
#include "OtioWriter.h"
#include "TestFiles.h"
#include "Timeline.h"
#include "WindowFixture.h"
#include "WorkProgress.h"
#include "CaptureWindow.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace CaptureFixtures;
using WindowSettings::defaultSettings;

using Settings = QList<QPair<QString, QString>>;

namespace {

// Records what the window asks of the MIDI devices.
class RecordingDevices : public TCaptureDevices {
public:
    QStringList calls;
    void StartDevices() override { calls << QStringLiteral("StartDevices"); }
    void StopDevices() override { calls << QStringLiteral("StopDevices"); }
    void CloseInput() override { calls << QStringLiteral("CloseInput"); }
    void CloseWindow() override { calls << QStringLiteral("CloseWindow"); }
    void ShowHide() override { calls << QStringLiteral("ShowHide"); }
};

// 23 November 2008, 14:30:05: EDL files are proposed as <details>_81123-1430_05, capture files
// as <caption>_8B23.
const QDateTime Moment(QDate(2008, 11, 23), QTime(14, 30, 5));

// The title line made at Moment, in the test's fixed locale and zone.
QString titleLine(const QString &title)
{
    return QStringLiteral("TITLE:   ") + title + QStringLiteral("  23/11/2008  14:30:05 UTC");
}

QByteArray crlf(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

// A short show: camera 1 from 0001 to 0003, camera 2 from 0002 to 0004.
struct Event {
    const char *timecode;
    const char *camera;
};
constexpr Event ShortShow[] = {{"10:00:00:00", "0001"},
                               {"10:00:05:00", "0003"},
                               {"10:00:09:00", "0002"},
                               {"10:00:12:00", "0000"}};

// The short show in the CMX 3600 layout: one program cut (camera 2 from when it went on), or
// one EDL per camera with its whole ranges.
QStringList shortShowCmx(const QString &title)
{
    return {"TITLE: " + title,
            "FCM: NON-DROP FRAME",
            "001  CAM1     V     C        10:00:00:00 10:00:05:00 10:00:00:00 10:00:05:00",
            "* FROM CLIP NAME: CAM1",
            "002  CAM2     V     C        10:00:05:00 10:00:12:00 10:00:05:00 10:00:12:00",
            "* FROM CLIP NAME: CAM2"};
}

QStringList shortShowCmxCamera(const QString &title, int camera)
{
    const QString line = camera == 1 ? QStringLiteral("001  CAM1     V     C        10:00:00:00 10:00:09:00 10:00:00:00 10:00:09:00")
                                     : QStringLiteral("001  CAM2     V     C        10:00:05:00 10:00:12:00 10:00:05:00 10:00:12:00");
    return {"TITLE: " + title, "FCM: NON-DROP FRAME", line, QStringLiteral("* FROM CLIP NAME: CAM%1").arg(camera)};
}

QStringList shortShowEdl(const QString &title, const QString &reel1 = QStringLiteral("CAM1"))
{
    return {titleLine(title), QStringLiteral("FCM: EBU"),
            QStringLiteral("0001  %1  V         C  10:00:00:00  10:00:09:00  10:00:00:00  10:00:09:00").arg(reel1),
            QStringLiteral("0002  CAM2  V         C  10:00:05:00  10:00:12:00  10:00:05:00  10:00:12:00")};
}

} // namespace

class TestCaptureWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_dir;
    std::unique_ptr<Tedlf> m_window;
    std::unique_ptr<DialogScript> m_dialogs;
    RecordingDevices m_devices;
    FixedClock m_clock{Moment};
    QStringList m_errors;

    QString programFile(const QString &name) const { return m_dir->file(name); }
    QString settingsPath() const { return m_dir->settingsPath(); }
    // A value of the current desktop as stored in the settings file.
    QString stored(const QString &key) const
    {
        return IniFile(settingsPath()).readString(QStringLiteral("Current"), key, QStringLiteral("<absent>"));
    }
    void presetCurrent(const Settings &values) { m_dir->presetCurrent(values); }

    Tedlf &open()
    {
        m_window = std::make_unique<Tedlf>();
        m_window->setDevices(&m_devices);
        return *m_window;
    }
    Tedlf &openShown()
    {
        Tedlf &w = open();
        w.show();
        activate(w);
        return w;
    }
    static void activate(Tedlf &w) { activateWindowForKeys(w); }
    void addEvents(Tedlf &w, std::initializer_list<Event> events)
    {
        for (const Event &e : events)
            w.AddGpoEvent(QLatin1String(e.timecode), QLatin1String(e.timecode), QLatin1String(e.camera));
        w.captureList().announcePendingRows();
    }
    void addShortShow(Tedlf &w)
    {
        for (const Event &e : ShortShow)
            w.AddGpoEvent(QLatin1String(e.timecode), QLatin1String(e.timecode), QLatin1String(e.camera));
        w.captureList().announcePendingRows();
    }
    void select(Tedlf &w, const QList<int> &rows)
    {
        QItemSelectionModel *selection = w.List1->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(w.captureList().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QStringList memoLines(Tedlf &w) const
    {
        const QString text = w.Memo1->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    QList<DialogScript::Shown> shown() const { return m_dialogs->shown(); }

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
        m_dialogs = std::make_unique<DialogScript>();
        m_devices.calls.clear();
        m_errors.clear();
        m_clock.set(Moment);
    }

    void cleanup()
    {
        m_window.reset();
        m_dir.reset(); // closes the settings file
        m_dialogs.reset();
    }

    // --- Start-up ----------------------------------------------------------------------------

    void startUpReadsTheSettings_data()
    {
        QTest::addColumn<Settings>("current");
        QTest::addColumn<QStringList>("reelNames");
        QTest::addColumn<QStringList>("editTypes");
        QTest::addColumn<QStringList>("keyCaptions");
        QTest::addColumn<bool>("gpo8");

        QStringList reels;
        QStringList types;
        for (int c = 1; c <= 16; ++c) {
            reels << QStringLiteral("CAM%1").arg(c);
            types << QStringLiteral("V");
        }
        const QStringList factoryKeys = {"Keep", "Discard", "Good", "Retake", "Check focus", "Check audio", "Best take", "Note"};
        QTest::newRow("first start: factory values") << Settings() << reels << types << factoryKeys << false;

        QStringList ownReels = reels;
        ownReels[2] = QString();
        ownReels[15] = QStringLiteral("Crane, long lens");
        QStringList ownTypes = types;
        ownTypes[0] = QStringLiteral("A/V");
        QStringList ownKeys = factoryKeys;
        ownKeys[2] = QString();
        ownKeys[7] = QStringLiteral("Retake, focus");
        QTest::newRow("own desktop")
            << Settings{{"reelname3", ""}, {"reelname16", "Crane, long lens"}, {"edittype1", "A/V"},
                                              {"kf4", ""}, {"kf9", "Retake, focus"}, {"GPO8", "1"}}
            << ownReels << ownTypes << ownKeys << true;
    }

    void startUpReadsTheSettings()
    {
        QFETCH(Settings, current);
        QFETCH(QStringList, reelNames);
        QFETCH(QStringList, editTypes);
        QFETCH(QStringList, keyCaptions);
        QFETCH(bool, gpo8);
        if (!current.isEmpty())
            presetCurrent(current);
        QVERIFY(!SettingsFile);

        Tedlf &w = open();
        QVERIFY(SettingsFile); // opened while the window loaded
        QVERIFY(QFile::exists(settingsPath()));
        QCOMPARE(w.objectName(), QStringLiteral("edlf"));
        QCOMPARE(w.windowTitle(), QStringLiteral("edlf"));
        QCOMPARE(w.tcpoz->text(), QStringLiteral("00:00:00:00"));
        QCOMPARE(w.captureList().count(), 0);

        QCOMPARE(w.cameragrid->rowCount(), 17);
        QCOMPARE(w.cameragrid->columnCount(), 3);
        QCOMPARE(w.cameragrid->item(0, 0)->text(), QStringLiteral("Camera"));
        QCOMPARE(w.cameragrid->item(0, 1)->text(), QStringLiteral("Name"));
        QCOMPARE(w.cameragrid->item(0, 2)->text(), QStringLiteral("Edit Type"));
        for (int c = 1; c <= 16; ++c) {
            QCOMPARE(w.cameragrid->item(c, 0)->text(), QString::number(c));
            QCOMPARE(w.cameragrid->item(c, 1)->text(), reelNames[c - 1]);
            QCOMPARE(w.cameragrid->item(c, 2)->text(), editTypes[c - 1]);
            QVERIFY(!(w.cameragrid->item(c, 0)->flags() & Qt::ItemIsEditable));
            QVERIFY(w.cameragrid->item(c, 1)->flags() & Qt::ItemIsEditable);
        }
        for (int k = 0; k < 8; ++k) {
            auto *button = w.findChild<QPushButton *>(QStringLiteral("F%1").arg(k + 2));
            QVERIFY(button);
            QCOMPARE(button->text(), keyCaptions[k]);
        }
        QCOMPARE(w.GPO8->isChecked(), gpo8);
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(shown().size(), 0);
    }

    void showStartsTheDevicesAndFocusesComment()
    {
        Tedlf &w = openShown();
        QCOMPARE(m_devices.calls, QStringList{"StartDevices"});
        QCOMPARE(QApplication::focusWidget(), w.Kcomment);
        // Hiding the title bar re-creates and shows the window again: the devices stay as they are.
        w.setAutoHideTitleBar(true);
        w.HideTitleBar();
        QVERIFY(w.TitleBarHidden());
        w.ShowTitleBar();
        QVERIFY(w.isVisible());
        QCOMPARE(m_devices.calls, QStringList{"StartDevices"});
    }

    void aStartUpThatMustEndReadsNoSettings()
    {
        // Without the default settings file the program ends after saying so; the window reads
        // nothing on its way, or every value would be reported missing one by one.
        QVERIFY(QFile::remove(programFile(QStringLiteral("corvane.def"))));
        Tedlf &w = open();
        QVERIFY(SettingsTerminateRequested());
        QVERIFY(!shown().isEmpty());
        for (const DialogScript::Shown &s : shown())
            QVERIFY2(!s.text.startsWith(QLatin1String("Default user value missing")), qPrintable(s.text));
        QCOMPARE(w.cameragrid->item(0, 1)->text(), QStringLiteral("Name"));
        QCOMPARE(w.cameragrid->item(16, 0)->text(), QStringLiteral("16"));
    }

    void timecodesShowWhole()
    {
        // Whatever font stands in for the designed ones, the running timecode and the list's
        // item numbers and timecodes are not cut short.
        Tedlf &w = openShown();
        w.setTimecode(QStringLiteral("23:59:59:24"));
        QVERIFY(w.tcpoz->fontMetrics().horizontalAdvance(w.tcpoz->text()) <= w.tcpoz->contentsRect().width());
        addEvents(w, {{"23:58:58:24", "0001"}});
        // The view elides a text wider than its cell less the focus-frame margins.
        const int margins = 2 * (w.List1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w.List1) + 1);
        for (int column : {int(CaptureList::ItemColumn), int(CaptureList::ReaderColumn), int(CaptureList::GeneratorColumn)}) {
            const QModelIndex cell = w.captureList().index(0, column);
            const int needed = w.List1->fontMetrics().horizontalAdvance(cell.data().toString()) + margins;
            QVERIFY2(w.List1->visualRect(cell).width() >= needed, qPrintable(QString::number(column)));
        }
    }

    void commandButtons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("x");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("File Name") << "Kfilname" << "File Name" << 4 << true;
        QTest::newRow("Delete") << "kdelete" << "Delete" << 80 << true;
        QTest::newRow("Comment") << "Kcomment" << "Comment" << 156 << true;
        QTest::newRow("Delete All") << "kdeleteall" << "Delete All" << 232 << true;
        QTest::newRow("Make") << "button5" << "Make" << 308 << true;
        QTest::newRow("button6") << "button6" << "button6" << 384 << false;
        QTest::newRow("Make&Save") << "makesave" << "Make&&Save" << 460 << true;
        QTest::newRow("Exit") << "kexit" << "Exit" << 536 << true;
    }

    void commandButtons()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(int, x);
        QFETCH(bool, enabled);
        Tedlf &w = open();
        auto *button = w.Panel1->findChild<QPushButton *>(name);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->geometry(), QRect(x, 4, 70, 25));
        QCOMPARE(button->isEnabled(), enabled);
    }

    void menus_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::newRow("Save GPO") << "GPO1" << "SaveGPO1" << "Save GPO" << QKeySequence(Qt::CTRL | Qt::Key_S);
        QTest::newRow("Load GPO") << "GPO1" << "LoadGPO1" << "Load GPO" << QKeySequence(Qt::CTRL | Qt::Key_L);
        QTest::newRow("Make Edl") << "GPO1" << "MakeEdl1" << "Make Edl" << QKeySequence(Qt::CTRL | Qt::Key_M);
        QTest::newRow("Save EDL") << "GPO1" << "SaveEDL1" << "Save EDL" << QKeySequence(Qt::CTRL | Qt::Key_E);
        QTest::newRow("Export Timeline") << "GPO1" << "ExportTimeline1" << QString::fromUtf8("Export Timeline\u2026")
                                         << QKeySequence();
        QTest::newRow("Corvane layout") << "EDLFormat1" << "CorvaneLayout1" << "Corvane layout" << QKeySequence();
        QTest::newRow("CMX 3600") << "EDLFormat1" << "CMX36001" << "CMX 3600" << QKeySequence();
        QTest::newRow("One EDL per camera") << "EDLFormat1" << "OneEDLPerCamera1" << "One EDL per camera" << QKeySequence();
        QTest::newRow("Clear GPO") << "GPO1" << "cleargpo" << "Clear GPO" << QKeySequence(Qt::CTRL | Qt::Key_G);
        QTest::newRow("Save/Load Desktop") << "GPO1" << "desktop1" << "Save/Load Desktop" << QKeySequence();
        QTest::newRow("Exit") << "GPO1" << "Exit1" << "Exit" << QKeySequence();
        QTest::newRow("Undo") << "Edit1" << "Undo1" << "Undo" << QKeySequence(Qt::CTRL | Qt::Key_Z);
        QTest::newRow("File Name") << "Interface1" << "filename1" << "File Name" << QKeySequence();
        QTest::newRow("USB") << "Interface1" << "USB1" << "USB" << QKeySequence();
        QTest::newRow("GPO8") << "Interface1" << "GPO8" << "GPO8 = Make+Save" << QKeySequence();
        QTest::newRow("English") << "CorvaneManual1" << "English1" << "English" << QKeySequence();
        QTest::newRow("French") << "CorvaneManual1" << "French1" << "French" << QKeySequence();
        QTest::newRow("Orvex-USB Manual") << "Help1" << "Manual1" << "Orvex-USB Manual" << QKeySequence();
        QTest::newRow("Orvex Name Driver") << "Help1" << "OrvexNameDriver1" << "Orvex Name Driver" << QKeySequence();
        QTest::newRow("Online Support") << "Help1" << "OnlineSupport1" << "Online Support" << QKeySequence();
        QTest::newRow("loadtest") << "Help1" << "loadtest1" << "loadtest" << QKeySequence();
        QTest::newRow("About Corvane") << "Help1" << "About1" << "About Corvane" << QKeySequence();
        for (int k = 2; k <= 9; ++k)
            QTest::addRow("F%d", k) << "FunctionMacro1" << QStringLiteral("F%11").arg(k) << QStringLiteral("F%1").arg(k)
                                    << QKeySequence(QStringLiteral("F%1").arg(k));
    }

    void menus()
    {
        QFETCH(QString, menu);
        QFETCH(QString, item);
        QFETCH(QString, caption);
        QFETCH(QKeySequence, shortcut);
        Tedlf &w = open();
        auto *m = w.findChild<QMenu *>(menu);
        QVERIFY(m);
        QAction *action = nullptr;
        for (QAction *a : m->actions())
            if (a->objectName() == item)
                action = a;
        QVERIFY2(action, qPrintable(item));
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->shortcut(), shortcut);
    }

    void menuBarShowsItsMenus()
    {
        Tedlf &w = open();
        QStringList visible;
        for (QAction *a : w.MainMenu1->actions())
            if (a->isVisible())
                visible << a->text();
        QCOMPARE(visible, QStringList({"File", "Edit", "EDL Format", "Setup", "Help"}));
        QStringList formats;
        for (QAction *a : w.EDLFormat1->actions())
            formats << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(formats, QStringList({"Corvane layout", "CMX 3600", "-", "One EDL per camera"}));
        QVERIFY(!w.FunctionMacro1->menuAction()->isVisible());
    }

    void shortcutsWorkWhileTheWindowIsActive()
    {
        Tedlf &w = openShown();
        addEvents(w, {{"10:00:00:00", "0001"}});
        // Ctrl+M makes the EDL: its file-name prompt comes up.
        m_dialogs->then(DialogScript::cancelEntry());
        QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier);
        QTRY_COMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].text, QStringLiteral("Enter File Name Details"));
        QCOMPARE(memoLines(w).size(), 3);

        // The invisible menu's keys are live (what they do: tst_function_keys).
        activate(w);
        QSignalSpy f5(w.F51, &QAction::triggered);
        QTest::keyClick(&w, Qt::Key_F5);
        QCOMPARE(f5.count(), 1);
    }

    void anchorsKeepTheArrangementOnResize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("designed");
        QTest::addColumn<QRect>("resized"); // after growing the client area by 100 x 60
        QTest::newRow("List1") << "List1" << QRect(0, 40, 486, 394) << QRect(0, 40, 486, 454);
        QTest::newRow("cameragrid") << "cameragrid" << QRect(500, 0, 362, 434) << QRect(500, 0, 362, 494);
        QTest::newRow("Panel1") << "Panel1" << QRect(0, 434, 862, 33) << QRect(0, 494, 962, 33);
        QTest::newRow("Memo1") << "Memo1" << QRect(0, 463, 869, 193) << QRect(0, 523, 969, 193);
        QTest::newRow("Panel2") << "Panel2" << QRect(0, 651, 861, 70) << QRect(0, 711, 961, 70);
        QTest::newRow("timecode panel") << "tcpoz" << QRect(0, 0, 504, 33) << QRect(0, 0, 604, 33);
    }

    void anchorsKeepTheArrangementOnResize()
    {
        QFETCH(QString, name);
        QFETCH(QRect, designed);
        QFETCH(QRect, resized);
        Tedlf &w = openShown();
        QWidget *widget = w.findChild<QWidget *>(name);
        QVERIFY(widget);
        if (name == QLatin1String("tcpoz")) {
            QCOMPARE(widget->geometry(), QRect(120, 4, 128, 25));
            widget = widget->parentWidget();
        }
        QCOMPARE(w.centralWidget()->size(), QSize(Tedlf::DesignClientWidth, Tedlf::DesignClientHeight));
        QCOMPARE(widget->geometry(), designed);
        w.resize(w.width() + 100, w.height() + 60);
        QTRY_COMPARE(widget->geometry(), resized);
    }

    // --- Capture list --------------------------------------------------------------------------

    void gpo8Option_data()
    {
        QTest::addColumn<bool>("option");
        QTest::addColumn<QString>("camera");
        QTest::addColumn<bool>("trigger");
        QTest::newRow("option off: camera 8 is a row") << false << "0080" << false;
        QTest::newRow("option on: camera 8 alone") << true << "0080" << true;
        QTest::newRow("option on: camera 8 with others") << true << "0181" << true;
        QTest::newRow("option on: other cameras") << true << "0101" << false;
    }

    void gpo8Option()
    {
        QFETCH(bool, option);
        QFETCH(QString, camera);
        QFETCH(bool, trigger);
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"GPO8", option ? "1" : "0"}, {"edlpath", folder}});
        Tedlf &w = open();
        addShortShow(w);

        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), camera);
        // A trigger runs once control is back in the event loop, never inside the device's drain.
        QCOMPARE(w.gpo8TriggerWaiting(), trigger);
        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        const QString file = QDir(folder).filePath(QStringLiteral("show_81123-1430_05.edl"));
        if (!trigger) {
            QCOMPARE(w.captureList().count(), 5);
            QCOMPARE(w.captureList().rowTexts(4), Row({"0005", camera, "10:00:20:00", "10:00:20:00", ""}));
            QVERIFY(!QFile::exists(file));
            return;
        }
        // Made and saved without a dialog, then cleared; the trigger itself is no row anywhere.
        QCOMPARE(shown().size(), 0);
        QCOMPARE(w.captureList().count(), 0);
        QCOMPARE(TestFiles::read(file), crlf(shortShowEdl(QStringLiteral("show"))));
        QCOMPARE(memoLines(w), shortShowEdl(QStringLiteral("show")));
        QCOMPARE(w.windowTitle(), QStringLiteral("show_81123-1430_05"));
        QCOMPARE(stored(QStringLiteral("edlpath")), QDir::toNativeSeparators(folder) + QDir::separator());
        QCOMPARE(m_errors, QStringList());
    }

    void gpo8TriggerOnAnEmptyListDoesNothing()
    {
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"GPO8", "1"}, {"edlpath", folder}});
        Tedlf &w = open();
        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QCOMPARE(w.captureList().count(), 0);
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
        QVERIFY(w.Memo1->toPlainText().isEmpty());
        QCOMPARE(w.windowTitle(), QStringLiteral("edlf"));
    }

    void gpo8TriggerClearsOnlyAfterTheFileIsWritten_data()
    {
        QTest::addColumn<QString>("answer"); // to the replace question; "fail": the write fails
        QTest::addColumn<bool>("cleared");
        QTest::newRow("replacement declined") << "cancel" << false;
        QTest::newRow("replacement accepted") << "ok" << true;
        QTest::newRow("write fails") << "fail" << false;
    }

    void gpo8TriggerClearsOnlyAfterTheFileIsWritten()
    {
        QFETCH(QString, answer);
        QFETCH(bool, cleared);
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("show_81123-1430_05.edl"));
        if (answer == QLatin1String("fail"))
            QVERIFY(QDir().mkpath(file)); // a folder where the file should go: the write fails
        else
            QVERIFY(TestFiles::write(file, "old\r\n"));
        presetCurrent({{"GPO8", "1"}, {"edlpath", folder}});
        Tedlf &w = open();
        addShortShow(w);
        const Rows before = rowsOf(w.captureList());

        m_dialogs->then(answer == QLatin1String("cancel") ? DialogScript::cancel() : DialogScript::ok());
        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        // A failed write is told to the operator.
        QCOMPARE(m_errors.size(), answer == QLatin1String("fail") ? 1 : 0);
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].kind, QStringLiteral("query"));
        QCOMPARE(shown()[0].text, QStringLiteral("show_81123-1430_05.edl Exists Replace ?"));
        QCOMPARE(shown()[0].caption, QStringLiteral("Replace"));

        if (cleared) {
            QCOMPARE(w.captureList().count(), 0);
            QCOMPARE(TestFiles::read(file), crlf(shortShowEdl(QStringLiteral("show"))));
        } else {
            // The rows as they were.
            QCOMPARE(rowsOf(w.captureList()), before);
            if (answer == QLatin1String("cancel"))
                QCOMPARE(TestFiles::read(file), QByteArray("old\r\n"));
        }
    }

    void eventsDuringTheReplaceQuestionAreKept()
    {
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("show_81123-1430_05.edl"));
        QVERIFY(TestFiles::write(file, "old\r\n"));
        presetCurrent({{"GPO8", "1"}, {"edlpath", folder}});
        Tedlf &w = open();
        addShortShow(w);

        // While the question is open the device goes on: a row (a trigger meanwhile waits until
        // this make-and-save has ended: tst_capture_safety).
        m_dialogs->then(DialogScript::during(
            [&w] { w.AddGpoEvent(QStringLiteral("10:00:30:00"), QStringLiteral("10:00:30:00"), QStringLiteral("0004")); },
            DialogScript::ok()));
        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QTRY_VERIFY(!w.gpo8TriggerWaiting());

        QCOMPARE(shown().size(), 1);
        QCOMPARE(TestFiles::read(file), crlf(shortShowEdl(QStringLiteral("show"))));
        QCOMPARE(rowsOf(w.captureList()), Rows({eventRow("0005", "0004", "10:00:30:00")}));
    }

    void aBurstOfEventsReachesTheViewAsOneInsertion()
    {
        Tedlf &w = openShown();
        QSignalSpy inserted(&w.captureList(), &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 50; ++i)
            w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        QCOMPARE(w.captureList().count(), 50);
        QTRY_COMPARE(w.List1->model()->rowCount(), 50);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(w.captureList().text(49, CaptureList::ItemColumn), QStringLiteral("0050"));
    }

    void aChangeWhileRowsArriveIsCompleteAtOnce()
    {
        // What the list's observer (the capture journal) is told, with the groups it closes.
        struct Recorder : CaptureListObserver {
            QStringList seen;
            void rowAppended(const CaptureList &, int row) override { seen << QStringLiteral("A%1").arg(row); }
            void commentSet(const CaptureList &, int row) override { seen << QStringLiteral("C%1").arg(row); }
            void rowsDeleted(const QList<int> &) override { seen << QStringLiteral("D"); }
            void cleared() override { seen << QStringLiteral("X"); }
            void sorted(int) override { seen << QStringLiteral("S"); }
            void changesDone() override { seen << QStringLiteral("|"); }
        } recorder;
        Tedlf &w = openShown();
        w.captureList().setObserver(&recorder);
        w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        w.AddGpoEvent(QStringLiteral("10:00:01:00"), QStringLiteral("10:00:01:00"), QStringLiteral("0002"));
        w.SetLastComment(QStringLiteral("Keep"));
        // The comment is shown at once, so its group is closed at once, after the rows before it.
        QCOMPARE(recorder.seen, QStringList({"A0", "A1", "|", "C1", "|"}));
        QCOMPARE(w.List1->model()->rowCount(), 2);
        w.captureList().setObserver(nullptr);
    }

    void addGpoEventRefusesAStateThatIsNotHexadecimal()
    {
        Tedlf &w = open();
        addEvents(w, {{"10:00:00:00", "0001"}});
        try {
            w.AddGpoEvent(QStringLiteral("10:00:01:00"), QStringLiteral("10:00:01:00"), QStringLiteral("00G1"));
            QFAIL("no error");
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), QStringLiteral("'$00G1' is not a valid integer value"));
        }
        QCOMPARE(w.captureList().count(), 1);
    }

    void deleteRemovesExactlyTheSelectedRows_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("itemsLeft");
        QTest::newRow("nothing selected") << QList<int>() << QStringList({"0001", "0002", "0003", "0004", "0005", "0006", "0007"});
        QTest::newRow("rows 3 to 5") << QList<int>{3, 4, 5} << QStringList({"0001", "0002", "0003", "0007"});
        QTest::newRow("rows 1 and 4") << QList<int>{1, 4} << QStringList({"0001", "0003", "0004", "0006", "0007"});
        QTest::newRow("first and last") << QList<int>{0, 6} << QStringList({"0002", "0003", "0004", "0005", "0006"});
    }

    void deleteRemovesExactlyTheSelectedRows()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, itemsLeft);
        Tedlf &w = openShown();
        for (int i = 0; i < 7; ++i)
            w.AddGpoEvent(QStringLiteral("10:00:0%1:00").arg(i), QStringLiteral("10:00:0%1:00").arg(i), QStringLiteral("0001"));
        w.captureList().announcePendingRows();
        select(w, selected);
        QTest::mouseClick(w.kdelete, Qt::LeftButton);
        QCOMPARE(column(w.captureList(), CaptureList::ItemColumn), itemsLeft);
        QCOMPARE(shown().size(), 0);
        QCOMPARE(m_errors, QStringList());
    }

    void clearingTheList_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("rowsLeft");
        QTest::newRow("Delete All never asks") << "kdeleteall" << 3 << "" << false << 0;
        QTest::newRow("Clear GPO, OK") << "cleargpo" << 3 << "ok" << true << 0;
        QTest::newRow("Clear GPO, Cancel") << "cleargpo" << 3 << "cancel" << true << 3;
        QTest::newRow("Clear GPO on an empty list") << "cleargpo" << 0 << "" << false << 0;
    }

    void clearingTheList()
    {
        QFETCH(QString, how);
        QFETCH(int, rows);
        QFETCH(QString, answer);
        QFETCH(bool, asked);
        QFETCH(int, rowsLeft);
        Tedlf &w = openShown();
        for (int i = 0; i < rows; ++i)
            w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        if (answer == QLatin1String("ok"))
            m_dialogs->then(DialogScript::ok());
        else if (answer == QLatin1String("cancel"))
            m_dialogs->then(DialogScript::cancel());
        if (how == QLatin1String("kdeleteall"))
            QTest::mouseClick(w.kdeleteall, Qt::LeftButton);
        else
            QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(w.captureList().count(), rowsLeft);
        QCOMPARE(shown().size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(shown()[0].text, QStringLiteral("Erase GPO Capture List?"));
            QCOMPARE(shown()[0].caption, QStringLiteral("Clear List"));
        }
    }

    void commentChangesTheFirstSelectedRow_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("answer"); // empty: the entry is cancelled
        QTest::addColumn<QString>("offered"); // the entry's default
        QTest::addColumn<QStringList>("comments");
        QTest::newRow("button, one row") << QList<int>{1} << "Wide, slow" << "" << QStringList({"", "Wide, slow", "old"});
        QTest::newRow("button, two rows") << QList<int>{2, 1} << "Keep" << "" << QStringList({"", "Keep", "old"});
        QTest::newRow("button, cancelled") << QList<int>{2} << "" << "old" << QStringList({"", "", "old"});
        QTest::newRow("button, replaced") << QList<int>{2} << "new" << "old" << QStringList({"", "", "new"});
        QTest::newRow("button, nothing selected") << QList<int>() << "x" << "" << QStringList({"", "", "old"});
        QTest::newRow("too long") << QList<int>{0} << QString(300, QLatin1Char('c')) << ""
                                  << QStringList({QString(255, QLatin1Char('c')), "", "old"});
    }

    void commentChangesTheFirstSelectedRow()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QString, answer);
        QFETCH(QString, offered);
        QFETCH(QStringList, comments);
        Tedlf &w = openShown();
        addEvents(w, {{"10:00:00:00", "0001"}, {"10:00:01:00", "0006"}, {"10:00:02:00", "8004"}});
        w.SetLastComment(QStringLiteral("old"));
        select(w, selected);
        m_dialogs->then(answer.isEmpty() ? DialogScript::cancelEntry() : DialogScript::enter(answer));
        // The dialog names the row it is for.
        const QStringList rowsTold = {QStringLiteral("Item 0001 at 10:00:00:00, camera 1"),
                                      QStringLiteral("Item 0002 at 10:00:01:00, cameras 2, 3"),
                                      QStringLiteral("Item 0003 at 10:00:02:00, cameras 3, 16")};

        QTest::mouseClick(w.Kcomment, Qt::LeftButton);

        QCOMPARE(column(w.captureList(), CaptureList::CommentColumn), comments);
        if (selected.isEmpty()) {
            QCOMPARE(shown().size(), 0);
        } else {
            QCOMPARE(shown().size(), 1);
            QCOMPARE(shown()[0].caption, QStringLiteral("Title Details"));
            QCOMPARE(shown()[0].text, QStringLiteral("Update Comment\n") + rowsTold[sorted(selected).first()]);
            QCOMPARE(shown()[0].value, offered);
            QCOMPARE(w.selectedRows(), sorted(selected));
        }
    }

    // A click with another button than the left one selects the row under the pointer, alone,
    // and comments it; on empty space the selection stays and decides, and with nothing selected
    // nothing happens.
    void rightClickCommentsTheRowUnderThePointer_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("clicked"); // -1: the empty space below the rows
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("commented"); // -1: no dialog
        QTest::newRow("another row selected") << QList<int>{4} << 7 << Qt::RightButton << 7;
        QTest::newRow("nothing selected") << QList<int>() << 2 << Qt::RightButton << 2;
        QTest::newRow("the selected row") << QList<int>{5} << 5 << Qt::RightButton << 5;
        QTest::newRow("inside a selection of several") << QList<int>{1, 2, 3} << 3 << Qt::RightButton << 3;
        QTest::newRow("middle button") << QList<int>{0} << 6 << Qt::MiddleButton << 6;
        QTest::newRow("empty space, a row selected") << QList<int>{4} << -1 << Qt::RightButton << 4;
        QTest::newRow("empty space, nothing selected") << QList<int>() << -1 << Qt::RightButton << -1;
    }

    void rightClickCommentsTheRowUnderThePointer()
    {
        QFETCH(QList<int>, selected);
        QFETCH(int, clicked);
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, commented);
        Tedlf &w = openShown();
        QStringList before;
        for (int i = 0; i < 8; ++i) {
            const QString tc = QStringLiteral("10:00:0%1:00").arg(i);
            w.AddGpoEvent(tc, tc, QStringLiteral("0001"));
            before << QStringLiteral("c%1").arg(i);
        }
        w.captureList().announcePendingRows();
        for (int i = 0; i < 8; ++i)
            w.captureList().setComment(i, before[i]);
        select(w, selected);
        m_dialogs->then(DialogScript::enter(QStringLiteral("Wide")));

        const QRect rows = w.List1->visualRect(w.captureList().index(7, CaptureList::CameraColumn));
        QVERIFY(rows.bottom() + 20 < w.List1->viewport()->height()); // there is empty space below
        const QPoint at = clicked >= 0 ? w.List1->visualRect(w.captureList().index(clicked, CaptureList::CameraColumn)).center()
                                       : QPoint(rows.center().x(), rows.bottom() + 10);
        QTest::mouseClick(w.List1->viewport(), button, {}, at);

        QStringList expected = before;
        if (commented >= 0)
            expected[commented] = QStringLiteral("Wide");
        QCOMPARE(column(w.captureList(), CaptureList::CommentColumn), expected);
        if (commented < 0) {
            QCOMPARE(shown().size(), 0);
            QCOMPARE(w.selectedRows(), QList<int>());
        } else {
            QCOMPARE(shown().size(), 1);
            QCOMPARE(shown()[0].text, QStringLiteral("Update Comment\nItem 000%1 at 10:00:0%2:00, camera 1").arg(commented + 1).arg(commented));
            QCOMPARE(shown()[0].value, before[commented]); // the comment of the row it is for
            QCOMPARE(w.selectedRows(), clicked >= 0 ? QList<int>{clicked} : sorted(selected));
        }
    }

    // Rows arriving while the view is at its end scroll it: the newest row is always in view.
    // Scrolled up by the operator, the view stays where it is; back at the end, it follows again.
    void theListFollowsNewRowsWhileAtItsEnd()
    {
        Tedlf &w = openShown();
        CaptureList &list = w.captureList();
        auto inView = [&w](int row) {
            return w.List1->viewport()->rect().contains(w.List1->visualRect(w.captureList().index(row, 0)));
        };
        auto arrive = [&w, &list](int n) {
            const QString tc = QStringLiteral("10:%1:00:00").arg(n % 60, 2, 10, QLatin1Char('0'));
            w.AddGpoEvent(tc, tc, QStringLiteral("0001"));
            // Shown by the window's own announcement, as on a show.
            QTRY_COMPARE(list.rowCount(), list.count());
        };
        for (int n = 0; n < 100; ++n) {
            arrive(n);
            QVERIFY2(inView(n), qPrintable(QStringLiteral("row %1 not in view").arg(n)));
        }
        QVERIFY(!inView(0));
        QVERIFY(w.listFollower()->following());

        // The operator drags the scroll bar to the top: the view stays there while rows come.
        w.List1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
        QVERIFY(inView(0));
        QVERIFY(!w.listFollower()->following());
        const int top = w.List1->verticalScrollBar()->value();
        for (int n = 100; n < 110; ++n) {
            arrive(n);
            QCOMPARE(w.List1->verticalScrollBar()->value(), top);
            QVERIFY(inView(0));
            QVERIFY(!inView(n));
        }
        // Back at the end: following again.
        w.List1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        QVERIFY(inView(109));
        for (int n = 110; n < 115; ++n) {
            arrive(n);
            QVERIFY(inView(n));
        }
        // A smaller window shows fewer rows, still down to the newest.
        const int rowsShown = w.List1->viewport()->height();
        w.resize(w.width(), w.height() - 100);
        QTRY_VERIFY(w.List1->viewport()->height() < rowsShown);
        QTRY_VERIFY(inView(114));
    }

    // While the operator works in the list (the pointer over it, a row chosen there) rows keep
    // coming but the view stays put and a "Follow" control shows; leaving the list, the End key
    // or the control bring the newest rows back into view.
    void followingPausesWhileTheOperatorWorksInTheList_data()
    {
        QTest::addColumn<QString>("hold");   // "pointer" or "chosen row"
        QTest::addColumn<QString>("resume"); // "leave", "End", "control" or "rest" (pointer only)
        for (const char *hold : {"pointer", "chosen row"}) {
            for (const char *resume : {"leave", "End", "control"})
                QTest::addRow("%s, %s", hold, resume) << hold << resume;
        }
        // A mouse put down over the list while the operator watches the show.
        QTest::addRow("pointer, resting") << "pointer" << "rest";
    }

    void followingPausesWhileTheOperatorWorksInTheList()
    {
        QFETCH(QString, hold);
        QFETCH(QString, resume);
        const bool rest = resume == QLatin1String("rest");
        // Long enough for the rows below to arrive while the pointer holds the list.
        CaptureListFollower::setPointerRestMs(60000);
        const auto restored = qScopeGuard([] { CaptureListFollower::setPointerRestMs(CaptureListFollower::PointerRestMs); });
        Tedlf &w = openShown();
        activate(w);
        CaptureList &list = w.captureList();
        QScrollBar *bar = w.List1->verticalScrollBar();
        auto arrive = [&w, &list](int from, int to) {
            for (int n = from; n < to; ++n) {
                const QString tc = QStringLiteral("10:%1:00:00").arg(n % 60, 2, 10, QLatin1Char('0'));
                w.AddGpoEvent(tc, tc, QStringLiteral("0001"));
            }
            QTRY_COMPARE(list.rowCount(), list.count());
        };
        auto inView = [&w](int row) {
            return w.List1->viewport()->rect().contains(w.List1->visualRect(w.captureList().index(row, 0)));
        };
        arrive(0, 60);
        QVERIFY(inView(59));
        QVERIFY(w.listFollower()->followControl()->isHidden());

        const int chosen = 57;
        if (hold == QLatin1String("pointer")) {
            QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
            QApplication::sendEvent(w.List1, &enter);
        } else {
            QTest::mouseClick(w.List1->viewport(), Qt::LeftButton, {},
                              w.List1->visualRect(list.index(chosen, CaptureList::CameraColumn)).center());
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(w.List1, &leave); // the row chosen holds the view by itself
            QVERIFY(w.List1->hasFocus());
        }
        QVERIFY(w.listFollower()->paused());
        const int top = bar->value();
        const QModelIndex topRow = w.List1->indexAt(QPoint(5, 5));
        arrive(60, 80);
        QCOMPARE(bar->value(), top);
        QCOMPARE(w.List1->indexAt(QPoint(5, 5)), topRow);
        QVERIFY(!inView(79));
        QVERIFY(w.listFollower()->followControl()->isVisible());
        QVERIFY(w.List1->viewport()->geometry().contains(w.listFollower()->followControl()->geometry()));
        // The keys comment the chosen row while the operator is at it, else the newest one.
        QCOMPARE(w.listFollower()->markedRow(), hold == QLatin1String("pointer") ? 79 : chosen);

        if (rest) {
            // A last move of the pointer, then no more: the rest ends the hold by itself.
            CaptureListFollower::setPointerRestMs(50);
            QTest::mouseMove(w.List1->viewport(), QPoint(20, 20));
            QVERIFY(w.listFollower()->paused());
            QTRY_VERIFY(!w.listFollower()->paused());
        } else if (resume == QLatin1String("leave")) {
            if (hold == QLatin1String("pointer")) {
                QEvent leave(QEvent::Leave);
                QApplication::sendEvent(w.List1, &leave);
            } else {
                w.Kcomment->setFocus();
            }
        } else if (resume == QLatin1String("End")) {
            w.List1->setFocus();
            QTest::keyClick(w.List1, Qt::Key_End);
        } else {
            QTest::mouseClick(w.listFollower()->followControl(), Qt::LeftButton);
        }
        QVERIFY(!w.listFollower()->paused());
        QVERIFY(inView(79));
        QVERIFY(w.listFollower()->followControl()->isHidden());
        QCOMPARE(w.listFollower()->markedRow(), 79);
        if (resume != QLatin1String("leave"))
            QCOMPARE(w.selectedRows(), QList<int>());
        arrive(80, 90);
        QVERIFY(inView(89));
    }

    // A comment dialog holds the view still and keeps to its row, by identity: rows arriving
    // below and a row deleted above while the operator types do not move the comment elsewhere.
    void theCommentDialogKeepsToItsRow()
    {
        Tedlf &w = openShown();
        CaptureList &list = w.captureList();
        for (int n = 0; n < 60; ++n) {
            const QString tc = QStringLiteral("10:%1:00:00").arg(n, 2, 10, QLatin1Char('0'));
            w.AddGpoEvent(tc, tc, QStringLiteral("0001"));
        }
        list.announcePendingRows();
        const int chosen = 55;
        const QString item = list.text(chosen, CaptureList::ItemColumn);
        int viewDuring = -1;
        bool controlDuring = false;
        m_dialogs->then(DialogScript::during(
            [&] {
                const int top = w.List1->verticalScrollBar()->value();
                for (int n = 0; n < 20; ++n)
                    w.AddGpoEvent(QStringLiteral("11:00:00:00"), QStringLiteral("11:00:00:00"), QStringLiteral("0002"));
                list.announcePendingRows();
                list.deleteRows({0});
                viewDuring = w.List1->verticalScrollBar()->value() - top;
                controlDuring = w.listFollower()->followControl()->isVisible();
            },
            DialogScript::enter(QStringLiteral("Wide"))));
        QTest::mouseClick(w.List1->viewport(), Qt::RightButton, {},
                          w.List1->visualRect(list.index(chosen, CaptureList::CameraColumn)).center());
        QCOMPARE(shown().size(), 1);
        QVERIFY(shown()[0].text.endsWith(QStringLiteral("Item ") + item + QStringLiteral(" at 10:55:00:00, camera 1")));
        QVERIFY(viewDuring <= 0); // the deleted row above may move it up by one row, never down
        QVERIFY(controlDuring);
        QStringList commented;
        for (int row = 0; row < list.count(); ++row) {
            if (!list.text(row, CaptureList::CommentColumn).isEmpty())
                commented << list.text(row, CaptureList::ItemColumn) + QLatin1Char('=') + list.text(row, CaptureList::CommentColumn);
        }
        QCOMPARE(commented, QStringList{item + QStringLiteral("=Wide")});
    }

    // The row F2 to F9 comment (the last one) is marked: an amber frame and background, not the
    // selection's colour; the mark moves to each new row.
    void theFunctionKeyRowIsMarked()
    {
        Tedlf &w = openShown();
        addEvents(w, {{"10:00:00:00", "0001"}, {"10:00:01:00", "0002"}, {"10:00:02:00", "0003"}});
        QCOMPARE(w.listFollower()->markedRow(), 2);
        // Pixels of a row: on the frame line at its top, and inside its empty comment cell.
        auto pixels = [&w](int row) {
            const QImage image = w.List1->viewport()->grab().toImage();
            const QRect cell = w.List1->visualRect(w.captureList().index(row, CaptureList::CommentColumn));
            const int x = std::min(cell.left() + 40, w.List1->viewport()->width() - 5);
            return std::pair{image.pixelColor(x, cell.top()), image.pixelColor(x, cell.center().y())};
        };
        QCOMPARE(pixels(2).first, CaptureListFollower::MarkFrame);
        QCOMPARE(pixels(2).second, CaptureListFollower::MarkBackground);
        for (int row : {0, 1}) {
            QVERIFY(pixels(row).first != CaptureListFollower::MarkFrame);
            QVERIFY(pixels(row).second != CaptureListFollower::MarkBackground);
        }
        // Selected, the row shows the selection and keeps its frame.
        select(w, {2});
        QCOMPARE(pixels(2).first, CaptureListFollower::MarkFrame);
        QVERIFY(pixels(2).second != CaptureListFollower::MarkBackground);

        addEvents(w, {{"10:00:03:00", "0000"}});
        QCOMPARE(w.listFollower()->markedRow(), 3);
        QCOMPARE(pixels(3).first, CaptureListFollower::MarkFrame);
        QVERIFY(pixels(2).first != CaptureListFollower::MarkFrame);
        // F5 writes to the marked row.
        activate(w);
        QTest::keyClick(&w, Qt::Key_F5);
        QCOMPARE(w.captureList().text(3, CaptureList::CommentColumn), WindowSettings::FactoryCaptions[3]);
    }

    void headerClickSortsOnce()
    {
        Tedlf &w = openShown();
        addEvents(w, {{"10:00:03:00", "000B"}, {"10:00:01:00", "0002"}, {"10:00:02:00", "000a"}, {"10:00:00:00", "0001"}});
        QHeaderView *header = w.List1->horizontalHeader();
        const auto clickHeader = [&](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                                     header->height() / 2));
        };
        clickHeader(CaptureList::CameraColumn);
        QCOMPARE(column(w.captureList(), CaptureList::CameraColumn), QStringList({"0001", "0002", "000a", "000B"}));
        clickHeader(CaptureList::ReaderColumn);
        QCOMPARE(column(w.captureList(), CaptureList::ItemColumn), QStringList({"0004", "0002", "0003", "0001"}));
        // Sorting is a one-off: later rows go to the end.
        addEvents(w, {{"09:00:00:00", "0001"}});
        QCOMPARE(w.captureList().text(4, CaptureList::ReaderColumn), QStringLiteral("09:00:00:00"));
        QVERIFY(!w.List1->isSortingEnabled());
    }

    void keyReleaseShowsTheSelectionInTheCaption_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("caption");
        QTest::newRow("two rows") << QList<int>{3, 4} << "M3C2";
        QTest::newRow("scattered") << QList<int>{4, 1} << "M1C2";
        QTest::newRow("nothing") << QList<int>() << "invalid";
    }

    void keyReleaseShowsTheSelectionInTheCaption()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QString, caption);
        Tedlf &w = openShown();
        for (int i = 0; i < 6; ++i)
            w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        w.captureList().announcePendingRows();
        w.List1->setFocus();
        select(w, selected);
        QTest::keyRelease(w.List1, Qt::Key_Shift);
        QCOMPARE(w.windowTitle(), caption);
        QCOMPARE(QApplication::focusWidget() == w.Kcomment, selected.isEmpty());
    }

    // --- EDL -----------------------------------------------------------------------------------

    void makeFillsTheMemo_data()
    {
        QTest::addColumn<QString>("answer"); // empty: the prompt is cancelled
        QTest::addColumn<QString>("title");
        QTest::newRow("new details") << "concert" << "concert";
        QTest::newRow("prompt cancelled") << "" << "show";
    }

    void makeFillsTheMemo()
    {
        QFETCH(QString, answer);
        QFETCH(QString, title);
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(answer.isEmpty() ? DialogScript::cancelEntry() : DialogScript::enter(answer));
        QTest::mouseClick(w.button5, Qt::LeftButton);

        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].caption, QStringLiteral("Title Details"));
        QCOMPARE(shown()[0].text, QStringLiteral("Enter File Name Details"));
        QCOMPARE(shown()[0].value, QStringLiteral("show"));
        QCOMPARE(memoLines(w), shortShowEdl(title));
        QCOMPARE(w.edlLines(), shortShowEdl(title));
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(stored(QStringLiteral("filename")), title);
        QVERIFY(w.Memo1->isReadOnly());
        QVERIFY(w.Memo1->font().fixedPitch());
    }

    void makeOnAnEmptyListDoesNothing()
    {
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();
        const QString before = w.Memo1->toPlainText();
        QTest::mouseClick(w.kdeleteall, Qt::LeftButton);
        QTest::mouseClick(w.button5, Qt::LeftButton);
        QCOMPARE(shown().size(), 1); // the first Make only
        QCOMPARE(w.Memo1->toPlainText(), before);
    }

    void aConversionErrorKeepsTheLinesMadeSoFar()
    {
        Tedlf &w = openShown();
        CaptureList &list = w.captureList();
        fill(list, {eventRow("0001", "0001", "10:00:00:00"), eventRow("0002", "0000", "10:00:01:00"),
                    eventRow("0003", "zz", "10:00:02:00", "bad"), eventRow("0004", "0000", "10:00:03:00")});
        m_dialogs->then(DialogScript::cancelEntry());
        QTest::mouseClick(w.button5, Qt::LeftButton);

        QCOMPARE(m_errors, QStringList{"'$zz' is not a valid integer value"});
        QCOMPARE(memoLines(w), QStringList({titleLine(QStringLiteral("show")), QStringLiteral("FCM: EBU"),
                                            QStringLiteral("0001  CAM1  V         C  10:00:00:00  10:00:01:00  10:00:00:00  10:00:01:00")}));
        QCOMPARE(list.count(), 4);
    }

    void cameraGridEditsAreStoredAndUsed()
    {
        Tedlf &w = openShown();
        addShortShow(w);
        QTableWidget *grid = w.cameragrid;
        grid->setFocus();
        grid->setCurrentCell(1, 1);
        grid->editItem(grid->item(1, 1));
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && grid->isAncestorOf(editor));
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("Host, wide"));
        // The grid shows what is typed at once: an EDL made now uses it.
        QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("Host, wide"));
        QCOMPARE(stored(QStringLiteral("reelname1")), QStringLiteral("<absent>"));

        // Clicking a button takes the focus out of the grid: the values are stored first.
        m_dialogs->then(DialogScript::enter(QStringLiteral("late show")));
        QTest::mouseClick(w.button5, Qt::LeftButton);
        QCOMPARE(stored(QStringLiteral("reelname1")), QStringLiteral("Host, wide"));
        for (int c = 2; c <= 16; ++c) {
            QCOMPARE(stored(QStringLiteral("reelname%1").arg(c)), QStringLiteral("CAM%1").arg(c));
            QCOMPARE(stored(QStringLiteral("edittype%1").arg(c)), QStringLiteral("V"));
        }
        QCOMPARE(memoLines(w), shortShowEdl(QStringLiteral("late show"), QStringLiteral("Host, wide")));
    }

    // Shorter than its rows (as in a small window), the camera table scrolls down to the camera
    // chosen, with a scroll bar, and back up; its columns never scroll sideways, the edit type
    // whole beside the scroll bar.
    void cameraGridScrollsDownNeverSideways()
    {
        Tedlf &w = openShown();
        QTableWidget *grid = w.cameragrid;
        grid->resize(grid->width(), 120);
        QTRY_VERIFY(grid->verticalScrollBar()->isVisible());
        grid->setFocus();
        grid->setCurrentCell(15, 2);
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(grid->currentRow(), 16);
        QVERIFY(grid->verticalScrollBar()->value() > 0);
        QVERIFY(grid->viewport()->rect().contains(grid->visualItemRect(grid->item(16, 2))));
        QCOMPARE(grid->horizontalScrollBar()->value(), 0);
        QCOMPARE(grid->columnAt(0), 0);
        grid->setCurrentCell(1, 2);
        QVERIFY(grid->viewport()->rect().contains(grid->visualItemRect(grid->item(1, 2))));
        grid->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(grid->rowAt(0), 0); // the headings
        QCOMPARE(grid->horizontalScrollBar()->value(), 0);
    }

    // --- Saving the EDL ------------------------------------------------------------------------

    void saveEdlWritesTheMemo()
    {
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"edlpath", folder}});
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();
        m_clock.set(Moment.addSecs(60));
        activate(w);

        // Ctrl+E: the details prompt (new details change the name, not the title already made),
        // then the save dialog, which proposes the name in the "edlpath" folder.
        m_dialogs->then(DialogScript::enter(QStringLiteral("encore")));
        m_dialogs->then(DialogScript::acceptProposed());
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);

        QCOMPARE(shown().size(), 3);
        const DialogScript::Shown dialog = shown()[2];
        QCOMPARE(dialog.kind, QStringLiteral("SaveDlg"));
        QCOMPARE(dialog.value, QStringLiteral("encore_81123-1431_05"));
        QCOMPARE(dialog.folder, QDir(folder).absolutePath());
        const QString file = QDir(folder).filePath(QStringLiteral("encore_81123-1431_05.edl"));
        QCOMPARE(TestFiles::read(file), crlf(shortShowEdl(QStringLiteral("show"))));
        QCOMPARE(w.windowTitle(), QStringLiteral("encore_81123-1431_05"));
        QCOMPARE(stored(QStringLiteral("edlpath")), QDir::toNativeSeparators(folder) + QDir::separator());
        QCOMPARE(w.captureList().count(), 4); // Save EDL leaves the list alone
    }

    void saveEdlChoices_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("replace"); // the answer to the replace question
        QTest::addColumn<bool>("cancelDialog");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("remembered"); // edlpath and caption changed
        const QByteArray edl = crlf({titleLine(QStringLiteral("show")), QStringLiteral("FCM: EBU")});
        QTest::newRow("dialog cancelled") << false << "" << true << QByteArray() << false;
        QTest::newRow("new file") << false << "" << false << edl << true;
        QTest::newRow("replace declined") << true << "cancel" << false << QByteArray("old\r\n") << true;
        QTest::newRow("replace accepted") << true << "ok" << false << edl << true;
    }

    void saveEdlChoices()
    {
        QFETCH(bool, exists);
        QFETCH(QString, replace);
        QFETCH(bool, cancelDialog);
        QFETCH(QByteArray, content);
        QFETCH(bool, remembered);
        const QString folder = programFile(QStringLiteral("chosen"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("take2.edl"));
        if (exists)
            QVERIFY(TestFiles::write(file, "old\r\n"));
        Tedlf &w = openShown();
        // A one-row list whose camera is off: an EDL of the two header lines.
        addEvents(w, {{"10:00:00:00", "0000"}});
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();

        m_dialogs->then(DialogScript::cancelEntry());
        if (cancelDialog) {
            m_dialogs->then(DialogScript::reject());
        } else {
            m_dialogs->then(DialogScript::choose(QDir(folder).filePath(QStringLiteral("take2"))));
            if (!replace.isEmpty())
                m_dialogs->then(replace == QLatin1String("ok") ? DialogScript::ok() : DialogScript::cancel());
        }
        w.SaveClick();

        QCOMPARE(m_dialogs->pending(), 0);
        QCOMPARE(TestFiles::read(file), content);
        QCOMPARE(w.windowTitle(), remembered ? QStringLiteral("take2") : QStringLiteral("show"));
        QCOMPARE(stored(QStringLiteral("edlpath")),
                 remembered ? QDir::toNativeSeparators(folder) + QDir::separator() : QStringLiteral("<absent>"));
        if (!replace.isEmpty()) {
            QCOMPARE(shown().last().text, QStringLiteral("take2.edl Exists Replace ?"));
            QCOMPARE(shown().last().caption, QStringLiteral("Replace"));
        }
    }

    // A title with a dot: the dialog would add no extension to the proposed name, so the window
    // does; the replace question and the caption name the file that is written.
    void savedNamesKeepTheirExtensionWhenTheTitleHasADot_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("exists");
        QTest::newRow("Save EDL, new file") << "edl" << false;
        QTest::newRow("Save EDL, replaced") << "edl" << true;
        QTest::newRow("Save GPO, new file") << "gpo" << false;
        QTest::newRow("Save GPO, replaced") << "gpo" << true;
    }

    void savedNamesKeepTheirExtensionWhenTheTitleHasADot()
    {
        QFETCH(QString, command);
        QFETCH(bool, exists);
        const bool edl = command == QLatin1String("edl");
        const QString folder = programFile(QStringLiteral("show"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"filename", "Final 1.2"}, {"edlpath", folder}, {"gpopath", folder}});
        const QString name = edl ? QStringLiteral("Final 1.2_81123-1430_05") : QStringLiteral("Final 1.2_8B23");
        const QString file = QDir(folder).filePath(name + (edl ? QStringLiteral(".edl") : QStringLiteral(".gpo")));
        if (exists)
            QVERIFY(TestFiles::write(file, "old\r\n"));
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::cancelEntry()); // the title stays "Final 1.2"
        w.MakeEDLClick();
        QCOMPARE(w.windowTitle(), QStringLiteral("Final 1.2"));

        if (edl)
            m_dialogs->then(DialogScript::cancelEntry());
        m_dialogs->then(DialogScript::acceptProposed());
        if (exists)
            m_dialogs->then(DialogScript::ok());
        if (edl)
            w.SaveClick();
        else
            w.savegpoClick();

        QCOMPARE(m_dialogs->pending(), 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QFileInfo(file).fileName()});
        QVERIFY(TestFiles::read(file) != "old\r\n");
        QCOMPARE(w.windowTitle(), name);
        const DialogScript::Shown dialog = shown()[exists ? shown().size() - 2 : shown().size() - 1];
        QCOMPARE(dialog.kind, QStringLiteral("SaveDlg"));
        QCOMPARE(dialog.value, name);
        if (exists) {
            QCOMPARE(shown().last().kind, QStringLiteral("query"));
            QCOMPARE(shown().last().text, QFileInfo(file).fileName() + QStringLiteral(" Exists Replace ?"));
        }
    }

    void saveEdlBeforeAnyEdlWritesAnEmptyFile()
    {
        Tedlf &w = openShown();
        const QString file = programFile(QStringLiteral("empty.edl"));
        m_dialogs->then(DialogScript::cancelEntry());
        m_dialogs->then(DialogScript::choose(file));
        w.SaveEDL1->trigger();
        QVERIFY(QFile::exists(file));
        QCOMPARE(TestFiles::read(file), QByteArray());
    }

    // The memo is a view over the EDL's bytes that selects and copies as a read-only text edit:
    // with the keyboard, the mouse, Ctrl+A and Ctrl+C.
    void memoSelectsAndCopies()
    {
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::cancelEntry());
        QTest::mouseClick(w.button5, Qt::LeftButton);
        const QStringList lines = shortShowEdl(QStringLiteral("show"));
        QCOMPARE(w.Memo1->lineCount(), lines.size());
        QCOMPARE(w.edlText(), crlf(lines));

        activate(w);
        w.Memo1->setFocus();
        QTRY_VERIFY(w.Memo1->hasFocus());
        QTest::keyClick(w.Memo1, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(w.Memo1->selectedText(), lines[0] + QLatin1Char('\n'));
        QTest::keyClick(w.Memo1, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(w.Memo1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), lines[0] + QLatin1Char('\n') + lines[1]);

        // A click puts the caret on the line clicked; Shift and a click further down select to it.
        const QFontMetrics metrics(w.Memo1->viewport()->font());
        const int y = metrics.lineSpacing() / 2;
        QTest::mouseClick(w.Memo1->viewport(), Qt::LeftButton, {}, QPoint(1, y + 2 * metrics.lineSpacing()));
        QVERIFY(!w.Memo1->hasSelection());
        QCOMPARE(w.Memo1->cursorPosition().line, 2);
        QTest::mouseClick(w.Memo1->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(1, y + 3 * metrics.lineSpacing()));
        QCOMPARE(w.Memo1->selectedText(), lines[2] + QLatin1Char('\n'));

        QTest::keyClick(w.Memo1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.Memo1->selectedText(), w.Memo1->toPlainText());
        QCOMPARE(w.Memo1->toPlainText(), lines.join(QLatin1Char('\n')));
        // Ctrl+End goes to the end of the last line, scrolling it into view.
        QTest::keyClick(w.Memo1, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(w.Memo1->cursorPosition().line, lines.size() - 1);
    }

    // Long work shows its progress and lets events other than the operator's in: the window
    // repaints, and a device event arriving while Make&Save makes the EDL is not in the EDL and
    // stays in the list when the rows made into the file go.
    void longMakeAndSaveShowsProgressAndKeepsArrivingRows()
    {
        WorkProgress::setShowAfterMs(0);
        const auto restore = qScopeGuard([] { WorkProgress::setShowAfterMs(WorkProgress::ShowAfterMs); });
        Tedlf &w = openShown();
        constexpr int Made = 60000;
        for (int i = 0; i < Made; ++i)
            w.captureList().appendEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"),
                                        i % 2 ? QStringLiteral("0000") : QStringLiteral("0001"));
        bool barShown = false;
        bool arrived = false;
        QTimer meanwhile;
        meanwhile.setInterval(0);
        connect(&meanwhile, &QTimer::timeout, &w, [&] {
            if (arrived || !WorkProgress::running())
                return;
            auto *bar = w.findChild<QProgressBar *>(QStringLiteral("WorkProgress"));
            barShown = bar && bar->isVisible();
            w.AddGpoEvent(QStringLiteral("11:00:00:00"), QStringLiteral("11:00:00:00"), QStringLiteral("0002"));
            arrived = true;
        });
        meanwhile.start();
        const QString file = programFile(QStringLiteral("long.edl"));
        m_dialogs->then(DialogScript::choose(file));
        QTest::mouseClick(w.makesave, Qt::LeftButton);
        meanwhile.stop();

        QVERIFY(arrived);
        QVERIFY(barShown);
        QVERIFY(!w.findChild<QProgressBar *>(QStringLiteral("WorkProgress")));
        QCOMPARE(rowsOf(w.captureList()), Rows({eventRow(QString::number(Made + 1), "0002", "11:00:00:00")}));
        const QByteArray saved = TestFiles::read(file);
        QCOMPARE(saved, w.edlText());
        QCOMPARE(saved.count("\r\n"), 2 + Made / 2);
        QVERIFY(!saved.contains("11:00:00:00"));
    }

    void makeAndSave_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("saved: list cleared") << true;
        QTest::newRow("dialog cancelled: list kept") << false;
    }

    void makeAndSave()
    {
        QFETCH(bool, save);
        Tedlf &w = openShown();
        addShortShow(w);
        const QString file = programFile(QStringLiteral("made.edl"));
        // No details prompt: straight to the dialog. A device event while it is open is kept.
        m_dialogs->then(DialogScript::during(
            [&w] { w.AddGpoEvent(QStringLiteral("10:00:40:00"), QStringLiteral("10:00:40:00"), QStringLiteral("0002")); },
            save ? DialogScript::choose(file) : DialogScript::reject()));
        QTest::mouseClick(w.makesave, Qt::LeftButton);

        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].kind, QStringLiteral("SaveDlg"));
        QCOMPARE(shown()[0].value, QStringLiteral("show_81123-1430_05"));
        QCOMPARE(memoLines(w), shortShowEdl(QStringLiteral("show")));
        if (save) {
            QCOMPARE(TestFiles::read(file), crlf(shortShowEdl(QStringLiteral("show"))));
            QCOMPARE(rowsOf(w.captureList()), Rows({eventRow("0005", "0002", "10:00:40:00")}));
        } else {
            QVERIFY(!QFile::exists(file));
            QCOMPARE(w.captureList().count(), 5);
        }
    }

    // Make while capture goes on adds no row to the list. A Make&Save (its button, or the GPO8
    // trigger) with a camera on air leaves the list starting with a row that puts it on again
    // where the saved EDL ends: that file and the next EDL hold every frame from the first
    // switch to the last between them.
    void splitEdlsCoverEveryFrame_data()
    {
        QTest::addColumn<bool>("trigger");
        QTest::newRow("Make&Save button") << false;
        QTest::newRow("GPO8 trigger") << true;
    }

    void splitEdlsCoverEveryFrame()
    {
        QFETCH(bool, trigger);
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"GPO8", "1"}, {"edlpath", folder}});
        Tedlf &w = openShown();
        const auto cut = [&w](const char *timecode, const char *camera) {
            w.AddGpoEvent(QLatin1String(timecode), QLatin1String(timecode), QLatin1String(camera));
            w.captureList().announcePendingRows();
        };
        cut("10:00:00:00", "0001");
        cut("10:00:04:10", "0003");
        cut("10:00:07:00", "0002");

        const Rows before = rowsOf(w.captureList());
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();
        QVERIFY(w.edlText().contains("10:00:07:00"));
        QCOMPARE(rowsOf(w.captureList()), before);
        cut("10:00:11:05", "0004");
        const Row split = w.captureList().rowTexts(3);

        QString file = QDir(folder).filePath(QStringLiteral("show_81123-1430_05.edl"));
        if (trigger) {
            cut("10:00:12:00", "0080");
            QTRY_VERIFY(!w.gpo8TriggerWaiting());
        } else {
            file = QDir(folder).filePath(QStringLiteral("first.edl"));
            // A switch while the file is chosen stays for the next EDL.
            m_dialogs->then(DialogScript::during([&] { cut("10:00:13:00", "0001"); }, DialogScript::choose(file)));
            QTest::mouseClick(w.makesave, Qt::LeftButton);
        }
        QCOMPARE(m_errors, QStringList());
        const QByteArray first = TestFiles::read(file);
        QVERIFY(!first.isEmpty());
        QVERIFY(!first.contains("10:00:13:00"));
        // The list goes on from the cameras on air at the end of the file, at its last moment.
        QVERIFY(w.captureList().count() >= 1);
        const Row restated = w.captureList().rowTexts(0);
        QCOMPARE(restated.camera, split.camera);
        QCOMPARE(restated.reader, split.reader);
        QCOMPARE(restated.generator, split.generator);
        QCOMPARE(restated.comment, QString());

        if (trigger)
            cut("10:00:13:00", "0001");
        cut("10:00:16:00", "0002");
        cut("10:00:18:20", "0001");
        const QStringList items = column(w.captureList(), CaptureList::ItemColumn);
        QCOMPARE(QSet<QString>(items.begin(), items.end()).size(), items.size());
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();
        const QByteArray second = w.edlText();

        // Record in and out of every event of both EDLs, in frames at 25 a second.
        const QRegularExpression timecode(QStringLiteral("(\\d\\d):(\\d\\d):(\\d\\d):(\\d\\d)"));
        const auto frames = [](const QRegularExpressionMatch &m) {
            return ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) * 25
                   + m.captured(4).toInt();
        };
        QList<QPair<int, int>> spans;
        for (const QByteArray &edl : {first, second}) {
            for (const QString &line : QString::fromLatin1(edl).split(QStringLiteral("\r\n"))) {
                QList<QRegularExpressionMatch> times;
                for (const QRegularExpressionMatch &m : timecode.globalMatch(line))
                    times.append(m);
                if (times.size() == 4)
                    spans.append({frames(times[2]), frames(times[3])});
            }
        }
        std::sort(spans.begin(), spans.end());
        const int start = ((10 * 60) * 60) * 25;
        const int end = start + 18 * 25 + 20;
        QVERIFY(!spans.isEmpty());
        QCOMPARE(spans.first().first, start);
        int covered = start;
        for (const auto &[in, out] : std::as_const(spans)) {
            QVERIFY2(in <= covered, qPrintable(QStringLiteral("no event from frame %1 to %2 after the first switch").arg(covered - start).arg(in - start)));
            covered = std::max(covered, out);
        }
        QCOMPARE(covered, end);
    }

    // Saving onto a full disk: the failure is told with the system's reason, the old file stays
    // whole, and nothing that depended on the save happens (Make&Save keeps its rows).
    void savingOntoAFullDiskKeepsTheRowsAndTheOldFile_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Make&Save") << "makesave";
        QTest::newRow("Save EDL") << "saveedl";
        QTest::newRow("Save GPO") << "savegpo";
    }

    void savingOntoAFullDiskKeepsTheRowsAndTheOldFile()
    {
        QFETCH(QString, command);
        SmallFileSystem disk;
        SKIP_UNLESS_MOUNTED(disk);
        const QString file = disk.filePath(command == QLatin1String("savegpo") ? QStringLiteral("made.gpo")
                                                                               : QStringLiteral("made.edl"));
        QVERIFY(TestFiles::write(file, "old\r\n"));
        QVERIFY(disk.fill() > 0);
        Tedlf &w = openShown();
        addShortShow(w);
        const Rows before = rowsOf(w.captureList());
        if (command == QLatin1String("saveedl")) {
            m_dialogs->then(DialogScript::cancelEntry());
            w.MakeEDLClick();
            m_dialogs->then(DialogScript::cancelEntry()); // the file-name details
        }
        m_dialogs->then(DialogScript::choose(file));
        m_dialogs->then(DialogScript::ok()); // replace it
        if (command == QLatin1String("makesave"))
            QTest::mouseClick(w.makesave, Qt::LeftButton);
        else if (command == QLatin1String("saveedl"))
            w.SaveEDL1->trigger();
        else
            w.SaveGPO1->trigger();
        QCOMPARE(m_errors, QStringList{"Cannot write file " + file + ": No space left on device"});
        QCOMPARE(TestFiles::read(file), QByteArray("old\r\n"));
        QCOMPARE(filesIn(disk.path()), QStringList{QFileInfo(file).fileName()});
        QCOMPARE(rowsOf(w.captureList()), before);
    }

    // A device gone turns the timecode panel red with "NO DEVICE", whatever timecode comes
    // meanwhile; back, the last timecode shows again. Lost events are counted beside it.
    void deviceHealthShows()
    {
        Tedlf &w = openShown();
        const QColor lime = w.tcpoz->palette().color(QPalette::Window);
        w.setTimecode(QStringLiteral("10:00:00:00"));
        QVERIFY(!w.lostevents->isVisible());

        w.setDeviceHealth(true, 0);
        QCOMPARE(w.tcpoz->text(), QStringLiteral("NO DEVICE"));
        QCOMPARE(w.tcpoz->palette().color(QPalette::Window), QColor(255, 0, 0));
        QVERIFY(!w.lostevents->isVisible());
        w.setTimecode(QStringLiteral("10:00:01:00"));
        QCOMPARE(w.tcpoz->text(), QStringLiteral("NO DEVICE"));

        w.setDeviceHealth(false, 3);
        QCOMPARE(w.tcpoz->text(), QStringLiteral("10:00:01:00"));
        QCOMPARE(w.tcpoz->palette().color(QPalette::Window), lime);
        QVERIFY(w.lostevents->isVisible());
        QCOMPARE(w.lostevents->text(), QStringLiteral("3 EVENTS LOST"));
        w.setDeviceHealth(false, 1);
        QCOMPARE(w.lostevents->text(), QStringLiteral("1 EVENT LOST"));
    }

    void gpo8ItemTogglesTheStoredOption()
    {
        Tedlf &w = openShown();
        QVERIFY(!w.GPO8->isChecked());
        w.GPO8->trigger();
        QVERIFY(w.GPO8->isChecked());
        QCOMPARE(stored(QStringLiteral("GPO8")), QStringLiteral("1"));
        w.GPO8->trigger();
        QVERIFY(!w.GPO8->isChecked());
        QCOMPARE(stored(QStringLiteral("GPO8")), QStringLiteral("0"));
    }

    // --- EDL Format menu and timeline export ----------------------------------------------------

    void edlFormatMenuKeepsTheChoice()
    {
        Tedlf &w = openShown();
        // Out of the box: today's layout, one EDL.
        QVERIFY(w.CorvaneLayout1->isChecked());
        QVERIFY(!w.CMX36001->isChecked());
        QVERIFY(!w.OneEDLPerCamera1->isChecked());
        QCOMPARE(w.edlOptions().layout, EdlLayout::Corvane);

        w.CMX36001->trigger();
        QVERIFY(w.CMX36001->isChecked());
        QVERIFY(!w.CorvaneLayout1->isChecked());
        QCOMPARE(stored(QStringLiteral("edlformat")), QStringLiteral("cmx3600"));
        w.OneEDLPerCamera1->trigger();
        QCOMPARE(stored(QStringLiteral("edlpercamera")), QStringLiteral("1"));
        QCOMPARE(w.edlOptions().layout, EdlLayout::Cmx3600);
        QVERIFY(w.edlOptions().perCamera);
        w.CorvaneLayout1->trigger();
        w.OneEDLPerCamera1->trigger();
        QCOMPARE(stored(QStringLiteral("edlformat")), QStringLiteral("corvane"));
        QCOMPARE(stored(QStringLiteral("edlpercamera")), QStringLiteral("0"));
        QCOMPARE(m_errors, QStringList());
    }

    void edlFormatIsReadAtStart_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("cmx");
        QTest::newRow("cmx3600") << "cmx3600" << true;
        QTest::newRow("letter case") << "CMX3600" << true;
        QTest::newRow("unknown: the Corvane layout") << "avid" << false;
    }

    void edlFormatIsReadAtStart()
    {
        QFETCH(QString, format);
        QFETCH(bool, cmx);
        presetCurrent({{"edlformat", format}, {"edlpercamera", "1"}});
        Tedlf &w = open();
        QCOMPARE(w.CMX36001->isChecked(), cmx);
        QCOMPARE(w.CorvaneLayout1->isChecked(), !cmx);
        QVERIFY(w.OneEDLPerCamera1->isChecked());
        QCOMPARE(shown().size(), 0);
    }

    void makeFollowsTheEdlFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("perCamera");
        QTest::addColumn<QStringList>("memo");
        const QString title = QStringLiteral("late show");
        QStringList corvaneSplit = shortShowEdl(title).mid(0, 3);
        corvaneSplit << QString() << shortShowEdl(title).mid(0, 2) << shortShowEdl(title).mid(3);
        QTest::newRow("corvane") << "corvane" << false << shortShowEdl(title);
        QTest::newRow("corvane per camera") << "corvane" << true << corvaneSplit;
        QTest::newRow("cmx3600") << "cmx3600" << false << shortShowCmx(title);
        QTest::newRow("cmx3600 per camera")
            << "cmx3600" << true << shortShowCmxCamera(title, 1) + QStringList{QString()} + shortShowCmxCamera(title, 2);
    }

    // Make, then Save EDL: one file, or <name>_<reel>.edl for each camera used.
    void makeFollowsTheEdlFormat()
    {
        QFETCH(QString, format);
        QFETCH(bool, perCamera);
        QFETCH(QStringList, memo);
        presetCurrent({{"edlformat", format}, {"edlpercamera", perCamera ? "1" : "0"}});
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::enter(QStringLiteral("late show")));
        QTest::mouseClick(w.button5, Qt::LeftButton);
        QCOMPARE(memoLines(w), memo);
        QCOMPARE(m_errors, QStringList());

        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        m_dialogs->then(DialogScript::cancelEntry());
        m_dialogs->then(DialogScript::choose(QDir(folder).filePath(QStringLiteral("take"))));
        w.SaveEDL1->trigger();
        QCOMPARE(m_dialogs->pending(), 0);
        QStringList written = QDir(folder).entryList(QDir::Files, QDir::Name);
        if (!perCamera) {
            QCOMPARE(written, QStringList{"take.edl"});
            QCOMPARE(TestFiles::read(QDir(folder).filePath(written[0])), crlf(memo));
            return;
        }
        QCOMPARE(written, QStringList({"take_CAM1.edl", "take_CAM2.edl"}));
        const qsizetype gap = memo.indexOf(QString());
        QCOMPARE(TestFiles::read(QDir(folder).filePath(written[0])), crlf(memo.mid(0, gap)));
        QCOMPARE(TestFiles::read(QDir(folder).filePath(written[1])), crlf(memo.mid(gap + 1)));
        QCOMPARE(w.windowTitle(), QStringLiteral("take"));
    }

    // One EDL per camera: every file that would be replaced is asked about before any is written.
    void perCameraSaveAsksBeforeReplacing_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("declined") << "cancel";
        QTest::newRow("accepted") << "ok";
    }

    void perCameraSaveAsksBeforeReplacing()
    {
        QFETCH(QString, answer);
        presetCurrent({{"edlformat", "cmx3600"}, {"edlpercamera", "1"}});
        Tedlf &w = openShown();
        addShortShow(w);
        const QString file1 = programFile(QStringLiteral("made_CAM1.edl"));
        const QString file2 = programFile(QStringLiteral("made_CAM2.edl"));
        QVERIFY(TestFiles::write(file2, "old\r\n"));
        m_dialogs->then(DialogScript::choose(programFile(QStringLiteral("made.edl"))));
        m_dialogs->then(answer == QLatin1String("ok") ? DialogScript::ok() : DialogScript::cancel());
        QTest::mouseClick(w.makesave, Qt::LeftButton);

        QCOMPARE(shown().size(), 2);
        QCOMPARE(shown()[1].text, QStringLiteral("made_CAM2.edl Exists Replace ?"));
        if (answer == QLatin1String("ok")) {
            QCOMPARE(TestFiles::read(file1), crlf(shortShowCmxCamera(QStringLiteral("show"), 1)));
            QCOMPARE(TestFiles::read(file2), crlf(shortShowCmxCamera(QStringLiteral("show"), 2)));
            QCOMPARE(w.captureList().count(), 0);
        } else {
            QVERIFY(!QFile::exists(file1));
            QCOMPARE(TestFiles::read(file2), QByteArray("old\r\n"));
            QCOMPARE(w.captureList().count(), 4);
        }
    }

    // The GPO8 trigger follows the format too: no dialog, files in "edlpath".
    void gpo8TriggerFollowsTheEdlFormat()
    {
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"GPO8", "1"}, {"edlpath", folder}, {"edlformat", "cmx3600"}, {"edlpercamera", "1"}});
        Tedlf &w = open();
        addShortShow(w);
        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        QCOMPARE(shown().size(), 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 QStringList({"show_81123-1430_05_CAM1.edl", "show_81123-1430_05_CAM2.edl"}));
        QCOMPARE(TestFiles::read(QDir(folder).filePath(QStringLiteral("show_81123-1430_05_CAM2.edl"))),
                 crlf(shortShowCmxCamera(QStringLiteral("show"), 2)));
        QCOMPARE(w.captureList().count(), 0);
    }

    // A row the CMX 3600 layout cannot take stops Make with the reason; the list stays.
    void cmx3600MakeTellsARowItCannotTake()
    {
        presetCurrent({{"edlformat", "cmx3600"}});
        Tedlf &w = openShown();
        fill(w.captureList(), {eventRow("0001", "0001", "10:00:05:00"), eventRow("0002", "0000", "10:00:04:00")});
        m_dialogs->then(DialogScript::cancelEntry());
        QTest::mouseClick(w.button5, Qt::LeftButton);
        QCOMPARE(m_errors, QStringList{"Row 2: timecode 10:00:04:00 is earlier than 10:00:05:00 of the row before; the rows "
                                       "must be in time order"});
        QVERIFY(w.Memo1->toPlainText().isEmpty());
        QCOMPARE(w.captureList().count(), 2);
    }

    void exportTimeline_data()
    {
        QTest::addColumn<QString>("chosen"); // the name given in the dialog
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("file"); // what is written
        QTest::newRow("otio by its extension") << "cut.otio" << "" << "cut.otio";
        QTest::newRow("xml by its extension") << "cut.xml" << "" << "cut.xml";
        QTest::newRow("xml by the filter") << "cut" << "Final Cut Pro 7 XML (*.xml)" << "cut.xml";
        QTest::newRow("otio by the filter") << "cut" << "" << "cut.otio";
    }

    void exportTimeline()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, filter);
        QFETCH(QString, file);
        const QString folder = programFile(QStringLiteral("timelines"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"timelinepath", folder}, {"edlfps", "30"}});
        Tedlf &w = openShown();
        addShortShow(w);
        const Rows before = rowsOf(w.captureList());
        m_dialogs->then([&](QDialog *dialog) {
            if (auto *files = qobject_cast<QFileDialog *>(dialog); files && !filter.isEmpty())
                files->selectNameFilter(filter);
            DialogScript::choose(QDir(folder).filePath(chosen))(dialog);
        });
        w.ExportTimeline1->trigger();
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].value, QStringLiteral("show_81123-1430_05"));
        QCOMPARE(shown()[0].folder, QDir(folder).absolutePath());
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{file});
        QCOMPARE(rowsOf(w.captureList()), before); // no closing row, nothing removed
        QCOMPARE(stored(QStringLiteral("timelinepath")), QDir::toNativeSeparators(folder) + QDir::separator());

        // The timeline of the list at the rate of the settings.
        CaptureList list;
        fill(list, before);
        const Timeline timeline = Timeline::fromCapture(list, standardCameras(), QStringLiteral("show"), 30);
        const QByteArray expected = file.endsWith(QLatin1String(".xml")) ? Fcp7XmlWriter::write(timeline)
                                                                         : OtioWriter::write(timeline);
        QCOMPARE(TestFiles::read(QDir(folder).filePath(file)), expected);
    }

    void exportTimelineOfRowsItCannotTake()
    {
        Tedlf &w = openShown();
        // Frame 27 at the factory 25 frames a second.
        addEvents(w, {{"10:00:00:27", "0001"}, {"10:00:01:00", "0000"}});
        w.ExportTimeline1->trigger();
        QCOMPARE(m_errors, QStringList{"Timecode 10:00:00:27 has more frames than 25 a second"});
        QCOMPARE(shown().size(), 0); // told before any file is asked for

        w.captureList().clear();
        w.ExportTimeline1->trigger(); // an empty list: nothing
        QCOMPARE(shown().size(), 0);
    }

    // --- Capture file --------------------------------------------------------------------------

    void captureFileRoundTripThroughTheDialogs()
    {
        const QString folder = programFile(QStringLiteral("captures"));
        QVERIFY(QDir().mkpath(folder));
        presetCurrent({{"gpopath", folder}});
        Tedlf &w = openShown();
        addShortShow(w);
        w.captureList().setComment(0, QStringLiteral("Opening wide, house lights down"));
        w.captureList().setComment(2, QStringLiteral("  spaced  "));
        const Rows before = rowsOf(w.captureList());

        m_dialogs->then(DialogScript::acceptProposed());
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].kind, QStringLiteral("SaveDlg"));
        QCOMPARE(shown()[0].value, QStringLiteral("edlf_8B23"));
        QCOMPARE(shown()[0].folder, QDir(folder).absolutePath());
        const QString file = QDir(folder).filePath(QStringLiteral("edlf_8B23.gpo"));
        QCOMPARE(TestFiles::read(file), QByteArray("0001,0001,10:00:00:00,10:00:00:00,Opening wide, house lights down\r\n"
                                                   "0002,0003,10:00:05:00,10:00:05:00,\r\n"
                                                   "0003,0002,10:00:09:00,10:00:09:00,  spaced  \r\n"
                                                   "0004,0000,10:00:12:00,10:00:12:00,\r\n"));
        QCOMPARE(w.windowTitle(), QStringLiteral("edlf_8B23"));
        QCOMPARE(stored(QStringLiteral("gpopath")), QDir::toNativeSeparators(folder) + QDir::separator());

        QTest::mouseClick(w.kdeleteall, Qt::LeftButton);
        w.setWindowTitle(QStringLiteral("other"));
        activate(w);
        // Load GPO opens in the program's folder with the caption as the proposed name.
        m_dialogs->then(DialogScript::choose(file));
        QTest::keyClick(&w, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(shown().size(), 2);
        QCOMPARE(shown()[1].kind, QStringLiteral("OpenDlg"));
        QCOMPARE(shown()[1].folder, QDir(m_dir->path()).absolutePath());
        QCOMPARE(shown()[1].value, QStringLiteral("other"));

        Rows expected = before;
        expected[2].comment = QStringLiteral("spaced"); // surrounding spaces are not kept
        QCOMPARE(rowsOf(w.captureList()), expected);
        QCOMPARE(w.windowTitle(), QStringLiteral("edlf_8B23"));
        // Numbering goes on from the number of rows loaded.
        addEvents(w, {{"10:01:00:00", "0001"}});
        QCOMPARE(w.captureList().text(4, CaptureList::ItemColumn), QStringLiteral("0005"));
    }

    void saveGpoReplaceDeclinedStillRemembersTheFolder()
    {
        const QString folder = programFile(QStringLiteral("captures"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("kept.gpo"));
        QVERIFY(TestFiles::write(file, "old\r\n"));
        Tedlf &w = openShown();
        addShortShow(w);
        m_dialogs->then(DialogScript::choose(file));
        m_dialogs->then(DialogScript::cancel());
        w.savegpoClick();
        QCOMPARE(shown().size(), 2);
        QCOMPARE(shown()[1].text, QStringLiteral("kept.gpo Exists Replace ?"));
        QCOMPARE(TestFiles::read(file), QByteArray("old\r\n"));
        QCOMPARE(w.windowTitle(), QStringLiteral("kept"));
        QCOMPARE(stored(QStringLiteral("gpopath")), QDir::toNativeSeparators(folder) + QDir::separator());
    }

    void loadtestLoadsTheSampleBesideTheProgram_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("sample present") << true;
        QTest::newRow("sample missing") << false;
    }

    void loadtestLoadsTheSampleBesideTheProgram()
    {
        QFETCH(bool, present);
        const QByteArray sample = "0001,0001,10:00:00:00,10:00:00:00,Opening, wide\r\n0002,0000,10:00:04:00,10:00:04:00,\r\n";
        if (present)
            QVERIFY(TestFiles::write(programFile(QStringLiteral("edlf_8b23.gpo")), sample));
        Tedlf &w = openShown();
        addEvents(w, {{"09:00:00:00", "0004"}});
        w.loadtest1->trigger();
        if (present) {
            QCOMPARE(rowsOf(w.captureList()), Rows({eventRow("0001", "0001", "10:00:00:00", "Opening, wide"),
                                                    eventRow("0002", "0000", "10:00:04:00")}));
            QCOMPARE(w.windowTitle(), QStringLiteral("edlf_8b23"));
        } else {
            QCOMPARE(rowsOf(w.captureList()), Rows({eventRow("0001", "0004", "09:00:00:00")}));
            QCOMPARE(w.windowTitle(), QStringLiteral("edlf"));
        }
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(shown().size(), 0);
    }

    // --- Exit ----------------------------------------------------------------------------------

    void exitSequence_data()
    {
        QTest::addColumn<QString>("list"); // "", "rows", "deleted" (rows not saved, then Delete All)
        QTest::addColumn<QString>("answer"); // to the question; empty: none is asked
        QTest::addColumn<bool>("exits");
        QTest::newRow("empty list: no question") << "" << "" << true;
        QTest::newRow("rows, OK") << "rows" << "ok" << true;
        QTest::newRow("rows, Cancel") << "rows" << "cancel" << false;
        // Undo could still bring them back: they are not given up without the question.
        QTest::newRow("rows deleted, not saved, Cancel") << "deleted" << "cancel" << false;
        QTest::newRow("rows deleted, not saved, OK") << "deleted" << "ok" << true;
    }

    void exitSequence()
    {
        QFETCH(QString, list);
        QFETCH(QString, answer);
        QFETCH(bool, exits);
        Tedlf &w = openShown();
        if (!list.isEmpty())
            addShortShow(w);
        if (list == QLatin1String("deleted"))
            w.kdeleteall->click();
        m_devices.calls.clear();
        if (!answer.isEmpty())
            m_dialogs->then(answer == QLatin1String("ok") ? DialogScript::ok() : DialogScript::cancel());
        QSignalSpy timer(w.Timer1, &QTimer::timeout);

        QTest::mouseClick(w.kexit, Qt::LeftButton);
        const bool asked = !answer.isEmpty();
        QCOMPARE(shown().size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(shown()[0].text, QStringLiteral("Exit without saving EDL?"));
            QCOMPARE(shown()[0].caption, QStringLiteral("Exit File"));
        }
        if (!exits) {
            QCOMPARE(m_devices.calls, QStringList());
            QVERIFY(!w.Timer1->isActive());
            QVERIFY(w.isVisible());
            return;
        }
        // The ports close at once; the windows go a second later.
        QCOMPARE(m_devices.calls, QStringList{"StopDevices"});
        QVERIFY(w.isVisible());
        QVERIFY(timer.wait(5000));
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(m_devices.calls, QStringList({"StopDevices", "CloseInput", "CloseWindow", "StopDevices"}));
        // The program's own close keeps the settings file as it is (no close message).
        QVERIFY(SettingsFile);
    }

    void closingTheWindowAsksNothing()
    {
        Tedlf &w = openShown();
        addShortShow(w);
        m_devices.calls.clear();
        QVERIFY(w.close());
        QCOMPARE(shown().size(), 0);
        QCOMPARE(m_devices.calls, QStringList{"StopDevices"});
        QVERIFY(!SettingsFile); // closed with the close message
    }

    void closingWhileEditingTheGridKeepsTheEdit()
    {
        Tedlf &w = openShown();
        QTableWidget *grid = w.cameragrid;
        grid->setFocus();
        grid->editItem(grid->item(2, 2));
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && grid->isAncestorOf(editor));
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("A/V"));
        QVERIFY(w.close());
        QCOMPARE(stored(QStringLiteral("edittype2")), QStringLiteral("A/V"));
    }

private:
    static QList<int> sorted(QList<int> rows)
    {
        std::sort(rows.begin(), rows.end());
        return rows;
    }
};

QTEST_MAIN(TestCaptureWindow)
#include "tst_capture_window.moc"
