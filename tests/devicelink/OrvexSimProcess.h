#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/prctl.h>
#endif

// orvex-sim run as a process on the JACK server of the test's environment, with a client name
// of its own, and what it printed.
class OrvexSimProcess {
public:
    explicit OrvexSimProcess(const QStringList &arguments)
        : m_name(QStringLiteral("orvex-sim-%1-%2").arg(QCoreApplication::applicationPid()).arg(++s_count))
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_output += QString::fromUtf8(m_process.readAllStandardOutput()); });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#if defined(Q_OS_LINUX)
        // A test ended by a timeout leaves no simulator behind on the machine.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
        m_process.start(QStringLiteral(ORVEX_SIM), QStringList{"--api", "jack", "--name", m_name} + arguments);
    }

    // Ended as a user ends it (SIGTERM: it closes its ports and leaves the server in order);
    // killed only when that does not end it.
    ~OrvexSimProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    OrvexSimProcess(const OrvexSimProcess &) = delete;
    OrvexSimProcess &operator=(const OrvexSimProcess &) = delete;

    QString inputName() const { return m_name + QStringLiteral(":out"); }  // where Corvane listens
    QString outputName() const { return m_name + QStringLiteral("-in:in"); } // where Corvane sends
    QString readyLine() const { return QStringLiteral("ready out=%1 in=%2").arg(inputName(), outputName()); }
    QStringList lines() const { return m_output.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }
    QProcess &process() { return m_process; }

private:
    static inline int s_count = 0;
    QString m_name;
    QProcess m_process;
    QString m_output;
};

// A capture script for orvex-sim: per line a camera mask, a timecode and a delay in ms.
struct ScriptLine {
    int mask;
    QString timecode;
    int delayMs;
};

inline bool writeScript(const QString &path, const QList<ScriptLine> &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const ScriptLine &line : lines)
        file.write(QStringLiteral("%1 %2 %3\n").arg(line.mask, 4, 16, QLatin1Char('0')).arg(line.timecode).arg(line.delayMs).toUtf8());
    return true;
}

// The camera state as a capture row holds it: four upper-case hexadecimal digits.
inline QString cameraState(int mask)
{
    return QStringLiteral("%1").arg(mask, 4, 16, QLatin1Char('0')).toUpper();
}
