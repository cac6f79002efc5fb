#pragma once

#include "JackPeriodCheck.h"
#include "MidiServiceBase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// An input device on a JACK server, through a client of its own (named clientName, with one port
// "in" connected to the device's port portName). RtMidi's JACK input is not used: it hands on
// whatever the port holds each time the client is run, so it cannot tell a period it missed
// from one it is given twice.
//
// The server gives a client's input port only the events of the period being run. A period in
// which the client is not run (the process stopped, or starved of the processor) is gone, and a
// client that runs late may be run a second time in the same period and find the same events
// again. The client's process thread reads the server's frame time each time it is run: a step
// of more than one period counts the periods missed, and a second run in the same period counts
// as late too, and hands on nothing when it holds exactly what the first run handed on (the same
// events read twice). Those counts, with the server's xruns (serverLate), are the device's late
// cycles (MidiInputEndpoint::lateCycles).
//
// The process thread only copies the messages into a relay (MidiInputRelay), whose thread hands
// them to the sink (RtMidiService::deliverGathered). present and serverEnded are as for the
// RtMidi devices (JackServerWatch).
struct JackMidiInputOptions {
    std::string clientName;
    std::string portName;
    std::function<bool()> present;
    std::function<bool()> serverEnded;
    // The server's xruns so far (JackServerWatch::xruns); empty when they cannot be had.
    std::function<std::uint64_t()> serverLate;
};

// The open device, or null with result and text set (text empty for a device that is not there).
std::unique_ptr<MidiInputEndpoint> openJackMidiInput(JackMidiInputOptions options, MidiInputSink &sink,
                                                     MMRESULT &result, std::string &text);
