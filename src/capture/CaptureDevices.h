#pragma once

// What the capture window asks of the MIDI device window. The capture window calls these; the
// program entry hands it an implementation over the device window, so that the capture side
// never depends on the device side.
class TCaptureDevices {
public:
    virtual ~TCaptureDevices() = default;

    // Opens the remembered MIDI devices and queries the interface; run each time the capture
    // window is shown.
    virtual void StartDevices() = 0;
    // Closes the output port and stops the input port; run by the exit command and whenever the
    // capture window closes.
    virtual void StopDevices() = 0;
    // Closes the input port (nothing when it is closed already): the exit sequence's last step
    // before the windows close.
    virtual void CloseInput() = 0;
    // Closes the device window.
    virtual void CloseWindow() = 0;
    // Shows the device window when it is hidden, hides it when it is shown.
    virtual void ShowHide() = 0;
};

// Devices that are not there: every call does nothing.
class TNoCaptureDevices final : public TCaptureDevices {
public:
    void StartDevices() override {}
    void StopDevices() override {}
    void CloseInput() override {}
    void CloseWindow() override {}
    void ShowHide() override {}
};
