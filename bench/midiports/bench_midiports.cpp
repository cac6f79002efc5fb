// Benchmarks of the MIDI ports, each against a baseline measured in the same run:
//
// - Ring throughput: events per second from one producer thread to one consumer through the
//   event ring, against a std::mutex + std::deque queue of the same capacity used the same way
//   (look at the oldest event, then drop it; the producer waits while the queue is full).
// - Delay from the driver callback to OnMidiInput on the user-interface thread (median and 99th
//   percentile) on the loopback service, against a bare queued invocation from a thread to the
//   user-interface thread.
//
// Each benchmark measures a path and its baseline by turns, so that a machine busy with other
// work weighs on both alike.
//
// After the usual table, a summary prints the figures and their ratios.

#include "EventRing.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int RingCapacity = 1024; // TMidiInput's default Capacity
constexpr std::uint32_t EventsPerIteration = 1 << 18;

using Clock = std::chrono::steady_clock;

TRawMidiEvent event(std::uint32_t n)
{
    TRawMidiEvent e;
    e.Timestamp = n;
    e.Data = 0x7F4090;
    return e;
}

// ---- throughput ----

// The baseline: the obvious locked queue, used the same way as the ring.
class LockedQueue {
public:
    bool put(const TRawMidiEvent &e)
    {
        std::lock_guard guard(m_lock);
        if (m_events.size() >= RingCapacity)
            return false;
        m_events.push_back(e);
        return true;
    }
    bool peek(TRawMidiEvent &e)
    {
        std::lock_guard guard(m_lock);
        if (m_events.empty())
            return false;
        e = m_events.front();
        return true;
    }
    void drop()
    {
        std::lock_guard guard(m_lock);
        m_events.pop_front();
    }

private:
    std::mutex m_lock;
    std::deque<TRawMidiEvent> m_events;
};

struct RingQueue {
    TEventRing *ring = EventRingCreate(RingCapacity);
    ~RingQueue() { EventRingFree(ring); }
    bool put(const TRawMidiEvent &e) { return EventRingPut(ring, e); }
    bool peek(TRawMidiEvent &e) { return EventRingPeek(ring, e); }
    void drop() { EventRingDrop(ring); }
};

// Moves one batch from a producer thread to this thread; returns the seconds it took.
template <typename Queue>
double transfer(Queue &queue, std::uint64_t &checksum)
{
    const auto start = Clock::now();
    std::thread producer([&queue] {
        for (std::uint32_t n = 0; n < EventsPerIteration; ++n) {
            while (!queue.put(event(n)))
                std::this_thread::yield();
        }
    });
    for (std::uint32_t received = 0; received < EventsPerIteration;) {
        TRawMidiEvent e;
        if (queue.peek(e)) {
            checksum += e.Timestamp;
            queue.drop();
            ++received;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Ring and locked queue take turns, batch by batch, so that a machine busy with other work
// slows both alike.
void BM_RingThroughput(benchmark::State &state)
{
    RingQueue ring;
    LockedQueue locked;
    std::uint64_t checksum = 0;
    double ringSeconds = 0;
    double lockedSeconds = 0;
    for (auto _ : state) {
        ringSeconds += transfer(ring, checksum);
        lockedSeconds += transfer(locked, checksum);
    }
    benchmark::DoNotOptimize(checksum);
    const double events = double(state.iterations()) * EventsPerIteration;
    state.counters["ring_ev_s"] = events / ringSeconds;
    state.counters["mutex_deque_ev_s"] = events / lockedSeconds;
}
BENCHMARK(BM_RingThroughput)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// ---- delay to the user-interface thread ----

constexpr int Samples = 20000;
constexpr std::int64_t IdleNs = 50'000;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// One message at a time, the two paths taking turns: a device thread notes the moment it hands
// a message over, the user-interface thread notes the delay when the message reaches it, and
// the device sends the next one 50 us after that.
void BM_DelayToUserInterface(benchmark::State &state)
{
    LoopbackMidiService service;
    service.addInput(QStringLiteral("Bench In"));
    TMidiInput in(service);
    QObject receiver;
    std::atomic<std::int64_t> sentAt{0};
    std::atomic<int> received{0};
    std::vector<double> portUs, bareUs;
    auto arrived = [&](std::vector<double> &delays) {
        delays.push_back(double(nowNs() - sentAt.load()) / 1000.0);
        received.fetch_add(1, std::memory_order_release);
    };
    in.setOnMidiInput([&](QObject *) {
        while (in.PendingCount() > 0) {
            in.NextEvent();
            arrived(portUs);
        }
    });
    in.Open();
    in.Start();
    const QByteArray note("\x90\x40\x7F", 3);

    for (auto _ : state) {
        portUs.clear();
        bareUs.clear();
        received = 0;
        std::atomic<bool> done{false};
        std::thread device([&] {
            for (int i = 0; i < 2 * Samples; ++i) {
                while (received.load(std::memory_order_acquire) < i)
                    std::this_thread::yield();
                // Lets the user-interface thread go back to waiting, so that both paths find it
                // in the same state.
                for (const std::int64_t until = nowNs() + IdleNs; nowNs() < until;)
                    std::this_thread::yield();
                sentAt = nowNs();
                if (i % 2 == 0)
                    service.send(0, note); // the driver callback runs here
                else
                    QMetaObject::invokeMethod(&receiver, [&] { arrived(bareUs); }, Qt::QueuedConnection);
            }
            while (received.load(std::memory_order_acquire) < 2 * Samples)
                std::this_thread::yield();
            done = true;
            QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::User));
        });
        while (!done.load())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        device.join();
    }
    in.Close();
    for (auto *delays : {&portUs, &bareUs})
        std::sort(delays->begin(), delays->end());
    state.counters["port_median_us"] = portUs[portUs.size() / 2];
    state.counters["port_p99_us"] = portUs[portUs.size() * 99 / 100];
    state.counters["bare_median_us"] = bareUs[bareUs.size() / 2];
    state.counters["bare_p99_us"] = bareUs[bareUs.size() * 99 / 100];
}
BENCHMARK(BM_DelayToUserInterface)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- summary ----

// The console table, plus the figures kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            std::string name = run.benchmark_name();
            name = name.substr(0, name.find('/'));
            for (const auto &[counter, value] : run.counters)
                m_figures[name][counter] = value.value;
        }
    }

    void summary() const
    {
        std::printf("\nMIDI ports (each ratio from one run)\n");
        const double ring = figure("BM_RingThroughput", "ring_ev_s");
        const double deque = figure("BM_RingThroughput", "mutex_deque_ev_s");
        if (ring > 0 && deque > 0)
            std::printf("  ring throughput: %.2f M events/s; std::mutex + std::deque: %.2f M events/s; ratio %.2f\n",
                        ring / 1e6, deque / 1e6, ring / deque);
        for (const char *which : {"median", "p99"}) {
            const double port = figure("BM_DelayToUserInterface", std::string("port_") + which + "_us");
            const double bare = figure("BM_DelayToUserInterface", std::string("bare_") + which + "_us");
            if (port > 0 && bare > 0)
                std::printf("  driver callback to OnMidiInput, %s: %.1f us; bare queued invocation: %.1f us; ratio %.2f\n",
                            which, port, bare, port / bare);
        }
    }

private:
    double figure(const std::string &name, const std::string &counter) const
    {
        auto b = m_figures.find(name);
        if (b == m_figures.end())
            return 0;
        auto c = b->second.find(counter);
        return c == b->second.end() ? 0 : c->second;
    }

    std::map<std::string, std::map<std::string, double>> m_figures;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.summary();
    return 0;
}
