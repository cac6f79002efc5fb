#include "EdlText.h"

#include "TextViews.h"

void EdlText::append(QAnyStringView text)
{
    TextViews::withCharacters(text, [this](auto view) {
        const qsizetype at = m_bytes.size();
        m_bytes.resize(at + view.size());
        char *out = m_bytes.data() + at;
        for (qsizetype i = 0; i < view.size(); ++i) {
            const char16_t c = TextViews::characterAt(view, i);
            out[i] = c == u'\r' || c == u'\n' ? ' ' : c <= 0xFF ? static_cast<char>(c) : '?';
        }
    });
}

QStringList EdlText::linesOf(const QByteArray &bytes)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", start);
        if (end < 0)
            end = bytes.size();
        lines.append(QString::fromLatin1(bytes.constData() + start, end - start));
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
