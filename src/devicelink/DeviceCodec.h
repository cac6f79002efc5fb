#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The Orvex interface's own System Exclusive messages, F0 7E <device> <type> <count> <payload
// packed in 7-bit groups> F7: packing and unpacking, the texts made from them, and the building
// of the messages we send. Pure byte work, shared by the device link and by orvex-sim.
//
// Every function that reads a received message is given the number of bytes received and reads
// nothing beyond them. A trailing F7 is the message's end mark, never part of its content: data
// bytes of a System Exclusive message are below 80, so a needed position that holds the end mark
// means the message is shorter than its layout.

namespace OrvexMessage {
inline constexpr std::uint8_t SysexStart = 0xF0;
inline constexpr std::uint8_t SysexEnd = 0xF7;
inline constexpr std::uint8_t NonRealtime = 0x7E; // second byte of the interface's messages
inline constexpr std::uint8_t Realtime = 0x7F;    // universal real-time messages (MTC, MMC)

// Message types.
inline constexpr std::uint8_t RevisionQuery = 0x11;
inline constexpr std::uint8_t RevisionReply = 0x21;
inline constexpr std::uint8_t CaptureEvent = 0x24;
inline constexpr std::uint8_t CaptureEventAlt = 0x2F;
inline constexpr std::uint8_t ParameterTable1 = 0x05;
inline constexpr std::uint8_t ParameterTable2 = 0x0C;
inline constexpr std::uint8_t ParameterCommit = 0x07; // always sent with count 0

inline constexpr int TypePos = 3;
inline constexpr int CountPos = 4;
inline constexpr int PayloadPos = 5;

// The outgoing buffer: header, 36 bytes of encoded payload area (31 payload bytes), end mark.
inline constexpr int MaxPayload = 31;
inline constexpr int EncodedArea = 36;
inline constexpr int BufferSize = PayloadPos + EncodedArea + 1;

// Payload bytes of a capture event and of the two revision reply layouts.
inline constexpr int CapturePayload = 6;
inline constexpr int RevisionShort = 6;
inline constexpr int RevisionLong = 10;
} // namespace OrvexMessage

using OrvexBuffer = std::array<std::uint8_t, OrvexMessage::BufferSize>;

// Bytes on the wire for count payload bytes: each group of up to 7 gains one high-bit byte.
constexpr int PackedSize(int count)
{
    return count + (count + 6) / 7;
}

// The bytes of a received System Exclusive message that carry content: length without the end
// mark F7 when the message ends with it.
int SysexContentLength(const std::uint8_t *Bytes, int Length);

// Decodes in place the packed payload whose count N stands at CountAt of a received message of
// Length bytes: afterwards the N payload bytes stand at CountAt+1 .. CountAt+N. In a group of n
// data bytes, data byte i takes its bit 7 from bit n-1-i of the group's high-bit byte. Returns
// false, changing nothing, when the count position or the packed payload that the count claims
// lies beyond the message's content.
bool Unpack7Bit(std::uint8_t *Bytes, int Length, int CountAt);

// Encodes one group of N (1 to 7) payload bytes in place: Group[N] gets the high bits of
// Group[0 .. N-1] (Group[0]'s in bit N-1) and those bytes lose their bit 7. Any other N does
// nothing.
void Pack7Bit(std::uint8_t *Group, int N);

// Builds F0 7E <device> <type> <count> <packed payload> F7 into the outgoing buffer and returns
// its length (count + groups + 6). The encoded area is cleared first, so stale bytes of an
// earlier, longer message never follow. Throws std::invalid_argument for a count outside
// 0 .. MaxPayload.
int BuildDeviceMessage(OrvexBuffer &Buffer, std::uint8_t Type, const std::uint8_t *Payload,
                       int Count, std::uint8_t Device = 0);
// The same as a byte vector (orvex-sim).
std::vector<std::uint8_t> EncodeDeviceMessage(std::uint8_t Type, const std::vector<std::uint8_t> &Payload,
                                              std::uint8_t Device = 0);

// A received F0 7E message after UnpackDeviceMessage.
struct DeviceMessage {
    enum class Kind {
        Ignored,   // F0 7E xx 7F F7: not decoded, not shown
        Truncated, // shorter than its header or than its count claims: dropped
        Decoded,   // payload unpacked in place
    };
    Kind kind = Kind::Truncated;
    std::uint8_t type = 0;
    int count = 0;
    const std::uint8_t *payload = nullptr; // count bytes, inside the message
};

// Classifies a received F0 7E message of Length bytes and, when it is whole, unpacks its payload
// in place.
DeviceMessage UnpackDeviceMessage(std::uint8_t *Bytes, int Length);

// Two upper-case hexadecimal digits.
QString HexByte(std::uint8_t byte);
// Each of Count bytes as Before, two digits, After, all joined; empty for no bytes.
QString HexBytes(const std::uint8_t *Bytes, int Count, const char *Before, const char *After);

// The parameter monitor line of a received interface message: the type, ": ", then " XX" for
// each payload byte ("24:  01 00 10 23 45 12"; "11: " without payload).
QString ReceivedParameterLine(std::uint8_t Type, const std::uint8_t *Payload, int Count);
// The parameter monitor line of a parameter message sent: "$05 $01 $03"; "$07" without payload.
QString SentParameterLine(std::uint8_t Type, const std::uint8_t *Payload, int Count);
// The output monitor line of a sent message: " XX" for each byte, then one more space.
QString SysexOutLine(const std::uint8_t *Bytes, int Length);

// A capture event's texts, from its payload: camera state low byte, high byte, then hours,
// minutes, seconds, frames as the interface sent them. Nothing for fewer than six bytes; bytes
// after the sixth are not looked at.
struct CaptureEventText {
    QString camera;   // four digits, high byte first: "0081"
    QString timecode; // each byte as two digits: "10:23:45:12"
};
std::optional<CaptureEventText> CaptureEventTexts(const std::uint8_t *Payload, int Count);

// The revision lines of a revision reply: HW pair, Core pair, Build pair, and with a count of 10
// also the Main pair and the second Build pair. The model label from the upper four bits of the
// second HW byte ends the second line. Nothing for a count other than 6 or 10.
struct RevisionText {
    QString revtext;
    QString revtext2;
};
std::optional<RevisionText> RevisionReplyTexts(const std::uint8_t *Payload, int Count);
