#include "CaptureDeviceWindow.h"

#include "MidiIn.h"
#include "edlu.h"
#include "midiiou.h"

CaptureDeviceWindow::CaptureDeviceWindow(Tedlf &edlf, Tmidiiof &midiiof) : m_edlf(edlf), m_midiiof(midiiof)
{
    m_edlf.setDevices(this);
    m_midiiof.setCaptureSink(this);
}

CaptureDeviceWindow::~CaptureDeviceWindow()
{
    m_midiiof.setCaptureSink(nullptr);
    if (m_edlf.devices() == this)
        m_edlf.setDevices(nullptr);
}

void CaptureDeviceWindow::StartDevices()
{
    m_midiiof.StartDevices();
}

void CaptureDeviceWindow::StopDevices()
{
    m_midiiof.StopDevices();
}

void CaptureDeviceWindow::CloseInput()
{
    m_midiiof.MidiInput1->Close();
}

void CaptureDeviceWindow::CloseWindow()
{
    m_midiiof.close();
}

void CaptureDeviceWindow::ShowHide()
{
    // Showing runs the device window's start-up again (refilled lists, a revision query).
    m_midiiof.setVisible(!m_midiiof.isVisible());
}

void CaptureDeviceWindow::AddGpoEvent(const QString &reader, const QString &generator, const QString &camera)
{
    m_edlf.AddGpoEvent(reader, generator, camera);
}

void CaptureDeviceWindow::ShowTimecode(const QString &timecode)
{
    m_edlf.setTimecode(timecode);
}

void CaptureDeviceWindow::ShowDeviceHealth(bool missing, std::uint64_t lost)
{
    m_edlf.setDeviceHealth(missing, lost);
}
