// The windows on a real desktop: an X display with the openbox window manager, of the screen
// size the suite chose (CORVANE_X11_LAYOUT). Windows have frames there, the window manager
// places, focuses and closes them, and keys come through the X server (xdotool), so placement,
// focus and shortcuts are tested as an operator meets them.

#include "KxDialog.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "ProgramWindows.h"
#include "ScreenPlacement.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "edlu.h"
#include "midiiou.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>

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
};

QTEST_MAIN(TestDesktopX11)
#include "tst_desktop_x11.moc"
