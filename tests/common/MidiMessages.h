#pragma once

#include <QByteArray>

// MIDI messages for the port and service tests.
namespace MidiMessages {

// A System Exclusive message of the given size (at least 2): F0, data bytes counting up by
// `step` modulo 0x7F, F7.
inline QByteArray sysex(int size, int step = 1)
{
    QByteArray message(size, '\0');
    for (int i = 0; i < size; ++i)
        message[i] = char((i * step) % 0x7F);
    message[0] = char(0xF0);
    message[size - 1] = char(0xF7);
    return message;
}

} // namespace MidiMessages
