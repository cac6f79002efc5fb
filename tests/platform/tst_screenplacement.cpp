// Window placement over screen layouts that a test display cannot always give: several screens,
// a virtual desktop that begins left of zero, a primary screen that does not begin at (0,0),
// screens of different heights and panels that take part of a screen.

#include "ScreenPlacement.h"

#include <QTest>

Q_DECLARE_METATYPE(ScreenLayout)

namespace {

const QRect Small(0, 0, 1024, 768);
const QRect Medium(0, 0, 1280, 1024);
const QRect Large(0, 0, 1920, 1080);

ScreenLayout one(const QRect &area)
{
    return ScreenLayout{{area}, 0};
}

// The capture window as designed, with a frame of 1, 20, 1, 4.
const QRect CaptureWindow(402, 33, 872, 767);

} // namespace

class TestScreenPlacement : public QObject {
    Q_OBJECT

private slots:
    void limited_data()
    {
        QTest::addColumn<ScreenLayout>("screens");
        QTest::addColumn<bool>("multipleMonitors");
        QTest::addColumn<bool>("checkLimits");
        QTest::addColumn<QRect>("asked");
        QTest::addColumn<QRect>("placed");

        // One screen of each size the program meets; the designed place of the capture window.
        QTest::newRow("1024x768: moved") << one(Small) << false << true << CaptureWindow << QRect(152, 1, 872, 767);
        QTest::newRow("1024x768: moved and shrunk") << one(Small) << false << true << QRect(402, 33, 872, 800)
                                                    << QRect(152, 0, 872, 768);
        QTest::newRow("1280x1024: as designed") << one(Medium) << false << true << CaptureWindow << CaptureWindow;
        QTest::newRow("1920x1080: as designed") << one(Large) << false << true << CaptureWindow << CaptureWindow;
        QTest::newRow("panel at the top and left") << one(QRect(64, 32, 1216, 992)) << false << true
                                                   << QRect(10, 10, 400, 300) << QRect(64, 32, 400, 300);

        // A second screen left of the primary one: the virtual desktop begins at -1280.
        const ScreenLayout leftOfPrimary{{Medium, Medium.translated(-1280, 0)}, 0};
        QTest::newRow("virtual desktop: saved at 1500") << leftOfPrimary << true << true << QRect(1500, 100, 400, 300)
                                                        << QRect(880, 100, 400, 300);
        QTest::newRow("virtual desktop: on the left screen") << leftOfPrimary << true << true
                                                             << QRect(-1200, 100, 400, 300)
                                                             << QRect(-1200, 100, 400, 300);
        QTest::newRow("virtual desktop: beyond its left edge") << leftOfPrimary << true << true
                                                               << QRect(-1500, 100, 400, 300)
                                                               << QRect(-1280, 100, 400, 300);
        QTest::newRow("single monitor: brought to the primary") << leftOfPrimary << false << true
                                                                << QRect(-1200, 100, 400, 300)
                                                                << QRect(0, 100, 400, 300);

        // The primary screen to the right of another one, at (1920,0).
        const ScreenLayout primaryRight{{Large, Medium.translated(1920, 0)}, 1};
        QTest::newRow("primary at 1920: stays on it") << primaryRight << false << true << QRect(2000, 100, 400, 300)
                                                      << QRect(2000, 100, 400, 300);
        QTest::newRow("primary at 1920: right edge") << primaryRight << false << true << QRect(3000, 100, 400, 300)
                                                     << QRect(2800, 100, 400, 300);
        QTest::newRow("primary at 1920: from the other screen") << primaryRight << false << true
                                                                << QRect(100, 100, 400, 300)
                                                                << QRect(1920, 100, 400, 300);
        QTest::newRow("primary at 1920: multiple monitors keep it") << primaryRight << true << true
                                                                    << QRect(100, 100, 400, 300)
                                                                    << QRect(100, 100, 400, 300);
        QTest::newRow("primary at 1920: too tall") << primaryRight << false << true << QRect(2000, 500, 400, 1200)
                                                   << QRect(2000, 0, 400, 1024);

        // Screens of different heights: the corner below the shorter one is no screen at all.
        const ScreenLayout uneven{{Medium, Large.translated(1280, 0)}, 0};
        QTest::newRow("no limits: title bar below the short screen") << uneven << true << false
                                                                     << QRect(100, 1040, 400, 300)
                                                                     << QRect(100, 1004, 400, 300);
        QTest::newRow("no limits: title bar on the tall screen") << uneven << true << false
                                                                 << QRect(1300, 1040, 400, 300)
                                                                 << QRect(1300, 1040, 400, 300);
        QTest::newRow("limits: whole on the screen it lands on") << uneven << true << true
                                                                 << QRect(1100, 900, 400, 300)
                                                                 << QRect(1280, 780, 400, 300);

        // Without limits only the title bar has to stay within reach.
        QTest::newRow("no limits: partly off stays") << one(Medium) << false << false << QRect(-300, 900, 400, 300)
                                                     << QRect(-300, 900, 400, 300);
        QTest::newRow("no limits: above the top") << one(Medium) << false << false << QRect(100, -50, 400, 300)
                                                  << QRect(100, 0, 400, 300);
        QTest::newRow("no limits: left of everything") << one(Medium) << false << false << QRect(-2000, 100, 400, 300)
                                                       << QRect(-352, 100, 400, 300);
        QTest::newRow("no limits: below everything") << one(Medium) << false << false << QRect(100, 3000, 400, 300)
                                                     << QRect(100, 1004, 400, 300);
    }

    void limited()
    {
        QFETCH(ScreenLayout, screens);
        QFETCH(bool, multipleMonitors);
        QFETCH(bool, checkLimits);
        QFETCH(QRect, asked);
        QFETCH(QRect, placed);
        QCOMPARE(ScreenPlacement::limited(asked, screens, multipleMonitors, checkLimits, QSize(), 20), placed);
    }

    void neverBelowTheMinimum()
    {
        // A window that cannot shrink to the screen keeps its top left corner on it.
        QCOMPARE(ScreenPlacement::limited(QRect(300, 200, 900, 800), one(Small), false, true, QSize(880, 790), 20),
                 QRect(124, 0, 900, 790));
    }

    void beside_data()
    {
        QTest::addColumn<ScreenLayout>("screens");
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QRect>("expected"); // null: no room
        const QSize device(633, 250);
        QTest::newRow("right of it") << one(Large) << CaptureWindow << QRect(QPoint(1274, 33), device);
        QTest::newRow("left of it") << one(Large) << CaptureWindow.translated(900, 0) << QRect(QPoint(669, 33), device);
        QTest::newRow("below it") << one(QRect(0, 0, 1280, 1100)) << QRect(100, 0, 872, 767)
                                  << QRect(QPoint(100, 767), device);
        QTest::newRow("no room at 1280x1024") << one(Medium) << CaptureWindow << QRect();
        QTest::newRow("no room at 1024x768") << one(Small) << QRect(152, 0, 872, 768) << QRect();
        QTest::newRow("low anchor: moved up to fit") << one(Large) << QRect(100, 900, 872, 170)
                                                     << QRect(QPoint(972, 830), device);
    }

    void beside()
    {
        QFETCH(ScreenLayout, screens);
        QFETCH(QRect, anchor);
        QFETCH(QRect, expected);
        const std::optional<QRect> place = ScreenPlacement::beside(anchor, QSize(633, 250), screens);
        QCOMPARE(place.value_or(QRect()), expected);
    }

    void screenForARectangle()
    {
        const ScreenLayout screens{{Medium, Large.translated(1280, 0)}, 1};
        QCOMPARE(screens.screenFor(QRect(1200, 0, 400, 300)), 1);  // more of it on the right
        QCOMPARE(screens.screenFor(QRect(1000, 0, 400, 300)), 0);
        QCOMPARE(screens.screenFor(QRect(100, 1050, 100, 100)), 0); // nearest: just below the left one
        QCOMPARE(screens.virtualDesktop(), QRect(0, 0, 3200, 1080));
        QCOMPARE(screens.primaryArea(), Large.translated(1280, 0));
    }
};

QTEST_GUILESS_MAIN(TestScreenPlacement)
#include "tst_screenplacement.moc"
