// corvane-cli edl: the EDL of a stored capture file, made as the capture window makes it.

#include "CliCommands.h"

#include "AppPaths.h"
#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureList.h"
#include "Clock.h"
#include "EdlBuilder.h"
#include "EdlFile.h"
#include "IniStore.h"
#include "Errors.h"
#include "KxSettings.h"
#include "SettingsKeys.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const char Help[] =
    "Usage: corvane-cli edl CAPTURE.gpo [--settings FILE] [--title TEXT] [-o OUT.edl]\n"
    "\n"
    "Reads the capture file as Load GPO does, makes its EDL as Make does (the closing row\n"
    "included) and writes it in the .edl file format.\n"
    "\n"
    "  --settings FILE  settings file with the reel names, edit types and \"filename\" of its\n"
    "                   current desktop (default: corvane.ini beside the program); values it\n"
    "                   lacks come from corvane.def beside the program. Never written.\n"
    "  --title TEXT     the EDL's title (default: the \"filename\" setting)\n"
    "  -o OUT.edl       write the EDL to this file (default: standard output)\n"
    "\n"
    "Exit status: 0 done, 1 a file or conversion error (the lines made so far are still\n"
    "written), 2 wrong arguments.\n";

// Whether the file's "App"/"Exe" names the Corvane program (whose settings corvane-cli reads),
// letter case aside, with or without the ".exe" of Windows.
bool isCorvaneSettingsFile(const IniFile &store)
{
    QString exe = TKxSettingsFile::AsciiUpper(store.readString(SettingsKeys::App, SettingsKeys::Exe, QString()).trimmed());
    if (exe.endsWith(QLatin1String(".EXE")))
        exe.chop(4);
    return exe == QLatin1String("CORVANE");
}

} // namespace

int runEdlCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption titleOption(QStringLiteral("title"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption outputOption(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                          QStringLiteral("OUT.edl"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({settingsOption, titleOption, outputOption, helpOption});

    if (!parser.parse(arguments)) {
        printMessage(parser.errorText() + QLatin1Char('\n') + QString::fromLatin1(Help).trimmed());
        return CliExit::Usage;
    }
    if (parser.isSet(helpOption)) {
        printText(QString::fromLatin1(Help));
        return CliExit::Ok;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        printMessage(QString::fromLatin1(Help).trimmed());
        return CliExit::Usage;
    }

    const QString capturePath = positional.first();
    if (!QFileInfo(capturePath).isFile()) {
        printMessage(QStringLiteral("Capture file not found: %1").arg(capturePath));
        return CliExit::Failed;
    }
    // A settings file named on the command line must be there: a mistyped name would otherwise
    // quietly give the factory values. The one beside the program may be missing (never started).
    // Whichever is used must be a settings file of this program, and the default settings file
    // must be there and be one: without it every value would be blank.
    const QString settingsPath = parser.isSet(settingsOption) ? parser.value(settingsOption)
                                                              : AppPaths::besideProgram(QStringLiteral("corvane.ini"));
    if (parser.isSet(settingsOption) && !QFileInfo(settingsPath).isFile()) {
        printMessage(QStringLiteral("Settings file not found: %1").arg(settingsPath));
        return CliExit::Failed;
    }
    if (QFileInfo(settingsPath).isFile() && !isCorvaneSettingsFile(IniFile(settingsPath))) {
        printMessage(QStringLiteral("Not a Corvane settings file: %1").arg(settingsPath));
        return CliExit::Failed;
    }
    const QString defaultsPath = AppPaths::besideProgram(QStringLiteral("corvane.def"));
    if (!QFileInfo(defaultsPath).isFile()) {
        printMessage(QStringLiteral("Default settings file is missing: %1").arg(defaultsPath));
        return CliExit::Failed;
    }
    if (!isCorvaneSettingsFile(IniFile(defaultsPath))) {
        printMessage(QStringLiteral("Default settings file is invalid: %1").arg(defaultsPath));
        return CliExit::Failed;
    }

    TKxSettingsFile settings(settingsPath, defaultsPath, &printMessage);
    const CameraTable cameras = CameraTable::read([&](const QString &key) { return settings.GetString(key); });
    const QString title = parser.isSet(titleOption) ? parser.value(titleOption)
                                                    : settings.GetString(SettingsKeys::FileName);

    CaptureList list;
    try {
        CaptureFile::LoadGpoFile(list, capturePath);
    } catch (const CorvaneError &error) {
        printMessage(error.message());
        return CliExit::Failed;
    }

    const QDateTime moment = appClock().now();
    QStringList lines;
    QString conversionError;
    try {
        EdlBuilder builder;
        builder.BuildEdl(list, cameras, title, EdlBuilder::dateText(moment), EdlBuilder::timeText(moment), lines);
    } catch (const CorvaneError &error) {
        conversionError = error.message();
    }

    // The lines made before a conversion error are written all the same, as the window shows them.
    if (parser.isSet(outputOption)) {
        try {
            EdlFile::write(parser.value(outputOption), lines);
        } catch (const CorvaneError &error) {
            printMessage(error.message());
            return CliExit::Failed;
        }
    } else if (!writeStandardOutput(EdlFile::encode(lines))) {
        printMessage(QStringLiteral("Cannot write to standard output"));
        return CliExit::Failed;
    }

    if (!conversionError.isEmpty()) {
        printMessage(conversionError);
        return CliExit::Failed;
    }
    return CliExit::Ok;
}
