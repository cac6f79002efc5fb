#pragma once

#include "CaptureDeviceWindow.h"
#include "KxDialog.h"
#include "KxSettings.h"
#include "LoopbackMidiService.h"
#include "MidiOut.h"
#include "MidiIn.h"
#include "CaptureWindow.h"
#include "DeviceWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTest>

#include <memory>

// The program's windows as its start makes them, on in-process MIDI devices "Orvex In" and
// "Orvex Out": the capture window (which opens the settings file: a ProgramFolder must be in
// place), the device window hidden, the two joined, the current desktop's placements, then the
// capture window shown. For tests of the whole program's windows on a real display.
class ProgramWindows {
public:
    ProgramWindows()
    {
        m_midi.addInput(QStringLiteral("Orvex In"));
        m_midi.addOutput(QStringLiteral("Orvex Out"));
    }
    ~ProgramWindows() { close(); }

    ProgramWindows(const ProgramWindows &) = delete;
    ProgramWindows &operator=(const ProgramWindows &) = delete;

    // Makes and shows the windows; false (with a warning) when the settings file did not open
    // or the capture window never showed.
    bool open()
    {
        m_edlf = std::make_unique<Tedlf>();
        if (!SettingsFile) {
            qWarning("the capture window opened no settings file");
            return false;
        }
        m_midiiof = std::make_unique<Tmidiiof>(m_midi);
        m_joint = std::make_unique<CaptureDeviceWindow>(*m_edlf, *m_midiiof);
        setDlgMainWindow(m_edlf.get());
        SettingsFile->RestoreAllWindows();
        m_edlf->show();
        if (!QTest::qWaitForWindowExposed(m_edlf.get())) {
            qWarning("the capture window was never shown");
            return false;
        }
        return true;
    }

    // Opens the first input and output through the device window's lists and "Open" boxes, as
    // the operator opens them; true when both are open.
    bool openDevices()
    {
        m_midiiof->MidiInputSelectEnter();
        m_midiiof->MidiOutputselectEnter();
        m_midiiof->MidiInputSelect->setCurrentIndex(0);
        m_midiiof->OpenIn->setChecked(true);
        m_midiiof->MidiOutputselect->setCurrentIndex(0);
        m_midiiof->OpenOut->setChecked(true);
        return m_midiiof->MidiInput1->State() == psOpen && m_midiiof->MidiOutput1->State() == psOpen;
    }

    // Closed as by the capture window's close box (the placements go to the settings file);
    // the joint goes before the windows it joins.
    void close()
    {
        setDlgMainWindow(nullptr);
        if (m_edlf)
            m_edlf->close();
        m_joint.reset();
        m_midiiof.reset();
        m_edlf.reset();
    }

    Tedlf &edlf() { return *m_edlf; }
    Tmidiiof &midiiof() { return *m_midiiof; }
    LoopbackMidiService &midi() { return m_midi; }

private:
    LoopbackMidiService m_midi;
    std::unique_ptr<Tedlf> m_edlf;
    std::unique_ptr<Tmidiiof> m_midiiof;
    std::unique_ptr<CaptureDeviceWindow> m_joint;
};
