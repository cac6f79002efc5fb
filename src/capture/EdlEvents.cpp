#include "EdlEvents.h"

#include "CameraTable.h"
#include "CaptureList.h"
#include "Errors.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

// What the events need of one row.
struct RowMoment {
    quint32 mask = 0;
    EdlTimecode reader;    // as read
    EdlTimecode generator; // on the record clock
};

QString rowName(int row)
{
    return QStringLiteral("Row %1").arg(row + 1);
}

EdlTimecode timecodeOf(const CaptureList &list, int row, int column)
{
    const QString text = list.text(row, column);
    const std::optional<EdlTimecode> timecode = EdlTimecode::parse(text);
    if (!timecode)
        throw CorvaneError(QStringLiteral("%1: '%2' is not a timecode (hh:mm:ss:ff)").arg(rowName(row), text));
    return *timecode;
}

// Throws when a time runs past what two hour digits can write.
void checkWritable(const EdlTimecode &time, int row, const QString &text)
{
    if (time.hours() > EdlTimecode::MaxHours)
        throw CorvaneError(QStringLiteral("%1: timecode %2 lies more than %3 hours after the first row")
                               .arg(rowName(row), text)
                               .arg(EdlTimecode::MaxHours));
}

std::vector<RowMoment> readRows(const CaptureList &list)
{
    std::vector<RowMoment> rows(static_cast<size_t>(list.count()));
    for (int row = 0; row < list.count(); ++row) {
        RowMoment &moment = rows[static_cast<size_t>(row)];
        moment.mask = CaptureList::parseCameraState(list.textView(row, CaptureList::CameraColumn));
        moment.reader = timecodeOf(list, row, CaptureList::ReaderColumn);
        const EdlTimecode generator = timecodeOf(list, row, CaptureList::GeneratorColumn);
        if (row == 0) {
            moment.generator = generator;
            continue;
        }
        const EdlTimecode previous = rows[static_cast<size_t>(row - 1)].generator;
        moment.generator = generator.continuing(previous);
        if (moment.generator < previous)
            throw CorvaneError(QStringLiteral("%1: timecode %2 is earlier than %3 of the row before; the rows must be "
                                              "in time order")
                                   .arg(rowName(row), list.text(row, CaptureList::GeneratorColumn),
                                        list.text(row - 1, CaptureList::GeneratorColumn)));
        checkWritable(moment.generator, row, list.text(row, CaptureList::GeneratorColumn));
    }
    return rows;
}

EdlEvent openEvent(const std::vector<RowMoment> &rows, int camera, int row)
{
    EdlEvent event;
    event.camera = camera;
    event.openRow = row;
    event.sourceIn = rows[static_cast<size_t>(row)].reader;
    event.recordIn = rows[static_cast<size_t>(row)].generator;
    return event;
}

void closeEvent(const CaptureList &list, const std::vector<RowMoment> &rows, EdlEvent &event, int row)
{
    const RowMoment &moment = rows[static_cast<size_t>(row)];
    event.closeRow = row;
    event.recordOut = moment.generator;
    event.sourceOut = moment.reader.continuing(event.sourceIn);
    if (event.sourceOut < event.sourceIn)
        throw CorvaneError(QStringLiteral("%1: reader timecode %2 is earlier than %3 where camera %4 went on")
                               .arg(rowName(row), list.text(row, CaptureList::ReaderColumn),
                                    list.text(event.openRow, CaptureList::ReaderColumn))
                               .arg(event.camera));
    checkWritable(event.sourceOut, row, list.text(row, CaptureList::ReaderColumn));
}

void addComment(const CaptureList &list, const std::vector<RowMoment> &rows, EdlEvent &event, int row)
{
    const QString text = list.text(row, CaptureList::CommentColumn);
    if (!text.isEmpty())
        event.comments.append({rows[static_cast<size_t>(row)].generator, text});
}

bool isOn(quint32 mask, int camera)
{
    return (mask >> (camera - 1)) & 1u;
}

} // namespace

QList<EdlEvent> EdlEvents::cameraRanges(const CaptureList &list)
{
    const std::vector<RowMoment> rows = readRows(list);
    QList<EdlEvent> events;
    std::array<EdlEvent, CameraTable::CameraCount> open;
    std::array<bool, CameraTable::CameraCount> isOpen{};
    const int count = static_cast<int>(rows.size());
    for (int row = 0; row < count; ++row) {
        const quint32 mask = rows[static_cast<size_t>(row)].mask;
        for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
            const size_t c = static_cast<size_t>(camera - 1);
            if (isOn(mask, camera) && !isOpen[c]) {
                open[c] = openEvent(rows, camera, row);
                addComment(list, rows, open[c], row);
                isOpen[c] = true;
            } else if (!isOn(mask, camera) && isOpen[c]) {
                closeEvent(list, rows, open[c], row);
                addComment(list, rows, open[c], row);
                events.append(std::move(open[c]));
                isOpen[c] = false;
            }
        }
    }
    // Still on at the last row: the event ends there, as at the EDL's closing row (which has no
    // comment); the last row's own comment is the event's only when it began there.
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const size_t c = static_cast<size_t>(camera - 1);
        if (isOpen[c]) {
            closeEvent(list, rows, open[c], count - 1);
            events.append(std::move(open[c]));
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const EdlEvent &a, const EdlEvent &b) {
        return a.openRow != b.openRow ? a.openRow < b.openRow : a.camera < b.camera;
    });
    return events;
}

QList<EdlEvent> EdlEvents::programCut(const CaptureList &list)
{
    const std::vector<RowMoment> rows = readRows(list);
    QList<EdlEvent> events;
    QList<int> onOrder; // the cameras on, in the order they went on; the last is the program
    quint32 previousMask = 0;
    int program = 0;
    EdlEvent current;
    const int count = static_cast<int>(rows.size());
    for (int row = 0; row < count; ++row) {
        const quint32 mask = rows[static_cast<size_t>(row)].mask;
        onOrder.removeIf([mask](int camera) { return !isOn(mask, camera); });
        // Cameras going on together: the lowest number ends last, as the program.
        for (int camera = CameraTable::CameraCount; camera >= 1; --camera) {
            if (isOn(mask, camera) && !isOn(previousMask, camera))
                onOrder.append(camera);
        }
        previousMask = mask;

        const int next = onOrder.isEmpty() ? 0 : onOrder.last();
        bool closedHere = false;
        if (next != program) {
            if (program != 0) {
                closeEvent(list, rows, current, row);
                events.append(std::move(current));
                closedHere = true;
            }
            if (next != 0)
                current = openEvent(rows, next, row);
            program = next;
        }
        if (program != 0)
            addComment(list, rows, current, row);
        else if (closedHere)
            addComment(list, rows, events.last(), row);
    }
    if (program != 0) {
        closeEvent(list, rows, current, count - 1);
        events.append(std::move(current));
    }
    return events;
}

QList<EdlEvent> EdlEvents::ofCamera(const QList<EdlEvent> &events, int camera)
{
    QList<EdlEvent> chosen;
    for (const EdlEvent &event : events) {
        if (event.camera == camera)
            chosen.append(event);
    }
    return chosen;
}

QList<EdlEvent> EdlEvents::withoutEmpty(const QList<EdlEvent> &events)
{
    QList<EdlEvent> kept;
    QList<EdlComment> carried;
    for (const EdlEvent &event : events) {
        if (event.isEmpty()) {
            carried += event.comments;
            continue;
        }
        // A camera that goes on where it went off, on both clocks, runs on: no cut.
        if (!kept.isEmpty()) {
            EdlEvent &last = kept.last();
            if (last.camera == event.camera && last.recordOut == event.recordIn && last.sourceOut == event.sourceIn) {
                last.closeRow = event.closeRow;
                last.recordOut = event.recordOut;
                last.sourceOut = event.sourceOut;
                last.comments += carried + event.comments;
                carried.clear();
                continue;
            }
        }
        kept.append(event);
        if (!carried.isEmpty())
            kept.last().comments = carried + kept.last().comments;
        carried.clear();
    }
    if (!carried.isEmpty() && !kept.isEmpty())
        kept.last().comments += carried;
    return kept;
}
