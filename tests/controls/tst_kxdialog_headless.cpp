#include "KxDialog.h"

#include <QTest>

// Without a QApplication the dialog functions cannot show anything; they must neither abort
// nor report a choice the user did not make.
class TestKxDialogHeadless : public QObject {
    Q_OBJECT

private slots:
    void answersAsCancel()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Exit\\?")));
        QCOMPARE(DlgQuery(nullptr, QStringLiteral("Exit?"), QString()), 2);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Name")));
        QString value;
        DlgStringEntry(nullptr, dtDefault, QStringLiteral("Name"), QString(), QStringLiteral("x"), value);
        QCOMPARE(value, QStringLiteral("x"));

        // An unverifiable password is refused, with the refusal logged.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Password\\?")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Incorrect Password")));
        QString stored;
        ScramblePassword(QStringLiteral("pw"), stored);
        QVERIFY(!DlgCheckPassword(nullptr, QStringLiteral("Password?"), QString(), stored));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Saved\\.")));
        DlgMessage(QStringLiteral("Saved."));
    }
};

QTEST_GUILESS_MAIN(TestKxDialogHeadless)
#include "tst_kxdialog_headless.moc"
