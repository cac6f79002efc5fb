#include "EdlTimecode.h"

namespace {

// Two decimal digits at text[at], or -1.
int twoDigits(QStringView text, qsizetype at)
{
    const char16_t high = text[at].unicode();
    const char16_t low = text[at + 1].unicode();
    if (high < u'0' || high > u'9' || low < u'0' || low > u'9')
        return -1;
    return (high - u'0') * 10 + (low - u'0');
}

} // namespace

std::optional<EdlTimecode> EdlTimecode::parse(QStringView text)
{
    if (text.size() != 11 || text[2] != u':' || text[5] != u':' || text[8] != u':')
        return std::nullopt;
    const int hours = twoDigits(text, 0);
    const int minutes = twoDigits(text, 3);
    const int seconds = twoDigits(text, 6);
    const int frames = twoDigits(text, 9);
    if (hours < 0 || hours >= HoursPerDay || minutes < 0 || minutes >= 60 || seconds < 0 || seconds >= 60 || frames < 0)
        return std::nullopt;
    return fromFields(hours, minutes, seconds, frames);
}

EdlTimecode EdlTimecode::fromFields(int hours, int minutes, int seconds, int frames)
{
    return EdlTimecode(((qint64(hours) * 60 + minutes) * 60 + seconds) * TicksPerSecond + frames);
}

EdlTimecode EdlTimecode::fromFrameCount(qint64 frames, int rate)
{
    return EdlTimecode(frames / rate * TicksPerSecond + frames % rate);
}

int EdlTimecode::hours() const
{
    return static_cast<int>(wholeSeconds() / 3600);
}

int EdlTimecode::minutes() const
{
    return static_cast<int>(wholeSeconds() / 60 % 60);
}

int EdlTimecode::seconds() const
{
    return static_cast<int>(wholeSeconds() % 60);
}

int EdlTimecode::frames() const
{
    return static_cast<int>(m_ticks % TicksPerSecond);
}

EdlTimecode EdlTimecode::continuing(const EdlTimecode &reference) const
{
    const qint64 timeOfDay = (m_ticks % TicksPerDay + TicksPerDay) % TicksPerDay;
    // The latest candidate not after reference (floor division), then the nearer of it and the
    // one a day later; half a day back counts as forward.
    qint64 difference = reference.m_ticks - timeOfDay;
    qint64 days = difference / TicksPerDay;
    if (difference % TicksPerDay < 0)
        --days;
    const qint64 before = timeOfDay + days * TicksPerDay;
    if (reference.m_ticks - before >= TicksPerDay / 2)
        return EdlTimecode(before + TicksPerDay);
    return EdlTimecode(before);
}

bool EdlTimecode::fitsRate(int rate) const
{
    return rate >= MinRate && rate <= MaxRate && frames() < rate;
}

qint64 EdlTimecode::frameCount(int rate) const
{
    return wholeSeconds() * rate + frames();
}

qint64 EdlTimecode::framesBetween(const EdlTimecode &in, const EdlTimecode &out, int rate)
{
    return out.frameCount(rate) - in.frameCount(rate);
}

QString EdlTimecode::text() const
{
    const QLatin1Char zero('0');
    return QStringLiteral("%1:%2:%3:%4")
        .arg(hours(), 2, 10, zero)
        .arg(minutes(), 2, 10, zero)
        .arg(seconds(), 2, 10, zero)
        .arg(frames(), 2, 10, zero);
}
