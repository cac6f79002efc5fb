#include "DeviceLink.h"

#include "MidiIn.h"
#include "MidiOut.h"
#include "MidiBuffers.h"
#include "MonitorText.h"

#include <exception>
#include <stdexcept>

using namespace OrvexMessage;

PortSysexOutput::PortSysexOutput(TMidiOutput &port, std::function<bool()> isOpen)
    : m_port(port), m_isOpen(std::move(isOpen))
{
}

void PortSysexOutput::SendSysex(const std::uint8_t *Bytes, std::uint16_t Length)
{
    const std::lock_guard<std::mutex> lock(m_sendLock);
    if (m_isOpen && m_isOpen())
        m_port.SendLong(Bytes, Length);
}

DeviceLink::DeviceLink(DeviceMonitor &monitor) : m_monitor(monitor)
{
    m_timecode.onShowTimecode = [this](const QString &text) { showTimecode(text); };
    m_timecode.onMtcCount = [this](const QString &caption) { m_monitor.setMtccount(caption); };
    m_timecode.onMmcCount = [this](const QString &caption) { m_monitor.setMmccount(caption); };
}

void DeviceLink::showTimecode(const QString &text)
{
    m_monitor.setTcpoz(text);
    if (m_capture)
        m_capture->ShowTimecode(text);
}

void DeviceLink::MidiInput1MidiInput(TMidiInput &port)
{
    if (m_draining)
        return;
    struct Drain {
        DeviceLink &link;
        explicit Drain(DeviceLink &l) : link(l) { link.m_draining = true; }
        ~Drain()
        {
            link.m_draining = false;
            link.m_monitor.drainEnded();
        }
    } drain(*this);

    std::exception_ptr firstError;
    while (port.PendingCount() > 0) {
        std::unique_ptr<TMyMidiEvent> event = port.NextEvent();
        if (!event)
            break; // the port was closed meanwhile
        try {
            HandleEvent(*event);
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

void DeviceLink::HandleEvent(TMyMidiEvent &Event)
{
    m_event = MonitorState{};
    // The line shows the bytes as received, before the payload is unpacked in place.
    const QString text = MidiEventText(Event).left(MonitorTextLimit);
    std::exception_ptr error;
    try {
        if (Event.Status == SysexStart) {
            if (Event.SysexLen > 0 && Event.SysexData)
                DecodeSysex(Event.SysexData.get(), Event.SysexLen);
        } else {
            m_timecode.DecodeShortMessage(Event, m_event);
        }
    } catch (...) {
        error = std::current_exception();
    }
    // A received event keeps its line even when acting on it failed.
    if (!m_event.SuppressMonitorLine)
        m_monitor.appendVmin(text + m_event.MonitorName.left(MonitorTextLimit));
    if (error)
        std::rethrow_exception(error);
}

void DeviceLink::DecodeSysex(std::uint8_t *Bytes, int Length)
{
    if (!Bytes || Length < 2 || Bytes[0] != SysexStart)
        return;
    if (Bytes[1] == NonRealtime)
        DecodeDeviceMessage(Bytes, Length);
    else if (Bytes[1] == Realtime)
        m_timecode.DecodeRealtimeMessage(Bytes, Length, m_event);
}

void DeviceLink::DecodeDeviceMessage(std::uint8_t *Bytes, int Length)
{
    const DeviceMessage message = UnpackDeviceMessage(Bytes, Length);
    if (message.kind != DeviceMessage::Kind::Decoded)
        return;
    m_monitor.appendM8data(ReceivedParameterLine(message.type, message.payload, message.count));
    switch (message.type) {
    case CaptureEvent:
    case CaptureEventAlt:
        if (const auto event = CaptureEventTexts(message.payload, message.count); event && m_capture)
            m_capture->AddGpoEvent(event->timecode, event->timecode, event->camera);
        break;
    case RevisionReply:
        if (const auto revision = RevisionReplyTexts(message.payload, message.count))
            m_monitor.setRevision(revision->revtext, revision->revtext2);
        break;
    default:
        break;
    }
}

void DeviceLink::SendSysex(const std::uint8_t *Bytes, int Length)
{
    if (!Bytes || Length <= 0 || Length > 0xFFFF)
        throw std::invalid_argument("System Exclusive message of 1 to 65535 bytes expected");
    m_monitor.appendVmout(SysexOutLine(Bytes, Length));
    if (m_output)
        m_output->SendSysex(Bytes, std::uint16_t(Length));
}

void DeviceLink::SendRevisionQuery(std::uint8_t Type)
{
    const int length = BuildDeviceMessage(m_outBuffer, Type, nullptr, 0);
    SendSysex(m_outBuffer.data(), length);
}

void DeviceLink::WriteParameter(std::uint8_t Type, std::uint8_t Index, std::uint8_t Value)
{
    m_parameterPayload[0] = Index;
    m_parameterPayload[1] = Value;
    SendParameterMessage(Type, Type == ParameterCommit ? 0 : 2);
}

void DeviceLink::SendParameterMessage(std::uint8_t Type, int Count)
{
    if (Count < 0 || Count > MaxPayload)
        throw std::invalid_argument("parameter message payload must hold 0 to 31 bytes");
    if (m_monitor.isShown())
        m_monitor.appendM8data(SentParameterLine(Type, m_parameterPayload.data(), Count));
    const int length = BuildDeviceMessage(m_outBuffer, Type, m_parameterPayload.data(), Count);
    SendSysex(m_outBuffer.data(), length);
}

void DeviceLink::SendLtcMessages()
{
    WriteParameter(ParameterTable1, 0x01, 0x03);
    WriteParameter(ParameterTable2, 0x02, 0x02);
    WriteParameter(ParameterCommit, 0x00, 0x00);
}
