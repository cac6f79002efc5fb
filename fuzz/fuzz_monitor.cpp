// The input monitor's text of any event, and the names the decoders add: nothing is read past
// the bytes given, and the texts have their fixed shapes.

#include "FuzzSupport.h"

#include "MonitorText.h"

#include <cstring>
#include <memory>

namespace {

bool isUpperHex(QStringView text)
{
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    TMyMidiEvent event;
    event.Status = in.byte();
    event.DataByte1 = in.byte();
    event.DataByte2 = in.byte();
    event.Timestamp = std::uint32_t(in.word()) << 16 | in.word();
    const QByteArray block = in.rest();
    const int length = int(block.size());
    // Exactly the bytes given, in a block of their own size.
    std::unique_ptr<std::uint8_t[]> bytes;
    if (length > 0) {
        bytes.reset(new std::uint8_t[std::size_t(length)]);
        std::memcpy(bytes.get(), block.constData(), std::size_t(length));
    }

    const QString dump = SysexBytesText(bytes.get(), length);
    FUZZ_CHECK(dump.size() == 3 * std::min(length, SysexDumpLimit), dump);
    for (int i = 0; i < dump.size(); i += 3)
        FUZZ_CHECK(isUpperHex(QStringView(dump).mid(i, 2)) && dump.at(i + 2) == QLatin1Char(' '), dump);

    if (event.Status == 0xF0) {
        event.SysexLen = std::uint16_t(length);
        event.SysexData = std::move(bytes);
        const QString text = MidiEventText(event);
        FUZZ_CHECK(text == QStringLiteral("Sysex (%1): ").arg(length) + dump, text);
        bytes = std::move(event.SysexData);
    } else {
        const QString text = MidiEventText(event);
        FUZZ_CHECK(text.size() >= 11 && isUpperHex(QStringView(text).left(8)), text);
        FUZZ_CHECK(text.endsWith(QLatin1String(MidiMessageName(event.Status))), text);
    }

    ShortMessageName(event.Status);
    MmcFieldName(event.DataByte1);
    // The MMC name reads positions 4 and 6 of the message.
    MmcCommandName(bytes.get(), length);
    return 0;
}
