// A paced burst of capture events from a second process (bench_devicelink_sender) over a JACK
// server into Corvane's window stack: the MIDI device window on the RtMidi service, joined to
// the capture window as the program joins them. Every row must arrive, in order. Measured: the
// delay from the input port's driver callback to the row being in the capture list, and to the row
// being shown (announced to the list view), median and 99th percentile; the baseline, in the same
// run, is the same burst into a bare input port whose OnMidiInput only takes the events (callback
// to event taken). The window stack runs twice, without and with the capture journal (which
// writes each batch of rows before they are shown), so the journal's cost is the difference.
//
//   bench_devicelink [--events N] [--per-period N] [--runs N]
//
// Needs a running JACK server (JACK_DEFAULT_SERVER); scripts/bench-devicelink starts a private
// one, builds in release mode and runs this.
//
// It ends in bounded time: every stage of a run has a time limit, kept by a thread of its own
// (so that a stage stuck in a modal dialog or a JACK call that never returns still ends), and
// past it the benchmark says which stage it was in and how far the events got, stops the sender
// and ends with status 2. A dialog that comes up (the benchmark answers none) is told with its
// text, refused, and fails the run.

#include "AppPaths.h"
#include "CaptureDeviceWindow.h"
#include "CaptureJournal.h"
#include "CaptureList.h"
#include "KxSettings.h"
#include "MidiDevices.h"
#include "MidiIn.h"
#include "RtMidiService.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

struct Options {
    int events = 10000;
    int perPeriod = 500;
    int runs = 1;
};

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--events"))
            o.events = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--per-period"))
            o.perPeriod = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs"))
            o.runs = std::max(1, std::atoi(argv[++i]));
    }
    return o;
}

// The program's MIDI service with a tap on the input callback: the moment each System Exclusive
// message is handed to the port's driver callback, by arrival. Everything else passes through.
class TappedMidiService final : public MidiService {
public:
    explicit TappedMidiService(MidiService &inner) : m_inner(inner) {}

    void reset(std::size_t capacity)
    {
        m_times.assign(capacity, 0);
        m_count.store(0, std::memory_order_relaxed);
    }
    std::size_t count() const { return std::min(m_count.load(std::memory_order_acquire), m_times.size()); }
    // The messages handed to the driver callback so far; safe from any thread.
    std::size_t arrived() const { return m_count.load(std::memory_order_acquire); }
    std::int64_t time(std::size_t k) const { return m_times[k]; }
    std::uint64_t lost() { return m_handle ? m_inner.midiInLostCount(m_handle) : 0; }

    MidiSystemStatus midiSystemStatus() override { return m_inner.midiSystemStatus(); }
    std::uint32_t midiInGetNumDevs() override { return m_inner.midiInGetNumDevs(); }
    MMRESULT midiInGetDevCaps(int id, MIDIINCAPS &caps) override { return m_inner.midiInGetDevCaps(id, caps); }
    MMRESULT midiInGetErrorText(MMRESULT code, QString &text) override { return m_inner.midiInGetErrorText(code, text); }
    MMRESULT midiInOpen(HMIDIIN *handle, int id, MidiCallback callback, std::uintptr_t instance,
                        std::uint32_t flags) override
    {
        m_callback = callback;
        m_instance = instance;
        const MMRESULT result = m_inner.midiInOpen(handle, id, &TappedMidiService::tap,
                                                   reinterpret_cast<std::uintptr_t>(this), flags);
        m_handle = result == MMSYSERR_NOERROR ? *handle : nullptr;
        return result;
    }
    MMRESULT midiInPrepareHeader(HMIDIIN h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiInPrepareHeader(h, hdr, size); }
    MMRESULT midiInUnprepareHeader(HMIDIIN h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiInUnprepareHeader(h, hdr, size); }
    MMRESULT midiInAddBuffer(HMIDIIN h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiInAddBuffer(h, hdr, size); }
    MMRESULT midiInStart(HMIDIIN h) override { return m_inner.midiInStart(h); }
    MMRESULT midiInStop(HMIDIIN h) override { return m_inner.midiInStop(h); }
    MMRESULT midiInReset(HMIDIIN h) override { return m_inner.midiInReset(h); }
    MMRESULT midiInClose(HMIDIIN h) override
    {
        if (h == m_handle)
            m_handle = nullptr;
        return m_inner.midiInClose(h);
    }
    std::uint64_t midiInLostCount(HMIDIIN h) override { return m_inner.midiInLostCount(h); }
    std::uint64_t midiInLateCount(HMIDIIN h) override { return m_inner.midiInLateCount(h); }
    MMRESULT midiInCheckDevice(HMIDIIN h) override { return m_inner.midiInCheckDevice(h); }
    std::uint32_t midiOutGetNumDevs() override { return m_inner.midiOutGetNumDevs(); }
    MMRESULT midiOutGetDevCaps(int id, MIDIOUTCAPS &caps) override { return m_inner.midiOutGetDevCaps(id, caps); }
    MMRESULT midiOutGetErrorText(MMRESULT code, QString &text) override { return m_inner.midiOutGetErrorText(code, text); }
    MMRESULT midiOutOpen(HMIDIOUT *handle, int id, MidiCallback callback, std::uintptr_t instance,
                         std::uint32_t flags) override
    {
        return m_inner.midiOutOpen(handle, id, callback, instance, flags);
    }
    MMRESULT midiOutShortMsg(HMIDIOUT h, std::uint32_t message) override { return m_inner.midiOutShortMsg(h, message); }
    MMRESULT midiOutPrepareHeader(HMIDIOUT h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiOutPrepareHeader(h, hdr, size); }
    MMRESULT midiOutUnprepareHeader(HMIDIOUT h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiOutUnprepareHeader(h, hdr, size); }
    MMRESULT midiOutLongMsg(HMIDIOUT h, MIDIHDR *hdr, std::uint32_t size) override { return m_inner.midiOutLongMsg(h, hdr, size); }
    MMRESULT midiOutReset(HMIDIOUT h) override { return m_inner.midiOutReset(h); }
    MMRESULT midiOutClose(HMIDIOUT h) override { return m_inner.midiOutClose(h); }
    MMRESULT midiOutCheckDevice(HMIDIOUT h) override { return m_inner.midiOutCheckDevice(h); }

private:
    // The driver's thread: stamps a System Exclusive message, then calls the port's callback.
    static void tap(void *device, std::uint32_t message, std::uintptr_t instance, std::uintptr_t p1, std::uintptr_t p2)
    {
        auto *self = reinterpret_cast<TappedMidiService *>(instance);
        if (message == MIM_LONGDATA) {
            const auto *header = reinterpret_cast<const MIDIHDR *>(p1);
            if (header && header->dwBytesRecorded > 0) {
                const std::size_t k = self->m_count.load(std::memory_order_relaxed);
                if (k < self->m_times.size())
                    self->m_times[k] = nowNs();
                self->m_count.store(k + 1, std::memory_order_release);
            }
        }
        self->m_callback(device, message, self->m_instance, p1, p2);
    }

    MidiService &m_inner;
    MidiCallback m_callback = nullptr;
    std::uintptr_t m_instance = 0;
    HMIDIIN m_handle = nullptr;
    std::vector<std::int64_t> m_times;
    std::atomic<std::size_t> m_count{0};
};

// How far the current stage got, for the watchdog's thread to tell: the rows taken (baseline) or
// in the capture list, and the rows shown.
struct Progress {
    std::atomic<int> inList{0};
    std::atomic<int> shown{0};
    void reset()
    {
        inList.store(0);
        shown.store(0);
    }
};
Progress progress;

// Ends the benchmark when a stage outlives its time limit, from a thread of its own: it says
// which stage and how far the events got, stops the sender (which then says how many it sent)
// and ends the process.
class Watchdog {
public:
    using Clock = std::chrono::steady_clock;

    Watchdog(const TappedMidiService &tap, int events) : m_tap(tap), m_events(events), m_thread([this] { watch(); }) {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void stage(const QString &name, std::chrono::seconds limit)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stage = name.toStdString();
            m_limit = limit;
            m_deadline = Clock::now() + limit;
        }
        m_changed.notify_all();
    }
    std::string stageName()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stage;
    }
    void setSender(qint64 pid) { m_sender.store(pid); }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_quit) {
            if (m_stage.empty()) {
                m_changed.wait(lock);
                continue;
            }
            m_changed.wait_until(lock, m_deadline);
            if (!m_quit && Clock::now() >= m_deadline)
                giveUp();
        }
    }

    [[noreturn]] void giveUp()
    {
        std::fprintf(stderr,
                     "bench_devicelink: gave up after %lld s in stage \"%s\": of %d events to send, %zu reached the "
                     "input's callback, %d rows taken or in the capture list, %d shown\n",
                     static_cast<long long>(m_limit.count()), m_stage.c_str(), m_events, m_tap.arrived(),
                     progress.inList.load(), progress.shown.load());
        if (const qint64 pid = m_sender.load(); pid > 0) {
            ::kill(pid_t(pid), SIGTERM); // it says how many it sent
            std::this_thread::sleep_for(std::chrono::seconds(1));
            ::kill(pid_t(pid), SIGKILL);
        }
        std::fflush(stdout);
        std::_Exit(2);
    }

    const TappedMidiService &m_tap;
    const int m_events;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_stage;
    std::chrono::seconds m_limit{0};
    Clock::time_point m_deadline;
    bool m_quit = false;
    std::atomic<qint64> m_sender{0};
    std::thread m_thread;
};

// The benchmark answers no question: a dialog that comes up (a capture journal left by an earlier
// run, an error) is told with its text and the stage, and refused; the run fails.
class DialogRefuser final : public QObject {
public:
    explicit DialogRefuser(Watchdog &watchdog) : m_watchdog(watchdog) {}
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<QDialog *>(watched)) {
                QStringList texts;
                for (const QLabel *label : dialog->findChildren<QLabel *>()) {
                    if (label->isVisibleTo(dialog) && !label->text().isEmpty())
                        texts << label->text();
                }
                std::fprintf(stderr, "bench_devicelink: a dialog came up in stage \"%s\" (refused): %s\n",
                             m_watchdog.stageName().c_str(), qPrintable(texts.join(QStringLiteral(" | "))));
                ++m_count;
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    Watchdog &m_watchdog;
    int m_count = 0;
};

// The sender process.
class Sender {
public:
    Sender(const QString &name, const Options &o, Watchdog &watchdog) : m_watchdog(watchdog)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_devicelink_sender"),
                        {name, QString::number(o.events), QString::number(o.perPeriod)});
    }
    ~Sender()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            std::fprintf(stderr, "bench_devicelink: the sender did not end within 5 s of the end of its input; killed\n");
            m_process.kill();
        }
        m_process.waitForFinished(10000);
        m_watchdog.setSender(0);
    }
    // The port name, once the sender is ready; empty (and said why) when it failed.
    QString waitReady()
    {
        if (!m_process.waitForStarted(10000)) {
            std::fprintf(stderr, "bench_devicelink: the sender did not start: %s\n", qPrintable(m_process.errorString()));
            return QString();
        }
        m_watchdog.setSender(m_process.processId());
        QElapsedTimer waited;
        waited.start();
        while (!m_process.canReadLine()) {
            if (waited.elapsed() > 20000 || (!m_process.waitForReadyRead(1000) && m_process.state() != QProcess::Running)) {
                std::fprintf(stderr, "bench_devicelink: the sender %s before its port was ready\n",
                             m_process.state() == QProcess::Running ? "took over 20 s" : "ended");
                return QString();
            }
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("ready "))) {
            std::fprintf(stderr, "bench_devicelink: the sender said \"%s\" instead of its port\n", qPrintable(line));
            return QString();
        }
        return line.mid(6);
    }
    void go()
    {
        m_process.write("go\n");
        if (!m_process.waitForBytesWritten(5000))
            std::fprintf(stderr, "bench_devicelink: the sender did not take the line to start within 5 s\n");
    }
    // True once the sender has said it sent every event, or has ended.
    bool done()
    {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("sent ")))
                m_sent = line;
        }
        return !m_sent.isEmpty() || m_process.state() != QProcess::Running;
    }
    // What the sender said of its sending so far: "sent N" once it has sent all, or that it ended
    // or has not finished.
    QString state()
    {
        done();
        if (!m_sent.isEmpty())
            return QStringLiteral("the sender says it %1").arg(m_sent);
        if (m_process.state() != QProcess::Running)
            return QStringLiteral("the sender ended (status %1) before it had sent all").arg(m_process.exitCode());
        return QStringLiteral("the sender has not finished sending");
    }

private:
    Watchdog &m_watchdog;
    QProcess m_process;
    QString m_sent;
};

struct Figures {
    int rows = 0;
    bool inOrder = true;
    std::uint64_t lostByService = 0;
    quint64 overflows = 0;
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
    double seconds = 0;
    // The capture journal, when on: its writes and disk syncs, and the rows it would give back.
    int journalWrites = 0;
    int journalSyncs = 0;
    int journalRows = -1;
};

void summarise(const TappedMidiService &tap, const std::vector<std::int64_t> &done, Figures &f)
{
    std::vector<double> delays;
    const std::size_t n = std::min(done.size(), tap.count());
    for (std::size_t k = 0; k < n; ++k)
        delays.push_back(double(done[k] - tap.time(k)) / 1000.0);
    if (delays.empty())
        return;

    std::sort(delays.begin(), delays.end());
    f.medianUs = delays[delays.size() / 2];
    f.p99Us = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    f.maxUs = delays.back();
}

// The expected texts of row k, as the sender made event k.
struct RowTexts {
    QString camera;
    QString timecode;
};
RowTexts expectedRow(int k)
{
    return {QStringLiteral("%1").arg(1 << (k % 16), 4, 16, QLatin1Char('0')).toUpper(),
            QString::asprintf("10:%02d:%02d:%02d", k / 1500 % 60, k / 25 % 60, k % 25)};
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// How long the rows of a burst may take to arrive: a minute beyond twice the time the sender
// needs to send them at its pace.
int rowsTimeoutMs(const Options &o)
{
    const double sendingMs = double(o.events) / o.perPeriod * 256.0 * 1000.0 / 48000.0;
    return 60000 + int(2 * sendingMs);
}

// Waits for the rows of the burst, at most rowsTimeoutMs, and no more than 5 s without a new row
// once the sender is done (what the server dropped never comes); on giving up says what it waited
// for and how far it got.
void waitForRows(const char *name, int run, const std::function<int()> &rows, const TappedMidiService &service,
                 Sender &sender, const Options &o)
{
    const int timeoutMs = rowsTimeoutMs(o);
    constexpr int QuietMs = 5000;
    QElapsedTimer waited, quiet;
    waited.start();
    quiet.start();
    int seen = rows();
    bool stalled = false;
    const bool all = waitFor(
        [&] {
            const int now = rows();
            if (now != seen) {
                seen = now;
                quiet.restart();
            } else if (quiet.elapsed() > QuietMs && sender.done()) {
                stalled = true;
            }
            return now >= o.events || stalled;
        },
        timeoutMs);
    if (all && !stalled)
        return;
    std::fprintf(stderr,
                 "bench_devicelink: %s run %d: gave up after %.1f s waiting for rows (%s): of %d events, %zu reached "
                 "the input's callback, %d rows taken or in the list, %d shown; %s\n",
                 name, run, double(waited.elapsed()) / 1000.0,
                 stalled ? "none new for 5 s after the sender was done" : "its time limit", o.events, service.arrived(),
                 progress.inList.load(), progress.shown.load(), qPrintable(sender.state()));
}

std::chrono::seconds rowsStageLimit(const Options &o)
{
    return std::chrono::seconds(rowsTimeoutMs(o) / 1000 + 30);
}

constexpr std::chrono::seconds StageLimit{60};

// Baseline: a bare input port; OnMidiInput takes the events and notes when each was taken.
Figures runBaseline(TappedMidiService &service, const Options &o, int run, Watchdog &watchdog)
{
    Figures f;
    progress.reset();
    watchdog.stage(QStringLiteral("baseline run %1: starting the sender").arg(run), StageLimit);
    Sender sender(QStringLiteral("bench-base-%1-%2").arg(QCoreApplication::applicationPid()).arg(run), o, watchdog);
    const QString port = sender.waitReady();
    if (port.isEmpty())
        return f;
    watchdog.stage(QStringLiteral("baseline run %1: opening the input port").arg(run), StageLimit);
    service.reset(std::size_t(o.events));
    std::vector<std::int64_t> taken;
    taken.reserve(std::size_t(o.events));
    TMidiInput input(service);
    input.setSysexBufferCount(Tmidiiof::InputSysexBufferCount);
    input.setCapacity(Tmidiiof::InputRingCapacity);
    input.setDeviceID(std::uint16_t(FindDeviceName(MidiInputNames(service), port)));
    input.setOnMidiInput([&](QObject *) {
        while (input.PendingCount() > 0) {
            if (!input.NextEvent())
                break;
            taken.push_back(nowNs());
            progress.inList.store(int(taken.size()));
        }
    });
    input.setOnOverflow([&](QObject *) { ++f.overflows; });
    input.Open();
    input.Start();
    watchdog.stage(QStringLiteral("baseline run %1: sending and taking the events").arg(run), rowsStageLimit(o));
    QElapsedTimer clock;
    clock.start();
    sender.go();
    waitForRows("baseline", run, [&] { return int(taken.size()); }, service, sender, o);
    f.seconds = double(clock.nsecsElapsed()) / 1e9;
    f.rows = int(taken.size());
    f.lostByService = service.lost();
    watchdog.stage(QStringLiteral("baseline run %1: closing the input port and the sender").arg(run), StageLimit);
    input.Stop();
    input.Close();
    summarise(service, taken, f);
    return f;
}

// The window stack: the device window's input, its drain and monitors, and the capture window's
// list, joined as the program joins them; the delay ends when AddGpoEvent has the row in the list.
class TimedSink final : public CaptureSink {
public:
    TimedSink(CaptureSink &next, Tedlf &edlf, std::vector<std::int64_t> &rows) : m_next(next), m_edlf(edlf), m_rows(rows) {}
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override
    {
        m_next.AddGpoEvent(reader, generator, camera);
        if (m_edlf.captureList().count() == int(m_rows.size()) + 1) {
            m_rows.push_back(nowNs());
            progress.inList.store(int(m_rows.size()));
        }
    }
    void ShowTimecode(const QString &timecode) override { m_next.ShowTimecode(timecode); }

private:
    CaptureSink &m_next;
    Tedlf &m_edlf;
    std::vector<std::int64_t> &m_rows;
};

// With journal a path, the capture journal runs as in the program. shown gets the delays to the
// row being shown.
Figures runWindow(TappedMidiService &service, const Options &o, int run, const QString &journal, Figures &shown,
                  Watchdog &watchdog)
{
    Figures f;
    progress.reset();
    const char *name = journal.isEmpty() ? "window" : "journal";
    watchdog.stage(QStringLiteral("%1 run %2: starting the sender").arg(QLatin1String(name)).arg(run), StageLimit);
    Sender sender(QStringLiteral("bench-window-%1-%2-%3").arg(QCoreApplication::applicationPid()).arg(run).arg(journal.isEmpty() ? 0 : 1), o,
                  watchdog);
    const QString port = sender.waitReady();
    if (port.isEmpty())
        return f;
    watchdog.stage(QStringLiteral("%1 run %2: opening the windows and the input").arg(QLatin1String(name)).arg(run),
                   StageLimit);
    service.reset(std::size_t(o.events));
    IniFile(MidiIoIni::path()).writeString(QLatin1String(MidiIoIni::Section), QLatin1String(MidiIoIni::InputKey), port);

    std::vector<std::int64_t> rows;
    rows.reserve(std::size_t(o.events));
    std::vector<std::int64_t> shownRows;
    shownRows.reserve(std::size_t(o.events));
    {
        Tedlf edlf;
        if (!journal.isEmpty()) {
            // A journal of its own: one left by an earlier run would be offered for recovery.
            if (QFile::exists(journal)) {
                std::fprintf(stderr, "the capture journal is there before the run: %s\n", qPrintable(journal));
                return f;
            }
            edlf.StartJournal(journal);
            if (!edlf.journal()) {
                std::fprintf(stderr, "the capture journal did not start: %s\n", qPrintable(journal));
                return f;
            }
        }
        QObject::connect(edlf.List1->model(), &QAbstractItemModel::rowsInserted, &edlf,
                         [&shownRows](const QModelIndex &, int, int last) {
                             const std::int64_t now = nowNs();
                             while (int(shownRows.size()) <= last)
                                 shownRows.push_back(now);
                             progress.shown.store(int(shownRows.size()));
                         });
        Tmidiiof midiiof;
        CaptureDeviceWindow devices(edlf, midiiof);
        TimedSink sink(devices, edlf, rows);
        midiiof.setCaptureSink(&sink);
        edlf.show(); // starts the devices: the remembered input opens
        if (midiiof.MidiInput1->State() != psOpen) {
            std::fprintf(stderr, "the device window did not open %s\n", qPrintable(port));
            return f;
        }
        watchdog.stage(QStringLiteral("%1 run %2: sending the events and showing the rows").arg(QLatin1String(name)).arg(run),
                       rowsStageLimit(o));
        QElapsedTimer clock;
        clock.start();
        sender.go();
        waitForRows(name, run, [&] { return int(shownRows.size()); }, service, sender, o);
        f.seconds = double(clock.nsecsElapsed()) / 1e9;
        watchdog.stage(QStringLiteral("%1 run %2: checking the rows, closing the windows and the sender").arg(QLatin1String(name)).arg(run),
                       StageLimit);
        const CaptureList &list = edlf.captureList();
        f.rows = list.count();
        for (int k = 0; k < list.count() && f.inOrder; ++k) {
            const RowTexts expected = expectedRow(k);
            f.inOrder = list.text(k, CaptureList::ItemColumn) == CaptureList::formatItemNumber(k + 1)
                        && list.text(k, CaptureList::CameraColumn) == expected.camera
                        && list.text(k, CaptureList::ReaderColumn) == expected.timecode
                        && list.text(k, CaptureList::GeneratorColumn) == expected.timecode;
            if (!f.inOrder)
                std::fprintf(stderr, "row %d: %s %s %s %s, expected camera %s at %s\n", k + 1,
                             qPrintable(list.text(k, CaptureList::ItemColumn)), qPrintable(list.text(k, CaptureList::CameraColumn)),
                             qPrintable(list.text(k, CaptureList::ReaderColumn)), qPrintable(list.text(k, CaptureList::GeneratorColumn)),
                             qPrintable(expected.camera), qPrintable(expected.timecode));
        }
        f.lostByService = service.lost();
        f.overflows = midiiof.overflowCount();
        if (CaptureJournal *j = edlf.journal()) {
            j->sync();
            f.journalWrites = j->writeCount();
            f.journalSyncs = j->syncCount();
            const CaptureJournal::Recovery found = CaptureJournal::read(journal);
            f.journalRows = found.found == CaptureJournal::Found::Rows ? (found.list ? found.list->count() : 0) : -1;
        }
        midiiof.StopDevices();
        midiiof.MidiInput1->Close();
        midiiof.setCaptureSink(&devices);
        edlf.close();
    }
    CloseSettingsFile();
    summarise(service, rows, f);
    shown = f;
    summarise(service, shownRows, shown);
    return f;
}

void print(const char *name, const Figures &f, const Options &o)
{
    std::printf("%-10s rows %5d/%d %s  lost %llu  overflows %llu  delay median %7.1f us  p99 %7.1f us  max %7.1f us  (%.2f s)\n",
                name, f.rows, o.events, f.inOrder ? "in order" : "OUT OF ORDER",
                static_cast<unsigned long long>(f.lostByService), static_cast<unsigned long long>(f.overflows),
                f.medianUs, f.p99Us, f.maxUs, f.seconds);
}

void printShown(const char *name, const Figures &f)
{
    std::printf("%-10s to row shown: delay median %7.1f us  p99 %7.1f us  max %7.1f us\n", name, f.medianUs, f.p99Us,
                f.maxUs);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Each line as it is printed, also into a pipe or a file: a run that stops shows how far it got.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Options o = parse(argc, argv);
    if (!qEnvironmentVariableIsSet("JACK_DEFAULT_SERVER"))
        std::fprintf(stderr, "JACK_DEFAULT_SERVER is not set: using the default JACK server\n");

    QTemporaryDir folder;
    AppPaths::setProgramFolder(folder.path());
    AppPaths::setExecutableFileName(QStringLiteral("corvane"));
    QByteArray def = "[APP]\r\nExe=corvane\r\n[USER\\<FACTORY DEFAULT>]\r\n"
                     "GPO8=0\r\nfilename=bench\r\nedlpath=\r\ngpopath=\r\ncheckdisp=1\r\n"
                     "edlformat=corvane\r\nedlpercamera=0\r\nedlfps=25\r\ntimelinepath=\r\n";
    for (int c = 1; c <= 16; ++c)
        def += QStringLiteral("reelname%1=CAM%1\r\nedittype%1=V\r\n").arg(c).toLatin1();
    for (int k = 2; k <= 9; ++k)
        def += QStringLiteral("kf%1=F%1\r\n").arg(k).toLatin1();
    QFile defaults(folder.filePath(QStringLiteral("corvane.def")));
    if (!defaults.open(QIODevice::WriteOnly) || defaults.write(def) != def.size())
        return 1;
    defaults.close();

    RtMidiService rtmidi(QStringLiteral("bench-corvane"));
    TappedMidiService service(rtmidi);
    setMidiService(&service);
    Watchdog watchdog(service, o.events);
    DialogRefuser dialogs(watchdog);
    app.installEventFilter(&dialogs);

    const double periodMs = 256.0 * 1000.0 / 48000.0;
    std::printf("%d capture events, %d per JACK period (%.2f ms), %d run(s); delay: driver callback to row in list\n",
                o.events, o.perPeriod, periodMs, o.runs);
    bool ok = true;
    for (int run = 1; run <= o.runs; ++run) {
        // The journal run closes its window with the rows unsaved, as from the frame: the journal
        // stays for recovery, and the next run's window would ask whether to recover its rows.
        // So each run journals into a file of its own.
        const QString journalPath = folder.filePath(QStringLiteral("corvane-run%1.journal").arg(run));
        const Figures base = runBaseline(service, o, run, watchdog);
        Figures shown, shownJournal;
        const Figures window = runWindow(service, o, run, QString(), shown, watchdog);
        const Figures journal = runWindow(service, o, run, journalPath, shownJournal, watchdog);
        watchdog.stage(QStringLiteral("run %1: the figures").arg(run), StageLimit);
        print("baseline", base, o);
        print("window", window, o);
        printShown("window", shown);
        print("journal", journal, o);
        printShown("journal", shownJournal);
        std::printf("journal    %d writes, %d disk syncs for %d rows; it gives back %d rows\n", journal.journalWrites,
                    journal.journalSyncs, journal.rows, journal.journalRows);
        if (base.medianUs > 0 && base.p99Us > 0)
            std::printf("ratio      window / baseline: median %.1fx  p99 %.1fx\n", window.medianUs / base.medianUs,
                        window.p99Us / base.p99Us);
        auto whole = [&o](const Figures &f) {
            return f.rows == o.events && f.inOrder && f.lostByService == 0 && f.overflows == 0;
        };
        std::printf("verdict    %s; p99 %.2f ms %s the 2 ms target (callback onwards, so beyond the JACK period)\n",
                    whole(window) ? "all rows, in order, none lost" : "ROWS MISSING OR OUT OF ORDER", window.p99Us / 1000.0,
                    window.p99Us < 2000.0 ? "within" : "OVER");
        // Judged on the row in the list: the delay to the row shown is set by the window's
        // announcement interval (rows reach the view in groups), whose phase against the burst
        // moves it by milliseconds from run to run, with or without the journal.
        const double growthMs = (journal.p99Us - window.p99Us) / 1000.0;
        const bool journalWhole = whole(journal) && journal.journalRows == o.events;
        std::printf("journal    %s; p99 to row in list grows by %.2f ms (%s the 1 ms limit); to row shown by %.2f ms\n",
                    journalWhole ? "all rows, in order, none lost, all in the journal" : "ROWS MISSING, OUT OF ORDER OR NOT JOURNALED",
                    growthMs, growthMs <= 1.0 ? "within" : "OVER", (shownJournal.p99Us - shown.p99Us) / 1000.0);
        ok = ok && whole(window) && journalWhole && growthMs <= 1.0 && base.rows == o.events;
    }
    if (dialogs.count() > 0) {
        std::printf("DIALOGS    %d came up and were refused (see above): the runs are not valid\n", dialogs.count());
        ok = false;
    }
    watchdog.stage(QStringLiteral("ending"), StageLimit);
    app.removeEventFilter(&dialogs);
    setMidiService(nullptr);
    return ok ? 0 : 1;
}
