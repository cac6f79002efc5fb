#include "MidiLibraryMessages.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#ifdef CORVANE_HAVE_JACK
#include <jack/jack.h>
#endif
#ifdef CORVANE_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

Q_LOGGING_CATEGORY(lcMidiLibrary, "corvane.midi.library", QtWarningMsg)

namespace {

std::mutex lastLock;
QString last;

// May run on a library's own thread (JACK reports from its client threads too).
void record(const char *library, const char *text)
{
    const QString line = QString::fromLocal8Bit(text).trimmed();
    {
        std::lock_guard guard(lastLock);
        last = line;
    }
    qCDebug(lcMidiLibrary, "%s: %s", library, qUtf8Printable(line));
}

#ifdef CORVANE_HAVE_JACK
void jackError(const char *text)
{
    record("JACK", text);
}
#endif

#ifdef CORVANE_HAVE_ALSA
void alsaError(const char *file, int line, const char *function, int error, const char *format, ...)
{
    Q_UNUSED(file);
    Q_UNUSED(line);
    Q_UNUSED(function);
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (error != 0) {
        char withReason[640];
        std::snprintf(withReason, sizeof withReason, "%s: %s", text, snd_strerror(error));
        record("ALSA", withReason);
    } else {
        record("ALSA", text);
    }
}
#endif

} // namespace

void routeMidiLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef CORVANE_HAVE_JACK
        jack_set_error_function(&jackError);
        jack_set_info_function(&jackError);
#endif
#ifdef CORVANE_HAVE_ALSA
        snd_lib_error_set_handler(&alsaError);
#endif
    });
}

QString lastMidiLibraryMessage()
{
    std::lock_guard guard(lastLock);
    return last;
}

class RoutedErrorStream::LineBuffer final : public std::streambuf {
public:
    ~LineBuffer() override { flushLine(); }

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        if (traits_type::to_char_type(c) == '\n')
            flushLine();
        else
            m_line.push_back(traits_type::to_char_type(c));
        return c;
    }

private:
    void flushLine()
    {
        if (m_line.find_first_not_of(" \t\r") != std::string::npos)
            record("RtMidi", m_line.c_str());
        m_line.clear();
    }

    std::string m_line;
};

namespace {
std::recursive_mutex routedErrorStreamLock;
}

RoutedErrorStream::RoutedErrorStream()
    : m_lock(routedErrorStreamLock), m_buffer(std::make_unique<LineBuffer>())
{
    // Nested ones (on the same thread) give the stream back in the order they took it.
    m_previous = std::cerr.rdbuf(m_buffer.get());
}

RoutedErrorStream::~RoutedErrorStream()
{
    std::cerr.rdbuf(m_previous);
}
