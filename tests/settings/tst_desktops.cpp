#include "Passwords.h"
#include "AppPaths.h"
#include "DialogScript.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "TestFiles.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace SettingsKeys;
using Script = QList<DialogScript::Answer>;

namespace {

const QByteArray Defaults = "[APP]\r\nExe=corvane\r\n"
                            "[USER\\<FACTORY DEFAULT>]\r\nreelname1=CAM1\r\nfilename=show\r\ncheckdisp=0\r\n";

const QString Secret = QStringLiteral("secret");

} // namespace

// The desktop operations, answered through the real dialogs.
class TestDesktops : public QObject {
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    QStringList m_messages;

    TKxSettingsFile &s() { return *SettingsFile; }
    QString value(const QString &section, const QString &key) { return s().ReadValue(section, key, QStringLiteral("-")); }
    // Runs an operation while the script answers its dialogs; returns what the dialogs asked.
    template <typename F>
    QStringList run(const Script &answers, F operation)
    {
        DialogScript script(answers);
        operation();
        return script.seen();
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        AppPaths::setProgramFolder(m_dir->path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("corvane.def")), Defaults));
        CreateSettingsFile([this](const QString &m) { m_messages << m; });
        QVERIFY(SettingsFile);
        // Two saved desktops; "Locked" has the password "secret" and notes.
        s().WriteValue(QStringLiteral("USER\\Open"), reelName(1), QStringLiteral("Jib"));
        s().WriteValue(QStringLiteral("USER\\Locked"), reelName(1), QStringLiteral("Crane"));
        s().WriteValue(QStringLiteral("USER\\Locked"), Notes, QStringLiteral("late show\\nstudio 2"));
        s().WritePassword(QStringLiteral("USER\\Locked"), scrambled(Secret));
    }

    void cleanup()
    {
        CloseSettingsFile();
        delete m_dir;
    }

    void applyingAProtectedDesktopAsksNothing()
    {
        const QStringList asked = run({}, [&] { QVERIFY(s().ApplyDesktop(QStringLiteral("locked"))); });
        QCOMPARE(asked, QStringList());
        QCOMPARE(s().GetString(reelName(1)), QStringLiteral("Crane"));
        QCOMPARE(value(Current, Notes), QStringLiteral("late show\\nstudio 2"));
        QCOMPARE(value(Current, Pass), QStringLiteral("-"));
        QCOMPARE(value(App, LastUser), QStringLiteral("locked"));
        QVERIFY(!s().ApplyDesktop(QStringLiteral("nope")));
    }

    // Update, delete and rename of a protected desktop ask its password; a wrong one stops them.
    void changesAskThePassword_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("update") << "update" << "Protected|Enter Password to overwrite existings setup.";
        QTest::newRow("delete") << "delete" << "Protected|Enter Password to delete.";
        QTest::newRow("rename") << "rename" << "Protected|Enter password to rename";
    }

    void changesAskThePassword()
    {
        QFETCH(QString, operation);
        QFETCH(QString, prompt);
        auto perform = [&] {
            const QString name = QStringLiteral("Locked");
            if (operation == QLatin1String("update"))
                s().UpdateDesktop(nullptr, name);
            else if (operation == QLatin1String("delete"))
                s().DeleteDesktop(nullptr, name);
            else
                s().RenameDesktop(nullptr, name);
        };
        s().SetString(reelName(1), QStringLiteral("Changed"));
        const QByteArray before = TestFiles::read(s().settingsStore().path());
        QStringList asked = run({DialogScript::enter(QStringLiteral("wrong")), DialogScript::ok()}, perform);
        QCOMPARE(asked, QStringList({prompt, "Protected|Incorrect Password"}));
        QCOMPARE(TestFiles::read(s().settingsStore().path()), before);

        asked = run({DialogScript::enter(Secret), DialogScript::enter(QStringLiteral("Renamed"))}, perform);
        QCOMPARE(asked.first(), prompt);
        if (operation == QLatin1String("update")) {
            QCOMPARE(value(QStringLiteral("USER\\Locked"), reelName(1)), QStringLiteral("Changed"));
            QCOMPARE(s().ReadPassword(QStringLiteral("USER\\Locked")), scrambled(Secret));
        } else if (operation == QLatin1String("delete")) {
            QVERIFY(!s().DesktopExists(QStringLiteral("Locked")));
        } else {
            QVERIFY(!s().DesktopExists(QStringLiteral("Locked")));
            QVERIFY(s().IsProtected(QStringLiteral("Renamed")));
            QCOMPARE(value(QStringLiteral("USER\\Renamed"), Notes), QStringLiteral("late show\\nstudio 2"));
            QCOMPARE(value(App, LastUser), QStringLiteral("Renamed"));
        }
    }

    void unprotectedChangesAskNothing()
    {
        QCOMPARE(run({}, [&] { s().UpdateDesktop(nullptr, QStringLiteral("Open")); }), QStringList());
        QCOMPARE(run({}, [&] { s().DeleteDesktop(nullptr, QStringLiteral("Open")); }), QStringList());
        QVERIFY(!s().DesktopExists(QStringLiteral("Open")));
    }

    void saveNewWithCancelSavesNew()
    {
        s().SetString(reelName(1), QStringLiteral("Steadicam"));
        QStringList asked = run({DialogScript::cancel()}, [&] { s().SaveNewDesktop(nullptr); });
        QCOMPARE(asked, QStringList({"Save desktop settings|Enter a name for these settings"}));
        QCOMPARE(value(QStringLiteral("USER\\New"), reelName(1)), QStringLiteral("Steadicam"));
        QCOMPARE(value(App, LastUser), QStringLiteral("New"));
        // Again: "New" exists now, so the overwrite question comes first; declining keeps it.
        s().SetString(reelName(1), QStringLiteral("Other"));
        asked = run({DialogScript::cancel(), DialogScript::cancel()}, [&] { s().SaveNewDesktop(nullptr); });
        QCOMPARE(asked.last(), QStringLiteral("|Do you want to overwrite the existing \"New\"?"));
        QCOMPARE(value(QStringLiteral("USER\\New"), reelName(1)), QStringLiteral("Steadicam"));
    }

    void saveNewOverAProtectedDesktopAsksThePasswordTwice()
    {
        s().SetString(reelName(1), QStringLiteral("Handheld"));
        const QStringList asked = run({DialogScript::enter(QStringLiteral("Locked")), DialogScript::ok(),
                                       DialogScript::enter(Secret), DialogScript::enter(Secret)},
                                      [&] { s().SaveNewDesktop(nullptr); });
        QCOMPARE(asked, QStringList({"Save desktop settings|Enter a name for these settings",
                                     "|Do you want to overwrite the existing \"Locked\"?",
                                     "Protected|Enter password to overwrite",
                                     "Protected|Enter Password to overwrite existings setup."}));
        QCOMPARE(value(QStringLiteral("USER\\Locked"), reelName(1)), QStringLiteral("Handheld"));
        QVERIFY(s().IsProtected(QStringLiteral("Locked")));
    }

    void renameToItsOwnNameChangesNothing_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::newRow("same") << "Open";
        QTest::newRow("other letter case") << "OPEN";
        QTest::newRow("cancel gives the old name") << "";
    }

    void renameToItsOwnNameChangesNothing()
    {
        QFETCH(QString, newName);
        const QByteArray before = TestFiles::read(s().settingsStore().path());
        bool renamed = true;
        const QStringList asked = run({newName.isEmpty() ? DialogScript::cancel() : DialogScript::enter(newName)},
                                      [&] { renamed = s().RenameDesktop(nullptr, QStringLiteral("Open")); });
        QVERIFY(!renamed);
        QCOMPARE(asked, QStringList({"Desktop Setup|Enter a new name to replace \"Open\"."}));
        QCOMPARE(TestFiles::read(s().settingsStore().path()), before);
    }

    void renameToAnEmptyNameIsRefused()
    {
        bool renamed = true;
        const QStringList asked = run({DialogScript::enter(QStringLiteral("   ")), DialogScript::ok()},
                                      [&] { renamed = s().RenameDesktop(nullptr, QStringLiteral("Open")); });
        QVERIFY(!renamed);
        QCOMPARE(asked.last(), QStringLiteral("|Invalid name"));
        QVERIFY(s().DesktopExists(QStringLiteral("Open")));
    }

    void renameOntoAnExistingDesktopMerges()
    {
        s().WriteValue(QStringLiteral("USER\\Locked"), QStringLiteral("onlyLocked"), QStringLiteral("kept"));
        bool renamed = false;
        const QStringList asked = run({DialogScript::enter(QStringLiteral("Locked")), DialogScript::ok(),
                                       DialogScript::enter(Secret)},
                                      [&] { renamed = s().RenameDesktop(nullptr, QStringLiteral("Open")); });
        QVERIFY(renamed);
        QCOMPARE(asked, QStringList({"Desktop Setup|Enter a new name to replace \"Open\".",
                                     "|Do you want to overwrite the existing \"Locked\"?",
                                     "Protected|Enter password to overwrite"}));
        QVERIFY(!s().DesktopExists(QStringLiteral("Open")));
        QCOMPARE(value(QStringLiteral("USER\\Locked"), reelName(1)), QStringLiteral("Jib"));
        QCOMPARE(value(QStringLiteral("USER\\Locked"), QStringLiteral("onlyLocked")), QStringLiteral("kept"));
        // The old desktop had no password: the existing one stays.
        QVERIFY(s().IsProtected(QStringLiteral("Locked")));
        QCOMPARE(s().DesktopNames(), QStringList({"<FACTORY DEFAULT>", "Locked"}));
    }

    void protectAndUnprotect()
    {
        bool done = false;
        QStringList asked = run({DialogScript::enter(QStringLiteral("pw"))},
                                [&] { done = s().ProtectDesktop(nullptr, QStringLiteral("Open"), QStringLiteral("Enter password to lock")); });
        QVERIFY(done);
        QCOMPARE(asked, QStringList({"Enter Password|Enter password to lock"}));
        QCOMPARE(s().ReadPassword(QStringLiteral("USER\\Open")), scrambled(QStringLiteral("pw")));
        // Already protected: nothing is asked.
        QVERIFY(!s().ProtectDesktop(nullptr, QStringLiteral("Open"), QStringLiteral("x")));

        asked = run({DialogScript::enter(QStringLiteral("pw"))}, [&] {
            done = s().UnprotectDesktop(nullptr, QStringLiteral("Open"), QStringLiteral("Enter password to unlock"),
                                        QStringLiteral("Protected"));
        });
        QVERIFY(done);
        QCOMPARE(asked, QStringList({"Protected|Enter password to unlock"}));
        QVERIFY(s().settingsStore().keys(QStringLiteral("USER\\Open")).contains(Pass));
        QVERIFY(!s().IsProtected(QStringLiteral("Open")));
        // An empty password protects nothing.
        QVERIFY(!run({DialogScript::ok()}, [&] {
                     done = s().ProtectDesktop(nullptr, QStringLiteral("Open"), QStringLiteral("p"));
                 }).isEmpty());
        QVERIFY(!done);
        QVERIFY(!s().IsProtected(QStringLiteral("Open")));
    }

    void deletedFactoryDesktopComesBackOnRefresh()
    {
        s().DeleteDesktop(nullptr, FactoryDesktop);
        QCOMPARE(s().DesktopNames(), QStringList({"Open", "Locked"}));
        QCOMPARE(s().GetString(QStringLiteral("filename")), QStringLiteral("show"));
        s().RefreshFactoryDefaults();
        QCOMPARE(s().DesktopNames(), QStringList({"Open", "Locked", "<FACTORY DEFAULT>"}));
    }

    void notesTravelWithApplyAndUpdate()
    {
        QVERIFY(s().ApplyDesktop(QStringLiteral("Locked")));
        s().UpdateDesktop(nullptr, QStringLiteral("Open"));
        QCOMPARE(value(QStringLiteral("USER\\Open"), Notes), QStringLiteral("late show\\nstudio 2"));
        QVERIFY(!s().IsProtected(QStringLiteral("Open")));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestDesktops test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktops.moc"
