#include "RtMidiService.h"

#include "JackMidiInput.h"
#include "JackServerWatch.h"
#include "MidiInputRelay.h"
#include "MidiLibraryMessages.h"

#include <RtMidi.h>

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <type_traits>

namespace {

// Collects what RtMidi reports through its error callback. With a callback installed RtMidi
// reports instead of throwing, so each call is followed by a look here. The first report since
// the last look is kept.
class ErrorLog {
public:
    static void report(RtMidiError::Type type, const std::string &text, void *log)
    {
        static_cast<ErrorLog *>(log)->record(type, text);
    }

    void record(RtMidiError::Type type, const std::string &text)
    {
        if (type == RtMidiError::DEBUG_WARNING)
            return;
        std::lock_guard guard(m_lock);
        if (!m_reported) {
            m_reported = true;
            m_type = type;
            m_text = text;
        }
    }

    bool take(RtMidiError::Type &type, std::string &text)
    {
        std::lock_guard guard(m_lock);
        if (!m_reported)
            return false;
        m_reported = false;
        type = m_type;
        text = std::move(m_text);
        return true;
    }

    void clear()
    {
        std::lock_guard guard(m_lock);
        m_reported = false;
    }

private:
    std::mutex m_lock;
    bool m_reported = false;
    RtMidiError::Type m_type = RtMidiError::UNSPECIFIED;
    std::string m_text;
};

constexpr RtMidi::Api PreferredApis[] = {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK, RtMidi::WINDOWS_MM,
                                         RtMidi::MACOSX_CORE};

// A port of the API, made with what RtMidi reports meanwhile routed away from the error stream.
template <typename Port>
std::unique_ptr<Port> makePort(RtMidi::Api api, const QString &clientName)
{
    const RoutedErrorStream routed;
    return std::make_unique<Port>(api, clientName.toStdString());
}

// Keeps a port whose client belongs to a JACK server that ended: it must not be destroyed (see
// JackServerWatch::serverEnded), so it stays, unused, for the rest of the process; a few hundred
// bytes each time a server ends under an open device. Held from a pointer that is never freed,
// so that leak checkers see it as kept, not lost.
void keepForever(RtMidi *port)
{
    static auto *lock = new std::mutex;
    static auto *kept = new std::vector<RtMidi *>;
    const std::lock_guard guard(*lock);
    kept->push_back(port);
}

MMRESULT libraryCode(RtMidiError::Type type)
{
    return MIDIERR_LIBRARYBASE + static_cast<MMRESULT>(type);
}

// The names of the ports, by number. RtMidi asks the server afresh for every name, so ports that
// other clients add or remove meanwhile shift the numbers under the enumeration: it is repeated
// until two in a row agree.
template <typename Port>
std::vector<std::string> portNames(Port &port)
{
    auto enumerate = [&port] {
        std::vector<std::string> names;
        const unsigned count = port.getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(port.getPortName(i));
        return names;
    };
    std::vector<std::string> names = enumerate();
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<std::string> again = enumerate();
        if (again == names)
            break;
        names = std::move(again);
    }
    return names;
}

// The number of the port with this name in a fresh enumeration, or -1. Port numbers can change
// between the listing and the open, so the port is looked up again by its full name, then by its
// stable name.
template <typename Port>
int findPort(Port &port, const MidiDeviceInfo &device)
{
    const std::vector<std::string> names = portNames(port);
    const unsigned count = static_cast<unsigned>(names.size());
    for (unsigned i = 0; i < count; ++i) {
        if (names[i] == device.portName)
            return static_cast<int>(i);
    }
    for (unsigned i = 0; i < count; ++i) {
        if (RtMidiService::stableProductName(QString::fromStdString(names[i])) == device.name)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

class RtInputEndpoint final : public MidiInputEndpoint {
public:
    RtInputEndpoint(MidiInputSink &sink, std::function<bool()> present, std::function<bool()> serverEnded)
        : m_present(std::move(present)), m_serverEnded(std::move(serverEnded)),
          m_relay([&sink](const std::uint8_t *bytes, std::size_t size, double deltaSeconds) {
              RtMidiService::deliverGathered(sink, bytes, size, deltaSeconds);
          })
    {
    }
    ~RtInputEndpoint() override
    {
        // A client of a JACK server that ended is libjack's to free (JackServerWatch::serverEnded);
        // its thread ended with the server, so nothing calls back any more.
        if (port && m_serverEnded && m_serverEnded()) {
            keepForever(port.release());
            return;
        }
        // Closing the port and destroying the client stop RtMidi's thread; any message still in
        // flight is delivered before that and finds the device closed.
        if (port) {
            try {
                port->closePort();
            } catch (...) {
            }
        }
        port.reset();
    }

    // RtMidi's thread, which for JACK is the server's process thread: the message is only
    // copied for the relay's thread.
    static void onMessage(double deltaSeconds, std::vector<unsigned char> *message, void *self)
    {
        if (message)
            static_cast<RtInputEndpoint *>(self)->m_relay.push(message->data(), message->size(), deltaSeconds);
    }

    bool present() override { return !m_present || m_present(); }
    std::uint64_t lost() const override { return m_relay.lost(); }

    ErrorLog log; // outlives the port, which reports to it
    std::unique_ptr<RtMidiIn> port;

private:
    std::function<bool()> m_present;
    std::function<bool()> m_serverEnded;
    MidiInputRelay m_relay; // stops after the port: nothing is pushed once it is closed
};

class RtOutputEndpoint final : public MidiOutputEndpoint {
public:
    using Fail = std::function<MMRESULT(RtMidiError::Type, const std::string &)>;

    RtOutputEndpoint(RtMidi::Api api, Fail fail) : m_api(api), m_fail(std::move(fail)) {}
    ~RtOutputEndpoint() override
    {
        // As for the input: a client of a JACK server that ended is libjack's to free.
        if (port && m_serverEnded && m_serverEnded()) {
            keepForever(port.release());
            return;
        }
        if (port) {
            try {
                port->closePort();
            } catch (...) {
            }
        }
        port.reset();
    }

    bool present() override { return !m_present || m_present(); }

    MMRESULT send(const std::uint8_t *bytes, std::size_t size) override
    {
        if (m_api == RtMidi::UNIX_JACK && size > RtMidiService::JackMaxMessage)
            return MIDIERR_TOOLONG;
        if (m_serverEnded && m_serverEnded())
            return MIDIERR_NODEVICE;
        try {
            port->sendMessage(bytes, size);
        } catch (const RtMidiError &e) {
            log.clear();
            return m_fail(e.getType(), e.getMessage());
        }
        RtMidiError::Type type;
        std::string text;
        if (log.take(type, text))
            return m_fail(type, text);
        return MMSYSERR_NOERROR;
    }

    ErrorLog log;
    std::unique_ptr<RtMidiOut> port;
    std::function<bool()> m_present;
    std::function<bool()> m_serverEnded;

private:
    RtMidi::Api m_api;
    Fail m_fail;
};

RtMidiService::RtMidiService(QString clientName) : m_clientName(std::move(clientName))
{
    routeMidiLibraryMessages();
}

RtMidiService::~RtMidiService()
{
    closeAllDevices();
}

RtMidiService::Presence RtMidiService::presence(const MidiDeviceInfo &device, bool input)
{
    const auto api = static_cast<RtMidi::Api>(device.api);
    if (api == RtMidi::UNIX_JACK) {
#if defined(CORVANE_HAVE_JACK)
        {
            std::lock_guard guard(m_apiLock);
            if (!m_jackWatch)
                m_jackWatch = std::make_unique<JackServerWatch>(m_clientName.toStdString() + "-watch");
        }
        const std::uint64_t generation = m_jackWatch->attach();
        if (generation == 0)
            return {}; // the server cannot be watched: the device counts as there
        JackServerWatch *watch = m_jackWatch.get();
        return {[watch, generation, port = device.portName] { return watch->portPresent(generation, port); },
                [watch, generation] { return watch->serverEnded(generation); },
                [watch] { return watch->xruns(); }};
#else
        return {};
#endif
    }
    // Other systems keep no state in a server: a device is there while its port is listed.
    return {[this, api, input, port = device.portName] { return portListed(api, input, port); }, {}, {}};
}

bool RtMidiService::portListed(int api, bool input, const std::string &portName)
{
    auto listed = [&portName](auto &probe) {
        const unsigned count = probe.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (probe.getPortName(i) == portName)
                return true;
        }
        return false;
    };
    std::lock_guard guard(m_watchLock);
    try {
        const auto which = static_cast<RtMidi::Api>(api);
        if (input) {
            std::unique_ptr<RtMidiIn> &probe = m_inputProbes[std::size_t(api)];
            if (!probe)
                probe = makePort<RtMidiIn>(which, m_clientName);
            return listed(*probe);
        }
        std::unique_ptr<RtMidiOut> &probe = m_outputProbes[std::size_t(api)];
        if (!probe)
            probe = makePort<RtMidiOut>(which, m_clientName);
        return listed(*probe);
    } catch (const std::exception &) {
        return true; // cannot tell: not reported as gone
    }
}

QString RtMidiService::stableProductName(const QString &portName)
{
    static const QRegularExpression clientAndPort(QStringLiteral("\\s+\\d+:\\d+$"));
    QString name = portName;
    name.remove(clientAndPort);
    return name;
}

void RtMidiService::deliverGathered(MidiInputSink &sink, const std::uint8_t *bytes, std::size_t size,
                                    double deltaSeconds)
{
    auto endsSysex = [](std::uint8_t b) { return b >= 0x80 && b < 0xF8 && b != 0xF7; };
    if (size == 0 || bytes[0] != 0xF0 || std::find_if(bytes + 1, bytes + size, endsSysex) == bytes + size) {
        sink.receive(bytes, size, deltaSeconds);
        return;
    }
    std::size_t at = 0;
    while (at < size) {
        std::size_t end = at + 1;
        if (bytes[at] == 0xF0) {
            while (end < size && !endsSysex(bytes[end]) && bytes[end - 1] != 0xF7)
                ++end;
        } else {
            const auto length = std::size_t(std::max(1, shortMessageLength(bytes[at])));
            while (end < size && end - at < length && bytes[end] < 0x80)
                ++end;
        }
        sink.receive(bytes + at, end - at, at == 0 ? deltaSeconds : 0.0);
        at = end;
        while (at < size && bytes[at] < 0x80)
            ++at; // data bytes without a status byte of their own are no message
    }
}

// RtMidi 5's JACK output makes a new 16 KiB queue at each attempt to reach the server and frees
// only the last one, so listing JACK outputs while no server runs would leak one queue each
// time. JACK outputs are therefore listed only after an input client, which has no such leak,
// has reached the server.
bool RtMidiService::jackServerRunning()
{
    try {
        ErrorLog log;
        const auto probe = makePort<RtMidiIn>(RtMidi::UNIX_JACK, m_clientName);
        probe->setErrorCallback(&ErrorLog::report, &log);
        probe->getPortCount(); // reports a warning when the server cannot be reached
        RtMidiError::Type type;
        std::string text;
        return !log.take(type, text);
    } catch (const std::exception &) {
        return false;
    }
}

bool RtMidiService::alsaSequencerAvailable()
{
    {
        std::lock_guard guard(m_apiLock);
        if (m_apiUnavailable[RtMidi::LINUX_ALSA])
            return false;
    }
    try {
        makePort<RtMidiIn>(RtMidi::LINUX_ALSA, m_clientName);
        return true;
    } catch (const RtMidiError &e) {
        if (e.getType() == RtMidiError::DRIVER_ERROR) {
            std::lock_guard guard(m_apiLock);
            m_apiUnavailable[RtMidi::LINUX_ALSA] = true;
        }
    } catch (const std::exception &) {
    }
    return false;
}

MidiSystemStatus RtMidiService::midiSystemStatus()
{
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    auto has = [&compiled](RtMidi::Api api) { return std::find(compiled.begin(), compiled.end(), api) != compiled.end(); };

    QStringList systems;
    if (has(RtMidi::LINUX_ALSA) && alsaSequencerAvailable())
        systems << QStringLiteral("ALSA sequencer");
    if (has(RtMidi::UNIX_JACK) && jackServerRunning()) {
        const QString server = qEnvironmentVariable("JACK_DEFAULT_SERVER", QStringLiteral("default"));
        systems << QStringLiteral("JACK server \"%1\"").arg(server);
    }
    if (has(RtMidi::WINDOWS_MM))
        systems << QStringLiteral("Windows MIDI");
    if (has(RtMidi::MACOSX_CORE))
        systems << QStringLiteral("Core MIDI");
    if (!systems.isEmpty())
        return {true, QStringLiteral("MIDI system: ") + systems.join(QStringLiteral(" and "))};

    QStringList missing, remedies;
    if (has(RtMidi::LINUX_ALSA)) {
        missing << QStringLiteral("no ALSA sequencer (/dev/snd/seq)");
        remedies << QStringLiteral("load the ALSA sequencer (modprobe snd-seq)");
    }
    if (has(RtMidi::UNIX_JACK)) {
        missing << QStringLiteral("no JACK server running");
        remedies.prepend(QStringLiteral("start a JACK server (for example: jackd -d dummy)"));
    }
    if (missing.isEmpty())
        return {false, QStringLiteral("No MIDI system: this build of the MIDI library supports none.")};
    QString remedy = remedies.join(QStringLiteral(" or "));
    remedy[0] = remedy[0].toUpper();
    return {false, QStringLiteral("No MIDI system: %1. %2, then open the devices again.")
                       .arg(missing.join(QStringLiteral(" and ")), remedy)};
}

template <typename Port>
std::vector<MidiDeviceInfo> RtMidiService::list()
{
    std::vector<MidiDeviceInfo> devices;
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    for (RtMidi::Api api : PreferredApis) {
        if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
            continue;
        {
            std::lock_guard guard(m_apiLock);
            if (m_apiUnavailable[api])
                continue;
        }
        if (std::is_same_v<Port, RtMidiOut> && api == RtMidi::UNIX_JACK && !jackServerRunning())
            continue;
        try {
            ErrorLog log;
            const auto port = makePort<Port>(api, m_clientName);
            port->setErrorCallback(&ErrorLog::report, &log);
            // A JACK server that is not running reports a warning here and lists no ports.
            for (const std::string &name : portNames(*port)) {
                if (!name.empty())
                    devices.push_back({stableProductName(QString::fromStdString(name)), api, name});
            }
        } catch (const RtMidiError &e) {
            if (e.getType() == RtMidiError::DRIVER_ERROR) {
                std::lock_guard guard(m_apiLock);
                m_apiUnavailable[api] = true;
            }
        } catch (const std::exception &) {
            // An API that cannot list its ports this time simply lists none.
        }
    }
    return devices;
}

std::vector<MidiDeviceInfo> RtMidiService::listInputs()
{
    return list<RtMidiIn>();
}

std::vector<MidiDeviceInfo> RtMidiService::listOutputs()
{
    return list<RtMidiOut>();
}

std::unique_ptr<MidiInputEndpoint> RtMidiService::openInput(const MidiDeviceInfo &device,
                                                            MidiInputSink &sink, MMRESULT &result)
{
    Presence watched = presence(device, true);
#if defined(CORVANE_HAVE_JACK)
    if (static_cast<RtMidi::Api>(device.api) == RtMidi::UNIX_JACK) {
        std::string text = "The MIDI input port could not be opened.";
        auto jack = openJackMidiInput({m_clientName.toStdString(), device.portName, std::move(watched.present),
                                       std::move(watched.serverEnded), std::move(watched.serverLate)},
                                      sink, result, text);
        if (!jack && result != MIDIERR_NODEVICE)
            result = failure(libraryCode(RtMidiError::DRIVER_ERROR), QString::fromStdString(text));
        return jack;
    }
#endif
    auto endpoint = std::make_unique<RtInputEndpoint>(sink, std::move(watched.present), std::move(watched.serverEnded));
    RtMidiError::Type type = RtMidiError::UNSPECIFIED;
    std::string text = "The MIDI input port could not be opened.";
    try {
        const auto api = static_cast<RtMidi::Api>(device.api);
        endpoint->port = makePort<RtMidiIn>(api, m_clientName);
        RtMidiIn &port = *endpoint->port;
        port.setErrorCallback(&ErrorLog::report, &endpoint->log);
        // RtMidi drops System Exclusive and timing messages unless told otherwise.
        port.ignoreTypes(false, false, true);
        port.setCallback(&RtInputEndpoint::onMessage, endpoint.get());
        const int index = findPort(port, device);
        endpoint->log.clear(); // listing complaints only mean the port is not there
        if (index < 0) {
            result = MIDIERR_NODEVICE;
            return nullptr;
        }
        port.openPort(static_cast<unsigned>(index), "in");
        if (endpoint->log.take(type, text) || !port.isPortOpen()) {
            result = failure(libraryCode(type), QString::fromStdString(text));
            return nullptr;
        }
    } catch (const RtMidiError &e) {
        result = failure(libraryCode(e.getType()), QString::fromStdString(e.getMessage()));
        return nullptr;
    }
    return endpoint;
}

std::unique_ptr<MidiOutputEndpoint> RtMidiService::openOutput(const MidiDeviceInfo &device,
                                                              MMRESULT &result)
{
    const auto api = static_cast<RtMidi::Api>(device.api);
    auto endpoint = std::make_unique<RtOutputEndpoint>(api, [this](RtMidiError::Type type, const std::string &text) {
        return failure(libraryCode(type), QString::fromStdString(text));
    });
    RtMidiError::Type type = RtMidiError::UNSPECIFIED;
    std::string text = "The MIDI output port could not be opened.";
    Presence watched = presence(device, false);
    endpoint->m_present = std::move(watched.present);
    endpoint->m_serverEnded = std::move(watched.serverEnded);
    try {
        endpoint->port = makePort<RtMidiOut>(api, m_clientName);
        RtMidiOut &port = *endpoint->port;
        port.setErrorCallback(&ErrorLog::report, &endpoint->log);
        const int index = findPort(port, device);
        endpoint->log.clear();
        if (index < 0) {
            result = MIDIERR_NODEVICE;
            return nullptr;
        }
        port.openPort(static_cast<unsigned>(index), "out");
        if (endpoint->log.take(type, text) || !port.isPortOpen()) {
            result = failure(libraryCode(type), QString::fromStdString(text));
            return nullptr;
        }
    } catch (const RtMidiError &e) {
        result = failure(libraryCode(e.getType()), QString::fromStdString(e.getMessage()));
        return nullptr;
    }
    return endpoint;
}
