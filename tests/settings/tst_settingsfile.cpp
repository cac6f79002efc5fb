#include "AppPaths.h"
#include "Errors.h"
#include "FaultyDisk.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "TestFiles.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace SettingsKeys;

namespace {

// A small default settings file: enough keys to show each rule.
const QByteArray Defaults = "[APP]\r\n"
                            "Exe=corvane\r\n"
                            "Version=1\r\n"
                            "[USER\\<FACTORY DEFAULT>]\r\n"
                            "reelname1=CAM1\r\n"
                            "edittype1=V\r\n"
                            "GPO8=0\r\n"
                            "checkdisp=1\r\n"
                            "twobool=2\r\n"
                            "count=12\r\n"
                            "empty=\r\n"
                            "Pass=factorypass\r\n";

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    QStringList m_messages;

    QString settingsPath() const { return m_dir->filePath(QStringLiteral("corvane.ini")); }
    QString defaultsPath() const { return m_dir->filePath(QStringLiteral("corvane.def")); }
    SettingsMessageSink sink()
    {
        return [this](const QString &m) { m_messages << m; };
    }
    // A settings object over the fixture files, after the start-up steps.
    std::unique_ptr<TKxSettingsFile> open()
    {
        auto s = std::make_unique<TKxSettingsFile>(settingsPath(), defaultsPath(), sink());
        s->startUp();
        return s;
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        AppPaths::setProgramFolder(m_dir->path());
        AppPaths::setExecutableFileName(QStringLiteral("corvane"));
        QVERIFY(TestFiles::write(defaultsPath(), Defaults));
        // A case that removes corvane.def makes the program an installed one: its user folders
        // are this case's own too.
        QVERIFY(qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("config")))));
        QVERIFY(qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("state")))));
        m_messages.clear();
    }

    void cleanup()
    {
        CloseSettingsFile();
        delete m_dir;
        m_dir = nullptr;
    }

    void firstStartCreatesTheSettingsFile()
    {
        CreateSettingsFile(sink());
        QVERIFY(SettingsFile);
        QVERIFY(!SettingsTerminateRequested());
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(TestFiles::read(settingsPath()),
                 QByteArray("[APP]\r\nExe=corvane\r\nVersion=1\r\n"
                            "[USER\\<FACTORY DEFAULT>]\r\nreelname1=CAM1\r\nedittype1=V\r\nGPO8=0\r\n"
                            "checkdisp=1\r\ntwobool=2\r\ncount=12\r\nPass=factorypass\r\n"));
        QCOMPARE(SettingsFile->DesktopNames(), QStringList({"<FACTORY DEFAULT>"}));
        QCOMPARE(SettingsFile->GetString(reelName(1)), QStringLiteral("CAM1"));
        QVERIFY(!SettingsFile->settingsStore().sectionExists(Current));
    }

    void closeStampsTheExecutableAndASecondStartIsQuiet()
    {
        QVERIFY(TestFiles::write(settingsPath(), "[App]\r\nExe=other.exe\r\n"));
        CreateSettingsFile(sink());
        QCOMPARE(m_messages, QStringList({"Settings file may be corrupted"}));
        QVERIFY(!SettingsTerminateRequested());
        CloseSettingsFile();
        QVERIFY(!SettingsFile);
        QCOMPARE(IniFile(settingsPath()).readString(App, Exe, QString()), QStringLiteral("corvane"));
        m_messages.clear();
        CreateSettingsFile(sink());
        QCOMPARE(m_messages, QStringList());
    }

    void deletedSettingsFileMeansFirstStart()
    {
        CreateSettingsFile(sink());
        SettingsFile->SetString(reelName(1), QStringLiteral("Jib"));
        CloseSettingsFile();
        QVERIFY(QFile::remove(settingsPath()));
        CreateSettingsFile(sink());
        QCOMPARE(SettingsFile->GetString(reelName(1)), QStringLiteral("CAM1"));
        QVERIFY(QFile::exists(settingsPath()));
    }

    void brokenDefaultFileEndsTheProgram_data()
    {
        QTest::addColumn<QByteArray>("defaults");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray()
                                 << QStringLiteral("Default settings file is missing:\nDownload a replacement from ") + SupportAddress;
        QTest::newRow("other program") << QByteArray("[APP]\r\nExe=notcorvane\r\n")
                                       << QStringLiteral("Default settings file is invalid.\nDownload a replacement from ") + SupportAddress;
    }

    void brokenDefaultFileEndsTheProgram()
    {
        QFETCH(QByteArray, defaults);
        QFETCH(QString, message);
        QFile::remove(defaultsPath());
        if (!defaults.isEmpty())
            QVERIFY(TestFiles::write(defaultsPath(), defaults));
        CreateSettingsFile(sink());
        QCOMPARE(m_messages, QStringList({message}));
        QVERIFY(SettingsTerminateRequested());
        // The start-up still ran to its end.
        QVERIFY(SettingsFile);
        QCOMPARE(SettingsFile->DesktopNames(), QStringList());
    }

    void unwritableFolderIsReportedNotFatal()
    {
        // The program folder is a file path: nothing can be written below it.
        QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("blocked")), "x"));
        const QString blocked = m_dir->filePath(QStringLiteral("blocked")) + QStringLiteral("/corvane.ini");
        TKxSettingsFile s(blocked, defaultsPath(), sink());
        QVERIFY(s.startUp());
        QCOMPARE(m_messages, QStringList({"Unable to write to " + blocked + " (Not a directory)"}));
        try {
            s.SetString(FileName, QStringLiteral("x"));
            QFAIL("no error");
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + blocked + QStringLiteral(" (Not a directory)"));
        }
        QCOMPARE(s.GetString(reelName(1)), QStringLiteral("CAM1"));
    }

    // A setting changed while the disk is full (or the file may not grow) is refused with the
    // system's reason; the settings file stays whole, so the next start finds every desktop.
    void aRefusedWriteKeepsTheSettingsFile_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << true << "No space left on device";
        QTest::newRow("file-size limit") << false << "File too large";
    }

    void aRefusedWriteKeepsTheSettingsFile()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, reason);
        SmallFileSystem disk;
        if (fullDisk) {
            SKIP_UNLESS_MOUNTED(disk);
            // A portable program on that disk: its settings beside it.
            AppPaths::setProgramFolder(disk.path());
            QVERIFY(TestFiles::write(defaultsPath(), Defaults));
            QVERIFY(TestFiles::write(disk.filePath(QStringLiteral("corvane.def")), Defaults));
        }
        const QString path = AppPaths::settingsFilePath();
        {
            TKxSettingsFile s(path, defaultsPath(), sink());
            QVERIFY(s.startUp());
            s.WriteValue(QStringLiteral("USER\\Gala"), reelName(1), QStringLiteral("Crane"));
        }
        const QByteArray before = TestFiles::read(path);
        QVERIFY(before.contains("Gala"));

        TKxSettingsFile s(path, defaultsPath(), sink());
        QVERIFY(s.startUp());
        auto setGpo8 = [&] {
            try {
                s.SetBool(Gpo8, true);
            } catch (const CorvaneError &e) {
                return e.message();
            }
            return QString();
        };
        QString refused;
        if (fullDisk) {
            QVERIFY(disk.fill() > 0);
            refused = setGpo8();
        } else {
            const FileSizeLimit limit(before.size());
            refused = setGpo8();
        }
        QCOMPARE(refused, QStringLiteral("Unable to write to %1 (%2)").arg(path, reason));
        QCOMPARE(TestFiles::read(path), before);

        m_messages.clear();
        TKxSettingsFile next(path, defaultsPath(), sink());
        QVERIFY(next.startUp());
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(next.DesktopNames(), QStringList({"<FACTORY DEFAULT>", "Gala"}));
        QVERIFY(!next.GetBool(Gpo8));
    }

    void setValuesAreReadBackAndDefaultsUntouched()
    {
        auto s = open();
        s->SetString(reelName(1), QStringLiteral("Crane"));
        s->SetInteger(QStringLiteral("count"), -3);
        s->SetBool(Gpo8, true);
        QCOMPARE(s->GetString(QStringLiteral("REELNAME1")), QStringLiteral("Crane"));
        QCOMPARE(s->GetInteger(QStringLiteral("count")), -3);
        QVERIFY(s->GetBool(Gpo8));
        QCOMPARE(IniFile(settingsPath()).readString(Current, Gpo8, QString()), QStringLiteral("1"));
        QCOMPARE(TestFiles::read(defaultsPath()), Defaults);
        QCOMPARE(m_messages, QStringList());
    }

    void integerFallback()
    {
        auto s = open();
        QCOMPARE(s->GetInteger(QStringLiteral("count")), 12);
        QCOMPARE(s->GetInteger(QStringLiteral("<FORM>edlf_FLeft")), TKxSettingsFile::NoValue);
        QCOMPARE(m_messages, QStringList());
        QCOMPARE(s->GetInteger(QStringLiteral("nowhere")), 0);
        QCOMPARE(m_messages, QStringList({"Default user value missing for nowhere"}));
        // Text that is not an integer counts as absent in the current desktop.
        s->SetString(QStringLiteral("count"), QStringLiteral("lots"));
        QCOMPARE(s->GetInteger(QStringLiteral("count")), 12);
    }

    void boolFallback_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("current"); // empty: absent from "Current"
        QTest::addColumn<bool>("expected");
        QTest::addColumn<bool>("message");
        QTest::newRow("current 1") << "GPO8" << "1" << true << false;
        QTest::newRow("current 0 over factory") << "checkdisp" << "0" << false << false;
        QTest::newRow("factory 1") << "checkdisp" << "" << true << false;
        QTest::newRow("current 2") << "GPO8" << "2" << false << true;
        QTest::newRow("factory 2") << "twobool" << "" << false << true;
        QTest::newRow("absent everywhere") << "nowhere" << "" << false << true;
        QTest::newRow("absent window key") << "<FORM>edlf_Visible" << "" << false << false;
        QTest::newRow("hex one") << "GPO8" << "0x1" << true << false;
    }

    void boolFallback()
    {
        QFETCH(QString, key);
        QFETCH(QString, current);
        QFETCH(bool, expected);
        QFETCH(bool, message);
        auto s = open();
        if (!current.isEmpty())
            s->SetString(key, current);
        QCOMPARE(s->GetBool(key), expected);
        QCOMPARE(m_messages, message ? QStringList({"Default user value missing for " + key}) : QStringList());
    }

    void stringFallback_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("current"); // "-": absent from "Current"
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("message");
        QTest::newRow("current") << "reelname1" << "Steadicam" << "Steadicam" << false;
        QTest::newRow("empty current wins") << "reelname1" << "" << "" << false;
        QTest::newRow("factory") << "edittype1" << "-" << "V" << false;
        QTest::newRow("stored INVALID is absent") << "reelname1" << "INVALID" << "CAM1" << false;
        QTest::newRow("factory empty value") << "empty" << "-" << "" << false;
        QTest::newRow("absent window key") << "<FORM>edlf_Font" << "-" << "INVALID" << false;
        QTest::newRow("absent everywhere") << "reelname9" << "-" << "" << true;
    }

    void stringFallback()
    {
        QFETCH(QString, key);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        QFETCH(bool, message);
        auto s = open();
        if (current != QLatin1String("-"))
            s->SetString(key, current);
        QCOMPARE(s->GetString(key), expected);
        QCOMPARE(m_messages, message ? QStringList({"Default user value missing for " + key}) : QStringList());
    }

    void readersIgnoreTheSettingsFileFactoryCopy()
    {
        auto s = open();
        s->WriteValue(FactorySection, QStringLiteral("onlyhere"), QStringLiteral("x"));
        QCOMPARE(s->GetString(QStringLiteral("onlyhere")), QString());
        QCOMPARE(m_messages.size(), 1);
    }

    void readFolderDefaultsToTheProgramFolder()
    {
        auto s = open();
        QCOMPARE(s->ReadFolder(App, PathImport), AppPaths::programFolderWithSeparator());
        s->WriteValue(App, PathImport, QStringLiteral("/media/show/"));
        QCOMPARE(s->ReadFolder(App, PathImport), QStringLiteral("/media/show/"));
    }

    void copySection()
    {
        QVERIFY(TestFiles::write(settingsPath(), "[App]\r\nExe=corvane\r\n"
                                                 "[USER\\A]\r\nreelname1=Jib\r\nedlpath=\r\nPass=\xb0\x89\x6c\r\nNotes=n\r\n"
                                                 "[USER\\B]\r\nreelname1=Old\r\nedlpath=/keep/\r\nonlyB=1\r\n"));
        auto s = open();
        IniFile &store = s->settingsStore();
        TKxSettingsFile::CopySection(store, QStringLiteral("USER\\A"), store, QStringLiteral("USER\\B"), false);
        QCOMPARE(store.sectionValues(QStringLiteral("USER\\B")),
                 (QList<QPair<QString, QString>>{{"reelname1", "Jib"}, {"edlpath", "/keep/"}, {"onlyB", "1"}, {"Notes", "n"}}));
        TKxSettingsFile::CopySection(store, QStringLiteral("USER\\A"), store, QStringLiteral("USER\\C"), true);
        QCOMPARE(s->ReadPassword(QStringLiteral("USER\\C")), QString::fromLatin1("\xb0\x89\x6c"));
        QVERIFY(s->IsProtected(QStringLiteral("A")));
        QVERIFY(!s->IsProtected(QStringLiteral("B")));
        // "Pass" is left out only in exactly that spelling.
        store.writeString(QStringLiteral("USER\\D"), QStringLiteral("pass"), QStringLiteral("x"));
        TKxSettingsFile::CopySection(store, QStringLiteral("USER\\D"), store, QStringLiteral("USER\\E"), false);
        QCOMPARE(store.readString(QStringLiteral("USER\\E"), QStringLiteral("pass"), QString()), QStringLiteral("x"));
    }

    // Scrambled passwords are arbitrary bytes; each must read back exactly as written.
    void passwordsSurviveTheStore_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "abc";
        QTest::newRow("scrambles to a line feed") << "xxxxA";
        QTest::newRow("scrambles to a trailing no-break space") << "xxxxxxP";
        QTest::newRow("outside Latin-1") << QStringLiteral("\u20ac");
        QTest::newRow("spaces") << "  pass word  ";
    }

    void passwordsSurviveTheStore()
    {
        QFETCH(QString, password);
        auto s = open();
        QString scrambled;
        ScramblePassword(password, scrambled);
        s->WritePassword(QStringLiteral("USER\\A"), scrambled);
        QCOMPARE(s->ReadPassword(QStringLiteral("USER\\A")), scrambled);
        QVERIFY(s->IsProtected(QStringLiteral("A")));
        // A copied desktop keeps a password that still matches.
        TKxSettingsFile::CopySection(s->settingsStore(), QStringLiteral("USER\\A"), s->settingsStore(),
                                     QStringLiteral("USER\\B"), true);
        QCOMPARE(s->ReadPassword(QStringLiteral("USER\\B")), scrambled);
    }

    void passwordStoredFormStaysCompatible()
    {
        // "abc" scrambles to plain bytes and is stored as they are.
        QCOMPARE(TKxSettingsFile::EncodePassword(QString::fromLatin1("\xb0\x89\x6c")), QString::fromLatin1("\xb0\x89\x6c"));
        // Values written before the hex form read as they stand, even when they look alike.
        QCOMPARE(TKxSettingsFile::DecodePassword(QStringLiteral("{hex}zz")), QStringLiteral("{hex}zz"));
        QCOMPARE(TKxSettingsFile::DecodePassword(QStringLiteral("{hex}0A41")), QStringLiteral("\nA"));
    }

    void checkApplication_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<int>("expected");
        QTest::newRow("no file") << QByteArray() << 0;
        QTest::newRow("this program") << QByteArray("[App]\nExe=corvane\n") << 1;
        QTest::newRow("letter case differs") << QByteArray("[APP]\nEXE=CorVane\n") << 1;
        QTest::newRow("other program") << QByteArray("[App]\nExe=corvane.exe\n") << -1;
        QTest::newRow("no App section") << QByteArray("[Current]\nx=1\n") << -1;
        QTest::newRow("empty Exe") << QByteArray("[App]\nExe=\n") << -1;
        QTest::newRow("empty file") << QByteArray("\n") << -1;
    }

    void checkApplication()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, expected);
        const QString path = m_dir->filePath(QStringLiteral("check.ini"));
        if (!content.isEmpty())
            QVERIFY(TestFiles::write(path, content));
        QCOMPARE(TKxSettingsFile::CheckApplication(IniFile(path)), expected);
    }

    void desktopNames()
    {
        QVERIFY(TestFiles::write(settingsPath(), "[App]\nExe=corvane\n[USER\\Show A]\nk=1\n[Current]\nk=1\n"
                                                 "[user\\lower Case]\nk=1\n[USER\\]\nk=1\n[Other]\nk=1\n"
                                                 "[USER\\<FACTORY DEFAULT>]\nk=1\n[XUSER\\Tail]\nk=1\n"));
        auto s = open();
        QCOMPARE(s->DesktopNames(),
                 QStringList({"Show A", "lower Case", "USER\\", "<FACTORY DEFAULT>", "Tail"}));
        QVERIFY(s->DesktopExists(QStringLiteral("show a")));
        QVERIFY(!s->DesktopExists(QStringLiteral("Other")));
    }

    void lastDesktopAndMultiDisplay()
    {
        QVERIFY(TestFiles::write(settingsPath(), "[App]\nExe=corvane\nMultiDisplay=1\n"));
        auto s = open();
        QVERIFY(s->MultiDisplay());
        s->SetLastDesktop(QStringLiteral("Show A"));
        s->SetMultiDisplay(false);
        QCOMPARE(s->settingsStore().sectionValues(App),
                 (QList<QPair<QString, QString>>{{"Exe", "corvane"}, {"MultiDisplay", "0"}, {"LastUser", "Show A"}}));
        // Writing the value the flag already has writes nothing.
        s->settingsStore().deleteKey(App, MultiDisplay);
        s->SetMultiDisplay(false);
        QVERIFY(!s->settingsStore().keys(App).contains(MultiDisplay));
    }

    void refreshFactoryDefaultsKeepsExtraKeys()
    {
        auto s = open();
        s->WriteValue(FactorySection, QStringLiteral("reelname1"), QStringLiteral("changed"));
        s->WriteValue(FactorySection, QStringLiteral("extra"), QStringLiteral("kept"));
        s->RefreshFactoryDefaults();
        QCOMPARE(s->ReadValue(FactorySection, QStringLiteral("reelname1"), QString()), QStringLiteral("CAM1"));
        QCOMPARE(s->ReadValue(FactorySection, QStringLiteral("extra"), QString()), QStringLiteral("kept"));
    }

    void notesSurviveAsOneLine_data()
    {
        QTest::addColumn<QString>("notes");
        QTest::newRow("plain") << "Studio 2, late show";
        QTest::newRow("LF") << "line one\nline two";
        QTest::newRow("backslashes") << "C:\\shows\\n1\\";
        QTest::newRow("literal backslash n") << "\\n is not a break";
        QTest::newRow("empty lines") << "a\n\n\nb";
        QTest::newRow("blanks at both ends") << "  call at 7  ";
        QTest::newRow("tab at the end") << "stage B\t";
        QTest::newRow("only blanks") << "   ";
        QTest::newRow("blank lines at the ends") << " \nmiddle\n ";
        QTest::newRow("quoted") << "\"as quoted\"";
        QTest::newRow("quoted, blank inside") << "\" as quoted \"";
        QTest::newRow("one quotation mark") << "\"";
        QTest::newRow("two quotation marks") << "\"\"";
        QTest::newRow("quote at the start only") << "\"Final 1.2";
    }

    void notesSurviveAsOneLine()
    {
        QFETCH(QString, notes);
        auto s = open();
        s->WriteValue(QStringLiteral("USER\\A"), Notes, TKxSettingsFile::EncodeNotes(notes));
        const QString stored = s->ReadValue(QStringLiteral("USER\\A"), Notes, QString());
        QVERIFY(!stored.contains(QLatin1Char('\n')));
        QCOMPARE(TKxSettingsFile::DecodeNotes(stored), notes);
        // CR LF from a text box reads back as one line break.
        QCOMPARE(TKxSettingsFile::DecodeNotes(TKxSettingsFile::EncodeNotes(QStringLiteral("a\r\nb"))), QStringLiteral("a\nb"));
    }

    void notesWithoutBlanksAreStoredAsBefore()
    {
        // Files written before keep their meaning, and notes without blanks at the ends are
        // written as they always were.
        QCOMPARE(TKxSettingsFile::EncodeNotes(QStringLiteral("late show\nstudio 2")), QStringLiteral("late show\\nstudio 2"));
        QCOMPARE(TKxSettingsFile::EncodeNotes(QStringLiteral(" late")), QStringLiteral("\" late\""));
        QCOMPARE(TKxSettingsFile::DecodeNotes(QStringLiteral("late show\\nstudio 2")), QStringLiteral("late show\nstudio 2"));
        // A value quoted by hand reads without its quotation marks, as INI readers take them.
        QCOMPARE(TKxSettingsFile::DecodeNotes(QStringLiteral("\"by hand\"")), QStringLiteral("by hand"));
    }

    void theShippedDefaultSettingsFile()
    {
        // The corvane.def that the build puts beside the executables.
        const QString shipped = QCoreApplication::applicationDirPath() + QStringLiteral("/corvane.def");
        QVERIFY(QFile::exists(shipped));
        AppPaths::setProgramFolder(QCoreApplication::applicationDirPath());
        const IniFile def(shipped);
        QCOMPARE(TKxSettingsFile::CheckApplication(def), 1);
        QStringList keys{FileName, EdlPath, GpoPath, Gpo8, CheckDisplay, EdlFormat, EdlPerCamera, EdlFps, TimelinePath};
        for (int i = 1; i <= 16; ++i)
            keys << reelName(i) << editType(i);
        for (int k = 2; k <= 9; ++k)
            keys << functionKey(k);
        const QStringList present = def.keys(FactorySection);
        for (const QString &key : keys)
            QVERIFY2(present.contains(key, Qt::CaseInsensitive), qPrintable(key));
        QCOMPARE(def.readString(FactorySection, reelName(16), QString()), QStringLiteral("CAM16"));
        QCOMPARE(def.readString(FactorySection, editType(3), QString()), QStringLiteral("V"));
        // Out of the box Make gives the Corvane layout, one EDL for all cameras; timelines at 25 fps.
        QCOMPARE(def.readString(FactorySection, EdlFormat, QString()), QStringLiteral("corvane"));
        QCOMPARE(def.readString(FactorySection, EdlPerCamera, QString()), QStringLiteral("0"));
        QCOMPARE(def.readString(FactorySection, EdlFps, QString()), QStringLiteral("25"));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSettingsFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsfile.moc"
