#include "CaptureDeviceWindow.h"

#include "MidiIn.h"
#include "ScreenPlacement.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

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
    if (!m_midiiof.isVisible() && !m_placed) {
        m_placed = true;
        placeDeviceWindow();
    }
    // Showing runs the device window's start-up again (refilled lists, a revision query).
    m_midiiof.setVisible(!m_midiiof.isVisible());
}

void CaptureDeviceWindow::placeDeviceWindow()
{
    // Its first opening puts the device window beside the capture window, where the screen has
    // room, so that it covers neither the timecode nor the rows; later openings find it where the
    // operator left it. Until it is framed, its frame is taken to be the capture window's.
    m_midiiof.adjustSize();
    const QMargins frame = ScreenPlacement::frameOf(&m_midiiof);
    const QSize outer = m_midiiof.size().grownBy(frame);
    const QRect place = ScreenPlacement::besideOrLeastOver(m_edlf.frameGeometry(), outer, ScreenPlacement::screens());
    m_midiiof.move(place.topLeft());
}

void CaptureDeviceWindow::AddGpoEvent(const QString &reader, const QString &generator, const QString &camera)
{
    m_edlf.AddGpoEvent(reader, generator, camera);
}

void CaptureDeviceWindow::ShowTimecode(const QString &timecode)
{
    m_edlf.setTimecode(timecode);
}

void CaptureDeviceWindow::ShowDeviceHealth(bool missing, std::uint64_t lost, std::uint64_t late)
{
    m_edlf.setDeviceHealth(missing, lost, late);
}
