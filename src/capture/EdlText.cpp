#include "EdlText.h"

#include "TextViews.h"

void EdlText::appendText(QAnyStringView text)
{
    TextViews::withCharacters(text, [this](auto view) { append(view); });
}

QStringList EdlText::linesOf(QByteArrayView bytes)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf(QByteArrayView("\r\n"), start);
        if (end < 0)
            end = bytes.size();
        lines.append(QString::fromLatin1(bytes.data() + start, end - start));
        start = end + 2;
    }
    return lines;
}

QByteArray EdlText::bytesOf(const QStringList &lines)
{
    EdlText text;
    for (const QString &line : lines)
        text.addLine(line);
    return text.takeBytes();
}
