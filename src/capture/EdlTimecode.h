#pragma once

#include <QString>
#include <QStringView>

#include <compare>
#include <optional>

// A non-drop timecode of an EDL or timeline: hours, minutes, seconds and frames as the capture
// list's "hh:mm:ss:ff" texts give them. Ordering and the step over midnight work on the fields
// alone, so they need no frame rate; frame counts do, and only for a rate above the frames field.
// A moment after midnight on a clock that runs on from the day before has hours of 24 and more.
class EdlTimecode {
public:
    static constexpr int HoursPerDay = 24;
    // The most hours a timecode text can carry (two digits).
    static constexpr int MaxHours = 99;
    // Frame rates a frame count can be taken at.
    static constexpr int MinRate = 1;
    static constexpr int MaxRate = 100;

    EdlTimecode() = default;

    // "hh:mm:ss:ff": two decimal digits each, ":" between them, hours below 24, minutes and
    // seconds below 60. Nothing else.
    static std::optional<EdlTimecode> parse(QStringView text);
    // Fields in their ranges (hours 0 to MaxHours, frames 0 to 99); nothing is checked.
    static EdlTimecode fromFields(int hours, int minutes, int seconds, int frames);
    // The timecode frames frames after 00:00:00:00 at rate.
    static EdlTimecode fromFrameCount(qint64 frames, int rate);

    int hours() const;
    int minutes() const;
    int seconds() const;
    int frames() const;

    // This time of day on a clock that stood at reference: of the times that are this one plus
    // whole days, the nearest to reference, so that a time more than half a day before reference
    // is the clock having passed midnight (23:59:50:00, then 00:00:02:00 is 24:00:02:00). A time
    // less than half a day before reference stays before it: the clock went back.
    EdlTimecode continuing(const EdlTimecode &reference) const;

    // The frames field is below rate.
    bool fitsRate(int rate) const;
    // Frames since 00:00:00:00 at rate (which the timecode must fit).
    qint64 frameCount(int rate) const;
    // Frames from in to out at rate; negative when out comes first.
    static qint64 framesBetween(const EdlTimecode &in, const EdlTimecode &out, int rate);

    // "hh:mm:ss:ff", hours in two digits (up to MaxHours).
    QString text() const;

    friend bool operator==(const EdlTimecode &, const EdlTimecode &) = default;
    friend std::strong_ordering operator<=>(const EdlTimecode &a, const EdlTimecode &b) { return a.m_ticks <=> b.m_ticks; }

private:
    // Seconds since 00:00:00 times 100 plus frames: ordered like the timecode at any rate.
    static constexpr qint64 TicksPerSecond = 100;
    static constexpr qint64 TicksPerDay = qint64(HoursPerDay) * 3600 * TicksPerSecond;

    explicit EdlTimecode(qint64 ticks) : m_ticks(ticks) {}
    qint64 wholeSeconds() const { return m_ticks / TicksPerSecond; }

    qint64 m_ticks = 0;
};
