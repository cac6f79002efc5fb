#include "Fcp7XmlWriter.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <limits>

namespace {

// XML 1.0 has no place for most control characters.
QString xmlText(const QString &text)
{
    QString clean = text;
    for (QChar &c : clean) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF)
            c = QLatin1Char(' ');
    }
    return clean;
}

class Writer {
public:
    Writer(const Timeline &timeline, QByteArray &out) : m_timeline(timeline), m_xml(&out)
    {
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(2);
    }

    void write()
    {
        m_xml.writeStartDocument();
        m_xml.writeDTD(QStringLiteral("<!DOCTYPE xmeml>"));
        m_xml.writeStartElement(QStringLiteral("xmeml"));
        m_xml.writeAttribute(QStringLiteral("version"), QStringLiteral("5"));
        m_xml.writeStartElement(QStringLiteral("sequence"));
        m_xml.writeAttribute(QStringLiteral("id"), QStringLiteral("sequence-1"));
        text(QStringLiteral("name"), m_timeline.name);
        number(QStringLiteral("duration"), m_timeline.duration);
        rate();
        timecode(m_timeline.start.text(), m_timeline.startFrame, QString());
        m_xml.writeStartElement(QStringLiteral("media"));
        m_xml.writeStartElement(QStringLiteral("video"));
        format();
        int clipNumber = 0;
        for (const TimelineTrack &track : m_timeline.tracks) {
            m_xml.writeStartElement(QStringLiteral("track"));
            bool fileWritten = false;
            const FileSpan span = fileSpan(track);
            for (const TimelineClip &clip : track.clips) {
                clipItem(track, clip, span, ++clipNumber, fileWritten);
                fileWritten = true;
            }
            m_xml.writeTextElement(QStringLiteral("enabled"), QStringLiteral("TRUE"));
            m_xml.writeTextElement(QStringLiteral("locked"), QStringLiteral("FALSE"));
            m_xml.writeEndElement(); // track
        }
        m_xml.writeEndElement(); // video
        m_xml.writeEndElement(); // media
        m_xml.writeEndElement(); // sequence
        m_xml.writeEndElement(); // xmeml
        m_xml.writeEndDocument();
    }

private:
    // What a camera's file covers: from its earliest source in to its latest source out.
    struct FileSpan {
        qint64 start = 0;
        qint64 duration = 0;
    };

    static FileSpan fileSpan(const TimelineTrack &track)
    {
        qint64 first = std::numeric_limits<qint64>::max();
        qint64 last = 0;
        for (const TimelineClip &clip : track.clips) {
            first = std::min(first, clip.sourceStart);
            last = std::max(last, clip.sourceStart + clip.duration);
        }
        return {first, last - first};
    }

    void text(const QString &name, const QString &value) { m_xml.writeTextElement(name, xmlText(value)); }
    void number(const QString &name, qint64 value) { m_xml.writeTextElement(name, QString::number(value)); }

    void rate()
    {
        m_xml.writeStartElement(QStringLiteral("rate"));
        number(QStringLiteral("timebase"), m_timeline.rate);
        m_xml.writeTextElement(QStringLiteral("ntsc"), QStringLiteral("FALSE"));
        m_xml.writeEndElement();
    }

    void timecode(const QString &text, qint64 frame, const QString &reel)
    {
        m_xml.writeStartElement(QStringLiteral("timecode"));
        rate();
        m_xml.writeTextElement(QStringLiteral("string"), text);
        number(QStringLiteral("frame"), frame);
        m_xml.writeTextElement(QStringLiteral("displayformat"), QStringLiteral("NDF"));
        if (!reel.isEmpty()) {
            m_xml.writeStartElement(QStringLiteral("reel"));
            this->text(QStringLiteral("name"), reel);
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
    }

    void format()
    {
        m_xml.writeStartElement(QStringLiteral("format"));
        m_xml.writeStartElement(QStringLiteral("samplecharacteristics"));
        rate();
        m_xml.writeEndElement();
        m_xml.writeEndElement();
    }

    void clipItem(const TimelineTrack &track, const TimelineClip &clip, const FileSpan &span, int number,
                  bool fileWritten)
    {
        const QString fileId = QStringLiteral("file-%1").arg(track.camera);
        m_xml.writeStartElement(QStringLiteral("clipitem"));
        m_xml.writeAttribute(QStringLiteral("id"), QStringLiteral("clipitem-%1").arg(number));
        text(QStringLiteral("name"), track.name);
        m_xml.writeTextElement(QStringLiteral("enabled"), QStringLiteral("TRUE"));
        // A clipitem's duration is that of its media.
        this->number(QStringLiteral("duration"), span.duration);
        rate();
        this->number(QStringLiteral("start"), clip.recordStart);
        this->number(QStringLiteral("end"), clip.recordStart + clip.duration);
        const qint64 in = clip.sourceStart - span.start;
        this->number(QStringLiteral("in"), in);
        this->number(QStringLiteral("out"), in + clip.duration);
        m_xml.writeStartElement(QStringLiteral("file"));
        m_xml.writeAttribute(QStringLiteral("id"), fileId);
        // A file is described once; later clips of the camera name it by its id.
        if (!fileWritten) {
            text(QStringLiteral("name"), track.name);
            rate();
            this->number(QStringLiteral("duration"), span.duration);
            timecode(fileTimecode(span.start), span.start, track.reel);
            m_xml.writeStartElement(QStringLiteral("media"));
            m_xml.writeStartElement(QStringLiteral("video"));
            m_xml.writeStartElement(QStringLiteral("samplecharacteristics"));
            rate();
            m_xml.writeEndElement();
            m_xml.writeEndElement();
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement(); // file
        for (const TimelineMarker &marker : clip.markers) {
            m_xml.writeStartElement(QStringLiteral("marker"));
            text(QStringLiteral("name"), marker.text);
            m_xml.writeTextElement(QStringLiteral("comment"), QString());
            this->number(QStringLiteral("in"), in + marker.offset);
            this->number(QStringLiteral("out"), -1);
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement(); // clipitem
    }

    QString fileTimecode(qint64 frame) const { return EdlTimecode::fromFrameCount(frame, m_timeline.rate).text(); }

    const Timeline &m_timeline;
    QXmlStreamWriter m_xml;
};

} // namespace

QByteArray Fcp7XmlWriter::write(const Timeline &timeline)
{
    QByteArray out;
    Writer(timeline, out).write();
    return out;
}
