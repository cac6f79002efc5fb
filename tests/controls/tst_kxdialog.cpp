#include "Passwords.h"
#include "KxDialog.h"
#include "KxeButton.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <climits>
#include <functional>
#include <memory>

namespace {

QString bytes(const char *raw, int size)
{
    return QString::fromLatin1(raw, size);
}

// Waits in the event loop for the dialog to come up modally (on the given page, if any), then
// runs the action on it once; the action is to close the dialog. A dialog that never comes
// leaves the action unrun; one that the action leaves open is ended, so that the test goes on
// (and fails) instead of waiting for ever.
class ModalDriver : public QObject {
public:
    using Action = std::function<void(TKxDlg *)>;

    ModalDriver(QObject *owner, int page, Action action)
        : QObject(owner), m_page(page), m_action(std::move(action))
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
        m_timer.start();
    }

    // The action ran and closed the dialog.
    bool handled() const { return m_ran && !m_leftOpen; }

private:
    void poll()
    {
        auto *dialog = qobject_cast<TKxDlg *>(QApplication::activeModalWidget());
        if (++m_polls > 2000) // the dialog did not come: give up rather than run into a later test
            m_timer.stop();
        if (!dialog || !dialog->isVisible() || (m_page >= 0 && dialog->Pages->currentIndex() != m_page))
            return;
        m_timer.stop();
        m_ran = true;
        const QPointer<TKxDlg> shown(dialog);
        m_action(dialog);
        if (shown && shown->isVisible()) {
            m_leftOpen = true;
            shown->done(-1);
        }
    }

    QTimer m_timer;
    int m_page;
    int m_polls = 0;
    bool m_ran = false;
    bool m_leftOpen = false;
    Action m_action;
};

template <typename T>
T *child(TKxDlg *dialog, const char *name)
{
    return dialog->findChild<T *>(QLatin1String(name));
}

// Clicks a button of the dialog found by name; a missing one ends the dialog, so that the
// test goes on and fails on its result.
void click(TKxDlg *dialog, const char *name)
{
    if (auto *button = child<TKxeButton>(dialog, name))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        dialog->done(-1);
}

QString focusName(TKxDlg *dialog)
{
    return dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
}

} // namespace

class TestKxDialog : public QObject {
    Q_OBJECT

private:
    ModalDriver *whenShown(int page, ModalDriver::Action action)
    {
        return new ModalDriver(this, page, std::move(action));
    }

private slots:
    void cleanup()
    {
        qDeleteAll(findChildren<ModalDriver *>(Qt::FindDirectChildrenOnly));
        setDlgMainWindow(nullptr);
    }

    void pagesAndControlsByName()
    {
        TKxDlg *dialog = KxDlg();
        QCOMPARE(dialog->Pages->objectName(), QStringLiteral("Pages"));
        const char *pages[] = {"P_STRINGENTRY", "P_PassFail", "P_Standard", "P_QUERY"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(dialog->Pages->widget(i)->objectName(), QLatin1String(pages[i]));
        for (const char *name : {"STR_OK", "STR_Cancel", "PF_Cancel", "PF_Retry", "STD_OK", "QRY_OK", "QRY_Cancel"}) {
            auto *button = child<TKxeButton>(dialog, name);
            QVERIFY2(button, name);
            QCOMPARE(button->Colors()->Ring_Off(), QColor(0, 0, 128));
            QCOMPARE(button->Colors()->Text_Off(), QColor(0, 0, 128));
        }
        for (const char *name : {"STR_Image", "STR_Text", "PF_Icon", "Label2", "PF_Text", "STD_Image", "STD_Text",
                                 "QRY_image", "QRY_Text"})
            QVERIFY2(child<QLabel>(dialog, name), name);
        QVERIFY(child<QLineEdit>(dialog, "STR_Edit"));
    }

    void query_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("OK") << "QRY_OK" << 1;
        QTest::newRow("Cancel") << "QRY_Cancel" << 2;
        QTest::newRow("Enter on the focused OK") << "Return" << 1;
        QTest::newRow("Escape") << "Escape" << 2;
        QTest::newRow("closed") << "close" << 2;
    }

    void query()
    {
        QFETCH(QString, how);
        QFETCH(int, result);
        QString caption, text, focus;
        auto *driver = whenShown(TKxDlg::PageQuery, [&](TKxDlg *dialog) {
            caption = dialog->windowTitle();
            text = child<QLabel>(dialog, "QRY_Text")->text();
            focus = focusName(dialog);
            if (how == QLatin1String("Return") || how == QLatin1String("Escape")) {
                QWidget *target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
                QTest::keyClick(target, how == QLatin1String("Return") ? Qt::Key_Return : Qt::Key_Escape);
            } else if (how == QLatin1String("close")) {
                dialog->close();
            } else {
                click(dialog, how.toLatin1().constData());
            }
        });
        QCOMPARE(DlgQuery(nullptr, QStringLiteral("Exit without saving EDL?"), QStringLiteral("Exit")), result);
        QVERIFY(driver->handled());
        QCOMPARE(KxDlg()->result(), result); // the dialog's own modal result, as callers of exec() see it
        QCOMPARE(caption, QStringLiteral("Exit"));
        QCOMPARE(text, QStringLiteral("Exit without saving EDL?"));
        QCOMPARE(focus, QStringLiteral("QRY_OK"));
    }

    void message()
    {
        QString caption, text, focus;
        QImage picture;
        auto *driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) {
            caption = dialog->windowTitle();
            text = dialog->STD_Text->text();
            picture = dialog->STD_Image->pixmap().toImage();
            focus = focusName(dialog);
            if (dialog->focusWidget())
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        DlgMessageEx(nullptr, dtLock, QStringLiteral("<b>Desktop & co</b>"), QStringLiteral("Desktops"));
        QVERIFY(driver->handled());
        QCOMPARE(caption, QStringLiteral("Desktops"));
        QCOMPARE(text, QStringLiteral("<b>Desktop & co</b>"));
        QCOMPARE(KxDlg()->STD_Text->textFormat(), Qt::PlainText);
        QCOMPARE(picture, DlgBitmap(dtLock).toImage());
        QCOMPARE(focus, QStringLiteral("STD_OK"));

        // A value outside the types leaves the previous picture.
        driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) { click(dialog, "STD_OK"); });
        DlgMessageEx(nullptr, TDlgType(7), QStringLiteral("again"), QString());
        QVERIFY(driver->handled());
        QCOMPARE(KxDlg()->STD_Image->pixmap().toImage(), DlgBitmap(dtLock).toImage());
    }

    // typed: keys typed into the edit (replacing the selected default); how: the way the dialog
    // is closed.
    void stringEntry_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QString>("picture");
        QTest::newRow("Enter accepts the edit") << int(dtDefault) << "abc" << "Return" << "abc" << false << "DT_DEFAULT";
        QTest::newRow("keypad Enter accepts") << int(dtDefault) << "abc" << "Enter" << "abc" << false << "DT_DEFAULT";
        QTest::newRow("OK accepts the edit") << int(dtDefault) << "y" << "STR_OK" << "y" << false << "DT_DEFAULT";
        QTest::newRow("OK with the default") << int(dtDefault) << "" << "STR_OK" << "x" << false << "DT_DEFAULT";
        QTest::newRow("Cancel gives the default") << int(dtDefault) << "zz" << "STR_Cancel" << "x" << false << "DT_DEFAULT";
        QTest::newRow("Escape gives the default") << int(dtDefault) << "zz" << "Escape" << "x" << false << "DT_DEFAULT";
        QTest::newRow("lock hides the entry") << int(dtLock) << "pw" << "Return" << "pw" << true << "DT_LOCK";
        QTest::newRow("no-entry shows the default picture") << int(dtNoEntry) << "q" << "STR_OK" << "q" << false << "DT_DEFAULT";
    }

    void stringEntry()
    {
        QFETCH(int, type);
        QFETCH(QString, typed);
        QFETCH(QString, how);
        QFETCH(QString, value);
        QFETCH(bool, hidden);
        QFETCH(QString, picture);
        QString focus;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QImage shown;
        int returnPressed = -1;
        auto *driver = whenShown(TKxDlg::PageStringEntry, [&](TKxDlg *dialog) {
            auto *edit = child<QLineEdit>(dialog, "STR_Edit");
            QSignalSpy spy(edit, &QLineEdit::returnPressed);
            focus = focusName(dialog);
            echo = edit->echoMode();
            shown = dialog->STR_Image->pixmap().toImage();
            if (!typed.isEmpty())
                QTest::keyClicks(edit, typed);
            if (how == QLatin1String("Return") || how == QLatin1String("Enter"))
                QTest::keyClick(edit, how == QLatin1String("Return") ? Qt::Key_Return : Qt::Key_Enter);
            else if (how == QLatin1String("Escape"))
                QTest::keyClick(edit, Qt::Key_Escape);
            else
                click(dialog, how.toLatin1().constData());
            returnPressed = int(spy.count());
        });
        QString result = QStringLiteral("unset");
        DlgStringEntry(nullptr, TDlgType(type), QStringLiteral("Desktop name"), QStringLiteral("New desktop"),
                       QStringLiteral("x"), result);
        QVERIFY(driver->handled());
        QCOMPARE(result, value);
        QCOMPARE(focus, QStringLiteral("STR_Edit"));
        QCOMPARE(echo == QLineEdit::Password, hidden);
        QCOMPARE(shown, KxBitmap(picture).toImage());
        QCOMPARE(returnPressed, 0); // Enter ends the dialog and goes no further
        QCOMPARE(KxDlg()->windowTitle(), QStringLiteral("New desktop"));
    }

    void enterPassword_data()
    {
        QTest::addColumn<bool>("scramble");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("value");
        QTest::newRow("scrambled") << true << "STR_OK" << bytes("\xB0\x89\x6C", 3);
        QTest::newRow("plain") << false << "STR_OK" << "abc";
        QTest::newRow("cancel, scrambled") << true << "STR_Cancel" << "";
        QTest::newRow("cancel, plain") << false << "STR_Cancel" << "";
    }

    void enterPassword()
    {
        QFETCH(bool, scramble);
        QFETCH(QString, button);
        QFETCH(QString, value);
        QString caption;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        auto *driver = whenShown(TKxDlg::PageStringEntry, [&](TKxDlg *dialog) {
            caption = dialog->windowTitle();
            echo = dialog->STR_Edit->echoMode();
            QTest::keyClicks(dialog->STR_Edit, QStringLiteral("abc"));
            click(dialog, button.toLatin1().constData());
        });
        QString result = QStringLiteral("unset");
        DlgEnterPassword(nullptr, QStringLiteral("Password for desktop"), scramble, result);
        QVERIFY(driver->handled());
        QCOMPARE(result, value);
        QCOMPARE(caption, QStringLiteral("Enter Password"));
        QCOMPARE(echo, QLineEdit::Password);
    }

    // stored: the plain password whose scrambled form is stored; typed: what the user enters
    // before pressing the button.
    void checkPassword_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("result");
        QTest::newRow("right") << "secret" << "secret" << "STR_OK" << true;
        QTest::newRow("wrong") << "secret" << "Secret" << "STR_OK" << false;
        QTest::newRow("cancel") << "secret" << "secret" << "STR_Cancel" << false;
        QTest::newRow("none stored, empty entry") << "" << "" << "STR_OK" << true;
        QTest::newRow("none stored, cancel") << "" << "abc" << "STR_Cancel" << true;
    }

    void checkPassword()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(bool, result);
        QString failCaption, failText;
        QImage failPicture;
        ModalDriver *failure = nullptr;
        auto *entry = whenShown(TKxDlg::PageStringEntry, [&](TKxDlg *dialog) {
            // A wrong password is told on the message page once the entry is closed.
            failure = whenShown(TKxDlg::PageStandard, [&](TKxDlg *message) {
                failCaption = message->windowTitle();
                failText = message->STD_Text->text();
                failPicture = message->STD_Image->pixmap().toImage();
                click(message, "STD_OK");
            });
            QTest::keyClicks(dialog->STR_Edit, typed);
            click(dialog, button.toLatin1().constData());
        });
        QCOMPARE(DlgCheckPassword(nullptr, QStringLiteral("Desktop is protected"), QStringLiteral("Apply desktop"),
                                  scrambled(stored)),
                 result);
        QVERIFY(entry->handled());
        QVERIFY(failure);
        QCOMPARE(failure->handled(), !result);
        if (!result) {
            QCOMPARE(failCaption, QStringLiteral("Apply desktop"));
            QCOMPARE(failText, QStringLiteral("Incorrect Password"));
            QCOMPARE(failPicture, DlgBitmap(dtNoEntry).toImage());
        }
    }

    void scramblePassword_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("abc") << "abc" << bytes("\xB0\x89\x6C", 3);
        QTest::newRow("eighth byte kept") << "hhhhhhhh" << bytes("\x34\xA1\x0D\x86\x43\x1A\xD0\x68", 8);
        QTest::newRow("Latin-1 as one byte") << QString::fromLatin1("\xE9") << bytes("\xF4", 1);
        QTest::newRow("beyond Latin-1 as UTF-8") << QString::fromUtf8("\xE2\x82\xAC") << bytes("\x71\x0A\x95", 3);
    }

    void scramblePassword()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QCOMPARE(scrambled(text), result);
    }

    void scrambleText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("no key, reverse") << QByteArray("abc") << QByteArray() << true << QByteArray("\xB0\x89\x6C");
        QTest::newRow("no key, forward") << QByteArray("abc") << QByteArray() << false << QByteArray("\xC2\x98\x1B");
        // Key "AB": sum 131; amounts 65+131, 66+131, 65+131 (4, 5, 4 places).
        QTest::newRow("key repeats") << QByteArray("abc") << QByteArray("AB") << true << QByteArray("\x16\x4C\x36");
        QTest::newRow("key, forward") << QByteArray("abc") << QByteArray("AB") << false << QByteArray("\x16\x13\x36");
        QTest::newRow("empty text") << QByteArray() << QByteArray("key") << true << QByteArray();
    }

    void scrambleText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, key);
        QFETCH(bool, reverse);
        QFETCH(QByteArray, result);
        QCOMPARE(ScrambleText(text, key, reverse), result);
        // The other direction undoes it.
        QCOMPARE(ScrambleText(result, key, !reverse), text);
    }

    void rotateByte_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("amount");
        QTest::addColumn<int>("result");
        QTest::newRow("right 1") << 0x01 << 1 << 0x80;
        QTest::newRow("left 1") << 0x80 << -1 << 0x01;
        QTest::newRow("right 3") << 0x81 << 3 << 0x30;
        QTest::newRow("left 3") << 0x81 << -3 << 0x0C;
        QTest::newRow("right 8") << 0x12 << 8 << 0x12;
        QTest::newRow("right 9") << 0x12 << 9 << 0x09;
        QTest::newRow("left 9") << 0x12 << -9 << 0x24;
        QTest::newRow("left 8") << 0x12 << -8 << 0x12;
        QTest::newRow("zero") << 0xA5 << 0 << 0xA5;
        QTest::newRow("most negative") << 0xA5 << INT_MIN << 0xA5;
        QTest::newRow("most negative + 1") << 0x81 << INT_MIN + 1 << 0xC0;
    }

    void rotateByte()
    {
        QFETCH(int, value);
        QFETCH(int, amount);
        QFETCH(int, result);
        QCOMPARE(int(RotateByte(quint8(value), amount)), result);
    }

    // Positions are of the window frames, as the window system reports them.
    void placing_data()
    {
        QTest::addColumn<QSize>("ownerSize");
        QTest::addColumn<QPoint>("offset");
        // The dialog's frame is as much larger than its 334 x 108 client area as the owner's.
        QTest::newRow("wide owner") << QSize(601, 401) << QPoint(133, 146);
        // Negative halves truncate toward zero: -233 / 2 = -116, -47 / 2 = -23.
        QTest::newRow("narrow owner") << QSize(101, 61) << QPoint(-116, -23);
    }

    void placing()
    {
        QFETCH(QSize, ownerSize);
        QFETCH(QPoint, offset);
        QWidget window;
        // Far enough from the screen's edges for the dialog to stay whole on the screen.
        window.setGeometry(QRect(QPoint(300, 200), ownerSize));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QRect placed;
        QSize client;
        auto *driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) {
            placed = dialog->frameGeometry();
            client = dialog->size();
            click(dialog, "STD_OK");
        });
        DlgMessageEx(&window, dtDefault, QStringLiteral("One line."), QStringLiteral("Place"));
        QVERIFY(driver->handled());
        QCOMPARE(client, QSize(334, 108));
        QCOMPARE(placed.size() - client, window.frameGeometry().size() - window.size());
        QCOMPARE(placed.topLeft() - window.frameGeometry().topLeft(), offset);
    }

    void keptOnTheScreen()
    {
        // Centred on a small owner in the screen's corner, the dialog would stand partly off the
        // screen: it is moved onto it.
        QWidget window;
        const QRect screen = window.screen()->availableGeometry();
        window.setGeometry(QRect(screen.topLeft() + QPoint(4, 30), QSize(101, 61)));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QRect placed;
        auto *driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) {
            placed = dialog->frameGeometry();
            click(dialog, "STD_OK");
        });
        DlgMessageEx(&window, dtDefault, QStringLiteral("One line."), QStringLiteral("Place"));
        QVERIFY(driver->handled());
        QVERIFY2(screen.contains(placed), qPrintable(QStringLiteral("%1,%2").arg(placed.x()).arg(placed.y())));
    }

    void messageOnTheMainWindow()
    {
        auto window = std::make_unique<QWidget>();
        window->setGeometry(200, 100, 600, 400);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        setDlgMainWindow(window.get());
        QRect placed;
        QString caption = QStringLiteral("unset");
        auto *driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) {
            placed = dialog->frameGeometry();
            caption = dialog->windowTitle();
            click(dialog, "STD_OK");
        });
        DlgMessage(QStringLiteral("Saved."));
        QVERIFY(driver->handled());
        const QPoint off = placed.center() - window->frameGeometry().center();
        QVERIFY2(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1, "not centred on the main window");
        QVERIFY(caption.isEmpty());

        // Once the main window is gone the message still shows.
        window.reset();
        driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) { click(dialog, "STD_OK"); });
        DlgMessage(QStringLiteral("Still here."));
        QVERIFY(driver->handled());
    }

    void placingOnTheCursor()
    {
        QCursor::setPos(500, 400);
        if (QCursor::pos() != QPoint(500, 400))
            QSKIP("the platform does not move the cursor");
        QRect placed;
        auto *driver = whenShown(TKxDlg::PageStandard, [&](TKxDlg *dialog) {
            placed = dialog->frameGeometry();
            click(dialog, "STD_OK");
        });
        DlgMessageEx(nullptr, dtDefault, QStringLiteral("One line."), QString());
        QVERIFY(driver->handled());
        QCOMPARE(placed.topLeft(), QPoint(500 - placed.width() / 2, 400 - placed.height() / 2));
    }

    void pageHeights_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taller");
        QTest::newRow("one line") << "Exit without saving EDL?" << false;
        QTest::newRow("long text wraps")
            << "The settings file could not be read. The factory defaults will be used instead, and every "
               "desktop saved before is left as it was in the file, so nothing of it is lost."
            << true;
    }

    void pageHeights()
    {
        QFETCH(QString, text);
        QFETCH(bool, taller);
        TKxDlg *dialog = KxDlg();

        auto *driver = whenShown(TKxDlg::PageQuery, [&](TKxDlg *d) { click(d, "QRY_Cancel"); });
        DlgQuery(nullptr, text, QString());
        QVERIFY(driver->handled());
        const int labelHeight = dialog->QRY_Text->height();
        QCOMPARE(dialog->QRY_Text->width(), 241);
        QCOMPARE(dialog->Pages->height(), taller ? labelHeight + 42 : 92);
        QCOMPARE(dialog->Pages->height() > 92, taller);
        QCOMPARE(dialog->size(), dialog->Pages->size() + QSize(16, 16));
        // OK and Cancel keep their distance to the bottom right corner.
        QCOMPARE(dialog->QRY_OK->geometry(), QRect(224, dialog->Pages->height() - 30, 86, 20));
        QCOMPARE(dialog->QRY_Cancel->geometry(), QRect(112, dialog->Pages->height() - 30, 86, 20));

        driver = whenShown(TKxDlg::PageStringEntry, [&](TKxDlg *d) { click(d, "STR_Cancel"); });
        QString value;
        DlgStringEntry(nullptr, dtDefault, text, QString(), QString(), value);
        QVERIFY(driver->handled());
        const int editTop = dialog->STR_Text->height() + 13;
        QCOMPARE(dialog->STR_Edit->y(), editTop);
        QCOMPARE(dialog->Pages->height(), qMax(92, editTop + 21 + 42));
        QCOMPARE(dialog->Pages->height() > 92, taller);
        QCOMPARE(dialog->STR_OK->geometry(), QRect(224, dialog->Pages->height() - 30, 86, 20));
    }

    void retryReturnsToTheEntry()
    {
        TKxDlg dialog;
        dialog.Pages->setCurrentIndex(TKxDlg::PagePassFail);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(child<TKxeButton>(&dialog, "PF_Retry"), Qt::LeftButton);
        QCOMPARE(dialog.Pages->currentIndex(), int(TKxDlg::PageStringEntry));
        QCOMPARE(focusName(&dialog), QStringLiteral("STR_Edit"));
        QVERIFY(dialog.isVisible());

        dialog.Pages->setCurrentIndex(TKxDlg::PagePassFail);
        QTest::mouseClick(child<TKxeButton>(&dialog, "PF_Cancel"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), 2);
    }

    // A message raised while a question is open (an error reported from a timer, say) comes in
    // a dialog of its own and leaves the question as it was.
    void messageDuringAQuestion()
    {
        QString questionText;
        int questionPage = -1;
        QPointer<TKxDlg> messageDialog;
        QString messageText;
        auto *driver = whenShown(TKxDlg::PageQuery, [&](TKxDlg *question) {
            auto *inner = whenShown(TKxDlg::PageStandard, [&](TKxDlg *message) {
                messageDialog = message;
                messageText = message->STD_Text->text();
                click(message, "STD_OK");
            });
            DlgMessage(QStringLiteral("Unable to write to /x.edl"));
            QVERIFY(inner->handled());
            questionText = question->QRY_Text->text();
            questionPage = question->Pages->currentIndex();
            click(question, "QRY_Cancel");
        });
        QCOMPARE(DlgQuery(nullptr, QStringLiteral("Delete desktop?"), QString()), 2);
        QVERIFY(driver->handled());
        QCOMPARE(messageText, QStringLiteral("Unable to write to /x.edl"));
        QVERIFY(messageDialog.isNull()); // the private dialog is gone again
        QCOMPARE(questionText, QStringLiteral("Delete desktop?"));
        QCOMPARE(questionPage, int(TKxDlg::PageQuery));
    }

    void bitmaps_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("DT_DEFAULT") << "DT_DEFAULT" << QSize(48, 48);
        QTest::newRow("DT_NOENTRY") << "DT_NOENTRY" << QSize(48, 48);
        QTest::newRow("DT_LOCK") << "DT_LOCK" << QSize(48, 48);
        QTest::newRow("LOCKED") << "LOCKED" << QSize(16, 16);
        QTest::newRow("UNLOCKED") << "UNLOCKED" << QSize(16, 16);
        QTest::newRow("unknown") << "DT_OTHER" << QSize();
    }

    void bitmaps()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        const QPixmap pixmap = KxBitmap(name);
        QCOMPARE(pixmap.isNull(), !size.isValid());
        if (size.isValid())
            QCOMPARE(pixmap.size(), size);
    }
};

QTEST_MAIN(TestKxDialog)
#include "tst_kxdialog.moc"
