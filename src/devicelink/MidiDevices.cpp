#include "MidiDevices.h"

#include "AppPaths.h"

QStringList MidiInputNames(MidiService &service)
{
    QStringList names;
    const std::uint32_t count = service.midiInGetNumDevs();
    for (std::uint32_t i = 0; i < count; ++i) {
        MIDIINCAPS caps;
        names << (service.midiInGetDevCaps(int(i), caps) == MMSYSERR_NOERROR ? caps.szPname : QString());
    }
    return names;
}

QStringList MidiOutputNames(MidiService &service)
{
    QStringList names;
    const std::uint32_t count = service.midiOutGetNumDevs();
    for (std::uint32_t i = 0; i < count; ++i) {
        MIDIOUTCAPS caps;
        names << (service.midiOutGetDevCaps(int(i), caps) == MMSYSERR_NOERROR ? caps.szPname : QString());
    }
    return names;
}

int FindDeviceName(const QStringList &names, const QString &name, DeviceMatch match)
{
    if (name.isEmpty())
        return -1;
    if (match == DeviceMatch::ExactThenIgnoreCase) {
        const qsizetype exact = names.indexOf(name);
        if (exact >= 0)
            return int(exact);
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

QString MidiIoIni::path()
{
    return AppPaths::midiIoFilePath();
}
