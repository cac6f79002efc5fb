// The desktop import of a hostile file, as the Desktop Setup window does it without its
// widgets: the file must belong to the program, its desktops are listed, and each listed
// desktop is copied into the settings file with its password.
//
// Checks: the import file is never written; every desktop listed reads back from the settings
// file with each value the import file holds for it; the settings file's other sections keep
// their values; every desktop imported is then a desktop of the settings file.

#include "FuzzSupport.h"

#include "AppPaths.h"
#include "Errors.h"
#include "KxSettings.h"

#include <QFile>

using namespace SettingsKeys;

namespace {

const QByteArray SettingsFileText = "[App]\r\nExe=corvane\r\nLastUser=Studio\r\n"
                                    "[Current]\r\nreelname1=CAM1\r\nfilename=show\r\n"
                                    "[USER\\<FACTORY DEFAULT>]\r\nreelname1=CAM1\r\n"
                                    "[USER\\Studio]\r\nreelname1=A\r\nPass=secret\r\nNotes=first\\nsecond\r\n";
const QByteArray DefaultsText = "[APP]\r\nExe=corvane\r\n[USER\\<FACTORY DEFAULT>]\r\nreelname1=CAM1\r\n";

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::startQt();
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray importBytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString importPath = Fuzz::writeFile(QStringLiteral("import.ini"), importBytes);
    TKxSettingsFile settings(Fuzz::writeFile(QStringLiteral("settings.ini"), SettingsFileText),
                             Fuzz::writeFile(QStringLiteral("settings.def"), DefaultsText),
                             [](const QString &) {});
    IniFile &target = settings.settingsStore();
    const auto appBefore = target.sectionValues(App);
    const auto currentBefore = target.sectionValues(Current);

    IniFile source(importPath);
    if (TKxSettingsFile::CheckApplication(source) == -1)
        return 0; // "Imported settings are for a different application"
    const QStringList names = TKxSettingsFile::DesktopNamesOf(source);
    try {
        for (const QString &name : names) {
            const QString section = TKxSettingsFile::desktopSection(name);
            TKxSettingsFile::CopySection(source, section, target, section, true);
        }
    } catch (const CorvaneError &e) {
        Fuzz::fail("a write to a writable file failed", __FILE__, __LINE__, e.message());
    }

    FUZZ_CHECK(fileBytes(importPath) == importBytes, QStringLiteral("the import file was written"));
    FUZZ_CHECK(target.sectionValues(App) == appBefore && target.sectionValues(Current) == currentBefore,
               QStringLiteral("the settings file's own sections changed"));
    const QStringList desktops = settings.DesktopNames();
    for (const QString &name : names) {
        const QString section = TKxSettingsFile::desktopSection(name);
        bool imported = false;
        for (const auto &[key, value] : source.sectionValues(section)) {
            if (value.isEmpty())
                continue;
            imported = true;
            // A value is written as one line: a lone CR in it (no line end for the reader)
            // becomes a space.
            const QString expected = QString(value).replace(QLatin1Char('\r'), QLatin1Char(' ')).trimmed();
            const QString read = target.readString(section, key, QStringLiteral("\x01absent"));
            FUZZ_CHECK(read == expected, section + QLatin1Char('/') + key + QLatin1String(": ") + read + QLatin1String(" != ") + expected);
        }
        if (imported) {
            FUZZ_CHECK(settings.DesktopExists(name), name);
            // The section of an empty name is "USER\" itself, which is listed by its whole name.
            if (name.isEmpty())
                continue;
            bool listed = false;
            for (const QString &desktop : desktops)
                listed = listed || desktop.compare(name, Qt::CaseInsensitive) == 0;
            FUZZ_CHECK(listed, name + QLatin1String(" not in ") + desktops.join(QLatin1Char(',')));
        }
    }
    return 0;
}
