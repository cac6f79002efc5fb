// What RtMidi hands over as one message, split into the messages it holds before the service
// takes them. Any bytes: the messages are pieces of the bytes given, in order and without
// overlap, each starting with a status byte; a System Exclusive piece holds no status byte
// that would end it; only data bytes without a status byte of their own are left out; and
// bytes that need no split are handed on whole.

#include "FuzzSupport.h"

#include "RtMidiService.h"

namespace {

bool endsSysex(std::uint8_t b)
{
    return b >= 0x80 && b < 0xF8 && b != 0xF7;
}

struct Pieces final : MidiInputSink {
    const std::uint8_t *base = nullptr;
    std::size_t size = 0;
    std::size_t next = 0; // where the next piece may start
    int count = 0;

    void receive(const std::uint8_t *bytes, std::size_t length, double deltaSeconds) noexcept override
    {
        const std::size_t at = std::size_t(bytes - base);
        FUZZ_CHECK(bytes >= base && at >= next && at + length <= size, QStringLiteral("piece outside the bytes"));
        FUZZ_CHECK(count == 0 || deltaSeconds == 0.0, QString::number(deltaSeconds));
        // Skipped bytes are data bytes.
        for (std::size_t i = next; i < at; ++i)
            FUZZ_CHECK(base[i] < 0x80, QStringLiteral("status byte %1 dropped").arg(base[i], 2, 16));
        if (count > 0 || length != size) {
            FUZZ_CHECK(length > 0 && bytes[0] >= 0x80, QStringLiteral("piece without a status byte"));
            if (bytes[0] == 0xF0) {
                for (std::size_t i = 1; i < length; ++i)
                    FUZZ_CHECK(!endsSysex(bytes[i]) && (bytes[i] != 0xF7 || i == length - 1),
                               QStringLiteral("System Exclusive piece goes on past its end"));
            } else {
                FUZZ_CHECK(length <= 3, QString::number(length));
            }
        }
        next = at + length;
        ++count;
    }
};

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Pieces pieces;
    pieces.base = data;
    pieces.size = size;
    RtMidiService::deliverGathered(pieces, data, size, 0.5);
    for (std::size_t i = pieces.next; i < size; ++i)
        FUZZ_CHECK(data[i] < 0x80, QStringLiteral("status byte at the end dropped"));
    // Nothing to split: handed on whole.
    bool inner = false;
    for (std::size_t i = 1; i < size; ++i)
        inner = inner || endsSysex(data[i]);
    if (size == 0 || data[0] != 0xF0 || !inner)
        FUZZ_CHECK(pieces.count == 1 && pieces.next == size, QString::number(pieces.count));
    return 0;
}
