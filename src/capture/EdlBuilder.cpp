#include "EdlBuilder.h"

#include "CaptureList.h"
#include "TextViews.h"

namespace {

constexpr int EditTypeFieldWidth = 10;

} // namespace

void EdlBuilder::BuildEdl(CaptureList &list, const CameraTable &cameras, const QString &title,
                          const QString &dateText, const QString &timeText, QStringList &lines)
{
    lines.clear();
    lines.append(titleLine(title, dateText, timeText));
    lines.append(FormatLine);
    build(list, cameras, [&lines](int, QString line) { lines.append(std::move(line)); });
}

void EdlBuilder::BuildEdlPerCamera(CaptureList &list, const CameraTable &cameras, CameraLines &lines)
{
    for (QStringList &own : lines)
        own.clear();
    build(list, cameras, [&lines](int camera, QString line) { lines[static_cast<size_t>(camera)].append(std::move(line)); });
}

void EdlBuilder::appendClosingRow(CaptureList &list)
{
    if (list.isEmpty())
        return;
    const int last = list.count() - 1;
    if (CaptureList::parseCameraState(list.textView(last, CaptureList::CameraColumn)) != 0) {
        const QString reader = list.text(last, CaptureList::ReaderColumn);
        const QString generator = list.text(last, CaptureList::GeneratorColumn);
        list.appendEvent(reader, generator, QStringLiteral("00"));
    }
}

template <typename Put>
void EdlBuilder::build(CaptureList &list, const CameraTable &cameras, Put put)
{
    // Every complete build leaves all records idle. A build stopped by a bad camera state leaves
    // some open; carrying them into this build would give its first events the in points of the
    // stopped one, so start from idle records.
    for (TCameraEvent &event : m_events)
        event.HasIn = event.HasOut = false;

    appendClosingRow(list);

    std::array<QString, CameraTable::CameraCount> reelNames;
    std::array<QString, CameraTable::CameraCount> editTypes;
    for (int camera = 0; camera < CameraTable::CameraCount; ++camera) {
        reelNames[static_cast<size_t>(camera)] = cameras.reelName(camera + 1);
        editTypes[static_cast<size_t>(camera)] = cameras.editType(camera + 1);
    }

    const int rows = list.count();
    for (int row = 0; row < rows; ++row) {
        const quint32 mask = CaptureList::parseCameraState(list.textView(row, CaptureList::CameraColumn));
        for (int camera = 0; camera < CameraTable::CameraCount; ++camera) {
            advance(list, row, camera, mask);
            TCameraEvent &event = m_events[static_cast<size_t>(camera)];
            if (!event.HasOut)
                continue;
            event.HasIn = event.HasOut = false;
            put(camera, eventLine(event, reelNames[static_cast<size_t>(camera)], editTypes[static_cast<size_t>(camera)]));
            if (!event.EventComment.isEmpty())
                put(camera, QLatin1String("* ") + event.EventComment);
        }
    }
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
