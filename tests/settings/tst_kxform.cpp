#include "AppPaths.h"
#include "KxForm.h"
#include "KxSettings.h"
#include "ScreenPlacement.h"
#include "TestFiles.h"

#include <QApplication>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace SettingsKeys;

namespace {

const QByteArray Defaults = "[APP]\r\nExe=corvane\r\n[USER\\<FACTORY DEFAULT>]\r\ncheckdisp=1\r\n";

// A settings-aware window with a menu bar and a client area, like the program's windows.
class Form : public TKxForm {
public:
    explicit Form(const QString &name, TFormBorderStyle style = bsSizeable)
    {
        setObjectName(name);
        setBorderStyle(style);
        menuBar()->addMenu(QStringLiteral("File"));
        setCentralWidget(new QWidget);
        setGeometry(100, 100, 400, 300);
    }
};

} // namespace

class TestKxForm : public QObject {
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    TKxSettingsFile &s() { return *SettingsFile; }
    QString key(const QString &form, const QString &suffix) { return FormMarker + form + suffix; }
    QString stored(const QString &form, const QString &suffix)
    {
        return s().ReadValue(Current, key(form, suffix), QStringLiteral("-"));
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        AppPaths::setProgramFolder(m_dir->path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("corvane.def")), Defaults));
        CreateSettingsFile([](const QString &m) { QFAIL(qPrintable(m)); });
        // The primary screen, and a second one to its left.
        ScreenPlacement::setScreensForTests(ScreenLayout{{QRect(0, 0, 1280, 1024), QRect(-1280, 0, 1280, 1024)}, 0});
    }

    void cleanup()
    {
        CloseSettingsFile();
        ScreenPlacement::setScreensForTests(std::nullopt);
        delete m_dir;
    }

    void limitsOnOneScreen_data()
    {
        QTest::addColumn<bool>("checkdisp");
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QRect>("restored");
        // Single monitor: a window starts whole on the primary screen, shrunk if it is larger.
        QTest::newRow("left beyond the right edge") << true << QRect(1200, 100, 400, 300) << QRect(880, 100, 400, 300);
        QTest::newRow("left far out to the left") << true << QRect(-250, 100, 400, 300) << QRect(0, 100, 400, 300);
        QTest::newRow("left a little out") << true << QRect(-150, 100, 400, 300) << QRect(0, 100, 400, 300);
        QTest::newRow("bottom quarter below") << true << QRect(10, 1000, 400, 300) << QRect(10, 724, 400, 300);
        QTest::newRow("bottom a little below") << true << QRect(10, 900, 400, 300) << QRect(10, 724, 400, 300);
        QTest::newRow("above the top") << true << QRect(10, -60, 400, 300) << QRect(10, 0, 400, 300);
        QTest::newRow("on the other screen") << true << QRect(-900, 100, 400, 300) << QRect(0, 100, 400, 300);
        QTest::newRow("larger than the screen") << true << QRect(300, 200, 1400, 1100) << QRect(0, 0, 1280, 1024);
        QTest::newRow("inside stays") << true << QRect(20, 30, 400, 300) << QRect(20, 30, 400, 300);
        // Without limits the window stays where it was saved, as long as its title bar can be
        // reached on some screen.
        QTest::newRow("off: unchanged") << false << QRect(1200, 1000, 400, 300) << QRect(1200, 1000, 400, 300);
        QTest::newRow("off: on the other screen") << false << QRect(-900, 100, 400, 300) << QRect(-900, 100, 400, 300);
        QTest::newRow("off: title bar above every screen") << false << QRect(-250, -60, 400, 300)
                                                             << QRect(-250, 0, 400, 300);
        QTest::newRow("off: right of every screen") << false << QRect(1500, 200, 400, 300)
                                                      << QRect(1232, 200, 400, 300);
    }

    void limitsOnOneScreen()
    {
        QFETCH(bool, checkdisp);
        QFETCH(QRect, saved);
        QFETCH(QRect, restored);
        s().SetBool(CheckDisplay, checkdisp);
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FLeft")), saved.x());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FTop")), saved.y());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FWidth")), saved.width());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FHeight")), saved.height());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FState")), 1);
        Form form(QStringLiteral("w"));
        s().RestoreWindowPlacement(&form);
        QCOMPARE(form.frameGeometry(), restored);
    }

    void limitsOnTheVirtualDesktop_data()
    {
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<QRect>("restored");
        // Multiple monitors: whole on the screen the window lands on.
        QTest::newRow("on the left screen, above its top") << QRect(-1100, -60, 400, 300) << QRect(-1100, 0, 400, 300);
        QTest::newRow("across both screens, more on the left") << QRect(-300, 100, 400, 300)
                                                                << QRect(-400, 100, 400, 300);
        QTest::newRow("beyond the right edge") << QRect(1500, 100, 400, 300) << QRect(880, 100, 400, 300);
        QTest::newRow("beyond the left edge") << QRect(-1500, 100, 400, 300) << QRect(-1280, 100, 400, 300);
    }

    void limitsOnTheVirtualDesktop()
    {
        QFETCH(QRect, saved);
        QFETCH(QRect, restored);
        s().SetMultiDisplay(true);
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FLeft")), saved.x());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FTop")), saved.y());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FWidth")), saved.width());
        s().SetInteger(key(QStringLiteral("w"), QStringLiteral("_FHeight")), saved.height());
        Form form(QStringLiteral("w"));
        s().RestoreWindowPlacement(&form);
        QCOMPARE(form.frameGeometry(), restored);
    }

    void windowWithoutKeysKeepsItsDesign()
    {
        Form form(QStringLiteral("w"));
        const QRect designed = form.frameGeometry();
        s().RestoreWindowPlacement(&form);
        QCOMPARE(form.frameGeometry(), designed);
    }

    void dialogBorderNeverKeepsItsSize()
    {
        Form form(QStringLiteral("dlg"), TKxForm::bsDialog);
        s().SaveWindowPlacement(&form);
        QCOMPARE(stored(QStringLiteral("dlg"), QStringLiteral("_FLeft")), QStringLiteral("100"));
        QCOMPARE(stored(QStringLiteral("dlg"), QStringLiteral("_FWidth")), QStringLiteral("-"));
        QCOMPARE(stored(QStringLiteral("dlg"), QStringLiteral("_FHeight")), QStringLiteral("-"));
        s().SetInteger(key(QStringLiteral("dlg"), QStringLiteral("_FWidth")), 999);
        s().SetInteger(key(QStringLiteral("dlg"), QStringLiteral("_FHeight")), 999);
        s().RestoreWindowPlacement(&form);
        QCOMPARE(form.frameGeometry().size(), QSize(400, 300));
    }

    void saveWritesEveryKey()
    {
        Form form(QStringLiteral("w"));
        QFont font = form.font();
        font.setPointSize(11);
        font.setFamily(QStringLiteral("DejaVu Sans"));
        form.setFont(font);
        form.show();
        s().SaveWindowPlacement(&form);
        const QStringList keys = s().settingsStore().keys(Current);
        QCOMPARE(keys, QStringList({"<FORM>w_FLeft", "<FORM>w_FTop", "<FORM>w_FState", "<FORM>w_FWidth",
                                    "<FORM>w_FHeight", "<FORM>w_FontSize", "<FORM>w_FontName", "<FORM>w_FVisible",
                                    "<FORM>w_FAutoHideTitleBar"}));
        QCOMPARE(stored(QStringLiteral("w"), QStringLiteral("_FontSize")), QStringLiteral("11"));
        QCOMPARE(stored(QStringLiteral("w"), QStringLiteral("_FontName")), QStringLiteral("DejaVu Sans"));
        QCOMPARE(stored(QStringLiteral("w"), QStringLiteral("_FVisible")), QStringLiteral("1"));

        Form other(QStringLiteral("w"));
        s().RestoreWindowPlacement(&other);
        QCOMPARE(other.font().pointSize(), 11);
        QCOMPARE(other.font().family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(other.frameGeometry(), form.frameGeometry());
        // Not the main window: the stored visibility applies.
        QVERIFY(other.isVisible());
    }

    void minimizeThenCloseKeepsTheNormalGeometry()
    {
        // The main window: the first settings-aware window, whose close saves every window.
        CloseSettingsFile();
        QFile::remove(AppPaths::settingsFilePath());
        Form *main = new Form(QStringLiteral("edlf"));
        QVERIFY(main->ownsSettingsFile());
        main->show();
        main->setGeometry(120, 80, 500, 400);
        const QRect normal = main->frameGeometry();
        main->setWindowState(Qt::WindowMinimized);
        QVERIFY(main->isMinimized());
        main->close();
        delete main;
        QVERIFY(!SettingsFile);

        CreateSettingsFile();
        QCOMPARE(stored(QStringLiteral("edlf"), QStringLiteral("_FState")), QStringLiteral("2"));
        QCOMPARE(stored(QStringLiteral("edlf"), QStringLiteral("_FLeft")), QString::number(normal.x()));
        QCOMPARE(stored(QStringLiteral("edlf"), QStringLiteral("_FTop")), QString::number(normal.y()));
        QCOMPARE(stored(QStringLiteral("edlf"), QStringLiteral("_FWidth")), QString::number(normal.width()));
        QCOMPARE(stored(QStringLiteral("edlf"), QStringLiteral("_FHeight")), QString::number(normal.height()));
        // The next start restores it minimized, with its normal edges for later.
        Form again(QStringLiteral("edlf"));
        s().RestoreWindowPlacement(&again);
        QVERIFY(again.windowState() & Qt::WindowMinimized);
        again.show();
        again.setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(again.frameGeometry(), normal);
    }

    void exitCommandSavesNothing()
    {
        CloseSettingsFile();
        QFile::remove(AppPaths::settingsFilePath());
        Form *main = new Form(QStringLiteral("edlf"));
        main->show();
        const QByteArray before = TestFiles::read(AppPaths::settingsFilePath());
        main->closeWithoutCloseMessage();
        QVERIFY(!main->isVisible());
        QVERIFY(SettingsFile);
        QCOMPARE(TestFiles::read(AppPaths::settingsFilePath()), before);
        delete main;
    }

    void hidingTheTitleBarKeepsTheClientArea()
    {
        Form form(QStringLiteral("w"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint client = form.centralWidget()->mapToGlobal(QPoint(0, 0));
        const int clientHeight = form.geometry().height();
        const int menu = form.menuBar()->height();
        form.setAutoHideTitleBar(true);
        QVERIFY(form.TitleBarHidden());
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!form.menuBar()->isVisible());
        QTRY_COMPARE(form.centralWidget()->mapToGlobal(QPoint(0, 0)), client);
        // The window now starts where its client area below the menu started.
        QCOMPARE(form.geometry().top(), client.y());
        QCOMPARE(form.geometry().height(), clientHeight - menu);
        form.setAutoHideTitleBar(false);
        QVERIFY(!form.TitleBarHidden());
        QVERIFY(form.menuBar()->isVisible());
        QTRY_COMPARE(form.centralWidget()->mapToGlobal(QPoint(0, 0)), client);
    }

    void hitTestsHideAndShowTheTitleBar()
    {
        Form form(QStringLiteral("w"));
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.setAutoHideTitleBar(true);
        form.setAutoHideTitleBar(false);
        form.ShowTitleBar();
        form.setAutoHideTitleBar(true);
        // The top edge shows a hidden title bar of the active window.
        form.handleHitTest(TKxForm::HitZone::TopEdge);
        QVERIFY(!form.TitleBarHidden());
        // Two client-area hit tests (four counted) hide it again.
        form.handleHitTest(TKxForm::HitZone::Client);
        QVERIFY(!form.TitleBarHidden());
        QCOMPARE(form.HideCount(), 2);
        form.handleHitTest(TKxForm::HitZone::Client);
        QVERIFY(form.TitleBarHidden());
        QCOMPARE(form.HideCount(), 0);
        // At the top edge of the hidden title bar: shown; over the top border while shown:
        // hidden at once.
        form.handleHitTest(TKxForm::HitZone::TopEdge);
        QVERIFY(!form.TitleBarHidden());
        form.handleHitTest(TKxForm::HitZone::TopEdge);
        QVERIFY(form.TitleBarHidden());
    }

    void inactiveWindowShowsOnlyWhenAllowed()
    {
        Form form(QStringLiteral("w"));
        form.show();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        form.setAutoHideTitleBar(true);
        QVERIFY(form.TitleBarHidden());
        form.handleHitTest(TKxForm::HitZone::TopEdge);
        QVERIFY(form.TitleBarHidden());
        form.setAutoShowInactiveTitleBar(true);
        form.handleHitTest(TKxForm::HitZone::TopEdge);
        QVERIFY(!form.TitleBarHidden());
    }

    void maximizedWindowNeverHidesItsTitleBar()
    {
        Form form(QStringLiteral("w"));
        form.show();
        form.setAutoHideTitleBar(true);
        QVERIFY(form.TitleBarHidden());
        form.setWindowState(Qt::WindowMaximized);
        QVERIFY(!form.TitleBarHidden());
        form.HideTitleBar();
        QVERIFY(!form.TitleBarHidden());
        // The maximize saved the normal placement first.
        QCOMPARE(stored(QStringLiteral("w"), QStringLiteral("_FState")), QStringLiteral("1"));
    }

    void restoreAllWindowsTellsEachWindow()
    {
        Form first(QStringLiteral("a"));
        Form second(QStringLiteral("b"));
        QSignalSpy spyA(&first, &TKxForm::OnSettingsChange);
        QSignalSpy spyB(&second, &TKxForm::OnSettingsChange);
        s().SetInteger(key(QStringLiteral("b"), QStringLiteral("_FLeft")), 321);
        s().SetInteger(key(QStringLiteral("b"), QStringLiteral("_FVisible")), 1);
        s().SetInteger(key(QStringLiteral("b"), QStringLiteral("_FAutoHideTitleBar")), 1);
        s().RestoreAllWindows();
        QCOMPARE(spyA.size(), 1);
        QCOMPARE(spyB.size(), 1);
        QCOMPARE(spyB.at(0).at(0).value<TKxForm *>(), &second);
        QCOMPARE(second.frameGeometry().x(), 321);
        QVERIFY(second.isVisible());
        QVERIFY(second.AutoHideTitleBar());
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestKxForm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kxform.moc"
