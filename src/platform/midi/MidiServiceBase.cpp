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

// A header's prepared state, the same for both directions (an input device's caller holds its
// lock around them).
MMRESULT prepareHeader(MIDIHDR *header, std::uint32_t size)
{
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT unprepareHeader(MIDIHDR *header, std::uint32_t size)
{
    if (!header || size < sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
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
        inputs.swap(m_inputs.open);
        outputs.swap(m_outputs.open);
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
    return static_cast<int>(m_inputs.open.size() + m_outputs.open.size());
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

// ---- handle bookkeeping, the same for both directions ----

template <typename Handle>
bool MidiServiceBase::live(const Devices<Handle> &devices, Handle handle) const
{
    std::lock_guard guard(m_lock);
    return handle && devices.open.count(handle) > 0;
}

template <typename Handle, typename List>
void MidiServiceBase::refresh(Devices<Handle> &devices, List list)
{
    std::vector<MidiDeviceInfo> listing = list(); // the backend, outside the lock
    std::lock_guard guard(m_lock);
    devices.listing = std::move(listing);
    devices.listed = true;
}

template <typename Handle, typename List>
void MidiServiceBase::listOnce(Devices<Handle> &devices, List list)
{
    bool listed;
    {
        std::lock_guard guard(m_lock);
        listed = devices.listed;
    }
    if (!listed)
        refresh(devices, list);
}

template <typename Handle>
MMRESULT MidiServiceBase::device(const Devices<Handle> &devices, int deviceId, MidiDeviceInfo &info) const
{
    std::lock_guard guard(m_lock);
    if (deviceId < 0 || deviceId >= static_cast<int>(devices.listing.size()))
        return MMSYSERR_BADDEVICEID;
    info = devices.listing[static_cast<std::size_t>(deviceId)];
    return MMSYSERR_NOERROR;
}

template <typename Handle>
MMRESULT MidiServiceBase::beginOpen(Handle *handle, MidiCallback callback, std::uint32_t flags, MidiCall call)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
    if (!validFlags(callback, flags, result))
        return result;
    return injectedFailure(call);
}

template <typename Handle, typename Open>
MMRESULT MidiServiceBase::finishOpen(Devices<Handle> &devices, std::unique_ptr<std::remove_pointer_t<Handle>> opened,
                                     Open open, Handle *handle)
{
    MMRESULT result = MMSYSERR_NOERROR;
    try {
        opened->endpoint = open(result);
    } catch (const std::bad_alloc &) {
        result = MMSYSERR_NOMEM;
    } catch (const std::exception &e) {
        result = failure(MIDIERR_LIBRARYBASE, QString::fromLocal8Bit(e.what()));
    }
    if (!opened->endpoint)
        return result != MMSYSERR_NOERROR ? result : MMSYSERR_ERROR;
    {
        std::lock_guard guard(m_lock);
        devices.open.insert(opened.get());
    }
    *handle = opened.release();
    return MMSYSERR_NOERROR;
}

template <typename Handle>
MMRESULT MidiServiceBase::enter(const Devices<Handle> &devices, Handle handle, MidiCall call)
{
    if (!live(devices, handle))
        return MMSYSERR_INVALHANDLE;
    return injectedFailure(call);
}

template <typename Handle>
bool MidiServiceBase::forget(Devices<Handle> &devices, Handle handle)
{
    std::lock_guard guard(m_lock);
    return handle && devices.open.erase(handle) > 0;
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

// ---- input ----

std::uint32_t MidiServiceBase::midiInGetNumDevs()
{
    refresh(m_inputs, [this] { return listInputs(); });
    std::lock_guard guard(m_lock);
    return static_cast<std::uint32_t>(m_inputs.listing.size());
}

MMRESULT MidiServiceBase::midiInGetDevCaps(int deviceId, MIDIINCAPS &caps)
{
    if (MMRESULT r = injectedFailure(MidiCall::InGetDevCaps))
        return r;
    listOnce(m_inputs, [this] { return listInputs(); });
    MidiDeviceInfo info;
    if (MMRESULT r = device(m_inputs, deviceId, info))
        return r;
    caps = MIDIINCAPS{};
    caps.vDriverVersion = 0x0100;
    caps.szPname = info.name;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInGetErrorText(MMRESULT code, QString &text)
{
    return errorText(code, text);
}

MMRESULT MidiServiceBase::midiInOpen(HMIDIIN *handle, int deviceId, MidiCallback callback,
                                     std::uintptr_t instance, std::uint32_t flags)
{
    if (MMRESULT r = beginOpen(handle, callback, flags, MidiCall::InOpen))
        return r;
    listOnce(m_inputs, [this] { return listInputs(); });
    MidiDeviceInfo info;
    if (MMRESULT r = device(m_inputs, deviceId, info))
        return r;
    auto opened = std::make_unique<MidiInHandle>();
    opened->service = this;
    opened->callback = flags == CALLBACK_FUNCTION ? callback : nullptr;
    opened->instance = instance;
    MidiInputSink &sink = *opened;
    return finishOpen(m_inputs, std::move(opened),
                      [&](MMRESULT &result) { return openInput(info, sink, result); }, handle);
}

MMRESULT MidiServiceBase::midiInPrepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InPrepareHeader))
        return r;
    std::lock_guard guard(handle->lock);
    return prepareHeader(header, size);
}

MMRESULT MidiServiceBase::midiInUnprepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InUnprepareHeader))
        return r;
    std::lock_guard guard(handle->lock);
    return unprepareHeader(header, size);
}

MMRESULT MidiServiceBase::midiInAddBuffer(HMIDIIN handle, MIDIHDR *header, std::uint32_t size)
{
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InAddBuffer))
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
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InStart))
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
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InStop))
        return r;
    std::lock_guard guard(handle->lock);
    handle->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInReset(HMIDIIN handle)
{
    if (MMRESULT r = enter(m_inputs, handle, MidiCall::InReset))
        return r;
    std::lock_guard guard(handle->lock);
    handle->started = false;
    handle->returnBuffers();
    return MMSYSERR_NOERROR;
}

MMRESULT MidiServiceBase::midiInClose(HMIDIIN handle)
{
    if (!forget(m_inputs, handle))
        return MMSYSERR_INVALHANDLE;
    closeInput(handle);
    return MMSYSERR_NOERROR;
}

std::uint64_t MidiServiceBase::midiInLostCount(HMIDIIN handle)
{
    if (!live(m_inputs, handle))
        return 0;
    std::lock_guard guard(handle->lock);
    return handle->lost + handle->endpoint->lost();
}

std::uint64_t MidiServiceBase::midiInLateCount(HMIDIIN handle)
{
    if (!live(m_inputs, handle))
        return 0;
    // Only the program's thread opens and closes, so the endpoint stays while this asks it.
    return handle->endpoint->lateCycles();
}

MMRESULT MidiServiceBase::midiInCheckDevice(HMIDIIN handle)
{
    if (!live(m_inputs, handle))
        return MMSYSERR_INVALHANDLE;
    // Only the program's thread opens and closes, so the endpoint stays while this asks it.
    return handle->endpoint->present() ? MMSYSERR_NOERROR : MIDIERR_NODEVICE;
}

// ---- output ----

std::uint32_t MidiServiceBase::midiOutGetNumDevs()
{
    refresh(m_outputs, [this] { return listOutputs(); });
    std::lock_guard guard(m_lock);
    return static_cast<std::uint32_t>(m_outputs.listing.size());
}

// The output device of a number, or the mapper (MIDI_MAPPER) where the backend has one.
MMRESULT MidiServiceBase::outputDevice(int deviceId, MidiDeviceInfo &info, std::uint16_t &technology)
{
    if (deviceId == MIDI_MAPPER) {
        technology = MOD_MAPPER;
        return mapper(info) ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
    }
    technology = MOD_MIDIPORT;
    listOnce(m_outputs, [this] { return listOutputs(); });
    return device(m_outputs, deviceId, info);
}

MMRESULT MidiServiceBase::midiOutGetDevCaps(int deviceId, MIDIOUTCAPS &caps)
{
    if (MMRESULT r = injectedFailure(MidiCall::OutGetDevCaps))
        return r;
    MidiDeviceInfo info;
    std::uint16_t technology;
    if (MMRESULT r = outputDevice(deviceId, info, technology))
        return r;
    caps = MIDIOUTCAPS{};
    caps.vDriverVersion = 0x0100;
    caps.szPname = info.name;
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
    if (MMRESULT r = beginOpen(handle, callback, flags, MidiCall::OutOpen))
        return r;
    MidiDeviceInfo info;
    std::uint16_t technology;
    if (MMRESULT r = outputDevice(deviceId, info, technology))
        return r;
    auto opened = std::make_unique<MidiOutHandle>();
    opened->callback = flags == CALLBACK_FUNCTION ? callback : nullptr;
    opened->instance = instance;
    return finishOpen(m_outputs, std::move(opened), [&](MMRESULT &result) { return openOutput(info, result); },
                      handle);
}

MMRESULT MidiServiceBase::midiOutShortMsg(HMIDIOUT handle, std::uint32_t message)
{
    if (MMRESULT r = enter(m_outputs, handle, MidiCall::OutShortMsg))
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
    if (MMRESULT r = enter(m_outputs, handle, MidiCall::OutPrepareHeader))
        return r;
    return prepareHeader(header, size);
}

MMRESULT MidiServiceBase::midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size)
{
    if (MMRESULT r = enter(m_outputs, handle, MidiCall::OutUnprepareHeader))
        return r;
    return unprepareHeader(header, size);
}

MMRESULT MidiServiceBase::midiOutLongMsg(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size)
{
    if (MMRESULT r = enter(m_outputs, handle, MidiCall::OutLongMsg))
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
    return live(m_outputs, handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT MidiServiceBase::midiOutCheckDevice(HMIDIOUT handle)
{
    if (!live(m_outputs, handle))
        return MMSYSERR_INVALHANDLE;
    return handle->endpoint->present() ? MMSYSERR_NOERROR : MIDIERR_NODEVICE;
}

MMRESULT MidiServiceBase::midiOutClose(HMIDIOUT handle)
{
    if (MMRESULT r = enter(m_outputs, handle, MidiCall::OutClose))
        return r;
    if (!forget(m_outputs, handle))
        return MMSYSERR_INVALHANDLE;
    closeOutput(handle);
    return MMSYSERR_NOERROR;
}
