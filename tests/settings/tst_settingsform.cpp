#include "Passwords.h"
#include "AppPaths.h"
#include "DialogScript.h"
#include "KxDialog.h"
#include "KxForm.h"
#include "KxSettings.h"
#include "KxSettingsForm.h"
#include "ScreenPlacement.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace SettingsKeys;
using Script = QList<DialogScript::Answer>;

namespace {

const QByteArray Defaults = "[APP]\r\nExe=corvane\r\n"
                            "[USER\\<FACTORY DEFAULT>]\r\nreelname1=CAM1\r\ncheckdisp=0\r\n";
const QString Secret = QStringLiteral("secret");
const QString StudioSection = QStringLiteral("USER\\Studio");
const QString LockedSection = QStringLiteral("USER\\Locked");

// The "Pass" line of a desktop file for a password.
QByteArray passLine(const QString &password)
{
    return "Pass=" + TKxSettingsFile::EncodePassword(scrambled(password)).toLatin1() + "\r\n";
}

// Answers written as text, so that a table can hold them: "ok", "cancel", "enter:<text>".
Script answers(const QStringList &codes)
{
    Script script;
    for (const QString &code : codes) {
        if (code == QLatin1String("ok"))
            script << DialogScript::ok();
        else if (code == QLatin1String("cancel"))
            script << DialogScript::cancel();
        else
            script << DialogScript::enter(code.mid(int(qstrlen("enter:"))));
    }
    return script;
}

// Answers the file dialogs as a user would: chooses path, and answers the save dialog's replace
// question with Yes. Records where each dialog opened and each replace question.
class FileDialogAnswer : public QObject {
public:
    explicit FileDialogAnswer(QString path) : m_path(std::move(path))
    {
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this, &FileDialogAnswer::poll);
        m_timer.start();
    }

    QStringList openedIn;
    QStringList replaceQuestions;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            replaceQuestions << box->text();
            box->button(QMessageBox::Yes)->click();
            return;
        }
        auto *files = qobject_cast<QFileDialog *>(modal);
        if (!files || m_busy)
            return;
        m_busy = true;
        openedIn << QDir(files->directory()).absolutePath();
        // Accepting may ask the replace question: it runs from the dialog's own loop, so that
        // this poll can answer it.
        QTimer::singleShot(0, files, [this, files] {
            // As a user would: go to the folder and type the name (selectFile leaves a focused
            // name field alone).
            const QFileInfo chosen(m_path);
            files->setDirectory(chosen.absolutePath());
            files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(chosen.fileName());
            static_cast<QDialog *>(files)->accept(); // QFileDialog::accept, as its OK button does
            m_busy = false;
        });
    }

    QString m_path;
    QTimer m_timer;
    bool m_busy = false;
};

bool showsGlyph(const QPushButton *button, const QString &bitmap)
{
    const QImage shown = button->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage expected = KxBitmap(bitmap).toImage().convertToFormat(QImage::Format_ARGB32);
    return !expected.isNull() && shown == expected;
}

QPoint centreOf(const TKxSettingsForm &form, const QString &name)
{
    const QList<QListWidgetItem *> found = form.UserListBox->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? QPoint(-1, -1) : form.UserListBox->visualItemRect(found.first()).center();
}

void selectOnly(TKxSettingsForm &form, const QStringList &names)
{
    for (int i = 0; i < form.UserListBox->count(); ++i) {
        QListWidgetItem *item = form.UserListBox->item(i);
        item->setSelected(names.contains(item->text()));
    }
}

const QString Factory = QStringLiteral("<FACTORY DEFAULT>");

} // namespace

// The Desktop Setup window, driven through its controls with the real dialogs.
class TestSettingsForm : public QObject {
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    QStringList m_messages;

    TKxSettingsFile &s() { return *SettingsFile; }
    QString value(const QString &section, const QString &key)
    {
        return s().ReadValue(section, key, QStringLiteral("-"));
    }
    QString folderValue(const QString &folder)
    {
        return QDir::toNativeSeparators(folder) + QDir::separator();
    }
    template <typename F>
    QStringList run(const Script &script, F operation)
    {
        DialogScript dialogs(script);
        operation();
        return dialogs.seen();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void init()
    {
        m_messages.clear();
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        AppPaths::setProgramFolder(m_dir->path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("corvane.def")), Defaults));
        CreateSettingsFile([this](const QString &m) { m_messages << m; });
        QVERIFY(SettingsFile);
        // Two saved desktops besides the factory default; "Locked" has the password "secret".
        s().WriteValue(StudioSection, reelName(1), QStringLiteral("Jib"));
        s().WriteValue(StudioSection, Notes, QStringLiteral("first line\\nsecond"));
        s().WriteValue(LockedSection, reelName(1), QStringLiteral("Crane"));
        s().WriteValue(LockedSection, Notes, QStringLiteral("locked notes"));
        s().WritePassword(LockedSection, scrambled(Secret));
        ScreenPlacement::setScreensForTests(ScreenLayout{{QRect(0, 0, 1280, 1024)}, 0});
        QCursor::setPos(100, 100);
    }

    void cleanup()
    {
        CloseSettingsFile();
        ScreenPlacement::setScreensForTests(std::nullopt);
        delete m_dir;
        QCOMPARE(m_messages, QStringList());
    }

    // ---- Opening ---------------------------------------------------------------------------

    void opensWithTheLastDesktopSelected_data()
    {
        QTest::addColumn<QString>("lastUser");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<bool>("notesEditable");
        QTest::newRow("names a desktop") << "Studio" << "Studio" << "first line\nsecond" << true;
        QTest::newRow("other letter case") << "LOCKED" << "Locked" << "locked notes" << false;
        QTest::newRow("empty") << "" << "" << "" << false;
        QTest::newRow("names no desktop") << "Gone" << "" << "" << false;
    }

    void opensWithTheLastDesktopSelected()
    {
        QFETCH(QString, lastUser);
        QFETCH(QString, selected);
        QFETCH(QString, notes);
        QFETCH(bool, notesEditable);
        s().SetLastDesktop(lastUser);
        TKxSettingsForm form(s());
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageInternal));
        QCOMPARE(form.listedNames(), QStringList({Factory, "Studio", "Locked"}));
        QCOMPARE(form.selectedNames(), selected.isEmpty() ? QStringList() : QStringList({selected}));
        QCOMPARE(form.SelUserName->text(), selected);
        QCOMPARE(form.UserNotes->toPlainText(), notes);
        QCOMPARE(form.UserNotes->isEnabled(), notesEditable);
        const bool any = !selected.isEmpty();
        for (QAction *action : {form.IA_Apply, form.IA_Save, form.IA_Delete, form.IA_Rename})
            QCOMPARE(action->isEnabled(), any);
        QCOMPARE(form.Locked->isEnabled(), any);
        // The buttons follow their actions.
        QCOMPARE(form.Button5->text(), QStringLiteral("Apply"));
        QCOMPARE(form.Button5->isEnabled(), any);
        QCOMPARE(form.Button1->isEnabled(), any);
        QCOMPARE(form.Button4->text(), QStringLiteral("Save New"));
        QVERIFY(form.Button4->isEnabled());
    }

    void opensAtThePointer_data()
    {
        QTest::addColumn<QRect>("second");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("topLeft");
        const QRect one;                          // the primary screen alone
        const QRect two(-1280, 0, 1280, 1024);    // a second screen left of the primary one
        QTest::newRow("room on both sides") << one << QPoint(100, 100) << QPoint(100, 100);
        QTest::newRow("just fits") << one << QPoint(859, 775) << QPoint(859, 775);
        QTest::newRow("would cross the right edge") << one << QPoint(1000, 100) << QPoint(569, 100);
        QTest::newRow("would cross the bottom edge") << one << QPoint(100, 900) << QPoint(100, 641);
        QTest::newRow("would cross both") << one << QPoint(1000, 900) << QPoint(569, 641);
        QTest::newRow("desktop starting left of zero") << two << QPoint(1000, 100) << QPoint(569, 100);
        QTest::newRow("across two screens: whole on one") << two << QPoint(-200, 100) << QPoint(0, 100);
    }

    void opensAtThePointer()
    {
        QFETCH(QRect, second);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, topLeft);
        ScreenLayout screens{{QRect(0, 0, 1280, 1024)}, 0};
        if (second.isValid())
            screens.areas << second;
        ScreenPlacement::setScreensForTests(screens);
        QCursor::setPos(pointer);
        TKxSettingsForm form(s());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.frameGeometry().size(), QSize(TKxSettingsForm::DesignWidth, TKxSettingsForm::DesignHeight));
        QCOMPARE(form.frameGeometry().topLeft(), topLeft);
    }

    // ---- Notes and the lock ----------------------------------------------------------------

    void notesAreStoredWhenLeavingTheField_data()
    {
        QTest::addColumn<bool>("byClickingAnotherDesktop");
        QTest::newRow("click another desktop") << true;
        QTest::newRow("close the window") << false;
    }

    void notesAreStoredWhenLeavingTheField()
    {
        QFETCH(bool, byClickingAnotherDesktop);
        s().SetLastDesktop(QStringLiteral("Studio"));
        TKxSettingsForm form(s());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.UserNotes->setFocus();
        QTRY_VERIFY(form.UserNotes->hasFocus());
        form.UserNotes->clear();
        // Blanks at either end are part of the notes.
        QTest::keyClicks(form.UserNotes, QStringLiteral("  call at 7"));
        QTest::keyClick(form.UserNotes, Qt::Key_Return);
        QTest::keyClicks(form.UserNotes, QStringLiteral("stage B  "));
        QCOMPARE(value(StudioSection, Notes), QStringLiteral("first line\\nsecond"));

        if (byClickingAnotherDesktop) {
            QTest::mouseClick(form.UserListBox->viewport(), Qt::LeftButton, {}, centreOf(form, Factory));
            QCOMPARE(form.SelUserName->text(), Factory);
            QCOMPARE(form.UserNotes->toPlainText(), QString());
            // Stored under the desktop they were typed for, not the one clicked.
            QCOMPARE(value(FactorySection, Notes), QStringLiteral("-"));
        } else {
            QVERIFY(form.close());
        }
        QCOMPARE(TKxSettingsFile::DecodeNotes(value(StudioSection, Notes)), QStringLiteral("  call at 7\nstage B  "));
        // Shown again as typed.
        s().SetLastDesktop(QStringLiteral("Studio"));
        TKxSettingsForm again(s());
        QCOMPARE(again.SelUserName->text(), QStringLiteral("Studio"));
        QCOMPARE(again.UserNotes->toPlainText(), QStringLiteral("  call at 7\nstage B  "));
    }

    // The lock button and the Edit menu's "Set Password" protect and unprotect the selection.
    void lockProtectsAndUnprotects_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("lock button") << false;
        QTest::newRow("Set Password") << true;
    }

    void lockProtectsAndUnprotects()
    {
        QFETCH(bool, byMenu);
        s().SetLastDesktop(QStringLiteral("Locked"));
        TKxSettingsForm form(s());
        auto press = [&] { byMenu ? form.SetPassword1->trigger() : form.Locked->click(); };
        QCOMPARE(form.Locked->text(), QStringLiteral("Unlock"));
        QVERIFY(showsGlyph(form.Locked, QStringLiteral("LOCKED")));
        QVERIFY(!form.UserNotes->isEnabled());

        QStringList asked = run({DialogScript::enter(QStringLiteral("wrong")), DialogScript::ok()}, press);
        QCOMPARE(asked, QStringList({"Protected|Enter password to unlock", "Protected|Incorrect Password"}));
        QCOMPARE(form.Locked->text(), QStringLiteral("Unlock"));
        QVERIFY(s().IsProtected(QStringLiteral("Locked")));

        asked = run({DialogScript::enter(Secret)}, press);
        QCOMPARE(asked, QStringList({"Protected|Enter password to unlock"}));
        QCOMPARE(form.Locked->text(), QStringLiteral("Protect"));
        QVERIFY(showsGlyph(form.Locked, QStringLiteral("UNLOCKED")));
        QVERIFY(form.UserNotes->isEnabled());
        QCOMPARE(s().ReadPassword(LockedSection), QString());

        asked = run({DialogScript::enter(QStringLiteral("fresh"))}, press);
        QCOMPARE(asked, QStringList({"Enter Password|Enter password to lock"}));
        QCOMPARE(form.Locked->text(), QStringLiteral("Unlock"));
        QVERIFY(!form.UserNotes->isEnabled());
        QCOMPARE(s().ReadPassword(LockedSection), scrambled(QStringLiteral("fresh")));
    }

    // ---- Desktop actions -------------------------------------------------------------------

    void desktopActionsRefreshTheList_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("selected");
        QTest::newRow("Save New") << "Button4" << QStringList({"enter:Evening"})
                                  << QStringList({Factory, "Studio", "Locked", "Evening"}) << "Evening";
        QTest::newRow("Edit menu New") << "New1" << QStringList({"enter:Evening"})
                                       << QStringList({Factory, "Studio", "Locked", "Evening"}) << "Evening";
        QTest::newRow("Rename") << "Button3" << QStringList({"enter:Morning"})
                                << QStringList({Factory, "Locked", "Morning"}) << "Morning";
        QTest::newRow("Delete") << "Button2" << QStringList() << QStringList({Factory, "Locked"}) << "";
    }

    void desktopActionsRefreshTheList()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, replies);
        QFETCH(QStringList, listed);
        QFETCH(QString, selected);
        s().SetLastDesktop(QStringLiteral("Studio"));
        TKxSettingsForm form(s());
        const QStringList asked = run(answers(replies), [&] {
            if (action == QLatin1String("New1"))
                form.New1->trigger();
            else
                form.findChild<QPushButton *>(action)->click();
        });
        QCOMPARE(asked.size(), replies.size());
        QCOMPARE(form.listedNames(), listed);
        QCOMPARE(form.selectedNames(), selected.isEmpty() ? QStringList() : QStringList({selected}));
        QCOMPARE(form.SelUserName->text(), selected);
        QCOMPARE(form.IA_Apply->isEnabled(), !selected.isEmpty());
    }

    void refreshFactoryDefaultsSelectsItWithoutApplyingIt()
    {
        s().settingsStore().eraseSection(FactorySection);
        s().SetLastDesktop(QStringLiteral("Studio"));
        TKxSettingsForm form(s());
        QCOMPARE(form.listedNames(), QStringList({"Studio", "Locked"}));
        form.R1->trigger();
        QCOMPARE(form.listedNames(), QStringList({"Studio", "Locked", Factory}));
        QCOMPARE(form.selectedNames(), QStringList({Factory}));
        QCOMPARE(form.SelUserName->text(), Factory);
        QCOMPARE(value(FactorySection, reelName(1)), QStringLiteral("CAM1"));
        QCOMPARE(value(App, LastUser), Factory);
        QCOMPARE(value(Current, reelName(1)), QStringLiteral("-"));
    }

    void monitorChoiceWritesMultiDisplay()
    {
        TKxSettingsForm form(s());
        QVERIFY(form.SingleMonitor1->isChecked());
        QVERIFY(!form.MultipleMonitors1->isChecked());
        form.MultipleMonitors1->trigger();
        QCOMPARE(value(App, MultiDisplay), QStringLiteral("1"));
        QVERIFY(s().MultiDisplay());
        QVERIFY(!form.SingleMonitor1->isChecked());

        TKxSettingsForm reopened(s());
        QVERIFY(reopened.MultipleMonitors1->isChecked());
        reopened.SingleMonitor1->trigger();
        QCOMPARE(value(App, MultiDisplay), QStringLiteral("0"));
        QVERIFY(!s().MultiDisplay());
        QVERIFY(!reopened.MultipleMonitors1->isChecked());
    }

    // ---- The modal window ------------------------------------------------------------------

    void showDesktopSetupRunsModally_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("currentReel");
        QTest::addColumn<QString>("studioReel");
        QTest::addColumn<QString>("currentNotes");
        const QString studioNotes = QStringLiteral("first line\\nsecond");
        QTest::newRow("double-click") << "double-click" << "Jib" << "Jib" << studioNotes;
        QTest::newRow("Apply") << "Apply" << "Jib" << "Jib" << studioNotes;
        // Update stores "Current"; the notes shown for the desktop are stored as the window
        // closes, so the desktop keeps them.
        QTest::newRow("Update") << "Update" << "Live" << "Live" << "live notes";
        QTest::newRow("Exit") << "Exit" << "Live" << "Jib" << "live notes";
        QTest::newRow("close box") << "close" << "Live" << "Jib" << "live notes";
    }

    void showDesktopSetupRunsModally()
    {
        QFETCH(QString, how);
        QFETCH(QString, currentReel);
        QFETCH(QString, studioReel);
        QFETCH(QString, currentNotes);
        s().SetLastDesktop(QStringLiteral("Studio"));
        s().SetString(reelName(1), QStringLiteral("Live"));
        s().SetString(Notes, QStringLiteral("live notes"));
        QPointer<TKxSettingsForm> shown;
        QString caption;
        bool modalOnTop = false;
        QSize minimum;
        bool stayedOpen = false;
        QTimer::singleShot(0, this, [&] {
            shown = qobject_cast<TKxSettingsForm *>(QApplication::activeModalWidget());
            if (!shown) {
                // Not found as the modal window: close it anyway, so that the test ends.
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (qobject_cast<TKxSettingsForm *>(w))
                        w->close();
                }
                return;
            }
            if (!QTest::qWaitForWindowExposed(shown))
                qWarning("the Desktop Setup window was not exposed");
            caption = shown->windowTitle();
            modalOnTop = shown->windowModality() == Qt::ApplicationModal
                         && shown->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            minimum = shown->minimumSize() + (shown->frameGeometry().size() - shown->size());
            if (how == QLatin1String("double-click")) {
                // A double-click reaches a widget as press, release, then the double-click event.
                const QPoint at = centreOf(*shown, QStringLiteral("Studio"));
                QTest::mouseClick(shown->UserListBox->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(shown->UserListBox->viewport(), Qt::LeftButton, {}, at);
            }
            else if (how == QLatin1String("Apply"))
                shown->Button5->click();
            else if (how == QLatin1String("Update"))
                shown->Button1->click();
            else if (how == QLatin1String("Exit"))
                shown->Exit1->trigger();
            else
                shown->close();
            // A window that stayed open fails the test instead of hanging it.
            stayedOpen = shown->isVisible();
            if (stayedOpen)
                shown->close();
        });
        s().ShowDesktopSetup();

        QVERIFY2(caption == QLatin1String("Desktop Setup"), "the window was not the modal window");
        QVERIFY(modalOnTop);
        QVERIFY(!stayedOpen);
        QCOMPARE(minimum, QSize(TKxSettingsForm::MinWidth, TKxSettingsForm::MinHeight));
        QVERIFY(shown.isNull());
        QVERIFY(TKxForm::openForms().isEmpty());
        QCOMPARE(value(Current, reelName(1)), currentReel);
        QCOMPARE(value(StudioSection, reelName(1)), studioReel);
        QCOMPARE(value(Current, Notes), currentNotes);
        QCOMPARE(value(StudioSection, Notes), QStringLiteral("first line\\nsecond"));
        // The placement is kept after the window closed: it opened at the pointer.
        QCOMPARE(value(Current, QStringLiteral("<FORM>KxSettingsForm_FLeft")), QStringLiteral("100"));
        QCOMPARE(value(Current, QStringLiteral("<FORM>KxSettingsForm_FTop")), QStringLiteral("100"));
    }

    // ---- Export ----------------------------------------------------------------------------

    void exportPageOffersTheSavedDesktops_data()
    {
        QTest::addColumn<QStringList>("erased");
        QTest::addColumn<QString>("lastUser");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("exportEnabled");
        QTest::newRow("factory default only")
            << QStringList({StudioSection, LockedSection}) << Factory << "There are no saved settings to export."
            << false;
        QTest::newRow("a saved desktop selected") << QStringList() << "Studio" << "Select settings to export." << true;
        QTest::newRow("nothing selected") << QStringList() << "" << "Select settings to export." << false;
        // One saved desktop and no factory default: there is something to export.
        QTest::newRow("one saved desktop only")
            << QStringList({FactorySection, LockedSection}) << "Studio" << "Select settings to export." << true;
    }

    void exportPageOffersTheSavedDesktops()
    {
        QFETCH(QStringList, erased);
        QFETCH(QString, lastUser);
        QFETCH(QString, label);
        QFETCH(bool, exportEnabled);
        for (const QString &section : erased)
            s().settingsStore().eraseSection(section);
        s().SetLastDesktop(lastUser);
        TKxSettingsForm form(s());
        const QStringList listed = form.listedNames();
        form.Export1->trigger();
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageExport));
        QCOMPARE(form.listedNames(), listed);
        QCOMPARE(form.selectedNames(), lastUser.isEmpty() ? QStringList() : QStringList({lastUser}));
        QCOMPARE(form.EXP_Label->text(), label);
        QCOMPARE(form.EXP_B_OK->isEnabled(), exportEnabled);
        QCOMPARE(form.Button4->text(), QStringLiteral("Clear"));
        QCOMPARE(form.Button5->text(), QStringLiteral("Select All"));
        // The desktop actions belong to the desktop page.
        for (QAction *action : {form.IA_Apply, form.IA_Save, form.IA_Delete, form.IA_Rename})
            QVERIFY(!action->isEnabled());
    }

    void exportToANewFileAsksNothing_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QByteArray>("exeLine");
        QTest::newRow("corvane") << "corvane" << QByteArray("Exe=CORVANE\r\n");
        // Only ASCII letters change, as the program's own check compares them: the file stays ours.
        QTest::newRow("letters beyond ASCII")
            << QString::fromUtf8("corvané.exe") << QByteArray("Exe=CORVAN\xE9.EXE\r\n");
    }

    void exportToANewFileAsksNothing()
    {
        QFETCH(QString, exe);
        QFETCH(QByteArray, exeLine);
        AppPaths::setExecutableFileName(exe);
        // Still a portable program, whose dialogs start in its folder.
        QString base = exe;
        base.remove(QStringLiteral(".exe"));
        QVERIFY(TestFiles::write(m_dir->filePath(base + QStringLiteral(".def")), Defaults));
        TKxSettingsForm form(s());
        form.Export1->trigger();
        selectOnly(form, {QStringLiteral("Studio"), QStringLiteral("Locked")});
        QVERIFY(form.EXP_B_OK->isEnabled());
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("out")));
        const QString path = m_dir->filePath(QStringLiteral("out/desktops.ini"));

        FileDialogAnswer files(path);
        const QStringList asked = run({}, [&] { form.EXP_B_OK->click(); });
        QCOMPARE(asked, QStringList());
        QCOMPARE(files.replaceQuestions, QStringList());
        QCOMPARE(files.openedIn, QStringList({QDir(m_dir->path()).absolutePath()}));
        const QByteArray expected = "[App]\r\n" + exeLine
                                    + "[USER\\Studio]\r\n"
                                      "reelname1=Jib\r\n"
                                      "Notes=first line\\nsecond\r\n"
                                      "[USER\\Locked]\r\n"
                                      "reelname1=Crane\r\n"
                                      "Notes=locked notes\r\n"
                                    + passLine(Secret);
        QCOMPARE(TestFiles::read(path), expected);
        QCOMPARE(TKxSettingsFile::CheckApplication(IniFile(path)), 1);
        QCOMPARE(value(App, PathExport), folderValue(m_dir->filePath(QStringLiteral("out"))));
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageInternal));
    }

    void exportIntoAnExistingFileAsks_data()
    {
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("studioReel");
        QTest::addColumn<QString>("lockedReel");
        const QStringList questions = {"Export desktop setup|Overwrite existing \"Studio\"?",
                                       "Export desktop setup|Overwrite existing \"Locked\"?",
                                       "Export Desktop Settings|Enter Password to Overwrite Locked"};
        QTest::newRow("agree to all") << QStringList({"ok", "ok", "enter:secret"}) << questions << "Jib" << "Crane";
        QTest::newRow("one declined") << QStringList({"cancel", "ok", "enter:secret"}) << questions << "Old" << "Crane";
        QTest::newRow("wrong password") << QStringList({"ok", "ok", "enter:wrong", "ok"})
                                        << questions + QStringList({"Export Desktop Settings|Incorrect Password"})
                                        << "Jib" << "Old";
    }

    void exportIntoAnExistingFileAsks()
    {
        QFETCH(QStringList, replies);
        QFETCH(QStringList, asked);
        QFETCH(QString, studioReel);
        QFETCH(QString, lockedReel);
        const QString path = m_dir->filePath(QStringLiteral("shared.ini"));
        QVERIFY(TestFiles::write(path, "[App]\r\nExe=corvane\r\n"
                                       "[USER\\Studio]\r\nreelname1=Old\r\n"
                                       "[USER\\Locked]\r\nreelname1=Old\r\n" + passLine(Secret)
                                           + "[USER\\Other]\r\nreelname1=Kept\r\n"));
        s().WriteValue(App, PathExport, folderValue(m_dir->path()));
        TKxSettingsForm form(s());
        form.Export1->trigger();
        selectOnly(form, {QStringLiteral("Studio"), QStringLiteral("Locked")});

        FileDialogAnswer files(path);
        QCOMPARE(run(answers(replies), [&] { form.EXP_B_OK->click(); }), asked);
        QCOMPARE(files.replaceQuestions.size(), 1);
        const IniFile out(path);
        QCOMPARE(out.readString(StudioSection, reelName(1), QString()), studioReel);
        QCOMPARE(out.readString(LockedSection, reelName(1), QString()), lockedReel);
        QCOMPARE(out.readString(QStringLiteral("USER\\Other"), reelName(1), QString()), QStringLiteral("Kept"));
        QCOMPARE(out.readString(App, Exe, QString()), QStringLiteral("CORVANE"));
    }

    // ---- Import ----------------------------------------------------------------------------

    void importAsksOnlyForDesktopsTheSettingsFileHas_data()
    {
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("studioReel");
        QTest::addColumn<QString>("lockedReel");
        const QStringList questions = {"|Do you want to overwrite the existing \"Studio\"?",
                                       "|Do you want to overwrite the existing \"Locked\"?",
                                       "Import desktop setup|Enter Password to Overwrite \"Locked\"."};
        QTest::newRow("agree to all") << QStringList({"ok", "ok", "enter:secret"}) << questions << "Imported"
                                      << "Imported";
        QTest::newRow("declined and wrong password")
            << QStringList({"cancel", "ok", "enter:wrong", "ok"})
            << questions + QStringList({"Import desktop setup|Incorrect Password"}) << "Jib" << "Crane";
    }

    void importAsksOnlyForDesktopsTheSettingsFileHas()
    {
        QFETCH(QStringList, replies);
        QFETCH(QStringList, asked);
        QFETCH(QString, studioReel);
        QFETCH(QString, lockedReel);
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("in")));
        const QString path = m_dir->filePath(QStringLiteral("in/team.ini"));
        QVERIFY(TestFiles::write(path, "[App]\r\nExe=CORVANE\r\n"
                                       "[Current]\r\nreelname1=Ignored\r\n"
                                       "[USER\\Studio]\r\nreelname1=Imported\r\n"
                                       "[USER\\Locked]\r\nreelname1=Imported\r\n"
                                       "[user\\Fresh]\r\nreelname1=New one\r\n" + passLine(QStringLiteral("fresh"))));
        TKxSettingsForm form(s());
        form.Import1->trigger();
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageImport));
        QCOMPARE(form.listedNames(), QStringList());
        QVERIFY(!form.IMP_B_OK->isEnabled());

        FileDialogAnswer files(path);
        QCOMPARE(run({}, [&] { form.Button6->click(); }), QStringList());
        QCOMPARE(files.openedIn, QStringList({QDir(m_dir->path()).absolutePath()}));
        QCOMPARE(value(App, PathImport), folderValue(m_dir->filePath(QStringLiteral("in"))));
        QCOMPARE(form.IMP_File->text(), QDir::toNativeSeparators(path));
        QCOMPARE(form.listedNames(), QStringList({"Studio", "Locked", "Fresh"}));
        QVERIFY(!form.IMP_B_OK->isEnabled());
        form.Button5->click(); // Select All
        QVERIFY(form.IMP_B_OK->isEnabled());

        QCOMPARE(run(answers(replies), [&] { form.IMP_B_OK->click(); }), asked);
        QCOMPARE(value(StudioSection, reelName(1)), studioReel);
        QCOMPARE(value(LockedSection, reelName(1)), lockedReel);
        QVERIFY(s().IsProtected(QStringLiteral("Locked")));
        // A desktop the settings file lacked comes in without a question, password included.
        QCOMPARE(value(QStringLiteral("USER\\Fresh"), reelName(1)), QStringLiteral("New one"));
        QCOMPARE(s().ReadPassword(QStringLiteral("USER\\Fresh")), scrambled(QStringLiteral("fresh")));
        QCOMPARE(value(Current, reelName(1)), QStringLiteral("-"));
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageInternal));
        QCOMPARE(form.listedNames(), QStringList({Factory, "Studio", "Locked", "Fresh"}));
    }

    // The import page's list holds the import file's desktops: the desktop actions stay off, and
    // the export page lists the saved desktops again.
    void importListStaysApartFromTheSavedDesktops()
    {
        s().SetLastDesktop(QStringLiteral("Studio"));
        const QString path = m_dir->filePath(QStringLiteral("other.ini"));
        QVERIFY(TestFiles::write(path, "[App]\r\nExe=corvane\r\n[USER\\Alpha]\r\nreelname1=A\r\n"));
        TKxSettingsForm form(s());
        form.Import1->trigger();
        {
            FileDialogAnswer files(path);
            run({}, [&] { form.Button6->click(); });
        }
        QCOMPARE(form.listedNames(), QStringList({"Alpha"}));
        form.Button5->click();
        for (QAction *action : {form.IA_Apply, form.IA_Save, form.IA_Delete, form.IA_Rename, form.SetPassword1})
            QVERIFY(!action->isEnabled());
        form.Export1->trigger();
        QCOMPARE(form.listedNames(), QStringList({Factory, "Studio", "Locked"}));
        QVERIFY(!form.EXP_B_OK->isEnabled());
        form.Button8->click(); // Cancel
        QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageInternal));
        QCOMPARE(form.selectedNames(), QStringList({"Studio"}));
        QVERIFY(form.IA_Delete->isEnabled());
        QVERIFY(!s().DesktopExists(QStringLiteral("Alpha")));
    }

    void fileOfAnotherProgramIsRefused_data()
    {
        QTest::addColumn<bool>("importing");
        QTest::addColumn<QByteArray>("content");
        const QByteArray other = "[App]\r\nExe=other.exe\r\n[USER\\X]\r\nreelname1=x\r\n";
        const QByteArray unmarked = "[USER\\X]\r\nreelname1=x\r\n";
        QTest::newRow("import: other program") << true << other;
        QTest::newRow("import: no Exe") << true << unmarked;
        QTest::newRow("export: other program") << false << other;
        QTest::newRow("export: no Exe") << false << unmarked;
    }

    void fileOfAnotherProgramIsRefused()
    {
        QFETCH(bool, importing);
        QFETCH(QByteArray, content);
        const QString foreign = m_dir->filePath(QStringLiteral("foreign.ini"));
        QVERIFY(TestFiles::write(foreign, content));
        s().SetLastDesktop(QStringLiteral("Studio"));
        TKxSettingsForm form(s());
        if (importing) {
            // A file of ours first, with its desktops selected, then the foreign one.
            const QString ours = m_dir->filePath(QStringLiteral("ours.ini"));
            QVERIFY(TestFiles::write(ours, "[App]\r\nExe=corvane\r\n[USER\\Y]\r\nreelname1=y\r\n"));
            form.Import1->trigger();
            {
                FileDialogAnswer files(ours);
                run({}, [&] { form.Button6->click(); });
            }
            form.Button5->click();
            QVERIFY(form.IMP_B_OK->isEnabled());
            FileDialogAnswer files(foreign);
            QCOMPARE(run({DialogScript::ok()}, [&] { form.Button6->click(); }),
                     QStringList({"|Imported settings are for a different application"}));
            QCOMPARE(form.listedNames(), QStringList());
            QVERIFY(!form.IMP_B_OK->isEnabled());
            QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageImport));
        } else {
            form.Export1->trigger();
            QVERIFY(form.EXP_B_OK->isEnabled());
            FileDialogAnswer files(foreign);
            QCOMPARE(run({DialogScript::ok()}, [&] { form.EXP_B_OK->click(); }),
                     QStringList({"|File contains settings for a different application."}));
            QCOMPARE(form.currentPage(), int(TKxSettingsForm::PageExport));
            QCOMPARE(TestFiles::read(foreign), content);
        }
    }
};

QTEST_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
