#pragma once

#include "MidiBuffers.h"

#include <atomic>
#include <cstdint>

// The hand-over of received events from the driver's thread to the user-interface thread: a
// fixed-capacity single-producer, single-consumer ring of raw events.

// One ring slot.
struct TRawMidiEvent {
    std::uint32_t Timestamp = 0;     // milliseconds since reception was started
    std::uint32_t Data = 0;          // status in bits 0-7, data bytes in 8-15 and 16-23; 0 for sysex
    MIDIHDR *SysexHeader = nullptr;  // the filled System Exclusive buffer; null for a short message
};

// The ring's control record. The driver side (EventRingPut) owns WritePos, the user-interface
// side (EventRingPeek, EventRingDrop) owns ReadPos; Count is the one field both change. The
// producer writes a slot before it raises Count (release), the consumer reads Count (acquire)
// before it reads the slot, and lowers Count only after it is done with the slot, so a slot is
// never overwritten while it is read. No slot is sacrificed to tell full from empty.
struct TEventRing {
    HSHAREDBLOCK OwnBlock = nullptr;
    HSHAREDBLOCK SlotBlock = nullptr;
    TRawMidiEvent *FirstSlot = nullptr;
    TRawMidiEvent *Limit = nullptr; // one past the last slot
    TRawMidiEvent *WritePos = nullptr;
    TRawMidiEvent *ReadPos = nullptr;
    std::uint16_t Capacity = 0;
    std::atomic<std::uint16_t> Count{0};
};

// A new empty ring of Capacity slots, or null when the memory cannot be had. Every capacity from
// 1 to 65535 is accepted: the slot block is sized without the 16-bit limit of the platform's
// block sizes, which would cap it at 5461 slots. A capacity of 0 gives null: a ring that can
// hold nothing would drop every event, so the port refuses to open with it instead.
TEventRing *EventRingCreate(std::uint16_t Capacity);
// Frees the slot block, then the control block; nothing for null.
void EventRingFree(TEventRing *Ring);
// Driver thread: false, changing nothing, when the ring is full.
bool EventRingPut(TEventRing *Ring, const TRawMidiEvent &Event);
// User-interface thread: the oldest waiting event, left in the ring; false (Event untouched)
// when empty.
bool EventRingPeek(TEventRing *Ring, TRawMidiEvent &Event);
// User-interface thread: forgets the oldest waiting event; false when empty.
bool EventRingDrop(TEventRing *Ring);
