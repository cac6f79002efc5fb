#pragma once

#include "CameraTable.h"
#include "EdlText.h"
#include "Progress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class CaptureList;
class EdlBuilder;

// The layouts Make can give an EDL.
enum class EdlLayout {
    Corvane, // the program's own layout (EdlBuilder)
    Cmx3600, // the layout editors read (Cmx3600Writer)
};

struct EdlOptions {
    EdlLayout layout = EdlLayout::Corvane;
    bool perCamera = false; // one EDL per camera used instead of one for all
};

// One EDL file: the whole EDL (camera 0), or one camera's.
struct EdlDocument {
    int camera = 0;
    QString reel;   // the camera's reel (Cmx3600Writer::reels), empty for the whole EDL
    QByteArray text; // the file's bytes (EdlText)
    QStringList lines() const { return EdlText::linesOf(text); }
};

// Makes the EDL of a capture list in the layout and split the options ask for. Like
// EdlBuilder::BuildEdl, it leaves the list as it is: the events on at the last row end there.
//
// Corvane layout: exactly BuildEdl's lines; per camera, its two header lines then the camera's
// lines. CMX 3600: one program cut (EdlEvents::programCut), or per camera every range in which
// the camera is on; events of no length are left out.
class EdlMaker {
public:
    // The names of the layouts in the settings and on the command line: "corvane", "cmx3600".
    static QString layoutName(EdlLayout layout);
    // Letter case and blanks around it do not matter; another name gives nothing.
    static std::optional<EdlLayout> layoutNamed(const QString &name);

    // Replaces documents by the EDL's documents: one for the whole EDL, or per camera one for
    // each camera with events, by camera number. Throws CorvaneError for a row the layout cannot
    // take; the Corvane layout's documents then hold what was made up to that row, the CMX 3600
    // layout's none.
    static void make(EdlBuilder &builder, const CaptureList &list, const CameraTable &cameras, const EdlOptions &options,
                     const QString &title, const QString &dateText, const QString &timeText,
                     QList<EdlDocument> &documents, const ProgressFn &progress = {});
    // The whole EDL (not split per camera) into text, handed on as it is made; progress is told
    // of the rows done. Throws as make does, text then holding what was made (Corvane layout).
    static void makeWhole(EdlBuilder &builder, const CaptureList &list, const CameraTable &cameras, EdlLayout layout,
                          const QString &title, const QString &dateText, const QString &timeText, EdlText &text,
                          const ProgressFn &progress = {});

    // The text shown for documents: one document's bytes as they are, several separated by an
    // empty line.
    static QByteArray shownText(const QList<EdlDocument> &documents);
};
