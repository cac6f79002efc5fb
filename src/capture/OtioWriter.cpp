#include "OtioWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString Schema = QStringLiteral("OTIO_SCHEMA");
const QString MediaKey = QStringLiteral("DEFAULT_MEDIA");

QJsonObject rationalTime(qint64 value, int rate)
{
    return QJsonObject{{Schema, QStringLiteral("RationalTime.1")},
                       {QStringLiteral("rate"), double(rate)},
                       {QStringLiteral("value"), double(value)}};
}

QJsonObject timeRange(qint64 start, qint64 duration, int rate)
{
    return QJsonObject{{Schema, QStringLiteral("TimeRange.1")},
                       {QStringLiteral("start_time"), rationalTime(start, rate)},
                       {QStringLiteral("duration"), rationalTime(duration, rate)}};
}

// The fields every item has.
QJsonObject item(const QString &schema, const QString &name, const QJsonValue &sourceRange)
{
    return QJsonObject{{Schema, schema},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("metadata"), QJsonObject()},
                       {QStringLiteral("source_range"), sourceRange},
                       {QStringLiteral("effects"), QJsonArray()},
                       {QStringLiteral("markers"), QJsonArray()},
                       {QStringLiteral("enabled"), true}};
}

QJsonObject gap(qint64 duration, int rate)
{
    return item(QStringLiteral("Gap.1"), QString(), timeRange(0, duration, rate));
}

QJsonObject clip(const TimelineTrack &track, const TimelineClip &clip, int rate)
{
    QJsonObject object = item(QStringLiteral("Clip.2"), track.name, timeRange(clip.sourceStart, clip.duration, rate));
    object.insert(QStringLiteral("metadata"),
                  QJsonObject{{QStringLiteral("cmx_3600"), QJsonObject{{QStringLiteral("reel"), track.reel}}}});
    QJsonArray markers;
    for (const TimelineMarker &marker : clip.markers) {
        // A marker's range is in the clip's source time.
        markers.append(QJsonObject{{Schema, QStringLiteral("Marker.2")},
                                   {QStringLiteral("name"), marker.text},
                                   {QStringLiteral("metadata"), QJsonObject()},
                                   {QStringLiteral("color"), QStringLiteral("RED")},
                                   {QStringLiteral("comment"), QString()},
                                   {QStringLiteral("marked_range"), timeRange(clip.sourceStart + marker.offset, 0, rate)}});
    }
    object.insert(QStringLiteral("markers"), markers);
    const QJsonObject missing{{Schema, QStringLiteral("MissingReference.1")},
                              {QStringLiteral("name"), track.reel},
                              {QStringLiteral("metadata"), QJsonObject()},
                              {QStringLiteral("available_range"), QJsonValue::Null},
                              {QStringLiteral("available_image_bounds"), QJsonValue::Null}};
    object.insert(QStringLiteral("media_references"), QJsonObject{{MediaKey, missing}});
    object.insert(QStringLiteral("active_media_reference_key"), MediaKey);
    return object;
}

} // namespace

QJsonObject OtioWriter::toJson(const Timeline &timeline)
{
    QJsonArray tracks;
    for (const TimelineTrack &track : timeline.tracks) {
        QJsonArray children;
        qint64 at = 0;
        for (const TimelineClip &c : track.clips) {
            if (c.recordStart > at)
                children.append(gap(c.recordStart - at, timeline.rate));
            children.append(clip(track, c, timeline.rate));
            at = c.recordStart + c.duration;
        }
        QJsonObject object = item(QStringLiteral("Track.1"), track.name, QJsonValue::Null);
        object.insert(QStringLiteral("kind"), QStringLiteral("Video"));
        object.insert(QStringLiteral("children"), children);
        tracks.append(object);
    }
    QJsonObject stack = item(QStringLiteral("Stack.1"), QStringLiteral("tracks"), QJsonValue::Null);
    stack.insert(QStringLiteral("children"), tracks);
    return QJsonObject{{Schema, QStringLiteral("Timeline.1")},
                       {QStringLiteral("name"), timeline.name},
                       {QStringLiteral("metadata"), QJsonObject()},
                       {QStringLiteral("global_start_time"), rationalTime(timeline.startFrame, timeline.rate)},
                       {QStringLiteral("tracks"), stack}};
}

QByteArray OtioWriter::write(const Timeline &timeline)
{
    return QJsonDocument(toJson(timeline)).toJson(QJsonDocument::Indented);
}
