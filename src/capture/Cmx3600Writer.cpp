#include "Cmx3600Writer.h"

#include <QSet>

#include <cstdio>

namespace {

bool isPrintableAscii(char32_t c)
{
    return c >= 0x20 && c < 0x7F;
}

// Characters whose ASCII form their decomposition does not give.
const char *spelledOut(char32_t c)
{
    switch (c) {
    case 0xC6: return "AE";
    case 0xE6: return "ae";
    case 0xD8: return "O";
    case 0xF8: return "o";
    case 0xDF: return "ss";
    case 0xDE: return "TH";
    case 0xFE: return "th";
    case 0xD0: return "D";
    case 0xF0: return "d";
    case 0x110: return "D";
    case 0x111: return "d";
    case 0x141: return "L";
    case 0x142: return "l";
    case 0x152: return "OE";
    case 0x153: return "oe";
    case 0xAB: case 0xBB: case 0x201C: case 0x201D: case 0x201E: return "\"";
    case 0x2018: case 0x2019: case 0x201A: return "'";
    case 0x2013: case 0x2014: return "-";
    case 0xB7: return ".";
    case 0xD7: return "x";
    default: return nullptr;
    }
}

// The ASCII form of one character not printable ASCII itself.
void appendAscii(QString &out, char32_t c)
{
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
        out += QLatin1Char(' ');
        return;
    }
    if (const char *spelled = spelledOut(c)) {
        out += QLatin1String(spelled);
        return;
    }
    // Compatibility decomposition without the combining marks: é is e and an acute accent,
    // the ligature fi is f and i, a no-break space is a space.
    const QString decomposed = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
    QString kept;
    for (const QChar part : decomposed) {
        if (isPrintableAscii(part.unicode()))
            kept += part;
        else if (part.category() != QChar::Mark_NonSpacing) {
            kept.clear();
            break;
        }
    }
    out += kept.isEmpty() ? QStringLiteral("?") : kept;
}

bool isReelCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_';
}

} // namespace

QString Cmx3600Writer::ascii(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isPrintableAscii(c.unicode())) {
            out += c;
            continue;
        }
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            code = QChar::surrogateToUcs4(c, text[++i]);
        else if (c.isSurrogate())
            code = 0xFFFD;
        appendAscii(out, code);
    }
    return out;
}

QString Cmx3600Writer::reelOf(const QString &name)
{
    QString reel = ascii(name.trimmed()).toUpper();
    for (QChar &c : reel) {
        if (!isReelCharacter(c))
            c = QLatin1Char('_');
    }
    reel.truncate(ReelWidth);
    return reel.isEmpty() ? UnnamedReel : reel;
}

std::array<QString, CameraTable::CameraCount> Cmx3600Writer::reels(const CameraTable &cameras)
{
    std::array<QString, CameraTable::CameraCount> result;
    QSet<QString> taken;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const QString base = reelOf(cameras.reelName(camera));
        QString reel = base;
        // Each try has a suffix no other camera tries, so this ends within 16 tries.
        for (int tag = camera; taken.contains(reel); tag += CameraTable::CameraCount) {
            const QString suffix = QLatin1Char('_') + QString::number(tag);
            reel = base.left(ReelWidth - suffix.size()) + suffix;
        }
        taken.insert(reel);
        result[static_cast<size_t>(camera - 1)] = reel;
    }
    return result;
}

QString Cmx3600Writer::channel(const QString &editType)
{
    const QString type = editType.trimmed().toUpper();
    return Channels.contains(type) ? type : DefaultChannel;
}

QString Cmx3600Writer::eventLine(int number, const QString &reel, const QString &channel, const EdlEvent &event)
{
    return QString::asprintf("%03d  %-8s %-4s  %-4s %3s %s %s %s %s", number, reel.toLatin1().constData(),
                             channel.toLatin1().constData(), "C", "", event.sourceIn.text().toLatin1().constData(),
                             event.sourceOut.text().toLatin1().constData(), event.recordIn.text().toLatin1().constData(),
                             event.recordOut.text().toLatin1().constData());
}

namespace {

// "hh:mm:ss:ff" into out (11 characters).
char *timecodeChars(char *out, const EdlTimecode &time)
{
    for (const int field : {time.hours(), time.minutes(), time.seconds(), time.frames()}) {
        *out++ = static_cast<char>('0' + field / 10 % 10);
        *out++ = static_cast<char>('0' + field % 10);
        *out++ = ':';
    }
    return out - 1;
}

} // namespace

void Cmx3600Writer::write(const QString &title, const QList<EdlEvent> &events, const CameraTable &cameras,
                          EdlText &text)
{
    text.addLine(QString(QStringLiteral("TITLE: ") + ascii(title)));
    text.addLine(FormatLine);
    const std::array<QString, CameraTable::CameraCount> cameraReels = reels(cameras);
    // The start of each camera's event lines after the number, and its clip name line.
    std::array<QByteArray, CameraTable::CameraCount> heads;
    std::array<QByteArray, CameraTable::CameraCount> clipNames;
    for (int camera = 1; camera <= CameraTable::CameraCount; ++camera) {
        const size_t c = static_cast<size_t>(camera - 1);
        heads[c] = QString::asprintf("  %-8s %-4s  %-4s %3s ", cameraReels[c].toLatin1().constData(),
                                     channel(cameras.editType(camera)).toLatin1().constData(), "C", "")
                       .toLatin1();
        const QString name = ascii(cameras.reelName(camera).trimmed());
        if (!name.isEmpty())
            clipNames[c] = QByteArray("* FROM CLIP NAME: ") + name.toLatin1();
    }
    int number = 0;
    char times[4 * 12];
    for (const EdlEvent &event : events) {
        const size_t c = static_cast<size_t>(event.camera - 1);
        char digits[16];
        text.append(QLatin1String(digits, std::snprintf(digits, sizeof digits, "%03d", ++number)));
        text.appendBytes(heads[c]);
        char *end = times;
        for (const EdlTimecode *time : {&event.sourceIn, &event.sourceOut, &event.recordIn, &event.recordOut}) {
            end = timecodeChars(end, *time);
            *end++ = ' ';
        }
        text.append(QLatin1String(times, end - times - 1));
        text.endLine();
        if (!clipNames[c].isEmpty()) {
            text.appendBytes(clipNames[c]);
            text.endLine();
        }
        for (const EdlComment &comment : event.comments)
            text.addLine(QString(QStringLiteral("* ") + ascii(comment.text)));
    }
    text.finish();
}

QStringList Cmx3600Writer::lines(const QString &title, const QList<EdlEvent> &events, const CameraTable &cameras)
{
    EdlText text;
    write(title, events, cameras, text);
    return EdlText::linesOf(text.bytes());
}
