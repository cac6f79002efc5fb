#pragma once

#include "MidiService.h"

#include <QHash>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

// Where a backend's input device delivers: one whole message at a time (a System Exclusive
// message from F0 to F7), with the time since the previous message the device reported.
// Called on the backend's own thread; never blocks for long and never throws.
class MidiInputSink {
public:
    // An empty message hands back one queued buffer with nothing recorded.
    virtual void receive(const std::uint8_t *bytes, std::size_t size, double deltaSeconds) noexcept = 0;

protected:
    ~MidiInputSink() = default;
};

// An open backend input device; delivering stops when it is destroyed.
class MidiInputEndpoint {
public:
    virtual ~MidiInputEndpoint() = default;
    // False once the device, or the MIDI server it is reached through, has gone. Quick; called
    // on the program's thread.
    virtual bool present() { return true; }
    // Messages the backend lost on their way to the sink (any thread).
    virtual std::uint64_t lost() const { return 0; }
    // Late cycles of the MIDI server since the device was opened (MidiService::midiInLateCount);
    // any thread.
    virtual std::uint64_t lateCycles() const { return 0; }
};

// An open backend output device. send() gets one whole message; the caller serialises calls.
class MidiOutputEndpoint {
public:
    virtual ~MidiOutputEndpoint() = default;
    virtual MMRESULT send(const std::uint8_t *bytes, std::size_t size) = 0;
    // As MidiInputEndpoint::present().
    virtual bool present() { return true; }
};

// A device as a backend lists it: the product name shown to the operator, and what the backend
// needs to find the device again when it is opened.
struct MidiDeviceInfo {
    QString name;
    int api = 0;
    std::string portName;
};

// The service calls whose failure a test can force (LoopbackMidiService::failCall).
enum class MidiCall {
    InGetDevCaps,
    InOpen,
    InPrepareHeader,
    InUnprepareHeader,
    InAddBuffer,
    InStart,
    InStop,
    InReset,
    OutGetDevCaps,
    OutOpen,
    OutShortMsg,
    OutPrepareHeader,
    OutUnprepareHeader,
    OutLongMsg,
    OutClose,
};

// The service's rules, shared by the backends: device lists, handle checks, header states, the
// queue of System Exclusive buffers and their filling, time stamps, completion reports and
// error texts. A backend only lists, opens and feeds devices.
class MidiServiceBase : public MidiService {
public:
    MidiServiceBase();
    ~MidiServiceBase() override;

    MidiServiceBase(const MidiServiceBase &) = delete;
    MidiServiceBase &operator=(const MidiServiceBase &) = delete;

    std::uint32_t midiInGetNumDevs() override;
    MMRESULT midiInGetDevCaps(int deviceId, MIDIINCAPS &caps) override;
    MMRESULT midiInGetErrorText(MMRESULT code, QString &text) override;
    MMRESULT midiInOpen(HMIDIIN *handle, int deviceId, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t flags) override;
    MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiInStart(HMIDIIN handle) override;
    MMRESULT midiInStop(HMIDIIN handle) override;
    MMRESULT midiInReset(HMIDIIN handle) override;
    MMRESULT midiInClose(HMIDIIN handle) override;
    std::uint64_t midiInLostCount(HMIDIIN handle) override;
    std::uint64_t midiInLateCount(HMIDIIN handle) override;
    MMRESULT midiInCheckDevice(HMIDIIN handle) override;

    std::uint32_t midiOutGetNumDevs() override;
    MMRESULT midiOutGetDevCaps(int deviceId, MIDIOUTCAPS &caps) override;
    MMRESULT midiOutGetErrorText(MMRESULT code, QString &text) override;
    MMRESULT midiOutOpen(HMIDIOUT *handle, int deviceId, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override;
    MMRESULT midiOutShortMsg(HMIDIOUT handle, std::uint32_t message) override;
    MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) override;
    MMRESULT midiOutReset(HMIDIOUT handle) override;
    MMRESULT midiOutClose(HMIDIOUT handle) override;
    MMRESULT midiOutCheckDevice(HMIDIOUT handle) override;

    // Number of devices open at the moment, input and output together.
    int openDeviceCount() const;

    // Bytes of a short message with this status byte: 1 to 3, or 0 for a byte that does not
    // start a short message (a data byte, F0, F7, and the undefined F4, F5, F9 and FD).
    static int shortMessageLength(std::uint8_t status);

protected:
    // Backend. The lists are read by midiInGetNumDevs / midiOutGetNumDevs; device numbers index
    // the latest list. openInput / openOutput return null and set result on failure.
    virtual std::vector<MidiDeviceInfo> listInputs() = 0;
    virtual std::vector<MidiDeviceInfo> listOutputs() = 0;
    virtual bool mapper(MidiDeviceInfo &info) { (void)info; return false; }
    virtual std::unique_ptr<MidiInputEndpoint> openInput(const MidiDeviceInfo &device,
                                                         MidiInputSink &sink, MMRESULT &result) = 0;
    virtual std::unique_ptr<MidiOutputEndpoint> openOutput(const MidiDeviceInfo &device,
                                                           MMRESULT &result) = 0;
    // The clock of time stamps, in seconds; any monotonic origin. Called on any thread.
    virtual double nowSeconds() const;
    // A failure forced for this call, or MMSYSERR_NOERROR.
    virtual MMRESULT injectedFailure(MidiCall call) { (void)call; return MMSYSERR_NOERROR; }

    // Records the text of a backend failure under its code; returns the code.
    MMRESULT failure(MMRESULT code, const QString &text);

    // Closes every device still open. A backend calls it first thing in its destructor, while
    // the devices' endpoints can still reach the backend.
    void closeAllDevices();

private:
    friend struct ::MidiInHandle; // reads the clock

    // One direction of the service: the latest listing of its devices (device numbers index
    // it) and the handles it gave out that are still open. Guarded by m_lock.
    template <typename Handle>
    struct Devices {
        std::vector<MidiDeviceInfo> listing;
        bool listed = false;
        std::unordered_set<Handle> open;
    };

    template <typename Handle>
    bool live(const Devices<Handle> &devices, Handle handle) const;
    // Lists the devices anew with the backend's list(); listOnce only if that never happened.
    template <typename Handle, typename List>
    void refresh(Devices<Handle> &devices, List list);
    template <typename Handle, typename List>
    void listOnce(Devices<Handle> &devices, List list);
    // The device of a number in the latest listing, or MMSYSERR_BADDEVICEID.
    template <typename Handle>
    MMRESULT device(const Devices<Handle> &devices, int deviceId, MidiDeviceInfo &info) const;
    // The checks every open starts with: where the handle goes, the callback and its flags, a
    // failure forced for the call.
    template <typename Handle>
    MMRESULT beginOpen(Handle *handle, MidiCallback callback, std::uint32_t flags, MidiCall call);
    // Opens the backend's endpoint for a new handle with open(result), then counts the handle
    // among the open ones and hands it out.
    template <typename Handle, typename Open>
    MMRESULT finishOpen(Devices<Handle> &devices, std::unique_ptr<std::remove_pointer_t<Handle>> opened, Open open,
                        Handle *handle);
    // The checks every call on an open handle starts with: the handle is open, no failure is
    // forced for the call.
    template <typename Handle>
    MMRESULT enter(const Devices<Handle> &devices, Handle handle, MidiCall call);
    // Takes a handle out of the open ones; false when it was not among them.
    template <typename Handle>
    bool forget(Devices<Handle> &devices, Handle handle);
    MMRESULT outputDevice(int deviceId, MidiDeviceInfo &info, std::uint16_t &technology);

    static void closeInput(HMIDIIN handle);
    static void closeOutput(HMIDIOUT handle);
    MMRESULT errorText(MMRESULT code, QString &text) const;

    mutable std::mutex m_lock; // guards everything below
    Devices<HMIDIIN> m_inputs;
    Devices<HMIDIOUT> m_outputs;
    QHash<MMRESULT, QString> m_failureTexts;
};
