#include "JackPeriodCheck.h"

bool JackPeriodCheck::run(std::uint32_t frameTime, std::uint32_t periodFrames, std::uint64_t digest) noexcept
{
    bool handOn = true;
    if (m_ran) {
        // Modulo 2^32, as the frame time wraps.
        const std::uint32_t step = frameTime - m_lastFrame;
        if (step == 0) {
            // Run again in the period of the last run: that one was late. The same events found
            // again were handed on then.
            m_late.fetch_add(1, std::memory_order_relaxed);
            handOn = digest != m_lastDigest;
        } else {
            if (periodFrames > 0 && step > periodFrames)
                m_late.fetch_add((step - 1) / periodFrames, std::memory_order_relaxed);
            // A later period that holds exactly the events of the run before: the port shows
            // the buffer of a sender that was not run in this period, still holding what it
            // wrote in the last one. The server was late for it.
            if (digest != Start && digest == m_lastDigest) {
                m_late.fetch_add(1, std::memory_order_relaxed);
                handOn = false;
            }
        }
    }
    m_ran = true;
    m_lastFrame = frameTime;
    m_lastDigest = digest;
    return handOn;
}

std::uint64_t JackPeriodCheck::digest(std::uint64_t digest, std::uint32_t offset, const std::uint8_t *bytes,
                                      std::size_t size) noexcept
{
    // FNV-1a over the event's place in the period, its length and its bytes.
    auto add = [&digest](std::uint8_t byte) {
        digest ^= byte;
        digest *= 1099511628211ull;
    };
    for (int shift = 0; shift < 32; shift += 8)
        add(static_cast<std::uint8_t>(offset >> shift));
    for (int shift = 0; shift < 32; shift += 8)
        add(static_cast<std::uint8_t>(size >> shift));
    for (std::size_t i = 0; i < size; ++i)
        add(bytes[i]);
    return digest;
}
