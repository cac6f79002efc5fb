// The windows on a real desktop: an X display with the openbox window manager, of the screen
// size the suite chose (CORVANE_X11_LAYOUT). Windows have frames there, the window manager
// places, focuses and closes them, and keys come through the X server (xdotool), so placement,
// focus and shortcuts are tested as an operator meets them. Every function runs on the layout
// with a panel; the ones whose checks depend on the screen's size are named in
// tests/corvane/CMakeLists.txt and run on every size (a new one of that kind goes there too).

#include "CaptureJournal.h"
#include "CaptureListFollower.h"
#include "KxDialog.h"
#include "KxeButton.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "ProgramWindows.h"
#include "ScreenPlacement.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

// Sends keys through the X server to the window that has the focus, as a keyboard would.
bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The part of the screen windows may use.
QRect workArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

bool framed(const QWidget &window)
{
    return ScreenPlacement::knownFrame(&window).has_value();
}

// The visible top-level windows of the program, by class name and object name.
QStringList visibleWindows()
{
    QStringList windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            windows << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(':') + widget->objectName();
    }
    windows.sort();
    return windows;
}

// Runs action on the first modal dialog that comes up, from inside its own event loop (a test
// waiting for it outside would wait until the dialog ends).
class WhenModal : public QObject {
public:
    explicit WhenModal(std::function<void(QWidget *)> action) : m_action(std::move(action))
    {
        m_poll.setInterval(10);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog || !dialog->isVisible())
                return;
            m_poll.stop();
            m_action(dialog);
            m_done = true;
        });
        m_poll.start();
    }
    bool done() const { return m_done; }

private:
    std::function<void(QWidget *)> m_action;
    QTimer m_poll;
    bool m_done = false;
};

} // namespace

class TestDesktopX11 : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<ProgramWindows> m_windows;
    Tedlf *m_edlf = nullptr;
    Tmidiiof *m_midiiof = nullptr;

    // The program's windows made as at its start, the capture window shown and framed.
    void start()
    {
        m_windows = std::make_unique<ProgramWindows>();
        QVERIFY(m_windows->open());
        m_edlf = &m_windows->edlf();
        m_midiiof = &m_windows->midiiof();
        QTRY_VERIFY(framed(*m_edlf));
    }

    // Closed as by the window's close box: the placements go to the settings file.
    void stop()
    {
        m_edlf = nullptr;
        m_midiiof = nullptr;
        m_windows.reset();
    }

    static QString onScreen(const QWidget &window)
    {
        const QRect frame = window.frameGeometry();
        return QStringLiteral("%1 at %2,%3 %4x%5 in the work area %6,%7 %8x%9")
            .arg(window.objectName())
            .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
            .arg(workArea().x()).arg(workArea().y()).arg(workArea().width()).arg(workArea().height());
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        qInfo("layout %s, work area %d,%d %dx%d", qPrintable(qEnvironmentVariable("CORVANE_X11_LAYOUT")), workArea().x(),
              workArea().y(), workArea().width(), workArea().height());
    }

    void init()
    {
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        stop();
        m_folder.reset();
    }

    void everyWindowStartsWholeOnTheScreen()
    {
        start();
        QTRY_VERIFY2(workArea().contains(m_edlf->frameGeometry()), qPrintable(onScreen(*m_edlf)));
        // Its client area as designed wherever the screen has room for it.
        const QSize designed = m_edlf->centralWidget()->size();
        if (workArea().height() >= 800)
            QCOMPARE(designed, QSize(Tedlf::DesignClientWidth, Tedlf::DesignClientHeight));

        // The device window at its first opening: beside the capture window where the screen has
        // room, whole on the screen in any case.
        m_edlf->kusbClick();
        QVERIFY(QTest::qWaitForWindowExposed(m_midiiof));
        QTRY_VERIFY(framed(*m_midiiof));
        QTRY_VERIFY2(workArea().contains(m_midiiof->frameGeometry()), qPrintable(onScreen(*m_midiiof)));
        const QRect capture = m_edlf->frameGeometry();
        const int room = std::max(workArea().right() - capture.right(), capture.left() - workArea().left());
        if (room >= m_midiiof->frameGeometry().width())
            QVERIFY2(!m_midiiof->frameGeometry().intersects(capture), qPrintable(onScreen(*m_midiiof)));
        // Hidden and shown again, it stays where it was.
        const QPoint place = m_midiiof->frameGeometry().topLeft();
        m_edlf->kusbClick();
        QTRY_VERIFY(!m_midiiof->isVisible());
        m_edlf->kusbClick();
        QVERIFY(QTest::qWaitForWindowExposed(m_midiiof));
        QTRY_COMPARE(m_midiiof->frameGeometry().topLeft(), place);
        m_midiiof->hide();

        // The Desktop Setup window opens at the pointer, whole on the screen, wherever the pointer
        // is; so do the program's messages.
        for (const QPoint corner : {workArea().topLeft(), workArea().bottomRight(), workArea().center()}) {
            QCursor::setPos(corner);
            TKxSettingsForm setup(*SettingsFile);
            setup.show();
            QVERIFY(QTest::qWaitForWindowExposed(&setup));
            QTRY_VERIFY(framed(setup));
            QTRY_VERIFY2(workArea().contains(setup.frameGeometry()), qPrintable(onScreen(setup)));
            setup.close();
        }
        QString message;
        QTimer::singleShot(0, this, [&message] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QTRY_VERIFY(framed(*dialog));
            message = onScreen(*dialog);
            if (!workArea().contains(dialog->frameGeometry()))
                message.prepend(QStringLiteral("off screen: "));
            static_cast<QDialog *>(dialog)->reject();
        });
        DlgMessage(QStringLiteral("A message"));
        QVERIFY2(!message.isEmpty() && !message.startsWith(QLatin1String("off screen")), qPrintable(message));
    }

    void savedPlacementComesBackTheSame()
    {
        // Each start restores the outer placement the last one saved: nothing grows or creeps.
        start();
        const QRect area = workArea();
        const QRect chosen(area.x() + 30, area.y() + 20, std::min(area.width() - 60, 900), std::min(area.height() - 40, 700));
        m_edlf->move(chosen.topLeft());
        m_edlf->resize(chosen.size().shrunkBy(ScreenPlacement::frameOf(m_edlf)));
        QTRY_COMPARE(m_edlf->frameGeometry(), chosen);
        for (int run = 1; run <= 3; ++run) {
            stop();
            QVERIFY(!SettingsFile);
            const IniFile ini(m_folder->settingsPath());
            auto stored = [&ini](const char *key) {
                return ini.readString(QStringLiteral("Current"), QStringLiteral("<FORM>edlf") + QLatin1String(key), QString());
            };
            QCOMPARE(QRect(stored("_FLeft").toInt(), stored("_FTop").toInt(), stored("_FWidth").toInt(),
                           stored("_FHeight").toInt()),
                     chosen);
            start();
            QTRY_COMPARE(m_edlf->frameGeometry(), chosen);
        }
    }

    void completionPopupGoesWithTheFileDialog()
    {
        QVERIFY(TestFiles::write(m_folder->file(QStringLiteral("big.gpo")), "0001,0001,10:00:00:00,10:00:00:00,Opening\r\n"));
        start();
        m_edlf->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_edlf));

        // Ctrl+L, a name typed far enough for the completion popup, then Enter: the file loads and
        // nothing of the dialog is left on screen.
        bool popupShown = false;
        WhenModal typeName([&popupShown](QWidget *dialog) {
            QVERIFY(qobject_cast<QFileDialog *>(dialog));
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QTRY_VERIFY(name->hasFocus());
            QVERIFY(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("50"), QStringLiteral("big")}));
            QTRY_COMPARE(name->text(), QStringLiteral("big"));
            QTRY_VERIFY(QApplication::activePopupWidget());
            popupShown = true;
            QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
        });
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+l")}));
        QTRY_VERIFY(typeName.done());
        QVERIFY(popupShown);
        QTRY_VERIFY(!m_edlf->OpenDlg()->isVisible());
        QTRY_COMPARE(m_edlf->windowTitle(), QStringLiteral("big"));
        QTRY_COMPARE(m_edlf->captureList().count(), 1);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QCOMPARE(visibleWindows(), QStringList{QStringLiteral("Tedlf:edlf")});

        // The next key reaches the window: Ctrl+M asks for the file-name details.
        QTRY_VERIFY(QApplication::activeWindow() == m_edlf);
        QString asked;
        WhenModal answer([&asked](QWidget *dialog) {
            auto *entry = qobject_cast<TKxDlg *>(dialog);
            QVERIFY(entry);
            asked = entry->STR_Text->text();
            // Escape through the X server as well: the dialog has the focus.
            QVERIFY(QTest::qWaitForWindowActive(entry));
            QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        });
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+m")}));
        QTRY_VERIFY(answer.done());
        QCOMPARE(asked, QStringLiteral("Enter File Name Details"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        // Back at the capture window, its keys work again.
        QTRY_VERIFY(QApplication::activeWindow() == m_edlf);
    }

    // The capture list on a real display: rows the interface sends keep the newest row in view
    // while the list is at its end, a wheel turn up stops that and a turn back down resumes it;
    // the row the function keys comment is marked on screen; a right-click through the X server
    // selects the row under the pointer and edits its comment.
    void captureListFollowsAndRightClickComments()
    {
        QVERIFY(TestFiles::write(m_folder->file(QStringLiteral("midiio.ini")),
                                 "[midiio]\r\nmidiin=Orvex In\r\nmidiout=Orvex Out\r\n"));
        start();
        QTRY_VERIFY(m_midiiof->OpenIn->isChecked());
        Tedlf &w = *m_edlf;
        QTableView *list = w.List1;
        auto inView = [list](int row) {
            return list->viewport()->rect().contains(list->visualRect(list->model()->index(row, 0)));
        };
        // Camera 1 at 10:23:45:12, as the interface sends it.
        const QByteArray event = QByteArray::fromHex("F07E00240601001023451200F7");
        for (int n = 0; n < 40; ++n) {
            QVERIFY(m_windows->midi().send(0, event));
            QTRY_COMPARE(list->model()->rowCount(), n + 1);
            QVERIFY2(inView(n), qPrintable(QStringLiteral("row %1 not in view").arg(n)));
        }
        QVERIFY(!inView(0));

        // The mark on the screen itself, and a picture of it for a person to look at.
        const QRect last = list->visualRect(list->model()->index(39, CaptureList::CommentColumn));
        const QPoint onFrame = list->viewport()->mapToGlobal(QPoint(last.left() + 40, last.top()));
        const QPoint inside = list->viewport()->mapToGlobal(QPoint(last.left() + 40, last.center().y()));
        auto screenColour = [](const QPoint &at) {
            return QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixelColor(0, 0);
        };
        QTRY_COMPARE(screenColour(onFrame), CaptureListFollower::MarkFrame);
        QCOMPARE(screenColour(inside), CaptureListFollower::MarkBackground);

        // A right-click on a row that is not selected: it becomes the selection and its comment
        // is edited.
        list->selectRow(38);
        const int target = 36;
        QVERIFY(inView(target));
        QString offered;
        WhenModal answer([&offered](QWidget *dialog) {
            // Answered whatever it is, so that no dialog is left open over the test.
            auto *entry = qobject_cast<TKxDlg *>(dialog);
            if (!entry) {
                dialog->close();
                return;
            }
            offered = entry->STR_Text->text();
            entry->STR_Edit->setText(QStringLiteral("Wide"));
            QTest::mouseClick(entry->STR_OK, Qt::LeftButton);
        });
        const QPoint at = list->viewport()->mapToGlobal(list->visualRect(list->model()->index(target, 1)).center());
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("3")}));
        QTRY_VERIFY(answer.done());
        QCOMPARE(offered, QStringLiteral("Update Comment\nItem 0037 at 10:23:45:12, camera 1"));
        QTRY_COMPARE(w.captureList().text(target, CaptureList::CommentColumn), QStringLiteral("Wide"));
        QCOMPARE(w.selectedRows(), QList<int>{target});
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Where the dialog was, the list shows again, with the mark on the row the keys would
        // comment now (the row chosen, while the list has the focus; else the newest).
        const auto markedFrame = [&] {
            const QRect marked = list->visualRect(list->model()->index(w.listFollower()->markedRow(), CaptureList::CommentColumn));
            return list->viewport()->mapToGlobal(QPoint(marked.left() + 40, marked.top()));
        };
        QTRY_COMPARE(screenColour(markedFrame()), CaptureListFollower::MarkFrame);
        if (const QString folder = qEnvironmentVariable("CORVANE_TEST_PICTURES"); !folder.isEmpty()) {
            const QRect frame = w.frameGeometry();
            QVERIFY(QGuiApplication::primaryScreen()
                        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                        .save(QDir(folder).filePath(QStringLiteral("capture-list-marked-%1.png").arg(qEnvironmentVariable("CORVANE_X11_LAYOUT")))));
        }

        // The wheel turned up: the view stays there while rows come.
        const QPoint middle = list->viewport()->mapToGlobal(list->viewport()->rect().center());
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(middle.x()), QString::number(middle.y()),
                         QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("3"), QStringLiteral("4")}));
        QTRY_VERIFY(!inView(39));
        const int scrolled = list->verticalScrollBar()->value();
        for (int n = 40; n < 45; ++n) {
            QVERIFY(m_windows->midi().send(0, event));
            QTRY_COMPARE(list->model()->rowCount(), n + 1);
            QCOMPARE(list->verticalScrollBar()->value(), scrolled);
        }
        // The "Follow" control at the foot of the list: following again, the newest row in view.
        QToolButton *control = w.listFollower()->followControl();
        QVERIFY(control->isVisible());
        const QPoint onControl = control->mapToGlobal(control->rect().center());
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(onControl.x()), QString::number(onControl.y()),
                         QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_VERIFY(inView(44));
        for (int n = 45; n < 50; ++n) {
            QVERIFY(m_windows->midi().send(0, event));
            QTRY_COMPARE(list->model()->rowCount(), n + 1);
            QVERIFY(inView(n));
        }
    }

    // Switches arrive every 100 ms while the operator comments a row through the Comment button,
    // the right-click and the keys F2 to F9: each comment lands on the row the pointer chose,
    // however many rows came meanwhile.
    void commentsLandOnTheRowThePointerChose()
    {
        QVERIFY(TestFiles::write(m_folder->file(QStringLiteral("midiio.ini")),
                                 "[midiio]\r\nmidiin=Orvex In\r\nmidiout=Orvex Out\r\n"));
        start();
        QTRY_VERIFY(m_midiiof->OpenIn->isChecked());
        Tedlf &w = *m_edlf;
        QTableView *list = w.List1;
        CaptureList &rows = w.captureList();
        int sent = 0;
        QTimer switches;
        switches.setInterval(100);
        connect(&switches, &QTimer::timeout, this, [this, &sent] {
            // Cameras 1 and 2 in turn, at 10:23:45:12.
            const QByteArray event = QByteArray::fromHex(sent % 2 ? "F07E00240601001023451200F7" : "F07E00240602001023451200F7");
            if (m_windows->midi().send(0, event))
                ++sent;
        });
        switches.start();
        // The pointer away from the list, where an earlier test may have left it.
        const QPoint away = w.Memo1->mapToGlobal(w.Memo1->rect().center());
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(away.x()), QString::number(away.y())}));
        QTRY_VERIFY_WITH_TIMEOUT(rows.count() >= 40, 20000);
        QTRY_VERIFY(w.listFollower()->following() && !w.listFollower()->paused());

        auto xdo = [](QStringList arguments) { return xdotool(arguments); };
        auto pointAt = [list](const QPoint &viewportPoint) {
            const QPoint global = list->viewport()->mapToGlobal(viewportPoint);
            return QStringList{QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())};
        };
        auto rowOf = [&rows](const QString &item) {
            for (int row = 0; row < rows.count(); ++row) {
                if (rows.text(row, CaptureList::ItemColumn) == item)
                    return row;
            }
            return -1;
        };
        auto commentOf = [&](const QString &item) {
            const int row = rowOf(item);
            return row < 0 ? QStringLiteral("<gone>") : rows.text(row, CaptureList::CommentColumn);
        };
        auto rowsWithComment = [&rows](const QString &comment) {
            int n = 0;
            for (int row = 0; row < rows.count(); ++row)
                n += rows.text(row, CaptureList::CommentColumn) == comment;
            return n;
        };
        // The pointer onto a row in the middle of the list; rows go on arriving below while it
        // rests there. The item under it is the one chosen.
        auto aim = [&]() -> QString {
            const QPoint middle(list->viewport()->width() / 3, list->viewport()->height() / 2);
            if (!xdo(pointAt(middle)))
                return {};
            if (!QTest::qWaitFor([&] { return w.listFollower()->paused(); }, 5000))
                return {};
            const int before = rows.count();
            if (!QTest::qWaitFor([&] { return rows.count() >= before + 3; }, 10000))
                return {};
            const QModelIndex under = list->indexAt(middle);
            return under.isValid() ? rows.text(under.row(), CaptureList::ItemColumn) : QString();
        };
        auto answerWith = [](const QString &text) {
            return std::make_unique<WhenModal>([text](QWidget *dialog) {
                auto *entry = qobject_cast<TKxDlg *>(dialog);
                if (!entry) {
                    dialog->close();
                    return;
                }
                entry->STR_Edit->setText(text);
                QTest::mouseClick(entry->STR_OK, Qt::LeftButton);
            });
        };

        // The Comment button: a click chooses the row, then the button.
        {
            const QString item = aim();
            QVERIFY(!item.isEmpty());
            QVERIFY(xdo({QStringLiteral("click"), QStringLiteral("1")}));
            QTRY_COMPARE(w.selectedRows().size(), 1);
            const QPoint button = w.Kcomment->mapToGlobal(w.Kcomment->rect().center());
            auto answer = answerWith(QStringLiteral("by the button"));
            QVERIFY(xdo({QStringLiteral("mousemove"), QString::number(button.x()), QString::number(button.y()),
                         QStringLiteral("click"), QStringLiteral("1")}));
            QTRY_VERIFY_WITH_TIMEOUT(answer->done(), 10000);
            QTRY_COMPARE(commentOf(item), QStringLiteral("by the button"));
            QCOMPARE(rowsWithComment(QStringLiteral("by the button")), 1);
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
        // The right-click.
        {
            const QString item = aim();
            QVERIFY(!item.isEmpty());
            auto answer = answerWith(QStringLiteral("by the menu"));
            QVERIFY(xdo({QStringLiteral("click"), QStringLiteral("3")}));
            QTRY_VERIFY_WITH_TIMEOUT(answer->done(), 10000);
            QTRY_COMPARE(commentOf(item), QStringLiteral("by the menu"));
            QCOMPARE(rowsWithComment(QStringLiteral("by the menu")), 1);
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
        // F2 to F9: a click chooses the row, each key writes its caption there.
        {
            QVERIFY(QTest::qWaitForWindowActive(&w));
            const QString item = aim();
            QVERIFY(!item.isEmpty());
            QVERIFY(xdo({QStringLiteral("click"), QStringLiteral("1")}));
            QTRY_VERIFY(list->hasFocus());
            QPushButton *keys[] = {w.F2, w.F3, w.F4, w.F5, w.F6, w.F7, w.F8, w.F9};
            for (int n = 2; n <= 9; ++n) {
                QPushButton *key = keys[n - 2];
                key->setText(QStringLiteral("key F%1").arg(n));
                QVERIFY(xdo({QStringLiteral("key"), QStringLiteral("F%1").arg(n)}));
                QTRY_COMPARE(commentOf(item), key->text());
                QCOMPARE(rowsWithComment(key->text()), 1);
            }
        }
        // End: the newest rows again, and the keys comment the newest row.
        const int before = rows.count();
        QVERIFY(xdo({QStringLiteral("key"), QStringLiteral("End")}));
        QTRY_VERIFY(!w.listFollower()->paused());
        QTRY_VERIFY_WITH_TIMEOUT(rows.count() >= before + 3, 10000);
        switches.stop();
        QTRY_COMPARE(rows.count(), sent);
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(rows.index(rows.count() - 1, 0))));
    }

    void windowManagerCloseSavesThePlacement()
    {
        // Alt+F4 is the window manager's close: the capture window closes as by its close box
        // and the desktop keeps where it was.
        start();
        m_edlf->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_edlf));
        const QRect frame = m_edlf->frameGeometry();
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")}));
        QTRY_VERIFY(!m_edlf->isVisible());
        QVERIFY(!SettingsFile);
        const IniFile ini(m_folder->settingsPath());
        QCOMPARE(ini.readString(QStringLiteral("Current"), QStringLiteral("<FORM>edlf_FLeft"), QString()),
                 QString::number(frame.x()));
        QCOMPARE(ini.readString(QStringLiteral("Current"), QStringLiteral("<FORM>edlf_FHeight"), QString()),
                 QString::number(frame.height()));
    }

    // Menu Edit, "Undo" with the mouse through the X server and Ctrl+Z from the keyboard take
    // back the operator's changes; then Alt+F4 with rows that were never saved leaves the journal
    // for the next start. With CORVANE_SHOT_DIR set, a picture of the open menu is kept there.
    void undoFromTheMenuAndTheKeyboardThenAltF4KeepsTheJournal()
    {
        start();
        const QString journal = m_folder->file(QStringLiteral("corvane.journal"));
        m_edlf->StartJournal(journal);
        for (const char *camera : {"0001", "0002", "0004"})
            m_edlf->AddGpoEvent(QStringLiteral("10:00:00:00"), QStringLiteral("10:00:00:00"), QLatin1String(camera));
        m_edlf->captureList().announcePendingRows();
        m_edlf->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_edlf));
        QVERIFY(!m_edlf->Undo1->isEnabled());

        m_edlf->kdeleteall->click();
        QCOMPARE(m_edlf->captureList().count(), 0);
        QVERIFY(m_edlf->Undo1->isEnabled());
        const auto clickAt = [](const QPoint &global) {
            return xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                            QStringLiteral("click"), QStringLiteral("1")});
        };
        const QRect edit = m_edlf->MainMenu1->actionGeometry(m_edlf->Edit1->menuAction());
        QVERIFY(clickAt(m_edlf->MainMenu1->mapToGlobal(edit.center())));
        QTRY_VERIFY(m_edlf->Edit1->isVisible());
        QTest::qWait(100); // drawn
        const QString shots = qEnvironmentVariable("CORVANE_SHOT_DIR");
        if (!shots.isEmpty()) {
            const QRect area = m_edlf->frameGeometry().united(m_edlf->Edit1->geometry());
            const QPixmap picture = m_edlf->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height() / 3);
            QVERIFY(picture.save(QDir(shots).filePath(QStringLiteral("edit-undo-menu.png"))));
        }
        QVERIFY(m_edlf->Edit1->actionGeometry(m_edlf->Undo1).isValid());
        QVERIFY(clickAt(m_edlf->Edit1->mapToGlobal(m_edlf->Edit1->actionGeometry(m_edlf->Undo1).center())));
        QTRY_COMPARE(m_edlf->captureList().count(), 3);
        QVERIFY(!m_edlf->Undo1->isEnabled());

        // A function key's comment, then Ctrl+Z through the X server.
        QTRY_VERIFY(QApplication::activeWindow() == m_edlf);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F2")}));
        QTRY_COMPARE(m_edlf->captureList().text(2, CaptureList::CommentColumn), m_edlf->F2->text());
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+z")}));
        QTRY_COMPARE(m_edlf->captureList().text(2, CaptureList::CommentColumn), QString());

        // The window manager's close with three rows never saved: the journal stays.
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")}));
        QTRY_VERIFY(!m_edlf->isVisible());
        QVERIFY(QFile::exists(journal));
        QCOMPARE(CaptureJournal::read(journal).rows().size(), 3);
    }
};

QTEST_MAIN(TestDesktopX11)
#include "tst_desktop_x11.moc"
