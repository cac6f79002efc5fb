#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Tells, for a JACK client's process thread, which periods it missed, which it is run in a second
// time, and which show it events it was shown before (JackMidiInput.h). Each run is told the
// server's frame time at the start of the period it runs in, the period's length and a digest of
// the events its input port holds. run() on the process thread only; lateCycles() from any
// thread.
//
// Events found again are not handed on: in a second run in the same period, and in a later period
// whose events are exactly those of the run before (the same bytes at the same places), which is
// what an input shows when the server runs it while the sender it is connected to was not run:
// the sender's buffer still holds the last period's events. Two periods in a row that really
// hold the same events would lose the second; the interface's messages never do that (each
// capture event carries its timecode, each quarter frame its piece), and the one-byte real-time
// messages, which can, are left out of the digest by the caller.
class JackPeriodCheck {
public:
    // Whether the events of this run are to be handed on. Counts a late cycle for each period
    // missed and for each run whose events are not handed on.
    bool run(std::uint32_t frameTime, std::uint32_t periodFrames, std::uint64_t digest) noexcept;
    std::uint64_t lateCycles() const { return m_late.load(std::memory_order_relaxed); }

    // The digest of the events of a run: start with Start, then add each event.
    static constexpr std::uint64_t Start = 14695981039346656037ull;
    static std::uint64_t digest(std::uint64_t digest, std::uint32_t offset, const std::uint8_t *bytes,
                                std::size_t size) noexcept;

private:
    bool m_ran = false;
    std::uint32_t m_lastFrame = 0;
    std::uint64_t m_lastDigest = Start;
    std::atomic<std::uint64_t> m_late{0};
};
