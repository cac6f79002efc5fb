#pragma once

#include <QLoggingCategory>
#include <QString>

#include <memory>
#include <mutex>
#include <streambuf>

// The libraries under RtMidi (JACK, the ALSA library) write their complaints straight to the
// error stream: dozens of lines such as "Cannot connect to server socket" whenever a program
// merely looks for a server that is not running. Once routed, those lines go to the logging
// category "corvane.midi.library" at debug level instead, hidden unless asked for:
//
//   QT_LOGGING_RULES="corvane.midi.library.debug=true" corvane
//
// What the operator needs to know, which MIDI system is in use or that there is none, is said
// by the program itself (MidiService::midiSystemStatus, reportMidiSystem).
Q_DECLARE_LOGGING_CATEGORY(lcMidiLibrary)

// Installs the libraries' error and information handlers; safe to call more than once.
void routeMidiLibraryMessages();

// The library's most recent message since the routing was installed (empty if none).
QString lastMidiLibraryMessage();

// RtMidi writes what goes wrong while a port is being made to std::cerr, before a program can
// give the port an error callback ("JACK server not running?"). While one of these lives, lines
// written to std::cerr are routed as the libraries' messages are. Made around the construction
// of RtMidi objects only; other threads wait for it to end before making their own.
class RoutedErrorStream {
public:
    RoutedErrorStream();
    ~RoutedErrorStream();

    RoutedErrorStream(const RoutedErrorStream &) = delete;
    RoutedErrorStream &operator=(const RoutedErrorStream &) = delete;

private:
    class LineBuffer;
    std::unique_lock<std::recursive_mutex> m_lock;
    std::unique_ptr<LineBuffer> m_buffer;
    std::streambuf *m_previous = nullptr;
};
