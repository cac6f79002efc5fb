#pragma once

#include <QString>

#include <cstdint>

// The platform MIDI service, in the shape of the Windows multimedia MIDI interface that the
// ports are written against: devices listed by number with product names, input delivered to a
// callback on a thread of the service, System Exclusive input into buffers the program queues,
// short and long output with a completion report, and a result code for every call.
//
// Backends: RtMidiService (real devices: ALSA, JACK, WinMM, CoreMIDI through RtMidi) and
// LoopbackMidiService (in-process devices for tests).

using MMRESULT = std::uint32_t;

// Result codes. 0 is success; the text of any other code comes from midiInGetErrorText /
// midiOutGetErrorText. Codes fit 16 bits, as the ports keep only the low 16 bits.
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIDIERR_UNPREPARED = 64;
inline constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
inline constexpr MMRESULT MIDIERR_NOTREADY = 67;
inline constexpr MMRESULT MIDIERR_NODEVICE = 68;
// Our own: a long message larger than the device can take in one piece.
inline constexpr MMRESULT MIDIERR_TOOLONG = 0x200;
// Failures reported by the MIDI library: one code per kind of failure, from this base up; the
// error text is the library's own message for the most recent failure of that kind.
inline constexpr MMRESULT MIDIERR_LIBRARYBASE = 0x300;
inline constexpr MMRESULT MIDIERR_LIBRARYLAST = 0x3FF;

// Callback messages (the instance data, Param1 and Param2 are described at MidiCallback).
inline constexpr std::uint32_t MIM_OPEN = 0x3C1;
inline constexpr std::uint32_t MIM_CLOSE = 0x3C2;
inline constexpr std::uint32_t MIM_DATA = 0x3C3;      // Param1 packed short message, Param2 time stamp
inline constexpr std::uint32_t MIM_LONGDATA = 0x3C4;  // Param1 the MIDIHDR, Param2 time stamp
inline constexpr std::uint32_t MIM_ERROR = 0x3C5;
inline constexpr std::uint32_t MIM_LONGERROR = 0x3C6; // Param1 the MIDIHDR (incomplete message)
inline constexpr std::uint32_t MOM_OPEN = 0x3C7;
inline constexpr std::uint32_t MOM_CLOSE = 0x3C8;
inline constexpr std::uint32_t MOM_DONE = 0x3C9;      // Param1 the MIDIHDR that has been sent
inline constexpr std::uint32_t MIM_MOREDATA = 0x3CC;

inline constexpr std::uint32_t CALLBACK_FUNCTION = 0x30000;
inline constexpr int MIDI_MAPPER = -1;

// MIDIHDR.dwFlags
inline constexpr std::uint32_t MHDR_DONE = 0x1;
inline constexpr std::uint32_t MHDR_PREPARED = 0x2;
inline constexpr std::uint32_t MHDR_INQUEUE = 0x4;

// MIDIOUTCAPS.wTechnology
inline constexpr std::uint16_t MOD_MIDIPORT = 1;
inline constexpr std::uint16_t MOD_MAPPER = 5;

// One long-message buffer. The program sets lpData, dwBufferLength and dwUser; the service
// sets dwBytesRecorded and dwFlags and links queued input buffers through lpNext.
struct MIDIHDR {
    std::uint8_t *lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    MIDIHDR *lpNext = nullptr;
    std::uintptr_t reserved = 0;
    std::uint32_t dwOffset = 0;
    std::uintptr_t dwReserved[8] = {};
};

// Capabilities. Product names are given whole: the 31-character limit of the Windows records
// would make long ALSA and JACK port names ambiguous.
struct MIDIINCAPS {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    QString szPname;
    std::uint32_t dwSupport = 0;
};

struct MIDIOUTCAPS {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    QString szPname;
    std::uint16_t wTechnology = 0;
    std::uint16_t wVoices = 0;
    std::uint16_t wNotes = 0;
    std::uint16_t wChannelMask = 0;
    std::uint32_t dwSupport = 0;
};

// Open devices. The handles are opaque; every call checks that it gets a live one.
struct MidiInHandle;
struct MidiOutHandle;
using HMIDIIN = MidiInHandle *;
using HMIDIOUT = MidiOutHandle *;

// Called on a thread of the service (or, for buffers handed back by midiInReset and for
// MOM_DONE, on the thread that made the call) with the device handle, the message, the instance
// data given at open, and two parameters. It must return quickly and must not call the service.
// Calls for one device never overlap, and none is made once midiInClose / midiOutClose returned.
using MidiCallback = void (*)(void *device, std::uint32_t message, std::uintptr_t instance,
                              std::uintptr_t param1, std::uintptr_t param2);

// What the operator is told about the MIDI system a service reaches: the system in use, or that
// there is none and what to start.
struct MidiSystemStatus {
    bool available = false;
    QString text; // one sentence or two, for the error stream and the device window

    bool operator==(const MidiSystemStatus &) const = default;
};

class MidiService {
public:
    virtual ~MidiService() = default;

    // Looks afresh (a server may have started or stopped since the last look).
    virtual MidiSystemStatus midiSystemStatus() = 0;

    // Input. Device numbers count from 0 in the order of the latest midiInGetNumDevs.
    virtual std::uint32_t midiInGetNumDevs() = 0;
    virtual MMRESULT midiInGetDevCaps(int deviceId, MIDIINCAPS &caps) = 0;
    // MMSYSERR_BADERRNUM (and an empty text) for a code the service does not know.
    virtual MMRESULT midiInGetErrorText(MMRESULT code, QString &text) = 0;
    virtual MMRESULT midiInOpen(HMIDIIN *handle, int deviceId, MidiCallback callback,
                                std::uintptr_t instance, std::uint32_t flags) = 0;
    virtual MMRESULT midiInPrepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) = 0;
    virtual MMRESULT midiInUnprepareHeader(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) = 0;
    // Queues a prepared buffer. System Exclusive input fills the queued buffers in order (a
    // message larger than one buffer continues in the next) and hands each back with
    // MIM_LONGDATA; a message that arrives while no buffer is queued is lost and counted.
    virtual MMRESULT midiInAddBuffer(HMIDIIN handle, MIDIHDR *header, std::uint32_t size) = 0;
    // Time stamps count milliseconds from the latest start; nothing is delivered while stopped.
    virtual MMRESULT midiInStart(HMIDIIN handle) = 0;
    virtual MMRESULT midiInStop(HMIDIIN handle) = 0;
    // Stops input and hands every queued buffer back (MIM_LONGDATA, no bytes recorded).
    virtual MMRESULT midiInReset(HMIDIIN handle) = 0;
    // Always closes a live handle: buffers still queued are handed back first, and no callback
    // is made once this returns.
    virtual MMRESULT midiInClose(HMIDIIN handle) = 0;
    // Messages lost since the device was opened: System Exclusive messages that found no buffer
    // queued (or too small ones), and messages the service could not carry from the device.
    virtual std::uint64_t midiInLostCount(HMIDIIN handle) = 0;
    // Late cycles of the MIDI server since the device was opened: periods in which the server may
    // have dropped the device's input before this program could see it, so that no count above
    // can include it. For a JACK server, each xrun it reports and each period this program's
    // clients were not run (stopped, or starved of the processor); 0 for systems that keep
    // no periods. A late cycle is not a lost event: an idle device loses nothing in one.
    virtual std::uint64_t midiInLateCount(HMIDIIN handle) = 0;
    // Whether the device of an open handle can still be reached: MMSYSERR_NOERROR while it can,
    // MIDIERR_NODEVICE once it, or the MIDI server it was reached through, has gone (unplugged,
    // server stopped). Such a device delivers nothing more: close it, and open it again once it
    // is listed again. Quick enough to be asked every second.
    virtual MMRESULT midiInCheckDevice(HMIDIIN handle) = 0;

    // Output. Device number MIDI_MAPPER (-1) is the platform's mapper, where there is one.
    virtual std::uint32_t midiOutGetNumDevs() = 0;
    virtual MMRESULT midiOutGetDevCaps(int deviceId, MIDIOUTCAPS &caps) = 0;
    virtual MMRESULT midiOutGetErrorText(MMRESULT code, QString &text) = 0;
    virtual MMRESULT midiOutOpen(HMIDIOUT *handle, int deviceId, MidiCallback callback,
                                 std::uintptr_t instance, std::uint32_t flags) = 0;
    // Status in bits 0-7, first data byte in bits 8-15, second in bits 16-23.
    virtual MMRESULT midiOutShortMsg(HMIDIOUT handle, std::uint32_t message) = 0;
    virtual MMRESULT midiOutPrepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) = 0;
    virtual MMRESULT midiOutUnprepareHeader(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) = 0;
    // Sends dwBufferLength bytes of a prepared header; MOM_DONE reports the header once sent.
    virtual MMRESULT midiOutLongMsg(HMIDIOUT handle, MIDIHDR *header, std::uint32_t size) = 0;
    virtual MMRESULT midiOutReset(HMIDIOUT handle) = 0;
    virtual MMRESULT midiOutClose(HMIDIOUT handle) = 0;
    // As midiInCheckDevice: a device that has gone takes nothing more.
    virtual MMRESULT midiOutCheckDevice(HMIDIOUT handle) = 0;
};

// The service the ports use unless they are given one: the RtMidi service, created at first use.
MidiService &midiService();

// Installs a service (not owned; it must outlive its use), or the default for nullptr.
// Returns the previous one.
MidiService *setMidiService(MidiService *service);

// Says on the error stream, prefixed with the program's name, which MIDI system is in use or
// that there is none: the first time, then only when it changes. Returns whether it said it.
bool reportMidiSystem(const MidiSystemStatus &status);
