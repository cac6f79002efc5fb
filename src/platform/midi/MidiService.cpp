#include "MidiService.h"

#include "RtMidiService.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

std::atomic<MidiService *> installed{nullptr};

MidiService &defaultService()
{
    static RtMidiService service;
    return service;
}

} // namespace

MidiService &midiService()
{
    MidiService *service = installed.load();
    return service ? *service : defaultService();
}

MidiService *setMidiService(MidiService *service)
{
    MidiService *previous = installed.exchange(service);
    return previous ? previous : &defaultService();
}

bool reportMidiSystem(const MidiSystemStatus &status)
{
    static std::mutex lock;
    static QString said;
    std::lock_guard guard(lock);
    if (status.text.isEmpty() || status.text == said)
        return false;
    said = status.text;
    const QStringList arguments = QCoreApplication::arguments();
    const QString program = arguments.isEmpty() ? QStringLiteral("corvane") : QFileInfo(arguments.first()).fileName();
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(program), qUtf8Printable(status.text));
    std::fflush(stderr);
    return true;
}
