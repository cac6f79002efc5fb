#pragma once

#include "Timecode.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// The simulated Orvex interface without its MIDI ports: the messages it sends (capture events,
// revision replies, MIDI timecode) built with Corvane's own codec, what it answers to the
// messages it receives, its script format and its keyboard map.
namespace OrvexSim {

using Message = std::vector<std::uint8_t>;

// Frames since midnight and back, at a whole number of frames per second (no drop frame).
TimecodeFields timecodeAt(std::int64_t frames, int fps);
std::int64_t framesOf(const TimecodeFields &time, int fps);
// "hh:mm:ss:ff" with hh < 24, mm and ss < 60, ff < fps.
std::optional<TimecodeFields> parseTimecode(const QString &text, int fps);
QString timecodeText(const TimecodeFields &time); // hh:mm:ss:ff

MtcRate rateOf(int fps); // 24, 25 or 30

// A capture event, type 24: camera mask low byte, high byte, then the timecode in
// binary-coded decimal.
Message captureEvent(std::uint16_t mask, const TimecodeFields &time);

// What the revision reply tells: the model (16 or 8 inputs) in the upper four bits of the
// second HW byte, and with the long form also the Main and second Build pairs.
struct Revision {
    int model = 16;
    bool longForm = true;
};
Message revisionReply(const Revision &revision);

// What the simulator does with a received message: the messages to send back, and a line for
// its output (empty: nothing to say).
struct Response {
    std::vector<Message> replies;
    QString line;
};
Response respond(Message message, const Revision &revision);

// One line of a capture script.
struct ScriptEvent {
    int line = 0;                          // in the file, from 1
    std::uint16_t mask = 0;                // bit n-1: camera n
    std::optional<TimecodeFields> time;    // none: the running timecode when sent
    int delayMs = 0;                       // wait before sending, after the previous event
};

// Parses a script: per line a camera mask (1 to 4 hexadecimal digits), a timecode
// (hh:mm:ss:ff, or "-" for the running timecode) and an optional delay in milliseconds,
// separated by spaces or tabs; "#" starts a comment; blank lines are skipped. On an error
// returns nothing and sets error to "line N: ...".
std::optional<std::vector<ScriptEvent>> parseScript(const QString &text, int fps, QString &error);

// The camera (1 to 16) that a key toggles: 1-9 and 0 for cameras 1-10, q w e r t y for 11-16;
// 0 for any other key.
int cameraForKey(char key);

// The help text of the command, script format included.
QString helpText();

} // namespace OrvexSim
