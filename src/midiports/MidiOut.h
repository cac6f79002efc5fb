#pragma once

#include "Errors.h"
#include "MidiService.h"
#include "MidiBuffers.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class PortWindow;
struct TCallbackContext;

// Every error of the output port.
class EmidioutputError : public CorvaneError {
public:
    using CorvaneError::CorvaneError;
};

// Sends MIDI to one output device of the MIDI service: three-byte short messages and System
// Exclusive blocks. A block travels in a TMyMidiHdr that lives until the driver reports it sent;
// the report reaches the port's hidden window on the user-interface thread, which frees the
// header and calls Onmidioutput. Open reports failure only through its result; every other
// error raises EmidioutputError.
class TMidiOutput : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ProductName READ ProductName WRITE setProductName)
    Q_PROPERTY(qint32 DeviceID READ DeviceID WRITE setDeviceID)

public:
    // On the program's MIDI service (midiService()), or on the one given, which must outlive
    // the port. No device is selected until DeviceID or ProductName is set.
    explicit TMidiOutput(QObject *Owner = nullptr);
    explicit TMidiOutput(MidiService &service, QObject *Owner = nullptr);
    ~TMidiOutput() override;

    QString ProductName() const { return m_productName; }
    // Selects the first device whose product name is exactly this (letter case counts),
    // searching the mapper first.
    void setProductName(const QString &name);
    std::int32_t DeviceID() const { return m_deviceId; }
    // -1 is the mapper (MIDI_MAPPER).
    void setDeviceID(std::int32_t id);

    // Called on the user-interface thread each time the driver has finished a long message,
    // after its header was released.
    const TNotifyEvent &Onmidioutput() const { return m_onMidiOutput; }
    void setOnmidioutput(TNotifyEvent handler) { m_onMidiOutput = std::move(handler); }

    TPortState State() const { return m_state; }

    // True when the device was opened (or already was open). Never raises.
    virtual bool Open();
    // True when it closed an open device, false when the port was not open.
    virtual bool Close();
    // A System Exclusive event goes out with SendLong, any other with SendShort.
    virtual void SendEvent(const TMyMidiEvent &event);
    virtual void SendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    // Returns once the driver has accepted the bytes. A block the driver refused is released.
    virtual void SendLong(const std::uint8_t *bytes, std::uint16_t count);

    // False once the open device has gone (unplugged, or its MIDI server ended): it takes
    // nothing more, and the port should be closed. True while it is there, and while closed.
    bool DevicePresent();

private:
    [[noreturn]] void raise(MMRESULT result) const;
    QString errorText(std::uint16_t code) const;
    MMRESULT keep(MMRESULT result);
    void handleDone(TMyMidiHdr *header);

    MidiService &m_service;
    std::unique_ptr<PortWindow> m_window;
    TPortState m_state = psClosed;
    HMIDIOUT m_handle = nullptr;
    TCallbackContext *m_context = nullptr;
    std::uint16_t m_result = 0; // the low 16 bits of the last platform result

    QString m_productName;
    std::int32_t m_deviceId = 0;
    TNotifyEvent m_onMidiOutput;

    // From the selected device's capabilities; nothing else reads them.
    std::uint32_t m_driverVersion = 0;
    std::uint8_t m_technology = 0;
    std::uint16_t m_voices = 0;
    std::uint16_t m_notes = 0;
    std::uint16_t m_channelMask = 0;
    std::uint32_t m_support = 0;
};
