#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

class MidiService;
class TMidiInput;
class TMidiOutput;

// Keeps an eye on the ports that the device window (or corvane-cli) opened. It notices within a
// second when the device of an open port goes away (unplugged, or its MIDI server stopped), looks
// for a device of the same name while it is gone and tells when it is listed again, so that its
// owner opens it again; and it tells every change of the number of events the input lost and of
// the MIDI server's late cycles while the input was open (TMidiInput::LateCount). The
// owner closes and reopens the ports; the watch only looks. Main thread only.
class DeviceWatch : public QObject {
    Q_OBJECT
public:
    // How often the open devices are looked at; a device that has gone is looked for every other
    // time.
    static constexpr int CheckIntervalMs = 500;

    enum class Port { Input, Output };

    struct Handlers {
        // The port's device has gone: the owner closes the port. The watch now looks for it.
        std::function<void(Port)> lost;
        // The device that went is listed again, as this device number: the owner opens it and
        // tells opened() when it did.
        std::function<void(Port, int device)> back;
        // The number of events the input lost since it was made (TMidiInput::LostCount) changed.
        std::function<void(std::uint64_t lost)> lostEvents;
        // The number of the MIDI server's late cycles while the input was open
        // (TMidiInput::LateCount) changed.
        std::function<void(std::uint64_t late)> lateCycles;
    };

    DeviceWatch(MidiService &service, TMidiInput &input, TMidiOutput &output, QObject *parent = nullptr);

    void setHandlers(Handlers handlers) { m_handlers = std::move(handlers); }

    // The port was opened on the device of this name: watched from now on (a device waited for
    // is no longer waited for).
    void opened(Port port, const QString &name);
    // The port was closed on purpose: neither watched nor waited for any more.
    void closed(Port port);

    // Whether the port's device has gone and is waited for.
    bool missing(Port port) const { return at(port).state == State::Missing; }
    bool anyMissing() const { return missing(Port::Input) || missing(Port::Output); }
    // The name of the device the port was opened on (or waits for).
    QString name(Port port) const { return at(port).name; }
    std::uint64_t lostEvents() const { return m_lostEvents; }
    std::uint64_t lateCycles() const { return m_lateCycles; }

public slots:
    // Looks now; the timer does it every CheckIntervalMs while a port is watched.
    void check();

private:
    enum class State { Idle, Open, Missing };
    struct Watched {
        QString name;
        State state = State::Idle;
    };

    Watched &at(Port port) { return m_ports[port == Port::Input ? 0 : 1]; }
    const Watched &at(Port port) const { return m_ports[port == Port::Input ? 0 : 1]; }
    bool present(Port port);
    void updateTimer();

    MidiService &m_service;
    TMidiInput &m_input;
    TMidiOutput &m_output;
    Handlers m_handlers;
    std::array<Watched, 2> m_ports;
    std::uint64_t m_lostEvents = 0;
    std::uint64_t m_lateCycles = 0;
    int m_ticks = 0;
    QTimer m_timer;
};
