// Every window and dialog of the program shows its texts whole: each label, button, check box,
// group box title, header and fixed table cell gets the room its text takes in the font in use.
// Run on a real display at several scales (QT_SCALE_FACTOR) and with a larger font
// (CORVANE_TEST_FONT_POINTS: the system font and the capture window's desktop font),
// as the suite registers it; the windows are placed as at the program's start, so a window
// shrunk to a small logical screen is measured as shrunk.

#include "DialogScript.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "ProgramWindows.h"
#include "TextFit.h"
#include "WindowFixture.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QHash>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTest>

#include <functional>
#include <memory>

class TestTextFits : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<ProgramWindows> m_windows;
    Tedlf *m_edlf = nullptr;
    Tmidiiof *m_midiiof = nullptr;
    QHash<QString, std::function<QStringList()>> m_cases;

    static QStringList shown(QWidget *window)
    {
        if (!QTest::qWaitForWindowExposed(window))
            return {QStringLiteral("%1 was never shown").arg(window->objectName())};
        // A window may still be settling (a file list filling, a frame coming): what counts is
        // the text it shows once it has.
        QStringList clipped;
        const bool settled = QTest::qWaitFor([&] {
            clipped = TextFit::clippedTexts(window);
            return clipped.isEmpty();
        }, 2000);
        Q_UNUSED(settled); // the texts still cut short are the answer
        return clipped;
    }

    // Measures the modal dialog that open brings up, then closes it.
    static QStringList inDialog(const std::function<void()> &open)
    {
        QStringList clipped{QStringLiteral("no dialog came up")};
        DialogScript script;
        script.then([&clipped](QDialog *dialog) {
            clipped = shown(dialog);
            dialog->reject();
        });
        open();
        return clipped;
    }

    QStringList desktopSetupPage(int page)
    {
        TKxSettingsForm form(*SettingsFile);
        form.show();
        if (page != TKxSettingsForm::PageInternal) {
            form.ChangeControlPage(page);
            if (page == TKxSettingsForm::PageExport)
                form.EXP_Label->setText(QStringLiteral("There are no saved settings to export."));
        } else {
            form.UserListBox->setCurrentRow(0);
        }
        const QStringList clipped = shown(&form);
        form.close();
        return clipped;
    }

    QStringList passFailPage()
    {
        TKxDlg dialog;
        dialog.Pages->setCurrentIndex(TKxDlg::PagePassFail);
        dialog.show();
        return shown(&dialog);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        m_folder = std::make_unique<ProgramFolder>();
        QVERIFY(m_folder->isValid());
        // A larger font: the system's (Qt's own dialogs take it) and the desktop's for the capture
        // window, as a desktop saved with a larger window font holds it.
        const int points = qEnvironmentVariableIntValue("CORVANE_TEST_FONT_POINTS");
        if (points > 0) {
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            m_folder->presetCurrent({{QStringLiteral("<FORM>edlf_FontSize"), QString::number(points)},
                                     {QStringLiteral("<FORM>edlf_FontName"), QStringLiteral("MS Sans Serif")}});
        }
        m_windows = std::make_unique<ProgramWindows>();
        QVERIFY(m_windows->open());
        m_edlf = &m_windows->edlf();
        m_midiiof = &m_windows->midiiof();
        for (int i = 0; i < 12; ++i)
            m_edlf->AddGpoEvent(QStringLiteral("23:59:5%1:24").arg(i % 10), QStringLiteral("23:59:59:29"),
                                QStringLiteral("%1").arg(1 << (i % 16), 4, 16, QLatin1Char('0')));
        m_edlf->captureList().announcePendingRows();
        m_edlf->setTimecode(QStringLiteral("23:59:59:29"));

        m_cases = {
            {QStringLiteral("capture window"), [this] { return shown(m_edlf); }},
            {QStringLiteral("device window"),
             [this] {
                 m_midiiof->show();
                 // The widest texts the window shows: a late timecode, two-digit counters and
                 // revision lines of the long form with wide hexadecimal digits.
                 m_midiiof->setTcpoz(QStringLiteral("23:58:58:28"));
                 m_midiiof->setMtccount(QStringLiteral("99"));
                 m_midiiof->setMmccount(QStringLiteral("88"));
                 m_midiiof->setRevision(QStringLiteral("Core DB.DB Build DD.BD HW 8D.DD"),
                                        QStringLiteral("Main DD.DB Build BD.DD Vexa-16"));
                 const QStringList clipped = shown(m_midiiof);
                 m_midiiof->hide();
                 return clipped;
             }},
            {QStringLiteral("Desktop Setup: desktops"), [this] { return desktopSetupPage(TKxSettingsForm::PageInternal); }},
            {QStringLiteral("Desktop Setup: import"), [this] { return desktopSetupPage(TKxSettingsForm::PageImport); }},
            {QStringLiteral("Desktop Setup: export"), [this] { return desktopSetupPage(TKxSettingsForm::PageExport); }},
            {QStringLiteral("message"),
             [] {
                 return inDialog([] {
                     DlgMessage(QStringLiteral("The capture journal of the previous run cannot be recovered. "
                                               "It was kept as /home/operator/corvane.journal.2025-03-14"));
                 });
             }},
            {QStringLiteral("question"),
             [this] {
                 return inDialog([this] {
                     DlgQuery(m_edlf, QStringLiteral("Exit without saving EDL?"), QStringLiteral("Exit File"));
                 });
             }},
            {QStringLiteral("text entry"),
             [this] {
                 return inDialog([this] {
                     QString value;
                     DlgStringEntry(m_edlf, dtDefault, QStringLiteral("Enter File Name Details"),
                                    QStringLiteral("Title Details"), QStringLiteral("show"), value);
                 });
             }},
            {QStringLiteral("password"),
             [this] {
                 return inDialog([this] {
                     DlgCheckPassword(m_edlf, QStringLiteral("Enter Password to Overwrite \"Studio B\"."),
                                      QStringLiteral("Import desktop setup"), QString());
                 });
             }},
            {QStringLiteral("wrong password"), [this] { return passFailPage(); }},
            {QStringLiteral("Save GPO dialog"), [this] { return inDialog([this] { m_edlf->savegpoClick(); }); }},
            {QStringLiteral("Load GPO dialog"), [this] { return inDialog([this] { m_edlf->LoadGPO1Click(); }); }},
            {QStringLiteral("Import dialog"),
             [] {
                 TKxSettingsForm form(*SettingsFile);
                 return inDialog([&form] { form.IMP_BrowseClick(); });
             }},
            {QStringLiteral("Export dialog"),
             [] {
                 TKxSettingsForm form(*SettingsFile);
                 form.ChangeControlPage(TKxSettingsForm::PageExport);
                 return inDialog([&form] { form.EXP_B_OKClick(); });
             }},
        };
    }

    void cleanupTestCase()
    {
        m_edlf = nullptr;
        m_midiiof = nullptr;
        m_windows.reset();
        m_folder.reset();
    }

    void everyTextShowsWhole_data()
    {
        QTest::addColumn<QString>("window");
        const char *windows[] = {"capture window", "device window", "Desktop Setup: desktops", "Desktop Setup: import",
                                 "Desktop Setup: export", "message", "question", "text entry", "password",
                                 "wrong password", "Save GPO dialog", "Load GPO dialog", "Import dialog",
                                 "Export dialog"};
        for (const char *window : windows)
            QTest::newRow(window) << QString::fromLatin1(window);
    }

    void everyTextShowsWhole()
    {
        QFETCH(QString, window);
        QVERIFY(m_cases.contains(window));
        const QStringList clipped = m_cases.value(window)();
        QVERIFY2(clipped.isEmpty(), qPrintable(QStringLiteral("scale %1, font %2 pt:\n").arg(
                                                   qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")),
                                                   qEnvironmentVariable("CORVANE_TEST_FONT_POINTS", QStringLiteral("8")))
                                               + clipped.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestTextFits)
#include "tst_text_fits.moc"
