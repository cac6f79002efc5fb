#pragma once

#include <QString>
#include <QStringList>

// The subcommands of corvane-cli. Each takes its own arguments (the first being the command's
// name), writes its results to standard output or a file and its messages to standard error,
// and returns the process's exit status.
struct CliCommand {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

namespace CliExit {
constexpr int Ok = 0;
constexpr int Failed = 1; // a file or conversion error; what could be made was still written
constexpr int Usage = 2;  // wrong arguments
} // namespace CliExit

// corvane-cli edl CAPTURE.gpo [--settings FILE] [--title TEXT] [-o OUT.edl]
//                 [--format corvane|cmx3600|otio|fcp7xml] [--per-camera] [--fps N]
int runEdlCommand(const QStringList &arguments);

// corvane-cli devices
int runDevicesCommand(const QStringList &arguments);
// corvane-cli monitor --in NAME [--out NAME]
int runMonitorCommand(const QStringList &arguments);
// corvane-cli capture --in NAME [--out NAME] -o FILE.gpo
int runCaptureCommand(const QStringList &arguments);

// One message line to standard error.
void printMessage(const QString &message);
// Text to standard output as it is.
void printText(const QString &text);
// Bytes to standard output as they are (no line-end translation). False when they could not be
// written.
bool writeStandardOutput(const QByteArray &bytes);
