#include "DeviceWatch.h"

#include "MidiDevices.h"
#include "MidiIn.h"
#include "MidiOut.h"

DeviceWatch::DeviceWatch(MidiService &service, TMidiInput &input, TMidiOutput &output, QObject *parent)
    : QObject(parent), m_service(service), m_input(input), m_output(output)
{
    m_timer.setInterval(CheckIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &DeviceWatch::check);
}

void DeviceWatch::opened(Port port, const QString &name)
{
    at(port) = Watched{name, State::Open};
    updateTimer();
}

void DeviceWatch::closed(Port port)
{
    at(port) = Watched{};
    updateTimer();
}

void DeviceWatch::updateTimer()
{
    const bool watching = m_ports[0].state != State::Idle || m_ports[1].state != State::Idle;
    if (watching && !m_timer.isActive())
        m_timer.start();
    else if (!watching)
        m_timer.stop();
}

bool DeviceWatch::present(Port port)
{
    return port == Port::Input ? m_input.DevicePresent() : m_output.DevicePresent();
}

void DeviceWatch::check()
{
    ++m_ticks;
    for (const Port port : {Port::Input, Port::Output}) {
        if (at(port).state == State::Open && !present(port)) {
            at(port).state = State::Missing;
            if (m_handlers.lost)
                m_handlers.lost(port);
        }
    }
    // The lists are read every other time: with the MIDI server gone each reading is a failed
    // attempt to reach it.
    for (const Port port : {Port::Input, Port::Output}) {
        if (at(port).state != State::Missing || m_ticks % 2 != 0)
            continue;
        const QStringList names = port == Port::Input ? MidiInputNames(m_service) : MidiOutputNames(m_service);
        const int device = FindDeviceName(names, at(port).name, DeviceMatch::ExactThenIgnoreCase);
        if (device >= 0 && m_handlers.back)
            m_handlers.back(port, device);
    }
    const std::uint64_t lost = m_input.LostCount();
    if (lost != m_lostEvents) {
        m_lostEvents = lost;
        if (m_handlers.lostEvents)
            m_handlers.lostEvents(lost);
    }
    const std::uint64_t late = m_input.LateCount();
    if (late != m_lateCycles) {
        m_lateCycles = late;
        if (m_handlers.lateCycles)
            m_handlers.lateCycles(late);
    }
    updateTimer();
}
