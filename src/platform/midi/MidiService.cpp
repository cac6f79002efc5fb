#include "MidiService.h"

#include "RtMidiService.h"

#include <atomic>

namespace {

std::atomic<MidiService *> installed{nullptr};

MidiService &defaultService()
{
    static RtMidiService service;
    return service;
}

} // namespace

MidiService &midiService()
{
    MidiService *service = installed.load();
    return service ? *service : defaultService();
}

MidiService *setMidiService(MidiService *service)
{
    MidiService *previous = installed.exchange(service);
    return previous ? previous : &defaultService();
}
