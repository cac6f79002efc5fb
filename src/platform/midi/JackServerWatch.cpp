#include "JackServerWatch.h"

#include <jack/jack.h>

JackServerWatch::JackServerWatch(std::string clientName) : m_clientName(std::move(clientName)) {}

JackServerWatch::~JackServerWatch()
{
    std::lock_guard guard(m_lock);
    dropEnded();
    if (m_client)
        jack_client_close(m_client);
}

void JackServerWatch::onShutdown(int status, const char *reason, void *self)
{
    (void)status;
    (void)reason;
    // JACK's thread: nothing but a flag. The client is closed on the program's side.
    static_cast<JackServerWatch *>(self)->m_ended.store(true, std::memory_order_release);
}

int JackServerWatch::onXrun(void *self)
{
    static_cast<JackServerWatch *>(self)->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackServerWatch::dropEnded()
{
    if (m_client && m_ended.load(std::memory_order_acquire))
        m_client = nullptr; // libjack frees it (see serverEnded)
}

bool JackServerWatch::serverEnded(std::uint64_t generation)
{
    std::lock_guard guard(m_lock);
    dropEnded();
    return generation != m_generation || !m_client;
}

std::uint64_t JackServerWatch::attach()
{
    std::lock_guard guard(m_lock);
    dropEnded();
    if (m_client)
        return m_generation;
    jack_status_t status;
    const auto options = static_cast<jack_options_t>(JackNoStartServer);
    m_client = jack_client_open(m_clientName.c_str(), options, &status);
    if (!m_client)
        return 0;
    m_ended.store(false, std::memory_order_release);
    jack_on_info_shutdown(
        m_client, [](jack_status_t code, const char *reason, void *self) { onShutdown(int(code), reason, self); }, this);
    // Should this fail, the client still tells when the server ends; xruns then go uncounted.
    jack_set_xrun_callback(m_client, &JackServerWatch::onXrun, this);
    jack_activate(m_client);
    return ++m_generation;
}

bool JackServerWatch::portPresent(std::uint64_t generation, const std::string &portName)
{
    std::lock_guard guard(m_lock);
    dropEnded();
    if (!m_client || generation != m_generation)
        return false;
    return jack_port_by_name(m_client, portName.c_str()) != nullptr;
}
