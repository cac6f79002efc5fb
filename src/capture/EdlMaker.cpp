#include "EdlMaker.h"

#include "CaptureList.h"
#include "Cmx3600Writer.h"
#include "EdlBuilder.h"
#include "EdlEvents.h"

QString EdlMaker::layoutName(EdlLayout layout)
{
    return layout == EdlLayout::Cmx3600 ? QStringLiteral("cmx3600") : QStringLiteral("corvane");
}

std::optional<EdlLayout> EdlMaker::layoutNamed(const QString &name)
{
    const QString key = name.trimmed();
    for (EdlLayout layout : {EdlLayout::Corvane, EdlLayout::Cmx3600}) {
        if (key.compare(layoutName(layout), Qt::CaseInsensitive) == 0)
            return layout;
    }
    return std::nullopt;
}

void EdlMaker::make(EdlBuilder &builder, CaptureList &list, const CameraTable &cameras, const EdlOptions &options,
                    const QString &title, const QString &dateText, const QString &timeText,
                    QList<EdlDocument> &documents)
{
    documents.clear();
    const auto reels = Cmx3600Writer::reels(cameras);
    const auto reelOf = [&reels](int camera) { return reels[static_cast<size_t>(camera - 1)]; };

    if (options.layout == EdlLayout::Corvane && !options.perCamera) {
        documents.append(EdlDocument());
        builder.BuildEdl(list, cameras, title, dateText, timeText, documents.first().lines);
        return;
    }

    if (options.layout == EdlLayout::Corvane) {
        const QStringList header{EdlBuilder::titleLine(title, dateText, timeText), EdlBuilder::FormatLine};
        EdlBuilder::CameraLines lines;
        // The lines made before a conversion error are kept, as for the whole EDL.
        const auto collect = [&] {
            for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
                const QStringList &own = lines[static_cast<size_t>(camera - 1)];
                if (!own.isEmpty())
                    documents.append({camera, reelOf(camera), header + own});
            }
        };
        try {
            builder.BuildEdlPerCamera(list, cameras, lines);
        } catch (...) {
            collect();
            throw;
        }
        collect();
        return;
    }

    EdlBuilder::appendClosingRow(list);
    if (!options.perCamera) {
        const QList<EdlEvent> events = EdlEvents::withoutEmpty(EdlEvents::programCut(list));
        documents.append({0, QString(), Cmx3600Writer::lines(title, events, cameras)});
        return;
    }
    const QList<EdlEvent> events = EdlEvents::cameraRanges(list);
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const QList<EdlEvent> own = EdlEvents::withoutEmpty(EdlEvents::ofCamera(events, camera));
        if (!own.isEmpty())
            documents.append({camera, reelOf(camera), Cmx3600Writer::lines(title, own, cameras)});
    }
}

QStringList EdlMaker::shownLines(const QList<EdlDocument> &documents)
{
    if (documents.size() == 1)
        return documents.first().lines;
    QStringList lines;
    for (const EdlDocument &document : documents) {
        if (!lines.isEmpty())
            lines.append(QString());
        lines += document.lines;
    }
    return lines;
}
