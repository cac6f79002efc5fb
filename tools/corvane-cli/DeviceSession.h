#pragma once

#include "DeviceLink.h"
#include "DeviceWatch.h"

#include <QString>

#include <functional>
#include <memory>

class MidiService;
class TMidiInput;
class TMidiOutput;

// The device window without a window, for corvane-cli: the named input (and output) opened on
// a MIDI service and drained through the device link. Every line the window would append to a
// memo, each capture row, each timecode shown and each revision reply goes to the line handler
// as the monitor command prints it ("vmin<TAB>line", "row<TAB>capture-file line", ...); each
// capture row also goes to the row handler as its capture-file line. As the window does, it
// notices a device that goes away (closing its port), opens it again when it comes back (and asks
// the interface for its revision again), and counts lost events; each of these goes to the status
// handler as a message. Main thread only.
class DeviceSession final : public DeviceMonitor, public CaptureSink {
public:
    using LineHandler = std::function<void(const QString &line)>;

    explicit DeviceSession(MidiService &service);
    ~DeviceSession() override;

    DeviceSession(const DeviceSession &) = delete;
    DeviceSession &operator=(const DeviceSession &) = delete;

    void setLineHandler(LineHandler handler) { m_lines = std::move(handler); }
    void setRowHandler(LineHandler handler) { m_rows = std::move(handler); }
    // Called once a drain of the input is over (rows that arrived together have all gone to the
    // row handler); what it throws goes to the error handler.
    void setDrainEndHandler(std::function<void()> handler) { m_drainEnd = std::move(handler); }
    // Rows are numbered on from this count ("%.4d" of count + 1 for the next row).
    void setRowCount(int rows) { m_rowCount = rows; }
    int rowCount() const { return m_rowCount; }

    // Opens the input named (exact name, else the first equal without regard to case) and starts
    // it; with an output name, opens that output too and sends the revision query. False, with
    // error set, when a device is not there or does not open (nothing stays open then).
    bool open(const QString &inputName, const QString &outputName, QString &error);
    // Closes both ports; nothing when closed.
    void close();
    bool isOpen() const { return m_open; }

    // Messages about the devices: gone, back, events lost, MIDI server late.
    void setStatusHandler(LineHandler handler) { m_status = std::move(handler); }
    // Whether a device that was opened has gone and not come back yet.
    bool deviceMissing() const { return m_watch->anyMissing(); }
    // Events the input lost since the session was made.
    std::uint64_t lostEvents() const;
    // The MIDI server's late cycles while the input was open, since the session was made
    // (TMidiInput::LateCount): input may have been dropped in them unseen.
    std::uint64_t serverLate() const;
    // The status message for that count.
    static QString serverLateText(std::uint64_t late);
    DeviceWatch &deviceWatch() { return *m_watch; }

    // An error raised while handling received events (the row handler's, say), reported once
    // the drain is over; handled events are not handled again.
    void setErrorHandler(LineHandler handler) { m_errors = std::move(handler); }

    DeviceLink &deviceLink() { return m_link; }

    // DeviceMonitor
    void appendVmin(const QString &line) override;
    void appendM8data(const QString &line) override;
    void appendVmout(const QString &line) override;
    void setRevision(const QString &revtext, const QString &revtext2) override;
    void setTcpoz(const QString &timecode) override;
    void setMtccount(const QString &) override {}
    void setMmccount(const QString &) override {}
    bool isShown() const override { return true; }

    // CaptureSink
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override;
    void ShowTimecode(const QString &) override {}

private:
    void line(const char *memo, const QString &text);
    // Runs work, handing what it throws to the error handler.
    void guarded(const std::function<void()> &work);
    void status(const QString &message);
    // Open the device number; false with error set when it does not open (the port stays closed).
    bool openInput(int device, QString &error);
    bool openOutput(int device, QString &error);
    void closeInput();
    void closeOutput();
    void deviceLost(DeviceWatch::Port port);
    void deviceBack(DeviceWatch::Port port, int device);

    MidiService &m_service;
    std::unique_ptr<TMidiInput> m_input;
    std::unique_ptr<TMidiOutput> m_output;
    std::unique_ptr<PortSysexOutput> m_sender;
    std::unique_ptr<DeviceWatch> m_watch;
    DeviceLink m_link;
    bool m_open = false;
    bool m_outputOpen = false;
    bool m_withOutput = false;
    int m_rowCount = 0;
    LineHandler m_lines;
    LineHandler m_rows;
    LineHandler m_errors;
    LineHandler m_status;
    std::function<void()> m_drainEnd;
};
