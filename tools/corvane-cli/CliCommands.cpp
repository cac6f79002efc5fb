#include "CliCommands.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

void printMessage(const QString &message)
{
    const QByteArray bytes = (QCoreApplication::applicationName() + QStringLiteral(": ") + message).toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void printText(const QString &text)
{
    writeStandardOutput(text.toLocal8Bit());
}

bool writeStandardOutput(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    // The files' CR LF must reach the file as they are, not as CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return std::fflush(stdout) == 0 && written == static_cast<size_t>(bytes.size());
}

bool readStandardInput(QByteArray &bytes)
{
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return false;
    bytes = in.readAll();
    return !std::ferror(stdin) && in.error() == QFileDevice::NoError;
}

TerminalProgress::TerminalProgress() : m_terminal(isatty(fileno(stderr)) != 0)
{
    m_clock.start();
}

TerminalProgress::~TerminalProgress()
{
    if (m_shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void TerminalProgress::step(const char *what, qint64 done, qint64 total)
{
    if (!m_terminal)
        return;
    const qint64 now = m_clock.elapsed();
    if (now < ShowAfterMs || (m_shown && now - m_last < UpdateEveryMs))
        return;
    m_last = now;
    m_shown = true;
    const int percent = total > 0 ? static_cast<int>(std::min(done, total) * 100 / total) : 0;
    std::fprintf(stderr, "\r\033[Kcorvane-cli: %s %d%%", what, percent);
    std::fflush(stderr);
}
