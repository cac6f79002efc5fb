#pragma once

#include "DeviceCodec.h"
#include "Timecode.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>

class TMidiInput;
class TMidiOutput;
class TMyMidiEvent;

// The device window's controls as the device link writes to them. The window implements it
// over its memos and labels; corvane-cli prints the same lines.
class DeviceMonitor {
public:
    virtual ~DeviceMonitor() = default;
    virtual void appendVmin(const QString &line) = 0;   // input monitor
    virtual void appendM8data(const QString &line) = 0; // parameter monitor
    virtual void appendVmout(const QString &line) = 0;  // output monitor
    virtual void setRevision(const QString &revtext, const QString &revtext2) = 0;
    virtual void setTcpoz(const QString &timecode) = 0; // the device window's timecode label
    virtual void setMtccount(const QString &caption) = 0;
    virtual void setMmccount(const QString &caption) = 0;
    // Parameter messages sent are listed in the parameter monitor only while the window is shown.
    virtual bool isShown() const = 0;
    // A drain of the input is over (see DeviceLink::MidiInput1MidiInput): lines a monitor held
    // back while DeviceLink::draining() was true can be shown now.
    virtual void drainEnded() {}
};

// Where capture events and the running timecode leave the device link: the capture window
// (connected by the program entry) or a headless capture.
class CaptureSink {
public:
    virtual ~CaptureSink() = default;
    virtual void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) = 0;
    // The capture window's timecode label; called after the device window's.
    virtual void ShowTimecode(const QString &timecode) = 0;
    // The state of the MIDI devices, for the capture window to show from across the room:
    // missing while a device that was open has gone and not come back, lost the events the
    // input lost since the program started, late the MIDI server's late cycles while the input
    // was open (TMidiInput::LateCount). Called on each change.
    virtual void ShowDeviceHealth(bool missing, std::uint64_t lost, std::uint64_t late)
    {
        (void)missing;
        (void)lost;
        (void)late;
    }
};

// Delivers the messages the device link sends.
class SysexOutput {
public:
    virtual ~SysexOutput() = default;
    virtual void SendSysex(const std::uint8_t *Bytes, std::uint16_t Length) = 0;
};

// Sends through an output port under the send lock, when the output is meant to be open (the
// window's "Open" box). A failing send raises the port's error; the lock is released on every
// path.
class PortSysexOutput final : public SysexOutput {
public:
    PortSysexOutput(TMidiOutput &port, std::function<bool()> isOpen);
    void SendSysex(const std::uint8_t *Bytes, std::uint16_t Length) override;

private:
    TMidiOutput &m_port;
    std::function<bool()> m_isOpen;
    std::mutex m_sendLock;
};

// The device link below the MIDI device window: drains the input port, writes the monitor
// lines, decodes the interface's messages and the timecode, hands capture events to the
// capture sink, and builds and sends the messages for the interface. No widgets: the window is
// a shell over it, and corvane-cli uses it headless. Main thread only.
class DeviceLink {
public:
    explicit DeviceLink(DeviceMonitor &monitor);

    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Not owned; either may be null (capture events are then decoded and shown but go nowhere,
    // messages are listed in the output monitor but not sent).
    void setCaptureSink(CaptureSink *sink) { m_capture = sink; }
    void setOutput(SysexOutput *output) { m_output = output; }

    // The input port's OnMidiInput, and the one owner of the drain: takes every waiting event
    // and handles it. An exception raised while handling one event (by the capture sink, say)
    // does not strand the events behind it: the drain goes on, and the first exception is raised
    // again once the port is empty.
    //
    // Monitor lines: while draining() is true a monitor may hold its lines back (the device
    // window does, so that a burst of events costs each memo one layout instead of one per
    // line); drainEnded() tells it when the drain is over, also when it ends by an exception.
    //
    // A call made while a drain is running returns at once: it comes from a nested event loop
    // (a dialog opened by the capture sink, say) that delivered the port's next notification,
    // and taking events there would handle them ahead of the event still being handled. The
    // running drain takes the new events when it goes on, and only it ends the drain.
    void MidiInput1MidiInput(TMidiInput &port);
    bool draining() const { return m_draining; }
    // One event: its input monitor line, and its decoding. System Exclusive data is decoded in
    // place.
    void HandleEvent(TMyMidiEvent &Event);

    // Routes a System Exclusive message by its second byte: 7E to DecodeDeviceMessage, 7F to
    // the timecode receiver.
    void DecodeSysex(std::uint8_t *Bytes, int Length);
    // Unpacks an F0 7E message in place, lists it in the parameter monitor and acts on it:
    // capture events (24, 2F) become capture rows, a revision reply (21) rewrites the revision
    // lines. A message shorter than its layout is dropped without a line.
    void DecodeDeviceMessage(std::uint8_t *Bytes, int Length);

    // Lists the message in the output monitor, then hands it to the output.
    void SendSysex(const std::uint8_t *Bytes, int Length);
    // F0 7E 00 Type 00 F7 (Type 11 asks for the revision).
    void SendRevisionQuery(std::uint8_t Type = OrvexMessage::RevisionQuery);
    // One parameter message: count 0 for type 07, else the index and value.
    void WriteParameter(std::uint8_t Type, std::uint8_t Index, std::uint8_t Value);
    // Builds the outgoing message from the first Count bytes of the parameter payload area and
    // sends it; lists it in the parameter monitor while the window is shown.
    void SendParameterMessage(std::uint8_t Type, int Count);
    // The "LTC" button: parameter messages 05 (01, 03), 0C (02, 02) and 07.
    void SendLtcMessages();

    TimecodeReceiver &timecode() { return m_timecode; }
    const TimecodeReceiver &timecode() const { return m_timecode; }

private:
    void showTimecode(const QString &text);

    DeviceMonitor &m_monitor;
    CaptureSink *m_capture = nullptr;
    SysexOutput *m_output = nullptr;
    TimecodeReceiver m_timecode;
    MonitorState m_event; // of the event being handled
    bool m_draining = false;

    OrvexBuffer m_outBuffer{};
    std::array<std::uint8_t, OrvexMessage::MaxPayload> m_parameterPayload{};
};
