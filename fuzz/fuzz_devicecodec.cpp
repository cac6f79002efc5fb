// The interface's message codec. Any received message: unpacking reads and writes nothing
// outside the message's content, and a message it refuses is left as it was. Any payload we
// send: the built message is valid System Exclusive (data bytes below 80, one end mark) and
// unpacks to the same type and payload.

#include "FuzzSupport.h"

#include "DeviceCodec.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

QString hexOf(const std::uint8_t *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex(' '));
}

// A received message in a block of exactly its size, so any read or write past it is caught.
void receivedMessage(Fuzz::Input &in)
{
    const QByteArray message = in.rest();
    const int length = int(message.size());
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[std::size_t(length > 0 ? length : 1)]);
    if (length > 0)
        std::memcpy(bytes.get(), message.constData(), std::size_t(length));

    const DeviceMessage decoded = UnpackDeviceMessage(length > 0 ? bytes.get() : nullptr, length);
    const auto *original = reinterpret_cast<const std::uint8_t *>(message.constData());
    if (decoded.kind != DeviceMessage::Kind::Decoded) {
        FUZZ_CHECK(length == 0 || std::memcmp(bytes.get(), original, std::size_t(length)) == 0,
                   QStringLiteral("a refused message was changed"));
        return;
    }
    const int content = SysexContentLength(bytes.get(), length);
    FUZZ_CHECK(decoded.count == original[OrvexMessage::CountPos], QString::number(decoded.count));
    FUZZ_CHECK(decoded.payload == bytes.get() + OrvexMessage::PayloadPos, QString());
    FUZZ_CHECK(OrvexMessage::PayloadPos + PackedSize(decoded.count) <= content, hexOf(original, length));
    // The header and everything after the packed payload stay as received.
    FUZZ_CHECK(std::memcmp(bytes.get(), original, OrvexMessage::PayloadPos) == 0, hexOf(bytes.get(), length));
    const int packedEnd = OrvexMessage::PayloadPos + PackedSize(decoded.count);
    FUZZ_CHECK(std::memcmp(bytes.get() + packedEnd, original + packedEnd, std::size_t(length - packedEnd)) == 0,
               hexOf(bytes.get(), length));

    // The texts made from a payload read only its bytes.
    ReceivedParameterLine(decoded.type, decoded.payload, decoded.count);
    CaptureEventTexts(decoded.payload, decoded.count);
    RevisionReplyTexts(decoded.payload, decoded.count);
}

// A message we send, and the interface's view of it.
void sentMessage(Fuzz::Input &in)
{
    const std::uint8_t type = in.byte() & 0x7F;
    const std::uint8_t device = in.byte() & 0x7F;
    const int count = in.byte() % (OrvexMessage::MaxPayload + 1);
    const QByteArray payload = in.bytes(std::size_t(count)).leftJustified(count, '\0');
    const std::vector<std::uint8_t> sent =
        EncodeDeviceMessage(type, std::vector<std::uint8_t>(payload.begin(), payload.end()), device);

    const int length = int(sent.size());
    FUZZ_CHECK(length == count + (count + 6) / 7 + 6, QString::number(length));
    FUZZ_CHECK(sent.front() == 0xF0 && sent.back() == 0xF7, hexOf(sent.data(), length));
    for (int i = 1; i < length - 1; ++i)
        FUZZ_CHECK(sent[std::size_t(i)] < 0x80, hexOf(sent.data(), length));

    std::vector<std::uint8_t> received = sent;
    const DeviceMessage decoded = UnpackDeviceMessage(received.data(), length);
    FUZZ_CHECK(decoded.kind == DeviceMessage::Kind::Decoded, hexOf(sent.data(), length));
    FUZZ_CHECK(decoded.type == type && decoded.count == count, hexOf(sent.data(), length));
    FUZZ_CHECK(count == 0 || std::memcmp(decoded.payload, payload.constData(), std::size_t(count)) == 0,
               hexOf(sent.data(), length));
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    if (in.byte() & 1)
        sentMessage(in);
    else
        receivedMessage(in);
    return 0;
}
