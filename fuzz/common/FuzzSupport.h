#pragma once

// What the fuzz targets share: the Qt application object, a folder for the files they write,
// a reader of the fuzzer's bytes, and the check that turns a broken promise into a finding.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

// A broken promise ends the run like a crash, so libFuzzer keeps the input that broke it.
[[noreturn]] inline void fail(const char *condition, const char *file, int line, const QString &detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, condition, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

// Once per process, from LLVMFuzzerInitialize: Qt's file and text classes want an application.
inline void startQt()
{
    static int argc = 1;
    static char name[] = "corvane-fuzz";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the process
}

// A private folder for the files a target writes, inside CORVANE_FUZZ_WORK when that is set
// (scripts/fuzz removes it, also after a finding); removed when the process ends normally. The
// settings file and the journal sync every write to the disk: in memory (/dev/shm) that costs
// nothing, so the fuzzer runs many times faster there.
inline QString workFolder()
{
    static const QString base = qEnvironmentVariableIsSet("CORVANE_FUZZ_WORK") ? qEnvironmentVariable("CORVANE_FUZZ_WORK")
                                : QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                     : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/corvane-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        std::abort();
    }
    return dir.path();
}

// Writes bytes to a file of the work folder and returns its path.
inline QString writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = workFolder() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

// The fuzzer's bytes, taken from the front. Past the end every read gives zero bytes.
class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t word() { return std::uint16_t(byte() | (byte() << 8)); }
    bool flag() { return byte() & 1; }
    // Up to n bytes.
    QByteArray bytes(std::size_t n)
    {
        n = n < remaining() ? n : remaining();
        const QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return out;
    }
    QByteArray rest() { return bytes(remaining()); }
    // Bytes up to the next separator (not included), or to the end.
    QByteArray until(char separator)
    {
        std::size_t end = m_pos;
        while (end < m_size && m_data[end] != std::uint8_t(separator))
            ++end;
        const QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(end - m_pos));
        m_pos = end < m_size ? end + 1 : end;
        return out;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace Fuzz

#define FUZZ_CHECK(condition, detail)                                                                   \
    do {                                                                                                \
        if (!(condition))                                                                               \
            ::Fuzz::fail(#condition, __FILE__, __LINE__, (detail));                                     \
    } while (0)

// Every target starts Qt the same way.
#define FUZZ_QT_INITIALIZE                                                                              \
    extern "C" int LLVMFuzzerInitialize(int *, char ***)                                                \
    {                                                                                                   \
        ::Fuzz::startQt();                                                                              \
        return 0;                                                                                       \
    }
