#include "MidiBuffers.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
std::atomic<int> liveBlocks{0};
std::atomic<int> liveHeaders{0};
} // namespace

void *SharedBlockAlloc(std::size_t size, HSHAREDBLOCK &handle)
{
    handle = nullptr;
    if (size == 0)
        return nullptr;
    void *block = std::calloc(1, size);
    if (!block)
        return nullptr;
    // The handle is the block itself: ordinary heap memory never moves.
    handle = static_cast<HSHAREDBLOCK>(block);
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void SharedBlockFree(HSHAREDBLOCK handle)
{
    if (!handle)
        return;
    std::free(handle);
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

int SharedBlockCount()
{
    return liveBlocks.load(std::memory_order_relaxed);
}

TMyMidiHdr::TMyMidiHdr(std::uint16_t size)
{
    liveHeaders.fetch_add(1, std::memory_order_relaxed);
    if (size == 0)
        return;
    void *header = SharedBlockAlloc(sizeof(MIDIHDR), m_headerBlock);
    void *data = SharedBlockAlloc(size, m_dataBlock);
    if (!header || !data) {
        SharedBlockFree(m_headerBlock);
        SharedBlockFree(m_dataBlock);
        liveHeaders.fetch_sub(1, std::memory_order_relaxed);
        throw std::bad_alloc();
    }
    m_header = new (header) MIDIHDR;
    m_data = static_cast<std::uint8_t *>(data);
    m_header->lpData = m_data;
    m_header->dwBufferLength = size;
}

TMyMidiHdr::~TMyMidiHdr()
{
    if (m_header)
        m_header->~MIDIHDR();
    SharedBlockFree(m_headerBlock);
    SharedBlockFree(m_dataBlock);
    liveHeaders.fetch_sub(1, std::memory_order_relaxed);
}

int TMyMidiHdr::instances()
{
    return liveHeaders.load(std::memory_order_relaxed);
}
