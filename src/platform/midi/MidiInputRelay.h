#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

// Carries input messages from a thread that must never wait to a thread of its own, which hands
// them on. The MIDI server's process thread has a deadline each period: if a client is late, the
// server goes on without it and what the client had not taken is lost. So its callback only copies
// the message into a fixed ring and wakes the relay's thread; the locking, the buffer filling and
// the notifications happen there.
//
// push() is called by one thread at a time; deliver runs on the relay's thread. Nothing is
// allocated and no lock is taken by push().
class MidiInputRelay {
public:
    using Deliver = std::function<void(const std::uint8_t *bytes, std::size_t size, double deltaSeconds)>;

    // capacity: bytes of messages (with a few bytes of bookkeeping each) that can wait at once.
    explicit MidiInputRelay(Deliver deliver, std::size_t capacity = std::size_t(1) << 20);
    // Stops the thread; messages still waiting are dropped.
    ~MidiInputRelay();

    MidiInputRelay(const MidiInputRelay &) = delete;
    MidiInputRelay &operator=(const MidiInputRelay &) = delete;

    // Copies one message for the relay's thread; false, and counted as lost, when it does not fit.
    bool push(const std::uint8_t *bytes, std::size_t size, double deltaSeconds) noexcept;
    // Messages that did not fit.
    std::uint64_t lost() const { return m_lost.load(std::memory_order_relaxed); }

private:
    struct Record {
        std::uint32_t size;
        double deltaSeconds;
    };

    void run();
    void copyIn(std::size_t at, const void *data, std::size_t size) noexcept;
    void copyOut(std::size_t at, void *data, std::size_t size) const;

    Deliver m_deliver;
    std::vector<std::uint8_t> m_ring; // a power of two in size
    std::size_t m_mask;
    // Bytes ever written and ever read: the ring holds written - read bytes.
    std::atomic<std::size_t> m_written{0};
    std::atomic<std::size_t> m_read{0};
    std::atomic<std::uint32_t> m_wake{0};
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_lost{0};
    std::thread m_thread;
};
