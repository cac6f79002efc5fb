#pragma once

#include "MidiBuffers.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

// MIDI timecode: the running timecode assembled from MTC quarter frames and full-frame
// messages, the two message counters of the device window, and the names of universal
// real-time messages (MTC, MMC) for the input monitor. The encoding side (quarter-frame data
// and full-frame messages) is here too, for orvex-sim.

// The current timecode. A quarter frame writes one nibble, so a field may hold up to FF.
struct TimecodeFields {
    std::uint8_t Hours = 0; // bits 5-6 may hold the rate code until ShowTimecode strips it
    std::uint8_t Minutes = 0;
    std::uint8_t Seconds = 0;
    std::uint8_t Frames = 0;

    bool operator==(const TimecodeFields &) const = default;
};

// hh:mm:ss:ff in decimal; a field of three digits gets one "0" in front ("0255").
QString TimecodeText(const TimecodeFields &fields);

// What an event's decoders leave for its line in the input monitor.
struct MonitorState {
    QString MonitorName;              // appended to the event's line
    bool SuppressMonitorLine = false; // no line at all (quarter frames)
};

// Rate codes of the hours byte (bits 5 and 6).
enum class MtcRate : std::uint8_t { Fps24 = 0, Fps25 = 1, Fps30Drop = 2, Fps30 = 3 };

// The data byte of quarter frame piece (0 to 7) for a timecode whose Hours carries no rate
// code; piece 7 adds the rate.
std::uint8_t QuarterFrameData(const TimecodeFields &fields, MtcRate rate, int piece);
// F0 7F 7F 01 01 hh mm ss ff F7, the rate code in the hours byte.
std::array<std::uint8_t, 10> FullFrameMessage(const TimecodeFields &fields, MtcRate rate);

// Decodes the timecode messages of one input. The timecode and the counters start at 0 and are
// never reset; they survive closing and reopening the port.
class TimecodeReceiver {
public:
    // Where the results are shown: the timecode text (both tcpoz labels) each time the
    // timecode is shown, and the captions of the quarter-frame (mtccount) and full-frame
    // (mmccount) counters when they advance. Unset callbacks are skipped.
    std::function<void(const QString &)> onShowTimecode;
    std::function<void(const QString &)> onMtcCount;
    std::function<void(const QString &)> onMmcCount;

    // Any event that is not System Exclusive: names it and, for a quarter frame (F1), stores
    // its nibble, counts it and hides its monitor line.
    void DecodeShortMessage(const TMyMidiEvent &Event, MonitorState &state);
    // An F0 7F message of Length bytes. Full frames (sub-ID 01, counted and named; 04, neither)
    // set the timecode; MMC commands (06) and responses (07) are named. A message whose content
    // does not reach the positions its kind reads changes nothing and gets no name.
    void DecodeRealtimeMessage(const std::uint8_t *Bytes, int Length, MonitorState &state);
    // Takes the timecode of a full-frame message whose second sub-ID is 01; the message must
    // hold positions 4 to 8 when position 4 is 01.
    void DecodeFullFrame(const std::uint8_t *Bytes, int Length);
    // Strips the rate code from the hours and shows the timecode.
    void ShowTimecode();

    const TimecodeFields &fields() const { return m_fields; }
    // The counters' values (the labels' tags): the quarter-frame count may stand above 99 for a
    // while, as full frames add to it without the wrap.
    qint64 mtcCount() const { return m_mtcCount; }
    qint64 mmcCount() const { return m_mmcCount; }

private:
    static void advance(qint64 &counter, const std::function<void(const QString &)> &show);

    TimecodeFields m_fields;
    qint64 m_mtcCount = 0;
    qint64 m_mmcCount = 0;
};
