#pragma once

#include "EdlTimecode.h"

#include <QList>
#include <QString>

class CaptureList;

// A comment of a capture row, with the moment of that row on the record clock.
struct EdlComment {
    EdlTimecode recordTime;
    QString text;
    friend bool operator==(const EdlComment &, const EdlComment &) = default;
};

// One event of an EDL, or one clip of a timeline: a camera on from one capture row to a later
// one. Source times are the reader timecodes of the two rows, record times the generator
// timecodes. The record clock runs on over the whole list and the source out runs on from the
// source in, so that neither goes back at midnight (hours of 24 and more after it).
struct EdlEvent {
    int camera = 0;   // 1 to 16
    int openRow = 0;  // the row the event begins at
    int closeRow = 0; // the row it ends at
    EdlTimecode sourceIn;
    EdlTimecode sourceOut;
    EdlTimecode recordIn;
    EdlTimecode recordOut;
    QList<EdlComment> comments; // in row order

    bool isEmpty() const { return recordOut == recordIn; }
    friend bool operator==(const EdlEvent &, const EdlEvent &) = default;
};

// The events of a capture list, taken from its rows in list order. A camera still on at the last
// row ends there. The rows must have hexadecimal camera states, "hh:mm:ss:ff" timecodes and a
// generator clock that never goes back by less than half a day (more is midnight); otherwise
// CorvaneError tells the row.
class EdlEvents {
public:
    // Every span in which a camera is on, as the Corvane layout lists them, ordered by the row
    // they begin at, then by camera. An event's comments are those of the row it begins at and
    // of the row it ends at (not of the last row when it is still on there).
    static QList<EdlEvent> cameraRanges(const CaptureList &list);

    // The program as one track: at every moment the camera switched on last among those on
    // (of cameras switched on at the same row, the lowest number). When it goes off, the camera
    // switched on last among those still on continues with a new event from that row. An event
    // has the comments of its rows up to the row it ends at, and that row's comment too when
    // the program goes dark there.
    static QList<EdlEvent> programCut(const CaptureList &list);

    // The events of one camera, in the order given.
    static QList<EdlEvent> ofCamera(const QList<EdlEvent> &events, int camera);

    // The events without those of no length, their comments going to the next event left (or to
    // the one before when none follows); an event that begins where the one before of its camera
    // ended, on both clocks, is joined to it.
    static QList<EdlEvent> withoutEmpty(const QList<EdlEvent> &events);
};
