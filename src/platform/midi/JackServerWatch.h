#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

typedef struct _jack_client jack_client_t;

// Watches the JACK server for RtMidiService, which cannot tell on its own: RtMidi's clients go on
// as if nothing happened when the server ends under them, and a restarted server knows nothing of
// them. A client of its own, without ports, is told by JACK when the server ends; each server it
// meets gets a new generation number, which the devices opened on that server keep. A device is
// there while its server's generation is still the current one and the server still has its port.
//
// It also counts the xruns the server reports: periods that some client, or the server itself,
// did not finish in time, in which MIDI may have been dropped before any client could see it.
// JACK tells them only to active clients, so the watch's client is activated (it has no ports and
// does nothing in the periods).
class JackServerWatch {
public:
    explicit JackServerWatch(std::string clientName);
    ~JackServerWatch();

    JackServerWatch(const JackServerWatch &) = delete;
    JackServerWatch &operator=(const JackServerWatch &) = delete;

    // The generation of the server running now, reaching it first if need be; 0 when no server
    // answers. Called as a device is opened.
    std::uint64_t attach();
    // Whether the server of that generation still runs and has a port of this full name
    // ("client:port").
    bool portPresent(std::uint64_t generation, const std::string &portName);
    // Whether the server of that generation has ended. Its clients in this process, RtMidi's
    // included, must then not be closed: once the server is gone, the next client that this
    // process opens makes libjack free every client of the old server, and closing one after
    // that touches freed memory. They are left to libjack.
    bool serverEnded(std::uint64_t generation);
    // The xruns of every server the watch reached. Only grows; any thread. A device takes the
    // difference from its open, so that what happened while no device was open does not count.
    std::uint64_t xruns() const { return m_xruns.load(std::memory_order_relaxed); }

private:
    static void onShutdown(int status, const char *reason, void *self);
    // JACK's thread: nothing but counting.
    static int onXrun(void *self);
    // Lets go of the client of a server that ended (without closing it, see serverEnded); under
    // m_lock.
    void dropEnded();

    std::string m_clientName;
    std::mutex m_lock;
    jack_client_t *m_client = nullptr;
    std::uint64_t m_generation = 0;
    std::atomic<bool> m_ended{false};
    std::atomic<std::uint64_t> m_xruns{0};
};
