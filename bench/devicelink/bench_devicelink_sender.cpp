// The sending side of bench_devicelink: a JACK client with one MIDI output port that sends a
// paced burst of capture events, a fixed number per JACK period, written straight into the
// port's buffer by the process callback. A message that does not fit the period's buffer waits
// for the next period, so the sender itself never loses one (RtMidi's JACK output drops what
// does not fit).
//
//   bench_devicelink_sender NAME EVENTS PER_PERIOD
//
// Prints "ready NAME:out" once its port exists, starts sending when a line arrives on standard
// input and its port is connected, prints "sent EVENTS" when done and ends at end of input.
// Every wait is bounded: when it gives up (no line to start, no connection, no JACK period for a
// while, no end of input) or is stopped (TERM or INT), it says what it was waiting for and how
// many events it had sent, on standard error, and ends with status 1.

#include "DeviceCodec.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sender {
    jack_port_t *port = nullptr;
    std::vector<std::vector<std::uint8_t>> messages;
    int perPeriod = 500;
    std::atomic<bool> started{false};
    std::atomic<std::size_t> next{0};
};

int bcd(int value)
{
    return (value / 10) << 4 | (value % 10);
}

// Event k: one camera of 16 after another, at frame k from 10:00:00:00 at 25 frames a second.
std::vector<std::uint8_t> captureEvent(int k)
{
    const int mask = 1 << (k % 16);
    const int frames = k % 25;
    const int seconds = k / 25 % 60;
    const int minutes = k / 1500 % 60;
    return EncodeDeviceMessage(OrvexMessage::CaptureEvent,
                               {std::uint8_t(mask & 0xFF), std::uint8_t(mask >> 8), std::uint8_t(bcd(10)),
                                std::uint8_t(bcd(minutes)), std::uint8_t(bcd(seconds)), std::uint8_t(bcd(frames))});
}

int process(jack_nframes_t frames, void *arg)
{
    auto *sender = static_cast<Sender *>(arg);
    void *buffer = jack_port_get_buffer(sender->port, frames);
    jack_midi_clear_buffer(buffer);
    if (!sender->started.load(std::memory_order_acquire))
        return 0;
    std::size_t next = sender->next.load(std::memory_order_relaxed);
    for (int i = 0; i < sender->perPeriod && next < sender->messages.size(); ++i) {
        const std::vector<std::uint8_t> &message = sender->messages[next];
        const jack_nframes_t at = jack_nframes_t(std::uint64_t(i) * frames / std::uint64_t(sender->perPeriod));
        if (jack_midi_event_write(buffer, at, message.data(), message.size()) != 0)
            break; // full: the rest waits for the next period
        ++next;
    }
    sender->next.store(next, std::memory_order_release);
    return 0;
}

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

using Clock = std::chrono::steady_clock;

// Reads a line from standard input within seconds. False at end of input; on time out or a stop,
// says so (what it waited for, with how many events were sent) and ends the process.
bool readLine(const Sender &sender, int seconds, const char *waitingFor)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    std::string line;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (stopRequested || left <= 0) {
            std::fprintf(stderr, "bench_devicelink_sender: %s while waiting for %s; sent %zu of %zu events\n",
                         stopRequested ? "stopped" : "gave up", waitingFor, sender.next.load(), sender.messages.size());
            std::_Exit(1);
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, int(std::min<long long>(left, 100))) <= 0)
            continue;
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NAME EVENTS PER_PERIOD\n", argv[0]);
        return 2;
    }
    Sender sender;
    const int events = std::atoi(argv[2]);
    sender.perPeriod = std::max(1, std::atoi(argv[3]));
    for (int k = 0; k < events; ++k)
        sender.messages.push_back(captureEvent(k));

    jack_status_t status{};
    jack_client_t *client = jack_client_open(argv[1], JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "bench_devicelink_sender: no JACK server (status %#x)\n", unsigned(status));
        return 1;
    }
    sender.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!sender.port || jack_set_process_callback(client, process, &sender) != 0 || jack_activate(client) != 0) {
        std::fprintf(stderr, "bench_devicelink_sender: cannot set up the JACK port\n");
        jack_client_close(client);
        return 1;
    }
    std::printf("ready %s:out\n", jack_get_client_name(client));
    std::fflush(stdout);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);

    // The receiver opens its windows and its port before it says "go".
    const bool go = readLine(sender, 120, "the line to start sending");
    int result = 0;
    if (go) {
        // The receiver has connected its port; the connection takes effect with a later period
        // of the server, and what is sent before would go nowhere.
        for (int waited = 0; jack_port_connected(sender.port) == 0; ++waited) {
            if (waited >= 5000 || stopRequested) {
                std::fprintf(stderr, "bench_devicelink_sender: %s while waiting for the receiver to connect to %s; sent 0 of %zu events\n",
                             stopRequested ? "stopped" : "gave up after 5 s", jack_port_name(sender.port), sender.messages.size());
                std::_Exit(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sender.started.store(true, std::memory_order_release);
        // The server calls the process callback once a period; one that has not called it for
        // seconds has stopped running this client.
        std::size_t sent = 0;
        std::size_t before = 0;
        Clock::time_point progressed = Clock::now();
        while ((sent = sender.next.load(std::memory_order_acquire)) < sender.messages.size()) {
            if (sent != before) {
                before = sent;
                progressed = Clock::now();
            }
            if (stopRequested || Clock::now() - progressed > std::chrono::seconds(5)) {
                std::fprintf(stderr, "bench_devicelink_sender: %s while sending; sent %zu of %zu events\n",
                             stopRequested ? "stopped" : "gave up after 5 s without a JACK period", sent,
                             sender.messages.size());
                std::_Exit(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::printf("sent %zu\n", sender.messages.size());
        std::fflush(stdout);
        while (readLine(sender, 120, "the end of input (the receiver to finish)")) {
        }
    } else {
        std::fprintf(stderr, "bench_devicelink_sender: input ended before the line to start sending\n");
        result = 1;
    }
    jack_deactivate(client);
    jack_client_close(client);
    return result;
}
