#pragma once

// The fault tests' fixtures: a private JACK server per test, the fault-sender process, and the
// program's receiving side (an input port on the RtMidi service drained by the device link into
// a capture list, as the MIDI device window and the capture window do).

#include "CaptureList.h"
#include "DeviceLink.h"
#include "MidiIn.h"
#include "RtMidiService.h"

#include <RtMidi.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace FaultFixtures {

// Whether a JACK server answers under the name in JACK_DEFAULT_SERVER.
inline bool jackAnswers()
{
    struct Log {
        bool complained = false;
        static void report(RtMidiError::Type, const std::string &, void *self)
        {
            static_cast<Log *>(self)->complained = true;
        }
    } log;
    try {
        RtMidiIn probe(RtMidi::UNIX_JACK, "corvane-faults-probe");
        probe.setErrorCallback(&Log::report, &log);
        probe.getPortCount(); // complains when the server cannot be reached
    } catch (const RtMidiError &) {
        return false;
    }
    return !log.complained;
}

// Whether the server (JACK_DEFAULT_SERVER) has an output port of this full name
// ("client:port").
inline bool jackOutputListed(const QString &name)
{
    try {
        RtMidiIn probe(RtMidi::UNIX_JACK, "corvane-faults-probe");
        const unsigned count = probe.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (QString::fromStdString(probe.getPortName(i)) == name)
                return true;
        }
    } catch (const RtMidiError &) {
    }
    return false;
}

// A JACK server of the test's own, with the dummy driver: no sound hardware or D-Bus needed. It
// runs with real-time scheduling where this user may use it, as scripts/jack-fixture's does (see
// there why), and says so where not. It is the default server of this process (and of the
// processes it starts) while it exists, and it dies with this process whatever happens.
class PrivateJackServer {
public:
    explicit PrivateJackServer(QString name) : m_name(std::move(name))
    {
        qputenv("JACK_DEFAULT_SERVER", m_name.toLocal8Bit());
        m_process.setProgram(QStringLiteral("jackd"));
        m_process.setArguments({QStringLiteral("--realtime"), QStringLiteral("-n"), m_name,
                                QStringLiteral("--port-max"), QStringLiteral("64"), QStringLiteral("-d"),
                                QStringLiteral("dummy"), QStringLiteral("-r"), QStringLiteral("48000"),
                                QStringLiteral("-p"), QStringLiteral("256")});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }
    ~PrivateJackServer() { stop(); }

    const QString &name() const { return m_name; }
    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }

    // Starts the server and waits until it answers; false (with the server's output) when it
    // ends or does not answer.
    bool start(QString *why)
    {
        if (launch(why))
            return true;
        stop();
        return false;
    }

    // The server dies at once, as a crashed server does.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
        removeLeftovers();
    }

    // An orderly end: the server gives back its registry entry and frees its shared memory. One
    // that was killed, or died while ending, leaves both behind; a server of the same name takes
    // the entry over as it starts (and frees the shared memory of servers that no longer run),
    // and, with no client, ends in order.
    void stop()
    {
        end();
        if (registered()) {
            QString ignored;
            launch(&ignored);
            end();
        }
        removeLeftovers();
    }

    // Whether the JACK registry holds a server entry under this name: while the server runs, and
    // after it ended without giving the entry back (killed, or died of SIGPIPE as it ended with
    // clients that vanished still on its list). The registry has room for eight servers of all
    // users together; past that, every server fails to start.
    bool registered() const
    {
        QFile registry(QStringLiteral("/dev/shm/jack-shm-registry"));
        if (!registry.open(QIODevice::ReadOnly))
            return false;
        return registry.readAll().contains(QStringLiteral("jack-%1:%2:").arg(::getuid()).arg(m_name).toLocal8Bit());
    }

    // What a server and its clients leave in /dev/shm under the server's name: semaphores of
    // clients that ended and the socket of a killed server. (Its registry entry and shared memory
    // segments: see stop().)
    QStringList leftovers() const
    {
        return shmFolder().entryList({QStringLiteral("jack_sem.*_%1_*").arg(m_name), QStringLiteral("jack_%1_*").arg(m_name)},
                                     QDir::Files | QDir::System);
    }

private:
    static QDir shmFolder() { return QDir(qEnvironmentVariable("JACK_TMPDIR", QStringLiteral("/dev/shm"))); }

    bool launch(QString *why)
    {
        m_process.start();
        if (!m_process.waitForStarted()) {
            *why = QStringLiteral("jackd did not start (Debian package jackd2): ") + m_process.errorString();
            return false;
        }
        const bool up = QTest::qWaitFor([this] { return m_process.state() != QProcess::Running || jackAnswers(); },
                                        20000);
        if (up && m_process.state() == QProcess::Running) {
            if (!realtime())
                qWarning("JACK server %s runs WITHOUT real-time scheduling (this user may not use it): on a busy "
                         "machine its clients can miss periods, and the tests fail on the events it dropped",
                         qPrintable(m_name));
            return true;
        }
        *why = QStringLiteral("jackd did not answer: ") + output();
        return false;
    }

    // Whether one of the server's threads runs with a real-time policy (SCHED_FIFO or SCHED_RR).
    bool realtime() const
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_process.processId());
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile sched(tasks + QLatin1Char('/') + task + QStringLiteral("/sched"));
            if (!sched.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : sched.readAll().split('\n')) {
                if (line.startsWith("policy")) {
                    const QByteArray policy = line.mid(line.indexOf(':') + 1).trimmed();
                    if (policy == "1" || policy == "2")
                        return true;
                }
            }
        }
        return false;
    }

    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(15000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    void removeLeftovers()
    {
        for (const QString &file : leftovers())
            shmFolder().remove(file);
    }

    QString m_name;
    QProcess m_process;
};

// The fault-sender process (FaultSender.cpp): one command a line, one answer a line.
class Sender {
public:
    Sender()
    {
        m_process.setProgram(QStringLiteral(FAULT_SENDER));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start();
        m_process.waitForStarted();
    }
    // A sender that ends normally closes its client: the server does not wait for it.
    ~Sender()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            vanish();
    }

    // Sends a command and waits for its answer while the event loop runs (the program keeps
    // draining its port meanwhile); empty when the sender ended or did not answer.
    QString command(const QString &line, int timeoutMs = 30000)
    {
        m_process.write((line + QLatin1Char('\n')).toLocal8Bit());
        if (!QTest::qWaitFor([this] { return m_process.canReadLine() || m_process.state() != QProcess::Running; },
                             timeoutMs))
            return QString();
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    // The same without running the event loop: the program's thread is busy meanwhile, as
    // while a long operation runs, and only the driver's thread receives.
    QString commandBlocking(const QString &line, int timeoutMs = 30000)
    {
        m_process.write((line + QLatin1Char('\n')).toLocal8Bit());
        m_process.waitForBytesWritten(timeoutMs);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(timeoutMs)) {
        }
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }

    // Killed: it leaves the server without a word.
    void vanish()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
};

// Counts the input monitor's lines and shows nothing.
class QuietMonitor final : public DeviceMonitor {
public:
    int lines = 0;
    void appendVmin(const QString &) override { ++lines; }
    void appendM8data(const QString &) override {}
    void appendVmout(const QString &) override {}
    void setRevision(const QString &, const QString &) override {}
    void setTcpoz(const QString &) override {}
    void setMtccount(const QString &) override {}
    void setMmccount(const QString &) override {}
    bool isShown() const override { return false; }
};

class ListSink final : public CaptureSink {
public:
    explicit ListSink(CaptureList &list) : m_list(list) {}
    void AddGpoEvent(const QString &reader, const QString &generator, const QString &camera) override
    {
        m_list.addGpoEvent(reader, generator, camera, false);
    }
    void ShowTimecode(const QString &) override {}

private:
    CaptureList &m_list;
};

// The program's receiving side: an input port on the RtMidi service whose OnMidiInput drains
// it through the device link into a capture list.
struct Receiver {
    RtMidiService service{QStringLiteral("corvane-faults-rx")};
    TMidiInput port{service};
    QuietMonitor monitor;
    CaptureList list;
    ListSink sink{list};
    DeviceLink link{monitor};
    int overflows = 0;

    Receiver()
    {
        link.setCaptureSink(&sink);
        port.setOnMidiInput([this](QObject *) { link.MidiInput1MidiInput(port); });
        port.setOnOverflow([this](QObject *) { ++overflows; });
    }

    // Opens the device by name and starts reception; false when it could not.
    bool open(const QString &device)
    {
        try {
            port.setProductName(device);
        } catch (const EMidiInputError &) {
            return false;
        }
        port.Open();
        if (port.State() != psOpen)
            return false;
        port.Start();
        return true;
    }

    // Waits until what the sender sends reaches the port. A connection made at the server
    // carries events from the server's next cycle on, so a message sent at once can be lost:
    // a note is sent until one arrives.
    bool linkedTo(Sender &sender)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const int before = monitor.lines;
            if (sender.command(QStringLiteral("send 903c00")) != QLatin1String("sent"))
                return false;
            if (QTest::qWaitFor([&] { return monitor.lines > before; }, 200))
                return true;
        }
        return false;
    }

    // The capture event numbers of the rows (their camera states), in list order.
    QList<int> numbers() const
    {
        QList<int> out;
        for (int r = 0; r < list.count(); ++r)
            out << list.text(r, CaptureList::CameraColumn).toInt(nullptr, 16);
        return out;
    }
};

inline QList<int> range(int first, int count)
{
    QList<int> out;
    for (int n = first; n < first + count; ++n)
        out << n;
    return out;
}

} // namespace FaultFixtures
