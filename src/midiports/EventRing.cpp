#include "EventRing.h"

#include <new>

TEventRing *EventRingCreate(std::uint16_t Capacity)
{
    if (Capacity == 0)
        return nullptr;
    HSHAREDBLOCK own = nullptr;
    void *control = SharedBlockAlloc(sizeof(TEventRing), own);
    if (!control)
        return nullptr;
    HSHAREDBLOCK slotBlock = nullptr;
    void *slotMemory = SharedBlockAlloc(std::size_t(Capacity) * sizeof(TRawMidiEvent), slotBlock);
    if (!slotMemory) {
        SharedBlockFree(own);
        return nullptr;
    }
    auto *ring = new (control) TEventRing;
    ring->OwnBlock = own;
    ring->SlotBlock = slotBlock;
    ring->FirstSlot = new (slotMemory) TRawMidiEvent[Capacity];
    ring->Limit = ring->FirstSlot + Capacity;
    ring->WritePos = ring->FirstSlot;
    ring->ReadPos = ring->FirstSlot;
    ring->Capacity = Capacity;
    return ring;
}

void EventRingFree(TEventRing *Ring)
{
    if (!Ring)
        return;
    HSHAREDBLOCK own = Ring->OwnBlock;
    SharedBlockFree(Ring->SlotBlock); // the slots are trivially destructible
    Ring->~TEventRing();
    SharedBlockFree(own);
}

bool EventRingPut(TEventRing *Ring, const TRawMidiEvent &Event)
{
    // Acquire: the consumer's last drop (and its reading of that slot) happened before.
    if (Ring->Count.load(std::memory_order_acquire) >= Ring->Capacity)
        return false;
    *Ring->WritePos = Event;
    if (++Ring->WritePos == Ring->Limit)
        Ring->WritePos = Ring->FirstSlot;
    Ring->Count.fetch_add(1, std::memory_order_release);
    return true;
}

bool EventRingPeek(TEventRing *Ring, TRawMidiEvent &Event)
{
    if (Ring->Count.load(std::memory_order_acquire) == 0)
        return false;
    Event = *Ring->ReadPos;
    return true;
}

bool EventRingDrop(TEventRing *Ring)
{
    if (Ring->Count.load(std::memory_order_acquire) == 0)
        return false;
    if (++Ring->ReadPos == Ring->Limit)
        Ring->ReadPos = Ring->FirstSlot;
    Ring->Count.fetch_sub(1, std::memory_order_release);
    return true;
}
