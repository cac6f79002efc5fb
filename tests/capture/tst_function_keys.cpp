// The capture window's function keys, Help menu, "USB" and "Save/Load Desktop", driven through
// the window's buttons, keys and menu items over a temporary program folder. Documents are never
// really opened: the test takes every file URL handed to the desktop.

#include "AppPaths.h"
#include "CorvaneVersion.h"
#include "DocumentViewer.h"
#include "DialogScript.h"
#include "ErrorReport.h"
#include "IniStore.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

using Settings = QList<QPair<QString, QString>>;

using WindowSettings::defaultSettings;
using WindowSettings::FactoryCaptions;

namespace {

// The MIDI device window as far as "USB" sees it: shown or hidden.
class ToggledDevices : public TCaptureDevices {
public:
    bool visible = false;
    void StartDevices() override {}
    void StopDevices() override {}
    void CloseInput() override {}
    void CloseWindow() override { visible = false; }
    void ShowHide() override { visible = !visible; }
};

// Takes the file URLs the program hands to the desktop.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestFunctionKeys : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_dir;
    std::unique_ptr<Tedlf> m_window;
    std::unique_ptr<DialogScript> m_dialogs;
    ToggledDevices m_devices;
    OpenedUrls m_opened;
    bool m_viewer = true;
    QStringList m_viewerAsked;
    QStringList m_errors;

    QString programFile(const QString &name) const { return m_dir->file(name); }
    QString settingsPath() const { return m_dir->settingsPath(); }
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
    // The window as the operator finds it after a restart: a new window over the same files.
    Tedlf &restart()
    {
        m_window.reset();
        CloseSettingsFile();
        return open();
    }
    // Function keys reach the active window only.
    static void activate(Tedlf &w) { activateWindowForKeys(w); }
    // Three rows, each with the comment "old": cameras 1, 1+2, 2.
    static void addThreeRows(Tedlf &w)
    {
        w.AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QStringLiteral("0001"));
        w.AddGpoEvent(QStringLiteral("10:00:05:00"), QStringLiteral("10:00:05:00"), QStringLiteral("0003"));
        w.AddGpoEvent(QStringLiteral("10:00:09:00"), QStringLiteral("10:00:09:00"), QStringLiteral("0002"));
        w.captureList().announcePendingRows();
        for (int r = 0; r < 3; ++r)
            w.captureList().setComment(r, QStringLiteral("old"));
    }
    // "<item>=<comment>" for every row, in the order shown.
    static QStringList comments(Tedlf &w)
    {
        QStringList rows;
        for (int r = 0; r < w.captureList().count(); ++r)
            rows << w.captureList().text(r, CaptureList::ItemColumn) + QLatin1Char('=')
                        + w.captureList().text(r, CaptureList::CommentColumn);
        return rows;
    }
    static QPushButton *key(Tedlf &w, int number)
    {
        return w.findChild<QPushButton *>(QStringLiteral("F%1").arg(number));
    }
    // Presses F<number> on the keyboard, or the left mouse button over its button.
    static void pressFunctionKey(Tedlf &w, int number, const QString &trigger)
    {
        if (trigger == QLatin1String("key")) {
            activate(w);
            // Typed into whatever control has the focus, as the operator types it.
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, static_cast<Qt::Key>(Qt::Key_F1 + number - 1));
        } else {
            QTest::mouseClick(key(w, number), Qt::LeftButton);
        }
    }
    QList<DialogScript::Shown> shown() const { return m_dialogs->shown(); }
    QStringList messages() const
    {
        QStringList texts;
        for (const DialogScript::Shown &s : shown())
            if (s.kind == QLatin1String("message"))
                texts << s.text;
        return texts;
    }

private slots:
    void initTestCase()
    {
        // Every file URL comes here instead of reaching a viewer.
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
        setErrorPresenter([this](const QString &message) { m_errors << message; });
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        setErrorPresenter({});
        DocumentViewer::setCheck({});
    }

    void init()
    {
        m_dir = std::make_unique<ProgramFolder>();
        QVERIFY(m_dir->isValid());
        m_dialogs = std::make_unique<DialogScript>();
        m_devices.visible = false;
        m_opened.urls.clear();
        m_errors.clear();
        // A viewer for every file unless a test says otherwise, whatever this computer has.
        m_viewerAsked.clear();
        DocumentViewer::setCheck([this](const QString &path) {
            m_viewerAsked << path;
            return m_viewer;
        });
        m_viewer = true;
    }

    void cleanup()
    {
        m_window.reset();
        m_dir.reset(); // closes the settings file
        m_dialogs.reset();
        QCOMPARE(m_errors, QStringList());
    }

    // --- Function keys -----------------------------------------------------------------------

    void f5CommentsTheMarkedRow_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("rows");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<int>("selectedRow");
        QTest::addColumn<QString>("focus"); // "list", "grid editor" or the window's own
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("key, empty list") << "key" << false << "Retake" << -1 << -1 << "" << QStringList();
        QTest::newRow("click, empty list") << "click" << false << "Retake" << -1 << -1 << "" << QStringList();
        // A row chosen in the list while the list has the focus: the keys comment that row.
        QTest::newRow("key, first row chosen in the list")
            << "key" << true << "Retake" << -1 << 0 << "list" << QStringList{"0001=Retake", "0002=old", "0003=old"};
        QTest::newRow("click, middle row chosen in the list")
            << "click" << true << "Retake" << -1 << 1 << "list" << QStringList{"0001=old", "0002=Retake", "0003=old"};
        // A selection left behind while the operator works elsewhere: the newest row.
        QTest::newRow("key, first row selected, focus elsewhere")
            << "key" << true << "Retake" << -1 << 0 << "" << QStringList{"0001=old", "0002=old", "0003=Retake"};
        QTest::newRow("click, middle row selected, focus elsewhere")
            << "click" << true << "Retake" << -1 << 1 << "" << QStringList{"0001=old", "0002=old", "0003=Retake"};
        // Sorted by camera state, the row captured second is the last one shown.
        QTest::newRow("key, after a sort by camera")
            << "key" << true << "Retake" << 1 << -1 << "" << QStringList{"0001=old", "0003=old", "0002=Retake"};
        QTest::newRow("click, after a sort by camera")
            << "click" << true << "Retake" << 1 << -1 << "" << QStringList{"0001=old", "0003=old", "0002=Retake"};
        // The keys belong to the window: they work whichever control has the focus.
        QTest::newRow("key, editing a camera name")
            << "key" << true << "Retake" << -1 << -1 << "grid editor" << QStringList{"0001=old", "0002=old", "0003=Retake"};
        QTest::newRow("key, empty caption clears the comment")
            << "key" << true << "" << -1 << -1 << "" << QStringList{"0001=old", "0002=old", "0003="};
        QTest::newRow("click, empty caption clears the comment")
            << "click" << true << "" << -1 << -1 << "" << QStringList{"0001=old", "0002=old", "0003="};
        // The buttons act on the mouse going down only: a focused button activated from the
        // keyboard does nothing.
        QTest::newRow("space on the focused button")
            << "space" << true << "Retake" << -1 << -1 << "" << QStringList{"0001=old", "0002=old", "0003=old"};
    }

    void f5CommentsTheMarkedRow()
    {
        QFETCH(QString, trigger);
        QFETCH(bool, rows);
        QFETCH(QString, caption);
        QFETCH(int, sortColumn);
        QFETCH(int, selectedRow);
        QFETCH(QString, focus);
        QFETCH(QStringList, expected);
        presetCurrent({{"kf5", caption}});
        Tedlf &w = openShown();
        QCOMPARE(w.F5->text(), caption);
        if (rows)
            addThreeRows(w);
        if (sortColumn >= 0)
            w.List1ColumnClick(sortColumn);
        if (selectedRow >= 0)
            w.List1->selectRow(selectedRow);
        activate(w);
        if (focus == QLatin1String("list")) {
            w.List1->setFocus();
        } else if (focus == QLatin1String("grid editor")) {
            w.cameragrid->setFocus();
            w.cameragrid->editItem(w.cameragrid->item(2, 1));
            QVERIFY(w.cameragrid->isAncestorOf(QApplication::focusWidget()));
        }

        if (trigger == QLatin1String("space")) {
            activate(w);
            w.F5->setFocus();
            QTest::keyClick(w.F5, Qt::Key_Space);
        } else {
            pressFunctionKey(w, 5, trigger);
        }

        QCOMPARE(comments(w), expected);
        if (selectedRow >= 0)
            QCOMPARE(w.selectedRows(), QList<int>{selectedRow});
        QCOMPARE(shown().size(), 0);
    }

    void everyKeyPutsItsOwnCaption_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<int>("number");
        for (const char *trigger : {"key", "click"})
            for (int k = 2; k <= 9; ++k)
                QTest::addRow("%s F%d", trigger, k) << QString::fromLatin1(trigger) << k;
    }

    void everyKeyPutsItsOwnCaption()
    {
        QFETCH(QString, trigger);
        QFETCH(int, number);
        Tedlf &w = openShown();
        addThreeRows(w);
        pressFunctionKey(w, number, trigger);
        QCOMPARE(comments(w), QStringList({"0001=old", "0002=old", "0003=" + FactoryCaptions[number - 2]}));
    }

    void otherMouseButtonsEditTheCaption_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("caption");
        QTest::newRow("right, new text") << Qt::RightButton << true << "Retake, focus" << "Retake, focus";
        QTest::newRow("middle, new text") << Qt::MiddleButton << true << "Wide shot" << "Wide shot";
        QTest::newRow("right, emptied") << Qt::RightButton << true << "" << "";
        QTest::newRow("right, cancelled") << Qt::RightButton << false << "Ignored" << "Discard";
    }

    void otherMouseButtonsEditTheCaption()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, confirm);
        QFETCH(QString, typed);
        QFETCH(QString, caption);
        Tedlf &w = openShown();
        addThreeRows(w);
        m_dialogs->then(confirm ? DialogScript::enter(typed) : DialogScript::cancelEntry());

        QTest::mousePress(w.F3, button);
        QTest::mouseRelease(w.F3, button);

        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown()[0].kind, QStringLiteral("entry"));
        QCOMPARE(shown()[0].caption, QStringLiteral("Function Key Comment"));
        QCOMPARE(shown()[0].text, QStringLiteral("F3 Comment"));
        QCOMPARE(shown()[0].value, QStringLiteral("Discard"));
        QCOMPARE(w.F3->text(), caption);
        // Editing the caption comments nothing.
        QCOMPARE(comments(w), QStringList({"0001=old", "0002=old", "0003=old"}));
        // The new caption is what the key puts on a row from now on...
        pressFunctionKey(w, 3, QStringLiteral("key"));
        QCOMPARE(comments(w), QStringList({"0001=old", "0002=old", "0003=" + caption}));

        // ...and after a restart.
        Tedlf &again = restart();
        QCOMPARE(again.F3->text(), caption);
        QCOMPARE(again.F4->text(), QStringLiteral("Good"));
    }

    // --- Desktops ----------------------------------------------------------------------------

    // Applying a desktop ("Save/Load Desktop", Apply) takes effect in the window at once: the
    // camera table, the function-key captions, GPO8, the "EDL Format" choices and the title.
    // Make and the GPO8 trigger use them, and a camera name that was being typed is not written
    // back over them when the table loses the focus, nor stored into the desktop by Update.
    void applyingADesktopTakesEffectAtOnce_data()
    {
        QTest::addColumn<bool>("throughSetup"); // else applied while the name is still being typed
        QTest::newRow("Desktop Setup window") << true;
        QTest::newRow("applied while a camera name is typed") << false;
    }

    void applyingADesktopTakesEffectAtOnce()
    {
        QFETCH(bool, throughSetup);
        const QString folder = programFile(QStringLiteral("edl"));
        QVERIFY(QDir().mkpath(folder));
        Tedlf &w = openShown();
        addThreeRows(w);
        const QString studio = QStringLiteral("USER\\Studio");
        const Settings values{{"kf5", "Studio note"}, {"reelname1", "Jib"}, {"reelname2", "Crane"}, {"edittype2", "A"},
                              {"GPO8", "1"}, {"edlformat", "cmx3600"}, {"filename", "Late show"}, {"edlpath", folder}};
        for (const auto &[key, value] : values)
            SettingsFile->WriteValue(studio, key, value);
        SettingsFile->SetLastDesktop(QStringLiteral("Studio"));
        QVERIFY(!w.GPO8->isChecked());
        QVERIFY(!w.CMX36001->isChecked());

        // The operator is typing a camera name when the desktop changes.
        activate(w);
        w.cameragrid->setFocus();
        w.cameragrid->setCurrentCell(2, 1);
        w.cameragrid->editItem(w.cameragrid->item(2, 1));
        QWidget *editor = QApplication::focusWidget();
        QVERIFY(editor && w.cameragrid->isAncestorOf(editor));
        QTest::keyClicks(editor, QStringLiteral("Typed"));
        QCOMPARE(w.cameragrid->item(2, 1)->text(), QStringLiteral("Typed"));

        if (throughSetup) {
            QPointer<TKxSettingsForm> setup;
            bool modal = false;
            QString offered;
            QTimer::singleShot(0, this, [&] {
                setup = qobject_cast<TKxSettingsForm *>(QApplication::activeModalWidget());
                if (!setup) {
                    // Not the modal window: closed anyway, so that the test ends.
                    for (QWidget *top : QApplication::topLevelWidgets())
                        if (qobject_cast<TKxSettingsForm *>(top))
                            top->close();
                    return;
                }
                modal = true;
                offered = setup->selectedDesktop();
                setup->Button5->click(); // Apply, which closes the window
                if (setup && setup->isVisible())
                    setup->close();
            });
            w.desktop1->trigger();
            QVERIFY2(modal, "the Desktop Setup window was not the modal window");
            QCOMPARE(offered, QStringLiteral("Studio"));
            QVERIFY(setup.isNull()); // freed once closed
        } else {
            QVERIFY(SettingsFile->ApplyDesktop(QStringLiteral("Studio")));
            QVERIFY(!w.cameragrid->indexWidget(w.cameragrid->currentIndex())); // the editor is gone
        }

        // Shown at once.
        QCOMPARE(w.cameragrid->item(1, 1)->text(), QStringLiteral("Jib"));
        QCOMPARE(w.cameragrid->item(2, 1)->text(), QStringLiteral("Crane"));
        QCOMPARE(w.cameragrid->item(2, 2)->text(), QStringLiteral("A"));
        QCOMPARE(w.cameragrid->item(3, 1)->text(), QStringLiteral("CAM3"));
        QCOMPARE(w.F5->text(), QStringLiteral("Studio note"));
        QCOMPARE(w.F2->text(), QStringLiteral("Keep"));
        QVERIFY(w.GPO8->isChecked());
        QVERIFY(w.CMX36001->isChecked());
        QCOMPARE(w.windowTitle(), QStringLiteral("Late show"));

        // Leaving the table stores what it shows now, and Update keeps that in the desktop.
        activate(w);
        w.cameragrid->setFocus();
        QTRY_VERIFY(w.cameragrid->hasFocus());
        w.Kcomment->setFocus();
        QTRY_VERIFY(w.Kcomment->hasFocus());
        const IniFile ini(settingsPath());
        QCOMPARE(ini.readString(QStringLiteral("Current"), QStringLiteral("reelname1"), QString()), QStringLiteral("Jib"));
        QCOMPARE(ini.readString(QStringLiteral("Current"), QStringLiteral("reelname2"), QString()), QStringLiteral("Crane"));
        SettingsFile->UpdateDesktop(&w, QStringLiteral("Studio"));
        QCOMPARE(ini.readString(studio, QStringLiteral("reelname2"), QString()), QStringLiteral("Crane"));

        // Make uses the applied names, layout and title.
        m_dialogs->then(DialogScript::cancelEntry());
        w.MakeEDLClick();
        const QString made = w.Memo1->toPlainText();
        QVERIFY2(made.startsWith(QLatin1String("TITLE: Late show\n")), qPrintable(made));
        QVERIFY2(made.contains(QLatin1String("Jib")) && made.contains(QLatin1String("Crane")), qPrintable(made));
        QVERIFY2(!made.contains(QLatin1String("CAM1")) && !made.contains(QLatin1String("Typed")), qPrintable(made));
        // F5 puts the applied caption on the last row.
        pressFunctionKey(w, 5, QStringLiteral("key"));
        QCOMPARE(comments(w).last(), QStringLiteral("0003=Studio note")); // Make added no row
        // GPO8 is on: camera 8 makes and saves the EDL with them; the list goes on with camera 2,
        // on air when it was made.
        w.AddGpoEvent(QStringLiteral("10:00:20:00"), QStringLiteral("10:00:20:00"), QStringLiteral("0080"));
        QTRY_VERIFY(!w.gpo8TriggerWaiting());
        QCOMPARE(comments(w), QStringList{"0004="});
        QCOMPARE(w.captureList().text(0, CaptureList::CameraColumn), QStringLiteral("0002"));
        QCOMPARE(w.captureList().text(0, CaptureList::GeneratorColumn), QStringLiteral("10:00:09:00"));
        const QStringList files = QDir(folder).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY2(files.first().startsWith(QLatin1String("Late show_")), qPrintable(files.first()));
        const QByteArray saved = TestFiles::read(QDir(folder).filePath(files.first()));
        QVERIFY(saved.startsWith("TITLE: Late show\r\n"));
        QVERIFY(saved.contains("Jib") && saved.contains("Crane"));
        QCOMPARE(shown().size(), 1); // the file-name prompt of Make, nothing else
    }

    // --- Devices -----------------------------------------------------------------------------

    void usbTwiceReturnsTheDeviceWindowToItsVisibility_data()
    {
        QTest::addColumn<bool>("visible");
        QTest::newRow("hidden") << false;
        QTest::newRow("shown") << true;
    }

    void usbTwiceReturnsTheDeviceWindowToItsVisibility()
    {
        QFETCH(bool, visible);
        Tedlf &w = openShown();
        m_devices.visible = visible;
        w.USB1->trigger();
        QCOMPARE(m_devices.visible, !visible);
        w.USB1->trigger();
        QCOMPARE(m_devices.visible, visible);
    }

    // --- Help --------------------------------------------------------------------------------

    void helpItemsOpenTheirFiles_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("present"); // "file", "none" or "folder"
        const QList<QPair<const char *, const char *>> items = {{"English1", "Corvane.pdf"},
                                                                {"French1", "Corvane_fr.pdf"},
                                                                {"Manual1", "orvex-usb.pdf"},
                                                                {"OrvexNameDriver1", "orvexusb-driver.pdf"}};
        for (const auto &[item, file] : items) {
            QTest::addRow("%s present", item) << item << file << "file";
            QTest::addRow("%s missing", item) << item << file << "none";
        }
        QTest::newRow("a folder of the manual's name") << "English1" << "Corvane.pdf" << "folder";
        // Present, but nothing here opens a PDF file: the operator is told where it is.
        QTest::newRow("English1 present, no viewer") << "English1" << "Corvane.pdf" << "no viewer";
        QTest::newRow("Manual1 present, no viewer") << "Manual1" << "orvex-usb.pdf" << "no viewer";
    }

    void helpItemsOpenTheirFiles()
    {
        QFETCH(QString, item);
        QFETCH(QString, file);
        QFETCH(QString, present);
        if (present == QLatin1String("file") || present == QLatin1String("no viewer"))
            QVERIFY(TestFiles::write(programFile(file), "%PDF-1.4\n"));
        else if (present == QLatin1String("folder"))
            QVERIFY(QDir(m_dir->path()).mkdir(file));
        m_viewer = present != QLatin1String("no viewer");
        Tedlf &w = openShown();
        auto *action = w.findChild<QAction *>(item);
        QVERIFY(action);

        action->trigger();

        if (present == QLatin1String("file")) {
            QCOMPARE(m_opened.urls, QList<QUrl>{QUrl::fromLocalFile(programFile(file))});
            QCOMPARE(shown().size(), 0);
            QCOMPARE(m_viewerAsked, QStringList{programFile(file)});
        } else if (present == QLatin1String("no viewer")) {
            QCOMPARE(m_opened.urls, QList<QUrl>());
            QCOMPARE(messages(), QStringList{QDir::toNativeSeparators(programFile(file))
                                             + "\nNo program on this computer opens this file. Install one (for the "
                                               "manuals, a PDF viewer) or open the file from that folder yourself."});
        } else {
            QCOMPARE(m_opened.urls, QList<QUrl>());
            QCOMPARE(messages(), QStringList{QDir::toNativeSeparators(programFile(file)) + "  Not Found"});
        }
    }

    void openDocumentTakesAnyFileOfTheProgramFolder()
    {
        QVERIFY(TestFiles::write(programFile(QStringLiteral("notes.txt")), "text"));
        Tedlf &w = open();
        w.OpenDocument(QStringLiteral("notes.txt"));
        w.OpenDocument(QStringLiteral("absent.txt"));
        QCOMPARE(m_opened.urls, QList<QUrl>{QUrl::fromLocalFile(programFile(QStringLiteral("notes.txt")))});
        QCOMPARE(messages(), QStringList{QDir::toNativeSeparators(programFile(QStringLiteral("absent.txt"))) + "  Not Found"});
    }

    // Installed, the manual is the one in share/corvane, found from the program's bin folder;
    // one that is missing there is reported with that path.
    void installedManualComesFromTheSharedFiles_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("present") << true;
        QTest::newRow("missing") << false;
    }

    void installedManualComesFromTheSharedFiles()
    {
        QFETCH(bool, present);
        Tedlf &w = open();
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid());
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")) && QDir(prefix.path()).mkpath(QStringLiteral("share/corvane")));
        const QString manual = prefix.filePath(QStringLiteral("share/corvane/Corvane.pdf"));
        if (present)
            QVERIFY(TestFiles::write(manual, "%PDF-1.4\n"));
        AppPaths::setProgramFolder(prefix.filePath(QStringLiteral("bin")));
        QVERIFY(!AppPaths::isPortable());

        w.findChild<QAction *>(QStringLiteral("English1"))->trigger();

        AppPaths::setProgramFolder(m_dir->path());
        if (present) {
            QCOMPARE(m_opened.urls, QList<QUrl>{QUrl::fromLocalFile(manual)});
            QCOMPARE(shown().size(), 0);
        } else {
            QCOMPARE(m_opened.urls, QList<QUrl>());
            QCOMPARE(messages(), QStringList{QDir::toNativeSeparators(manual) + "  Not Found"});
        }
    }

    void aboutTellsTheVersion()
    {
        Tedlf &w = open();
        w.About1->trigger();
        QCOMPARE(shown().size(), 1);
        QCOMPARE(shown().first().caption, QStringLiteral("About Corvane"));
        QCOMPARE(shown().first().text, QStringLiteral("Corvane " CORVANE_VERSION "\nLive edit logger for multi-camera productions."));
    }

    void onlineSupportAsksFirst_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("notFound");
        QTest::newRow("OK, program present") << true << true << true << false;
        QTest::newRow("OK, program missing") << true << false << false << true;
        QTest::newRow("Cancel") << false << true << false << false;
        QTest::newRow("Cancel, program missing") << false << false << false << false;
    }

    void onlineSupportAsksFirst()
    {
        QFETCH(bool, confirm);
        QFETCH(bool, present);
        QFETCH(bool, opened);
        QFETCH(bool, notFound);
        const QString program = programFile(QStringLiteral("kxhelp.exe"));
        if (present)
            QVERIFY(TestFiles::write(program, "MZ"));
        Tedlf &w = openShown();
        m_dialogs->then(confirm ? DialogScript::ok() : DialogScript::cancel());

        w.OnlineSupport1->trigger();

        QVERIFY(!shown().isEmpty());
        QCOMPARE(shown()[0].kind, QStringLiteral("query"));
        QCOMPARE(shown()[0].caption, QStringLiteral("OnLine Support"));
        QCOMPARE(shown()[0].text, "Online Support is only available by prior agreement\nTelephone " + Tedlf::SupportTelephone);
        QCOMPARE(m_opened.urls, opened ? QList<QUrl>{QUrl::fromLocalFile(program)} : QList<QUrl>());
        QCOMPARE(messages(), notFound ? QStringList{QDir::toNativeSeparators(program) + "  Not Found"} : QStringList());
    }
};

QTEST_MAIN(TestFunctionKeys)
#include "tst_function_keys.moc"
