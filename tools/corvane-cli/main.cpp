// corvane-cli: headless tools over Corvane's stored files and MIDI devices, for scripts and for
// logging machines without a screen. Runs without a display.
//
//   corvane-cli edl CAPTURE.gpo|- [--settings FILE] [--title TEXT] [-o OUT.edl|-]
//                   [--format corvane|cmx3600|otio|fcp7xml] [--per-camera] [--fps N]
//   corvane-cli devices
//   corvane-cli monitor --in NAME [--out NAME]
//   corvane-cli capture --in NAME [--out NAME] -o FILE.gpo
//
// Further subcommands join the table below.

#include "AppPaths.h"
#include "CliCommands.h"
#include "CorvaneVersion.h"
#include "SafeFile.h"

#include <QCoreApplication>

#include <iterator>

namespace {

const CliCommand Commands[] = {
    {"edl", "Make the EDL of a stored capture file", &runEdlCommand},
    {"devices", "List the MIDI input and output devices", &runDevicesCommand},
    {"monitor", "Print what the MIDI device window would show", &runMonitorCommand},
    {"capture", "Capture events from a MIDI device into a capture file", &runCaptureCommand},
};

QString usage()
{
    QString text = QStringLiteral("Usage: corvane-cli COMMAND [ARGUMENTS]\n"
                                  "       corvane-cli --help | --version\n\nCommands:\n");
    for (const CliCommand &command : Commands)
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(command.name), -8).arg(QString::fromLatin1(command.summary));
    text += QStringLiteral("\n'corvane-cli COMMAND --help' describes a command.\n");
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    SafeFile::failOversizeWrites();
    // Corvane's files, found by Corvane's rules: beside the program when it is portable, else in
    // the user's folders and share/corvane.
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        printMessage(usage().trimmed());
        return CliExit::Usage;
    }
    const QString name = arguments.at(1);
    if (name == QLatin1String("help") || name == QLatin1String("--help") || name == QLatin1String("-h")) {
        printText(usage());
        return CliExit::Ok;
    }
    if (name == QLatin1String("--version")) {
        printText(QStringLiteral("corvane-cli %1\n").arg(QCoreApplication::applicationVersion()));
        return CliExit::Ok;
    }
    for (const CliCommand &command : Commands) {
        if (name == QLatin1String(command.name))
            return command.run(arguments.mid(1));
    }
    printMessage(QStringLiteral("Unknown command: %1\n").arg(name) + usage().trimmed());
    return CliExit::Usage;
}
