// corvane-cli devices, monitor and capture: the MIDI devices, and the device window's work
// without a window.

#include "CliCommands.h"

#include "CaptureFile.h"
#include "CaptureJournal.h"
#include "CaptureList.h"
#include "DeferredDiskSync.h"
#include "DeviceSession.h"
#include "Errors.h"
#include "Latin1Text.h"
#include "MidiDevices.h"
#include "MidiService.h"
#include "SafeFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Closing a port waits for the MIDI server's answer. A server left in disorder (a JACK server
// whose clients of this process were stopped while it ran, say) may never give it. By then every
// row is written to the capture file (the operating system has it; only its sync to the disk is
// left), so the program ends CloseWaitMs later, saying so, rather than hang at its end.
class CloseWatchdog {
public:
    static constexpr int CloseWaitMs = 5000;

    // told: lines said before the end when the wait runs out (what the capture would tell after
    // the close).
    explicit CloseWatchdog(QString told)
        : m_told(std::move(told)), m_thread([this] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_done.wait_for(lock, std::chrono::milliseconds(CloseWaitMs), [this] { return m_finished; }))
                  return;
              const QByteArray text = (m_told + QStringLiteral("corvane-cli: the MIDI server did not answer while the "
                                                               "ports closed; ending without it\n"))
                                          .toLocal8Bit();
              std::fputs(text.constData(), stderr);
              std::fflush(stderr);
              std::_Exit(CliExit::Failed);
          })
    {
    }
    ~CloseWatchdog()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    CloseWatchdog(const CloseWatchdog &) = delete;
    CloseWatchdog &operator=(const CloseWatchdog &) = delete;

private:
    QString m_told;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

const char DevicesHelp[] =
    "Usage: corvane-cli devices\n"
    "\n"
    "Lists the MIDI devices as the device window lists them, one per line in device order:\n"
    "\"in\" or \"out\", a tab, and the product name.\n";

const char MonitorHelp[] =
    "Usage: corvane-cli monitor --in NAME [--out NAME]\n"
    "\n"
    "Opens the input device NAME (the exact name, else the first that matches without regard\n"
    "to case) and prints, one per line, what the device window would show:\n"
    "  vmin<TAB>line        input monitor: every received event but quarter frames\n"
    "  m8data<TAB>line      parameter monitor: the interface's messages, decoded\n"
    "  vmout<TAB>line       output monitor: every message sent\n"
    "  row<TAB>line         a capture row, as its line in a capture file\n"
    "  tc<TAB>hh:mm:ss:ff   the running timecode, each time it is shown\n"
    "  rev<TAB>revtext<TAB>revtext2   the interface's revision, after its reply\n"
    "With --out it also opens that output and sends the revision query. Runs until\n"
    "interrupted (SIGINT or SIGTERM closes the ports and exits with status 0).\n"
    "\n"
    "Exit status: 0 stopped by a signal, 1 a device not found or not opened, 2 wrong arguments.\n";

const char CaptureHelp[] =
    "Usage: corvane-cli capture --in NAME [--out NAME] -o FILE.gpo\n"
    "\n"
    "Headless capture: each capture event from the input device NAME (matched as by monitor)\n"
    "becomes a row appended to FILE in the capture-file format, written out as it arrives.\n"
    "An existing FILE is continued: rows are numbered on from the rows it holds, and a last\n"
    "row cut short (by a full disk, say) is cut off first. With --out the revision query is\n"
    "sent once both devices are open.\n"
    "\n"
    "A device that goes away (unplugged, MIDI server stopped) is told on standard error and\n"
    "opened again as soon as it is back; so is every change of the number of events lost,\n"
    "and of the MIDI server's late cycles while the input is open (a JACK server's xruns,\n"
    "and periods in which this program was not run, stopped or starved of the processor:\n"
    "the server drops what arrives for a client in such a period, unseen).\n"
    "SIGINT or SIGTERM closes the ports and ends the capture.\n"
    "\n"
    "Exit status: 0 stopped by a signal with nothing lost; 1 a device not found or not opened,\n"
    "the file could not be written, events were lost, the MIDI server was late, or a device\n"
    "was gone at the end; 2 wrong arguments.\n";

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void requestStop(int)
{
    g_stopRequested = 1;
}

// Runs the event loop until SIGINT or SIGTERM (or until quit is called), then restores the
// signals' default handling.
int runUntilInterrupted()
{
    g_stopRequested = 0;
    auto previousInt = std::signal(SIGINT, requestStop);
    auto previousTerm = std::signal(SIGTERM, requestStop);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [] {
        if (g_stopRequested)
            QCoreApplication::exit(CliExit::Ok);
    });
    watch.start(50);
    const int status = QCoreApplication::exec();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    return status;
}

struct DeviceArguments {
    QString input;
    QString output;
    QString file;
};

// Parses --in NAME [--out NAME] (and -o FILE when fileOption). Returns -1 when the command
// should go on, else the exit status.
int parseDeviceArguments(const QStringList &arguments, const char *help, bool fileOption, DeviceArguments &parsed)
{
    QCommandLineParser parser;
    const QCommandLineOption inOption(QStringLiteral("in"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption outOption(QStringLiteral("out"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption fileOpt(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                     QStringLiteral("FILE"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({inOption, outOption, helpOption});
    if (fileOption)
        parser.addOption(fileOpt);
    const QString usage = QString::fromLatin1(help).trimmed();
    if (!parser.parse(arguments)) {
        printMessage(parser.errorText() + QLatin1Char('\n') + usage);
        return CliExit::Usage;
    }
    if (parser.isSet(helpOption)) {
        printText(QString::fromLatin1(help));
        return CliExit::Ok;
    }
    if (!parser.positionalArguments().isEmpty() || !parser.isSet(inOption) || parser.value(inOption).isEmpty()
        || (parser.isSet(outOption) && parser.value(outOption).isEmpty())
        || (fileOption && (!parser.isSet(fileOpt) || parser.value(fileOpt).isEmpty()))) {
        printMessage(usage);
        return CliExit::Usage;
    }
    parsed.input = parser.value(inOption);
    parsed.output = parser.value(outOption);
    if (fileOption)
        parsed.file = parser.value(fileOpt);
    return -1;
}

} // namespace

int runDevicesCommand(const QStringList &arguments)
{
    if (arguments.size() > 1) {
        if (arguments.size() == 2 && (arguments[1] == QLatin1String("--help") || arguments[1] == QLatin1String("-h"))) {
            printText(QString::fromLatin1(DevicesHelp));
            return CliExit::Ok;
        }
        printMessage(QString::fromLatin1(DevicesHelp).trimmed());
        return CliExit::Usage;
    }
    reportMidiSystem(midiService().midiSystemStatus());
    QString text;
    for (const QString &name : MidiInputNames(midiService()))
        text += QStringLiteral("in\t%1\n").arg(name);
    for (const QString &name : MidiOutputNames(midiService()))
        text += QStringLiteral("out\t%1\n").arg(name);
    if (!writeStandardOutput(text.toLocal8Bit())) {
        printMessage(QStringLiteral("Cannot write to standard output"));
        return CliExit::Failed;
    }
    return CliExit::Ok;
}

int runMonitorCommand(const QStringList &arguments)
{
    DeviceArguments parsed;
    if (const int status = parseDeviceArguments(arguments, MonitorHelp, false, parsed); status >= 0)
        return status;

    reportMidiSystem(midiService().midiSystemStatus());
    DeviceSession session(midiService());
    session.setLineHandler([](const QString &line) { writeStandardOutput(line.toLocal8Bit() + '\n'); });
    session.setErrorHandler(&printMessage);
    session.setStatusHandler(&printMessage);
    QString error;
    if (!session.open(parsed.input, parsed.output, error)) {
        printMessage(error);
        return CliExit::Failed;
    }
    const int status = runUntilInterrupted();
    session.close();
    return status;
}

namespace {

// What an existing capture file holds for a capture that continues it: its rows, and what is left
// after its last line end when that is not a whole row (a writer stopped in the middle of it).
struct ExistingCapture {
    qsizetype keep = 0; // bytes kept
    int rows = 0;
    QByteArray cutRow;  // the part of a row cut off
};

ExistingCapture existingCapture(const QByteArray &bytes)
{
    ExistingCapture found;
    const qsizetype whole = CaptureFile::wholeLinesSize(bytes);
    const QByteArray tail = bytes.mid(whole);
    // A row written by Corvane has its four commas; one that has them all but no line end (a file
    // written by hand, say) is kept and ended.
    if (tail.count(',') >= 4 || tail.isEmpty())
        found.keep = bytes.size();
    else {
        found.keep = whole;
        found.cutRow = tail;
    }
    found.rows = CaptureFile::countLines(bytes.left(found.keep));
    return found;
}

} // namespace

int runCaptureCommand(const QStringList &arguments)
{
    DeviceArguments parsed;
    if (const int status = parseDeviceArguments(arguments, CaptureHelp, true, parsed); status >= 0)
        return status;

    // The devices first: a capture that cannot start leaves no file behind. Nothing is received
    // before the event loop runs.
    reportMidiSystem(midiService().midiSystemStatus());
    DeviceSession session(midiService());
    QString error;
    if (!session.open(parsed.input, parsed.output, error)) {
        printMessage(error);
        return CliExit::Failed;
    }

    // An existing capture file is continued: its rows keep their numbers. A last row that a
    // writer stopped in the middle of is cut off, so that the next row does not run into it; a
    // whole last row without its line end gets one.
    AppendFile file(parsed.file);
    QByteArray lead;
    if (QFileInfo(parsed.file).isFile()) {
        QFile existing(parsed.file);
        if (!existing.open(QIODevice::ReadOnly)) {
            printMessage(QStringLiteral("Cannot read %1: %2").arg(parsed.file, existing.errorString()));
            return CliExit::Failed;
        }
        const QByteArray bytes = existing.readAll();
        existing.close();
        const ExistingCapture found = existingCapture(bytes);
        session.setRowCount(found.rows);
        if (!found.cutRow.isEmpty()) {
            printMessage(QStringLiteral("%1: its last row was cut short; cut back to its last whole row (removed \"%2\")")
                             .arg(parsed.file, Latin1Text::decode(found.cutRow)));
        }
        if (found.keep > 0 && !bytes.left(found.keep).endsWith('\n') && !bytes.left(found.keep).endsWith('\r'))
            lead = Latin1Text::LineEnd;
        if (!file.open(AppendFile::Start::Continue, &error)
            || (found.keep < bytes.size() && !file.truncate(found.keep, &error))) {
            printMessage(QStringLiteral("Cannot write %1: %2").arg(parsed.file, error));
            return CliExit::Failed;
        }
    } else if (!file.open(AppendFile::Start::Continue, &error)) {
        printMessage(QStringLiteral("Cannot write %1: %2").arg(parsed.file, error));
        return CliExit::Failed;
    }
    if (!lead.isEmpty() && !file.append(lead, &error)) {
        printMessage(QStringLiteral("Cannot write %1: %2").arg(parsed.file, error));
        return CliExit::Failed;
    }

    // Rows that arrive together are written together, handed to the operating system at the end
    // of each drain of the input (so a killed capture loses nothing it received) and synced to
    // the disk soon after (so a power cut loses at most that time's rows). A write that fails
    // leaves the file with its whole rows only.
    DeferredDiskSync disk(CaptureJournal::SyncStartMs);
    // A device or FIFO (/dev/null, a pipe to another program) has no disk to sync to.
    if (file.isRegularFile())
        disk.start(file.handle());
    QByteArray pending;
    session.setRowHandler([&](const QString &line) { pending += Latin1Text::encode(line) + Latin1Text::LineEnd; });
    session.setDrainEndHandler([&] {
        if (pending.isEmpty())
            return;
        const QByteArray bytes = std::exchange(pending, QByteArray());
        QString reason;
        if (!file.append(bytes, &reason))
            throw CorvaneError(QStringLiteral("Cannot write %1: %2").arg(parsed.file, reason));
        if (const int failure = disk.failure())
            throw CorvaneError(QStringLiteral("Cannot write %1: %2").arg(parsed.file, SafeFile::systemReason(failure)));
        disk.written();
    });
    int status = CliExit::Ok;
    // A row that cannot be written ends the capture: the file would no longer hold the show.
    session.setErrorHandler([&](const QString &message) {
        printMessage(message);
        status = CliExit::Failed;
        QCoreApplication::exit(CliExit::Failed);
    });
    session.setStatusHandler(&printMessage);
    const int loop = runUntilInterrupted();
    // What a last look would tell is told before the end.
    session.deviceWatch().check();
    const bool missing = session.deviceMissing();
    const std::uint64_t lost = session.lostEvents();
    const std::uint64_t late = session.serverLate();
    try {
        QString told;
        if (lost > 0)
            told += QStringLiteral("corvane-cli: %1 events lost in this capture\n").arg(lost);
        if (late > 0)
            told += QStringLiteral("corvane-cli: ") + DeviceSession::serverLateText(late) + QStringLiteral(" in this capture\n");
        const CloseWatchdog watchdog(told);
        session.close();
    } catch (const CorvaneError &e) {
        printMessage(e.message());
    }
    disk.stop(true);
    if (status == CliExit::Ok && disk.failure()) {
        printMessage(QStringLiteral("Cannot write %1: %2").arg(parsed.file, SafeFile::systemReason(disk.failure())));
        status = CliExit::Failed;
    }
    QString reason;
    if (!file.close(&reason) && status == CliExit::Ok) {
        printMessage(QStringLiteral("Cannot write %1: %2").arg(parsed.file, reason));
        status = CliExit::Failed;
    }
    if (lost > 0)
        printMessage(lost == 1 ? QStringLiteral("1 event lost in this capture") : QStringLiteral("%1 events lost in this capture").arg(lost));
    if (late > 0)
        printMessage(DeviceSession::serverLateText(late) + QStringLiteral(" in this capture"));
    if (missing)
        printMessage(QStringLiteral("A MIDI device was gone when the capture ended"));
    if (status == CliExit::Ok && loop == CliExit::Ok && (lost > 0 || late > 0 || missing))
        status = CliExit::Failed;
    return status != CliExit::Ok ? status : loop;
}
