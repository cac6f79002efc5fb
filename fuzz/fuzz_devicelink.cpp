// The device link as MIDI reaches it: messages go into an input port on the loopback service,
// through the driver callback and the ring, and the port's OnMidiInput drains them into
// DeviceLink (monitor lines, routing, device messages, timecode) and on into a capture list, as
// the MIDI device window and the capture window do. A second mode hands arbitrary events, of
// shapes the port never makes, straight to HandleEvent.
//
// Port mode input: two bytes of port settings (ring capacity and System Exclusive buffers), then
// a MIDI byte stream: F0 up to the next F7 is one System Exclusive message, a status byte takes
// its data bytes, a lone F7 hands back an empty buffer, and a data byte where a message should
// start lets the program drain what waits.
//
// Checks: every capture row is well-formed and accepted by the capture list; rows arrive in the
// order their messages were sent, each at most once, and exactly all of them when nothing had
// to be dropped; closing the port releases every buffer and block; the port works again after
// it is reopened.

#include "FuzzSupport.h"

#include "CaptureList.h"
#include "DeviceLink.h"
#include "LoopbackMidiService.h"
#include "MidiIn.h"
#include "MonitorText.h"

#include <QRegularExpression>

#include <array>
#include <cstring>
#include <memory>

namespace {

bool isHexDigits(const QString &text, int count)
{
    if (text.size() != count)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return false;
    }
    return true;
}

// "XX:XX:XX:XX", the interface's four bytes in hexadecimal.
bool isEventTimecode(const QString &text)
{
    if (text.size() != 11)
        return false;
    for (int i = 0; i < 11; i += 3) {
        if (!isHexDigits(text.mid(i, 2), 2) || (i < 9 && text.at(i + 2) != QLatin1Char(':')))
            return false;
    }
    return true;
}

// The running timecode: four decimal fields of two digits, or "0" and three digits above 99.
bool isRunningTimecode(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^(\\d\\d|0\\d\\d\\d)(:(\\d\\d|0\\d\\d\\d)){3}$"));
    return shape.match(text).hasMatch() && text.section(QLatin1Char(':'), 0, 0).toInt() <= 0x1F;
}

class Monitor final : public DeviceMonitor {
public:
    void appendVmin(const QString &line) override
    {
        // The event's text and the decoder's name, each cut to the limit.
        FUZZ_CHECK(line.size() <= 2 * MonitorTextLimit, line);
    }
    void appendM8data(const QString &) override {}
    void appendVmout(const QString &) override {}
    void setRevision(const QString &, const QString &) override {}
    void setTcpoz(const QString &timecode) override { FUZZ_CHECK(isRunningTimecode(timecode), timecode); }
    void setMtccount(const QString &) override {}
    void setMmccount(const QString &) override {}
    bool isShown() const override { return true; }
};

// The capture window's side: every event becomes a row of the list.
class ListSink final : public CaptureSink {
public:
    explicit ListSink(CaptureList &list) : m_list(list) {}
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override
    {
        FUZZ_CHECK(isEventTimecode(reader) && reader == generator, reader + QLatin1Char('|') + generator);
        FUZZ_CHECK(isHexDigits(camera, 4), camera);
        try {
            m_list.addGpoEvent(reader, generator, camera, false);
        } catch (const std::exception &e) {
            Fuzz::fail("the capture list refused a decoded event", __FILE__, __LINE__, QString::fromUtf8(e.what()));
        }
    }
    void ShowTimecode(const QString &timecode) override { FUZZ_CHECK(isRunningTimecode(timecode), timecode); }

private:
    CaptureList &m_list;
};

// The row a whole message gives when the program decodes it, as "reader camera".
QString rowOfMessage(const QByteArray &message)
{
    QByteArray copy = message;
    auto *bytes = reinterpret_cast<std::uint8_t *>(copy.data());
    if (copy.size() < 2 || bytes[0] != 0xF0 || bytes[1] != OrvexMessage::NonRealtime)
        return QString();
    const DeviceMessage decoded = UnpackDeviceMessage(bytes, int(copy.size()));
    if (decoded.kind != DeviceMessage::Kind::Decoded
        || (decoded.type != OrvexMessage::CaptureEvent && decoded.type != OrvexMessage::CaptureEventAlt))
        return QString();
    const auto texts = CaptureEventTexts(decoded.payload, decoded.count);
    return texts ? texts->timecode + QLatin1Char(' ') + texts->camera : QString();
}

QStringList rowsOf(const CaptureList &list, int from = 0)
{
    QStringList rows;
    for (int r = from; r < list.count(); ++r)
        rows << list.text(r, CaptureList::ReaderColumn) + QLatin1Char(' ') + list.text(r, CaptureList::CameraColumn);
    return rows;
}

bool isSubsequence(const QStringList &part, const QStringList &whole)
{
    qsizetype at = 0;
    for (const QString &row : part) {
        while (at < whole.size() && whole.at(at) != row)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

int shortLength(std::uint8_t status)
{
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2)
        return 3;
    if (status < 0xE0 || status == 0xF1 || status == 0xF3)
        return 2;
    return 1;
}

void portMode(Fuzz::Input &in)
{
    static constexpr std::array<std::uint16_t, 8> Capacities{1, 2, 3, 5, 8, 16, 64, 1024};
    static constexpr std::array<std::uint16_t, 8> BufferSizes{1, 2, 5, 8, 13, 16, 64, 4096};
    static constexpr std::array<std::uint16_t, 8> BufferCounts{0, 1, 2, 3, 4, 16, 16, 16};
    const std::uint8_t ring = in.byte();
    const std::uint8_t buffers = in.byte();
    const std::uint16_t capacity = Capacities[ring & 7];
    const bool sysexOnly = (ring >> 3 & 7) == 7;
    const std::uint16_t bufferSize = BufferSizes[buffers & 7];
    const std::uint16_t bufferCount = BufferCounts[buffers >> 3 & 7];

    LoopbackMidiService service;
    service.setClockMs(0);
    const int device = service.addInput(QStringLiteral("Orvex"));
    Monitor monitor;
    CaptureList list;
    ListSink sink(list);
    DeviceLink link(monitor);
    link.setCaptureSink(&sink);

    int overflows = 0;
    {
        TMidiInput port(service);
        port.setCapacity(capacity);
        port.setSysexBufferSize(bufferSize);
        port.setSysexBufferCount(bufferCount);
        port.setSysexOnly(sysexOnly);
        port.setOnMidiInput([&](QObject *) { link.MidiInput1MidiInput(port); });
        port.setOnOverflow([&](QObject *) { ++overflows; });
        port.Open();
        FUZZ_CHECK(port.State() == psOpen, QStringLiteral("error %1").arg(port.Error()));
        port.Start();

        // What the rows must be: the row of every whole message sent, in order. Messages split
        // over several buffers give rows of their pieces instead, so the order is checked only
        // without them; nothing may be missing when nothing had to be dropped.
        QStringList expected;
        bool split = false;
        bool dropped = false;
        int eventsWaiting = 0;
        int buffersInUse = 0;
        const auto drain = [&] {
            QCoreApplication::sendPostedEvents();
            eventsWaiting = 0;
            buffersInUse = 0;
        };
        const auto send = [&](const QByteArray &message) {
            const bool isSysex = message.isEmpty() || std::uint8_t(message.at(0)) == 0xF0;
            if (isSysex) {
                if (message.size() > bufferSize)
                    split = true;
                const int pieces = message.isEmpty() ? 1 : int((message.size() + bufferSize - 1) / bufferSize);
                buffersInUse += pieces;
                eventsWaiting += pieces;
                if (buffersInUse > bufferCount)
                    dropped = true;
                const QString row = rowOfMessage(message);
                if (!row.isEmpty())
                    expected << row;
            } else if (!sysexOnly) {
                ++eventsWaiting;
            }
            if (eventsWaiting > capacity)
                dropped = true;
            FUZZ_CHECK(service.send(device, message), QStringLiteral("the device is not open"));
        };

        while (!in.atEnd()) {
            const std::uint8_t status = in.byte();
            if (status < 0x80) {
                drain();
                continue;
            }
            QByteArray message(1, char(status));
            if (status == 0xF0)
                message += in.until(char(0xF7)) + char(0xF7);
            else if (status == 0xF7)
                message.clear();
            else
                message += in.bytes(std::size_t(shortLength(status) - 1));
            send(message);
        }
        drain();

        const QStringList rows = rowsOf(list);
        if (!split)
            FUZZ_CHECK(isSubsequence(rows, expected), rows.join(QLatin1Char(',')) + QLatin1String(" not in ")
                                                          + expected.join(QLatin1Char(',')));
        if (!split && !dropped && bufferCount > 0) {
            FUZZ_CHECK(overflows == 0, QString::number(overflows));
            FUZZ_CHECK(rows == expected, rows.join(QLatin1Char(',')) + QLatin1String(" != ")
                                             + expected.join(QLatin1Char(',')));
        }
        FUZZ_CHECK(port.PendingCount() == 0, QString::number(port.PendingCount()));

        // Whatever came before, the port closes cleanly and works again once reopened.
        port.Stop();
        port.Close();
        FUZZ_CHECK(TMyMidiHdr::instances() == 0, QString::number(TMyMidiHdr::instances()));
        FUZZ_CHECK(service.openDeviceCount() == 0, QString::number(service.openDeviceCount()));
        if (bufferCount > 0 && bufferSize >= 13) {
            port.Open();
            port.Start();
            const int before = list.count();
            const QByteArray event = QByteArray::fromHex("F07E00240601001023451200");
            FUZZ_CHECK(service.send(device, event + char(0xF7)), QStringLiteral("reopened device is not open"));
            QCoreApplication::sendPostedEvents();
            FUZZ_CHECK(rowsOf(list, before) == QStringList{QStringLiteral("10:23:45:12 0001")},
                       rowsOf(list, before).join(QLatin1Char(',')));
            port.Close();
        }
    }
    FUZZ_CHECK(SharedBlockCount() == 0, QString::number(SharedBlockCount()));
}

// Events as the port would never make them: any status with a System Exclusive block, a block
// that does not start with F0, a length without a block.
void eventMode(Fuzz::Input &in)
{
    Monitor monitor;
    CaptureList list;
    ListSink sink(list);
    DeviceLink link(monitor);
    link.setCaptureSink(&sink);
    while (!in.atEnd()) {
        TMyMidiEvent event;
        event.Status = in.byte();
        event.DataByte1 = in.byte();
        event.DataByte2 = in.byte();
        event.Timestamp = std::uint32_t(in.word()) << 16 | in.word();
        const std::uint8_t shape = in.byte();
        if (shape & 1) {
            const std::uint16_t length = std::uint16_t(in.byte() | (shape & 0x70) << 4);
            const QByteArray block = in.bytes(length);
            event.SysexLen = std::uint16_t(block.size());
            if (!block.isEmpty()) {
                event.SysexData = std::make_unique<std::uint8_t[]>(std::size_t(block.size()));
                std::memcpy(event.SysexData.get(), block.constData(), std::size_t(block.size()));
            }
        } else if (shape & 2) {
            event.SysexLen = std::uint16_t(in.byte()); // claimed, but no block
        }
        try {
            link.HandleEvent(event);
        } catch (const std::exception &e) {
            Fuzz::fail("HandleEvent raised", __FILE__, __LINE__, QString::fromUtf8(e.what()));
        }
    }
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    if (size > 0 && data[0] == 0xEE) {
        in.byte();
        eventMode(in);
    } else {
        portMode(in);
    }
    return 0;
}
