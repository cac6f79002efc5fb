#include "DeviceCodec.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

using namespace OrvexMessage;

int SysexContentLength(const std::uint8_t *Bytes, int Length)
{
    if (!Bytes || Length <= 0)
        return 0;
    return Bytes[Length - 1] == SysexEnd ? Length - 1 : Length;
}

bool Unpack7Bit(std::uint8_t *Bytes, int Length, int CountAt)
{
    const int content = SysexContentLength(Bytes, Length);
    if (CountAt < 0 || CountAt >= content)
        return false;
    const int count = Bytes[CountAt];
    if (CountAt + 1 + PackedSize(count) > content)
        return false;

    // The write position never passes the read position, and within a group each byte is read
    // before its own or a later position is written, so decoding in place is safe.
    int read = CountAt + 1;
    int write = CountAt + 1;
    for (int remaining = count; remaining > 0; remaining -= 7, read += 8, write += 7) {
        const int n = std::min(remaining, 7);
        const std::uint8_t highBits = Bytes[read + n];
        for (int i = 0; i < n; ++i) {
            const std::uint8_t bit7 = ((highBits >> (n - 1 - i)) & 1) << 7;
            Bytes[write + i] = std::uint8_t((Bytes[read + i] & 0x7F) | bit7);
        }
    }
    return true;
}

void Pack7Bit(std::uint8_t *Group, int N)
{
    if (!Group || N < 1 || N > 7)
        return;
    std::uint8_t highBits = 0;
    for (int i = 0; i < N; ++i) {
        highBits = std::uint8_t(highBits | ((Group[i] >> 7) << (N - 1 - i)));
        Group[i] &= 0x7F;
    }
    Group[N] = highBits;
}

int BuildDeviceMessage(OrvexBuffer &Buffer, std::uint8_t Type, const std::uint8_t *Payload, int Count,
                       std::uint8_t Device)
{
    if (Count < 0 || Count > MaxPayload || (Count > 0 && !Payload))
        throw std::invalid_argument("device message payload must hold 0 to 31 bytes");
    const int groups = (Count + 6) / 7;
    Buffer[TypePos] = Type;
    Buffer[CountPos] = std::uint8_t(Count);
    std::fill(Buffer.begin() + PayloadPos, Buffer.begin() + PayloadPos + EncodedArea, std::uint8_t(0));
    for (int j = 0; j < Count; ++j)
        Buffer[std::size_t(PayloadPos + 8 * (j / 7) + j % 7)] = Payload[j];
    for (int g = 0; g < groups; ++g)
        Pack7Bit(Buffer.data() + PayloadPos + 8 * g, g < groups - 1 ? 7 : Count - 7 * g);
    Buffer[std::size_t(PayloadPos + Count + groups)] = SysexEnd;
    Buffer[0] = SysexStart;
    Buffer[1] = NonRealtime;
    Buffer[2] = Device;
    return Count + groups + 6;
}

std::vector<std::uint8_t> EncodeDeviceMessage(std::uint8_t Type, const std::vector<std::uint8_t> &Payload,
                                              std::uint8_t Device)
{
    OrvexBuffer buffer{};
    const int length = BuildDeviceMessage(buffer, Type, Payload.data(), int(Payload.size()), Device);
    return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + length);
}

DeviceMessage UnpackDeviceMessage(std::uint8_t *Bytes, int Length)
{
    DeviceMessage message;
    // F0 7E xx 7F F7 is looked at before anything else, end mark included.
    if (Bytes && Length > CountPos && Bytes[TypePos] == 0x7F && Bytes[CountPos] == SysexEnd) {
        message.kind = DeviceMessage::Kind::Ignored;
        return message;
    }
    if (!Unpack7Bit(Bytes, Length, CountPos))
        return message; // Truncated
    message.kind = DeviceMessage::Kind::Decoded;
    message.type = Bytes[TypePos];
    message.count = Bytes[CountPos];
    message.payload = Bytes + PayloadPos;
    return message;
}

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

// Writes the byte's two digits at out; returns the next position.
char *putHex(char *out, std::uint8_t byte)
{
    *out++ = HexDigits[byte >> 4];
    *out++ = HexDigits[byte & 0x0F];
    return out;
}

// head, then each byte as before, its two digits, after; then tail. Monitor lines are built for
// every event received, so they are written into one buffer instead of joined from pieces.
QString hexRun(const char *head, const std::uint8_t *bytes, int count, const char *before, const char *after,
               const char *tail)
{
    if (!bytes || count < 0)
        count = 0;
    const std::size_t headLength = std::strlen(head);
    const std::size_t beforeLength = std::strlen(before);
    const std::size_t afterLength = std::strlen(after);
    const std::size_t tailLength = std::strlen(tail);
    std::string text;
    text.resize(headLength + std::size_t(count) * (beforeLength + 2 + afterLength) + tailLength);
    char *out = std::copy_n(head, headLength, text.data());
    for (int i = 0; i < count; ++i) {
        out = std::copy_n(before, beforeLength, out);
        out = putHex(out, bytes[i]);
        out = std::copy_n(after, afterLength, out);
    }
    std::copy_n(tail, tailLength, out);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

QString HexByte(std::uint8_t byte)
{
    char text[2];
    putHex(text, byte);
    return QString::fromLatin1(text, 2);
}

QString HexBytes(const std::uint8_t *Bytes, int Count, const char *Before, const char *After)
{
    return hexRun("", Bytes, Count, Before, After, "");
}

QString ReceivedParameterLine(std::uint8_t Type, const std::uint8_t *Payload, int Count)
{
    char head[5];
    putHex(head, Type);
    head[2] = ':';
    head[3] = ' ';
    head[4] = 0;
    return hexRun(head, Payload, Count, " ", "", "");
}

QString SentParameterLine(std::uint8_t Type, const std::uint8_t *Payload, int Count)
{
    char head[4] = {'$', 0, 0, 0};
    putHex(head + 1, Type);
    return hexRun(head, Payload, Count, " $", "", "");
}

QString SysexOutLine(const std::uint8_t *Bytes, int Length)
{
    return hexRun("", Bytes, Length, " ", "", " ");
}

std::optional<CaptureEventText> CaptureEventTexts(const std::uint8_t *Payload, int Count)
{
    if (!Payload || Count < CapturePayload)
        return std::nullopt;
    CaptureEventText text;
    text.camera = HexByte(Payload[1]) + HexByte(Payload[0]);
    text.timecode = HexByte(Payload[2]) + QLatin1Char(':') + HexByte(Payload[3]) + QLatin1Char(':')
                    + HexByte(Payload[4]) + QLatin1Char(':') + HexByte(Payload[5]);
    return text;
}

std::optional<RevisionText> RevisionReplyTexts(const std::uint8_t *Payload, int Count)
{
    if (!Payload || (Count != RevisionShort && Count != RevisionLong))
        return std::nullopt;
    // Payload[k] is b(5+k): HW b5 b6, Core b7 b8, Build b9 b10, Main b11 b12, Build b13 b14.
    auto pair = [Payload](int k) { return HexByte(Payload[k]) + QLatin1Char('.') + HexByte(Payload[k + 1]); };
    RevisionText text;
    text.revtext = QStringLiteral("Core ") + pair(2) + QStringLiteral(" Build ") + pair(4)
                   + QStringLiteral(" HW ") + pair(0);
    if (Count == RevisionLong)
        text.revtext2 = QStringLiteral("Main ") + pair(6) + QStringLiteral(" Build ") + pair(8);
    switch (Payload[1] >> 4) {
    case 6:
        text.revtext2 += QStringLiteral(" Vexa-16");
        break;
    case 8:
        text.revtext2 += QStringLiteral(" Vexa-8");
        break;
    default:
        break;
    }
    return text;
}
