// orvex-sim: a simulator of the Orvex interface on virtual MIDI ports (JACK or the ALSA
// sequencer, through RtMidi). See OrvexSim::helpText for what it does.
//
// Threads: the main thread waits for signals, keys and received messages (all woken through
// one pipe) and answers; a timecode thread sends MTC; a script thread sends the script's
// capture events. RtMidi's input callback only queues what arrives. Every send goes through
// Output, which serialises them and paces bursts.

#include "CorvaneVersion.h"
#include "DeviceCodec.h"
#include "OrvexSim.h"

#include <RtMidi.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace OrvexSim;
using SteadyClock = std::chrono::steady_clock;

namespace {

int g_wakeWrite = -1;

// Wake-up reasons, one byte each on the pipe.
constexpr char WakeSignal = 's';
constexpr char WakeMessage = 'm';
constexpr char WakeScriptDone = 'd';

void wake(char reason)
{
    // Async-signal-safe; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(g_wakeWrite, &reason, 1);
}

void onSignal(int)
{
    wake(WakeSignal);
}

std::mutex g_printLock;

void say(const QString &line)
{
    const std::lock_guard<std::mutex> lock(g_printLock);
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void complain(const QString &line)
{
    const std::lock_guard<std::mutex> lock(g_printLock);
    std::fputs(qPrintable(QStringLiteral("orvex-sim: ") + line + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

void onRtMidiError(RtMidiError::Type, const std::string &text, void *)
{
    complain(QString::fromStdString(text));
}

// The output port: one send at a time, and at most `burst` messages per burst period, as the
// JACK server drops what does not fit one period's buffer.
class Output {
public:
    Output(RtMidiOut &port, int burst, std::chrono::microseconds period)
        : m_port(port), m_burst(burst), m_period(period)
    {
    }

    void send(const Message &message)
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        const auto now = SteadyClock::now();
        if (now - m_windowStart >= m_period) {
            m_windowStart = now;
            m_inWindow = 0;
        }
        if (m_inWindow >= m_burst) {
            std::this_thread::sleep_until(m_windowStart + m_period);
            m_windowStart = SteadyClock::now();
            m_inWindow = 0;
        }
        ++m_inWindow;
        m_port.sendMessage(message.data(), message.size());
    }

private:
    RtMidiOut &m_port;
    const int m_burst;
    const std::chrono::microseconds m_period;
    std::mutex m_lock;
    SteadyClock::time_point m_windowStart{};
    int m_inWindow = 0;
};

// The running timecode: frames since midnight, advancing from the start time.
class RunningTime {
public:
    RunningTime(std::int64_t startFrames, int fps) : m_start(SteadyClock::now()), m_startFrames(startFrames), m_fps(fps) {}

    SteadyClock::time_point start() const { return m_start; }
    int fps() const { return m_fps; }
    std::int64_t startFrames() const { return m_startFrames; }
    TimecodeFields now() const
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - m_start);
        return timecodeAt(m_startFrames + elapsed.count() * m_fps / 1000000, m_fps);
    }

private:
    const SteadyClock::time_point m_start;
    const std::int64_t m_startFrames;
    const int m_fps;
};

// What the threads share: the stop request and the script's start.
struct Control {
    std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;
    bool scriptStarted = false;

    template <typename Clock, typename Duration>
    bool waitUntil(const std::chrono::time_point<Clock, Duration> &deadline) // false: stopping
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_until(guard, deadline, [this] { return stopping; });
        return !stopping;
    }
};

// Received messages, queued by RtMidi's callback for the main thread.
struct Inbox {
    std::mutex lock;
    std::deque<Message> messages;

    static void receive(double, std::vector<unsigned char> *message, void *self)
    {
        auto *inbox = static_cast<Inbox *>(self);
        {
            const std::lock_guard<std::mutex> guard(inbox->lock);
            inbox->messages.emplace_back(message->begin(), message->end());
        }
        wake(WakeMessage);
    }

    std::deque<Message> take()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return std::exchange(messages, {});
    }
};

// A full frame, then quarter frames: piece k of each run of eight carries the time of the
// frame at which piece 0 was sent, two frames per run.
void runTimecode(Output &output, const RunningTime &time, Control &control)
{
    const MtcRate rate = rateOf(time.fps());
    const auto full = FullFrameMessage(timecodeAt(time.startFrames(), time.fps()), rate);
    output.send(Message(full.begin(), full.end()));
    const std::chrono::nanoseconds quarter(1000000000LL / (4LL * time.fps()));
    for (std::int64_t k = 0;; ++k) {
        if (!control.waitUntil(time.start() + k * quarter))
            return;
        const TimecodeFields at = timecodeAt(time.startFrames() + 2 * (k / 8), time.fps());
        output.send({0xF1, QuarterFrameData(at, rate, int(k % 8))});
    }
}

void runScript(Output &output, const RunningTime &time, Control &control, const std::vector<ScriptEvent> &events,
               bool quiet)
{
    {
        std::unique_lock<std::mutex> guard(control.lock);
        control.changed.wait(guard, [&] { return control.stopping || control.scriptStarted; });
        if (control.stopping)
            return;
    }
    auto due = SteadyClock::now();
    for (const ScriptEvent &event : events) {
        due += std::chrono::milliseconds(event.delayMs);
        if (event.delayMs > 0 && !control.waitUntil(due))
            return;
        const TimecodeFields at = event.time ? *event.time : time.now();
        output.send(captureEvent(event.mask, at));
        if (!quiet)
            say(QStringLiteral("capture %1 %2").arg(HexByte(event.mask >> 8) + HexByte(event.mask & 0xFF), timecodeText(at)));
    }
    say(QStringLiteral("script done %1").arg(events.size()));
    wake(WakeScriptDone);
}

// Keys without line editing or echo, while the simulator runs; signals keep working.
class RawTerminal {
public:
    RawTerminal()
    {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios raw = m_saved;
        raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        m_active = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawTerminal()
    {
        if (m_active)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }

private:
    termios m_saved{};
    bool m_active = false;
};

RtMidi::Api chooseApi(const QString &name)
{
    if (name == QLatin1String("jack"))
        return RtMidi::UNIX_JACK;
    if (name == QLatin1String("alsa"))
        return RtMidi::LINUX_ALSA;
    return ::access("/dev/snd/seq", R_OK | W_OK) == 0 ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("name"), QString(), QStringLiteral("name"), QStringLiteral("orvex-sim")},
        {QStringLiteral("api"), QString(), QStringLiteral("api"), QStringLiteral("auto")},
        {QStringLiteral("script"), QString(), QStringLiteral("file")},
        {QStringLiteral("wait-query"), QString()},
        {QStringLiteral("exit-after-script"), QString()},
        {QStringLiteral("keyboard"), QString()},
        {QStringLiteral("fps"), QString(), QStringLiteral("fps"), QStringLiteral("25")},
        {QStringLiteral("start"), QString(), QStringLiteral("timecode"), QStringLiteral("10:00:00:00")},
        {QStringLiteral("no-mtc"), QString()},
        {QStringLiteral("model"), QString(), QStringLiteral("model"), QStringLiteral("16")},
        {QStringLiteral("short-revision"), QString()},
        {QStringLiteral("burst"), QString(), QStringLiteral("n"), QStringLiteral("500")},
        {QStringLiteral("burst-ms"), QString(), QStringLiteral("ms"), QStringLiteral("5")},
        {QStringLiteral("quiet"), QString()},
        {{QStringLiteral("h"), QStringLiteral("help")}, QString()},
        {QStringLiteral("version"), QString()},
    });
    auto usageError = [](const QString &message) {
        complain(message + QStringLiteral(" (orvex-sim --help tells more)"));
        return 2;
    };
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fputs("orvex-sim " CORVANE_VERSION "\n", stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    const QString apiName = parser.value(QStringLiteral("api"));
    if (apiName != QLatin1String("auto") && apiName != QLatin1String("jack") && apiName != QLatin1String("alsa"))
        return usageError(QStringLiteral("--api takes auto, jack or alsa"));
    const int fps = parser.value(QStringLiteral("fps")).toInt();
    if (fps != 24 && fps != 25 && fps != 30)
        return usageError(QStringLiteral("--fps takes 24, 25 or 30"));
    const std::optional<TimecodeFields> start = parseTimecode(parser.value(QStringLiteral("start")), fps);
    if (!start)
        return usageError(QStringLiteral("--start takes hh:mm:ss:ff"));
    Revision revision;
    revision.model = parser.value(QStringLiteral("model")).toInt();
    revision.longForm = !parser.isSet(QStringLiteral("short-revision"));
    if (revision.model != 16 && revision.model != 8)
        return usageError(QStringLiteral("--model takes 16 or 8"));
    bool burstOk = false;
    bool periodOk = false;
    const int burst = parser.value(QStringLiteral("burst")).toInt(&burstOk);
    const int burstMs = parser.value(QStringLiteral("burst-ms")).toInt(&periodOk);
    if (!burstOk || burst < 1 || !periodOk || burstMs < 1)
        return usageError(QStringLiteral("--burst and --burst-ms take whole numbers above 0"));
    const QString name = parser.value(QStringLiteral("name"));
    const bool quiet = parser.isSet(QStringLiteral("quiet"));

    std::optional<std::vector<ScriptEvent>> script;
    if (parser.isSet(QStringLiteral("script"))) {
        QFile file(parser.value(QStringLiteral("script")));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            complain(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
            return 2;
        }
        QString error;
        script = parseScript(QString::fromUtf8(file.readAll()), fps, error);
        if (!script) {
            complain(file.fileName() + QStringLiteral(", ") + error);
            return 2;
        }
    }
    const bool keyboard = parser.isSet(QStringLiteral("keyboard")) || (!script && ::isatty(STDIN_FILENO));

    int wakePipe[2];
    if (::pipe(wakePipe) != 0) {
        complain(QStringLiteral("cannot create a pipe"));
        return 1;
    }
    ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
    g_wakeWrite = wakePipe[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    // JACK gives each RtMidi object a client of its own, and client names must differ.
    const RtMidi::Api api = chooseApi(apiName);
    const std::string outClient = name.toStdString();
    const std::string inClient = name.toStdString() + "-in";
    Inbox inbox;
    std::unique_ptr<RtMidiOut> out;
    std::unique_ptr<RtMidiIn> in;
    try {
        out = std::make_unique<RtMidiOut>(api, outClient);
        out->openVirtualPort("out");
        in = std::make_unique<RtMidiIn>(api, inClient);
        in->ignoreTypes(false, true, true);
        in->setCallback(&Inbox::receive, &inbox);
        in->openVirtualPort("in");
    } catch (const RtMidiError &e) {
        complain(QStringLiteral("cannot open the %1 ports: %2")
                     .arg(QString::fromStdString(RtMidi::getApiName(api)), QString::fromStdString(e.getMessage())));
        return 1;
    }
    out->setErrorCallback(&onRtMidiError);
    in->setErrorCallback(&onRtMidiError);
    say(QStringLiteral("ready out=%1:out in=%2:in").arg(QString::fromStdString(outClient), QString::fromStdString(inClient)));

    Output output(*out, burst, std::chrono::milliseconds(burstMs));
    const RunningTime time(framesOf(*start, fps), fps);
    Control control;
    control.scriptStarted = !parser.isSet(QStringLiteral("wait-query"));
    std::thread timecodeThread;
    if (!parser.isSet(QStringLiteral("no-mtc")))
        timecodeThread = std::thread(runTimecode, std::ref(output), std::cref(time), std::ref(control));
    std::thread scriptThread;
    if (script)
        scriptThread = std::thread(runScript, std::ref(output), std::cref(time), std::ref(control), std::cref(*script), quiet);

    std::optional<RawTerminal> terminal;
    if (keyboard)
        terminal.emplace();
    bool readKeys = keyboard;
    std::uint16_t mask = 0;
    auto sendMask = [&] {
        const TimecodeFields at = time.now();
        output.send(captureEvent(mask, at));
        say(QStringLiteral("capture %1 %2").arg(HexByte(mask >> 8) + HexByte(mask & 0xFF), timecodeText(at)));
    };
    bool running = true;
    while (running) {
        pollfd fds[2] = {{wakePipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, readKeys ? 2 : 1, -1) < 0)
            continue; // interrupted by a signal: its wake-up is in the pipe
        if (fds[0].revents & POLLIN) {
            char reasons[64];
            const ssize_t count = ::read(wakePipe[0], reasons, sizeof reasons);
            for (ssize_t i = 0; i < count; ++i) {
                if (reasons[i] == WakeSignal)
                    running = false;
                if (reasons[i] == WakeScriptDone && parser.isSet(QStringLiteral("exit-after-script"))) {
                    // Let the MIDI server deliver the last events before the ports close.
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    running = false;
                }
            }
            for (const Message &message : inbox.take()) {
                const Response response = respond(message, revision);
                for (const Message &reply : response.replies)
                    output.send(reply);
                if (!response.line.isEmpty())
                    say(response.line);
                if (!response.replies.empty()) {
                    const std::lock_guard<std::mutex> guard(control.lock);
                    control.scriptStarted = true;
                    control.changed.notify_all();
                }
            }
        }
        if (readKeys && (fds[1].revents & (POLLIN | POLLHUP))) {
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) != 1) {
                readKeys = false; // end of input: keys are over, the simulator goes on
                continue;
            }
            if (key == 'x') {
                running = false;
            } else if (key == 'c') {
                mask = 0;
                sendMask();
            } else if (key == ' ') {
                sendMask();
            } else if (const int camera = cameraForKey(key)) {
                mask ^= std::uint16_t(1u << (camera - 1));
                sendMask();
            }
        }
    }

    {
        const std::lock_guard<std::mutex> guard(control.lock);
        control.stopping = true;
        control.changed.notify_all();
    }
    if (timecodeThread.joinable())
        timecodeThread.join();
    if (scriptThread.joinable())
        scriptThread.join();
    in->closePort();
    out->closePort();
    return 0;
}
