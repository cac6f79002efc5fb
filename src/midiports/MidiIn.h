#pragma once

#include "Errors.h"
#include "EventRing.h"
#include "MidiService.h"
#include "MidiBuffers.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class PortWindow;
struct TCallbackContext;

// Every error of the input port.
class EMidiInputError : public CorvaneError {
public:
    using CorvaneError::CorvaneError;
};

// Receives MIDI from one input device of the MIDI service. The device is chosen by number
// (DeviceID) or product name; Open queues a pool of System Exclusive buffers with the driver;
// the driver callback fills the event ring, and on the user-interface thread OnMidiInput tells
// the owner to drain it with PendingCount and NextEvent. Open never raises: a port that failed
// to open stays closed with Error set. Every other error raises EMidiInputError.
class TMidiInput : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ProductName READ ProductName WRITE setProductName)
    Q_PROPERTY(quint16 DeviceID READ DeviceID WRITE setDeviceID)
    Q_PROPERTY(quint16 Capacity READ Capacity WRITE setCapacity)
    Q_PROPERTY(quint16 Error READ Error)
    Q_PROPERTY(quint16 SysexBufferSize READ SysexBufferSize WRITE setSysexBufferSize)
    Q_PROPERTY(quint16 SysexBufferCount READ SysexBufferCount WRITE setSysexBufferCount)
    Q_PROPERTY(bool SysexOnly READ SysexOnly WRITE setSysexOnly)

public:
    // On the program's MIDI service (midiService()), or on the one given, which must outlive
    // the port. Selects device 0 if there is one.
    explicit TMidiInput(QObject *Owner = nullptr);
    explicit TMidiInput(MidiService &service, QObject *Owner = nullptr);
    ~TMidiInput() override;

    QString ProductName() const { return m_productName; }
    // Selects the first device whose product name is exactly this (letter case counts).
    void setProductName(const QString &name);
    std::uint16_t DeviceID() const { return m_deviceId; }
    void setDeviceID(std::uint16_t id);
    // Ring slots; takes effect at the next Open. 0 makes Open fail.
    std::uint16_t Capacity() const { return m_capacity; }
    void setCapacity(std::uint16_t capacity) { m_capacity = capacity; }
    // The low 16 bits of the last platform result.
    std::uint16_t Error() const { return m_error; }
    std::uint16_t SysexBufferSize() const { return m_sysexBufferSize; }
    void setSysexBufferSize(std::uint16_t size);
    std::uint16_t SysexBufferCount() const { return m_sysexBufferCount; }
    void setSysexBufferCount(std::uint16_t count);
    // Drop short messages in the driver callback; takes effect at once, even while open.
    bool SysexOnly() const { return m_sysexOnly; }
    void setSysexOnly(bool sysexOnly);

    // Called on the user-interface thread when events wait (drain until PendingCount is 0),
    // and once for every event the driver side had to drop because the ring was full.
    const TNotifyEvent &OnMidiInput() const { return m_onMidiInput; }
    void setOnMidiInput(TNotifyEvent handler) { m_onMidiInput = std::move(handler); }
    const TNotifyEvent &OnOverflow() const { return m_onOverflow; }
    void setOnOverflow(TNotifyEvent handler) { m_onOverflow = std::move(handler); }

    TPortState State() const { return m_state; }

    // Opens the selected device and queues the buffers; does nothing on an open port.
    void Open();
    // Start and stop reception on the open device; nothing when closed.
    void Start();
    void Stop();
    // Closes the device and releases its buffers and the ring. Everything is released even when
    // a step fails; the first failure is raised afterwards.
    void Close();
    std::uint16_t PendingCount() const;
    // The oldest waiting event, or null when closed or nothing waits. Its System Exclusive
    // buffer goes back to the driver.
    std::unique_ptr<TMyMidiEvent> NextEvent();

    // False once the open device has gone (unplugged, or its MIDI server ended): it delivers
    // nothing more, and the port should be closed. True while it is there, and while closed.
    bool DevicePresent();
    // Events lost since the port was made: dropped because the ring was full, or lost by the
    // MIDI service (no System Exclusive buffer queued, or lost on their way from the device).
    std::uint64_t LostCount() const;
    // Late cycles of the MIDI server while the port was open (MidiService::midiInLateCount),
    // since the port was made: periods in which the server may have dropped input unseen. Not
    // counted among the lost events, which are known to be lost.
    std::uint64_t LateCount() const;

private:
    [[noreturn]] void raise(MMRESULT result) const;
    QString errorText(std::uint16_t code) const;
    MMRESULT keep(MMRESULT result);
    // Resets and closes the device and frees the buffers and the ring; returns the first
    // failure.
    MMRESULT release();
    void handleMidiData();
    void handleOverflow();

    MidiService &m_service;
    std::unique_ptr<PortWindow> m_window;
    TPortState m_state = psCreating;
    HMIDIIN m_handle = nullptr;
    TEventRing *m_ring = nullptr;
    TCallbackContext *m_context = nullptr;
    std::vector<std::unique_ptr<TMyMidiHdr>> m_buffers;

    QString m_productName;
    std::uint16_t m_deviceId = 0;
    std::uint16_t m_capacity = 1024;
    std::uint16_t m_error = 0;
    std::uint16_t m_sysexBufferSize = 4096;
    std::uint16_t m_sysexBufferCount = 16;
    bool m_sysexOnly = false;
    TNotifyEvent m_onMidiInput;
    TNotifyEvent m_onOverflow;
    std::uint64_t m_overflows = 0;
    std::uint64_t m_lateByClosedDevices = 0;
    std::uint64_t m_lostByClosedDevices = 0; // what the service lost on devices closed since

    // From the selected device's capabilities; nothing else reads them.
    std::uint32_t m_driverVersion = 0;
    std::uint16_t m_mid = 0;
    std::uint16_t m_pid = 0;
};
