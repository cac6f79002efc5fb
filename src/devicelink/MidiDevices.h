#pragma once

#include "MidiService.h"

#include <QString>
#include <QStringList>

// The MIDI devices as the device window lists them, and the file that remembers the chosen
// ones. Shared by the window and corvane-cli.

// Product names of the service's input (output) devices in device-number order: item i is
// device i. The output mapper is not listed. A device whose capabilities cannot be read is
// listed with an empty name, so that items keep their device numbers.
QStringList MidiInputNames(MidiService &service);
QStringList MidiOutputNames(MidiService &service);

enum class DeviceMatch {
    IgnoreCase,          // the first name equal without regard to case (the remembered devices)
    ExactThenIgnoreCase, // the first exact name, else the first equal without regard to case
};
// The index of name among names, or -1.
int FindDeviceName(const QStringList &names, const QString &name, DeviceMatch match = DeviceMatch::IgnoreCase);

// "midiio.ini" in the program's folder: section "midiio", keys "midiin" and "midiout", each the
// product name of the device last opened.
namespace MidiIoIni {
inline constexpr char FileName[] = "midiio.ini";
inline constexpr char Section[] = "midiio";
inline constexpr char InputKey[] = "midiin";
inline constexpr char OutputKey[] = "midiout";
QString path();
} // namespace MidiIoIni
