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

DeviceSession::DeviceSession(MidiService &service) : m_service(service), m_link(*this)
{
    m_link.setCaptureSink(this);
}

DeviceSession::~DeviceSession()
{
    try {
        close();
    } catch (...) {
        // A destructor cannot report; the ports have released everything all the same.
    }
}

bool DeviceSession::open(const QString &inputName, const QString &outputName, QString &error)
{
    close();
    const int in = FindDeviceName(MidiInputNames(m_service), inputName, DeviceMatch::ExactThenIgnoreCase);
    if (in < 0 || in > 0xFFFF) {
        error = QStringLiteral("MIDI input device not found: %1").arg(inputName);
        return false;
    }
    int out = -1;
    if (!outputName.isEmpty()) {
        out = FindDeviceName(MidiOutputNames(m_service), outputName, DeviceMatch::ExactThenIgnoreCase);
        if (out < 0) {
            error = QStringLiteral("MIDI output device not found: %1").arg(outputName);
            return false;
        }
    }

    try {
        m_input = std::make_unique<TMidiInput>(m_service);
        m_input->setSysexBufferSize(SysexBufferSize);
        m_input->setSysexBufferCount(SysexBufferCount);
        m_input->setCapacity(RingCapacity);
        m_input->setDeviceID(static_cast<std::uint16_t>(in));
        m_input->setOnMidiInput([this](QObject *) {
            guarded([this] { m_link.MidiInput1MidiInput(*m_input); });
            // Also after a failure: the rows handled before it are not held back.
            if (m_drainEnd)
                guarded(m_drainEnd);
        });
        m_input->Open();
        if (m_input->State() != psOpen) {
            QString text;
            m_service.midiInGetErrorText(m_input->Error(), text);
            error = QStringLiteral("Cannot open MIDI input %1: %2").arg(m_input->ProductName(), text);
            m_input.reset();
            return false;
        }
        if (out >= 0) {
            m_output = std::make_unique<TMidiOutput>(m_service);
            m_output->setDeviceID(out);
            if (!m_output->Open()) {
                error = QStringLiteral("Cannot open MIDI output %1").arg(m_output->ProductName());
                m_output.reset();
                m_input->Close();
                m_input.reset();
                return false;
            }
            m_outputOpen = true;
            m_sender = std::make_unique<PortSysexOutput>(*m_output, [this] { return m_outputOpen; });
            m_link.setOutput(m_sender.get());
        }
        m_input->Start();
    } catch (const CorvaneError &e) {
        error = e.message();
        close();
        return false;
    }
    m_open = true;
    if (m_output)
        m_link.SendRevisionQuery(OrvexMessage::RevisionQuery);
    return true;
}

void DeviceSession::close()
{
    m_open = false;
    m_outputOpen = false;
    m_link.setOutput(nullptr);
    m_sender.reset();
    std::unique_ptr<TMidiOutput> output = std::move(m_output);
    std::unique_ptr<TMidiInput> input = std::move(m_input);
    if (input)
        input->setOnMidiInput({});
    // Both are closed even when the first fails; the first failure is raised afterwards.
    std::exception_ptr failure;
    if (output) {
        try {
            output->Close();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (input) {
        try {
            input->Stop();
            input->Close();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
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
    const QString text = CaptureFile::FormatGpoLine(row, 0);
    ++m_rowCount;
    line("row", text);
    if (m_rows)
        m_rows(text);
}
