#pragma once

#include "DeviceLink.h"
#include "DeviceWatch.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <memory>

class MidiService;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TMidiInput;
class TMidiOutput;

// The MIDI device window: the operator chooses, opens and closes the MIDI input and output that
// lead to the Orvex interface and watches the traffic in three monitors. It owns both ports and
// every label and memo the device link writes to (it is the link's DeviceMonitor); capture
// events and the running timecode leave through the capture sink that the program entry sets.
// The devices opened are remembered by product name in "midiio.ini" in the program's folder.
// Created hidden; the capture window starts, stops, shows and hides it.
class Tmidiiof : public QWidget, public DeviceMonitor {
    Q_OBJECT
public:
    // Client area as designed at 96 dpi: the extent of the controls. The window is at least this
    // large, and larger where the font in use needs room for the texts.
    static constexpr int DesignClientWidth = 625;
    static constexpr int DesignClientHeight = 193;
    // Lines each monitor keeps at least: once a memo holds twice as many, it is cut back to the
    // newest MonitorLineLimit, so that hours of traffic neither grow the memos without bound nor
    // slow the window down.
    static constexpr int MonitorLineLimit = 1000;
    // The input's System Exclusive buffers and event ring. The interface sends bursts of up to a
    // few hundred capture events per MIDI server period; every event waiting for the drain holds
    // a buffer and a ring slot, so both are sized for several periods of the largest bursts.
    static constexpr std::uint16_t InputSysexBufferSize = 4096;
    static constexpr std::uint16_t InputSysexBufferCount = 2048;
    static constexpr std::uint16_t InputRingCapacity = 8192;

    // On the program's MIDI service, or on the one given (which must outlive the window).
    explicit Tmidiiof(QWidget *parent = nullptr);
    explicit Tmidiiof(MidiService &service, QWidget *parent = nullptr);
    ~Tmidiiof() override;

    // Where capture events, the running timecode and the state of the devices go (not owned;
    // null: nowhere).
    void setCaptureSink(CaptureSink *sink);
    DeviceLink &deviceLink() { return m_link; }
    // "midiio.ini" as the start-up worked it out (the program's folder until then).
    QString iniPath() const;
    // Events the input port had to drop because its ring was full, since the window was made.
    quint64 overflowCount() const { return m_overflows; }
    // Every event the input lost since the window was made: ring overflows and the MIDI
    // service's losses.
    quint64 lostEventCount() const;
    // The MIDI server's late cycles while the input was open, since the window was made
    // (TMidiInput::LateCount): input may have been dropped in them before it reached the program.
    quint64 serverLateCount() const;
    // Notices devices that go away and come back (they are closed, and opened again by
    // themselves), and lost events.
    DeviceWatch &deviceWatch() { return *m_watch; }
    // The timecode label's text while a device that was open is gone.
    static inline const QString NoDeviceText = QStringLiteral("NO DEVICE");
    // The device state's line for the server's late cycles (%1 the count).
    static inline const QString ServerLateText = QStringLiteral("MIDI server late: %1 (input may have been dropped).");

    // --- Controls, named as in the window's design ------------------------------------------
    QLabel *tcpoz;
    QPushButton *Button2; // "LTC"
    QGroupBox *GroupBox3;
    QComboBox *MidiOutputselect;
    QCheckBox *OpenOut;
    QGroupBox *GroupBox4;
    QComboBox *MidiInputSelect;
    QCheckBox *OpenIn;
    QGroupBox *Revision;
    QLabel *revtext;
    QLabel *revtext2;
    QPushButton *Button1; // "OK"
    QPlainTextEdit *vmout;
    QPlainTextEdit *vmin;
    QPlainTextEdit *m8data;
    QLabel *Label1;
    QLabel *mtccount;
    QLabel *mmccount;
    QLabel *midiSystem; // the MIDI system in use, or that there is none and what to start
    QLabel *devicestate; // below the MIDI system line while a device is gone or events were lost
    TMidiInput *MidiInput1;
    TMidiOutput *MidiOutput1;

    // --- DeviceMonitor ----------------------------------------------------------------------
    void appendVmin(const QString &line) override;
    void appendM8data(const QString &line) override;
    void appendVmout(const QString &line) override;
    void drainEnded() override;
    void setRevision(const QString &revtext, const QString &revtext2) override;
    void setTcpoz(const QString &timecode) override;
    void setMtccount(const QString &caption) override;
    void setMmccount(const QString &caption) override;
    bool isShown() const override;

public slots:
    // Refills the lists, selects and opens the remembered devices (through their "Open" boxes)
    // and asks the interface for its revision when both are open.
    void StartDevices();
    // Closes the output port and stops the input port.
    void StopDevices();

    void OpenOutClick();
    void OpenInClick();
    void MidiOutputselectEnter();
    void MidiInputSelectEnter();
    void Button1Click();
    void RevisionClick();
    void Button2Click();
    // The input port's OnMidiInput: drains it through the device link.
    void MidiInput1MidiInput(QObject *Sender);

protected:
    void FormCreate();
    void FormShow();
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A memo and the lines meant for it during a drain: they are added in one step when the
    // drain ends, so that a burst of events costs the memo one layout instead of one per line.
    struct Monitor {
        QPlainTextEdit *memo = nullptr;
        QStringList pending;
        std::deque<QString> newest; // the memo's last MonitorLineLimit lines
    };

    void buildLayout();
    void connectHandlers();
    void append(Monitor &monitor, const QString &line);
    void flush(Monitor &monitor);
    // Unchecks the box without running its handler again and frees the list.
    static void release(QCheckBox *box, QComboBox *list);
    // The number the chosen device has in the device list as it is now; -1 when it is gone.
    static int deviceNumberNow(const QComboBox *list, const QStringList &namesNow);
    void rememberDevice(const char *key, const QString &name);
    // Shows (and says once on the error stream) which MIDI system the lists come from.
    void showMidiSystem();
    // The watch's reports: a device gone (its port is closed and its box unticked), a device
    // back (ticked again, which opens it).
    void deviceLost(DeviceWatch::Port port);
    void deviceBack(DeviceWatch::Port port);
    // The timecode label, the status line and the capture window show the devices' state.
    void showDeviceHealth();
    // After a port has opened: sends the revision query when both ports are open now.
    void askRevisionWhenBothOpen();

    MidiService &m_service;
    DeviceLink m_link;
    // The send lock is the output's: every send checks the "Open" box and sends under it.
    std::unique_ptr<PortSysexOutput> m_output;
    QString m_iniPath;
    Monitor m_vmin;
    Monitor m_m8data;
    Monitor m_vmout;
    quint64 m_overflows = 0;
    DeviceWatch *m_watch = nullptr;
    CaptureSink *m_sink = nullptr;
    QString m_timecode = QStringLiteral("00:00:00:00"); // the last one shown, for after an alarm
    bool m_alarm = false;
    bool m_framed = false;
    // A revision query went out during the start-up's openings.
    bool m_revisionAsked = false;
};
