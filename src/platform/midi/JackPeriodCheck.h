#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// Tells, for a JACK client's process thread, which periods it missed and which it is run in a
// second time (JackMidiInput.h). Each run is told the server's frame time at the start of the
// period it runs in, the period's length and a digest of the events its input port holds. run()
// on the process thread only; lateCycles() from any thread.
class JackPeriodCheck {
public:
    // Whether the events of this run are to be handed on.
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
