#pragma once

#include "MidiServiceBase.h"

#include <array>
#include <functional>
#include <memory>

class JackServerWatch;
class RtMidiIn;
class RtMidiOut;

// Real MIDI devices through RtMidi: on Linux the ALSA sequencer's ports (when the sequencer is
// there), then a running JACK server's ports; WinMM on Windows and CoreMIDI on macOS. Every
// RtMidi failure, thrown or reported, becomes a result code whose error text is RtMidi's
// message. There is no mapper (device -1).
//
// Each open device is a client of its own, named after the service's client name, with one port
// ("in" or "out") connected to the chosen device. Input is copied on RtMidi's thread into a
// relay, whose thread delivers it. A JACK input is a client of libjack's own instead
// (JackMidiInput.h), which counts the periods it missed or was run twice in.
//
// A device that goes away is noticed by midiInCheckDevice / midiOutCheckDevice: for JACK a watch
// client of its own ("<client name>-watch", without ports) is told when the server ends, and a
// device is there while the server it was opened on runs and has its port; elsewhere a device is
// there while its port is listed. The watch client also counts the JACK server's xruns, which a
// JACK input device adds to its late cycles from its open on (MidiService::midiInLateCount).
class RtMidiService final : public MidiServiceBase {
public:
    // Routes the libraries' own messages away from the error stream (MidiLibraryMessages.h).
    explicit RtMidiService(QString clientName = QStringLiteral("Corvane"));
    ~RtMidiService() override;

    // The ALSA sequencer where its device is there, a JACK server where one answers.
    MidiSystemStatus midiSystemStatus() override;

    // A port name that stays the same from one session to the next: ALSA's "Client:Port 20:0"
    // loses its trailing client and port numbers, which change with the order of plugging.
    static QString stableProductName(const QString &portName);

    // Hands what RtMidi delivered as one message to the sink, one message at a time. RtMidi
    // gathers a System Exclusive message that arrives in pieces until a piece ends with F7; when
    // one is never finished (its sender vanished in the middle of it), whatever comes next, even
    // from another sender, is glued to it until something ends with F7. A status byte ends a
    // System Exclusive message (only real-time bytes F8 to FF may stand inside one), so gathered
    // bytes are split there: the unfinished part goes to the sink as the incomplete message it
    // is, then each message that followed it. Anything else is handed on as it is.
    static void deliverGathered(MidiInputSink &sink, const std::uint8_t *bytes, std::size_t size, double deltaSeconds);

    // The largest message RtMidi's JACK output queue takes; it silently drops longer ones.
    static constexpr std::size_t JackMaxMessage = 16379;

protected:
    std::vector<MidiDeviceInfo> listInputs() override;
    std::vector<MidiDeviceInfo> listOutputs() override;
    std::unique_ptr<MidiInputEndpoint> openInput(const MidiDeviceInfo &device, MidiInputSink &sink,
                                                 MMRESULT &result) override;
    std::unique_ptr<MidiOutputEndpoint> openOutput(const MidiDeviceInfo &device,
                                                   MMRESULT &result) override;

private:
    template <typename Port>
    std::vector<MidiDeviceInfo> list();
    bool jackServerRunning();
    bool alsaSequencerAvailable();
    // How an endpoint of the device tells whether the device is still there (present; empty: it
    // cannot tell, and counts as there), and whether the JACK server it was opened on has ended
    // (serverEnded; empty for other systems), when its RtMidi client must not be closed.
    // serverLate: the JACK server's xruns so far (JackServerWatch::xruns); empty for other
    // systems.
    struct Presence {
        std::function<bool()> present;
        std::function<bool()> serverEnded;
        std::function<std::uint64_t()> serverLate;
    };
    Presence presence(const MidiDeviceInfo &device, bool input);
    bool portListed(int api, bool input, const std::string &portName);

    QString m_clientName;
    // Clients that list the ports of a system for portListed, kept from one look to the next.
    std::mutex m_watchLock;
    std::array<std::unique_ptr<RtMidiIn>, 16> m_inputProbes;
    std::array<std::unique_ptr<RtMidiOut>, 16> m_outputProbes;
    std::unique_ptr<JackServerWatch> m_jackWatch;
    std::mutex m_apiLock;
    // APIs whose construction failed for good (no ALSA sequencer device, for example); they
    // are not tried again, which would only repeat RtMidi's complaint on the error stream.
    std::array<bool, 16> m_apiUnavailable{};
};
