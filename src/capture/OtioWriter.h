#pragma once

#include "Timeline.h"

#include <QByteArray>
#include <QJsonObject>

// A timeline as an OpenTimelineIO file (.otio, JSON): a Timeline.1 whose Stack.1 holds one video
// Track.1 per camera; each track holds Gap.1 and Clip.2 items end to end from the timeline's
// start. A clip is named after the camera, has no media (MissingReference.1), keeps the reel
// under metadata "cmx_3600" and its comments as Marker.2 items. Times are RationalTime.1 at the
// timeline's rate, source times as frame counts of the source timecode.
class OtioWriter {
public:
    static inline const QString Extension = QStringLiteral(".otio");

    static QJsonObject toJson(const Timeline &timeline);
    // Indented JSON, UTF-8.
    static QByteArray write(const Timeline &timeline);
};
