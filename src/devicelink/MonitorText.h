#pragma once

#include "MidiBuffers.h"

#include <QString>

#include <array>
#include <cstdint>

// Monitor text of received MIDI: the one-line text of an event shown in the input monitor, and
// the names that the decoders add to it. Pure functions; all hexadecimal in upper case.

// A line of the input monitor and a decoder's name are each cut to this many characters.
inline constexpr int MonitorTextLimit = 255;
// A System Exclusive dump lists at most this many bytes.
inline constexpr int SysexDumpLimit = 200;

// Names by kind of message: a channel status (80 to EF) is named by entry (status - 80) div 16,
// a system status (F0 to FF) and a byte below 80 by entry 8 + (status AND 0F).
extern const std::array<const char *, 24> MidiMessageNames;
const char *MidiMessageName(std::uint8_t status);

// The event's line: eight hexadecimal digits of the time stamp, the status and its data bytes,
// then the name ("000004D2 90 3C 64 Note On"); a System Exclusive event as "Sysex (n): " and
// its dump.
QString MidiEventText(const TMyMidiEvent &Event);

// "XX " for each of the first 200 bytes; empty without data.
QString SysexBytesText(const std::uint8_t *Bytes, int Length);

// The name the short-message decoder gives an exact status byte; empty for the others.
QString ShortMessageName(std::uint8_t status);

// The name of an MMC command message F0 7F xx 06 <command>, read at position 4; for Write,
// Masked Write and Read followed by the name of the field at position 6. Empty for a command
// without a name, and for a message whose content (Length bytes, end mark not counted) does not
// reach the positions read.
QString MmcCommandName(const std::uint8_t *Bytes, int Length);

// The name of an MMC information field; "Unknown" for a byte without one.
QString MmcFieldName(std::uint8_t FieldByte);
