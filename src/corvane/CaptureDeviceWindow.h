#pragma once

#include "CaptureDevices.h"
#include "DeviceLink.h"

class Tedlf;
class Tmidiiof;

// Joins the capture window and the MIDI device window, which know nothing of each other: the
// capture window reaches the device window through TCaptureDevices (start-up, exit, "USB"), and
// the device window's capture events and running timecode reach the capture window through
// CaptureSink. Made once both windows exist; unhooks itself from both when it goes.
class CaptureDeviceWindow final : public TCaptureDevices, public CaptureSink {
public:
    CaptureDeviceWindow(Tedlf &edlf, Tmidiiof &midiiof);
    ~CaptureDeviceWindow() override;

    CaptureDeviceWindow(const CaptureDeviceWindow &) = delete;
    CaptureDeviceWindow &operator=(const CaptureDeviceWindow &) = delete;

    // TCaptureDevices
    void StartDevices() override;
    void StopDevices() override;
    void CloseInput() override;
    void CloseWindow() override;
    void ShowHide() override;

    // CaptureSink
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override;
    void ShowTimecode(const QString &timecode) override;
    void ShowDeviceHealth(bool missing, std::uint64_t lost, std::uint64_t late) override;

private:
    void placeDeviceWindow();

    Tedlf &m_edlf;
    Tmidiiof &m_midiiof;
    bool m_placed = false;
};
