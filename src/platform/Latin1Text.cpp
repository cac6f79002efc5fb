#include "Latin1Text.h"

namespace Latin1Text {

QByteArray encode(const QString &text)
{
    QByteArray out;
    out.resize(text.size());
    char *dst = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = u <= 0xFF ? static_cast<char>(u) : '?';
    }
    return out;
}

QString decode(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

QStringList splitLines(const QByteArray &bytes)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    while (start < size) {
        qsizetype end = bytes.indexOf('\n', start);
        const bool last = end < 0;
        if (last)
            end = size;
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        lines.append(QString::fromLatin1(bytes.constData() + start, stop - start));
        start = end + 1;
    }
    return lines;
}

QByteArray joinLines(const QStringList &lines)
{
    QByteArray out;
    qsizetype total = 0;
    for (const QString &line : lines)
        total += line.size() + 2;
    out.reserve(total);
    for (const QString &line : lines) {
        out += encode(line);
        out += LineEnd;
    }
    return out;
}

} // namespace Latin1Text
