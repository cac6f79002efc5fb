#include "EdlBuilder.h"

#include "CaptureList.h"
#include "TextViews.h"

namespace {

constexpr int EditTypeFieldWidth = 10;

} // namespace

// The event line and comment line of a closed event.
class EdlBuilder::LineWriter {
public:
    explicit LineWriter(const CameraTable &cameras)
    {
        for (int camera = 0; camera < CameraTable::CameraCount; ++camera) {
            m_reelNames[static_cast<size_t>(camera)] = cameras.reelName(camera + 1);
            m_editTypes[static_cast<size_t>(camera)] = cameras.editType(camera + 1);
        }
    }

    QString eventLine(int camera, const TCameraEvent &event) const
    {
        return EdlBuilder::eventLine(event, m_reelNames[static_cast<size_t>(camera)],
                                     m_editTypes[static_cast<size_t>(camera)]);
    }

    void write(EdlText &text, int camera, const TCameraEvent &event) const
    {
        const QLatin1String gap("  ");
        const QString &editType = m_editTypes[static_cast<size_t>(camera)];
        text.append(event.ItemText);
        text.append(gap);
        text.append(m_reelNames[static_cast<size_t>(camera)]);
        text.append(gap);
        text.append(editType);
        text.appendSpaces(EditTypeFieldWidth - editType.size());
        text.append(QLatin1String("C  "));
        text.append(event.ReaderIn);
        text.append(gap);
        text.append(event.ReaderOut);
        text.append(gap);
        text.append(event.GeneratorIn);
        text.append(gap);
        text.append(event.GeneratorOut);
        text.endLine();
        if (!event.EventComment.isEmpty()) {
            text.append(QLatin1String("* "));
            text.append(event.EventComment);
            text.endLine();
        }
    }

private:
    std::array<QString, CameraTable::CameraCount> m_reelNames;
    std::array<QString, CameraTable::CameraCount> m_editTypes;
};

void EdlBuilder::BuildEdl(const CaptureList &list, const CameraTable &cameras, const QString &title,
                          const QString &dateText, const QString &timeText, QStringList &lines)
{
    lines.clear();
    lines.append(titleLine(title, dateText, timeText));
    lines.append(FormatLine);
    const LineWriter writer(cameras);
    build(list, [&](int camera, const TCameraEvent &event) {
        lines.append(writer.eventLine(camera, event));
        if (!event.EventComment.isEmpty())
            lines.append(QLatin1String("* ") + event.EventComment);
    });
}

void EdlBuilder::BuildEdl(const CaptureList &list, const CameraTable &cameras, const QString &title,
                          const QString &dateText, const QString &timeText, EdlText &text,
                          const ProgressFn &progress)
{
    text.addLine(titleLine(title, dateText, timeText));
    text.addLine(FormatLine);
    const LineWriter writer(cameras);
    build(list, [&](int camera, const TCameraEvent &event) { writer.write(text, camera, event); }, progress);
    text.finish();
}

void EdlBuilder::BuildEdlPerCamera(const CaptureList &list, const CameraTable &cameras, CameraLines &lines)
{
    for (QStringList &own : lines)
        own.clear();
    const LineWriter writer(cameras);
    build(list, [&](int camera, const TCameraEvent &event) {
        QStringList &own = lines[static_cast<size_t>(camera)];
        own.append(writer.eventLine(camera, event));
        if (!event.EventComment.isEmpty())
            own.append(QLatin1String("* ") + event.EventComment);
    });
}

void EdlBuilder::BuildEdlPerCamera(const CaptureList &list, const CameraTable &cameras, CameraTexts &texts,
                                   const ProgressFn &progress)
{
    const LineWriter writer(cameras);
    build(list, [&](int camera, const TCameraEvent &event) { writer.write(texts[static_cast<size_t>(camera)], camera, event); },
          progress);
}

bool EdlBuilder::needsClosingRow(const CaptureList &list, int rows)
{
    return rows > 0 && CaptureList::parseCameraState(list.textView(rows - 1, CaptureList::CameraColumn)) != 0;
}

template <typename Put>
void EdlBuilder::build(const CaptureList &list, Put put, const ProgressFn &progress)
{
    // Every complete build leaves all records idle. A build stopped by a bad camera state leaves
    // some open; carrying them into this build would give its first events the in points of the
    // stopped one, so start from idle records.
    for (TCameraEvent &event : m_events)
        event.HasIn = event.HasOut = false;

    // Rows appended while the build runs (device events let in while a progress bar shows) are
    // not part of this EDL.
    const int rows = list.count();
    const bool closing = needsClosingRow(list, rows);
    ProgressSteps steps(progress, rows);
    const auto putClosed = [&](int camera) {
        TCameraEvent &event = m_events[static_cast<size_t>(camera)];
        if (!event.HasOut)
            return;
        event.HasIn = event.HasOut = false;
        put(camera, std::as_const(event));
    };
    for (int row = 0; row < rows; ++row) {
        steps.at(row);
        const quint32 mask = CaptureList::parseCameraState(list.textView(row, CaptureList::CameraColumn));
        for (int camera = 0; camera < CameraTable::CameraCount; ++camera) {
            advance(list, row, camera, mask);
            putClosed(camera);
        }
    }
    if (closing) {
        for (int camera = 0; camera < CameraTable::CameraCount; ++camera) {
            close(list, rows - 1, camera);
            putClosed(camera);
        }
    }
    if (progress)
        progress(rows, rows);
}

void EdlBuilder::close(const CaptureList &list, int lastRow, int camera)
{
    using TextViews::assignLeft;

    TCameraEvent &event = m_events[static_cast<size_t>(camera)];
    if (!event.HasIn)
        return;
    // The closing row has no comment: nothing is added to the event's.
    event.HasOut = true;
    assignLeft(event.ReaderOut, list.textView(lastRow, CaptureList::ReaderColumn), TCameraEvent::TimecodeWidth);
    assignLeft(event.GeneratorOut, list.textView(lastRow, CaptureList::GeneratorColumn), TCameraEvent::TimecodeWidth);
}

void EdlBuilder::UpdateCameraEvent(const CaptureList &list, int row, int camera)
{
    if (camera < 0 || camera >= CameraTable::CameraCount || row < 0 || row >= list.count())
        return;
    advance(list, row, camera, CaptureList::parseCameraState(list.textView(row, CaptureList::CameraColumn)));
}

void EdlBuilder::advance(const CaptureList &list, int row, int camera, quint32 mask)
{
    using TextViews::appendLeft;
    using TextViews::assignLeft;

    TCameraEvent &event = m_events[static_cast<size_t>(camera)];
    const bool on = (mask >> camera) & 1u;
    if (on) {
        // Rows in the middle of an event leave no trace.
        if (event.HasIn)
            return;
        event.HasIn = true;
        assignLeft(event.ItemText, list.textView(row, CaptureList::ItemColumn), TCameraEvent::ItemTextWidth);
        assignLeft(event.ReaderIn, list.textView(row, CaptureList::ReaderColumn), TCameraEvent::TimecodeWidth);
        assignLeft(event.GeneratorIn, list.textView(row, CaptureList::GeneratorColumn), TCameraEvent::TimecodeWidth);
        assignLeft(event.EventComment, list.textView(row, CaptureList::CommentColumn), TCameraEvent::CommentWidth);
    } else if (event.HasIn) {
        event.HasOut = true;
        assignLeft(event.ReaderOut, list.textView(row, CaptureList::ReaderColumn), TCameraEvent::TimecodeWidth);
        assignLeft(event.GeneratorOut, list.textView(row, CaptureList::GeneratorColumn), TCameraEvent::TimecodeWidth);
        appendLeft(event.EventComment, list.textView(row, CaptureList::CommentColumn), TCameraEvent::CommentWidth);
    }
}

QString EdlBuilder::titleLine(const QString &title, const QString &dateText, const QString &timeText)
{
    return QLatin1String("TITLE:   ") + title + QLatin1String("  ") + dateText + QLatin1String("  ") + timeText;
}

QString EdlBuilder::eventLine(const TCameraEvent &event, const QString &reelName, const QString &editType)
{
    const QLatin1String gap("  ");
    const qsizetype padding = std::max<qsizetype>(0, EditTypeFieldWidth - editType.size());
    QString line;
    line.reserve(event.ItemText.size() + reelName.size() + editType.size() + padding + event.ReaderIn.size()
                 + event.ReaderOut.size() + event.GeneratorIn.size() + event.GeneratorOut.size() + 13);
    line += event.ItemText;
    line += gap;
    line += reelName;
    line += gap;
    line += editType;
    line.resize(line.size() + padding, QLatin1Char(' '));
    line += QLatin1String("C  ");
    line += event.ReaderIn;
    line += gap;
    line += event.ReaderOut;
    line += gap;
    line += event.GeneratorIn;
    line += gap;
    line += event.GeneratorOut;
    return line;
}

QString EdlBuilder::dateText(const QDateTime &moment, const QLocale &locale)
{
    return locale.toString(moment.date(), QLocale::ShortFormat);
}

QString EdlBuilder::timeText(const QDateTime &moment, const QLocale &locale)
{
    return locale.toString(moment, locale.timeFormat(QLocale::LongFormat));
}
