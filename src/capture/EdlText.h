#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

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
        appendText(line);
        endLine();
    }
    // Part of the line being made.
    void appendText(QAnyStringView text);
    void append(QStringView text) { put(text.utf16(), text.size()); }
    void append(QLatin1StringView text) { put(text.data(), text.size()); }
    void appendBytes(QByteArrayView latin1)
    {
        char *out = room(latin1.size());
        std::memcpy(out, latin1.data(), static_cast<size_t>(latin1.size()));
        m_used += latin1.size();
    }
    void appendSpaces(qsizetype count)
    {
        if (count <= 0)
            return;
        std::memset(room(count), ' ', static_cast<size_t>(count));
        m_used += count;
    }
    void endLine()
    {
        char *out = room(2);
        out[0] = '\r';
        out[1] = '\n';
        m_used += 2;
        ++m_lines;
        if (m_drain && m_used >= DrainSize)
            drain();
    }
    // Hands what is left to the drain.
    void finish()
    {
        if (m_drain && m_used > 0)
            drain();
    }

    // The bytes not handed on: with no drain, the whole text.
    QByteArrayView bytes() const { return QByteArrayView(m_bytes.constData(), m_used); }
    QByteArray takeBytes()
    {
        m_bytes.truncate(m_used);
        m_used = 0;
        return std::exchange(m_bytes, QByteArray());
    }
    void reserve(qsizetype size)
    {
        if (size > m_bytes.size())
            m_bytes.resize(size);
    }
    // Lines made so far.
    qint64 lineCount() const { return m_lines; }

    // The lines of such bytes, without their CR LF (for tests and callers that want strings).
    static QStringList linesOf(QByteArrayView bytes);
    // The bytes of lines, as addLine makes them.
    static QByteArray bytesOf(const QStringList &lines);

private:
    template <typename Char>
    void put(const Char *text, qsizetype size)
    {
        char *out = room(size);
        m_used += size;
        for (qsizetype i = 0; i < size; ++i) {
            const auto c = static_cast<char16_t>(text[i]) & (sizeof(Char) == 1 ? 0xFF : 0xFFFF);
            const char b = c <= 0xFF ? static_cast<char>(c) : '?';
            out[i] = b == '\r' || b == '\n' ? ' ' : b;
        }
    }

    // Room for count more bytes; m_bytes is kept at least as large as the bytes made (its size
    // is the room, m_used the bytes), so that the bytes are written without a resize each.
    char *room(qsizetype count)
    {
        if (m_used + count > m_bytes.size())
            m_bytes.resize(std::max<qsizetype>(m_used + count, std::max<qsizetype>(4096, m_bytes.size() * 2)));
        return m_bytes.data() + m_used;
    }
    void drain()
    {
        m_drain(bytes());
        m_used = 0; // the room stays for the next part
    }

    QByteArray m_bytes;
    qsizetype m_used = 0;
    Drain m_drain;
    qint64 m_lines = 0;
};
