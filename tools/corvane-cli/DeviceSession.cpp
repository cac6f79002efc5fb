#include "DeviceSession.h"

#include "CaptureFile.h"
#include "CaptureList.h"
#include "Errors.h"
#include "MidiDevices.h"
#include "MidiIn.h"
#include "MidiOut.h"

namespace {

// As the device window sizes its input: bursts of capture events wait whole for the drain.
constexpr std::uint16_t SysexBufferSize = 4096;
constexpr std::uint16_t SysexBufferCount = 2048;
constexpr std::uint16_t RingCapacity = 8192;

} // namespace

DeviceSession::DeviceSession(MidiService &service)
    : m_service(service), m_input(std::make_unique<TMidiInput>(service)),
      m_output(std::make_unique<TMidiOutput>(service)),
      m_watch(std::make_unique<DeviceWatch>(service, *m_input, *m_output)), m_link(*this)
{
    m_link.setCaptureSink(this);
    m_input->setSysexBufferSize(SysexBufferSize);
    m_input->setSysexBufferCount(SysexBufferCount);
    m_input->setCapacity(RingCapacity);
    m_input->setOnMidiInput([this](QObject *) {
        guarded([this] { m_link.MidiInput1MidiInput(*m_input); });
        // Also after a failure: the rows handled before it are not held back.
        if (m_drainEnd)
            guarded(m_drainEnd);
    });
    m_sender = std::make_unique<PortSysexOutput>(*m_output, [this] { return m_outputOpen; });
    m_watch->setHandlers({
        [this](DeviceWatch::Port port) { deviceLost(port); },
        [this](DeviceWatch::Port port, int device) { deviceBack(port, device); },
        [this](std::uint64_t lost) {
            status(lost == 1 ? QStringLiteral("1 event lost") : QStringLiteral("%1 events lost").arg(lost));
        },
        [this](std::uint64_t late) { status(serverLateText(late)); },
    });
}

DeviceSession::~DeviceSession()
{
    m_watch->setHandlers({});
    try {
        close();
    } catch (...) {
        // A destructor cannot report; the ports have released everything all the same.
    }
    m_input->setOnMidiInput({});
}

std::uint64_t DeviceSession::lostEvents() const
{
    return m_input->LostCount();
}

std::uint64_t DeviceSession::serverLate() const
{
    return m_input->LateCount();
}

QString DeviceSession::serverLateText(std::uint64_t late)
{
    return QStringLiteral("MIDI server late: %1 (input may have been dropped)").arg(late);
}

void DeviceSession::status(const QString &message)
{
    if (m_status)
        m_status(message);
}

bool DeviceSession::openInput(int device, QString &error)
{
    try {
        m_input->setDeviceID(static_cast<std::uint16_t>(device));
        m_input->Open();
        if (m_input->State() != psOpen) {
            QString text;
            m_service.midiInGetErrorText(m_input->Error(), text);
            error = QStringLiteral("Cannot open MIDI input %1: %2").arg(m_input->ProductName(), text);
            return false;
        }
        m_input->Start();
    } catch (const CorvaneError &e) {
        error = e.message();
        closeInput();
        return false;
    }
    return true;
}

bool DeviceSession::openOutput(int device, QString &error)
{
    try {
        m_output->setDeviceID(device);
        if (!m_output->Open()) {
            error = QStringLiteral("Cannot open MIDI output %1").arg(m_output->ProductName());
            return false;
        }
    } catch (const CorvaneError &e) {
        error = e.message();
        return false;
    }
    m_outputOpen = true;
    m_link.setOutput(m_sender.get());
    return true;
}

void DeviceSession::closeInput()
{
    // Closed even when stopping fails; the first failure is raised afterwards.
    std::exception_ptr failure;
    try {
        m_input->Stop();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        m_input->Close();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void DeviceSession::closeOutput()
{
    m_outputOpen = false;
    m_link.setOutput(nullptr);
    m_output->Close();
}

bool DeviceSession::open(const QString &inputName, const QString &outputName, QString &error)
{
    close();
    const QStringList inputs = MidiInputNames(m_service);
    const int in = FindDeviceName(inputs, inputName, DeviceMatch::ExactThenIgnoreCase);
    if (in < 0 || in > 0xFFFF) {
        error = QStringLiteral("MIDI input device not found: %1").arg(inputName);
        return false;
    }
    int out = -1;
    QStringList outputs;
    if (!outputName.isEmpty()) {
        outputs = MidiOutputNames(m_service);
        out = FindDeviceName(outputs, outputName, DeviceMatch::ExactThenIgnoreCase);
        if (out < 0) {
            error = QStringLiteral("MIDI output device not found: %1").arg(outputName);
            return false;
        }
    }

    if (!openInput(in, error))
        return false;
    if (out >= 0 && !openOutput(out, error)) {
        try {
            closeInput();
        } catch (const CorvaneError &) {
        }
        return false;
    }
    m_open = true;
    m_withOutput = out >= 0;
    m_watch->opened(DeviceWatch::Port::Input, inputs.at(in));
    if (m_withOutput) {
        m_watch->opened(DeviceWatch::Port::Output, outputs.at(out));
        m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
    }
    return true;
}

void DeviceSession::close()
{
    m_open = false;
    m_watch->closed(DeviceWatch::Port::Input);
    m_watch->closed(DeviceWatch::Port::Output);
    // Both are closed even when the first fails; the first failure is raised afterwards.
    std::exception_ptr failure;
    try {
        closeOutput();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        closeInput();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void DeviceSession::deviceLost(DeviceWatch::Port port)
{
    const bool input = port == DeviceWatch::Port::Input;
    // A device that has gone may fail to stop or close; its port releases everything all the same.
    try {
        if (input)
            closeInput();
        else
            closeOutput();
    } catch (const CorvaneError &) {
    }
    status(QStringLiteral("MIDI %1 %2 has gone; waiting for it to come back")
               .arg(input ? QStringLiteral("input") : QStringLiteral("output"), m_watch->name(port)));
}

void DeviceSession::deviceBack(DeviceWatch::Port port, int device)
{
    const bool input = port == DeviceWatch::Port::Input;
    const QString name = m_watch->name(port);
    QString error;
    if (!(input ? openInput(device, error) : openOutput(device, error)))
        return; // listed, but not ready yet: tried again at the next look
    m_watch->opened(port, name);
    status(QStringLiteral("MIDI %1 %2 is back").arg(input ? QStringLiteral("input") : QStringLiteral("output"), name));
    // The interface may have been restarted with its server: it is asked again who it is.
    if (m_withOutput && m_outputOpen && m_input->State() == psOpen)
        m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
}

void DeviceSession::guarded(const std::function<void()> &work)
{
    try {
        work();
    } catch (const CorvaneError &e) {
        if (m_errors)
            m_errors(e.message());
    } catch (const std::exception &e) {
        if (m_errors)
            m_errors(QString::fromLocal8Bit(e.what()));
    }
}

void DeviceSession::line(const char *memo, const QString &text)
{
    if (m_lines)
        m_lines(QLatin1String(memo) + QLatin1Char('\t') + text);
}

void DeviceSession::appendVmin(const QString &text)
{
    line("vmin", text);
}

void DeviceSession::appendM8data(const QString &text)
{
    line("m8data", text);
}

void DeviceSession::appendVmout(const QString &text)
{
    line("vmout", text);
}

void DeviceSession::setRevision(const QString &revtext, const QString &revtext2)
{
    line("rev", revtext + QLatin1Char('\t') + revtext2);
}

void DeviceSession::setTcpoz(const QString &timecode)
{
    line("tc", timecode);
}

void DeviceSession::AddGpoEvent(const QString &reader, const QString &generator, const QString &camera)
{
    // The capture list's rule: a camera state that is not hexadecimal makes no row.
    CaptureList::parseCameraState(camera);
    // One row at a time: a capture that runs for days keeps nothing but the count.
    CaptureList row;
    row.appendRow(CaptureList::formatItemNumber(m_rowCount + 1), camera, reader, generator, QString());
    QByteArray bytes;
    CaptureFile::FormatGpoLine(row, 0, bytes);
    const QString text = QString::fromLatin1(bytes);
    ++m_rowCount;
    line("row", text);
    if (m_rows)
        m_rows(text);
}
