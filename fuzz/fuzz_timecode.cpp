// Timecode reception. Any stream of short messages and universal real-time messages: nothing is
// read past a message, the quarter-frame counter shown stays below 100, and every timecode
// shown has the shape of the labels. Any valid timecode sent the way orvex-sim sends it (eight
// quarter frames, or a full-frame message) is received as sent.

#include "FuzzSupport.h"

#include "Timecode.h"

#include <QRegularExpression>

#include <cstring>
#include <memory>

namespace {

bool isRunningTimecode(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d\\d|0\\d\\d\\d)(:(\\d\\d|0\\d\\d\\d)){3}$"));
    return shape.match(text).hasMatch();
}

struct Shown {
    QString timecode;
    QString mtcCount;
    QString mmcCount;
};

void connect(TimecodeReceiver &receiver, Shown &shown)
{
    receiver.onShowTimecode = [&shown](const QString &text) {
        FUZZ_CHECK(isRunningTimecode(text), text);
        shown.timecode = text;
    };
    receiver.onMtcCount = [&shown](const QString &text) {
        FUZZ_CHECK(text.toInt() >= 0 && text.toInt() < 100, text);
        shown.mtcCount = text;
    };
    receiver.onMmcCount = [&shown](const QString &text) {
        FUZZ_CHECK(text.toInt() >= 0 && text.toInt() < 100, text);
        shown.mmcCount = text;
    };
}

void anyStream(Fuzz::Input &in, TimecodeReceiver &receiver)
{
    while (!in.atEnd()) {
        const std::uint8_t status = in.byte();
        MonitorState state;
        if (status == 0xF0) {
            // The message in a block of its own size: F0 up to the next F7, or to the end.
            const QByteArray message = QByteArray(1, char(status)) + in.until(char(0xF7)) + char(0xF7);
            const int length = int(message.size()) - int(in.byte() & 1); // sometimes without its end mark
            std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[std::size_t(length)]);
            std::memcpy(bytes.get(), message.constData(), std::size_t(length));
            receiver.DecodeRealtimeMessage(bytes.get(), length, state);
            FUZZ_CHECK(!state.SuppressMonitorLine, QString());
        } else {
            TMyMidiEvent event;
            event.Status = status;
            event.DataByte1 = in.byte();
            event.DataByte2 = in.byte();
            receiver.DecodeShortMessage(event, state);
            FUZZ_CHECK(state.SuppressMonitorLine == (status == 0xF1), QString::number(status, 16));
            if (status == 0xF1)
                FUZZ_CHECK(receiver.mtcCount() >= 0 && receiver.mtcCount() < 100, QString::number(receiver.mtcCount()));
        }
        FUZZ_CHECK(receiver.mmcCount() >= 0 && receiver.mmcCount() < 100, QString::number(receiver.mmcCount()));
    }
}

// A timecode of the rate's range, sent as orvex-sim sends it.
void sentTimecode(Fuzz::Input &in)
{
    static constexpr int Fps[] = {24, 25, 30, 30};
    const auto rate = MtcRate(in.byte() & 3);
    TimecodeFields sent;
    sent.Hours = std::uint8_t(in.byte() % 24);
    sent.Minutes = std::uint8_t(in.byte() % 60);
    sent.Seconds = std::uint8_t(in.byte() % 60);
    sent.Frames = std::uint8_t(in.byte() % Fps[int(rate)]);
    const QString text = QStringLiteral("%1:%2:%3:%4")
                             .arg(sent.Hours, 2, 10, QLatin1Char('0'))
                             .arg(sent.Minutes, 2, 10, QLatin1Char('0'))
                             .arg(sent.Seconds, 2, 10, QLatin1Char('0'))
                             .arg(sent.Frames, 2, 10, QLatin1Char('0'));

    TimecodeReceiver receiver;
    Shown shown;
    connect(receiver, shown);
    // Whatever came before, a full frame sets the whole timecode.
    anyStream(in, receiver);
    const std::array<std::uint8_t, 10> full = FullFrameMessage(sent, rate);
    MonitorState state;
    receiver.DecodeRealtimeMessage(full.data(), int(full.size()), state);
    FUZZ_CHECK(receiver.fields() == sent && shown.timecode == text, shown.timecode + QLatin1String(" != ") + text);

    // Eight quarter frames, starting at piece 0, set it again.
    TimecodeFields next = sent;
    next.Frames = std::uint8_t((sent.Frames + 1) % Fps[int(rate)]);
    const QString nextText = text.left(9) + QStringLiteral("%1").arg(next.Frames, 2, 10, QLatin1Char('0'));
    for (int piece = 0; piece < 8; ++piece) {
        TMyMidiEvent event;
        event.Status = 0xF1;
        event.DataByte1 = QuarterFrameData(next, rate, piece);
        MonitorState quarter;
        receiver.DecodeShortMessage(event, quarter);
    }
    FUZZ_CHECK(receiver.fields() == next && shown.timecode == nextText, shown.timecode + QLatin1String(" != ") + nextText);
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    if (in.byte() == 0x5A) {
        sentTimecode(in);
    } else {
        TimecodeReceiver receiver;
        Shown shown;
        connect(receiver, shown);
        anyStream(in, receiver);
    }
    return 0;
}
