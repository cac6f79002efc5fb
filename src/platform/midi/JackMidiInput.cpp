#include "JackMidiInput.h"

#include "MidiInputRelay.h"
#include "RtMidiService.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// A client of a JACK server that ended is libjack's to free (JackServerWatch::serverEnded): it
// stays, unused, for the rest of the process, held from a pointer that is never freed.
void keepForever(jack_client_t *client)
{
    static auto *lock = new std::mutex;
    static auto *kept = new std::vector<jack_client_t *>;
    const std::lock_guard guard(*lock);
    kept->push_back(client);
}

// The largest System Exclusive message gathered from pieces; longer ones go on in pieces.
constexpr std::size_t GatherLimit = std::size_t(1) << 16;

class JackInputEndpoint final : public MidiInputEndpoint {
public:
    JackInputEndpoint(JackMidiInputOptions options, MidiInputSink &sink)
        : m_options(std::move(options)),
          m_relay([&sink](const std::uint8_t *bytes, std::size_t size, double deltaSeconds) {
              RtMidiService::deliverGathered(sink, bytes, size, deltaSeconds);
          })
    {
        m_gathered.reserve(GatherLimit);
    }

    ~JackInputEndpoint() override
    {
        if (!m_client)
            return;
        if (m_options.serverEnded && m_options.serverEnded()) {
            keepForever(m_client);
            return;
        }
        // Stops the process thread: nothing is pushed once it returns.
        jack_client_close(m_client);
    }

    bool open(MMRESULT &result, std::string &text)
    {
        jack_status_t status;
        m_client = jack_client_open(m_options.clientName.c_str(), JackNoStartServer, &status);
        if (!m_client) {
            text = "The JACK server could not be reached.";
            result = MIDIERR_NODEVICE;
            return false;
        }
        m_port = jack_port_register(m_client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!m_port) {
            text = "The JACK input port could not be made.";
            result = MMSYSERR_ERROR;
            return false;
        }
        m_sampleRate = jack_get_sample_rate(m_client);
        jack_set_process_callback(m_client, &JackInputEndpoint::onProcess, this);
        if (jack_activate(m_client) != 0) {
            text = "The JACK input client could not be activated.";
            result = MMSYSERR_ERROR;
            return false;
        }
        if (jack_connect(m_client, m_options.portName.c_str(), jack_port_name(m_port)) != 0) {
            result = MIDIERR_NODEVICE;
            return false;
        }
        return true;
    }

    bool present() override { return !m_options.present || m_options.present(); }
    std::uint64_t lost() const override { return m_relay.lost(); }
    // The periods this input missed, was run twice in or was shown again. An xrun the server
    // reports alone is not counted: an idle server reports ones of a few microseconds while the
    // machine is busy, with nothing of this input's lost, and a capture that got every event would
    // end as failed. The input's own periods tell whether it was late.
    std::uint64_t lateCycles() const override { return m_periods.lateCycles(); }

private:
    static int onProcess(jack_nframes_t frames, void *self)
    {
        static_cast<JackInputEndpoint *>(self)->process(frames);
        return 0;
    }

    // The server's process thread: nothing waits and nothing is allocated.
    void process(jack_nframes_t frames)
    {
        void *buffer = jack_port_get_buffer(m_port, frames);
        const jack_nframes_t frameTime = jack_last_frame_time(m_client);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        std::uint64_t digest = JackPeriodCheck::Start;
        jack_midi_event_t event;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (jack_midi_event_get(&event, buffer, i) == 0 && !realTime(event))
                digest = JackPeriodCheck::digest(digest, event.time, event.buffer, event.size);
        }
        if (!m_periods.run(frameTime, frames, digest))
            return;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                continue;
            if (event.size == 1 && event.buffer[0] == ActiveSensing)
                continue; // as RtMidi's input is told for the other systems
            take(event.buffer, event.size, frameTime + event.time);
        }
    }

    // A one-byte real-time message (clock, start, stop, active sensing...): the same in every
    // period it is sent in, so it cannot tell a period's events found again.
    static bool realTime(const jack_midi_event_t &event) { return event.size == 1 && event.buffer[0] >= 0xF8; }

    static constexpr std::uint8_t ActiveSensing = 0xFE;

    // One event of the port. A System Exclusive message that comes in pieces is gathered until
    // a piece ends with F7; what follows an unfinished one is glued to it, to be split again by
    // deliverGathered.
    void take(const std::uint8_t *bytes, std::size_t size, jack_nframes_t at)
    {
        if (!m_gathering && (bytes[0] != 0xF0 || bytes[size - 1] == 0xF7)) {
            push(bytes, size, at);
            return;
        }
        if (!m_gathering) {
            m_gathering = true;
            m_gatherStart = at;
            m_gathered.clear();
        }
        const std::size_t room = m_gathered.capacity() - m_gathered.size();
        m_gathered.insert(m_gathered.end(), bytes, bytes + std::min(size, room));
        if (bytes[size - 1] == 0xF7 || size > room) {
            m_gathering = false;
            push(m_gathered.data(), m_gathered.size(), m_gatherStart);
        }
    }

    void push(const std::uint8_t *bytes, std::size_t size, jack_nframes_t at)
    {
        double delta = 0.0;
        if (m_delivered && m_sampleRate > 0)
            delta = double(jack_nframes_t(at - m_lastAt)) / double(m_sampleRate);
        m_delivered = true;
        m_lastAt = at;
        m_relay.push(bytes, size, delta);
    }

    JackMidiInputOptions m_options;
    jack_client_t *m_client = nullptr;
    jack_port_t *m_port = nullptr;
    jack_nframes_t m_sampleRate = 0;
    JackPeriodCheck m_periods;
    // Process thread only.
    std::vector<std::uint8_t> m_gathered;
    bool m_gathering = false;
    jack_nframes_t m_gatherStart = 0;
    bool m_delivered = false;
    jack_nframes_t m_lastAt = 0;
    MidiInputRelay m_relay; // made last, stopped first: the client is closed before (see above)
};

} // namespace

std::unique_ptr<MidiInputEndpoint> openJackMidiInput(JackMidiInputOptions options, MidiInputSink &sink,
                                                     MMRESULT &result, std::string &text)
{
    auto endpoint = std::make_unique<JackInputEndpoint>(std::move(options), sink);
    if (!endpoint->open(result, text))
        return nullptr;
    return endpoint;
}
