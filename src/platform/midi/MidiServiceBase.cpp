#include "MidiServiceBase.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>

// An open input device. Everything the backend's thread and the caller's thread share is
// guarded by `lock`, and the program's callback is only called under it, so calls for one
// device never overlap and none follows midiInClose.
struct MidiInHandle final : MidiInputSink {
    const MidiServiceBase *service = nullptr;
    MidiCallback callback = nullptr;
    std::uintptr_t instance = 0;
    std::unique_ptr<MidiInputEndpoint> endpoint;

    std::mutex lock;
    bool open = true;
    bool started = false;
    // Time stamps: milliseconds from the start to the first message, then the backend's deltas
    // added up, so the backend's own timing is kept between messages.
    double startSeconds = 0;
    bool anchored = false;
    double elapsedSeconds = 0;
    MIDIHDR *queueHead = nullptr; // queued System Exclusive buffers, linked by lpNext
    MIDIHDR *queueTail = nullptr;
    std::uint64_t lost = 0;

    void notify(std::uint32_t message, std::uintptr_t param1, std::uintptr_t param2)
    {
        if (callback)
            callback(this, message, instance, param1, param2);
    }

    std::uint32_t stamp(double deltaSeconds)
    {
        if (!anchored) {
            anchored = true;
            elapsedSeconds = std::max(0.0, service->nowSeconds() - startSeconds);
        } else {
            elapsedSeconds += std::max(0.0, deltaSeconds);
        }
        // Wraps after 49.7 days, as a 32-bit millisecond count does.
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::llround(elapsedSeconds * 1000.0)));
    }

    MIDIHDR *takeBuffer()
    {
        MIDIHDR *header = queueHead;
        if (header) {
            queueHead = header->lpNext;
            if (!queueHead)
                queueTail = nullptr;
            header->lpNext = nullptr;
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        }
        return header;
    }

    // Hands every queued buffer back with nothing recorded.
    void returnBuffers()
    {
        while (MIDIHDR *header = takeBuffer()) {
            header->dwBytesRecorded = 0;
            notify(MIM_LONGDATA, reinterpret_cast<std::uintptr_t>(header), 0);
        }
    }

    void fillBuffers(const std::uint8_t *bytes, std::size_t size, std::uint32_t timestamp)
    {
        if (!queueHead) {
            ++lost;
            return;
        }
        std::size_t offset = 0;
        for (;;) {
            MIDIHDR *header = takeBuffer();
            const std::size_t n = std::min<std::size_t>(size - offset, header->dwBufferLength);
            if (n > 0)
                std::memcpy(header->lpData, bytes + offset, n);
            header->dwBytesRecorded = static_cast<std::uint32_t>(n);
            offset += n;
            const auto param = reinterpret_cast<std::uintptr_t>(header);
            if (offset == size) {
                notify(MIM_LONGDATA, param, timestamp);
                return;
            }
            if (!queueHead) {
                // Out of buffers in the middle of a message: the part received is handed back
                // as incomplete and the rest is lost.
                ++lost;
                notify(MIM_LONGERROR, param, timestamp);
                return;
            }
            notify(MIM_LONGDATA, param, timestamp);
        }
    }

    void receive(const std::uint8_t *bytes, std::size_t size, double deltaSeconds) noexcept override
    {
        std::lock_guard guard(lock);
        if (!open || !started)
            return;
        if (size > 0 && bytes[0] != 0xF0) {
            if (bytes[0] < 0x80)
                return; // not a message
            std::uint32_t packed = bytes[0];
            if (size > 1)
                packed |= std::uint32_t(bytes[1]) << 8;
            if (size > 2)
                packed |= std::uint32_t(bytes[2]) << 16;
            notify(MIM_DATA, packed, stamp(deltaSeconds));
            return;
        }
        fillBuffers(bytes, size, stamp(deltaSeconds));
    }
};

struct MidiOutHandle {
    MidiCallback callback = nullptr;
    std::uintptr_t instance = 0;
    std::unique_ptr<MidiOutputEndpoint> endpoint;
    std::mutex sendLock; // serialises sends and their completion reports
};

namespace {

const char *standardText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_NOERROR: return "The operation completed.";
    case MMSYSERR_ERROR: return "The MIDI service reported an unspecified error.";
    case MMSYSERR_BADDEVICEID: return "The MIDI device number is out of range.";
    case MMSYSERR_ALLOCATED: return "The MIDI device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The MIDI device handle is not valid (is the device open?).";
    case MMSYSERR_NODRIVER: return "No MIDI driver is available.";
    case MMSYSERR_NOMEM: return "Not enough memory for the MIDI operation.";
    case MMSYSERR_NOTSUPPORTED: return "The MIDI device does not support this operation.";
    case MMSYSERR_BADERRNUM: return "The error number is not defined.";
    case MMSYSERR_INVALFLAG: return "An invalid flag was passed to the MIDI service.";
    case MMSYSERR_INVALPARAM: return "An invalid parameter was passed to the MIDI service.";
    case MIDIERR_UNPREPARED: return "The MIDI buffer has not been prepared.";
    case MIDIERR_STILLPLAYING: return "The MIDI buffer is still in use by the device.";
    case MIDIERR_NOTREADY: return "The MIDI device is busy.";
    case MIDIERR_NODEVICE: return "The MIDI device is no longer present.";
    case MIDIERR_TOOLONG: return "The message is longer than the MIDI device accepts in one piece.";
    default: return nullptr;
    }
}

bool validFlags(MidiCallback callback, std::uint32_t flags, MMRESULT &result)
{
    if (flags == CALLBACK_FUNCTION && callback)
        return true;
    if (flags == 0)
        return true; // no callback
    result = flags == CALLBACK_FUNCTION ? MMSYSERR_INVALPARAM : MMSYSERR_INVALFLAG;
    return false;
}

} // namespace

MidiServiceBase::MidiServiceBase() = default;

MidiServiceBase::~MidiServiceBase()
{
    closeAllDevices();
}

void MidiServiceBase::closeAllDevices()
{
    // Devices the program left open are closed, so no backend thread outlives the service.
    std::unordered_set<HMIDIIN> inputs;
    std::unordered_set<HMIDIOUT> outputs;
    {
        std::lock_guard guard(m_lock);
        inputs.swap(m_inputHandles);
        outputs.swap(m_outputHandles);
    }
    for (HMIDIIN h : inputs)
        closeInput(h);
    for (HMIDIOUT h : outputs)
        closeOutput(h);
}

void MidiServiceBase::closeInput(HMIDIIN handle)
{
    {
        std::lock_guard guard(handle->lock);
        handle->open = false;
        handle->started = false;
        handle->returnBuffers();
    }
    // The endpoint stops its thread; a message it still delivers finds the device closed.
    handle->endpoint.reset();
    delete handle;
}

void MidiServiceBase::closeOutput(HMIDIOUT handle)
{
    {
        std::lock_guard guard(handle->sendLock); // a send on another thread finishes first
    }
    handle->endpoint.reset();
    delete handle;
}

double MidiServiceBase::nowSeconds() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

MMRESULT MidiServiceBase::failure(MMRESULT code, const QString &text)
{
    std::lock_guard guard(m_lock);
    m_failureTexts.insert(code, text);
    return code;
}

int MidiServiceBase::openDeviceCount() const
{
    std::lock_guard guard(m_lock);
    return static_cast<int>(m_inputHandles.size() + m_outputHandles.size());
}

int MidiServiceBase::shortMessageLength(std::uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0))
        return 3;
    if (status < 0xE0)
        return 2;
    switch (status) {
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF: return 1;
    default: return 0; // F0, F7 and the undefined F4, F5, F9, FD
    }
}

bool MidiServiceBase::liveInput(HMIDIIN handle) const
{
    std::lock_guard guard(m_lock);
    return handle && m_inputHandles.count(handle) > 0;
}

bool MidiServiceBase::liveOutput(HMIDIOUT handle) const
{
    std::lock_guard guard(m_lock);
    return handle && m_outputHandles.count(handle) > 0;
}

MMRESULT MidiServiceBase::errorText(MMRESULT code, QString &text) const
{
    if (code >= MIDIERR_LIBRARYBASE && code <= MIDIERR_LIBRARYLAST) {
        std::lock_guard guard(m_lock);
        text = m_failureTexts.value(code, QStringLiteral("The MIDI library reported an error."));
        return MMSYSERR_NOERROR;
    }
    if (const char *standard = standardText(code)) {
        text = QString::fromLatin1(standard);
        return MMSYSERR_NOERROR;
    }
    text.clear();
    return MMSYSERR_BADERRNUM;
}

void MidiServiceBase::listInputsOnce()
{
    bool listed;
    {
        std::lock_guard guard(m_lock);
        listed = m_inputsListed;
    }
    if (!listed)
        refreshInputs();
}

void MidiServiceBase::listOutputsOnce()
{
    bool listed;
    {
        std::lock_guard guard(m_lock);
        listed = m_outputsListed;
    }
    if (!listed)
        refreshOutputs();
}

void MidiServiceBase::refreshInputs()
{
    std::vector<MidiDeviceInfo> list = listInputs();
    std::lock_guard guard(m_lock);
    m_inputs = std::move(list);
    m_inputsListed = true;
}

void MidiServiceBase::refreshOutputs()
{
    std::vector<MidiDeviceInfo> list = listOutputs();
    std::lock_guard guard(m_lock);
    m_outputs = std::move(list);
    m_outputsListed = true;
}

// ---- input ----

std::uint32_t MidiServiceBase::midiInGetNumDevs()
{
    refreshInputs();
    std::lock_guard guard(m_lock);
    return static_cast<std::uint32_t>(m_inputs.size());
}

MMRESULT MidiServiceBase::midiInGetDevCaps(int deviceId, MIDIINCAPS &caps)
{
    if (MMRESULT r = injectedFailure(MidiCall::InGetDevCaps))
        return r;
    listInputsOnce();
    std::lock_guard guard(m_lock);
    if (deviceId < 0 || deviceId >= static_cast<int>(m_inputs.size()))
        return MMSYSERR_BADDEVICEID;
    caps = MIDIINCAPS{};
    caps.vDriverVersion = 0x0100;
    caps.szPname = m_inputs[deviceId].name;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInGetErrorText(MMRESULT code, QString &text)
{
    return errorText(code, text);
}

MMRESULT MidiServiceBase::midiInOpen(HMIDIIN *handle, int deviceId, MidiCallback callback,
                                     std::uintptr_t instance, std::uint32_t flags)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
    if (!validFlags(callback, flags, result))
        return result;
    if (MMRESULT r = injectedFailure(MidiCall::InOpen))
        return r;
    listInputsOnce();
    MidiDeviceInfo device;
    {
        std::lock_guard guard(m_lock);
        if (deviceId < 0 || deviceId >= static_cast<int>(m_inputs.size()))
            return MMSYSERR_BADDEVICEID;
        device = m_inputs[deviceId];
    }
    auto h = std::make_unique<MidiInHandle>();
    h->service = this;
    h->callback = flags == CALLBACK_FUNCTION ? callback : nullptr;
    h->instance = instance;
    try {
        h->endpoint = openInput(device, *h, result);
    } catch (const std::bad_alloc &) {
        result = MMSYSERR_NOMEM;
    } catch (const std::exception &e) {
        result = failure(MIDIERR_LIBRARYBASE, QString::fromLocal8Bit(e.what()));
    }
    if (!h->endpoint)
        return result != MMSYSERR_NOERROR ? result : MMSYSERR_ERROR;
    {
        std::lock_guard guard(m_lock);
        m_inputHandles.insert(h.get());
    }
    *handle = h.release();
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInPrepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InPrepareHeader))
        return r;
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    std::lock_guard guard(handle->lock);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InUnprepareHeader))
        return r;
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    std::lock_guard guard(handle->lock);
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInAddBuffer(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InAddBuffer))
        return r;
    if (!header || size < sizeof(MIDIHDR) || !header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard guard(handle->lock);
    if (!(header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    header->lpNext = nullptr;
    if (handle->queueTail)
        handle->queueTail->lpNext = header;
    else
        handle->queueHead = header;
    handle->queueTail = header;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInStart(HMIDIIN handle)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InStart))
        return r;
    std::lock_guard guard(handle->lock);
    if (!handle->started) {
        handle->started = true;
        handle->startSeconds = nowSeconds();
        handle->anchored = false;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInStop(HMIDIIN handle)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InStop))
        return r;
    std::lock_guard guard(handle->lock);
    handle->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInReset(HMIDIIN handle)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::InReset))
        return r;
    std::lock_guard guard(handle->lock);
    handle->started = false;
    handle->returnBuffers();
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInClose(HMIDIIN handle)
{
    {
        std::lock_guard guard(m_lock);
        if (!handle || m_inputHandles.erase(handle) == 0)
            return MMSYSERR_INVALHANDLE;
    }
    closeInput(handle);
    return MMSYSERR_NOERROR;
}

std::uint64_t MidiServiceBase::midiInLostCount(HMIDIIN handle)
{
    if (!liveInput(handle))
        return 0;
    std::lock_guard guard(handle->lock);
    return handle->lost + handle->endpoint->lost();
}

MMRESULT MidiServiceBase::midiInCheckDevice(HMIDIIN handle)
{
    if (!liveInput(handle))
        return MMSYSERR_INVALHANDLE;
    // Only the program's thread opens and closes, so the endpoint stays while this asks it.
    return handle->endpoint->present() ? MMSYSERR_NOERROR : MIDIERR_NODEVICE;
}

// ---- output ----

std::uint32_t MidiServiceBase::midiOutGetNumDevs()
{
    refreshOutputs();
    std::lock_guard guard(m_lock);
    return static_cast<std::uint32_t>(m_outputs.size());
}

MMRESULT MidiServiceBase::midiOutGetDevCaps(int deviceId, MIDIOUTCAPS &caps)
{
    if (MMRESULT r = injectedFailure(MidiCall::OutGetDevCaps))
        return r;
    MidiDeviceInfo device;
    std::uint16_t technology = MOD_MIDIPORT;
    if (deviceId == MIDI_MAPPER) {
        if (!mapper(device))
            return MMSYSERR_BADDEVICEID;
        technology = MOD_MAPPER;
    } else {
        listOutputsOnce();
        std::lock_guard guard(m_lock);
        if (deviceId < 0 || deviceId >= static_cast<int>(m_outputs.size()))
            return MMSYSERR_BADDEVICEID;
        device = m_outputs[deviceId];
    }
    caps = MIDIOUTCAPS{};
    caps.vDriverVersion = 0x0100;
    caps.szPname = device.name;
    caps.wTechnology = technology;
    caps.wChannelMask = 0xFFFF;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiOutGetErrorText(MMRESULT code, QString &text)
{
    return errorText(code, text);
}

MMRESULT MidiServiceBase::midiOutOpen(HMIDIOUT *handle, int deviceId, MidiCallback callback,
                                      std::uintptr_t instance, std::uint32_t flags)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
    if (!validFlags(callback, flags, result))
        return result;
    if (MMRESULT r = injectedFailure(MidiCall::OutOpen))
        return r;
    MidiDeviceInfo device;
    if (deviceId == MIDI_MAPPER) {
        if (!mapper(device))
            return MMSYSERR_BADDEVICEID;
    } else {
        listOutputsOnce();
        std::lock_guard guard(m_lock);
        if (deviceId < 0 || deviceId >= static_cast<int>(m_outputs.size()))
            return MMSYSERR_BADDEVICEID;
        device = m_outputs[deviceId];
    }
    auto h = std::make_unique<MidiOutHandle>();
    h->callback = flags == CALLBACK_FUNCTION ? callback : nullptr;
    h->instance = instance;
    try {
        h->endpoint = openOutput(device, result);
    } catch (const std::bad_alloc &) {
        result = MMSYSERR_NOMEM;
    } catch (const std::exception &e) {
        result = failure(MIDIERR_LIBRARYBASE, QString::fromLocal8Bit(e.what()));
    }
    if (!h->endpoint)
        return result != MMSYSERR_NOERROR ? result : MMSYSERR_ERROR;
    {
        std::lock_guard guard(m_lock);
        m_outputHandles.insert(h.get());
    }
    *handle = h.release();
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiOutShortMsg(HMIDIOUT handle, std::uint32_t message)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::OutShortMsg))
        return r;
    const std::uint8_t bytes[3] = {std::uint8_t(message), std::uint8_t(message >> 8),
                                   std::uint8_t(message >> 16)};
    const int length = shortMessageLength(bytes[0]);
    if (length == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard guard(handle->sendLock);
    try {
        return handle->endpoint->send(bytes, std::size_t(length));
    } catch (const std::exception &e) {
        return failure(MIDIERR_LIBRARYBASE, QString::fromLocal8Bit(e.what()));
    }
}

MMRESULT MidiServiceBase::midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::OutPrepareHeader))
        return r;
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::OutUnprepareHeader))
        return r;
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiOutLongMsg(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::OutLongMsg))
        return r;
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    if (!header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard guard(handle->sendLock);
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    MMRESULT result;
    try {
        result = handle->endpoint->send(header->lpData, header->dwBufferLength);
    } catch (const std::exception &e) {
        result = failure(MIDIERR_LIBRARYBASE, QString::fromLocal8Bit(e.what()));
    }
    header->dwFlags &= ~MHDR_INQUEUE;
    if (result != MMSYSERR_NOERROR)
        return result;
    // Sends complete before they return: the header is reported done at once.
    header->dwFlags |= MHDR_DONE;
    if (handle->callback)
        handle->callback(handle, MOM_DONE, handle->instance, reinterpret_cast<std::uintptr_t>(header), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiOutReset(HMIDIOUT handle)
{
    return liveOutput(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT MidiServiceBase::midiOutCheckDevice(HMIDIOUT handle)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    return handle->endpoint->present() ? MMSYSERR_NOERROR : MIDIERR_NODEVICE;
}

MMRESULT MidiServiceBase::midiOutClose(HMIDIOUT handle)
{
    if (!liveOutput(handle))
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = injectedFailure(MidiCall::OutClose))
        return r;
    {
        std::lock_guard guard(m_lock);
        if (m_outputHandles.erase(handle) == 0)
            return MMSYSERR_INVALHANDLE;
    }
    closeOutput(handle);
    return MMSYSERR_NOERROR;
}
