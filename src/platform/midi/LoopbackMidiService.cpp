#include "LoopbackMidiService.h"

#include <algorithm>
#include <limits>

#include <cmath>

struct LoopbackMidiService::Input {
    QString name;
    std::mutex lock; // guards the fields below; held while a message is delivered
    MidiInputSink *sink = nullptr;
    double lastSend = NAN;
    bool plugged = true;
    unsigned generation = 0; // counts unplugs: a handle of an older one has lost its device
};

struct LoopbackMidiService::Output {
    QString name;
    mutable std::mutex lock;
    bool open = false;
    bool plugged = true;
    unsigned generation = 0;
    QList<QByteArray> messages;
};

class LoopbackMidiService::InputEndpoint final : public MidiInputEndpoint {
public:
    InputEndpoint(Input &device, unsigned generation, const std::atomic<std::uint64_t> &lateCycles)
        : m_device(device), m_generation(generation), m_lateCycles(lateCycles), m_lateAtOpen(lateCycles.load())
    {
    }
    ~InputEndpoint() override
    {
        std::lock_guard guard(m_device.lock); // waits for a delivery in progress
        if (m_device.generation == m_generation)
            m_device.sink = nullptr;
    }
    bool present() override
    {
        std::lock_guard guard(m_device.lock);
        return m_device.plugged && m_device.generation == m_generation;
    }
    std::uint64_t lateCycles() const override { return m_lateCycles.load() - m_lateAtOpen; }

private:
    Input &m_device;
    unsigned m_generation;
    const std::atomic<std::uint64_t> &m_lateCycles;
    std::uint64_t m_lateAtOpen;
};

class LoopbackMidiService::OutputEndpoint final : public MidiOutputEndpoint {
public:
    OutputEndpoint(Output &device, unsigned generation) : m_device(device), m_generation(generation) {}
    ~OutputEndpoint() override
    {
        std::lock_guard guard(m_device.lock);
        if (m_device.generation == m_generation)
            m_device.open = false;
    }
    MMRESULT send(const std::uint8_t *bytes, std::size_t size) override
    {
        std::lock_guard guard(m_device.lock);
        if (m_device.generation != m_generation)
            return MIDIERR_NODEVICE;
        m_device.messages.append(QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)));
        return MMSYSERR_NOERROR;
    }
    bool present() override
    {
        std::lock_guard guard(m_device.lock);
        return m_device.plugged && m_device.generation == m_generation;
    }

private:
    Output &m_device;
    unsigned m_generation;
};

LoopbackMidiService::LoopbackMidiService() = default;

MidiSystemStatus LoopbackMidiService::midiSystemStatus()
{
    std::lock_guard guard(m_devicesLock);
    return m_systemStatus;
}

void LoopbackMidiService::setMidiSystemStatus(MidiSystemStatus status)
{
    std::lock_guard guard(m_devicesLock);
    m_systemStatus = std::move(status);
}

LoopbackMidiService::~LoopbackMidiService()
{
    closeAllDevices();
}

int LoopbackMidiService::addInput(const QString &name)
{
    return insertInput(std::numeric_limits<int>::max(), name);
}

int LoopbackMidiService::addOutput(const QString &name)
{
    return insertOutput(std::numeric_limits<int>::max(), name);
}

namespace {

// Inserts into a list of devices whose addresses stay put (open endpoints refer to them).
template <typename Device>
int insertDevice(std::deque<std::unique_ptr<Device>> &devices, int position, const QString &name)
{
    auto device = std::make_unique<Device>();
    device->name = name;
    const auto at = static_cast<std::size_t>(std::clamp(position, 0, static_cast<int>(devices.size())));
    devices.insert(devices.begin() + static_cast<std::ptrdiff_t>(at), std::move(device));
    return static_cast<int>(at);
}

} // namespace

int LoopbackMidiService::insertInput(int position, const QString &name)
{
    std::lock_guard guard(m_devicesLock);
    return insertDevice(m_inputs, position, name);
}

int LoopbackMidiService::insertOutput(int position, const QString &name)
{
    std::lock_guard guard(m_devicesLock);
    return insertDevice(m_outputs, position, name);
}

void LoopbackMidiService::setMapper(const QString &name)
{
    std::lock_guard guard(m_devicesLock);
    m_mapperName = name;
    if (!name.isEmpty() && !m_mapper)
        m_mapper = std::make_unique<Output>();
    if (m_mapper)
        m_mapper->name = name;
}

void LoopbackMidiService::unplugInput(int device)
{
    if (Input *in = input(device)) {
        std::lock_guard guard(in->lock);
        if (!in->plugged)
            return;
        in->plugged = false;
        in->sink = nullptr;
        ++in->generation;
    }
}

void LoopbackMidiService::plugInput(int device)
{
    if (Input *in = input(device)) {
        std::lock_guard guard(in->lock);
        in->plugged = true;
    }
}

void LoopbackMidiService::unplugOutput(int device)
{
    if (Output *out = outputDevice(device)) {
        std::lock_guard guard(out->lock);
        if (!out->plugged)
            return;
        out->plugged = false;
        out->open = false;
        ++out->generation;
    }
}

void LoopbackMidiService::plugOutput(int device)
{
    if (Output *out = outputDevice(device)) {
        std::lock_guard guard(out->lock);
        out->plugged = true;
    }
}

void LoopbackMidiService::reportLateCycles(std::uint64_t cycles)
{
    m_lateCycles.fetch_add(cycles);
}

void LoopbackMidiService::stopServer()
{
    int inputs, outputs;
    {
        std::lock_guard guard(m_devicesLock);
        inputs = static_cast<int>(m_inputs.size());
        outputs = static_cast<int>(m_outputs.size());
    }
    for (int i = 0; i < inputs; ++i)
        unplugInput(i);
    for (int i = 0; i < outputs; ++i)
        unplugOutput(i);
}

void LoopbackMidiService::startServer()
{
    int inputs, outputs;
    {
        std::lock_guard guard(m_devicesLock);
        inputs = static_cast<int>(m_inputs.size());
        outputs = static_cast<int>(m_outputs.size());
    }
    for (int i = 0; i < inputs; ++i)
        plugInput(i);
    for (int i = 0; i < outputs; ++i)
        plugOutput(i);
}

LoopbackMidiService::Input *LoopbackMidiService::input(int device) const
{
    std::lock_guard guard(m_devicesLock);
    return device >= 0 && device < static_cast<int>(m_inputs.size()) ? m_inputs[device].get() : nullptr;
}

LoopbackMidiService::Output *LoopbackMidiService::outputDevice(int device) const
{
    std::lock_guard guard(m_devicesLock);
    if (device == MapperIndex)
        return m_mapper.get();
    return device >= 0 && device < static_cast<int>(m_outputs.size()) ? m_outputs[device].get() : nullptr;
}

bool LoopbackMidiService::send(int device, QByteArrayView message)
{
    Input *in = input(device);
    if (!in)
        return false;
    std::lock_guard guard(in->lock);
    if (!in->sink)
        return false;
    const double now = nowSeconds();
    const double delta = std::isnan(in->lastSend) ? 0.0 : now - in->lastSend;
    in->lastSend = now;
    in->sink->receive(reinterpret_cast<const std::uint8_t *>(message.data()),
                      std::size_t(message.size()), delta);
    return true;
}

QList<QByteArray> LoopbackMidiService::output(int device) const
{
    Output *out = outputDevice(device);
    if (!out)
        return {};
    std::lock_guard guard(out->lock);
    return out->messages;
}

void LoopbackMidiService::clearOutput(int device)
{
    if (Output *out = outputDevice(device)) {
        std::lock_guard guard(out->lock);
        out->messages.clear();
    }
}

void LoopbackMidiService::setClockMs(double milliseconds)
{
    m_clockMicros.store(std::llround(milliseconds * 1000.0));
}

void LoopbackMidiService::useSteadyClock()
{
    m_clockMicros.store(-1);
}

double LoopbackMidiService::nowSeconds() const
{
    const std::int64_t micros = m_clockMicros.load();
    return micros < 0 ? MidiServiceBase::nowSeconds() : double(micros) / 1e6;
}

void LoopbackMidiService::failCall(MidiCall call, MMRESULT code, int skip)
{
    std::lock_guard guard(m_failLock);
    m_failures[call] = {skip, code};
}

void LoopbackMidiService::clearFailures()
{
    std::lock_guard guard(m_failLock);
    m_failures.clear();
}

MMRESULT LoopbackMidiService::injectedFailure(MidiCall call)
{
    std::lock_guard guard(m_failLock);
    auto it = m_failures.find(call);
    if (it == m_failures.end())
        return MMSYSERR_NOERROR;
    if (it->second.first > 0) {
        --it->second.first;
        return MMSYSERR_NOERROR;
    }
    const MMRESULT code = it->second.second;
    m_failures.erase(it);
    return code;
}

std::vector<MidiDeviceInfo> LoopbackMidiService::listInputs()
{
    std::lock_guard guard(m_devicesLock);
    std::vector<MidiDeviceInfo> list;
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        std::lock_guard device(m_inputs[i]->lock);
        if (m_inputs[i]->plugged)
            list.push_back({m_inputs[i]->name, static_cast<int>(i), {}});
    }
    return list;
}

std::vector<MidiDeviceInfo> LoopbackMidiService::listOutputs()
{
    std::lock_guard guard(m_devicesLock);
    std::vector<MidiDeviceInfo> list;
    for (std::size_t i = 0; i < m_outputs.size(); ++i) {
        std::lock_guard device(m_outputs[i]->lock);
        if (m_outputs[i]->plugged)
            list.push_back({m_outputs[i]->name, static_cast<int>(i), {}});
    }
    return list;
}

bool LoopbackMidiService::mapper(MidiDeviceInfo &info)
{
    std::lock_guard guard(m_devicesLock);
    if (m_mapperName.isEmpty())
        return false;
    info = {m_mapperName, MapperIndex, {}};
    return true;
}

std::unique_ptr<MidiInputEndpoint> LoopbackMidiService::openInput(const MidiDeviceInfo &device,
                                                                  MidiInputSink &sink, MMRESULT &result)
{
    Input *in = input(device.api);
    if (!in) {
        result = MIDIERR_NODEVICE;
        return nullptr;
    }
    std::lock_guard guard(in->lock);
    if (!in->plugged) {
        result = MIDIERR_NODEVICE;
        return nullptr;
    }
    if (in->sink) {
        result = MMSYSERR_ALLOCATED;
        return nullptr;
    }
    in->sink = &sink;
    in->lastSend = NAN;
    return std::make_unique<InputEndpoint>(*in, in->generation, m_lateCycles);
}

std::unique_ptr<MidiOutputEndpoint> LoopbackMidiService::openOutput(const MidiDeviceInfo &device,
                                                                    MMRESULT &result)
{
    Output *out = outputDevice(device.api);
    if (!out) {
        result = MIDIERR_NODEVICE;
        return nullptr;
    }
    std::lock_guard guard(out->lock);
    if (!out->plugged) {
        result = MIDIERR_NODEVICE;
        return nullptr;
    }
    if (out->open) {
        result = MMSYSERR_ALLOCATED;
        return nullptr;
    }
    out->open = true;
    return std::make_unique<OutputEndpoint>(*out, out->generation);
}
