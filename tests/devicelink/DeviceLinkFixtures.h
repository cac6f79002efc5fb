#pragma once

#include "DeviceLink.h"
#include "MidiBuffers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstring>
#include <functional>
#include <memory>

// Shared by the device link tests: a monitor and capture sink that record every line and call,
// and events made from hexadecimal text.
namespace DeviceLinkFixtures {

// Bytes from "F0 7E 00 ..." (spaces ignored).
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A System Exclusive event whose data block holds all of memory but which claims only length
// bytes (all of them by default): the bytes after length stand in for whatever follows the
// received message in memory, so that a decoder reading or writing past the message shows.
inline std::unique_ptr<TMyMidiEvent> sysexEvent(const QByteArray &memory, int length = -1,
                                                std::uint32_t timestamp = 0)
{
    auto event = std::make_unique<TMyMidiEvent>();
    event->Status = 0xF0;
    event->Timestamp = timestamp;
    event->SysexLen = std::uint16_t(length < 0 ? memory.size() : length);
    if (!memory.isEmpty()) {
        event->SysexData = std::make_unique<std::uint8_t[]>(std::size_t(memory.size()));
        std::memcpy(event->SysexData.get(), memory.constData(), std::size_t(memory.size()));
    }
    return event;
}

inline std::unique_ptr<TMyMidiEvent> shortEvent(std::uint8_t status, std::uint8_t d1 = 0, std::uint8_t d2 = 0,
                                                std::uint32_t timestamp = 0)
{
    auto event = std::make_unique<TMyMidiEvent>();
    event->Status = status;
    event->DataByte1 = d1;
    event->DataByte2 = d2;
    event->Timestamp = timestamp;
    return event;
}

inline QByteArray dataOf(const TMyMidiEvent &event, int size)
{
    return QByteArray(reinterpret_cast<const char *>(event.SysexData.get()), size);
}

// Records what the device link shows and hands over. A capture row is recorded as
// "reader generator camera".
class RecordingMonitor : public DeviceMonitor, public CaptureSink {
public:
    QStringList vmin, m8data, vmout;
    QStringList revtext, revtext2; // one entry per revision change
    QStringList tcpoz, captureTcpoz, mtccount, mmccount;
    QStringList rows;
    bool shown = true;
    std::function<void()> beforeRow; // runs inside AddGpoEvent before the row is recorded

    void appendVmin(const QString &line) override { vmin << line; }
    void appendM8data(const QString &line) override { m8data << line; }
    void appendVmout(const QString &line) override { vmout << line; }
    void setRevision(const QString &text, const QString &text2) override
    {
        revtext << text;
        revtext2 << text2;
    }
    void setTcpoz(const QString &timecode) override { tcpoz << timecode; }
    void setMtccount(const QString &caption) override { mtccount << caption; }
    void setMmccount(const QString &caption) override { mmccount << caption; }
    bool isShown() const override { return shown; }

    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override
    {
        if (beforeRow)
            beforeRow();
        rows << reader + QLatin1Char(' ') + generator + QLatin1Char(' ') + camera;
    }
    void ShowTimecode(const QString &timecode) override { captureTcpoz << timecode; }

    // The devices' state as the capture window was last told it.
    bool deviceMissing = false;
    std::uint64_t lostEvents = 0;
    std::uint64_t serverLate = 0;
    void ShowDeviceHealth(bool missing, std::uint64_t lost, std::uint64_t late) override
    {
        deviceMissing = missing;
        lostEvents = lost;
        serverLate = late;
    }
};

// Records the messages handed to the output.
class RecordingOutput : public SysexOutput {
public:
    QList<QByteArray> sent;
    void SendSysex(const std::uint8_t *Bytes, std::uint16_t Length) override
    {
        sent << QByteArray(reinterpret_cast<const char *>(Bytes), Length);
    }
};

} // namespace DeviceLinkFixtures
