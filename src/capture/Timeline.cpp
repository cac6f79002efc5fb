#include "Timeline.h"

#include "Cmx3600Writer.h"
#include "Errors.h"

#include <algorithm>

namespace {

qint64 framesOf(const EdlTimecode &time, int rate)
{
    if (!time.fitsRate(rate))
        throw CorvaneError(QStringLiteral("Timecode %1 has more frames than %2 a second").arg(time.text()).arg(rate));
    return time.frameCount(rate);
}

} // namespace

Timeline Timeline::fromCapture(const CaptureList &list, const CameraTable &cameras, const QString &name, int rate)
{
    if (rate < EdlTimecode::MinRate || rate > EdlTimecode::MaxRate)
        throw CorvaneError(QStringLiteral("The frame rate %1 is not a whole number from %2 to %3")
                               .arg(rate)
                               .arg(EdlTimecode::MinRate)
                               .arg(EdlTimecode::MaxRate));
    return fromEvents(EdlEvents::cameraRanges(list), cameras, name, rate);
}

Timeline Timeline::fromEvents(const QList<EdlEvent> &events, const CameraTable &cameras, const QString &name, int rate)
{
    Timeline timeline;
    timeline.name = name;
    timeline.rate = rate;

    const auto reels = Cmx3600Writer::reels(cameras);
    QList<QList<EdlEvent>> perCamera;
    bool first = true;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const QList<EdlEvent> own = EdlEvents::withoutEmpty(EdlEvents::ofCamera(events, camera));
        if (own.isEmpty())
            continue;
        perCamera.append(own);
        if (first || own.first().recordIn < timeline.start)
            timeline.start = own.first().recordIn;
        first = false;
    }
    timeline.startFrame = framesOf(timeline.start, rate);

    qint64 end = timeline.startFrame;
    for (const QList<EdlEvent> &own : std::as_const(perCamera)) {
        TimelineTrack track;
        track.camera = own.first().camera;
        track.reel = reels[static_cast<size_t>(track.camera - 1)];
        track.name = cameras.reelName(track.camera).trimmed();
        if (track.name.isEmpty())
            track.name = track.reel;
        for (const EdlEvent &event : own) {
            TimelineClip clip;
            const qint64 recordIn = framesOf(event.recordIn, rate);
            const qint64 recordOut = framesOf(event.recordOut, rate);
            clip.recordStart = recordIn - timeline.startFrame;
            clip.sourceStart = framesOf(event.sourceIn, rate);
            // The record clock places the clip; the source gives its first frame.
            clip.duration = recordOut - recordIn;
            framesOf(event.sourceOut, rate);
            for (const EdlComment &comment : event.comments) {
                const qint64 at = framesOf(comment.recordTime, rate) - recordIn;
                clip.markers.append({std::clamp<qint64>(at, 0, clip.duration - 1), comment.text});
            }
            end = std::max(end, recordOut);
            track.clips.append(clip);
        }
        timeline.tracks.append(track);
    }
    timeline.duration = end - timeline.startFrame;
    return timeline;
}
