#pragma once

#include "MidiServiceBase.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <atomic>
#include <deque>
#include <map>

// In-process MIDI devices for tests and benchmarks. A test adds named input and output devices
// (and, if it likes, an output mapper as device -1), makes an input device send bytes from a
// thread of its own with send(), and reads what the program sent with output(). Each device can
// be open once at a time. The clock of time stamps can be set by hand, and any call can be made
// to fail with a chosen code.
class LoopbackMidiService final : public MidiServiceBase {
public:
    LoopbackMidiService();
    ~LoopbackMidiService() override;

    // Adds a device and returns its number. Devices are added before they are used.
    int addInput(const QString &name);
    int addOutput(const QString &name);
    // Adds a device at a place in the list, as one plugged in later can come before the others:
    // the devices from there on move one number up. Returns the new device's number.
    int insertInput(int position, const QString &name);
    int insertOutput(int position, const QString &name);
    // Output device -1 (the mapper); an empty name removes it.
    void setMapper(const QString &name);

    // Unplugs a device: it leaves the device lists (the others keep their order), and an open
    // one delivers and takes nothing more and tells its handle that it has gone. Plugged in
    // again, it is listed at its place again and can be opened anew; a handle opened before
    // stays gone.
    void unplugInput(int device);
    void plugInput(int device);
    void unplugOutput(int device);
    void plugOutput(int device);
    // Every device at once, as when the MIDI server stops and starts again.
    void stopServer();
    void startServer();
    // The server reports late cycles, as a JACK server reports an xrun (any thread): each input
    // open now counts them; one opened later does not.
    void reportLateCycles(std::uint64_t cycles = 1);

    // Makes an input device receive one whole message (any thread). An empty message hands back
    // one queued System Exclusive buffer with nothing recorded. Returns false when the device is
    // not open.
    bool send(int input, QByteArrayView message);

    // Messages sent to an output device (-1: the mapper), in order.
    QList<QByteArray> output(int device) const;
    void clearOutput(int device);

    // The clock of time stamps: set by hand to a number of milliseconds (from any thread),
    // or the steady clock again.
    void setClockMs(double milliseconds);
    void useSteadyClock();

    // The (skip + 1)-th next call of this kind fails with code, doing nothing.
    void failCall(MidiCall call, MMRESULT code, int skip = 0);
    void clearFailures();

    // What midiSystemStatus answers; by default an available system of in-process devices.
    MidiSystemStatus midiSystemStatus() override;
    void setMidiSystemStatus(MidiSystemStatus status);

protected:
    std::vector<MidiDeviceInfo> listInputs() override;
    std::vector<MidiDeviceInfo> listOutputs() override;
    bool mapper(MidiDeviceInfo &info) override;
    std::unique_ptr<MidiInputEndpoint> openInput(const MidiDeviceInfo &device, MidiInputSink &sink,
                                                 MMRESULT &result) override;
    std::unique_ptr<MidiOutputEndpoint> openOutput(const MidiDeviceInfo &device,
                                                   MMRESULT &result) override;
    double nowSeconds() const override;
    MMRESULT injectedFailure(MidiCall call) override;

private:
    struct Input;
    struct Output;
    class InputEndpoint;
    class OutputEndpoint;

    Input *input(int device) const;
    Output *outputDevice(int device) const;

    static constexpr int MapperIndex = -1;

    mutable std::mutex m_devicesLock;
    std::deque<std::unique_ptr<Input>> m_inputs; // stable addresses
    std::deque<std::unique_ptr<Output>> m_outputs;
    std::unique_ptr<Output> m_mapper;
    QString m_mapperName;

    std::atomic<std::int64_t> m_clockMicros{-1};
    std::atomic<std::uint64_t> m_lateCycles{0}; // -1: the steady clock

    std::mutex m_failLock;
    std::map<MidiCall, std::pair<int, MMRESULT>> m_failures;
    MidiSystemStatus m_systemStatus{true, QStringLiteral("MIDI system: loopback test devices")}; // under m_devicesLock
};
