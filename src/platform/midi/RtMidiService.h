#pragma once

#include "MidiServiceBase.h"

#include <array>

// Real MIDI devices through RtMidi: on Linux the ALSA sequencer's ports (when the sequencer is
// there), then a running JACK server's ports; WinMM on Windows and CoreMIDI on macOS. Every
// RtMidi failure, thrown or reported, becomes a result code whose error text is RtMidi's
// message. There is no mapper (device -1).
//
// Each open device is a client of its own, named after the service's client name, with one port
// ("in" or "out") connected to the chosen device.
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

    QString m_clientName;
    std::mutex m_apiLock;
    // APIs whose construction failed for good (no ALSA sequencer device, for example); they
    // are not tried again, which would only repeat RtMidi's complaint on the error stream.
    std::array<bool, 16> m_apiUnavailable{};
};
