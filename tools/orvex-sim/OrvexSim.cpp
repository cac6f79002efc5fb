#include "OrvexSim.h"

#include "DeviceCodec.h"

#include <QRegularExpression>
#include <QStringList>

namespace OrvexSim {

namespace {

std::uint8_t bcd(int value)
{
    return std::uint8_t((value / 10) << 4 | (value % 10));
}

QString two(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString hexBytes(const std::uint8_t *bytes, int count)
{
    return HexBytes(bytes, count, " ", "");
}

} // namespace

TimecodeFields timecodeAt(std::int64_t frames, int fps)
{
    const std::int64_t day = std::int64_t(24) * 3600 * fps;
    frames %= day;
    if (frames < 0)
        frames += day;
    TimecodeFields time;
    time.Frames = std::uint8_t(frames % fps);
    const std::int64_t seconds = frames / fps;
    time.Seconds = std::uint8_t(seconds % 60);
    time.Minutes = std::uint8_t(seconds / 60 % 60);
    time.Hours = std::uint8_t(seconds / 3600);
    return time;
}

std::int64_t framesOf(const TimecodeFields &time, int fps)
{
    return ((std::int64_t(time.Hours) * 60 + time.Minutes) * 60 + time.Seconds) * fps + time.Frames;
}

std::optional<TimecodeFields> parseTimecode(const QString &text, int fps)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d):(\\d\\d)$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int h = match.captured(1).toInt();
    const int m = match.captured(2).toInt();
    const int s = match.captured(3).toInt();
    const int f = match.captured(4).toInt();
    if (h >= 24 || m >= 60 || s >= 60 || f >= fps)
        return std::nullopt;
    return TimecodeFields{std::uint8_t(h), std::uint8_t(m), std::uint8_t(s), std::uint8_t(f)};
}

QString timecodeText(const TimecodeFields &time)
{
    return two(time.Hours) + QLatin1Char(':') + two(time.Minutes) + QLatin1Char(':') + two(time.Seconds)
           + QLatin1Char(':') + two(time.Frames);
}

MtcRate rateOf(int fps)
{
    switch (fps) {
    case 24: return MtcRate::Fps24;
    case 30: return MtcRate::Fps30;
    default: return MtcRate::Fps25;
    }
}

Message captureEvent(std::uint16_t mask, const TimecodeFields &time)
{
    return EncodeDeviceMessage(OrvexMessage::CaptureEvent,
                               {std::uint8_t(mask & 0xFF), std::uint8_t(mask >> 8), bcd(time.Hours),
                                bcd(time.Minutes), bcd(time.Seconds), bcd(time.Frames)});
}

Message revisionReply(const Revision &revision)
{
    // HW 01.62 (or 01.82 for the 8-input model), Core 02.10, Build 00.35, Main 03.01, Build 00.12.
    // The short form is the long one without its last four bytes. Cutting a vector short never
    // copies, where growing one by an initializer list trips a false bounds warning of GCC 12.
    Message payload{0x01, std::uint8_t(revision.model == 8 ? 0x82 : 0x62), 0x02, 0x10, 0x00, 0x35,
                    0x03, 0x01, 0x00, 0x12};
    if (!revision.longForm)
        payload.resize(6);
    return EncodeDeviceMessage(OrvexMessage::RevisionReply, payload);
}

Response respond(Message message, const Revision &revision)
{
    Response response;
    const int length = int(message.size());
    if (length >= 2 && message[0] == OrvexMessage::SysexStart && message[1] == OrvexMessage::NonRealtime) {
        const DeviceMessage decoded = UnpackDeviceMessage(message.data(), length);
        switch (decoded.kind) {
        case DeviceMessage::Kind::Decoded:
            if (decoded.type == OrvexMessage::RevisionQuery) {
                response.replies.push_back(revisionReply(revision));
                const Message &reply = response.replies.back();
                response.line = QStringLiteral("revision query, replied") + hexBytes(reply.data(), int(reply.size()));
            } else {
                response.line = QStringLiteral("parameter ") + HexByte(decoded.type) + QLatin1Char(':')
                                + hexBytes(decoded.payload, decoded.count);
            }
            return response;
        case DeviceMessage::Kind::Ignored:
            return response;
        case DeviceMessage::Kind::Truncated:
            break;
        }
    }
    response.line = QStringLiteral("received") + hexBytes(message.data(), length);
    return response;
}

std::optional<std::vector<ScriptEvent>> parseScript(const QString &text, int fps, QString &error)
{
    static const QRegularExpression maskPattern(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
    static const QRegularExpression delayPattern(QStringLiteral("^\\d{1,9}$"));
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    std::vector<ScriptEvent> events;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        const qsizetype comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        const QStringList fields = line.trimmed().split(blanks, Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        if (fields.size() < 2 || fields.size() > 3) {
            error = where + QStringLiteral("expected MASK TIMECODE [DELAY-MS]");
            return std::nullopt;
        }
        ScriptEvent event;
        event.line = i + 1;
        if (!maskPattern.match(fields[0]).hasMatch()) {
            error = where + QStringLiteral("camera mask \"%1\" is not 1 to 4 hexadecimal digits").arg(fields[0]);
            return std::nullopt;
        }
        event.mask = std::uint16_t(fields[0].toUInt(nullptr, 16));
        if (fields[1] != QLatin1String("-")) {
            event.time = parseTimecode(fields[1], fps);
            if (!event.time) {
                error = where + QStringLiteral("timecode \"%1\" is not hh:mm:ss:ff at %2 fps").arg(fields[1]).arg(fps);
                return std::nullopt;
            }
        }
        if (fields.size() == 3) {
            if (!delayPattern.match(fields[2]).hasMatch()) {
                error = where + QStringLiteral("delay \"%1\" is not a number of milliseconds").arg(fields[2]);
                return std::nullopt;
            }
            event.delayMs = fields[2].toInt();
        }
        events.push_back(event);
    }
    return events;
}

int cameraForKey(char key)
{
    if (key >= '1' && key <= '9')
        return key - '0';
    switch (key) {
    case '0': return 10;
    case 'q': return 11;
    case 'w': return 12;
    case 'e': return 13;
    case 'r': return 14;
    case 't': return 15;
    case 'y': return 16;
    default: return 0;
    }
}

QString helpText()
{
    return QStringLiteral(R"(Usage: orvex-sim [options]

A simulator of the Orvex USB MIDI interface, for trying Corvane without the hardware and for
tests. It opens a virtual MIDI output port NAME:out (the interface's messages: choose it as
Corvane's MIDI input) and a virtual MIDI input port NAME-in:in (choose it as Corvane's MIDI
output). It answers the revision query with a revision reply, runs MIDI timecode (a full frame
at start, then quarter frames), sends capture events from a script or from the keyboard, and
prints the parameter messages it receives.

Options:
  --name NAME          client name (default orvex-sim)
  --api auto|jack|alsa MIDI system: auto takes the ALSA sequencer where /dev/snd/seq exists,
                       else JACK (default auto)
  --script FILE        send the capture events of FILE (format below), then keep running
  --wait-query         start the script when the first revision query arrives (when Corvane
                       has opened both ports), not at once
  --exit-after-script  end once the script has been sent
  --keyboard           live capture events from the keyboard (the default without --script
                       when standard input is a terminal): keys 1-9 and 0 toggle cameras 1-10,
                       q w e r t y cameras 11-16; each toggle sends the new camera mask with
                       the running timecode. Space sends the mask again, c turns every camera
                       off, x ends.
  --fps 24|25|30       timecode frame rate (default 25)
  --start hh:mm:ss:ff  timecode at start (default 10:00:00:00)
  --no-mtc             send no MIDI timecode (the running timecode still advances)
  --model 16|8         model reported by the revision reply (default 16)
  --short-revision     revision reply without the Main and second Build pairs (count 6)
  --burst N            at most N messages per burst period (default 500): JACK drops what
  --burst-ms MS        does not fit one period's buffer (default 5 ms)
  --quiet              no output line per capture event sent
  -h, --help           this text
  --version            the version, then ends

Script format: one capture event per line,

  MASK  TIMECODE  [DELAY-MS]

  MASK      the cameras on after the event: 1 to 4 hexadecimal digits, bit n-1 for camera n
            (0001 camera 1, 0081 cameras 1 and 8, 8000 camera 16)
  TIMECODE  hh:mm:ss:ff sent as is (in binary-coded decimal, as the interface does), or "-"
            for the running timecode at the moment of sending
  DELAY-MS  milliseconds to wait after the previous event (default 0: at once; bursts are
            paced by --burst)

"#" starts a comment; blank lines are skipped. Example:

  # camera 1, then 2, then 1 and 2 together
  0001  10:00:00:00
  0002  10:00:02:12  2000
  0003  -            500

Output, one line each: "ready out=PORT in=PORT" once the ports are open; "revision query,
replied F0 7E ..." for each query; "parameter TT: XX XX" for each parameter message received
(TT the type, then the decoded payload); "capture MASK hh:mm:ss:ff" for each capture event sent;
"script done N" after the script's N events; "received XX ..." for anything else. Errors go to
standard error. Ends on SIGINT or SIGTERM with status 0; status 1 when a port cannot be
opened, 2 for wrong arguments or a bad script.
)");
}

} // namespace OrvexSim
