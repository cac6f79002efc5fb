// corvane-cli edl: the EDL of a stored capture file, made as the capture window makes it, or its
// timeline for editors.

#include "CliCommands.h"

#include "AppPaths.h"
#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureList.h"
#include "Clock.h"
#include "DocumentFiles.h"
#include "EdlBuilder.h"
#include "EdlFile.h"
#include "IniStore.h"
#include "EdlMaker.h"
#include "Errors.h"
#include "Fcp7XmlWriter.h"
#include "KxSettings.h"
#include "EdlText.h"
#include "ErrorReport.h"
#include "SafeFile.h"
#include "OtioWriter.h"
#include "SettingsKeys.h"
#include "Timeline.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

const char Help[] =
    "Usage: corvane-cli edl CAPTURE.gpo|- [--settings FILE] [--title TEXT] [-o OUT.edl|-]\n"
    "                       [--format corvane|cmx3600|otio|fcp7xml] [--per-camera] [--fps N]\n"
    "\n"
    "Reads the capture file as Load GPO does, makes its EDL as Make does (the closing row\n"
    "included) and writes it in the .edl file format. \"-\" as CAPTURE.gpo reads the capture\n"
    "from standard input.\n"
    "\n"
    "  --settings FILE  settings file with the reel names, edit types, \"filename\" and \"edlfps\"\n"
    "                   of its current desktop (default: the program's corvane.ini, beside it\n"
    "                   or in $XDG_CONFIG_HOME/corvane); values it lacks come from corvane.def\n"
    "                   (beside the program or in share/corvane). Never written.\n"
    "  --title TEXT     the EDL's title (default: the \"filename\" setting)\n"
    "  -o OUT.edl       write the EDL to this file; \"-\" or none: standard output\n"
    "  --format NAME    corvane: the program's own layout (default); cmx3600: the CMX 3600\n"
    "                   layout, one program cut; otio: an OpenTimelineIO timeline; fcp7xml: a\n"
    "                   Final Cut Pro 7 XML timeline (one video track per camera in both)\n"
    "  --per-camera     one EDL per camera used (corvane, cmx3600), written as\n"
    "                   <capture name>_<reel>.edl into the folder -o names (default: the\n"
    "                   current folder)\n"
    "  --fps N          frame rate of the timelines, 1 to 100 (default: the \"edlfps\" setting)\n"
    "\n"
    "Exit status: 0 done, 1 a file or conversion error (a file that would be replaced is left\n"
    "as it was; standard output has had the lines made so far), 2 wrong arguments.\n";

enum class OutputFormat { Corvane, Cmx3600, Otio, Fcp7Xml };

std::optional<OutputFormat> formatNamed(const QString &name)
{
    if (name == QLatin1String("corvane"))
        return OutputFormat::Corvane;
    if (name == QLatin1String("cmx3600"))
        return OutputFormat::Cmx3600;
    if (name == QLatin1String("otio"))
        return OutputFormat::Otio;
    if (name == QLatin1String("fcp7xml"))
        return OutputFormat::Fcp7Xml;
    return std::nullopt;
}

// Bytes to the output file, or to standard output without one.
int writeOutput(const QString &path, const QByteArray &bytes)
{
    if (!path.isEmpty()) {
        try {
            DocumentFiles::writeWhole(path, bytes);
        } catch (const CorvaneError &error) {
            printMessage(error.message());
            return CliExit::Failed;
        }
    } else if (!writeStandardOutput(bytes)) {
        printMessage(QStringLiteral("Cannot write to standard output"));
        return CliExit::Failed;
    }
    return CliExit::Ok;
}

// The timeline of the list, written whole or not at all.
int writeTimeline(const CaptureList &list, const CameraTable &cameras, const QString &title, int rate,
                  OutputFormat format, const QString &output)
{
    QByteArray bytes;
    try {
        const Timeline timeline = Timeline::fromCapture(list, cameras, title, rate);
        bytes = format == OutputFormat::Otio ? OtioWriter::write(timeline) : Fcp7XmlWriter::write(timeline);
    } catch (const CorvaneError &error) {
        printMessage(error.message());
        return CliExit::Failed;
    }
    return writeOutput(output, bytes);
}

// One EDL per camera used, as <name>_<reel>.edl in folder.
int writePerCamera(const QList<EdlDocument> &documents, const QString &folder, const QString &name)
{
    if (!QDir().mkpath(folder)) {
        printMessage(QStringLiteral("Cannot make the folder %1").arg(folder));
        return CliExit::Failed;
    }
    for (const EdlDocument &document : documents) {
        try {
            EdlFile::writeText(EdlFile::perCameraPath(QDir(folder).filePath(name), document.reel), document.text);
        } catch (const CorvaneError &error) {
            printMessage(error.message());
            return CliExit::Failed;
        }
    }
    return CliExit::Ok;
}

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
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(), QStringLiteral("NAME"),
                                          QStringLiteral("corvane"));
    const QCommandLineOption perCameraOption(QStringLiteral("per-camera"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"), QString(), QStringLiteral("N"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({settingsOption, titleOption, outputOption, formatOption, perCameraOption, fpsOption, helpOption});

    if (!parser.parse(arguments)) {
        printMessage(parser.errorText() + QLatin1Char('\n') + QString::fromLatin1(Help).trimmed());
        return CliExit::Usage;
    }
    if (parser.isSet(helpOption)) {
        printText(QString::fromLatin1(Help));
        return CliExit::Ok;
    }
    // A file written whose owner could not be kept (another user's) is told like any message.
    setErrorPresenter([](const QString &message) { printMessage(message); });
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        printMessage(QString::fromLatin1(Help).trimmed());
        return CliExit::Usage;
    }

    const std::optional<OutputFormat> format = formatNamed(parser.value(formatOption));
    if (!format) {
        printMessage(QStringLiteral("Unknown format: %1\n").arg(parser.value(formatOption))
                     + QString::fromLatin1(Help).trimmed());
        return CliExit::Usage;
    }
    const bool timeline = *format == OutputFormat::Otio || *format == OutputFormat::Fcp7Xml;
    const bool perCamera = parser.isSet(perCameraOption);
    if (perCamera && timeline) {
        printMessage(QStringLiteral("--per-camera is for the EDL formats: a timeline has a track per camera"));
        return CliExit::Usage;
    }
    if (perCamera && parser.isSet(outputOption) && SafeFile::isStandardOutput(parser.value(outputOption))) {
        printMessage(QStringLiteral("--per-camera writes a file per camera into a folder, not to standard output"));
        return CliExit::Usage;
    }
    int fps = 0;
    if (parser.isSet(fpsOption)) {
        bool ok = false;
        fps = parser.value(fpsOption).toInt(&ok);
        if (!ok || fps < EdlTimecode::MinRate || fps > EdlTimecode::MaxRate) {
            printMessage(QStringLiteral("--fps takes a whole number from %1 to %2")
                             .arg(EdlTimecode::MinRate)
                             .arg(EdlTimecode::MaxRate));
            return CliExit::Usage;
        }
    }

    // "-" reads the capture from standard input.
    const QString capturePath = positional.first();
    const bool fromStandardInput = capturePath == QLatin1String("-");
    if (!fromStandardInput && !QFileInfo(capturePath).isFile()) {
        printMessage(QStringLiteral("Capture file not found: %1").arg(capturePath));
        return CliExit::Failed;
    }
    // A settings file named on the command line must be there: a mistyped name would otherwise
    // quietly give the factory values. The one beside the program may be missing (never started).
    // Whichever is used must be a settings file of this program, and the default settings file
    // must be there and be one: without it every value would be blank.
    const QString settingsPath = parser.isSet(settingsOption) ? parser.value(settingsOption)
                                                              : AppPaths::settingsFilePath();
    if (parser.isSet(settingsOption) && !QFileInfo(settingsPath).isFile()) {
        printMessage(QStringLiteral("Settings file not found: %1").arg(settingsPath));
        return CliExit::Failed;
    }
    if (QFileInfo(settingsPath).isFile() && !isCorvaneSettingsFile(IniFile(settingsPath))) {
        printMessage(QStringLiteral("Not a Corvane settings file: %1").arg(settingsPath));
        return CliExit::Failed;
    }
    const QString defaultsPath = AppPaths::defaultSettingsFilePath();
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

    TerminalProgress terminal;
    CaptureList list;
    try {
        const auto reading = [&terminal](qint64 done, qint64 total) { terminal.step("reading", done, total); };
        if (fromStandardInput) {
            QByteArray bytes;
            if (!readStandardInput(bytes)) {
                printMessage(QStringLiteral("Cannot read standard input"));
                return CliExit::Failed;
            }
            CaptureFile::decode(bytes, list, reading);
        } else {
            CaptureFile::LoadGpoFile(list, capturePath, reading);
        }
    } catch (const CorvaneError &error) {
        printMessage(error.message());
        return CliExit::Failed;
    }

    if (timeline) {
        const int rate = fps != 0 ? fps : settings.GetInteger(SettingsKeys::EdlFps);
        return writeTimeline(list, cameras, title, rate, *format, parser.value(outputOption));
    }

    const QDateTime moment = appClock().now();
    const EdlLayout layout = *format == OutputFormat::Cmx3600 ? EdlLayout::Cmx3600 : EdlLayout::Corvane;
    const auto making = [&terminal](qint64 done, qint64 total) { terminal.step("making the EDL", done, total); };
    QString conversionError;
    if (perCamera) {
        QList<EdlDocument> documents;
        try {
            EdlBuilder builder;
            EdlMaker::make(builder, list, cameras, {layout, true}, title, EdlBuilder::dateText(moment),
                           EdlBuilder::timeText(moment), documents, making);
        } catch (const CorvaneError &error) {
            conversionError = error.message();
        }
        const QString folder = parser.isSet(outputOption) ? parser.value(outputOption) : QStringLiteral(".");
        const QString name = fromStandardInput ? QStringLiteral("stdin") : QFileInfo(capturePath).completeBaseName();
        const int status = writePerCamera(documents, folder, name);
        if (!conversionError.isEmpty())
            printMessage(conversionError);
        return conversionError.isEmpty() ? status : CliExit::Failed;
    }

    // The EDL goes to the file (or standard output) as it is made, a part at a time, so memory
    // does not grow with it; the file replaces an old one only once it is whole, so a conversion
    // that stops at an error leaves an old file as it was. (Standard output has had the lines
    // made before the error, as the window shows them.)
    const QString output = parser.isSet(outputOption) ? parser.value(outputOption) : QStringLiteral("-");
    SafeFile::Replacement file(output);
    QString writeError;
    if (!file.open(&writeError)) {
        printMessage(SafeFile::isStandardOutput(output) ? QStringLiteral("Cannot write to standard output")
                                                        : QStringLiteral("Cannot write file %1: %2")
                                                              .arg(QDir::toNativeSeparators(output), writeError));
        return CliExit::Failed;
    }
    struct WriteFailed {};
    EdlText text([&](QByteArrayView bytes) {
        // After a failure nothing more is written: the first reason is the one told.
        if (!writeError.isEmpty() || !file.write(bytes, &writeError))
            throw WriteFailed();
    });
    try {
        EdlBuilder builder;
        EdlMaker::makeWhole(builder, list, cameras, layout, title, EdlBuilder::dateText(moment),
                            EdlBuilder::timeText(moment), text, making);
    } catch (const CorvaneError &error) {
        conversionError = error.message();
    } catch (const WriteFailed &) {
    }
    if (writeError.isEmpty() && conversionError.isEmpty() && file.commit(&writeError) && !file.warning().isEmpty())
        printMessage(file.warning());
    if (!writeError.isEmpty()) {
        printMessage(SafeFile::isStandardOutput(output) ? QStringLiteral("Cannot write to standard output")
                                                        : QStringLiteral("Cannot write file %1: %2")
                                                              .arg(QDir::toNativeSeparators(output), writeError));
        return CliExit::Failed;
    }
    if (!conversionError.isEmpty()) {
        printMessage(conversionError);
        return CliExit::Failed;
    }
    return CliExit::Ok;
}
