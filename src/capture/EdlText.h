#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QStringList>

#include <functional>

// The lines of an EDL as the bytes of its file, made one line at a time without a string per
// line: Latin-1 (a character outside it is written '?'), each line ended by CR LF, a line break
// inside a line (a comment holding one) written as a space so that every line of the text is one
// line of the EDL.
//
// Held whole (the window shows and saves the bytes as they are), or handed on in parts of about
// DrainSize bytes to a drain (corvane-cli writes them to the file as they come, in memory that
// does not grow with the EDL).
class EdlText {
public:
    static constexpr qsizetype DrainSize = 1 << 20;
    using Drain = std::function<void(QByteArrayView bytes)>;

    EdlText() = default;
    explicit EdlText(Drain drain) : m_drain(std::move(drain)) {}

    // A whole line.
    void addLine(QAnyStringView line)
    {
        append(line);
        endLine();
    }
    // Part of the line being made.
    void append(QAnyStringView text);
    void append(const QByteArray &latin1) { m_bytes += latin1; }
    void appendSpaces(qsizetype count)
    {
        if (count > 0)
            m_bytes.resize(m_bytes.size() + count, ' ');
    }
    void endLine()
    {
        m_bytes += "\r\n";
        ++m_lines;
        if (m_drain && m_bytes.size() >= DrainSize)
            drain();
    }
    // Hands what is left to the drain.
    void finish()
    {
        if (m_drain && !m_bytes.isEmpty())
            drain();
    }

    // The bytes not handed on: with no drain, the whole text.
    const QByteArray &bytes() const { return m_bytes; }
    QByteArray takeBytes() { return std::exchange(m_bytes, QByteArray()); }
    void reserve(qsizetype size) { m_bytes.reserve(size); }
    // Lines made so far.
    qint64 lineCount() const { return m_lines; }

    // The lines of such bytes, without their CR LF (for tests and callers that want strings).
    static QStringList linesOf(const QByteArray &bytes);
    // The bytes of lines, as addLine makes them.
    static QByteArray bytesOf(const QStringList &lines);

private:
    void drain()
    {
        m_drain(m_bytes);
        m_bytes.resize(0); // keeps the capacity for the next part
    }

    QByteArray m_bytes;
    Drain m_drain;
    qint64 m_lines = 0;
};
