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
    explicit RtMidiService(QString clientName = QStringLiteral("Corvane"));
    ~RtMidiService() override;

    // A port name that stays the same from one session to the next: ALSA's "Client:Port 20:0"
    // loses its trailing client and port numbers, which change with the order of plugging.
    static QString stableProductName(const QString &portName);

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

    QString m_clientName;
    std::mutex m_apiLock;
    // APIs whose construction failed for good (no ALSA sequencer device, for example); they
    // are not tried again, which would only repeat RtMidi's complaint on the error stream.
    std::array<bool, 16> m_apiUnavailable{};
};
