#include "MidiIn.h"

#include "MidiDriverCallback.h"

#include <cstring>

TMidiInput::TMidiInput(QObject *Owner) : TMidiInput(midiService(), Owner) {}

TMidiInput::TMidiInput(MidiService &service, QObject *Owner) : QObject(Owner), m_service(service)
{
    m_state = psCreating;
    m_sysexOnly = false;
    try {
        setDeviceID(0);
    } catch (const EMidiInputError &) {
        // No input device: the port exists all the same, with an empty ProductName.
    }
    m_capacity = 1024;
    m_sysexBufferSize = 4096;
    m_sysexBufferCount = 16;
    m_window = std::make_unique<PortWindow>(PortWindow::Handlers{
        [this] { handleMidiData(); },
        [this] { handleOverflow(); },
        nullptr,
    });
    m_state = psClosed;
}

TMidiInput::~TMidiInput()
{
    if (m_handle) {
        try {
            Close();
        } catch (...) {
            // A destructor cannot report; Close has released everything all the same.
        }
    }
    CallbackContextFree(m_context);
}

QString TMidiInput::errorText(std::uint16_t code) const
{
    QString text;
    if (m_service.midiInGetErrorText(code, text) != MMSYSERR_NOERROR)
        text = QStringLiteral("Specified error number is out of range");
    return text;
}

void TMidiInput::raise(MMRESULT result) const
{
    throw EMidiInputError(errorText(static_cast<std::uint16_t>(result)));
}

MMRESULT TMidiInput::keep(MMRESULT result)
{
    m_error = static_cast<std::uint16_t>(result);
    return result;
}

void TMidiInput::setDeviceID(std::uint16_t id)
{
    if (m_state == psOpen)
        throw EMidiInputError(QStringLiteral("Change to DeviceID while device was open"));
    // The device count is read afresh: devices plugged in since the port was made, which the
    // device lists show, can be selected too.
    if (id >= m_service.midiInGetNumDevs())
        throw EMidiInputError(QStringLiteral("Midi input device not Found"));
    m_deviceId = id;
    MIDIINCAPS caps;
    if (keep(m_service.midiInGetDevCaps(id, caps)) != MMSYSERR_NOERROR)
        raise(m_error);
    m_productName = caps.szPname;
    m_driverVersion = caps.vDriverVersion;
    m_mid = caps.wMid;
    m_pid = caps.wPid;
}

void TMidiInput::setProductName(const QString &name)
{
    if (m_state == psOpen)
        throw EMidiInputError(QStringLiteral("Change to ProductName while device was open"));
    const std::uint32_t count = m_service.midiInGetNumDevs();
    int found = -1;
    // Device 0 is read even when there is no device, so that a system without input devices
    // reports the platform's own text.
    for (std::uint32_t i = 0; i == 0 || i < count; ++i) {
        MIDIINCAPS caps;
        if (keep(m_service.midiInGetDevCaps(static_cast<int>(i), caps)) != MMSYSERR_NOERROR)
            raise(m_error);
        if (caps.szPname == name) {
            m_productName = name;
            found = static_cast<int>(i);
            break;
        }
    }
    if (found < 0)
        throw EMidiInputError(QStringLiteral("MIDI Input Device ") + name + QStringLiteral(" not installed "));
    setDeviceID(static_cast<std::uint16_t>(found));
}

void TMidiInput::setSysexBufferSize(std::uint16_t size)
{
    if (m_state == psOpen)
        throw EMidiInputError(QStringLiteral("Change to SysexBufferSize while device was open"));
    m_sysexBufferSize = size;
}

void TMidiInput::setSysexBufferCount(std::uint16_t count)
{
    if (m_state == psOpen)
        throw EMidiInputError(QStringLiteral("Change to SysexBuffercount while device was open"));
    m_sysexBufferCount = count;
}

void TMidiInput::setSysexOnly(bool sysexOnly)
{
    m_sysexOnly = sysexOnly;
    if (m_context)
        m_context->SysexOnly.store(sysexOnly, std::memory_order_relaxed);
}

void TMidiInput::Open()
{
    if (m_state == psOpen)
        return;
    try {
        if (!m_ring) {
            m_ring = EventRingCreate(m_capacity);
            if (!m_ring)
                raise(keep(m_capacity == 0 ? MMSYSERR_INVALPARAM : MMSYSERR_NOMEM));
        }
        if (!m_context) {
            m_context = CallbackContextCreate();
            if (!m_context)
                raise(keep(MMSYSERR_NOMEM));
        }
        m_context->Ring = m_ring;
        m_context->Window = &m_window->mailbox();
        m_context->SysexOnly.store(m_sysexOnly, std::memory_order_relaxed);

        if (keep(m_service.midiInOpen(&m_handle, m_deviceId, &MidiDriverCallback,
                                      reinterpret_cast<std::uintptr_t>(m_context), CALLBACK_FUNCTION))
            != MMSYSERR_NOERROR)
            raise(m_error);

        if (m_sysexBufferCount > 0 && m_sysexBufferSize > 0 && m_handle) {
            for (int i = 0; i < m_sysexBufferCount; ++i) {
                auto buffer = std::make_unique<TMyMidiHdr>(m_sysexBufferSize);
                buffer->header()->dwUser = reinterpret_cast<std::uintptr_t>(buffer.get());
                if (keep(m_service.midiInPrepareHeader(m_handle, buffer->header(), sizeof(MIDIHDR)))
                    != MMSYSERR_NOERROR)
                    raise(m_error);
                m_buffers.push_back(std::move(buffer));
            }
            for (const auto &buffer : m_buffers) {
                if (keep(m_service.midiInAddBuffer(m_handle, buffer->header(), sizeof(MIDIHDR)))
                    != MMSYSERR_NOERROR)
                    raise(m_error);
            }
        }
        m_state = psOpen;
    } catch (const std::exception &) {
        // The port stays closed. A device that did open is closed again and its buffers are
        // released: left open, it would go on calling back into a context that is freed here.
        const std::uint16_t error = m_error;
        release();
        m_error = error ? error : static_cast<std::uint16_t>(MMSYSERR_NOMEM);
        CallbackContextFree(m_context);
        m_context = nullptr;
    }
}

void TMidiInput::Start()
{
    if (m_state != psOpen)
        return;
    if (keep(m_service.midiInStart(m_handle)) != MMSYSERR_NOERROR)
        raise(m_error);
}

void TMidiInput::Stop()
{
    if (m_state != psOpen)
        return;
    if (keep(m_service.midiInStop(m_handle)) != MMSYSERR_NOERROR)
        raise(m_error);
}

MMRESULT TMidiInput::release()
{
    MMRESULT first = MMSYSERR_NOERROR;
    auto note = [&](MMRESULT r) {
        keep(r);
        if (first == MMSYSERR_NOERROR)
            first = r;
    };
    if (m_handle) {
        m_lostByClosedDevices += m_service.midiInLostCount(m_handle);
        m_lateByClosedDevices += m_service.midiInLateCount(m_handle);
        // The driver hands every queued buffer back through the callback; they land in the
        // ring, which is freed below.
        note(m_service.midiInReset(m_handle));
        for (const auto &buffer : m_buffers)
            note(m_service.midiInUnprepareHeader(m_handle, buffer->header(), sizeof(MIDIHDR)));
        note(m_service.midiInClose(m_handle));
        m_handle = nullptr;
    }
    // Freed only once the device is closed, so the driver can no longer touch them.
    m_buffers.clear();
    EventRingFree(m_ring);
    m_ring = nullptr;
    if (m_context)
        m_context->Ring = nullptr;
    return first;
}

void TMidiInput::Close()
{
    if (m_state != psOpen)
        return;
    // Closed first: notifications still on their way find a closed port and are dropped.
    m_state = psClosed;
    const MMRESULT result = release();
    if (result != MMSYSERR_NOERROR) {
        m_error = static_cast<std::uint16_t>(result);
        raise(result);
    }
}

std::uint16_t TMidiInput::PendingCount() const
{
    if (m_state != psOpen || !m_ring)
        return 0;
    return m_ring->Count.load(std::memory_order_acquire);
}

std::unique_ptr<TMyMidiEvent> TMidiInput::NextEvent()
{
    TRawMidiEvent raw;
    if (m_state != psOpen || !m_ring || !EventRingPeek(m_ring, raw))
        return nullptr;
    auto event = std::make_unique<TMyMidiEvent>();
    event->Timestamp = raw.Timestamp;
    if (!raw.SysexHeader) {
        event->Status = static_cast<std::uint8_t>(raw.Data);
        event->DataByte1 = static_cast<std::uint8_t>(raw.Data >> 8);
        event->DataByte2 = static_cast<std::uint8_t>(raw.Data >> 16);
    } else {
        MIDIHDR *header = raw.SysexHeader;
        event->Status = 0xF0;
        event->SysexLen = static_cast<std::uint16_t>(header->dwBytesRecorded);
        if (event->SysexLen != 0) {
            event->SysexData = std::make_unique<std::uint8_t[]>(event->SysexLen);
            std::memcpy(event->SysexData.get(), header->lpData, event->SysexLen);
        }
        // The buffer goes back to the driver before the slot is dropped.
        header->dwBytesRecorded = 0;
        header->dwBufferLength = m_sysexBufferSize;
        keep(m_service.midiInAddBuffer(m_handle, header, sizeof(MIDIHDR)));
    }
    EventRingDrop(m_ring);
    return event;
}

void TMidiInput::handleMidiData()
{
    if (m_onMidiInput && m_state == psOpen && PendingCount() > 0)
        m_onMidiInput(this);
}

void TMidiInput::handleOverflow()
{
    if (m_state != psOpen)
        return;
    ++m_overflows;
    if (m_onOverflow)
        m_onOverflow(this);
}

bool TMidiInput::DevicePresent()
{
    if (m_state != psOpen || !m_handle)
        return true;
    return m_service.midiInCheckDevice(m_handle) != MIDIERR_NODEVICE;
}

std::uint64_t TMidiInput::LostCount() const
{
    std::uint64_t lost = m_overflows + m_lostByClosedDevices;
    if (m_state == psOpen && m_handle)
        lost += m_service.midiInLostCount(m_handle);
    return lost;
}

std::uint64_t TMidiInput::LateCount() const
{
    std::uint64_t late = m_lateByClosedDevices;
    if (m_state == psOpen && m_handle)
        late += m_service.midiInLateCount(m_handle);
    return late;
}
