#include "CliCommands.h"

#include <QFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

void printMessage(const QString &message)
{
    const QByteArray bytes = message.toLocal8Bit() + '\n';
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
