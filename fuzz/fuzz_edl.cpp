// The EDL of any capture list (rows read from a capture file of any content). A list whose
// camera states are all hexadecimal gives the two header lines, one event line for each span in
// which a camera is on and at most one comment line per event; building again gives the same
// lines without adding a second closing row. A list with a camera state that is not
// hexadecimal raises CorvaneError, and a build afterwards still starts from idle cameras.
//
// Input: one byte of options (long reel names and edit types), then the capture file.

#include "FuzzSupport.h"

#include "CameraTable.h"
#include "CaptureFile.h"
#include "CaptureList.h"
#include "EdlBuilder.h"
#include "Errors.h"

#include <memory>

namespace {

// Spans in which a camera is on, closed or not.
int spansOf(const CaptureList &list)
{
    int spans = 0;
    quint32 previous = 0;
    for (int r = 0; r < list.count(); ++r) {
        quint32 mask = 0;
        CaptureList::tryParseCameraState(list.textView(r, CaptureList::CameraColumn), &mask);
        mask &= 0xFFFF;
        spans += qPopulationCount(mask & ~previous);
        previous = mask;
    }
    return spans;
}

bool allHex(const CaptureList &list)
{
    for (int r = 0; r < list.count(); ++r) {
        if (!CaptureList::tryParseCameraState(list.textView(r, CaptureList::CameraColumn), nullptr))
            return false;
    }
    return true;
}

} // namespace

FUZZ_QT_INITIALIZE

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Fuzz::Input in(data, size);
    const std::uint8_t options = in.byte();
    CameraTable cameras;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        cameras.setReelName(camera, options & 1 ? QString(40, QLatin1Char('R')) : QStringLiteral("CAM%1").arg(camera));
        cameras.setEditType(camera, options & 2 ? QStringLiteral("DISSOLVE-LONG") : QStringLiteral("V"));
    }
    CaptureList list;
    CaptureFile::decode(in.rest(), list);

    const QString title = QStringLiteral("show");
    const QString date = QStringLiteral("2008-11-23");
    const QString time = QStringLiteral("10:00:00");
    EdlBuilder builder;
    QStringList lines;
    const bool valid = allHex(list);
    const int rowsBefore = list.count();
    try {
        builder.BuildEdl(list, cameras, title, date, time, lines);
        FUZZ_CHECK(valid, QStringLiteral("a camera state that is not hexadecimal was taken"));
    } catch (const CorvaneError &e) {
        FUZZ_CHECK(!valid, e.message());
        FUZZ_CHECK(lines.size() >= 2 && lines.at(0) == EdlBuilder::titleLine(title, date, time)
                       && lines.at(1) == EdlBuilder::FormatLine,
                   lines.join(QLatin1Char('\n')));
        // A build of rows that are all hexadecimal, after the stopped one, starts afresh: it
        // gives what a new builder gives.
        const auto cleaned = [&list] {
            auto clean = std::make_unique<CaptureList>();
            for (int r = 0; r < list.count(); ++r) {
                CaptureList::RowTexts row = list.rowTexts(r);
                if (!CaptureList::tryParseCameraState(row.camera, nullptr))
                    row.camera = QStringLiteral("0");
                clean->appendRow(row);
            }
            return clean;
        };
        QStringList again;
        builder.BuildEdl(*cleaned(), cameras, title, date, time, again);
        EdlBuilder fresh;
        QStringList expected;
        fresh.BuildEdl(*cleaned(), cameras, title, date, time, expected);
        FUZZ_CHECK(again == expected, again.join(QLatin1Char('\n')) + QLatin1String("\n--\n") + expected.join(QLatin1Char('\n')));
        return 0;
    }

    FUZZ_CHECK(lines.size() >= 2 && lines.at(0) == EdlBuilder::titleLine(title, date, time)
                   && lines.at(1) == EdlBuilder::FormatLine,
               lines.join(QLatin1Char('\n')));
    // The closing row is added when the last row has a camera on, and then every span closes.
    FUZZ_CHECK(list.count() == rowsBefore || list.count() == rowsBefore + 1, QString::number(list.count()));
    if (list.count() > rowsBefore)
        FUZZ_CHECK(list.text(list.count() - 1, CaptureList::CameraColumn) == QLatin1String("00"), QString());
    const int spans = spansOf(list);
    const int events = int(lines.size()) - 2;
    FUZZ_CHECK(events >= spans && events <= 2 * spans, QStringLiteral("%1 lines for %2 spans").arg(events).arg(spans));
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (!lines.at(i).startsWith(QLatin1String("* ")))
            FUZZ_CHECK(lines.at(i).contains(QLatin1String("C  ")), lines.at(i));
    }

    QStringList again;
    builder.BuildEdl(list, cameras, title, date, time, again);
    FUZZ_CHECK(again == lines, again.join(QLatin1Char('\n')) + QLatin1String("\n--\n") + lines.join(QLatin1Char('\n')));
    FUZZ_CHECK(list.count() == rowsBefore || list.count() == rowsBefore + 1, QString::number(list.count()));
    return 0;
}
