#include "Timecode.h"

#include "DeviceCodec.h"
#include "MonitorText.h"

namespace {

constexpr std::uint8_t QuarterFrame = 0xF1;

// Universal real-time sub-IDs.
constexpr std::uint8_t SubIdFullFrame = 0x01;
constexpr std::uint8_t SubIdFullFrameQuiet = 0x04;
constexpr std::uint8_t SubIdMmcCommand = 0x06;
constexpr std::uint8_t SubIdMmcResponse = 0x07;

constexpr int SubIdPos = 3;
constexpr int SecondIdPos = 4;
constexpr int HoursPos = 5;
constexpr int FramesPos = 8;

QString fieldText(std::uint8_t value)
{
    const QString text = QString::number(value);
    return text.size() == 2 ? text : QLatin1Char('0') + text;
}

void setNibble(std::uint8_t &field, bool high, std::uint8_t value)
{
    field = high ? std::uint8_t((field & 0x0F) | (value << 4)) : std::uint8_t((field & 0xF0) | value);
}

// A full frame reads its second sub-ID, and its four time bytes when that is 01.
bool fullFrameReadable(const std::uint8_t *bytes, int content)
{
    return content > SecondIdPos && (bytes[SecondIdPos] != 0x01 || content > FramesPos);
}

} // namespace

QString TimecodeText(const TimecodeFields &fields)
{
    return fieldText(fields.Hours) + QLatin1Char(':') + fieldText(fields.Minutes) + QLatin1Char(':')
           + fieldText(fields.Seconds) + QLatin1Char(':') + fieldText(fields.Frames);
}

std::uint8_t QuarterFrameData(const TimecodeFields &fields, MtcRate rate, int piece)
{
    std::uint8_t value = 0;
    switch (piece) {
    case 0: value = fields.Frames & 0x0F; break;
    case 1: value = (fields.Frames >> 4) & 0x01; break;
    case 2: value = fields.Seconds & 0x0F; break;
    case 3: value = (fields.Seconds >> 4) & 0x03; break;
    case 4: value = fields.Minutes & 0x0F; break;
    case 5: value = (fields.Minutes >> 4) & 0x03; break;
    case 6: value = fields.Hours & 0x0F; break;
    case 7: value = std::uint8_t(((fields.Hours >> 4) & 0x01) | (std::uint8_t(rate) << 1)); break;
    default: return 0;
    }
    return std::uint8_t((piece << 4) | value);
}

std::array<std::uint8_t, 10> FullFrameMessage(const TimecodeFields &fields, MtcRate rate)
{
    return {0xF0,
            0x7F,
            0x7F,
            SubIdFullFrame,
            0x01,
            std::uint8_t((fields.Hours & 0x1F) | (std::uint8_t(rate) << 5)),
            std::uint8_t(fields.Minutes & 0x3F),
            std::uint8_t(fields.Seconds & 0x3F),
            std::uint8_t(fields.Frames & 0x1F),
            0xF7};
}

void TimecodeReceiver::advance(qint64 &counter, const std::function<void(const QString &)> &show)
{
    ++counter;
    if (counter >= 100)
        counter = 0;
    if (show)
        show(QString::number(counter));
}

void TimecodeReceiver::DecodeShortMessage(const TMyMidiEvent &Event, MonitorState &state)
{
    state.MonitorName = ShortMessageName(Event.Status);
    if (Event.Status != QuarterFrame)
        return;
    state.SuppressMonitorLine = true;
    advance(m_mtcCount, onMtcCount);
    const std::uint8_t d = Event.DataByte1;
    if (d >= 0x80)
        return;
    const int piece = d >> 4;
    const std::uint8_t v = d & 0x0F;
    const bool high = piece & 1;
    switch (piece >> 1) {
    case 0: setNibble(m_fields.Frames, high, v); break;
    case 1: setNibble(m_fields.Seconds, high, v); break;
    case 2: setNibble(m_fields.Minutes, high, v); break;
    default: setNibble(m_fields.Hours, high, v); break;
    }
    if (piece == 7)
        ShowTimecode();
}

void TimecodeReceiver::DecodeRealtimeMessage(const std::uint8_t *Bytes, int Length, MonitorState &state)
{
    const int content = SysexContentLength(Bytes, Length);
    if (content <= SecondIdPos)
        return;
    switch (Bytes[SubIdPos]) {
    case SubIdFullFrame:
        if (!fullFrameReadable(Bytes, content))
            return;
        advance(m_mmcCount, onMmcCount);
        state.MonitorName = QStringLiteral("Full Timecode");
        DecodeFullFrame(Bytes, Length);
        break;
    case SubIdFullFrameQuiet:
        DecodeFullFrame(Bytes, Length);
        break;
    case SubIdMmcCommand:
        state.MonitorName = MmcCommandName(Bytes, Length);
        break;
    case SubIdMmcResponse:
        state.MonitorName = MmcFieldName(Bytes[SecondIdPos]);
        break;
    default:
        break;
    }
}

void TimecodeReceiver::DecodeFullFrame(const std::uint8_t *Bytes, int Length)
{
    const int content = SysexContentLength(Bytes, Length);
    if (!fullFrameReadable(Bytes, content))
        return;
    // Counted without its caption and without the wrap: the next quarter frame brings the
    // count back into range.
    ++m_mtcCount;
    if (Bytes[SecondIdPos] != 0x01)
        return;
    m_fields.Hours = Bytes[HoursPos] & 0x7F;
    m_fields.Minutes = Bytes[HoursPos + 1] & 0x7F;
    m_fields.Seconds = Bytes[HoursPos + 2] & 0x7F;
    m_fields.Frames = Bytes[FramesPos] & 0x3F;
    ShowTimecode();
}

void TimecodeReceiver::ShowTimecode()
{
    m_fields.Hours &= 0x1F;
    if (onShowTimecode)
        onShowTimecode(TimecodeText(m_fields));
}
