#pragma once

#include "CameraTable.h"
#include "EdlEvents.h"

#include <QList>
#include <QString>

class CaptureList;

// A comment on a clip, frames after the clip's first frame.
struct TimelineMarker {
    qint64 offset = 0;
    QString text;
};

// One camera-on range on a camera's track, in frames.
struct TimelineClip {
    qint64 recordStart = 0; // from the timeline's start
    qint64 sourceStart = 0; // the source in as a frame count from 00:00:00:00
    qint64 duration = 0;
    QList<TimelineMarker> markers;
};

// The clips of one camera in record order, without overlaps.
struct TimelineTrack {
    int camera = 0;  // 1 to 16
    QString name;    // the camera's name, or its reel when it has none
    QString reel;    // the camera's EDL reel (Cmx3600Writer::reels)
    QList<TimelineClip> clips;
};

// A capture as a timeline for editors that import whole timelines: one video track per camera
// used, a clip per range in which that camera is on (the Corvane layout's events), with frame
// counts at one rate. Ranges of no length are left out.
class Timeline {
public:
    QString name;
    int rate = 25;
    EdlTimecode start;   // record time of the first clip
    qint64 startFrame = 0; // start as a frame count
    qint64 duration = 0;   // to the end of the last clip
    QList<TimelineTrack> tracks;

    // Throws CorvaneError for rows EdlEvents refuses, for a rate outside EdlTimecode's range and
    // for a timecode whose frames do not fit the rate.
    static Timeline fromCapture(const CaptureList &list, const CameraTable &cameras, const QString &name, int rate);
    static Timeline fromEvents(const QList<EdlEvent> &events, const CameraTable &cameras, const QString &name,
                               int rate);
};
