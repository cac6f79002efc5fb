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

void EdlMaker::makeWhole(EdlBuilder &builder, const CaptureList &list, const CameraTable &cameras, EdlLayout layout,
                         const QString &title, const QString &dateText, const QString &timeText, EdlText &text,
                         const ProgressFn &progress)
{
    if (layout == EdlLayout::Corvane) {
        try {
            builder.BuildEdl(list, cameras, title, dateText, timeText, text, progress);
        } catch (...) {
            text.finish();
            throw;
        }
        return;
    }
    // A bad camera state in the last row is told first, as the Corvane layout tells it.
    EdlBuilder::needsClosingRow(list, list.count());
    const QList<EdlEvent> events = EdlEvents::withoutEmpty(EdlEvents::programCut(list));
    if (progress)
        progress(list.count(), list.count());
    Cmx3600Writer::write(title, events, cameras, text);
}

void EdlMaker::make(EdlBuilder &builder, const CaptureList &list, const CameraTable &cameras, const EdlOptions &options,
                    const QString &title, const QString &dateText, const QString &timeText,
                    QList<EdlDocument> &documents, const ProgressFn &progress)
{
    documents.clear();
    const auto reels = Cmx3600Writer::reels(cameras);
    const auto reelOf = [&reels](int camera) { return reels[static_cast<size_t>(camera - 1)]; };

    if (!options.perCamera) {
        documents.append(EdlDocument());
        EdlText text;
        // Room for two lines of 80 bytes a row, taken from the system as it is written (pages
        // not written are never used), so that the bytes are not copied as they grow.
        text.reserve(qsizetype(list.count()) * 160 + 256);
        try {
            makeWhole(builder, list, cameras, options.layout, title, dateText, timeText, text, progress);
        } catch (...) {
            if (options.layout == EdlLayout::Corvane)
                documents.first().text = text.takeBytes();
            else
                documents.clear();
            throw;
        }
        documents.first().text = text.takeBytes();
        documents.first().text.squeeze();
        return;
    }

    if (options.layout == EdlLayout::Corvane) {
        EdlText header;
        header.addLine(EdlBuilder::titleLine(title, dateText, timeText));
        header.addLine(EdlBuilder::FormatLine);
        EdlBuilder::CameraTexts texts;
        // The lines made before a conversion error are kept, as for the whole EDL.
        const auto collect = [&] {
            for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
                const EdlText &own = texts[static_cast<size_t>(camera - 1)];
                if (own.lineCount() > 0) {
                    QByteArray text = header.bytes().toByteArray();
                    text.append(own.bytes());
                    documents.append({camera, reelOf(camera), text});
                }
            }
        };
        try {
            builder.BuildEdlPerCamera(list, cameras, texts, progress);
        } catch (...) {
            collect();
            throw;
        }
        collect();
        return;
    }

    EdlBuilder::needsClosingRow(list, list.count());
    const QList<EdlEvent> events = EdlEvents::cameraRanges(list);
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const QList<EdlEvent> own = EdlEvents::withoutEmpty(EdlEvents::ofCamera(events, camera));
        if (!own.isEmpty()) {
            EdlText text;
            Cmx3600Writer::write(title, own, cameras, text);
            documents.append({camera, reelOf(camera), text.takeBytes()});
        }
    }
    if (progress)
        progress(list.count(), list.count());
}

QByteArray EdlMaker::shownText(const QList<EdlDocument> &documents)
{
    if (documents.size() == 1)
        return documents.first().text;
    QByteArray text;
    for (const EdlDocument &document : documents) {
        if (!text.isEmpty())
            text += "\r\n";
        text += document.text;
    }
    return text;
}
