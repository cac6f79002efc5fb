#include "MidiInputRelay.h"

#include <algorithm>
#include <cstring>

namespace {

std::size_t powerOfTwoAtLeast(std::size_t n)
{
    std::size_t size = 64;
    while (size < n)
        size <<= 1;
    return size;
}

} // namespace

MidiInputRelay::MidiInputRelay(Deliver deliver, std::size_t capacity)
    : m_deliver(std::move(deliver)), m_ring(powerOfTwoAtLeast(capacity)), m_mask(m_ring.size() - 1)
{
    m_thread = std::thread([this] { run(); });
}

MidiInputRelay::~MidiInputRelay()
{
    m_stop.store(true, std::memory_order_release);
    m_wake.fetch_add(1, std::memory_order_release);
    m_wake.notify_one();
    m_thread.join();
}

void MidiInputRelay::copyIn(std::size_t at, const void *data, std::size_t size) noexcept
{
    const std::size_t offset = at & m_mask;
    const std::size_t first = std::min(size, m_ring.size() - offset);
    std::memcpy(m_ring.data() + offset, data, first);
    std::memcpy(m_ring.data(), static_cast<const std::uint8_t *>(data) + first, size - first);
}

void MidiInputRelay::copyOut(std::size_t at, void *data, std::size_t size) const
{
    const std::size_t offset = at & m_mask;
    const std::size_t first = std::min(size, m_ring.size() - offset);
    std::memcpy(data, m_ring.data() + offset, first);
    std::memcpy(static_cast<std::uint8_t *>(data) + first, m_ring.data(), size - first);
}

bool MidiInputRelay::push(const std::uint8_t *bytes, std::size_t size, double deltaSeconds) noexcept
{
    const std::size_t written = m_written.load(std::memory_order_relaxed);
    const std::size_t read = m_read.load(std::memory_order_acquire);
    const std::size_t needed = sizeof(Record) + size;
    if (needed > m_ring.size() - (written - read)) {
        m_lost.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const Record record{static_cast<std::uint32_t>(size), deltaSeconds};
    copyIn(written, &record, sizeof record);
    copyIn(written + sizeof record, bytes, size);
    m_written.store(written + needed, std::memory_order_release);
    m_wake.fetch_add(1, std::memory_order_release);
    m_wake.notify_one();
    return true;
}

void MidiInputRelay::run()
{
    std::vector<std::uint8_t> message;
    message.reserve(4096);
    for (;;) {
        const std::uint32_t seen = m_wake.load(std::memory_order_acquire);
        if (m_stop.load(std::memory_order_acquire))
            return;
        std::size_t read = m_read.load(std::memory_order_relaxed);
        const std::size_t written = m_written.load(std::memory_order_acquire);
        while (read != written && !m_stop.load(std::memory_order_acquire)) {
            Record record;
            copyOut(read, &record, sizeof record);
            message.resize(record.size);
            copyOut(read + sizeof record, message.data(), record.size);
            read += sizeof record + record.size;
            // The room is given back before the message is handed on: the producer never waits
            // for the delivery.
            m_read.store(read, std::memory_order_release);
            m_deliver(message.data(), message.size(), record.deltaSeconds);
        }
        if (read == written)
            m_wake.wait(seen, std::memory_order_acquire);
    }
}
