// The settings object over a settings file and a default settings file of any content: the
// start-up checks (with or without a settings file, which a first start creates), the value
// interface for the keys the program reads and the keys the files hold, the desktop list,
// passwords and notes. Messages go to a sink, never to a dialog.
//
// Checks: a first start with a valid default settings file leaves a settings file that belongs
// to the program; the absent-value marker never comes back as a value; a password and notes
// stored for any desktop read back as they were.
//
// Input: one byte of options (bit 0: no settings file yet), the settings file's length (two
// bytes, little-endian) and bytes, then the default settings file.

#include "FuzzSupport.h"

#include "AppPaths.h"
#include "Errors.h"
#include "KxSettings.h"

#include <QFile>

using namespace SettingsKeys;

namespace {

QStringList keysToRead(TKxSettingsFile &settings)
{
    // Every read loads both files: the program's kinds of keys, and a few of each file's own.
    QStringList keys{FileName, Gpo8, CheckDisplay, QStringLiteral("<FORM>edlf_FLeft"), QStringLiteral("reelname1"),
                     QStringLiteral("edittype16"), QStringLiteral("nosuchkey")};
    keys << settings.settingsStore().keys(Current).mid(0, 6) << settings.defaultStore().keys(FactorySection).mid(0, 6);
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::startQt();
    // The name the seed files' "Exe" holds, whatever the target's own file is called.
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    const std::uint8_t options = in.byte();
    const QByteArray settingsBytes = in.bytes(in.word());
    const QString defaultsPath = Fuzz::writeFile(QStringLiteral("settings.def"), in.rest());
    QString settingsPath = Fuzz::workFolder() + QStringLiteral("/settings.ini");
    const bool firstStart = options & 1;
    if (firstStart)
        QFile::remove(settingsPath);
    else
        settingsPath = Fuzz::writeFile(QStringLiteral("settings.ini"), settingsBytes);

    QStringList messages;
    TKxSettingsFile settings(settingsPath, defaultsPath, [&messages](const QString &m) { messages << m; });
    const bool defaultsValid = TKxSettingsFile::CheckApplication(settings.defaultStore()) == 1;
    settings.startUp();
    if (firstStart && defaultsValid)
        FUZZ_CHECK(TKxSettingsFile::CheckApplication(settings.settingsStore()) == 1, messages.join(QLatin1Char('\n')));

    for (const QString &key : keysToRead(settings)) {
        FUZZ_CHECK(settings.GetString(key) != TKxSettingsFile::Invalid || key.contains(FormMarker, Qt::CaseInsensitive),
                   key);
        settings.GetInteger(key);
        settings.GetBool(key);
    }

    try {
        for (const QString &name : settings.DesktopNames()) {
            const QString section = TKxSettingsFile::desktopSection(name);
            settings.IsProtected(name);
            // Whatever a desktop held, a password stored for it reads back as it was.
            const QString password = settings.ReadPassword(section) + QStringLiteral(" \r\n{hex}") + name;
            settings.WritePassword(section, password);
            FUZZ_CHECK(settings.ReadPassword(section) == password, section + QLatin1String(": ") + settings.ReadPassword(section));
            // Notes survive any number of round trips, once their line ends are the editor's.
            QString notes = TKxSettingsFile::DecodeNotes(settings.ReadValue(section, Notes, QString()));
            QString edited = notes;
            edited.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
            FUZZ_CHECK(TKxSettingsFile::DecodeNotes(TKxSettingsFile::EncodeNotes(notes)) == edited, notes);
            settings.WriteValue(section, Notes, TKxSettingsFile::EncodeNotes(notes));
            const QString once = TKxSettingsFile::DecodeNotes(settings.ReadValue(section, Notes, QString()));
            settings.WriteValue(section, Notes, TKxSettingsFile::EncodeNotes(once));
            const QString twice = TKxSettingsFile::DecodeNotes(settings.ReadValue(section, Notes, QString()));
            FUZZ_CHECK(twice == once, once + QLatin1String(" != ") + twice);
        }
    } catch (const CorvaneError &e) {
        Fuzz::fail("a write to a writable file failed", __FILE__, __LINE__, e.message());
    }
    return 0;
}
