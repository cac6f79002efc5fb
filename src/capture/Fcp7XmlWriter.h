#pragma once

#include "Timeline.h"

#include <QByteArray>

// A timeline as Final Cut Pro 7 XML (xmeml version 5): one sequence whose video holds a track per
// camera; each camera-on range is a clipitem placed by start and end (frames from the sequence's
// start) that shows in to out of its camera's file. A camera's file has no media of its own
// (offline, to be relinked by reel and timecode): it begins at the camera's earliest source in,
// its timecode carries the reel. Comments are clip markers.
class Fcp7XmlWriter {
public:
    static inline const QString Extension = QStringLiteral(".xml");

    // UTF-8, indented.
    static QByteArray write(const Timeline &timeline);
};
