#include "MidiOut.h"

#include "MidiDriverCallback.h"

#include <cstring>

TMidiOutput::TMidiOutput(QObject *Owner) : TMidiOutput(midiService(), Owner) {}

TMidiOutput::TMidiOutput(MidiService &service, QObject *Owner) : QObject(Owner), m_service(service)
{
    m_state = psClosed;
    m_service.midiOutGetNumDevs(); // lists the devices; the count is read again where it is used
    m_window = std::make_unique<PortWindow>(PortWindow::Handlers{
        nullptr,
        nullptr,
        [this](TMyMidiHdr *header) { handleDone(header); },
    });
}

TMidiOutput::~TMidiOutput()
{
    if (m_state == psOpen) {
        try {
            Close();
        } catch (...) {
            // A destructor cannot report.
        }
    }
    // Finished blocks whose report has not been handled yet.
    for (TMyMidiHdr *header : m_window->takeUndelivered())
        delete header;
    if (m_state == psOpen) {
        // The device refused to close and could still call back: its context and the window
        // it posts to are left alive rather than freed under it.
        (void)m_window.release();
        return;
    }
    CallbackContextFree(m_context);
}

QString TMidiOutput::errorText(std::uint16_t code) const
{
    QString text;
    if (m_service.midiOutGetErrorText(code, text) != MMSYSERR_NOERROR)
        text = QStringLiteral("Specified error number is out of range");
    return text;
}

void TMidiOutput::raise(MMRESULT result) const
{
    throw EmidioutputError(errorText(static_cast<std::uint16_t>(result)));
}

MMRESULT TMidiOutput::keep(MMRESULT result)
{
    m_result = static_cast<std::uint16_t>(result);
    return result;
}

void TMidiOutput::setDeviceID(std::int32_t id)
{
    if (m_state == psOpen)
        throw EmidioutputError(QStringLiteral("Change to DeviceID while device was open"));
    // A signed comparison, so -1 (the mapper) passes. The count is read afresh so that devices
    // plugged in since the port was made can be selected too.
    if (id >= static_cast<std::int64_t>(m_service.midiOutGetNumDevs()))
        throw EmidioutputError(QStringLiteral("Invalid device ID"));
    m_deviceId = id;
    MIDIOUTCAPS caps;
    if (keep(m_service.midiOutGetDevCaps(id, caps)) != MMSYSERR_NOERROR)
        raise(m_result);
    m_productName = caps.szPname;
    m_driverVersion = caps.vDriverVersion;
    m_technology = static_cast<std::uint8_t>(caps.wTechnology);
    m_voices = caps.wVoices;
    m_notes = caps.wNotes;
    m_channelMask = caps.wChannelMask;
    m_support = caps.dwSupport;
}

void TMidiOutput::setProductName(const QString &name)
{
    if (m_state == psOpen)
        throw EmidioutputError(QStringLiteral("Change to ProductName while device was open"));
    const auto count = static_cast<std::int32_t>(m_service.midiOutGetNumDevs());
    std::int32_t found = 0;
    bool matched = false;
    for (std::int32_t i = MIDI_MAPPER; i < count; ++i) {
        MIDIOUTCAPS caps;
        const MMRESULT result = keep(m_service.midiOutGetDevCaps(i, caps));
        // A platform without a mapper has no device -1: the search goes on with device 0.
        if (i == MIDI_MAPPER && result == MMSYSERR_BADDEVICEID)
            continue;
        if (result != MMSYSERR_NOERROR)
            raise(result);
        if (caps.szPname == name) {
            m_productName = name;
            found = i;
            matched = true;
            break;
        }
    }
    if (!matched)
        throw EmidioutputError(QStringLiteral("MIDI output Device ") + name + QStringLiteral(" not installed"));
    setDeviceID(found);
}

bool TMidiOutput::Open()
{
    if (m_state == psOpen)
        return true;
    try {
        if (!m_context) {
            m_context = CallbackContextCreate();
            if (!m_context)
                raise(keep(MMSYSERR_NOMEM));
        }
        m_context->Window = &m_window->mailbox();
        if (keep(m_service.midiOutOpen(&m_handle, m_deviceId, &MidiDriverCallback,
                                       reinterpret_cast<std::uintptr_t>(m_context), CALLBACK_FUNCTION))
            != MMSYSERR_NOERROR)
            raise(m_result);
        m_state = psOpen;
        return true;
    } catch (const std::exception &) {
        m_handle = nullptr;
        CallbackContextFree(m_context);
        m_context = nullptr;
        return false;
    }
}

bool TMidiOutput::Close()
{
    bool closed = false;
    if (m_state == psOpen) {
        if (keep(m_service.midiOutClose(m_handle)) != MMSYSERR_NOERROR)
            raise(m_result); // still open, as it was
        closed = true;
    }
    m_handle = nullptr;
    m_state = psClosed;
    return closed;
}

void TMidiOutput::SendEvent(const TMyMidiEvent &event)
{
    if (m_state != psOpen)
        throw EmidioutputError(QStringLiteral("MIDI Output device not open"));
    if (event.SysexData)
        SendLong(event.SysexData.get(), event.SysexLen);
    else
        SendShort(event.Status, event.DataByte1, event.DataByte2);
}

void TMidiOutput::SendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const std::uint32_t message = status + data1 * 0x100u + data2 * 0x10000u;
    if (keep(m_service.midiOutShortMsg(m_handle, message)) != MMSYSERR_NOERROR)
        raise(m_result);
}

void TMidiOutput::SendLong(const std::uint8_t *bytes, std::uint16_t count)
{
    // Until the driver accepts it, the block is ours and released on every failure.
    auto block = std::make_unique<TMyMidiHdr>(count);
    MIDIHDR *header = block->header();
    if (header) {
        std::memcpy(block->data(), bytes, count);
        header->dwUser = reinterpret_cast<std::uintptr_t>(block.get());
    }
    if (keep(m_service.midiOutPrepareHeader(m_handle, header, sizeof(MIDIHDR))) != MMSYSERR_NOERROR)
        raise(m_result);
    if (keep(m_service.midiOutLongMsg(m_handle, header, sizeof(MIDIHDR))) != MMSYSERR_NOERROR) {
        const std::uint16_t result = m_result;
        m_service.midiOutUnprepareHeader(m_handle, header, sizeof(MIDIHDR));
        raise(result);
    }
    // The driver owns it now; the completion report frees it.
    block.release();
}

void TMidiOutput::handleDone(TMyMidiHdr *header)
{
    m_service.midiOutUnprepareHeader(m_handle, header->header(), sizeof(MIDIHDR)); // result ignored
    delete header;
    if (m_onMidiOutput)
        m_onMidiOutput(this);
}

bool TMidiOutput::DevicePresent()
{
    if (m_state != psOpen || !m_handle)
        return true;
    return m_service.midiOutCheckDevice(m_handle) != MIDIERR_NODEVICE;
}
