// Corvane: the program entry.

#include "CorvaneProgram.h"
#include "CorvaneVersion.h"
#include "ErrorReport.h"
#include "SafeFile.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char Help[] =
    "Usage: corvane [--help | --version]\n"
    "\n"
    "Corvane, a live edit logger: the capture window, with its MIDI device window. It takes\n"
    "no arguments beyond Qt's own (such as -platform); one copy runs per user.\n"
    "\n"
    "Files: portable when the program's folder is writable and holds corvane.def: then\n"
    "corvane.ini, midiio.ini and the capture journal are kept beside the program. Otherwise\n"
    "corvane.ini and midiio.ini are in $XDG_CONFIG_HOME/corvane (~/.config/corvane), the\n"
    "journal in $XDG_STATE_HOME/corvane (~/.local/state/corvane), and corvane.def, the\n"
    "manual and the sample capture file are read from share/corvane.\n"
    "\n"
    "  -h, --help   this text\n"
    "  --version    the version\n";

// --help and --version are answered before anything needs a display.
int answerArguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Help, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("corvane " CORVANE_VERSION "\n", stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (const int answered = answerArguments(argc, argv); answered >= 0)
        return answered;
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    // Ties the windows to the installed desktop entry (and so to its icon) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.corvane.Corvane"));
    SafeFile::failOversizeWrites();
    return runCorvane();
}
