#pragma once

#include "CameraTable.h"
#include "EdlText.h"
#include "Progress.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>

class CaptureList;

// One camera's event while an EDL is built: opened by the row at which the camera's bit goes
// from clear to set, closed by the next row at which it is clear again. Texts longer than their
// field keep their first characters.
struct TCameraEvent {
    static constexpr int ItemTextWidth = 4;
    static constexpr int TimecodeWidth = 11;
    static constexpr int CommentWidth = 255;

    bool HasIn = false;   // the event has its in point
    bool HasOut = false;  // the event has its out point and waits to be written
    QString ItemText;     // item text of the opening row
    QString ReaderIn;     // reader timecode of the opening row
    QString ReaderOut;    // reader timecode of the closing row
    QString GeneratorIn;  // generator timecode of the opening row
    QString GeneratorOut; // generator timecode of the closing row
    QString EventComment; // comment of the opening row, then that of the closing row appended
};

using CameraEvents = std::array<TCameraEvent, CameraTable::CameraCount>;

// Turns the capture list into the lines of an edit decision list: two header lines, then one
// event line per span in which a camera is on (in the order the spans close: by closing row,
// then by camera number), each followed by a comment line when the event has a comment.
//
// The capture window keeps one builder for the whole run; its camera records are that run's
// CameraEvents.
class EdlBuilder {
public:
    static inline const QString FormatLine = QStringLiteral("FCM: EBU");

    CameraEvents &cameraEvents() { return m_events; }
    const CameraEvents &cameraEvents() const { return m_events; }

    // Builds the EDL of list into lines (replacing what they held). The list is left as it is:
    // the events still open at the last row are closed by a closing row that is the EDL's own
    // (all cameras off, the last row's timecodes, no comment), as if it followed the last row.
    // The EDL is of the rows present when the build starts; rows appended meanwhile are not in it.
    //
    // A camera state that is not hexadecimal throws CorvaneError; lines then hold what was made
    // up to that row (at least the two header lines; only those when the last row's is bad).
    void BuildEdl(const CaptureList &list, const CameraTable &cameras, const QString &title, const QString &dateText,
                  const QString &timeText, QStringList &lines);
    // The same EDL as the bytes of its file, added to text (with no string per line); progress is
    // told of the rows done.
    void BuildEdl(const CaptureList &list, const CameraTable &cameras, const QString &title, const QString &dateText,
                  const QString &timeText, EdlText &text, const ProgressFn &progress = {});

    // The event and comment lines of each camera (index 0 is camera 1).
    using CameraLines = std::array<QStringList, CameraTable::CameraCount>;
    // As BuildEdl without the header, each camera's lines in a list of its own (empty for a camera
    // without events); on a conversion error they hold what was made up to that row.
    void BuildEdlPerCamera(const CaptureList &list, const CameraTable &cameras, CameraLines &lines);
    using CameraTexts = std::array<EdlText, CameraTable::CameraCount>;
    void BuildEdlPerCamera(const CaptureList &list, const CameraTable &cameras, CameraTexts &texts,
                           const ProgressFn &progress = {});

    // Whether the EDL of the first `rows` rows of list needs its closing row: the last of them
    // has a camera on. Throws CorvaneError when that row's camera state is not hexadecimal, so
    // that such a row is told before any event is made.
    static bool needsClosingRow(const CaptureList &list, int rows);

    // Advances the record of one camera (0 to 15) by one row. Throws CorvaneError when the row's
    // camera state is not hexadecimal, with the record unchanged.
    void UpdateCameraEvent(const CaptureList &list, int row, int camera);

    // "TITLE:   <title>  <date>  <time>"
    static QString titleLine(const QString &title, const QString &dateText, const QString &timeText);
    // ItemText, reel name and edit type (padded to 10), "C  ", then the four timecodes, two
    // spaces between fields.
    static QString eventLine(const TCameraEvent &event, const QString &reelName, const QString &editType);

    // The date and time texts of the title line: the locale's short date and long time.
    static QString dateText(const QDateTime &moment, const QLocale &locale = QLocale::system());
    static QString timeText(const QDateTime &moment, const QLocale &locale = QLocale::system());

private:
    class LineWriter;

    // Goes through the rows, handing each event closed to put(camera index, event) for its event
    // line and comment line.
    template <typename Put>
    void build(const CaptureList &list, Put put, const ProgressFn &progress = {});
    void advance(const CaptureList &list, int row, int camera, quint32 mask);
    // Closes the camera's open event at the closing row after the last row.
    void close(const CaptureList &list, int lastRow, int camera);

    CameraEvents m_events;
};
