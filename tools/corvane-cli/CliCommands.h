#pragma once

#include <QElapsedTimer>
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

// Standard input to its end, as it is. False when it could not be read.
bool readStandardInput(QByteArray &bytes);
// One message to standard error, after the program's name ("corvane-cli: ").
void printMessage(const QString &message);
// Text to standard output as it is.
void printText(const QString &text);
// Bytes to standard output as they are (no line-end translation). False when they could not be
// written.
bool writeStandardOutput(const QByteArray &bytes);

// A progress line on standard error for work that runs over a second, and only when standard
// error is a terminal: nothing reaches a pipe or a file. The line is wiped when the object goes.
class TerminalProgress {
public:
    static constexpr int ShowAfterMs = 1000;
    static constexpr int UpdateEveryMs = 100;

    TerminalProgress();
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

    // What is being done now ("reading", "writing").
    void step(const char *what, qint64 done, qint64 total);

private:
    bool m_terminal;
    bool m_shown = false;
    qint64 m_last = 0;
    QElapsedTimer m_clock;
};
