#include "Errors.h"
#include "IniStore.h"
#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestIniStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name = QStringLiteral("t.ini")) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(path());
    }

    void namesIgnoreLetterCase()
    {
        IniFile ini(path());
        ini.writeString(QStringLiteral("APP"), QStringLiteral("Exe"), QStringLiteral("corvane"));
        QCOMPARE(ini.readString(QStringLiteral("app"), QStringLiteral("EXE"), QStringLiteral("d")),
                 QStringLiteral("corvane"));
        ini.writeString(QStringLiteral("App"), QStringLiteral("exe"), QStringLiteral("other"));
        // Replaced in place, under the spelling the file already had.
        QCOMPARE(TestFiles::read(path()), QByteArray("[APP]\r\nExe=other\r\n"));
    }

    void writesAreInTheFileInFileOrder()
    {
        IniFile ini(path());
        ini.writeString(QStringLiteral("B"), QStringLiteral("k1"), QStringLiteral("1"));
        ini.writeString(QStringLiteral("A"), QStringLiteral("k2"), QStringLiteral("2"));
        ini.writeString(QStringLiteral("B"), QStringLiteral("k3"), QStringLiteral("3"));
        ini.writeInteger(QStringLiteral("A"), QStringLiteral("n"), -42);
        ini.writeBool(QStringLiteral("A"), QStringLiteral("flag"), true);
        QCOMPARE(TestFiles::read(path()),
                 QByteArray("[B]\r\nk1=1\r\nk3=3\r\n[A]\r\nk2=2\r\nn=-42\r\nflag=1\r\n"));
        QCOMPARE(ini.sections(), QStringList({"B", "A"}));
        QCOMPARE(ini.keys(QStringLiteral("a")), QStringList({"k2", "n", "flag"}));
    }

    void nothingIsCached()
    {
        IniFile ini(path());
        ini.writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("old"));
        QVERIFY(TestFiles::write(path(), "[S]\nk=changed outside\n"));
        QCOMPARE(ini.readString(QStringLiteral("S"), QStringLiteral("k"), QString()), QStringLiteral("changed outside"));
    }

    void absentAndEmptyValues()
    {
        QVERIFY(TestFiles::write(path(), "[S]\nempty=\nspaced =  v  \n"));
        IniFile ini(path());
        QCOMPARE(ini.readString(QStringLiteral("S"), QStringLiteral("missing"), QStringLiteral("dflt")), QStringLiteral("dflt"));
        QCOMPARE(ini.readString(QStringLiteral("Nope"), QStringLiteral("empty"), QStringLiteral("dflt")), QStringLiteral("dflt"));
        const QString empty = ini.readString(QStringLiteral("S"), QStringLiteral("empty"), QStringLiteral("dflt"));
        QVERIFY(empty.isEmpty());
        QCOMPARE(ini.readString(QStringLiteral("S"), QStringLiteral("spaced"), QString()), QStringLiteral("v"));
        QCOMPARE(IniFile(path(QStringLiteral("none.ini"))).readString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")),
                 QStringLiteral("d"));
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QByteArray("123") << 123;
        QTest::newRow("negative") << QByteArray("-65535") << -65535;
        QTest::newRow("hex 0x") << QByteArray("0x1F") << 31;
        QTest::newRow("hex dollar") << QByteArray("$ff") << 255;
        QTest::newRow("hex full pattern") << QByteArray("0xFFFFFFFF") << -1;
        QTest::newRow("text") << QByteArray("abc") << 7;
        QTest::newRow("trailing junk") << QByteArray("12abc") << 7;
        QTest::newRow("empty") << QByteArray("") << 7;
        QTest::newRow("too large") << QByteArray("99999999999") << 7;
        QTest::newRow("bare prefix") << QByteArray("0x") << 7;
    }

    void integers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        QVERIFY(TestFiles::write(path(), "[S]\nn=" + text + "\n"));
        QCOMPARE(IniFile(path()).readInteger(QStringLiteral("S"), QStringLiteral("n"), 7), expected);
    }

    void longValuesAreCutOnRead()
    {
        IniFile ini(path());
        const QString value(5000, QLatin1Char('x'));
        ini.writeString(QStringLiteral("S"), QStringLiteral("k"), value);
        QCOMPARE(ini.readString(QStringLiteral("S"), QStringLiteral("k"), QString()).size(), IniFile::MaxValueLength);
        QCOMPARE(ini.sectionValues(QStringLiteral("S")).at(0).second.size(), IniFile::MaxValueLength);
    }

    void eraseSectionRemovesEveryOccurrence()
    {
        QVERIFY(TestFiles::write(path(), "[A]\na=1\n[B]\nb=1\n[a]\nc=1\n"));
        IniFile ini(path());
        ini.eraseSection(QStringLiteral("A"));
        QCOMPARE(TestFiles::read(path()), QByteArray("[B]\r\nb=1\r\n"));
        ini.deleteKey(QStringLiteral("B"), QStringLiteral("B"));
        QCOMPARE(TestFiles::read(path()), QByteArray("[B]\r\n"));
        QVERIFY(ini.sectionExists(QStringLiteral("b")));
        QVERIFY(ini.keys(QStringLiteral("B")).isEmpty());
    }

    // Damaged files read with a defined result and keep what the reader does not understand.
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("junk lines") << QByteArray("garbage\n[S]\n%%%\n=novalue\nk=v\n[broken\n") << "S" << "k" << "v";
        QTest::newRow("key before any section") << QByteArray("k=orphan\n[S]\nk=v\n") << "S" << "k" << "v";
        QTest::newRow("duplicate key: first wins") << QByteArray("[S]\nk=first\nk=second\n") << "S" << "k" << "first";
        QTest::newRow("duplicate section merged") << QByteArray("[S]\na=1\n[T]\n[s]\nk=later\n") << "S" << "k" << "later";
        QTest::newRow("CR LF") << QByteArray("[S]\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("no final line end") << QByteArray("[S]\nk=v") << "S" << "k" << "v";
        QTest::newRow("Latin-1 bytes") << QByteArray("[S\xe9]\nk=caf\xe9\n") << QString::fromLatin1("S\xe9") << "k"
                                       << QString::fromLatin1("caf\xe9");
        QTest::newRow("value with equals") << QByteArray("[S]\nk=a=b\n") << "S" << "k" << "a=b";
        QTest::newRow("comment line") << QByteArray("[S]\n;k=commented\n") << "S" << "k" << "default";
        static const char noise[] = "\0\x01\x02[\n]\n[S]\nk=v\n";
        QTest::newRow("binary noise") << QByteArray(noise, sizeof noise - 1) << "S" << "k" << "v";
    }

    void damagedFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QVERIFY(TestFiles::write(path(), content));
        IniFile ini(path());
        QCOMPARE(ini.readString(section, key, QStringLiteral("default")), expected);
        // A write keeps the rest of the file readable as before.
        ini.writeString(QStringLiteral("New"), QStringLiteral("x"), QStringLiteral("1"));
        QCOMPARE(ini.readString(section, key, QStringLiteral("default")), expected);
        QCOMPARE(ini.readString(QStringLiteral("New"), QStringLiteral("x"), QString()), QStringLiteral("1"));
    }

    // Whatever the file holds, every section and key the store lists reads back through the
    // store, under the name it was listed by and under the name as the file spells it.
    void listedNamesReadBack_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section"); // as the file spells it
        QTest::addColumn<QString>("key");
        QTest::newRow("lone CR in a section name") << QByteArray("[Sec\rtion]\nk=v\n") << "Sec\rtion" << "k";
        QTest::newRow("lone CR in a key name") << QByteArray("[S]\nke\ry=v\n") << "S" << "ke\ry";
        QTest::newRow("lone CRs and blanks") << QByteArray("[ \rS\r ]\n \rk\r =v\n") << " \rS\r " << " \rk\r ";
    }

    void listedNamesReadBack()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QVERIFY(TestFiles::write(path(), content));
        IniFile ini(path());
        const QStringList sections = ini.sections();
        QCOMPARE(sections.size(), 1);
        QVERIFY(ini.sectionExists(sections.first()));
        const QStringList keys = ini.keys(sections.first());
        QCOMPARE(keys.size(), 1);
        QCOMPARE(ini.readString(sections.first(), keys.first(), QStringLiteral("absent")), QStringLiteral("v"));
        QCOMPARE(ini.readString(section, key, QStringLiteral("absent")), QStringLiteral("v"));
        // A write through the listed names changes that key, and adds no second one.
        ini.writeString(sections.first(), keys.first(), QStringLiteral("w"));
        QCOMPARE(ini.sectionValues(section), (QList<QPair<QString, QString>>{{keys.first(), QStringLiteral("w")}}));
    }

    void writeKeepsCommentsAndJunk()
    {
        QVERIFY(TestFiles::write(path(), "; note\n[S]\nk=v\njunk\n\n[T]\nt=1\n"));
        IniFile ini(path());
        ini.writeString(QStringLiteral("S"), QStringLiteral("new"), QStringLiteral("n"));
        QCOMPARE(TestFiles::read(path()), QByteArray("; note\r\n[S]\r\nk=v\r\nnew=n\r\njunk\r\n\r\n[T]\r\nt=1\r\n"));
    }

    void writtenTextIsOneLatin1Line()
    {
        IniFile ini(path());
        ini.writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("one\ntwo\r\nthree ") + QChar(0x20AC) + QChar(0xE9));
        QCOMPARE(TestFiles::read(path()), QByteArray("[S]\r\nk=one two three ?\xe9\r\n"));
    }

    // Desktop names become section names: whatever a user types must name the same section again.
    void awkwardNamesRoundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::newRow("closing bracket") << "USER\\a]b";
        QTest::newRow("brackets") << "USER\\[x]";
        QTest::newRow("surrounding blanks") << "  USER\\spaced  ";
        QTest::newRow("equals sign") << "USER\\a=b";
    }

    void awkwardNamesRoundTrip()
    {
        QFETCH(QString, section);
        IniFile ini(path());
        ini.writeString(section, QStringLiteral("k"), QStringLiteral("v"));
        ini.writeString(QStringLiteral("Other"), QStringLiteral("k"), QStringLiteral("o"));
        QCOMPARE(ini.readString(section, QStringLiteral("k"), QString()), QStringLiteral("v"));
        QCOMPARE(ini.sections(), QStringList({section.trimmed(), "Other"}));
        ini.eraseSection(section);
        QCOMPARE(ini.sections(), QStringList({"Other"}));
    }

    void refusedWriteRaises()
    {
        // A path below a regular file cannot be written, not even by root.
        QVERIFY(TestFiles::write(path(QStringLiteral("plainfile")), "x"));
        IniFile ini(path(QStringLiteral("plainfile")) + QStringLiteral("/settings.ini"));
        try {
            ini.writeString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
            QFAIL("no error raised");
        } catch (const CorvaneError &e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to %1 (Not a directory)").arg(ini.path()));
        }
    }

    void crashDuringWriteLeavesPreviousFile()
    {
        const QByteArray before("[S]\r\nk=before\r\n");
        QVERIFY(TestFiles::write(path(), before));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("INI_CRASH_CHILD"), path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 3); // it died in the middle of the write
        QCOMPARE(TestFiles::read(path()), before);
        QCOMPARE(IniFile(path()).readString(QStringLiteral("S"), QStringLiteral("k"), QString()), QStringLiteral("before"));
    }
};

// Child process of crashDuringWriteLeavesPreviousFile: dies halfway through a write.
static int crashChild(const QString &path)
{
    IniFile::setWriteInterruptHook([](const QString &) { _exit(3); });
    IniFile ini(path);
    ini.writeString(QStringLiteral("S"), QStringLiteral("k"), QString(10000, QLatin1Char('n')));
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("INI_CRASH_CHILD"))
        return crashChild(qEnvironmentVariable("INI_CRASH_CHILD"));
    TestIniStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_inistore.moc"
