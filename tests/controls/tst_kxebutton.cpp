#include "KxeButton.h"

#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <memory>

namespace {

const QColor Sentinel(255, 0, 255); // what lies under the button in a rendered image

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Delivers pending update requests, so that every scheduled paint has happened.
void flushPaints()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QImage renderButton(TKxeButton *button)
{
    QImage image(button->size(), QImage::Format_ARGB32);
    image.fill(Sentinel);
    button->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor pixel(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y);
}

// The number of rows from the top edge, in the middle column, painted in the given colour.
int rowsFromTop(const QImage &image, const QColor &color)
{
    int rows = 0;
    while (rows < image.height() && image.pixelColor(image.width() / 2, rows) == color)
        ++rows;
    return rows;
}

} // namespace

class TestKxeButton : public QObject {
    Q_OBJECT

private:
    // A shown window holding a button at (10, 10) and, beside it, room to release elsewhere.
    std::unique_ptr<QWidget> m_window;
    TKxeButton *m_button = nullptr;
    QStringList m_log;

    QWindow *window() const { return m_window->windowHandle(); }
    QPoint onButton() const { return m_button->geometry().center(); }
    QPoint awayFromButton() const { return QPoint(150, 60); }

private slots:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(200, 80);
        m_button = new TKxeButton(m_window.get());
        m_button->move(10, 10);
        m_log.clear();
        connect(m_button, &TKxeButton::OnClick, this, [this] { m_log << QStringLiteral("click"); });
        connect(m_button, &TKxeButton::OnRightClick, this, [this] { m_log << QStringLiteral("right"); });
        connect(m_button, &TKxeButton::OnUpdTimer, this,
                [this](bool depressed) { m_log << (depressed ? QStringLiteral("down") : QStringLiteral("up")); });
    }

    void cleanup()
    {
        m_window.reset();
        m_button = nullptr;
    }

    void defaults()
    {
        QCOMPARE(m_button->size(), QSize(80, 20));
        QCOMPARE(m_button->CornerStyle(), kxcRound);
        QCOMPARE(m_button->CornerRadius(), quint16(2));
        QCOMPARE(m_button->cornerDiameter(), 4);
        QCOMPARE(m_button->RingWidth(), quint16(1));
        QVERIFY(!m_button->Lit());
        QCOMPARE(m_button->LitState(), TKxLitState(0));
        QVERIFY(!m_button->Clear());
        QVERIFY(!m_button->Timedout());
        QVERIFY(m_button->TabStop());
        QVERIFY(m_button->Caption().isEmpty());

        const QRgb silver = 0xFFC0C0C0, black = 0xFF000000, grey = 0xFF808080;
        const QRgb expected[TKxColors::Count] = {silver, silver, silver, silver, black, black, black,
                                                 black,  black,  black,  black,  black, silver, grey};
        for (int i = 0; i < TKxColors::Count; ++i)
            QCOMPARE(m_button->Colors()->color(i).rgba(), expected[i]);
    }

    // Each step is "Lit=0|1" or "LitState=n"; the button starts unlit at level 0.
    void lighting_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("lit");
        QTest::addColumn<int>("litState");
        QTest::newRow("a dim level lights") << QStringList{"LitState=2"} << true << 2;
        QTest::newRow("level 0 leaves Lit") << QStringList{"LitState=2", "LitState=0"} << true << 0;
        QTest::newRow("Lit false goes to level 0") << QStringList{"LitState=2", "Lit=0"} << false << 0;
        QTest::newRow("Lit true goes to level 3") << QStringList{"Lit=1"} << true << 3;
        QTest::newRow("Lit true again keeps the level") << QStringList{"LitState=1", "Lit=1"} << true << 1;
        QTest::newRow("level 4 ignored") << QStringList{"LitState=1", "LitState=4"} << true << 1;
        QTest::newRow("level 255 ignored") << QStringList{"LitState=255"} << false << 0;
    }

    void lighting()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, lit);
        QFETCH(int, litState);
        for (const QString &step : steps) {
            const QStringList parts = step.split(QLatin1Char('='));
            if (parts[0] == QLatin1String("Lit"))
                m_button->setLit(parts[1] == QLatin1String("1"));
            else
                m_button->setLitState(TKxLitState(parts[1].toInt()));
        }
        QCOMPARE(m_button->Lit(), lit);
        QCOMPARE(int(m_button->LitState()), litState);
    }

    void ringWidth_data()
    {
        QTest::addColumn<QList<int>>("writes");
        QTest::addColumn<int>("ringWidth");
        QTest::newRow("5 ignored") << QList<int>{5} << 1;
        QTest::newRow("4 taken") << QList<int>{4} << 4;
        QTest::newRow("0 taken") << QList<int>{0} << 0;
        QTest::newRow("5 after 3 keeps 3") << QList<int>{3, 5} << 3;
    }

    void ringWidth()
    {
        QFETCH(QList<int>, writes);
        QFETCH(int, ringWidth);
        for (int w : writes)
            m_button->setRingWidth(quint16(w));
        QCOMPARE(int(m_button->RingWidth()), ringWidth);
    }

    void cornerRadiusIsHalfTheDiameter()
    {
        m_button->setCornerRadius(3);
        QCOMPARE(m_button->cornerDiameter(), 6);
        QCOMPARE(m_button->CornerRadius(), quint16(3));
    }

    void colourChangeSignalsAndRepaintsOnlyOnChange()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        flushPaints();
        PaintCounter counter(m_button);
        TKxColors *colors = m_button->Colors();
        QSignalSpy changed(colors, &TKxColors::OnChange);

        colors->setFill_Off(QColor(Qt::red));
        QCOMPARE(changed.count(), 1);
        flushPaints();
        QVERIFY(counter.paints > 0);

        counter.paints = 0;
        colors->setFill_Off(QColor(Qt::red));
        colors->setColor(0, QColor(255, 0, 0));
        QCOMPARE(changed.count(), 1);
        flushPaints();
        QCOMPARE(counter.paints, 0);

        // Out of range indexes and invalid colours are refused.
        colors->setColor(14, QColor(Qt::blue));
        colors->setColor(-1, QColor(Qt::blue));
        colors->setColor(1, QColor());
        QCOMPARE(changed.count(), 1);
        QVERIFY(!colors->color(14).isValid());
        QCOMPARE(colors->Fill_Dim1(), QColor(0xC0, 0xC0, 0xC0));
    }

    // Steps: press/release with L, R or M on the button; "releaseAway" releases over another
    // part of the window; "timedout" writes Timedout; "key:<name>" presses a key.
    void input_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("left click") << QStringList{"press:L", "release:L"} << QStringList{"down", "click", "up"};
        QTest::newRow("right click") << QStringList{"press:R", "release:R"} << QStringList{"down", "right", "up"};
        QTest::newRow("middle button") << QStringList{"press:M", "release:M"} << QStringList{"down", "up"};
        QTest::newRow("release away from the button")
            << QStringList{"press:L", "releaseAway:L"} << QStringList{"down", "click", "up"};
        QTest::newRow("both buttons")
            << QStringList{"press:L", "press:R", "release:L", "release:R"}
            << QStringList{"down", "down", "right", "click", "up"};
        QTest::newRow("timed out press")
            << QStringList{"press:L", "timedout", "release:L"} << QStringList{"down", "right"};
        QTest::newRow("timed out while idle") << QStringList{"timedout"} << QStringList{};
        QTest::newRow("Return key") << QStringList{"key:Return"} << QStringList{"click"};
        QTest::newRow("keypad Enter") << QStringList{"key:Enter"} << QStringList{"click"};
        QTest::newRow("Space key") << QStringList{"key:Space"} << QStringList{};
    }

    void input()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, events);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

        for (const QString &step : steps) {
            const QString what = step.section(QLatin1Char(':'), 0, 0);
            const QString arg = step.section(QLatin1Char(':'), 1);
            const Qt::MouseButton button = arg == QLatin1String("L")   ? Qt::LeftButton
                                           : arg == QLatin1String("R") ? Qt::RightButton
                                                                       : Qt::MiddleButton;
            if (what == QLatin1String("press")) {
                QTest::mousePress(window(), button, {}, onButton());
                QVERIFY(m_button->pressed());
                QVERIFY(m_button->Timedout());
            } else if (what == QLatin1String("release")) {
                QTest::mouseRelease(window(), button, {}, onButton());
            } else if (what == QLatin1String("releaseAway")) {
                QTest::mouseRelease(window(), button, {}, awayFromButton());
            } else if (what == QLatin1String("timedout")) {
                m_button->setTimedout(false);
            } else if (what == QLatin1String("key")) {
                const Qt::Key key = arg == QLatin1String("Return") ? Qt::Key_Return
                                    : arg == QLatin1String("Enter") ? Qt::Key_Enter
                                                                    : Qt::Key_Space;
                QTest::keyClick(m_button, key);
            }
        }
        QCOMPARE(m_log, events);
        QVERIFY(!m_button->pressed());
    }

    void pressWidensTheRing_data()
    {
        QTest::addColumn<int>("ringWidth");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<int>("penWidth");
        QTest::addColumn<int>("ringRows");
        QTest::newRow("width 1") << 1 << false << 1 << 1;
        QTest::newRow("width 1 pressed") << 1 << true << 3 << 3;
        QTest::newRow("width 4") << 4 << false << 4 << 4;
        QTest::newRow("width 0") << 0 << false << 0 << 0;
        QTest::newRow("width 0 pressed") << 0 << true << 2 << 0;
    }

    void pressWidensTheRing()
    {
        QFETCH(int, ringWidth);
        QFETCH(bool, pressed);
        QFETCH(int, penWidth);
        QFETCH(int, ringRows);
        const QColor fill(Qt::white);
        const QColor ring(Qt::blue);
        m_button->Colors()->setFill_Off(fill);
        m_button->Colors()->setRing_Off(ring);
        m_button->setRingWidth(quint16(ringWidth));
        if (pressed)
            QTest::mousePress(m_button, Qt::LeftButton);
        QCOMPARE(m_button->penWidthForPaint(), penWidth);

        const QImage image = renderButton(m_button);
        QCOMPARE(rowsFromTop(image, ring), ringRows);
        // Below the ring the body is filled; without a ring the fill reaches the edge.
        QCOMPARE(pixel(image, image.width() / 2, ringRows), fill);
        QCOMPARE(pixel(image, image.width() / 2, image.height() / 2), fill);
        if (pressed)
            QTest::mouseRelease(m_button, Qt::LeftButton);
    }

    void paintColours_data()
    {
        QTest::addColumn<int>("litState");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("ring");
        // Every colour of the set differs, so a wrong index shows.
        QTest::newRow("off") << 0 << true << QColor(10, 0, 0) << QColor(14, 0, 0);
        QTest::newRow("dim 1") << 1 << true << QColor(11, 0, 0) << QColor(15, 0, 0);
        QTest::newRow("dim 2") << 2 << true << QColor(12, 0, 0) << QColor(16, 0, 0);
        QTest::newRow("lit") << 3 << true << QColor(13, 0, 0) << QColor(17, 0, 0);
        QTest::newRow("disabled") << 3 << false << QColor(22, 0, 0) << QColor(23, 0, 0);
    }

    void paintColours()
    {
        QFETCH(int, litState);
        QFETCH(bool, enabled);
        QFETCH(QColor, fill);
        QFETCH(QColor, ring);
        for (int i = 0; i < TKxColors::Count; ++i)
            m_button->Colors()->setColor(i, QColor(10 + i, 0, 0));
        m_button->setLitState(TKxLitState(litState));
        m_button->setEnabled(enabled);

        const QImage image = renderButton(m_button);
        QCOMPARE(pixel(image, image.width() / 2, 0), ring);
        QCOMPARE(pixel(image, 0, image.height() / 2), ring);
        QCOMPARE(pixel(image, image.width() / 2, image.height() / 2), fill);
    }

    void captionInTheLevelsTextColour()
    {
        m_button->resize(80, 40);
        QFont big = m_button->font();
        big.setPixelSize(24);
        m_button->setFont(big);
        m_button->setCaption(QStringLiteral("HH"));
        m_button->Colors()->setFill_Lit(Qt::white);
        m_button->Colors()->setText_Lit(Qt::blue);
        m_button->Colors()->setText_Off(Qt::red);
        m_button->setLit(true);
        QCOMPARE(m_button->accessibleName(), QStringLiteral("HH"));

        const QImage image = renderButton(m_button);
        int blue = 0;
        int red = 0;
        for (int y = 4; y < image.height() - 4; ++y) {
            for (int x = 4; x < image.width() - 4; ++x) {
                const QColor c = image.pixelColor(x, y);
                blue += c.blue() > 200 && c.red() < 60 && c.green() < 60;
                red += c.red() > 200 && c.blue() < 60 && c.green() < 60;
            }
        }
        QVERIFY(blue > 0);
        QCOMPARE(red, 0);
    }

    void cornerStyle_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("cornerPainted");
        QTest::newRow("round") << int(kxcRound) << false;
        QTest::newRow("square") << int(kxcSquare) << true;
    }

    void cornerStyle()
    {
        QFETCH(int, style);
        QFETCH(bool, cornerPainted);
        m_button->setCornerRadius(5);
        m_button->setCornerStyle(TKxeCornerStyle(style));
        const QImage image = renderButton(m_button);
        QCOMPARE(pixel(image, 0, 0) != Sentinel, cornerPainted);
    }

    void clearPaintsOnlyTheParentsBackground()
    {
        QPalette palette = m_window->palette();
        palette.setColor(QPalette::Window, QColor(0, 200, 200));
        m_window->setPalette(palette);
        m_button->setCaption(QStringLiteral("OK"));
        m_button->setClear(true);
        const QImage image = renderButton(m_button);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(image.pixelColor(x, y), QColor(0, 200, 200));
    }

    void focusShowsADottedMark()
    {
        auto *other = new TKxeButton(m_window.get());
        other->move(100, 10);
        m_button->Colors()->setFill_Off(Qt::white);
        m_button->Colors()->setRing_Off(Qt::blue);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        flushPaints();

        auto focusRowHasRing = [this] {
            const QImage image = renderButton(m_button);
            for (int x = 6; x < image.width() - 6; ++x)
                if (image.pixelColor(x, 2) == QColor(Qt::blue))
                    return true;
            return false;
        };
        QVERIFY(!focusRowHasRing());

        PaintCounter counter(m_button);
        m_button->setFocus();
        QTRY_VERIFY(m_button->hasFocus());
        flushPaints();
        QVERIFY(counter.paints > 0);
        QVERIFY(focusRowHasRing());
    }
};

QTEST_MAIN(TestKxeButton)
#include "tst_kxebutton.moc"
