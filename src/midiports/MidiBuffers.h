#pragma once

#include "MidiService.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Memory that the driver's thread may touch: zero-filled blocks that stay at one address for
// their whole life, allocated once per open and never per event. SharedBlockAlloc returns the
// block and its handle, or null (and an empty handle) when the allocation fails.
struct SharedBlock;
using HSHAREDBLOCK = SharedBlock *;

void *SharedBlockAlloc(std::size_t size, HSHAREDBLOCK &handle);
void SharedBlockFree(HSHAREDBLOCK handle); // nothing for an empty handle
// Blocks allocated and not yet freed (a diagnostic for tests).
int SharedBlockCount();

// The platform's "notify event": a handler given the component that raised it.
using TNotifyEvent = std::function<void(QObject *Sender)>;

enum TPortState { psOpen = 0, psClosed = 1, psCreating = 2 };

// One received MIDI event, handed out by TMidiInput::NextEvent and owned by whoever took it.
// A new event is all zero until the input port fills it.
class TMyMidiEvent {
public:
    std::uint8_t Status = 0;    // 0xF0 for a System Exclusive event
    std::uint8_t DataByte1 = 0; // 0 for System Exclusive
    std::uint8_t DataByte2 = 0; // 0 for System Exclusive
    std::uint32_t Timestamp = 0; // milliseconds since reception was started
    std::uint16_t SysexLen = 0;  // bytes in SysexData; 0 for a short message
    // The event's own copy of the System Exclusive bytes as the driver recorded them, or null.
    std::unique_ptr<std::uint8_t[]> SysexData;
};

// One long-message buffer: a platform MIDIHDR and the data block it describes, both in shared
// blocks. Whoever hands the header to the driver stores the TMyMidiHdr in the header's dwUser,
// so that a header the driver hands back leads to the object that owns it.
class TMyMidiHdr {
public:
    // A size of 0 allocates nothing: no header and no data.
    explicit TMyMidiHdr(std::uint16_t size);
    ~TMyMidiHdr();

    TMyMidiHdr(const TMyMidiHdr &) = delete;
    TMyMidiHdr &operator=(const TMyMidiHdr &) = delete;

    MIDIHDR *header() const { return m_header; }
    std::uint8_t *data() const { return m_data; }

    // The owner of a header the driver handed back.
    static TMyMidiHdr *owner(const MIDIHDR *header)
    {
        return header ? reinterpret_cast<TMyMidiHdr *>(header->dwUser) : nullptr;
    }

    // Objects alive (a diagnostic for tests).
    static int instances();

    // Link of a completed output buffer while it waits for the user-interface thread.
    TMyMidiHdr *doneNext = nullptr;

private:
    HSHAREDBLOCK m_headerBlock = nullptr;
    MIDIHDR *m_header = nullptr;
    HSHAREDBLOCK m_dataBlock = nullptr;
    std::uint8_t *m_data = nullptr;
};
