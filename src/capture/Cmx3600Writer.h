#pragma once

#include "CameraTable.h"
#include "EdlEvents.h"
#include "EdlText.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

// The CMX 3600 layout that column-based, library and pattern-based EDL readers all take: ASCII
// text, a "TITLE:" and an "FCM:" line, then per event one line with fixed columns
//
//   001  CAM1     V     C        10:00:00:00 10:00:05:00 10:00:00:00 10:00:05:00
//
// (event number of three digits, more past 999; reel of at most 8 characters; channel; cut;
// source in and out; record in and out), followed by "* FROM CLIP NAME:" with the camera's whole
// name and a "* " line per comment. The file's CR LF line ends are the file writer's.
class Cmx3600Writer {
public:
    static inline const QString FormatLine = QStringLiteral("FCM: NON-DROP FRAME");
    static inline const QString UnnamedReel = QStringLiteral("AX");
    static inline const QString DefaultChannel = QStringLiteral("V");
    // The channels (edit types) the readers know.
    static inline const QStringList Channels = {QStringLiteral("V"),    QStringLiteral("A"),    QStringLiteral("A2"),
                                                QStringLiteral("AA"),   QStringLiteral("B"),    QStringLiteral("AA/V"),
                                                QStringLiteral("A2/V"), QStringLiteral("NONE")};
    static constexpr int ReelWidth = 8;

    // The text in printable ASCII: letters with accents lose them (é is e, Æ is AE), control
    // characters become spaces, what has no ASCII form becomes '?'.
    static QString ascii(QStringView text);

    // The reel of a camera name: upper-case ASCII letters, digits and '_' (any other character
    // becomes '_'), at most ReelWidth of them; "AX" for a name that is empty or blank.
    static QString reelOf(const QString &name);
    // The reels of cameras 1 to 16 (index 0 is camera 1), one for each camera: a reel that an
    // earlier camera has already taken ends in "_" and the camera's number instead.
    static std::array<QString, CameraTable::CameraCount> reels(const CameraTable &cameras);

    // The edit type when it is one of Channels (ignoring letter case and blanks around it), else
    // "V".
    static QString channel(const QString &editType);

    // The event line of event number (1 and up).
    static QString eventLine(int number, const QString &reel, const QString &channel, const EdlEvent &event);

    // The whole EDL: the header, then the events numbered from 1 in the order given, each with
    // its clip name and comment lines.
    static void write(const QString &title, const QList<EdlEvent> &events, const CameraTable &cameras,
                      EdlText &text);
    static QStringList lines(const QString &title, const QList<EdlEvent> &events, const CameraTable &cameras);
};
